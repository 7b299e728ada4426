// Shared pieces of the benchmarks: synthetic designs built with the reference
// host, the allocation probe that proves a timed loop allocates nothing, and
// the registration entry points of each benchmark file.
//
// A synthetic design has one atom per leaf instance. Half the atoms have type
// 26 (named by their hierarchy leaf, oterms made up), the rest ordinary types
// (made-up atom names, oterms named by hierarchy leaves), and one atom in 128
// is an input buffer, which the converter names after its hierarchy node.
// Atoms have one or two oterms. Unit names mix the styles a synthesis flow
// leaves behind, and one leaf in 32 repeats a sibling's name in a spelling
// that legalises to the same text, so the clash path is exercised too.
#ifndef BENCH_BENCH_SUPPORT_H
#define BENCH_BENCH_SUPPORT_H

#include <benchmark/benchmark.h>

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "h/cdb_net_sys.h"
#include "host/zema_host.h"

namespace zema_bench {

enum class SHAPE {
  FLAT,      // every instance is a child of the root
  BALANCED,  // a complete tree of fan-out kFanOut
  CHAIN,     // a spine kChainDepth deep, leaves spread evenly along it
  SIBLINGS,  // every instance a child of the root, all names legalising to one text
  REPLICA    // copies of a real netlist's top module under a new top (make_replica)
};

constexpr std::size_t kFanOut = 8;
constexpr std::size_t kChainDepth = 5000;

char const* shape_name(SHAPE shape);

struct SYNTHETIC_DESIGN {
  zema_host::DESIGN design;
  // A design read from a netlist file instead (make_replica): its owner,
  // and the host design to use in place of `design`.
  std::shared_ptr<void> loaded;
  zema_host::DESIGN* loaded_design = nullptr;
  zema_host::DESIGN& host() { return loaded_design != nullptr ? *loaded_design : design; }
  // Atoms in netlist order. A CHAIN design lists its atoms in a scattered
  // order, so that any stretch of the netlist mixes shallow and deep atoms.
  std::vector<CDB_ATOM_NODE*> atoms;
  // The first atom at the largest depth.
  CDB_ATOM_NODE* deepest_atom = nullptr;
  std::size_t instances = 0;  // below the root
  std::size_t oterms = 0;
  std::size_t max_depth = 0;  // levels below the root
};

// A design of `instances` instances below the root in the given shape.
std::unique_ptr<SYNTHETIC_DESIGN> make_design(SHAPE shape, std::size_t instances);

// Where the tool's reader is built (ZEMA_BENCH_REPLICA): a netlist file
// whose new top module holds as many instances of a real netlist's top
// module as make about `cells` primitive cells (mor1kx from
// ../shared/realdesigns, else the Yosys example), and that design, read and
// built as the command does. Names, fan-outs and depths are a real flow's.
std::string replica_netlist(std::size_t cells);
std::unique_ptr<SYNTHETIC_DESIGN> make_replica(std::size_t cells);

// Any design file or netlist (plain, .xz or .gz), read and built as the
// command does; a Verilog netlist with the Liberty files of
// ZEMA_BENCH_LIBERTY. Throws zema_tool::TOOL_ERROR for a file the command
// refuses.
std::unique_ptr<SYNTHETIC_DESIGN> make_from_file(std::string const& path);
// The files of ZEMA_BENCH_DESIGN and ZEMA_BENCH_LIBERTY, each a list
// separated by ':'. Each design is benchmarked beside the standard shapes
// under file_label(path): "file:" and its name without .json, .v, .xz, .gz.
std::vector<std::string> bench_design_files();
std::vector<std::string> bench_liberty_files();
std::string file_label(std::string const& path);

// The benchmarks' files, kept in the build tree (bench/data/) for later
// runs; whether one has been written.
std::string bench_data_path(std::string const& name);
bool bench_file_exists(std::string const& path);

// A chain of depth - 1 instances with `leaves` leaves below its last one; every
// atom has type 26, so each one's converted name is exactly `depth` levels deep.
std::unique_ptr<SYNTHETIC_DESIGN> make_depth_probe(std::size_t depth, std::size_t leaves);

// Calls of the global operator new made by this thread so far.
unsigned long long heap_allocations();

// What a timed loop allocated: tracked blocks of the module "ZEMA" (from the
// host's memory statistics) and calls of the global operator new, counted
// from construction of the probe.
class ALLOCATION_PROBE {
 public:
  ALLOCATION_PROBE();

