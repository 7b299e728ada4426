// SAVED_MAP: a name map as `zema map` writes it, read back: the file users
// keep beside a written netlist, which translate, lookup, explain and diff
// take (--map) in place of converting the design again.
//
// Both forms are read, plain, xz or gzip: the tab-separated lines under the
// header "id converted kind origin original" (an original of "-" is none;
// \xNN stands for a byte the writer escaped), and the JSON array of objects
// with those keys (and "atom" and "oterm" for the rows of the reversible
// strategy, which are left aside). Kinds and origins are kept as the words
// they are written as; the engine gives them their meaning.
//
// The map's text stays with the SAVED_MAP: a row's texts are views of it, or
// of unescaped copies the SAVED_MAP keeps, and live as long as it does.
// Every problem is a TOOL_ERROR placed at "FILE:LINE" (TSV) or the JSON
// reader's "FILE:LINE:COLUMN" / "FILE: [ROW].KEY".
#ifndef TOOLS_INPUT_SAVED_MAP_H
#define TOOLS_INPUT_SAVED_MAP_H

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/input/input_file.h"
#include "tools/support/text_arena.h"

namespace zema_tool {

struct SAVED_ROW {
  std::uint32_t m_id;
  std::string_view m_converted;
  std::string_view m_kind;    // "instance", "atom", ...
  std::string_view m_origin;  // "hierarchy", "made-up" or "outside"
  std::string_view m_original;
  bool m_has_original;
  std::uint64_t m_at;  // its line (TSV) or its position in the array (JSON)
};

// Whether `text` is a saved map, by its first bytes: a JSON array (designs
// and netlists are objects, or Verilog), or a first line that starts as the
// TSV header does, so that a header with a mistake in it is told as one.
bool is_saved_map(INPUT_TEXT const& text);

class SAVED_MAP {
 public:
  typedef std::function<void(SAVED_ROW const&)> VISIT;

  // Reads the map at `path` ("-" for standard input) and calls visit(row)
  // for each row in order, refusing more than `max_rows` rows. The rows are
  // not kept: a map of millions of rows costs its text and what the visitor
  // keeps.
  void read(std::string const& path, std::uint64_t max_size, std::uint64_t max_rows,
            VISIT const& visit);
  // As read(), from `text` (for tests).
  void parse(INPUT_TEXT text, std::uint64_t max_rows, VISIT const& visit);

  std::string const& name() const { return m_text.name(); }
  // Where `row` is, for a message: "FILE:LINE" or "FILE: [I]".
  std::string place_of(SAVED_ROW const& row) const;
  // The map's rows roughly, from its size, for reserving room ahead.
  std::size_t expected_rows() const { return m_text.size() / 64 + 16; }

 private:
  void parse_tsv(std::uint64_t max_rows, VISIT const& visit);
  void parse_json(std::uint64_t max_rows, VISIT const& visit);

  INPUT_TEXT m_text;
  TEXT_ARENA m_unescaped;
  bool m_json = false;
};

}  // namespace zema_tool

#endif  // TOOLS_INPUT_SAVED_MAP_H
