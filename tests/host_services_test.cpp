// Tests of the reference host: the design database (paths, lookups, ids,
// netlist), the memory manager, and the text services the library uses.
#include "host/zema_host.h"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "containers/orb_chain.h"
#include "h/dbs_translator_sys.h"
#include "h/gen_sys.h"
#include "h/hdb_vexa_sys.h"
#include "h/orb_sys.h"

namespace {

using zema_host::DESIGN;

std::string path_of(HDB_INSTANCE_NAME const* name) {
  GEN_STRING out("stale content");
  EXPECT_EQ(&out, &name->get_short_hpath(&out, HDB_HPATH_FORMAT_UNAMBIGUOUS));
  return out.c_str();
}

HDB_INSTANCE_NAME const* find(DESIGN const& design, std::string const& path) {
  return design.root()->find_in_descendants(GEN_STRING(path.c_str(), path.size()), true);
}

// --- Design database ---------------------------------------------------------

TEST(HostDesign, PathsEscapeNamesNumberTwinsAndRejectMalformedText) {
  DESIGN design;
  HDB_INSTANCE_NAME const* root = design.set_root("", 1);
  HDB_INSTANCE_NAME const* top = design.add_child(root, "top", 2);
  std::pair<char const*, char const*> const cases[] = {
      {"a/b", "top/a\\/b"}, {"c\\d", "top/c\\\\d"}, {"", "top/\\."},    {"x", "top/x"},
      {"x", "top/x\\#1"},   {"", "top/\\.\\#1"},    {"x", "top/x\\#2"}, {"x#1", "top/x#1"},
      {"\\.", "top/\\\\."}, {"X", "top/X"},         {"y", "top/y"},
  };
  for (auto const& c : cases) {
    HDB_INSTANCE_NAME const* const made = design.add_child(top, c.first, 0);
    EXPECT_EQ(c.second, path_of(made));
    EXPECT_EQ(made, find(design, c.second)) << c.second;
  }
  EXPECT_EQ("", path_of(root));
  EXPECT_EQ(top, find(design, "top"));
  for (char const* path : {"", "top/", "/top", "top//x", "top\\", "top/x\\#0", "top/x\\#01",
                           "top/x\\#", "top/x\\#3", "top/\\q", "\\.top", "top/x\\#1y",
                           "top/x\\#1\\#1", "top/x\\#99999999999", "b", "top/x/y", "top\\#1"}) {
    EXPECT_EQ(nullptr, find(design, path)) << path;
  }
  EXPECT_EQ(nullptr, find(design, std::string("top/y\0", 6)));
}

TEST(HostDesign, EveryInstanceOfRandomTreeResolvesFromItsPath) {
  // Names from a tiny alphabet with the bytes that need escaping, so that
  // twins, empty names and escapes are frequent.
  std::mt19937 rng(2024);
  char const alphabet[] = {'a', 'b', '/', '\\', '.', '#', '1'};
  DESIGN design;
  std::vector<HDB_INSTANCE_NAME const*> all = {design.set_root("", 1)};
  std::vector<HDB_INSTANCE_NAME const*> parents = {nullptr};
  for (unsigned id = 2; id < 3000; ++id) {
    std::string name(rng() % 3, ' ');
    for (char& c : name) c = alphabet[rng() % sizeof alphabet];
    // Early instances get more children, so some parents have long sibling lists.
    std::size_t const range = rng() % 2 ? all.size() : std::min<std::size_t>(all.size(), 50);
    parents.push_back(all[rng() % range]);
    all.push_back(design.add_child(parents.back(), name.c_str(), id));
    // Interleave queries with building, so indexes see children appended later.
    EXPECT_TRUE(id % 500 || all.back() == find(design, path_of(all.back())));
  }
  for (std::size_t i = 1; i < all.size(); ++i) {
    ASSERT_EQ(all[i], find(design, path_of(all[i]))) << path_of(all[i]);
    EXPECT_EQ(i + 1, HDB_NAME_MGR::get_iname_id(all[i]));
    EXPECT_EQ(parents[i], zema_host::parent_of(all[i]));
  }
}

TEST(HostDesign, NullEntriesKeepTheirPlaceAmongChildrenAtomsAndOterms) {
  DESIGN design;
  EXPECT_EQ(nullptr, design.action_point()->get_m_rooted_at());
  HDB_INSTANCE_NAME const* root = design.set_root("", 7);
  EXPECT_EQ(root, design.action_point()->get_m_rooted_at());
  HDB_INSTANCE_NAME const* a = design.add_child(root, "a", 8);
  design.add_null_child(root);
  HDB_INSTANCE_NAME const* b = design.add_child(root, "b", 0);  // not registered: id 0
  std::vector<HDB_INSTANCE_NAME const*> children;
  for (HDB_CONST_NAME_ITERATOR it = root->begin_child(); it != root->end_child(); ++it) {
    children.push_back(*it);
  }
  EXPECT_EQ((std::vector<HDB_INSTANCE_NAME const*>{a, nullptr, b}), children);
  EXPECT_EQ(b, find(design, "b"));
  EXPECT_EQ(0u, HDB_NAME_MGR::get_iname_id(b) + HDB_NAME_MGR::get_iname_id(nullptr));
  EXPECT_EQ(nullptr, zema_host::parent_of(design.add_free_name("free", 9)));
  CDB_ATOM_NETLIST* netlist = design.netlist();
  EXPECT_EQ(netlist->end_node_list(), netlist->begin_node_list());
  CDB_ATOM_NODE* const atoms[] = {design.add_atom(CDB_ATOM_LUT, a),
                                  design.add_atom(CDB_ATOM_DFF, nullptr)};
  design.add_null_atom();
  std::vector<CDB_ATOM_OTERM*> expected[2];
  for (int n = 0; n < 80; ++n) {  // oterms added to both in turn, so the sequences have to move
    if (n % 7 == 0) design.add_null_oterm(atoms[n % 2]);
    expected[n % 2].push_back(n % 7 ? design.add_oterm(atoms[n % 2], n % 3 ? a : nullptr)
                                    : nullptr);
  }
  std::vector<CDB_ATOM_NODE*> listed;
  for (auto* link = netlist->begin_node_list(); link != netlist->end_node_list();
       link = link->m_next) {
    listed.push_back(link->m_node);
  }
  EXPECT_EQ((std::vector<CDB_ATOM_NODE*>{atoms[0], atoms[1], nullptr}), listed);
  for (CDB_ATOM_NODE* atom : atoms) {
    std::vector<CDB_ATOM_OTERM*> seen;
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
      seen.push_back(*it);
      EXPECT_TRUE(*it == nullptr || (*it)->get_my_node() == atom);
    }
    EXPECT_EQ(expected[atom == atoms[1]], seen);
  }
  EXPECT_EQ(nullptr, design.add_orphan_oterm(a)->get_my_node());
}

