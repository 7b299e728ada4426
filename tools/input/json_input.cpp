#include "tools/input/json_input.h"

#include <algorithm>
#include <new>

#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether `text` is one JSON number token.
bool is_json_number(std::string_view text) {
  std::size_t i = 0;
  std::size_t const n = text.size();
  auto digits = [&] {
    std::size_t const start = i;
    while (i < n && is_digit(text[i])) ++i;
    return i > start;
  };
  if (i < n && text[i] == '-') ++i;
  if (i < n && text[i] == '0') {
    ++i;
  } else if (!digits()) {
    return false;
  }
  if (i < n && text[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    if (!digits()) return false;
  }
  return i == n;
}

// A raw token for a message: trailing blanks dropped, escaped, cut after 40
// bytes at a character boundary.
std::string token_text(std::string_view raw) {
  while (!raw.empty() && is_json_blank(raw.back())) raw.remove_suffix(1);
  bool const cut = raw.size() > 40;
  if (cut) {
    std::size_t end = 40;
    while (end > 36 && (static_cast<unsigned char>(raw[end]) & 0xc0) == 0x80) --end;
    raw = raw.substr(0, end);
  }
  std::string text;
  STRING_SINK sink{text};
  put_escaped(sink, raw, ESCAPE::FIELD);
  if (cut) text += "...";
  return text;
}

}  // namespace

char const* json_type_words(od::json_type type) {
  switch (type) {
    case od::json_type::object:
      return "an object";
    case od::json_type::array:
      return "an array";
    case od::json_type::string:
      return "a string";
    case od::json_type::number:
      return "a number";
    case od::json_type::boolean:
      return "a boolean";
    case od::json_type::null:
      return "null";
  }
  return "a value";
}

void append_key(std::string* place, std::string_view key) {
  bool const plain =
      !key.empty() && key.size() <= 40 && std::all_of(key.begin(), key.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || is_digit(c) || c == '_' ||
               c == '$' || c == '-';
      });
  if (!place->empty()) place->push_back('.');
  if (plain) {
    place->append(key);
  } else {
    place->append(quoted_text(key));
  }
}

std::size_t end_of_first_value(std::string_view text) {
  std::size_t i = 0;
  std::size_t const n = text.size();
  while (i < n && is_json_blank(text[i])) ++i;
  if (i == n) return n;
  if (text[i] != '{' && text[i] != '[') {
    // A scalar ends at the next blank or structural character.
    while (i < n && !is_json_blank(text[i]) && text[i] != ',' && text[i] != ']' && text[i] != '}' &&
           text[i] != '[' && text[i] != '{' && text[i] != ':') {
      if (text[i] == '"') {
        for (++i; i < n && text[i] != '"'; ++i) {
          if (text[i] == '\\') ++i;
        }
      }
      if (i < n) ++i;
    }
    return i;
  }
  std::size_t depth = 0;
  for (; i < n; ++i) {
    char const c = text[i];
    if (c == '"') {
      for (++i; i < n && text[i] != '"'; ++i) {
        if (text[i] == '\\') ++i;
      }
    } else if (c == '{' || c == '[') {
      ++depth;
    } else if (c == '}' || c == ']') {
      if (--depth == 0) return i + 1;
    }
  }
  return n;
}

JSON_INPUT::JSON_INPUT(INPUT_TEXT const& input, std::size_t max_depth)
    : m_input(input), m_max_depth(max_depth) {
  // Room for two levels past the limit: check_depth() refuses the first of
  // them, before the parser, which checks its depth only in builds with
  // its development checks, goes there.
  if (m_parser.allocate(std::max<std::size_t>(input.size(), 1), max_depth + 2)) {
    throw std::bad_alloc();
  }
  simdjson::padded_string_view const view(input.data(), input.size(), input.capacity());
  check(m_parser.iterate(view).get(m_document));
  m_started = true;
}

