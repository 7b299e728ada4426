// map: every converted name beside the design's original name.
#include "tools/commands/commands.h"
#include "tools/names/conversion.h"
#include "tools/names/name_map.h"
#include "tools/names/original_names.h"
#include "tools/output/record_writer.h"

namespace zema_tool {

void run_map(LOADED_DESIGN& design, COMMAND_OPTIONS const& options, PHASES& phases,
             OUTPUT_BUFFER& out) {
  RECORD_WRITER writer(out, options.m_json, "id\tconverted\tkind\torigin\toriginal\n");
  CONVERSION const conversion(design, options.m_strategy, phases);
  ORIGINAL_NAMES originals(design);
  phases.start("write");
  for_each_map_row(conversion, originals, [&](MAP_ROW const& row) {
    writer.begin_row();
    writer.number("id", row.m_id);
    writer.text("converted", row.m_converted);
    writer.word("kind", row.m_kind);
    writer.word("origin", row.m_origin);
    writer.text("original", row.m_original);
    if (row.m_has_netlist_place) {
      writer.json_only_number("atom", row.m_atom, true);
      writer.json_only_number("oterm", static_cast<std::uint64_t>(row.m_oterm), row.m_oterm >= 0);
    }
    writer.end_row();
  });
  writer.finish();
  CONVERSION::expect_no_reports();
}

}  // namespace zema_tool
