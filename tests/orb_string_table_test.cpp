// Tests of ORB_STRING_TABLE: interning by content, the empty text, growth,
// clear() and its fresh chunk manager, failing tracked allocations, and a
// randomized comparison against a std::map of the interned texts.
#include "containers/orb_string_table.h"

#include <gtest/gtest.h>

#include <cstring>
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
         node = node->m_next, ++walked) {
      EXPECT_EQ(node->m_prev, prev) << "back link in bucket " << b;
      EXPECT_EQ(ORB_CSTR_OPS().hash(node->m_text) % table.m_bucket_count, b);
      EXPECT_TRUE(texts.insert(node->m_text).second) << "held twice: " << node->m_text;
      prev = node;
    }
  }
  EXPECT_EQ(walked, table.m_count);
  return texts;
}

class OrbStringTableTest : public zema_test::TrackedTest {
 protected:
  void SetUp() override {
    TrackedTest::SetUp();
    zema_host::clear_growth_requests();
  }
};

TEST_F(OrbStringTableTest, FreshTableIsEmpty) {
  TABLE table;
  ASSERT_EQ(table.m_bucket_count, 61u);
  EXPECT_EQ(table.m_count, 0u);
  for (unsigned b = 0; b < 61; ++b) EXPECT_EQ(table.m_buckets[b], nullptr);
  EXPECT_NE(table.m_chunk_mgr, nullptr);
  EXPECT_EQ(table.find(""), nullptr);
  EXPECT_EQ(table.find("x"), nullptr);
}

TEST_F(OrbStringTableTest, EqualTextsShareOneCopyWhateverTheirAddress) {
  unsigned long long const orb_bytes = zema_host::mem_module_stats("ORB").live_bytes;
  TABLE table;
  char const* const held = intern(table, "alpha");
  EXPECT_GT(zema_host::mem_module_stats("ORB").live_bytes, orb_bytes);
  EXPECT_STREQ(held, "alpha");
  char elsewhere[] = "alpha";
  EXPECT_NE(held, static_cast<char const*>(elsewhere));
  EXPECT_EQ(intern(table, "alpha"), held);
  EXPECT_EQ(intern(table, elsewhere), held);
  EXPECT_EQ(table.find(elsewhere), held);
  EXPECT_EQ(table.hash_search(ORB_CSTR_OPS().hash(elsewhere), elsewhere)->m_text, held);
  EXPECT_EQ(table.m_count, 1u);
  EXPECT_EQ(table.find("alph"), nullptr);
  EXPECT_EQ(table.find("alphab"), nullptr);
  EXPECT_EQ(table.m_count, 1u);
  elsewhere[0] = 'A';  // the table holds its own copy
  EXPECT_STREQ(held, "alpha");
}

TEST_F(OrbStringTableTest, EmptyTextIsAnOrdinaryText) {
  TABLE table;
  char const* const empty = intern(table, "");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(*empty, '\0');
  EXPECT_EQ(table.find(""), empty);
  EXPECT_EQ(intern(table, ""), empty);
  EXPECT_NE(intern(table, "a"), empty);
  EXPECT_EQ(table.m_count, 2u);
  EXPECT_EQ(checked_texts(table), (std::set<std::string>{"", "a"}));
}

TEST_F(OrbStringTableTest, FiftySecondTextGrowsTableAndCopiesStayPut) {
  unsigned const grown = orb_hash_50_percent_increase_size(65);
  zema_host::clear_growth_requests();
  TABLE table;
  std::vector<std::string> texts;
  std::vector<char const*> held;
  for (unsigned i = 0; i < 52; ++i) {
    if (i == 51) {
      EXPECT_TRUE(zema_host::growth_requests().empty());
      EXPECT_EQ(table.m_bucket_count, 61u);
    }
    texts.push_back("top/reg_" + std::to_string(i));
    held.push_back(intern(table, texts.back().c_str()));
  }
  EXPECT_EQ(zema_host::growth_requests(), std::vector<unsigned>{65});
  EXPECT_EQ(table.m_bucket_count, grown);
  EXPECT_EQ(table.m_count, 52u);
  EXPECT_EQ(checked_texts(table).size(), 52u);
  for (unsigned i = 0; i < 52; ++i) {
    EXPECT_EQ(table.find(texts[i].c_str()), held[i]) << texts[i];
    EXPECT_EQ(intern(table, texts[i].c_str()), held[i]) << texts[i];
  }
  EXPECT_EQ(zema_host::growth_requests().size(), 1u);
}

