// Tests of the facade ZEMA_NAME_CONVERTER: which strategy each type creates,
// ownership and tracking of the strategy, the initialising debug message, the
// harmless facade an unknown type leaves, and unchanged forwarding of every
// query to both strategies on the shared sample design.
#include "atm/zema/zema_name_converter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/zema_host.h"
#include "tests/test_support.h"

namespace {

using zema_test::SAMPLE_DESIGN;

int const kUnknownType = 2;

ZEMA_NAME_CONVERTER_ENUM as_type(int type) { return static_cast<ZEMA_NAME_CONVERTER_ENUM>(type); }

std::string text_of(GEN_STRING const& s) { return std::string(s.data(), s.size()); }

std::vector<std::string> take_reports() {
  std::vector<std::string> conditions;
  for (zema_host::INTERNAL_ERROR const& report : zema_host::internal_errors()) {
    conditions.push_back(report.condition);
  }
  zema_host::clear_internal_errors();
  return conditions;
}

class ZemaFacadeTest : public zema_test::TrackedTest {
 protected:
  void TearDown() override {
    zema_host::set_debug_output(false);
    zema_host::clear_debug_lines();
    TrackedTest::TearDown();
  }
};

TEST_F(ZemaFacadeTest, EachTypeCreatesOwnsAndInitialisesItsStrategy) {
  SAMPLE_DESIGN sample;
  zema_host::set_debug_output(true);
  for (int type : {0, 1, kUnknownType}) {
    SCOPED_TRACE(type);
    zema_host::clear_debug_lines();
    zema_host::MEM_STATS const start = zema_host::mem_module_stats("ZEMA");
    std::unique_ptr<ZEMA_NAME_CONVERTER> facade(new ZEMA_NAME_CONVERTER(as_type(type)));
    ZEMA_NAME_CONVERTER_IMPL* const impl = facade->m_impl;
    EXPECT_EQ(type == ZEMA_NAME_CONVERTER_FUSION,
              dynamic_cast<ZEMA_NAME_CONVERTER_FUSION_IMPL*>(impl) != nullptr);
    EXPECT_EQ(type == ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE,
              dynamic_cast<ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL*>(impl) != nullptr);
    // The facade and its strategy are tracked blocks.
    unsigned long long const blocks =
        zema_host::mem_module_stats("ZEMA").total_blocks - start.total_blocks;
    EXPECT_GE(blocks, impl ? 2u : 1u);
    expect_reports(impl ? std::vector<std::string>{}
                        : std::vector<std::string>{"No such converter type!"});
    facade->init(sample.design.action_point(), sample.design.netlist());
    facade->init(sample.design.action_point(), sample.design.netlist());
    EXPECT_EQ(std::vector<std::string>(2, "ZEMA: Initializing..."), zema_host::debug_lines());
    if (impl) {
      EXPECT_EQ(sample.design.action_point(), impl->m_action_point);
      EXPECT_EQ(sample.design.netlist(), impl->m_netlist);
      facade->clear();
      EXPECT_EQ(nullptr, impl->m_action_point);
      EXPECT_EQ(nullptr, impl->m_netlist);
    }
    facade.reset();
    EXPECT_EQ(zema_host::mem_module_stats("ZEMA").live_blocks, start.live_blocks);
  }
}

TEST_F(ZemaFacadeTest, MsgDebugGivesWhetherTheHostPrintedTheWholeText) {
  std::string const long_text(300, 'y');
  zema_host::clear_debug_lines();
  EXPECT_FALSE(zema_msg_debug("value %d", 7));
  zema_host::set_debug_output(true);
  EXPECT_TRUE(zema_msg_debug("value %d of %s", 7, "x"));
  EXPECT_TRUE(zema_msg_debug("%s|%s", long_text.c_str(), long_text.c_str()));
  EXPECT_EQ(
      (std::vector<std::string>{"ZEMA: value 7 of x", "ZEMA: " + long_text + "|" + long_text}),
      zema_host::debug_lines());
}

// Every query goes through the facade and through a strategy built directly,
// with the same result, output and reports; an unknown type answers false or
// 0, leaves the output alone and reports nothing.
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
  int found = 0;
  for (int type : {0, 1, kUnknownType}) {
    SCOPED_TRACE(type);
    ZEMA_NAME_CONVERTER facade(as_type(type));
    std::unique_ptr<ZEMA_NAME_CONVERTER_IMPL> direct(
        type == 0   ? static_cast<ZEMA_NAME_CONVERTER_IMPL*>(new ZEMA_NAME_CONVERTER_FUSION_IMPL())
        : type == 1 ? new ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL()
                    : nullptr);
    facade.init(d.action_point(), d.netlist());
    if (direct) direct->init(d.action_point(), d.netlist());
    take_reports();  // the unknown type, and the unnamed oterm in the fusion tree
    std::vector<std::string> texts = {"", "\\", "nothing", "acpu/", "CPU", "_43_50_55"};
    auto const check = [&](auto const& query) {
      GEN_STRING via_facade("stale"), via_direct("stale");
      bool const facade_result = query(facade, &via_facade);
      std::vector<std::string> const facade_reports = take_reports();
      bool const direct_result = direct && query(*direct, &via_direct);
      EXPECT_EQ(take_reports(), facade_reports);
      EXPECT_EQ(direct_result, facade_result);
      EXPECT_EQ(text_of(via_direct), text_of(via_facade));
      if (direct_result) texts.push_back(text_of(via_direct));
    };
    auto const check_all = [&](auto* object) {
      check([&](auto& c, GEN_STRING* out) { return c.get_converted_unit_name(out, object); });
      for (bool flag : {false, true}) {
        check(
            [&](auto& c, GEN_STRING* out) { return c.get_converted_full_name(out, object, flag); });
      }
    };
    for (CDB_ATOM_NODE* atom : atoms) check_all(atom);
    for (CDB_ATOM_OTERM* oterm : oterms) check_all(oterm);
    for (std::string const& text : texts) {
      unsigned const id = facade.get_original_name_id(text.c_str());
      EXPECT_EQ(direct ? direct->get_original_name_id(text.c_str()) : 0u, id) << text;
      found += id != 0;
    }
    facade.clear();
    EXPECT_EQ(0u, facade.get_original_name_id("\\_43_50_55/_52eg"));
  }
  EXPECT_GT(found, 20);  // the lookups exercised both outcomes
}

}  // namespace
