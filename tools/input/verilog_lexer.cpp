#include "tools/input/verilog_lexer.h"

#include <cstring>

#include "tools/input/json_input.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

constexpr bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v';
}
constexpr bool starts_identifier(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
constexpr bool continues_identifier(char c) {
  return starts_identifier(c) || (c >= '0' && c <= '9') || c == '$';
}
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_base(char c) {
  return c == 'b' || c == 'B' || c == 'o' || c == 'O' || c == 'd' || c == 'D' || c == 'h' ||
         c == 'H';
}
constexpr bool is_based_digit(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == 'x' || c == 'X' ||
         c == 'z' || c == 'Z' || c == '?' || c == '_';
}

// Directives that say nothing about names, and whether the rest of their
// line belongs to them.
struct DIRECTIVE {
  char const* m_name;
  bool m_takes_line;
};
DIRECTIVE const kSkippedDirectives[] = {{"timescale", true},
                                        {"celldefine", false},
                                        {"endcelldefine", false},
                                        {"resetall", false},
                                        {"nounconnected_drive", false},
                                        {"unconnected_drive", true},
                                        {"undef", true},
                                        {"line", true},
                                        {"pragma", true},
                                        {"begin_keywords", true},
                                        {"end_keywords", false},
                                        {"delay_mode_path", false},
                                        {"delay_mode_distributed", false},
                                        {"delay_mode_unit", false},
                                        {"delay_mode_zero", false}};

}  // namespace

bool looks_like_verilog(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && is_blank(text[at])) ++at;
  if (at == text.size()) return false;
  char const first = text[at];
  // No JSON text starts with a comment, a directive or an attribute.
  if (first == '/' || first == '`' || first == '(') return true;
  for (std::string_view const word :
       {std::string_view("module"), std::string_view("macromodule")}) {
    if (text.substr(at, word.size()) == word &&
        (at + word.size() == text.size() || !continues_identifier(text[at + word.size()]))) {
      return true;
    }
  }
  return false;
}

