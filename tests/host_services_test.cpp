// Tests of the reference host: the design database (paths, lookups, ids,
// netlist), the memory manager, messages, and the text services behind the
// library's string table.
#include "host/zema_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "h/dbs_translator_sys.h"
#include "h/gen_sys.h"
#include "h/msg_sys.h"
#include "h/orb_sys.h"

namespace {

using zema_host::DESIGN;

std::string hpath(HDB_INSTANCE_NAME const* name, HDB_HPATH_FORMAT_TYPE format) {
  GEN_STRING out("stale content");
  GEN_STRING& result = name->get_short_hpath(&out, format);
  EXPECT_EQ(&out, &result);
  return out.c_str();
}

HDB_INSTANCE_NAME const* find(DESIGN const& design, std::string const& path,
                              bool unambiguous = true) {
  return design.root()->find_in_descendants(GEN_STRING(path.c_str()), unambiguous);
}

std::vector<HDB_INSTANCE_NAME const*> children(HDB_INSTANCE_NAME const* name) {
  std::vector<HDB_INSTANCE_NAME const*> result;
  for (HDB_CONST_NAME_ITERATOR it = name->begin_child(); it != name->end_child(); ++it) {
    result.push_back(*it);
  }
  return result;
}

// --- Design database -------------------------------------------------------------

TEST(HostDesign, UnambiguousPathsEscapeNamesAndNumberTwins) {
  DESIGN design;
  HDB_INSTANCE_NAME const* root = design.set_root("", 1);
  HDB_INSTANCE_NAME const* top = design.add_child(root, "top", 2);
  struct CASE {
    char const* unit_name;
    char const* path;
    char const* display;
  } const cases[] = {
      {"a/b", "top/a\\/b", "top/a/b"}, {"c\\d", "top/c\\\\d", "top/c\\d"},
      {"", "top/\\.", "top/"},         {"x", "top/x", "top/x"},
      {"x", "top/x\\#1", "top/x"},     {"", "top/\\.\\#1", "top/"},
      {"x", "top/x\\#2", "top/x"},     {"x#1", "top/x#1", "top/x#1"},
      {"\\.", "top/\\\\.", "top/\\."}, {"X", "top/X", "top/X"},
  };
  std::vector<HDB_INSTANCE_NAME const*> made;
  for (CASE const& c : cases) made.push_back(design.add_child(top, c.unit_name, 0));
  for (std::size_t i = 0; i < made.size(); ++i) {
    EXPECT_EQ(cases[i].path, hpath(made[i], HDB_HPATH_FORMAT_UNAMBIGUOUS));
    EXPECT_EQ(cases[i].display, hpath(made[i], HDB_HPATH_FORMAT_DISPLAY));
    EXPECT_EQ(made[i], find(design, cases[i].path)) << cases[i].path;
  }
  EXPECT_EQ("", hpath(root, HDB_HPATH_FORMAT_UNAMBIGUOUS));
  EXPECT_EQ(top, find(design, "top"));
  // The display format names the first sibling of a name.
  EXPECT_EQ(made[3], find(design, "top/x", false));
  EXPECT_EQ(made[2], find(design, "top/", false));
  EXPECT_EQ(nullptr, find(design, "top/y", false));
}

TEST(HostDesign, FindInDescendantsRejectsMalformedOrMissingPaths) {
  DESIGN design;
  HDB_INSTANCE_NAME const* root = design.set_root("", 1);
  HDB_INSTANCE_NAME const* a = design.add_child(root, "a", 2);
  design.add_child(a, "x", 3);
  design.add_child(a, "x", 4);
  char const* const bad[] = {
      "",       "a/",      "/a",    "a//x", "a\\",      "a/x\\#0",     "a/x\\#01",
      "a/x\\#", "a/x\\#2", "a/\\q", "\\.a", "a/x\\#1y", "a/x\\#1\\#1", "a/x\\#99999999999",
      "b",      "a/x/y",   "a\\#1"};
  for (char const* path : bad) EXPECT_EQ(nullptr, find(design, path)) << path;
  EXPECT_EQ(nullptr, find(design, "", false));
  for (bool unambiguous : {true, false}) {
    EXPECT_EQ(nullptr, root->find_in_descendants(GEN_STRING("a/x\0", 4), unambiguous));
  }
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
    std::string name;
    for (auto len = rng() % 3; len > 0; --len) name.push_back(alphabet[rng() % sizeof alphabet]);
    // Early instances get more children, so some parents have long sibling lists.
    HDB_INSTANCE_NAME const* parent = all[rng() % (all.size() < 50 ? all.size() : 50)];
    if (rng() % 2) parent = all[rng() % all.size()];
    parents.push_back(parent);
    all.push_back(design.add_child(parent, name.c_str(), id));
    // Interleave queries with building, so indexes see children appended later.
    if (id % 500 == 0) {
      EXPECT_EQ(all.back(), find(design, hpath(all.back(), HDB_HPATH_FORMAT_UNAMBIGUOUS)));
    }
  }
  for (std::size_t i = 1; i < all.size(); ++i) {
    std::string path = hpath(all[i], HDB_HPATH_FORMAT_UNAMBIGUOUS);
    ASSERT_EQ(all[i], find(design, path)) << path;
    EXPECT_EQ(i + 1, HDB_NAME_MGR::get_iname_id(all[i]));
    EXPECT_EQ(parents[i], zema_host::parent_of(all[i]));
  }
}

