// A small reader of Liberty's group syntax that stands in for the full
// Liberty reader until that lands, so that the netlist readers, their tests
// and examples can use --liberty: cells, their pin, bus and bundle groups
// with their directions, and the ff, latch and memory groups that give a
// cell its atom type (cell_library.h states the contract). Buses take their
// width from the library's type groups.
#include "tools/input/cell_library.h"

#include <charconv>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "h/cdb_net_sys.h"
#include "tools/output/text_format.h"
#include "tools/tool_error.h"

namespace zema_tool {
namespace {

struct TOKEN {
  std::string_view m_text;  // a word, a string's content, or one punctuation byte
  std::size_t m_at;
  bool m_string;
};

bool is_punctuation(char c) {
  return c == '(' || c == ')' || c == '{' || c == '}' || c == ':' || c == ';' || c == ',';
}
bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}

class LIBERTY_TOKENS {
 public:
  LIBERTY_TOKENS(std::string_view text, std::string const& name) : m_text(text), m_name(name) {}

  // The next token; an empty text at the end.
  TOKEN next() {
    skip();
    std::size_t const start = m_at;
    if (m_at == m_text.size()) return {std::string_view(), start, false};
    char const c = m_text[m_at];
    if (c == '"') {
      std::size_t const end = m_text.find('"', m_at + 1);
      if (end == std::string_view::npos) fail(start, "a string that does not end");
      m_at = end + 1;
      return {m_text.substr(start + 1, end - start - 1), start, true};
    }
    if (is_punctuation(c)) return {m_text.substr(m_at++, 1), start, false};
    while (m_at < m_text.size() && !is_blank(m_text[m_at]) && !is_punctuation(m_text[m_at]) &&
           m_text[m_at] != '"' && !starts_comment(m_at) && !continues_line(m_at)) {
      ++m_at;
    }
    return {m_text.substr(start, m_at - start), start, false};
  }

