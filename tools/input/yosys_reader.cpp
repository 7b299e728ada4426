// Reads a Yosys write_json netlist (docs/yosys.md) into a NETLIST, which
// the shared expander (netlist_expander.h) turns into DESIGN_RECORDS.
//
// All modules are read first, each into the model's compact arrays (cells
// with their output ports and the bits those drive, nets with their bits,
// ports with their directions), since a cell may instantiate a module that
// the file writes after it. Then every cell's kind is settled: an instance
// of a module of the file, an atom whose pins are known (from the --liberty
// library, a black-box module, or the cell's own port_directions), or a
// cell of an unknown type.
#include "tools/input/yosys_reader.h"
#include "tools/support/hash_table.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "h/cdb_net_sys.h"
#include "tools/input/cell_types.h"
#include "tools/input/json_input.h"
#include "tools/input/netlist_expander.h"
#include "tools/input/netlist_model.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

constexpr std::size_t kMaxYosysDepth = 256;

// --- Cell types and atom types ------------------------------------------------

struct TYPE_WORDS {
  int m_type;
  char const* m_words;  // space-separated
};

// Gate-level cells ($_NAME_..._) by the word after "$_".
TYPE_WORDS const kGateTypes[] = {
    {CDB_ATOM_DFF, "FF DFF DFFE SDFF SDFFE SDFFCE DFFSR DFFSRE ALDFF ALDFFE"},
    {CDB_ATOM_LATCH, "DLATCH DLATCHSR SR"},
    {CDB_ATOM_MUX, "MUX MUX4 MUX8 MUX16 NMUX"},
    {CDB_ATOM_AND, "AND"},
    {CDB_ATOM_OR, "OR"},
    {CDB_ATOM_XOR, "XOR XNOR"},
    {CDB_ATOM_INV, "NOT"},
    {CDB_ATOM_BUF, "BUF"},
    {CDB_ATOM_TRI, "TBUF"},
};

// Word-level cells ($name) by the name after "$".
TYPE_WORDS const kWordTypes[] = {
    {CDB_ATOM_DFF, "ff dff dffe adff adffe sdff sdffe sdffce dffsr dffsre aldff aldffe"},
    {CDB_ATOM_LATCH, "dlatch adlatch dlatchsr sr"},
    {CDB_ATOM_LUT, "lut"},
    {CDB_ATOM_MUX, "mux pmux bmux bwmux"},
    {CDB_ATOM_AND, "and logic_and reduce_and"},
    {CDB_ATOM_OR, "or logic_or reduce_or reduce_bool"},
    {CDB_ATOM_XOR, "xor xnor reduce_xor reduce_xnor"},
    {CDB_ATOM_INV, "not logic_not"},
    {CDB_ATOM_ADDER, "add sub alu fa"},
    {CDB_ATOM_COMPARATOR, "eq ne eqx nex lt le gt ge"},
    {CDB_ATOM_SHIFTREG, "shl shr sshl sshr shift shiftx"},
    {CDB_ATOM_MULT, "mul macc"},
    {CDB_ATOM_BUF, "pos buf"},
    {CDB_ATOM_TRI, "tribuf"},
};

int find_word(TYPE_WORDS const* table, std::size_t count, std::string_view word) {
  for (std::size_t t = 0; t < count; ++t) {
    std::string_view words = table[t].m_words;
    while (!words.empty()) {
      std::size_t const space = words.find(' ');
      if (words.substr(0, space) == word) return table[t].m_type;
      if (space == std::string_view::npos) break;
      words.remove_prefix(space + 1);
    }
  }
  return CDB_ATOM_COMB;
}

}  // namespace

int yosys_gate_atom_type(std::string_view word) {
  return find_word(kGateTypes, sizeof kGateTypes / sizeof *kGateTypes, word);
}

