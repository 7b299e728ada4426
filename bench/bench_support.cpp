// Synthetic designs, the heap-allocation counter and the allocation probe
// shared by every benchmark.
#include "bench/bench_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <new>
#include <numeric>
#include <string>

// Every operator new of the process comes here, the libraries' included: the
// executable's definition takes precedence over the C++ runtime's. Array and
// nothrow forms of the runtime forward to this one.
namespace {
thread_local unsigned long long t_heap_allocations = 0;
}

void* operator new(std::size_t size) {
  ++t_heap_allocations;
  void* block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) throw std::bad_alloc();
  return block;
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace zema_bench {

unsigned long long heap_allocations() { return t_heap_allocations; }

// --- Kept object ----------------------------------------------------------------

std::shared_ptr<void>& kept_object() {
  static std::shared_ptr<void> s_object;
  return s_object;
}

std::string& kept_key() {
  static std::string s_key;
  return s_key;
}

void release_kept() {
  kept_object().reset();
  kept_key().clear();
}

// --- Allocation probe ----------------------------------------------------------

namespace {
unsigned long long zema_total_blocks() { return zema_host::mem_module_stats("ZEMA").total_blocks; }
}  // namespace

ALLOCATION_PROBE::ALLOCATION_PROBE()
    : m_zema_blocks(zema_total_blocks()), m_heap_calls(heap_allocations()) {}

unsigned long long ALLOCATION_PROBE::zema_blocks() const {
  return zema_total_blocks() - m_zema_blocks;
}

unsigned long long ALLOCATION_PROBE::heap_calls() const {
  return heap_allocations() - m_heap_calls;
}

void ALLOCATION_PROBE::report(benchmark::State& state, double items_per_iteration) const {
  // Both counts are read before the counters are written: adding a counter
  // allocates.
  double const blocks = static_cast<double>(zema_blocks()) / items_per_iteration;
  double const heap = static_cast<double>(heap_calls()) / items_per_iteration;
  state.counters["zema_blocks"] = benchmark::Counter(blocks, benchmark::Counter::kAvgIterations);
  state.counters["heap_allocs"] = benchmark::Counter(heap, benchmark::Counter::kAvgIterations);
}

void ALLOCATION_PROBE::require_no_zema_blocks(benchmark::State& state) const {
  unsigned long long const blocks = zema_blocks();
  report(state);
  if (blocks != 0) {
    std::string const message =
        std::to_string(blocks) + " tracked ZEMA blocks allocated inside the query loop";
    state.SkipWithError(message.c_str());
  }
}

unsigned long long library_live_bytes() {
  return zema_host::mem_module_stats("ZEMA").live_bytes +
         zema_host::mem_module_stats("ORB").live_bytes;
}

// --- Synthetic designs ---------------------------------------------------------

char const* shape_name(SHAPE shape) {
  switch (shape) {
    case SHAPE::FLAT:
      return "flat";
    case SHAPE::BALANCED:
      return "balanced";
    case SHAPE::CHAIN:
      return "chain";
    case SHAPE::SIBLINGS:
      return "siblings";
    case SHAPE::REPLICA:
      return "replica";
  }
  return "?";
}

namespace {

CDB_ATOM_BASIC_TYPE const kOrdinaryTypes[] = {CDB_ATOM_LUT, CDB_ATOM_DFF, CDB_ATOM_CARRY,
                                              CDB_ATOM_MUX, CDB_ATOM_RAM, CDB_ATOM_ADDER,
                                              CDB_ATOM_DSP, CDB_ATOM_XOR};
std::size_t const kOrdinaryTypeCount = sizeof kOrdinaryTypes / sizeof kOrdinaryTypes[0];

// The unit name of the i-th leaf. Leaf 32k + 31 repeats leaf 32k + 30
// ("state.Q_<n>") as "state_Q_<n>": both legalise to "state_q_<n>".
void leaf_name(std::size_t i, char* text, std::size_t size) {
  if (i % 32 == 31) {
    leaf_name(i - 1, text, size);
    for (char* p = text; *p != '\0'; ++p) {
      if (*p == '.') *p = '_';
    }
    return;
  }
  char const* const formats[8] = {
      "Reg_%zu",     "data_q[%zu]", "u%zu",        "$auto$simplemap.cc:278:mux$%zu",
      "add_%zu.sum", "n%zu",        "state.Q_%zu", "lut_%zu"};
  std::snprintf(text, size, formats[i % 8], i);
}

// Adds instances and atoms to a design, giving every name a fresh id.
class BUILDER {
 public:
  explicit BUILDER(SYNTHETIC_DESIGN* out) : m_out(out) {}

  HDB_INSTANCE_NAME const* set_root() { return m_out->design.set_root("", next_id()); }

  HDB_INSTANCE_NAME const* interior(HDB_INSTANCE_NAME const* parent, char const* format,
                                    std::size_t number) {
    std::snprintf(m_text, sizeof m_text, format, number);
    ++m_out->instances;
    return m_out->design.add_child(parent, m_text, next_id());
  }

  // The leaf's atom is added later, by add_netlist. A null `name` takes the
  // next of the mixed synthesis-style names.
  void leaf(HDB_INSTANCE_NAME const* parent, std::size_t depth, char const* name = nullptr) {
    if (name) {
      std::snprintf(m_text, sizeof m_text, "%s", name);
    } else {
      leaf_name(m_leaves.size(), m_text, sizeof m_text);
    }
    ++m_out->instances;
    m_leaves.push_back(m_out->design.add_child(parent, m_text, next_id()));
    m_depths.push_back(depth);
  }

  std::size_t leaf_count() const { return m_leaves.size(); }

  // One atom per leaf, in the order given by `order` (indexes of leaves).
  void add_netlist(std::vector<std::size_t> const& order, bool all_comb) {
    for (std::size_t i : order) add_atom(i, all_comb);
  }

 private:
  unsigned next_id() { return m_next_id++; }

  void add_atom(std::size_t i, bool all_comb) {
    zema_host::DESIGN& design = m_out->design;
    HDB_INSTANCE_NAME const* const name = m_leaves[i];
    std::size_t const oterms = all_comb ? 1 : 1 + (i % 3 == 0);
    CDB_ATOM_NODE* atom;
    if (all_comb || i % 2 == 0) {
      atom = design.add_atom(CDB_ATOM_COMB, name);
      for (std::size_t k = 0; k < oterms; ++k) {
        std::snprintf(m_text, sizeof m_text, "net_%u", m_next_id);
        design.add_oterm(atom, design.add_free_name(m_text, next_id()));
      }
    } else {
      CDB_ATOM_BASIC_TYPE const type =
          i % 128 == 1 ? CDB_ATOM_IO_IBUF : kOrdinaryTypes[(i / 2) % kOrdinaryTypeCount];
      atom = design.add_atom(type, name);
      // The nets an ordinary atom drives are named by hierarchy leaves: its own
      // and, for a second output, its predecessor's.
      design.add_oterm(atom, name);
      if (oterms == 2) design.add_oterm(atom, m_leaves[i == 0 ? 0 : i - 1]);
    }
    m_out->oterms += oterms;
    m_out->atoms.push_back(atom);
    if (m_depths[i] > m_out->max_depth) {
      m_out->max_depth = m_depths[i];
      m_out->deepest_atom = atom;
    }
  }

  SYNTHETIC_DESIGN* m_out;
  std::vector<HDB_INSTANCE_NAME const*> m_leaves;
  std::vector<std::size_t> m_depths;
  unsigned m_next_id = 1;
  char m_text[96];
};

std::vector<std::size_t> in_order(std::size_t count) {
  std::vector<std::size_t> order(count);
  std::iota(order.begin(), order.end(), std::size_t(0));
  return order;
}

// 0, s, 2s, ... mod count with s coprime to count near count / golden ratio:
// every stretch of the result samples the whole range evenly.
std::vector<std::size_t> scattered(std::size_t count) {
  std::size_t stride = count * 618 / 1000 + 1;
  while (std::gcd(stride, count) != 1) ++stride;
  std::vector<std::size_t> order(count);
  std::size_t at = 0;
  for (std::size_t& slot : order) {
    slot = at;
    at = (at + stride) % count;
  }
  return order;
}

}  // namespace

std::unique_ptr<SYNTHETIC_DESIGN> make_design(SHAPE shape, std::size_t instances) {
  auto out = std::make_unique<SYNTHETIC_DESIGN>();
  out->design.reserve(instances + 1, instances, 2 * instances);
  BUILDER builder(out.get());
  HDB_INSTANCE_NAME const* const root = builder.set_root();
  switch (shape) {
    case SHAPE::FLAT:
      for (std::size_t i = 0; i < instances; ++i) builder.leaf(root, 1);
      builder.add_netlist(in_order(builder.leaf_count()), false);
      break;
    case SHAPE::BALANCED: {
      // Node j (1-based, breadth-first) hangs below node (j - 1) / kFanOut,
      // node 0 being the root; it is interior when its first child exists.
      std::vector<HDB_INSTANCE_NAME const*> nodes(instances + 1, nullptr);
      std::vector<std::size_t> depth(instances + 1, 0);
      nodes[0] = root;
      for (std::size_t j = 1; j <= instances; ++j) {
        std::size_t const parent = (j - 1) / kFanOut;
        depth[j] = depth[parent] + 1;
        if (kFanOut * j + 1 <= instances) {
          nodes[j] = builder.interior(nodes[parent], "blk_%zu", j);
        } else {
          builder.leaf(nodes[parent], depth[j]);
        }
      }
      builder.add_netlist(in_order(builder.leaf_count()), false);
      break;
    }
    case SHAPE::SIBLINGS: {
      // Spellings a generate loop or a case-only difference leaves behind.
      char const* const spellings[] = {"data.q", "data_q", "data-q", "data q"};
      for (std::size_t i = 0; i < instances; ++i) builder.leaf(root, 1, spellings[i % 4]);
      builder.add_netlist(in_order(builder.leaf_count()), false);
      break;
    }
    case SHAPE::REPLICA:
      break;  // read from a netlist file: make_replica
    case SHAPE::CHAIN: {
      std::size_t const spine_length =
          std::max<std::size_t>(1, std::min(kChainDepth, instances / 2));
      std::vector<HDB_INSTANCE_NAME const*> spine;
      spine.reserve(spine_length);
      HDB_INSTANCE_NAME const* parent = root;
      for (std::size_t s = 0; s < spine_length; ++s) {
        parent = builder.interior(parent, "s%zu", s);
        spine.push_back(parent);
      }
      std::size_t const leaves = instances - spine_length;
      for (std::size_t k = 0; k < leaves; ++k) {
        builder.leaf(spine[k % spine_length], k % spine_length + 2);
      }
      builder.add_netlist(scattered(builder.leaf_count()), false);
      break;
    }
  }
  return out;
}

std::unique_ptr<SYNTHETIC_DESIGN> make_depth_probe(std::size_t depth, std::size_t leaves) {
  auto out = std::make_unique<SYNTHETIC_DESIGN>();
  BUILDER builder(out.get());
  HDB_INSTANCE_NAME const* parent = builder.set_root();
  for (std::size_t level = 1; level < depth; ++level)
    parent = builder.interior(parent, "s%zu", level);
  for (std::size_t k = 0; k < leaves; ++k) builder.leaf(parent, depth);
  builder.add_netlist(in_order(leaves), true);
  return out;
}

double thread_cpu_seconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

}  // namespace zema_bench
