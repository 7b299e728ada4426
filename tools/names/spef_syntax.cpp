#include "tools/names/spef_syntax.h"

#include <algorithm>
#include <cstring>

namespace zema_tool {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A number, or a triplet of them ("0.1:0.2:0.3"), rather than a node.
bool is_value(std::string_view word) {
  if (word.empty() || !(is_digit(word[0]) || word[0] == '-' || word[0] == '+' || word[0] == '.')) {
    return false;
  }
  return std::all_of(word.begin(), word.end(), [](char c) {
    return is_digit(c) || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E' || c == ':';
  });
}

// The position of the last `delimiter` in `text` that no backslash escapes,
// or npos.
std::size_t last_unescaped(std::string_view text, char delimiter) {
  std::size_t found = std::string_view::npos;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\') {
      ++i;
    } else if (text[i] == delimiter) {
      found = i;
    }
  }
  return found;
}

// Appends one level as SPEF writes an identifier; on the original side a
// "\/" of the map's form is a "/" of the level, and its other escapes stay
// backslashes. False for a byte that SPEF cannot write.
bool append_level(std::string_view level, NAME_SIDE side, char const* delimiters,
                  std::string* out) {
  // A bit index at the end is written in the bus delimiters, unescaped.
  std::size_t body = level.size();
  if (level.size() >= 4 && level.back() == ']') {
    std::size_t open = level.size() - 1;
    while (open > 0 && is_digit(level[open - 1])) --open;
    if (open > 1 && open < level.size() - 1 && level[open - 1] == '[') body = open - 1;
  }
  for (std::size_t i = 0; i < body; ++i) {
    if (side == NAME_SIDE::ORIGINAL && level[i] == '\\' && i + 1 < body && level[i + 1] == '/') {
      ++i;
    }
    unsigned char const c = static_cast<unsigned char>(level[i]);
    if (c <= ' ' || c == 0x7F) return false;
    bool const plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(level[i]) ||
                       c == '_' || c >= 0x80;
    if (!plain) out->push_back('\\');
    out->push_back(level[i]);
  }
  if (body < level.size()) {
    out->push_back(delimiters[2]);
    out->append(level.substr(body + 1, level.size() - body - 2));
    if (delimiters[3] != '\0') out->push_back(delimiters[3]);
  }
  return true;
}

}  // namespace

SPEF_SCANNER::SPEF_SCANNER(NAME_SIDE keys) : m_keys_side(keys) { reset(); }

void SPEF_SCANNER::reset() {
  m_delimiters[0] = '/';
  m_delimiters[1] = ':';
  m_delimiters[2] = '[';
  m_delimiters[3] = ']';
  m_section = SECTION::NONE;
  m_expect = EXPECT::NOTHING;
  m_skip = 0;
}

std::size_t SPEF_SCANNER::scan(std::string_view piece, bool last, std::vector<NAME_SPOT>* spots,
                               std::string* keys) {
  m_spots = spots;
  m_keys = keys;
  std::size_t const n = piece.size();
  std::size_t at = 0;
  while (at < n) {
    char const c = piece[at];
    if (c == '\n') {
      end_line();
      ++at;
      continue;
    }
    if (is_blank(c)) {
      ++at;
      continue;
    }
    if (c == '/' && at + 1 == n && !last) break;
    if (c == '/' && at + 1 < n && (piece[at + 1] == '/' || piece[at + 1] == '*')) {
      // A comment: to the line's end, or to "*/".
      bool const line = piece[at + 1] == '/';
      std::size_t const end = line ? piece.find('\n', at) : piece.find("*/", at + 2);
      if (end == std::string_view::npos) {
        if (!last) break;
        at = n;
      } else {
        at = line ? end : end + 2;
      }
      continue;
    }
    std::size_t i = at;
    if (c == '"') {
      for (++i; i < n && piece[i] != '"'; ++i) {
        if (piece[i] == '\\') ++i;
      }
      if (i >= n && !last) break;
      // A string ends the names of *DEFINE.
      if (m_expect == EXPECT::NAMES) m_expect = EXPECT::NOTHING;
      at = std::min(i + 1, n);
      continue;
    }
    while (i < n && !is_blank(piece[i]) && piece[i] != '\n') i += piece[i] == '\\' ? 2 : 1;
    if (i >= n && !last) break;
    i = std::min(i, n);
    token(piece, at, i);
    at = i;
  }
  return at;
}

void SPEF_SCANNER::end_line() {
  m_skip = 0;
  m_expect = m_section == SECTION::NAME_MAP   ? EXPECT::MAP_INDEX
             : m_section == SECTION::ELEMENTS ? EXPECT::ELEMENT_ID
                                              : EXPECT::NOTHING;
}