// The atom type of a primitive cell type; COMB for anything not listed.
int yosys_atom_type(std::string_view cell_type) {
  if (cell_type.size() > 2 && cell_type.substr(0, 2) == "$_") {
    std::string_view const rest = cell_type.substr(2);
    std::size_t const end = rest.find('_');
    if (end == std::string_view::npos) return CDB_ATOM_COMB;
    return yosys_gate_atom_type(rest.substr(0, end));
  }
  if (cell_type.substr(0, 4) == "$mem") return CDB_ATOM_RAM;
  if (!cell_type.empty() && cell_type[0] == '$') {
    return find_word(kWordTypes, sizeof kWordTypes / sizeof *kWordTypes, cell_type.substr(1));
  }
  return CDB_ATOM_COMB;
}

namespace {

// --- The file's modules ----------------------------------------------------------

// A place in the netlist as a chain of keys, turned into text only for a
// message: building a string per cell would cost more than reading it.
struct PLACE {
  PLACE const* m_parent;
  std::string_view m_key;

  std::string text() const {
    std::string out = m_parent != nullptr ? m_parent->text() : std::string();
    append_key(&out, m_key);
    return out;
  }
};

// Yosys writes "input", "output" or "inout"; any other word would leave a
// pin without its oterm unseen.
void refuse_unknown_direction(std::string_view direction, PLACE const& place) {
  if (direction == "input" || direction == "output" || direction == "inout") return;
  throw TOOL_ERROR(place.text(), "unknown direction " + quoted_text(direction) +
                                     " (expected \"input\", \"output\" or \"inout\")");
}

std::string place_in(std::string place, std::string_view key) {
  append_key(&place, key);
  return place;
}

// Where a cell's outputs come from until every module is read.
enum class OUTPUTS_FROM : std::uint8_t {
  DIRECTIONS,   // its port_directions, in their order
  CONNECTIONS,  // nothing says which ports are outputs: every connection
  LIBRARY       // the --liberty cell of its type, in the library's pin order
};

class YOSYS_READER final : public NETLIST_PLACES {
 public:
  YOSYS_READER(INPUT_TEXT const& text, READ_OPTIONS const& options, CELL_LIBRARY const* library)
      : m_json(text, kMaxYosysDepth), m_options(options), m_types(library) {}

  void read(DESIGN_RECORDS* records);

  std::string netlist_place() const override { return "modules"; }
  std::string module_place(std::uint32_t module) const override {
    return place_in("modules", m_netlist.m_modules[module].m_name);
  }
  std::string cell_place(std::uint32_t module, std::uint32_t cell) const override {
    return place_in(place_in(module_place(module), "cells"), m_netlist.m_cells[cell].m_name);
  }

 private:
  void check(simdjson::error_code error) { m_json.check(error); }
  od::object expect_object(od::value& value, PLACE const& place) {
    return m_json.object_at(value, [&] { return place.text(); });
  }
  od::array expect_array(od::value& value, PLACE const& place) {
    return m_json.array_at(value, [&] { return place.text(); });
  }
  std::string_view expect_string(od::value& value, PLACE const& place) {
    return m_json.name_at(value, [&] { return place.text(); });
  }
  // Whether `type` names a module of the file read so far that is no black
  // box: its cells are levels of the hierarchy.
  bool is_module_so_far(std::string_view type) const {
    std::uint32_t const* const found = m_module_index.find(type);
    return found != nullptr &&
           (*found >= m_netlist.m_modules.size() || !m_netlist.m_modules[*found].m_cell_type);
  }

  void read_modules(od::value& value);
  void read_module(std::string_view name, od::value& value, PLACE const& place);
  void read_attributes(od::value& value, PLACE const& place, NETLIST_MODULE* module);
  void read_ports(od::value& value, PLACE const& place);
  // Gives whether the cell may be a COMB atom, whose outputs are named after
  // nets.
  bool read_cell(std::string_view name, od::value& value, PLACE const& place);
  void read_directions(od::value& value, PLACE const& place);
  void finish_cell(NETLIST_CELL* cell, bool has_directions, CELL_PINS const* library_type);
  void read_net(std::string_view name, od::value& value, PLACE const& place);
  void read_bits(od::value& value, PLACE const& place);
  bool is_true(od::value& value);

  void settle_cells();
  // Appends to the model's outputs, for each of m_output_ports in order,
  // the bits of the last of `connections` to that port (none when no
  // connection names it).
  void pair_outputs(NETLIST_OUTPUT const* connections, std::size_t count);

