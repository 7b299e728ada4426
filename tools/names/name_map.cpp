#include "tools/names/name_map.h"

#include "host/zema_host.h"

namespace zema_tool {

NAME_MAP_CURSOR::NAME_MAP_CURSOR(CONVERSION const& conversion, ORIGINAL_NAMES& originals)
    : m_conversion(conversion),
      m_originals(originals),
      m_rows(conversion.design().m_design.netlist()) {
  if (conversion.tree() != nullptr) m_walk.emplace(conversion.tree()->root());
}

MAP_ROW const* NAME_MAP_CURSOR::next() { return m_walk ? next_fusion() : next_reversible(); }

// The converter's tree, depth first, siblings in byte order, with what each
// node names.
MAP_ROW const* NAME_MAP_CURSOR::next_fusion() {
  if (!m_walk->next()) return nullptr;
  FUSION_TREE const& tree = *m_conversion.tree();
  // A row's lookups land anywhere in tables far larger than the caches:
  // the nodes a few rows ahead are fetched, then their ids' buckets, then
  // the entries, so that each arrives about when it is read.
  if (NODE const* const far = m_walk->upcoming(8)) __builtin_prefetch(far);
  if (NODE const* const middle = m_walk->upcoming(4)) {
    tree.prefetch_kind(middle, false);
    m_originals.prefetch(middle->m_id);
  }
  if (NODE const* const near = m_walk->upcoming(1)) {
    tree.prefetch_kind(near, true);
    orb_prefetch_text(near->m_name);
    if (HDB_INSTANCE_NAME const* const name = m_originals.find(near->m_id)) {
      __builtin_prefetch(name);
    }
  }
  NODE const* const node = m_walk->node();
  bool const in_hierarchy = tree.in_hierarchy(node);
  HDB_INSTANCE_NAME const* const name = m_originals.find(node->m_id);
  m_original.clear();
  if (in_hierarchy && name != nullptr) {
    // Hierarchy nodes nest as their instances do: extend the parent's path.
    m_hierarchy_path.enter_with(m_walk->depth(), [&](std::string& text) {
      zema_host::append_unambiguous_level(&text, name);
    });
    m_original.push_back('/');
    m_original.append(m_hierarchy_path.text());
  } else if (name != nullptr) {
    m_originals.append(&m_original, name);
  }
  m_row = MAP_ROW{node->m_id,
                  m_walk->path(),
                  tree.kind_of(node),
                  in_hierarchy ? ORIGIN::HIERARCHY : ORIGIN::MADE_UP,
                  name != nullptr ? std::optional<std::string_view>(m_original) : std::nullopt,
                  false,
                  0,
                  -1};
  return &m_row;
}

// Every atom and oterm in netlist order that has a converted full name.
MAP_ROW const* NAME_MAP_CURSOR::next_reversible() {
  ROW row;
  while (m_rows.next(&row)) {
    HDB_INSTANCE_NAME const* const name = row.name();
    if (name == nullptr || !row.full(m_conversion.converter(), &m_full)) continue;
    m_original.clear();
    m_originals.append(&m_original, name);
    m_row =
        MAP_ROW{id_of(name),
                std::string_view(m_full),
                row.is_oterm() ? MAP_KIND::OTERM : MAP_KIND::ATOM,
                m_conversion.design().is_in_hierarchy(name) ? ORIGIN::HIERARCHY : ORIGIN::OUTSIDE,
                std::string_view(m_original),
                true,
                row.m_atom_index,
                row.m_position};
    return &m_row;
  }
  return nullptr;
}

}  // namespace zema_tool
