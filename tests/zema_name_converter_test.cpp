// Tests of the facade ZEMA_NAME_CONVERTER: which strategy each type creates,
// the harmless facade an unknown type leaves, ownership and tracking of the
// strategy, the initialising debug message, unchanged forwarding of every
// query, and both strategies end to end on the shared sample design.
#include "atm/zema/zema_name_converter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/zema_host.h"
#include "tests/test_support.h"

namespace {

using zema_test::SAMPLE_DESIGN;

// Types are kept as int and cast only where a facade is built: the enum's
// values are 0 and 1, and loading a 2 from an enum object is undefined (the
// sanitizer build rejects it).
int const kUnknownType = 2;
int const kAllTypes[] = {ZEMA_NAME_CONVERTER_FUSION, ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE,
                         kUnknownType};

ZEMA_NAME_CONVERTER_ENUM as_type(int type) { return static_cast<ZEMA_NAME_CONVERTER_ENUM>(type); }

std::string text_of(GEN_STRING const& s) { return std::string(s.data(), s.size()); }

// What the module "ZEMA" holds beyond `start`.
zema_host::MEM_STATS held_since(zema_host::MEM_STATS const& start) {
  zema_host::MEM_STATS const now = zema_host::mem_module_stats("ZEMA");
  return {now.live_bytes - start.live_bytes, now.live_blocks - start.live_blocks,
          now.total_blocks - start.total_blocks};
}

class ZemaFacadeTest : public zema_test::TrackedTest {
 protected:
  void SetUp() override {
    TrackedTest::SetUp();
    zema_host::set_debug_output(false);
    zema_host::clear_debug_lines();
  }
  void TearDown() override {
    zema_host::set_debug_output(false);
    zema_host::clear_debug_lines();
    TrackedTest::TearDown();
  }

  static std::vector<std::string> take_reports() {
    std::vector<std::string> conditions;
    for (zema_host::INTERNAL_ERROR const& report : zema_host::internal_errors()) {
      conditions.push_back(report.condition);
    }
    zema_host::clear_internal_errors();
    return conditions;
  }

  // Runs one query through the facade and through a strategy built directly
  // and expects the same result, output and reports. Successful outputs are
  // kept as inputs for reverse lookup.
  template <class QUERY>
  void expect_forwarded(ZEMA_NAME_CONVERTER& facade, ZEMA_NAME_CONVERTER_IMPL& direct,
                        QUERY const& query) {
    GEN_STRING via_facade("stale"), via_direct("stale");
    bool const facade_result = query(facade, &via_facade);
    std::vector<std::string> const facade_reports = take_reports();
    bool const direct_result = query(direct, &via_direct);
    EXPECT_EQ(take_reports(), facade_reports);
    EXPECT_EQ(direct_result, facade_result);
    EXPECT_EQ(text_of(via_direct), text_of(via_facade));
    if (direct_result) m_outputs.push_back(text_of(via_direct));
    ++(direct_result ? m_true_results : m_false_results);
  }

