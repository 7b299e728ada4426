// SAVED_NAMES: a saved name map (input/saved_map.h) as the engine's view of
// a design: the rows with their kinds and origins, each converted name's row
// for lookup, the name index for translate, and a NAME_SOURCE for explain.
// It is what translate, lookup, explain and diff use with --map, in place
// of converting the design again, and they give the same answers from it.
//
// Explain needs the map of the fusion strategy. The map holds no atom
// types: a made-up atom name's type is read from its stem, the longest type
// prefix it starts with, which is the type the converter gave it.
#ifndef TOOLS_NAMES_SAVED_NAMES_H
#define TOOLS_NAMES_SAVED_NAMES_H

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/input/saved_map.h"
#include "tools/names/explainer.h"
#include "tools/names/name_index.h"
#include "tools/names/name_map.h"
#include "tools/support/hash_table.h"

namespace zema_tool {

class SAVED_NAMES {
 public:
  // Takes `map`'s rows; throws TOOL_ERROR for a kind or origin that is not
  // one of the map's words, placed at the row.
  explicit SAVED_NAMES(SAVED_MAP map);
  SAVED_NAMES(SAVED_NAMES const&) = delete;
  SAVED_NAMES& operator=(SAVED_NAMES const&) = delete;
  ~SAVED_NAMES();

  std::vector<MAP_ROW> const& rows() const { return m_rows; }
  std::string const& name() const { return m_map.name(); }
  // Whether the map is the reversible strategy's.
  bool reversible() const { return m_reversible; }

  // The row of the converted full name `name` (one leading backslash
  // allowed), as lookup finds it, or null.
  MAP_ROW const* find(std::string_view name) const;
  // The index of the map's names, made on first need.
  NAME_INDEX const& index();
  // The tree for explain, made on first need. Throws TOOL_ERROR for the map
  // of the reversible strategy.
  NAME_SOURCE& source();

 private:
  SAVED_MAP m_map;
  std::vector<std::string_view> m_originals;  // per row, for m_rows' pointers
  std::vector<MAP_ROW> m_rows;
  HASH_MAP<std::string_view, std::uint32_t> m_by_converted;
  bool m_reversible = false;
  std::unique_ptr<NAME_INDEX> m_index;
  std::unique_ptr<NAME_SOURCE> m_source;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_SAVED_NAMES_H
