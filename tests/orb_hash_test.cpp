// Tests of ORB_HASH and its key policies: the name hash vectors, growth and the
// order of the rehash, iteration order, clear(), name keys that compare by
// address, a randomized comparison against std::unordered_map, failing
// tracked allocations, and ORB_HASH_BUILDER against insert_new.
#include "containers/orb_hash.h"

#include <gtest/gtest.h>

#include <string>

#include <algorithm>
#include <new>
#include <random>
#include <unordered_map>
#include <vector>

#include "containers/orb_hash_builder.h"
#include "host/zema_host.h"
#include "tests/test_support.h"

namespace {

typedef ORB_HASH<unsigned, unsigned, ORB_OPS<unsigned>> ID_TABLE;

// Walks every chain, checking the back links, that each node sits in the
// bucket of its hash and that the chains hold m_count nodes, and checks that
// iteration visits the same keys in the same order. Gives the keys in that order.
template <class Key, class Ops>
std::vector<Key> checked_keys(ORB_HASH<Key, unsigned, Ops> const& table) {
  std::vector<Key> chained, iterated;
  for (unsigned b = 0; b < table.m_bucket_count && chained.size() <= table.m_count; ++b) {
    ORB_HASH_NODE<Key, unsigned> const* prev = nullptr;
    for (auto const* node = table.m_buckets[b]; node && chained.size() <= table.m_count;
         prev = node, node = node->m_next) {
      EXPECT_EQ(node->m_prev, prev) << "back link in bucket " << b;
      EXPECT_EQ(Ops().hash(node->m_key) % table.m_bucket_count, b);
      chained.push_back(node->m_key);
    }
  }
  EXPECT_EQ(chained.size(), table.m_count);
  for (auto it = table.begin(); it != table.end() && iterated.size() <= table.m_count; ++it) {
    iterated.push_back(it->m_key);
  }
  EXPECT_EQ(iterated, chained);
  return chained;
}

class OrbHashTest : public zema_test::TrackedTest {
 protected:
  void SetUp() override {
    TrackedTest::SetUp();
    zema_host::clear_growth_requests();
  }
};

TEST_F(OrbHashTest, NameHashMatchesReferenceVectors) {
  // Bytes from 0x80 up count as negative; an unsigned byte would give "a\xE9" 3392.
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
      {"reg_17", 0xEB68CACAu},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(ZEMA_NAME_CSTR_OPS().hash(c.text), c.hash) << '"' << c.text << '"';
  }
  for (unsigned id : {0u, 61u, 0xFFFFFFFFu}) EXPECT_EQ(ORB_OPS<unsigned>().hash(id), id);
}

TEST_F(OrbHashTest, IterationVisitsBucketsAscendingLastInsertedFirst) {
  ID_TABLE table;
  ASSERT_EQ(table.m_bucket_count, 61u);
  EXPECT_TRUE(table.begin() == table.end());
  table[60] = 1;  // alone in the last bucket
  EXPECT_EQ(checked_keys(table), std::vector<unsigned>{60});
  for (unsigned id : {5u, 66u, 0u, 127u, 3u}) table[id] = id + 1;
  EXPECT_EQ(checked_keys(table), (std::vector<unsigned>{0, 3, 127, 66, 5, 60}));
  std::vector<unsigned> rest;  // iterating from a found entry continues in the same order
  for (auto it = table.find(66); it != table.end(); ++it) rest.push_back(it->m_key);
  EXPECT_EQ(rest, (std::vector<unsigned>{66, 5, 60}));
}

TEST_F(OrbHashTest, FiftySecondKeyGrowsTableAndRehashTakesOldBucketsAscending) {
  unsigned const grown = orb_hash_50_percent_increase_size(65);
  zema_host::clear_growth_requests();
  unsigned const later_old = 1 + grown;  // bucket 1 after growth, a later one before
  ASSERT_GT(later_old % 61, 1u);
  ID_TABLE table;
  for (unsigned key : {1u, 1 + 61 * grown}) table[key] = key;
  unsigned* const slot = &table[later_old];
  for (unsigned key = 2; table.m_count < 52; ++key) {
    EXPECT_EQ(table.m_bucket_count, 61u) << table.m_count;
    table[key] = key;
  }
  EXPECT_EQ(zema_host::growth_requests(), std::vector<unsigned>{65});
  ASSERT_EQ(table.m_bucket_count, grown);
  EXPECT_EQ(&table[later_old], slot);  // entries keep their addresses
  // Old bucket 1 held {1 + 61 * grown, 1} and moves first, reversed; later_old moves
  // later, so it lands in front of them.
  table[1 + 2 * grown] = 4;
  std::vector<unsigned> chain;
  for (auto it = table.find(1 + 2 * grown); it != table.end() && it.m_bucket == 1; ++it) {
    chain.push_back(it->m_key);
  }
  EXPECT_EQ(chain, (std::vector<unsigned>{1 + 2 * grown, later_old, 1, 1 + 61 * grown}));
  checked_keys(table);
}

