// Reading the command's inputs into DESIGN_RECORDS: design files
// (docs/cli.md), Yosys JSON netlists (docs/yosys.md) and structural Verilog
// netlists (docs/gate-level.md), plain, xz or gzip. This is where the
// format is told, the --liberty files are read and each reader is called;
// the readers only record what they find, and the records' own resolve()
// checks ids and netlist rules. Every problem is a TOOL_ERROR.
#ifndef TOOLS_INPUT_READ_DESIGN_H
#define TOOLS_INPUT_READ_DESIGN_H

#include "tools/input/design_records.h"
#include "tools/input/input_file.h"
#include "tools/input/read_options.h"

namespace zema_tool {

// Which reader `text` is for, unless `format` names one: Verilog when its
// first token (past comments, directives and attributes) is "module" (no
// JSON text starts so), else by the first key of its JSON object
// ("creator", "modules" or "models" for Yosys); NETLIST tells only the two
// netlist formats apart. File names play no part, as with compression.
INPUT_FORMAT detect_format(INPUT_TEXT const& text, INPUT_FORMAT format);

// Reads and resolves a design from `text` in any format, held to the limits
// of `options`; a netlist with the cell libraries of options.m_liberty.
void read_records(INPUT_TEXT const& text, READ_OPTIONS const& options, DESIGN_RECORDS* records);

}  // namespace zema_tool

#endif  // TOOLS_INPUT_READ_DESIGN_H
