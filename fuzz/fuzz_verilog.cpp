// Fuzzes the structural Verilog reader. An input whose first byte is odd is
// the netlist's text as it stands, for the lexer and the parser's errors;
// any other is a recipe that writes a netlist the parser mostly accepts, so
// that the fuzzer spends its time in what the reader makes of it: up to 8
// modules that instantiate each other in any order (cycles and bombs too),
// cells of a small Liberty library and gates, nets with ranges, selects,
// concatenations, replications, constants and assigns, and names of any
// bytes, escaped.
//
// Whatever the netlist, the reader builds it within the limits or refuses
// it with one clean line, and never alters a name: every name it makes is a
// name of the netlist as Yosys writes it, a net's with a bit index, a
// Liberty pin's, or one it makes up for an unnamed gate ("$...").
//
// Run it for a while (docs/fuzzing.md):
//   build/fuzz/fuzz/fuzz_verilog -dict=fuzz/fuzz_verilog.dict CORPUS fuzz/corpus/fuzz_verilog
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "tools/input/cell_library.h"
#include "tools/input/design_builder.h"
#include "tools/input/input_file.h"
#include "tools/input/verilog_reader.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

char const kLibrary[] = R"(library (fuzz) {
  type (b2) { base_type : array ; data_type : bit ; bit_width : 2 ; bit_from : 1 ; bit_to : 0 ; }
  cell (INV) { pin (A) { direction : input ; } pin (Y) { direction : output ; } }
  cell (HA) { pin (A) { direction : input ; } pin (B) { direction : input ; }
              pin (S) { direction : output ; } pin (CO) { direction : output ; } }
  cell (DFF) { ff (IQ, IQN) { } pin (D) { direction : input ; } pin (Q) { direction : output ; }
               pin (QN) { direction : output ; } }
  cell (BUS) { bus (A) { bus_type : b2 ; direction : input ; }
               bus (Z) { bus_type : b2 ; direction : output ; } }
})";

struct LIBRARY_CELL {
  char const* m_name;
  char const* m_pins[4];
};
LIBRARY_CELL const kCells[] = {{"INV", {"A", "Y"}},
                               {"HA", {"A", "B", "S", "CO"}},
                               {"DFF", {"D", "Q", "QN"}},
                               {"BUS", {"A", "Z"}}};
char const* const kGates[] = {"and", "nand", "or", "xor", "not", "buf", "bufif1"};

class BYTES {
 public:
  BYTES(uint8_t const* data, std::size_t size) : m_data(data), m_size(size) {}
  unsigned next() { return m_pos < m_size ? m_data[m_pos++] : 0; }

 private:
  uint8_t const* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

// Writes the netlist, and remembers every name as the reader should give it.
class NETLIST_WRITER {
 public:
  explicit NETLIST_WRITER(BYTES& bytes) : m_bytes(bytes) {
    for (LIBRARY_CELL const& cell : kCells) {
      for (char const* pin : cell.m_pins) {
        if (pin != nullptr) m_names.insert(pin);
      }
    }
  }

  std::string write() {
    unsigned const modules = 1 + m_bytes.next() % 8;
    for (unsigned m = 0; m < modules; ++m) write_module(m, modules);
    return m_text;
  }

  // Whether `text` is a name of the netlist, or a net's with a bit index,
  // or a name made up for a gate or its ports.
  bool is_written_name(std::string const& text) const {
    if (m_names.count(text) != 0 || text[0] == '$' || text[0] == 'Y') return true;
    std::size_t const open = text.rfind('[');
    return open != std::string::npos && text.back() == ']' &&
           m_names.count(text.substr(0, open)) != 0;
  }

 private:
  // A short simple name, or an escaped one of any bytes but white space.
  std::string name() {
    unsigned const kind = m_bytes.next();
    std::string text;
    if (kind % 4 != 0) {
      text = std::string(1, static_cast<char>('a' + kind % 3)) + std::to_string(kind % 5);
      m_names.insert(text);
      return text;
    }
    for (unsigned length = 1 + m_bytes.next() % 4; length > 0; --length) {
      char const c = static_cast<char>(m_bytes.next());
      if (c != ' ' && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != '\v') {
        text.push_back(c);
      }
    }
    if (text.empty()) text = "e";
    bool const keeps = text[0] == '$' || text[0] == '\\' || (text[0] >= '0' && text[0] <= '9');
    m_names.insert(keeps ? "\\" + text : text);
    return "\\" + text + " ";
  }