namespace {

// Where the first fault of the kinds the parser finds before it walks the
// document lies, which it reports with no place: the opening quote of a
// string the text ends inside, the first byte that is not UTF-8, a control
// byte inside a string; npos for any other fault.
std::size_t stage_one_fault(std::string_view text, simdjson::error_code error) {
  std::size_t const none = std::string_view::npos;
  if (error == simdjson::UTF8_ERROR) {
    for (std::size_t i = 0; i < text.size();) {
      std::size_t const length = utf8_sequence_length(text.substr(i));
      if (length == 0) return i;
      i += length;
    }
    return none;
  }
  if (error != simdjson::UNCLOSED_STRING && error != simdjson::UNESCAPED_CHARS) return none;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '"') continue;
    std::size_t const open = i;
    for (++i; i < text.size() && text[i] != '"'; ++i) {
      if (error == simdjson::UNESCAPED_CHARS && static_cast<unsigned char>(text[i]) < 0x20) {
        return i;
      }
      if (text[i] == '\\') ++i;
    }
    if (i >= text.size()) return error == simdjson::UNCLOSED_STRING ? open : none;
  }
  return none;
}

}  // namespace

std::string JSON_INPUT::position(char const* location) const {
  char const* const begin = m_input.data();
  std::size_t line = 1;
  char const* line_start = begin;
  for (char const* p = begin; p < location; ++p) {
    if (*p == '\n') {
      ++line;
      line_start = p + 1;
    }
  }
  return m_input.name() + ":" + decimal(line) + ":" +
         decimal(static_cast<std::uint64_t>(location - line_start) + 1);
}

void JSON_INPUT::malformed(simdjson::error_code error, std::string const& problem) {
  std::string const message =
      "malformed JSON: " +
      (problem.empty() ? std::string(simdjson::error_message(error)) : problem);
  char const* const begin = m_input.data();
  char const* const end = begin + m_input.size();
  char const* location = nullptr;
  if (!m_started || m_document.current_location().get(location) || location < begin ||
      location > end) {
    location = nullptr;
  }
  // Content after a complete top-level value confuses the parser's own
  // account (an unclosed "[" after the document makes the whole document look
  // unfinished): name the content and its place instead.
  std::string_view const text = m_input.view();
  std::size_t const value_end = end_of_first_value(text);
  std::size_t rest = value_end;
  while (rest < text.size() && is_json_blank(text[rest])) ++rest;
  if (m_started && value_end > 0 && rest < text.size() &&
      (error == simdjson::INCOMPLETE_ARRAY_OR_OBJECT || error == simdjson::TAPE_ERROR ||
       location == nullptr || location >= begin + value_end)) {
    throw TOOL_ERROR(position(begin + rest),
                     "malformed JSON: unexpected content after the top-level value");
  }
  if (location == nullptr) {
    std::size_t const fault = stage_one_fault(text, error);
    if (fault == std::string_view::npos) throw TOOL_ERROR(m_input.name(), message);
    location = begin + fault;
  }
  throw TOOL_ERROR(position(location), message);
}

od::object JSON_INPUT::top_object() {
  od::json_type type;
  check(m_document.type().get(type));
  if (type != od::json_type::object) {
    throw TOOL_ERROR("top level", std::string("expected an object, got ") + json_type_words(type));
  }
  od::object top;
  check(m_document.get_object().get(top));
  return top;
}

void JSON_INPUT::expect_end() {
  // The document has a position left only when content follows its value.
  char const* rest = nullptr;
  if (!m_document.current_location().get(rest)) {
    malformed(simdjson::TAPE_ERROR, "unexpected content after the top-level value");
  }
}

bool JSON_INPUT::plain_text(char const* raw, std::string_view* text) {
  // The parser has checked that the string is closed, so the first quote
  // before any backslash is the closing one. The input is padded past its
  // end, as the parser requires, so the scan never leaves it.
  char const* end = raw;
  while (*end != '"' && *end != '\\') ++end;
  if (*end != '"') return false;
  *text = std::string_view(raw, static_cast<std::size_t>(end - raw));
  return true;
}

