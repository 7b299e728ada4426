// translate's index and tokens: the hash that lookups prepared ahead rely
// on, the table, and the rules of docs/cli.md on a small design, both ways
// and whatever the pieces the text comes in.
#include "tools/names/text_translator.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "tools/input/read_design.h"
#include "tools/names/name_index.h"

namespace zema_tool {
namespace {

TEST(NameIndexHashTest, OnePassGivesTheHashesOfTheTextAndOfEveryPrefix) {
  std::string text;
  for (int i = 0; i < 70; ++i) text.push_back(static_cast<char>('a' + i % 26));
  text[33] = '\0';  // bytes are bytes
  for (std::size_t size = 0; size <= text.size(); ++size) {
    std::string_view const whole(text.data(), size);
    for (std::size_t prefix = 0; prefix <= size; ++prefix) {
      std::uint64_t full = 0;
      std::uint64_t part = 0;
      NAME_INDEX::hash_with_prefix(whole, prefix, &full, &part);
      ASSERT_EQ(full, NAME_INDEX::hash(whole)) << size << " " << prefix;
      ASSERT_EQ(part, NAME_INDEX::hash(whole.substr(0, prefix))) << size << " " << prefix;
    }
  }
  // A text and the same text with a zero byte more differ.
  EXPECT_NE(NAME_INDEX::hash(std::string_view("ab", 2)),
            NAME_INDEX::hash(std::string_view("ab\0", 3)));
}

// The tools' one hash table: every key found again after the table grew,
// also where keys share a hash and only their bytes tell them apart.
TEST(HashTableTest, FindsEveryKeyThroughGrowthAndSharedHashes) {
  typedef MAP_ENTRY<std::string_view, char const*> ENTRY;
  HASH_TABLE<ENTRY> table;
  std::set<std::string> keys;
  for (int i = 0; i < 5000; ++i) keys.insert("k" + std::to_string(i * 7919));
  // Every fourth key shares its hash with the ones before it.
  auto const shared_hash = [](std::string_view key) {
    return (hash_of(key) & ~std::uint64_t{3}) | 4;
  };
  bool inserted = false;
  for (std::string const& key : keys) {
    ENTRY* const entry = table.insert(shared_hash(key), std::string_view(key), &inserted);
    ASSERT_TRUE(inserted);
    entry->m_key = key;
    entry->m_value = key.c_str();
  }
  for (std::string const& key : keys) {
    ENTRY const* const entry = table.find(shared_hash(key), std::string_view(key));
    ASSERT_NE(entry, nullptr) << key;
    EXPECT_EQ(entry->m_value, key.c_str());
  }
  EXPECT_EQ(table.find(shared_hash("k1"), std::string_view("k1")), nullptr);
  table.insert(shared_hash("k0"), std::string_view("k0"), &inserted);
  EXPECT_FALSE(inserted);
  EXPECT_EQ(table.size(), keys.size());
  // Ids in runs, as designs number their names.
  ID_MAP<std::uint32_t> ids;
  for (std::uint32_t id = 1; id <= 100000; ++id) ids.emplace(id, id * 3);
  for (std::uint32_t id = 1; id <= 100000; ++id) ASSERT_EQ(*ids.find(id), id * 3);
  EXPECT_EQ(ids.find(0), nullptr);
  EXPECT_FALSE(ids.emplace(7, 0).second);
}

// u_cpu/$reg (a register), its clock pin as a level, a name with a "/" of
// its own, and a made-up atom name that shares an instance's original.
std::string const kDesign = R"({
  "root": {"name": "", "id": 1, "children": [
    {"name": "u_cpu", "id": 2, "children": [{"name": "$reg", "id": 3}, {"name": "a/b", "id": 4}]},
    {"name": "PAD", "id": 5}]},
  "netlist": [{"type": "COMB", "name": 3}, {"type": "IO_IBUF", "name": 5}]})";

