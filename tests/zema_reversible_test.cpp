// Tests of the reversible converter through the host's call log: which naming
// function each query calls and with which arguments, the queries that fail
// without calling anything, reverse lookup below the action point's root, and
// a randomized round trip from full names back to instance-name ids.
#include <gtest/gtest.h>

#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "h/hdb_vexa_sys.h"
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
  return function + "(" + text + "," + std::to_string(type) + "," + std::to_string(flag1) +
         std::to_string(flag2) + ")";
}

class ZemaReversibleTest : public zema_test::TrackedTest {
 protected:
  void SetUp() override {
    TrackedTest::SetUp();
    m_converter.reset(new ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL());
    zema_host::clear_call_log();
    zema_host::set_call_log(true);
  }
  // The converter goes before the memory check; its scratch path is tracked.
  void TearDown() override {
    zema_host::set_call_log(false);
    zema_host::clear_call_log();
    m_converter.reset();
    TrackedTest::TearDown();
  }

  void init() { m_converter->init(m_design.action_point(), m_design.netlist()); }

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
    EXPECT_FALSE(unit_query_fails && m_converter->get_converted_unit_name(&out, object));
    EXPECT_FALSE(m_converter->get_converted_full_name(&out, object, false));
    EXPECT_FALSE(m_converter->get_converted_full_name(&out, object, true));
    EXPECT_EQ("stale", text_of(out));
    EXPECT_EQ(CALLS{}, take_calls());
  }

  zema_test::SAMPLE_DESIGN m_sample;
  zema_host::DESIGN& m_design = m_sample.design;
  std::unique_ptr<ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL> m_converter;
};

// Without init: unit names go to the unit function as one segment; full names
// take the unambiguous path, of an atom to the cell function with its type, of
// an oterm to the pin function under a pin atom and the net function otherwise.
TEST_F(ZemaReversibleTest, EachQueryCallsItsNamingFunctionAndGivesItsText) {
  HDB_INSTANCE_NAME const* const twin = m_design.add_child(m_sample.cpu, "Reg", 8);
  std::pair<HDB_INSTANCE_NAME const*, char const*> const names[] = {
      {m_sample.reg_mixed, "CPU/Reg"},
      {twin, "CPU/Reg\\#1"},
      {m_design.add_child(twin, "q", 9), "CPU/Reg\\#1/q"},
      {m_design.add_child(m_sample.cpu, "a/b", 10), "CPU/a\\/b"},
      {m_design.add_child(m_sample.cpu, "", 11), "CPU/\\."},
      {m_sample.nine_x, "9x"},
  };
  for (CDB_ATOM_BASIC_TYPE type :
       {CDB_ATOM_LUT, CDB_ATOM_COMB, CDB_ATOM_PIN, CDB_ATOM_IO_OBUF, CDB_ATOM_NONE}) {
    for (auto const& name : names) {
      CDB_ATOM_NODE* const atom = m_design.add_atom(type, name.first);
      CDB_ATOM_OTERM* const oterm = m_design.add_oterm(atom, name.first);
      char const* const unit = name.first->get_unit_name().get_string();
      for (bool flag : {false, true}) {
        SCOPED_TRACE(std::string(name.second) + " flag " + std::to_string(flag));
        GEN_STRING outs[4] = {"stale", "stale", "stale", "stale"};
        EXPECT_TRUE(m_converter->get_converted_full_name(&outs[0], atom, flag));
        EXPECT_TRUE(m_converter->get_converted_full_name(&outs[1], oterm, flag));
        EXPECT_TRUE(m_converter->get_converted_unit_name(&outs[2], atom));
        EXPECT_TRUE(m_converter->get_converted_unit_name(&outs[3], oterm));
        EXPECT_EQ((CALLS{call(kCell, name.second, type, flag),
                         call(type == CDB_ATOM_PIN ? kPin : kNet, name.second, -1, flag),
                         call(kUnit, unit), call(kUnit, unit)}),
                  take_calls());
        GEN_STRING full, unit_text;  // what the host gives for the path and the unit name
        hdb_convert_net_name_to_vexa(&full, name.second, flag, false);
        hdb_convert_unit_name_to_vexa(&unit_text, unit, false);
        zema_host::clear_call_log();
        EXPECT_EQ((CALLS{text_of(full), text_of(full), text_of(unit_text), text_of(unit_text)}),
                  (CALLS{text_of(outs[0]), text_of(outs[1]), text_of(outs[2]), text_of(outs[3])}));
      }
    }
  }
}