TEST_F(OrbHashTest, ClearAndDestructionFreeEveryNodeAndClearKeepsTheBucketCount) {
  // Keys spread over a grown table; only the last of 61 buckets, outside the
  // groups of four that freeing skips at once; one chain in the first group
  // and one at its end; one chain of three.
  std::vector<std::vector<unsigned>> const key_sets = {
      [] {
        std::vector<unsigned> keys;
        for (unsigned i = 0; i < 200; ++i) keys.push_back(i * 3);
        return keys;
      }(),
      {60},
      {2, 59},
      {5, 5 + 61, 5 + 122},
  };
  for (std::vector<unsigned> const& keys : key_sets) {
    SCOPED_TRACE(keys.size());
    unsigned long long const blocks = zema_host::mem_module_stats("ZEMA").live_blocks;
    {
      ID_TABLE table;
      for (unsigned key : keys) table[key] = key + 1;
      unsigned const buckets = table.m_bucket_count;
      table.clear();
      EXPECT_EQ(zema_host::mem_module_stats("ZEMA").live_blocks, blocks + 1);  // the buckets
      EXPECT_EQ(table.m_count, 0u);
      EXPECT_EQ(table.m_bucket_count, buckets);
      EXPECT_TRUE(checked_keys(table).empty());
      zema_host::clear_growth_requests();
      for (unsigned i = 0; i < 40; ++i) EXPECT_EQ(table[i], 0u);
      EXPECT_TRUE(zema_host::growth_requests().empty());
      EXPECT_EQ(checked_keys(table).size(), 40u);
      for (unsigned key : keys) table[key] = key;
    }
    EXPECT_EQ(zema_host::mem_module_stats("ZEMA").live_blocks, blocks);
  }
}

TEST_F(OrbHashTest, NameKeysCompareByAddressNotByText) {
  char first[] = "abc";
  char second[] = "abc";
  ORB_HASH<char const*, unsigned, ZEMA_NAME_CSTR_OPS> table;
  table[first] = 1;
  ASSERT_NE(table.m_buckets[54], nullptr);  // 110586 % 61
  EXPECT_EQ(table.m_buckets[54]->m_key, first);
  EXPECT_TRUE(table.find(second) == table.end());
  table[second] = 2;
  EXPECT_EQ(checked_keys(table), (std::vector<char const*>{second, first}));
  EXPECT_EQ(table.find(first)->m_value, 1u);
}

