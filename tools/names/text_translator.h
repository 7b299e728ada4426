// TEXT_TRANSLATOR: rewrites the names in a text through a NAME_LOOKUP and
// leaves every other byte as it was (docs/cli.md, "translate").
//
// Each text has a syntax, which says where its names are and how a name is
// written there:
// - text (reports, logs): the text is cut into tokens that no name crosses
//   (converted names: runs of letters, digits, "_", "[", "]", "$" and the
//   separator; original names: runs of anything but white space and
//   { } " ' , ; ( )); unbalanced "[" in front and "]" behind are quoting,
//   and a leading "\" stays. A token is looked up when it has at least
//   --levels levels;
// - tcl (SDC, XDC): Tcl words, their quoting and escapes undone, and
//   written back as Tcl words that evaluate to the new name (tcl_syntax.h);
// - spef: the names of a SPEF file, in its divider, delimiter and escapes
//   (spef_syntax.h).
//
// A name is found whole, or as a name and one level more that fits a pin
// (fits_pin). A word of which only a shorter start is a name, or that has
// more than a pin behind one, names nothing: it is left as it is and
// reported. In tcl, with original names as keys, a query of cells takes the
// names of cells and one of nets those of nets (NAME_LOOKUP::of_class), and
// an object query's pattern becomes the list of the names of every key it
// matches, of the query's class.
//
// The translator streams: it is given the text piece by piece, and leaves
// the last, unfinished word of a piece for the next; its memory does not
// grow with the text. The lookups of a piece's names are prepared (hashed,
// their slots fetched) some names ahead of their use.
#ifndef TOOLS_NAMES_TEXT_TRANSLATOR_H
#define TOOLS_NAMES_TEXT_TRANSLATOR_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/names/name_lookup.h"
#include "tools/names/name_spots.h"
#include "tools/names/tcl_syntax.h"
#include "tools/support/output_buffer.h"
#include "tools/support/words.h"

