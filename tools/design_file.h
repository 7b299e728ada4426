// Reading a design file into a reference-host DESIGN.
//
// The file is JSON (docs/cli.md describes the format): the instance hierarchy
// under "root", free-standing instance names under "names" and the atoms
// under "netlist". load_design reads it with simdjson's On Demand API into
// compact arrays, assigns the missing ids, resolves the id references, checks
// everything the library would otherwise report as a broken invariant, and
// only then builds the DESIGN. Every problem throws a TOOL_ERROR that names
// its place (a path such as "netlist[3].oterms[1]", or the file for I/O and
// malformed JSON), so a design that loads is one the converters accept.
#ifndef TOOLS_DESIGN_FILE_H
#define TOOLS_DESIGN_FILE_H

#include <memory>
#include <string>

#include "h/hdb_sys.h"
#include "host/zema_host.h"

namespace zema_tool {

// The deepest level an instance may have; the root is level 0, its children
// level 1.
constexpr unsigned kMaxHierarchyLevels = 10000;

// A design read from a file. Its atoms and their oterms are walked through
// the netlist of the DESIGN, in file order.
struct LOADED_DESIGN {
  zema_host::DESIGN m_design;
  std::size_t m_atom_count = 0;
  std::size_t m_instance_count = 0;

  // Whether `name` belongs to the hierarchy below the root, the root included
  // (not a free-standing name of "names" or of the netlist).
  bool is_in_hierarchy(HDB_INSTANCE_NAME const* name) const {
    return name != nullptr && (name == m_design.root() || zema_host::parent_of(name) != nullptr);
  }
};

// Reads the design in the file `path`, or standard input for "-". Throws
// TOOL_ERROR for any problem with the file or its content.
std::unique_ptr<LOADED_DESIGN> load_design(std::string const& path);

}  // namespace zema_tool

#endif  // TOOLS_DESIGN_FILE_H
