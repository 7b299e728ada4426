// Tests of the fusion converter: construction and the type prefixes,
// legalisation and uniquing of names, the lifecycle of the tree, hierarchy
// capture, made-up names for the netlist, the queries, reported invariants,
// and a differential test of random designs against a small model of the
// naming rules, with fault injection into every allocation of init.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "tests/test_support.h"

namespace {

typedef ZEMA_NAME_CONVERTER_FUSION_IMPL FUSION;
typedef ZEMA_NAME_CONVERTER_HIERARCHY NODE;
typedef ZEMA_NAME_CONVERTER_HIERARCHY_PARENT PARENT;
typedef ZEMA_NAME_CONVERTER_HIERARCHY_LEAF LEAF;

std::string text(GEN_STRING const& s) { return std::string(s.data(), s.size()); }

bool is_io(int type) { return type == 3 || type == 35 || type == 36; }

// --- The naming rules, written out independently of the library -------------

char legal_byte(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<char>(c - 'A' + 'a');
  bool const keep = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '[' || c == ']';
  return keep ? static_cast<char>(c) : '_';
}

std::string legal_form(std::string const& raw) {
  unsigned char const first = raw.empty() ? 0 : static_cast<unsigned char>(raw[0]);
  std::string out = first >= 'a' && first <= 'z' ? "" : "a";
  for (char c : raw) out += legal_byte(static_cast<unsigned char>(c));
  return out;
}

// The names taken among one parent's children.
struct TAKEN {
  std::set<std::string> names;
  std::map<std::string, int> next_suffix;  // per base: every lower suffix is taken
};

// Takes the first of base, base_0, base_1, ... that is not taken yet.
std::string take_unique(std::string const& base, TAKEN* taken) {
  std::string name = base;
  int& suffix = taken->next_suffix[base];
  while (taken->names.count(name)) name = base + "_" + std::to_string(suffix++);
  taken->names.insert(name);
  return name;
}

std::string prefix_of(int type) {
  std::string prefix = zema_host::atom_type_name(type);
  for (char& c : prefix) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return prefix;
}

bool is_legal(char const* name) {
  if (name[0] < 'a' || name[0] > 'z') return false;
  for (char const* p = name; *p; ++p) {
    if (legal_byte(static_cast<unsigned char>(*p)) != *p) return false;
  }
  return true;
}

// --- Designs as plain data, so one design can be built in several orders ----

unsigned const kNullEntry = ~0u;

struct PLAN {
  struct INSTANCE {
    int parent;
    std::string name;
    unsigned id;
    std::vector<int> children;
  };
  struct ATOM {
    int type;
    unsigned name_id;                 // 0: no instance name
    std::vector<unsigned> oterm_ids;  // kNullEntry: a null entry
  };

  std::vector<INSTANCE> instances;  // [0] is the root; parents before children
  std::vector<unsigned> free_ids;
  std::vector<ATOM> atoms;
  unsigned next_id = 1;

  PLAN() { instances.push_back({-1, "", next_id++, {}}); }
  int add(int parent, std::string const& name) {
    instances.push_back({parent, name, next_id++, {}});
    instances[parent].children.push_back(static_cast<int>(instances.size() - 1));
    return static_cast<int>(instances.size() - 1);
  }
  unsigned add_free() {
    free_ids.push_back(next_id);
    return next_id++;
  }
};

// A host design built from a plan. With `rng`, each parent lists its children
// in a shuffled order in which only twins (equal unit names) keep their
// relative order, since that order is what decides their suffixes.
struct BUILT {
  zema_host::DESIGN design;
  std::vector<CDB_ATOM_NODE*> atoms;
  std::vector<std::vector<CDB_ATOM_OTERM*>> oterms;

  explicit BUILT(PLAN const& plan, std::mt19937* rng = nullptr) {
    std::map<unsigned, HDB_INSTANCE_NAME const*> by_id;
    by_id[plan.instances[0].id] =
        design.set_root(plan.instances[0].name.c_str(), plan.instances[0].id);
    for (PLAN::INSTANCE const& instance : plan.instances) {
      std::vector<int> order = instance.children;
      if (rng) {
        std::shuffle(order.begin(), order.end(), *rng);
        std::map<std::string, std::vector<int>> twins;
        for (int c : instance.children) twins[plan.instances[c].name].push_back(c);
        std::map<std::string, std::size_t> used;
        for (int& c : order) {
          std::string const name = plan.instances[c].name;
          c = twins[name][used[name]++];
        }
      }
      for (int c : order) {
        PLAN::INSTANCE const& child = plan.instances[c];
        by_id[child.id] = design.add_child(by_id.at(instance.id), child.name.c_str(), child.id);
      }
    }
    for (unsigned id : plan.free_ids) by_id[id] = design.add_free_name("free", id);
    for (PLAN::ATOM const& a : plan.atoms) {
      atoms.push_back(design.add_atom(static_cast<CDB_ATOM_BASIC_TYPE>(a.type),
                                      a.name_id ? by_id.at(a.name_id) : nullptr));
      oterms.emplace_back();
      for (unsigned id : a.oterm_ids) {
        if (id == kNullEntry) {
          design.add_null_oterm(atoms.back());
          oterms.back().push_back(nullptr);
        } else {
          oterms.back().push_back(design.add_oterm(atoms.back(), id ? by_id.at(id) : nullptr));
        }
      }
    }
  }
};

// The names the converter must give a plan with valid references: full names
// without the backslash, "" for null oterm entries.
struct MODEL {
  std::map<unsigned, std::string> unit;  // by instance id
  std::map<unsigned, unsigned> parent;   // by instance id; the root is absent
  std::vector<std::string> atom_unit, atom_full;
  std::vector<std::vector<std::string>> oterm_unit, oterm_full;
  int atom_counter = 0;
  int oterm_counter = 0;
  unsigned root_id;

