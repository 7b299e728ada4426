// The name map's rows: every converted name with the design's original name
// beside it. `zema map` writes them; translate and explain index them.
#ifndef TOOLS_NAMES_NAME_MAP_H
#define TOOLS_NAMES_NAME_MAP_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tools/names/conversion.h"
#include "tools/names/original_names.h"
#include "tools/support/words.h"

namespace zema_tool {

// Where a row's converted name comes from: a node of the hierarchy, a name
// the fusion converter made up, or (reversible) a name outside the
// hierarchy.
enum class ORIGIN : std::uint8_t { HIERARCHY, MADE_UP, OUTSIDE };
inline constexpr WORD<ORIGIN> kOriginWords[] = {
    {ORIGIN::HIERARCHY, "hierarchy"}, {ORIGIN::MADE_UP, "made-up"}, {ORIGIN::OUTSIDE, "outside"}};

// What a name stands for in the object queries of constraints, which ask
// for cells or for nets: an atom or an instance of the hierarchy is a cell,
// an oterm the net it drives. CLASS_ANY: not said (the tables a migration
// builds), and fits every query.
enum OBJECT_CLASS : std::uint8_t { CLASS_ANY = 0, CLASS_CELL = 1, CLASS_NET = 2 };

struct MAP_ROW {
  unsigned m_id;
  std::string_view m_converted;
  MAP_KIND m_kind;
  ORIGIN m_origin;
  std::optional<std::string_view> m_original;  // none when the id names nothing
  bool m_has_netlist_place;                    // reversible rows: the next two are set
  std::size_t m_atom;
  long m_oterm;  // the oterm's position among its atom's, or -1

  bool names_something() const { return m_kind != MAP_KIND::SUPERSEDED; }
  // How well the row stands for its original where several share it: 3 a
  // node of the hierarchy that names an atom or oterm, 2 a made-up atom
  // name (the cell an instance stands for), 1 a made-up oterm name, 0 an
  // instance that names neither. A constraint on a cell (get_cells /u/ff)
  // means the atom that is the cell in the converted netlist. Two of rank 3
  // or 0 never share an original: paths of the hierarchy are unique.
  unsigned rank() const {
    if (m_kind == MAP_KIND::INSTANCE) return 0;
    if (m_origin == ORIGIN::HIERARCHY) return 3;
    return m_kind == MAP_KIND::OTERM ? 1 : 2;
  }
  // An atom and its oterm named by one node are both.
  OBJECT_CLASS object_class() const {
    if (m_kind == MAP_KIND::ATOM_AND_OTERM) return CLASS_ANY;
    return m_kind == MAP_KIND::OTERM ? CLASS_NET : CLASS_CELL;
  }
};

// The rows of the name map, one at a time. Fusion: one row per node of the
// tree but the root, depth first, siblings in byte order of their names.
// Reversible: one row per atom and oterm that has a converted full name, in
// netlist order.
class NAME_MAP_CURSOR {
 public:
  // `conversion` and `originals` must outlive the cursor.
  NAME_MAP_CURSOR(CONVERSION const& conversion, ORIGINAL_NAMES& originals);
  NAME_MAP_CURSOR(NAME_MAP_CURSOR const&) = delete;
  NAME_MAP_CURSOR& operator=(NAME_MAP_CURSOR const&) = delete;

  // The next row, valid until the next call; null after the last.
  MAP_ROW const* next();

 private:
  MAP_ROW const* next_fusion();
  MAP_ROW const* next_reversible();

  CONVERSION const& m_conversion;
  ORIGINAL_NAMES& m_originals;
  std::optional<TREE_WALK> m_walk;  // fusion
  FULL_PATH m_hierarchy_path;       // the original path of the hierarchy node the walk is at
  ROW_CURSOR m_rows;                // reversible
  GEN_STRING m_full;
  std::string m_original;
  MAP_ROW m_row{};
};

// Calls visit(MAP_ROW const&) for every row of the map, in the cursor's order.
template <class VISIT>
void for_each_map_row(CONVERSION const& conversion, ORIGINAL_NAMES& originals, VISIT&& visit) {
  NAME_MAP_CURSOR cursor(conversion, originals);
  while (MAP_ROW const* const row = cursor.next()) visit(*row);
}

}  // namespace zema_tool

#endif  // TOOLS_NAMES_NAME_MAP_H
