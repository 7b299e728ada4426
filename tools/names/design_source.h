// Loading a design for the engine: the bytes of a design file or a netlist
// read, its records checked and the host's design built from them, the one
// path by which the command, Python, the benchmarks and the fuzz targets get
// a design to convert.
#ifndef TOOLS_NAMES_DESIGN_SOURCE_H
#define TOOLS_NAMES_DESIGN_SOURCE_H

#include <string>
#include <string_view>

#include "tools/input/design_builder.h"
#include "tools/input/design_records.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/input/read_options.h"
#include "tools/support/exit_policy.h"
#include "tools/support/phases.h"

namespace zema_tool {

// The design of `records` (read by read_records), built in the host: the
// "build" phase. When `for_conversion`, the host also populates, on the
// other core, the memory that converting it will take.
KEPT_PTR<LOADED_DESIGN> build_loaded(DESIGN_RECORDS&& records, PHASES& phases,
                                     bool for_conversion = true);

// For a program that touches its memory once: asks the host for huge pages
// for the design of `records` when it is small. Called after reading and
// before the input text is given up, whose pages the host would otherwise
// take for the design's first blocks.
void choose_pages(DESIGN_RECORDS const& records);

// Reads `path` ("-" for standard input) in the "read" phase and builds it.
// Throws TOOL_ERROR for anything wrong with the input.
KEPT_PTR<LOADED_DESIGN> load_design(std::string const& path, READ_OPTIONS const& options,
                                    PHASES& phases, bool for_conversion = true);

}  // namespace zema_tool

#endif  // TOOLS_NAMES_DESIGN_SOURCE_H
