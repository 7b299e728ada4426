// Reading the command's inputs into DESIGN_RECORDS: design files
// (docs/cli.md) and Yosys JSON netlists (docs/yosys.md), plain, xz or gzip.
//
// The readers only walk JSON and record what they find; the records' own
// resolve() checks ids and netlist rules. Every problem is a TOOL_ERROR
// whose place is a path into the input ("netlist[3].oterms[1]",
// "modules.cpu.cells.u1") or the input's NAME:LINE:COLUMN for malformed
// JSON.
#ifndef TOOLS_DESIGN_READER_H
#define TOOLS_DESIGN_READER_H

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/design_records.h"
#include "tools/input_file.h"

namespace zema_tool {

// The default of --max-instances: 16,777,216 instance names. The command
// takes about 700 bytes per name on large designs, so a design at the limit
// needs some 12 GB, half of a 24 GB machine (docs/cli.md).
constexpr std::uint64_t kDefaultMaxInstances = std::uint64_t{1} << 24;

enum class INPUT_FORMAT {
  AUTO,  // by content: a Yosys netlist starts with "creator" or "modules"
  ZEMA,  // a design file
  YOSYS  // a Yosys write_json netlist
};

struct READ_OPTIONS {
  INPUT_FORMAT m_format = INPUT_FORMAT::AUTO;
  std::uint64_t m_max_input_size = kDefaultMaxInput;
  // Yosys: the top module; empty to find it (docs/yosys.md).
  std::string m_top;
  // The most instance names a design may have, and the most atoms and
  // oterms (--max-instances). A Yosys hierarchy is counted before it is
  // expanded.
  std::uint64_t m_max_instances = kDefaultMaxInstances;
};

// "COUNT THINGS, more than --max-instances (LIMIT)", for the message that
// refuses a design too large to build.
std::string count_over_limit(std::uint64_t count, char const* things, std::uint64_t limit);

// Reads `text` as a design file into `records` (not yet resolved). With
// `detected`, the format was only guessed, and an unknown first key says
// that the input is neither format.
void read_design_file(INPUT_TEXT const& text, DESIGN_RECORDS* records, bool detected = false);

// Reads `text` as a Yosys netlist into `records`, expanding the module
// hierarchy from the top module (not yet resolved).
void read_yosys_netlist(INPUT_TEXT const& text, READ_OPTIONS const& options,
                        DESIGN_RECORDS* records);

// Which reader `text` is for, by its first key, unless `format` says.
INPUT_FORMAT detect_format(INPUT_TEXT const& text, INPUT_FORMAT format);

// The atom type of a Yosys cell type that names no module of the netlist:
// by the word after "$_" for gate-level cells, by the name after "$" for
// word-level ones, RAM for "$mem..."; COMB for anything else.
int yosys_atom_type(std::string_view cell_type);

// Reads and resolves a design from `text` in either format.
void read_records(INPUT_TEXT const& text, READ_OPTIONS const& options, DESIGN_RECORDS* records);

}  // namespace zema_tool

#endif  // TOOLS_DESIGN_READER_H
