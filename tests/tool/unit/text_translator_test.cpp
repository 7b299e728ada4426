// translate's index and syntaxes: the hash that lookups prepared ahead rely
// on, the table, pattern matching, and the rules of docs/cli.md for text,
// Tcl and SPEF on a small design, both ways and whatever the pieces the
// text comes in.
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

// u_cpu/$reg (a register) with its output Q, a name with a "/" of its own,
// a bus bit, a made-up atom name that shares an instance's original, a
// name with a space, and free-standing names that two atoms share (st) and
// that an atom and the net of g's output share (y); \$k, an escaped Verilog
// name that keeps its backslash; r{a}eg, x} and "w, braces and quotes
// inside names.
std::string const kDesign = R"({
  "root": {"name": "", "id": 1, "children": [
    {"name": "u_cpu", "id": 2, "children": [
      {"name": "$reg", "id": 3, "children": [{"name": "Q", "id": 6}]}, {"name": "a/b", "id": 4,
       "children": [{"name": "\\$k", "id": 10, "children": [{"name": "$m", "id": 15}]}]},
      {"name": "data_q[3]", "id": 7}]},
    {"name": "PAD", "id": 5}, {"name": "q r", "id": 8}, {"name": "g", "id": 9},
    {"name": "r{a}eg", "id": 11, "children": [{"name": "Q", "id": 12}]},
    {"name": "x}", "id": 13}, {"name": "\"w", "id": 14}]},
  "names": [{"name": "st", "id": 101}, {"name": "st", "id": 102}, {"name": "y", "id": 103},
            {"name": "y", "id": 104}],
  "netlist": [{"type": "COMB", "name": 3, "oterms": [6]}, {"type": "IO_IBUF", "name": 5},
              {"type": "DFF", "name": 101}, {"type": "DFF", "name": 102},
              {"type": "DFF", "name": 103}, {"type": "COMB", "name": 9, "oterms": [104]},
              {"type": "DFF", "name": 11, "oterms": [12]}]})";

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

  // `text` translated in `syntax`, fed in pieces of `piece` bytes (0:
  // whole); the words left alone go to *reports as "PROBLEM word", each
  // PROBLEM a letter of its UNKNOWN_PROBLEM: the first, but C for NOT_CELL and
  // W (a wire) for NOT_NET.
  std::string translate(std::string const& text, bool to_original, SYNTAX syntax = SYNTAX::TEXT,
                        std::size_t levels = 1, char separator = '/', std::size_t piece = 0,
                        std::string* reports = nullptr) {
    return written_text([&](OUTPUT_BUFFER& out) {
      NAME_LOOKUP const lookup =
          NAME_LOOKUP::of_index(*m_index, to_original ? NAME_SIDE::ORIGINAL : NAME_SIDE::CONVERTED);
      TRANSLATION_OPTIONS options;
      options.m_separator = separator;
      options.m_levels = levels;
      TEXT_TRANSLATOR::UNKNOWN report;
      if (reports != nullptr) {
        report = [reports](UNKNOWN_WORD const& word) {
          *reports += std::string(reports->empty() ? "" : " ") +
                      "NPMUGMACW"[static_cast<int>(word.m_problem)] + std::string(word.m_word);
        };
      }
      TEXT_TRANSLATOR translator(lookup, options, report);
      translator.set_syntax(syntax);
      std::string pending;
      for (std::size_t at = 0; at < text.size(); at += piece == 0 ? text.size() : piece) {
        pending += text.substr(at, piece == 0 ? text.size() : piece);
        pending.erase(0, translator.put(pending, false, out));
      }
      translator.put(pending, true, out);
      translator.end_text();
    });
  }

  PHASES m_phases;
  std::unique_ptr<LOADED_DESIGN> m_design;
  std::unique_ptr<CONVERSION> m_conversion;
  std::unique_ptr<ORIGINAL_NAMES> m_originals;
  std::unique_ptr<NAME_INDEX> m_index;
};

struct TRANSLATION_CASE {
  SYNTAX syntax;
  bool to_original;
  char const* text;
  char const* expected;
  char const* reports;  // "PROBLEM word ...", see translate()
};

