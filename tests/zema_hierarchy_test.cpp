// Tests of the tree of converted names on its own: the node kinds and their
// casts, tracked allocation of nodes, the walk over a parent's children, and
// what deleting a parent frees.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "containers/orb_string_table.h"
#include "tests/test_support.h"

namespace {

typedef ZEMA_NAME_CONVERTER_HIERARCHY NODE;
typedef ZEMA_NAME_CONVERTER_HIERARCHY_PARENT PARENT;
typedef ZEMA_NAME_CONVERTER_HIERARCHY_LEAF LEAF;

template <class T>
unsigned long long live_blocks_of() {
  return MEM_TRACKER_TEMPLATE_ZEMA<T, 1255, 1>::s_thunk.m_live_blocks;
}

unsigned long long zema_live_blocks() { return zema_host::mem_module_stats("ZEMA").live_blocks; }

class ZemaHierarchyTest : public zema_test::TrackedTest {
 protected:
  // The table lives between the fixture's memory checks, like the nodes.
  void SetUp() override {
    TrackedTest::SetUp();
    m_names.reset(new ORB_STRING_TABLE<ORB_CSTR_OPS>());
  }
  void TearDown() override {
    m_names.reset();
    TrackedTest::TearDown();
  }

  // Children are keyed by interned pointer, so every name comes from here.
  char const* intern(std::string const& text) {
    return m_names->insert_helper(ORB_CSTR_OPS().hash(text.c_str()), text.c_str())->m_text;
  }

  // Adds `count` leaves named "c0", "c1", ... under `parent` and gives them back.
  std::vector<LEAF*> add_leaves(PARENT* parent, int count) {
    std::vector<LEAF*> leaves;
    for (int i = 0; i < count; ++i) {
      char const* name = intern("c" + std::to_string(i));
      leaves.push_back(new LEAF(parent, name, static_cast<unsigned>(100 + i)));
      parent->m_children[name] = leaves.back();
    }
    return leaves;
  }

  static std::vector<NODE*> walk(NODE const& node) {
    std::vector<NODE*> seen;
    for (NODE::CHILD_ITERATOR it = node.begin_child(); it != node.end_child(); ++it) {
      seen.push_back(it->m_value);
    }
    return seen;
  }

