#include "tests/test_support.h"

#include <algorithm>
#include <map>

#include "atm/zema/zema_naming_rules.h"

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

BUILT::BUILT(PLAN const& plan, std::mt19937* rng) {
  std::size_t const n = plan.instances.size();
  std::vector<int> depth(n, 0), order;
  std::map<std::string, unsigned> key;
  for (std::size_t i = 1; i < n; ++i) {
    depth[i] = depth[plan.instances[i].first] + 1;
    key.emplace(plan.instances[i].second, rng ? (*rng)() : 0);
    order.push_back(int(i));
  }
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return std::make_pair(depth[a], key[plan.instances[a].second]) <
           std::make_pair(depth[b], key[plan.instances[b].second]);
  });
  std::vector<HDB_INSTANCE_NAME const*> names(n);
  names[0] = d.set_root("", 1);
  for (int i : order)
    names[i] = d.add_child(names[plan.instances[i].first], plan.instances[i].second.c_str(), i + 1);
  for (PLAN::ATOM const& a : plan.atoms) {
    auto name_of = [&](unsigned id) {
      return id >= kFree ? d.add_free_name("f", id) : names[id - 1];
    };
    atoms.push_back(d.add_atom(static_cast<CDB_ATOM_BASIC_TYPE>(a.type), name_of(a.name_id)));
    for (unsigned id : a.oterm_ids) {
      if (id) oterms.push_back({d.add_oterm(atoms.back(), name_of(id)), id});
      if (!id) d.add_null_oterm(atoms.back());
    }
  }
}

PLAN random_plan(std::mt19937& rng) {
  static char const* const kPieces[] = {"a", "A", "b", "B", "_",    "1",    ".",
                                        "x", "X", "9", "[", "\xC3", "\x80", " "};
  auto pick = [&rng](std::size_t n) { return static_cast<unsigned>(rng() % n); };
  PLAN plan;
  for (unsigned n = 1 + pick(250); n > 0; --n) {
    std::string name;
    for (unsigned k = pick(4); k > 0; --k) name += kPieces[pick(14)];
    unsigned const count = unsigned(plan.instances.size());
    plan.add(int(pick(2) ? pick(count) : count - 1), name);
  }
  // Each instance names at most one atom: the atom index is keyed by id.
  unsigned const hierarchy = unsigned(plan.instances.size()) - 1;
  std::vector<unsigned> unnamed;
  for (unsigned id = 2; id <= hierarchy + 1; ++id) unnamed.push_back(id);
  std::shuffle(unnamed.begin(), unnamed.end(), rng);
  for (unsigned n = pick(std::min(40u, hierarchy)); n > 0; --n) {
    static int const kMeaningfulTypes[] = {26, 3, 35, 36};
    int const type = pick(3) ? int(pick(50)) : kMeaningfulTypes[pick(4)];
    bool const named = zema_atom_type_needs_hierarchy_node(type);
    PLAN::ATOM atom{type, named ? unnamed.back() : plan.next_free++, {}};
    if (named) unnamed.pop_back();
    for (unsigned k = pick(4); k > 0; --k) {
      unsigned const id = type == 26 ? plan.next_free++ : 2 + pick(hierarchy);
      atom.oterm_ids.push_back(pick(6) ? id : 0);
    }
    plan.atoms.push_back(atom);
  }
  return plan;
}

}  // namespace zema_test
