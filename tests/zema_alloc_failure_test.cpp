// Allocation failure at every point of a converter's life, for both
// strategies: construction, init on a design that grows every table, every
// query, destruction. For each allocation index of a clean run, that
// allocation is made to fail; the std::bad_alloc must reach the caller (or be
// absorbed without changing any name), nothing of the modules "ZEMA" and "ORB"
// may stay live once the converter is gone, and the next init must give
// exactly the names of a clean run.
//
// The allocation counts are measured, never written down: the library may
// allocate differently from one version to the next. The environment variable
// ZEMA_ALLOC_SWEEP_STRIDE=n fails only every n-th index (and the last one),
// for slow runs under an emulator or valgrind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "host/zema_host.h"
#include "tests/test_support.h"

namespace {

// A design big enough that every table of the fusion converter grows past its
// first 61 buckets, most of them twice: about 320 instances (the root with 56
// children, so that its index is built through a builder that the made-up
// names then go through too, and one parent with 60 children), names that
// clash among siblings once legalised ("Reg1", "reg1", "REG1", "r.eg1", and a
// literal "reg_0"), about 220 atoms of every type, made-up atom and oterm
// names, and root children ("w3", "LUT2", ...) that made-up names must avoid.
struct SWEEP_DESIGN {
  zema_host::DESIGN design;
  std::vector<CDB_ATOM_NODE*> atoms;
  SWEEP_DESIGN();
};

std::string clashing_name(unsigned k) {
  static char const* const kStems[] = {"Reg",   "reg", "REG",  "r.eg", "9reg",
                                       "reg_0", "w3",  "LUT2", "",     "\xC3\xA9t"};
  return kStems[k % 10] + (k % 4 ? std::to_string(k % 7) : std::string());
}

SWEEP_DESIGN::SWEEP_DESIGN() {
  unsigned id = 1;
  HDB_INSTANCE_NAME const* const root = design.set_root("", id++);
  std::vector<HDB_INSTANCE_NAME const*> leaves;
  unsigned k = 0;
  for (unsigned b = 0; b < 56; ++b) {
    HDB_INSTANCE_NAME const* const block = design.add_child(root, clashing_name(k++).c_str(), id++);
    unsigned const children = b == 0 ? 60 : b % 4;
    if (children == 0) leaves.push_back(block);
    for (unsigned c = 0; c < children; ++c) {
      HDB_INSTANCE_NAME const* const child =
          design.add_child(block, clashing_name(k++).c_str(), id++);
      unsigned const grandchildren = c % 3 == 0 ? 2 : 0;
      if (grandchildren == 0) leaves.push_back(child);
      for (unsigned g = 0; g < grandchildren; ++g) {
        leaves.push_back(design.add_child(child, clashing_name(k++).c_str(), id++));
      }
    }
  }
  // Each leaf names one atom or oterm, so that the indexes keyed by id stay
  // one to one: type 26 atoms (with made-up oterms) and types 3, 35, 36 are
  // named by their leaf; atoms of other types get made-up names from
  // free-standing names and an oterm named by the leaf.
  for (unsigned n = 0; n < leaves.size(); ++n) {
    int const type = n % 4 == 0 ? CDB_ATOM_COMB : static_cast<int>(n % 50);
    auto const basic_type = static_cast<CDB_ATOM_BASIC_TYPE>(type);
    if (type == CDB_ATOM_COMB) {
      atoms.push_back(design.add_atom(basic_type, leaves[n]));
      design.add_oterm(atoms.back(), design.add_free_name("o", id++));
      design.add_oterm(atoms.back(), design.add_free_name("o", id++));
    } else if (type == CDB_ATOM_IO_IBUF || type == CDB_ATOM_PIN || type == 36) {
      atoms.push_back(design.add_atom(basic_type, leaves[n]));
    } else {
      atoms.push_back(design.add_atom(basic_type, design.add_free_name("f", id++)));
      design.add_oterm(atoms.back(), leaves[n]);
    }
  }
}

// Everything the queries give, in a fixed order: for each atom and each of its
// oterms the unit name, the full name with and without the backslash, and the
// id that the full name looks up; "-" where a query gives false. The output
// strings are reused, as a host's netlist writer would.
std::vector<std::string> query_all(ZEMA_NAME_CONVERTER& converter, SWEEP_DESIGN const& d) {
  std::vector<std::string> seen;
  GEN_STRING unit, full, bare;
  auto record = [&](auto* object) {
    seen.emplace_back(converter.get_converted_unit_name(&unit, object) ? unit.c_str() : "-");
    seen.emplace_back(converter.get_converted_full_name(&full, object, false) ? full.c_str() : "-");
    bool const has_bare = converter.get_converted_full_name(&bare, object, true);
    seen.emplace_back(has_bare ? bare.c_str() : "-");
    if (has_bare) seen.push_back(std::to_string(converter.get_original_name_id(bare.c_str())));
  };
  for (CDB_ATOM_NODE* const atom : d.atoms) {
    record(atom);
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
      record(*it);
    }
  }
  seen.push_back(std::to_string(converter.get_original_name_id("no/such/name")));
  return seen;
}

