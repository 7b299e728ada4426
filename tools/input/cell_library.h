// CELL_LIBRARY: the cell types of the Liberty files given with --liberty,
// each with its pins and their directions, and the atom type its cells
// become. The netlist readers ask it for the pins of a cell that the netlist
// itself does not describe.
//
// A cell is DFF when it has an `ff` or `ff_bank` group, LATCH for `latch` or
// `latch_bank`, RAM for `memory`, COMB otherwise. Its pins are its `pin`,
// `bus` and `bundle` groups in the order the file gives them; a bus or a
// bundle is one pin as wide as its bits or members, named by the group, as
// a netlist connects it. Power and ground pins (`pg_pin`) are not pins of a
// netlist and are left out.
//
// Several files may be read into one library, as flows combine standard
// cells, pads and macros. A cell that two files (or one file twice) define
// with different pins is refused, naming both; an identical definition is
// taken once. Every text read stays with the library: the names it gives are
// views of those texts and live as long as it does.
#ifndef TOOLS_INPUT_CELL_LIBRARY_H
#define TOOLS_INPUT_CELL_LIBRARY_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tools/input/input_file.h"

namespace zema_tool {

enum class PIN_DIRECTION : std::uint8_t { INPUT, OUTPUT, INOUT, INTERNAL };

struct CELL_PIN {
  std::string_view m_name;
  PIN_DIRECTION m_direction;
  std::uint32_t m_width;  // 1 for a pin; the bits of a bus, the members of a bundle
};

struct CELL_TYPE {
  std::string_view m_name;
  int m_atom_type;  // CDB_ATOM_DFF, CDB_ATOM_LATCH, CDB_ATOM_RAM or CDB_ATOM_COMB
  std::uint32_t m_pins_begin;
  std::uint32_t m_pins_end;
  std::uint32_t m_file;  // which file defined it, an index into files()
};

class CELL_LIBRARY;

// Reads `text` as a Liberty file and adds its cells to `library`. Throws
// TOOL_ERROR "FILE:LINE:COLUMN: PROBLEM" for text that is not well-formed
// Liberty (everything is read, also what no cell needs: tables, timing,
// power, `define` groups), and "FILE: ..." for a cell that conflicts with
// one already in the library.
void read_liberty(INPUT_TEXT text, CELL_LIBRARY* library);

class CELL_LIBRARY {
 public:
  // The cell type named `name`, or null.
  CELL_TYPE const* find(std::string_view name) const;
  CELL_PIN const* pins_begin(CELL_TYPE const& type) const { return &m_pins[type.m_pins_begin]; }
  CELL_PIN const* pins_end(CELL_TYPE const& type) const { return m_pins.data() + type.m_pins_end; }
  bool empty() const { return m_types.empty(); }
  std::size_t size() const { return m_types.size(); }
  // The names of the files read, in the order they were read.
  std::vector<std::string> const& files() const { return m_files; }

 private:
  friend void read_liberty(INPUT_TEXT text, CELL_LIBRARY* library);

  std::vector<INPUT_TEXT> m_texts;
  std::vector<std::string> m_files;
  std::vector<CELL_TYPE> m_types;
  std::vector<CELL_PIN> m_pins;
  // The implementation may add an index by name here.
};

}  // namespace zema_tool

#endif  // TOOLS_INPUT_CELL_LIBRARY_H
