// zema_gen_design: writes a random design file for the zema tool, for tests
// and measurements.
//
// The hierarchy grows breadth first: each instance gets 1 to 2F-1 children
// (F the fan-out; exactly one with F = 1, which makes a chain), until the
// instance count is reached or the depth limit stops it. With the "wild"
// alphabet the unit names mix upper case, digits in front, punctuation
// (including "/" and "\"), UTF-8 beyond ASCII, empty names, repeats among
// siblings and, under the root, names that clash with made-up ones ("w0",
// "lut3"). The "rtl" alphabet writes names as synthesis does ("data_q[7]",
// "genblk1[3].u_fifo", "$auto$simplemap.cc:278:mux$7"). The netlist follows the rules the tool
// enforces, so every design it writes loads. The same options and seed always give the same file.
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <CLI/CLI.hpp>

#include "atm/zema/zema_naming_rules.h"
#include "host/zema_host.h"
#include "tools/support/output_buffer.h"

namespace {

constexpr int kTypeCount = kZemaAtomTypeCount;
constexpr int kCombType = kZemaAtomTypeComb;

struct OPTIONS {
  std::uint64_t m_instances = 1000;
  unsigned m_fanout = 4;
  unsigned m_max_depth = 0;
  std::string m_shape = "random";  // or "complete": every parent exactly m_fanout children
  bool m_leaf_atoms = false;       // one atom per leaf instance, named by it, instead of m_atoms
  std::uint64_t m_atoms = 1000;
  unsigned m_oterms = 3;
  std::uint64_t m_names = 0;
  unsigned m_missing_ids = 0;  // percent of instances below the root written without an id
  std::uint64_t m_seed = 1;
  std::string m_alphabet = "wild";
  std::string m_output = "-";
  std::string m_netlist;  // "verilog" or "yosys": a gate-level netlist instead of a design file
  std::string m_liberty;  // where to write the Liberty of the netlist's cells
};

// splitmix64: small, fast and the same on every platform.
class RANDOM {
 public:
  explicit RANDOM(std::uint64_t seed) : m_state(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (m_state += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n); n > 0.
  std::uint64_t below(std::uint64_t n) { return next() % n; }
  bool percent(unsigned p) { return below(100) < p; }

 private:
  std::uint64_t m_state;
};

typedef zema_tool::OUTPUT_BUFFER WRITER;

class GENERATOR {
 public:
  explicit GENERATOR(OPTIONS const& options) : m_options(options), m_random(options.m_seed) {}

  void run(WRITER& out) {
    make_hierarchy();
    out.put("{\"root\": ");
    write_hierarchy(out);
    out.put(",\n\"names\": [");
    for (std::uint64_t i = 0; i < m_options.m_names; ++i) {
      out.put(i == 0 ? "\n" : ",\n");
      out.put("{\"name\": ");
      out.put_json(unit_name(false));
      out.put(", \"id\": ");
      out.put_uint(free_id(i));
      out.put('}');
    }
    out.put("],\n\"netlist\": [");
    if (m_options.m_leaf_atoms) {
      bool first = true;
      for (std::uint32_t i = 1; i < instance_count(); ++i) {
        if (m_first_child[i] != m_first_child[i + 1]) continue;
        out.put(first ? "\n" : ",\n");
        first = false;
        write_atom(out, i);
      }
    } else {
      for (std::uint64_t i = 0; i < m_options.m_atoms; ++i) {
        out.put(i == 0 ? "\n" : ",\n");
        write_atom(out);
      }
    }
    out.put("]}\n");
  }

 private:
  std::uint64_t instance_count() const {
    return m_options.m_instances == 0 ? 1 : m_options.m_instances;
  }
  std::uint64_t free_id(std::uint64_t i) const { return instance_count() + 1 + i; }

