// Reading the command's inputs into DESIGN_RECORDS: design files
// (docs/cli.md) and Yosys JSON netlists (docs/yosys.md), plain, xz or gzip.
// This is where the format is told and each reader is called; the readers
// only walk JSON and record what they find, and the records' own resolve()
// checks ids and netlist rules. Every problem is a TOOL_ERROR.
#ifndef TOOLS_INPUT_READ_DESIGN_H
#define TOOLS_INPUT_READ_DESIGN_H

#include "tools/input/design_records.h"
#include "tools/input/input_file.h"
#include "tools/input/read_options.h"

namespace zema_tool {

// Which reader `text` is for, by its first key, unless `format` says.
INPUT_FORMAT detect_format(INPUT_TEXT const& text, INPUT_FORMAT format);

// Reads and resolves a design from `text` in either format, held to
// options.m_max_instances.
void read_records(INPUT_TEXT const& text, READ_OPTIONS const& options, DESIGN_RECORDS* records);

}  // namespace zema_tool

#endif  // TOOLS_INPUT_READ_DESIGN_H
