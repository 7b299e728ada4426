// What the command's two JSON readers (design files and Yosys netlists) share:
// one simdjson On Demand parser over an INPUT_TEXT, and the messages for
// malformed JSON, wrong types and unknown keys, each one line with a place.
#ifndef TOOLS_JSON_SUPPORT_H
#define TOOLS_JSON_SUPPORT_H

#include <cstddef>
#include <string>
#include <string_view>

#include <simdjson.h>

#include "tools/input_file.h"

namespace zema_tool {

namespace od = simdjson::ondemand;

// The document of one input, and the errors of reading it.
class JSON_INPUT {
 public:
  // Parses `input` (which must outlive this) with room for `max_depth`
  // levels of nesting. Throws TOOL_ERROR when the text is not JSON at all.
  JSON_INPUT(INPUT_TEXT const& input, std::size_t max_depth);
  JSON_INPUT(JSON_INPUT const&) = delete;
  JSON_INPUT& operator=(JSON_INPUT const&) = delete;

  od::document& document() { return m_document; }
  std::string const& name() const { return m_input.name(); }

  // Throws the TOOL_ERROR for a parser error: "NAME:LINE:COLUMN: malformed
  // JSON: PROBLEM" at the parser's position (or at the end of the top-level
  // value, when the problem is content after it).
  [[noreturn]] void malformed(simdjson::error_code error, std::string const& problem = "");
  void check(simdjson::error_code error) {
    if (error) malformed(error);
  }
  // The document's top-level object; throws when it is another value.
  od::object top_object();
  // Throws unless the document has been read to its end.
  void expect_end();

  od::json_type type_of(od::value& value) {
    od::json_type type;
    check(value.type().get(type));
    return type;
  }
  // A value for a message ("an object", "12", "\"clk\""), after making sure
  // that a scalar is a well-formed token: a misspelt literal is malformed
  // JSON, not a wrong type.
  std::string describe(od::value& value, od::json_type type);
  [[noreturn]] void wrong_type(od::value& value, od::json_type type, std::string const& place,
                               char const* expected);

 private:
  std::string position(char const* location) const;

  INPUT_TEXT const& m_input;
  od::parser m_parser;
  od::document m_document;
  bool m_started = false;  // whether m_document has a position to report
};

// "an object", "an array", "a string", ...
char const* json_type_words(od::json_type type);

// Appends ".KEY" to a place: the key as it is when it is a short plain word
// (letters, digits, "_", "$", "-"), else quoted and escaped, so that any key
// keeps the place on one line.
void append_key(std::string* place, std::string_view key);

// Where the first JSON value in `text` ends (just past it), skipping
// strings; text.size() when it does not end. For telling content after the
// document from a document that is cut short.
std::size_t end_of_first_value(std::string_view text);

}  // namespace zema_tool

#endif  // TOOLS_JSON_SUPPORT_H
