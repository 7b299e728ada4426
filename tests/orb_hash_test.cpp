// Tests of ORB_HASH and its key policies: the name hash vectors, when the table
// grows and how the rehash orders chains, iteration order, clear(), name keys
// that compare by address, failing tracked allocations, and a randomized
// comparison against std::unordered_map.
#include "containers/orb_hash.h"

#include <gtest/gtest.h>

#include <new>
#include <random>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "containers/orb_string_table.h"
#include "host/zema_host.h"
#include "tests/test_support.h"

namespace {

typedef ORB_HASH<unsigned, unsigned, ORB_OPS<unsigned>> ID_TABLE;
typedef ORB_HASH<char const*, unsigned, ZEMA_NAME_CSTR_OPS> NAME_TABLE;

// Walks every chain, checking the back links, that each node sits in the
// bucket of its hash and that the chains hold m_count nodes, and checks that
// iteration visits exactly the chains in bucket order. Gives the keys in that
// order.
template <class Key, class Value, class Ops>
std::vector<Key> checked_keys(ORB_HASH<Key, Value, Ops> const& table) {
  std::vector<Key> chained;
  for (unsigned b = 0; b < table.m_bucket_count && chained.size() <= table.m_count; ++b) {
    ORB_HASH_NODE<Key, Value> const* prev = nullptr;
    for (auto const* node = table.m_buckets[b]; node && chained.size() <= table.m_count;
         node = node->m_next) {
      EXPECT_EQ(node->m_prev, prev) << "back link in bucket " << b;
      EXPECT_EQ(Ops().hash(node->m_key) % table.m_bucket_count, b);
      chained.push_back(node->m_key);
      prev = node;
    }
  }
  EXPECT_EQ(chained.size(), table.m_count);
  std::vector<Key> iterated;
  for (auto it = table.begin(); it != table.end() && iterated.size() <= table.m_count; ++it) {
    iterated.push_back(it->m_key);
  }
  EXPECT_EQ(iterated, chained);
  return chained;
}

// The bucket count the host picks when a table first outgrows 61 buckets.
unsigned first_grown_count() {
  unsigned const grown = orb_hash_50_percent_increase_size(65);
  zema_host::clear_growth_requests();
  return grown;
}

class OrbHashTest : public zema_test::TrackedTest {
 protected:
  void SetUp() override {
    TrackedTest::SetUp();
    zema_host::clear_growth_requests();
  }
};

TEST_F(OrbHashTest, NameHashMatchesReferenceVectors) {
  // Bytes from 0x80 up count as negative; an unsigned byte would give
  // "a\xE9" 3392.
  struct {
    char const* text;
    unsigned hash;
  } const cases[] = {
      {"", 0},
      {"a", 97},
      {"abc", 110586},
      {"\xE9", 0xFFFFFFE9u},
      {"a\xE9", 3136},
      {"\x80", 0xFFFFFF80u},
      {"\xFF\xFF\xFF", 0xF0000406u},
      {"reg_17", 0xEB68CACAu},
      {"top/cpu/alu_reg[31]", 0xD5E960BCu},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(ZEMA_NAME_CSTR_OPS().hash(c.text), c.hash) << '"' << c.text << '"';
  }
  for (unsigned id : {0u, 60u, 61u, 0xFFFFFFFFu}) EXPECT_EQ(ORB_OPS<unsigned>().hash(id), id);
}

TEST_F(OrbHashTest, FreshTableIsEmptyWithSixtyOneNullBuckets) {
  unsigned long long const blocks = zema_host::mem_module_stats("ZEMA").live_blocks;
  ID_TABLE table;
  EXPECT_EQ(zema_host::mem_module_stats("ZEMA").live_blocks, blocks + 1);
  ASSERT_EQ(table.m_bucket_count, 61u);
  EXPECT_EQ(table.m_count, 0u);
  for (unsigned b = 0; b < 61; ++b) EXPECT_EQ(table.m_buckets[b], nullptr);
  EXPECT_TRUE(table.begin() == table.end());
  EXPECT_TRUE(table.find(0) == table.end());
  EXPECT_EQ(table.hash_search(0, 0), nullptr);
}

TEST_F(OrbHashTest, MissInsertsNullValueAndLookupsNeverInsert) {
  ORB_HASH<unsigned, int*, ORB_OPS<unsigned>> pointers;
  EXPECT_EQ(pointers[7], nullptr);
  ID_TABLE table;
  EXPECT_EQ(table[0], 0u);
  table[0] = 5;  // id 0 is an ordinary key in bucket 0
  table[7] = 42;
  EXPECT_EQ(table[7], 42u);
  EXPECT_EQ(table.m_count, 2u);
  ASSERT_NE(table.m_buckets[0], nullptr);
  EXPECT_EQ(table.m_buckets[0]->m_key, 0u);
  EXPECT_EQ(table.find(0)->m_value, 5u);
  EXPECT_EQ(table.hash_search(7, 7), table.find(7).m_node);
  EXPECT_TRUE(table.find(8) == table.end());
  EXPECT_EQ(table.hash_search(8, 8), nullptr);
  EXPECT_EQ(table.m_count, 2u);
}

TEST_F(OrbHashTest, IterationVisitsBucketsAscendingLastInsertedFirst) {
  ID_TABLE table;
  for (unsigned id : {5u, 60u, 66u, 0u, 127u, 3u}) table[id] = id + 1;
  EXPECT_EQ(checked_keys(table), (std::vector<unsigned>{0, 3, 127, 66, 5, 60}));
  // Iterating from a found entry continues in the same order.
  std::vector<unsigned> rest;
  for (auto it = table.find(66); it != table.end(); ++it) rest.push_back(it->m_key);
  EXPECT_EQ(rest, (std::vector<unsigned>{66, 5, 60}));
}

TEST_F(OrbHashTest, BeginFindsALoneEntryInAnyBucket) {
  for (unsigned id : {0u, 30u, 60u}) {
    ID_TABLE table;
    table[id] = 1;
    ID_TABLE::ITERATOR it = table.begin();
    ASSERT_TRUE(it != table.end()) << id;
    EXPECT_EQ(it->m_key, id);
    EXPECT_TRUE(++it == table.end()) << id;
  }
}

TEST_F(OrbHashTest, FiftySecondKeyGrowsTableAndEntriesKeepTheirAddresses) {
  unsigned const grown = first_grown_count();
  ID_TABLE table;
  std::vector<unsigned*> slots;
  std::vector<ID_TABLE::NODE*> nodes;
  for (unsigned i = 0; i < 52; ++i) {
    if (i == 51) {
      EXPECT_TRUE(zema_host::growth_requests().empty());
      EXPECT_EQ(table.m_bucket_count, 61u);
    }
    unsigned const key = i * 7919;
    slots.push_back(&table[key]);
    *slots.back() = i;
    nodes.push_back(table.find(key).m_node);
  }
  EXPECT_EQ(zema_host::growth_requests(), std::vector<unsigned>{65});
  EXPECT_EQ(table.m_bucket_count, grown);
  checked_keys(table);
  for (unsigned i = 0; i < 52; ++i) {
    *slots[i] += 1000;  // a reference from before the growth still reaches the entry
    EXPECT_EQ(table.find(i * 7919).m_node, nodes[i]);
    EXPECT_EQ(table[i * 7919], i + 1000);
  }
  table.resize(10);  // never shrinks
  EXPECT_EQ(table.m_bucket_count, grown);
  // Only a new key can grow the table; the next growth wants (80 / 4) * 5.
  for (unsigned i = 52; i < 80; ++i) {
    EXPECT_EQ(zema_host::growth_requests().size(), 1u) << i;
    table[i * 7919] = i;
  }
  EXPECT_EQ(zema_host::growth_requests(), (std::vector<unsigned>{65, 100}));
  EXPECT_EQ(table.m_count, 80u);
}

TEST_F(OrbHashTest, RehashVisitsOldBucketsAscendingPushingEachNodeToTheFront) {
  unsigned const grown = first_grown_count();
  unsigned const same_both = 1 + 61 * grown;  // bucket 1 before and after growth
  unsigned const later_old = 1 + grown;       // bucket 1 after growth only
  ASSERT_GT(later_old % 61, 1u);
  ID_TABLE table;
  table[1] = 1;
  table[same_both] = 2;
  table[later_old] = 3;
  for (unsigned key = 2; table.m_count < 52; ++key) {
    if (key % grown != 1) table[key] = 0;
  }
  ASSERT_EQ(table.m_bucket_count, grown);
  table[1 + 2 * grown] = 4;
  // Old bucket 1 held {same_both, 1}, and reverses; later_old arrives next.
  std::vector<unsigned> chain;
  for (auto it = table.find(1 + 2 * grown); it != table.end() && it.m_bucket == 1; ++it) {
    chain.push_back(it->m_key);
  }
  EXPECT_EQ(chain, (std::vector<unsigned>{1 + 2 * grown, later_old, 1, same_both}));
  checked_keys(table);
}

TEST_F(OrbHashTest, ClearFreesEveryNodeAndKeepsTheGrownBucketCount) {
  unsigned long long const blocks = zema_host::mem_module_stats("ZEMA").live_blocks;
  ID_TABLE table;
  for (unsigned i = 0; i < 200; ++i) table[i * 3] = i;
  unsigned const grown = table.m_bucket_count;
  EXPECT_GT(grown, 200u);
  table.clear();
  EXPECT_EQ(zema_host::mem_module_stats("ZEMA").live_blocks, blocks + 1);
  EXPECT_EQ(table.m_count, 0u);
  EXPECT_EQ(table.m_bucket_count, grown);
  for (unsigned b = 0; b < grown; ++b) ASSERT_EQ(table.m_buckets[b], nullptr) << b;
  EXPECT_TRUE(table.begin() == table.end());
  EXPECT_TRUE(table.find(3) == table.end());
  zema_host::clear_growth_requests();
  for (unsigned i = 0; i < 100; ++i) EXPECT_EQ(table[i], 0u);
  EXPECT_TRUE(zema_host::growth_requests().empty());
  EXPECT_EQ(checked_keys(table).size(), 100u);
}

TEST_F(OrbHashTest, NameKeysCompareByAddressNotByText) {
  char first[] = "abc";
  char second[] = "abc";
  unsigned const h = ZEMA_NAME_CSTR_OPS().hash(first);
  NAME_TABLE table;
  table[first] = 1;
  ASSERT_NE(table.m_buckets[54], nullptr);
  EXPECT_EQ(table.m_buckets[54]->m_key, first);
  EXPECT_EQ(table.hash_search(h, second), nullptr);
  EXPECT_TRUE(table.find(second) == table.end());
  table[second] = 2;
  EXPECT_EQ(table.m_count, 2u);
  EXPECT_EQ(checked_keys(table), (std::vector<char const*>{second, first}));
  // Interned names give equal texts one address, hence one key.
  ORB_STRING_TABLE<ORB_CSTR_OPS> names;
  char const* const a = names.insert_helper(ORB_CSTR_OPS().hash(first), first)->m_text;
  char const* const b = names.insert_helper(ORB_CSTR_OPS().hash(second), second)->m_text;
  table[a] = 3;
  table[b] += 1;
  EXPECT_EQ(table.m_count, 3u);
  EXPECT_EQ(table.find(a)->m_value, 4u);
}

TEST_F(OrbHashTest, RandomOperationsMatchUnorderedMap) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    // Small ids, multiples of 61 (one bucket until the first growth) and any id.
    auto random_key = [&rng]() -> unsigned {
      unsigned const pick = rng() % 4;
      return pick < 2 ? rng() % 300 : pick == 2 ? (rng() % 60) * 61 : static_cast<unsigned>(rng());
    };
    std::unordered_map<unsigned, std::pair<unsigned, ID_TABLE::NODE*>> model;
    ID_TABLE table;
    for (int op = 0; op < 3000; ++op) {
      unsigned const key = random_key();
      unsigned const roll = rng() % 1000;
      unsigned const buckets_before = table.m_bucket_count;
      std::size_t const requests_before = zema_host::growth_requests().size();
      auto const known = model.find(key);
      bool const added = roll < 500 && known == model.end();
      if (roll < 500) {
        unsigned& slot = table[key];
        EXPECT_EQ(slot, known == model.end() ? 0u : known->second.first);
        slot = rng();
        ID_TABLE::NODE* const node = table.find(key).m_node;
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(&node->m_value, &slot);
        if (known != model.end()) {
          EXPECT_EQ(node, known->second.second);
        }
        model[key] = {slot, node};
      } else if (roll < 998) {
        ID_TABLE::ITERATOR const it = table.find(key);
        EXPECT_EQ(it.m_node, table.hash_search(key, key));
        if (known == model.end()) {
          EXPECT_TRUE(it == table.end());
        } else {
          EXPECT_EQ(it.m_node, known->second.second);
          EXPECT_EQ(it->m_value, known->second.first);
        }
      } else {
        table.clear();
        model.clear();
      }
      ASSERT_EQ(table.m_count, model.size());
      // The table grows exactly when a new key makes (count / 4) * 5 exceed it.
      bool const should_grow = added && (table.m_count / 4) * 5 > buckets_before;
      EXPECT_EQ(table.m_bucket_count != buckets_before, should_grow) << "op " << op;
      EXPECT_EQ(zema_host::growth_requests().size(), requests_before + (should_grow ? 1 : 0));
      if (op % 500 == 499 || op == 2999) {
        std::vector<unsigned> keys = checked_keys(table);
        ASSERT_EQ(keys.size(), model.size());
        for (unsigned k : keys) EXPECT_EQ(model.count(k), 1u) << k;
      }
    }
  }
}