  explicit MODEL(PLAN const& plan) : root_id(plan.instances[0].id) {
    std::vector<TAKEN> taken(plan.instances.size());
    unit[root_id] = plan.instances[0].name;
    for (std::size_t i = 0; i < plan.instances.size(); ++i) {
      std::vector<int> sorted = plan.instances[i].children;
      std::stable_sort(sorted.begin(), sorted.end(), [&](int a, int b) {
        return std::strcmp(plan.instances[a].name.c_str(), plan.instances[b].name.c_str()) < 0;
      });
      for (int c : sorted) {
        unit[plan.instances[c].id] = take_unique(legal_form(plan.instances[c].name), &taken[i]);
        parent[plan.instances[c].id] = plan.instances[i].id;
      }
    }
    for (PLAN::ATOM const& a : plan.atoms) {
      if (a.type == 26) {
        atom_unit.push_back(unit.at(a.name_id));
        atom_full.push_back(full(a.name_id));
      } else {
        std::string const tail =
            is_io(a.type) ? "_" + unit.at(a.name_id) : std::to_string(atom_counter++);
        atom_unit.push_back(take_unique(prefix_of(a.type) + tail, &taken[0]));
        atom_full.push_back(atom_unit.back());
      }
      oterm_unit.emplace_back();
      oterm_full.emplace_back();
      for (unsigned id : a.oterm_ids) {
        std::string u, f;
        if (id != kNullEntry && a.type == 26) {
          u = f = take_unique("w" + std::to_string(oterm_counter++), &taken[0]);
        } else if (id != kNullEntry) {
          u = unit.at(id);
          f = full(id);
        }
        oterm_unit.back().push_back(u);
        oterm_full.back().push_back(f);
      }
    }
  }

  std::string full(unsigned id) const {
    std::vector<std::string const*> levels;
    for (; id != root_id; id = parent.at(id)) levels.push_back(&unit.at(id));
    std::string path;
    for (std::size_t i = levels.size(); i-- > 0;) {
      path += *levels[i];
      if (i) path += '/';
    }
    return path;
  }
};

PLAN random_plan(std::mt19937& rng) {
  static char const* const kPieces[] = {"a", "A", "b", "B", "_",    "1",    ".",
                                        "x", "X", "9", "[", "\xC3", "\x80", " "};
  auto pick = [&rng](std::size_t n) { return static_cast<std::size_t>(rng() % n); };
  auto name = [&] {
    std::string s;
    for (std::size_t n = pick(4); n > 0; --n) s += kPieces[pick(sizeof kPieces / sizeof *kPieces)];
    return s;
  };
  PLAN plan;
  std::vector<std::pair<int, int>> todo = {{0, 0}};  // instance, depth
  while (!todo.empty() && plan.instances.size() < 300) {
    std::pair<int, int> const top = todo.back();
    todo.pop_back();
    std::size_t const count = top.second >= 6 ? 0 : pick(top.second == 0 ? 9 : 5);
    for (std::size_t i = 0; i < count; ++i)
      todo.push_back({plan.add(top.first, name()), top.second + 1});
  }
  // Each instance names at most one atom: the atom index is keyed by id.
  std::vector<unsigned> hierarchy, unnamed;
  for (std::size_t i = 1; i < plan.instances.size(); ++i) hierarchy.push_back(plan.instances[i].id);
  unnamed = hierarchy;
  std::shuffle(unnamed.begin(), unnamed.end(), rng);
  for (std::size_t n = pick(40); n > 0; --n) {
    static int const kMeaningfulTypes[] = {26, 3, 35, 36};
    int type = pick(3) == 0 ? kMeaningfulTypes[pick(4)] : static_cast<int>(pick(50));
    if ((type == 26 || is_io(type)) && unnamed.empty()) type = 1;
    PLAN::ATOM atom{type, 0, {}};
    if (type == 26 || is_io(type)) {
      atom.name_id = unnamed.back();
      unnamed.pop_back();
    } else {
      atom.name_id = plan.add_free();
    }
    for (std::size_t k = pick(4); k > 0; --k) {
      if (pick(6) == 0 || (type != 26 && hierarchy.empty())) {
        atom.oterm_ids.push_back(kNullEntry);
      } else {
        atom.oterm_ids.push_back(type == 26 ? plan.add_free() : hierarchy[pick(hierarchy.size())]);
      }
    }
    plan.atoms.push_back(atom);
  }
  return plan;
}

// --- Fixture -------------------------------------------------------------------

class ZemaFusionTest : public zema_test::TrackedTest {
 protected:
  static char const* intern(FUSION& c, char const* t) {
    return c.m_name_table.insert_helper(ORB_CSTR_OPS().hash(t), t)->m_text;
  }

  // A parent owned by `c` whose children bear the given (interned) names.
  static PARENT* make_parent(FUSION& c, std::vector<char const*> const& child_names) {
    PARENT* const parent = new PARENT(nullptr, intern(c, "p"), 0);
    c.m_hierarchies.push_back(parent);
    for (char const* name : child_names) add_child(c, parent, name);
    return parent;
  }

  static void add_child(FUSION& c, PARENT* parent, char const* name) {
    LEAF* const leaf = new LEAF(parent, intern(c, name), 0);
    c.m_hierarchies.push_back(leaf);
    parent->m_children[leaf->m_name] = leaf;
  }

  // The node of an instance id; a missing one fails the test and gives a
  // stand-in leaf, so that the test can go on.
  static NODE const* node_of(FUSION const& c, unsigned id) {
    FUSION::ID_HASH::NODE const* entry = c.m_hier_by_id_hash.hash_search(id, id);
    if (entry) return entry->m_value;
    ADD_FAILURE() << "no node for id " << id;
    static LEAF const kMissing(nullptr, "<no node>", 0);
    return &kMissing;
  }

  static NODE const* child_named(NODE const* parent, std::string const& name) {
    for (NODE::CHILD_ITERATOR it = parent->begin_child(); it != parent->end_child(); ++it) {
      if (name == it->m_value->m_name) return it->m_value;
    }
    return nullptr;
  }

  // "<none>" when the query gives false; it must then leave the output alone.
  template <class T>
  static std::string unit_of(FUSION& c, T* object) {
    GEN_STRING out("untouched");
    if (c.get_converted_unit_name(&out, object)) return text(out);
    EXPECT_EQ("untouched", text(out));
    return "<none>";
  }

  template <class T>
  static std::string full_of(FUSION& c, T* object, bool no_backslash) {
    GEN_STRING out("untouched");
    if (c.get_converted_full_name(&out, object, no_backslash)) return text(out);
    EXPECT_EQ("untouched", text(out));
    return "<none>";
  }