  std::vector<std::string> m_outputs;
  int m_true_results = 0;
  int m_false_results = 0;
};

TEST_F(ZemaFacadeTest, EachTypeCreatesItsStrategy) {
  ZEMA_NAME_CONVERTER fusion(ZEMA_NAME_CONVERTER_FUSION);
  ZEMA_NAME_CONVERTER reversible(ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE);
  EXPECT_NE(nullptr, dynamic_cast<ZEMA_NAME_CONVERTER_FUSION_IMPL*>(fusion.m_impl));
  EXPECT_NE(nullptr, dynamic_cast<ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL*>(reversible.m_impl));
  EXPECT_EQ(nullptr, dynamic_cast<ZEMA_NAME_CONVERTER_FUSION_IMPL*>(reversible.m_impl));
}

TEST_F(ZemaFacadeTest, UnknownTypeIsReportedAndLeavesEveryCallHarmless) {
  SAMPLE_DESIGN sample;
  CDB_ATOM_NODE* const atom = sample.design.add_atom(CDB_ATOM_COMB, sample.reg_mixed);
  CDB_ATOM_OTERM* const oterm = sample.design.add_oterm(atom, sample.reg_lower);
  zema_host::MEM_STATS const start = zema_host::mem_module_stats("ZEMA");
  {
    ZEMA_NAME_CONVERTER facade(as_type(kUnknownType));
    expect_reports({"No such converter type!"});
    EXPECT_EQ(nullptr, facade.m_impl);
    facade.init(sample.design.action_point(), sample.design.netlist());
    GEN_STRING out("stale");
    EXPECT_FALSE(facade.get_converted_unit_name(&out, atom));
    EXPECT_FALSE(facade.get_converted_unit_name(&out, oterm));
    EXPECT_FALSE(facade.get_converted_full_name(&out, atom, false));
    EXPECT_FALSE(facade.get_converted_full_name(&out, oterm, true));
    EXPECT_FALSE(facade.get_converted_unit_name(&out, static_cast<CDB_ATOM_NODE*>(nullptr)));
    EXPECT_EQ("stale", text_of(out));
    EXPECT_EQ(0u, facade.get_original_name_id("\\_43_50_55/_52eg"));
    EXPECT_EQ(0u, facade.get_original_name_id("acpu/areg_0"));
    facade.clear();
    EXPECT_EQ(0u, facade.get_original_name_id("acpu/areg_0"));
  }
  EXPECT_EQ(0u, held_since(start).total_blocks);  // nothing allocated, nothing freed
}

TEST_F(ZemaFacadeTest, OwnsItsStrategyAndIsTrackedOnTheHeap) {
  for (int type : kAllTypes) {
    SCOPED_TRACE(type);
    zema_host::MEM_STATS const start = zema_host::mem_module_stats("ZEMA");
    std::unique_ptr<ZEMA_NAME_CONVERTER> facade(new ZEMA_NAME_CONVERTER(as_type(type)));
    zema_host::MEM_STATS const held = held_since(start);
    if (type == ZEMA_NAME_CONVERTER_FUSION) {
      EXPECT_GE(held.live_bytes,
                sizeof(ZEMA_NAME_CONVERTER) + sizeof(ZEMA_NAME_CONVERTER_FUSION_IMPL));
    } else if (type == ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE) {
      EXPECT_EQ(2u, held.live_blocks);
      EXPECT_EQ(sizeof(ZEMA_NAME_CONVERTER) + sizeof(ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL),
                held.live_bytes);
    } else {
      EXPECT_EQ(1u, held.live_blocks);
      EXPECT_EQ(sizeof(ZEMA_NAME_CONVERTER), held.live_bytes);
    }
    facade.reset();
    EXPECT_EQ(0u, held_since(start).live_blocks);
    EXPECT_EQ(0u, held_since(start).live_bytes);
  }
  expect_reports({"No such converter type!"});
}

TEST_F(ZemaFacadeTest, InitAnnouncesItselfEveryTimeThenInitialisesTheStrategy) {
  SAMPLE_DESIGN sample;
  zema_host::set_debug_output(true);
  for (int type : kAllTypes) {
    SCOPED_TRACE(type);
    zema_host::clear_debug_lines();
    ZEMA_NAME_CONVERTER facade(as_type(type));
    facade.init(sample.design.action_point(), sample.design.netlist());
    facade.init(sample.design.action_point(), sample.design.netlist());
    if (facade.m_impl) {
      EXPECT_EQ(sample.design.action_point(), facade.m_impl->m_action_point);
      EXPECT_EQ(sample.design.netlist(), facade.m_impl->m_netlist);
      facade.clear();
      EXPECT_EQ(nullptr, facade.m_impl->m_action_point);
      EXPECT_EQ(nullptr, facade.m_impl->m_netlist);
    } else {
      expect_reports({"No such converter type!"});
    }
    EXPECT_EQ(std::vector<std::string>(2, "ZEMA: Initializing..."), zema_host::debug_lines());
  }
}

TEST_F(ZemaFacadeTest, MsgDebugGivesWhetherTheHostPrinted) {
  EXPECT_FALSE(zema_msg_debug("value %d", 7));
  EXPECT_TRUE(zema_host::debug_lines().empty());
  zema_host::set_debug_output(true);
  EXPECT_TRUE(zema_msg_debug("value %d of %s", 7, "x"));
  EXPECT_EQ(std::vector<std::string>{"ZEMA: value 7 of x"}, zema_host::debug_lines());
}

TEST_F(ZemaFacadeTest, ForwardsEveryQueryUnchanged) {
  SAMPLE_DESIGN sample;
  zema_host::DESIGN& d = sample.design;
  CDB_ATOM_NODE* const comb = d.add_atom(CDB_ATOM_COMB, sample.reg_mixed);
  CDB_ATOM_NODE* const lut = d.add_atom(CDB_ATOM_LUT, sample.a9x);
  CDB_ATOM_NODE* const pin = d.add_atom(CDB_ATOM_PIN, sample.reg_upper);
  CDB_ATOM_NODE* const unnamed = d.add_atom(CDB_ATOM_DFF, nullptr);
  CDB_ATOM_NODE* const atoms[] = {comb, lut, pin, unnamed, nullptr};
  CDB_ATOM_OTERM* const oterms[] = {d.add_oterm(comb, d.add_free_name("w", 20)),
                                    d.add_oterm(lut, sample.nine_x),
                                    d.add_oterm(pin, sample.reg_lower),
                                    d.add_oterm(unnamed, nullptr),
                                    d.add_orphan_oterm(sample.cpu),
                                    nullptr};

  for (ZEMA_NAME_CONVERTER_ENUM type :
       {ZEMA_NAME_CONVERTER_FUSION, ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE}) {
    SCOPED_TRACE(static_cast<int>(type));
    ZEMA_NAME_CONVERTER facade(type);
    std::unique_ptr<ZEMA_NAME_CONVERTER_IMPL> direct;
    if (type == ZEMA_NAME_CONVERTER_FUSION) {
      direct.reset(new ZEMA_NAME_CONVERTER_FUSION_IMPL());
    } else {
      direct.reset(new ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL());
    }
    facade.init(d.action_point(), d.netlist());
    direct->init(d.action_point(), d.netlist());
    take_reports();  // the unnamed oterm breaks an invariant of the fusion tree

    m_outputs = {"", "\\", "nothing", "acpu/", "CPU", "_43_50_55"};
    auto const check_all_queries = [&](auto* object) {
      expect_forwarded(facade, *direct, [&](auto& converter, GEN_STRING* out) {
        return converter.get_converted_unit_name(out, object);
      });
      for (bool flag : {false, true}) {
        expect_forwarded(facade, *direct, [&](auto& converter, GEN_STRING* out) {
          return converter.get_converted_full_name(out, object, flag);
        });
      }
    };
    for (CDB_ATOM_NODE* atom : atoms) check_all_queries(atom);
    for (CDB_ATOM_OTERM* oterm : oterms) check_all_queries(oterm);
    for (std::string const& text : std::vector<std::string>(m_outputs)) {
      unsigned const via_facade = facade.get_original_name_id(text.c_str());
      EXPECT_EQ(direct->get_original_name_id(text.c_str()), via_facade) << text;
      ++(via_facade != 0 ? m_true_results : m_false_results);
    }
  }
  // Both outcomes were exercised, each many times.
  EXPECT_GT(m_true_results, 20);
  EXPECT_GT(m_false_results, 20);
}

TEST_F(ZemaFacadeTest, BothStrategiesNameAndRevertTheSampleDesign) {
  using NAME = HDB_INSTANCE_NAME const* SAMPLE_DESIGN::*;
  struct CASE {
    ZEMA_NAME_CONVERTER_ENUM strategy;
    CDB_ATOM_BASIC_TYPE atom_type;
    NAME atom_name;
    NAME oterm_name;  // null: the atom is queried, else its one oterm
    char const* unit;
    char const* full;  // with the backslash
    unsigned id;
  } const cases[] = {
      {ZEMA_NAME_CONVERTER_FUSION, CDB_ATOM_COMB, &SAMPLE_DESIGN::reg_mixed, nullptr, "areg_0",
       "\\acpu/areg_0", 5},
      {ZEMA_NAME_CONVERTER_FUSION, CDB_ATOM_COMB, &SAMPLE_DESIGN::reg_lower, nullptr, "reg",
       "\\acpu/reg", 6},
      {ZEMA_NAME_CONVERTER_FUSION, CDB_ATOM_LUT, &SAMPLE_DESIGN::a9x, nullptr, "lut0", "\\lut0", 2},
      {ZEMA_NAME_CONVERTER_FUSION, CDB_ATOM_IO_IBUF, &SAMPLE_DESIGN::cpu, nullptr, "io_ibuf_acpu",
       "\\io_ibuf_acpu", 3},
      {ZEMA_NAME_CONVERTER_FUSION, CDB_ATOM_LUT, &SAMPLE_DESIGN::a9x, &SAMPLE_DESIGN::nine_x, "a9x",
       "\\a9x", 4},
      {ZEMA_NAME_CONVERTER_FUSION, CDB_ATOM_COMB, &SAMPLE_DESIGN::reg_mixed,
       &SAMPLE_DESIGN::reg_upper, "w0", "\\w0", 7},
      {ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE, CDB_ATOM_COMB, &SAMPLE_DESIGN::reg_mixed, nullptr,
       "_52eg", "\\_43_50_55/_52eg", 5},
      {ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE, CDB_ATOM_LUT, &SAMPLE_DESIGN::a9x, nullptr, "a9x",
       "\\a9x", 2},
      {ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE, CDB_ATOM_PIN, &SAMPLE_DESIGN::cpu,
       &SAMPLE_DESIGN::reg_upper, "_52_45_47", "\\_43_50_55/_52_45_47", 7},
      {ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE, CDB_ATOM_LUT, &SAMPLE_DESIGN::a9x,
       &SAMPLE_DESIGN::nine_x, "9x", "\\9x", 4},
  };
  for (CASE const& c : cases) {
    SCOPED_TRACE(c.full);
    SAMPLE_DESIGN sample;
    CDB_ATOM_NODE* const atom = sample.design.add_atom(c.atom_type, sample.*c.atom_name);
    CDB_ATOM_OTERM* const oterm =
        c.oterm_name ? sample.design.add_oterm(atom, sample.*c.oterm_name) : nullptr;
    ZEMA_NAME_CONVERTER facade(c.strategy);
    facade.init(sample.design.action_point(), sample.design.netlist());

    GEN_STRING unit, full, bare;
    if (oterm) {
      EXPECT_TRUE(facade.get_converted_unit_name(&unit, oterm));
      EXPECT_TRUE(facade.get_converted_full_name(&full, oterm, false));
      EXPECT_TRUE(facade.get_converted_full_name(&bare, oterm, true));
    } else {
      EXPECT_TRUE(facade.get_converted_unit_name(&unit, atom));
      EXPECT_TRUE(facade.get_converted_full_name(&full, atom, false));
      EXPECT_TRUE(facade.get_converted_full_name(&bare, atom, true));
    }
    EXPECT_EQ(c.unit, text_of(unit));
    EXPECT_EQ(c.full, text_of(full));
    EXPECT_EQ(c.full + 1, text_of(bare));
    EXPECT_EQ(c.id, facade.get_original_name_id(c.full));
    EXPECT_EQ(c.id, facade.get_original_name_id(c.full + 1));
    facade.clear();
    EXPECT_EQ(0u, facade.get_original_name_id(c.full));
  }
}

}  // namespace
