// read_liberty: Liberty text to the cells, pins and kinds of a CELL_LIBRARY.
//
// One pass over the bytes. The lexer hands out tokens that are views of the
// text (no copy, no allocation); the parser keeps the open groups on an
// explicit stack of at most kMaxGroupDepth frames, so no input makes it
// recurse, and it parses every group, also those it has no use for, so that
// a malformed file is refused wherever the fault is. What a group means
// depends only on its keyword and its parent's meaning: a `pin` directly in
// a `cell` is a pin; the same keyword inside `test_cell`, `bus` or anything
// else is not.
//
// Cells become final when their library group closes: bus widths that name
// a library-level `type` are known then, and each cell is checked against
// the cells already read, kept when new, dropped when identical and refused
// when different.
#include "tools/input/cell_library.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "h/cdb_net_sys.h"
#include "tools/input/json_input.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// The deepest nesting of groups a file may have. Real libraries use about six
// levels (library, cell, pin, timing, table); 256 leaves room for any
// generator while keeping the stack of open groups small.
constexpr std::size_t kMaxGroupDepth = 256;
// The widest bus a `type` group may describe: wider than any real memory
// port, small enough that a width never overflows what reads it.
constexpr std::uint64_t kMaxBusWidth = std::uint64_t{1} << 20;
constexpr std::uint64_t kMaxIndex = 0xffffffffu;

enum BYTE_CLASS : std::uint8_t {
  WORD_BYTE,    // part of an unquoted word: letters, digits, ".", "-", "[", bytes past ASCII, ...
  BLANK,        // space, tab, carriage return, form feed, vertical tab
  LINE_END,     // "\n"
  PUNCTUATION,  // { } ( ) : ; ,
  QUOTE,        // starts a string
  SLASH,        // may start a comment, else part of a word
  BACKSLASH,    // may continue a line, else part of a word
  CONTROL       // any other control byte: not allowed outside strings
};

constexpr std::array<std::uint8_t, 256> byte_classes() {
  std::array<std::uint8_t, 256> classes{};
  for (int byte = 0; byte < 0x20; ++byte) classes[byte] = CONTROL;
  classes[0x7f] = CONTROL;
  for (char const c : std::string_view(" \t\r\f\v")) classes[static_cast<unsigned char>(c)] = BLANK;
  for (char const c : std::string_view("{}():;,")) {
    classes[static_cast<unsigned char>(c)] = PUNCTUATION;
  }
  classes['\n'] = LINE_END;
  classes['"'] = QUOTE;
  classes['/'] = SLASH;
  classes['\\'] = BACKSLASH;
  return classes;
}
constexpr std::array<std::uint8_t, 256> kByteClass = byte_classes();

enum class TOKEN_KIND : std::uint8_t {
  END,
  WORD,
  STRING,
  OPEN_BRACE,
  CLOSE_BRACE,
  OPEN_PAREN,
  CLOSE_PAREN,
  COLON,
  SEMICOLON,
  COMMA
};

TOKEN_KIND punctuation_kind(char c) {
  switch (c) {
    case '{':
      return TOKEN_KIND::OPEN_BRACE;
    case '}':
      return TOKEN_KIND::CLOSE_BRACE;
    case '(':
      return TOKEN_KIND::OPEN_PAREN;
    case ')':
      return TOKEN_KIND::CLOSE_PAREN;
    case ':':
      return TOKEN_KIND::COLON;
    case ';':
      return TOKEN_KIND::SEMICOLON;
    default:
      return TOKEN_KIND::COMMA;
  }
}

// One token: where it lies in the text and whether a line ended before it,
// which is what lets a statement end without its ";".
struct TOKEN {
  TOKEN_KIND m_kind = TOKEN_KIND::END;
  bool m_newline_before = false;
  bool m_escaped = false;         // a string holding a backslash
  char const* m_begin = nullptr;  // a string's opening quote
  char const* m_end = nullptr;

  // The token's text; a string's without its quotes, escapes as written.
  std::string_view text() const {
    std::size_t const size = static_cast<std::size_t>(m_end - m_begin);
    if (m_kind == TOKEN_KIND::STRING) return std::string_view(m_begin + 1, size - 2);
    return std::string_view(m_begin, size);
  }
  bool is_value() const { return m_kind == TOKEN_KIND::WORD || m_kind == TOKEN_KIND::STRING; }
};

// What a group means, from its keyword and its parent's meaning.
enum class GROUP : std::uint8_t {
  TOP,         // no group: the file itself
  LIBRARY,     // a `library` group at the top
  CELL,        // a `cell` in a library
  PIN,         // a `pin` in a cell
  BUS,         // a `bus` in a cell
  BUNDLE,      // a `bundle` in a cell
  MEMBER_PIN,  // a `pin` in a bus or a bundle: gives a direction, is no pin of its own
  PG_PIN,      // a `pg_pin` in a cell: a power or ground pin, after the cell's other pins
  TYPE,        // a `type` in a library or a cell
  OTHER        // everything else: read and skipped
};

GROUP child_kind(GROUP parent, std::string_view keyword) {
  switch (parent) {
    case GROUP::TOP:
      return GROUP::LIBRARY;
    case GROUP::LIBRARY:
      if (keyword == "cell") return GROUP::CELL;
      return keyword == "type" ? GROUP::TYPE : GROUP::OTHER;
    case GROUP::CELL:
      if (keyword == "pin") return GROUP::PIN;
      if (keyword == "bus") return GROUP::BUS;
      if (keyword == "bundle") return GROUP::BUNDLE;
      if (keyword == "pg_pin") return GROUP::PG_PIN;
      return keyword == "type" ? GROUP::TYPE : GROUP::OTHER;
    case GROUP::BUS:
    case GROUP::BUNDLE:
      return keyword == "pin" ? GROUP::MEMBER_PIN : GROUP::OTHER;
    default:
      return GROUP::OTHER;
  }
}