  void make_hierarchy() {
    std::uint64_t const count = instance_count();
    m_parent.assign(count, 0);
    m_depth.assign(count, 0);
    m_has_id.assign(count, true);
    std::vector<std::uint32_t> queue{0};
    std::size_t head = 0;
    std::uint64_t next = 1;
    unsigned const limit = m_options.m_max_depth;
    while (next < count) {
      if (head == queue.size()) {
        // Every open instance sits at the depth limit: widen a shallower one.
        std::uint32_t pick;
        do {
          pick = static_cast<std::uint32_t>(m_random.below(next));
        } while (limit != 0 && m_depth[pick] >= limit);
        queue.push_back(pick);
      }
      std::uint32_t const parent = queue[head++];
      if (limit != 0 && m_depth[parent] >= limit) continue;
      std::uint64_t children = m_options.m_fanout <= 1 ? 1
                               : m_options.m_shape == "complete"
                                   ? m_options.m_fanout
                                   : 1 + m_random.below(2 * m_options.m_fanout - 1);
      for (; children > 0 && next < count; --children, ++next) {
        m_parent[next] = parent;
        m_depth[next] = m_depth[parent] + 1;
        m_has_id[next] = !m_random.percent(m_options.m_missing_ids);
        if (m_has_id[next]) m_named.push_back(static_cast<std::uint32_t>(next));
        queue.push_back(static_cast<std::uint32_t>(next));
      }
    }
    // Children in creation order, as index lists per parent.
    m_first_child.assign(count + 1, 0);
    for (std::uint64_t i = 1; i < count; ++i) ++m_first_child[m_parent[i] + 1];
    for (std::uint64_t i = 0; i < count; ++i) m_first_child[i + 1] += m_first_child[i];
    m_children.assign(count, 0);
    std::vector<std::uint32_t> fill(m_first_child.begin(), m_first_child.end() - 1);
    for (std::uint64_t i = 1; i < count; ++i) {
      m_children[fill[m_parent[i]]++] = static_cast<std::uint32_t>(i);
    }
    m_named.push_back(0);  // the root may name type-26 atoms too
  }

  // Written with an explicit stack: a chain of ten thousand levels must not
  // need ten thousand frames.
  void write_hierarchy(WRITER& out) {
    struct OPEN {
      std::uint32_t m_instance;
      std::uint32_t m_next;  // index into m_children
      std::string m_last_name;
    };
    std::vector<OPEN> stack;
    auto open = [&](std::uint32_t instance, std::string const& name) {
      out.put("{\"name\": ");
      out.put_json(name);
      if (m_has_id[instance]) {
        out.put(", \"id\": ");
        out.put_uint(instance + 1);
      }
      std::uint32_t const begin = m_first_child[instance];
      if (begin == m_first_child[instance + 1]) {
        out.put('}');
      } else {
        out.put(", \"children\": [\n");
        stack.push_back({instance, begin, std::string()});
      }
    };
    open(0, "");
    while (!stack.empty()) {
      OPEN& top = stack.back();
      std::uint32_t const end = m_first_child[top.m_instance + 1];
      if (top.m_next == end) {
        out.put("]}");
        stack.pop_back();
        continue;
      }
      bool const first = top.m_next == m_first_child[top.m_instance];
      if (!first) out.put(",\n");
      std::uint32_t const child = m_children[top.m_next++];
      std::string name = unit_name(top.m_instance == 0);
      if (!first && m_options.m_alphabet == "wild" && m_random.percent(8)) {
        name = top.m_last_name;  // a repeat among siblings
      }
      top.m_last_name = name;
      open(child, name);  // may move `top`
    }
  }

  // Names as RTL and synthesis write them: module instances, generate
  // blocks, registers and nets with bit indices, and tool-made cell names
  // with source locations and running numbers.
  std::string rtl_name() {
    static char const* const kWords[] = {"data", "addr", "state", "count", "valid", "ready",
                                         "fifo", "core", "alu",   "reg",   "mux",   "ctrl",
                                         "rd",   "wr",   "req",   "ack",   "pc",    "csr"};
    static char const* const kPasses[] = {"simplemap.cc:278:mux", "ff.cc:266:slice",
                                          "opt_dff.cc:764:run", "alumacc.cc:485:replace_alu",
                                          "techmap.v:270:mux"};
    static char const* const kSuffixes[] = {"_q", "_d", "_n", "_r", "_reg", "_next", ""};
    auto word = [&] { return std::string(kWords[m_random.below(sizeof kWords / sizeof *kWords)]); };
    auto number = [&](std::uint64_t below) { return zema_tool::decimal(m_random.below(below)); };
    std::uint64_t const pick = m_random.below(100);
    if (pick < 20) {
      return "$auto$" + std::string(kPasses[m_random.below(sizeof kPasses / sizeof *kPasses)]) +
             "$" + number(1000000);
    }
    if (pick < 35) {
      return word() + kSuffixes[m_random.below(sizeof kSuffixes / sizeof *kSuffixes)] + "[" +
             number(64) + "]";
    }
    if (pick < 47) return "u_" + word() + (m_random.percent(30) ? number(8) : "");
    if (pick < 57) return "genblk" + number(4) + "[" + number(16) + "].u_" + word();
    if (pick < 67) return word() + ".Q_" + number(32);
    if (pick < 77) {
      std::string name = word() + "_" + number(16);
      name[0] = static_cast<char>(name[0] - 'a' + 'A');  // Reg_7
      return name;
    }
    if (pick < 87)
      return "$techmap$" + word() + "$src/rtl/" + word() + ".v:" + number(900) + "$" +
             number(100000);
    return word() + kSuffixes[m_random.below(sizeof kSuffixes / sizeof *kSuffixes)];
  }