// A design built in bulk: reserve() sets its blocks aside and, from 4 MiB on,
// a thread populates them while they are filled. Whatever the order of
// reserving, building and destroying, the design holds what was built.
TEST(HostDesign, BuildsInBulkWhileItsBlocksArePopulated) {
  struct CASE {
    char const* what;
    int reserves;  // calls of reserve() before building
    bool build;
  };
  CASE const cases[] = {{"reserved once", 1, true},
                        {"reserved twice", 2, true},
                        {"destroyed as soon as reserved", 1, false}};
  std::size_t const parents = 1000;
  std::size_t const children = 200;  // each, so 200k instances besides the root and parents
  std::size_t const instances = 1 + parents * (1 + children);
  for (CASE const& c : cases) {
    SCOPED_TRACE(c.what);
    DESIGN design;
    for (int i = 0; i < c.reserves; ++i) {
      design.reserve(instances, instances, instances, parents + 1, instances - 1);
    }
    if (!c.build) continue;
    unsigned id = 1;
    HDB_INSTANCE_NAME const* const root = design.set_root("", id++);
    design.reserve_children(root, parents);
    std::vector<HDB_INSTANCE_NAME const*> all;
    for (std::size_t p = 0; p < parents; ++p) {
      all.push_back(design.add_child(root, ("p" + std::to_string(p)).c_str(), id++));
    }
    for (std::size_t p = 0; p < parents; ++p) {
      design.reserve_children(all[p], children);
      for (std::size_t n = 0; n < children; ++n) {
        all.push_back(design.add_child(all[p], ("c" + std::to_string(n)).c_str(), id++));
      }
    }
    for (HDB_INSTANCE_NAME const* name : all) {
      CDB_ATOM_NODE* const atom = design.add_atom(CDB_ATOM_LUT, name);
      design.reserve_oterms(atom, 1);
      design.add_oterm(atom, name);
    }
    for (std::size_t i = 0; i < all.size(); i += 997) {
      ASSERT_EQ(all[i], find(design, path_of(all[i])));
      EXPECT_EQ(i + 2, HDB_NAME_MGR::get_iname_id(all[i]));
    }
    std::size_t atoms = 0;
    CDB_ATOM_NETLIST* const netlist = design.netlist();
    for (auto* link = netlist->begin_node_list(); link != netlist->end_node_list();
         link = link->m_next, ++atoms) {
      ASSERT_EQ(all[atoms], link->m_node->get_instance_name());
      ASSERT_EQ(all[atoms], (*link->m_node->begin_oterm())->get_instance_name());
    }
    EXPECT_EQ(all.size(), atoms);
  }
}

