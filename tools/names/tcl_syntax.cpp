#include "tools/names/tcl_syntax.h"

#include <algorithm>
#include <cstring>

namespace zema_tool {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool is_space(char c) { return is_blank(c) || c == '\n'; }

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

void append_utf8(std::uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    code = std::min<std::uint32_t>(code, 0x10FFFF);
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

// Tcl's backslash substitution of `raw`, appended to *out.
void unescape(std::string_view raw, std::string* out) {
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 == raw.size()) {
      out->push_back(raw[i]);
      continue;
    }
    char const c = raw[++i];
    static char const kNamed[] = "a\ab\bf\fn\nr\rt\tv\v";
    char const* const named = c != '\0' ? std::strchr(kNamed, c) : nullptr;
    if (named != nullptr && (named - kNamed) % 2 == 0) {
      out->push_back(named[1]);
    } else if (c >= '0' && c <= '7') {
      unsigned value = 0;
      std::size_t digits = 0;
      for (; digits < 3 && i < raw.size() && raw[i] >= '0' && raw[i] <= '7'; ++digits, ++i) {
        value = value * 8 + static_cast<unsigned>(raw[i] - '0');
      }
      --i;
      out->push_back(static_cast<char>(value & 0xFF));
    } else if (c == 'x' || c == 'u' || c == 'U') {
      std::size_t const most = c == 'x' ? 2 : c == 'u' ? 4 : 8;
      std::uint32_t value = 0;
      std::size_t digits = 0;
      for (; digits < most && i + 1 < raw.size() && hex_digit(raw[i + 1]) >= 0; ++digits, ++i) {
        value = value * 16 + static_cast<std::uint32_t>(hex_digit(raw[i + 1]));
      }
      if (digits == 0) {
        out->push_back(c);
      } else if (c == 'x') {
        out->push_back(static_cast<char>(value));
      } else {
        append_utf8(value, out);
      }
    } else if (c == '\n') {
      // A backslash, newline and the blanks after it are one space.
      out->push_back(' ');
      while (i + 1 < raw.size() && is_blank(raw[i + 1])) ++i;
    } else {
      out->push_back(c);
    }
  }
}

bool brace_safe(std::string_view value) {
  std::size_t depth = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\') {
      if (i + 1 == value.size() || value[i + 1] == '\n') return false;
      ++i;
    } else if (value[i] == '{') {
      ++depth;
    } else if (value[i] == '}') {
      if (depth == 0) return false;
      --depth;
    }
  }
  return depth == 0;
}

// `value` with a backslash before each of `specials`, and control bytes
// written as escapes.
void append_escaped(std::string_view value, char const* specials, std::string* out) {
  for (char const c : value) {
    unsigned char const byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      out->append("\\n");
    } else if (c == '\t') {
      out->append("\\t");
    } else if (byte < 0x20 || byte == 0x7F) {
      static char const kHex[] = "0123456789abcdef";
      char const escape[4] = {'\\', 'x', kHex[byte >> 4], kHex[byte & 15]};
      out->append(escape, 4);
    } else {
      if (std::strchr(specials, c) != nullptr) out->push_back('\\');
      out->push_back(c);
    }
  }
}

bool has_any(std::string_view value, char const* bytes) {
  return value.find_first_of(bytes) != std::string_view::npos;
}

// The end of the bare list element at `start`, as Tcl splits a list: white
// space ends it, and so does a "}" that closes the list itself; the braces
// inside it are its own bytes, counted in *open (those still open) so that
// the list's close is found past them.
std::size_t bare_element_end(std::string_view piece, std::size_t start, std::uint32_t* open) {
  std::size_t i = start;
  while (i < piece.size() && !is_space(piece[i])) {
    char const c = piece[i];
    if (c == '}') {
      if (*open == 0) break;
      --*open;
    } else if (c == '{') {
      ++*open;
    }
    i += c == '\\' ? 2 : 1;
  }
  return std::min(i, piece.size());
}

// The "}" that closes the "{" at `open`, past the braces inside and the
// bytes backslashes escape; the piece's size when the piece ends first.
std::size_t closing_brace(std::string_view piece, std::size_t open) {
  std::size_t depth = 1;
  std::size_t i = open + 1;
  for (; i < piece.size(); ++i) {
    if (piece[i] == '\\') {
      ++i;
    } else if (piece[i] == '{') {
      ++depth;
    } else if (piece[i] == '}' && --depth == 0) {
      return i;
    }
  }
  return piece.size();
}