TEST(HostDesign, FlatDesignAnswersManyLookups) {
  // Linear-time lookups would make this quadratic.
  DESIGN design;
  HDB_INSTANCE_NAME const* root = design.set_root("", 1);
  constexpr unsigned kCount = 50000;
  design.reserve(kCount + 1, 0, 0);
  std::vector<HDB_INSTANCE_NAME const*> made;
  for (unsigned i = 0; i < kCount; ++i) {
    // Every name twice, and one name for a tenth of them: long twin runs.
    std::string name = i % 10 == 0 ? "same" : "n" + std::to_string(i / 2);
    made.push_back(design.add_child(root, name.c_str(), i + 2));
  }
  for (unsigned i = 0; i < kCount; ++i) {
    ASSERT_EQ(made[i], find(design, hpath(made[i], HDB_HPATH_FORMAT_UNAMBIGUOUS)));
  }
  EXPECT_EQ("same\\#4999", hpath(made[kCount - 10], HDB_HPATH_FORMAT_UNAMBIGUOUS));
}

TEST(HostDesign, NamesChildrenAndIds) {
  DESIGN design;
  EXPECT_EQ(nullptr, design.action_point()->get_m_rooted_at());
  HDB_INSTANCE_NAME const* root = design.set_root("", 7);
  EXPECT_EQ(root, design.action_point()->get_m_rooted_at());
  EXPECT_TRUE(children(root).empty());
  HDB_INSTANCE_NAME const* a = design.add_child(root, "a", 8);
  design.add_null_child(root);
  HDB_INSTANCE_NAME const* b = design.add_child(root, "b", 0);
  HDB_INSTANCE_NAME const* free_name = design.add_free_name("free", 9);
  EXPECT_EQ((std::vector<HDB_INSTANCE_NAME const*>{a, nullptr, b}), children(root));
  EXPECT_EQ(b, find(design, "b"));  // null children are skipped by lookups
  EXPECT_STREQ("a", a->get_unit_name().get_string());
  EXPECT_STREQ("", HDB_IDENTIFIER(nullptr).get_string());
  EXPECT_EQ(7u, HDB_NAME_MGR::get_iname_id(root));
  EXPECT_EQ(8u, HDB_NAME_MGR::get_iname_id(a));
  EXPECT_EQ(0u, HDB_NAME_MGR::get_iname_id(b));
  EXPECT_EQ(0u, HDB_NAME_MGR::get_iname_id(nullptr));
  EXPECT_EQ(9u, HDB_NAME_MGR::get_iname_id(free_name));
  EXPECT_EQ(root, zema_host::parent_of(a));
  EXPECT_EQ(nullptr, zema_host::parent_of(root));
  EXPECT_EQ(nullptr, zema_host::parent_of(free_name));
}

