// Tests of the fusion converter: the type prefixes, legalisation and uniquing
// of names, the lifecycle of the tree, hierarchy capture, made-up names for
// the netlist, the queries and reported invariants, random designs checked
// against properties of the naming rules, and fault injection into every
// allocation of init.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "atm/zema/zema_naming_rules.h"
#include "tests/test_support.h"

namespace {

typedef ZEMA_NAME_CONVERTER_FUSION_IMPL FUSION;
typedef ZEMA_NAME_CONVERTER_HIERARCHY NODE;
typedef ZEMA_NAME_CONVERTER_HIERARCHY_PARENT PARENT;
typedef ZEMA_NAME_CONVERTER_HIERARCHY_LEAF LEAF;

std::string text(GEN_STRING const& s) { return std::string(s.data(), s.size()); }

// The legal form of a byte that is not the first.
char legal_byte(char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  return zema_is_legal_name_char(c) ? c : '_';
}

using zema_test::BUILT;
using zema_test::kFree;
using zema_test::PLAN;
using zema_test::random_plan;

class ZemaFusionTest : public zema_test::TrackedTest {
 protected:
  static char const* intern(FUSION& c, char const* t) {
    return c.m_name_table.insert_helper(ORB_CSTR_OPS().hash(t), t)->m_text;
  }

  // Adds leaves with the given names under `parent`, or under a new parent
  // when it is null; `c` owns them all.
  static PARENT* add_children(FUSION& c, PARENT* parent, std::vector<char const*> const& names) {
    if (!parent) c.m_hierarchies.push_back(parent = new PARENT(nullptr, intern(c, "p"), 0));
    for (char const* name : names) {
      c.m_hierarchies.push_back(new LEAF(parent, intern(c, name), 0));
      parent->m_children[c.m_hierarchies.back()->m_name] = c.m_hierarchies.back();
    }
    return parent;
  }

  // The node of an instance id, or a stand-in leaf after a failure.
  static NODE const* node_of(FUSION const& c, unsigned id) {
    static LEAF const kMissing(nullptr, "<no node>", 0);
    FUSION::ID_HASH::NODE const* entry = c.m_hier_by_id_hash.hash_search(id, id);
    EXPECT_NE(nullptr, entry) << "no node for id " << id;
    return entry ? entry->m_value : &kMissing;
  }

  // Every node below the root as "full/id", with " leaf" for a leaf, in
  // byte order: the tree as its names show it.
  static std::vector<std::string> tree(FUSION& c) {
    std::vector<std::string> nodes;
    std::vector<std::pair<NODE*, std::string>> todo = {{c.m_root, ""}};
    while (!todo.empty()) {
      auto const [node, path] = todo.back();
      todo.pop_back();
      for (NODE::CHILD_ITERATOR it = node->begin_child(); it != node->end_child(); ++it) {
        NODE* const child = it->m_value;
        std::string const full = path + (path.empty() ? "" : "/") + child->m_name;
        nodes.push_back(full + "/" + std::to_string(child->m_id) +
                        (child->is_leaf() ? " leaf" : ""));
        todo.push_back({child, full});
      }
    }
    std::sort(nodes.begin(), nodes.end());
    return nodes;
  }

  // Builds the plan's tree by init and by its steps by hand, and compares.
  void expect_steps_give_inits_tree(PLAN const& plan);

  // Every parent's children in the order its index iterates them, which
  // depends on how the index grew: equal trees built along different paths
  // must have grown their indexes alike.
  static std::vector<std::string> iteration_order(FUSION& c) {
    std::vector<std::string> parents;
    std::vector<NODE*> todo = {c.m_root};
    while (!todo.empty()) {
      NODE* const node = todo.back();
      todo.pop_back();
      std::string children = std::string(node->m_name) + ":";
      for (NODE::CHILD_ITERATOR it = node->begin_child(); it != node->end_child(); ++it) {
        children += " " + std::string(it->m_value->m_name);
        todo.push_back(it->m_value);
      }
      parents.push_back(children);
    }
    return parents;
  }

  // What a query gives: the unit name, or the full name with or without the
  // backslash; "<none>" when it gives false, which must leave the output alone.
  enum KIND { UNIT, FULL, BARE };
  template <class T>
  static std::string query(FUSION& c, T* object, KIND kind) {
    GEN_STRING out("untouched");
    bool const found = kind == UNIT ? c.get_converted_unit_name(&out, object)
                                    : c.get_converted_full_name(&out, object, kind == BARE);
    EXPECT_TRUE(found || text(out) == "untouched");
    return found ? text(out) : "<none>";
  }