  std::string unit_name(bool under_root) {
    if (m_options.m_alphabet == "rtl") return rtl_name();
    static char const kLower[] = "abcdefghijklmnopqrstuvwxyz";
    static char const kPlain[] = "abcdefghijklmnopqrstuvwxyz0123456789_";
    std::string name(1, kLower[m_random.below(26)]);
    std::uint64_t const length = m_random.below(8);
    for (std::uint64_t i = 0; i < length; ++i) name.push_back(kPlain[m_random.below(37)]);
    if (m_options.m_alphabet != "wild") return name;

    static char const* const kPunctuated[] = {
        "a/b", "x\\y", "$auto$3", "sig.bit", "a b", "\"q\"", "m[0].r", "data[7]", "\t", "-", "#1"};
    static char const* const kUtf8[] = {
        "\xc3\xa9t\xc3\xa9", "Stra\303\237e", "\xe4\xb8\xad\xe6\x96\x87",
        "\xf0\x9f\x98\x80",  "\xc3\x9cnit",   "z\xc2\xa0z"};
    static char const* const kMadeUp[] = {"w0",   "w1",        "w2",   "lut0", "ram0",
                                          "comb", "io_ibuf_a", "dff1", "w10"};
    std::uint64_t const pick = m_random.below(100);
    if (under_root && pick < 15) return kMadeUp[m_random.below(sizeof kMadeUp / sizeof *kMadeUp)];
    if (pick < 30) {
      for (char& c : name) {
        if (c >= 'a' && c <= 'z' && m_random.percent(50)) c = static_cast<char>(c - 'a' + 'A');
      }
      return name;
    }
    if (pick < 40) return zema_tool::decimal(m_random.below(100)) + name;
    if (pick < 50) {
      return kPunctuated[m_random.below(sizeof kPunctuated / sizeof *kPunctuated)] + name;
    }
    if (pick < 58) return name + kUtf8[m_random.below(sizeof kUtf8 / sizeof *kUtf8)];
    if (pick < 62) return std::string();
    return name;
  }

  std::uint32_t hierarchy_id() { return m_named[m_random.below(m_named.size())] + 1; }

  void write_type(WRITER& out, int type) {
    if (m_random.percent(50)) {
      out.put_uint(static_cast<std::uint64_t>(type));
      return;
    }
    std::string name = zema_host::atom_type_name(type);
    for (char& c : name) {
      if (c >= 'A' && c <= 'Z' && m_random.percent(30)) c = static_cast<char>(c - 'A' + 'a');
    }
    out.put_json(name);
  }

  // A name reference that need not lie in the hierarchy: nothing, a free
  // name, a hierarchy instance, or a new name object (id 0, a repeat, or new).
  void write_loose_name(WRITER& out) {
    std::uint64_t const pick = m_random.below(100);
    if (pick < 15) {
      out.put("null");
    } else if (pick < 35 && m_options.m_names > 0) {
      out.put_uint(free_id(m_random.below(m_options.m_names)));
    } else if (pick < 55) {
      out.put_uint(hierarchy_id());
    } else {
      out.put("{\"name\": ");
      out.put_json(unit_name(false));
      out.put(", \"id\": ");
      std::uint64_t const kind = m_random.below(3);
      out.put_uint(kind == 0 ? 0 : kind == 1 ? hierarchy_id() : 4000000000u + m_random.below(1000));
      out.put('}');
    }
  }