// The storage kinds of a cell's groups, which decide its atom type.
constexpr unsigned kHasFf = 1;
constexpr unsigned kHasLatch = 2;
constexpr unsigned kHasMemory = 4;

unsigned cell_flag(std::string_view keyword) {
  if (keyword == "ff" || keyword == "ff_bank") return kHasFf;
  if (keyword == "latch" || keyword == "latch_bank") return kHasLatch;
  return keyword == "memory" ? kHasMemory : 0;
}

// A memory is a RAM whatever registers model its ports; a cell with a
// flip-flop and a latch (a latch-based clock gate behind a flop) counts as
// the flop.
int atom_type_of(unsigned flags) {
  if (flags & kHasMemory) return CDB_ATOM_RAM;
  if (flags & kHasFf) return CDB_ATOM_DFF;
  if (flags & kHasLatch) return CDB_ATOM_LATCH;
  return CDB_ATOM_COMB;
}

char const* kind_words(int atom_type) {
  switch (atom_type) {
    case CDB_ATOM_RAM:
      return "a memory";
    case CDB_ATOM_DFF:
      return "a flip-flop";
    case CDB_ATOM_LATCH:
      return "a latch";
    default:
      return "combinational";
  }
}

char const* direction_words(PIN_DIRECTION direction) {
  switch (direction) {
    case PIN_DIRECTION::OUTPUT:
      return "output";
    case PIN_DIRECTION::INOUT:
      return "inout";
    case PIN_DIRECTION::INTERNAL:
      return "internal";
    default:
      return "input";
  }
}

// A direction not given yet, and the mark of member pins that disagree.
constexpr std::int8_t kNoDirection = -1;
constexpr std::int8_t kMixedDirections = -2;

// One open group.
struct FRAME {
  GROUP m_kind;
  std::int8_t m_direction;         // its own `direction`, or kNoDirection
  std::int8_t m_member_direction;  // BUS, BUNDLE: what its member pins agree on
  std::string_view m_keyword;      // for the message when it is never closed
  char const* m_at;                // its keyword in the text
  char const* m_name_at;           // its first name in the text
  std::uint32_t m_pins_begin;      // PIN, BUS, BUNDLE: the pins it made
  std::uint32_t m_pins_end;
  std::uint32_t m_members;    // BUNDLE: the names of its `members`
  std::string_view m_name;    // TYPE: its name; BUS: the value of its `bus_type`
  char const* m_value_at;     // BUS: where that value is
  std::uint64_t m_bit_width;  // TYPE: 0 until given
  std::int64_t m_bit_from;    // TYPE: -1 until given
  std::int64_t m_bit_to;
};

// A `type` group: the width it gives a bus.
struct TYPE_DEF {
  std::string_view m_name;
  std::uint32_t m_width;
};

// A bus whose width waits for its `type`, found at the end of its cell or,
// failing that, of its library.
struct PENDING_BUS {
  std::uint32_t m_pins_begin;
  std::uint32_t m_pins_end;
  std::string_view m_type;
  char const* m_at;  // the value of its `bus_type`
};

// The parts of a CELL_LIBRARY that a reader fills.
struct LIBRARY_PARTS {
  std::vector<CELL_TYPE>& m_types;
  std::vector<CELL_PIN>& m_pins;
  HASH_MAP<std::string_view, std::uint32_t>& m_index;
  std::deque<std::string>& m_unescaped;
  std::vector<std::string> const& m_files;
};

class LIBERTY_READER {
 public:
  LIBERTY_READER(INPUT_TEXT const& text, std::uint32_t file, LIBRARY_PARTS parts)
      : m_text(text),
        m_begin(text.data()),
        m_end(text.data() + text.size()),
        m_at(m_begin),
        m_file(file),
        m_parts(parts) {
    m_frames.reserve(kMaxGroupDepth);
  }

  // Reads the whole text; throws TOOL_ERROR at the first fault.
  void read();

 private:
  TOKEN next();
  TOKEN const& peek();
  TOKEN lex();
  TOKEN lex_string(char const* quote, bool newline);
  TOKEN lex_word(char const* start, bool newline);
  char const* continuation_end(char const* backslash) const;
  char const* comment_end(char const* slash, bool* newline) const;

  void statement(TOKEN const& keyword);
  void read_arguments(TOKEN const& keyword, bool keep);
  void simple_attribute(TOKEN const& name);
  void apply_attribute(std::string_view name, TOKEN const& value, std::size_t count);
  void complex_attribute(TOKEN const& name);
  void open_group(TOKEN const& keyword);
  void close_group();
  void finish(TOKEN const& end) const;

  void begin_library();
  void end_library();
  void begin_cell(TOKEN const& keyword);
  void end_cell();
  void add_pins(TOKEN const& keyword, FRAME* frame);
  void add_power_pins(TOKEN const& keyword);
  void end_pin_group(FRAME const& frame);
  void end_type(FRAME const& frame);
  void resolve_buses(std::vector<TYPE_DEF>* types, std::vector<PENDING_BUS>* buses,
                     std::vector<PENDING_BUS>* unresolved);
  void check_pin_names() const;
  void merge_cells();
  [[noreturn]] void conflict(CELL_TYPE const& earlier, CELL_TYPE const& cell, char const* at) const;
  std::string difference(CELL_TYPE const& earlier, CELL_TYPE const& cell) const;