  // Walks the tree without recursion: every owned node is reached once from
  // the root, names are legal and unique among siblings, and the full name of
  // each node, with or without the backslash, gives its id back (so names are
  // interned). An owned slot may be null where an allocation failed.
  static void expect_tree_invariants(FUSION& c) {
    ASSERT_NE(nullptr, c.m_root);
    EXPECT_TRUE(c.m_root->m_parent == nullptr && !c.m_root->is_leaf());
    std::size_t reached = 1;
    std::vector<std::pair<NODE*, std::string>> todo = {{c.m_root, ""}};
    while (!todo.empty()) {
      NODE* const node = todo.back().first;
      std::string const path = todo.back().second;
      todo.pop_back();
      std::set<std::string> siblings;
      for (NODE::CHILD_ITERATOR it = node->begin_child(); it != node->end_child(); ++it) {
        NODE* const child = it->m_value;
        std::string const child_path = path + (node == c.m_root ? "" : "/") + child->m_name;
        ++reached;
        EXPECT_EQ(node, child->m_parent);
        EXPECT_TRUE(zema_is_legal_unit_name(child->m_name)) << child->m_name;
        EXPECT_TRUE(siblings.insert(child->m_name).second) << child->m_name;
        if (child_path.size() < 300 || child->is_leaf()) {  // in deep chains, the ends only
          EXPECT_EQ(child->m_id, c.get_original_name_id(child_path.c_str())) << child_path;
          EXPECT_EQ(child->m_id, c.get_original_name_id(("\\" + child_path).c_str()));
        }
        todo.push_back({child, child_path});
      }
    }
    EXPECT_EQ(c.m_hierarchies.size() -
                  std::count(c.m_hierarchies.begin(), c.m_hierarchies.end(), nullptr),
              reached);
  }