// --- Memory manager ----------------------------------------------------------

MEM_TRACKER_THUNK g_int_thunk = {&typeid(int), 4, 1, "HOSTTEST", false, 0, 0, 0};
MEM_TRACKER_THUNK g_char_thunk = {&typeid(char), 1, 1, "HOSTTEST", false, 0, 0, 0};

TEST(HostMemory, BlocksAreZeroFilledAlignedCountedAndFailOnRequest) {
  zema_host::MEM_STATS const before = zema_host::mem_module_stats("HOSTTEST");
  std::vector<void*> blocks = {MEM_MANAGER::new_wrapper(10, &g_char_thunk, "")};
  for (std::size_t size : {0u, 1u, 24u, 100000u}) {
    unsigned char* block = nullptr;
    for (int round = 0; round < 2; ++round) {  // the second block may reuse the first's memory
      MEM_MANAGER::delete_wrapper(block, "HOSTTEST");
      block = static_cast<unsigned char*>(MEM_MANAGER::new_wrapper(size, &g_int_thunk, ""));
      // Aligned to 16 bytes when the size, rounded up to 8, is a multiple of 16.
      std::size_t const alignment = ((size + 7) / 8 * 8) % 16 == 0 ? 16 : 8;
      EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(block) % alignment) << size;
      for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(0, block[i]) << size;
      std::memset(block, 0xab, size);
    }
    blocks.push_back(block);
  }
  // The chosen allocation fails, uncounted, and only that one.
  for (long n : {0L, 3L}) {
    zema_host::mem_fail_after(n);
    for (long i = 0; i < n; ++i) blocks.push_back(MEM_MANAGER::new_wrapper(8, &g_int_thunk, ""));
    unsigned long long const total = zema_host::mem_module_stats("HOSTTEST").total_blocks;
    EXPECT_THROW(MEM_MANAGER::new_wrapper(8, &g_int_thunk, ""), std::bad_alloc) << n;
    EXPECT_EQ(total, zema_host::mem_module_stats("HOSTTEST").total_blocks);
  }
  blocks.push_back(MEM_MANAGER::new_wrapper(8, &g_int_thunk, ""));
  EXPECT_THROW(MEM_MANAGER::new_wrapper(static_cast<std::size_t>(-1), &g_int_thunk, ""),
               std::bad_alloc);
  zema_host::MEM_STATS const during = zema_host::mem_module_stats("HOSTTEST");
  EXPECT_EQ(before.live_bytes + 10 + 100025 + 4ull * 8, during.live_bytes);
  EXPECT_EQ(before.live_blocks + 9, during.live_blocks);
  EXPECT_EQ(before.total_blocks + 13, during.total_blocks);
  for (void* block : blocks) MEM_MANAGER::delete_wrapper(block, "HOSTTEST");
  zema_host::MEM_STATS const after = zema_host::mem_module_stats("HOSTTEST");
  EXPECT_EQ(before.live_bytes, after.live_bytes);
  EXPECT_EQ(before.live_blocks, after.live_blocks);
  EXPECT_EQ(during.total_blocks, after.total_blocks);
  EXPECT_EQ(0u, zema_host::mem_module_stats("NO SUCH MODULE").total_blocks);
}

// Pooled blocks come from a fast path that failure injection and sharing
// turn off: ending one of them must not turn it back on while the other is
// still on, and cancelling an injection must.
TEST(HostMemory, InjectedFailureCountsEveryAllocationAcrossSharing) {
  std::vector<void*> blocks;
  auto const take = [&] { blocks.push_back(MEM_MANAGER::new_wrapper(8, &g_int_thunk, "")); };
  for (int i = 0; i < 4; ++i) take();  // the pool is cached: the fast path would serve
  zema_host::mem_fail_after(2);
  {
    zema_host::MEM_SHARING const sharing;
    take();
  }
  take();
  EXPECT_THROW(take(), std::bad_alloc);
  take();  // one-shot: the next one succeeds
  zema_host::mem_fail_after(1);
  zema_host::mem_fail_after(-1);
  for (int i = 0; i < 3; ++i) EXPECT_NO_THROW(take());
  for (void* block : blocks) MEM_MANAGER::delete_wrapper(block, "HOSTTEST");
}

