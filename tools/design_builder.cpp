#include "tools/design_builder.h"

#include <vector>

namespace zema_tool {

std::unique_ptr<LOADED_DESIGN> build_design(DESIGN_RECORDS&& records) {
  auto loaded = std::make_unique<LOADED_DESIGN>();
  zema_host::DESIGN& design = loaded->m_design;
  design.reserve(records.m_names.size(), records.m_atoms.size(), records.m_oterms.size());
  std::vector<HDB_INSTANCE_NAME const*> names(records.m_names.size());
  for (std::size_t record = 0; record < records.m_names.size(); ++record) {
    NAME_RECORD const& name = records.m_names[record];
    char const* const text = &records.m_texts[name.m_text];
    if (name.m_kind != NAME_HIERARCHY) {
      names[record] = design.add_free_name(text, name.m_id);
    } else if (name.m_parent == kNoRecord) {
      names[record] = design.set_root(text, name.m_id);
    } else {
      names[record] = design.add_child(names[name.m_parent], text, name.m_id);
    }
  }
  auto name_of = [&](REF const& ref) {
    return ref.m_kind == REF_RECORD ? names[ref.m_value] : nullptr;
  };
  for (std::uint32_t index = 0; index < records.m_atoms.size(); ++index) {
    ATOM_RECORD const& atom = records.m_atoms[index];
    CDB_ATOM_NODE* const node =
        design.add_atom(static_cast<CDB_ATOM_BASIC_TYPE>(atom.m_type), name_of(atom.m_name));
    std::uint32_t const end = records.oterm_end(index);
    for (std::uint32_t entry = atom.m_oterm_begin; entry < end; ++entry) {
      if (records.m_oterms[entry].m_kind == REF_NULL_OTERM) {
        design.add_null_oterm(node);
      } else {
        design.add_oterm(node, name_of(records.m_oterms[entry]));
      }
    }
  }
  loaded->m_atom_count = records.m_atoms.size();
  loaded->m_instance_count = records.m_names.size();
  records = DESIGN_RECORDS();
  return loaded;
}

}  // namespace zema_tool
