// The checks of a design's records: ids, references and the netlist rules
// that the fusion converter relies on.
#include "tools/input/design_records.h"

#include <algorithm>
#include <cstring>

#include "atm/zema/zema_naming_rules.h"
#include "host/zema_host.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

std::string type_label(int type) {
  return "type-" + decimal(static_cast<std::uint64_t>(type)) + " (" +
         zema_host::atom_type_name(type) + ")";
}

}  // namespace

std::string hierarchy_place(std::vector<std::uint32_t> const& positions) {
  std::string place = "root";
  std::size_t const count = positions.size();
  auto add = [&](std::size_t level) {
    place += ".children[";
    place += decimal(positions[level]);
    place += ']';
  };
  if (count <= 8) {
    for (std::size_t level = 0; level < count; ++level) add(level);
    return place;
  }
  for (std::size_t level = 0; level < 4; ++level) add(level);
  place += ".(" + decimal(count - 7) + " more levels)";
  for (std::size_t level = count - 3; level < count; ++level) add(level);
  return place;
}

std::string DESIGN_RECORDS::place_of(std::uint32_t record) const {
  NAME_RECORD const& name = m_names[record];
  switch (name.m_kind) {
    case NAME_HIERARCHY: {
      std::vector<std::uint32_t> positions;
      for (std::uint32_t r = record; m_names[r].m_parent != kNoRecord; r = m_names[r].m_parent) {
        positions.push_back(m_names[r].m_pos);
      }
      std::reverse(positions.begin(), positions.end());
      return hierarchy_place(positions);
    }
    case NAME_LISTED:
      return "names[" + decimal(name.m_pos) + "]";
    case NAME_NETLIST:
      return atom_place(name.m_pos, name.m_parent) + (name.m_parent == kNoRecord ? ".name" : "");
  }
  return std::string();
}

std::uint64_t DESIGN_RECORDS::full_name_bytes() const {
  auto const add = [](std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
  };
  // Parents come before their children, so one pass gives every path's
  // length from its parent's.
  std::vector<std::uint64_t> path(m_names.size(), 0);
  std::uint64_t total = 0;
  for (std::size_t record = 0; record < m_names.size(); ++record) {
    NAME_RECORD const& name = m_names[record];
    std::uint64_t const own = std::strlen(&m_texts[name.m_text]);
    if (name.m_kind == NAME_HIERARCHY && name.m_parent != kNoRecord) {
      path[record] = add(path[name.m_parent], 1 + own);
    } else if (name.m_kind != NAME_HIERARCHY) {
      path[record] = own;
    }
    total = add(total, path[record]);
  }
  for (SCOPED_NAME const& scoped : m_scoped) total = add(total, add(path[scoped.m_scope], 1));
  return total;
}

std::string DESIGN_RECORDS::atom_place(std::uint32_t atom, std::uint32_t oterm) {
  std::string where = "netlist[" + decimal(atom) + "]";
  if (oterm != kNoRecord) where += ".oterms[" + decimal(oterm) + "]";
  return where;
}

void DESIGN_RECORDS::resolve() {
  assign_ids();
  check_declared_ids();
  check_netlist();
  resolve_scopes();
}

// A scope must be an instance of the hierarchy, named by its id.
void DESIGN_RECORDS::resolve_scopes() {
  for (SCOPED_NAME const& scoped : m_scoped_by_id) {
    std::uint32_t const entry = declared_entry(scoped.m_scope);
    if (entry == kNoRecord || (entry & kInHierarchy) == 0) {
      throw TOOL_ERROR(place_of(scoped.m_name) + ".scope",
                       "id " + decimal(scoped.m_scope) + " is not an instance of the hierarchy");
    }
    m_scoped.push_back({scoped.m_name, entry & ~kInHierarchy});
  }
  m_scoped_by_id.clear();
}

// Missing ids follow the largest id given anywhere in the file, in document
// order of the objects that lack them.
void DESIGN_RECORDS::assign_ids() {
  std::uint64_t next = m_largest_id + 1;
  for (std::uint32_t record = 0; record < m_names.size(); ++record) {
    NAME_RECORD& name = m_names[record];
    if (name.m_has_id) continue;
    if (next > kMaxId) {
      throw TOOL_ERROR(place_of(record),
                       "no id left to assign: the largest id given is " + decimal(m_largest_id));
    }
    name.m_id = static_cast<std::uint32_t>(next++);
  }
}

std::uint32_t DESIGN_RECORDS::declared_entry(std::uint32_t id) const { return m_declared.find(id); }

