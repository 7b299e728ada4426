// Tests of the reversible converter through the host's call log: which naming
// function each query calls and with which arguments, the queries that fail
// without calling anything, reverse lookup below the action point's root, and
// a randomized round trip from full names back to instance-name ids.
#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "host/zema_host.h"
#include "tests/test_support.h"

namespace {

using CALLS = std::vector<std::string>;

char const kUnit[] = "hdb_convert_unit_name_to_vexa";
char const kCell[] = "hdb_convert_cell_name_to_vexa";
char const kNet[] = "hdb_convert_net_name_to_vexa";
char const kPin[] = "hdb_convert_pin_name_to_vexa";
char const kRevert[] = "hdb_revert_vexa_full_name";
char const kFind[] = "find_in_descendants";

std::string text_of(GEN_STRING const& s) { return std::string(s.data(), s.size()); }

// One call as the log records it: "function(text,type,flag1,flag2)".
std::string call(std::string const& function, std::string const& text, int type = -1,
                 bool flag1 = false, bool flag2 = false) {
  return function + "(" + text + "," + std::to_string(type) + "," + (flag1 ? "1" : "0") + "," +
         (flag2 ? "1" : "0") + ")";
}

class ZemaReversibleTest : public zema_test::TrackedTest {
 protected:
  void SetUp() override {
    TrackedTest::SetUp();
    m_converter = new ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL();
    zema_host::clear_call_log();
    zema_host::set_call_log(true);
  }
  // The converter goes before the memory check; its scratch path is tracked.
  void TearDown() override {
    zema_host::set_call_log(false);
    zema_host::clear_call_log();
    delete m_converter;
    m_converter = nullptr;
    TrackedTest::TearDown();
  }

  void init() { m_converter->init(m_sample.design.action_point(), m_sample.design.netlist()); }

  // The calls logged since the last call, then forgets them.
  static CALLS take_calls() {
    CALLS calls;
    for (zema_host::HOST_CALL const& c : zema_host::call_log()) {
      calls.push_back(call(c.function, c.text, c.type, c.flag1, c.flag2));
    }
    zema_host::clear_call_log();
    return calls;
  }

  // Expects the full-name queries (and the unit-name query when asked) of
  // `object` to fail, leave the output alone and call no naming function.
  template <class OBJECT>
  void expect_no_name(OBJECT* object, bool unit_query_fails) {
    GEN_STRING out("stale");
    if (unit_query_fails) {
      EXPECT_FALSE(m_converter->get_converted_unit_name(&out, object));
    }
    EXPECT_FALSE(m_converter->get_converted_full_name(&out, object, false));
    EXPECT_FALSE(m_converter->get_converted_full_name(&out, object, true));
    EXPECT_EQ("stale", text_of(out));
    EXPECT_EQ(CALLS{}, take_calls());
  }