TEST_F(TranslatorTest, TextFollowsTheTokenRulesBothWays) {
  struct {
    char const* text;
    bool to_original;
    char separator;
    char const* expected;
  } const cases[] = {
      // A name ends where a byte outside converted names touches it.
      {"(u_cpu/a_reg:", true, '/', "(/u_cpu/$reg:"},
      // A name with a pin of its side's alphabet; the pin stays.
      {"u_cpu/a_reg/d", true, '/', "/u_cpu/$reg/d"},
      {"[get_cells u_cpu/a_reg]", true, '/', "[get_cells /u_cpu/$reg]"},
      {"[u_cpu/a_reg] [[u_cpu/data_q[3]]]", true, '/', "[/u_cpu/$reg] [[/u_cpu/data_q[3]]]"},
      {"data[3] u_cpu/a_reg[0]", true, '/', "data[3] /u_cpu/a_reg[0]"},
      {"\\u_cpu/a_reg ", true, '/', "\\/u_cpu/$reg "},
      {"u_cpu.a_reg.d", true, '.', "/u_cpu/$reg.d"},
      {"U_CPU/A_REG xu_cpu/a_reg u_cpu/a_regx", true, '/',
       "U_CPU/A_REG xu_cpu/a_reg /u_cpu/a_regx"},
      {"u_cpu/a_b u_cpu/a_reg/aq", true, '/', "/u_cpu/a\\/b /u_cpu/$reg/Q"},
      // Original names: anything but white space and quoting; escapes kept.
      {"{/u_cpu/$reg}", false, '/', "{u_cpu/a_reg}"},
      {"u_cpu/$reg/D", false, '/', "u_cpu/a_reg/D"},
      {"\"/u_cpu/a\\/b\"", false, '/', "\"u_cpu/a_b\""},
      {"/u_cpu/$reg", false, '|', "u_cpu|a_reg"},
      // An instance and its atom's made-up name share /PAD: the atom, the
      // cell of the converted netlist.
      {"/PAD io_ibuf_apad", false, '/', "io_ibuf_apad io_ibuf_apad"},
      {"io_ibuf_apad apad", true, '/', "/PAD /PAD"},
  };
  for (auto const& c : cases) {
    EXPECT_EQ(translate(c.text, c.to_original, SYNTAX::TEXT, 1, c.separator), c.expected) << c.text;
  }
}

