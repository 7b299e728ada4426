// Reads a Yosys write_json netlist into DESIGN_RECORDS (docs/yosys.md).
//
// The file's modules are read first, each into compact arrays (cells with
// their output ports and the bits those drive, nets with their bits), since
// a cell may instantiate a module written after it. Then the hierarchy is
// expanded from the top module, depth first with an explicit stack, a module
// instantiated several times once per instance:
//
//  - a cell whose type names a module of the file becomes an instance named
//    by the cell, holding that module's cells in file order;
//  - any other cell is a primitive: a leaf instance named by the cell and one
//    atom of the netlist, whose type comes from the cell type. A COMB atom is
//    named by that instance and its output ports are oterms named outside the
//    hierarchy after the nets they drive; any other atom is named outside the
//    hierarchy by the cell name and each output port is an instance below the
//    cell's, which names the oterm.
//
// Every instance name gets the next id, from 1 for the root, in the order
// the names are made. Before anything is expanded, the number of names the
// expansion makes is counted bottom-up over the modules, which also finds a
// module that instantiates itself.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "h/cdb_net_sys.h"
#include "tools/input/json_input.h"
#include "tools/input/yosys_reader.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

constexpr std::size_t kMaxYosysDepth = 256;
constexpr std::uint32_t kNoModule = 0xffffffffu;