  // Every unit and full name of every atom and oterm of a built design.
  static std::vector<std::string> all_names(FUSION& c, BUILT const& built) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < built.atoms.size(); ++i) {
      names.push_back(unit_of(c, built.atoms[i]));
      names.push_back(full_of(c, built.atoms[i], false));
      for (CDB_ATOM_OTERM* oterm : built.oterms[i]) {
        if (!oterm) continue;
        names.push_back(unit_of(c, oterm));
        names.push_back(full_of(c, oterm, true));
      }
    }
    return names;
  }

  static void expect_matches_model(FUSION& c, PLAN const& plan, BUILT const& built,
                                   MODEL const& model) {
    for (PLAN::INSTANCE const& instance : plan.instances) {
      NODE const* const node = node_of(c, instance.id);
      EXPECT_EQ(model.unit.at(instance.id), node->m_name) << instance.id;
      EXPECT_EQ(instance.children.empty() && instance.parent >= 0, node->is_leaf());
      if (instance.parent >= 0 && node->m_parent) {
        EXPECT_EQ(plan.instances[instance.parent].id, node->m_parent->m_id);
      }
    }
    for (std::size_t i = 0; i < built.atoms.size(); ++i) {
      EXPECT_EQ(model.atom_unit[i], unit_of(c, built.atoms[i])) << "atom " << i;
      EXPECT_EQ(model.atom_full[i], full_of(c, built.atoms[i], true)) << "atom " << i;
      EXPECT_EQ("\\" + model.atom_full[i], full_of(c, built.atoms[i], false)) << "atom " << i;
      for (std::size_t k = 0; k < built.oterms[i].size(); ++k) {
        if (!built.oterms[i][k]) continue;
        EXPECT_EQ(model.oterm_unit[i][k], unit_of(c, built.oterms[i][k]));
        EXPECT_EQ("\\" + model.oterm_full[i][k], full_of(c, built.oterms[i][k], false));
      }
    }
    EXPECT_EQ(model.atom_counter, c.m_atom_counter);
    EXPECT_EQ(model.oterm_counter, c.m_oterm_counter);
  }

  // Walks the tree without recursion: every owned node is reached once from
  // the root, names are legal, interned and unique among siblings.
  static void expect_tree_invariants(FUSION const& c) {
    ASSERT_NE(nullptr, c.m_root);
    std::size_t reached = 1;
    std::vector<NODE const*> todo = {c.m_root};
    while (!todo.empty()) {
      NODE const* const node = todo.back();
      todo.pop_back();
      std::set<std::string> siblings;
      for (NODE::CHILD_ITERATOR it = node->begin_child(); it != node->end_child(); ++it) {
        NODE const* const child = it->m_value;
        ++reached;
        EXPECT_EQ(node, child->m_parent);
        EXPECT_EQ(it->m_key, child->m_name);
        EXPECT_EQ(c.m_name_table.find(child->m_name), child->m_name);
        EXPECT_TRUE(is_legal(child->m_name)) << child->m_name;
        EXPECT_TRUE(siblings.insert(child->m_name).second) << child->m_name;
        todo.push_back(child);
      }
    }
    EXPECT_EQ(c.m_hierarchies.size(), reached);
  }
};

// --- Construction, legalisation and uniquing ---------------------------------

TEST_F(ZemaFusionTest, ConstructionStartsEmptyWithLowerCasedTypePrefixes) {
  FUSION c;
  EXPECT_EQ(nullptr, c.m_root);
  EXPECT_EQ(nullptr, c.m_action_point);
  EXPECT_EQ(nullptr, c.m_netlist);
  for (FUSION::ID_HASH const* index :
       {&c.m_hier_by_id_hash, &c.m_atom_hier_hash, &c.m_oterm_hier_hash}) {
    EXPECT_EQ(0u, index->m_count);
    EXPECT_EQ(61u, index->m_bucket_count);
  }
  EXPECT_EQ(0u, c.m_name_table.m_count);
  EXPECT_EQ(61u, c.m_name_table.m_bucket_count);
  EXPECT_TRUE(c.m_hierarchies.empty());
  EXPECT_EQ(0, c.m_atom_counter);
  EXPECT_EQ(0, c.m_oterm_counter);
  for (int t = 0; t < FUSION::TYPE_COUNT; ++t)
    EXPECT_EQ(prefix_of(t), text(c.m_type_prefix[t])) << t;
  EXPECT_EQ("hardip", text(c.m_type_prefix[42]));
  EXPECT_EQ("clk_div", text(c.m_type_prefix[46]));
  // Lower-casing works on copies: the host's texts keep their case.
  EXPECT_STREQ("HardIP", zema_host::atom_type_name(42));
  EXPECT_STREQ("Clk_Div", zema_host::atom_type_name(46));
}

TEST_F(ZemaFusionTest, TransformLegalisesNames) {
  static struct {
    char const* in;
    char const* out;
  } const kCases[] = {
      {"foo", "foo"},
      {"Foo.bar", "afoo_bar"},
      {"Abc", "aabc"},
      {"FOO", "afoo"},
      {"data[3]", "data[3]"},
      {"bus{2}", "bus_2_"},
      {"3rd~stage", "a3rd_stage"},
      {"_tmp", "a_tmp"},
      {"a/b c", "a_b_c"},
      {"MUX_2", "amux_2"},
      {"", "a"},
      {"\xFF", "a_"},
      {"A", "aa"},
      {"Q", "aq"},
  };
  FUSION c;
  GEN_STRING out("stale");
  for (auto const& k : kCases) {
    c.transform(&out, k.in);
    EXPECT_EQ(k.out, text(out)) << k.in;
  }
  // Every byte value, first and later: the rule written out above.
  for (int b = 1; b < 256; ++b) {
    std::string const alone(1, static_cast<char>(b));
    c.transform(&out, alone.c_str());
    EXPECT_EQ(legal_form(alone), text(out)) << b;
    c.transform(&out, ("x" + alone).c_str());
    EXPECT_EQ(std::string("x") + legal_byte(static_cast<unsigned char>(b)), text(out)) << b;
  }
  EXPECT_EQ("a_", legal_form("\x80"));
  EXPECT_EQ("aq", legal_form("Q"));
}

TEST_F(ZemaFusionTest, ConvertTakesFirstSuffixNoChildBears) {
  static struct {
    std::vector<char const*> children;
    char const* in;
    char const* out;
  } const kCases[] = {
      {{}, "foo", "foo"},
      {{"foo", "foo_0"}, "foo", "foo_1"},
      {{"foo", "foo_1"}, "foo", "foo_0"},
      {{"afoo"}, "Foo", "afoo_0"},
      {{"foo_0"}, "foo", "foo"},
      {{"abcdefghijklmn", "abcdefghijklmn_0"}, "abcdefghijklmn", "abcdefghijklmn_1"},
      {{"x", "x_0", "x_1", "x_2", "x_3", "x_4", "x_5", "x_6", "x_7", "x_8", "x_9"}, "X", "ax"},
      {{"x", "x_0", "x_1", "x_2", "x_3", "x_4", "x_5", "x_6", "x_7", "x_8", "x_9"}, "x", "x_10"},
  };
  for (auto const& k : kCases) {
    FUSION c;
    PARENT* const p = make_parent(c, k.children);
    char const* const name = c.convert(k.in, p);
    EXPECT_STREQ(k.out, name) << k.in;
    EXPECT_EQ(c.m_name_table.find(k.out), name) << "the result is interned";
    EXPECT_EQ(k.children.size(), p->m_children.m_count) << "convert does not add a child";
  }
}

