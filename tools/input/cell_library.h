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
// netlist and are left out. docs/liberty.md says what else is read.
//
// Several files may be read into one library, as flows combine standard
// cells, pads and macros. A cell that two files (or one file twice) define
// with different pins is refused, naming both; an identical definition is
// taken once. Every text read stays with the library: the names it gives are
// views of those texts (or of their unescaped copies, for quoted names with
// escapes) and live as long as it does.
//
// Invariants, whatever was read or refused: cell names are unique and
// find() gives each cell; the cells' pin ranges follow each other in
// order and together cover pins() exactly; a file that is refused leaves
// the library as it was before.
#ifndef TOOLS_INPUT_CELL_LIBRARY_H
#define TOOLS_INPUT_CELL_LIBRARY_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "tools/input/input_file.h"
#include "tools/support/hash_table.h"

namespace zema_tool {

// A pin without a `direction` attribute (and, for a bus or a bundle, without
// one on its member pins) is an INPUT.
enum class PIN_DIRECTION : std::uint8_t { INPUT, OUTPUT, INOUT, INTERNAL };

// One pin of a cell type: a `pin`, or a whole `bus` or `bundle`.
struct CELL_PIN {
  std::string_view m_name;
  PIN_DIRECTION m_direction;
  std::uint32_t m_width;  // 1 for a pin; the bits of a bus, the members of a bundle
};

// One cell type; its pins are [m_pins_begin, m_pins_end) of the library's pins.
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
// power, `define` groups), and, at the cell's name, for a cell that
// conflicts with one already in the library ("cell "X" is defined
// differently in OTHER-FILE: ..."). On a throw the library is unchanged.
void read_liberty(INPUT_TEXT text, CELL_LIBRARY* library);

class CELL_LIBRARY {
 public:
  // The cell type named `name`, or null.
  CELL_TYPE const* find(std::string_view name) const {
    std::uint32_t const* const found = m_index.find(name);
    return found == nullptr ? nullptr : &m_types[*found];
  }
  CELL_PIN const* pins_begin(CELL_TYPE const& type) const {
    return m_pins.data() + type.m_pins_begin;
  }
  CELL_PIN const* pins_end(CELL_TYPE const& type) const { return m_pins.data() + type.m_pins_end; }
  bool empty() const { return m_types.empty(); }
  std::size_t size() const { return m_types.size(); }
  // Every cell type, in the order the files first defined them.
  std::vector<CELL_TYPE> const& types() const { return m_types; }
  // The pins of every cell type, cell after cell.
  std::vector<CELL_PIN> const& pins() const { return m_pins; }
  // The names of the files read, in the order they were read.
  std::vector<std::string> const& files() const { return m_files; }

 private:
  friend void read_liberty(INPUT_TEXT text, CELL_LIBRARY* library);

  std::vector<INPUT_TEXT> m_texts;
  std::vector<std::string> m_files;
  std::vector<CELL_TYPE> m_types;
  std::vector<CELL_PIN> m_pins;
  // Each cell name's index into m_types.
  HASH_MAP<std::string_view, std::uint32_t> m_index;
  // Names that were quoted with escapes, unescaped; a deque, so that adding
  // one never moves the others that names view.
  std::deque<std::string> m_unescaped;
};

}  // namespace zema_tool

#endif  // TOOLS_INPUT_CELL_LIBRARY_H
