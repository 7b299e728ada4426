// convert: the converted unit and full name of every atom and oterm.
//
// Rows are written in netlist order as the engine names them, a batch of
// atoms at a time (on two threads under fusion).
#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/names/conversion.h"
#include "tools/output/record_writer.h"

namespace zema_tool {
namespace {

class CONVERT final : public COMMAND {
 public:
  CONVERT()
      : COMMAND("convert", "Print the converted unit and full name of every atom and oterm") {}

  void declare(OPTION_SET& options) override {
    m_design.declare(options, &m_positionals, "DESIGN",
                     "Design file or netlist, - for standard input");
    declare_stats(options);
    declare_strategy(options, &m_strategy);
    options.choice("--format", &m_format, kRowFormatWords, "Output format");
    options.flag("--backslash", &m_backslash, "Full names with their leading backslash");
  }
  std::optional<std::string> check_arguments() override {
    return m_design.take_design(name(), &m_positionals, false);
  }
  std::vector<std::string> inputs() const override { return {m_design.path()}; }

  int run(RUN& run) override {
    KEPT_PTR<LOADED_DESIGN> design = m_design.load(run);
    CONVERSION const conversion(*design, m_strategy, run.m_phases);
    run.m_phases.start("write");
    RECORD_WRITER writer(run.m_out, m_format, "kind\tindex\tid\tunit\tfull\n");
    conversion.for_each_named_row(
        !m_backslash, [&](ROW const& row, unsigned const* id, std::string_view const* unit,
                          std::string_view const* full) {
          writer.begin_row();
          writer.word("kind", row.is_oterm() ? "oterm" : "atom");
          writer.index("index", row.m_atom_index, row.m_position);
          writer.number("id", id != nullptr ? *id : 0, id != nullptr);
          writer.converted("unit", unit);
          writer.converted("full", full);
          writer.end_row();
        });
    writer.finish();
    CONVERSION::expect_no_reports();
    return EXIT_OK;
  }

 private:
  DESIGN_ARGUMENTS m_design;
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
  ROW_FORMAT m_format = ROW_FORMAT::TSV;
  bool m_backslash = false;
};

REGISTERED_COMMAND<CONVERT> const g_registered;

}  // namespace
}  // namespace zema_tool