// The element inside `value` when all of it is one list element in braces
// ("{x y}", as an escaped or quoted word writes a list of one): what a
// query that splits the value finds; null otherwise.
std::string_view braced_element(std::string_view value) {
  if (value.size() < 2 || value[0] != '{') return {};
  std::size_t depth = 0;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\') {
      ++i;
    } else if (value[i] == '{') {
      ++depth;
    } else if (value[i] == '}' && --depth == 0) {
      return i + 1 == value.size() ? value.substr(1, i - 1) : std::string_view();
    }
  }
  return {};
}

// The bytes after a backslash that make a blank: itself, or a named escape.
constexpr char kEscapedBlanks[] = " \t\n\r\v\ftnrvf";
constexpr char kWordSpecials[] = " \t\n\r\v\f;$[]\\{}\"";

struct COMMAND_WORD {
  char const* m_name;
  int m_kind;  // 0 query of cells, 1 never, 2 list, 3 control, 4 query of pins, 5 control with
               // lists, 6 query of nets, 7 concat (a list of lists)
};
// The commands whose arguments the scanner knows. Only a query of pins
// takes a name with a pin behind it: a cell or a net is a name whole.
constexpr COMMAND_WORD kCommands[] = {
    {"get_cells", 0},
    {"get_pins", 4},
    {"get_nets", 6},
    {"get_cell", 0},
    {"get_pin", 4},
    {"get_net", 6},
    {"current_instance", 0},
    {"get_ports", 1},
    {"get_port", 1},
    {"get_clocks", 1},
    {"get_clock", 1},
    {"get_generated_clocks", 1},
    {"get_lib_cells", 1},
    {"get_lib_pins", 1},
    {"get_libs", 1},
    {"all_clocks", 1},
    {"list", 2},
    {"concat", 7},
    {"if", 3},
    {"foreach", 5},
    {"foreach_in_collection", 3},
    {"for", 3},
    {"while", 3},
    {"proc", 3},
    {"catch", 3},
    {"eval", 3},
    {"uplevel", 3},
    {"namespace", 3},
    {"switch", 3},
    {"time", 3},
};

// Options whose value names no instance, pin or net.
constexpr char const* kValuesNeverNames[] = {"-name",   "-clock",       "-clocks",
                                             "-filter", "-hsc",         "-master_clock",
                                             "-group",  "-match_style", "-library"};

// Whether `word` is `option` or a start of it at least `least` bytes long,
// as Tcl commands take options.
bool abbreviates(std::string_view word, std::string_view option, std::size_t least) {
  return word.size() >= least && word.size() <= option.size() &&
         option.substr(0, word.size()) == word;
}

bool is_option(std::string_view word) {
  return word.size() >= 2 && word[0] == '-' &&
         ((word[1] >= 'a' && word[1] <= 'z') || (word[1] >= 'A' && word[1] <= 'Z'));
}

}  // namespace

std::string_view TCL_SCANNER::value_of(std::string_view raw, bool escaped) {
  if (!escaped) return raw;
  m_value.clear();
  unescape(raw, &m_value);
  return m_value;
}

TCL_SCANNER::TCL_SCANNER(NAME_SIDE keys, char separator)
    : m_keys_side(keys), m_separator(separator) {}

void TCL_SCANNER::reset() {
  m_top = FRAME();
  m_stack.clear();
  m_skipped = 0;
}

std::size_t TCL_SCANNER::scan(std::string_view piece, bool last, std::vector<NAME_SPOT>* spots,
                              std::string* keys) {
  m_spots = spots;
  m_keys = keys;
  std::size_t at = 0;
  while (at < piece.size()) {
    if (m_skipped != 0) {
      // Past the deepest nesting followed: brackets and braces are counted
      // until the nesting is back.
      char const c = piece[at++];
      if (c == '[' || c == '{') ++m_skipped;
      if (c == ']' || c == '}') --m_skipped;
      continue;
    }
    STEP step;
    switch (m_top.m_kind) {
      case KIND::SCRIPT:
        step = step_script(piece, last, &at);
        break;
      case KIND::LIST:
        step = step_list(piece, last, &at);
        break;
      default:
        step = step_rest(piece, last, &at);
        break;
    }
    if (step == STEP::STOP) break;
  }
  return at;
}

