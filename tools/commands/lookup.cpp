// lookup: converted full names back to instance-name ids and original names.
#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/commands/name_arguments.h"
#include "tools/output/record_writer.h"

namespace zema_tool {
namespace {

class LOOKUP final : public COMMAND {
 public:
  LOOKUP()
      : COMMAND("lookup",
                "Print the instance-name id and the original name that each converted full name "
                "names") {}

  void declare(OPTION_SET& options) override {
    m_design.declare(options, &m_positionals, "DESIGN NAME",
                     "The design, then converted full names (put -- before any that start with "
                     "-); with --example, every argument is a name");
    declare_stats(options);
    m_design.declare_map(options);
    m_names.declare(options);
    declare_strategy(options, &m_strategy);
    options.choice("--format", &m_format, kRowFormatWords, "Output format");
  }
  std::optional<std::string> check_arguments() override {
    if (auto problem = m_design.take_design(name(), &m_positionals, true)) return problem;
    if (m_positionals.empty() && !m_names.has_file()) {
      return std::string("lookup: no names: give them as arguments or with --names FILE");
    }
    return std::nullopt;
  }
  std::vector<std::string> inputs() const override {
    std::vector<std::string> inputs{m_design.path()};
    m_names.add_input(&inputs);
    return inputs;
  }

  int run(RUN& run) override {
    std::vector<std::string_view> const& names =
        m_names.read(m_positionals, m_design.m_read.m_max_input_size);
    std::unique_ptr<DESIGN_NAMES> const design = m_design.load_names(run, m_strategy);
    run.m_phases.start("write");
    std::string name;
    std::string original;
    std::size_t missing = 0;
    RECORD_WRITER writer(run.m_out, m_format, "");
    for (std::string_view const given : names) {
      name.assign(given);
      original.clear();
      unsigned const id = design->lookup(name, &original);
      missing += id == 0;
      std::string_view const original_text(original);
      writer.begin_row();
      writer.text("name", name);
      writer.number("id", id, id != 0, "0");
      writer.text("original", id != 0 && !original.empty() ? &original_text : nullptr);
      writer.end_row();
    }
    writer.finish();
    CONVERSION::expect_no_reports();
    if (missing == 0) return EXIT_OK;
    run.m_diagnostics.report(
        "lookup", decimal(missing) + " of " + decimal(names.size()) + " names not found");
    return EXIT_NOT_FOUND;
  }

 private:
  DESIGN_ARGUMENTS m_design;
  NAME_ARGUMENTS m_names;
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
  ROW_FORMAT m_format = ROW_FORMAT::TSV;
};

REGISTERED_COMMAND<LOOKUP> const g_registered;

}  // namespace
}  // namespace zema_tool