// What is a name, in every syntax, and what is left alone and reported.
TEST_F(TranslatorTest, FindsNamesWhereEachSyntaxPutsThem) {
  SYNTAX const T = SYNTAX::TEXT;
  SYNTAX const TCL = SYNTAX::TCL;
  SYNTAX const SPEF = SYNTAX::SPEF;
  TRANSLATION_CASE const cases[] = {
      // Text: words of two levels or more; more than a pin behind a name,
      // or a pin outside the side's alphabet, is reported.
      {T, true, "u_cpu is slow, apad too", "u_cpu is slow, apad too", ""},
      {T, true, "u_cpu/a_reg/D u_cpu/a_reg/x/y u_cpu/nothing",
       "/u_cpu/$reg/D u_cpu/a_reg/x/y /u_cpu/nothing", "Pu_cpu/a_reg/x/y"},
      {T, true, "acpu/x NOTANAME/x 10/2 lut9/D _4e/r", "acpu/x NOTANAME/x 10/2 lut9/D _4e/r",
       "Nacpu/x Nlut9/D N_4e/r"},
      {T, false, "u_cpu/$reg/D* /u_cpu/x/y PAD", "u_cpu/$reg/D* /u_cpu/x/y PAD",
       "Pu_cpu/$reg/D* P/u_cpu/x/y"},
      // An original that is not one word in a text.
      {T, true, "q_r/d", "q_r/d", "Uq_r/d"},
      // Tcl: object queries take names at any level, and patterns.
      {TCL, false, "get_cells PAD\n", "get_cells io_ibuf_apad\n", ""},
      {TCL, false, "create_clock -name PAD -period 1 [get_ports PAD]\n",
       "create_clock -name PAD -period 1 [get_ports PAD]\n", ""},
      {TCL, false, "set_false_path -from PAD -to u_cpu/$reg\n",
       "set_false_path -from PAD -to u_cpu/$reg\n", ""},
      {TCL, false, "set_false_path -from PAD -to u_cpu/\\$reg/D\n",
       "set_false_path -from PAD -to u_cpu/a_reg/D\n", ""},
      {TCL, false, "get_cells {u_cpu/$reg PAD x}; get_pins \"u_cpu/\\$reg\"\n",
       "get_cells {u_cpu/a_reg io_ibuf_apad x}; get_pins \"u_cpu/a_reg\"\n", "Nx"},
      // A query of cells takes cells, one of nets nets: of the objects that
      // share a name, the best of the query's class; none is said.
      {TCL, false, "get_cells y; get_nets y; get_nets {u_cpu/$reg/Q}\n",
       "get_cells dff2; get_nets w1; get_nets w0\n", ""},
      {TCL, false, "get_nets {u_cpu/$reg}; get_cells [list st {u_cpu/$reg}]\n",
       "get_nets {u_cpu/$reg}; get_cells [list st u_cpu/a_reg]\n", "W{u_cpu/$reg} Ast"},
      {TCL, false, "get_nets u_cpu/*; get_nets u_cpu/*/*; get_cells u_cpu/*/*\n",
       "get_nets u_cpu/*; get_nets w0; get_cells {u_cpu/a_reg/aq u_cpu/a_b/a__k}\n", "Wu_cpu/*"},
      // A pin behind a pattern is no whole name.
      {TCL, false, "get_nets u_cpu/a*/D\n", "get_nets u_cpu/a*/D\n", "Mu_cpu/a*/D"},
      // An output named below its atom is the atom's pin wherever a pin may
      // be.
      {TCL, false, "get_cells -of_objects {u_cpu/$reg/Q}; set_false_path -to {u_cpu/$reg/Q}\n",
       "get_cells -of_objects u_cpu/a_reg/Q; set_false_path -to u_cpu/a_reg/Q\n", ""},
      // Patterns and SPEF nodes find "$" names that keep their backslash.
      {TCL, false, "get_cells -hier {$k*}\n", "get_cells u_cpu/a_b/a__k\n", ""},
      {SPEF, false, "*D_NET x 1\n*CONN\n*I u_cpu/a\\/b/\\$k:D I\n",
       "*D_NET x 1\n*CONN\n*I u_cpu/a_b/a__k:D I\n", "Nx"},
      // A blank escaped in a quoted list parts its elements.
      {TCL, false, "get_cells \"PAD\\ u_cpu/\\$reg\"\n",
       "get_cells \"io_ibuf_apad\\ u_cpu/a_reg\"\n", ""},
      {TCL, false, "get_cells {u_cpu/a\\/b}\n", "get_cells u_cpu/a_b\n", ""},
      // A list in double quotes: each element a name, written escaped.
      {TCL, false, "get_pins \"PAD u_cpu/*/D\"; set_false_path -to \"u_cpu/x PAD/D\"\n",
       "get_pins \"io_ibuf_apad u_cpu/a_reg/D u_cpu/a_b/D u_cpu/data_q\\[3\\]/D\"; "
       "set_false_path -to \"u_cpu/x io_ibuf_apad/D\"\n",
       ""},
      {TCL, true, "get_cells \"u_cpu/a_reg u_cpu/a_b\"\n",
       "get_cells \"u_cpu/\\$reg u_cpu/a\\\\/b\"\n", ""},
      // An escaped Verilog name that keeps its backslash, as a timing tool
      // names it: without.
      {TCL, false, "get_cells {u_cpu/a\\/b/$k}; get_pins u_cpu/a\\\\/b/\\$k/D\n",
       "get_cells u_cpu/a_b/a__k; get_pins u_cpu/a_b/a__k/D\n", ""},
      // Back to originals, the kept backslash is an escape of "$" as timing
      // tools write one, and is read back so.
      {TCL, true, "get_cells {u_cpu/a_b/a__k apad}\n", "get_cells {{u_cpu/a\\/b/\\$k} PAD}\n", ""},
      {TCL, false, "get_cells {{u_cpu/a\\/b/\\$k} PAD}\n",
       "get_cells {u_cpu/a_b/a__k io_ibuf_apad}\n", ""},
      // A name whose levels mix a kept backslash and a plain "$" goes there
      // and back.
      {TCL, true, "get_cells u_cpu/a_b/a__k/a_m\n", "get_cells {u_cpu/a\\/b/\\$k/$m}\n", ""},
      {TCL, false, "get_cells {u_cpu/a\\/b/\\$k/$m}\n", "get_cells u_cpu/a_b/a__k/a_m\n", ""},
      {T, false, "/u_cpu/a\\/b/$k /u_cpu/a\\/b/\\\\$k /u_cpu/$k",
       "u_cpu/a_b/a__k u_cpu/a_b/a__k /u_cpu/$k", "P/u_cpu/$k"},
      // Escapes in a quoted list are undone before it is split.
      {TCL, false, "get_cells \"u_cpu/\\$reg u_cpu/data_q\\[3\\]  u_cpu/x\\[0\\]\"\n",
       "get_cells \"u_cpu/a_reg u_cpu/data_q\\[3\\]  u_cpu/x\\[0\\]\"\n", "Pu_cpu/x\\[0\\]"},
      // The cell of a pin: -of_objects takes a name and a pin.
      {TCL, false, "get_cells -of_objects {u_cpu/$reg/D}\n",
       "get_cells -of_objects u_cpu/a_reg/D\n", ""},
      {TCL, false, "get_cells u_cpu/*\n", "get_cells {u_cpu/a_reg u_cpu/a_b u_cpu/data_q[3]}\n",
       ""},
      {TCL, false, "get_cells {PAD u_cpu/?reg}\n", "get_cells {io_ibuf_apad u_cpu/a_reg}\n", ""},
      {TCL, false, "get_pins u_cpu/*/D\n",
       "get_pins {u_cpu/a_reg/D u_cpu/a_b/D u_cpu/data_q[3]/D}\n", ""},
      // An output that is a name of its own is, in a query of pins, its
      // atom's pin.
      {TCL, false, "get_pins u_cpu/*/Q {u_cpu/$reg/Q}\n", "get_pins u_cpu/a_reg/Q u_cpu/a_reg/Q\n",
       ""},
      // Every pin of an instance: the pattern stays behind its name.
      {TCL, false, "get_pins {u_cpu/$reg/*} [get_pins u_cpu/a*/*]\n",
       "get_pins u_cpu/a_reg/* [get_pins u_cpu/a_b/*]\n", ""},
      // -hierarchical matches last levels, and goes once they are full names.
      {TCL, false, "get_cells -hierarchical *reg\n", "get_cells u_cpu/a_reg\n", ""},
      {TCL, false, "get_cells -hier nothing*\n", "get_cells -hier nothing*\n", "Mnothing*"},
      {TCL, false, "get_cells -regexp {u_cpu/.*}\n", "get_cells -regexp {u_cpu/.*}\n", ""},
      {TCL, false, "get_cells [list PAD u_cpu/\\$reg]\n",
       "get_cells [list io_ibuf_apad u_cpu/a_reg]\n", ""},
      // Each word of [list ...] is one element, whatever it holds: a name is
      // written as a word, a pattern's matches as words of their own;
      // concat's words are lists.
      {TCL, true, "get_cells [list q_r apad a_w x_]\n", "get_cells [list {q r} PAD {\"w} x\\}]\n",
       ""},
      {TCL, false, "get_cells [list {q r} \"q r\" q\\ r {\"w} \\\"w x\\}]\n",
       "get_cells [list q_r \"q_r\" q_r a_w a_w x_]\n", ""},
      {TCL, false, "get_cells [list u_cpu/* \"u_cpu/?reg\"]; get_cells [concat {PAD g} x]\n",
       "get_cells [list u_cpu/a_reg u_cpu/a_b {u_cpu/data_q[3]} \"u_cpu/a_reg\"]; "
       "get_cells [concat {io_ibuf_apad g} x]\n",
       "Nx"},
      // {*} expands the word behind it into words of the command: no pattern.
      {TCL, false, "get_cells {*}{u_cpu/$reg PAD} [list {*}$x {*}{PAD}]\n",
       "get_cells {*}{u_cpu/a_reg io_ibuf_apad} [list {*}$x {*}io_ibuf_apad]\n", ""},
      // -hierarchical goes whatever opens its argument's list.
      {TCL, false, "get_cells -hierarchical [list [list *reg] PAD]; get_cells -hier [concat PAD]\n",
       "get_cells [list [list u_cpu/a_reg] io_ibuf_apad]; get_cells [concat io_ibuf_apad]\n", ""},
      {TCL, false, "get_cells u_cpu/$reg; puts \"PAD u_cpu/x\"\n# get_cells PAD\n",
       "get_cells u_cpu/$reg; puts \"PAD u_cpu/x\"\n# get_cells PAD\n", ""},
      {TCL, false, "foreach c {1} { get_cells PAD }\n",
       "foreach c {1} { get_cells io_ibuf_apad }\n", ""},
      // foreach's lists are lists of values, its last word a script.
      {TCL, false, "foreach {a b} {u_cpu/$reg x} c {PAD u_cpu/$reg/D} { get_cells PAD }\n",
       "foreach {a b} {u_cpu/a_reg x} c {PAD u_cpu/a_reg/D} { get_cells io_ibuf_apad }\n", ""},
      {TCL, false, "get_cells u_cpu/nothing/x\n", "get_cells u_cpu/nothing/x\n",
       "Pu_cpu/nothing/x"},
      // Names back to originals: quoting where the original needs it;
      // patterns stay.
      {TCL, true, "get_cells {u_cpu/a_reg apad}\n", "get_cells {{u_cpu/$reg} PAD}\n", ""},
      // A braced word that a command may run as a script: no substitution.
      {TCL, true, "redirect t.rpt {report_timing -to u_cpu/a_reg}\n",
       "redirect t.rpt {report_timing -to {u_cpu/$reg}}\n", ""},
      {TCL, true, "get_cells u_cpu/a_reg; get_cells u_cpu/a_b\n",
       "get_cells {u_cpu/$reg}; get_cells {u_cpu/a\\/b}\n", ""},
      {TCL, true, "get_nets \"u_cpu/a_reg/aq\"\n", "get_nets \"u_cpu/\\$reg/Q\"\n", ""},
      {TCL, true, "get_cells u_cpu/a_*\n", "get_cells u_cpu/a_*\n", ""},
      {TCL, true, "get_cells u_cpu/A_REG\n", "get_cells u_cpu/A_REG\n", "Pu_cpu/A_REG"},
      // SPEF: the name map, nets and nodes; a pin that is a name of its own
      // goes with its instance.
      {SPEF, true, "*NAME_MAP\n*1 u_cpu/a_reg\n*2 u_cpu/a_b\n\n*PORTS\napad I\n",
       "*NAME_MAP\n*1 u_cpu/\\$reg\n*2 u_cpu/a\\/b\n\n*PORTS\napad I\n", ""},
      {SPEF, true,
       "*D_NET u_cpu/a_reg/aq 1.0\n*CONN\n*I u_cpu/a_reg:aq O *D DFF\n*I apad:d I\n*CAP\n"
       "1 u_cpu/a_reg/aq:2 apad:d 0.5\n*END\n",
       "*D_NET u_cpu/\\$reg/Q 1.0\n*CONN\n*I u_cpu/\\$reg:Q O *D DFF\n*I PAD:d I\n*CAP\n"
       "1 u_cpu/\\$reg/Q:2 PAD:d 0.5\n*END\n",
       ""},
      {SPEF, false,
       "*DIVIDER .\n*DELIMITER |\n*D_NET u_cpu.\\$reg.Q 1\n*CONN\n*I u_cpu.\\$reg|Q O\n",
       "*DIVIDER .\n*DELIMITER |\n*D_NET w0 1\n*CONN\n*I u_cpu.a_reg|Q O\n", ""},
      // A reduced net: its driver and its loads are pins too; its cell is a type.
      {SPEF, true,
       "*R_NET u_cpu/a_reg/aq 1\n*DRIVER u_cpu/a_reg:aq\n*CELL a_reg\n*C2_R1_C1 1 2 3\n*LOADS\n"
       "*RC apad:d 0.4\n*RC apad 0.1\n*END\n",
       "*R_NET u_cpu/\\$reg/Q 1\n*DRIVER u_cpu/\\$reg:Q\n*CELL a_reg\n*C2_R1_C1 1 2 3\n*LOADS\n"
       "*RC PAD:d 0.4\n*RC apad 0.1\n*END\n",
       ""},
      // Braces inside a list element are its own, as Tcl splits lists: the
      // list ends at the brace that closes it, past those the names hold.
      {TCL, false, "get_pins {r{a}eg/Q}; get_pins {PAD r{a}eg/Q {r{a}eg}}\n",
       "get_pins dff3/Q; get_pins {io_ibuf_apad dff3/Q dff3}\n", ""},
      {TCL, false, "get_cells {x{ y} PAD}; get_cells r{a}eg\n",
       "get_cells {x{ y} io_ibuf_apad}; get_cells dff3\n", "Nx{ Ny}"},
      {TCL, true, "get_pins dff3/Q; get_cells {apad dff3}\n",
       "get_pins {r{a}eg/Q}; get_cells {PAD {r{a}eg}}\n", ""},
      // A brace in a quoted word is escaped, so that a braced body around it
      // keeps its balance; a quote cannot start an element of a quoted list.
      {TCL, true, "if {1} { get_cells \"x_\" }\n", "if {1} { get_cells \"x\\}\" }\n", ""},
      {TCL, true, "get_cells \"a_w apad\"\n", "get_cells \"a_w PAD\"\n", "Ua_w"},
      // A word whose value is a list of one element in braces names that
      // element, as translate writes such a name in quotes.
      {TCL, false, "get_cells \"\\{q r\\}\" \\{PAD\\}\n", "get_cells \"q_r\" io_ibuf_apad\n", ""},
      {TCL, true, "get_cells \"q_r\"\n", "get_cells \"\\{q r\\}\"\n", ""},
      // Two made-up names share a free-standing original: it stays, and is said.
      {TCL, false, "get_cells st\n", "get_cells st\n", "Ast"},
      {SPEF, true, "*D_NET nothing/x 1\n*CONN\n*I u_cpu/x/y:a I\n",
       "*D_NET nothing/x 1\n*CONN\n*I u_cpu/x/y:a I\n", "Nnothing/x Pu_cpu/x/y:a"},
  };
  for (TRANSLATION_CASE const& c : cases) {
    std::string reports;
    EXPECT_EQ(translate(c.text, c.to_original, c.syntax, 2, '/', 0, &reports), c.expected)
        << c.text;
    EXPECT_EQ(reports, c.reports) << c.text;
    // Whatever the pieces, the same text and the same reports.
    for (std::size_t const piece : {1, 2, 3, 7}) {
      std::string pieced;
      ASSERT_EQ(translate(c.text, c.to_original, c.syntax, 2, '/', piece, &pieced), c.expected)
          << c.text << " in pieces of " << piece;
      EXPECT_EQ(pieced, c.reports) << c.text << " in pieces of " << piece;
    }
  }
}

