#include "tools/input/saved_map.h"

#include <cstring>
#include <utility>

#include "tools/input/json_input.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

constexpr std::string_view kHeader = "id\tconverted\tkind\torigin\toriginal";

// Rows nest two levels in the JSON form (the array, a row); their values
// are scalars.
constexpr std::size_t kMaxJsonDepth = 4;

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// An id of the map: decimal digits up to 4294967295.
bool parse_id(std::string_view text, std::uint32_t* id) {
  if (text.empty() || text.size() > 10) return false;
  std::uint64_t value = 0;
  for (char const c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xffffffffu) return false;
  *id = static_cast<std::uint32_t>(value);
  return true;
}

}  // namespace

bool is_saved_map(INPUT_TEXT const& text) {
  std::string_view const view = text.view();
  std::size_t const first = view.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return false;
  // The header's first field and its tab.
  std::string_view const start = kHeader.substr(0, kHeader.find('\t') + 1);
  return view[first] == '[' || view.substr(0, start.size()) == start;
}

std::string SAVED_MAP::place_of(SAVED_ROW const& row) const {
  return m_json ? name() + ": [" + decimal(row.m_at) + "]" : name() + ":" + decimal(row.m_at);
}

void SAVED_MAP::read(std::string const& path, std::uint64_t max_size, std::uint64_t max_rows,
                     VISIT const& visit) {
  parse(INPUT_TEXT::read(path, max_size, true), max_rows, visit);
}

void SAVED_MAP::parse(INPUT_TEXT text, std::uint64_t max_rows, VISIT const& visit) {
  m_text = std::move(text);
  std::string_view const view = m_text.view();
  std::size_t const first = view.find_first_not_of(" \t\r\n");
  m_json = first != std::string_view::npos && view[first] == '[';
  if (m_json) {
    parse_json(max_rows, visit);
  } else {
    parse_tsv(max_rows, visit);
  }
}

// One row a line; the texts are views of the file but where the writer
// escaped a byte (\xNN), which only control bytes and bytes that are not
// UTF-8 need: a name of the map never holds "\x" otherwise.
void SAVED_MAP::parse_tsv(std::uint64_t max_rows, VISIT const& visit) {
  std::string_view rest = m_text.view();
  std::string const& name = m_text.name();
  std::size_t line = 0;
  std::uint64_t rows = 0;
  std::string unescaped;
  while (!rest.empty()) {
    ++line;
    std::size_t const end = rest.find('\n');
    std::string_view text = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    if (!text.empty() && text.back() == '\r') text.remove_suffix(1);
    auto const place = [&] { return name + ":" + decimal(line); };
    if (line == 1) {
      if (text != kHeader) {
        throw TOOL_ERROR(place(),
                         "not a name map: the first line must be the header of "
                         "`zema map` (id, converted, kind, origin, original)");
      }
      continue;
    }
    std::string_view fields[5];
    std::size_t count = 0;
    for (std::size_t start = 0; count < 5;) {
      std::size_t const tab = text.find('\t', start);
      fields[count++] = text.substr(start, tab - start);
      if (tab == std::string_view::npos) break;
      start = tab + 1;
      if (count == 5) ++count;  // a sixth field
    }
    if (count != 5) {
      throw TOOL_ERROR(place(),
                       "expected 5 tab-separated fields (id, converted, kind, origin, "
                       "original), got " +
                           (count > 5 ? std::string("more") : decimal(count)));
    }
    SAVED_ROW row{0, fields[1], fields[2], fields[3], fields[4], fields[4] != "-", line};
    if (!parse_id(fields[0], &row.m_id)) {
      throw TOOL_ERROR(
          place(), "the id " + quoted_text(fields[0]) + " is not a number from 0 to 4294967295");
    }
    if (row.m_has_original && row.m_original.find("\\x") != std::string_view::npos) {
      unescaped.clear();
      std::string_view const original = row.m_original;
      for (std::size_t i = 0; i < original.size(); ++i) {
        char const c = original[i];
        if (c == '\\' && i + 3 < original.size() && original[i + 1] == 'x' &&
            hex_value(original[i + 2]) >= 0 && hex_value(original[i + 3]) >= 0) {
          char const byte =
              static_cast<char>(hex_value(original[i + 2]) * 16 + hex_value(original[i + 3]));
          // As a JSON map's \u0000: a name is a C string to every reader.
          if (byte == '\0') throw TOOL_ERROR(place(), kNulInName);
          unescaped.push_back(byte);
          i += 3;
        } else if (c == '\\' && i + 1 < original.size()) {
          // An escape of the original form itself ("\\/", "\\\\"): kept.
          unescaped.push_back(c);
          unescaped.push_back(original[++i]);
        } else {
          unescaped.push_back(c);
        }
      }
      row.m_original = m_unescaped.keep(unescaped);
    }
    if (++rows > max_rows) {
      throw TOOL_ERROR(
          place(), "the map has more than " + decimal(max_rows) + " rows (see --max-instances)");
    }
    visit(row);
  }
  if (line == 0) throw TOOL_ERROR(name, "not a name map: the file is empty");
}