  // An atom; with `leaf`, one named by that leaf instance.
  void write_atom(WRITER& out, std::optional<std::uint32_t> leaf = std::nullopt) {
    std::uint64_t const pick = m_random.below(100);
    int type;
    if (pick < 30) {
      type = kCombType;
    } else if (pick < 36) {
      int const io[] = {kZemaAtomTypeIoIbuf, kZemaAtomTypePin, kZemaAtomTypeIoDdr};
      type = io[m_random.below(3)];
    } else {
      do {
        type = static_cast<int>(m_random.below(kTypeCount));
      } while (zema_atom_type_needs_hierarchy_node(type));
    }
    out.put("{\"type\": ");
    write_type(out, type);
    if (leaf) {
      out.put(", \"name\": ");
      out.put_uint(m_has_id[*leaf] ? *leaf + 1 : hierarchy_id());
    } else if (zema_atom_type_needs_hierarchy_node(type)) {
      out.put(", \"name\": ");
      out.put_uint(hierarchy_id());
    } else if (m_random.percent(85)) {
      out.put(", \"name\": ");
      write_loose_name(out);
    }
    std::uint64_t const oterms = m_random.below(m_options.m_oterms + 1);
    if (oterms > 0 || m_random.percent(50)) {
      out.put(", \"oterms\": [");
      for (std::uint64_t i = 0; i < oterms; ++i) {
        if (i > 0) out.put(", ");
        if (m_random.percent(10)) {
          out.put("null");
        } else if (zema_is_hierarchy_named_atom_type(type)) {
          write_loose_name(out);
        } else {
          out.put_uint(hierarchy_id());
        }
      }
      out.put(']');
    }
    out.put('}');
  }

  OPTIONS const& m_options;
  RANDOM m_random;
  std::vector<std::uint32_t> m_parent;
  std::vector<std::uint32_t> m_depth;
  std::vector<bool> m_has_id;
  std::vector<std::uint32_t> m_named;  // instances with an id, for references
  std::vector<std::uint32_t> m_first_child;
  std::vector<std::uint32_t> m_children;
};

// --- Gate-level netlists ----------------------------------------------------
//
// With --netlist, a gate-level netlist over the cells of kGateCells (whose
// Liberty --liberty writes): a top module holding --instances modules in a
// chain, each holding its share of --atoms cells. Cells take their inputs
// from signals made before them and drive a net of their own; flip-flops
// drive the bits of a bus, named as synthesis names registers. The same
// options give the same netlist as structural Verilog or as the JSON Yosys
// writes for it (cells and nets in Yosys's order), so that the two readers
// can be timed on one design.

struct GATE_CELL {
  char const* m_name;
  char const* m_pins[5];  // inputs, then outputs
  unsigned m_inputs;
  unsigned m_outputs;
  char const* m_group;  // the group that makes it a flip-flop or a latch, or null
  unsigned m_weight;    // percent of the cells
};

GATE_CELL const kGateCells[] = {
    {"INV_X1", {"A", "ZN"}, 1, 1, nullptr, 20},
    {"NAND2_X1", {"A1", "A2", "ZN"}, 2, 1, nullptr, 20},
    {"NOR2_X1", {"A1", "A2", "ZN"}, 2, 1, nullptr, 10},
    {"AOI21_X1", {"A", "B1", "B2", "ZN"}, 3, 1, nullptr, 10},
    {"MUX2_X1", {"A", "B", "S", "Z"}, 3, 1, nullptr, 10},
    {"HA_X1", {"A", "B", "CO", "S"}, 2, 2, nullptr, 5},
    {"DFF_X1",
     {"D", "CK", "Q", "QN"},
     2,
     2,
     "ff (IQ, IQN) { clocked_on : \"CK\" ; next_state : \"D\" ; }",
     20},
    {"DLH_X1", {"D", "G", "Q"}, 2, 1, "latch (IQ, IQN) { enable : \"G\" ; data_in : \"D\" ; }", 5}};

void write_liberty(WRITER& out) {
  out.put("library (zema_gen) {\n  time_unit : \"1ns\" ;\n");
  for (GATE_CELL const& cell : kGateCells) {
    out.put("  cell (");
    out.put(cell.m_name);
    out.put(") {\n");
    if (cell.m_group != nullptr) {
      out.put("    ");
      out.put(cell.m_group);
      out.put('\n');
    }
    for (unsigned p = 0; p < cell.m_inputs + cell.m_outputs; ++p) {
      out.put("    pin (");
      out.put(cell.m_pins[p]);
      out.put(p < cell.m_inputs ? ") { direction : input ; }\n" : ") { direction : output ; }\n");
    }
    out.put("  }\n");
  }
  out.put("}\n");
}

class NETLIST_GENERATOR {
 public:
  explicit NETLIST_GENERATOR(OPTIONS const& options)
      : m_options(options), m_random(options.m_seed), m_json(options.m_netlist == "yosys") {}