TEST_F(ZemaReversibleTest, QueriesWithoutNameOrAtomFailWithoutCallingTheHost) {
  init();
  expect_no_name(m_design.add_atom(CDB_ATOM_COMB, nullptr), true);
  expect_no_name(m_design.add_oterm(m_design.add_atom(CDB_ATOM_PIN, m_sample.cpu), nullptr), true);
  expect_no_name(m_design.add_orphan_oterm(nullptr), true);
  expect_no_name(m_design.add_orphan_oterm(m_sample.reg_lower), false);  // no atom, no full name
  expect_reports({});
  expect_no_name(static_cast<CDB_ATOM_NODE*>(nullptr), true);
  expect_no_name(static_cast<CDB_ATOM_OTERM*>(nullptr), true);
  expect_reports({"atom != 0", "atom != 0", "atom != 0", "oterm != 0", "oterm != 0", "oterm != 0"});
}

TEST_F(ZemaReversibleTest, ReverseLookupRevertsThenSearchesBelowTheRootIfThereIsOne) {
  zema_host::DESIGN rootless;
  auto const expect_no_search = [&] {
    EXPECT_EQ(0u, m_converter->get_original_name_id("\\_43_50_55/_52eg"));
    for (std::string const& c : take_calls()) EXPECT_NE(0u, c.rfind(kFind, 0)) << c;
  };
  expect_no_search();  // never initialised
  m_converter->init(nullptr, nullptr);
  expect_no_search();
  m_converter->init(rootless.action_point(), rootless.netlist());
  expect_no_search();
  init();
  struct CASE {
    char const* text;
    char const* path;  // what the search is asked for; null: the text does not revert
    unsigned id;
  } const cases[] = {
      {"\\_43_50_55/_52eg", "CPU/Reg", 5},
      {"_43_50_55/_52_45_47", "CPU/REG", 7},
      {"\\9x", "9x", 4},
      {"\\nothing", "nothing", 0},
      {"_43_50_55/_52eg/x", "CPU/Reg/x", 0},  // below a leaf
      {"_52eg", "Reg", 0},                    // a grandchild is not a child
      {"\\", "", 0},                          // the root is no descendant
      {"CPU", nullptr, 0},                    // outside the target alphabet
      {"_61", nullptr, 0},                    // not the canonical text of any path
  };
  for (CASE const& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(c.id, m_converter->get_original_name_id(c.text));
    CALLS expected{call(kRevert, c.text)};
    if (c.path) expected.push_back(call(kFind, c.path, -1, true));
    EXPECT_EQ(expected, take_calls());
  }
  m_converter->clear();
  expect_no_search();
}

// Every instance of a design full of awkward names (escapes, empty names,
// twins, bytes from 0x80, nesting below twins), named by an atom or an oterm,
// converts to a full name that looks up its own id again, with and without
// the backslash.
TEST_F(ZemaReversibleTest, EveryFullNameRevertsToItsInstanceId) {
  std::vector<std::pair<HDB_INSTANCE_NAME const*, unsigned>> instances = {
      {m_sample.a9x, 2},       {m_sample.cpu, 3},       {m_sample.reg_mixed, 5},
      {m_sample.reg_lower, 6}, {m_sample.reg_upper, 7}, {m_sample.nine_x, 4},
  };
  auto add = [&](HDB_INSTANCE_NAME const* parent, std::string const& unit_name) {
    unsigned const id = 100 + instances.size();
    instances.push_back({m_design.add_child(parent, unit_name.c_str(), id), id});
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
    std::string unit_name(rng() % 4, ' ');
    for (char& c : unit_name) c = alphabet[rng() % (sizeof alphabet - 1)];
    std::size_t const parent = rng() % (instances.size() + 1);
    add(parent == instances.size() ? m_sample.root : instances[parent].first, unit_name);
  }
  CDB_ATOM_BASIC_TYPE const types[] = {CDB_ATOM_COMB, CDB_ATOM_PIN, CDB_ATOM_LUT, CDB_ATOM_IO_OBUF};
  init();
  for (std::size_t i = 0; i < instances.size(); ++i) {
    CDB_ATOM_NODE* const atom = m_design.add_atom(types[i % std::size(types)], instances[i].first);
    CDB_ATOM_OTERM* const oterm = m_design.add_oterm(atom, instances[i].first);
    for (bool flag : {false, true}) {
      GEN_STRING full;
      ASSERT_TRUE(m_converter->get_converted_full_name(&full, atom, flag));
      EXPECT_EQ(instances[i].second, m_converter->get_original_name_id(full.c_str())) << full;
      ASSERT_TRUE(m_converter->get_converted_full_name(&full, oterm, flag));
      EXPECT_EQ(instances[i].second, m_converter->get_original_name_id(full.c_str())) << full;
    }
  }
}

}  // namespace