TEST_F(ZemaFusionTest, SiblingsConvertedInTurnTakeSuccessiveSuffixes) {
  static std::vector<char const*> const kRuns[] = {
      {"a.b", "a_b", "a-b", "a_b_0", "a b", "a_b_1"},
      {"x_0", "x_0", "x", "x", "x", "x_1"},
  };
  for (auto const& run : kRuns) {
    FUSION c;
    PARENT* const p = make_parent(c, {});
    for (std::size_t i = 0; i < run.size(); i += 2) {
      char const* const name = c.convert(run[i], p);
      EXPECT_STREQ(run[i + 1], name) << run[i];
      add_child(c, p, name);
    }
  }
}

TEST_F(ZemaFusionTest, SameTextUnderTwoParentsGivesOnePointer) {
  FUSION c;
  PARENT* const p1 = make_parent(c, {"other"});
  PARENT* const p2 = make_parent(c, {});
  char const* const a = c.convert("Foo", p1);
  EXPECT_EQ(a, c.convert("Foo", p2));
  EXPECT_STREQ("afoo", a);
}

TEST_F(ZemaFusionTest, DifferentiateOnlyAppendsASuffixToTextsThatChildrenBear) {
  FUSION c;
  intern(c, "");   // interned, like the root's name, but nobody's child
  intern(c, "q");  // interned, not a child
  PARENT* const p = make_parent(c, {"foo", "A.b", "A.b_0"});
  static struct {
    char const* in;
    char const* out;
  } const kCases[] = {{"foo", "foo_0"}, {"bar", "bar"}, {"", ""}, {"q", "q"}, {"A.b", "A.b_1"}};
  for (auto const& k : kCases) {
    GEN_STRING name(k.in);
    c.differentiate(&name, p);
    EXPECT_EQ(k.out, text(name)) << k.in;
  }
}

// --- Lifecycle -------------------------------------------------------------------

TEST_F(ZemaFusionTest, EveryNodeIsDeletedOnceWhateverTheOrderOfTeardown) {
  enum STEPS { DELETE_THEN_DESTROY, DELETE_THEN_CLEAR, CLEAR_TWICE, CLEAR_FRESH };
  for (STEPS steps : {DELETE_THEN_DESTROY, DELETE_THEN_CLEAR, CLEAR_TWICE, CLEAR_FRESH}) {
    SCOPED_TRACE(steps);
    zema_test::SAMPLE_DESIGN s;
    unsigned long long const before = zema_host::mem_module_stats("ZEMA").live_blocks;
    {
      FUSION c;
      if (steps != CLEAR_FRESH) c.init(s.design.action_point(), s.design.netlist());
      unsigned long long const built = zema_host::mem_module_stats("ZEMA").live_blocks;
      switch (steps) {
        case DELETE_THEN_DESTROY:
        case DELETE_THEN_CLEAR:
          c.delete_hierarchies();
          EXPECT_EQ(7u, c.m_hierarchies.size());
          for (NODE* node : c.m_hierarchies) EXPECT_EQ(nullptr, node);
          // Two parents with their bucket arrays and three index entries each, and five leaves.
          EXPECT_EQ(built - 15, zema_host::mem_module_stats("ZEMA").live_blocks);
          if (steps == DELETE_THEN_CLEAR) c.clear();
          break;
        case CLEAR_TWICE:
          c.clear();
          c.clear();
          break;
        case CLEAR_FRESH:
          c.clear();
          break;
      }
    }
    EXPECT_EQ(before, zema_host::mem_module_stats("ZEMA").live_blocks);
  }
}

TEST_F(ZemaFusionTest, ClearEmptiesEverythingButKeepsBucketCountsAndPrefixes) {
  PLAN plan;
  for (int i = 0; i < 200; ++i) plan.add(0, "n" + std::to_string(i % 150));
  plan.atoms.push_back({1, plan.add_free(), {}});
  BUILT built(plan);
  FUSION c;
  c.init(built.design.action_point(), built.design.netlist());
  unsigned const id_buckets = c.m_hier_by_id_hash.m_bucket_count;
  unsigned const name_buckets = c.m_name_table.m_bucket_count;
  EXPECT_GT(id_buckets, 61u);
  EXPECT_GT(name_buckets, 61u);

  c.clear();
  EXPECT_EQ(nullptr, c.m_root);
  EXPECT_EQ(nullptr, c.m_action_point);
  EXPECT_EQ(nullptr, c.m_netlist);
  EXPECT_TRUE(c.m_hierarchies.empty());
  EXPECT_EQ(0u,
            c.m_hier_by_id_hash.m_count + c.m_atom_hier_hash.m_count + c.m_oterm_hier_hash.m_count);
  EXPECT_EQ(id_buckets, c.m_hier_by_id_hash.m_bucket_count);
  EXPECT_EQ(0u, c.m_name_table.m_count);
  EXPECT_EQ(name_buckets, c.m_name_table.m_bucket_count);
  EXPECT_EQ(nullptr, c.m_name_table.find(""));
  EXPECT_EQ(0, c.m_atom_counter);
  EXPECT_EQ(0, c.m_oterm_counter);
  for (int t = 0; t < FUSION::TYPE_COUNT; ++t) EXPECT_EQ(prefix_of(t), text(c.m_type_prefix[t]));
}

// --- Hierarchy capture -------------------------------------------------------------