TEST_F(OrbHashTest, RandomOperationsMatchUnorderedMap) {
  for (unsigned seed : {1u, 2u, 3u, 4u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    std::unordered_map<unsigned, ID_TABLE::NODE*> model;  // each entry's value is key * 2 + 1
    ID_TABLE table;
    for (int op = 0; op < 3000; ++op) {
      // Small ids, multiples of 61 (one bucket until the first growth) and any id.
      unsigned const pick = rng() % 4;
      unsigned const key = pick < 2    ? rng() % 300
                           : pick == 2 ? (rng() % 60) * 61
                                       : static_cast<unsigned>(rng());
      unsigned const roll = rng() % 1000, buckets_before = table.m_bucket_count;
      std::size_t const requests_before = zema_host::growth_requests().size();
      auto const known = model.find(key);
      bool const is_new = known == model.end();
      if (roll < 500) {
        unsigned& slot = table[key];
        ID_TABLE::NODE* const node = table.find(key).m_node;
        ASSERT_NE(node, nullptr);
        EXPECT_EQ(&node->m_value, &slot);
        EXPECT_EQ(slot, is_new ? 0u : key * 2 + 1);
        EXPECT_EQ(node, is_new ? node : known->second);
        slot = key * 2 + 1;
        model[key] = node;
      } else if (roll < 998) {
        ID_TABLE::ITERATOR const it = table.find(key);
        EXPECT_EQ(it.m_node, table.hash_search(key, key));
        EXPECT_EQ(it.m_node, is_new ? nullptr : known->second);
        EXPECT_TRUE(it == table.end() || it->m_value == key * 2 + 1);
      } else {
        table.clear();
        model.clear();
      }
      ASSERT_EQ(table.m_count, model.size());
      // The table grows exactly when a new key makes (count / 4) * 5 exceed it.
      bool const should_grow = roll < 500 && is_new && (table.m_count / 4) * 5 > buckets_before;
      EXPECT_EQ(table.m_bucket_count != buckets_before, should_grow) << "op " << op;
      EXPECT_EQ(zema_host::growth_requests().size(), requests_before + (should_grow ? 1 : 0));
      if (op % 500 == 499) {
        EXPECT_EQ(checked_keys(table).size(), model.size());
      }
    }
  }
}

TEST_F(OrbHashTest, FailedAllocationLeavesTableConsistentAndUsable) {
  zema_host::mem_fail_after(0);
  EXPECT_THROW({ ID_TABLE table; }, std::bad_alloc);
  for (long k = 0; k < 130; ++k) {
    SCOPED_TRACE(k);
    zema_host::mem_fail_after(-1);
    ID_TABLE table;
    zema_host::mem_fail_after(k);
    unsigned done = 0;
    try {
      for (; done < 120; ++done) table[done * 13] = done + 1;
    } catch (std::bad_alloc const&) {
    }
    zema_host::mem_fail_after(-1);
    checked_keys(table);
    for (unsigned i = 0; i < done; ++i) ASSERT_EQ(table.find(i * 13)->m_value, i + 1);
    // The failing key is absent, or in with a null value when only the growth failed.
    ID_TABLE::ITERATOR const failed = table.find(done * 13);
    EXPECT_EQ(table.m_count, done + (failed != table.end() ? 1 : 0));
    EXPECT_TRUE(failed == table.end() || failed->m_value == 0u);
    for (unsigned i = done; i < 120; ++i) table[i * 13] = i + 1;
    EXPECT_EQ(checked_keys(table).size(), 120u);
    EXPECT_GE(table.m_bucket_count, (table.m_count / 4) * 5);
  }
}

// The builder must leave exactly the table that insert_new would: the same
// bucket count, the same keys chain by chain, the same growth requests. Runs
// cross the first growth (the 52nd key), several growths by half and, in the
// largest, growths by doubling; some start from a table that already holds
// keys, as a parent's index does when its made-up children follow. One
// storage serves every builder of a kind, as it serves one init's parents, so
// a small table is built in arrays that a big one has left behind.
template <class Key, class Ops>
void expect_builder_matches_insert_new(
    std::vector<Key> const& keys, std::size_t before,
    typename ORB_HASH_BUILDER<Key, unsigned, Ops>::STORAGE& storage) {
  typedef ORB_HASH<Key, unsigned, Ops> TABLE;
  zema_host::set_growth_log(true);
  zema_host::clear_growth_requests();
  TABLE expected;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    expected.insert_new(Ops().hash(keys[i]), keys[i]) = static_cast<unsigned>(i);
  }
  // A copy: the log is cleared next.
  auto const expected_requests = std::vector<unsigned>(zema_host::growth_requests());
  zema_host::clear_growth_requests();
  TABLE built;
  for (std::size_t i = 0; i < before; ++i) {
    built.insert_new(Ops().hash(keys[i]), keys[i]) = static_cast<unsigned>(i);
  }
  {
    ORB_HASH_BUILDER<Key, unsigned, Ops> builder(built, storage);
    for (std::size_t i = before; i < keys.size(); ++i) {
      unsigned const h = Ops().hash(keys[i]);
      ASSERT_EQ(builder.hash_search(h, keys[i]), nullptr);
      builder.insert_new(h, keys[i]) = static_cast<unsigned>(i);
      std::size_t const earlier = (i * 7) % (i + 1);  // any key entered so far
      auto const* found = builder.hash_search(Ops().hash(keys[earlier]), keys[earlier]);
      ASSERT_NE(found, nullptr);
      ASSERT_EQ(found->m_value, earlier);
    }
    builder.finish();
  }
  zema_host::set_growth_log(false);
  EXPECT_EQ(zema_host::growth_requests(), expected_requests);
  EXPECT_EQ(built.m_bucket_count, expected.m_bucket_count);
  EXPECT_EQ(checked_keys(built), checked_keys(expected));
  for (std::size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(built.find(keys[i])->m_value, i);
}

// The builder's remainder without a divide is the remainder, for divisors
// and hashes at the edges of 32 bits and for random ones.
TEST_F(OrbHashTest, RemainderByReciprocalIsExact) {
  std::vector<unsigned> divisors = {1u,          2u,          3u,          7u,         61u,
                                    233u,        4201u,       65536u,      72077u,     0x7fffffffu,
                                    0x80000000u, 4294967291u, 0xfffffffeu, 0xffffffffu};
  std::mt19937 random(7);
  for (int i = 0; i < 50; ++i) divisors.push_back(random() | 1u);
  for (unsigned const d : divisors) {
    ORB_REMAINDER const remainder(d);
    std::vector<unsigned> hashes = {0u, 1u, d - 1, d, d + 1, 2 * d - 1, 0x7fffffffu, 0xffffffffu};
    for (int i = 0; i < 2000; ++i) hashes.push_back(random());
    for (unsigned const h : hashes) ASSERT_EQ(h % d, remainder.of(h)) << h << " mod " << d;
  }
}

// A table entered and searched through one ORB_BUCKET_OF while it grows from
// 61 buckets: each bucket is the remainder by the count of the moment, so
// every key lands where the table's own search finds it.
TEST_F(OrbHashTest, BucketOfFollowsTheTableThroughGrowth) {
  ID_TABLE table;
  ORB_BUCKET_OF bucket_of;
  std::mt19937 random(11);
  std::vector<unsigned> keys(20000);
  for (unsigned& key : keys) key = static_cast<unsigned>(random());
  unsigned grown = 0;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    unsigned const count = table.m_bucket_count;
    unsigned const bucket = bucket_of(table, keys[i]);
    ASSERT_EQ(bucket, keys[i] % count);
    ASSERT_EQ(bucket, orb_bucket(keys[i], count));
    table.bucket_slot(bucket, keys[i]) = static_cast<unsigned>(i);
    if (table.m_bucket_count != count) ++grown;
  }
  EXPECT_GT(grown, 5u);
  for (std::size_t i = 0; i < keys.size(); ++i) {
    ASSERT_NE(table.bucket_search(bucket_of(table, keys[i]), keys[i]), nullptr);
    ASSERT_NE(table.find(keys[i]), table.end());
  }
}