  [[noreturn]] void fail(std::size_t at, std::string const& problem) const {
    std::size_t line = 1;
    std::size_t line_start = 0;
    for (std::size_t i = 0; i < at && i < m_text.size(); ++i) {
      if (m_text[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    throw TOOL_ERROR(m_name + ":" + decimal(line) + ":" + decimal(at - line_start + 1), problem);
  }

 private:
  bool starts_comment(std::size_t at) const {
    return at + 1 < m_text.size() && m_text[at] == '/' &&
           (m_text[at + 1] == '*' || m_text[at + 1] == '/');
  }
  // A backslash that ends a line joins it to the next.
  bool continues_line(std::size_t at) const {
    std::size_t next = at + 1;
    while (next < m_text.size() && (m_text[next] == ' ' || m_text[next] == '\t')) ++next;
    return m_text[at] == '\\' &&
           (next == m_text.size() || m_text[next] == '\n' || m_text[next] == '\r');
  }
  void skip() {
    while (m_at < m_text.size()) {
      if (is_blank(m_text[m_at]) || continues_line(m_at)) {
        ++m_at;
      } else if (starts_comment(m_at) && m_text[m_at + 1] == '/') {
        while (m_at < m_text.size() && m_text[m_at] != '\n') ++m_at;
      } else if (starts_comment(m_at)) {
        std::size_t const end = m_text.find("*/", m_at + 2);
        if (end == std::string_view::npos) fail(m_at, "a comment that does not end");
        m_at = end + 2;
      } else {
        return;
      }
    }
  }

  std::string_view m_text;
  std::string const& m_name;
  std::size_t m_at = 0;
};

// One open group: its name, its first argument, and what it has gathered.
struct GROUP {
  std::string_view m_name;
  std::string_view m_argument;
  std::vector<std::string_view> m_arguments;
  std::string_view m_direction;
  std::string_view m_bus_type;
  std::uint32_t m_members = 0;
  std::uint32_t m_bit_width = 1;
  int m_atom_type = CDB_ATOM_COMB;
};

PIN_DIRECTION direction_of(std::string_view word) {
  if (word == "output") return PIN_DIRECTION::OUTPUT;
  if (word == "inout") return PIN_DIRECTION::INOUT;
  if (word == "internal") return PIN_DIRECTION::INTERNAL;
  return PIN_DIRECTION::INPUT;
}

// Reads one file's groups with an explicit stack of the open ones.
class LIBERTY_READER {
 public:
  LIBERTY_READER(INPUT_TEXT const& text, std::vector<CELL_TYPE>* types, std::vector<CELL_PIN>* pins,
                 std::uint32_t file)
      : m_tokens(text.view(), text.name()),
        m_size(text.view().size()),
        m_types(*types),
        m_pins(*pins),
        m_file(file) {}

  void read() {
    for (TOKEN token = m_tokens.next(); !token.m_text.empty() || token.m_string;
         token = m_tokens.next()) {
      if (!token.m_string && token.m_text == "}") {
        if (m_open.empty()) m_tokens.fail(token.m_at, "a \"}\" that closes no group");
        close_group();
      } else {
        read_statement(token);
      }
    }
    if (!m_open.empty()) m_tokens.fail(m_size, "a group that does not end");
  }

 private:
  void close_group() {
    GROUP const group = m_open.back();
    m_open.pop_back();
    GROUP* const parent = m_open.empty() ? nullptr : &m_open.back();
    bool const in_cell = parent != nullptr && parent->m_name == "cell";
    if (group.m_name == "type") {
      m_bus_widths[group.m_argument] = group.m_bit_width;
    } else if (in_cell &&
               (group.m_name == "pin" || group.m_name == "bus" || group.m_name == "bundle")) {
      std::uint32_t width = group.m_name == "bundle" ? group.m_members : 1;
      if (group.m_name == "bus") {
        auto const found = m_bus_widths.find(group.m_bus_type);
        width = found != m_bus_widths.end() ? found->second : 1;
      }
      for (std::string_view const name : group.m_arguments) {
        m_cell_pins.push_back({name, direction_of(group.m_direction), width});
      }
    } else if (in_cell && (group.m_name == "ff" || group.m_name == "ff_bank")) {
      parent->m_atom_type = CDB_ATOM_DFF;
    } else if (in_cell && (group.m_name == "latch" || group.m_name == "latch_bank")) {
      parent->m_atom_type = CDB_ATOM_LATCH;
    } else if (in_cell && group.m_name == "memory") {
      parent->m_atom_type = CDB_ATOM_RAM;
    } else if (group.m_name == "cell") {
      m_types.push_back({group.m_argument, group.m_atom_type,
                         static_cast<std::uint32_t>(m_pins.size()),
                         static_cast<std::uint32_t>(m_pins.size() + m_cell_pins.size()), m_file});
      m_pins.insert(m_pins.end(), m_cell_pins.begin(), m_cell_pins.end());
      m_cell_pins.clear();
    }
  }

  void read_statement(TOKEN const& token) {
    if (token.m_string || is_punctuation(token.m_text[0])) {
      m_tokens.fail(token.m_at,
                    "expected a group or an attribute, got " + quoted_text(token.m_text));
    }
    TOKEN const after = m_tokens.next();
    if (after.m_text == ":" && !after.m_string) {
      TOKEN const value = m_tokens.next();
      TOKEN const end = m_tokens.next();
      if (end.m_text != ";" || end.m_string) {
        m_tokens.fail(end.m_at, "expected \";\" after the value of " + quoted_text(token.m_text));
      }
      if (m_open.empty()) return;
      if (token.m_text == "direction") m_open.back().m_direction = value.m_text;
      if (token.m_text == "bus_type") m_open.back().m_bus_type = value.m_text;
      if (token.m_text == "bit_width") {
        std::uint32_t width = 0;
        std::from_chars(value.m_text.data(), value.m_text.data() + value.m_text.size(), width);
        m_open.back().m_bit_width = width;
      }
      return;
    }
    if (after.m_text != "(" || after.m_string) {
      m_tokens.fail(after.m_at, "expected \":\" or \"(\" after " + quoted_text(token.m_text));
    }
    GROUP group;
    group.m_name = token.m_text;
    for (TOKEN argument = m_tokens.next(); argument.m_string || argument.m_text != ")";
         argument = m_tokens.next()) {
      if (argument.m_text.empty() && !argument.m_string) {
        m_tokens.fail(argument.m_at, "a group or attribute that does not end");
      }
      if (argument.m_string || argument.m_text != ",") group.m_arguments.push_back(argument.m_text);
    }
    if (!group.m_arguments.empty()) group.m_argument = group.m_arguments[0];
    TOKEN const opening = m_tokens.next();
    if (opening.m_text == "{" && !opening.m_string) {
      m_open.push_back(group);
    } else if (opening.m_text == ";" && !opening.m_string) {
      if (group.m_name == "members" && !m_open.empty()) {
        m_open.back().m_members = static_cast<std::uint32_t>(group.m_arguments.size());
      }
    } else {
      m_tokens.fail(opening.m_at, "expected \"{\" or \";\" after " + quoted_text(token.m_text));
    }
  }

  LIBERTY_TOKENS m_tokens;
  std::size_t m_size;
  std::vector<CELL_TYPE>& m_types;
  std::vector<CELL_PIN>& m_pins;
  std::uint32_t m_file;
  std::unordered_map<std::string_view, std::uint32_t> m_bus_widths;
  std::vector<GROUP> m_open;
  std::vector<CELL_PIN> m_cell_pins;
};

}  // namespace

CELL_TYPE const* CELL_LIBRARY::find(std::string_view name) const {
  for (CELL_TYPE const& type : m_types) {
    if (type.m_name == name) return &type;
  }
  return nullptr;
}

void read_liberty(INPUT_TEXT text, CELL_LIBRARY* library) {
  library->m_texts.push_back(std::move(text));
  INPUT_TEXT const& kept = library->m_texts.back();
  library->m_files.push_back(kept.name());
  LIBERTY_READER(kept, &library->m_types, &library->m_pins,
                 static_cast<std::uint32_t>(library->m_files.size() - 1))
      .read();
}

}  // namespace zema_tool
