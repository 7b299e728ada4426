// Reading a design file (docs/cli.md) into DESIGN_RECORDS.
#ifndef TOOLS_INPUT_DESIGN_FILE_READER_H
#define TOOLS_INPUT_DESIGN_FILE_READER_H

#include "tools/input/design_records.h"
#include "tools/input/input_file.h"

namespace zema_tool {

// Reads `text` as a design file into `records` (not yet resolved). With
// `detected`, the format was only guessed, and an unknown first key says
// that the input is neither format. Throws TOOL_ERROR with a place such as
// "netlist[3].oterms[1]", or the input's NAME:LINE:COLUMN for malformed JSON.
void read_design_file(INPUT_TEXT const& text, DESIGN_RECORDS* records, bool detected = false);

}  // namespace zema_tool

#endif  // TOOLS_INPUT_DESIGN_FILE_READER_H