TEST(HostMemory, ClosingModuleReportsWhatItStillHolds) {
  // Tracking records are static: the host keeps every record it has seen.
  static MEM_TRACKER_THUNK thunk = {&typeid(int), 4, 1, "LEAKY", false, 0, 0, 0};
  std::size_t const reports = zema_host::mem_close_reports().size();
  void* block;
  {
    MEM_INITIALIZER module("LEAKY");
    block = MEM_MANAGER::new_wrapper(24, &thunk, __FILE__);
  }
  ASSERT_EQ(reports + 1, zema_host::mem_close_reports().size());
  EXPECT_EQ("MEM: module LEAKY still holds 24 bytes in 1 blocks",
            zema_host::mem_close_reports().back());
  MEM_MANAGER::delete_wrapper(block, "LEAKY");
  { MEM_INITIALIZER module("LEAKY"); }
  EXPECT_EQ(reports + 1, zema_host::mem_close_reports().size());
}

// --- Text services -----------------------------------------------------------

TEST(HostText, ItoaAndToLowerReplaceContent) {
  struct CASE {
    int value;
    int base;
    char const* text;
  } const cases[] = {{0, 10, "0"},    {-45, 10, "-45"},           {INT_MIN, 10, "-2147483648"},
                     {255, 16, "ff"}, {INT_MIN, 16, "-80000000"}, {5, 2, "101"},
                     {35, 36, "z"}};
  for (CASE const& c : cases) {
    GEN_STRING out("previous content");
    gen_itoa(c.value, out, c.base);
    EXPECT_STREQ(c.text, out.c_str()) << c.value << " base " << c.base;
  }
  GEN_STRING text("MiXeD_09-\xc4Z");
  gen_tolower(text);
  EXPECT_STREQ("mixed_09-\xc4z", text.c_str());
}

// Tables grow by about half, big ones double, and small ones take a few of
// those steps at once; the count is prime (or odd where no prime fits) and
// never below what was asked for.
TEST(HostText, GrowthIsHalfAgainThenDoubleAndNeverBelowWanted) {
  zema_host::set_growth_log(true);
  zema_host::clear_growth_requests();
  std::vector<unsigned> const wanted_values = {
      0,    1,     2,     3,       61,          62,          1000,        4095,       4096,
      5000, 65535, 65536, 1000003, 0x7fffffffu, 0xaaaaaaaau, 0xfffffffeu, 0xffffffffu};
  for (unsigned wanted : wanted_values) {
    unsigned const size = orb_hash_50_percent_increase_size(wanted);
    EXPECT_GE(size, wanted);
    EXPECT_TRUE(size % 2 == 1 || size == 2) << wanted;
    std::uint64_t const target = std::uint64_t{wanted} + (wanted >= 65536 ? wanted : wanted / 2);
    if (wanted >= 4 && target <= 0xfffffffbu) {
      EXPECT_GE(size, target) << wanted;
      // Below 16384 buckets, at most three steps of half again and then some.
      std::uint64_t const most = target >= 16384 ? target + target / 50 + 10 : 3 * target + 100;
      EXPECT_LE(size, most) << wanted;
    }
  }
  EXPECT_EQ(wanted_values, zema_host::growth_requests());
  // A table grows once a fifth more than its entries exceeds its buckets.
  int growths = 0;
  for (unsigned count = 61; count < 16384; ++growths) {
    count = orb_hash_50_percent_increase_size((count / 5 + 1) * 5);
  }
  EXPECT_EQ(5, growths) << "a table from 61 to 16384 buckets, against 14 by half";
  zema_host::set_growth_log(false);
  zema_host::clear_growth_requests();
  orb_hash_50_percent_increase_size(7);
  EXPECT_TRUE(zema_host::growth_requests().empty()) << "recorded only while switched on";
}