// Allocations the memory manager has made for both modules so far.
unsigned long long allocations() {
  return zema_host::mem_module_stats("ZEMA").total_blocks +
         zema_host::mem_module_stats("ORB").total_blocks;
}

long sweep_stride() {
  char const* const text = std::getenv("ZEMA_ALLOC_SWEEP_STRIDE");
  long const stride = text ? std::atol(text) : 1;
  return stride > 0 ? stride : 1;
}

struct LIVE {
  unsigned long long zema_blocks, zema_bytes, orb_blocks, orb_bytes;
  bool operator==(LIVE const& o) const {
    return zema_blocks == o.zema_blocks && zema_bytes == o.zema_bytes &&
           orb_blocks == o.orb_blocks && orb_bytes == o.orb_bytes;
  }
};

LIVE live() {
  zema_host::MEM_STATS const zema = zema_host::mem_module_stats("ZEMA");
  zema_host::MEM_STATS const orb = zema_host::mem_module_stats("ORB");
  return {zema.live_blocks, zema.live_bytes, orb.live_blocks, orb.live_bytes};
}

void PrintTo(LIVE const& l, std::ostream* os) {
  *os << "ZEMA " << l.zema_blocks << " blocks/" << l.zema_bytes << " bytes, ORB " << l.orb_blocks
      << " blocks/" << l.orb_bytes << " bytes";
}

class ZemaAllocFailureTest : public zema_test::TrackedTest,
                             public ::testing::WithParamInterface<ZEMA_NAME_CONVERTER_ENUM> {
 protected:
  void init(ZEMA_NAME_CONVERTER& converter) {
    converter.init(m_design.design.action_point(), m_design.design.netlist());
  }

  // The names of a clean run, from a converter of its own.
  std::vector<std::string> clean_names() {
    ZEMA_NAME_CONVERTER converter(GetParam());
    init(converter);
    return query_all(converter, m_design);
  }

  // How many allocations `window` makes, measured on a clean run and then
  // confirmed through the fault injector itself: armed to fail after exactly
  // that many, the window runs through and the very next allocation fails.
  long count_allocations(std::function<void()> const& window) {
    window();  // once first, so that any allocation made only once is behind us
    unsigned long long const before = allocations();
    window();
    long const count = static_cast<long>(allocations() - before);
    zema_host::mem_fail_after(count);
    window();
    EXPECT_THROW(GEN_STRING(100, 'x'), std::bad_alloc)
        << "the window made more allocations than ZEMA and ORB record";
    zema_host::mem_fail_after(-1);
    return count;
  }

  // Runs `window` with its allocation k failing, for every k below `count`
  // (with a stride: every stride-th and the last). `prepare` runs before and
  // `check(threw)` after each, with the injector off. Stops at the first index
  // that fails a check.
  void sweep(long count, std::function<void()> const& prepare, std::function<void()> const& window,
             std::function<void(bool)> const& check) {
    std::vector<long> indices;
    long absorbed = 0;
    for (long k = 0; k < count; k += sweep_stride()) indices.push_back(k);
    if (count > 0 && indices.back() != count - 1) indices.push_back(count - 1);
    for (long const k : indices) {
      SCOPED_TRACE("failing allocation " + std::to_string(k) + " of " + std::to_string(count));
      prepare();
      bool threw = false;
      zema_host::mem_fail_after(k);
      try {
        window();
      } catch (std::bad_alloc const&) {
        threw = true;
      }
      zema_host::mem_fail_after(-1);
      absorbed += !threw;
      check(threw);
      if (HasFailure()) break;
    }
    RecordProperty("injected_failures", static_cast<int>(indices.size()));
    RecordProperty("absorbed_failures", static_cast<int>(absorbed));
  }

  SWEEP_DESIGN m_design;
};