namespace zema_tool {

class SPEF_SCANNER;

// A text's syntax; AUTO: by its file name.
enum class SYNTAX { AUTO, TEXT, TCL, SPEF };
inline constexpr WORD<SYNTAX> kSyntaxWords[] = {
    {SYNTAX::AUTO, "auto"}, {SYNTAX::TEXT, "text"}, {SYNTAX::TCL, "tcl"}, {SYNTAX::SPEF, "spef"}};

// The syntax of the text at `path`: `chosen`, unless AUTO; then by its file
// name: .sdc, .tcl and .xdc are tcl, .spef and .spf spef, anything else
// text; a .gz or .xz behind the name is looked through. Standard input
// ("-" or "<stdin>") is text.
SYNTAX syntax_of(std::string_view path, SYNTAX chosen);

// What a translation does with a name-like word that names nothing: leave
// it, report it, or report it and fail.
enum class UNKNOWN_NAMES { IGNORE, WARN, ERROR };
inline constexpr WORD<UNKNOWN_NAMES> kUnknownNamesWords[] = {{UNKNOWN_NAMES::IGNORE, "ignore"},
                                                             {UNKNOWN_NAMES::WARN, "warn"},
                                                             {UNKNOWN_NAMES::ERROR, "error"}};

// Why a word was left as it is.
enum class UNKNOWN_PROBLEM {
  NOTHING,     // no start of it is a name
  PARTIAL,     // a start of it is a name, and the rest is more than a pin
  NO_MATCH,    // a pattern that matches no name
  UNWRITABLE,  // its new name cannot be written in the text's syntax
  GONE,        // migrate: its object is not in the new revision
  MOVED,       // migrate: it names another object now; rewritten to its object's new name
  AMBIGUOUS,   // more than one object has it, and none comes first
  NOT_CELL,    // a query of cells names a net
  NOT_NET,     // a query of nets names a cell
  GUESSED      // migrate: its object shares its original; its new name a guess by their order
};
inline constexpr WORD<UNKNOWN_PROBLEM> kUnknownProblemWords[] = {
    {UNKNOWN_PROBLEM::NOTHING, "names nothing in the design"},
    {UNKNOWN_PROBLEM::PARTIAL, "names nothing in the design (only a start of it is a name)"},
    {UNKNOWN_PROBLEM::NO_MATCH, "matches no name in the design"},
    {UNKNOWN_PROBLEM::UNWRITABLE, "has a name that this syntax cannot write"},
    {UNKNOWN_PROBLEM::GONE, "names an object that the new revision does not have"},
    {UNKNOWN_PROBLEM::MOVED,
     "names another object in the new revision; rewritten to its object's new name"},
    {UNKNOWN_PROBLEM::AMBIGUOUS, "names more than one object in the design"},
    {UNKNOWN_PROBLEM::NOT_CELL, "names a net, not a cell"},
    {UNKNOWN_PROBLEM::NOT_NET, "names a cell, not a net"},
    {UNKNOWN_PROBLEM::GUESSED,
     "names one of several objects that share an original; its new name is a guess by their "
     "order"}};

// A word left as it is, with its line and column (from 1, in bytes) in the
// current text.
struct UNKNOWN_WORD {
  std::string_view m_word;
  UNKNOWN_PROBLEM m_problem;
  std::uint64_t m_line;
  std::uint64_t m_column;
};

// The separators a text may write between the levels of converted names.
inline constexpr WORD<char> kSeparatorWords[] = {{'/', "/"}, {'.', "."}, {'|', "|"}};

struct TRANSLATION_OPTIONS {
  // Joins the levels of converted names in text and tcl: '/', '.' or '|'.
  // Original names always use "/"; SPEF says its own.
  char m_separator = '/';
  // The fewest levels a word needs to be looked up where the syntax does
  // not say that a name is there.
  std::size_t m_levels = 2;
};

class TEXT_TRANSLATOR {
 public:
  // Called for a word that is left as it is (UNKNOWN_PROBLEM).
  typedef std::function<void(UNKNOWN_WORD const&)> UNKNOWN;

  // `lookup` outlives the translator. `unknown` may be empty.
  TEXT_TRANSLATOR(NAME_LOOKUP const& lookup, TRANSLATION_OPTIONS const& options, UNKNOWN unknown);
  ~TEXT_TRANSLATOR();
  TEXT_TRANSLATOR(TEXT_TRANSLATOR const&) = delete;
  TEXT_TRANSLATOR& operator=(TEXT_TRANSLATOR const&) = delete;

  // The syntax of the texts from now on (text until said; AUTO is text).
  void set_syntax(SYNTAX syntax);
  // Translates `text`, the next bytes of the current text: every word that
  // ends before the end of `text`, or all of it when `last`. Gives how many
  // bytes it consumed; the caller gives the rest again, with more behind.
  std::size_t put(std::string_view text, bool last, OUTPUT_BUFFER& out);
  // Writes `word`, the start of a word that put() left unfinished and that
  // fills the caller's buffer, as it is, and the rest of that word too when
  // put() is given it: a word longer than any buffer is never cut, so never
  // partly translated. Gives word.size().
  std::size_t pass(std::string_view word, OUTPUT_BUFFER& out);
  // Ends the current text: the next starts at line 1, in a fresh state of
  // its syntax.
  void end_text();

 private:
  // What a spot's lookup found.
  enum class FOUND { NAME, NAME_AND_PIN, AMBIGUOUS, OTHER_CLASS, NOTHING, PARTIAL, SKIPPED };
  struct RESULT {
    FOUND m_found;
    INDEX_ENTRY const* m_entry;  // NAME, NAME_AND_PIN
    std::size_t m_length;        // of the key that m_entry replaces; the rest stays
  };
  enum { kWhole, kCut, kRootedWhole, kRootedCut };

