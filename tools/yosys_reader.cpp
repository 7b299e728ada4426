#include "tools/design_reader.h"
#include "tools/tool_error.h"

namespace zema_tool {

void read_yosys_netlist(INPUT_TEXT const& text, READ_OPTIONS const&, DESIGN_RECORDS*) {
  throw TOOL_ERROR(text.name(), "Yosys netlists are not read yet");
}

}  // namespace zema_tool
