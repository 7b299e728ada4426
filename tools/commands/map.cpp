// map: every converted name beside the design's original name.
#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/names/name_map.h"
#include "tools/output/record_writer.h"

namespace zema_tool {
namespace {

class MAP final : public COMMAND {
 public:
  MAP()
      : COMMAND("map",
                "Print every converted name beside the design's original name (the name map)") {}

  void declare(OPTION_SET& options) override {
    m_design.declare(options, &m_positionals, "DESIGN",
                     "Design file or netlist, - for standard input");
    declare_stats(options);
    declare_strategy(options, &m_strategy);
    options.choice("--format", &m_format, kRowFormatWords, "Output format");
  }
  std::optional<std::string> check_arguments() override {
    return m_design.take_design(name(), &m_positionals, false);
  }
  std::vector<std::string> inputs() const override { return {m_design.path()}; }

  int run(RUN& run) override {
    KEPT_PTR<LOADED_DESIGN> design = m_design.load(run);
    RECORD_WRITER writer(run.m_out, m_format, "id\tconverted\tkind\torigin\toriginal\n");
    CONVERSION const conversion(*design, m_strategy, run.m_phases);
    ORIGINAL_NAMES originals(*design);
    run.m_phases.start("write");
    for_each_map_row(conversion, originals, [&](MAP_ROW const& row) {
      writer.begin_row();
      writer.number("id", row.m_id);
      writer.converted("converted", &row.m_converted);
      writer.word("kind", word_of(kMapKindWords, row.m_kind));
      writer.word("origin", word_of(kOriginWords, row.m_origin));
      writer.text("original", row.m_original ? &*row.m_original : nullptr);
      if (row.m_has_netlist_place) {
        if (JSON_WRITER* const json = writer.json_only("atom")) json->number(row.m_atom);
        if (JSON_WRITER* const json = writer.json_only("oterm")) {
          if (row.m_oterm >= 0) {
            json->number(static_cast<std::uint64_t>(row.m_oterm));
          } else {
            json->null();
          }
        }
      }
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
};

REGISTERED_COMMAND<MAP> const g_registered;

}  // namespace
}  // namespace zema_tool
