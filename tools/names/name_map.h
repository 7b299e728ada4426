// The name map's rows: every converted name with the design's original name
// beside it. `zema map` writes them; translate and explain index them.
#ifndef TOOLS_NAMES_NAME_MAP_H
#define TOOLS_NAMES_NAME_MAP_H

#include <cstddef>
#include <functional>
#include <string_view>

#include "tools/names/conversion.h"
#include "tools/names/original_names.h"

namespace zema_tool {

struct MAP_ROW {
  unsigned m_id;
  std::string_view m_converted;
  // "instance", "atom", "oterm", "atom+oterm", or "superseded" for a node
  // that names nothing any more.
  char const* m_kind;
  char const* m_origin;                // "hierarchy", "made-up" or "outside"
  std::string_view const* m_original;  // null when the id names nothing
  bool m_has_netlist_place;            // reversible rows: the next two are set
  std::size_t m_atom;
  long m_oterm;  // the oterm's position among its atom's, or -1

  bool names_something() const { return m_kind[0] != 's'; }
};

// Fusion: one row per node of the tree but the root, depth first, siblings
// in byte order of their names. Reversible: one row per atom and oterm that
// has a converted full name, in netlist order.
void for_each_map_row(CONVERSION const& conversion, ORIGINAL_NAMES& originals,
                      std::function<void(MAP_ROW const&)> const& visit);

}  // namespace zema_tool

#endif  // TOOLS_NAMES_NAME_MAP_H
