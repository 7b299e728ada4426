// Reading a Yosys write_json netlist (docs/yosys.md): the Yosys JSON front
// end of the netlist model, whose expansion netlist_expander.h shares with
// the structural Verilog one.
#ifndef TOOLS_INPUT_YOSYS_READER_H
#define TOOLS_INPUT_YOSYS_READER_H

#include <string_view>

#include "tools/input/cell_library.h"
#include "tools/input/design_records.h"
#include "tools/input/input_file.h"
#include "tools/input/read_options.h"

namespace zema_tool {

// Reads `text` as a Yosys netlist into `records` (not yet resolved), cells
// of `library` (which may be null) taking their pins and atom types from it.
// Throws TOOL_ERROR with a place such as "modules.cpu.cells.u1", or the
// input's NAME:LINE:COLUMN for malformed JSON.
void read_yosys_netlist(INPUT_TEXT const& text, READ_OPTIONS const& options,
                        CELL_LIBRARY const* library, DESIGN_RECORDS* records);

// The atom type of a Yosys cell type that names no module of the netlist:
// by the word after "$_" for gate-level cells, by the name after "$" for
// word-level ones, RAM for "$mem..."; COMB for anything else.
int yosys_atom_type(std::string_view cell_type);

// The atom type of a gate-level cell "$_WORD_..." by its WORD ("AND",
// "NAND", "DFF", ...); COMB for a word the table does not list.
int yosys_gate_atom_type(std::string_view word);

}  // namespace zema_tool

#endif  // TOOLS_INPUT_YOSYS_READER_H
