// lookup: converted full names back to instance-name ids and original names.
#include "tools/commands/commands.h"
#include "tools/names/conversion.h"
#include "tools/names/original_names.h"
#include "tools/output/record_writer.h"
#include "tools/support/tool_error.h"

namespace zema_tool {

int run_lookup(LOADED_DESIGN& design, COMMAND_OPTIONS const& options,
               std::vector<std::string_view> const& names, PHASES& phases, OUTPUT_BUFFER& out,
               std::FILE* errors) {
  CONVERSION const conversion(design, options.m_strategy, phases);
  ORIGINAL_NAMES originals(design);
  phases.start("write");
  std::string name;
  std::string original;
  std::size_t missing = 0;
  RECORD_WRITER writer(out, options.m_json, "");
  for (std::string_view const given : names) {
    name.assign(given);
    unsigned const id = conversion.converter().get_original_name_id(name.c_str());
    HDB_INSTANCE_NAME const* const found = id != 0 ? originals.find(id) : nullptr;
    original.clear();
    if (found != nullptr) originals.append(&original, found);
    missing += id == 0;
    std::string_view const original_text(original);
    writer.begin_row();
    writer.text("name", name);
    writer.number("id", id, id != 0, "0");
    writer.text("original", found != nullptr ? &original_text : nullptr);
    writer.end_row();
  }
  writer.finish();
  CONVERSION::expect_no_reports();
  if (missing == 0) return EXIT_OK;
  std::fprintf(errors, "zema: lookup: %zu of %zu names not found\n", missing, names.size());
  return EXIT_NOT_FOUND;
}

}  // namespace zema_tool
