// ORIGINAL_NAMES: the design's own names, by instance-name id, for turning a
// converted name back into the name the design gave it.
//
// An original name is written in one unambiguous form (docs/cli.md): a name
// of the hierarchy as its path from the root with every level preceded by
// "/" ("/" alone for the root); a name outside the hierarchy that a netlist
// found in an instance (a cell named outside, a net that names an output)
// as that instance's path and itself as one more level; any other name
// outside the hierarchy as its unit name alone. Each level is in the host's
// unambiguous path format, where "/" and "\" inside a name are escaped with
// "\", the empty name is "\." and the k-th repeat of a sibling's name ends in
// "\#k". So a path always starts with "/" and a free-standing name never
// does.
#ifndef TOOLS_NAMES_ORIGINAL_NAMES_H
#define TOOLS_NAMES_ORIGINAL_NAMES_H

#include <cstdint>
#include <string>
#include <vector>

#include "h/hdb_sys.h"
#include "tools/input/design_builder.h"
#include "tools/names/full_path.h"
#include "tools/support/hash_table.h"

namespace zema_tool {

class ORIGINAL_NAMES {
 public:
  // Indexes every name of `design`: the hierarchy's, then the names of
  // atoms and oterms whose id the hierarchy does not hold (of several with
  // one id, the last in netlist order, as the converters answer).
  explicit ORIGINAL_NAMES(LOADED_DESIGN const& design);

  // The name with `id`, or null (always for 0, which no name is known by).
  HDB_INSTANCE_NAME const* find(unsigned id) const { return m_names.find(id); }
  // Fetches where find(id) looks.
  void prefetch(unsigned id) const { m_names.prefetch(id); }

  // Appends the original name of `name` in the form above.
  void append(std::string* out, HDB_INSTANCE_NAME const* name);

 private:
  void insert(unsigned id, HDB_INSTANCE_NAME const* name, bool replace);

  LOADED_DESIGN const& m_design;
  ID_TABLE<HDB_INSTANCE_NAME const*, nullptr> m_names;
  std::vector<HDB_INSTANCE_NAME const*> m_levels;  // scratch: a name's ancestors
  FULL_PATH m_path;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_ORIGINAL_NAMES_H
