#include "tools/names/fusion_tree.h"

#include <algorithm>
#include <cstring>

namespace zema_tool {

NODE* FUSION_TREE::child(NODE const* parent, std::string const& name) const {
  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* const inner =
      const_cast<NODE*>(parent)->cast_to_parent();
  char const* const interned = m_fusion.m_name_table.find(name.c_str());
  if (inner == nullptr || interned == nullptr) return nullptr;
  auto const* const entry =
      inner->m_children.hash_search(inner->m_children.m_ops.hash(interned), interned);
  return entry != nullptr ? entry->m_value : nullptr;
}

std::string FUSION_TREE::legal_form(char const* unit_name) const {
  GEN_STRING legal;
  m_fusion.transform(&legal, unit_name);
  return std::string(legal.data(), legal.size());
}

bool TREE_WALK::next() {
  if (m_pending.empty()) return false;
  ENTRY const entry = m_pending.back();
  m_pending.pop_back();
  m_node = entry.m_node;
  m_depth = entry.m_depth;
  m_path.enter(entry.m_depth, m_node->m_name);
  if (!m_node->is_leaf()) push_children(m_node, entry.m_depth + 1);
  return true;
}

void TREE_WALK::push_children(NODE* parent, std::size_t depth) {
  m_children.clear();
  for (NODE::CHILD_ITERATOR it = parent->begin_child(); it != parent->end_child(); ++it) {
    m_children.push_back(it->m_value);
  }
  std::sort(m_children.begin(), m_children.end(), [](NODE* a, NODE* b) {
    int const order = std::strcmp(a->m_name, b->m_name);
    return order != 0 ? order < 0 : a->m_id < b->m_id;
  });
  for (std::size_t i = 1; i < m_children.size(); ++i) {
    if (std::strcmp(m_children[i - 1]->m_name, m_children[i]->m_name) == 0) {
      m_duplicates.emplace_back(m_children[i - 1], m_children[i]);
    }
  }
  // Pushed last to first, so that the first child is popped first.
  for (std::size_t i = m_children.size(); i-- > 0;) m_pending.push_back({m_children[i], depth});
}

}  // namespace zema_tool