void SPEF_SCANNER::keyword(std::string_view word) {
  struct KEYWORD {
    char const* m_word;
    SECTION m_section;  // NONE: the section stays
    EXPECT m_expect;
    std::size_t m_skip;
  };
  static KEYWORD const kKeywords[] = {
      {"NAME_MAP", SECTION::NAME_MAP, EXPECT::NOTHING, 0},
      {"PORTS", SECTION::PORTS, EXPECT::NOTHING, 0},
      {"PHYSICAL_PORTS", SECTION::PORTS, EXPECT::NOTHING, 0},
      {"POWER_NETS", SECTION::NONE, EXPECT::NAMES, 0},
      {"GROUND_NETS", SECTION::NONE, EXPECT::NAMES, 0},
      {"DEFINE", SECTION::NONE, EXPECT::NAMES, 0},
      {"PDEFINE", SECTION::NONE, EXPECT::NAMES, 0},
      {"D_NET", SECTION::NET, EXPECT::NAME, 0},
      {"R_NET", SECTION::NET, EXPECT::NAME, 0},
      {"D_PNET", SECTION::NET, EXPECT::NAME, 0},
      {"R_PNET", SECTION::NET, EXPECT::NAME, 0},
      {"CONN", SECTION::CONN, EXPECT::NOTHING, 0},
      {"CAP", SECTION::ELEMENTS, EXPECT::NOTHING, 0},
      {"RES", SECTION::ELEMENTS, EXPECT::NOTHING, 0},
      {"INDUC", SECTION::ELEMENTS, EXPECT::NOTHING, 0},
      {"P", SECTION::NONE, EXPECT::PORT, 0},
      // A reduced net's driver and loads: a pin of an instance, or a port.
      {"DRIVER", SECTION::NONE, EXPECT::PORT, 0},
      {"RC", SECTION::NONE, EXPECT::PORT, 0},
      {"I", SECTION::NONE, EXPECT::NODE, 0},
      {"N", SECTION::NONE, EXPECT::NET_NODE, 0},
      {"C", SECTION::NONE, EXPECT::SKIP, 2},
      {"S", SECTION::NONE, EXPECT::SKIP, 2},
      {"L", SECTION::NONE, EXPECT::SKIP, 1},
      {"D", SECTION::NONE, EXPECT::SKIP, 1},
      {"V", SECTION::NONE, EXPECT::SKIP, 1},
      {"DIVIDER", SECTION::NONE, EXPECT::DIVIDER, 0},
      {"DELIMITER", SECTION::NONE, EXPECT::DELIMITER, 0},
      {"BUS_DELIMITER", SECTION::NONE, EXPECT::BUS_OPEN, 0},
  };
  if (word == "END") {
    m_section = SECTION::NONE;
    m_expect = EXPECT::NOTHING;
    return;
  }
  for (KEYWORD const& keyword : kKeywords) {
    if (word != keyword.m_word) continue;
    if (keyword.m_section != SECTION::NONE) m_section = keyword.m_section;
    m_expect = keyword.m_expect;
    m_skip = keyword.m_skip;
    return;
  }
  // Header fields, units and the like: their values are no names.
  m_expect = EXPECT::SKIP;
  m_skip = 0;
}

void SPEF_SCANNER::token(std::string_view piece, std::size_t start, std::size_t end) {
  std::string_view const word = piece.substr(start, end - start);
  if (word.size() > 1 && word[0] == '*' && !is_digit(word[1])) {
    keyword(word.substr(1));
    return;
  }
  switch (m_expect) {
    case EXPECT::NOTHING:
      return;
    case EXPECT::SKIP:
      if (m_skip > 0 && --m_skip == 0) m_expect = EXPECT::NOTHING;
      return;
    case EXPECT::MAP_INDEX:
      m_expect = EXPECT::NAME;
      return;
    case EXPECT::NAME:
      m_expect = EXPECT::NOTHING;
      add_name(start, word);
      return;
    case EXPECT::NAMES:
      add_name(start, word);
      return;
    case EXPECT::NODE:
    case EXPECT::NET_NODE:
      m_expect = EXPECT::NOTHING;
      add_node(start, word);
      return;
    case EXPECT::PORT:
      m_expect = EXPECT::NOTHING;
      // A port of the design is no instance; a port of an instance is
      // written as a node.
      if (last_unescaped(word, m_delimiters[1]) != std::string_view::npos) add_node(start, word);
      return;
    case EXPECT::ELEMENT_ID:
      m_expect = EXPECT::ELEMENT_NODES;
      return;
    case EXPECT::ELEMENT_NODES:
      if (!is_value(word) && last_unescaped(word, m_delimiters[1]) != std::string_view::npos) {
        add_node(start, word);
      }
      return;
    case EXPECT::DIVIDER:
      m_delimiters[0] = word[0];
      break;
    case EXPECT::DELIMITER:
      m_delimiters[1] = word[0];
      break;
    case EXPECT::BUS_OPEN:
      m_delimiters[2] = word[0];
      m_delimiters[3] = word.size() > 1 ? word[1] : '\0';
      if (word.size() == 1) {
        m_expect = EXPECT::BUS_CLOSE;
        return;
      }
      break;
    case EXPECT::BUS_CLOSE:
      m_delimiters[3] = word[0];
      break;
  }
  m_expect = EXPECT::NOTHING;
}

