// Tests of the tree of converted names on its own: the node kinds and their
// casts and the walk over a parent's children. What deleting nodes frees is
// checked through the converter that owns them.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "containers/orb_string_table.h"
#include "tests/test_support.h"

namespace {

typedef ZEMA_NAME_CONVERTER_HIERARCHY NODE;
typedef ZEMA_NAME_CONVERTER_HIERARCHY_PARENT PARENT;
typedef ZEMA_NAME_CONVERTER_HIERARCHY_LEAF LEAF;
typedef ORB_STRING_TABLE<ORB_CSTR_OPS> NAMES;
typedef zema_test::TrackedTest ZemaHierarchyTest;

// Children are keyed by interned pointer, so every name comes from a table.
char const* intern(NAMES& names, std::string const& text) {
  return names.insert_helper(ORB_CSTR_OPS().hash(text.c_str()), text.c_str())->m_text;
}

// Adds `count` heap leaves named "c0", "c1", ... with ids 100, 101, ... under `parent`.
std::vector<LEAF*> add_leaves(NAMES& names, PARENT* parent, int count) {
  std::vector<LEAF*> leaves;
  for (int i = 0; i < count; ++i) {
    leaves.push_back(new LEAF(parent, intern(names, "c" + std::to_string(i)), 100u + i));
    parent->m_children[leaves.back()->m_name] = leaves.back();
  }
  return leaves;
}

std::vector<NODE*> walk(NODE& node) {
  std::vector<NODE*> seen;
  for (NODE::CHILD_ITERATOR it = node.begin_child(); it != node.end_child(); ++it)
    seen.push_back(it->m_value);
  return seen;
}

TEST_F(ZemaHierarchyTest, KindQueriesAndCastsTellParentsFromLeaves) {
  NAMES names;
  PARENT parent(nullptr, intern(names, "p"), 1);
  LEAF leaf(&parent, intern(names, "l"), 2);
  for (NODE* node : {static_cast<NODE*>(&parent), static_cast<NODE*>(&leaf)}) {
    NODE const* const cnode = node;
    bool const is_leaf = node == &leaf;
    EXPECT_EQ(is_leaf, node->is_leaf());
    EXPECT_EQ(is_leaf ? nullptr : &parent, node->cast_to_parent());
    EXPECT_EQ(is_leaf ? nullptr : &parent, cnode->cast_to_parent());
    EXPECT_EQ(is_leaf ? &leaf : nullptr, node->cast_to_leaf());
    EXPECT_EQ(is_leaf ? &leaf : nullptr, cnode->cast_to_leaf());
  }
  EXPECT_TRUE(parent.m_parent == nullptr && leaf.m_parent == &parent);
}

// A leaf's walk is empty with both ends all zero; a parent's visits each child
// once in the order of its index, for empty, small, colliding and grown indexes.
TEST_F(ZemaHierarchyTest, WalksVisitEachChildOnceInIndexOrder) {
  NAMES names;
  LEAF leaf(nullptr, intern(names, "l"), 1);
  for (NODE::CHILD_ITERATOR const& it : {leaf.begin_child(), leaf.end_child()}) {
    EXPECT_TRUE(it.m_table == nullptr && it.m_node == nullptr);
    EXPECT_EQ(0u, it.m_bucket + it.m_bucket_count);
  }
  EXPECT_TRUE(walk(leaf).empty());
  for (int count : {0, 1, 7, 61, 300}) {
    SCOPED_TRACE(count);
    PARENT parent(nullptr, intern(names, ""), 1);
    std::vector<LEAF*> leaves = add_leaves(names, &parent, count);
    std::vector<NODE*> in_index_order;
    for (PARENT::CHILD_ITERATOR it = parent.m_children.begin(); it != parent.m_children.end(); ++it)
      in_index_order.push_back(it->m_value);
    std::vector<NODE*> walked = walk(parent);
    EXPECT_EQ(in_index_order, walked);
    std::sort(walked.begin(), walked.end());
    std::sort(leaves.begin(), leaves.end());
    EXPECT_TRUE(std::equal(leaves.begin(), leaves.end(), walked.begin(), walked.end()));
    for (LEAF* l : leaves) delete l;
  }
}

}  // namespace
