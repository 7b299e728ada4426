// The commands of the zema tool, each over a design that load_design read:
// convert (the converted names of every atom and oterm), lookup (converted
// full names back to instance-name ids), map (the fusion converter's tree)
// and check (the rules every converted name must keep).
//
// Each command runs a converter of the library through its public classes,
// exactly as a host would, and writes its result to an OUTPUT_BUFFER. A
// broken invariant that the library reports throws INTERNAL_FAILURE.
#ifndef TOOLS_COMMANDS_H
#define TOOLS_COMMANDS_H

#include <cstdio>
#include <string>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "tools/design_builder.h"
#include "tools/output_buffer.h"
#include "tools/phases.h"

namespace zema_tool {

struct CONVERT_OPTIONS {
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
  bool m_backslash = false;  // full names with their leading backslash
  bool m_json = false;       // a JSON array instead of tab-separated lines
};

// One row per atom and per non-null oterm, in netlist order, each atom
// followed by its oterms.
void run_convert(LOADED_DESIGN& design, CONVERT_OPTIONS const& options, PHASES& phases,
                 OUTPUT_BUFFER& out);

// One line "NAME<TAB>ID" per name; ID is 0 when the name names nothing.
void run_lookup(LOADED_DESIGN& design, ZEMA_NAME_CONVERTER_ENUM strategy,
                std::vector<std::string> const& names, PHASES& phases, OUTPUT_BUFFER& out);

// One line "ID<TAB>FULL<TAB>leaf|parent" per node of the fusion converter's
// tree but the root, depth first, siblings in byte order of their names.
void run_map(LOADED_DESIGN& design, PHASES& phases, OUTPUT_BUFFER& out);

// Checks the legal alphabet, uniqueness and reverse lookup of every converted
// name; writes the summary to `out` and the first violations to `errors`.
// Gives EXIT_OK, or EXIT_CHECK_FAILED when anything was violated.
int run_check(LOADED_DESIGN& design, ZEMA_NAME_CONVERTER_ENUM strategy, PHASES& phases,
              OUTPUT_BUFFER& out, std::FILE* errors);

}  // namespace zema_tool

#endif  // TOOLS_COMMANDS_H
