// Benchmarks of the two converters on synthetic designs: the fusion
// converter's init, per-atom queries of both converters over whole designs,
// and how full names and reverse lookups grow with the depth of a name.
//
// Query benchmarks do one query per iteration, walking the atoms in netlist
// order (reverse lookups walk a sample of the atoms' full names) and starting
// over at the end. Each one fails if the loop allocated a tracked block.
#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "bench/baseline_converter.h"
#include "bench/bench_support.h"
#ifdef ZEMA_BENCH_REPLICA
#include "tools/support/tool_error.h"
#endif

namespace zema_bench {
namespace {

// Reverse lookups cycle over the full names of this many atoms, spread evenly
// over the netlist: a million names of a deep design would not fit in memory.
std::size_t const kSampleSize = 2048;
std::size_t const kProbeLeaves = 1000;
std::size_t const kProbeDepths[] = {1, 10, 100, 1000, 5000};

unsigned atom_id(CDB_ATOM_NODE const* atom) {
  return HDB_NAME_MGR::get_iname_id(atom->get_instance_name());
}

// Full names, without the leading backslash, and the ids they stand for.
struct SAMPLE {
  std::vector<std::string> names;
  std::vector<unsigned> ids;
};

// A design and what the query benchmarks need of it: a converter of each kind
// initialised on it and a sample of full names. Each part is made on first
// use, outside any timed loop.
class FIXTURE {
 public:
  explicit FIXTURE(std::unique_ptr<SYNTHETIC_DESIGN> design) : m_design(std::move(design)) {}

  SYNTHETIC_DESIGN& design() { return *m_design; }
  char const* error() const { return m_error.c_str(); }

  // Room for the longest name of the design, so that a result string reserved
  // this large never grows inside a timed loop.
  std::size_t name_capacity() const { return m_design->max_depth * 64 + 256; }

  // The converter of `kind` initialised on the design; null when its init
  // reported a broken invariant (error() says which).
  ZEMA_NAME_CONVERTER* converter(ZEMA_NAME_CONVERTER_ENUM kind) {
    std::unique_ptr<ZEMA_NAME_CONVERTER>& slot = m_converters[kind];
    if (!slot) {
      if (kind == ZEMA_NAME_CONVERTER_FUSION) m_bytes_before_fusion = library_live_bytes();
      zema_host::clear_internal_errors();
      slot.reset(new ZEMA_NAME_CONVERTER(kind));
      slot->init(m_design->host().action_point(), m_design->host().netlist());
      if (kind == ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE) warm_up(*slot);
      if (!zema_host::internal_errors().empty()) {
        m_error = "init reported: " + zema_host::internal_errors().front().condition;
      }
    }
    return m_error.empty() ? slot.get() : nullptr;
  }

  // Tracked bytes the library held before the fusion converter was made.
  unsigned long long bytes_before_fusion() const { return m_bytes_before_fusion; }

  SAMPLE const& sample(ZEMA_NAME_CONVERTER_ENUM kind) {
    SAMPLE& sample = m_samples[kind];
    ZEMA_NAME_CONVERTER* const converter = this->converter(kind);
    if (!sample.names.empty() || !converter) return sample;
    std::vector<CDB_ATOM_NODE*> const& atoms = m_design->atoms;
    std::size_t const count = std::min(kSampleSize, atoms.size());
    GEN_STRING name;
    for (std::size_t k = 0; k < count; ++k) {
      CDB_ATOM_NODE* const atom = atoms[k * atoms.size() / count];
      if (!converter->get_converted_full_name(&name, atom, true)) continue;
      sample.names.emplace_back(name.c_str(), name.size());
      sample.ids.push_back(atom_id(atom));
    }
    return sample;
  }

