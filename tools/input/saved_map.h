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
};

class SAVED_MAP {
 public:
  // Reads the map at `path` ("-" for standard input), refusing more than
  // `max_rows` rows.
  static SAVED_MAP read(std::string const& path, std::uint64_t max_size, std::uint64_t max_rows);
  // Reads a map from `text` (for tests).
  static SAVED_MAP parse(INPUT_TEXT text, std::uint64_t max_rows);

  std::vector<SAVED_ROW> const& rows() const { return m_rows; }
  std::string const& name() const { return m_text.name(); }

 private:
  void parse_tsv(std::uint64_t max_rows);
  void parse_json(std::uint64_t max_rows);

  INPUT_TEXT m_text;
  TEXT_ARENA m_unescaped;
  std::vector<SAVED_ROW> m_rows;
};

}  // namespace zema_tool

#endif  // TOOLS_INPUT_SAVED_MAP_H
