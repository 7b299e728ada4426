// CELL_TYPES: the cell types whose pins a netlist front end knows without
// expanding anything: the cells of the --liberty library, found there on
// first use, and the types a front end adds itself (a black-box module of a
// Yosys netlist, a Verilog gate). Each is a CELL_PINS: its atom type and
// its pins in order, found by name in constant time however wide the type
// is, so that matching a cell's connections to its pins stays linear.
//
// Which source wins when a name is in several (a module of the netlist, the
// library, a black box) is the front ends' rule; this table only keeps what
// they give it. Names are views that must outlive the table.
#ifndef TOOLS_INPUT_CELL_TYPES_H
#define TOOLS_INPUT_CELL_TYPES_H

#include <cstdint>
#include <deque>
#include <string_view>
#include <utility>
#include <vector>

#include "tools/input/cell_library.h"
#include "tools/input/netlist_model.h"
#include "tools/support/hash_table.h"

namespace zema_tool {

constexpr std::uint32_t kNoPin = 0xffffffffu;

struct TYPE_PIN {
  std::string_view m_name;
  PIN_DIRECTION m_direction;
};

// One cell type: the atom type of its cells and its pins in order.
class CELL_PINS {
 public:
  CELL_PINS(int atom_type, std::vector<TYPE_PIN> pins);

  int atom_type() const { return m_atom_type; }
  std::uint32_t size() const { return static_cast<std::uint32_t>(m_pins.size()); }
  TYPE_PIN const& pin(std::uint32_t index) const { return m_pins[index]; }
  // The index of the pin named `name`, or kNoPin.
  std::uint32_t find(std::string_view name) const;

  // Appends to netlist->m_outputs one output per output pin, in pin order,
  // each with the bits that bits[pin] gives ({0, 0} for an open pin).
  void append_outputs(std::pair<std::uint32_t, std::uint32_t> const* bits, NETLIST* netlist) const;

 private:
  int m_atom_type;
  std::vector<TYPE_PIN> m_pins;
  // Pins by name, for types wider than a short scan; empty otherwise.
  HASH_MAP<std::string_view, std::uint32_t> m_index;
};

class CELL_TYPES {
 public:
  // `library` may be null or empty.
  explicit CELL_TYPES(CELL_LIBRARY const* library) : m_library(library) {}

  // The type named `name`: one added, else the library's; null when neither
  // has it.
  CELL_PINS const* find(std::string_view name);
  // Adds (or replaces) the type `name`.
  CELL_PINS const* add(std::string_view name, int atom_type, std::vector<TYPE_PIN> pins);
  bool has_library() const { return m_library != nullptr && !m_library->empty(); }

 private:
  CELL_LIBRARY const* m_library;
  // Each name looked up or added: its type in m_pins, kNoPin when none has
  // it. A deque, so that a type's address never moves.
  HASH_MAP<std::string_view, std::uint32_t> m_types;
  std::deque<CELL_PINS> m_pins;
};

}  // namespace zema_tool

#endif  // TOOLS_INPUT_CELL_TYPES_H