TEST_F(OrbHashTest, BuilderLeavesTheTableInsertNewWould) {
  std::mt19937 random(7);
  std::vector<unsigned> ids(300000);
  for (unsigned& id : ids) id = static_cast<unsigned>(random());
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  std::shuffle(ids.begin(), ids.end(), random);
  std::vector<std::string> texts;
  for (unsigned i = 0; i < 200000; ++i) texts.push_back("w" + std::to_string(i));
  std::vector<char const*> names;
  names.reserve(texts.size());
  for (std::string const& text : texts) names.push_back(text.c_str());

  struct RUN {
    std::size_t keys;
    std::size_t before;
  };
  ORB_HASH_BUILDER<unsigned, unsigned, ORB_OPS<unsigned>>::STORAGE id_storage;
  ORB_HASH_BUILDER<char const*, unsigned, ZEMA_NAME_CSTR_OPS>::STORAGE name_storage;
  for (RUN const run :
       {RUN{0, 0}, RUN{51, 0}, RUN{52, 0}, RUN{52, 51}, RUN{5000, 10}, RUN{5000, 4999},
        RUN{200000, 0}, RUN{200000, 70000}, RUN{60, 0}, RUN{120, 30}}) {
    SCOPED_TRACE(testing::Message() << run.keys << " keys, " << run.before << " before");
    expect_builder_matches_insert_new<unsigned, ORB_OPS<unsigned>>(
        std::vector<unsigned>(ids.begin(), ids.begin() + static_cast<std::ptrdiff_t>(run.keys)),
        run.before, id_storage);
    expect_builder_matches_insert_new<char const*, ZEMA_NAME_CSTR_OPS>(
        std::vector<char const*>(names.begin(),
                                 names.begin() + static_cast<std::ptrdiff_t>(run.keys)),
        run.before, name_storage);
  }
}

// A failed allocation while building leaves a whole table holding every key
// entered, and nothing leaks: the first allocations (the builder's arrays,
// its first growths) and the last ones (finish's scratch and bucket array).
TEST_F(OrbHashTest, BuilderFailingToAllocateLeavesTheTableWhole) {
  auto const build = [](long fail_after) {
    ID_TABLE table;
    for (unsigned i = 0; i < 30; ++i) table[i] = i + 1;
    unsigned done = 30;
    unsigned long long const before = zema_host::mem_module_stats("ZEMA").total_blocks;
    zema_host::mem_fail_after(fail_after);
    try {
      ORB_HASH_BUILDER<unsigned, unsigned, ORB_OPS<unsigned>> builder(table);
      for (; done < 3000; ++done) builder.insert_new(done, done) = done + 1;
      builder.finish();
    } catch (std::bad_alloc const&) {
    }
    zema_host::mem_fail_after(-1);
    long const made = static_cast<long>(zema_host::mem_module_stats("ZEMA").total_blocks - before);
    checked_keys(table);
    for (unsigned i = 0; i < done; ++i) EXPECT_EQ(table.find(i)->m_value, i + 1) << i;
    EXPECT_GE(table.m_count, done);
    EXPECT_LE(table.m_count, done + 1);
    return made;
  };
  long const clean = build(-1);
  ASSERT_GT(clean, 2970) << "a node for each of the 2,970 keys, then the builder's arrays";
  for (long k = 0; k < clean; k = k == 40 ? clean - 8 : k + 1) {
    SCOPED_TRACE(k);
    build(k);
  }
}

}  // namespace
