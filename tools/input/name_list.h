// A name file: one name a line, as lookup and explain take with --names.
#ifndef TOOLS_INPUT_NAME_LIST_H
#define TOOLS_INPUT_NAME_LIST_H

#include <string_view>
#include <vector>

#include "tools/input/input_file.h"

namespace zema_tool {

// The lines of `text`, one name each, as views into it. A final line end is
// optional and a carriage return before a line end is dropped. An empty
// line, a line that is not UTF-8 or a line with U+0000 is refused with its
// place, "NAME:LINE".
std::vector<std::string_view> split_names(INPUT_TEXT const& text);

}  // namespace zema_tool

#endif  // TOOLS_INPUT_NAME_LIST_H
