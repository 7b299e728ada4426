#include "tools/input/name_list.h"

#include "tools/input/json_input.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {

std::vector<std::string_view> split_names(INPUT_TEXT const& text) {
  std::vector<std::string_view> names;
  std::string_view rest = text.view();
  // A byte-order mark that an editor put in front is no part of a name.
  if (rest.substr(0, 3) == "\xEF\xBB\xBF") rest.remove_prefix(3);
  std::size_t line = 0;
  while (!rest.empty()) {
    ++line;
    std::size_t const end = rest.find('\n');
    std::string_view name = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!name.empty() && name.back() == '\r') name.remove_suffix(1);
    auto const place = [&] { return text.name() + ":" + decimal(line); };
    if (name.empty()) throw TOOL_ERROR(place(), "an empty line where a name was expected");
    if (!is_valid_utf8(name)) {
      throw TOOL_ERROR(place(), "the name " + quoted_text(name) + " is not valid UTF-8");
    }
    if (name.find('\0') != std::string_view::npos) {
      throw TOOL_ERROR(place(), kNulInName);
    }
    names.push_back(name);
  }
  return names;
}

}  // namespace zema_tool