  zema_test::SAMPLE_DESIGN m_sample;
  zema_host::DESIGN& m_design = m_sample.design;
  ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL* m_converter = nullptr;
};

TEST_F(ZemaReversibleTest, UnitNameIsTheInstanceUnitNameAsOneSegment) {
  struct CASE {
    char const* unit_name;
    char const* converted;
  } const cases[] = {
      {"Reg", "_52eg"}, {"a/b", "a_2fb"}, {"x_y", "x__y"}, {"", ""}, {"\xc3\xa9\\", "_c3_a9_5c"},
  };
  unsigned id = 100;
  for (CASE const& c : cases) {
    SCOPED_TRACE(c.unit_name);
    HDB_INSTANCE_NAME const* const name = m_design.add_free_name(c.unit_name, ++id);
    CDB_ATOM_NODE* const atom = m_design.add_atom(CDB_ATOM_LUT, name);
    CDB_ATOM_OTERM* const oterms[] = {m_design.add_oterm(atom, name),
                                      m_design.add_orphan_oterm(name)};
    GEN_STRING out("stale");
    EXPECT_TRUE(m_converter->get_converted_unit_name(&out, atom));
    EXPECT_EQ(c.converted, text_of(out));
    for (CDB_ATOM_OTERM* oterm : oterms) {
      out = "stale";
      EXPECT_TRUE(m_converter->get_converted_unit_name(&out, oterm));
      EXPECT_EQ(c.converted, text_of(out));
    }
    EXPECT_EQ(CALLS(3, call(kUnit, c.unit_name)), take_calls());
  }
}

TEST_F(ZemaReversibleTest, AtomFullNameConvertsTheUnambiguousPathAsACellOfItsType) {
  HDB_INSTANCE_NAME const* const twin = m_design.add_child(m_sample.cpu, "Reg", 8);
  std::pair<HDB_INSTANCE_NAME const*, char const*> const names[] = {
      {m_sample.reg_mixed, "CPU/Reg"},
      {twin, "CPU/Reg\\#1"},
      {m_design.add_child(twin, "q", 9), "CPU/Reg\\#1/q"},
      {m_design.add_child(m_sample.cpu, "a/b", 10), "CPU/a\\/b"},
      {m_design.add_child(m_sample.cpu, "", 11), "CPU/\\."},
      {m_sample.nine_x, "9x"},
  };
  for (CDB_ATOM_BASIC_TYPE type : {CDB_ATOM_LUT, CDB_ATOM_COMB, CDB_ATOM_PIN, CDB_ATOM_IO_OBUF}) {
    for (auto const& name : names) {
      CDB_ATOM_NODE* const atom = m_design.add_atom(type, name.first);
      for (bool flag : {false, true}) {
        SCOPED_TRACE(std::string(name.second) + " type " + std::to_string(type) +
                     (flag ? " without backslash" : ""));
        GEN_STRING out("stale");
        EXPECT_TRUE(m_converter->get_converted_full_name(&out, atom, flag));
        EXPECT_EQ(CALLS{call(kCell, name.second, type, flag)}, take_calls());
        EXPECT_NE("stale", text_of(out));
      }
    }
  }
}

TEST_F(ZemaReversibleTest, OtermFullNameUsesThePinFunctionOnlyUnderAPinAtom) {
  std::pair<CDB_ATOM_BASIC_TYPE, char const*> const cases[] = {
      {CDB_ATOM_PIN, kPin},     {CDB_ATOM_IO_OBUF, kNet}, {CDB_ATOM_IO_DDR, kNet},
      {CDB_ATOM_IO_IBUF, kNet}, {CDB_ATOM_COMB, kNet},    {CDB_ATOM_NONE, kNet},
  };
  for (auto const& c : cases) {
    // The atom's own name plays no part.
    CDB_ATOM_NODE* const atom = m_design.add_atom(c.first, nullptr);
    CDB_ATOM_OTERM* const oterm = m_design.add_oterm(atom, m_sample.reg_upper);
    for (bool flag : {false, true}) {
      SCOPED_TRACE("type " + std::to_string(c.first) + (flag ? " without backslash" : ""));
      GEN_STRING out("stale");
      EXPECT_TRUE(m_converter->get_converted_full_name(&out, oterm, flag));
      EXPECT_EQ(CALLS{call(c.second, "CPU/REG", -1, flag)}, take_calls());
      EXPECT_EQ(flag ? "_43_50_55/_52_45_47" : "\\_43_50_55/_52_45_47", text_of(out));
    }
  }
}

TEST_F(ZemaReversibleTest, QueriesWithoutNameOrAtomFailWithoutCallingTheHost) {
  CDB_ATOM_NODE* const named_atom = m_design.add_atom(CDB_ATOM_PIN, m_sample.cpu);
  init();
  expect_no_name(m_design.add_atom(CDB_ATOM_COMB, nullptr), true);
  expect_no_name(m_design.add_oterm(named_atom, nullptr), true);
  expect_no_name(m_design.add_orphan_oterm(nullptr), true);
  expect_no_name(m_design.add_orphan_oterm(m_sample.reg_lower), false);  // no atom, no full name
}

TEST_F(ZemaReversibleTest, NullAtomOrOtermIsReported) {
  init();
  expect_no_name(static_cast<CDB_ATOM_NODE*>(nullptr), true);
  expect_no_name(static_cast<CDB_ATOM_OTERM*>(nullptr), true);
  expect_reports({"atom != 0", "atom != 0", "atom != 0", "oterm != 0", "oterm != 0", "oterm != 0"});
}

TEST_F(ZemaReversibleTest, ReverseLookupRevertsThenSearchesBelowTheRoot) {
  init();
  struct CASE {
    char const* text;
    char const* path;  // what the search is asked for; null: the text does not revert
    unsigned id;
  } const cases[] = {
      {"\\_43_50_55/_52eg", "CPU/Reg", 5},
      {"_43_50_55/_52eg", "CPU/Reg", 5},
      {"_43_50_55/_52_45_47", "CPU/REG", 7},
      {"\\a9x", "a9x", 2},
      {"_43_50_55", "CPU", 3},
      {"\\9x", "9x", 4},
      {"\\nothing", "nothing", 0},
      {"_43_50_55/_52eg/x", "CPU/Reg/x", 0},  // below a leaf
      {"_52eg", "Reg", 0},                    // a grandchild is not a child
      {"\\", "", 0},                          // the root is no descendant
      {"", "", 0},
      {"CPU", nullptr, 0},  // outside the target alphabet
      {"_61", nullptr, 0},  // not the canonical text of any path
      {"a b", nullptr, 0},
      {"\\\\a9x", nullptr, 0},
      {"_00", nullptr, 0},
  };
  for (CASE const& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.id, m_converter->get_original_name_id(c.text));
    CALLS expected{call(kRevert, c.text)};
    if (c.path) expected.push_back(call(kFind, c.path, -1, true));
    EXPECT_EQ(expected, take_calls());
  }
}