 private:
  // The reference host builds the lookup index of an instance's children on
  // the first path query below it; one query per distinct parent builds them
  // all. The converter's scratch path is given room for the longest path, as
  // it would have after a long run. Timed queries then see the steady state.
  void warm_up(ZEMA_NAME_CONVERTER& converter) {
    auto& reversible = static_cast<ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL&>(*converter.m_impl);
    reversible.m_path.reserve(name_capacity());
    GEN_STRING name;
    std::unordered_set<HDB_INSTANCE_NAME const*> parents;
    for (CDB_ATOM_NODE* atom : m_design->atoms) {
      if (parents.insert(zema_host::parent_of(atom->get_instance_name())).second) {
        converter.get_converted_full_name(&name, atom, true);
      }
    }
  }

  // Declared first, destroyed last: the converters borrow the design.
  std::unique_ptr<SYNTHETIC_DESIGN> m_design;
  std::unique_ptr<ZEMA_NAME_CONVERTER> m_converters[2];
  SAMPLE m_samples[2];
  std::string m_error;
  unsigned long long m_bytes_before_fusion = 0;
};

FIXTURE& design_fixture(SHAPE shape, std::size_t instances) {
  return keep<FIXTURE>(std::string(shape_name(shape)) + "/" + std::to_string(instances), [=] {
#ifdef ZEMA_BENCH_REPLICA
    if (shape == SHAPE::REPLICA) return std::make_unique<FIXTURE>(make_replica(instances));
#endif
    return std::make_unique<FIXTURE>(make_design(shape, instances));
  });
}

#ifdef ZEMA_BENCH_REPLICA
FIXTURE& file_fixture(std::string const& path) {
  return keep<FIXTURE>("file/" + path,
                       [=] { return std::make_unique<FIXTURE>(make_from_file(path)); });
}
#endif

FIXTURE& depth_fixture(std::size_t depth) {
  return keep<FIXTURE>("depth/" + std::to_string(depth), [=] {
    return std::make_unique<FIXTURE>(make_depth_probe(depth, kProbeLeaves));
  });
}

// Runs query(i) once per iteration for i = 0, 1, ..., count - 1, 0, ...; a
// query gives false when its answer is missing or wrong.
template <class QUERY>
void run_queries(benchmark::State& state, std::size_t count, QUERY query) {
  std::size_t failures = 0;
  std::size_t i = 0;
  ALLOCATION_PROBE const probe;
  for (auto _ : state) {
    if (!query(i)) ++failures;
    if (++i == count) i = 0;
  }
  probe.require_no_zema_blocks(state);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  if (failures != 0) {
    std::string const message = std::to_string(failures) + " queries failed or gave a wrong id";
    state.SkipWithError(message.c_str());
  }
}

typedef void (*QUERY_BENCHMARK)(benchmark::State&, FIXTURE&, ZEMA_NAME_CONVERTER_ENUM);

void unit_names(benchmark::State& state, FIXTURE& fixture, ZEMA_NAME_CONVERTER_ENUM kind) {
  ZEMA_NAME_CONVERTER* const converter = fixture.converter(kind);
  if (!converter) return state.SkipWithError(fixture.error());
  std::vector<CDB_ATOM_NODE*> const& atoms = fixture.design().atoms;
  GEN_STRING out;
  out.reserve(fixture.name_capacity());
  run_queries(state, atoms.size(),
              [&](std::size_t i) { return converter->get_converted_unit_name(&out, atoms[i]); });
}

// Also counts the bytes written, as bytes_per_second.
void full_names(benchmark::State& state, FIXTURE& fixture, ZEMA_NAME_CONVERTER_ENUM kind) {
  ZEMA_NAME_CONVERTER* const converter = fixture.converter(kind);
  if (!converter) return state.SkipWithError(fixture.error());
  std::vector<CDB_ATOM_NODE*> const& atoms = fixture.design().atoms;
  GEN_STRING out;
  out.reserve(fixture.name_capacity());
  int64_t bytes = 0;
  run_queries(state, atoms.size(), [&](std::size_t i) {
    bool const found = converter->get_converted_full_name(&out, atoms[i], true);
    bytes += static_cast<int64_t>(out.size());
    return found;
  });
  state.SetBytesProcessed(bytes);
}

void original_ids(benchmark::State& state, FIXTURE& fixture, ZEMA_NAME_CONVERTER_ENUM kind) {
  ZEMA_NAME_CONVERTER* const converter = fixture.converter(kind);
  if (!converter) return state.SkipWithError(fixture.error());
  SAMPLE const& sample = fixture.sample(kind);
  int64_t bytes = 0;
  run_queries(state, sample.names.size(), [&](std::size_t i) {
    bytes += static_cast<int64_t>(sample.names[i].size());
    return converter->get_original_name_id(sample.names[i].c_str()) == sample.ids[i];
  });
  state.SetBytesProcessed(bytes);
}

// Times init alone, on the fixture's converter, which was initialised once
// when it was made: timed inits reuse memory freed by an earlier tree, as in a
// long-running host. The clear before each init runs with the timer paused
// and is reported as clear_ms, in CPU time like the CPU column.
void fusion_init(benchmark::State& state, FIXTURE& fixture) {
  std::size_t const instances = fixture.design().instances;
  ZEMA_NAME_CONVERTER* const converter = fixture.converter(ZEMA_NAME_CONVERTER_FUSION);
  if (!converter) return state.SkipWithError(fixture.error());
  HDB_CMP_ACTION_PT_INSTANCE const* const action_point = fixture.design().host().action_point();
  CDB_ATOM_NETLIST* const netlist = fixture.design().host().netlist();
  // The tables grow as in `zema convert`, which says what it expects.
  zema_host::INIT_EXPECTATION const expectation(instances, fixture.design().atoms.size(),
                                                fixture.design().oterms);

  double clear_seconds = 0;
  unsigned long long blocks_before = 0;
  for (auto _ : state) {
    state.PauseTiming();
    double const start = thread_cpu_seconds();
    converter->clear();
    clear_seconds += thread_cpu_seconds() - start;
    blocks_before = zema_host::mem_module_stats("ZEMA").total_blocks;
    state.ResumeTiming();
    converter->init(action_point, netlist);
  }
  unsigned long long const blocks =
      zema_host::mem_module_stats("ZEMA").total_blocks - blocks_before;
  unsigned long long const bytes = library_live_bytes() - fixture.bytes_before_fusion();

  auto const& fusion = static_cast<ZEMA_NAME_CONVERTER_FUSION_IMPL const&>(*converter->m_impl);
  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* const root = fusion.get_root()->cast_to_parent();
  report_chains(state, root->m_children.m_buckets, root->m_children.m_bucket_count);
  state.counters["tree_nodes"] = static_cast<double>(fusion.m_hierarchies.size());
  state.counters["root_children"] = root->m_children.m_count;
  state.counters["blocks/init"] = static_cast<double>(blocks);
  state.counters["bytes/inst"] = static_cast<double>(bytes) / static_cast<double>(instances);
  state.counters["clear_ms"] = clear_seconds * 1e3 / static_cast<double>(state.iterations());
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(instances));
}

template <class OBJECT>
bool query_row(ZEMA_NAME_CONVERTER& converter, OBJECT* object, GEN_STRING* unit, GEN_STRING* full) {
  return converter.get_converted_unit_name(unit, object) &&
         converter.get_converted_full_name(full, object, true);
}

template <class OBJECT>
bool query_row(BASELINE_CONVERTER& converter, OBJECT* object, std::string* unit,
               std::string* full) {
  return converter.unit_name(object, unit) && converter.full_name(object, full);
}

// Asks for the unit and full name of every atom and non-null oterm, as the
// zema command does for its rows; gives the number of rows that have both.
template <class CONVERTER, class STRING>
std::size_t convert_rows(CONVERTER& converter, std::vector<CDB_ATOM_NODE*> const& atoms,
                         STRING* unit, STRING* full) {
  std::size_t rows = 0;
  for (CDB_ATOM_NODE* atom : atoms) {
    rows += query_row(converter, atom, unit, full);
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
      if (*it) rows += query_row(converter, *it, unit, full);
    }
  }
  return rows;
}

