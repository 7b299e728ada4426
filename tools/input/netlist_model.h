// NETLIST: a gate-level netlist as a front end reads it, before anything is
// expanded: modules that hold cells and nets. A cell is an instance of
// another module of the netlist (a level of the hierarchy), a primitive
// whose output ports and the bits they drive are known (an atom), or a cell
// whose type says nothing of its pins. Nothing here knows a file format: the
// Yosys JSON front end (yosys_reader.h) and the structural Verilog one
// (verilog_reader.h) fill it, and the expander (netlist_expander.h) is the
// one place that turns it into names, atoms and oterms.
//
// Everything lives in flat arrays: a module's cells, nets and ports are
// contiguous ranges, and so are a cell's outputs and a net's bits, so that a
// front end allocates nothing per cell. Names are views of texts that
// outlive the netlist: the input, or a front end's own store.
#ifndef TOOLS_INPUT_NETLIST_MODEL_H
#define TOOLS_INPUT_NETLIST_MODEL_H

#include <cstdint>
#include <string_view>
#include <vector>

#include "tools/input/cell_library.h"

namespace zema_tool {

constexpr std::uint32_t kNoModule = 0xffffffffu;

// A bit of a module: a signal number (>= 0) that names one signal within
// its module, or a constant ("0", "1", "x", "z") as a negative code.
typedef std::int64_t NETLIST_BIT;

// An output port of an atom and the bits it drives, in the order its
// connection lists them, least significant first; none when it is open.
struct NETLIST_OUTPUT {
  std::string_view m_port;
  std::uint32_t m_bits_begin;
  std::uint32_t m_bits_end;
};

enum class CELL_KIND : std::uint8_t {
  INSTANCE,  // an instance of the module m_module: a level of the hierarchy
  ATOM,      // one atom of type m_atom_type whose oterms are m_outputs
  UNKNOWN    // a cell of a type that has no known pins: an error, or a
             // COMB atom without oterms (READ_OPTIONS::m_unknown_cells)
};

struct NETLIST_CELL {
  std::string_view m_name;
  std::string_view m_type;
  std::uint32_t m_module;  // INSTANCE: the module; else kNoModule
  std::uint32_t m_outputs_begin;
  std::uint32_t m_outputs_end;
  std::uint32_t m_source;  // where the front end read it, for its messages
  int m_atom_type;         // ATOM: a CDB_ATOM_BASIC_TYPE
  CELL_KIND m_kind;
};

// A named net and its bits, least significant first; `m_offset` is the
// index of its first bit and `m_upto` says that indices grow towards the
// most significant bit ([0:7] rather than [7:0]).
struct NETLIST_NET {
  std::string_view m_name;
  std::int64_t m_offset;
  std::uint32_t m_bits_begin;
  std::uint32_t m_bits_end;
  bool m_hidden;  // a name a tool made up, used only when no other net holds the bit
  bool m_upto;
};

struct NETLIST_PORT {
  std::string_view m_name;
  PIN_DIRECTION m_direction;
};

struct NETLIST_MODULE {
  std::string_view m_name;
  std::uint32_t m_cells_begin = 0;
  std::uint32_t m_cells_end = 0;
  std::uint32_t m_nets_begin = 0;
  std::uint32_t m_nets_end = 0;
  std::uint32_t m_ports_begin = 0;
  std::uint32_t m_ports_end = 0;
  std::uint32_t m_source = 0;  // where the front end read it, for its messages
  bool m_marked_top = false;   // Yosys's "top" attribute
  bool m_cell_type = false;    // a black box: a type of cells, never a level of the hierarchy
};

struct NETLIST {
  std::vector<NETLIST_MODULE> m_modules;
  std::vector<NETLIST_CELL> m_cells;
  std::vector<NETLIST_OUTPUT> m_outputs;
  std::vector<NETLIST_NET> m_nets;
  std::vector<NETLIST_PORT> m_ports;
  std::vector<NETLIST_BIT> m_bits;
};

}  // namespace zema_tool

#endif  // TOOLS_INPUT_NETLIST_MODEL_H