std::string_view JSON_INPUT::string_of(od::value& value, bool* unescaped) {
  std::string_view text;
  std::string_view const token = value.raw_json_token();
  if (plain_text(token.data() + 1, &text)) {
    od::raw_json_string consumed;
    check(value.get_raw_json_string().get(consumed));
    if (unescaped) *unescaped = false;
    return text;
  }
  check(value.get_string().get(text));
  if (unescaped) *unescaped = true;
  return text;
}

bool JSON_INPUT::is_well_formed(od::value& value, od::json_type type) {
  if (type == od::json_type::string) {
    std::string_view ignored;
    check(value.get_string().get(ignored));  // refuses a bad escape
    return true;
  }
  // The other scalars are checked by their text, which leaves them unread.
  std::string_view token = value.raw_json_token();
  while (!token.empty() && is_json_blank(token.back())) token.remove_suffix(1);
  switch (type) {
    case od::json_type::number:
      return is_json_number(token);
    case od::json_type::boolean:
      return token == "true" || token == "false";
    case od::json_type::null:
      return token == "null";
    default:
      return true;
  }
}

std::string JSON_INPUT::describe(od::value& value, od::json_type type) {
  if (type == od::json_type::object || type == od::json_type::array) {
    return json_type_words(type);
  }
  std::string raw = token_text(value.raw_json_token());
  if (!is_well_formed(value, type)) malformed(simdjson::INCORRECT_TYPE, "invalid token " + raw);
  return raw;
}

void JSON_INPUT::skip(od::value& value) {
  m_skip_stack.clear();
  // Opens an object or an array, or checks a scalar; gives whether a frame
  // was pushed.
  auto open = [this](od::value& item) {
    od::json_type const type = type_of(item);
    if (type == od::json_type::object || type == od::json_type::array) check_depth(item);
    if (type == od::json_type::object) {
      od::object object;
      check(item.get_object().get(object));
      SKIP_FRAME frame{true, {}, {}, {}, {}};
      check(object.begin().get(frame.m_field));
      check(object.end().get(frame.m_fields_end));
      m_skip_stack.push_back(frame);
      return true;
    }
    if (type == od::json_type::array) {
      od::array array;
      check(item.get_array().get(array));
      SKIP_FRAME frame{false, {}, {}, {}, {}};
      check(array.begin().get(frame.m_item));
      check(array.end().get(frame.m_items_end));
      m_skip_stack.push_back(frame);
      return true;
    }
    if (!is_well_formed(item, type)) {
      malformed(simdjson::INCORRECT_TYPE, "invalid token " + token_text(item.raw_json_token()));
    }
    return false;
  };
  // Moves the innermost open object or array past the child just read.
  auto next = [this] {
    if (m_skip_stack.empty()) return;
    SKIP_FRAME& frame = m_skip_stack.back();
    if (frame.m_object) {
      ++frame.m_field;
    } else {
      ++frame.m_item;
    }
  };
  open(value);
  while (!m_skip_stack.empty()) {
    SKIP_FRAME& frame = m_skip_stack.back();
    bool const done =
        frame.m_object ? frame.m_field == frame.m_fields_end : frame.m_item == frame.m_items_end;
    if (done) {
      m_skip_stack.pop_back();
      next();
      continue;
    }
    bool opened;  // `frame` is invalid once a child is opened
    if (frame.m_object) {
      od::field field;
      check((*frame.m_field).get(field));
      key_of(field);
      opened = open(field.value());
    } else {
      od::value item;
      check((*frame.m_item).get(item));
      opened = open(item);
    }
    if (!opened) next();
  }
}

void JSON_INPUT::check_depth(od::value& value) {
  // The value's own depth: 1 at the top level.
  if (static_cast<std::size_t>(value.current_depth()) <= m_max_depth) return;
  char const* location = nullptr;
  bool const placed = !value.current_location().get(location);
  throw TOOL_ERROR(placed ? position(location) : name(),
                   "malformed JSON: values nest deeper than " + decimal(m_max_depth) + " levels");
}

void JSON_INPUT::wrong_type(od::value& value, od::json_type type, std::string const& place,
                            char const* expected) {
  std::string const got = describe(value, type);
  throw TOOL_ERROR(place, std::string("expected ") + expected + ", got " + got);
}

}  // namespace zema_tool