TEST_F(ZemaReversibleTest, ReverseLookupWithoutActionPointOrRootGivesZero) {
  zema_host::DESIGN rootless;
  std::function<void()> const states[] = {
      [] {},  // never initialised
      [&] {
        init();
        m_converter->clear();
      },
      [&] { m_converter->init(nullptr, nullptr); },
      [&] { m_converter->init(rootless.action_point(), rootless.netlist()); },
  };
  int index = 0;
  for (auto const& enter_state : states) {
    SCOPED_TRACE(index++);
    enter_state();
    take_calls();
    EXPECT_EQ(0u, m_converter->get_original_name_id("\\_43_50_55/_52eg"));
    for (zema_host::HOST_CALL const& c : zema_host::call_log()) EXPECT_NE(kFind, c.function);
  }
}

TEST_F(ZemaReversibleTest, ConversionsNeedNoInitAndNothingIsCached) {
  CDB_ATOM_NODE* const atom = m_design.add_atom(CDB_ATOM_PIN, m_sample.reg_mixed);
  CDB_ATOM_OTERM* const oterm = m_design.add_oterm(atom, m_sample.reg_lower);
  std::pair<std::function<bool(GEN_STRING*)>, std::string> const queries[] = {
      {[&](GEN_STRING* out) { return m_converter->get_converted_unit_name(out, atom); },
       call(kUnit, "Reg")},
      {[&](GEN_STRING* out) { return m_converter->get_converted_full_name(out, atom, true); },
       call(kCell, "CPU/Reg", CDB_ATOM_PIN, true)},
      {[&](GEN_STRING* out) { return m_converter->get_converted_unit_name(out, oterm); },
       call(kUnit, "reg")},
      {[&](GEN_STRING* out) { return m_converter->get_converted_full_name(out, oterm, false); },
       call(kPin, "CPU/reg")},
  };
  std::string const outputs[] = {"_52eg", "_43_50_55/_52eg", "reg", "\\_43_50_55/reg"};
  for (int phase = 0; phase < 3; ++phase) {
    SCOPED_TRACE(phase == 0 ? "before init" : phase == 1 ? "after init" : "after clear");
    if (phase == 1) init();
    if (phase == 2) m_converter->clear();
    take_calls();
    for (std::size_t i = 0; i < std::size(queries); ++i) {
      for (int repeat = 0; repeat < 2; ++repeat) {
        GEN_STRING out("stale");
        EXPECT_TRUE(queries[i].first(&out));
        EXPECT_EQ(outputs[i], text_of(out));
      }
      EXPECT_EQ(CALLS(2, queries[i].second), take_calls());
    }
  }
  init();
  EXPECT_EQ(5u, m_converter->get_original_name_id("_43_50_55/_52eg"));
  EXPECT_EQ(5u, m_converter->get_original_name_id("_43_50_55/_52eg"));
  CALLS const once{call(kRevert, "_43_50_55/_52eg"), call(kFind, "CPU/Reg", -1, true)};
  CALLS twice = once;
  twice.insert(twice.end(), once.begin(), once.end());
  EXPECT_EQ(twice, take_calls());
}