void TCL_SCANNER::push(FRAME frame) {
  if (m_stack.size() >= kMaxDepth) {
    m_skipped = 1;
    return;
  }
  m_stack.push_back(m_top);
  m_top = frame;
}

void TCL_SCANNER::pop() {
  if (m_stack.empty()) {
    m_top = FRAME();
    return;
  }
  m_top = m_stack.back();
  m_stack.pop_back();
}

TCL_SCANNER::PART TCL_SCANNER::part_of_next(bool braced) const {
  PART part;
  switch (m_top.m_command) {
    case COMMAND::START:
    case COMMAND::NEVER:
      return part;
    case COMMAND::QUERY:
      part.m_role = m_top.m_next != ROLE::DEFAULT ? m_top.m_next : ROLE::QUERY;
      part.m_hierarchical = m_top.m_hierarchical;
      part.m_regexp = m_top.m_regexp;
      part.m_pins = m_top.m_pins && part.m_role == ROLE::QUERY;
      // A query's own argument names objects of its class; a pin may be a
      // cell's pin or a net's name of its own, and -of_objects takes any.
      if (part.m_role == ROLE::QUERY && !m_top.m_pins) {
        part.m_class = m_top.m_nets ? CLASS_NET : CLASS_CELL;
      }
      return part;
    case COMMAND::LIST:
      part = m_top.m_part;
      part.m_element = m_top.m_elements && !m_top.m_expanded;
      return part;
    case COMMAND::CONTROL:
      // foreach VARS LIST ... BODY: its even arguments are lists of values.
      part.m_role =
          braced && !(m_top.m_lists && m_top.m_arguments % 2 == 1) ? ROLE::BODY : ROLE::WORDS;
      return part;
    case COMMAND::OTHER:
      break;
  }
  part.m_role = m_top.m_next != ROLE::DEFAULT ? m_top.m_next : ROLE::WORDS;
  return part;
}

// Whether `c` ends a bare word of the current script.
bool TCL_SCANNER::closes_word(char c) const {
  char const close =
      m_top.m_kind == KIND::SCRIPT || m_stack.empty() ? m_top.m_close : m_stack.back().m_close;
  return is_space(c) || c == ';' || (close != 0 && c == close);
}

void TCL_SCANNER::word_done(std::string_view const* value) {
  FRAME& frame = m_top;
  frame.m_expanded = false;
  if (frame.m_command == COMMAND::START) {
    frame.m_command = COMMAND::OTHER;
    if (value != nullptr) {
      for (COMMAND_WORD const& command : kCommands) {
        if (*value == command.m_name) {
          static COMMAND const kKinds[] = {COMMAND::QUERY,   COMMAND::NEVER, COMMAND::LIST,
                                           COMMAND::CONTROL, COMMAND::QUERY, COMMAND::CONTROL,
                                           COMMAND::QUERY,   COMMAND::LIST};
          frame.m_command = kKinds[command.m_kind];
          frame.m_pins = command.m_kind == 4;
          frame.m_nets = command.m_kind == 6;
          frame.m_lists = command.m_kind == 5;
          frame.m_elements = command.m_kind == 2;
        }
      }
    }
    return;
  }
  ++frame.m_arguments;
  bool const option = value != nullptr && is_option(*value) && frame.m_next == ROLE::DEFAULT &&
                      frame.m_command != COMMAND::LIST;
  frame.m_next = ROLE::DEFAULT;
  if (!option) return;
  std::string_view const word = *value;
  if (frame.m_command == COMMAND::QUERY) {
    if (abbreviates(word, "-hierarchical", 3)) frame.m_hierarchical = true;
    if (abbreviates(word, "-of_objects", 3)) frame.m_next = ROLE::OBJECTS;
    if (word == "-regexp") frame.m_regexp = true;
  }
  for (char const* never : kValuesNeverNames) {
    if (word == never) frame.m_next = ROLE::NONE;
  }
}

