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

// A row of a saved map, as compact as a map of millions of rows needs: its
// texts are views of the map.
struct SAVED_NAME {
  char const* m_converted;
  char const* m_original;
  std::uint32_t m_converted_size;
  std::uint32_t m_original_size;
  std::uint32_t m_id;
  MAP_KIND m_kind;
  ORIGIN m_origin;
  bool m_has_original;

  MAP_ROW row() const {
    return MAP_ROW{m_id,
                   std::string_view(m_converted, m_converted_size),
                   m_kind,
                   m_origin,
                   m_has_original ? std::optional<std::string_view>(
                                        std::string_view(m_original, m_original_size))
                                  : std::nullopt,
                   false,
                   0,
                   -1};
  }
};

class SAVED_NAMES {
 public:
  // Reads the map at `path`, refusing more than `max_rows` rows; throws
  // TOOL_ERROR for anything wrong with it, a kind or origin that is not one
  // of the map's words included.
  SAVED_NAMES(std::string const& path, std::uint64_t max_size, std::uint64_t max_rows);
  // The same, from `text` (for tests).
  SAVED_NAMES(INPUT_TEXT text, std::uint64_t max_rows);
  SAVED_NAMES(SAVED_NAMES const&) = delete;
  SAVED_NAMES& operator=(SAVED_NAMES const&) = delete;
  ~SAVED_NAMES();

  std::vector<SAVED_NAME> const& rows() const { return m_rows; }
  std::string const& name() const { return m_map.name(); }
  // Whether the map is the reversible strategy's.
  bool reversible() const { return m_reversible; }

  // The row of the converted full name `name` (one leading backslash
  // allowed), as lookup finds it, or null. The table behind it is made on
  // first need.
  SAVED_NAME const* find(std::string_view name);
  // The index of the map's names, with at least `sides`, made on first need.
  NAME_INDEX const& index(INDEX_SIDES sides);
  // The tree for explain, made on first need. Throws TOOL_ERROR for the map
  // of the reversible strategy.
  NAME_SOURCE& source();

 private:
  void add(SAVED_ROW const& row);

  SAVED_MAP m_map;
  std::vector<SAVED_NAME> m_rows;
  HASH_MAP<std::string_view, std::uint32_t> m_by_converted;
  bool m_reversible = false;
  std::unique_ptr<NAME_INDEX> m_index;
  std::unique_ptr<NAME_SOURCE> m_source;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_SAVED_NAMES_H