TEST(HostDesign, NetlistKeepsAtomAndOtermOrderWithNullEntries) {
  DESIGN design;
  CDB_ATOM_NETLIST* netlist = design.netlist();
  EXPECT_EQ(netlist->end_node_list(), netlist->begin_node_list());
  HDB_INSTANCE_NAME const* name = design.add_free_name("n", 3);
  // Oterms added to the atoms in turn, so their sequences have to move.
  std::vector<CDB_ATOM_NODE*> atoms = {design.add_atom(CDB_ATOM_LUT, name),
                                       design.add_atom(CDB_ATOM_LUT, nullptr),
                                       design.add_atom(CDB_ATOM_LUT, nullptr)};
  std::vector<std::vector<CDB_ATOM_OTERM*>> expected(3);
  design.add_null_atom();
  for (int round = 0; round < 40; ++round) {
    for (int i = 0; i < 3; ++i) {
      if ((round + i) % 7 == 0) {
        design.add_null_oterm(atoms[i]);
        expected[i].push_back(nullptr);
      } else {
        expected[i].push_back(design.add_oterm(atoms[i], round % 2 ? name : nullptr));
      }
    }
  }
  std::vector<CDB_ATOM_NODE*> listed;
  for (CDB_ATOM_NODE_LINK* link = netlist->begin_node_list(); link != netlist->end_node_list();
       link = link->m_next) {
    listed.push_back(link->m_node);
  }
  EXPECT_EQ((std::vector<CDB_ATOM_NODE*>{atoms[0], atoms[1], atoms[2], nullptr}), listed);
  for (int i = 0; i < 3; ++i) {
    std::vector<CDB_ATOM_OTERM*> seen;
    for (CDB_ATOM_OTERM_ITERATOR it = atoms[i]->begin_oterm(); it != atoms[i]->end_oterm(); ++it) {
      seen.push_back(*it);
      if (*it != nullptr) {
        EXPECT_EQ(atoms[i], (*it)->get_my_node());
      }
    }
    EXPECT_EQ(expected[i], seen);
  }
  EXPECT_EQ(name, atoms[0]->get_instance_name());
  EXPECT_EQ(nullptr, atoms[1]->get_instance_name());
  EXPECT_EQ(CDB_ATOM_LUT, atoms[0]->get_basic_type());
  CDB_ATOM_OTERM* orphan = design.add_orphan_oterm(name);
  EXPECT_EQ(nullptr, orphan->get_my_node());
  EXPECT_EQ(name, orphan->get_instance_name());
}

// --- Memory manager --------------------------------------------------------------

MEM_TRACKER_THUNK g_test_thunk = {&typeid(int), 4, 1, "HOSTTEST", false, 0, 0, 0};
MEM_TRACKER_THUNK g_test_thunk2 = {&typeid(char), 1, 1, "HOSTTEST", false, 0, 0, 0};

TEST(HostMemory, BlocksAreZeroFilledAlignedAndCounted) {
  zema_host::MEM_STATS before = zema_host::mem_module_stats("HOSTTEST");
  std::vector<void*> blocks;
  for (std::size_t size : {0u, 1u, 24u, 4096u, 100000u}) {
    unsigned char* block =
        static_cast<unsigned char*>(MEM_MANAGER::new_wrapper(size, &g_test_thunk, __FILE__));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(0u, reinterpret_cast<std::uintptr_t>(block) % (2 * sizeof(void*)));
    for (std::size_t i = 0; i < size; ++i) ASSERT_EQ(0, block[i]);
    std::memset(block, 0xab, size);
    blocks.push_back(block);
  }
  blocks.push_back(MEM_MANAGER::new_wrapper(10, &g_test_thunk2, __FILE__));
  zema_host::MEM_STATS during = zema_host::mem_module_stats("HOSTTEST");
  EXPECT_EQ(before.live_bytes + 104131, during.live_bytes);
  EXPECT_EQ(before.live_blocks + 6, during.live_blocks);
  EXPECT_EQ(before.total_blocks + 6, during.total_blocks);
  for (void* block : blocks) MEM_MANAGER::delete_wrapper(block, "HOSTTEST");
  MEM_MANAGER::delete_wrapper(nullptr, "HOSTTEST");
  zema_host::MEM_STATS after = zema_host::mem_module_stats("HOSTTEST");
  EXPECT_EQ(before.live_bytes, after.live_bytes);
  EXPECT_EQ(before.live_blocks, after.live_blocks);
  EXPECT_EQ(during.total_blocks, after.total_blocks);
  EXPECT_EQ(0u, zema_host::mem_module_stats("NO SUCH MODULE").total_blocks);
}