// A lookup of a table of its own, as a command that rewrites one
// revision's converted names into another's would build: converted names
// on both sides, every syntax.
TEST(NameLookupTest, TranslatesThroughATableOfItsOwn) {
  TEXT_MAP table;
  std::string const names[][2] = {
      {"u_a/r_0", "u_b/r_0_1"}, {"u_a/data[3]", "u_a/data_q[3]"}, {"u_a/m[1]", "u_a/m[1]"}};
  std::size_t longest = 0;
  for (auto const& name : names) {
    bool inserted = false;
    INDEX_ENTRY* const entry = table.insert(NAME_INDEX::hash(name[0]), name[0], &inserted);
    entry->m_key = name[0].data();
    entry->m_key_size = static_cast<std::uint32_t>(name[0].size());
    entry->m_value = name[1].data();
    entry->m_value_size = static_cast<std::uint32_t>(name[1].size());
    longest = std::max(longest, name[0].size());
  }
  NAME_LOOKUP const lookup(table, NAME_SIDE::CONVERTED, NAME_SIDE::CONVERTED, longest, 2);
  struct {
    SYNTAX syntax;
    char const* text;
    char const* expected;
  } const cases[] = {
      {SYNTAX::TEXT, "u_a/r_0/d u_a/r_1", "u_b/r_0_1/d u_a/r_1"},
      {SYNTAX::TCL, "get_cells {u_a/r_0 u_a/data[3]} u_a/r_*\n",
       "get_cells {u_b/r_0_1 u_a/data_q[3]} u_a/r_*\n"},
      {SYNTAX::SPEF, "*D_NET u_a/data[3] 1\n*CONN\n*I u_a/r_0:d I\n",
       "*D_NET u_a/data_q[3] 1\n*CONN\n*I u_b/r_0_1:d I\n"},
      // A name that stays keeps its bytes: its quoting and escapes.
      {SYNTAX::TCL, "get_cells u_a/m\\[1\\] \"u_a/m\\[1\\] u_a/r_0\"\n",
       "get_cells u_a/m\\[1\\] \"u_a/m\\[1\\] u_b/r_0_1\"\n"},
      {SYNTAX::SPEF, "*NAME_MAP\n*1 u_a/m\\[1\\]\n", "*NAME_MAP\n*1 u_a/m\\[1\\]\n"},
  };
  for (auto const& c : cases) {
    std::string const got = written_text([&](OUTPUT_BUFFER& out) {
      TEXT_TRANSLATOR translator(lookup, TRANSLATION_OPTIONS(), TEXT_TRANSLATOR::UNKNOWN());
      translator.set_syntax(c.syntax);
      translator.put(c.text, true, out);
    });
    EXPECT_EQ(got, c.expected) << c.text;
  }
}

