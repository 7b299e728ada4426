// The commands of the zema tool, one file each, over a design that
// read_records read and build_design built: convert (the converted names of
// every atom and oterm), lookup (converted full names back to instance-name
// ids and original names), map (every converted name beside its original)
// check (the rules every converted name must keep), translate (names in any
// text, between their two forms) and explain (how a name came to be).
//
// Each command runs a converter of the library through its public classes,
// exactly as a host would (conversion.h), and writes its rows through one
// RECORD_WRITER to an OUTPUT_BUFFER. A broken invariant that the library
// reports throws INTERNAL_FAILURE.
#ifndef TOOLS_COMMANDS_COMMANDS_H
#define TOOLS_COMMANDS_COMMANDS_H

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "tools/input/design_builder.h"
#include "tools/support/output_buffer.h"
#include "tools/support/phases.h"

namespace zema_tool {

// What translate does with a name-like token that names nothing.
enum class UNKNOWN_NAMES { IGNORE, WARN, ERROR };

struct COMMAND_OPTIONS {
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
  bool m_json = false;                // JSON instead of tab-separated lines
  bool m_backslash = false;           // convert: full names with their leading backslash
  std::size_t m_max_violations = 10;  // check: violations shown on standard error
  bool m_to_original = true;          // translate: converted names to original ones
  char m_separator = '/';             // translate: between levels of converted names
  UNKNOWN_NAMES m_unknown = UNKNOWN_NAMES::IGNORE;
};

// One row per atom and per non-null oterm, in netlist order, each atom
// followed by its oterms.
void run_convert(LOADED_DESIGN& design, COMMAND_OPTIONS const& options, PHASES& phases,
                 OUTPUT_BUFFER& out);

// One row per name: the name, the id of the instance name it names (0 when
// none) and that name's original name. Gives EXIT_OK, or EXIT_NOT_FOUND after
// saying on `errors` how many names named nothing.
int run_lookup(LOADED_DESIGN& design, COMMAND_OPTIONS const& options,
               std::vector<std::string_view> const& names, PHASES& phases, OUTPUT_BUFFER& out,
               std::FILE* errors);

// The name map: fusion, one row per node of the tree but the root, depth
// first, siblings in byte order of their names; reversible, one row per atom
// and oterm that has a converted full name, in netlist order.
void run_map(LOADED_DESIGN& design, COMMAND_OPTIONS const& options, PHASES& phases,
             OUTPUT_BUFFER& out);

// Checks the legal alphabet, uniqueness and reverse lookup of every converted
// name; writes the summary (text) or every violation (JSON) to `out`, and in
// text the first violations to `errors`. Gives EXIT_OK, or EXIT_CHECK_FAILED
// when anything was violated.
int run_check(LOADED_DESIGN& design, COMMAND_OPTIONS const& options, PHASES& phases,
              OUTPUT_BUFFER& out, std::FILE* errors);

// Copies each text of `paths` (standard input when empty, or for "-") to
// `out` with its names translated (text_translator.h). Gives EXIT_OK, or
// EXIT_NOT_FOUND with --unknown error when a name-like token named nothing.
int run_translate(LOADED_DESIGN& design, COMMAND_OPTIONS const& options,
                  std::vector<std::string> const& paths, PHASES& phases, OUTPUT_BUFFER& out,
                  std::FILE* errors);

// Explains, level by level, how each of `names` (converted full names or
// original paths) came to be. Gives EXIT_OK, or EXIT_NOT_FOUND when one
// named nothing.
int run_explain(LOADED_DESIGN& design, COMMAND_OPTIONS const& options,
                std::vector<std::string_view> const& names, PHASES& phases, OUTPUT_BUFFER& out,
                std::FILE* errors);

}  // namespace zema_tool

#endif  // TOOLS_COMMANDS_COMMANDS_H
