// The zema command line, parsed once into typed options (docs/cli.md).
#ifndef TOOLS_OPTIONS_H
#define TOOLS_OPTIONS_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "tools/commands/commands.h"
#include "tools/input/read_options.h"

namespace zema_tool {

// In the order options.cpp declares the subcommands.
enum class COMMAND { CONVERT, LOOKUP, MAP, CHECK, IMPORT, TRANSLATE, EXPLAIN };

struct OPTIONS {
  COMMAND m_command = COMMAND::CONVERT;
  std::string m_design;              // the design's path, "-" for standard input
  bool m_example = false;            // the bundled example instead of m_design
  std::vector<std::string> m_names;  // lookup's and explain's names, translate's files
  std::string m_names_file;          // lookup --names; empty when not given
  std::string m_output = "-";        // import-yosys and translate -o
  READ_OPTIONS m_read;
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
  bool m_json = false;
  bool m_backslash = false;
  std::size_t m_max_violations = 10;
  bool m_stats = false;
  bool m_to_original = true;  // translate --to
  char m_separator = '/';     // translate --separator
  UNKNOWN_NAMES m_unknown = UNKNOWN_NAMES::IGNORE;
};

// Parses the command line into *options. Gives nothing when the command is
// to run; otherwise the exit code, after --help or --version has printed
// its text or a usage error its one line "zema: error: command line: ...".
std::optional<int> parse_command_line(int argc, char const* const* argv, OPTIONS* options);

}  // namespace zema_tool

#endif  // TOOLS_OPTIONS_H