TEST_F(OrbStringTableTest, ClearForgetsEveryTextAndReinterningStoresANewCopy) {
  unsigned long long const orb_bytes = zema_host::mem_module_stats("ORB").live_bytes;
  TABLE table;
  unsigned long long const empty_blocks = zema_host::mem_module_stats("ZEMA").live_blocks;
  for (unsigned i = 0; i < 100; ++i) intern(table, ("n" + std::to_string(i)).c_str());
  unsigned const grown = table.m_bucket_count;
  EXPECT_GT(grown, 61u);
  ORB_STRING_CHUNK_MGR const* const old_mgr = table.m_chunk_mgr;
  table.clear();
  EXPECT_EQ(table.m_count, 0u);
  EXPECT_EQ(table.m_bucket_count, grown);
  EXPECT_NE(table.m_chunk_mgr, old_mgr);
  EXPECT_EQ(zema_host::mem_module_stats("ZEMA").live_blocks, empty_blocks);
  EXPECT_EQ(zema_host::mem_module_stats("ORB").live_bytes, orb_bytes);
  for (unsigned i = 0; i < 100; ++i) {
    ASSERT_EQ(table.find(("n" + std::to_string(i)).c_str()), nullptr) << i;
  }
  char const* const again = intern(table, "n7");
  EXPECT_STREQ(again, "n7");
  EXPECT_GT(zema_host::mem_module_stats("ORB").live_bytes, orb_bytes);
  EXPECT_EQ(table.find("n7"), again);
  EXPECT_EQ(table.m_count, 1u);
}

TEST_F(OrbStringTableTest, FailedAllocationLeavesTableWhole) {
  for (long k : {0L, 1L}) {  // the bucket array, then the chunk manager
    zema_host::mem_fail_after(k);
    EXPECT_THROW({ TABLE table; }, std::bad_alloc) << k;
  }
  zema_host::mem_fail_after(-1);
  std::vector<std::string> texts;
  for (unsigned i = 0; i < 60; ++i) texts.push_back("cell_" + std::to_string(i * 31));
  for (long k = 0; k < 66; ++k) {
    SCOPED_TRACE(k);
    TABLE table;
    std::vector<char const*> held;
    zema_host::mem_fail_after(k);
    try {
      while (held.size() < texts.size()) held.push_back(intern(table, texts[held.size()].c_str()));
    } catch (std::bad_alloc const&) {
    }
    zema_host::mem_fail_after(-1);
    checked_texts(table);
    for (std::size_t i = 0; i < held.size(); ++i) ASSERT_EQ(table.find(texts[i].c_str()), held[i]);
    while (held.size() < texts.size()) held.push_back(intern(table, texts[held.size()].c_str()));
    EXPECT_EQ(checked_texts(table).size(), texts.size());
    // A clear() that cannot make its new chunk manager keeps every text.
    zema_host::mem_fail_after(0);
    EXPECT_THROW(table.clear(), std::bad_alloc);
    zema_host::mem_fail_after(-1);
    EXPECT_EQ(table.m_count, texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) EXPECT_EQ(table.find(texts[i].c_str()), held[i]);
  }
}

TEST_F(OrbStringTableTest, RandomOperationsMatchAMapOfTexts) {
  for (unsigned seed : {1u, 2u, 3u}) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    // Short texts over a small alphabet repeat often; a few long ones do not
    // fit a storage chunk's remaining room.
    auto random_text = [&rng]() {
      std::size_t const length = rng() % 200 == 0 ? 20000 + rng() % 3 : rng() % 8;
      std::string text;
      for (std::size_t i = 0; i < length; ++i) text += "ab_/9\xE9"[rng() % 6];
      return text;
    };
    std::map<std::string, char const*> model;
    TABLE table;
    for (int op = 0; op < 3000; ++op) {
      std::string const text = random_text();
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
        std::set<std::string> keys;
        for (auto const& entry : model) keys.insert(entry.first);
        EXPECT_EQ(checked_texts(table), keys);
      }
    }
  }
}

}  // namespace