// Construction, init, every query and destruction under one failing
// allocation; then a converter of its own must name everything as before.
TEST_P(ZemaAllocFailureTest, FailureAnywhereInALifetimeLeaksNothingAndTheNextInitIsClean) {
  std::vector<std::string> const expected = clean_names();
  std::vector<std::string> seen;
  auto const lifetime = [&] {
    ZEMA_NAME_CONVERTER converter(GetParam());
    init(converter);
    seen = query_all(converter, m_design);
  };
  long const count = count_allocations(lifetime);
  ASSERT_GT(count, 0);
  LIVE const before = live();
  long absorbed = 0;
  sweep(
      count, [] {}, lifetime,
      [&](bool threw) {
        EXPECT_EQ(before, live());
        // A failure the library absorbs (a string table that cannot replace its
        // storage while being emptied) must not change a single name.
        if (!threw) {
          ++absorbed;
          EXPECT_EQ(expected, seen);
        }
        seen.clear();
        EXPECT_EQ(expected, clean_names());
      });
  RecordProperty("absorbed_failures", static_cast<int>(absorbed));
}

// A failed init over an earlier tree, or a failed query after it; then the
// queries on whatever the failure left (they must answer without crashing),
// and init again on the same object, which must give the clean names.
TEST_P(ZemaAllocFailureTest, FailedInitOrQueryThenInitOnTheSameConverterGivesTheCleanNames) {
  std::vector<std::string> const expected = clean_names();
  LIVE const before = live();
  std::unique_ptr<ZEMA_NAME_CONVERTER> converter;
  std::vector<std::string> seen;
  auto const fresh_converter_with_a_tree = [&] {
    converter.reset(new ZEMA_NAME_CONVERTER(GetParam()));
    init(*converter);
  };
  auto const init_and_query = [&] {
    init(*converter);
    seen = query_all(*converter, m_design);
  };
  fresh_converter_with_a_tree();
  long const count = count_allocations(init_and_query);
  sweep(count, fresh_converter_with_a_tree, init_and_query, [&](bool threw) {
    if (!threw) {
      EXPECT_EQ(expected, seen);
    }
    seen.clear();
    query_all(*converter, m_design);
    init(*converter);
    EXPECT_EQ(expected, query_all(*converter, m_design));
    converter.reset();
    EXPECT_EQ(before, live());
  });
  converter.reset();
}

std::string strategy_name(::testing::TestParamInfo<ZEMA_NAME_CONVERTER_ENUM> const& info) {
  return info.param == ZEMA_NAME_CONVERTER_FUSION ? "Fusion" : "Reversible";
}

INSTANTIATE_TEST_SUITE_P(BothStrategies, ZemaAllocFailureTest,
                         ::testing::Values(ZEMA_NAME_CONVERTER_FUSION,
                                           ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE),
                         strategy_name);

}  // namespace