  std::string_view name_of(TOKEN const& token, char const* what);
  std::string_view one_name(TOKEN const& keyword, char const* what);
  void expect_one_value(std::string_view name, TOKEN const& value, std::size_t count) const;
  std::int8_t direction_of(TOKEN const& value) const;
  std::uint64_t whole_number(std::string_view name, TOKEN const& value, std::uint64_t low,
                             std::uint64_t high) const;
  void check_room(std::size_t size, char const* at, char const* what) const;

  [[noreturn]] void fail(char const* at, std::string const& problem) const {
    throw TOOL_ERROR(place(at), problem);
  }
  std::string place(char const* at) const;
  std::uint64_t line_of(char const* at) const;
  static std::string describe(TOKEN const& token);

  INPUT_TEXT const& m_text;
  char const* const m_begin;
  char const* const m_end;
  char const* m_at;  // where the lexer goes on
  TOKEN m_peeked;
  bool m_has_peeked = false;
  std::uint32_t const m_file;
  LIBRARY_PARTS m_parts;

  std::vector<FRAME> m_frames;
  std::vector<TOKEN> m_args;    // the kept arguments of the last "NAME (...)", reused
  std::size_t m_arg_count = 0;  // all its arguments

  std::size_t m_libraries = 0;
  std::uint32_t m_first_new_type = 0;  // the current library's first cell
  std::uint32_t m_first_new_pin = 0;
  std::vector<char const*> m_new_cell_at;  // where each of its cells is named
  std::vector<TYPE_DEF> m_library_types;
  std::vector<PENDING_BUS> m_library_buses;

  std::uint32_t m_cell = 0;  // the open cell's index in m_types
  unsigned m_cell_flags = 0;
  // The open cell's pin names in file order, each with where it is written.
  std::vector<std::pair<std::string_view, char const*>> m_cell_pin_names;
  std::vector<CELL_PIN> m_cell_power_pins;
  std::vector<TYPE_DEF> m_cell_types;
  std::vector<PENDING_BUS> m_cell_buses;
};

// ---------------------------------------------------------------- lexing

TOKEN LIBERTY_READER::next() {
  if (!m_has_peeked) return lex();
  m_has_peeked = false;
  return m_peeked;
}

TOKEN const& LIBERTY_READER::peek() {
  if (!m_has_peeked) {
    m_peeked = lex();
    m_has_peeked = true;
  }
  return m_peeked;
}

TOKEN LIBERTY_READER::lex() {
  bool newline = false;
  char const* p = m_at;
  while (p != m_end) {
    unsigned char const byte = static_cast<unsigned char>(*p);
    switch (kByteClass[byte]) {
      case BLANK:
        ++p;
        continue;
      case LINE_END:
        ++p;
        newline = true;
        continue;
      case SLASH:
        if (char const* const after = comment_end(p, &newline)) {
          p = after;
          continue;
        }
        return lex_word(p, newline);
      case BACKSLASH:
        if (char const* const after = continuation_end(p)) {
          p = after;
          continue;
        }
        return lex_word(p, newline);
      case PUNCTUATION:
        m_at = p + 1;
        return TOKEN{punctuation_kind(*p), newline, false, p, p + 1};
      case QUOTE:
        return lex_string(p, newline);
      case CONTROL:
        fail(p, "the byte 0x" + std::string(1, "0123456789abcdef"[byte >> 4]) +
                    "0123456789abcdef"[byte & 15] + " is not allowed outside a string");
      default:
        return lex_word(p, newline);
    }
  }
  m_at = p;
  return TOKEN{TOKEN_KIND::END, newline, false, p, p};
}

// Finds the closing quote with memchr. A backslash escapes the byte after it,
// so `\"` does not close the string; `close` is searched again only once the
// scan has passed it, which keeps a string of many escapes linear.
TOKEN LIBERTY_READER::lex_string(char const* quote, bool newline) {
  char const* p = quote + 1;
  char const* close = nullptr;
  bool escaped = false;
  for (;;) {
    if (close < p) {
      close = static_cast<char const*>(std::memchr(p, '"', static_cast<std::size_t>(m_end - p)));
      if (!close) fail(quote, "the string that starts here has no closing quote");
    }
    auto const* const backslash =
        static_cast<char const*>(std::memchr(p, '\\', static_cast<std::size_t>(close - p)));
    if (!backslash) break;
    escaped = true;
    p = backslash + 2;
  }
  m_at = close + 1;
  return TOKEN{TOKEN_KIND::STRING, newline, escaped, quote, close + 1};
}

// A word runs to the next blank, punctuation, quote or comment. A ":" inside
// brackets belongs to it, as in the range of a bus member `pin (D[3:0])`.
TOKEN LIBERTY_READER::lex_word(char const* start, bool newline) {
  char const* p = start;
  int brackets = 0;
  while (p != m_end) {
    unsigned char const byte = static_cast<unsigned char>(*p);
    std::uint8_t const kind = kByteClass[byte];
    if (kind == WORD_BYTE) {
      brackets += (byte == '[') - (byte == ']');
    } else if (kind == SLASH) {
      if (p + 1 != m_end && (p[1] == '*' || p[1] == '/')) break;
    } else if (kind == BACKSLASH) {
      if (continuation_end(p)) break;
    } else if (byte != ':' || brackets <= 0) {
      break;
    }
    ++p;
  }
  m_at = p;
  return TOKEN{TOKEN_KIND::WORD, newline, false, start, p};
}