TEST(HostMemory, FailAfterThrowsAtExactlyTheChosenAllocation) {
  for (long n : {0L, 1L, 5L}) {
    zema_host::mem_fail_after(n);
    std::vector<void*> blocks;
    for (long i = 0; i < n; ++i)
      blocks.push_back(MEM_MANAGER::new_wrapper(8, &g_test_thunk, __FILE__));
    zema_host::MEM_STATS before = zema_host::mem_module_stats("HOSTTEST");
    EXPECT_THROW(MEM_MANAGER::new_wrapper(8, &g_test_thunk, __FILE__), std::bad_alloc) << n;
    EXPECT_EQ(before.total_blocks, zema_host::mem_module_stats("HOSTTEST").total_blocks);
    blocks.push_back(MEM_MANAGER::new_wrapper(8, &g_test_thunk, __FILE__));  // one-shot
    for (void* block : blocks) MEM_MANAGER::delete_wrapper(block, "HOSTTEST");
  }
  zema_host::mem_fail_after(-1);
  EXPECT_THROW(MEM_MANAGER::new_wrapper(static_cast<std::size_t>(-1), &g_test_thunk, __FILE__),
               std::bad_alloc);
}

TEST(HostMemory, ClosingModuleReportsWhatItStillHolds) {
  // Tracking records are static: the host keeps every record it has seen.
  static MEM_TRACKER_THUNK thunk = {&typeid(int), 4, 1, "LEAKY", false, 0, 0, 0};
  std::size_t reports = zema_host::mem_close_reports().size();
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

// --- Messages --------------------------------------------------------------------

bool debug(char* module, char const* format, ...) {
  va_list args;
  va_start(args, format);
  bool printed = msg_local_vdebug(module, format, args);
  va_end(args);
  return printed;
}

TEST(HostMessages, DebugLinesCarryTheModuleOnce) {
  char module[] = "ZEMA";
  zema_host::clear_debug_lines();
  zema_host::set_debug_output(false);
  EXPECT_FALSE(debug(module, "hidden %d", 1));
  zema_host::set_debug_output(true);
  EXPECT_TRUE(debug(module, "value %d of %s", 42, "x"));
  EXPECT_TRUE(debug(module, "ZEMA: Initializing..."));
  std::string long_text(300, 'y');
  EXPECT_TRUE(debug(module, "%s|%s", long_text.c_str(), long_text.c_str()));
  zema_host::set_debug_output(false);
  std::vector<std::string> const& lines = zema_host::debug_lines();
  ASSERT_EQ(3u, lines.size());
  EXPECT_EQ("ZEMA: value 42 of x", lines[0]);
  EXPECT_EQ("ZEMA: Initializing...", lines[1]);
  EXPECT_EQ("ZEMA: " + long_text + "|" + long_text, lines[2]);
  zema_host::clear_debug_lines();
}

TEST(HostMessages, InternalErrorsAreRecordedNotFatal) {
  zema_host::set_internal_error_echo(false);
  zema_host::clear_internal_errors();
  MSG_INTERNAL_ERROR::report("atom != nullptr", "ZEMA", "zema_name_converter", 123);
  zema_host::set_internal_error_echo(true);
  ASSERT_EQ(1u, zema_host::internal_errors().size());
  zema_host::INTERNAL_ERROR const& error = zema_host::internal_errors()[0];
  EXPECT_EQ("atom != nullptr", error.condition);
  EXPECT_EQ("ZEMA", error.module);
  EXPECT_EQ("zema_name_converter", error.file);
  EXPECT_EQ(123, error.line);
  zema_host::clear_internal_errors();
}

// --- Text services ---------------------------------------------------------------

TEST(HostText, ItoaReplacesContent) {
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

TEST(HostText, HashSpreadsSimilarNamesOverPrimeBuckets) {
  ORB_CSTR_OPS ops;
  EXPECT_EQ(ops.hash("reg_17"), ops.hash(std::string("reg_17").c_str()));
  EXPECT_TRUE(ops.equal("a", "a"));
  EXPECT_FALSE(ops.equal("a", "ab"));
  for (unsigned buckets : {61u, 1021u}) {
    std::vector<unsigned> load(buckets);
    unsigned const names = buckets * 20;
    for (unsigned i = 0; i < names; ++i) {
      ++load[ops.hash(("top/core/reg_" + std::to_string(i)).c_str()) % buckets];
    }
    unsigned worst = 0;
    for (unsigned l : load) worst = std::max(worst, l);
    EXPECT_LT(worst, 40u) << buckets;  // mean 20; a clustering hash goes far beyond
  }
}

bool is_prime(unsigned n) {
  if (n < 2) return false;
  for (std::uint64_t d = 2; d * d <= n; ++d) {
    if (n % d == 0) return false;
  }
  return true;
}

TEST(HostText, GrowthIsAboutHalfAgainAndNeverBelowWanted) {
  zema_host::clear_growth_requests();
  unsigned const wanted_values[] = {
      0, 1, 2, 3, 61, 62, 1000, 65536, 1000003, 0x7fffffffu, 0xaaaaaaaau, 0xfffffffeu, 0xffffffffu};
  for (unsigned wanted : wanted_values) {
    unsigned size = orb_hash_50_percent_increase_size(wanted);
    EXPECT_NE(0u, size);
    EXPECT_GE(size, wanted);
    EXPECT_TRUE(size % 2 == 1 || size == 2) << wanted;
    if (wanted >= 4 && wanted < 0xa0000000u) {
      EXPECT_GE(size, wanted + wanted / 2);
      EXPECT_TRUE(is_prime(size)) << size;
      EXPECT_LE(size, wanted + wanted / 2 + wanted / 50 + 10) << wanted;
    }
  }
  EXPECT_EQ(std::vector<unsigned>(std::begin(wanted_values), std::end(wanted_values)),
            zema_host::growth_requests());
  zema_host::clear_growth_requests();
}

TEST(HostText, ChunkManagerKeepsCopiesStableAndFreesItsChunks) {
  zema_host::MEM_STATS before = zema_host::mem_module_stats("ORB");
  {
    ORB_STRING_CHUNK_MGR chunks;
    std::vector<std::pair<std::string, char const*>> written;
    std::string huge(200000, 'h');
    std::mt19937 rng(5);
    for (int i = 0; i < 20000; ++i) {
      std::string text =
          i == 7000 ? huge : std::string(rng() % 40, static_cast<char>('a' + i % 26));
      char const* copy = chunks.write(text.c_str());
      ASSERT_NE(text.c_str(), copy);
      written.emplace_back(text, copy);
    }
    for (auto const& w : written) ASSERT_STREQ(w.first.c_str(), w.second);
    EXPECT_GT(zema_host::mem_module_stats("ORB").live_bytes, before.live_bytes + huge.size());
  }
  EXPECT_EQ(before.live_bytes, zema_host::mem_module_stats("ORB").live_bytes);
  EXPECT_EQ(before.live_blocks, zema_host::mem_module_stats("ORB").live_blocks);
}

TEST(HostText, AtomTypeNamesRoundTrip) {
  DBS_TRANSLATOR translator;
  EXPECT_STREQ("HardIP", translator.get_debug_string_name(CDB_ATOM_HARDIP));
  EXPECT_STREQ("UNKNOWN", translator.get_debug_string_name(CDB_ATOM_BASIC_TYPE_COUNT));
  EXPECT_STREQ("UNKNOWN", zema_host::atom_type_name(-1));
  for (int type = 0; type < CDB_ATOM_BASIC_TYPE_COUNT; ++type) {
    EXPECT_STREQ(zema_host::atom_type_name(type),
                 translator.get_debug_string_name(static_cast<CDB_ATOM_BASIC_TYPE>(type)));
    EXPECT_EQ(type, zema_host::atom_type_from_name(zema_host::atom_type_name(type)));
  }
  EXPECT_EQ(CDB_ATOM_TEMP_SENSOR, zema_host::atom_type_from_name("temp_SENSOR"));
  EXPECT_EQ(-1, zema_host::atom_type_from_name("TEMP"));
  EXPECT_EQ(-1, zema_host::atom_type_from_name(nullptr));
}

}  // namespace
