// import-yosys: a netlist written as a design file (docs/cli.md), for users
// who want to edit the design before converting it.
#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/output/design_writer.h"

namespace zema_tool {
namespace {

class IMPORT_YOSYS final : public COMMAND {
 public:
  IMPORT_YOSYS()
      : COMMAND("import-yosys",
                "Write a netlist (Yosys JSON, or structural Verilog) as a design file, for "
                "editing") {}

  void declare(OPTION_SET& options) override {
    options.positionals("NETLIST", &m_positionals,
                        "Yosys JSON or Verilog netlist, - for standard input");
    declare_output(options, "Design file to write, - for standard output");
    declare_read_options(options, &m_read);
    declare_stats(options);
    // import-yosys reads netlists only, Yosys JSON or Verilog.
    m_read.m_format = INPUT_FORMAT::NETLIST;
  }
  std::optional<std::string> check_arguments() override {
    if (m_positionals.empty()) {
      return std::string(
          "import-yosys: a design is required: give a file, - for standard input, or --example");
    }
    if (m_positionals.size() > 1) {
      return "import-yosys: one design only, got " + decimal(m_positionals.size());
    }
    return std::nullopt;
  }
  std::vector<std::string> inputs() const override { return m_positionals; }

  int run(RUN& run) override {
    run.m_phases.start("read");
    DESIGN_RECORDS records;
    {
      INPUT_TEXT const text = INPUT_TEXT::read(m_positionals[0], m_read.m_max_input_size);
      read_records(text, m_read, &records);
    }
    for (std::string const& warning : records.m_warnings) run.m_diagnostics.warning(warning);
    run.m_phases.start("write");
    write_design_file(records, run.m_out);
    return EXIT_OK;
  }

 private:
  READ_OPTIONS m_read;
};

REGISTERED_COMMAND<IMPORT_YOSYS> const g_registered;

}  // namespace
}  // namespace zema_tool