TEST_F(TranslatorTest, GivesTheSameTextWhateverThePieces) {
  std::string text;
  for (int i = 0; i < 50; ++i) text += "  u_cpu/a_reg/d [get_pins {u_cpu/a_b}] \\io_ibuf_apad x\n";
  std::string const whole = translate(text, true);
  for (std::size_t const piece : {1, 2, 3, 7, 64}) {
    EXPECT_EQ(translate(text, true, SYNTAX::TEXT, 1, '/', piece), whole) << piece;
  }
  std::string const back = translate(whole, false);
  for (std::size_t const piece : {1, 5, 13}) {
    EXPECT_EQ(translate(whole, false, SYNTAX::TEXT, 1, '/', piece), back);
  }
  EXPECT_EQ(back, text);
}

// A word longer than any piece goes out unscanned (TEXT_TRANSLATOR::pass);
// in SPEF the words after it keep their roles: the net's capacitance is no
// name, and the pins are pins.
TEST_F(TranslatorTest, WordsAfterAPassedWordKeepTheirRoles) {
  std::string const long_net(64, 'x');
  std::string reports;
  std::string const text = written_text([&](OUTPUT_BUFFER& out) {
    NAME_LOOKUP const lookup = NAME_LOOKUP::of_index(*m_index, NAME_SIDE::ORIGINAL);
    TEXT_TRANSLATOR translator(lookup, TRANSLATION_OPTIONS(), [&](UNKNOWN_WORD const& word) {
      reports += std::string(word.m_word) + ";";
    });
    translator.set_syntax(SYNTAX::SPEF);
    std::string pending = "*D_NET " + long_net;
    pending.erase(0, translator.put(pending, false, out));
    ASSERT_EQ(pending, long_net);
    translator.pass(pending, out);
    translator.put(" 1\n*CONN\n*I u_cpu/a_reg:aq O\n", true, out);
    translator.end_text();
  });
  EXPECT_EQ(text, "*D_NET " + long_net + " 1\n*CONN\n*I u_cpu/\\$reg:Q O\n");
  EXPECT_EQ(reports, "");
}

