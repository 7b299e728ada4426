// Building the reference host's database from resolved DESIGN_RECORDS.
//
// The builder is the only part of the command that knows the host's builder
// API: it makes every instance name, atom and oterm of the records in record
// order, so the hierarchy's children keep the order of the file and the
// netlist its atom order.
#ifndef TOOLS_INPUT_DESIGN_BUILDER_H
#define TOOLS_INPUT_DESIGN_BUILDER_H

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "h/hdb_sys.h"
#include "host/zema_host.h"
#include "tools/input/design_records.h"
#include "tools/support/hash_table.h"

namespace zema_tool {

// A design built in the host. Its atoms and their oterms are walked through
// the netlist of the DESIGN, in file order.
struct LOADED_DESIGN {
  zema_host::DESIGN m_design;
  std::size_t m_atom_count = 0;
  std::size_t m_oterm_count = 0;  // entries of the atoms' oterm lists, null ones too
  std::size_t m_instance_count = 0;
  // Instances of the hierarchy with at least one child (the root among them
  // when it has children).
  std::size_t m_parent_count = 0;

  // Whether `name` belongs to the hierarchy below the root, the root included
  // (not a free-standing name of "names" or of the netlist).
  bool is_in_hierarchy(HDB_INSTANCE_NAME const* name) const {
    return name != nullptr && (name == m_design.root() || zema_host::parent_of(name) != nullptr);
  }

  // The instance of the hierarchy that a name outside it lies in (the
  // records' m_scoped), or null.
  HDB_INSTANCE_NAME const* scope_of(HDB_INSTANCE_NAME const* name) const {
    if (m_scopes.empty()) return nullptr;
    HDB_INSTANCE_NAME const* const* const found = m_scopes.find(name);
    return found != nullptr ? *found : nullptr;
  }

  HASH_MAP<HDB_INSTANCE_NAME const*, HDB_INSTANCE_NAME const*> m_scopes;
  // What the reader said of the input (DESIGN_RECORDS::m_warnings).
  std::vector<std::string> m_warnings;
};

// Builds the design of `records`, which resolve() has checked; their memory
// may be taken over by the design, so they are left empty.
std::unique_ptr<LOADED_DESIGN> build_design(DESIGN_RECORDS&& records);

}  // namespace zema_tool

#endif  // TOOLS_INPUT_DESIGN_BUILDER_H