void TCL_SCANNER::add_spot(std::size_t start, std::size_t size, std::string_view value,
                           SPOT_FORM form, PART const& part, bool in_list) {
  ROLE const role = part.m_role;
  if (role != ROLE::WORDS && role != ROLE::QUERY && role != ROLE::OBJECTS) return;
  if (value.empty() || is_option(value) || (!in_list && has_any(value, " \t\n\r\v\f"))) return;
  SPOT_ROLE spot_role = role == ROLE::WORDS ? SPOT_ROLE::WORD : SPOT_ROLE::NAME;
  PATTERN_SCOPE scope = PATTERN_SCOPE::PATH;
  if (role == ROLE::QUERY || role == ROLE::OBJECTS) {
    bool const hierarchical = role == ROLE::QUERY && part.m_hierarchical;
    if (part.m_regexp) return;
    if (m_keys_side == NAME_SIDE::CONVERTED) {
      // A pattern over converted names would have to be a pattern over
      // originals: legalising changes case and bytes, so it stays.
      if (hierarchical || is_pattern(value)) return;
    } else if (hierarchical || is_pattern(value)) {
      spot_role = SPOT_ROLE::PATTERN;
      if (hierarchical) scope = PATTERN_SCOPE::ANY_DEPTH;
    }
  }
  NAME_SPOT spot{};
  spot.m_start = start;
  spot.m_size = size;
  spot.m_form = form;
  spot.m_role = spot_role;
  spot.m_scope = scope;
  // A cell or net query's own argument is a whole name; the objects of its
  // -of_objects may be pins ("the cell of this pin").
  spot.m_whole = role == ROLE::QUERY && !part.m_pins;
  spot.m_class = part.m_class;
  spot.m_pins = !spot.m_whole;
  spot.m_copied = true;
  if (m_keys_side == NAME_SIDE::ORIGINAL) m_keys->push_back('/');
  spot.m_key = m_keys->size();
  spot.m_key_size = value.size();
  m_keys->append(value);
  if (m_keys_side == NAME_SIDE::CONVERTED && m_separator != '/') {
    std::replace(m_keys->begin() + static_cast<std::ptrdiff_t>(spot.m_key), m_keys->end(),
                 m_separator, '/');
  }
  m_spots->push_back(spot);
}

// The end of the braced word at `start` when it holds one element, with
// the element's value in [*value_start, *value_end); kSeveral when it holds
// none or more than one; kUndecided when the piece ends first.
std::size_t TCL_SCANNER::single_element(std::string_view piece, std::size_t start,
                                        std::size_t* value_start, std::size_t* value_end) {
  std::size_t const n = piece.size();
  std::size_t i = start + 1;
  while (i < n && is_space(piece[i])) ++i;
  if (i >= n) return kUndecided;
  char const c = piece[i];
  if (c == '}') return kSeveral;
  std::size_t element_end = i;
  if (c == '{' || c == '"') {
    std::size_t depth = 0;
    std::size_t j = i + 1;
    for (; j < n; ++j) {
      if (piece[j] == '\\') {
        ++j;
      } else if (c == '"' && piece[j] == '"') {
        break;
      } else if (piece[j] == '{') {
        ++depth;
      } else if (piece[j] == '}') {
        if (depth == 0 && c == '{') break;
        if (depth == 0) return kSeveral;  // the list ends inside the quotes
        --depth;
      }
    }
    if (j >= n) return kUndecided;
    *value_start = i + 1;
    *value_end = j;
    element_end = j + 1;
  } else {
    std::uint32_t open = 0;
    element_end = bare_element_end(piece, i, &open);
    if (element_end >= n) return kUndecided;
    if (open != 0) return kSeveral;  // its braces close after a blank
    *value_start = i;
    *value_end = element_end;
  }
  std::size_t k = element_end;
  while (k < n && is_space(piece[k])) ++k;
  if (k >= n) return kUndecided;
  return piece[k] == '}' ? k + 1 : kSeveral;
}

