// VERILOG_LEXER: the tokens of a structural Verilog netlist, with what lies
// between them taken out: white space, comments, attributes (* ... *) and
// the compiler directives that say nothing about names (`timescale,
// `celldefine, `default_nettype, `define lines, ...). A directive that
// would change the text (`include, `ifdef, a macro's use) is refused.
//
// Identifiers come as their names: a simple identifier as it is, an
// escaped one (\a[3].b followed by white space) without its backslash and
// the white space that ends it. Every token knows its byte offset, which
// place() turns into FILE:LINE:COLUMN for a message; nothing counts lines
// while reading. Every problem is a TOOL_ERROR at such a place.
#ifndef TOOLS_INPUT_VERILOG_LEXER_H
#define TOOLS_INPUT_VERILOG_LEXER_H

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace zema_tool {

// Whether a netlist's text may start with `c`, once white space is skipped:
// a comment, a directive, an attribute or "module". For telling a netlist
// from other input by its first byte.
constexpr bool verilog_may_start(char c) { return c == '/' || c == '`' || c == '(' || c == 'm'; }

// Whether `text` is a Verilog netlist: its first token, after comments,
// directives and attributes, is "module" or "macromodule".
bool looks_like_verilog(std::string_view text);

enum class VERILOG_TOKEN_KIND : std::uint8_t {
  END,     // the end of the text
  NAME,    // an identifier, keywords included
  NUMBER,  // a number as written: 12, 4'b10x1, 'h3F, 1.5
  STRING,  // a string's content, without quotes
  SYMBOL   // one symbol: ( ) [ ] { } , ; : . # = and any other, or +: and -:
};

struct VERILOG_TOKEN {
  std::string_view m_text;
  std::uint32_t m_at = 0;  // byte offset of the token in the text
  VERILOG_TOKEN_KIND m_kind = VERILOG_TOKEN_KIND::END;
  bool m_escaped = false;  // NAME: an escaped identifier, never a keyword
};

class VERILOG_LEXER {
 public:
  // Reads `text`, which must outlive the lexer; `name` is the input's name
  // for messages.
  VERILOG_LEXER(std::string_view text, std::string name) : m_text(text), m_name(std::move(name)) {}

  // The next token; END, again and again, at the end of the text.
  VERILOG_TOKEN next();
  // Whether `default_nettype none` holds where the lexer is.
  bool implicit_nets() const { return m_implicit_nets; }
  // Whether the token at `at` stands behind an attribute that says
  // "blackbox" or "whitebox": a module so marked is a type of cells.
  bool boxed(std::uint32_t at) const { return m_boxed_at == at; }
  // Back to the start of the text, as if nothing had been read.
  void rewind() {
    m_at = 0;
    m_implicit_nets = true;
    m_boxed_at = kNowhere;
  }

  // "FILE:LINE:COLUMN" of the byte at `at` (columns count bytes from 1).
  std::string place(std::uint32_t at) const;
  [[noreturn]] void fail(std::uint32_t at, std::string const& problem) const;
  std::string const& name() const { return m_name; }
  std::string_view text() const { return m_text; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(m_text.size()); }

 private:
  // Skips white space, comments, attributes and directives.
  void skip();
  void skip_directive();
  void skip_line();
  // Just past the string that starts at `at`.
  std::size_t string_end(std::uint32_t at) const;
  VERILOG_TOKEN escaped_name();
  VERILOG_TOKEN number();

  std::string_view m_text;
  std::string m_name;
  static constexpr std::size_t kNowhere = ~std::size_t{0};

  std::size_t m_at = 0;
  bool m_implicit_nets = true;
  std::size_t m_boxed_at = kNowhere;  // the token behind a "blackbox" attribute
};

}  // namespace zema_tool

#endif  // TOOLS_INPUT_VERILOG_LEXER_H
