// Tests that the benchmarks' yardstick, the plain std implementation of the
// naming rules, gives exactly the library's names: a ratio between the two
// only means something if they do the same work.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "atm/zema/zema_name_converter.h"
#include "bench/baseline_converter.h"
#include "tests/test_support.h"

namespace {

class BaselineConverterTest : public zema_test::TrackedTest {
 protected:
  // Every unit and full name of the design's atoms and oterms, from both.
  static void expect_same_names(zema_test::BUILT& built) {
    ZEMA_NAME_CONVERTER library(ZEMA_NAME_CONVERTER_FUSION);
    library.init(built.d.action_point(), built.d.netlist());
    zema_bench::BASELINE_CONVERTER baseline;
    baseline.init(built.d.action_point(), built.d.netlist());
    GEN_STRING unit, full;
    std::string baseline_unit, baseline_full;
    for (CDB_ATOM_NODE* atom : built.atoms) {
      ASSERT_TRUE(library.get_converted_unit_name(&unit, atom));
      ASSERT_TRUE(library.get_converted_full_name(&full, atom, true));
      ASSERT_TRUE(baseline.unit_name(atom, &baseline_unit));
      ASSERT_TRUE(baseline.full_name(atom, &baseline_full));
      EXPECT_EQ(unit.c_str(), baseline_unit);
      EXPECT_EQ(full.c_str(), baseline_full);
    }
    for (auto const& oterm : built.oterms) {
      ASSERT_TRUE(library.get_converted_unit_name(&unit, oterm.first));
      ASSERT_TRUE(library.get_converted_full_name(&full, oterm.first, true));
      ASSERT_TRUE(baseline.unit_name(oterm.first, &baseline_unit));
      ASSERT_TRUE(baseline.full_name(oterm.first, &baseline_full));
      EXPECT_EQ(unit.c_str(), baseline_unit);
      EXPECT_EQ(full.c_str(), baseline_full);
    }
  }
};

// Random designs whose names clash once legalised, in random child orders.
TEST_F(BaselineConverterTest, GivesTheLibrarysNamesOnRandomDesigns) {
  for (unsigned seed = 1; seed <= 60; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 rng(seed);
    zema_test::PLAN const plan = zema_test::random_plan(rng);
    zema_test::BUILT built(plan, &rng);
    expect_same_names(built);
  }
}

// Made-up names that clash with the hierarchy's and with each other, and a
// wide parent whose children legalise to a handful of texts.
TEST_F(BaselineConverterTest, GivesTheLibrarysNamesWhereMadeUpNamesClash) {
  zema_test::PLAN plan;
  char const* const clashing[] = {"w0", "W0", "w0_0", "lut1", "Lut1", "w1", "x", "X", "x.", "x_0"};
  for (int i = 0; i < 3000; ++i) plan.add(0, clashing[i % 10]);
  unsigned const wide = plan.add(0, "wide");
  for (int i = 0; i < 3000; ++i) plan.add(static_cast<int>(wide) - 1, clashing[(i * 7) % 10]);
  for (unsigned i = 0; i < 500; ++i) {
    plan.atoms.push_back({CDB_ATOM_LUT, plan.next_free++, {2 + i}});
    plan.atoms.push_back({CDB_ATOM_COMB, 2 + i, {plan.next_free++, 0, plan.next_free++}});
  }
  zema_test::BUILT built(plan);
  expect_same_names(built);
}

}  // namespace
