// Builds the host's DESIGN from records with the host's bulk calls: every
// count is known, so each kind of object comes from one block, every
// children list and oterm sequence gets its final size at once, and the
// unit names stay in the records' text buffer, which the design adopts.
#include "tools/input/design_builder.h"

#include <utility>
#include <vector>

namespace zema_tool {

std::unique_ptr<LOADED_DESIGN> build_design(DESIGN_RECORDS&& records) {
  auto loaded = std::make_unique<LOADED_DESIGN>();
  zema_host::DESIGN& design = loaded->m_design;
  std::vector<NAME_RECORD> const& names = records.m_names;

  // Children per hierarchy record; records list parents before children.
  std::vector<std::uint32_t> children(names.size(), 0);
  std::size_t parents = 0;
  std::size_t child_slots = 0;
  for (NAME_RECORD const& name : names) {
    if (name.m_kind != NAME_HIERARCHY || name.m_parent == kNoRecord) continue;
    parents += children[name.m_parent]++ == 0;
    ++child_slots;
  }
  design.reserve(names.size(), records.m_atoms.size(), records.m_oterms.size(), parents,
                 child_slots);
  char const* const texts = records.m_texts.data();
  design.adopt_texts(std::move(records.m_texts));

  std::vector<HDB_INSTANCE_NAME const*> made(names.size());
  for (std::size_t record = 0; record < names.size(); ++record) {
    NAME_RECORD const& name = names[record];
    char const* const text = texts + name.m_text;
    if (name.m_kind != NAME_HIERARCHY) {
      made[record] = design.add_free_name(text, name.m_id);
      continue;
    }
    made[record] = name.m_parent == kNoRecord
                       ? design.set_root(text, name.m_id)
                       : design.add_child(made[name.m_parent], text, name.m_id);
    if (children[record] != 0) design.reserve_children(made[record], children[record]);
  }
  loaded->m_warnings = std::move(records.m_warnings);
  loaded->m_scopes.reserve(records.m_scoped.size());
  for (SCOPED_NAME const& scoped : records.m_scoped) {
    loaded->m_scopes.emplace(made[scoped.m_name], made[scoped.m_scope]);
  }
  auto name_of = [&](REF const& ref) {
    return ref.m_kind == REF_RECORD ? made[ref.m_value] : nullptr;
  };
  for (std::uint32_t index = 0; index < records.m_atoms.size(); ++index) {
    ATOM_RECORD const& atom = records.m_atoms[index];
    CDB_ATOM_NODE* const node =
        design.add_atom(static_cast<CDB_ATOM_BASIC_TYPE>(atom.m_type), name_of(atom.m_name));
    std::uint32_t const end = records.oterm_end(index);
    if (end > atom.m_oterm_begin) design.reserve_oterms(node, end - atom.m_oterm_begin);
    for (std::uint32_t entry = atom.m_oterm_begin; entry < end; ++entry) {
      if (records.m_oterms[entry].m_kind == REF_NULL_OTERM) {
        design.add_null_oterm(node);
      } else {
        design.add_oterm(node, name_of(records.m_oterms[entry]));
      }
    }
  }
  loaded->m_atom_count = records.m_atoms.size();
  loaded->m_oterm_count = records.m_oterms.size();
  loaded->m_instance_count = names.size();
  loaded->m_parent_count = parents;
  records = DESIGN_RECORDS();
  return loaded;
}

}  // namespace zema_tool