  std::string_view key_of(NAME_SPOT const& spot, std::string_view piece) const;
  // The tokens of plain text, as spots.
  std::size_t scan_text(std::string_view text, bool last);
  void add_text_spot(std::string_view piece, std::size_t start, std::size_t size);
  std::size_t token_end(std::string_view text, std::size_t at, std::size_t end) const;
  void prepare(NAME_SPOT& spot, std::string_view piece);
  void prefetch_texts(NAME_SPOT const& spot) const;
  RESULT resolve(NAME_SPOT const& spot, std::string_view piece);
  INDEX_ENTRY const* find(NAME_SPOT const& spot, std::string_view key, std::size_t length,
                          int hash) const;
  bool has_shorter_name(NAME_SPOT const& spot, std::string_view key);
  bool output_pin_of(INDEX_ENTRY const* output, INDEX_ENTRY const* cell,
                     std::string_view pin) const;
  void translate(NAME_SPOT const& spot, std::string_view piece, OUTPUT_BUFFER& out);
  std::size_t kept_backslashes(std::string_view key, std::size_t limit, bool escaped_only,
                               std::string* out);
  // Writes what the spot becomes, or its bytes as they are, reported.
  void translate_found(NAME_SPOT const& spot, std::string_view piece, RESULT const& result,
                       OUTPUT_BUFFER& out);
  bool write_found(NAME_SPOT const& spot, std::string_view piece, RESULT const& result,
                   OUTPUT_BUFFER& out);
  // Writes what a pattern becomes; gives false, having written nothing,
  // with the problem in *problem.
  bool write_pattern(NAME_SPOT const& spot, std::string_view key, OUTPUT_BUFFER& out,
                     UNKNOWN_PROBLEM* problem);
  bool keep_objects(NAME_SPOT const& spot);
  void outputs_as_pins();
  bool write_matches(SPOT_FORM form);
  // The value of `entry` as the text writes names of its side.
  std::string_view value_text(INDEX_ENTRY const* entry);
  bool looks_like_name(std::string_view key) const;
  void report(NAME_SPOT const& spot, std::string_view piece, UNKNOWN_PROBLEM problem);
  void write_gap(std::string_view bytes, OUTPUT_BUFFER& out);
  void flush_held(OUTPUT_BUFFER& out);
  void drop_held(OUTPUT_BUFFER& out);
  void count_lines_to(char const* at);

  NAME_LOOKUP const& m_lookup;
  TRANSLATION_OPTIONS const m_options;
  UNKNOWN const m_unknown;
  bool const m_keys_converted;
  SYNTAX m_syntax = SYNTAX::TEXT;
  std::unique_ptr<TCL_SCANNER> m_tcl;
  std::unique_ptr<SPEF_SCANNER> m_spef;
  std::array<bool, 256> m_in_token{};
  std::vector<NAME_SPOT> m_spots;  // the spots of the current piece
  std::string m_keys;              // the keys they hold copies of
  std::string m_value;             // a value with the text's separator
  std::string m_word;              // a new word, before its syntax writes it
  std::string m_scratch;           // a key with backslashes put back
  std::string m_pattern_key;       // a pattern with backslashes put back
  std::string m_held;              // a -hierarchical flag whose fate its arguments decide
  std::string m_held_opening;      // what opens its argument's list ("{", "[list ")
  TCL_LIST m_tcl_list;
  std::vector<std::size_t> m_ends;
  std::vector<INDEX_ENTRY const*> m_matches;
  std::vector<std::string_view> m_match_pins;  // the pin each match keeps, or none
  // Line counting, for reports only: the current piece, and how far into it
  // lines are counted, at which line, and where that line started (offsets
  // from the start of the text).
  char const* m_piece = nullptr;
  std::uint64_t m_piece_offset = 0;
  char const* m_counted = nullptr;
  std::uint64_t m_line = 1;
  std::uint64_t m_line_start = 0;
  bool m_passing = false;  // inside a word that pass() began
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_TEXT_TRANSLATOR_H
