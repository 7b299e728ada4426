// lookup: converted full names back to instance-name ids and original names.
#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/input/name_list.h"
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
    options.text("--names", &m_names_file,
                 "Read the names from a file, one a line; - for standard input");
    declare_strategy(options, &m_strategy);
    options.choice("--format", &m_format, kRowFormatWords, "Output format");
  }
  std::optional<std::string> check_arguments() override {
    if (auto problem = m_design.take_design(name(), &m_positionals, true)) return problem;
    if (m_positionals.empty() && m_names_file.empty()) {
      return std::string("lookup: no names: give them as arguments or with --names FILE");
    }
    if (m_names_file == "-" && m_design.from_stdin()) {
      return std::string("lookup: the design and the names cannot both come from standard input");
    }
    return std::nullopt;
  }
  std::vector<std::string> inputs() const override {
    std::vector<std::string> inputs{m_design.path()};
    if (!m_names_file.empty()) inputs.push_back(m_names_file);
    return inputs;
  }

  int run(RUN& run) override {
    // The name file's names first, read before the design so that a bad
    // name file fails fast; then the arguments.
    INPUT_TEXT names_text;
    std::vector<std::string_view> names;
    if (!m_names_file.empty()) {
      names_text = INPUT_TEXT::read(m_names_file, m_design.m_read.m_max_input_size, true);
      names = split_names(names_text);
    }
    names.insert(names.end(), m_positionals.begin(), m_positionals.end());
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
  std::string m_names_file;
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
  ROW_FORMAT m_format = ROW_FORMAT::TSV;
};

REGISTERED_COMMAND<LOOKUP> const g_registered;

}  // namespace
}  // namespace zema_tool
