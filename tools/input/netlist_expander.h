// Expanding a NETLIST (netlist_model.h) into DESIGN_RECORDS, the one
// mapping from a gate-level netlist to names, atoms and oterms that every
// netlist front end shares (docs/yosys.md, docs/gate-level.md):
//
//  - the top module is the root (empty name); a cell that instantiates a
//    module becomes an instance named by the cell, holding that module's
//    cells in the netlist's order, once per instance;
//  - any other cell is an atom and a leaf instance named by the cell. A COMB
//    atom is named by that instance and its outputs are oterms named outside
//    the hierarchy after the nets they drive; any other atom is named outside
//    the hierarchy by the cell name and each output is an instance below the
//    cell's, which names the oterm. Each name outside the hierarchy is
//    recorded with the instance that holds its cell (DESIGN_RECORDS::m_scoped).
//
// Every instance name gets the next id, from 1 for the root, in the order
// the names are made. Before anything is expanded the whole expansion is
// counted bottom-up over the modules, in time linear in the netlist: the
// names it makes (--max-instances), the bytes of their full paths
// (--max-name-bytes), its atoms and the cells of unknown types. So a
// hierarchy that instantiates itself, or a small file that multiplies out to
// more than any machine holds, is refused before anything is built.
#ifndef TOOLS_INPUT_NETLIST_EXPANDER_H
#define TOOLS_INPUT_NETLIST_EXPANDER_H

#include <cstdint>
#include <string>

#include "tools/input/design_records.h"
#include "tools/input/netlist_model.h"
#include "tools/input/read_options.h"

namespace zema_tool {

// The places of a netlist's parts in its own file, for messages: a path of
// JSON keys, or FILE:LINE:COLUMN. Built only when a message needs one.
class NETLIST_PLACES {
 public:
  virtual ~NETLIST_PLACES() = default;
  // The netlist as a whole ("modules", or the file's name).
  virtual std::string netlist_place() const = 0;
  virtual std::string module_place(std::uint32_t module) const = 0;
  virtual std::string cell_place(std::uint32_t module, std::uint32_t cell) const = 0;
};

// Finds the top module (--top, else the one module marked top, else the one
// module that no cell instantiates; never a black box), counts and expands
// it into `records` (not yet resolved). Throws TOOL_ERROR at one of
// `places` for a top module that cannot be told, an instantiation cycle, an
// expansion past the limits of `options`, cells of unknown types (unless
// options say they are atoms: then one warning in records->m_warnings) and
// a netlist whose cells make no atom at all.
void expand_netlist(NETLIST const& netlist, NETLIST_PLACES const& places,
                    READ_OPTIONS const& options, DESIGN_RECORDS* records);

}  // namespace zema_tool

#endif  // TOOLS_INPUT_NETLIST_EXPANDER_H