TEST_F(OrbHashTest, FailedAllocationLeavesTableConsistentAndUsable) {
  zema_host::mem_fail_after(0);
  EXPECT_THROW({ ID_TABLE table; }, std::bad_alloc);
  int node_failures = 0;
  int growth_failures = 0;
  for (long k = 0; k < 130; ++k) {
    SCOPED_TRACE(k);
    ID_TABLE table;
    zema_host::mem_fail_after(k);
    unsigned failed_at = 120;
    for (unsigned i = 0; i < 120 && failed_at == 120; ++i) {
      try {
        table[i * 13] = i + 1;
      } catch (std::bad_alloc const&) {
        failed_at = i;
      }
    }
    zema_host::mem_fail_after(-1);
    if (failed_at == 120) continue;
    checked_keys(table);
    for (unsigned i = 0; i < failed_at; ++i) ASSERT_EQ(table.find(i * 13)->m_value, i + 1);
    // Either the node was never made, or it is in but the growth after it failed.
    ID_TABLE::ITERATOR const failed = table.find(failed_at * 13);
    if (failed == table.end()) {
      ++node_failures;
      EXPECT_EQ(table.m_count, failed_at);
    } else {
      ++growth_failures;
      EXPECT_EQ(failed->m_value, 0u);
      EXPECT_EQ(table.m_count, failed_at + 1);
      EXPECT_GT((table.m_count / 4) * 5, table.m_bucket_count);
    }
    for (unsigned i = failed_at; i < 120; ++i) table[i * 13] = i + 1;
    EXPECT_EQ(checked_keys(table).size(), 120u);
    EXPECT_GE(table.m_bucket_count, (table.m_count / 4) * 5);
  }
  EXPECT_GT(node_failures, 0);
  EXPECT_GT(growth_failures, 0);
}

}  // namespace