  void run(WRITER& out) {
    std::uint64_t const blocks = std::max<std::uint64_t>(1, m_options.m_instances);
    if (m_json) out.put("{\n  \"creator\": \"zema_gen_design\",\n  \"modules\": {\n");
    for (std::uint64_t b = 0; b < blocks; ++b) {
      std::uint64_t const cells = m_options.m_atoms / blocks + (b < m_options.m_atoms % blocks);
      make_block(cells);
      write_block(out, "block_" + std::to_string(b));
      if (m_json) out.put(",\n");
    }
    write_top(out, blocks);
    if (m_json) out.put("\n  }\n}\n");
  }

 private:
  // Signals of a block: clk, in[0..7], out[0..7], data_q[0..W-1], then the
  // nets n0, n1, ...
  static constexpr std::uint32_t kIn = 1;
  static constexpr std::uint32_t kOut = 9;
  static constexpr std::uint32_t kBus = 17;
  static constexpr std::uint32_t kOpen = 0xffffffffu;

  struct CELL {
    std::string m_name;
    unsigned m_type;
    std::uint32_t m_pins[5];
  };

  void make_block(std::uint64_t count) {
    m_cells.clear();
    m_registers = 0;
    m_nets = 0;
    std::vector<std::uint32_t> made;  // signals driven so far, for inputs
    for (std::uint64_t c = 0; c < count; ++c) {
      unsigned type = 0;
      for (unsigned pick = static_cast<unsigned>(m_random.below(100));
           pick >= kGateCells[type].m_weight; ++type) {
        pick -= kGateCells[type].m_weight;
      }
      GATE_CELL const& gate = kGateCells[type];
      CELL cell{std::string(), type, {kOpen, kOpen, kOpen, kOpen, kOpen}};
      for (unsigned p = 0; p < gate.m_inputs; ++p) {
        bool const fresh = made.empty() || m_random.percent(10);
        cell.m_pins[p] = fresh ? static_cast<std::uint32_t>(m_random.below(kOut))
                               : made[m_random.below(made.size())];
      }
      if (gate.m_group != nullptr && gate.m_name[1] == 'F') {
        // A register: one bit of the bus, its other output mostly open.
        cell.m_name = "\\data_q_reg[" + std::to_string(m_registers) + "]";
        cell.m_pins[gate.m_inputs] = kBus + m_registers++;
        if (m_random.percent(20)) cell.m_pins[gate.m_inputs + 1] = next_net();
      } else {
        cell.m_name = m_random.percent(30) ? "\\$auto$simplemap.cc:278:simplemap_mux$" +
                                                 std::to_string(m_cells.size())
                                           : "U" + std::to_string(m_cells.size());
        for (unsigned p = 0; p < gate.m_outputs; ++p) cell.m_pins[gate.m_inputs + p] = next_net();
      }
      // The last eight cells drive the block's outputs.
      if (count - c <= 8)
        cell.m_pins[gate.m_inputs] = kOut + static_cast<std::uint32_t>(count - c - 1);
      for (unsigned p = 0; p < gate.m_outputs; ++p) {
        if (cell.m_pins[gate.m_inputs + p] != kOpen) made.push_back(cell.m_pins[gate.m_inputs + p]);
      }
      m_cells.push_back(std::move(cell));
    }
  }

  std::uint32_t next_net() { return kBus + 0x10000000u + m_nets++; }

  // A signal as Verilog writes it.
  std::string verilog_signal(std::uint32_t signal) const {
    if (signal == 0) return "clk";
    if (signal < kOut) return "in[" + std::to_string(signal - kIn) + "]";
    if (signal < kBus) return "out[" + std::to_string(signal - kOut) + "]";
    if (signal < kBus + 0x10000000u) return "data_q[" + std::to_string(signal - kBus) + "]";
    return "n" + std::to_string(signal - kBus - 0x10000000u);
  }
  // A signal's bit number in the JSON: the registers' bus, then the nets.
  std::uint64_t json_bit(std::uint32_t signal) const {
    if (signal < kBus + 0x10000000u) return 2 + signal;
    return 2 + kBus + m_registers + (signal - kBus - 0x10000000u);
  }

