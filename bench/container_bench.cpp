// Benchmarks of the containers on a million keys: ORB_HASH insert and lookup
// by id next to std::unordered_map on the same ids, ORB_STRING_TABLE interning
// and lookup, a children index keyed by interned names (the root's index of a
// flat million-instance design), and the throughput of the text hashes.
//
// Inserts build a fresh table per iteration, after one untimed table of the
// same size, and destroy it with the timer paused. Lookups do one lookup per
// iteration, in a fixed random order of the keys, against a table built
// before the loop.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "bench/bench_support.h"
#include "containers/orb_hash.h"
#include "containers/orb_ops.h"
#include "containers/orb_string_table.h"

namespace zema_bench {
namespace {

std::size_t const kKeys = 1000000;

typedef ORB_HASH<unsigned, unsigned, ORB_OPS<unsigned>> ID_TABLE;
typedef std::unordered_map<unsigned, unsigned> STD_ID_TABLE;
typedef ORB_STRING_TABLE<ORB_CSTR_OPS> NAME_TABLE;
typedef ORB_HASH<char const*, unsigned, ZEMA_NAME_CSTR_OPS> CHILD_TABLE;

enum class IDS {
  DENSE,  // 1, 2, 3, ...: how the design database hands ids out
  SPARSE  // scattered over the whole 32-bit range
};

char const* ids_name(IDS kind) { return kind == IDS::DENSE ? "dense" : "sparse"; }

// A bijection of 32-bit values (the murmur3 finaliser), so that scattered ids
// stay distinct and none is 0.
unsigned scatter(unsigned x) {
  x ^= x >> 16;
  x *= 0x85ebca6bu;
  x ^= x >> 13;
  x *= 0xc2b2ae35u;
  x ^= x >> 16;
  return x;
}

template <class T>
std::vector<T> shuffled(std::vector<T> values) {
  std::mt19937 random(20261205);
  std::shuffle(values.begin(), values.end(), random);
  return values;
}

struct ID_SET {
  std::vector<unsigned> inserted;  // insertion order
  std::vector<unsigned> probes;    // the same ids in lookup order
};

ID_SET const& ids(IDS kind) {
  static ID_SET s_sets[2];
  ID_SET& set = s_sets[kind == IDS::DENSE ? 0 : 1];
  if (set.inserted.empty()) {
    set.inserted.resize(kKeys);
    for (std::size_t i = 0; i < kKeys; ++i) {
      unsigned const n = static_cast<unsigned>(i + 1);
      set.inserted[i] = kind == IDS::DENSE ? n : scatter(n);
    }
    set.probes = shuffled(set.inserted);
  }
  return set;
}

// A million distinct names in the legal form the converter interns, packed in
// one pool.
struct NAME_SET {
  std::string pool;
  std::vector<char const*> texts;   // pool order
  std::vector<char const*> probes;  // the same texts in lookup order
  std::vector<int> lengths;         // pool order
  int64_t bytes = 0;                // total length of the texts
};

NAME_SET const& names() {
  static NAME_SET s_names;
  if (s_names.texts.empty()) {
    char const* const formats[] = {
        "areg_%zu",    "data_q[%zu]", "u%zu",        "a_auto_simplemap_cc_278_mux_%zu",
        "add_%zu_sum", "n%zu",        "state_q_%zu", "lut%zu",
        "w%zu"};
    std::size_t const format_count = sizeof formats / sizeof formats[0];
    std::vector<std::size_t> offsets;
    offsets.reserve(kKeys);
    char text[64];
    for (std::size_t i = 0; i < kKeys; ++i) {
      int const length = std::snprintf(text, sizeof text, formats[i % format_count], i);
      offsets.push_back(s_names.pool.size());
      s_names.pool.append(text, static_cast<std::size_t>(length) + 1);
      s_names.lengths.push_back(length);
      s_names.bytes += length;
    }
    for (std::size_t offset : offsets) s_names.texts.push_back(s_names.pool.data() + offset);
    s_names.probes = shuffled(s_names.texts);
  }
  return s_names;
}

// --- Ids -----------------------------------------------------------------------

template <class TABLE>
void fill(TABLE& table, std::vector<unsigned> const& keys) {
  for (unsigned id : keys) table[id] = id;
}

// Growing rehashes every entry each time; a table sized up front does not.
void presize(ID_TABLE& table, std::size_t count) { table.resize(static_cast<unsigned>(count)); }
void presize(STD_ID_TABLE& table, std::size_t count) { table.reserve(count); }
void presize(NAME_TABLE& table, std::size_t count) { table.resize(static_cast<unsigned>(count)); }

template <class TABLE>
void id_insert(benchmark::State& state, IDS kind, bool presized) {
  std::vector<unsigned> const& keys = ids(kind).inserted;
  {
    // Untimed: brings the heap to the size the timed tables reuse.
    TABLE warm_up;
    fill(warm_up, keys);
  }
  ALLOCATION_PROBE const probe;
  for (auto _ : state) {
    {
      TABLE table;
      if (presized) presize(table, keys.size());
      fill(table, keys);
      benchmark::ClobberMemory();
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  probe.report(state, static_cast<double>(kKeys));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kKeys));
}

// Looks up `probes` through find(key), which gives null or the value.
template <class FIND>
void id_lookups(benchmark::State& state, std::vector<unsigned> const& probes, FIND find) {
  std::size_t misses = 0;
  std::size_t i = 0;
  ALLOCATION_PROBE const probe;
  for (auto _ : state) {
    unsigned const* const value = find(probes[i]);
    if (!value) ++misses;
    benchmark::DoNotOptimize(value);
    if (++i == probes.size()) i = 0;
  }
  probe.require_no_zema_blocks(state);
  state.SetItemsProcessed(state.iterations());
  if (misses != 0) state.SkipWithError("a stored id was not found");
}

template <class TABLE>
TABLE& filled_table(char const* what, IDS kind) {
  return keep<TABLE>(std::string(what) + "/" + ids_name(kind), [kind] {
    auto table = std::make_unique<TABLE>();
    fill(*table, ids(kind).inserted);
    return table;
  });
}

void orb_hash_lookup(benchmark::State& state, IDS kind) {
  ID_TABLE const& table = filled_table<ID_TABLE>("orb_hash", kind);
  report_chains(state, table.m_buckets, table.m_bucket_count);
  id_lookups(state, ids(kind).probes, [&](unsigned id) -> unsigned const* {
    ID_TABLE::NODE const* const node = table.hash_search(id, id);
    return node ? &node->m_value : nullptr;
  });
}

void std_map_lookup(benchmark::State& state, IDS kind) {
  STD_ID_TABLE const& table = filled_table<STD_ID_TABLE>("std_map", kind);
  id_lookups(state, ids(kind).probes, [&](unsigned id) -> unsigned const* {
    STD_ID_TABLE::const_iterator const found = table.find(id);
    return found != table.end() ? &found->second : nullptr;
  });
}

// --- Names ---------------------------------------------------------------------

void intern_all(NAME_TABLE& table, std::vector<char const*> const& texts) {
  for (char const* text : texts) table.insert_helper(table.m_ops.hash(text), text);
}

void string_table_intern(benchmark::State& state, bool presized) {
  NAME_SET const& set = names();
  {
    NAME_TABLE warm_up;
    intern_all(warm_up, set.texts);
  }
  ALLOCATION_PROBE const probe;
  for (auto _ : state) {
    {
      NAME_TABLE table;
      if (presized) presize(table, set.texts.size());
      intern_all(table, set.texts);
      benchmark::ClobberMemory();
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  probe.report(state, static_cast<double>(kKeys));
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(kKeys));
  state.SetBytesProcessed(state.iterations() * set.bytes);
}

// find() of texts that are equal to interned ones but live elsewhere, as the
// segments of a reverse lookup do.
void string_table_find(benchmark::State& state) {
  NAME_SET const& set = names();
  NAME_TABLE const& table = keep<NAME_TABLE>("name_table", [&set] {
    auto table = std::make_unique<NAME_TABLE>();
    intern_all(*table, set.texts);
    return table;
  });
  report_chains(state, table.m_buckets, table.m_bucket_count);
  std::size_t misses = 0;
  std::size_t i = 0;
  ALLOCATION_PROBE const probe;
  for (auto _ : state) {
    char const* const found = table.find(set.probes[i]);
    if (!found) ++misses;
    benchmark::DoNotOptimize(found);
    if (++i == kKeys) i = 0;
  }
  probe.require_no_zema_blocks(state);
  state.SetItemsProcessed(state.iterations());
  if (misses != 0) state.SkipWithError("an interned text was not found");
}

// Lookups by interned pointer among a million children, the way reverse
// lookups and sibling clash tests search a parent's children index.
struct CHILDREN {
  NAME_TABLE names;
  CHILD_TABLE index;
  std::vector<char const*> probes;  // the interned names in lookup order
};

void children_index_lookup(benchmark::State& state) {
  CHILDREN const& fixture = keep<CHILDREN>("children", [] {
    auto fixture = std::make_unique<CHILDREN>();
    for (char const* text : names().texts) {
      char const* const name =
          fixture->names.insert_helper(fixture->names.m_ops.hash(text), text)->m_text;
      fixture->index[name] = static_cast<unsigned>(fixture->probes.size());
      fixture->probes.push_back(name);
    }
    fixture->probes = shuffled(fixture->probes);
    return fixture;
  });
  CHILD_TABLE const& children = fixture.index;
  report_chains(state, children.m_buckets, children.m_bucket_count);
  std::size_t misses = 0;
  std::size_t i = 0;
  ALLOCATION_PROBE const probe;
  for (auto _ : state) {
    char const* const name = fixture.probes[i];
    CHILD_TABLE::NODE const* const node = children.hash_search(children.m_ops.hash(name), name);
    if (!node) ++misses;
    benchmark::DoNotOptimize(node);
    if (++i == kKeys) i = 0;
  }
  probe.require_no_zema_blocks(state);
  state.SetItemsProcessed(state.iterations());
  if (misses != 0) state.SkipWithError("a child was not found");
}

// Hashes the names in pool order, one per iteration.
template <class HASH>
void text_hash(benchmark::State& state, HASH hash_of) {
  NAME_SET const& set = names();
  int64_t bytes = 0;
  std::size_t i = 0;
  for (auto _ : state) {
    char const* const text = set.texts[i];
    benchmark::DoNotOptimize(hash_of(text));
    bytes += set.lengths[i];
    if (++i == kKeys) i = 0;
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(bytes);
}

}  // namespace

void register_container_benchmarks() {
  for (IDS kind : {IDS::DENSE, IDS::SPARSE}) {
    std::string const suffix = std::string("/") + ids_name(kind);
    benchmark::RegisterBenchmark(("OrbHashInsert" + suffix).c_str(), [kind](
                                                                         benchmark::State& state) {
      id_insert<ID_TABLE>(state, kind, false);
    })->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(
        ("StdUnorderedMapInsert" + suffix).c_str(),
        [kind](benchmark::State& state) { id_insert<STD_ID_TABLE>(state, kind, false); })
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("OrbHashLookup" + suffix).c_str(),
                                 [kind](benchmark::State& state) { orb_hash_lookup(state, kind); });
    benchmark::RegisterBenchmark(("StdUnorderedMapLookup" + suffix).c_str(),
                                 [kind](benchmark::State& state) { std_map_lookup(state, kind); });
  }
  benchmark::RegisterBenchmark("OrbHashInsert/sparse/presized", [](benchmark::State& state) {
    id_insert<ID_TABLE>(state, IDS::SPARSE, true);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("OrbStringTableIntern", [](benchmark::State& state) {
    string_table_intern(state, false);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("OrbStringTableIntern/presized", [](benchmark::State& state) {
    string_table_intern(state, true);
  })->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("OrbStringTableFind", string_table_find);
  benchmark::RegisterBenchmark("ChildrenIndexLookup", children_index_lookup);
  // The policy hash is inline; the host's text hash is an out-of-line call.
  benchmark::RegisterBenchmark("TextHash/zema_name_cstr_ops", [](benchmark::State& state) {
    ZEMA_NAME_CSTR_OPS const ops;
    text_hash(state, [ops](char const* text) { return ops.hash(text); });
  });
  benchmark::RegisterBenchmark("TextHash/orb_cstr_ops", [](benchmark::State& state) {
    ORB_CSTR_OPS const ops;
    text_hash(state, [ops](char const* text) { return ops.hash(text); });
  });
  benchmark::RegisterBenchmark("TextHash/std_hash", [](benchmark::State& state) {
    std::hash<std::string_view> const hash;
    text_hash(state, [hash](char const* text) {
      return static_cast<unsigned>(hash(std::string_view(text)));
    });
  });
}

}  // namespace zema_bench
