// NAME_ARGUMENTS: the names that lookup and explain take: their arguments
// after the design, and --names FILE, one a line.
#ifndef TOOLS_COMMANDS_NAME_ARGUMENTS_H
#define TOOLS_COMMANDS_NAME_ARGUMENTS_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/commands/command.h"
#include "tools/input/input_file.h"

namespace zema_tool {

class NAME_ARGUMENTS {
 public:
  void declare(OPTION_SET& options);
  bool has_file() const { return !m_file.empty(); }
  // Adds the names file, if any, to `inputs`.
  void add_input(std::vector<std::string>* inputs) const;

  // The names: the file's first, read now (before the design is loaded, so
  // that a bad file fails fast), then `positionals`, which must outlive
  // what this gives.
  std::vector<std::string_view> const& read(std::vector<std::string> const& positionals,
                                            std::uint64_t max_size);

 private:
  std::string m_file;
  INPUT_TEXT m_text;
  std::vector<std::string_view> m_names;
};

}  // namespace zema_tool

#endif  // TOOLS_COMMANDS_NAME_ARGUMENTS_H
