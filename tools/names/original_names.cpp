#include "tools/names/original_names.h"

#include "host/zema_host.h"

namespace zema_tool {
ORIGINAL_NAMES::ORIGINAL_NAMES(LOADED_DESIGN const& design)
    : m_design(design), m_names(design.m_instance_count) {
  // The hierarchy, with an explicit stack: its depth is the design's.
  std::vector<HDB_INSTANCE_NAME const*> pending;
  if (design.m_design.root() != nullptr) pending.push_back(design.m_design.root());
  while (!pending.empty()) {
    HDB_INSTANCE_NAME const* const name = pending.back();
    pending.pop_back();
    insert(HDB_NAME_MGR::get_iname_id(name), name, false);
    for (HDB_CONST_NAME_ITERATOR it = name->begin_child(); it != name->end_child(); ++it) {
      if (*it != nullptr) pending.push_back(*it);
    }
  }
  // Outside names; ids of the hierarchy stay the hierarchy's.
  zema_host::DESIGN& host = const_cast<zema_host::DESIGN&>(design.m_design);
  CDB_ATOM_NETLIST* const netlist = host.netlist();
  for (CDB_ATOM_NODE_LINK* link = netlist->begin_node_list(); link != netlist->end_node_list();
       link = link->m_next) {
    CDB_ATOM_NODE* const atom = link->m_node;
    auto add = [&](HDB_INSTANCE_NAME const* name) {
      if (name != nullptr && !design.is_in_hierarchy(name)) {
        insert(HDB_NAME_MGR::get_iname_id(name), name, true);
      }
    };
    add(atom->get_instance_name());
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
      if (*it != nullptr) add((*it)->get_instance_name());
    }
  }
}

void ORIGINAL_NAMES::insert(unsigned id, HDB_INSTANCE_NAME const* name, bool replace) {
  if (id == 0) return;  // an unregistered name: the converters resolve no text to it
  auto const inserted = m_names.emplace(id, name);
  // A hierarchy name keeps its id; outside names: the last one wins.
  if (!inserted.second && replace && !m_design.is_in_hierarchy(*inserted.first)) {
    *inserted.first = name;
  }
}

void ORIGINAL_NAMES::append(std::string* out, HDB_INSTANCE_NAME const* name) {
  if (!m_design.is_in_hierarchy(name)) {
    // A name that a netlist found in an instance: that instance's path, then
    // the name as one more level.
    if (HDB_INSTANCE_NAME const* const scope = m_design.scope_of(name)) {
      append(out, scope);
      if (out->back() != '/') out->push_back('/');
    }
    zema_host::append_unambiguous_level(out, name);
    return;
  }
  m_levels.clear();
  for (HDB_INSTANCE_NAME const* level = name; zema_host::parent_of(level) != nullptr;
       level = zema_host::parent_of(level)) {
    m_levels.push_back(level);
  }
  std::size_t depth = 0;
  for (std::size_t i = m_levels.size(); i-- > 0;) {
    m_path.enter_with(++depth, [&](std::string& text) {
      zema_host::append_unambiguous_level(&text, m_levels[i]);
    });
  }
  out->push_back('/');
  if (depth != 0) out->append(m_path.text());
}

}  // namespace zema_tool