std::string VERILOG_LEXER::place(std::uint32_t at) const {
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < at && i < m_text.size(); ++i) {
    if (m_text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  return m_name + ":" + decimal(line) + ":" + decimal(at - line_start + 1);
}

void VERILOG_LEXER::fail(std::uint32_t at, std::string const& problem) const {
  throw TOOL_ERROR(place(at), problem);
}

namespace {

// Whether an attribute's text names `word` as a whole word.
bool names_word(std::string_view text, std::string_view word) {
  for (std::size_t at = text.find(word); at != std::string_view::npos;
       at = text.find(word, at + 1)) {
    std::size_t const end = at + word.size();
    if ((at == 0 || !continues_identifier(text[at - 1])) &&
        (end == text.size() || !continues_identifier(text[end]))) {
      return true;
    }
  }
  return false;
}

}  // namespace

void VERILOG_LEXER::skip() {
  std::size_t const size = m_text.size();
  bool boxed = false;
  while (m_at < size) {
    char const c = m_text[m_at];
    if (is_blank(c)) {
      ++m_at;
      continue;
    }
    char const next = m_at + 1 < size ? m_text[m_at + 1] : '\0';
    if (c == '/' && next == '/') {
      std::size_t const end = m_text.find('\n', m_at);
      m_at = end == std::string_view::npos ? size : end + 1;
    } else if (c == '/' && next == '*') {
      std::size_t const end = m_text.find("*/", m_at + 2);
      if (end == std::string_view::npos) fail(m_at, "a comment that does not end");
      m_at = end + 2;
    } else if (c == '(' && next == '*' && (m_at + 2 >= size || m_text[m_at + 2] != ')')) {
      // An attribute; its strings may hold "*)".
      std::size_t const start = m_at;
      m_at += 2;
      for (;;) {
        if (m_at + 1 >= size)
          fail(static_cast<std::uint32_t>(start), "an attribute that does not end");
        if (m_text[m_at] == '"') {
          m_at = string_end(static_cast<std::uint32_t>(m_at));
          continue;
        }
        if (m_text[m_at] == '*' && m_text[m_at + 1] == ')') break;
        ++m_at;
      }
      std::string_view const attribute = m_text.substr(start + 2, m_at - start - 2);
      boxed = boxed || names_word(attribute, "blackbox") || names_word(attribute, "whitebox");
      m_at += 2;
    } else if (c == '`') {
      skip_directive();
    } else {
      break;
    }
  }
  if (boxed) m_boxed_at = m_at;
}

std::size_t VERILOG_LEXER::string_end(std::uint32_t at) const {
  std::size_t end = at + 1;
  while (end < m_text.size() && m_text[end] != '"') end += m_text[end] == '\\' ? 2 : 1;
  if (end >= m_text.size()) fail(at, "a string that does not end");
  return end + 1;
}

void VERILOG_LEXER::skip_line() {
  // A backslash at the end of a line continues it (in `define).
  while (m_at < m_text.size() && m_text[m_at] != '\n') {
    if (m_text[m_at] == '\\' && m_at + 1 < m_text.size() && m_text[m_at + 1] == '\n') ++m_at;
    ++m_at;
  }
}

void VERILOG_LEXER::skip_directive() {
  std::size_t const start = m_at++;
  while (m_at < m_text.size() && continues_identifier(m_text[m_at])) ++m_at;
  std::string_view const name = m_text.substr(start + 1, m_at - start - 1);
  for (DIRECTIVE const& directive : kSkippedDirectives) {
    if (name == directive.m_name) {
      if (directive.m_takes_line) skip_line();
      return;
    }
  }
  if (name == "define") {
    skip_line();
    return;
  }
  if (name == "default_nettype") {
    while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t')) ++m_at;
    std::size_t const word = m_at;
    while (m_at < m_text.size() && continues_identifier(m_text[m_at])) ++m_at;
    m_implicit_nets = m_text.substr(word, m_at - word) != "none";
    return;
  }
  fail(static_cast<std::uint32_t>(start),
       quoted_text(m_text.substr(start, m_at - start)) + " is not supported in a netlist");
}

VERILOG_TOKEN VERILOG_LEXER::escaped_name() {
  std::size_t const start = m_at++;
  bool wide = false;
  while (m_at < m_text.size() && !is_blank(m_text[m_at])) {
    wide |= (static_cast<unsigned char>(m_text[m_at]) & 0x80) != 0;
    ++m_at;
  }
  std::string_view const name = m_text.substr(start + 1, m_at - start - 1);
  std::uint32_t const at = static_cast<std::uint32_t>(start);
  if (name.empty()) fail(at, "an escaped identifier without a name");
  if (std::memchr(name.data(), '\0', name.size()) != nullptr) fail(at, kNulInName);
  if (wide && !is_valid_utf8(name))
    fail(at, "the name " + quoted_text(name) + " is not valid UTF-8");
  return {name, at, VERILOG_TOKEN_KIND::NAME, true};
}

VERILOG_TOKEN VERILOG_LEXER::number() {
  std::size_t const start = m_at;
  std::size_t const size = m_text.size();
  while (m_at < size && (is_digit(m_text[m_at]) || m_text[m_at] == '_')) ++m_at;
  if (m_at + 1 < size && m_text[m_at] == '.' && is_digit(m_text[m_at + 1])) {
    for (++m_at; m_at < size && (is_digit(m_text[m_at]) || m_text[m_at] == '_');) ++m_at;
  }
  if (m_at > start && m_at < size && (m_text[m_at] == 'e' || m_text[m_at] == 'E')) {
    std::size_t exponent = m_at + 1;
    if (exponent < size && (m_text[exponent] == '+' || m_text[exponent] == '-')) ++exponent;
    if (exponent < size && is_digit(m_text[exponent])) {
      for (m_at = exponent; m_at < size && (is_digit(m_text[m_at]) || m_text[m_at] == '_');) {
        ++m_at;
      }
    }
  }
  // A size may stand apart from its base: 4 'b1010.
  std::size_t quote = m_at;
  while (m_at > start && quote < size && (m_text[quote] == ' ' || m_text[quote] == '\t')) ++quote;
  if (quote < size && m_text[quote] == '\'') {
    std::size_t base = quote + 1;
    if (base < size && (m_text[base] == 's' || m_text[base] == 'S')) ++base;
    if (base < size && is_base(m_text[base])) {
      std::size_t digits = base + 1;
      while (digits < size && (m_text[digits] == ' ' || m_text[digits] == '\t')) ++digits;
      m_at = digits;
      while (m_at < size && is_based_digit(m_text[m_at])) ++m_at;
      if (m_at == digits) fail(static_cast<std::uint32_t>(start), "a number without digits");
    } else if (m_at == start && base < size &&
               (m_text[base] == '0' || m_text[base] == '1' || m_text[base] == 'x' ||
                m_text[base] == 'X' || m_text[base] == 'z' || m_text[base] == 'Z')) {
      m_at = base + 1;  // '0, '1, 'x, 'z: every bit alike
    } else if (m_at == start) {
      fail(static_cast<std::uint32_t>(start), "a \"'\" that starts no number");
    }
  }
  return {m_text.substr(start, m_at - start), static_cast<std::uint32_t>(start),
          VERILOG_TOKEN_KIND::NUMBER, false};
}

VERILOG_TOKEN VERILOG_LEXER::next() {
  skip();
  std::size_t const size = m_text.size();
  std::uint32_t const at = static_cast<std::uint32_t>(m_at);
  if (m_at == size) return {std::string_view(), at, VERILOG_TOKEN_KIND::END, false};
  char const c = m_text[m_at];
  if (starts_identifier(c)) {
    std::size_t const start = m_at++;
    while (m_at < size && continues_identifier(m_text[m_at])) ++m_at;
    return {m_text.substr(start, m_at - start), at, VERILOG_TOKEN_KIND::NAME, false};
  }
  if (c == '\\') return escaped_name();
  if (is_digit(c) || c == '\'') return number();
  if (c == '"') {
    m_at = string_end(at);
    return {m_text.substr(at + 1, m_at - at - 2), at, VERILOG_TOKEN_KIND::STRING, false};
  }
  std::size_t const length =
      (c == '+' || c == '-') && m_at + 1 < size && m_text[m_at + 1] == ':' ? 2 : 1;
  m_at += length;
  return {m_text.substr(at, length), at, VERILOG_TOKEN_KIND::SYMBOL, false};
}

}  // namespace zema_tool
