// Reading a structural Verilog netlist (docs/gate-level.md): the Verilog
// front end of the netlist model, whose expansion netlist_expander.h shares
// with the Yosys JSON one, so that a netlist read either way gives the same
// names.
//
// The subset that netlist writers emit is read: modules with ANSI or
// non-ANSI ports; input, output, inout and net declarations with ranges;
// instances of modules, of --liberty cells and of the gates and, nand, or,
// nor, xor, xnor, not, buf, bufif0, bufif1, notif0 and notif1, with named or
// ordered connections; nets, bit and part selects, concatenations,
// replications and constants in connections; assign between nets.
// Attributes, comments, `timescale-like directives, specify blocks,
// parameters and delays are skipped. Anything else (behaviour, generate,
// `include, operators in expressions) is refused with its place.
#ifndef TOOLS_INPUT_VERILOG_READER_H
#define TOOLS_INPUT_VERILOG_READER_H

#include "tools/input/cell_library.h"
#include "tools/input/design_records.h"
#include "tools/input/input_file.h"
#include "tools/input/read_options.h"

namespace zema_tool {

// Reads `text` as a Verilog netlist into `records` (not yet resolved), the
// cells of `library` (which may be null) taking their pins and atom types
// from it. Throws TOOL_ERROR placed at FILE:LINE:COLUMN, or at the file for
// what concerns the netlist as a whole.
void read_verilog_netlist(INPUT_TEXT const& text, READ_OPTIONS const& options,
                          CELL_LIBRARY const* library, DESIGN_RECORDS* records);

}  // namespace zema_tool

#endif  // TOOLS_INPUT_VERILOG_READER_H