// Told how many entries to expect, a table whose next step comes within an
// eighth of the buckets those entries call for goes there at once, and
// doubles on from there if it outgrows them; so do the first eight tables
// that pass 65,536 buckets. Smaller tables, tables past that budget and a
// program that expects nothing grow as before.
TEST(HostText, ExpectedEntriesSpareABigTableItsLastGrowths) {
  struct CASE {
    std::size_t expected;
    unsigned wanted;
    std::uint64_t least;  // 0: as without an expectation
    std::uint64_t most;
  };
  std::size_t const kMillion = 1000000;
  CASE const cases[] = {
      {kMillion, 40000, 0, 0},               // a small table
      {kMillion, 48050, 1250001, 1250100},   // a step past 65,536 buckets
      {kMillion, 144165, 1250001, 1250100},  // a step to over an eighth
      {kMillion, 1300000, 0, 0},             // a table beyond the expectation doubles
      {50000, 72080, 0, 0},                  // an expectation under the table's step
      {60000, 9475, 75000, 75100},           // a mid-sized netlist's table, from far below
      {60000, 825, 0, 0},                    // and one that stays small
      {0, 144165, 0, 0},                     // none
      {std::numeric_limits<std::size_t>::max(), 0x80000000u, 4294967291u, 4294967291u},
  };
  for (CASE const& c : cases) {
    SCOPED_TRACE(testing::Message() << c.expected << " expected, " << c.wanted << " wanted");
    zema_host::expect_table_entries(0);
    unsigned const plain = orb_hash_50_percent_increase_size(c.wanted);
    zema_host::expect_table_entries(c.expected);
    unsigned const size = orb_hash_50_percent_increase_size(c.wanted);
    if (c.least == 0) {
      EXPECT_EQ(size, plain);
    } else {
      EXPECT_GE(size, c.least);
      EXPECT_LE(size, c.most);
    }
  }
  // Tables filled by the growth test: one of the expected size grows from
  // 48,049 buckets straight to room for them all, where it would have grown
  // five times past 65,536; so do the next seven that pass 65,536, even a
  // tenth as big, and the ninth grows as it would without the expectation.
  auto const fill = [](std::size_t entries, int* big_growths) {
    unsigned buckets = ORB_INITIAL_BUCKET_COUNT;
    *big_growths = 0;
    for (unsigned count = 1; count <= entries; ++count) {
      if (orb_wanted_buckets(count) <= buckets) continue;
      *big_growths += orb_wanted_buckets(count) >= 65536;
      buckets = orb_hash_50_percent_increase_size(orb_wanted_buckets(count));
    }
    return buckets;
  };
  int growths = 0;
  zema_host::expect_table_entries(0);
  unsigned const plain_tenth = fill(kMillion / 10, &growths);
  zema_host::expect_table_entries(kMillion);
  EXPECT_GE(fill(kMillion, &growths), orb_wanted_buckets(kMillion));
  EXPECT_EQ(growths, 0);
  for (int table = 2; table <= 8; ++table) {
    EXPECT_GE(fill(kMillion / 10, &growths), orb_wanted_buckets(kMillion)) << "table " << table;
  }
  EXPECT_EQ(fill(kMillion / 10, &growths), plain_tenth);
  zema_host::expect_table_entries(0);
  fill(kMillion, &growths);
  EXPECT_EQ(growths, 5);
}

TEST(HostText, AtomTypeNamesRoundTripIgnoringCase) {
  DBS_TRANSLATOR translator;
  EXPECT_STREQ("HardIP", translator.get_debug_string_name(CDB_ATOM_HARDIP));
  EXPECT_STREQ("UNKNOWN", translator.get_debug_string_name(CDB_ATOM_BASIC_TYPE_COUNT));
  for (int type = 0; type < CDB_ATOM_BASIC_TYPE_COUNT; ++type) {
    EXPECT_STREQ(zema_host::atom_type_name(type),
                 translator.get_debug_string_name(static_cast<CDB_ATOM_BASIC_TYPE>(type)));
    std::string name = zema_host::atom_type_name(type);
    EXPECT_EQ(type, zema_host::atom_type_from_name(name.c_str()));
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(type, zema_host::atom_type_from_name(name.c_str())) << name;
    // One letter more names no type.
    EXPECT_EQ(-1, zema_host::atom_type_from_name((name + "x").c_str())) << name;
  }
  EXPECT_EQ(CDB_ATOM_TEMP_SENSOR, zema_host::atom_type_from_name("temp_SENSOR"));
  EXPECT_EQ(-1, zema_host::atom_type_from_name("TEMP"));
  EXPECT_EQ(-1, zema_host::atom_type_from_name(""));
  EXPECT_EQ(-1, zema_host::atom_type_from_name(nullptr));
}

}  // namespace

TEST(HostRecords, EachKindKeepsABoundedNumberAndCountsTheRest) {
  std::size_t const kept = 100000;
  zema_host::clear_call_log();
  std::size_t const dropped = zema_host::dropped_records();
  zema_host::set_call_log(true);
  GEN_STRING out;
  for (std::size_t i = 0; i < kept + 5; ++i) hdb_convert_unit_name_to_vexa(&out, "u", false);
  zema_host::set_call_log(false);
  EXPECT_EQ(kept, zema_host::call_log().size());
  EXPECT_EQ(dropped + 5, zema_host::dropped_records());
  zema_host::clear_call_log();
  hdb_convert_unit_name_to_vexa(&out, "u", false);
  EXPECT_TRUE(zema_host::call_log().empty()) << "recorded only while switched on";
}