// a + b, or the largest count when that overflows.
std::uint64_t saturated_sum(std::uint64_t a, std::uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

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

// The atom type of a primitive cell type; COMB for anything not listed.
int yosys_atom_type(std::string_view cell_type) {
  if (cell_type.size() > 2 && cell_type.substr(0, 2) == "$_") {
    std::string_view const rest = cell_type.substr(2);
    std::size_t const end = rest.find('_');
    if (end == std::string_view::npos) return CDB_ATOM_COMB;
    return find_word(kGateTypes, sizeof kGateTypes / sizeof *kGateTypes, rest.substr(0, end));
  }
  if (cell_type.substr(0, 4) == "$mem") return CDB_ATOM_RAM;
  if (!cell_type.empty() && cell_type[0] == '$') {
    return find_word(kWordTypes, sizeof kWordTypes / sizeof *kWordTypes, cell_type.substr(1));
  }
  return CDB_ATOM_COMB;
}

namespace {

// --- The file's modules ----------------------------------------------------------

// A bit of a connection or a net: a signal number (>= 0), or a constant
// ("0", "1", "x", "z", ...) as a negative code.
typedef std::int64_t BIT;

struct OUTPUT {
  std::string_view m_port;
  std::uint32_t m_bits_begin;
  std::uint32_t m_bits_end;
};

struct CELL {
  std::string_view m_name;
  std::string_view m_type;
  std::uint32_t m_module;  // the module the type names, or kNoModule
  std::uint32_t m_outputs_begin;
  std::uint32_t m_outputs_end;
};

struct NET {
  std::string_view m_name;
  std::int64_t m_offset;
  std::uint32_t m_bits_begin;
  std::uint32_t m_bits_end;
  bool m_hidden;
  bool m_upto;
};

// What a bit of a module is named after: a net and the bit's label.
struct BIT_NAME {
  BIT m_bit;
  std::uint32_t m_net;
  std::uint32_t m_index;  // position of the bit in the net
  bool m_visible;
};

struct MODULE {
  std::string_view m_name;
  std::uint32_t m_cells_begin;
  std::uint32_t m_cells_end;
  std::uint32_t m_nets_begin;
  std::uint32_t m_nets_end;
  bool m_marked_top = false;
  // Built when the first COMB cell of the module is named: one entry per
  // signal bit, sorted by bit.
  std::vector<BIT_NAME> m_bit_names;
  bool m_bit_names_built = false;
};

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

class YOSYS_READER {
 public:
  YOSYS_READER(INPUT_TEXT const& text, READ_OPTIONS const& options, DESIGN_RECORDS* records)
      : m_json(text, kMaxYosysDepth), m_options(options), m_records(*records) {}

  void read();

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
  static std::string place_in(std::string place, std::string_view key) {
    append_key(&place, key);
    return place;
  }
  static std::string cell_place(MODULE const& module, CELL const& cell) {
    return place_in(place_in(place_in("modules", module.m_name), "cells"), cell.m_name);
  }

  void read_modules(od::value& value);
  void read_module(std::string_view name, od::value& value, PLACE const& place);
  // Gives whether the cell is a COMB primitive, whose outputs are named after
  // nets.
  bool read_cell(std::string_view name, od::value& value, PLACE const& place);
  void read_net(std::string_view name, od::value& value, PLACE const& place);
  void read_bits(od::value& value, PLACE const& place);
  bool is_true(od::value& value);

  std::uint32_t find_top();
  void count_names(std::uint32_t top);
  void expand(std::uint32_t top);
  void add_primitive(CELL const& cell, std::uint32_t module, std::uint32_t instance,
                     std::uint32_t position);
  void build_bit_names(MODULE& module);
  std::string net_label(MODULE& module, OUTPUT const& output);

  std::uint32_t next_id() { return static_cast<std::uint32_t>(++m_last_id); }

  JSON_INPUT m_json;
  READ_OPTIONS const& m_options;
  DESIGN_RECORDS& m_records;

  std::vector<MODULE> m_modules;
  std::unordered_map<std::string_view, std::uint32_t> m_module_index;
  std::vector<CELL> m_cells;
  std::vector<OUTPUT> m_outputs;
  std::vector<NET> m_nets;
  std::vector<BIT> m_bits;
  std::unordered_map<std::string_view, BIT> m_constants;
  std::uint64_t m_last_id = 0;

  // Scratch of read_cell: ports and their directions and connections.
  std::vector<std::pair<std::string_view, bool>> m_directions;
  std::vector<OUTPUT> m_connections;
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

void YOSYS_READER::read() {
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
  for (CELL& cell : m_cells) {
    auto const found = m_module_index.find(cell.m_type);
    cell.m_module = found != m_module_index.end() ? found->second : kNoModule;
  }
  std::uint32_t const top_module = find_top();
  count_names(top_module);
  expand(top_module);
}

void YOSYS_READER::read_modules(od::value& value) {
  PLACE const modules_place{nullptr, "modules"};
  od::object modules = expect_object(value, modules_place);
  m_json.for_each_field(modules, [&](std::string_view const name, od::value& field_value) {
    PLACE const place{&modules_place, name};
    if (m_module_index.count(name) != 0) {
      throw TOOL_ERROR(place.text(), "a second module named " + quoted_text(name));
    }
    m_module_index.emplace(name, static_cast<std::uint32_t>(m_modules.size()));
    read_module(name, field_value, place);
  });
}

void YOSYS_READER::read_module(std::string_view name, od::value& value, PLACE const& place) {
  od::object object = expect_object(value, place);
  MODULE module;
  module.m_name = name;
  module.m_cells_begin = module.m_cells_end = static_cast<std::uint32_t>(m_cells.size());
  module.m_nets_begin = module.m_nets_end = static_cast<std::uint32_t>(m_nets.size());
  bool seen_cells = false;
  bool seen_nets = false;
  bool has_comb = false;
  m_json.for_each_field(object, [&](std::string_view const key, od::value& field_value) {
    if (key == "attributes") {
      od::object attributes = expect_object(field_value, PLACE{&place, key});
      m_json.for_each_field(attributes,
                            [&](std::string_view const attribute_key, od::value& attribute_value) {
                              if (attribute_key == "top") {
                                module.m_marked_top = is_true(attribute_value);
                              } else {
                                m_json.skip(attribute_value);
                              }
                            });
    } else if (key == "cells" && !seen_cells) {
      seen_cells = true;
      PLACE const cells_place{&place, key};
      od::object cells = expect_object(field_value, cells_place);
      m_json.for_each_field(cells, [&](std::string_view const cell_name, od::value& cell_value) {
        PLACE const cell_place{&cells_place, cell_name};
        check_name_text(cell_name, [&] { return cell_place.text(); });
        has_comb |= read_cell(cell_name, cell_value, cell_place);
      });
      module.m_cells_end = static_cast<std::uint32_t>(m_cells.size());
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
      module.m_nets_end = static_cast<std::uint32_t>(m_nets.size());
    } else {
      m_json.skip(field_value);  // ports, parameters, memories and the like
    }
  });
  m_modules.push_back(std::move(module));
}

void YOSYS_READER::read_bits(od::value& value, PLACE const& place) {
  od::array bits = expect_array(value, place);
  for (auto result : bits) {
    od::value bit;
    check(result.get(bit));
    od::json_type const type = m_json.type_of(bit);
    if (type == od::json_type::string) {
      std::string_view const text = m_json.string_of(bit);
      auto const found = m_constants.find(text);
      BIT code;
      if (found != m_constants.end()) {
        code = found->second;
      } else {
        code = -1 - static_cast<BIT>(m_constants.size());
        m_constants.emplace(text, code);
      }
      m_bits.push_back(code);
      continue;
    }
    std::int64_t number;
    if (type != od::json_type::number || bit.get_int64().get(number) || number < 0) {
      m_json.wrong_type(bit, type, place.text(), "a signal number or a constant bit");
    }
    m_bits.push_back(number);
  }
  if (m_bits.size() > 0xfffffff0u) throw TOOL_ERROR(place.text(), "too many bits");
}

bool YOSYS_READER::read_cell(std::string_view name, od::value& value, PLACE const& place) {
  od::object object = expect_object(value, place);
  CELL cell{name, std::string_view(), kNoModule, 0, 0};
  bool has_type = false;
  bool has_directions = false;
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
      bits_needed =
          m_module_index.count(cell.m_type) == 0 && yosys_atom_type(cell.m_type) == CDB_ATOM_COMB;
    } else if (key == "port_directions") {
      has_directions = true;
      PLACE const directions_place{&place, key};
      od::object directions = expect_object(field_value, directions_place);
      m_json.for_each_field(
          directions, [&](std::string_view const port, od::value& direction_value) {
            PLACE const port_place{&directions_place, port};
            check_name_text(port, [&] { return port_place.text(); });
            std::string_view const text = expect_string(direction_value, port_place);
            m_directions.emplace_back(port, text == "output");
          });
    } else if (key == "connections") {
      PLACE const connections_place{&place, key};
      od::object connections = expect_object(field_value, connections_place);
      m_json.for_each_field(
          connections, [&](std::string_view const port, od::value& connection_value) {
            PLACE const port_place{&connections_place, port};
            check_name_text(port, [&] { return port_place.text(); });
            // Inputs name nothing; with the directions known they are skipped.
            bool const output =
                !has_directions || std::find(m_directions.begin(), m_directions.end(),
                                             std::make_pair(port, true)) != m_directions.end();
            if (!bits_needed || !output) {
              m_json.skip(connection_value);
              return;
            }
            std::uint32_t const begin = static_cast<std::uint32_t>(m_bits.size());
            read_bits(connection_value, port_place);
            m_connections.push_back({port, begin, static_cast<std::uint32_t>(m_bits.size())});
          });
    } else {
      m_json.skip(field_value);  // attributes, parameters and the like
    }
  });
  if (!has_type) throw TOOL_ERROR(place.text(), "missing \"type\"");
  // The output ports in the order of port_directions, each with the bits it
  // drives (none when it has no connection).
  cell.m_outputs_begin = static_cast<std::uint32_t>(m_outputs.size());
  for (auto const& direction : m_directions) {
    if (!direction.second) continue;
    OUTPUT output{direction.first, 0, 0};
    for (OUTPUT const& connection : m_connections) {
      if (connection.m_port == direction.first) {
        output.m_bits_begin = connection.m_bits_begin;
        output.m_bits_end = connection.m_bits_end;
      }
    }
    m_outputs.push_back(output);
  }
  cell.m_outputs_end = static_cast<std::uint32_t>(m_outputs.size());
  m_cells.push_back(cell);
  return m_module_index.count(cell.m_type) == 0 && yosys_atom_type(cell.m_type) == CDB_ATOM_COMB;
}