// Patterns as object queries take them: "*" and "?" within one level, a
// path from the top unless -hierarchical, which matches last levels.
TEST_F(TranslatorTest, MatchesPatternsLevelByLevel) {
  NAME_LOOKUP const lookup = NAME_LOOKUP::of_index(*m_index, NAME_SIDE::CONVERTED);
  struct {
    char const* pattern;
    PATTERN_SCOPE scope;
    char const* expected;  // the keys matched, in order
  } const cases[] = {
      {"*", PATTERN_SCOPE::PATH, "/\"w /PAD /g /q r /r{a}eg st /u_cpu /x} y"},
      {"/u*", PATTERN_SCOPE::PATH, "/u_cpu"},
      {"u_cpu/*", PATTERN_SCOPE::PATH, "/u_cpu/$reg /u_cpu/a\\/b /u_cpu/data_q[3]"},
      {"*/*/*", PATTERN_SCOPE::PATH, "/u_cpu/$reg/Q /u_cpu/a\\/b/\\\\$k"},
      {"u_cpu/a?b", PATTERN_SCOPE::PATH, "/u_cpu/a\\/b"},
      {"u_cpu/data_q[?]", PATTERN_SCOPE::PATH, "/u_cpu/data_q[3]"},
      {"u_cpu/*reg*", PATTERN_SCOPE::PATH, "/u_cpu/$reg"},
      {"U_CPU/*", PATTERN_SCOPE::PATH, ""},
      {"Q", PATTERN_SCOPE::ANY_DEPTH, "/r{a}eg/Q /u_cpu/$reg/Q"},
      {"*/Q", PATTERN_SCOPE::ANY_DEPTH, "/r{a}eg/Q /u_cpu/$reg/Q"},
      {"*a*", PATTERN_SCOPE::ANY_DEPTH, "/r{a}eg /u_cpu/a\\/b /u_cpu/data_q[3]"},  // case counts
      {"***x*****", PATTERN_SCOPE::PATH, "/x}"},
  };
  std::vector<INDEX_ENTRY const*> matches;
  for (auto const& c : cases) {
    lookup.match(c.pattern, c.scope, &matches);
    std::string keys;
    for (INDEX_ENTRY const* const entry : matches) {
      keys += (keys.empty() ? "" : " ") + std::string(entry->key());
    }
    EXPECT_EQ(keys, c.expected) << c.pattern;
  }
}

