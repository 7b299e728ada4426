// Writing DESIGN_RECORDS as a design file (docs/cli.md), for
// `zema import-yosys`: compact JSON on one line, every name with its id, the
// hierarchy nested, atom types by name.
#ifndef TOOLS_OUTPUT_DESIGN_WRITER_H
#define TOOLS_OUTPUT_DESIGN_WRITER_H

#include "tools/input/design_records.h"
#include "tools/support/output_buffer.h"

namespace zema_tool {

// Writes resolved `records` to `out`. The records list the hierarchy in
// document order: each instance right after its parent's earlier children
// and their subtrees.
void write_design_file(DESIGN_RECORDS const& records, OUTPUT_BUFFER& out);

}  // namespace zema_tool

#endif  // TOOLS_OUTPUT_DESIGN_WRITER_H