void YOSYS_READER::read_net(std::string_view name, od::value& value, PLACE const& place) {
  od::object object = expect_object(value, place);
  NET net{name,
          0,
          static_cast<std::uint32_t>(m_bits.size()),
          static_cast<std::uint32_t>(m_bits.size()),
          false,
          false};
  m_json.for_each_field(object, [&](std::string_view const key, od::value& field_value) {
    if (key == "bits") {
      net.m_bits_begin = static_cast<std::uint32_t>(m_bits.size());
      read_bits(field_value, PLACE{&place, key});
      net.m_bits_end = static_cast<std::uint32_t>(m_bits.size());
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
  m_nets.push_back(net);
}

// --- The top module --------------------------------------------------------------

std::uint32_t YOSYS_READER::find_top() {
  if (!m_options.m_top.empty()) {
    auto const found = m_module_index.find(m_options.m_top);
    if (found == m_module_index.end()) {
      throw TOOL_ERROR("modules", "no module named " + quoted_text(m_options.m_top) + " (--top)");
    }
    return found->second;
  }
  if (m_modules.empty()) throw TOOL_ERROR("modules", "the netlist has no module");
  std::vector<std::uint32_t> marked;
  std::vector<bool> used(m_modules.size(), false);
  for (std::uint32_t m = 0; m < m_modules.size(); ++m) {
    if (m_modules[m].m_marked_top) marked.push_back(m);
  }
  if (marked.size() == 1) return marked[0];
  for (CELL const& cell : m_cells) {
    if (cell.m_module != kNoModule) used[cell.m_module] = true;
  }
  std::vector<std::uint32_t> roots;
  for (std::uint32_t m = 0; m < m_modules.size(); ++m) {
    if (!used[m]) roots.push_back(m);
  }
  if (roots.size() == 1) return roots[0];
  std::vector<std::uint32_t> const& candidates = marked.empty() ? roots : marked;
  std::vector<std::string_view> names;
  names.reserve(candidates.size());
  for (std::uint32_t m : candidates) names.push_back(m_modules[m].m_name);
  std::sort(names.begin(), names.end());
  std::string list;
  for (std::size_t i = 0; i < names.size() && i < 8; ++i) {
    list += (i == 0 ? "" : ", ") + quoted_text(names[i]);
  }
  if (names.size() > 8) list += ", ... (" + decimal(names.size()) + " in all)";
  throw TOOL_ERROR("modules", "cannot tell the top module (" +
                                  (names.empty() ? std::string("every module is instantiated")
                                                 : "candidates: " + list) +
                                  "); give --top");
}

// Counts the names that expanding each module makes, children before
// parents, with an explicit stack over the modules reachable from the top; a
// module met again while it is being counted instantiates itself. The counts
// multiply along instantiations, so a file of a few kilobytes can describe
// more names than any machine holds: they are refused here, before anything
// is built.
void YOSYS_READER::count_names(std::uint32_t top) {
  enum STATE : std::uint8_t { UNSEEN, OPEN, DONE };
  std::vector<STATE> state(m_modules.size(), UNSEEN);
  std::vector<std::uint64_t> names(m_modules.size(), 0);
  struct FRAME {
    std::uint32_t m_module;
    std::uint32_t m_cell;
  };
  std::vector<FRAME> stack{{top, m_modules[top].m_cells_begin}};
  state[top] = OPEN;
  while (!stack.empty()) {
    FRAME& frame = stack.back();
    MODULE const& module = m_modules[frame.m_module];
    if (frame.m_cell == module.m_cells_end) {
      std::uint64_t total = 0;
      for (std::uint32_t c = module.m_cells_begin; c < module.m_cells_end; ++c) {
        CELL const& cell = m_cells[c];
        std::uint64_t const outputs = cell.m_outputs_end - cell.m_outputs_begin;
        if (cell.m_module != kNoModule) {
          total = saturated_sum(total, saturated_sum(1, names[cell.m_module]));
        } else {
          total = saturated_sum(
              total, yosys_atom_type(cell.m_type) == CDB_ATOM_COMB ? 1 + outputs : 2 + outputs);
        }
      }
      names[frame.m_module] = total;
      state[frame.m_module] = DONE;
      stack.pop_back();
      continue;
    }
    CELL const& cell = m_cells[frame.m_cell++];
    if (cell.m_module == kNoModule || state[cell.m_module] == DONE) continue;
    if (state[cell.m_module] == OPEN) {
      // The cycle runs from the module's own frame to this cell, and back.
      std::size_t first = stack.size() - 1;
      while (stack[first].m_module != cell.m_module) --first;
      std::string const chain = bounded_list(
          stack.size() - first + 1,
          [&](std::size_t i) {
            std::uint32_t const m =
                first + i < stack.size() ? stack[first + i].m_module : cell.m_module;
            return quoted_text(m_modules[m].m_name);
          },
          " -> ", "module");
      throw TOOL_ERROR(cell_place(module, cell), "module " +
                                                     quoted_text(m_modules[cell.m_module].m_name) +
                                                     " instantiates itself: " + chain);
    }
    state[cell.m_module] = OPEN;
    stack.push_back({cell.m_module, m_modules[cell.m_module].m_cells_begin});
  }
  std::uint64_t const count = saturated_sum(1, names[top]);
  if (count > m_options.m_max_instances) {
    throw TOOL_ERROR(place_in("modules", m_modules[top].m_name),
                     "expanding the hierarchy makes " +
                         count_over_limit(count, "instance names", m_options.m_max_instances));
  }
}

// --- Expansion -------------------------------------------------------------------

void YOSYS_READER::expand(std::uint32_t top) {
  struct FRAME {
    std::uint32_t m_module;
    std::uint32_t m_cell;
    std::uint32_t m_instance;  // the record of the module's instance
    std::uint32_t m_children;  // children made so far
  };
  std::uint32_t const root = m_records.add_name(NAME_HIERARCHY, kNoRecord, 0, 0, next_id(), true);
  std::vector<FRAME> stack{{top, m_modules[top].m_cells_begin, root, 0}};
  while (!stack.empty()) {
    FRAME& frame = stack.back();
    if (frame.m_cell == m_modules[frame.m_module].m_cells_end) {
      stack.pop_back();
      continue;
    }
    CELL const& cell = m_cells[frame.m_cell++];
    std::uint32_t const position = frame.m_children++;
    if (cell.m_module != kNoModule) {
      // Levels: the root is 0, the stack holds the open module instances,
      // and a primitive below the deepest adds its cell and port levels.
      if (stack.size() + 2 > kMaxHierarchyLevels) {
        throw TOOL_ERROR(
            cell_place(m_modules[frame.m_module], cell),
            "the hierarchy is deeper than " + decimal(kMaxHierarchyLevels) + " levels");
      }
      std::uint32_t const instance =
          m_records.add_name(NAME_HIERARCHY, frame.m_instance, position,
                             m_records.add_text(cell.m_name), next_id(), true);
      stack.push_back({cell.m_module, m_modules[cell.m_module].m_cells_begin, instance, 0});
    } else {
      add_primitive(cell, frame.m_module, frame.m_instance, position);
    }
  }
}

void YOSYS_READER::add_primitive(CELL const& cell, std::uint32_t module, std::uint32_t instance,
                                 std::uint32_t position) {
  int const type = yosys_atom_type(cell.m_type);
  std::uint32_t const atom = static_cast<std::uint32_t>(m_records.m_atoms.size());
  std::uint32_t const node = m_records.add_name(NAME_HIERARCHY, instance, position,
                                                m_records.add_text(cell.m_name), next_id(), true);
  ATOM_RECORD record{
      {node, REF_RECORD}, static_cast<std::uint32_t>(m_records.m_oterms.size()), type};
  if (type == CDB_ATOM_COMB) {
    // Named by its own instance; each output is named after the net it drives.
    for (std::uint32_t o = cell.m_outputs_begin; o < cell.m_outputs_end; ++o) {
      std::string const label = net_label(m_modules[module], m_outputs[o]);
      std::uint32_t const name = m_records.add_name(NAME_NETLIST, o - cell.m_outputs_begin, atom,
                                                    m_records.add_text(label), next_id(), true);
      m_records.m_oterms.push_back({name, REF_RECORD});
    }
  } else {
    // Each output is an instance below the cell's; the atom is named outside.
    for (std::uint32_t o = cell.m_outputs_begin; o < cell.m_outputs_end; ++o) {
      std::uint32_t const port =
          m_records.add_name(NAME_HIERARCHY, node, o - cell.m_outputs_begin,
                             m_records.add_text(m_outputs[o].m_port), next_id(), true);
      m_records.m_oterms.push_back({port, REF_RECORD});
    }
    record.m_name = {m_records.add_name(NAME_NETLIST, kNoRecord, atom,
                                        m_records.add_text(cell.m_name), next_id(), true),
                     REF_RECORD};
  }
  m_records.m_atoms.push_back(record);
}

// Each signal bit of a module is named after the first visible net that
// holds it, else the first hidden one.
void YOSYS_READER::build_bit_names(MODULE& module) {
  module.m_bit_names_built = true;
  for (std::uint32_t n = module.m_nets_begin; n < module.m_nets_end; ++n) {
    NET const& net = m_nets[n];
    for (std::uint32_t b = net.m_bits_begin; b < net.m_bits_end; ++b) {
      if (m_bits[b] < 0) continue;
      module.m_bit_names.push_back({m_bits[b], n, b - net.m_bits_begin, !net.m_hidden});
    }
  }
  std::stable_sort(module.m_bit_names.begin(), module.m_bit_names.end(),
                   [](BIT_NAME const& a, BIT_NAME const& b) {
                     if (a.m_bit != b.m_bit) return a.m_bit < b.m_bit;
                     return a.m_visible && !b.m_visible;
                   });
  auto const last =
      std::unique(module.m_bit_names.begin(), module.m_bit_names.end(),
                  [](BIT_NAME const& a, BIT_NAME const& b) { return a.m_bit == b.m_bit; });
  module.m_bit_names.erase(last, module.m_bit_names.end());
}

// The name of the net an output drives: the net's own name when the output
// drives exactly that whole net, else its first signal bit's label ("net"
// for a one-bit net at offset 0, else "net[i]"); the port's name when it
// drives no named bit.
std::string YOSYS_READER::net_label(MODULE& module, OUTPUT const& output) {
  BIT first = -1;
  for (std::uint32_t b = output.m_bits_begin; b < output.m_bits_end; ++b) {
    if (m_bits[b] >= 0) {
      first = m_bits[b];
      break;
    }
  }
  if (first < 0) return std::string(output.m_port);
  if (!module.m_bit_names_built) build_bit_names(module);
  auto const found =
      std::lower_bound(module.m_bit_names.begin(), module.m_bit_names.end(), first,
                       [](BIT_NAME const& entry, BIT bit) { return entry.m_bit < bit; });
  if (found == module.m_bit_names.end() || found->m_bit != first) {
    return std::string(output.m_port);
  }
  NET const& net = m_nets[found->m_net];
  std::uint32_t const width = net.m_bits_end - net.m_bits_begin;
  std::uint32_t const driven = output.m_bits_end - output.m_bits_begin;
  if (driven > 1 && driven == width &&
      std::equal(m_bits.begin() + output.m_bits_begin, m_bits.begin() + output.m_bits_end,
                 m_bits.begin() + net.m_bits_begin)) {
    return std::string(net.m_name);
  }
  if (width == 1 && net.m_offset == 0) return std::string(net.m_name);
  std::int64_t const index =
      net.m_offset + (net.m_upto ? std::int64_t{width} - 1 - found->m_index : found->m_index);
  std::string label(net.m_name);
  label.push_back('[');
  if (index < 0) label.push_back('-');
  label += decimal(static_cast<std::uint64_t>(index < 0 ? -index : index));
  label.push_back(']');
  return label;
}

}  // namespace

void read_yosys_netlist(INPUT_TEXT const& text, READ_OPTIONS const& options,
                        DESIGN_RECORDS* records) {
  YOSYS_READER(text, options, records).read();
}

}  // namespace zema_tool