void SAVED_MAP::parse_json(std::uint64_t max_rows, VISIT const& visit) {
  JSON_INPUT json(m_text, kMaxJsonDepth);
  od::array rows;
  json.check(json.document().get_array().get(rows));
  std::size_t index = 0;
  std::string const& name = m_text.name();
  for (auto result : rows) {
    od::value value;
    json.check(result.get(value));
    auto const place = [&] { return name + ": [" + decimal(index) + "]"; };
    od::object object = json.object_at(value, place);
    SAVED_ROW row{
        0,    std::string_view(), std::string_view(), std::string_view(), std::string_view(), false,
        index};
    unsigned seen = 0;
    // A text of the row: a view of the file when it has no escape, else a
    // copy, since the parser's buffer of unescaped strings is reused.
    auto const text = [&](od::value& field, char const* key) {
      std::string_view const got = json.name_at(field, [&] { return place() + "." + key; });
      return got.data() >= m_text.data() && got.data() < m_text.data() + m_text.size()
                 ? got
                 : m_unescaped.keep(got);
    };
    json.for_each_field(object, [&](std::string_view const key, od::value& field) {
      if (key == "id") {
        std::uint64_t id;
        od::json_type const type = json.type_of(field);
        if (type != od::json_type::number || field.get_uint64().get(id) || id > 0xffffffffu) {
          json.wrong_type(field, type, place() + ".id", "an id from 0 to 4294967295");
        }
        row.m_id = static_cast<std::uint32_t>(id);
        seen |= 1;
      } else if (key == "converted") {
        row.m_converted = text(field, "converted");
        seen |= 2;
      } else if (key == "kind") {
        row.m_kind = text(field, "kind");
        seen |= 4;
      } else if (key == "origin") {
        row.m_origin = text(field, "origin");
        seen |= 8;
      } else if (key == "original") {
        seen |= 16;
        if (json.type_of(field) == od::json_type::null) {
          json.skip(field);
        } else {
          row.m_original = text(field, "original");
          row.m_has_original = true;
        }
      } else if (key == "atom" || key == "oterm") {
        json.skip(field);
      } else {
        throw TOOL_ERROR(place(), "unknown key " + quoted_text(key) +
                                      " (expected \"id\", \"converted\", \"kind\", \"origin\", "
                                      "\"original\", \"atom\" or \"oterm\")");
      }
    });
    if (seen != 31) {
      throw TOOL_ERROR(place(),
                       "a row of the map needs \"id\", \"converted\", \"kind\", "
                       "\"origin\" and \"original\"");
    }
    if (index >= max_rows) {
      throw TOOL_ERROR(
          place(), "the map has more than " + decimal(max_rows) + " rows (see --max-instances)");
    }
    visit(row);
    ++index;
  }
  json.expect_end();
}

}  // namespace zema_tool