// Enters the declared names in file order, so the first clash found is the
// duplicate whose second declaration comes first.
void DESIGN_RECORDS::check_declared_ids() {
  // A record number must leave the entry's top bit free; no file that fits
  // in memory comes near.
  static_assert(kMaxNames + 1 == kInHierarchy, "record numbers leave the entry's top bit free");
  if (m_names.size() > kMaxNames) {
    throw TOOL_ERROR(place_of(kInHierarchy), "more than " + decimal(kMaxNames) + " instance names");
  }
  m_declared = ID_TABLE<std::uint32_t, kNoRecord>(m_names.size());
  for (std::uint32_t record = 0; record < m_names.size(); ++record) {
    NAME_RECORD const& name = m_names[record];
    if (name.m_kind == NAME_NETLIST) continue;
    std::uint32_t const entry = record | (name.m_kind == NAME_HIERARCHY ? kInHierarchy : 0);
    auto const inserted = m_declared.emplace(name.m_id, entry);
    if (!inserted.second) {
      throw TOOL_ERROR(place_of(record) + ".id",
                       "duplicate id " + decimal(name.m_id) + " (first declared at " +
                           place_of(*inserted.first & ~kInHierarchy) + ")");
    }
  }
}

// Inside the hierarchy as the fusion converter sees it: by id, so a name made
// in the netlist with the id of a hierarchy instance counts as that instance.
bool DESIGN_RECORDS::is_inside(std::uint32_t record) const {
  NAME_RECORD const& name = m_names[record];
  if (name.m_kind == NAME_HIERARCHY) return true;
  if (name.m_kind == NAME_LISTED) return false;
  std::uint32_t const entry = declared_entry(name.m_id);
  return entry != kNoRecord && (entry & kInHierarchy) != 0;
}

bool DESIGN_RECORDS::resolve_ref(REF* ref, std::uint32_t atom, std::uint32_t oterm) {
  if (ref->m_kind != REF_ID) return false;
  std::uint32_t const entry = declared_entry(ref->m_value);
  if (entry == kNoRecord) {
    throw TOOL_ERROR(atom_place(atom, oterm) + (oterm == kNoRecord ? ".name" : ""),
                     "no instance name has id " + decimal(ref->m_value));
  }
  *ref = {entry & ~kInHierarchy, REF_RECORD};
  return (entry & kInHierarchy) != 0;
}

// What the fusion converter requires of the netlist: an atom of a type that
// the hierarchy names (26, 3, 35, 36) is named by an instance of the
// hierarchy, and so is every oterm of an atom of another type than 26.
void DESIGN_RECORDS::check_netlist() {
  for (std::uint32_t index = 0; index < m_atoms.size(); ++index) {
    ATOM_RECORD& atom = m_atoms[index];
    bool const named_inside = resolve_ref(&atom.m_name, index, kNoRecord);
    int const type = atom.m_type;
    if (zema_atom_type_needs_hierarchy_node(type)) {
      if (atom.m_name.m_kind == REF_NONE) {
        throw TOOL_ERROR(atom_place(index, kNoRecord),
                         "a " + type_label(type) + " atom needs a name inside the hierarchy");
      }
      std::uint32_t const record = atom.m_name.m_value;
      if (!named_inside && !is_inside(record)) {
        throw TOOL_ERROR(atom_place(index, kNoRecord) + ".name",
                         "a " + type_label(type) +
                             " atom must be named by an instance inside the hierarchy; id " +
                             decimal(m_names[record].m_id) + " is not one");
      }
    }
    std::uint32_t const end = oterm_end(index);
    bool const oterms_made_up = zema_is_hierarchy_named_atom_type(type);
    for (std::uint32_t entry = atom.m_oterm_begin; entry < end; ++entry) {
      std::uint32_t const position = entry - atom.m_oterm_begin;
      REF& ref = m_oterms[entry];
      if (ref.m_kind == REF_NULL_OTERM) continue;
      bool const inside = resolve_ref(&ref, index, position);
      if (oterms_made_up) continue;
      if (ref.m_kind == REF_NONE) {
        throw TOOL_ERROR(
            atom_place(index, position),
            "an oterm of a " + type_label(type) + " atom needs a name inside the hierarchy");
      }
      if (!inside && !is_inside(ref.m_value)) {
        throw TOOL_ERROR(atom_place(index, position),
                         "an oterm of a " + type_label(type) +
                             " atom must be named by an instance inside the hierarchy; id " +
                             decimal(m_names[ref.m_value].m_id) + " is not one");
      }
    }
  }
}

}  // namespace zema_tool