// Where the line continued by the backslash at `backslash` goes on, or null
// when the backslash does not end its line (blanks may follow it).
char const* LIBERTY_READER::continuation_end(char const* backslash) const {
  char const* p = backslash + 1;
  while (p != m_end && (*p == ' ' || *p == '\t' || *p == '\r')) ++p;
  return p != m_end && *p == '\n' ? p + 1 : nullptr;
}

// The end of the comment that starts at `slash`, or null when no comment
// starts there. A "//" comment ends before its line end; a "/*" comment just
// past its "*/", setting *newline when it spans lines.
char const* LIBERTY_READER::comment_end(char const* slash, bool* newline) const {
  if (slash + 1 == m_end || (slash[1] != '*' && slash[1] != '/')) return nullptr;
  std::size_t const rest = static_cast<std::size_t>(m_end - slash);
  if (slash[1] == '/') {
    auto const* const line_end = static_cast<char const*>(std::memchr(slash, '\n', rest));
    return line_end ? line_end : m_end;
  }
  char const* p = slash + 2;
  for (;;) {
    auto const* const star =
        static_cast<char const*>(std::memchr(p, '*', static_cast<std::size_t>(m_end - p)));
    if (!star || star + 1 == m_end) {
      fail(slash, "the comment that starts here has no closing \"*/\"");
    }
    if (star[1] == '/') {
      if (std::memchr(slash, '\n', static_cast<std::size_t>(star - slash))) *newline = true;
      return star + 2;
    }
    p = star + 1;
  }
}

// ---------------------------------------------------------------- parsing

void LIBERTY_READER::read() {
  if (m_text.view().substr(0, 3) == "\xef\xbb\xbf") m_at += 3;  // a byte-order mark
  for (;;) {
    TOKEN const token = next();
    switch (token.m_kind) {
      case TOKEN_KIND::END:
        finish(token);
        return;
      case TOKEN_KIND::CLOSE_BRACE:
        if (m_frames.empty()) fail(token.m_begin, "\"}\" closes no group");
        close_group();
        continue;
      case TOKEN_KIND::SEMICOLON:
        continue;  // an empty statement, as in "};"
      case TOKEN_KIND::WORD:
        statement(token);
        continue;
      default:
        fail(token.m_begin, std::string(m_frames.empty() ? "expected a library group"
                                                         : "expected an attribute or a group") +
                                ", got " + describe(token));
    }
  }
}

bool ends_statement(TOKEN const& token) {
  return token.m_kind == TOKEN_KIND::CLOSE_BRACE || token.m_kind == TOKEN_KIND::END ||
         token.m_newline_before;
}

// One statement that starts with the word `keyword`: `NAME : VALUE ;`,
// `NAME (ARGS) ;` or `NAME (ARGS) {`. The ";" may be left out where the
// statement ends its line or its group, as real files do.
void LIBERTY_READER::statement(TOKEN const& keyword) {
  bool const top = m_frames.empty();
  if (top && keyword.text() != "library") {
    fail(keyword.m_begin, "expected a library group, got " + describe(keyword));
  }
  TOKEN const after = next();
  if (after.m_kind == TOKEN_KIND::COLON && !top) {
    simple_attribute(keyword);
    return;
  }
  if (after.m_kind != TOKEN_KIND::OPEN_PAREN) {
    fail(after.m_begin, std::string(top ? "expected \"(\"" : "expected \":\" or \"(\"") +
                            " after " + quoted_text(keyword.text()) + ", got " + describe(after));
  }
  // Only a group that means something, or a bundle's `members`, needs its
  // arguments kept; a table's values are only counted.
  GROUP const parent = top ? GROUP::TOP : m_frames.back().m_kind;
  read_arguments(keyword, child_kind(parent, keyword.text()) != GROUP::OTHER ||
                              (parent == GROUP::BUNDLE && keyword.text() == "members"));
  TOKEN const& end = peek();
  if (end.m_kind == TOKEN_KIND::OPEN_BRACE) {
    next();
    open_group(keyword);
    return;
  }
  if (top) {
    fail(end.m_begin, "expected \"{\" after the arguments of \"library\", got " + describe(end));
  }
  if (end.m_kind == TOKEN_KIND::SEMICOLON) {
    next();
  } else if (!ends_statement(end)) {
    fail(end.m_begin, "expected \";\" or \"{\" after the arguments of " +
                          quoted_text(keyword.text()) + ", got " + describe(end));
  }
  complex_attribute(keyword);
}

// The values between "(" and ")", separated by commas: counted, and kept in
// m_args when `keep`.
void LIBERTY_READER::read_arguments(TOKEN const& keyword, bool keep) {
  m_args.clear();
  m_arg_count = 0;
  bool after_comma = false;
  for (;;) {
    TOKEN const token = next();
    bool const want_value = m_arg_count == 0 || after_comma;
    if (token.is_value() && want_value) {
      if (keep) m_args.push_back(token);
      ++m_arg_count;
      after_comma = false;
    } else if (token.m_kind == TOKEN_KIND::COMMA && !want_value) {
      after_comma = true;
    } else if (token.m_kind == TOKEN_KIND::CLOSE_PAREN && !after_comma) {
      return;
    } else {
      char const* const expected = after_comma        ? "expected a value"
                                   : m_arg_count == 0 ? "expected a value or \")\""
                                                      : "expected \",\" or \")\"";
      fail(token.m_begin, std::string(expected) + " in the arguments of " +
                              quoted_text(keyword.text()) + ", got " + describe(token));
    }
  }
}