  void write_block(WRITER& out, std::string const& name) {
    if (m_json) {
      write_json_block(out, name);
      return;
    }
    out.put("module " + name + " (clk, in, out);\n  input clk;\n  input [7:0] in;\n");
    out.put("  output [7:0] out;\n");
    if (m_registers > 0) out.put("  wire [" + std::to_string(m_registers - 1) + ":0] data_q;\n");
    for (std::uint32_t n = 0; n < m_nets; ++n) {
      out.put(n % 16 == 0 ? "  wire n" : ", n");
      out.put_uint(n);
      if (n % 16 == 15 || n + 1 == m_nets) out.put(";\n");
    }
    for (CELL const& cell : m_cells) {
      GATE_CELL const& gate = kGateCells[cell.m_type];
      out.put("  ");
      out.put(gate.m_name);
      out.put(' ');
      out.put(cell.m_name);
      out.put(cell.m_name[0] == '\\' ? "  (" : " (");
      for (unsigned p = 0; p < gate.m_inputs + gate.m_outputs; ++p) {
        out.put(p == 0 ? "." : ", .");
        out.put(gate.m_pins[p]);
        out.put('(');
        if (cell.m_pins[p] != kOpen) out.put(verilog_signal(cell.m_pins[p]));
        out.put(')');
      }
      out.put(");\n");
    }
    out.put("endmodule\n\n");
  }

  void write_json_block(WRITER& out, std::string const& name);
  void write_top(WRITER& out, std::uint64_t blocks);

  OPTIONS const& m_options;
  RANDOM m_random;
  bool m_json;
  std::vector<CELL> m_cells;
  std::uint32_t m_registers = 0;
  std::uint32_t m_nets = 0;
};

// A cell's name as Yosys writes it: an escaped identifier without its
// backslash, unless its text starts with "$" (which keeps it).
std::string json_name(std::string const& verilog) {
  if (verilog[0] != '\\' || verilog[1] == '$') return verilog;
  return verilog.substr(1);
}

// Yosys's order: by the identifier's text, a backslash that is kept aside.
bool yosys_order(std::string const& a, std::string const& b) {
  return std::string_view(a).substr(a[0] == '\\') < std::string_view(b).substr(b[0] == '\\');
}

void put_bits(WRITER& out, std::uint64_t first, std::uint64_t count) {
  out.put('[');
  for (std::uint64_t b = 0; b < count; ++b) {
    if (b != 0) out.put(", ");
    out.put_uint(first + b);
  }
  out.put(']');
}

void NETLIST_GENERATOR::write_json_block(WRITER& out, std::string const& name) {
  out.put("    ");
  out.put_json(name);
  out.put(": {\n      \"attributes\": {\"src\": \"gen.v:1.1-9.10\"},\n      \"ports\": {\n");
  out.put("        \"clk\": {\"direction\": \"input\", \"bits\": [2]},\n");
  out.put("        \"in\": {\"direction\": \"input\", \"bits\": ");
  put_bits(out, 2 + kIn, 8);
  out.put("},\n        \"out\": {\"direction\": \"output\", \"bits\": ");
  put_bits(out, 2 + kOut, 8);
  out.put("}\n      },\n      \"cells\": {\n");
  std::vector<std::uint32_t> order(m_cells.size());
  for (std::uint32_t c = 0; c < order.size(); ++c) order[c] = c;
  std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
    return yosys_order(m_cells[a].m_name, m_cells[b].m_name);
  });
  for (std::size_t i = 0; i < order.size(); ++i) {
    CELL const& cell = m_cells[order[i]];
    GATE_CELL const& gate = kGateCells[cell.m_type];
    // Pins in name order, as Yosys sorts them.
    unsigned pins[5];
    unsigned const count = gate.m_inputs + gate.m_outputs;
    for (unsigned p = 0; p < count; ++p) pins[p] = p;
    std::sort(pins, pins + count, [&](unsigned a, unsigned b) {
      return std::string_view(gate.m_pins[a]) < std::string_view(gate.m_pins[b]);
    });
    out.put(i == 0 ? "        " : ",\n        ");
    out.put_json(json_name(cell.m_name));
    out.put(": {\n          \"hide_name\": 0,\n          \"type\": ");
    out.put_json(gate.m_name);
    out.put(
        ",\n          \"parameters\": {\n          },\n          \"attributes\": {\"src\": "
        "\"gen.v:");
    out.put_uint(order[i] + 20);
    out.put(".3-");
    out.put_uint(order[i] + 20);
    out.put(".60\"},\n          \"port_directions\": {");
    for (unsigned p = 0; p < count; ++p) {
      out.put(p == 0 ? "" : ", ");
      out.put_json(gate.m_pins[pins[p]]);
      out.put(pins[p] < gate.m_inputs ? ": \"input\"" : ": \"output\"");
    }
    out.put("},\n          \"connections\": {");
    for (unsigned p = 0; p < count; ++p) {
      out.put(p == 0 ? "" : ", ");
      out.put_json(gate.m_pins[pins[p]]);
      out.put(": ");
      std::uint32_t const signal = cell.m_pins[pins[p]];
      if (signal == kOpen) {
        out.put("[]");
      } else {
        put_bits(out, json_bit(signal), 1);
      }
    }
    out.put("}\n        }");
  }
  out.put("\n      },\n      \"netnames\": {\n");
  std::vector<std::pair<std::string, std::pair<std::uint64_t, std::uint64_t>>> nets = {
      {"clk", {2, 1}}, {"in", {2 + kIn, 8}}, {"out", {2 + kOut, 8}}};
  if (m_registers > 0) nets.push_back({"data_q", {2 + kBus, m_registers}});
  for (std::uint32_t n = 0; n < m_nets; ++n) {
    nets.push_back({"n" + std::to_string(n), {2 + kBus + m_registers + n, 1}});
  }
  std::sort(nets.begin(), nets.end());
  for (std::size_t n = 0; n < nets.size(); ++n) {
    out.put(n == 0 ? "        " : ",\n        ");
    out.put_json(nets[n].first);
    out.put(": {\"hide_name\": 0, \"bits\": ");
    put_bits(out, nets[n].second.first, nets[n].second.second);
    out.put(", \"attributes\": {\"src\": \"gen.v:5.8-5.12\"}}");
  }
  out.put("\n      }\n    }");
}