TEST_F(ZemaFusionTest, SampleDesignNamesSiblingsInStrcmpOrder) {
  zema_test::SAMPLE_DESIGN s;
  FUSION c;
  c.init(s.design.action_point(), s.design.netlist());
  EXPECT_EQ(s.design.action_point(), c.m_action_point);
  EXPECT_EQ(s.design.netlist(), c.m_netlist);

  std::vector<std::pair<std::string, unsigned>> owned;
  for (NODE const* node : c.m_hierarchies) owned.push_back({node->m_name, node->m_id});
  std::vector<std::pair<std::string, unsigned>> const expected = {
      {"", 1}, {"a9x", 4}, {"acpu", 3}, {"a9x_0", 2}, {"areg", 7}, {"areg_0", 5}, {"reg", 6}};
  EXPECT_EQ(expected, owned);

  ASSERT_EQ(c.m_hierarchies[0], c.m_root);
  EXPECT_FALSE(c.m_root->is_leaf());
  EXPECT_EQ(nullptr, c.m_root->m_parent);
  EXPECT_EQ(c.m_name_table.find(""), c.m_root->m_name);
  EXPECT_EQ(7u, c.m_hier_by_id_hash.m_count);
  for (unsigned id = 1; id <= 7; ++id) EXPECT_EQ(id, node_of(c, id)->m_id);
  NODE const* const cpu = node_of(c, 3);
  ASSERT_FALSE(cpu->is_leaf());
  EXPECT_EQ(3u, cpu->cast_to_parent()->m_children.m_count);
  EXPECT_EQ(3u, c.m_root->cast_to_parent()->m_children.m_count);
  for (unsigned id : {5u, 6u, 7u}) EXPECT_EQ(cpu, node_of(c, id)->m_parent);
  for (unsigned id : {2u, 4u, 5u, 6u, 7u}) EXPECT_TRUE(node_of(c, id)->is_leaf());
  EXPECT_EQ(0u, c.m_atom_hier_hash.m_count + c.m_oterm_hier_hash.m_count);
  expect_tree_invariants(c);
}

TEST_F(ZemaFusionTest, RootWithoutChildrenIsAnEmptyParent) {
  zema_host::DESIGN d;
  d.set_root("", 9);
  FUSION c;
  c.init(d.action_point(), d.netlist());
  ASSERT_NE(nullptr, c.m_root);
  EXPECT_FALSE(c.m_root->is_leaf());
  EXPECT_EQ(9u, c.m_root->m_id);
  EXPECT_EQ(c.m_name_table.find(""), c.m_root->m_name);
  EXPECT_TRUE(c.m_root->begin_child() == c.m_root->end_child());
  EXPECT_EQ(1u, c.m_hierarchies.size());
  EXPECT_EQ(c.m_root, node_of(c, 9));
  EXPECT_EQ(1u, c.m_hier_by_id_hash.m_count);
}

TEST_F(ZemaFusionTest, SiblingsAreOrderedByUnsignedBytesAndStablyForTwins) {
  static struct {
    std::vector<char const*> raw;    // database order
    std::vector<char const*> named;  // the same order
  } const kCases[] = {
      {{"abus", "Bus"}, {"abus_0", "abus"}},
      {{"x", "x", "x"}, {"x", "x_0", "x_1"}},
      {{"", ""}, {"a", "a_0"}},
      {{"a", ""}, {"a_0", "a"}},
      {{"\x80", "a_"}, {"a__0", "a_"}},
      {{"\xC3", "_"}, {"a__0", "a_"}},
      {{"a.b", "a-b", "a b"}, {"a_b_1", "a_b_0", "a_b"}},
      {{"b", "B", "a"}, {"b", "ab", "a"}},
  };
  for (auto const& k : kCases) {
    zema_host::DESIGN d;
    HDB_INSTANCE_NAME const* root = d.set_root("", 1);
    for (std::size_t i = 0; i < k.raw.size(); ++i) d.add_child(root, k.raw[i], unsigned(10 + i));
    FUSION c;
    c.init(d.action_point(), d.netlist());
    for (std::size_t i = 0; i < k.raw.size(); ++i) {
      EXPECT_STREQ(k.named[i], node_of(c, unsigned(10 + i))->m_name) << i << " of " << k.raw[0];
    }
  }
}

TEST_F(ZemaFusionTest, CaptureDescendsDepthFirstInDatabaseOrderAndUniquesPerParent) {
  zema_host::DESIGN d;
  HDB_INSTANCE_NAME const* root = d.set_root("", 1);
  HDB_INSTANCE_NAME const* b = d.add_child(root, "b", 2);
  HDB_INSTANCE_NAME const* a = d.add_child(root, "a", 3);
  d.add_child(d.add_child(b, "Q", 4), "bbb", 6);
  d.add_child(a, "Q", 5);
  FUSION c;
  c.init(d.action_point(), d.netlist());
  std::vector<unsigned> ids;
  for (NODE const* node : c.m_hierarchies) ids.push_back(node->m_id);
  EXPECT_EQ((std::vector<unsigned>{1, 3, 2, 4, 6, 5}), ids);
  EXPECT_STREQ("aq", node_of(c, 4)->m_name);
  EXPECT_EQ(node_of(c, 4)->m_name, node_of(c, 5)->m_name);
}

// --- Netlist naming ------------------------------------------------------------------

// The root's child "U1" (11) has children "Q" (12) and "clk" (13).
struct NETLIST_EXAMPLE {
  zema_host::DESIGN d;
  HDB_INSTANCE_NAME const* root = d.set_root("", 1);
  HDB_INSTANCE_NAME const* u1 = d.add_child(root, "U1", 11);
  HDB_INSTANCE_NAME const* q = d.add_child(u1, "Q", 12);
  HDB_INSTANCE_NAME const* clk = d.add_child(u1, "clk", 13);
  CDB_ATOM_NODE* comb = d.add_atom(CDB_ATOM_COMB, q);
  CDB_ATOM_OTERM* comb_out = d.add_oterm(comb, d.add_free_name("n40", 40));
  CDB_ATOM_NODE* ram = d.add_atom(CDB_ATOM_RAM, d.add_free_name("r50", 50));
  CDB_ATOM_OTERM* ram_out = d.add_oterm(ram, clk);
  CDB_ATOM_NODE* ibuf = d.add_atom(CDB_ATOM_IO_IBUF, u1);
};