void SPEF_SCANNER::pass_word(std::string_view word) {
  std::vector<NAME_SPOT>* const spots = m_spots;
  m_spots = nullptr;
  token(word, 0, word.size());
  m_spots = spots;
}

void SPEF_SCANNER::add_name(std::size_t start, std::string_view text) {
  if (m_spots == nullptr) return;              // a word passing unscanned
  if (text.empty() || text[0] == '*') return;  // a name-map reference
  NAME_SPOT spot{};
  spot.m_start = start;
  spot.m_size = text.size();
  spot.m_form = SPOT_FORM::SPEF_NAME;
  spot.m_role = SPOT_ROLE::NAME;
  spot.m_copied = true;
  std::memcpy(spot.m_spef, m_delimiters, sizeof m_delimiters);
  if (m_keys_side == NAME_SIDE::ORIGINAL) m_keys->push_back('/');
  spot.m_key = m_keys->size();
  decode(text);
  spot.m_key_size = m_keys->size() - spot.m_key;
  m_spots->push_back(spot);
}

void SPEF_SCANNER::add_node(std::size_t start, std::string_view text) {
  if (m_spots == nullptr) return;  // a word passing unscanned
  std::size_t const at = last_unescaped(text, m_delimiters[1]);
  if (at == std::string_view::npos) {
    add_name(start, text);
    return;
  }
  std::string_view const suffix = text.substr(at + 1);
  if (suffix.empty() || std::all_of(suffix.begin(), suffix.end(), is_digit)) {
    // A node of a net: the net is the name.
    add_name(start, text.substr(0, at));
    return;
  }
  if (text[0] == '*') return;
  NAME_SPOT spot{};
  spot.m_start = start;
  spot.m_size = text.size();
  spot.m_form = SPOT_FORM::SPEF_NODE;
  spot.m_role = SPOT_ROLE::NAME;
  spot.m_copied = true;
  std::memcpy(spot.m_spef, m_delimiters, sizeof m_delimiters);
  if (m_keys_side == NAME_SIDE::ORIGINAL) m_keys->push_back('/');
  spot.m_key = m_keys->size();
  decode(text.substr(0, at));
  spot.m_node = m_keys->size() - spot.m_key;
  m_keys->push_back('/');
  // The pin, read as one more level.
  char const divider = m_delimiters[0];
  m_delimiters[0] = '\0';
  decode(suffix);
  m_delimiters[0] = divider;
  spot.m_key_size = m_keys->size() - spot.m_key;
  m_spots->push_back(spot);
}

void SPEF_SCANNER::decode(std::string_view text) {
  char const divider = m_delimiters[0];
  std::size_t i = 0;
  if (!text.empty() && text[0] == divider) ++i;
  auto const append = [this](char c) {
    if (c == '/' && m_keys_side == NAME_SIDE::ORIGINAL) m_keys->push_back('\\');
    m_keys->push_back(c);
  };
  while (i < text.size()) {
    char const c = text[i];
    if (c == '\\' && i + 1 < text.size()) {
      append(text[i + 1]);
      i += 2;
      continue;
    }
    if (c == divider) {
      m_keys->push_back('/');
      ++i;
      continue;
    }
    if (c == m_delimiters[2]) {
      // A bit index ends its level: digits, and the closing delimiter.
      std::size_t j = i + 1;
      while (j < text.size() && is_digit(text[j])) ++j;
      bool const closed = m_delimiters[3] != '\0' && j < text.size() && text[j] == m_delimiters[3];
      std::size_t const after = closed ? j + 1 : j;
      if (j > i + 1 && (closed || m_delimiters[3] == '\0') &&
          (after == text.size() || text[after] == divider)) {
        m_keys->push_back('[');
        m_keys->append(text.substr(i + 1, j - i - 1));
        m_keys->push_back(']');
        i = after;
        continue;
      }
    }
    append(c);
    ++i;
  }
}

std::size_t spef_pin_delimiter(std::string_view node, char delimiter) {
  std::size_t const at = last_unescaped(node, delimiter);
  return at == std::string_view::npos ? node.size() : at;
}

bool write_spef_path(std::string_view name, NAME_SIDE side, char const* delimiters,
                     std::string* out) {
  std::size_t const kept = out->size();
  if (!name.empty() && name[0] == '/' && side == NAME_SIDE::ORIGINAL) name.remove_prefix(1);
  if (name.empty()) return false;  // the root has no path
  std::size_t start = 0;
  for (std::size_t i = 0; i <= name.size(); ++i) {
    if (i < name.size() && name[i] != '/') {
      if (name[i] == '\\' && side == NAME_SIDE::ORIGINAL && i + 1 < name.size()) ++i;
      continue;
    }
    if (start > 0) out->push_back(delimiters[0]);
    if (!append_level(name.substr(start, i - start), side, delimiters, out)) {
      out->resize(kept);
      return false;
    }
    start = i + 1;
  }
  return true;
}

}  // namespace zema_tool
