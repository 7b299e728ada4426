// TEXT_TRANSLATOR: rewrites the names in a text between their converted and
// original forms and leaves every other byte as it was (docs/cli.md,
// "translate").
//
// The text is cut into tokens that no name crosses:
// - converted names (--to original) are runs of letters, digits, "_", "[",
//   "]", "$" and the separator;
// - original names (--to converted) are runs of anything but white space
//   and the quoting and list characters { } " ' , ; ( ).
// Unbalanced "[" in front of a token and "]" behind it are quoting, not
// name. A token's longest prefix that ends at a level boundary (the
// separator; an unescaped "/" in an original) and is a name is replaced; the
// rest, a pin for instance, stays. A token that starts with "\" (a
// backslashed full name, a Verilog escaped identifier) keeps the backslash
// and has the name behind it translated.
//
// The translator streams: it is given the text piece by piece, and leaves
// the last, unfinished token of a piece for the next; its memory does not
// grow with the text.
#ifndef TOOLS_COMMANDS_TEXT_TRANSLATOR_H
#define TOOLS_COMMANDS_TEXT_TRANSLATOR_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/commands/name_index.h"
#include "tools/output/output_buffer.h"

namespace zema_tool {

class TEXT_TRANSLATOR {
 public:
  // Called for a name-like token that names nothing, with its line and
  // column (from 1, in bytes) in the current text.
  typedef std::function<void(std::string_view token, std::uint64_t line, std::uint64_t column)>
      UNKNOWN;

  // `separator` joins the levels of converted names in the text: '/', '.'
  // or '|'. Original names always use "/". `unknown` may be empty.
  TEXT_TRANSLATOR(NAME_INDEX const& index, bool to_original, char separator, UNKNOWN unknown);

  // Translates `text`, the next bytes of the current text: every token that
  // ends before the end of `text`, or all of it when `last`. Gives how many
  // bytes it consumed; the caller gives the rest again, with more behind.
  std::size_t put(std::string_view text, bool last, OUTPUT_BUFFER& out);
  // Starts the next text at line 1.
  void end_text();

  std::uint64_t names_translated() const { return m_translated; }

 private:
  void token(std::string_view text, OUTPUT_BUFFER& out);
  // The length of the longest prefix of `name` that is a name, 0 if none;
  // *to is what it translates to.
  std::size_t to_original(std::string_view name, std::string_view* to);
  std::size_t to_converted(std::string_view name, std::string_view* to);
  bool looks_like_name(std::string_view name) const;
  void count_lines_to(char const* at);

  NAME_INDEX const& m_index;
  bool const m_to_original;
  char const m_separator;
  UNKNOWN const m_unknown;
  std::array<bool, 256> m_in_token{};
  std::string m_scratch;            // a token with its separators as "/", or with "/" in front
  std::string m_output;             // a converted name with the text's separator
  std::vector<std::size_t> m_ends;  // where a token's candidate prefixes end
  std::uint64_t m_translated = 0;
  // Line counting, for reports only: the current piece, and how far into it
  // lines are counted, at which line, and where that line started (offsets
  // from the start of the text).
  char const* m_piece = nullptr;
  std::uint64_t m_piece_offset = 0;
  char const* m_counted = nullptr;
  std::uint64_t m_line = 1;
  std::uint64_t m_line_start = 0;
};

}  // namespace zema_tool

#endif  // TOOLS_COMMANDS_TEXT_TRANSLATOR_H
