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
#ifndef TOOLS_NAMES_TEXT_TRANSLATOR_H
#define TOOLS_NAMES_TEXT_TRANSLATOR_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/names/name_index.h"
#include "tools/support/output_buffer.h"
#include "tools/support/words.h"

namespace zema_tool {

// What a translation does with a name-like word that names nothing: leave
// it, report it, or report it and fail.
enum class UNKNOWN_NAMES { IGNORE, WARN, ERROR };
inline constexpr WORD<UNKNOWN_NAMES> kUnknownNamesWords[] = {{UNKNOWN_NAMES::IGNORE, "ignore"},
                                                             {UNKNOWN_NAMES::WARN, "warn"},
                                                             {UNKNOWN_NAMES::ERROR, "error"}};

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
  // Writes `word`, the start of a word that put() left unfinished and that
  // fills the caller's buffer, as it is, and the rest of that word too when
  // put() is given it: a word longer than any buffer is never cut, so never
  // partly translated. Gives word.size().
  std::size_t pass(std::string_view word, OUTPUT_BUFFER& out);
  // Starts the next text at line 1.
  void end_text();

 private:
  // One token of a piece, and its two likeliest lookups, prepared ahead:
  // the whole name, and the name up to its last level boundary (a name
  // with a pin behind it).
  struct TOKEN {
    std::size_t m_start;  // in the piece
    std::size_t m_size;
    std::size_t m_front;  // the name within the token, quoting brackets aside
    std::size_t m_back;
    std::size_t m_cut;  // the length of the second lookup's name, 0 for none
    std::uint64_t m_whole_hash;
    std::uint64_t m_cut_hash;
  };

  TEXT_MAP const& table() const {
    return m_to_original ? m_index.to_original() : m_index.to_converted();
  }
  // The end of the token that starts at `at`: the first byte before `end`
  // that is not a token byte, else `end`.
  std::size_t token_end(std::string_view text, std::size_t at, std::size_t end) const;
  void prepare(TOKEN& token, char const* piece);
  void prefetch_texts(TOKEN const& token) const;
  void translate(TOKEN const& token, std::string_view text, OUTPUT_BUFFER& out);
  // The length of the longest prefix of `name` that is a name, 0 if none;
  // *to is what it translates to.
  std::size_t find(std::string_view name, TOKEN const* prepared, std::string_view* to);
  // The lookup key of a converted name: its separators as "/".
  std::string_view key_of(std::string_view name);
  void prefix_hashes(std::string_view text, std::size_t shift);
  void level_ends(std::string_view name);
  void bound_ends(std::size_t longest, std::size_t deepest);
  std::size_t found_converted(INDEX_ENTRY const* entry, std::size_t length, std::string_view* to);
  bool looks_like_name(std::string_view name) const;
  void count_lines_to(char const* at);

  NAME_INDEX const& m_index;
  bool const m_to_original;
  char const m_separator;
  UNKNOWN const m_unknown;
  std::array<bool, 256> m_in_token{};
  std::vector<TOKEN> m_tokens;          // the tokens of the current piece
  std::string m_scratch;                // a name with its separators as "/", or with "/" in front
  std::string m_output;                 // a converted name with the text's separator
  std::vector<std::size_t> m_ends;      // where a name's candidate prefixes end
  std::vector<std::uint64_t> m_hashes;  // the hashes of those prefixes
  std::vector<std::uint64_t> m_plain_hashes;  // of an original's, before "/" is put in front
  // Line counting, for reports only: the current piece, and how far into it
  // lines are counted, at which line, and where that line started (offsets
  // from the start of the text).
  char const* m_piece = nullptr;
  std::uint64_t m_piece_offset = 0;
  char const* m_counted = nullptr;
  std::uint64_t m_line = 1;
  bool m_passing = false;  // inside a word that pass() began
  std::uint64_t m_line_start = 0;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_TEXT_TRANSLATOR_H