  // Beyond the tree invariants, for a design with valid references: each atom
  // and oterm has a full name that ends in its unit name and gives its id
  // back, and the made-up counters numbered exactly the atoms of other than
  // types 26, 3, 35 and 36 and the oterms of type-26 atoms. Gives every unit
  // and full name.
  static std::vector<std::string> expect_well_named(FUSION& c, PLAN const& plan, BUILT const& b) {
    expect_tree_invariants(c);
    std::vector<std::string> names;
    auto check = [&](auto* object, unsigned id) {
      std::string const unit = query(c, object, UNIT), full = query(c, object, BARE);
      EXPECT_EQ("\\" + full, query(c, object, FULL));
      EXPECT_EQ(unit, full.substr(full.rfind('/') + 1));
      EXPECT_EQ(id, c.get_original_name_id(full.c_str())) << full;
      names.insert(names.end(), {unit, full});
    };
    int atoms_made_up = 0, oterms_made_up = 0;
    for (std::size_t i = 0; i < b.atoms.size(); ++i) {
      int const type = plan.atoms[i].type;
      check(b.atoms[i], plan.atoms[i].name_id);
      atoms_made_up += !zema_atom_type_needs_hierarchy_node(type);
      for (unsigned id : plan.atoms[i].oterm_ids) {
        oterms_made_up += zema_is_hierarchy_named_atom_type(type) && id != 0;
      }
    }
    for (auto const& oterm : b.oterms) check(oterm.first, oterm.second);
    EXPECT_EQ(atoms_made_up, c.m_atom_counter);
    EXPECT_EQ(oterms_made_up, c.m_oterm_counter);
    return names;
  }
};

// --- Legalisation, uniquing and the lifecycle ---------------------------------------

TEST_F(ZemaFusionTest, TransformLegalisesNames) {
  // Each name followed by its legal form.
  static char const* const kCases[] = {
      "foo",       "foo",        "Foo.bar", "afoo_bar", "FOO",   "afoo",  "data[3]", "data[3]",
      "bus{2}",    "bus_2_",     "_tmp",    "a_tmp",    "a/b c", "a_b_c", "",        "a",
      "3rd~stage", "a3rd_stage", "\xFF",    "a_",       "Q",     "aq",    "z~",      "z_"};
  FUSION c;
  GEN_STRING out("stale");
  for (std::size_t i = 0; i < std::size(kCases); i += 2) {
    c.transform(&out, kCases[i]);
    EXPECT_EQ(kCases[i + 1], text(out)) << kCases[i];
  }
  // Every byte value, first and later.
  for (int b = 1; b < 256; ++b) {
    char const alone[] = {static_cast<char>(b), 0}, later[] = {'x', static_cast<char>(b), 0};
    std::string const legal(1, legal_byte(static_cast<char>(b)));
    c.transform(&out, alone);
    EXPECT_EQ((b >= 'a' && b <= 'z' ? "" : "a") + legal, text(out)) << b;
    c.transform(&out, later);
    EXPECT_EQ("x" + legal, text(out)) << b;
  }
}

TEST_F(ZemaFusionTest, ConvertTakesTheFirstSuffixNoChildBears) {
  // Each step converts a name under a parent with the given children, then
  // adds the result as a child.
  static struct {
    std::vector<char const*> children;
    std::vector<std::pair<char const*, char const*>> steps;
  } const kCases[] = {
      {{}, {{"foo", "foo"}}},
      {{"foo", "foo_0"}, {{"foo", "foo_1"}}},
      {{"foo", "foo_1"}, {{"foo", "foo_0"}}},
      {{"afoo"}, {{"Foo", "afoo_0"}}},
      {{"foo_0"}, {{"foo", "foo"}}},
      {{"abcdefghijklmn", "abcdefghijklmn_0"}, {{"abcdefghijklmn", "abcdefghijklmn_1"}}},
      {{"x", "x_0", "x_1", "x_2", "x_3", "x_4", "x_5", "x_6", "x_7", "x_8", "x_9"},
       {{"X", "ax"}, {"x", "x_10"}}},
      {{}, {{"a.b", "a_b"}, {"a-b", "a_b_0"}, {"a b", "a_b_1"}}},
      {{}, {{"x_0", "x_0"}, {"x", "x"}, {"x", "x_1"}}}};
  for (auto const& k : kCases) {
    FUSION c;
    PARENT* const p = add_children(c, nullptr, k.children);
    for (auto const& step : k.steps) {
      std::size_t const children = p->m_children.m_count;
      char const* const name = c.convert(step.first, p);
      EXPECT_STREQ(step.second, name) << step.first;
      EXPECT_EQ(c.m_name_table.find(step.second), name) << "the result is interned";
      EXPECT_EQ(children, p->m_children.m_count) << "convert does not add a child";
      add_children(c, p, {name});
    }
  }
  FUSION c;
  GEN_STRING name("A.b");
  c.differentiate(&name, add_children(c, nullptr, {"A.b", "A.b_0"}));
  EXPECT_EQ("A.b_1", text(name)) << "differentiate uniques without legalising";
}

// Construction and clear leave an empty converter that keeps its type
// prefixes; each node is deleted once whatever follows delete_hierarchies.
TEST_F(ZemaFusionTest, TeardownInAnyOrderDeletesEachNodeOnceAndLeavesAnEmptyConverter) {
  auto expect_empty = [](FUSION const& c) {
    EXPECT_TRUE(!c.m_root && !c.m_action_point && !c.m_netlist && c.m_hierarchies.empty());
    EXPECT_EQ(0u, c.m_hier_by_id_hash.m_count + c.m_atom_hier_hash.m_count +
                      c.m_oterm_hier_hash.m_count + c.m_name_table.m_count);
    EXPECT_TRUE(c.m_atom_counter == 0 && c.m_oterm_counter == 0);
    EXPECT_EQ("clk_div", text(c.m_type_prefix[46]));
  };
  zema_test::SAMPLE_DESIGN s;
  for (int clears = 0; clears <= 2; ++clears) {
    for (bool delete_first : {false, true}) {
      SCOPED_TRACE(clears + 10 * delete_first);
      FUSION c;
      c.clear();
      expect_empty(c);
      c.init(s.design.action_point(), s.design.netlist());
      unsigned long long const built = zema_host::mem_module_stats("ZEMA").live_blocks;
      if (delete_first) {
        c.delete_hierarchies();
        EXPECT_EQ(c.m_hierarchies.size(),
                  std::size_t(std::count(c.m_hierarchies.begin(), c.m_hierarchies.end(), nullptr)));
        EXPECT_LT(zema_host::mem_module_stats("ZEMA").live_blocks, built) << "the nodes went";
      }
      for (int n = 0; n < clears; ++n) c.clear();
      if (clears) expect_empty(c);
    }
  }
  EXPECT_STREQ("Clk_Div", zema_host::atom_type_name(46)) << "the host's text keeps its case";
}

// --- Hierarchy capture and netlist naming -------------------------------------------

TEST_F(ZemaFusionTest, CaptureNamesSiblingsInStrcmpOrderAndDescendsInDatabaseOrder) {
  zema_test::SAMPLE_DESIGN s;
  for (CDB_ATOM_NETLIST* netlist : {s.design.netlist(), static_cast<CDB_ATOM_NETLIST*>(nullptr)}) {
    FUSION c;
    c.init(s.design.action_point(), netlist);
    EXPECT_TRUE(c.m_action_point == s.design.action_point() && c.m_netlist == netlist);
    EXPECT_EQ((std::vector<std::string>{"a9x/4 leaf", "a9x_0/2 leaf", "acpu/3", "acpu/areg/7 leaf",
                                        "acpu/areg_0/5 leaf", "acpu/reg/6 leaf"}),
              tree(c));
    EXPECT_EQ(7u, c.m_hier_by_id_hash.m_count);
    for (unsigned id = 1; id <= 7; ++id) EXPECT_EQ(id, node_of(c, id)->m_id);
    EXPECT_EQ(0u, c.m_atom_hier_hash.m_count + c.m_oterm_hier_hash.m_count);
    expect_tree_invariants(c);
  }
  // Siblings in strcmp order of unsigned bytes, stable for twins.
  static struct {
    std::vector<char const*> raw;    // database order
    std::vector<char const*> named;  // the same order
  } const kCases[] = {
      {{}, {}},  // a root without children is an empty parent
      {{"abus", "Bus"}, {"abus_0", "abus"}},
      {{"x", "x", "x"}, {"x", "x_0", "x_1"}},
      {{"", ""}, {"a", "a_0"}},
      {{"\x80", "a_"}, {"a__0", "a_"}},
      {{"\xC3", "_"}, {"a__0", "a_"}},
      {{"a.b", "a-b", "a b"}, {"a_b_1", "a_b_0", "a_b"}},
      {{"b", "B", "a"}, {"b", "ab", "a"}},
      // Long shared starts, with and without a leading 'a'.
      {{"bank_of_registers_17", "bank_of_registers_7", "Bank_of_registers_7", "bank_of_registers_",
        "Bank_of_registers_8", "bank_of_registers_1", "abank_of_registers_7"},
       {"bank_of_registers_17", "bank_of_registers_7", "abank_of_registers_7", "bank_of_registers_",
        "abank_of_registers_8", "bank_of_registers_1", "abank_of_registers_7_0"}}};
  for (auto const& k : kCases) {
    PLAN plan;
    for (char const* raw : k.raw) plan.add(0, raw);
    BUILT built(plan);
    FUSION c;
    c.init(built.d.action_point(), built.d.netlist());
    EXPECT_EQ(c.m_root, node_of(c, 1));
    expect_tree_invariants(c);
    for (std::size_t i = 0; i < k.raw.size(); ++i)
      EXPECT_STREQ(k.named[i], node_of(c, unsigned(i + 2))->m_name) << i << " of " << k.raw[0];
  }
  // Each parent uniques its own children; a name under two parents is one text.
  zema_host::DESIGN d;
  HDB_INSTANCE_NAME const* root = d.set_root("", 1);
  HDB_INSTANCE_NAME const* b = d.add_child(root, "b", 2);
  d.add_child(d.add_child(root, "a", 3), "Q", 5);
  d.add_child(d.add_child(b, "Q", 4), "bbb", 6);
  FUSION c;
  c.init(d.action_point(), d.netlist());
  EXPECT_EQ((std::vector<std::string>{"a/3", "a/aq/5 leaf", "b/2", "b/aq/4", "b/aq/bbb/6 leaf"}),
            tree(c));
  EXPECT_EQ(node_of(c, 4)->m_name, node_of(c, 5)->m_name) << "one interned text";
}

// The root's child "U1" (11) has children "Q" (12) and "clk" (13). Queries
// find nothing before init and after clear, nor objects of another design.
TEST_F(ZemaFusionTest, NetlistExampleTiesAtomsAndOtermsToNodesUntilClear) {
  zema_host::DESIGN d, other;
  HDB_INSTANCE_NAME const* root = d.set_root("", 1);
  HDB_INSTANCE_NAME const* u1 = d.add_child(root, "U1", 11);
  HDB_INSTANCE_NAME const* q = d.add_child(u1, "Q", 12);
  HDB_INSTANCE_NAME const* clk = d.add_child(u1, "clk", 13);
  CDB_ATOM_NODE* comb = d.add_atom(CDB_ATOM_COMB, q);
  CDB_ATOM_OTERM* comb_out = d.add_oterm(comb, d.add_free_name("n40", 40));
  CDB_ATOM_NODE* ram = d.add_atom(CDB_ATOM_RAM, d.add_free_name("r50", 50));
  CDB_ATOM_OTERM* ram_out = d.add_oterm(ram, clk);
  CDB_ATOM_NODE* ibuf = d.add_atom(CDB_ATOM_IO_IBUF, u1);
  CDB_ATOM_NODE* on_root = d.add_atom(CDB_ATOM_COMB, root);
  CDB_ATOM_NODE* stranger = other.add_atom(CDB_ATOM_LUT, other.add_free_name("s", 77));
  CDB_ATOM_OTERM* stranger_out = other.add_oterm(stranger, other.add_free_name("t", 78));
  FUSION c;
  for (int round = 0; round < 3; ++round) {  // before init, after init, after clear
    if (round == 1) c.init(d.action_point(), d.netlist());
    if (round == 2) c.clear();
    // The root's node has an empty full name either way.
    std::vector<std::string> expected = {
        "aq",          "\\au1/aq",      "w0", "w0", "ram0", "\\ram0", "clk", "au1/clk",
        "io_ibuf_au1", "\\io_ibuf_au1", "",   "",   ""};
    if (round != 1) expected.assign(expected.size(), "<none>");
    expected.insert(expected.end(), {"<none>", "<none>"});
    EXPECT_EQ(expected, (std::vector<std::string>{
                            query(c, comb, UNIT), query(c, comb, FULL), query(c, comb_out, UNIT),
                            query(c, comb_out, BARE), query(c, ram, UNIT), query(c, ram, FULL),
                            query(c, ram_out, UNIT), query(c, ram_out, BARE), query(c, ibuf, UNIT),
                            query(c, ibuf, FULL), query(c, on_root, UNIT), query(c, on_root, FULL),
                            query(c, on_root, BARE), query(c, stranger, FULL),
                            query(c, stranger_out, UNIT)}));
    EXPECT_EQ(round == 1 ? 12u : 0u, c.get_original_name_id("au1/aq"));
    if (round != 1) continue;
    EXPECT_EQ(50u, c.get_original_name_id("ram0"));
    EXPECT_EQ(40u, c.get_original_name_id("\\w0"));
    EXPECT_TRUE(c.m_atom_counter == 1 && c.m_oterm_counter == 1);
    // Made-up leaves hang under the root but are not indexed by instance id.
    EXPECT_EQ(4u, c.m_hier_by_id_hash.m_count);
    EXPECT_EQ((std::vector<std::string>{"au1/11", "au1/aq/12 leaf", "au1/clk/13 leaf",
                                        "io_ibuf_au1/11 leaf", "ram0/50 leaf", "w0/40 leaf"}),
              tree(c));
    expect_tree_invariants(c);
  }
}

TEST_F(ZemaFusionTest, MadeUpNamesCountAcrossTypesAndAvoidTakenNames) {
  zema_host::DESIGN d;
  HDB_INSTANCE_NAME const* root = d.set_root("", 1);
  HDB_INSTANCE_NAME const* w0 = d.add_child(root, "w0", 2);
  HDB_INSTANCE_NAME const* lut1 = d.add_child(root, "lut1", 3);
  std::vector<CDB_ATOM_NODE*> atoms = {
      d.add_atom(CDB_ATOM_RAM, d.add_free_name("r", 20)),
      d.add_atom(CDB_ATOM_PIN, d.add_child(root, "Pin", 4)),
      d.add_atom(CDB_ATOM_IO_DDR, d.add_child(root, "d", 5)),
      d.add_atom(CDB_ATOM_LUT, d.add_free_name("l", 21)),
      d.add_atom(CDB_ATOM_COMB, w0),
      d.add_atom(CDB_ATOM_NONE, d.add_free_name("n", 22)),
  };
  d.add_null_oterm(atoms[4]);
  CDB_ATOM_OTERM* first = d.add_oterm(atoms[4], nullptr);
  CDB_ATOM_OTERM* second = d.add_oterm(atoms[4], nullptr);
  d.add_oterm(atoms[5], lut1);
  FUSION c;
  c.init(d.action_point(), d.netlist());
  std::vector<std::string> names;
  names.reserve(atoms.size() + 1);
  for (CDB_ATOM_NODE* atom : atoms) names.push_back(query(c, atom, UNIT));
  names.push_back(query(c, first, UNIT) + " " + query(c, second, UNIT));
  // The captured child keeps lut1; two oterms without a name share id 0, so
  // each gets a leaf and the index keeps the later.
  EXPECT_EQ(
      (std::vector<std::string>{"ram0", "pin_apin", "io_ddr_d", "lut1_0", "w0", "none2", "w1 w1"}),
      names);
  std::vector<std::string> const nodes = tree(c);
  EXPECT_EQ(1, std::count(nodes.begin(), nodes.end(), "w0_0/0 leaf"));
  EXPECT_EQ(1, std::count(nodes.begin(), nodes.end(), "w1/0 leaf"));
  EXPECT_TRUE(c.m_atom_counter == 3 && c.m_oterm_counter == 2);
  EXPECT_EQ(20u, c.get_original_name_id("\\ram0"));
  expect_tree_invariants(c);
}

// init remembers which suffixes of a base are taken under a parent, so that k
// siblings with one base cost O(k). Names must be exactly those of the plain
// loop, which convert() and the makeup functions run: siblings drawn from
// bases, their upper-case spellings and their suffixed forms given literally,
// in random database orders, under the root and one level down, with made-up
// atom and oterm names that clash with them. The first trial's netlist is as
// big as one whose naming outgrows the caches, so that init predicts made-up
// names ahead of its loop (a hint that must change no name).
TEST_F(ZemaFusionTest, MemoisedUniquingGivesThePlainLoopsNames) {
  static char const* const kPool[] = {"x",  "X",    "x_0",  "X_0",  "x_1",   "x.",
                                      "x_", "ax",   "ax_0", "AX",   "x_0_0", "w0",
                                      "W0", "w0_0", "w1",   "lut0", "LUT0",  "lut0_0"};
  std::mt19937 rng(12);
  for (int trial = 0; trial < 60; ++trial) {
    SCOPED_TRACE(trial);
    zema_host::DESIGN d;
    HDB_INSTANCE_NAME const* const root = d.set_root("", 1);
    unsigned next_id = 2;
    std::vector<std::vector<HDB_INSTANCE_NAME const*>> levels(2);
    HDB_INSTANCE_NAME const* const inner = d.add_child(root, "x", next_id++);
    levels[0].push_back(inner);
    for (int level = 0; level < 2; ++level) {
      for (unsigned n = 1 + rng() % 60; n > 0; --n) {
        levels[level].push_back(
            d.add_child(level ? inner : root, kPool[rng() % std::size(kPool)], next_id++));
      }
    }
    std::vector<CDB_ATOM_NODE*> atoms;
    for (unsigned n = trial == 0 ? 40000 : rng() % 12; n > 0; --n) {
      bool const comb = rng() % 2;
      HDB_INSTANCE_NAME const* const name =
          comb ? levels[0][rng() % levels[0].size()] : d.add_free_name("f", kFree + n);
      atoms.push_back(d.add_atom(comb ? CDB_ATOM_COMB : CDB_ATOM_LUT, name));
      if (comb) d.add_oterm(atoms.back(), d.add_free_name("o", 2 * kFree + n));
    }
    FUSION memoised;
    memoised.init(d.action_point(), d.netlist());

    // The plain loop, step by step in the order init takes.
    FUSION plain;
    std::map<unsigned, std::string> expected;
    auto name_children = [&](PARENT* parent, std::vector<HDB_INSTANCE_NAME const*> children) {
      std::stable_sort(children.begin(), children.end(), ZEMA_INAME_CPTR_COMPARE());
      for (HDB_INSTANCE_NAME const* child : children) {
        char const* const name = plain.convert(child->get_unit_name().get_string(), parent);
        add_children(plain, parent, {name});
        expected[HDB_NAME_MGR::get_iname_id(child)] = name;
      }
    };
    PARENT* const top = add_children(plain, nullptr, {});
    name_children(top, levels[0]);
    name_children(add_children(plain, nullptr, {}), levels[1]);
    for (unsigned id = 2; id < next_id; ++id) {
      EXPECT_EQ(expected[id], node_of(memoised, id)->m_name) << id;
    }
    for (CDB_ATOM_NODE* atom : atoms) {
      std::string const want = atom->get_basic_type() == CDB_ATOM_COMB
                                   ? plain.makeup_oterm_name(*atom->begin_oterm(), top)
                                   : plain.makeup_atom_name(atom, top);
      add_children(plain, top, {want.c_str()});
      EXPECT_EQ(want, atom->get_basic_type() == CDB_ATOM_COMB
                          ? query(memoised, *atom->begin_oterm(), UNIT)
                          : query(memoised, atom, UNIT));
    }
    expect_tree_invariants(memoised);
  }
}

// The steps of init are exported for hosts that build the tree themselves:
// a root of their own, init_recurse (or init_helper level by level) and
// init_from_netlist give exactly the tree that init gives, and the
// full-name helper writes a node's prefix with the separator after it.
TEST_F(ZemaFusionTest, InitsStepsByHandGiveInitsTree) {
  std::mt19937 rng(9);
  PLAN const narrow = random_plan(rng);
  // A root whose captured children outgrow its index, with made-up names
  // entered after them: init builds that index in one pass, the steps in two.
  PLAN wide = random_plan(rng);
  for (int i = 0; i < 90; ++i) wide.add(0, "w" + std::to_string(i % 60));
  for (int i = 0; i < 150; ++i) wide.atoms.push_back({i % 2 ? 7 : 12, wide.next_free++, {}});
  for (PLAN const& plan : {narrow, wide}) {
    expect_steps_give_inits_tree(plan);
  }
}

void ZemaFusionTest::expect_steps_give_inits_tree(PLAN const& plan) {
  BUILT built(plan);
  FUSION whole;
  whole.init(built.d.action_point(), built.d.netlist());
  std::vector<std::string> const names = expect_well_named(whole, plan, built);

  HDB_INSTANCE_NAME const* const root = built.d.root();
  for (bool by_levels : {false, true}) {
    SCOPED_TRACE(by_levels);
    FUSION c;
    c.m_action_point = built.d.action_point();
    c.m_netlist = built.d.netlist();
    PARENT* const top = add_children(c, nullptr, {});
    top->m_name = intern(c, "");
    top->m_id = HDB_NAME_MGR::get_iname_id(root);
    c.m_root = top;
    c.m_hier_by_id_hash[top->m_id] = top;
    if (by_levels) {
      // The instances with children, parents first, each captured one level.
      std::vector<HDB_INSTANCE_NAME const*> todo{root};
      for (std::size_t i = 0; i < todo.size(); ++i) {
        NODE* const node = const_cast<NODE*>(node_of(c, HDB_NAME_MGR::get_iname_id(todo[i])));
        if (node->is_leaf()) continue;
        c.init_helper(todo[i], node->cast_to_parent());
        for (HDB_CONST_NAME_ITERATOR it = todo[i]->begin_child(); it != todo[i]->end_child();
             ++it) {
          todo.push_back(*it);
        }
      }
    } else {
      c.init_recurse(root, top);
    }
    c.init_from_netlist();
    EXPECT_EQ(tree(whole), tree(c));
    EXPECT_EQ(iteration_order(whole), iteration_order(c));
    EXPECT_EQ(names, expect_well_named(c, plan, built));
  }

  // Every node's prefix is its full name and "/", with or without the backslash.
  GEN_STRING prefix("stale"), full;
  for (unsigned id = 2; id <= plan.instances.size(); ++id) {
    NODE const* const node = node_of(whole, id);
    for (bool bare : {true, false}) {
      whole.get_converted_full_name_helper(&prefix, node, bare);
      whole.write_full_name(&full, node, bare);
      EXPECT_EQ(text(full) + "/", text(prefix)) << id;
    }
  }
  whole.get_converted_full_name_helper(&prefix, whole.m_root, false);
  EXPECT_EQ("\\", text(prefix)) << "the root's prefix is the leading text alone";
}

// Prefetching is only a hint: every step, on every object and on objects
// the converter does not know, leaves every answer as it was.
TEST_F(ZemaFusionTest, PrefetchingAQueryChangesNoAnswer) {
  std::mt19937 rng(5);
  PLAN const plan = random_plan(rng);
  BUILT built(plan);
  FUSION c;
  c.init(built.d.action_point(), built.d.netlist());
  std::vector<std::string> const names = expect_well_named(c, plan, built);
  zema_host::DESIGN other;
  CDB_ATOM_NODE* const stranger = other.add_atom(CDB_ATOM_LUT, other.add_free_name("s", 9));
  CDB_ATOM_OTERM* const stranger_out = other.add_oterm(stranger, nullptr);
  for (int step = 0; step < 12; ++step) {
    for (CDB_ATOM_NODE* atom : built.atoms) {
      FUSION::QUERY_PREFETCH progress{0, nullptr};
      for (int k = 0; k <= step; ++k) c.prefetch_query(atom, &progress);
    }
    for (auto const& oterm : built.oterms) {
      FUSION::QUERY_PREFETCH progress{0, nullptr};
      for (int k = 0; k <= step; ++k) c.prefetch_query(oterm.first, &progress);
    }
    FUSION::QUERY_PREFETCH atom_progress{0, nullptr}, oterm_progress{0, nullptr};
    for (int k = 0; k <= step; ++k) {
      c.prefetch_query(stranger, &atom_progress);
      c.prefetch_query(stranger_out, &oterm_progress);
      c.prefetch_query(static_cast<CDB_ATOM_NODE*>(nullptr), &atom_progress);
    }
  }
  EXPECT_EQ(names, expect_well_named(c, plan, built));
}

// --- Queries and reported invariants ---------------------------------------------------

TEST_F(ZemaFusionTest, ReverseLookupMatchesExactPathsOnly) {
  zema_test::SAMPLE_DESIGN s;
  FUSION c;
  static std::pair<char const*, unsigned> const kCases[] = {
      {"acpu/areg_0", 5}, {"\\acpu/areg_0", 5}, {"acpu", 3},       {"\\a9x", 4},
      {"a9x_0", 2},       {"acpu/reg", 6},      {"", 0},           {"\\", 0},
      {"acpu/", 0},       {"acpu//areg", 0},    {"/acpu", 0},      {"\\\\acpu", 0},
      {"ACPU", 0},        {"a9x/acpu", 0},      {"acpu/a9x", 0},   {"areg", 0},
      {"acpu/areg/x", 0}, {"acp", 0},           {"acpu/areg_", 0}, {"acpu/reg/areg", 0},
  };
  for (bool built : {false, true, false}) {
    if (built) c.init(s.design.action_point(), s.design.netlist());
    if (!built) c.clear();
    for (auto const& k : kCases)
      EXPECT_EQ(built ? k.second : 0u, c.get_original_name_id(k.first)) << k.first;
  }
}

TEST_F(ZemaFusionTest, BrokenInputsAreReportedAndTheConverterStaysUsable) {
  zema_host::DESIGN no_root, d;
  HDB_INSTANCE_NAME const* root = d.set_root("top", 1);
  d.add_child(root, "a", 2);
  d.add_null_child(root);
  d.add_null_child(d.add_child(root, "b", 3));
  HDB_INSTANCE_NAME const* without_id = d.add_child(root, "p", 0);
  HDB_INSTANCE_NAME const* q = d.add_child(root, "q", 4);
  d.add_null_atom();
  d.add_atom(CDB_ATOM_LUT, d.add_free_name("l", 20));
  // A comb atom, then an oterm of another atom, outside the hierarchy.
  d.add_oterm(d.add_atom(CDB_ATOM_COMB, d.add_free_name("c", 21)), d.add_free_name("o", 22));
  d.add_oterm(d.add_atom(CDB_ATOM_LUT, d.add_free_name("m", 23)), d.add_free_name("o", 24));
  // Io atoms without an id, then one outside the hierarchy.
  d.add_atom(CDB_ATOM_IO_IBUF, nullptr);
  d.add_atom(CDB_ATOM_PIN, without_id);
  d.add_oterm(d.add_atom(CDB_ATOM_IO_DDR, nullptr), q);
  d.add_atom(CDB_ATOM_IO_IBUF, d.add_free_name("i", 25));
  std::string const outside = "hash_iter != this->m_hier_by_id_hash.end()";
  std::string const no_match = "HDB and CDB do not match!";
  zema_test::SAMPLE_DESIGN s;
  for (zema_host::DESIGN* broken : {static_cast<zema_host::DESIGN*>(nullptr), &no_root, &d}) {
    FUSION c;
    c.init(s.design.action_point(), s.design.netlist());
    c.init(broken ? broken->action_point() : nullptr, broken ? broken->netlist() : nullptr);
    if (broken != &d) {
      expect_reports({"tree != 0"});
      EXPECT_EQ(nullptr, c.m_root);
      EXPECT_EQ(0u, c.get_original_name_id("acpu"));
    } else {
      expect_reports({"root_name[0] == '\\0'", "child != 0", "child != 0", "atom != 0", outside,
                      outside, no_match, no_match, no_match, outside});
      static std::pair<char const*, unsigned> const kLookups[] = {
          {"a", 2}, {"b", 3}, {"q", 4}, {"lut0", 20}, {"w0", 22}, {"lut1", 23}};
      for (auto const& k : kLookups) EXPECT_EQ(k.second, c.get_original_name_id(k.first));
      expect_tree_invariants(c);
    }
    c.clear();
    c.init(s.design.action_point(), s.design.netlist());
    EXPECT_EQ(5u, c.get_original_name_id("acpu/areg_0"));
  }
  FUSION c;
  c.init(s.design.action_point(), s.design.netlist());
  PARENT const* const top = c.m_root->cast_to_parent();
  EXPECT_EQ(nullptr, c.makeup_atom_name(nullptr, top));
  EXPECT_EQ(nullptr, c.makeup_oterm_name(nullptr, top));
  for (KIND kind : {UNIT, BARE})
    EXPECT_EQ("<none>", query(c, static_cast<CDB_ATOM_NODE*>(nullptr), kind));
  for (KIND kind : {UNIT, FULL})
    EXPECT_EQ("<none>", query(c, static_cast<CDB_ATOM_OTERM*>(nullptr), kind));
  EXPECT_EQ(0u, c.get_original_name_id(nullptr));
  expect_reports({"atom != 0", "oterm != 0", "atom != 0", "atom != 0", "oterm != 0", "oterm != 0",
                  "converted_full_name != 0"});
  EXPECT_EQ(0, c.m_atom_counter + c.m_oterm_counter);
}

// --- Random designs, big shapes and allocation failures ---------------------------

// Each design is named, named again over the earlier tree with its children
// listed in another order, and named again after a clear: all three agree.
TEST_F(ZemaFusionTest, RandomDesignsAreNamedTheSameInAnyChildOrderAndAfterReinit) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    PLAN const plan = random_plan(rng);
    BUILT plain(plan), shuffled(plan, &rng);
    FUSION c;
    c.init(plain.d.action_point(), plain.d.netlist());
    std::vector<std::string> const names = expect_well_named(c, plan, plain);
    c.init(shuffled.d.action_point(), shuffled.d.netlist());
    EXPECT_EQ(names, expect_well_named(c, plan, shuffled));
    c.clear();
    c.init(plain.d.action_point(), plain.d.netlist());
    EXPECT_EQ(names, expect_well_named(c, plan, plain));
    expect_reports({});
  }
}