  unsigned long long zema_blocks() const;
  unsigned long long heap_calls() const;

  // Publishes both counts per item as the counters "zema_blocks" and
  // "heap_allocs", an iteration handling `items_per_iteration` items.
  void report(benchmark::State& state, double items_per_iteration = 1) const;
  // Like report(), and fails the benchmark when the loop allocated any
  // tracked block of "ZEMA".
  void require_no_zema_blocks(benchmark::State& state) const;

 private:
  unsigned long long m_zema_blocks;
  unsigned long long m_heap_calls;
};

// Publishes how long the chains of a chained table are: "avg_probe", the
// nodes a successful lookup visits on average, and "max_chain".
template <class NODE>
void report_chains(benchmark::State& state, NODE* const* buckets, unsigned bucket_count) {
  double visits = 0;
  double entries = 0;
  unsigned longest = 0;
  for (unsigned b = 0; b < bucket_count; ++b) {
    unsigned length = 0;
    for (NODE const* node = buckets[b]; node; node = node->m_next) ++length;
    visits += length * (length + 1.0) / 2;
    entries += length;
    if (length > longest) longest = length;
  }
  state.counters["avg_probe"] = entries > 0 ? visits / entries : 0;
  state.counters["max_chain"] = longest;
}

// Tracked live bytes of the library: its own module plus the chunks of
// interned text that the host charges to "ORB".
unsigned long long library_live_bytes();

// The harness calls a benchmark once per trial iteration count, and building a
// million-entry table or design costs more than what is measured on it, so
// such an object is kept in one slot across calls: keep(key, make) gives the
// kept object when its key is `key`, else frees it and keeps make() instead.
// One object at a time bounds the memory a run needs.
std::shared_ptr<void>& kept_object();
std::string& kept_key();

template <class T>
T& keep(std::string const& key, std::function<std::unique_ptr<T>()> const& make) {
  if (!kept_object() || kept_key() != key) {
    kept_object().reset();
    kept_object() = std::shared_ptr<T>(make());
    kept_key() = key;
  }
  return *static_cast<T*>(kept_object().get());
}

// Frees the kept object; call before the libraries unload.
void release_kept();

// CPU time of the calling thread, in seconds.
double thread_cpu_seconds();

void register_container_benchmarks();
// The whole command in a fresh process; only where the command is built.
void register_command_benchmarks();
// translate's rewriting of report text, in process; where the command is built.
void register_translate_benchmarks();
// The command's read phase against a plain parse, in process; where the
// command is built.
void register_read_benchmarks();
// The path of the generated design file with names as RTL and synthesis
// write them, `instances` instances and as many atoms; written on first use.
std::string generated_design(std::size_t instances);
// The same names on a complete tree of fan-out 8, `instances` instances,
// one atom per leaf; written on first use.
std::string octree_design(std::size_t instances);
// A gate-level netlist of `cells` cells in 1000 modules (zema_gen_design
// --netlist), as "verilog" or "yosys" JSON, with the Liberty of its cells
// in *liberty: one design in both formats, kept like generated_design's.
std::string gate_netlist(std::string const& format, std::size_t cells, std::string* liberty);
// Design sizes (instances) for the init and for the query benchmarks.
void register_converter_benchmarks(std::vector<std::size_t> const& init_sizes,
                                   std::vector<std::size_t> const& query_sizes);

}  // namespace zema_bench

#endif  // BENCH_BENCH_SUPPORT_H
