#include "tools/commands/fusion_tree.h"

#include <algorithm>
#include <cstring>

namespace zema_tool {

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