TEST_F(ZemaFusionTest, NetlistExampleTiesAtomsAndOtermsToNodes) {
  NETLIST_EXAMPLE x;
  FUSION c;
  c.init(x.d.action_point(), x.d.netlist());
  std::vector<std::string> const expected = {"aq",          "\\au1/aq",     "w0",  "w0",
                                             "ram0",        "\\ram0",       "clk", "au1/clk",
                                             "io_ibuf_au1", "\\io_ibuf_au1"};
  EXPECT_EQ(expected, (std::vector<std::string>{
                          unit_of(c, x.comb), full_of(c, x.comb, false), unit_of(c, x.comb_out),
                          full_of(c, x.comb_out, true), unit_of(c, x.ram), full_of(c, x.ram, false),
                          unit_of(c, x.ram_out), full_of(c, x.ram_out, true), unit_of(c, x.ibuf),
                          full_of(c, x.ibuf, false)}));
  EXPECT_EQ(node_of(c, 12), c.m_atom_hier_hash[12]);
  EXPECT_EQ(node_of(c, 13), c.m_oterm_hier_hash[13]);
  EXPECT_EQ(3u, c.m_atom_hier_hash.m_count);
  EXPECT_EQ(2u, c.m_oterm_hier_hash.m_count);
  EXPECT_EQ(50u, c.m_atom_hier_hash[50]->m_id);
  EXPECT_TRUE(c.m_atom_hier_hash[50]->is_leaf());
  EXPECT_EQ(c.m_root, c.m_atom_hier_hash[11]->m_parent);
  EXPECT_EQ(c.m_root, c.m_oterm_hier_hash[40]->m_parent);
  EXPECT_EQ(1, c.m_atom_counter);
  EXPECT_EQ(1, c.m_oterm_counter);
  // Made-up leaves are owned but not indexed by instance id.
  EXPECT_EQ(4u, c.m_hier_by_id_hash.m_count);
  EXPECT_EQ(7u, c.m_hierarchies.size());
  expect_tree_invariants(c);
}

TEST_F(ZemaFusionTest, MadeUpNamesCountAcrossTypesAndAvoidTakenNames) {
  zema_host::DESIGN d;
  HDB_INSTANCE_NAME const* root = d.set_root("", 1);
  HDB_INSTANCE_NAME const* w0 = d.add_child(root, "w0", 2);
  HDB_INSTANCE_NAME const* lut1 = d.add_child(root, "lut1", 3);
  HDB_INSTANCE_NAME const* pin = d.add_child(root, "Pin", 4);
  HDB_INSTANCE_NAME const* ddr = d.add_child(root, "d", 5);
  CDB_ATOM_NODE* ram = d.add_atom(CDB_ATOM_RAM, d.add_free_name("r", 20));
  CDB_ATOM_NODE* io = d.add_atom(CDB_ATOM_PIN, pin);
  CDB_ATOM_NODE* ddr_atom = d.add_atom(CDB_ATOM_IO_DDR, ddr);
  CDB_ATOM_NODE* lut = d.add_atom(CDB_ATOM_LUT, d.add_free_name("l", 21));
  CDB_ATOM_NODE* comb = d.add_atom(CDB_ATOM_COMB, w0);
  d.add_null_oterm(comb);
  CDB_ATOM_OTERM* first = d.add_oterm(comb, nullptr);
  CDB_ATOM_OTERM* second = d.add_oterm(comb, nullptr);
  CDB_ATOM_NODE* none = d.add_atom(CDB_ATOM_NONE, d.add_free_name("n", 22));
  d.add_oterm(none, lut1);
  FUSION c;
  c.init(d.action_point(), d.netlist());
  EXPECT_EQ("ram0", unit_of(c, ram));
  EXPECT_EQ("pin_apin", unit_of(c, io));
  EXPECT_EQ("io_ddr_d", unit_of(c, ddr_atom));
  EXPECT_EQ("lut1_0", unit_of(c, lut)) << "the captured child keeps lut1";
  EXPECT_EQ("none2", unit_of(c, none));
  EXPECT_EQ("w0", unit_of(c, comb));
  // Two oterms without a name share id 0: two leaves, the index keeps the later.
  EXPECT_EQ("w1", unit_of(c, first));
  EXPECT_EQ("w1", unit_of(c, second));
  EXPECT_NE(nullptr, child_named(c.m_root, "w0_0"));
  EXPECT_EQ(3, c.m_atom_counter);
  EXPECT_EQ(2, c.m_oterm_counter);
  // A made-up leaf with id 0 names nothing in reverse.
  EXPECT_EQ(0u, c.get_original_name_id("w1"));
  EXPECT_EQ(20u, c.get_original_name_id("\\ram0"));
  expect_tree_invariants(c);
}

TEST_F(ZemaFusionTest, EmptyOrMissingNetlistAddsNothing) {
  zema_test::SAMPLE_DESIGN s;
  for (CDB_ATOM_NETLIST* netlist : {s.design.netlist(), static_cast<CDB_ATOM_NETLIST*>(nullptr)}) {
    FUSION c;
    c.init(s.design.action_point(), netlist);
    EXPECT_EQ(7u, c.m_hierarchies.size());
    EXPECT_EQ(0u, c.m_atom_hier_hash.m_count + c.m_oterm_hier_hash.m_count);
    EXPECT_EQ(0, c.m_atom_counter + c.m_oterm_counter);
  }
}

// --- Queries -------------------------------------------------------------------------

TEST_F(ZemaFusionTest, RootNodeHasAnEmptyFullNameEitherWay) {
  zema_test::SAMPLE_DESIGN s;
  CDB_ATOM_NODE* atom = s.design.add_atom(CDB_ATOM_COMB, s.root);
  CDB_ATOM_NODE* leaf_atom = s.design.add_atom(CDB_ATOM_COMB, s.reg_lower);
  FUSION c;
  c.init(s.design.action_point(), s.design.netlist());
  EXPECT_EQ("", unit_of(c, atom));
  EXPECT_EQ("", full_of(c, atom, false));
  EXPECT_EQ("", full_of(c, atom, true));
  EXPECT_EQ("\\acpu/reg", full_of(c, leaf_atom, false));
  EXPECT_EQ("acpu/reg", full_of(c, leaf_atom, true));
}

TEST_F(ZemaFusionTest, UnknownObjectsGiveFalseAndNullOnesAreReported) {
  NETLIST_EXAMPLE x;
  zema_host::DESIGN other;
  CDB_ATOM_NODE* stranger = other.add_atom(CDB_ATOM_LUT, other.add_free_name("s", 77));
  CDB_ATOM_OTERM* stranger_out = other.add_oterm(stranger, other.add_free_name("t", 78));
  FUSION c;
  c.init(x.d.action_point(), x.d.netlist());
  EXPECT_EQ("<none>", unit_of(c, stranger));
  EXPECT_EQ("<none>", full_of(c, stranger, true));
  EXPECT_EQ("<none>", unit_of(c, stranger_out));
  EXPECT_EQ("<none>", full_of(c, stranger_out, false));
  expect_reports({});

  CDB_ATOM_NODE* const no_atom = nullptr;
  CDB_ATOM_OTERM* const no_oterm = nullptr;
  EXPECT_EQ("<none>", unit_of(c, no_atom));
  EXPECT_EQ("<none>", full_of(c, no_atom, true));
  EXPECT_EQ("<none>", unit_of(c, no_oterm));
  EXPECT_EQ("<none>", full_of(c, no_oterm, false));
  expect_reports({"atom != 0", "atom != 0", "oterm != 0", "oterm != 0"});
}