// The top module: the blocks in a chain, each one's outputs the next one's
// inputs.
void NETLIST_GENERATOR::write_top(WRITER& out, std::uint64_t blocks) {
  if (!m_json) {
    out.put("module top (clk, in, out);\n  input clk;\n  input [7:0] in;\n  output [7:0] out;\n");
    for (std::uint64_t b = 0; b + 1 < blocks; ++b) {
      out.put("  wire [7:0] chain_" + std::to_string(b) + ";\n");
    }
    for (std::uint64_t b = 0; b < blocks; ++b) {
      std::string const from = b == 0 ? "in" : "chain_" + std::to_string(b - 1);
      std::string const to = b + 1 == blocks ? "out" : "chain_" + std::to_string(b);
      std::string const block = std::to_string(b);
      out.put("  block_");
      out.put(block);
      out.put(" u_block_");
      out.put(block);
      out.put(" (.clk(clk), .in(");
      out.put(from);
      out.put("), .out(");
      out.put(to);
      out.put("));\n");
    }
    out.put("endmodule\n");
    return;
  }
  out.put(
      "    \"top\": {\n      \"attributes\": {\"top\": \"00000000000000000000000000000001\"},\n");
  out.put(
      "      \"ports\": {\"clk\": {\"direction\": \"input\", \"bits\": [2]}, \"in\": "
      "{\"direction\": \"input\", \"bits\": ");
  put_bits(out, 3, 8);
  out.put("}, \"out\": {\"direction\": \"output\", \"bits\": ");
  put_bits(out, 11, 8);
  out.put("}},\n      \"cells\": {\n");
  std::vector<std::string> names;
  for (std::uint64_t b = 0; b < blocks; ++b) names.push_back(std::to_string(b));
  std::sort(names.begin(), names.end());
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::uint64_t const b = std::stoull(names[i]);
    out.put(i == 0 ? "        " : ",\n        ");
    out.put("\"u_block_" + names[i] + "\": {\"hide_name\": 0, \"type\": \"block_" + names[i] +
            "\", \"parameters\": {}, \"attributes\": {}, \"port_directions\": {\"clk\": "
            "\"input\", \"in\": \"input\", \"out\": \"output\"}, \"connections\": {\"clk\": [2], "
            "\"in\": ");
    put_bits(out, b == 0 ? 3 : 19 + 8 * (b - 1), 8);
    out.put(", \"out\": ");
    put_bits(out, b + 1 == blocks ? 11 : 19 + 8 * b, 8);
    out.put("}}");
  }
  out.put("\n      },\n      \"netnames\": {\n        \"clk\": {\"hide_name\": 0, \"bits\": [2]}");
  for (std::size_t i = 0; i < names.size(); ++i) {
    std::uint64_t const b = std::stoull(names[i]);
    if (b + 1 == blocks) continue;
    out.put(",\n        \"chain_" + names[i] + "\": {\"hide_name\": 0, \"bits\": ");
    put_bits(out, 19 + 8 * b, 8);
    out.put("}");
  }
  out.put(",\n        \"in\": {\"hide_name\": 0, \"bits\": ");
  put_bits(out, 3, 8);
  out.put("},\n        \"out\": {\"hide_name\": 0, \"bits\": ");
  put_bits(out, 11, 8);
  out.put("}\n      }\n    }");
}