// The pools hand out zero-filled blocks whether their memory is fresh (on
// small or huge pages), populated ahead by the prefaulter, reused from freed
// slabs and spans, or pages that the program gave up after writing them (an
// input it read).
TEST(HostMemory, BlocksStayZeroFilledAcrossPrefaultAndReuse) {
  std::size_t const given = (std::size_t(1) << 20) + 4096;
  char* const pages = static_cast<char*>(
      mmap(nullptr, given, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(pages, MAP_FAILED);
  std::memset(pages, 0xa5, given);
  EXPECT_EQ(0u, zema_host::mem_adopt_pages(pages, given)) << "a long-running program keeps them";
  zema_host::mem_small_pages();
  std::size_t const taken = zema_host::mem_adopt_pages(pages, given);
  EXPECT_EQ(zema_host::mem_pooled() ? std::size_t(1) << 20 : 0, taken) << "whole slabs only";
  munmap(pages + taken, given - taken);
  // Huge pages for a small design's blocks: pages given up from then on stay
  // the program's, and the blocks come from fresh memory.
  zema_host::mem_huge_pages(std::size_t(4) << 20);
  char* const more = static_cast<char*>(
      mmap(nullptr, given, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(more, MAP_FAILED);
  std::memset(more, 0xa5, given);
  EXPECT_EQ(0u, zema_host::mem_adopt_pages(more, given)) << "none taken after huge pages";
  munmap(more, given);
  zema_host::mem_prefault(std::size_t(8) << 20);
  zema_host::MEM_STATS const before = zema_host::mem_module_stats("HOSTTEST");
  for (int round = 0; round < 3; ++round) {
    std::vector<std::pair<unsigned char*, std::size_t>> blocks;
    for (std::size_t size : {8u, 24u, 200u, 5000u, 40000u, 70000u, 300000u}) {
      for (int copy = 0; copy < 40; ++copy) {
        auto* const block =
            static_cast<unsigned char*>(MEM_MANAGER::new_wrapper(size, &g_int_thunk, __FILE__));
        ASSERT_EQ(size, static_cast<std::size_t>(std::count(block, block + size, 0)))
            << "round " << round << ", " << size << " bytes";
        std::memset(block, 0x5a, size);
        blocks.emplace_back(block, size);
      }
    }
    for (auto const& block : blocks) MEM_MANAGER::delete_wrapper(block.first, "HOSTTEST");
  }
  zema_host::MEM_STATS const after = zema_host::mem_module_stats("HOSTTEST");
  EXPECT_EQ(before.live_bytes, after.live_bytes);
  EXPECT_EQ(before.live_blocks, after.live_blocks);
}

// The process's mapped and resident bytes, from /proc/self/statm; 0 where
// it cannot be read.
std::pair<std::size_t, std::size_t> mapped_and_resident_bytes() {
  std::FILE* const statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return {0, 0};
  unsigned long size = 0;
  unsigned long resident = 0;
  int const read = std::fscanf(statm, "%lu %lu", &size, &resident);
  std::fclose(statm);
  std::size_t const page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return read == 2 ? std::make_pair(size * page, resident * page) : std::make_pair(0ul, 0ul);
}

std::size_t resident_bytes() { return mapped_and_resident_bytes().second; }

// A populator with a lead keeps within its window of what its consumer has
// reached and follows the consumer as it moves, so a budget larger than the
// use leaves only the window unused. Once its consumer has paused for longer
// than the idle limit it ends, unless it is to wait until stopped.
TEST(HostMemory, LeadingPopulatorKeepsItsWindowAndFollowsItsConsumer) {
  std::size_t const page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  std::size_t const mib = std::size_t(1) << 20;
  std::size_t const bytes = 64 * mib;
  void* const mapping =
      mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(MAP_FAILED, mapping);
  char* const base = static_cast<char*>(mapping);
  std::vector<unsigned char> residency(bytes / page);
  auto resident = [&] {
    EXPECT_EQ(0, mincore(base, bytes, residency.data()));
    return page * static_cast<std::size_t>(std::count_if(residency.begin(), residency.end(),
                                                         [](unsigned char r) { return r & 1; }));
  };
  // Whether this kernel populates at all: older ones refuse, and an emulator
  // may accept the advice and do nothing. Elsewhere only the bounds hold.
#ifdef MADV_POPULATE_WRITE
  bool const populates = madvise(base, page, MADV_POPULATE_WRITE) == 0 && resident() == page;
#else
  bool const populates = madvise(base, page, 23) == 0 && resident() == page;
#endif
  // Waits up to two seconds for `wanted` bytes to be resident.
  auto reaches = [&](std::size_t wanted) {
    for (int i = 0; i < 400 && resident() < wanted; ++i) usleep(5000);
    return resident() >= wanted;
  };
  std::size_t const window = 4 * mib;
  // At most one step (a huge page) past the window, and where the kernel
  // backs the memory with huge pages, the rest of the last one.
  std::size_t const slack = 4 * mib + page;
  for (bool const until_stopped : {false, true}) {
    SCOPED_TRACE(until_stopped ? "until stopped" : "ends when idle");
    ASSERT_EQ(0, madvise(base, bytes, MADV_DONTNEED));
    std::atomic<std::size_t> consumed{1000};
    zema_host::PAGE_POPULATOR populator(
        {{base, base + bytes}},
        zema_host::PAGE_POPULATOR::LEAD{&consumed, 1000, window, until_stopped});
    if (populates) {
      EXPECT_TRUE(reaches(window));
    }
    usleep(50000);
    EXPECT_LE(resident(), window + slack) << "ran ahead of its consumer";
    consumed += 20 * mib;
    if (populates) {
      EXPECT_TRUE(reaches(20 * mib + window));
    }
    EXPECT_LE(resident(), 20 * mib + window + slack);
    // A pause past the idle limit (200 ms), then the consumer moves on.
    usleep(400000);
    consumed += 20 * mib;
    if (populates && until_stopped) {
      EXPECT_TRUE(reaches(40 * mib + window));
    } else {
      usleep(100000);
      EXPECT_LE(resident(), 20 * mib + window + slack) << "went on after its consumer paused";
    }
  }
  munmap(mapping, bytes);
}

// A populator that touches its pages only reads them: every byte that
// another thread writes while it runs over the same memory stays written,
// whether the writer is ahead of it or behind.
TEST(HostMemory, TouchingPopulatorLeavesConcurrentWritesAlone) {
  std::size_t const bytes = std::size_t(32) << 20;
  void* const mapping =
      mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  ASSERT_NE(MAP_FAILED, mapping);
  char* const base = static_cast<char*>(mapping);
  auto const pattern = [](std::size_t at) { return static_cast<char>(at * 131 % 251 + 1); };
  {
    std::unique_ptr<zema_host::PAGE_POPULATOR> const populator = zema_host::PAGE_POPULATOR::start(
        {{base, base + bytes}}, zema_host::PAGE_POPULATOR::READY::TOUCHED);
    for (std::size_t at = 0; at < bytes; at += 64) base[at] = pattern(at);
  }
  std::size_t lost = 0;
  for (std::size_t at = 0; at < bytes; at += 64) lost += base[at] != pattern(at);
  EXPECT_EQ(0u, lost);
  munmap(mapping, bytes);
}

// The address space the pools hold grows with what they hand out, so that a
// host under `ulimit -v` keeps room for its own memory; blocks from every
// part of it are freed and reused alike.
TEST(HostMemory, ReservesAddressSpaceInProportionToUse) {
  if (!zema_host::mem_pooled()) GTEST_SKIP() << "blocks come from the C library";
  if (mapped_and_resident_bytes().first == 0) GTEST_SKIP() << "no /proc/self/statm";
  zema_host::MEM_STATS const stats_before = zema_host::mem_module_stats("HOSTTEST");
  std::size_t const block = std::size_t(16) << 20;
  std::size_t const count = 40;  // 640 MiB, past the first reservation
  for (int round = 0; round < 2; ++round) {
    std::vector<void*> blocks;
    for (std::size_t i = 0; i < count; ++i) {
      blocks.push_back(MEM_MANAGER::new_wrapper(block, &g_char_thunk, __FILE__));
      static_cast<char*>(blocks.back())[block - 1] = static_cast<char>(i);
    }
    for (std::size_t i = 0; i < count; ++i) {
      EXPECT_EQ(static_cast<char*>(blocks[i])[block - 1], static_cast<char>(i));
    }
    for (std::size_t i = 0; i < count; i += 2) MEM_MANAGER::delete_wrapper(blocks[i], "HOSTTEST");
    for (std::size_t i = 1; i < count; i += 2) MEM_MANAGER::delete_wrapper(blocks[i], "HOSTTEST");
    // Twice what was used, and the rest of the process: not a reservation
    // made in advance for the largest design.
    EXPECT_LT(mapped_and_resident_bytes().first, 2 * count * block + (std::size_t(1) << 30))
        << "round " << round;
  }
  zema_host::MEM_STATS const stats_after = zema_host::mem_module_stats("HOSTTEST");
  EXPECT_EQ(stats_after.live_blocks, stats_before.live_blocks);
  EXPECT_EQ(stats_after.live_bytes, stats_before.live_bytes);
}

// A host that builds and drops big tables again and again, as a converter
// does on every init and clear, must run in the memory of one round: the
// bucket arrays of a growing table (each freed when the next is made) and
// the nodes beside them are served from what earlier rounds freed.
TEST(HostMemory, RebuildingBigTablesReusesFreedMemory) {
  if (!zema_host::mem_pooled()) GTEST_SKIP() << "blocks come from the C library";
  auto one_round = [] {
    std::vector<void*> nodes;
    void* buckets = nullptr;
    for (std::size_t size = std::size_t(64) << 10; size < (std::size_t(8) << 20);
         size += size / 2) {
      void* const grown = MEM_MANAGER::new_wrapper(size, &g_int_thunk, __FILE__);
      static_cast<char*>(grown)[size - 1] = 1;
      MEM_MANAGER::delete_wrapper(buckets, "HOSTTEST");
      buckets = grown;
      for (int i = 0; i < 4096; ++i) {
        nodes.push_back(MEM_MANAGER::new_wrapper(24, &g_int_thunk, __FILE__));
      }
    }
    MEM_MANAGER::delete_wrapper(buckets, "HOSTTEST");
    for (void* node : nodes) MEM_MANAGER::delete_wrapper(node, "HOSTTEST");
  };
  one_round();
  std::size_t const after_one = resident_bytes();
  if (after_one == 0) GTEST_SKIP() << "no /proc/self/statm";
  for (int round = 0; round < 12; ++round) one_round();
  // One round touches about 40 MiB; twelve more that took fresh memory
  // would add hundreds.
  EXPECT_LT(resident_bytes(), after_one + (std::size_t(16) << 20));
}

// Live blocks never share memory and always start zero-filled, whatever mix
// of pool blocks and spans is taken and freed: each block carries its own
// pattern from allocation until it is freed, and a block handed out twice
// would break another's. Then the same on two threads at once, while the
// memory is shared, each with patterns of its own.
TEST(HostMemory, LiveBlocksNeverOverlapUnderRandomReuse) {
  struct LIVE {
    unsigned char* data;
    std::size_t size;
    unsigned char mark;
  };
  static std::size_t const kSizes[] = {8, 24, 40, 200, 5000, 33000, 70000, 200000, 1 << 20};
  // Every byte equal to the first, by the library's compare: a byte loop takes minutes in the
  // unoptimised coverage build.
  auto filled_with = [](unsigned char const* data, std::size_t size, unsigned char mark) {
    return data[0] == mark && std::memcmp(data, data + 1, size - 1) == 0;
  };
  auto intact = [&](LIVE const& block) { return filled_with(block.data, block.size, block.mark); };
  // The first fault seen, or "".
  auto churn = [&](unsigned seed, unsigned char parity) -> std::string {
    std::mt19937 rng(seed);
    std::vector<LIVE> live;
    std::string fault;
    for (int step = 0; step < 6000 && fault.empty(); ++step) {
      if (!live.empty() && rng() % 5 < 2) {
        std::size_t const victim = rng() % live.size();
        if (!intact(live[victim])) fault = "step " + std::to_string(step) + ": overwritten";
        MEM_MANAGER::delete_wrapper(live[victim].data, "HOSTTEST");
        live[victim] = live.back();
        live.pop_back();
        continue;
      }
      std::size_t const size = kSizes[rng() % std::size(kSizes)];
      auto* const data =
          static_cast<unsigned char*>(MEM_MANAGER::new_wrapper(size, &g_int_thunk, __FILE__));
      if (!filled_with(data, size, 0)) {
        fault = "step " + std::to_string(step) + ": a reused block was not cleared";
      }
      unsigned char const mark = static_cast<unsigned char>(2 + 2 * (step % 120) + parity);
      std::memset(data, mark, size);
      live.push_back(LIVE{data, size, mark});
    }
    for (LIVE const& block : live) {
      if (!intact(block) && fault.empty()) fault = "overwritten at the end";
      MEM_MANAGER::delete_wrapper(block.data, "HOSTTEST");
    }
    return fault;
  };
  zema_host::MEM_STATS const before = zema_host::mem_module_stats("HOSTTEST");
  EXPECT_EQ(churn(3, 0), "");
  std::string faults[2];
  {
    zema_host::MEM_SHARING const sharing;
    std::thread other([&] { faults[1] = churn(4, 1); });
    faults[0] = churn(5, 0);
    other.join();
  }
  EXPECT_EQ(faults[0], "");
  EXPECT_EQ(faults[1], "");
  zema_host::MEM_STATS const after = zema_host::mem_module_stats("HOSTTEST");
  EXPECT_EQ(after.live_blocks, before.live_blocks);
  EXPECT_EQ(after.live_bytes, before.live_bytes);
}
