// TEXT_ARGUMENTS: what the commands that rewrite names in texts (translate,
// migrate) share: the texts' options (--separator, --unknown, --syntax,
// --levels), opening the texts before anything is loaded, and running them
// through one TEXT_TRANSLATOR with the words it leaves reported on standard
// error.
#ifndef TOOLS_COMMANDS_TEXT_ARGUMENTS_H
#define TOOLS_COMMANDS_TEXT_ARGUMENTS_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/commands/command.h"
#include "tools/input/input_file.h"
#include "tools/names/name_lookup.h"
#include "tools/names/text_translator.h"

namespace zema_tool {

class TEXT_ARGUMENTS {
 public:
  // The defaults of --unknown and --levels.
  TEXT_ARGUMENTS(UNKNOWN_NAMES unknown, std::uint64_t levels)
      : m_unknown(unknown), m_levels(levels) {}

  // Declares the texts' options; `separator_help` says which names the
  // separator is written between.
  void declare(OPTION_SET& options, char const* separator_help);
  // The usage problem of the options, if any.
  std::optional<std::string> check(char const* command) const;

  // Opens `paths` (standard input when empty): plain, xz or gzip, each
  // within `max_size`. Done before the names are loaded, so that a missing
  // text fails before anything is written.
  void open(std::vector<std::string> const& paths, std::uint64_t max_size);

  // Rewrites every open text through `lookup` to run.m_out, reporting the
  // words left as they are under `command`; gives the exit code: not found
  // when a word was reported and --unknown is error.
  int translate(RUN& run, char const* command, NAME_LOOKUP const& lookup);

 private:
  std::vector<std::unique_ptr<INPUT_STREAM>> m_texts;
  char m_separator = '/';
  UNKNOWN_NAMES m_unknown;
  SYNTAX m_syntax = SYNTAX::AUTO;
  std::uint64_t m_levels;
};

}  // namespace zema_tool

#endif  // TOOLS_COMMANDS_TEXT_ARGUMENTS_H
