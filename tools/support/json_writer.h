// JSON_WRITER: JSON written as it is produced, into an OUTPUT_BUFFER: the one
// JSON writer of every command's output (rows, explanations, checks, design
// files).
//
// The writer places the separators itself and checks the nesting: a value
// where a key is due, a key outside an object, or a close that does not match
// its open throws std::logic_error, a bug in the caller. Strings from the
// input go through the JSON escaper (text_format.h), so a value never breaks
// a line or the document.
//
// Two styles: COMPACT (",", ":") for files that programs read, SPACED (", ",
// ": ") for what people read too. An array may put each item on a line of its
// own after an indent, which keeps a million rows greppable.
#ifndef TOOLS_SUPPORT_JSON_WRITER_H
#define TOOLS_SUPPORT_JSON_WRITER_H

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "tools/support/output_buffer.h"

namespace zema_tool {

enum class JSON_STYLE { COMPACT, SPACED };

class JSON_WRITER {
 public:
  JSON_WRITER(OUTPUT_BUFFER& out, JSON_STYLE style)
      : m_out(out),
        m_comma(style == JSON_STYLE::SPACED ? ", " : ","),
        m_colon(style == JSON_STYLE::SPACED ? ": " : ":") {}
  JSON_WRITER(JSON_WRITER const&) = delete;
  JSON_WRITER& operator=(JSON_WRITER const&) = delete;

  void begin_object() {
    before_value();
    m_out.put('{');
    m_levels.push_back({false, true, nullptr});
  }
  void end_object() {
    close(false);
    m_out.put('}');
  }
  // With `line_indent`, each item goes on a line of its own after that
  // indent, and the closing bracket on a line of its own.
  void begin_array(char const* line_indent = nullptr) {
    before_value();
    m_out.put('[');
    m_levels.push_back({true, true, line_indent});
  }
  void end_array() {
    LEVEL const level = m_levels.empty() ? LEVEL{} : m_levels.back();
    close(true);
    if (level.m_indent != nullptr && !level.m_first) m_out.put('\n');
    m_out.put(']');
  }

  // A key of the command's own, which needs no escape.
  void key(std::string_view key) {
    if (m_levels.empty() || m_levels.back().m_array || m_key_pending) misuse("a key");
    put_separator(m_levels.back());
    m_out.put('"');
    m_out.put(key);
    m_out.put('"');
    m_out.put(m_colon);
    m_key_pending = true;
  }

  // A text from the input, escaped.
  void string(std::string_view text) {
    before_value();
    m_out.put_json(text);
  }
  // A word of the command's own ("atom", "fusion") or a text of legal name
  // bytes only, quoted as it is.
  void word(std::string_view text) {
    before_value();
    m_out.put('"');
    m_out.put(text);
    m_out.put('"');
  }
  // A string whose bytes the caller puts into the buffer between these two
  // calls: text of the command's own that needs no escape.
  void begin_raw_string() {
    before_value();
    m_out.put('"');
  }
  void end_raw_string() { m_out.put('"'); }
  void number(std::uint64_t value) {
    before_value();
    m_out.put_uint(value);
  }
  void boolean(bool value) {
    before_value();
    m_out.put(value ? "true" : "false");
  }
  void null() {
    before_value();
    m_out.put("null");
  }

  // Ends the top-level value's line.
  void end_document() {
    if (!m_levels.empty()) misuse("the end of the document");
    m_out.put('\n');
  }

  std::size_t depth() const { return m_levels.size(); }

 private:
  struct LEVEL {
    bool m_array = false;
    bool m_first = true;
    char const* m_indent = nullptr;
  };

  [[noreturn]] static void misuse(char const* what) {
    throw std::logic_error(std::string("JSON_WRITER: ") + what + " out of place");
  }

  void put_separator(LEVEL& level) {
    if (!level.m_first) m_out.put(level.m_indent != nullptr ? std::string_view(",") : m_comma);
    if (level.m_indent != nullptr) {
      m_out.put('\n');
      m_out.put(level.m_indent);
    }
    level.m_first = false;
  }

  void before_value() {
    if (m_levels.empty()) return;
    LEVEL& level = m_levels.back();
    if (level.m_array) {
      put_separator(level);
    } else if (!m_key_pending) {
      misuse("a value without its key");
    }
    m_key_pending = false;
  }

  void close(bool array) {
    if (m_levels.empty() || m_levels.back().m_array != array || m_key_pending) {
      misuse(array ? "the end of an array" : "the end of an object");
    }
    m_levels.pop_back();
  }

  OUTPUT_BUFFER& m_out;
  std::string_view const m_comma;
  std::string_view const m_colon;
  std::vector<LEVEL> m_levels;
  bool m_key_pending = false;
};

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_JSON_WRITER_H
