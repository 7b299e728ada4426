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
#include <optional>
#include <string_view>

#include "tools/support/json_writer.h"
#include "tools/support/output_buffer.h"
#include "tools/support/text_format.h"
#include "tools/support/words.h"

namespace zema_tool {

enum class ROW_FORMAT { TSV, JSON };
inline constexpr WORD<ROW_FORMAT> kRowFormatWords[] = {{ROW_FORMAT::TSV, "tsv"},
                                                       {ROW_FORMAT::JSON, "json"}};

class RECORD_WRITER {
 public:
  // A document of rows: `header` (a tab-separated line, newline included)
  // and the lines in TSV; a JSON array in JSON.
  RECORD_WRITER(OUTPUT_BUFFER& out, ROW_FORMAT format, std::string_view header) : m_out(out) {
    if (format == ROW_FORMAT::JSON) {
      m_own_json.emplace(out, JSON_STYLE::SPACED);
      m_json = &*m_own_json;
      m_json->begin_array("  ");
    } else {
      m_out.put(header);
    }
  }
  // The rows as the array that `json` writes next, inside a document of
  // the caller's.
  explicit RECORD_WRITER(JSON_WRITER& json, OUTPUT_BUFFER& out) : m_out(out), m_json(&json) {
    m_json->begin_array("  ");
  }
  RECORD_WRITER(RECORD_WRITER const&) = delete;
  RECORD_WRITER& operator=(RECORD_WRITER const&) = delete;

  void begin_row() {
    if (m_json != nullptr) m_json->begin_object();
    m_fields = 0;
  }
  void end_row() {
    if (m_json != nullptr) {
      m_json->end_object();
    } else {
      m_out.put('\n');
    }
  }

  // A word of the command's own ("atom", "hierarchy"), never escaped.
  void word(char const* key, std::string_view value) {
    if (start(key)) return m_json->word(value);
    m_out.put(value);
  }
  // A text from the design, or none (null).
  void text(char const* key, std::string_view const* value, std::string_view absent = "-") {
    if (start(key)) return value != nullptr ? m_json->string(*value) : m_json->null();
    if (value == nullptr) {
      m_out.put(absent);
    } else if (*value == absent) {
      // A text that reads as the placeholder ("-" names nothing) is written
      // as the escapes of its bytes, which readers of the rows undo.
      for (char const c : absent) put_byte_escape(m_out, static_cast<unsigned char>(c));
    } else {
      m_out.put_field(*value);
    }
  }
  void text(char const* key, std::string_view value) { text(key, &value); }
  // A converted name, or none (null): legal bytes only, so TSV takes it as
  // it is, unscanned.
  void converted(char const* key, std::string_view const* value) {
    if (m_json != nullptr || value == nullptr) return text(key, value);
    start(key);
    m_out.put(*value);
  }
  // A count or an id; `present` false writes null, or `absent` in TSV.
  void number(char const* key, std::uint64_t value, bool present = true,
              std::string_view absent = "-") {
    if (start(key)) return present ? m_json->number(value) : m_json->null();
    if (present) {
      m_out.put_uint(value);
    } else {
      m_out.put(absent);
    }
  }
  // An atom's place in the netlist, or an oterm's ("3.1"): a string in JSON.
  void index(char const* key, std::size_t atom, long oterm) {
    bool const json = start(key);
    if (json) m_json->begin_raw_string();
    put_row_index(m_out, atom, oterm);
    if (json) m_json->end_raw_string();
  }
  // The JSON writer when the rows are JSON, for fields that TSV leaves out;
  // null in TSV.
  JSON_WRITER* json_only(char const* key) {
    if (m_json == nullptr) return nullptr;
    m_json->key(key);
    return m_json;
  }

  // Ends the rows: the JSON array, and the document when it is this
  // writer's own.
  void finish() {
    if (m_json == nullptr) return;
    m_json->end_array();
    if (m_own_json) m_json->end_document();
  }

 private:
  // Starts a field; gives whether it is JSON (and its key is written).
  bool start(char const* key) {
    if (m_json != nullptr) {
      m_json->key(key);
      return true;
    }
    if (m_fields++ != 0) m_out.put('\t');
    return false;
  }

  OUTPUT_BUFFER& m_out;
  std::optional<JSON_WRITER> m_own_json;
  JSON_WRITER* m_json = nullptr;
  std::size_t m_fields = 0;
};

}  // namespace zema_tool

#endif  // TOOLS_OUTPUT_RECORD_WRITER_H
