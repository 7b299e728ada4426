#include "tests/test_support.h"

namespace zema_test {

void TrackedTest::SetUp() {
  zema_host::clear_internal_errors();
  zema_host::set_internal_error_echo(false);
  zema_host::set_growth_log(true);
  zema_host::clear_growth_requests();
  m_zema_at_start = zema_host::mem_module_stats("ZEMA");
  m_orb_at_start = zema_host::mem_module_stats("ORB");
}

void TrackedTest::TearDown() {
  zema_host::MEM_STATS const zema = zema_host::mem_module_stats("ZEMA");
  zema_host::MEM_STATS const orb = zema_host::mem_module_stats("ORB");
  EXPECT_EQ(zema.live_bytes, m_zema_at_start.live_bytes) << "tracked ZEMA memory left behind";
  EXPECT_EQ(zema.live_blocks, m_zema_at_start.live_blocks) << "tracked ZEMA blocks left behind";
  EXPECT_EQ(orb.live_bytes, m_orb_at_start.live_bytes) << "string chunks left behind";
  EXPECT_TRUE(zema_host::internal_errors().empty())
      << "unexpected internal error: " << zema_host::internal_errors().front().condition;
  zema_host::clear_internal_errors();
  zema_host::set_internal_error_echo(true);
  zema_host::mem_fail_after(-1);
  zema_host::set_growth_log(false);
  zema_host::clear_growth_requests();
}

void TrackedTest::expect_reports(std::vector<std::string> const& conditions) {
  std::vector<zema_host::INTERNAL_ERROR> const& reports = zema_host::internal_errors();
  std::vector<std::string> seen;
  for (zema_host::INTERNAL_ERROR const& report : reports) {
    seen.push_back(report.condition);
    EXPECT_EQ(report.module, "ZEMA");
    EXPECT_EQ(report.file, "zema_name_converter");
    EXPECT_GT(report.line, 0);
  }
  EXPECT_EQ(seen, conditions);
  zema_host::clear_internal_errors();
}

SAMPLE_DESIGN::SAMPLE_DESIGN() {
  root = design.set_root("", 1);
  a9x = design.add_child(root, "a9x", 2);
  cpu = design.add_child(root, "CPU", 3);
  reg_mixed = design.add_child(cpu, "Reg", 5);
  reg_lower = design.add_child(cpu, "reg", 6);
  reg_upper = design.add_child(cpu, "REG", 7);
  nine_x = design.add_child(root, "9x", 4);
}

}  // namespace zema_test