TCL_SCANNER::STEP TCL_SCANNER::step_script(std::string_view piece, bool last, std::size_t* at) {
  std::size_t const n = piece.size();
  std::size_t const start = *at;
  char const c = piece[start];
  if (is_blank(c)) {
    ++*at;
    return STEP::DONE;
  }
  if (c == '\\' && start + 1 < n && piece[start + 1] == '\n') {
    *at += 2;
    return STEP::DONE;
  }
  if (c == '\\' && start + 1 == n && !last) return STEP::STOP;
  if (c == '\n' || c == ';') {
    m_top.m_command = COMMAND::START;
    m_top.m_next = ROLE::DEFAULT;
    m_top.m_hierarchical = false;
    m_top.m_regexp = false;
    m_top.m_lists = false;
    m_top.m_elements = false;
    m_top.m_expanded = false;
    m_top.m_arguments = 0;
    ++*at;
    return STEP::DONE;
  }
  if (m_top.m_close != 0 && c == m_top.m_close) {
    // The end of a command substitution, or of a braced body, which ends
    // the word it was.
    bool const body = c == '}';
    pop();
    if (body) word_done(nullptr);
    ++*at;
    return STEP::DONE;
  }
  if (c == '#' && m_top.m_command == COMMAND::START) {
    // A comment, to the first newline that no backslash escapes.
    std::size_t i = start;
    while (i < n && piece[i] != '\n') i += piece[i] == '\\' ? 2 : 1;
    if (i >= n && !last) return STEP::STOP;
    *at = std::min(i, n);
    return STEP::DONE;
  }
  if (c == '{' && piece.substr(start, 3) == "{*}") {
    // The expansion prefix: the word behind it is a list whose elements
    // are words of the command, each read as that word's part says.
    if (start + 3 >= n && !last) return STEP::STOP;
    if (start + 3 < n && !closes_word(piece[start + 3])) {
      m_top.m_expanded = true;
      *at += 3;
      return STEP::DONE;
    }
  }
  if (c == '{') return step_braced(piece, last, at);
  if (c == '"') return step_quoted(piece, last, at);
  return step_bare(piece, last, at);
}

TCL_SCANNER::STEP TCL_SCANNER::step_braced(std::string_view piece, bool last, std::size_t* at) {
  std::size_t const start = *at;
  PART const part = part_of_next(true);
  bool const names =
      part.m_role == ROLE::WORDS || part.m_role == ROLE::QUERY || part.m_role == ROLE::OBJECTS;
  if (names && part.m_element) {
    // A word of [list ...]: all it holds is one element.
    std::size_t const end = closing_brace(piece, start);
    if (end >= piece.size() && !last) return STEP::STOP;
    if (end < piece.size()) {
      std::string_view const value = piece.substr(start + 1, end - start - 1);
      add_spot(start, end + 1 - start, value, SPOT_FORM::TCL_ARGUMENT, part, true);
      word_done(&value);
      *at = end + 1;
      return STEP::DONE;
    }
  }
  if (names) {
    // A list of one element is that element's word, written back with no
    // more quoting than it needs; a longer list is read element by element.
    std::size_t value_start = 0;
    std::size_t value_end = 0;
    std::size_t const end = single_element(piece, start, &value_start, &value_end);
    if (end == kUndecided && !last) return STEP::STOP;
    if (end != kUndecided && end != kSeveral) {
      std::string_view const value = piece.substr(value_start, value_end - value_start);
      add_spot(start, end - start, value, SPOT_FORM::TCL_WORD, part, true);
      word_done(&value);
      *at = end;
      return STEP::DONE;
    }
  }
  FRAME frame;
  if (part.m_role == ROLE::BODY) {
    frame.m_close = '}';
  } else {
    frame.m_kind = KIND::LIST;
    frame.m_part = part;
  }
  push(frame);
  ++*at;
  return STEP::DONE;
}

// A word that a command substitution at `open` interrupts: the rest of
// the word is read once the substitution's script ends.
void TCL_SCANNER::substitute(KIND rest_kind, PART const& part, std::size_t open, std::size_t* at) {
  FRAME rest;
  rest.m_kind = rest_kind;
  rest.m_part = part;
  push(rest);
  FRAME script;
  script.m_close = ']';
  script.m_part = part;
  push(script);
  *at = open + 1;
}

// The elements of a list in double quotes that holds no brace, at `start`
// in the piece: runs of non-blank bytes (an escaped blank is one of them),
// each with its escapes undone.
void TCL_SCANNER::add_quoted_elements(std::size_t start, std::string_view raw, PART const& part) {
  std::size_t i = 0;
  while (i < raw.size()) {
    while (i < raw.size() && is_space(raw[i])) ++i;
    std::size_t const begin = i;
    bool escaped = false;
    std::size_t end = i;
    while (i < raw.size() && !is_space(raw[i])) {
      if (raw[i] == '\\' && i + 1 < raw.size() && raw[i + 1] != '\0' &&
          std::strchr(kEscapedBlanks, raw[i + 1]) != nullptr) {
        // An escaped blank ("\ ", "\t") is a blank by the time the query
        // splits the list: it ends the element and is dropped with it.
        i += 2;
        break;
      }
      if (raw[i] == '\\') escaped = true, ++i;
      end = std::min(++i, raw.size());
    }
    if (end > begin) {
      std::string_view const element = raw.substr(begin, end - begin);
      add_spot(start + begin, end - begin, value_of(element, escaped),
               SPOT_FORM::TCL_QUOTED_ELEMENT, part, true);
    }
  }
}