// `NAME : VALUE ;`. The value is one or more words and strings on one line,
// as in `vil : 0.3 * VDD ;`.
void LIBERTY_READER::simple_attribute(TOKEN const& name) {
  TOKEN const value = next();
  if (!value.is_value()) {
    fail(value.m_begin, "expected a value after " + quoted_text(std::string(name.text()) + " :") +
                            ", got " + describe(value));
  }
  std::size_t count = 1;
  while (peek().is_value() && !peek().m_newline_before) {
    next();
    ++count;
  }
  TOKEN const& end = peek();
  if (end.m_kind == TOKEN_KIND::SEMICOLON) {
    next();
  } else if (!ends_statement(end)) {
    fail(end.m_begin, "expected \";\" after the value of " + quoted_text(name.text()) + ", got " +
                          describe(end));
  }
  apply_attribute(name.text(), value, count);
}

void LIBERTY_READER::apply_attribute(std::string_view name, TOKEN const& value, std::size_t count) {
  FRAME& frame = m_frames.back();
  switch (frame.m_kind) {
    case GROUP::BUS:
      if (name == "bus_type") {
        expect_one_value(name, value, count);
        frame.m_name = name_of(value, "type");
        frame.m_value_at = value.m_begin;
        return;
      }
      [[fallthrough]];
    case GROUP::PIN:
    case GROUP::BUNDLE:
    case GROUP::MEMBER_PIN:
      if (name == "direction") {
        expect_one_value(name, value, count);
        frame.m_direction = direction_of(value);
      }
      return;
    case GROUP::TYPE:
      if (name == "bit_width") {
        expect_one_value(name, value, count);
        frame.m_bit_width = whole_number(name, value, 1, kMaxBusWidth);
      } else if (name == "bit_from" || name == "bit_to") {
        expect_one_value(name, value, count);
        std::int64_t const bit = static_cast<std::int64_t>(whole_number(name, value, 0, kMaxIndex));
        (name == "bit_from" ? frame.m_bit_from : frame.m_bit_to) = bit;
      }
      return;
    default:
      return;
  }
}

// `NAME (ARGS) ;`: only a bundle's `members` matters.
void LIBERTY_READER::complex_attribute(TOKEN const& name) {
  FRAME& frame = m_frames.back();
  if (frame.m_kind == GROUP::BUNDLE && name.text() == "members") {
    frame.m_members = static_cast<std::uint32_t>(m_arg_count);
  }
}

void LIBERTY_READER::open_group(TOKEN const& keyword) {
  if (m_frames.size() == kMaxGroupDepth) {
    fail(keyword.m_begin, "groups nest deeper than " + decimal(kMaxGroupDepth) + " levels");
  }
  GROUP const parent = m_frames.empty() ? GROUP::TOP : m_frames.back().m_kind;
  FRAME frame{child_kind(parent, keyword.text()),
              kNoDirection,
              kNoDirection,
              keyword.text(),
              keyword.m_begin,
              m_args.empty() ? keyword.m_begin : m_args[0].m_begin,
              0,
              0,
              0,
              std::string_view(),
              nullptr,
              0,
              -1,
              -1};
  switch (frame.m_kind) {
    case GROUP::LIBRARY:
      begin_library();
      break;
    case GROUP::CELL:
      begin_cell(keyword);
      break;
    case GROUP::PIN:
    case GROUP::BUS:
    case GROUP::BUNDLE:
      add_pins(keyword, &frame);
      break;
    case GROUP::PG_PIN:
      add_power_pins(keyword);
      break;
    case GROUP::TYPE:
      frame.m_name = one_name(keyword, "type");
      break;
    default:
      if (parent == GROUP::CELL) m_cell_flags |= cell_flag(keyword.text());
      break;
  }
  m_frames.push_back(frame);
}

void LIBERTY_READER::close_group() {
  FRAME const frame = m_frames.back();
  m_frames.pop_back();
  switch (frame.m_kind) {
    case GROUP::LIBRARY:
      end_library();
      return;
    case GROUP::CELL:
      end_cell();
      return;
    case GROUP::PIN:
    case GROUP::BUS:
    case GROUP::BUNDLE:
      end_pin_group(frame);
      return;
    case GROUP::MEMBER_PIN:
      if (frame.m_direction != kNoDirection) {
        std::int8_t& members = m_frames.back().m_member_direction;
        members = members == kNoDirection || members == frame.m_direction ? frame.m_direction
                                                                          : kMixedDirections;
      }
      return;
    case GROUP::TYPE:
      end_type(frame);
      return;
    default:
      return;
  }
}

void LIBERTY_READER::finish(TOKEN const& end) const {
  if (!m_frames.empty()) {
    FRAME const& open = m_frames.back();
    fail(end.m_begin, "the file ends inside the " + quoted_text(open.m_keyword) +
                          " group opened at line " + decimal(line_of(open.m_at)) +
                          "; a \"}\" is missing");
  }
  if (m_libraries == 0) fail(end.m_begin, "the file holds no library group");
}

// ---------------------------------------------------------------- cells

void LIBERTY_READER::begin_library() {
  ++m_libraries;
  m_first_new_type = static_cast<std::uint32_t>(m_parts.m_types.size());
  m_first_new_pin = static_cast<std::uint32_t>(m_parts.m_pins.size());
  m_new_cell_at.clear();
  m_library_types.clear();
  m_library_buses.clear();
}

void LIBERTY_READER::end_library() {
  resolve_buses(&m_library_types, &m_library_buses, nullptr);
  merge_cells();
}

