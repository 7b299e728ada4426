// Helpers shared by the unit tests: a fixture that fails a test which leaves
// tracked memory behind or reports unexpected internal errors, and builders
// for the small designs that several tests use.
#ifndef TESTS_TEST_SUPPORT_H
#define TESTS_TEST_SUPPORT_H

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>
#include <vector>

#include "host/zema_host.h"

namespace zema_test {

// Remembers what the modules "ZEMA" and "ORB" hold when a test starts and
// checks, when it ends, that they hold exactly that again: everything the
// test allocated through the library was freed. Internal-error reports are
// cleared at the start and must be consumed (expect_reports) or absent; the
// host's log of growth requests is on, and empty, while the test runs.
class TrackedTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Checks that exactly these conditions were reported since the last check,
  // in order, each by module "ZEMA" from "zema_name_converter", then forgets them.
  void expect_reports(std::vector<std::string> const& conditions);

 private:
  zema_host::MEM_STATS m_zema_at_start{};
  zema_host::MEM_STATS m_orb_at_start{};
};

// The design whose hierarchy several tests share: the root (id 1) with
// "a9x" (id 2), "CPU" (id 3; children "Reg" 5, "reg" 6, "REG" 7) and "9x"
// (id 4), children in that database order; no atoms.
struct SAMPLE_DESIGN {
  zema_host::DESIGN design;
  HDB_INSTANCE_NAME const* root;
  HDB_INSTANCE_NAME const* a9x;
  HDB_INSTANCE_NAME const* cpu;
  HDB_INSTANCE_NAME const* reg_mixed;  // "Reg"
  HDB_INSTANCE_NAME const* reg_lower;  // "reg"
  HDB_INSTANCE_NAME const* reg_upper;  // "REG"
  HDB_INSTANCE_NAME const* nine_x;     // "9x"
  SAMPLE_DESIGN();
};

// A design as plain data, so that it can be built with its children in
// several orders. Instance i has id i + 1 (the root is instance 0), ids from
// kFree on name free-standing names, and an oterm id 0 is a null entry.
unsigned const kFree = 1000000;
struct PLAN {
  struct ATOM {
    int type;
    unsigned name_id;
    std::vector<unsigned> oterm_ids;
  };
  std::vector<std::pair<int, std::string>> instances{{-1, ""}};  // parent, unit name
  std::vector<ATOM> atoms;
  unsigned next_free = kFree;
  unsigned add(int parent, std::string const& name) {
    instances.push_back({parent, name});
    return static_cast<unsigned>(instances.size());
  }
};

// A host design built from a plan, parents before children. With `rng`, each
// parent lists its children grouped by name in a random order of the names;
// twins (equal names) keep their relative order, which decides their suffixes.
struct BUILT {
  zema_host::DESIGN d;
  std::vector<CDB_ATOM_NODE*> atoms;
  std::vector<std::pair<CDB_ATOM_OTERM*, unsigned>> oterms;  // each with the id it names

  explicit BUILT(PLAN const& plan, std::mt19937* rng = nullptr);
};

// Up to 250 instances whose names often clash once legalised, each added
// under a random instance or under the last one, and up to 40 atoms.
PLAN random_plan(std::mt19937& rng);

}  // namespace zema_test

#endif  // TESTS_TEST_SUPPORT_H
