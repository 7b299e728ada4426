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

// The order of two children's names by strcmp, from their prefixes where
// they differ or end within them.
static int compare_names(TREE_WALK_CHILD const& a, TREE_WALK_CHILD const& b) {
  if (a.m_prefix != b.m_prefix) return a.m_prefix < b.m_prefix ? -1 : 1;
  return (a.m_prefix & 0xff) == 0 ? 0 : std::strcmp(a.m_node->m_name + 8, b.m_node->m_name + 8);
}

void TREE_WALK::push_children(NODE* parent, std::size_t depth) {
  m_children.clear();
  for (NODE::CHILD_ITERATOR it = parent->begin_child(); it != parent->end_child(); ++it) {
    NODE* const child = it->m_value;
    std::uint64_t prefix = 0;
    std::size_t k = 0;
    for (; k < 8 && child->m_name[k] != '\0'; ++k) {
      prefix = prefix << 8 | static_cast<unsigned char>(child->m_name[k]);
    }
    m_children.push_back({k == 0 ? 0 : prefix << (8 * (8 - k)), child});
  }
  std::sort(m_children.begin(), m_children.end(), [](CHILD const& a, CHILD const& b) {
    int const order = compare_names(a, b);
    return order != 0 ? order < 0 : a.m_node->m_id < b.m_node->m_id;
  });
  for (std::size_t i = 1; i < m_children.size(); ++i) {
    if (compare_names(m_children[i - 1], m_children[i]) == 0) {
      m_duplicates.emplace_back(m_children[i - 1].m_node, m_children[i].m_node);
    }
  }
  // Pushed last to first, so that the first child is popped first.
  for (std::size_t i = m_children.size(); i-- > 0;) {
    m_pending.push_back({m_children[i].m_node, depth});
  }
}

}  // namespace zema_tool