void LIBERTY_READER::begin_cell(TOKEN const& keyword) {
  std::string_view const name = one_name(keyword, "cell");
  check_room(m_parts.m_types.size(), keyword.m_begin, "cells");
  m_cell = static_cast<std::uint32_t>(m_parts.m_types.size());
  auto const pins = static_cast<std::uint32_t>(m_parts.m_pins.size());
  m_parts.m_types.push_back(CELL_TYPE{name, CDB_ATOM_COMB, pins, pins, m_file});
  m_new_cell_at.push_back(m_args[0].m_begin);
  m_cell_flags = 0;
  m_cell_pin_names.clear();
  m_cell_power_pins.clear();
  m_cell_types.clear();
  m_cell_buses.clear();
}

void LIBERTY_READER::end_cell() {
  resolve_buses(&m_cell_types, &m_cell_buses, &m_library_buses);
  check_pin_names();
  // Power and ground pins come last, so that ordered connections meet the
  // signal pins in the file's order, as they did before power was wired.
  m_parts.m_pins.insert(m_parts.m_pins.end(), m_cell_power_pins.begin(), m_cell_power_pins.end());
  CELL_TYPE& cell = m_parts.m_types[m_cell];
  cell.m_atom_type = atom_type_of(m_cell_flags);
  cell.m_pins_end = static_cast<std::uint32_t>(m_parts.m_pins.size());
}

// One pin for each name of a `pin`, `bus` or `bundle` group; their direction
// and width follow when the group closes.
void LIBERTY_READER::add_pins(TOKEN const& keyword, FRAME* frame) {
  if (m_args.empty())
    fail(keyword.m_begin, "a " + quoted_text(keyword.text()) + " group needs a name");
  check_room(m_parts.m_pins.size() + m_args.size(), keyword.m_begin, "pins");
  frame->m_pins_begin = static_cast<std::uint32_t>(m_parts.m_pins.size());
  for (TOKEN const& arg : m_args) {
    std::string_view const name = name_of(arg, "pin");
    m_parts.m_pins.push_back(CELL_PIN{name, PIN_DIRECTION::INPUT, 1});
    m_cell_pin_names.emplace_back(name, arg.m_begin);
  }
  frame->m_pins_end = static_cast<std::uint32_t>(m_parts.m_pins.size());
}

// One input pin for each name of a `pg_pin` group, whatever its direction:
// a netlist may wire power and ground, which are never oterms.
void LIBERTY_READER::add_power_pins(TOKEN const& keyword) {
  if (m_args.empty()) fail(keyword.m_begin, "a \"pg_pin\" group needs a name");
  check_room(m_parts.m_pins.size() + m_cell_power_pins.size() + m_args.size(), keyword.m_begin,
             "pins");
  for (TOKEN const& arg : m_args) {
    std::string_view const name = name_of(arg, "pin");
    m_cell_power_pins.push_back(CELL_PIN{name, PIN_DIRECTION::INPUT, 1});
    m_cell_pin_names.emplace_back(name, arg.m_begin);
  }
}

void LIBERTY_READER::end_pin_group(FRAME const& frame) {
  std::string_view const first = m_parts.m_pins[frame.m_pins_begin].m_name;
  std::uint32_t width = 1;
  if (frame.m_kind == GROUP::BUS) {
    if (!frame.m_value_at) fail(frame.m_name_at, "bus " + quoted_text(first) + " has no bus_type");
    m_cell_buses.push_back(
        PENDING_BUS{frame.m_pins_begin, frame.m_pins_end, frame.m_name, frame.m_value_at});
  } else if (frame.m_kind == GROUP::BUNDLE) {
    if (frame.m_members == 0) {
      fail(frame.m_name_at, "bundle " + quoted_text(first) + " has no members");
    }
    width = frame.m_members;
  }
  // A bus or a bundle without a direction of its own takes its member pins'
  // (inout when they disagree); anything without one is an input.
  std::int8_t direction = frame.m_direction;
  if (direction == kNoDirection) direction = frame.m_member_direction;
  if (direction == kMixedDirections) direction = static_cast<std::int8_t>(PIN_DIRECTION::INOUT);
  if (direction == kNoDirection) direction = static_cast<std::int8_t>(PIN_DIRECTION::INPUT);
  for (std::uint32_t pin = frame.m_pins_begin; pin < frame.m_pins_end; ++pin) {
    m_parts.m_pins[pin].m_direction = static_cast<PIN_DIRECTION>(direction);
    m_parts.m_pins[pin].m_width = width;
  }
}

// A type's width: its bit_width, else the span of bit_from and bit_to.
void LIBERTY_READER::end_type(FRAME const& frame) {
  std::uint64_t width = frame.m_bit_width;
  if (width == 0) {
    if (frame.m_bit_from < 0 || frame.m_bit_to < 0) {
      fail(frame.m_name_at, "type " + quoted_text(frame.m_name) +
                                " gives no width: no bit_width, nor bit_from and bit_to");
    }
    width = static_cast<std::uint64_t>(frame.m_bit_from > frame.m_bit_to
                                           ? frame.m_bit_from - frame.m_bit_to
                                           : frame.m_bit_to - frame.m_bit_from) +
            1;
    if (width > kMaxBusWidth) {
      fail(frame.m_name_at, "type " + quoted_text(frame.m_name) + " is wider than " +
                                decimal(kMaxBusWidth) + " bits");
    }
  }
  TYPE_DEF const type{frame.m_name, static_cast<std::uint32_t>(width)};
  (m_frames.back().m_kind == GROUP::CELL ? m_cell_types : m_library_types).push_back(type);
}