TCL_SCANNER::STEP TCL_SCANNER::step_quoted(std::string_view piece, bool last, std::size_t* at) {
  std::size_t const n = piece.size();
  std::size_t const start = *at;
  PART const part = part_of_next(false);
  bool literal = true;
  std::size_t i = start + 1;
  while (i < n && piece[i] != '"' && piece[i] != '[') {
    if (piece[i] == '$') literal = false;
    i += piece[i] == '\\' ? 2 : 1;
  }
  if (i >= n) {
    if (!last) return STEP::STOP;
    word_done(nullptr);
    *at = n;
    return STEP::DONE;
  }
  if (piece[i] == '[') {
    substitute(KIND::QUOTE_REST, part, i, at);
    return STEP::DONE;
  }
  std::string_view const raw = piece.substr(start + 1, i - start - 1);
  if (literal && part.m_element) {
    std::string_view const value = value_of(raw, true);
    add_spot(start, i + 1 - start, value, SPOT_FORM::TCL_QUOTED_ARGUMENT, part, true);
    word_done(&value);
  } else if (literal && has_any(raw, " \t\n\r\v\f") && !has_any(raw, "{}")) {
    // A list in quotes ("a/b c/d", "r\[0\] r\[1\]"): each element is a name of
    // its own, its escapes undone as the quotes undo them.
    add_quoted_elements(start + 1, raw, part);
    word_done(&raw);
  } else if (literal) {
    std::string_view const value = value_of(raw, true);
    std::string_view const element = braced_element(value);
    add_spot(start, i + 1 - start, element.data() != nullptr ? element : value,
             SPOT_FORM::TCL_QUOTED, part, element.data() != nullptr);
    word_done(&value);
  } else {
    word_done(nullptr);
  }
  *at = i + 1;
  return STEP::DONE;
}

// A bare word: to a separator, or to a command substitution in it.
TCL_SCANNER::STEP TCL_SCANNER::step_bare(std::string_view piece, bool last, std::size_t* at) {
  std::size_t const n = piece.size();
  std::size_t const start = *at;
  PART const part = part_of_next(false);
  bool literal = true;
  bool escaped = false;
  std::size_t i = start;
  while (i < n && !closes_word(piece[i]) && piece[i] != '[') {
    if (piece[i] == '\\') {
      if (i + 1 < n && piece[i + 1] == '\n') break;
      escaped = true;
      i += 2;
      continue;
    }
    if (piece[i] == '$') literal = false;
    ++i;
  }
  if (i < n && piece[i] == '[') {
    substitute(KIND::BARE_REST, part, i, at);
    return STEP::DONE;
  }
  if (i >= n && !last) return STEP::STOP;
  i = std::min(i, n);
  if (!literal) {
    word_done(nullptr);
    *at = i;
    return STEP::DONE;
  }
  std::string_view const value = value_of(piece.substr(start, i - start), escaped);
  if (m_top.m_command == COMMAND::QUERY && m_keys_side == NAME_SIDE::ORIGINAL &&
      m_top.m_next == ROLE::DEFAULT && abbreviates(value, "-hierarchical", 3)) {
    // The flag and the blanks behind it, which go with it if it goes.
    std::size_t j = i;
    while (j < n && (piece[j] == ' ' || piece[j] == '\t')) ++j;
    if (j >= n && !last) return STEP::STOP;
    NAME_SPOT flag{};
    flag.m_start = start;
    flag.m_size = j - start;
    flag.m_form = SPOT_FORM::TCL_FLAG;
    m_spots->push_back(flag);
    word_done(&value);
    *at = j;
    return STEP::DONE;
  }
  if (part.m_element) {
    add_spot(start, i - start, value, SPOT_FORM::TCL_ARGUMENT, part, true);
  } else {
    std::string_view const element = braced_element(value);
    add_spot(start, i - start, element.data() != nullptr ? element : value, SPOT_FORM::TCL_WORD,
             part, element.data() != nullptr);
  }
  word_done(&value);
  *at = i;
  return STEP::DONE;
}