int run_main(int argc, char** argv) {
  OPTIONS options;
  CLI::App app("Writes a random design file for the zema tool.", "zema_gen_design");
  app.add_option("--instances", options.m_instances, "Hierarchy instances, the root included")
      ->capture_default_str();
  app.add_option("--fanout", options.m_fanout, "Mean children per parent instance; 1 makes a chain")
      ->capture_default_str();
  app.add_option("--max-depth", options.m_max_depth, "Deepest level below the root; 0: no limit")
      ->capture_default_str();
  app.add_option("--shape", options.m_shape,
                 "random: each parent has 1 to 2 * --fanout - 1 children; complete: exactly "
                 "--fanout, level by level")
      ->check(CLI::IsMember({"random", "complete"}))
      ->capture_default_str();
  app.add_option("--atoms", options.m_atoms, "Atoms in the netlist")->capture_default_str();
  app.add_flag("--leaf-atoms", options.m_leaf_atoms,
               "One atom per leaf instance, named by it, in place of --atoms");
  app.add_option("--oterms", options.m_oterms, "Most oterm entries per atom")
      ->capture_default_str();
  app.add_option("--names", options.m_names, "Free-standing names")->capture_default_str();
  app.add_option("--missing-ids", options.m_missing_ids,
                 "Percent of instances below the root written without an id")
      ->check(CLI::Range(0, 100))
      ->capture_default_str();
  app.add_option("--seed", options.m_seed, "Random seed")->capture_default_str();
  app.add_option("--alphabet", options.m_alphabet,
                 "Unit names: plain (a-z, 0-9, _), wild, or rtl (as RTL and synthesis write them)")
      ->check(CLI::IsMember({"plain", "wild", "rtl"}))
      ->capture_default_str();
  app.add_option("-o,--output", options.m_output, "Output file, - for standard output")
      ->capture_default_str();
  app.add_option("--netlist", options.m_netlist,
                 "Write a gate-level netlist instead of a design file: structural Verilog or "
                 "Yosys JSON of --atoms cells in --instances modules")
      ->check(CLI::IsMember({"verilog", "yosys"}));
  app.add_option("--liberty", options.m_liberty, "Also write the Liberty of the netlist's cells");
  try {
    app.parse(argc, argv);
  } catch (CLI::ParseError const& error) {
    return app.exit(error) == 0 ? 0 : 2;
  }
  if (options.m_instances > 0xfffffff0u || options.m_atoms > 0xfffffff0u) {
    std::fprintf(stderr, "zema_gen_design: too many instances or atoms\n");
    return 2;
  }

  std::FILE* const stream =
      options.m_output == "-" ? stdout : std::fopen(options.m_output.c_str(), "wb");
  if (stream == nullptr) {
    std::perror(options.m_output.c_str());
    return 2;
  }
  WRITER out(stream);
  if (options.m_netlist.empty()) {
    GENERATOR(options).run(out);
  } else {
    NETLIST_GENERATOR(options).run(out);
  }
  if (!options.m_liberty.empty()) {
    std::FILE* const liberty = std::fopen(options.m_liberty.c_str(), "wb");
    if (liberty == nullptr) {
      std::perror(options.m_liberty.c_str());
      return 2;
    }
    WRITER library(liberty);
    write_liberty(library);
    if (library.finish() != 0 || std::fclose(liberty) != 0) {
      std::fprintf(stderr, "zema_gen_design: cannot write %s\n", options.m_liberty.c_str());
      return 2;
    }
  }
  int const error = out.finish();
  if (error != 0 || (stream != stdout && std::fclose(stream) != 0)) {
    std::fprintf(stderr, "zema_gen_design: cannot write %s: %s\n", options.m_output.c_str(),
                 std::strerror(error != 0 ? error : errno));
    return 2;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run_main(argc, argv);
  } catch (std::exception const& exception) {
    std::fprintf(stderr, "zema_gen_design: %s\n", exception.what());
    return 2;
  }
}