TEST_F(ZemaFusionTest, DeepChainAndWideRootAreNamedToTheEnds) {
  PLAN chain;
  unsigned bottom = 1;
  for (int level = 0; level < 5000; ++level)
    bottom = chain.add(int(bottom) - 1, level % 2 ? "N" : "n");
  chain.atoms.push_back({CDB_ATOM_COMB, bottom, {chain.next_free++}});
  chain.atoms.push_back({CDB_ATOM_LUT, chain.next_free++, {bottom}});
  BUILT deep(chain);
  FUSION c;
  c.init(deep.d.action_point(), deep.d.netlist());
  std::vector<std::string> const names = expect_well_named(c, chain, deep);
  EXPECT_EQ(5000u * 3 - 1 - 2500, names[1].size()) << "n/an/n/an/...";
  EXPECT_EQ(0u, c.get_original_name_id((names[1] + "/n").c_str())) << "below a leaf";

  // Deeper than the lengths a full name keeps from measuring to writing, with
  // names of every length that is copied or kept differently.
  std::size_t const lengths[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 254, 255, 256, 400};
  PLAN varied;
  std::string expected;
  bottom = 1;
  for (std::size_t level = 0; level < 4200; ++level) {
    std::string const name(lengths[level % std::size(lengths)], char('a' + level % 26));
    bottom = varied.add(int(bottom) - 1, name);
    expected += (level ? "/" : "") + name;
  }
  varied.atoms.push_back({CDB_ATOM_COMB, bottom, {}});
  BUILT long_names(varied);
  c.init(long_names.d.action_point(), long_names.d.netlist());
  EXPECT_EQ(expected, expect_well_named(c, varied, long_names)[1]);

  PLAN wide;
  for (int i = 0; i < 20000; ++i)
    wide.add(0, i < 400 ? "" : (i % 3 ? "n" : "N") + std::to_string(i % 300));
  wide.atoms.push_back({CDB_ATOM_LUT, wide.next_free++, {}});
  wide.atoms.push_back({CDB_ATOM_COMB, 6, {wide.next_free++, wide.next_free++}});
  BUILT flat(wide);
  c.init(flat.d.action_point(), flat.d.netlist());
  expect_well_named(c, wide, flat);
  EXPECT_EQ(20003u, c.m_root->cast_to_parent()->m_children.m_count);
  EXPECT_STREQ("a_398", node_of(c, 401)->m_name);
}