// The work of one `zema convert` after reading: init, then the unit and full
// name of every atom and oterm. Runs the library and the plain baseline on
// the same design, each after an untimed clear, and reports both CPU times
// and how many times faster the library is; the benchmark's own time is the
// library's.
void convert_vs_baseline(benchmark::State& state, FIXTURE& fixture) {
  SYNTHETIC_DESIGN& design = fixture.design();
  HDB_CMP_ACTION_PT_INSTANCE const* const action_point = design.host().action_point();
  CDB_ATOM_NETLIST* const netlist = design.host().netlist();
  // The fixture's converter, which has named the design once already, as a
  // host's converter would have: a second converter beside it would hold a
  // second tree and time the memory of two.
  ZEMA_NAME_CONVERTER* const library = fixture.converter(ZEMA_NAME_CONVERTER_FUSION);
  if (!library) return state.SkipWithError(fixture.error());
  ZEMA_NAME_CONVERTER& converter = *library;
  // The tables grow as in `zema convert`, which says what it expects.
  zema_host::INIT_EXPECTATION const expectation(design.instances, design.atoms.size(),
                                                design.oterms);
  BASELINE_CONVERTER baseline;
  GEN_STRING unit, full;
  std::string baseline_unit, baseline_full;
  double zema_seconds = 0;
  double baseline_seconds = 0;
  double zema_init_seconds = 0;
  double baseline_init_seconds = 0;
  std::size_t rows = 0;
  // One untimed round of each first: the timed rounds then run on memory
  // their heaps already hold, as in a host that has named a design before.
  convert_rows(converter, design.atoms, &unit, &full);
  baseline.init(action_point, netlist);
  convert_rows(baseline, design.atoms, &baseline_unit, &baseline_full);
  for (auto _ : state) {
    converter.clear();
    double const start = thread_cpu_seconds();
    converter.init(action_point, netlist);
    double const inited = thread_cpu_seconds();
    rows = convert_rows(converter, design.atoms, &unit, &full);
    double const middle = thread_cpu_seconds();
    baseline.clear();
    double const restart = thread_cpu_seconds();
    baseline.init(action_point, netlist);
    double const baseline_inited = thread_cpu_seconds();
    if (convert_rows(baseline, design.atoms, &baseline_unit, &baseline_full) != rows) {
      return state.SkipWithError("the baseline names other rows than the library");
    }
    double const end = thread_cpu_seconds();
    zema_seconds += middle - start;
    baseline_seconds += end - restart;
    zema_init_seconds += inited - start;
    baseline_init_seconds += baseline_inited - restart;
    state.SetIterationTime(middle - start);
  }
  double const iterations = static_cast<double>(state.iterations());
  state.counters["zema_ms"] = zema_seconds * 1e3 / iterations;
  state.counters["baseline_ms"] = baseline_seconds * 1e3 / iterations;
  state.counters["zema_init_ms"] = zema_init_seconds * 1e3 / iterations;
  state.counters["baseline_init_ms"] = baseline_init_seconds * 1e3 / iterations;
  state.counters["speedup"] = baseline_seconds / zema_seconds;
  state.counters["rows"] = static_cast<double>(rows);
}

}  // namespace