TEST_F(ZemaFusionTest, ReverseLookupMatchesExactPathsOnly) {
  zema_test::SAMPLE_DESIGN s;
  FUSION c;
  static struct {
    char const* path;
    unsigned id;
  } const kCases[] = {
      {"acpu/areg_0", 5}, {"\\acpu/areg_0", 5}, {"acpu", 3},       {"\\a9x", 4},
      {"a9x_0", 2},       {"acpu/reg", 6},      {"", 0},           {"\\", 0},
      {"acpu/", 0},       {"acpu//areg", 0},    {"/acpu", 0},      {"\\\\acpu", 0},
      {"ACPU", 0},        {"a9x/acpu", 0},      {"acpu/a9x", 0},   {"areg", 0},
      {"acpu/areg/x", 0}, {"acp", 0},           {"acpu/areg_", 0},
  };
  for (bool built : {false, true, false}) {
    if (built) {
      c.init(s.design.action_point(), s.design.netlist());
    } else {
      c.clear();
    }
    for (auto const& k : kCases)
      EXPECT_EQ(built ? k.id : 0u, c.get_original_name_id(k.path)) << k.path;
  }
}

TEST_F(ZemaFusionTest, QueriesFindNothingBeforeInitAndAfterClear) {
  NETLIST_EXAMPLE x;
  FUSION c;
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ("<none>", unit_of(c, x.comb));
    EXPECT_EQ("<none>", full_of(c, x.ram, false));
    EXPECT_EQ("<none>", unit_of(c, x.ram_out));
    EXPECT_EQ("<none>", full_of(c, x.comb_out, true));
    EXPECT_EQ(0u, c.get_original_name_id("au1/aq"));
    EXPECT_EQ(0u, c.get_original_name_id(""));
    c.init(x.d.action_point(), x.d.netlist());
    EXPECT_EQ(12u, c.get_original_name_id("au1/aq"));
    c.clear();
  }
}

// --- Reported invariants -------------------------------------------------------------

TEST_F(ZemaFusionTest, BrokenInputsAreReportedAndTheConverterStaysUsable) {
  struct CASE {
    char const* what;
    void (*build)(zema_host::DESIGN&);
    std::vector<std::string> reports;
    std::vector<std::pair<char const*, unsigned>> lookups;
  };
  static CASE const kCases[] = {
      {"no root", [](zema_host::DESIGN&) {}, {"tree != 0"}, {{"", 0}}},
      {"named root",
       [](zema_host::DESIGN& d) { d.add_child(d.set_root("top", 1), "a", 2); },
       {"root_name[0] == '\\0'"},
       {{"a", 2}}},
      {"null child",
       [](zema_host::DESIGN& d) {
         HDB_INSTANCE_NAME const* root = d.set_root("", 1);
         d.add_child(root, "a", 2);
         d.add_null_child(root);
         d.add_null_child(d.add_child(root, "b", 3));
       },
       {"child != 0", "child != 0"},
       {{"a", 2}, {"b", 3}}},
      {"null atom",
       [](zema_host::DESIGN& d) {
         d.set_root("", 1);
         d.add_null_atom();
         d.add_atom(CDB_ATOM_LUT, d.add_free_name("l", 2));
       },
       {"atom != 0"},
       {{"lut0", 2}}},
      {"comb atom outside the hierarchy",
       [](zema_host::DESIGN& d) {
         d.set_root("", 1);
         d.add_oterm(d.add_atom(CDB_ATOM_COMB, d.add_free_name("c", 2)), d.add_free_name("o", 3));
       },
       {"hash_iter != this->m_hier_by_id_hash.end()"},
       {{"w0", 3}}},
      {"oterm outside the hierarchy",
       [](zema_host::DESIGN& d) {
         d.set_root("", 1);
         d.add_oterm(d.add_atom(CDB_ATOM_LUT, d.add_free_name("l", 2)), d.add_free_name("o", 3));
       },
       {"hash_iter != this->m_hier_by_id_hash.end()"},
       {{"lut0", 2}}},
      {"io atoms without ids",
       [](zema_host::DESIGN& d) {
         HDB_INSTANCE_NAME const* root = d.set_root("", 1);
         d.add_atom(CDB_ATOM_IO_IBUF, nullptr);
         d.add_atom(CDB_ATOM_PIN, d.add_child(root, "p", 0));
         d.add_oterm(d.add_atom(CDB_ATOM_IO_DDR, nullptr), d.add_child(root, "q", 3));
         d.add_atom(CDB_ATOM_LUT, d.add_free_name("l", 2));
       },
       {"HDB and CDB do not match!", "HDB and CDB do not match!", "HDB and CDB do not match!"},
       {{"lut0", 2}, {"q", 3}}},
      {"io atom outside the hierarchy",
       [](zema_host::DESIGN& d) {
         d.set_root("", 1);
         d.add_atom(CDB_ATOM_IO_IBUF, d.add_free_name("i", 2));
       },
       {"hash_iter != this->m_hier_by_id_hash.end()"},
       {}},
  };
  zema_test::SAMPLE_DESIGN s;
  for (CASE const& k : kCases) {
    SCOPED_TRACE(k.what);
    zema_host::DESIGN d;
    k.build(d);
    FUSION c;
    c.init(s.design.action_point(), s.design.netlist());
    c.init(d.action_point(), d.netlist());
    expect_reports(k.reports);
    for (auto const& lookup : k.lookups)
      EXPECT_EQ(lookup.second, c.get_original_name_id(lookup.first));
    if (c.m_root) expect_tree_invariants(c);
    c.clear();
    c.init(s.design.action_point(), s.design.netlist());
    EXPECT_EQ(5u, c.get_original_name_id("acpu/areg_0"));
  }
  FUSION c;
  c.init(nullptr, nullptr);
  expect_reports({"tree != 0"});
  EXPECT_EQ(nullptr, c.m_root);
  c.init(s.design.action_point(), s.design.netlist());
  PARENT const* const top = c.m_root->cast_to_parent();
  EXPECT_EQ(nullptr, c.makeup_atom_name(nullptr, top));
  EXPECT_EQ(nullptr, c.makeup_oterm_name(nullptr, top));
  expect_reports({"atom != 0", "oterm != 0"});
  EXPECT_EQ(0, c.m_atom_counter + c.m_oterm_counter);
}