// Fails each allocation of init in turn: nothing leaks, and the next plain
// init gives the names an undisturbed converter gives.
TEST_F(ZemaFusionTest, AllocationFailuresDuringInitLeakNothingAndTheNextInitStartsClean) {
  PLAN plan;
  unsigned const reg = plan.add(static_cast<int>(plan.add(0, "CPU")) - 1, "Reg");
  plan.add(1, "reg");
  plan.atoms.push_back({CDB_ATOM_COMB, reg, {plan.next_free++, 0}});
  plan.atoms.push_back({CDB_ATOM_RAM, plan.next_free++, {reg}});
  plan.atoms.push_back({CDB_ATOM_IO_IBUF, plan.add(0, "9x"), {}});
  BUILT built(plan);
  auto init = [&built](FUSION* c) { c->init(built.d.action_point(), built.d.netlist()); };
  FUSION reference;
  init(&reference);
  std::vector<std::string> const expected = expect_well_named(reference, plan, built);
  // Mode 0: construction and init both under fault; 1: a failed init on a
  // new converter, then a plain one; 2: the same over an earlier tree.
  for (int mode = 0; mode < 3; ++mode) {
    bool done = false;
    for (long k = 0; !done && k < 5000; ++k) {
      SCOPED_TRACE(std::to_string(mode) + " failing allocation " + std::to_string(k));
      zema_host::MEM_STATS const before = zema_host::mem_module_stats("ZEMA");
      {
        std::unique_ptr<FUSION> c(mode ? new FUSION() : nullptr);
        if (mode == 2) init(c.get());
        zema_host::mem_fail_after(k);
        try {
          if (!mode) c.reset(new FUSION());
          init(c.get());
          done = true;
        } catch (std::bad_alloc const&) {
        }
        zema_host::mem_fail_after(-1);
        if (mode && !done) init(c.get());
        if (mode || done) {
          EXPECT_EQ(expected, expect_well_named(*c, plan, built));
        }
      }
      EXPECT_EQ(before.live_blocks, zema_host::mem_module_stats("ZEMA").live_blocks);
      EXPECT_EQ(before.live_bytes, zema_host::mem_module_stats("ZEMA").live_bytes);
    }
    EXPECT_TRUE(done);
  }
}

}  // namespace