// Gives each bus in *buses the width of its type in *types (the last of that
// name, as a later definition replaces an earlier one). A bus whose type is
// not there goes to *unresolved, or is refused when there is no wider scope.
// Sorting keeps this O(n log n) however many types and buses a cell has.
void LIBERTY_READER::resolve_buses(std::vector<TYPE_DEF>* types, std::vector<PENDING_BUS>* buses,
                                   std::vector<PENDING_BUS>* unresolved) {
  if (buses->empty()) return;
  auto const by_name = [](TYPE_DEF const& a, TYPE_DEF const& b) { return a.m_name < b.m_name; };
  std::stable_sort(types->begin(), types->end(), by_name);
  for (PENDING_BUS const& bus : *buses) {
    auto const after =
        std::upper_bound(types->begin(), types->end(), TYPE_DEF{bus.m_type, 0}, by_name);
    if (after != types->begin() && (after - 1)->m_name == bus.m_type) {
      for (std::uint32_t pin = bus.m_pins_begin; pin < bus.m_pins_end; ++pin) {
        m_parts.m_pins[pin].m_width = (after - 1)->m_width;
      }
    } else if (unresolved) {
      unresolved->push_back(bus);
    } else {
      fail(bus.m_at,
           "bus_type " + quoted_text(bus.m_type) + " names no type group of its cell or library");
    }
  }
  buses->clear();
}

// Refuses a cell with two pins of one name, at the first repeat in the file:
// by pairs for the few pins of most cells, through a set for a big one.
void LIBERTY_READER::check_pin_names() const {
  std::size_t const count = m_cell_pin_names.size();
  std::size_t repeat = count;
  if (count <= 16) {
    for (std::size_t i = 1; i < count && repeat == count; ++i) {
      for (std::size_t j = 0; j < i; ++j) {
        if (m_cell_pin_names[i].first == m_cell_pin_names[j].first) repeat = i;
      }
    }
  } else {
    HASH_MAP<std::string_view, bool> seen;
    seen.reserve(count);
    for (std::size_t i = 0; i < count && repeat == count; ++i) {
      if (!seen.emplace(m_cell_pin_names[i].first, true).second) repeat = i;
    }
  }
  if (repeat != count) {
    fail(m_cell_pin_names[repeat].second, "cell " + quoted_text(m_parts.m_types[m_cell].m_name) +
                                              " has a second pin named " +
                                              quoted_text(m_cell_pin_names[repeat].first));
  }
}

bool same_cell(CELL_TYPE const& a, CELL_TYPE const& b, std::vector<CELL_PIN> const& pins) {
  if (a.m_atom_type != b.m_atom_type) return false;
  return std::equal(
      pins.begin() + a.m_pins_begin, pins.begin() + a.m_pins_end, pins.begin() + b.m_pins_begin,
      pins.begin() + b.m_pins_end, [](CELL_PIN const& x, CELL_PIN const& y) {
        return x.m_name == y.m_name && x.m_direction == y.m_direction && x.m_width == y.m_width;
      });
}

// Adds the closed library's cells to the index: a new name is kept, a name
// already there (from an earlier file or earlier in this one) is dropped when
// its cell is the same and refused when not. Kept cells and their pins move
// down over the dropped ones, so the pin ranges stay contiguous.
void LIBERTY_READER::merge_cells() {
  std::vector<CELL_TYPE>& types = m_parts.m_types;
  std::vector<CELL_PIN>& pins = m_parts.m_pins;
  std::uint32_t kept = m_first_new_type;
  std::uint32_t kept_pins = m_first_new_pin;
  for (std::uint32_t t = m_first_new_type; t < types.size(); ++t) {
    CELL_TYPE cell = types[t];
    auto const [found, added] = m_parts.m_index.emplace(cell.m_name, kept);
    if (!added) {
      if (!same_cell(types[*found], cell, pins)) {
        conflict(types[*found], cell, m_new_cell_at[t - m_first_new_type]);
      }
      continue;
    }
    std::uint32_t const count = cell.m_pins_end - cell.m_pins_begin;
    std::copy(pins.begin() + cell.m_pins_begin, pins.begin() + cell.m_pins_end,
              pins.begin() + kept_pins);
    cell.m_pins_begin = kept_pins;
    cell.m_pins_end = kept_pins + count;
    kept_pins += count;
    types[kept++] = cell;
  }
  types.resize(kept);
  pins.resize(kept_pins);
}

void LIBERTY_READER::conflict(CELL_TYPE const& earlier, CELL_TYPE const& cell,
                              char const* at) const {
  std::string const where =
      earlier.m_file == m_file ? "earlier in this file" : "in " + m_parts.m_files[earlier.m_file];
  fail(at, "cell " + quoted_text(cell.m_name) + " is defined differently " + where + ": " +
               difference(earlier, cell));
}

// The first way `cell` differs from `earlier`, in words.
std::string LIBERTY_READER::difference(CELL_TYPE const& earlier, CELL_TYPE const& cell) const {
  if (earlier.m_atom_type != cell.m_atom_type) {
    return std::string("it is ") + kind_words(cell.m_atom_type) + " here, " +
           kind_words(earlier.m_atom_type) + " there";
  }
  auto const describe_pin = [](CELL_PIN const& pin) {
    std::string words = quoted_text(pin.m_name) + " (" + direction_words(pin.m_direction);
    if (pin.m_width != 1) words += ", " + decimal(pin.m_width) + " bits";
    return words + ")";
  };
  std::uint32_t const here = cell.m_pins_end - cell.m_pins_begin;
  std::uint32_t const there = earlier.m_pins_end - earlier.m_pins_begin;
  for (std::uint32_t i = 0; i < here && i < there; ++i) {
    CELL_PIN const& a = m_parts.m_pins[cell.m_pins_begin + i];
    CELL_PIN const& b = m_parts.m_pins[earlier.m_pins_begin + i];
    if (describe_pin(a) != describe_pin(b)) {
      return "pin " + decimal(i + 1) + " is " + describe_pin(a) + " here, " + describe_pin(b) +
             " there";
    }
  }
  return "it has " + decimal(here) + " pins here, " + decimal(there) + " there";
}