void register_converter_benchmarks(std::vector<std::size_t> const& init_sizes,
                                   std::vector<std::size_t> const& query_sizes) {
  ZEMA_NAME_CONVERTER_ENUM const fusion = ZEMA_NAME_CONVERTER_FUSION;
  ZEMA_NAME_CONVERTER_ENUM const reversible = ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE;
  std::set<std::size_t> sizes(init_sizes.begin(), init_sizes.end());
  sizes.insert(query_sizes.begin(), query_sizes.end());
  for (SHAPE shape : {SHAPE::FLAT, SHAPE::BALANCED, SHAPE::CHAIN}) {
    for (std::size_t n : sizes) {
      std::string const suffix = std::string("/") + shape_name(shape) + "/" + std::to_string(n);
      auto on_design = [shape, n](QUERY_BENCHMARK run, ZEMA_NAME_CONVERTER_ENUM kind) {
        return [=](benchmark::State& state) { run(state, design_fixture(shape, n), kind); };
      };
      if (std::count(init_sizes.begin(), init_sizes.end(), n) != 0) {
        benchmark::RegisterBenchmark(("FusionInit" + suffix).c_str(), [=](benchmark::State& state) {
          fusion_init(state, design_fixture(shape, n));
        })->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(
            ("ConvertVsBaseline" + suffix).c_str(),
            [=](benchmark::State& state) { convert_vs_baseline(state, design_fixture(shape, n)); })
            ->Unit(benchmark::kMillisecond)
            ->UseManualTime();
      }
      if (std::count(query_sizes.begin(), query_sizes.end(), n) == 0) continue;
      benchmark::RegisterBenchmark(("FusionUnitName" + suffix).c_str(),
                                   on_design(unit_names, fusion));
      benchmark::RegisterBenchmark(("FusionFullName" + suffix).c_str(),
                                   on_design(full_names, fusion));
      benchmark::RegisterBenchmark(("FusionOriginalId" + suffix).c_str(),
                                   on_design(original_ids, fusion));
      benchmark::RegisterBenchmark(("ReversibleFullName" + suffix).c_str(),
                                   on_design(full_names, reversible));
      benchmark::RegisterBenchmark(("ReversibleOriginalId" + suffix).c_str(),
                                   on_design(original_ids, reversible));
    }
  }
#ifdef ZEMA_BENCH_REPLICA
  // Designs read from files, as the command reads them: real names at scale
  // (about a million cells of copies of a real netlist), the generated RTL
  // names on a complete 8-ary tree, and any file ZEMA_BENCH_DESIGN names.
  std::vector<std::pair<std::string, std::function<std::string()>>> files = {
      {"replica/1000000", [] { return replica_netlist(1000000); }},
      {"octree/1000000", [] { return octree_design(1000000); }}};
  for (std::string const& path : bench_design_files()) {
    files.emplace_back(file_label(path), [path] { return path; });
  }
  for (auto const& [label, path_of] : files) {
    auto const on_file = [path_of = path_of](auto run) {
      return [=](benchmark::State& state) {
        try {
          run(state, file_fixture(path_of()));
        } catch (zema_tool::TOOL_ERROR const& error) {
          state.SkipWithError(error.text().c_str());
        }
      };
    };
    benchmark::RegisterBenchmark(("FusionInit/" + label).c_str(), on_file(fusion_init))
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(("ConvertVsBaseline/" + label).c_str(),
                                 on_file(convert_vs_baseline))
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
  }
#endif
  // Siblings with one name: linear uniquing keeps this as fast as any flat design.
  benchmark::RegisterBenchmark("FusionInit/siblings/100000", [](benchmark::State& state) {
    fusion_init(state, design_fixture(SHAPE::SIBLINGS, 100000));
  })->Unit(benchmark::kMillisecond);
  for (std::size_t depth : kProbeDepths) {
    std::string const suffix = "/" + std::to_string(depth);
    auto at_depth = [depth](QUERY_BENCHMARK run, ZEMA_NAME_CONVERTER_ENUM kind) {
      return [=](benchmark::State& state) { run(state, depth_fixture(depth), kind); };
    };
    benchmark::RegisterBenchmark(("FusionFullNameAtDepth" + suffix).c_str(),
                                 at_depth(full_names, fusion));
    benchmark::RegisterBenchmark(("FusionOriginalIdAtDepth" + suffix).c_str(),
                                 at_depth(original_ids, fusion));
    benchmark::RegisterBenchmark(("ReversibleFullNameAtDepth" + suffix).c_str(),
                                 at_depth(full_names, reversible));
    benchmark::RegisterBenchmark(("ReversibleOriginalIdAtDepth" + suffix).c_str(),
                                 at_depth(original_ids, reversible));
  }
}

}  // namespace zema_bench