class TranslatorTest : public ::testing::Test {
 protected:
  TranslatorTest() : m_phases(false, false) {
    DESIGN_RECORDS records;
    read_records(INPUT_TEXT::from_bytes(kDesign, "d.json", 1 << 20), READ_OPTIONS(), &records);
    m_design = build_design(std::move(records));
    m_conversion = std::make_unique<CONVERSION>(*m_design, ZEMA_NAME_CONVERTER_FUSION, m_phases);
    m_originals = std::make_unique<ORIGINAL_NAMES>(*m_design);
    m_index = std::make_unique<NAME_INDEX>(*m_conversion, *m_originals);
  }

  // `text` translated, fed in pieces of `piece` bytes (0: whole).
  std::string translate(std::string const& text, bool to_original, char separator = '/',
                        std::size_t piece = 0) {
    return written_text([&](OUTPUT_BUFFER& out) {
      TEXT_TRANSLATOR translator(*m_index, to_original, separator, TEXT_TRANSLATOR::UNKNOWN());
      std::string pending;
      for (std::size_t at = 0; at < text.size(); at += piece == 0 ? text.size() : piece) {
        pending += text.substr(at, piece == 0 ? text.size() : piece);
        pending.erase(0, translator.put(pending, false, out));
      }
      translator.put(pending, true, out);
    });
  }

  PHASES m_phases;
  std::unique_ptr<LOADED_DESIGN> m_design;
  std::unique_ptr<CONVERSION> m_conversion;
  std::unique_ptr<ORIGINAL_NAMES> m_originals;
  std::unique_ptr<NAME_INDEX> m_index;
};

TEST_F(TranslatorTest, FollowsTheTokenRulesBothWays) {
  struct {
    char const* text;
    bool to_original;
    char separator;
    char const* expected;
  } const cases[] = {
      // A name ends where a byte outside converted names touches it.
      {"(u_cpu/a_reg:", true, '/', "(/u_cpu/$reg:"},
      // The longest prefix at a level boundary; the pin stays.
      {"u_cpu/a_reg/D", true, '/', "/u_cpu/$reg/D"},
      {"[get_cells u_cpu/a_reg]", true, '/', "[get_cells /u_cpu/$reg]"},
      {"data[3] u_cpu/a_reg[0]", true, '/', "data[3] /u_cpu/a_reg[0]"},
      {"\\u_cpu/a_reg ", true, '/', "\\/u_cpu/$reg "},
      {"u_cpu.a_reg.D", true, '.', "/u_cpu/$reg.D"},
      {"U_CPU/A_REG xu_cpu/a_reg u_cpu/a_regx", true, '/',
       "U_CPU/A_REG xu_cpu/a_reg /u_cpu/a_regx"},
      {"u_cpu/a_b", true, '/', "/u_cpu/a\\/b"},
      // Original names: anything but white space and quoting; escapes kept.
      {"{/u_cpu/$reg}", false, '/', "{u_cpu/a_reg}"},
      {"u_cpu/$reg/Q", false, '/', "u_cpu/a_reg/Q"},
      {"\"/u_cpu/a\\/b\"", false, '/', "\"u_cpu/a_b\""},
      {"/u_cpu/a/b", false, '/', "u_cpu/a/b"},
      {"/u_cpu/$reg", false, '|', "u_cpu|a_reg"},
      // An instance and its atom's made-up name share /PAD: the instance.
      {"/PAD io_ibuf_apad", false, '/', "apad io_ibuf_apad"},
      {"io_ibuf_apad apad", true, '/', "/PAD /PAD"},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(translate(c.text, c.to_original, c.separator), c.expected) << c.text;
  }
}

TEST_F(TranslatorTest, GivesTheSameTextWhateverThePieces) {
  std::string text;
  for (int i = 0; i < 50; ++i) text += "  u_cpu/a_reg/D [get_pins {u_cpu/a_b}] \\apad x\n";
  std::string const whole = translate(text, true);
  for (std::size_t const piece : {1, 2, 3, 7, 64}) {
    EXPECT_EQ(translate(text, true, '/', piece), whole) << piece;
  }
  std::string const back = translate(whole, false);
  for (std::size_t const piece : {1, 5, 13}) EXPECT_EQ(translate(whole, false, '/', piece), back);
  EXPECT_EQ(back, text);
}

}  // namespace
}  // namespace zema_tool