TCL_SCANNER::STEP TCL_SCANNER::step_list(std::string_view piece, bool last, std::size_t* at) {
  std::size_t const n = piece.size();
  std::size_t const start = *at;
  char const c = piece[start];
  if (is_space(c)) {
    ++*at;
    return STEP::DONE;
  }
  if (c == '}' && m_top.m_open == 0) {
    pop();
    word_done(nullptr);
    ++*at;
    return STEP::DONE;
  }
  PART const& part = m_top.m_part;
  if (c == '{') {
    std::size_t const i = closing_brace(piece, start);
    if (i >= n) {
      if (!last) return STEP::STOP;
      *at = n;
      return STEP::DONE;
    }
    if (part.m_role != ROLE::NONE) {
      add_spot(start, i + 1 - start, piece.substr(start + 1, i - start - 1), SPOT_FORM::TCL_ELEMENT,
               part, true);
    }
    *at = i + 1;
    return STEP::DONE;
  }
  if (c == '"') {
    // In braces, a "}" ends the list even inside quotes, as Tcl matches
    // braces before it reads elements.
    std::size_t depth = 0;
    std::size_t i = start + 1;
    for (; i < n && piece[i] != '"'; ++i) {
      if (piece[i] == '\\') {
        ++i;
      } else if (piece[i] == '{') {
        ++depth;
      } else if (piece[i] == '}') {
        if (depth == 0) break;
        --depth;
      }
    }
    if (i >= n && !last) return STEP::STOP;
    if (i >= n || piece[i] != '"') {
      *at = std::min(i, n);
      return STEP::DONE;
    }
    if (part.m_role != ROLE::NONE) {
      add_spot(start, i + 1 - start, piece.substr(start + 1, i - start - 1), SPOT_FORM::TCL_ELEMENT,
               part, true);
    }
    *at = i + 1;
    return STEP::DONE;
  }
  std::uint32_t open = m_top.m_open;
  std::size_t const i = bare_element_end(piece, start, &open);
  if (i >= n && !last) return STEP::STOP;
  m_top.m_open = open;
  if (part.m_role != ROLE::NONE) {
    add_spot(start, i - start, piece.substr(start, i - start), SPOT_FORM::TCL_ELEMENT, part, false);
  }
  *at = i;
  return STEP::DONE;
}

// The rest of a quoted or bare word after a command substitution in it.
TCL_SCANNER::STEP TCL_SCANNER::step_rest(std::string_view piece, bool last, std::size_t* at) {
  std::size_t const n = piece.size();
  std::size_t i = *at;
  bool const quoted = m_top.m_kind == KIND::QUOTE_REST;
  for (; i < n; ++i) {
    char const c = piece[i];
    if (quoted ? c == '"' : closes_word(c) || (c == '\\' && i + 1 < n && piece[i + 1] == '\n')) {
      pop();
      word_done(nullptr);
      *at = quoted ? i + 1 : i;
      return STEP::DONE;
    }
    if (c == '[') {
      FRAME script;
      script.m_close = ']';
      script.m_part = m_top.m_part;
      push(script);
      *at = i + 1;
      return STEP::DONE;
    }
    if (c == '\\') {
      if (i + 1 >= n && !last) {
        *at = i;
        return STEP::STOP;
      }
      ++i;
    }
  }
  *at = std::min(i, n);
  return STEP::DONE;
}

namespace {

// `value` as one Tcl word: bare where nothing in it is special, else in
// braces where they balance, else with backslashes; or in double quotes,
// its braces escaped too, so that a braced body around it (if, foreach,
// proc) keeps its balance.
void append_word(std::string_view value, bool quoted, std::string* out) {
  if (quoted) {
    out->push_back('"');
    append_escaped(value, "$[]\\\"{}", out);
    out->push_back('"');
  } else if (!value.empty() && !has_any(value, kWordSpecials)) {
    out->append(value);
  } else if (brace_safe(value)) {
    out->push_back('{');
    out->append(value);
    out->push_back('}');
  } else {
    append_escaped(value, kWordSpecials, out);
  }
}

}  // namespace

void TCL_LIST::start(SPOT_FORM form) {
  m_form = form;
  m_list.clear();
  m_count = 0;
}