  JSON_INPUT m_json;
  READ_OPTIONS const& m_options;
  NETLIST m_netlist;
  CELL_TYPES m_types;
  HASH_MAP<std::string_view, std::uint32_t> m_module_index;
  HASH_MAP<std::string_view, NETLIST_BIT> m_constants;
  std::vector<OUTPUTS_FROM> m_outputs_from;  // per cell
  bool m_has_black_boxes = false;

  // Scratch of read_cell: ports and their directions and connections, the
  // output ports in order, and connections sorted by port.
  std::vector<std::pair<std::string_view, bool>> m_directions;
  std::vector<std::uint32_t> m_sorted_directions;
  std::vector<NETLIST_OUTPUT> m_connections;
  std::vector<std::string_view> m_output_ports;
  std::vector<std::uint32_t> m_sorted_connections;
};

// A Yosys attribute is true when it is 1, as a number or as a bit string,
// or true.
bool YOSYS_READER::is_true(od::value& value) {
  od::json_type const type = m_json.type_of(value);
  if (type == od::json_type::number) {
    m_json.skip(value);  // refuses a malformed number
    std::int64_t number;
    return !value.get_int64().get(number) && number == 1;
  }
  if (type != od::json_type::string) {
    m_json.skip(value);  // refuses a misspelt literal
    if (type != od::json_type::boolean) return false;
    bool flag;
    return !value.get_bool().get(flag) && flag;
  }
  std::string_view const text = m_json.string_of(value);
  if (text.empty() || text.find_first_not_of("01") != std::string_view::npos) return false;
  std::size_t const last_one = text.rfind('1');
  return last_one == text.size() - 1 && text.find('1') == last_one;
}

void YOSYS_READER::read(DESIGN_RECORDS* records) {
  od::object top = m_json.top_object();
  bool seen_modules = false;
  m_json.for_each_field(top, [&](std::string_view const key, od::value& field_value) {
    if (key != "modules") {
      m_json.skip(field_value);  // "creator", "models" and the like say nothing of names
      return;
    }
    if (seen_modules) throw TOOL_ERROR("modules", "duplicate key \"modules\"");
    seen_modules = true;
    read_modules(field_value);
  });
  m_json.expect_end();
  if (!seen_modules) {
    throw TOOL_ERROR("top level", "missing \"modules\": not a Yosys netlist");
  }
  settle_cells();
  expand_netlist(m_netlist, *this, m_options, records);
}

void YOSYS_READER::read_modules(od::value& value) {
  PLACE const modules_place{nullptr, "modules"};
  od::object modules = expect_object(value, modules_place);
  m_json.for_each_field(modules, [&](std::string_view const name, od::value& field_value) {
    PLACE const place{&modules_place, name};
    if (m_module_index.find(name) != nullptr) {
      throw TOOL_ERROR(place.text(), "a second module named " + quoted_text(name));
    }
    m_module_index.emplace(name, static_cast<std::uint32_t>(m_netlist.m_modules.size()));
    read_module(name, field_value, place);
  });
}

void YOSYS_READER::read_module(std::string_view name, od::value& value, PLACE const& place) {
  od::object object = expect_object(value, place);
  NETLIST_MODULE module;
  module.m_name = name;
  module.m_cells_begin = module.m_cells_end = static_cast<std::uint32_t>(m_netlist.m_cells.size());
  module.m_nets_begin = module.m_nets_end = static_cast<std::uint32_t>(m_netlist.m_nets.size());
  module.m_ports_begin = module.m_ports_end = static_cast<std::uint32_t>(m_netlist.m_ports.size());
  bool seen_cells = false;
  bool seen_nets = false;
  bool seen_ports = false;
  bool has_comb = false;
  m_json.for_each_field(object, [&](std::string_view const key, od::value& field_value) {
    if (key == "attributes") {
      read_attributes(field_value, PLACE{&place, key}, &module);
    } else if (key == "ports" && !seen_ports) {
      seen_ports = true;
      read_ports(field_value, PLACE{&place, key});
      module.m_ports_end = static_cast<std::uint32_t>(m_netlist.m_ports.size());
    } else if (key == "cells" && !seen_cells) {
      seen_cells = true;
      PLACE const cells_place{&place, key};
      od::object cells = expect_object(field_value, cells_place);
      m_json.for_each_field(cells, [&](std::string_view const cell_name, od::value& cell_value) {
        PLACE const cell_place{&cells_place, cell_name};
        check_name_text(cell_name, [&] { return cell_place.text(); });
        has_comb |= read_cell(cell_name, cell_value, cell_place);
      });
      module.m_cells_end = static_cast<std::uint32_t>(m_netlist.m_cells.size());
    } else if (key == "netnames" && !seen_nets && (has_comb || !seen_cells)) {
      // Only the outputs of COMB cells are named after nets: once the cells
      // are known to hold none, the nets are left unread.
      seen_nets = true;
      PLACE const nets_place{&place, key};
      od::object nets = expect_object(field_value, nets_place);
      m_json.for_each_field(nets, [&](std::string_view const net_name, od::value& net_value) {
        PLACE const net_place{&nets_place, net_name};
        check_name_text(net_name, [&] { return net_place.text(); });
        read_net(net_name, net_value, net_place);
      });
      module.m_nets_end = static_cast<std::uint32_t>(m_netlist.m_nets.size());
    } else {
      m_json.skip(field_value);  // parameters, memories and the like
    }
  });
  m_has_black_boxes |= module.m_cell_type;
  m_netlist.m_modules.push_back(module);
}

void YOSYS_READER::read_attributes(od::value& value, PLACE const& place, NETLIST_MODULE* module) {
  od::object attributes = expect_object(value, place);
  m_json.for_each_field(attributes, [&](std::string_view const key, od::value& attribute) {
    if (key == "top") {
      module->m_marked_top = is_true(attribute);
    } else if (key == "blackbox" || key == "whitebox") {
      // What read_liberty -lib and (* blackbox *) make: a type of cells. A
      // white box (read_liberty -wb) holds a model of the cell's function,
      // for simulation; it is a type of cells all the same.
      module->m_cell_type = module->m_cell_type || is_true(attribute);
    } else {
      m_json.skip(attribute);
    }
  });
}

// The ports with their directions, which a black box gives its cells. A
// port without a direction string is no pin of such a cell.
void YOSYS_READER::read_ports(od::value& value, PLACE const& place) {
  od::object ports = expect_object(value, place);
  m_json.for_each_field(ports, [&](std::string_view const name, od::value& port_value) {
    if (m_json.type_of(port_value) != od::json_type::object) {
      m_json.skip(port_value);
      return;
    }
    od::object port = expect_object(port_value, place);
    std::string_view direction;
    m_json.for_each_field(port, [&](std::string_view const key, od::value& field_value) {
      if (key == "direction" && m_json.type_of(field_value) == od::json_type::string) {
        direction = m_json.string_of(field_value);
      } else {
        m_json.skip(field_value);
      }
    });
    if (direction.empty()) return;
    PLACE const port_place{&place, name};
    refuse_unknown_direction(direction, PLACE{&port_place, "direction"});
    PIN_DIRECTION const pin = direction == "output"  ? PIN_DIRECTION::OUTPUT
                              : direction == "inout" ? PIN_DIRECTION::INOUT
                                                     : PIN_DIRECTION::INPUT;
    m_netlist.m_ports.push_back({name, pin});
  });
}

void YOSYS_READER::read_bits(od::value& value, PLACE const& place) {
  od::array bits = expect_array(value, place);
  for (auto result : bits) {
    od::value bit;
    check(result.get(bit));
    od::json_type const type = m_json.type_of(bit);
    if (type == od::json_type::string) {
      std::string_view const text = m_json.string_of(bit);
      NETLIST_BIT const* const found = m_constants.find(text);
      NETLIST_BIT code;
      if (found != nullptr) {
        code = *found;
      } else {
        code = -1 - static_cast<NETLIST_BIT>(m_constants.size());
        m_constants.emplace(text, code);
      }
      m_netlist.m_bits.push_back(code);
      continue;
    }
    std::int64_t number;
    if (type != od::json_type::number || bit.get_int64().get(number) || number < 0) {
      m_json.wrong_type(bit, type, place.text(), "a signal number or a constant bit");
    }
    m_netlist.m_bits.push_back(number);
  }
  if (m_netlist.m_bits.size() > 0xfffffff0u) throw TOOL_ERROR(place.text(), "too many bits");
}

void YOSYS_READER::read_directions(od::value& value, PLACE const& place) {
  od::object directions = expect_object(value, place);
  m_json.for_each_field(directions, [&](std::string_view const port, od::value& direction_value) {
    PLACE const port_place{&place, port};
    check_name_text(port, [&] { return port_place.text(); });
    std::string_view const text = expect_string(direction_value, port_place);
    refuse_unknown_direction(text, port_place);
    m_directions.emplace_back(port, text == "output");
  });
  // Wide cells find a connection's direction by a search, not a scan.
  m_sorted_directions.clear();
  if (m_directions.size() <= 8) return;
  for (std::uint32_t d = 0; d < m_directions.size(); ++d) m_sorted_directions.push_back(d);
  std::stable_sort(m_sorted_directions.begin(), m_sorted_directions.end(),
                   [&](std::uint32_t a, std::uint32_t b) {
                     return m_directions[a].first < m_directions[b].first;
                   });
}

bool YOSYS_READER::read_cell(std::string_view name, od::value& value, PLACE const& place) {
  od::object object = expect_object(value, place);
  NETLIST_CELL cell{name, std::string_view(), kNoModule, 0, 0, 0, CDB_ATOM_COMB, CELL_KIND::ATOM};
  bool has_type = false;
  bool has_directions = false;
  CELL_PINS const* library_type = nullptr;
  // Whether the bits of the outputs may name oterms: not once the type is
  // known to be a module's or an ordinary atom's (Yosys writes the type
  // before the connections).
  bool bits_needed = true;
  m_directions.clear();
  m_connections.clear();
  m_json.for_each_field(object, [&](std::string_view const key, od::value& field_value) {
    if (key == "type") {
      cell.m_type = expect_string(field_value, PLACE{&place, key});
      has_type = true;
      library_type = m_types.has_library() ? m_types.find(cell.m_type) : nullptr;
      int const type =
          library_type != nullptr ? library_type->atom_type() : yosys_atom_type(cell.m_type);
      bits_needed = !is_module_so_far(cell.m_type) && type == CDB_ATOM_COMB;
    } else if (key == "port_directions") {
      has_directions = true;
      read_directions(field_value, PLACE{&place, key});
    } else if (key == "connections") {
      PLACE const connections_place{&place, key};
      od::object connections = expect_object(field_value, connections_place);
      m_json.for_each_field(connections, [&](std::string_view const port,
                                             od::value& connection_value) {
        PLACE const port_place{&connections_place, port};
        check_name_text(port, [&] { return port_place.text(); });
        // Inputs name nothing; with the directions known they are skipped.
        bool output = true;
        if (library_type != nullptr) {
          std::uint32_t const pin = library_type->find(port);
          if (pin == kNoPin) {
            throw TOOL_ERROR(port_place.text(), quoted_text(port) +
                                                    " is not a pin of the Liberty cell " +
                                                    quoted_text(cell.m_type));
          }
          output = library_type->pin(pin).m_direction == PIN_DIRECTION::OUTPUT;
        } else if (has_directions) {
          output = false;
          if (m_sorted_directions.empty()) {
            for (auto const& direction : m_directions) {
              output |= direction.first == port && direction.second;
            }
          } else {
            auto d = std::lower_bound(m_sorted_directions.begin(), m_sorted_directions.end(), port,
                                      [&](std::uint32_t entry, std::string_view key) {
                                        return m_directions[entry].first < key;
                                      });
            for (; d != m_sorted_directions.end() && m_directions[*d].first == port; ++d) {
              output |= m_directions[*d].second;
            }
          }
        }
        if (!bits_needed || !output) {
          m_json.skip(connection_value);
          return;
        }
        std::uint32_t const begin = static_cast<std::uint32_t>(m_netlist.m_bits.size());
        read_bits(connection_value, port_place);
        m_connections.push_back({port, begin, static_cast<std::uint32_t>(m_netlist.m_bits.size())});
      });
    } else {
      m_json.skip(field_value);  // attributes, parameters and the like
    }
  });
  if (!has_type) throw TOOL_ERROR(place.text(), "missing \"type\"");
  // Newer Yosys keeps the scope of each instance that flatten dissolved in
  // a cell of its own, with no ports: a record of the hierarchy, no part of
  // the circuit.
  if (cell.m_type == "$scopeinfo") return false;
  finish_cell(&cell, has_directions, library_type);
  return bits_needed;
}

// The cell's outputs as far as they are known before the other modules are
// read: in the library's pin order, in port_directions' order, or, when
// nothing says which ports are outputs, every connection in file order (a
// black box read later may still say).
void YOSYS_READER::finish_cell(NETLIST_CELL* cell, bool has_directions,
                               CELL_PINS const* library_type) {
  OUTPUTS_FROM from = OUTPUTS_FROM::CONNECTIONS;
  m_output_ports.clear();
  if (library_type != nullptr) {
    from = OUTPUTS_FROM::LIBRARY;
    cell->m_atom_type = library_type->atom_type();
    for (std::uint32_t p = 0; p < library_type->size(); ++p) {
      if (library_type->pin(p).m_direction == PIN_DIRECTION::OUTPUT) {
        m_output_ports.push_back(library_type->pin(p).m_name);
      }
    }
  } else if (has_directions) {
    from = OUTPUTS_FROM::DIRECTIONS;
    cell->m_atom_type = yosys_atom_type(cell->m_type);
    for (auto const& direction : m_directions) {
      if (direction.second) m_output_ports.push_back(direction.first);
    }
  }
  cell->m_outputs_begin = static_cast<std::uint32_t>(m_netlist.m_outputs.size());
  if (from == OUTPUTS_FROM::CONNECTIONS) {
    m_netlist.m_outputs.insert(m_netlist.m_outputs.end(), m_connections.begin(),
                               m_connections.end());
  } else {
    pair_outputs(m_connections.data(), m_connections.size());
  }
  cell->m_outputs_end = static_cast<std::uint32_t>(m_netlist.m_outputs.size());
  m_netlist.m_cells.push_back(*cell);
  m_outputs_from.push_back(from);
}

void YOSYS_READER::pair_outputs(NETLIST_OUTPUT const* connections, std::size_t count) {
  auto const by_port = [](NETLIST_OUTPUT const& a, NETLIST_OUTPUT const& b) {
    return a.m_port < b.m_port;
  };
  if (count > 8) {
    // Sorted, stably, so that the last of a port's connections is the last
    // of its range.
    m_sorted_connections.clear();
    for (std::uint32_t c = 0; c < count; ++c) m_sorted_connections.push_back(c);
    std::stable_sort(
        m_sorted_connections.begin(), m_sorted_connections.end(),
        [&](std::uint32_t a, std::uint32_t b) { return by_port(connections[a], connections[b]); });
  }
  for (std::string_view const port : m_output_ports) {
    NETLIST_OUTPUT output{port, 0, 0};
    NETLIST_OUTPUT const* found = nullptr;
    if (count <= 8) {
      for (std::size_t c = 0; c < count; ++c) {
        if (connections[c].m_port == port) found = &connections[c];
      }
    } else {
      auto const end = std::upper_bound(
          m_sorted_connections.begin(), m_sorted_connections.end(), port,
          [&](std::string_view key, std::uint32_t c) { return key < connections[c].m_port; });
      if (end != m_sorted_connections.begin() && connections[*(end - 1)].m_port == port) {
        found = &connections[*(end - 1)];
      }
    }
    if (found != nullptr) {
      output.m_bits_begin = found->m_bits_begin;
      output.m_bits_end = found->m_bits_end;
    }
    m_netlist.m_outputs.push_back(output);
  }
}

void YOSYS_READER::read_net(std::string_view name, od::value& value, PLACE const& place) {
  od::object object = expect_object(value, place);
  NETLIST_NET net{name,
                  0,
                  static_cast<std::uint32_t>(m_netlist.m_bits.size()),
                  static_cast<std::uint32_t>(m_netlist.m_bits.size()),
                  false,
                  false};
  m_json.for_each_field(object, [&](std::string_view const key, od::value& field_value) {
    if (key == "bits") {
      net.m_bits_begin = static_cast<std::uint32_t>(m_netlist.m_bits.size());
      read_bits(field_value, PLACE{&place, key});
      net.m_bits_end = static_cast<std::uint32_t>(m_netlist.m_bits.size());
    } else if (key == "hide_name") {
      net.m_hidden = is_true(field_value);
    } else if (key == "upto") {
      net.m_upto = is_true(field_value);
    } else if (key == "offset") {
      od::value& offset = field_value;
      od::json_type const type = m_json.type_of(offset);
      if (type != od::json_type::number || offset.get_int64().get(net.m_offset) ||
          net.m_offset < -(std::int64_t{1} << 40) || net.m_offset > (std::int64_t{1} << 40)) {
        m_json.wrong_type(offset, type, PLACE{&place, key}.text(), "an integer");
      }
    } else {
      m_json.skip(field_value);
    }
  });
  m_netlist.m_nets.push_back(net);
}

// --- Cell kinds --------------------------------------------------------------------

// Settles each cell once every module is read: an instance of a module of
// the file that is no black box; else an atom whose pins the library gives,
// else a black box of its type, else its own port_directions; else a cell
// of an unknown type.
void YOSYS_READER::settle_cells() {
  if (m_has_black_boxes) {
    for (NETLIST_MODULE const& module : m_netlist.m_modules) {
      if (!module.m_cell_type || m_types.find(module.m_name) != nullptr) continue;
      std::vector<TYPE_PIN> pins;
      for (std::uint32_t p = module.m_ports_begin; p < module.m_ports_end; ++p) {
        std::string_view const port = m_netlist.m_ports[p].m_name;
        check_name_text(port, [&] {
          return place_in(place_in(place_in("modules", module.m_name), "ports"), port);
        });
        pins.push_back({port, m_netlist.m_ports[p].m_direction});
      }
      m_types.add(module.m_name, CDB_ATOM_COMB, std::move(pins));
    }
  }
  bool const typed = m_has_black_boxes || m_types.has_library();
  for (std::uint32_t c = 0; c < m_netlist.m_cells.size(); ++c) {
    NETLIST_CELL& cell = m_netlist.m_cells[c];
    std::uint32_t const* const found = m_module_index.find(cell.m_type);
    if (found != nullptr && !m_netlist.m_modules[*found].m_cell_type) {
      cell.m_kind = CELL_KIND::INSTANCE;
      cell.m_module = *found;
      continue;
    }
    CELL_PINS const* const type = typed ? m_types.find(cell.m_type) : nullptr;
    if (type != nullptr && m_outputs_from[c] != OUTPUTS_FROM::LIBRARY) {
      // A black box: its outputs in the order of its ports.
      m_output_ports.clear();
      for (std::uint32_t p = 0; p < type->size(); ++p) {
        if (type->pin(p).m_direction == PIN_DIRECTION::OUTPUT) {
          m_output_ports.push_back(type->pin(p).m_name);
        }
      }
      m_connections.assign(m_netlist.m_outputs.begin() + cell.m_outputs_begin,
                           m_netlist.m_outputs.begin() + cell.m_outputs_end);
      cell.m_outputs_begin = static_cast<std::uint32_t>(m_netlist.m_outputs.size());
      pair_outputs(m_connections.data(), m_connections.size());
      cell.m_outputs_end = static_cast<std::uint32_t>(m_netlist.m_outputs.size());
      cell.m_atom_type = type->atom_type();
    } else if (type == nullptr && m_outputs_from[c] == OUTPUTS_FROM::CONNECTIONS) {
      cell.m_kind = CELL_KIND::UNKNOWN;
      cell.m_outputs_end = cell.m_outputs_begin;
    }
  }
}

}  // namespace

void read_yosys_netlist(INPUT_TEXT const& text, READ_OPTIONS const& options,
                        CELL_LIBRARY const* library, DESIGN_RECORDS* records) {
  YOSYS_READER(text, options, library).read(records);
}

}  // namespace zema_tool
