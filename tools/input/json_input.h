// What the command's two JSON readers (design files and Yosys netlists) share:
// one simdjson On Demand parser over an INPUT_TEXT, and the messages for
// malformed JSON, wrong types and unknown keys, each one line with a place.
#ifndef TOOLS_INPUT_JSON_INPUT_H
#define TOOLS_INPUT_JSON_INPUT_H

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <simdjson.h>

#include "tools/input/input_file.h"
#include "tools/support/tool_error.h"

namespace zema_tool {

namespace od = simdjson::ondemand;

// The one rule every reader applies to a text that becomes a name: it may
// hold any character but U+0000, which would end it early wherever the name
// is kept as a C string. Throws the TOOL_ERROR at place(), a function that
// builds the place only when it is needed.
constexpr char const* kNulInName = "a name must not contain the character U+0000";
template <class PLACE_TEXT>
void check_name_text(std::string_view name, PLACE_TEXT&& place) {
  if (name.find('\0') != std::string_view::npos) throw TOOL_ERROR(place(), kNulInName);
}

// The document of one input, and the errors of reading it.
class JSON_INPUT {
 public:
  // Parses `input` (which must outlive this) with room for `max_depth`
  // levels of nesting, the one limit of every value, read or skipped: a
  // deeper object or array is refused with its place, in every build.
  // Throws TOOL_ERROR when the text is not JSON at all.
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
  // The value as an object, an array or a string (which must hold no NUL,
  // as it becomes a name); else the TOOL_ERROR "expected ..., got ..." at
  // place(), a function that builds the place only when it is needed.
  template <class PLACE_TEXT>
  od::object object_at(od::value& value, PLACE_TEXT&& place) {
    expect(value, od::json_type::object, place, "an object");
    od::object object;
    check(value.get_object().get(object));
    return object;
  }
  template <class PLACE_TEXT>
  od::array array_at(od::value& value, PLACE_TEXT&& place) {
    expect(value, od::json_type::array, place, "an array");
    od::array array;
    check(value.get_array().get(array));
    return array;
  }
  template <class PLACE_TEXT>
  std::string_view name_at(od::value& value, PLACE_TEXT&& place) {
    expect(value, od::json_type::string, place, "a string");
    bool unescaped;
    std::string_view const text = string_of(value, &unescaped);
    // Only an escape can put a NUL in a string: the parser refuses raw ones.
    if (unescaped) check_name_text(text, place);
    return text;
  }
  // The text of a string value, which the caller knows to be a string. A
  // text without escapes is a view of the input itself; only one with
  // escapes is unescaped, into the parser's string buffer, and sets
  // *unescaped. Most names have none, so their bytes are not copied twice and
  // the string buffer's fresh pages are never touched.
  std::string_view string_of(od::value& value, bool* unescaped = nullptr);
  // Calls visit(key, value) for each field of `object` in order, the key
  // unescaped.
  template <class VISIT>
  void for_each_field(od::object& object, VISIT&& visit) {
    for (auto result : object) {
      od::field field;
      check(std::move(result).get(field));
      visit(key_of(field), field.value());
    }
  }
  // A field's key, unescaped; a view of the input when it has no escape.
  std::string_view key_of(od::field& field) {
    std::string_view key;
    if (plain_text(field.key().raw(), &key)) return key;
    check(field.unescaped_key().get(key));
    return key;
  }
  // Reads a value that the reader has no use for to its end, refusing
  // malformed JSON anywhere inside it: a file is well-formed or refused,
  // whatever parts of it a reader happens to look at. No recursion: the
  // nesting is as deep as the parser allows.
  void skip(od::value& value);
  // A value for a message ("an object", "12", "\"clk\""), after making sure
  // that a scalar is a well-formed token: a misspelt literal is malformed
  // JSON, not a wrong type.
  std::string describe(od::value& value, od::json_type type);
  [[noreturn]] void wrong_type(od::value& value, od::json_type type, std::string const& place,
                               char const* expected);

 private:
  template <class PLACE_TEXT>
  void expect(od::value& value, od::json_type wanted, PLACE_TEXT&& place, char const* words) {
    od::json_type const type = type_of(value);
    if (type != wanted) wrong_type(value, type, place(), words);
    if (wanted == od::json_type::object || wanted == od::json_type::array) check_depth(value);
  }
  // Refuses an object or array nested deeper than the limit.
  void check_depth(od::value& value);
  std::string position(char const* location) const;
  // Whether the string whose text starts at `raw` (just after its opening
  // quote) holds no escape; if so, *text is that text in the input.
  static bool plain_text(char const* raw, std::string_view* text);
  // Whether a scalar of `type` is one well-formed token. Reads a string;
  // leaves any other scalar unread.
  bool is_well_formed(od::value& value, od::json_type type);

  INPUT_TEXT const& m_input;
  std::size_t m_max_depth;
  od::parser m_parser;
  od::document m_document;
  bool m_started = false;  // whether m_document has a position to report

  // The open objects and arrays of skip(), kept to spare an allocation per
  // skipped value.
  struct SKIP_FRAME {
    bool m_object;
    od::object_iterator m_field;
    od::object_iterator m_fields_end;
    od::array_iterator m_item;
    od::array_iterator m_items_end;
  };
  std::vector<SKIP_FRAME> m_skip_stack;
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

#endif  // TOOLS_INPUT_JSON_INPUT_H