bool TCL_LIST::add(std::string_view name) {
  if (m_form == SPOT_FORM::TCL_ARGUMENT || m_form == SPOT_FORM::TCL_QUOTED_ARGUMENT) {
    // Each name a word of the [list ...] of its own.
    if (m_count != 0) m_list.push_back(' ');
    append_word(name, m_form == SPOT_FORM::TCL_QUOTED_ARGUMENT, &m_list);
    ++m_count;
    return true;
  }
  if (m_form == SPOT_FORM::TCL_QUOTED_ELEMENT) {
    // Inside quotes an element is one run of bytes; its "$", "[", "]", "\\"
    // and '"' are escaped when it is written.
    // A leading '"' would open a quoted element when the query splits the list.
    if (name.empty() || name[0] == '"' || has_any(name, " \t\n\r\v\f{}")) return false;
    if (m_count != 0) m_list.push_back(' ');
    m_list.append(name);
    ++m_count;
    return true;
  }
  bool const in_braces = m_form == SPOT_FORM::TCL_ELEMENT;
  // An element is split off as object queries split their lists: white
  // space and braces group, backslashes stay. Inside a list in braces, an
  // element that holds "$" or "\\" is braced too: the braced word may be a
  // script that a command runs (redirect, eval), where these would be
  // substituted. Brackets stay bare, as converted names write bus bits.
  bool const plain = !name.empty() && !has_any(name, " \t\n\r\v\f") && name[0] != '{' &&
                     name[0] != '"' && !(in_braces && has_any(name, "{}$\\"));
  if (!plain && !brace_safe(name)) return false;
  if (m_count != 0) m_list.push_back(' ');
  if (!plain) m_list.push_back('{');
  m_list.append(name);
  if (!plain) m_list.push_back('}');
  ++m_count;
  return true;
}

namespace {

// `path`, an original in the map's form, with the backslash that a
// Verilog escaped name starting with "$" keeps written as timing tools
// write an escape: the map's "\\$auto" level becomes "\$auto", which a
// tool that read the same netlist reads as its $auto.
void append_kept_backslashes(std::string_view path, std::string* out) {
  bool level_start = true;
  for (std::size_t i = 0; i < path.size(); ++i) {
    char const c = path[i];
    if (level_start && path.substr(i, 3) == "\\\\$") ++i;
    level_start = c == '/';
    out->push_back(path[i]);
    if (c == '\\' && i + 1 < path.size()) out->push_back(path[++i]);
  }
}

}  // namespace

bool tcl_writable(std::string_view name, NAME_SIDE side) {
  // A "*" or "?" would make a query read an original as a pattern, and the
  // escapes of pattern characters differ from one timing tool to the next.
  return side != NAME_SIDE::ORIGINAL || !has_any(name, "*?");
}

void append_tcl_name(std::string_view name, NAME_SIDE side, char separator, std::string* out) {
  if (side == NAME_SIDE::ORIGINAL) {
    // A path that would start like an option keeps its "/".
    bool const root = name.size() > 1 && name[0] == '/' && name[1] != '-';
    append_kept_backslashes(root ? name.substr(1) : name, out);
    return;
  }
  std::size_t const start = out->size();
  out->append(name);
  if (separator != '/') {
    std::replace(out->begin() + static_cast<std::ptrdiff_t>(start), out->end(), '/', separator);
  }
}

bool TCL_LIST::writable() const {
  // A word of its own that starts like an option would be read as one
  // (list takes none).
  bool const word = m_form == SPOT_FORM::TCL_WORD || m_form == SPOT_FORM::TCL_QUOTED;
  return !word || m_count != 1 || !is_option(m_list);
}

void TCL_LIST::write(OUTPUT_BUFFER& out) {
  std::string_view const list = m_list;
  switch (m_form) {
    case SPOT_FORM::TCL_WORD:
    case SPOT_FORM::TCL_QUOTED:
      m_word.clear();
      append_word(list, m_form == SPOT_FORM::TCL_QUOTED, &m_word);
      out.put(m_word);
      return;
    case SPOT_FORM::TCL_QUOTED_ELEMENT:
      m_word.clear();
      append_escaped(list, "$[]\\\"", &m_word);
      out.put(m_word);
      return;
    default:
      break;
  }
  out.put(list);
}

}  // namespace zema_tool