TEST_F(ZemaFusionTest, InitAgainGivesIdenticalNames) {
  std::mt19937 rng(7);
  PLAN const plan = random_plan(rng);
  BUILT built(plan);
  FUSION c;
  c.init(built.design.action_point(), built.design.netlist());
  std::vector<std::string> const first = all_names(c, built);
  c.init(built.design.action_point(), built.design.netlist());
  EXPECT_EQ(first, all_names(c, built));
  c.clear();
  c.init(built.design.action_point(), built.design.netlist());
  EXPECT_EQ(first, all_names(c, built));
  EXPECT_EQ(std::count(first.begin(), first.end(), "<none>"), 0);
}

// --- Random designs, big shapes and allocation failures ---------------------------

TEST_F(ZemaFusionTest, RandomDesignsFollowTheNamingRulesInAnyChildOrder) {
  for (unsigned seed = 1; seed <= 40; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    PLAN const plan = random_plan(rng);
    MODEL const model(plan);
    BUILT plain(plan);
    BUILT shuffled(plan, &rng);
    for (BUILT* built : {&plain, &shuffled}) {
      FUSION c;
      c.init(built->design.action_point(), built->design.netlist());
      expect_reports({});
      expect_matches_model(c, plan, *built, model);
      expect_tree_invariants(c);
      for (std::size_t i = 1; i < plan.instances.size(); ++i) {
        std::string const path = model.full(plan.instances[i].id);
        EXPECT_EQ(plan.instances[i].id, c.get_original_name_id(path.c_str())) << path;
        EXPECT_EQ(plan.instances[i].id, c.get_original_name_id(("\\" + path).c_str())) << path;
      }
      for (std::size_t i = 0; i < plan.atoms.size(); ++i) {
        EXPECT_EQ(plan.atoms[i].name_id, c.get_original_name_id(model.atom_full[i].c_str()));
      }
    }
  }
}

TEST_F(ZemaFusionTest, DeepChainIsCapturedAndNamedToTheBottom) {
  PLAN plan;
  int bottom = 0;
  for (int level = 0; level < 5000; ++level) bottom = plan.add(bottom, level % 2 ? "N" : "n");
  unsigned const bottom_id = plan.instances[bottom].id;
  plan.atoms.push_back({CDB_ATOM_COMB, bottom_id, {plan.add_free()}});
  plan.atoms.push_back({CDB_ATOM_LUT, plan.add_free(), {bottom_id}});
  BUILT built(plan);
  MODEL const model(plan);
  FUSION c;
  c.init(built.design.action_point(), built.design.netlist());
  expect_matches_model(c, plan, built, model);
  expect_tree_invariants(c);
  std::string const path = model.full(bottom_id);
  EXPECT_EQ(5000u * 3 - 1 - 2500, path.size());
  EXPECT_EQ(bottom_id, c.get_original_name_id(path.c_str()));
  EXPECT_EQ(0u, c.get_original_name_id((path + "/n").c_str()));
}

TEST_F(ZemaFusionTest, WideRootWithManyTwinsGetsUniqueNames) {
  PLAN plan;
  for (int i = 0; i < 20000; ++i) {
    plan.add(0, i < 400 ? "" : (i % 3 ? "n" : "N") + std::to_string(i % 300));
  }
  plan.atoms.push_back({CDB_ATOM_LUT, plan.add_free(), {}});
  plan.atoms.push_back({CDB_ATOM_COMB, plan.instances[5].id, {plan.add_free(), plan.add_free()}});
  BUILT built(plan);
  MODEL const model(plan);
  FUSION c;
  c.init(built.design.action_point(), built.design.netlist());
  expect_matches_model(c, plan, built, model);
  expect_tree_invariants(c);
  EXPECT_EQ(20003u, c.m_root->cast_to_parent()->m_children.m_count);
  EXPECT_STREQ("a_398", node_of(c, plan.instances[400].id)->m_name);
  for (std::size_t i = 1; i < plan.instances.size(); i += 7) {
    EXPECT_EQ(plan.instances[i].id,
              c.get_original_name_id(model.full(plan.instances[i].id).c_str()));
  }
}

TEST_F(ZemaFusionTest, AllocationFailuresDuringInitLeakNothing) {
  PLAN plan;
  int const cpu = plan.add(0, "CPU");
  int const reg = plan.add(cpu, "Reg");
  plan.add(cpu, "reg");
  int const nine = plan.add(0, "9x");
  plan.atoms.push_back({CDB_ATOM_COMB, plan.instances[reg].id, {plan.add_free(), kNullEntry}});
  plan.atoms.push_back({CDB_ATOM_RAM, plan.add_free(), {plan.instances[reg].id}});
  plan.atoms.push_back({CDB_ATOM_IO_IBUF, plan.instances[nine].id, {}});
  BUILT built(plan);
  MODEL const model(plan);
  auto init = [&built](FUSION* c) { c->init(built.design.action_point(), built.design.netlist()); };

  // FRESH: construction and init both under fault. RETRY: a failed init on a
  // new converter, then a clean one. REBUILD: the same over an earlier tree.
  enum MODE { FRESH, RETRY, REBUILD };
  for (MODE mode : {FRESH, RETRY, REBUILD}) {
    SCOPED_TRACE(mode);
    bool done = false;
    for (long k = 0; !done && k < 5000; ++k) {
      SCOPED_TRACE(k);
      zema_host::MEM_STATS const before = zema_host::mem_module_stats("ZEMA");
      {
        std::unique_ptr<FUSION> c;
        if (mode != FRESH) c.reset(new FUSION());
        if (mode == REBUILD) init(c.get());
        zema_host::mem_fail_after(k);
        try {
          if (mode == FRESH) c.reset(new FUSION());
          init(c.get());
          done = true;
        } catch (std::bad_alloc const&) {
        }
        zema_host::mem_fail_after(-1);
        // Whatever step failed, the next init starts clean.
        if (!done && mode != FRESH) init(c.get());
        if (done || mode != FRESH) expect_matches_model(*c, plan, built, model);
      }
      EXPECT_EQ(before.live_blocks, zema_host::mem_module_stats("ZEMA").live_blocks);
      EXPECT_EQ(before.live_bytes, zema_host::mem_module_stats("ZEMA").live_bytes);
    }
    EXPECT_TRUE(done);
  }
}

}  // namespace
