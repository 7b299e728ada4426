#include "tools/input/netlist_expander.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "h/cdb_net_sys.h"
#include "host/zema_host.h"
#include "tools/support/hash_table.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// a + b and a * b, or the largest count when that overflows.
std::uint64_t saturated_sum(std::uint64_t a, std::uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}
std::uint64_t saturated_product(std::uint64_t a, std::uint64_t b) {
  return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

// What a bit of a module is named after: a net and the bit's position in it.
struct BIT_NAME {
  NETLIST_BIT m_bit;
  std::uint32_t m_net;
  std::uint32_t m_index;
  bool m_visible;
};

// The name of an output of a COMB atom: `m_base`, or `m_base[m_index]`.
struct LABEL {
  std::string_view m_base;
  std::int64_t m_index = 0;
  bool m_indexed = false;
};

std::uint64_t label_bytes(LABEL const& label) {
  if (!label.m_indexed) return label.m_base.size();
  char digits[kDecimalRoom];
  std::uint64_t const magnitude = label.m_index < 0 ? 0 - static_cast<std::uint64_t>(label.m_index)
                                                    : static_cast<std::uint64_t>(label.m_index);
  std::size_t const length = static_cast<std::size_t>(write_decimal(digits, magnitude) - digits);
  return label.m_base.size() + 2 + length + (label.m_index < 0 ? 1 : 0);
}

// What expanding one instance of a module makes below that instance: names,
// the bytes of their paths from the instance ("/a/b" counts 4, as
// DESIGN_RECORDS::full_name_bytes counts a path), atoms, and cells of
// unknown types; and, so that the records can be sized once, the bytes of
// the unit names with their NULs, the oterm entries and the scoped names.
// Counts saturate.
struct EXPANSION_COUNT {
  std::uint64_t m_names = 0;
  std::uint64_t m_bytes = 0;
  std::uint64_t m_atoms = 0;
  std::uint64_t m_unknown = 0;
  std::uint64_t m_text_bytes = 0;
  std::uint64_t m_oterms = 0;
  std::uint64_t m_scoped = 0;

  // Adds `count` as it stands below a level named `name` of this module.
  void add_below(std::string_view name, EXPANSION_COUNT const& count) {
    m_names = saturated_sum(m_names, count.m_names);
    m_bytes = saturated_sum(
        m_bytes, saturated_sum(count.m_bytes, saturated_product(count.m_names, 1 + name.size())));
    m_atoms = saturated_sum(m_atoms, count.m_atoms);
    m_unknown = saturated_sum(m_unknown, count.m_unknown);
    m_text_bytes = saturated_sum(m_text_bytes, count.m_text_bytes);
    m_oterms = saturated_sum(m_oterms, count.m_oterms);
    m_scoped = saturated_sum(m_scoped, count.m_scoped);
  }
  // Adds one name at `path_bytes` below this module's instance, whose unit
  // name takes `unit_bytes`.
  void add_name(std::uint64_t path_bytes, std::uint64_t unit_bytes) {
    m_names = saturated_sum(m_names, 1);
    m_bytes = saturated_sum(m_bytes, path_bytes);
    m_text_bytes = saturated_sum(m_text_bytes, unit_bytes + 1);
  }
};

class NETLIST_EXPANDER {
 public:
  NETLIST_EXPANDER(NETLIST const& netlist, NETLIST_PLACES const& places,
                   READ_OPTIONS const& options, DESIGN_RECORDS* records)
      : m_netlist(netlist),
        m_places(places),
        m_options(options),
        m_records(*records),
        m_bit_names(netlist.m_modules.size()),
        m_bit_names_built(netlist.m_modules.size(), false) {}

  void run() {
    std::uint32_t const top = find_top();
    reserve(count(top));
    expand(top);
  }

 private:
  NETLIST_MODULE const& module(std::uint32_t m) const { return m_netlist.m_modules[m]; }
  int atom_type(NETLIST_CELL const& cell) const {
    return cell.m_kind == CELL_KIND::ATOM ? cell.m_atom_type : CDB_ATOM_COMB;
  }

  std::uint32_t find_top() const;
  [[noreturn]] void refuse_top(std::vector<std::uint32_t> const& candidates) const;
  EXPANSION_COUNT count(std::uint32_t top);
  void reserve(EXPANSION_COUNT const& total);
  EXPANSION_COUNT count_module(std::uint32_t m, std::vector<EXPANSION_COUNT> const& counts);
  [[noreturn]] void refuse_cycle(std::vector<std::uint32_t> const& open, std::uint32_t module,
                                 std::uint32_t cell) const;
  void check_unknown_cells(std::uint32_t top, EXPANSION_COUNT const& total,
                           std::vector<char> const& reached);
  void expand(std::uint32_t top);
  void add_atom(NETLIST_CELL const& cell, std::uint32_t instance, std::uint32_t position);
  void build_bit_names(std::uint32_t m);
  LABEL net_label(std::uint32_t m, NETLIST_OUTPUT const& output);
  std::string_view label_text(LABEL const& label);

  std::uint32_t next_id() { return static_cast<std::uint32_t>(++m_last_id); }

  NETLIST const& m_netlist;
  NETLIST_PLACES const& m_places;
  READ_OPTIONS const& m_options;
  DESIGN_RECORDS& m_records;

  // Per module, built when its first COMB output is named: one entry per
  // signal bit, sorted by bit.
  std::vector<std::vector<BIT_NAME>> m_bit_names;
  std::vector<bool> m_bit_names_built;
  // Per output of a COMB atom of a module the top reaches: its name, found
  // once when the module is counted and used for every instance of it.
  std::vector<LABEL> m_labels;
  std::string m_scratch;  // the text of an indexed label
  std::uint64_t m_last_id = 0;
  // Populates the records' room while the expansion fills it; stopped
  // before the records can go.
  std::unique_ptr<zema_host::PAGE_POPULATOR> m_populator;
};

// --- The top module ----------------------------------------------------------------

std::uint32_t NETLIST_EXPANDER::find_top() const {
  std::uint32_t const modules = static_cast<std::uint32_t>(m_netlist.m_modules.size());
  if (!m_options.m_top.empty()) {
    for (std::uint32_t m = 0; m < modules; ++m) {
      if (module(m).m_name != m_options.m_top) continue;
      if (module(m).m_cell_type) {
        throw TOOL_ERROR(m_places.netlist_place(),
                         "module " + quoted_text(m_options.m_top) + " is a black box (--top)");
      }
      return m;
    }
    throw TOOL_ERROR(m_places.netlist_place(),
                     "no module named " + quoted_text(m_options.m_top) + " (--top)");
  }
  if (modules == 0) throw TOOL_ERROR(m_places.netlist_place(), "the netlist has no module");
  bool const only_boxes = std::all_of(m_netlist.m_modules.begin(), m_netlist.m_modules.end(),
                                      [](NETLIST_MODULE const& m) { return m.m_cell_type; });
  if (only_boxes) {
    throw TOOL_ERROR(m_places.netlist_place(),
                     "every module of the netlist is a black box (a type of cells: marked so, or "
                     "with nothing in it but its ports), so none can be the top");
  }
  std::vector<std::uint32_t> marked;
  std::vector<bool> used(modules, false);
  for (std::uint32_t m = 0; m < modules; ++m) {
    if (module(m).m_marked_top && !module(m).m_cell_type) marked.push_back(m);
  }
  if (marked.size() == 1) return marked[0];
  for (NETLIST_CELL const& cell : m_netlist.m_cells) {
    if (cell.m_kind == CELL_KIND::INSTANCE) used[cell.m_module] = true;
  }
  std::vector<std::uint32_t> roots;
  for (std::uint32_t m = 0; m < modules; ++m) {
    if (!used[m] && !module(m).m_cell_type) roots.push_back(m);
  }
  if (roots.size() == 1) return roots[0];
  refuse_top(marked.empty() ? roots : marked);
}

void NETLIST_EXPANDER::refuse_top(std::vector<std::uint32_t> const& candidates) const {
  std::vector<std::string_view> names;
  names.reserve(candidates.size());
  for (std::uint32_t m : candidates) names.push_back(module(m).m_name);
  std::sort(names.begin(), names.end());
  std::string list;
  for (std::size_t i = 0; i < names.size() && i < 8; ++i) {
    list += (i == 0 ? "" : ", ") + quoted_text(names[i]);
  }
  if (names.size() > 8) list += ", ... (" + decimal(names.size()) + " in all)";
  throw TOOL_ERROR(
      m_places.netlist_place(),
      "cannot tell the top module (" +
          (names.empty() ? std::string("every module is instantiated") : "candidates: " + list) +
          "); give --top");
}

// --- Counting ----------------------------------------------------------------------

// Counts the expansion of each module the top reaches, children before
// parents, with an explicit stack; a module met again while it is being
// counted instantiates itself. The counts multiply along instantiations, so
// a file of a few kilobytes can describe more names than any machine holds:
// they are refused here, before anything is built.
EXPANSION_COUNT NETLIST_EXPANDER::count(std::uint32_t top) {
  enum STATE : char { UNSEEN, OPEN, DONE };
  std::vector<char> state(m_netlist.m_modules.size(), UNSEEN);
  std::vector<EXPANSION_COUNT> counts(m_netlist.m_modules.size());
  m_labels.resize(m_netlist.m_outputs.size());
  struct FRAME {
    std::uint32_t m_module;
    std::uint32_t m_cell;
  };
  std::vector<FRAME> stack{{top, module(top).m_cells_begin}};
  std::vector<std::uint32_t> open{top};
  state[top] = OPEN;
  while (!stack.empty()) {
    FRAME& frame = stack.back();
    if (frame.m_cell == module(frame.m_module).m_cells_end) {
      counts[frame.m_module] = count_module(frame.m_module, counts);
      state[frame.m_module] = DONE;
      stack.pop_back();
      open.pop_back();
      continue;
    }
    std::uint32_t const c = frame.m_cell++;
    NETLIST_CELL const& cell = m_netlist.m_cells[c];
    if (cell.m_kind != CELL_KIND::INSTANCE || state[cell.m_module] == DONE) continue;
    if (state[cell.m_module] == OPEN) refuse_cycle(open, frame.m_module, c);
    state[cell.m_module] = OPEN;
    stack.push_back({cell.m_module, module(cell.m_module).m_cells_begin});
    open.push_back(cell.m_module);
  }
  // The root, whose path DESIGN_RECORDS::full_name_bytes counts empty, and
  // the top module's expansion below it.
  EXPANSION_COUNT total = counts[top];
  total.add_name(0, 0);
  if (total.m_names > m_options.m_max_instances) {
    throw TOOL_ERROR(
        m_places.module_place(top),
        "expanding the hierarchy makes " +
            count_over_limit(total.m_names, "instance names", m_options.m_max_instances));
  }
  if (total.m_bytes > m_options.m_max_name_bytes) {
    throw TOOL_ERROR(m_places.module_place(top),
                     "expanding the hierarchy makes " +
                         bytes_over_limit(total.m_bytes, m_options.m_max_name_bytes));
  }
  // Within the limits a user may lift, what the records can hold at all.
  if (total.m_names > DESIGN_RECORDS::kMaxNames) {
    throw TOOL_ERROR(m_places.module_place(top), "expanding the hierarchy makes more than " +
                                                     decimal(DESIGN_RECORDS::kMaxNames) +
                                                     " instance names");
  }
  if (total.m_text_bytes > DESIGN_RECORDS::kMaxTextBytes) {
    throw TOOL_ERROR(m_places.module_place(top), "expanding the hierarchy makes more than " +
                                                     decimal(DESIGN_RECORDS::kMaxTextBytes) +
                                                     " bytes of unit names");
  }
  check_unknown_cells(top, total, state);
  return total;
}

// Sizes the records for what expanding `total` adds, so that a million-cell
// netlist is written into arrays allocated once instead of grown by copying
// into fresh memory again and again. count() has bounded every count by
// what the records can hold; an array that the address space cannot hold
// (a 32-bit build) is left to grow as far as it can.
//
// The first touch of those arrays is most of the expansion's time on a big
// netlist, so another core populates them meanwhile. The expansion fills
// them side by side, each at its own pace, so the populator takes a slice
// of each in turn: the first sixteenth of every array, then the second.
void NETLIST_EXPANDER::reserve(EXPANSION_COUNT const& total) {
  std::vector<std::pair<char*, char*>> rooms;
  auto const room = [&rooms](auto& records, std::uint64_t more) {
    if (more > records.max_size() - records.size()) return;
    records.reserve(records.size() + static_cast<std::size_t>(more));
    rooms.emplace_back(reinterpret_cast<char*>(records.data() + records.size()),
                       reinterpret_cast<char*>(records.data() + records.capacity()));
  };
  room(m_records.m_names, total.m_names);
  room(m_records.m_texts, total.m_text_bytes);
  room(m_records.m_atoms, total.m_atoms);
  room(m_records.m_oterms, total.m_oterms);
  room(m_records.m_scoped, total.m_scoped);
  constexpr std::size_t kSlices = 16;
  std::vector<std::pair<char*, char*>> slices;
  slices.reserve(kSlices * rooms.size());
  for (std::size_t slice = 0; slice < kSlices; ++slice) {
    for (auto const& range : rooms) {
      std::size_t const bytes = static_cast<std::size_t>(range.second - range.first);
      slices.emplace_back(range.first + bytes * slice / kSlices,
                          range.first + bytes * (slice + 1) / kSlices);
    }
  }
  m_populator = zema_host::PAGE_POPULATOR::start(std::move(slices));
}

// The expansion of one instance of module `m`, whose instantiated modules
// are counted in `counts`; names the outputs of its COMB atoms.
EXPANSION_COUNT NETLIST_EXPANDER::count_module(std::uint32_t m,
                                               std::vector<EXPANSION_COUNT> const& counts) {
  EXPANSION_COUNT total;
  NETLIST_MODULE const& owner = module(m);
  for (std::uint32_t c = owner.m_cells_begin; c < owner.m_cells_end; ++c) {
    NETLIST_CELL const& cell = m_netlist.m_cells[c];
    std::uint64_t const cell_path = 1 + cell.m_name.size();
    if (cell.m_kind == CELL_KIND::INSTANCE) {
      total.add_name(cell_path, cell.m_name.size());
      total.add_below(cell.m_name, counts[cell.m_module]);
      continue;
    }
    total.m_atoms = saturated_sum(total.m_atoms, 1);
    if (cell.m_kind == CELL_KIND::UNKNOWN) total.m_unknown = saturated_sum(total.m_unknown, 1);
    total.add_name(cell_path, cell.m_name.size());
    std::uint64_t const outputs = cell.m_outputs_end - cell.m_outputs_begin;
    total.m_oterms = saturated_sum(total.m_oterms, outputs);
    if (atom_type(cell) == CDB_ATOM_COMB) {
      // The output names lie outside the hierarchy, in this module's instance.
      for (std::uint32_t o = cell.m_outputs_begin; o < cell.m_outputs_end; ++o) {
        m_labels[o] = net_label(m, m_netlist.m_outputs[o]);
        std::uint64_t const bytes = label_bytes(m_labels[o]);
        total.add_name(1 + bytes, bytes);
      }
      total.m_scoped = saturated_sum(total.m_scoped, outputs);
      continue;
    }
    // The port instances below the cell's, and the atom's own name outside.
    for (std::uint32_t o = cell.m_outputs_begin; o < cell.m_outputs_end; ++o) {
      std::uint64_t const bytes = m_netlist.m_outputs[o].m_port.size();
      total.add_name(cell_path + 1 + bytes, bytes);
    }
    total.add_name(cell_path, cell.m_name.size());
    total.m_scoped = saturated_sum(total.m_scoped, 1);
  }
  return total;
}

void NETLIST_EXPANDER::refuse_cycle(std::vector<std::uint32_t> const& open, std::uint32_t m,
                                    std::uint32_t c) const {
  NETLIST_CELL const& cell = m_netlist.m_cells[c];
  // The cycle runs from the module's own frame to this cell, and back.
  std::size_t first = open.size() - 1;
  while (open[first] != cell.m_module) --first;
  std::string const chain = bounded_list(
      open.size() - first + 1,
      [&](std::size_t i) {
        return quoted_text(
            module(first + i < open.size() ? open[first + i] : cell.m_module).m_name);
      },
      " -> ", "module");
  throw TOOL_ERROR(
      m_places.cell_place(m, c),
      "module " + quoted_text(module(cell.m_module).m_name) + " instantiates itself: " + chain);
}

// Cells of types that say nothing of their pins would silently become atoms
// without oterms: refused unless the options make them atoms, and then said
// once. So is a netlist whose cells make no atom at all (its cell types
// defined as modules that only assign, say).
void NETLIST_EXPANDER::check_unknown_cells(std::uint32_t top, EXPANSION_COUNT const& total,
                                           std::vector<char> const& reached) {
  if (total.m_atoms == 0 && !m_netlist.m_cells.empty()) {
    std::size_t const cells = m_netlist.m_cells.size();
    throw TOOL_ERROR(m_places.module_place(top),
                     "expanding module " + quoted_text(module(top).m_name) +
                         " makes no atom, though the netlist has " + decimal(cells) +
                         (cells == 1 ? " cell" : " cells") +
                         " (do its cell types' modules only assign?)");
  }
  if (total.m_unknown == 0) return;
  std::vector<std::string_view> types;
  HASH_MAP<std::string_view, bool> seen;
  std::uint32_t first_module = kNoModule;
  std::uint32_t first_cell = 0;
  for (std::uint32_t m = 0; m < m_netlist.m_modules.size(); ++m) {
    if (reached[m] == 0) continue;
    for (std::uint32_t c = module(m).m_cells_begin; c < module(m).m_cells_end; ++c) {
      NETLIST_CELL const& cell = m_netlist.m_cells[c];
      if (cell.m_kind != CELL_KIND::UNKNOWN) continue;
      if (first_module == kNoModule) {
        first_module = m;
        first_cell = c;
      }
      if (seen.emplace(cell.m_type, true).second) types.push_back(cell.m_type);
    }
  }
  std::sort(types.begin(), types.end());
  std::string list;
  for (std::size_t t = 0; t < types.size() && t < 10; ++t) {
    list += (t == 0 ? "" : ", ") + quoted_text(types[t]);
  }
  if (types.size() > 10) list += ", and " + decimal(types.size() - 10) + " more";
  bool const one = total.m_unknown == 1;
  std::string const what = decimal(total.m_unknown) + (one ? " cell" : " cells") + " of " +
                           decimal(types.size()) + (types.size() == 1 ? " type" : " types") +
                           (one ? " has" : " have") + " no known pins (" + list + ")";
  if (m_options.m_unknown_cells == UNKNOWN_CELLS::ERROR) {
    throw TOOL_ERROR(m_places.cell_place(first_module, first_cell),
                     what + "; give --liberty, or --unknown-cells atom");
  }
  m_records.m_warnings.push_back(what + "; they are COMB atoms without oterms");
}

// --- Expansion ---------------------------------------------------------------------

void NETLIST_EXPANDER::expand(std::uint32_t top) {
  struct FRAME {
    std::uint32_t m_module;
    std::uint32_t m_cell;
    std::uint32_t m_instance;  // the record of the module's instance
    std::uint32_t m_children;  // children made so far
  };
  std::uint32_t const root = m_records.add_name(NAME_HIERARCHY, kNoRecord, 0, 0, next_id(), true);
  std::vector<FRAME> stack{{top, module(top).m_cells_begin, root, 0}};
  while (!stack.empty()) {
    FRAME& frame = stack.back();
    if (frame.m_cell == module(frame.m_module).m_cells_end) {
      stack.pop_back();
      continue;
    }
    std::uint32_t const c = frame.m_cell++;
    NETLIST_CELL const& cell = m_netlist.m_cells[c];
    std::uint32_t const position = frame.m_children++;
    if (cell.m_kind != CELL_KIND::INSTANCE) {
      add_atom(cell, frame.m_instance, position);
      continue;
    }
    // Levels: the root is 0, the stack holds the open module instances, and
    // an atom below the deepest adds its cell and port levels.
    if (stack.size() + 2 > kMaxHierarchyLevels) {
      throw TOOL_ERROR(m_places.cell_place(frame.m_module, c),
                       "the hierarchy is deeper than " + decimal(kMaxHierarchyLevels) + " levels");
    }
    std::uint32_t const instance =
        m_records.add_name(NAME_HIERARCHY, frame.m_instance, position,
                           m_records.add_text(cell.m_name), next_id(), true);
    stack.push_back({cell.m_module, module(cell.m_module).m_cells_begin, instance, 0});
  }
}

void NETLIST_EXPANDER::add_atom(NETLIST_CELL const& cell, std::uint32_t instance,
                                std::uint32_t position) {
  int const type = atom_type(cell);
  std::uint32_t const atom = static_cast<std::uint32_t>(m_records.m_atoms.size());
  std::uint32_t const node = m_records.add_name(NAME_HIERARCHY, instance, position,
                                                m_records.add_text(cell.m_name), next_id(), true);
  ATOM_RECORD record{
      {node, REF_RECORD}, static_cast<std::uint32_t>(m_records.m_oterms.size()), type};
  if (type == CDB_ATOM_COMB) {
    // Named by its own instance; each output is named after the net it drives.
    for (std::uint32_t o = cell.m_outputs_begin; o < cell.m_outputs_end; ++o) {
      std::uint32_t const name =
          m_records.add_name(NAME_NETLIST, o - cell.m_outputs_begin, atom,
                             m_records.add_text(label_text(m_labels[o])), next_id(), true);
      m_records.m_oterms.push_back({name, REF_RECORD});
      m_records.m_scoped.push_back({name, instance});
    }
  } else {
    // Each output is an instance below the cell's; the atom is named outside.
    for (std::uint32_t o = cell.m_outputs_begin; o < cell.m_outputs_end; ++o) {
      std::uint32_t const port =
          m_records.add_name(NAME_HIERARCHY, node, o - cell.m_outputs_begin,
                             m_records.add_text(m_netlist.m_outputs[o].m_port), next_id(), true);
      m_records.m_oterms.push_back({port, REF_RECORD});
    }
    std::uint32_t const name = m_records.add_name(NAME_NETLIST, kNoRecord, atom,
                                                  m_records.add_text(cell.m_name), next_id(), true);
    record.m_name = {name, REF_RECORD};
    m_records.m_scoped.push_back({name, instance});
  }
  m_records.m_atoms.push_back(record);
}

// --- Net names -----------------------------------------------------------------------

// Each signal bit of a module is named after the first visible net that
// holds it, else the first hidden one.
void NETLIST_EXPANDER::build_bit_names(std::uint32_t m) {
  m_bit_names_built[m] = true;
  std::vector<BIT_NAME>& names = m_bit_names[m];
  for (std::uint32_t n = module(m).m_nets_begin; n < module(m).m_nets_end; ++n) {
    NETLIST_NET const& net = m_netlist.m_nets[n];
    for (std::uint32_t b = net.m_bits_begin; b < net.m_bits_end; ++b) {
      if (m_netlist.m_bits[b] < 0) continue;
      names.push_back({m_netlist.m_bits[b], n, b - net.m_bits_begin, !net.m_hidden});
    }
  }
  std::stable_sort(names.begin(), names.end(), [](BIT_NAME const& a, BIT_NAME const& b) {
    if (a.m_bit != b.m_bit) return a.m_bit < b.m_bit;
    return a.m_visible && !b.m_visible;
  });
  auto const last =
      std::unique(names.begin(), names.end(),
                  [](BIT_NAME const& a, BIT_NAME const& b) { return a.m_bit == b.m_bit; });
  names.erase(last, names.end());
}

// The name of the net an output drives: the net's own name when the output
// drives exactly that whole net, else its first signal bit's label ("net"
// for a one-bit net at offset 0, else "net[i]"); the port's name when it
// drives no named bit.
LABEL NETLIST_EXPANDER::net_label(std::uint32_t m, NETLIST_OUTPUT const& output) {
  std::vector<NETLIST_BIT> const& bits = m_netlist.m_bits;
  NETLIST_BIT first = -1;
  for (std::uint32_t b = output.m_bits_begin; b < output.m_bits_end; ++b) {
    if (bits[b] >= 0) {
      first = bits[b];
      break;
    }
  }
  LABEL label;
  label.m_base = output.m_port;
  if (first < 0) return label;
  if (!m_bit_names_built[m]) build_bit_names(m);
  std::vector<BIT_NAME> const& names = m_bit_names[m];
  auto const found =
      std::lower_bound(names.begin(), names.end(), first,
                       [](BIT_NAME const& entry, NETLIST_BIT bit) { return entry.m_bit < bit; });
  if (found == names.end() || found->m_bit != first) return label;
  NETLIST_NET const& net = m_netlist.m_nets[found->m_net];
  label.m_base = net.m_name;
  std::uint32_t const width = net.m_bits_end - net.m_bits_begin;
  std::uint32_t const driven = output.m_bits_end - output.m_bits_begin;
  if (driven > 1 && driven == width &&
      std::equal(bits.begin() + output.m_bits_begin, bits.begin() + output.m_bits_end,
                 bits.begin() + net.m_bits_begin)) {
    return label;
  }
  if (width == 1 && net.m_offset == 0) return label;
  label.m_indexed = true;
  label.m_index =
      net.m_offset + (net.m_upto ? std::int64_t{width} - 1 - found->m_index : found->m_index);
  return label;
}

std::string_view NETLIST_EXPANDER::label_text(LABEL const& label) {
  if (!label.m_indexed) return label.m_base;
  m_scratch.assign(label.m_base);
  m_scratch.push_back('[');
  if (label.m_index < 0) m_scratch.push_back('-');
  char digits[kDecimalRoom];
  std::uint64_t const magnitude = label.m_index < 0 ? 0 - static_cast<std::uint64_t>(label.m_index)
                                                    : static_cast<std::uint64_t>(label.m_index);
  m_scratch.append(digits, write_decimal(digits, magnitude));
  m_scratch.push_back(']');
  return m_scratch;
}

}  // namespace

void expand_netlist(NETLIST const& netlist, NETLIST_PLACES const& places,
                    READ_OPTIONS const& options, DESIGN_RECORDS* records) {
  NETLIST_EXPANDER(netlist, places, options, records).run();
}

}  // namespace zema_tool