  std::unique_ptr<ORB_STRING_TABLE<ORB_CSTR_OPS>> m_names;
};

TEST_F(ZemaHierarchyTest, KindQueriesAndCastsTellParentsFromLeaves) {
  PARENT parent(nullptr, intern("p"), 1);
  LEAF leaf(&parent, intern("l"), 2);
  NODE& p = parent;
  NODE& l = leaf;
  NODE const& cp = parent;
  NODE const& cl = leaf;

  EXPECT_FALSE(p.is_leaf());
  EXPECT_TRUE(l.is_leaf());
  EXPECT_EQ(&parent, p.cast_to_parent());
  EXPECT_EQ(nullptr, p.cast_to_leaf());
  EXPECT_EQ(&leaf, l.cast_to_leaf());
  EXPECT_EQ(nullptr, l.cast_to_parent());
  EXPECT_EQ(&parent, cp.cast_to_parent());
  EXPECT_EQ(nullptr, cp.cast_to_leaf());
  EXPECT_EQ(&leaf, cl.cast_to_leaf());
  EXPECT_EQ(nullptr, cl.cast_to_parent());

  EXPECT_EQ(nullptr, parent.m_parent);
  EXPECT_EQ(&parent, leaf.m_parent);
  EXPECT_STREQ("l", leaf.m_name);
  EXPECT_EQ(2u, leaf.m_id);
}

TEST_F(ZemaHierarchyTest, HeapNodesComeFromTheTrackedManager) {
  char const* const root_name = intern("");
  char const* const leaf_name = intern("x");
  unsigned long long const blocks = zema_live_blocks();
  unsigned long long const parents = live_blocks_of<PARENT>();
  unsigned long long const leaves = live_blocks_of<LEAF>();

  PARENT* parent = new PARENT(nullptr, root_name, 1);
  // The node itself and its children index's bucket array.
  EXPECT_EQ(blocks + 2, zema_live_blocks());
  EXPECT_EQ(parents + 1, live_blocks_of<PARENT>());
  EXPECT_EQ(61u, parent->m_children.m_bucket_count);
  EXPECT_EQ(0u, parent->m_children.m_count);

  NODE* leaf = new LEAF(parent, leaf_name, 2);
  EXPECT_EQ(blocks + 3, zema_live_blocks());
  EXPECT_EQ(leaves + 1, live_blocks_of<LEAF>());

  // Deleting through the base pointer runs the right destructor and frees all.
  delete leaf;
  delete static_cast<NODE*>(parent);
  EXPECT_EQ(blocks, zema_live_blocks());
  EXPECT_EQ(parents, live_blocks_of<PARENT>());
  EXPECT_EQ(leaves, live_blocks_of<LEAF>());
}

TEST_F(ZemaHierarchyTest, LeafWalkIsEmptyAndBothEndsAreAllZero) {
  LEAF leaf(nullptr, intern("l"), 1);
  NODE::CHILD_ITERATOR const begin = leaf.begin_child();
  NODE::CHILD_ITERATOR const end = leaf.end_child();
  EXPECT_TRUE(begin == end);
  for (NODE::CHILD_ITERATOR const& it : {begin, end}) {
    EXPECT_EQ(nullptr, it.m_table);
    EXPECT_EQ(0u, it.m_bucket);
    EXPECT_EQ(0u, it.m_bucket_count);
    EXPECT_EQ(nullptr, it.m_node);
  }
}

TEST_F(ZemaHierarchyTest, EmptyParentWalkIsEmpty) {
  PARENT parent(nullptr, intern(""), 1);
  EXPECT_TRUE(parent.begin_child() == parent.end_child());
  EXPECT_EQ(nullptr, parent.begin_child().m_node);
  EXPECT_TRUE(walk(parent).empty());
}

TEST_F(ZemaHierarchyTest, ParentWalkVisitsEachChildOnceInIndexOrder) {
  // 1 child, some that share buckets, and enough to make the index grow.
  for (int count : {1, 7, 61, 300}) {
    SCOPED_TRACE(count);
    PARENT parent(nullptr, intern(""), 1);
    std::vector<LEAF*> leaves = add_leaves(&parent, count);

    std::vector<NODE*> in_index_order;
    for (PARENT::CHILD_ITERATOR it = parent.m_children.begin(); it != parent.m_children.end();
         ++it) {
      in_index_order.push_back(it->m_value);
    }
    std::vector<NODE*> const walked = walk(parent);
    EXPECT_EQ(in_index_order, walked);
    EXPECT_EQ(std::set<NODE*>(leaves.begin(), leaves.end()),
              std::set<NODE*>(walked.begin(), walked.end()));
    EXPECT_EQ(leaves.size(), walked.size());
    for (LEAF* leaf : leaves) delete leaf;
  }
}

TEST_F(ZemaHierarchyTest, ChildrenAreFoundByInternedPointerNotByText) {
  PARENT parent(nullptr, intern(""), 1);
  std::vector<LEAF*> leaves = add_leaves(&parent, 1);
  char const* const interned = intern("c0");
  std::string const copy = "c0";
  auto const& children = parent.m_children;
  EXPECT_NE(nullptr, children.hash_search(children.m_ops.hash(interned), interned));
  EXPECT_EQ(nullptr, children.hash_search(children.m_ops.hash(copy.c_str()), copy.c_str()));
  delete leaves[0];
}

TEST_F(ZemaHierarchyTest, DeletingParentFreesItsIndexButNotItsChildren) {
  char const* const root_name = intern("");
  char const* const middle_name = intern("m");
  unsigned long long const parents = live_blocks_of<PARENT>();
  unsigned long long const leaves_at_start = live_blocks_of<LEAF>();
  PARENT* parent = new PARENT(nullptr, root_name, 1);
  PARENT* middle = new PARENT(parent, middle_name, 2);
  parent->m_children[middle->m_name] = middle;
  std::vector<LEAF*> leaves = add_leaves(middle, 100);
  unsigned long long const with_tree = zema_live_blocks();

  delete parent;
  // Gone: the root, its bucket array and its one index entry.
  EXPECT_EQ(with_tree - 3, zema_live_blocks());
  EXPECT_EQ(100u, middle->m_children.m_count);
  EXPECT_EQ(100u, walk(*middle).size());

  unsigned long long const before_middle = zema_live_blocks();
  delete middle;
  // The middle node, its grown bucket array and its 100 entries; the leaves stay.
  EXPECT_EQ(before_middle - 102, zema_live_blocks());
  EXPECT_EQ(leaves_at_start + 100, live_blocks_of<LEAF>());
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    EXPECT_EQ(100 + i, leaves[i]->m_id);
    delete leaves[i];
  }
  EXPECT_EQ(parents, live_blocks_of<PARENT>());
  EXPECT_EQ(leaves_at_start, live_blocks_of<LEAF>());
}

}  // namespace