  // A net, a select, a constant, a concatenation or a replication.
  std::string expression(unsigned depth = 0) {
    unsigned const kind = m_bytes.next() % (depth < 3 ? 8 : 5);
    switch (kind) {
      case 0:
        return "1'b" + std::string(1, "01xz"[m_bytes.next() % 4]);
      case 1:
        return std::to_string(m_bytes.next() % 4) + "'h" + std::to_string(m_bytes.next() % 16);
      case 2:
        return "w[" + std::to_string(m_bytes.next() % 6) + "]";
      case 3:
        return "w[" + std::to_string(m_bytes.next() % 6) + ":" +
               std::to_string(m_bytes.next() % 6) + "]";
      case 5:
        return "{" + expression(depth + 1) + ", " + expression(depth + 1) + "}";
      case 6:
        return "{" + std::to_string(m_bytes.next() % 3) + "{" + expression(depth + 1) + "}}";
      default:
        return name();
    }
  }

  void write_module(unsigned m, unsigned modules) {
    m_text += "module m" + std::to_string(m) + " (p);\n  input p;\n  wire [" +
              std::to_string(m_bytes.next() % 5) + ":" + std::to_string(m_bytes.next() % 5) +
              "] w;\n";
    m_names.insert("m" + std::to_string(m));
    m_names.insert("p");
    m_names.insert("w");
    for (unsigned count = m_bytes.next() % 6; count > 0; --count) write_item(modules);
    m_text += "endmodule\n";
  }

  void write_item(unsigned modules) {
    unsigned const kind = m_bytes.next();
    if (kind % 4 == 0) {
      m_text += "  m" + std::to_string(kind / 4 % modules) + " " + name() + " (" +
                (kind & 64 ? ".p(" + expression() + ")" : expression()) + ");\n";
    } else if (kind % 4 == 1) {
      m_text += "  " + std::string(kGates[kind / 4 % 7]) + " " + (kind & 128 ? name() : "") + " (" +
                expression() + ", " + expression() + (kind & 64 ? ", " + expression() : "") +
                ");\n";
    } else if (kind % 4 == 2) {
      m_text += "  assign " + name() + " = " + expression() + ";\n";
    } else {
      LIBRARY_CELL const& cell = kCells[kind / 4 % 4];
      m_text += "  " + std::string(cell.m_name) + " " + name() + " (";
      for (unsigned p = 0; p < 4 && cell.m_pins[p] != nullptr; ++p) {
        if (m_bytes.next() % 4 == 0) continue;
        m_text += std::string(p != 0 ? ", ." : ".") + cell.m_pins[p] + "(" + expression() + ")";
      }
      m_text += ");\n";
    }
  }

  BYTES& m_bytes;
  std::string m_text;
  std::set<std::string> m_names;
};

// A message the command would print: "PLACE: PROBLEM", one line of UTF-8.
bool is_one_clean_line(zema_tool::TOOL_ERROR const& error) {
  std::string const text = error.text();
  if (error.m_place.empty() || error.m_message.empty()) return false;
  for (char const c : text) {
    unsigned char const byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return false;
  }
  return text.size() <= zema_tool::kMaxMessageBytes && zema_tool::is_valid_utf8(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  if (size == 0) return 0;
  bool const raw = (data[0] & 1) != 0;
  BYTES bytes(data + 1, size - 1);
  NETLIST_WRITER writer(bytes);
  std::string const netlist =
      raw ? std::string(reinterpret_cast<char const*>(data) + 1, size - 1) : writer.write();
  zema_tool::READ_OPTIONS options;
  options.m_max_instances = 100000;
  options.m_max_name_bytes = std::uint64_t{16} << 20;
  options.m_top = raw ? "" : "m0";
  options.m_unknown_cells =
      data[0] & 2 ? zema_tool::UNKNOWN_CELLS::ATOM : zema_tool::UNKNOWN_CELLS::ERROR;
  try {
    zema_tool::CELL_LIBRARY library;
    zema_tool::read_liberty(
        zema_tool::INPUT_TEXT::from_bytes(kLibrary, "fuzz.lib", std::uint64_t{1} << 20, true),
        &library);
    zema_tool::INPUT_TEXT const text =
        zema_tool::INPUT_TEXT::from_bytes(netlist, "fuzz.v", std::uint64_t{4} << 20, true);
    zema_tool::DESIGN_RECORDS records;
    zema_tool::read_verilog_netlist(text, options, &library, &records);
    records.resolve();
    check(records.m_names.size() <= options.m_max_instances);
    // The root's name is empty; every other is a name of the netlist.
    for (std::uint32_t r = 1; !raw && r < records.m_names.size(); ++r) {
      check(writer.is_written_name(records.text_of(r)));
    }
    zema_tool::build_design(std::move(records));
  } catch (zema_tool::TOOL_ERROR const& error) {
    check(is_one_clean_line(error));
  }
  return 0;
}
