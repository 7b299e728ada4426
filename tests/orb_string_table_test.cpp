// Tests of ORB_STRING_TABLE: interning by content, growth, clear() and its
// fresh chunk manager, failing tracked allocations, and a randomized comparison
// against a std::map of the interned texts.
#include "containers/orb_string_table.h"

#include <gtest/gtest.h>

#include <map>
#include <new>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "host/zema_host.h"
#include "tests/test_support.h"

namespace {

typedef ORB_STRING_TABLE<ORB_CSTR_OPS> TABLE;

char const* intern(TABLE& table, char const* text) {
  return table.insert_helper(ORB_CSTR_OPS().hash(text), text)->m_text;
}

// Walks every chain, checking the back links, that each text sits in the
// bucket of its hash, that no text is held twice and that the chains hold
// m_count texts. Gives the texts.
std::set<std::string> checked_texts(TABLE const& table) {
  std::set<std::string> texts;
  unsigned walked = 0;
  for (unsigned b = 0; b < table.m_bucket_count && walked <= table.m_count; ++b) {
    TABLE::NODE const* prev = nullptr;
    for (TABLE::NODE const* node = table.m_buckets[b]; node && walked <= table.m_count;
         prev = node, node = node->m_next, ++walked) {
      EXPECT_EQ(node->m_prev, prev) << "back link in bucket " << b;
      EXPECT_EQ(ORB_CSTR_OPS().hash(node->m_text) % table.m_bucket_count, b);
      EXPECT_TRUE(texts.insert(node->m_text).second) << "held twice: " << node->m_text;
    }
  }
  EXPECT_EQ(walked, table.m_count);
  return texts;
}

using OrbStringTableTest = zema_test::TrackedTest;

TEST_F(OrbStringTableTest, InternedTextIsTheTablesOwnCopy) {
  TABLE table;
  char text[] = "alpha";
  char const* const held = intern(table, text);
  EXPECT_NE(held, static_cast<char const*>(text));
  text[0] = 'A';
  EXPECT_STREQ(held, "alpha");
  EXPECT_EQ(table.find("alpha"), held);
  EXPECT_EQ(table.find(text), nullptr);
}

TEST_F(OrbStringTableTest, GrowsAtTheFiftySecondTextAndClearStartsAFreshChunkManager) {
  zema_host::clear_growth_requests();
  unsigned long long const orb_bytes = zema_host::mem_module_stats("ORB").live_bytes;
  TABLE table;
  unsigned long long const zema_blocks = zema_host::mem_module_stats("ZEMA").live_blocks;
  for (unsigned i = 0; i < 100; ++i) {
    EXPECT_EQ(table.m_bucket_count == 61, i < 52) << i;
    intern(table, ("n" + std::to_string(i)).c_str());
  }
  EXPECT_EQ(zema_host::growth_requests().at(0), 65u);
  unsigned const grown = table.m_bucket_count;
  // clear() never throws: when its fresh chunk manager cannot be allocated,
  // the next new text allocates one (here after a second failure).
  for (long failures : {0L, 1L}) {
    SCOPED_TRACE(failures);
    zema_host::mem_fail_after(0);
    table.clear();
    zema_host::mem_fail_after(-1);
    EXPECT_EQ(table.m_count, 0u);
    EXPECT_EQ(table.m_bucket_count, grown);
    EXPECT_EQ(zema_host::mem_module_stats("ZEMA").live_blocks, zema_blocks - 1);  // no manager
    EXPECT_EQ(zema_host::mem_module_stats("ORB").live_bytes, orb_bytes);  // every copy released
    EXPECT_EQ(table.find("n7"), nullptr);
    if (failures == 1) {
      zema_host::mem_fail_after(0);
      EXPECT_THROW(intern(table, "n7"), std::bad_alloc);
      zema_host::mem_fail_after(-1);
      EXPECT_EQ(table.m_count, 0u);
    }
    EXPECT_STREQ(intern(table, "n7"), "n7");
    EXPECT_GT(zema_host::mem_module_stats("ORB").live_bytes, orb_bytes);  // stored anew
    EXPECT_EQ(checked_texts(table), std::set<std::string>{"n7"});
  }
}

TEST_F(OrbStringTableTest, FailedAllocationLeavesTableWhole) {
  for (long k : {0L, 1L}) {  // the bucket array, then the chunk manager
    zema_host::mem_fail_after(k);
    EXPECT_THROW({ TABLE table; }, std::bad_alloc) << k;
  }
  for (long k = 0; k < 66; ++k) {
    SCOPED_TRACE(k);
    zema_host::mem_fail_after(-1);
    TABLE table;
    std::vector<char const*> held;
    zema_host::mem_fail_after(k);
    try {
      while (held.size() < 60)
        held.push_back(intern(table, ("c" + std::to_string(held.size())).c_str()));
    } catch (std::bad_alloc const&) {
    }
    zema_host::mem_fail_after(-1);
    checked_texts(table);
    for (std::size_t i = 0; i < held.size(); ++i) {
      ASSERT_EQ(table.find(("c" + std::to_string(i)).c_str()), held[i]);
    }
    while (held.size() < 60)
      held.push_back(intern(table, ("c" + std::to_string(held.size())).c_str()));
    EXPECT_EQ(checked_texts(table).size(), 60u);
  }
}

TEST_F(OrbStringTableTest, RandomOperationsMatchAMapOfTexts) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    std::map<std::string, char const*> model;
    TABLE table;
    for (int op = 0; op < 3000; ++op) {
      // Short texts over a small alphabet repeat often; a few long ones do not
      // fit a storage chunk's remaining room.
      std::string text(rng() % 200 == 0 ? 20000 + rng() % 3 : rng() % 8, ' ');
      for (char& c : text) c = "ab_/9\xE9"[rng() % 6];
      auto const known = model.find(text);
      unsigned const roll = rng() % 1000;
      if (roll < 600) {
        char const* const held = intern(table, text.c_str());
        EXPECT_EQ(held, known == model.end() ? held : known->second) << text;
        EXPECT_EQ(std::string(held), text);
        model[text] = held;
      } else if (roll < 997) {
        EXPECT_EQ(table.find(text.c_str()), known == model.end() ? nullptr : known->second);
      } else {
        table.clear();
        model.clear();
      }
      ASSERT_EQ(table.m_count, model.size());
      EXPECT_GE(table.m_bucket_count, (table.m_count / 4) * 5);
      if (op % 500 == 499) {
        EXPECT_EQ(checked_texts(table).size(), model.size());
      }
    }
  }
}

}  // namespace
