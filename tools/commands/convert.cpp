// convert: the converted unit and full name of every atom and oterm.
//
// Rows are written as they are computed, through one reused GEN_STRING per
// column, so converting a million atoms costs no allocation per row.
#include "tools/commands/commands.h"
#include "tools/names/conversion.h"
#include "tools/output/record_writer.h"

namespace zema_tool {

void run_convert(LOADED_DESIGN& design, COMMAND_OPTIONS const& options, PHASES& phases,
                 OUTPUT_BUFFER& out) {
  CONVERSION const conversion(design, options.m_strategy, phases);
  phases.start("write");
  ZEMA_NAME_CONVERTER& converter = conversion.converter();
  GEN_STRING unit;
  GEN_STRING full;
  RECORD_WRITER writer(out, options.m_json, "kind\tindex\tid\tunit\tfull\n");
  conversion.for_each_row(
      [&](ROW const& row) {
        HDB_INSTANCE_NAME const* const name = row.name();
        bool const has_unit = row.unit(converter, &unit);
        bool const has_full = row.full(converter, &full, !options.m_backslash);
        std::string_view const unit_text(unit);
        std::string_view const full_text(full);
        writer.begin_row();
        writer.word("kind", row.is_oterm() ? "oterm" : "atom");
        writer.index("index", row.m_atom_index, row.m_position);
        writer.number("id", name != nullptr ? id_of(name) : 0, name != nullptr);
        writer.converted("unit", has_unit ? &unit_text : nullptr);
        writer.converted("full", has_full ? &full_text : nullptr);
        writer.end_row();
      },
      true);
  writer.finish();
  CONVERSION::expect_no_reports();
}

}  // namespace zema_tool