// A library cell's pin keeps its name in a converted netlist: on either
// side a pin is a plain identifier with an optional bit index.
TEST(NameSidesTest, PinsArePlainIdentifiersOnEitherSide) {
  struct {
    char const* level;
    NAME_SIDE side;
    bool fits;
  } const cases[] = {
      {"d", NAME_SIDE::CONVERTED, true},     {"a_q[3]", NAME_SIDE::CONVERTED, true},
      {"CK", NAME_SIDE::CONVERTED, true},    {"x.y", NAME_SIDE::CONVERTED, false},
      {"*", NAME_SIDE::CONVERTED, false},    {"", NAME_SIDE::CONVERTED, false},
      {"D", NAME_SIDE::ORIGINAL, true},      {"A_1[12]", NAME_SIDE::ORIGINAL, true},
      {"_q", NAME_SIDE::ORIGINAL, true},     {"1Q", NAME_SIDE::ORIGINAL, false},
      {"OPT_*", NAME_SIDE::ORIGINAL, false}, {"mem.x", NAME_SIDE::ORIGINAL, false},
      {"Q[x]", NAME_SIDE::ORIGINAL, false},  {"Q[]", NAME_SIDE::ORIGINAL, false},
  };
  for (auto const& c : cases) EXPECT_EQ(fits_pin(c.level, c.side), c.fits) << c.level;
}

TEST(SyntaxTest, ComesFromTheFileNameUnlessChosen) {
  struct {
    char const* path;
    SYNTAX chosen;
    SYNTAX syntax;
  } const cases[] = {
      {"top.sdc", SYNTAX::AUTO, SYNTAX::TCL},    {"x/TOP.XDC", SYNTAX::AUTO, SYNTAX::TCL},
      {"run.tcl.gz", SYNTAX::AUTO, SYNTAX::TCL}, {"top.spef.xz", SYNTAX::AUTO, SYNTAX::SPEF},
      {"top.spf", SYNTAX::AUTO, SYNTAX::SPEF},   {"timing.rpt", SYNTAX::AUTO, SYNTAX::TEXT},
      {"<stdin>", SYNTAX::AUTO, SYNTAX::TEXT},   {"top.sdc", SYNTAX::TEXT, SYNTAX::TEXT},
      {"sdc", SYNTAX::AUTO, SYNTAX::TEXT},       {"-", SYNTAX::SPEF, SYNTAX::SPEF},
  };
  for (auto const& c : cases) EXPECT_EQ(syntax_of(c.path, c.chosen), c.syntax) << c.path;
}

}  // namespace
}  // namespace zema_tool