// ---------------------------------------------------------------- values

// A name as the library keeps it: a word as it stands, a string without its
// quotes; `\"` and `\\` unescaped and a continued line joined, in a copy the
// library keeps, only when the string holds a backslash.
std::string_view LIBERTY_READER::name_of(TOKEN const& token, char const* what) {
  std::string_view name = token.text();
  if (token.m_escaped) {
    std::string& copy = m_parts.m_unescaped.emplace_back();
    copy.reserve(name.size());
    for (std::size_t i = 0; i < name.size(); ++i) {
      if (name[i] != '\\' || i + 1 == name.size()) {
        copy.push_back(name[i]);
      } else if (name[i + 1] == '"' || name[i + 1] == '\\') {
        copy.push_back(name[++i]);
      } else if (char const* const after = continuation_end(name.data() + i)) {
        i = static_cast<std::size_t>(after - name.data()) - 1;
      } else {
        copy.push_back('\\');
      }
    }
    name = copy;
  }
  if (name.empty()) fail(token.m_begin, std::string("a ") + what + " name must not be empty");
  check_name_text(name, [&] { return place(token.m_begin); });
  return name;
}

std::string_view LIBERTY_READER::one_name(TOKEN const& keyword, char const* what) {
  if (m_args.size() != 1) {
    fail(keyword.m_begin, std::string("a ") + quoted_text(what) + " group takes one name, got " +
                              decimal(m_args.size()));
  }
  return name_of(m_args[0], what);
}

void LIBERTY_READER::expect_one_value(std::string_view name, TOKEN const& value,
                                      std::size_t count) const {
  if (count != 1) {
    fail(value.m_begin, quoted_text(name) + " takes one value, got " + decimal(count));
  }
}

std::int8_t LIBERTY_READER::direction_of(TOKEN const& value) const {
  std::string_view const text = value.text();
  static constexpr std::string_view kDirections[] = {"input", "output", "inout", "internal"};
  for (std::size_t i = 0; i < 4; ++i) {
    if (text == kDirections[i]) return static_cast<std::int8_t>(i);
  }
  fail(value.m_begin,
       "unknown direction " + quoted_text(text) + " (expected input, output, inout or internal)");
}

std::uint64_t LIBERTY_READER::whole_number(std::string_view name, TOKEN const& value,
                                           std::uint64_t low, std::uint64_t high) const {
  std::string_view const text = value.text();
  std::uint64_t number = 0;
  bool ok = !text.empty() && text.size() <= 12;
  for (char const c : text) {
    ok = ok && c >= '0' && c <= '9';
    if (ok) number = number * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (!ok || number < low || number > high) {
    fail(value.m_begin, std::string(name) + " must be a whole number from " + decimal(low) +
                            " to " + decimal(high) + ", got " + quoted_text(text));
  }
  return number;
}

// Pins and cells are counted in 32 bits; several files of gigabytes could
// pass that.
void LIBERTY_READER::check_room(std::size_t size, char const* at, char const* what) const {
  if (size >= kMaxIndex) fail(at, std::string("more than ") + decimal(kMaxIndex) + " " + what);
}

// ---------------------------------------------------------------- places

std::uint64_t LIBERTY_READER::line_of(char const* at) const {
  std::uint64_t line = 1;
  // p < at also keeps memchr away from the null data of an empty text.
  for (char const* p = m_begin; p < at; ++p, ++line) {
    p = static_cast<char const*>(std::memchr(p, '\n', static_cast<std::size_t>(at - p)));
    if (!p) break;
  }
  return line;
}

std::string LIBERTY_READER::place(char const* at) const {
  char const* line_start = at;
  while (line_start != m_begin && line_start[-1] != '\n') --line_start;
  return m_text.name() + ":" + decimal(line_of(at)) + ":" +
         decimal(static_cast<std::uint64_t>(at - line_start) + 1);
}

std::string LIBERTY_READER::describe(TOKEN const& token) {
  switch (token.m_kind) {
    case TOKEN_KIND::END:
      return "the end of the file";
    case TOKEN_KIND::STRING:
      return "the string " + quoted_text(token.text());
    default:
      return quoted_text(token.text());
  }
}

}  // namespace

void read_liberty(INPUT_TEXT text, CELL_LIBRARY* library) {
  std::size_t const types = library->m_types.size();
  std::size_t const pins = library->m_pins.size();
  std::size_t const unescaped = library->m_unescaped.size();
  auto const file = static_cast<std::uint32_t>(library->m_files.size());
  library->m_files.push_back(text.name());
  library->m_texts.push_back(std::move(text));
  try {
    LIBERTY_READER reader(library->m_texts.back(), file,
                          LIBRARY_PARTS{library->m_types, library->m_pins, library->m_index,
                                        library->m_unescaped, library->m_files});
    reader.read();
  } catch (...) {
    // Leave the library as it was: its index made again from the cells it
    // had, which is rare work, so the index needs no removal.
    library->m_types.resize(types);
    library->m_index = HASH_MAP<std::string_view, std::uint32_t>();
    library->m_index.reserve(types);
    for (std::uint32_t t = 0; t < types; ++t)
      library->m_index.emplace(library->m_types[t].m_name, t);
    library->m_pins.resize(pins);
    library->m_unescaped.resize(unescaped);
    library->m_files.pop_back();
    library->m_texts.pop_back();
    throw;
  }
}

}  // namespace zema_tool