// Every instance of a design full of awkward names (escapes, empty names,
// twins, bytes from 0x80, nesting below twins), named by an atom or an oterm,
// converts to a full name that looks up its own id again, with and without
// the backslash. Every naming call keeps to the argument rules on the way.
TEST_F(ZemaReversibleTest, EveryFullNameRevertsToItsInstanceId) {
  std::vector<std::pair<HDB_INSTANCE_NAME const*, unsigned>> instances = {
      {m_sample.a9x, 2},       {m_sample.cpu, 3},       {m_sample.reg_mixed, 5},
      {m_sample.reg_lower, 6}, {m_sample.reg_upper, 7}, {m_sample.nine_x, 4},
  };
  unsigned next_id = 100;
  auto add = [&](HDB_INSTANCE_NAME const* parent, char const* unit_name) {
    instances.push_back({m_design.add_child(parent, unit_name, next_id), next_id});
    ++next_id;
    return instances.back().first;
  };
  for (char const* unit_name : {"Reg", "Reg", "", "", "a/b", "a\\b", "\\", "/", "\\#1", "\\.", "#1",
                                "_", "__x", "\x80\xff", "\xc3\xa4 ~"}) {
    add(m_sample.cpu, unit_name);
  }
  add(add(instances[7].first, ""), "Reg");  // below a twin "Reg"
  char const alphabet[] = "aZ/\\_#.1 \x80\xff";
  std::mt19937 rng(20240607);
  for (int n = 0; n < 300; ++n) {
    std::string unit_name;
    for (int length = rng() % 4; length > 0; --length) {
      unit_name.push_back(alphabet[rng() % (sizeof alphabet - 1)]);
    }
    std::size_t const parent = rng() % (instances.size() + 1);
    add(parent == instances.size() ? m_sample.root : instances[parent].first, unit_name.c_str());
  }

  CDB_ATOM_BASIC_TYPE const types[] = {CDB_ATOM_COMB, CDB_ATOM_PIN, CDB_ATOM_LUT, CDB_ATOM_IO_OBUF};
  std::vector<std::pair<CDB_ATOM_NODE*, CDB_ATOM_OTERM*>> named;
  for (std::size_t i = 0; i < instances.size(); ++i) {
    CDB_ATOM_NODE* const atom = m_design.add_atom(types[i % std::size(types)], instances[i].first);
    named.push_back({atom, m_design.add_oterm(atom, instances[i].first)});
  }
  init();

  for (bool flag : {false, true}) {
    take_calls();
    for (std::size_t i = 0; i < instances.size(); ++i) {
      GEN_STRING full;
      ASSERT_TRUE(m_converter->get_converted_full_name(&full, named[i].first, flag));
      EXPECT_EQ(instances[i].second, m_converter->get_original_name_id(full.c_str()))
          << text_of(full);
      ASSERT_TRUE(m_converter->get_converted_full_name(&full, named[i].second, flag));
      EXPECT_EQ(instances[i].second, m_converter->get_original_name_id(full.c_str()))
          << text_of(full);
    }
    for (zema_host::HOST_CALL const& c : zema_host::call_log()) {
      bool const takes_flag = c.function == kCell || c.function == kNet || c.function == kPin;
      EXPECT_EQ(c.function == kFind || (takes_flag && flag), c.flag1) << c.function;
      EXPECT_FALSE(c.flag2) << c.function;
    }
  }
}

}  // namespace
