// RECORD_WRITER: the rows of every command, as tab-separated lines under a
// header or as a JSON array with one object per line.
//
// A row is a list of fields, each written for both formats from one call:
// in TSV a field is its value, or a placeholder ("-") when it has none; in
// JSON it is `"key": value`, or `"key": null`. Every text from the design
// goes through the escaper of its format, so a row is always one line.
#ifndef TOOLS_OUTPUT_RECORD_WRITER_H
#define TOOLS_OUTPUT_RECORD_WRITER_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tools/support/output_buffer.h"

namespace zema_tool {

class RECORD_WRITER {
 public:
  // Starts the output: `header` (a tab-separated line, newline included) in
  // TSV; `json_open` in JSON, "[" for a bare array.
  RECORD_WRITER(OUTPUT_BUFFER& out, bool json, std::string_view header,
                std::string_view json_open = "[")
      : m_out(out), m_json(json) {
    m_out.put(m_json ? json_open : header);
  }

  void begin_row() {
    if (m_json) m_out.put(m_rows == 0 ? "\n  {" : ",\n  {");
    m_fields = 0;
    ++m_rows;
  }
  void end_row() { m_out.put(m_json ? '}' : '\n'); }

  // A word of the command's own ("atom", "hierarchy"), never escaped.
  void word(char const* key, std::string_view value) {
    start(key);
    if (m_json) m_out.put('"');
    m_out.put(value);
    if (m_json) m_out.put('"');
  }
  // A text from the design, or none (null).
  void text(char const* key, std::string_view const* value, std::string_view absent = "-") {
    start(key);
    if (value == nullptr) {
      m_out.put(m_json ? std::string_view("null") : absent);
    } else if (m_json) {
      m_out.put_json(*value);
    } else {
      m_out.put_field(*value);
    }
  }
  void text(char const* key, std::string_view value) { text(key, &value); }
  // A converted name, or none (null): legal bytes only, so TSV takes it as
  // it is, unscanned.
  void converted(char const* key, std::string_view const* value) {
    if (m_json || value == nullptr) return text(key, value);
    start(key);
    m_out.put(*value);
  }
  // A count or an id; `present` false writes null, or `absent` in TSV.
  void number(char const* key, std::uint64_t value, bool present = true,
              std::string_view absent = "-") {
    start(key);
    if (present) {
      m_out.put_uint(value);
    } else {
      m_out.put(m_json ? std::string_view("null") : absent);
    }
  }
  // An atom's place in the netlist, or an oterm's ("3.1"): a string in JSON.
  void index(char const* key, std::size_t atom, long oterm) {
    start(key);
    if (m_json) m_out.put('"');
    m_out.put_uint(atom);
    if (oterm >= 0) {
      m_out.put('.');
      m_out.put_uint(static_cast<std::uint64_t>(oterm));
    }
    if (m_json) m_out.put('"');
  }
  // A value already in JSON, written in JSON only: fields TSV leaves out.
  void json_only(char const* key, std::string_view json) {
    if (!m_json) return;
    start(key);
    m_out.put(json);
  }
  void json_only_number(char const* key, std::uint64_t value, bool present) {
    if (m_json) number(key, value, present);
  }

  // Ends the output: in JSON, the rows' last line end and `json_close`.
  void finish(std::string_view json_close = "]\n") {
    if (!m_json) return;
    if (m_rows != 0) m_out.put('\n');
    m_out.put(json_close);
  }

  std::size_t rows() const { return m_rows; }

 private:
  void start(char const* key) {
    if (m_json) {
      m_out.put(m_fields == 0 ? "\"" : ", \"");
      m_out.put(key);
      m_out.put("\": ");
    } else if (m_fields != 0) {
      m_out.put('\t');
    }
    ++m_fields;
  }

  OUTPUT_BUFFER& m_out;
  bool m_json;
  std::size_t m_rows = 0;
  std::size_t m_fields = 0;
};

}  // namespace zema_tool

#endif  // TOOLS_OUTPUT_RECORD_WRITER_H
