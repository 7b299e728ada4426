#include "tools/commands/name_arguments.h"

#include "tools/input/name_list.h"

namespace zema_tool {

void NAME_ARGUMENTS::declare(OPTION_SET& options) {
  options.text("--names", &m_file, "Read the names from a file, one a line; - for standard input");
}

void NAME_ARGUMENTS::add_input(std::vector<std::string>* inputs) const {
  if (!m_file.empty()) inputs->push_back(m_file);
}

std::vector<std::string_view> const& NAME_ARGUMENTS::read(
    std::vector<std::string> const& positionals, std::uint64_t max_size) {
  if (!m_file.empty()) {
    m_text = INPUT_TEXT::read(m_file, max_size, true);
    m_names = split_names(m_text);
  }
  m_names.insert(m_names.end(), positionals.begin(), positionals.end());
  return m_names;
}

}  // namespace zema_tool
