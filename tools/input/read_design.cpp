#include "tools/input/read_design.h"

#include <string_view>
#include <utility>

#include "tools/input/cell_library.h"
#include "tools/input/design_file_reader.h"
#include "tools/input/verilog_lexer.h"
#include "tools/input/verilog_reader.h"
#include "tools/input/yosys_reader.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// The first key of the top-level object, as it is written, or empty.
std::string_view first_key(std::string_view text) {
  std::size_t i = 0;
  auto skip_blanks = [&] {
    while (i < text.size() && is_json_blank(text[i])) ++i;
  };
  skip_blanks();
  if (i == text.size() || text[i] != '{') return std::string_view();
  ++i;
  skip_blanks();
  if (i == text.size() || text[i] != '"') return std::string_view();
  std::size_t const start = ++i;
  while (i < text.size() && text[i] != '"' && text[i] != '\\') ++i;
  if (i == text.size() || text[i] != '"') return std::string_view();
  return text.substr(start, i - start);
}

// Runs a JSON reader, whose problems are placed by their path in the
// document ("root.children[1]", "modules.top.cells.u1"), and puts the file
// in front of such a place, so that a command that reads two designs (diff,
// migrate) says which one is wrong. Places the reader gives with the file
// already ("FILE:LINE:COLUMN") stay as they are.
template <class READ>
void read_placed(INPUT_TEXT const& text, READ&& read) {
  try {
    read();
  } catch (TOOL_ERROR& error) {
    std::string const& name = text.name();
    std::string& place = error.m_place;
    bool const has_file = place.size() > name.size() && place.compare(0, name.size(), name) == 0 &&
                          place[name.size()] == ':';
    if (place == "top level") {
      place = name;
    } else if (!has_file && place != name) {
      place = name + ": " + place;
    }
    throw;
  }
}

}  // namespace

INPUT_FORMAT detect_format(INPUT_TEXT const& text, INPUT_FORMAT format) {
  if (format != INPUT_FORMAT::AUTO && format != INPUT_FORMAT::NETLIST) return format;
  if (looks_like_verilog(text.view())) return INPUT_FORMAT::VERILOG;
  if (format == INPUT_FORMAT::NETLIST) return INPUT_FORMAT::YOSYS;
  std::string_view const key = first_key(text.view());
  if (key == "creator" || key == "modules" || key == "models") return INPUT_FORMAT::YOSYS;
  return INPUT_FORMAT::ZEMA;
}

void read_records(INPUT_TEXT const& text, READ_OPTIONS const& options, DESIGN_RECORDS* records) {
  INPUT_FORMAT const format = detect_format(text, options.m_format);
  // A text that may be a netlist got past the first bytes a JSON text may
  // start with; a JSON reader refuses it as JSON.
  if (format != INPUT_FORMAT::VERILOG) refuse_unless_json(text);
  if (format == INPUT_FORMAT::ZEMA) {
    read_placed(text,
                [&] { read_design_file(text, records, options.m_format == INPUT_FORMAT::AUTO); });
    // A design file's atoms have their types and oterms, and its root is
    // its own: a cell library or a top module given for it would be taken
    // for nothing, and is likely a mistake.
    for (auto const& [given, option] :
         {std::pair<bool, char const*>{!options.m_liberty.empty(), "--liberty is not read"},
          {!options.m_top.empty(), "--top is not used"}}) {
      if (given) {
        records->m_warnings.push_back(text.name() + " is a design file, not a netlist: " + option);
      }
    }
  } else {
    CELL_LIBRARY library;
    for (std::string const& path : options.m_liberty) {
      read_liberty(INPUT_TEXT::read(path, options.m_max_input_size, true), &library);
    }
    if (format == INPUT_FORMAT::VERILOG) {
      read_verilog_netlist(text, options, &library, records);
    } else {
      read_placed(text, [&] { read_yosys_netlist(text, options, &library, records); });
    }
  }
  // A design file's size bounds its records; what the design builds from
  // them is refused here, before anything is built.
  std::pair<std::uint64_t, char const*> const counts[] = {
      {records->m_names.size(), "instance names"},
      {records->m_atoms.size(), "atoms"},
      {records->m_oterms.size(), "oterms"}};
  for (auto const& count : counts) {
    if (count.first > options.m_max_instances) {
      throw TOOL_ERROR(text.name(), "the design has " + count_over_limit(count.first, count.second,
                                                                         options.m_max_instances));
    }
  }
  std::uint64_t const bytes = records->full_name_bytes();
  if (bytes > options.m_max_name_bytes) {
    throw TOOL_ERROR(text.name(),
                     "the design has " + bytes_over_limit(bytes, options.m_max_name_bytes));
  }
  // What the records say of each other (ids, scopes, which atoms the
  // hierarchy names) is placed by path too.
  read_placed(text, [&] { records->resolve(); });
}

}  // namespace zema_tool
