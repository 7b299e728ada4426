// Fuzzes the Yosys reader with netlists built from the input bytes: up to 16
// modules that instantiate each other with any fan-out (so cycles and
// hierarchies that multiply out to billions of names), primitive cells of
// every kind, ports and nets, and names of any bytes, NUL, quotes and bytes
// past ASCII among them.
//
// Whatever the netlist, the reader builds it or refuses it with one clean
// line, within the instance limit, and never alters a name: every name it
// makes is a cell, port or net name of the netlist as written, or a net name
// with a bit index.
//
// Input: the module count, then per module its cells and nets, each from a
// few bytes (see NETLIST_WRITER).
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

#include "tools/input/design_builder.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

class BYTES {
 public:
  BYTES(uint8_t const* data, std::size_t size) : m_data(data), m_size(size) {}
  unsigned next() { return m_pos < m_size ? m_data[m_pos++] : 0; }

 private:
  uint8_t const* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

char const* const kPrimitives[] = {"$_NOT_", "$_NAND_", "$_DFF_P_", "$memrd", "$add", "SB_LUT4"};

// Writes the netlist, and remembers every name as the reader should see it.
class NETLIST_WRITER {
 public:
  explicit NETLIST_WRITER(BYTES& bytes) : m_bytes(bytes) {}

  std::string write() {
    unsigned const modules = 1 + m_bytes.next() % 16;
    m_json = R"({"creator": "fuzz", "modules": {)";
    for (unsigned m = 0; m < modules; ++m) {
      if (m != 0) m_json += ", ";
      m_json += "\"m" + std::to_string(m) + "\": {";
      if (m == 0) m_json += R"("attributes": {"top": "00000000000000000000000000000001"}, )";
      write_cells(modules);
      write_nets();
      m_json += "}";
    }
    m_json += "}}";
    return m_json;
  }

  // Whether `text` is a name of the netlist, or a net's with a bit index.
  bool is_written_name(std::string const& text) const {
    if (m_names.count(text) != 0) return true;
    std::size_t const open = text.rfind('[');
    return open != std::string::npos && text.back() == ']' &&
           m_names.count(text.substr(0, open)) != 0;
  }

 private:
  // A name of up to five bytes of any value, written as a JSON string.
  std::string name() {
    std::string text;
    for (unsigned length = m_bytes.next() % 6; length > 0; --length) {
      text.push_back(static_cast<char>(m_bytes.next()));
    }
    // Bytes past ASCII are written as \u00XX, the code points they name.
    std::string decoded;
    std::string quoted = "\"";
    for (char const c : text) {
      unsigned char const byte = static_cast<unsigned char>(c);
      char escape[8];
      if (byte < 0x20 || byte >= 0x7f) {
        std::snprintf(escape, sizeof escape, "\\u%04x", byte);
        quoted += escape;
      } else {
        if (c == '"' || c == '\\') quoted.push_back('\\');
        quoted.push_back(c);
      }
      if (byte < 0x80) {
        decoded.push_back(c);
      } else {
        decoded.push_back(static_cast<char>(0xc0 | (byte >> 6)));
        decoded.push_back(static_cast<char>(0x80 | (byte & 0x3f)));
      }
    }
    m_names.insert(decoded);
    return quoted + "\"";
  }

  std::string bits() {
    std::string list = "[";
    for (unsigned count = m_bytes.next() % 4; count > 0; --count) {
      unsigned const bit = m_bytes.next() % 12;
      list += bit < 10 ? std::to_string(bit) : (bit == 10 ? "\"0\"" : "\"x\"");
      if (count > 1) list += ", ";
    }
    return list + "]";
  }

  void write_cells(unsigned modules) {
    m_json += R"("cells": {)";
    for (unsigned count = m_bytes.next() % 6, c = 0; c < count; ++c) {
      if (c != 0) m_json += ", ";
      m_json += name() + ": {\"type\": ";
      unsigned const kind = m_bytes.next();
      if (kind % 2 == 0) {
        m_json += "\"m" + std::to_string((kind / 2) % modules) + "\"}";
        continue;
      }
      m_json += "\"" + std::string(kPrimitives[(kind / 2) % 6]) + "\"";
      std::string directions;
      std::string connections;
      for (unsigned ports = m_bytes.next() % 3, p = 0; p < ports; ++p) {
        // One statement per byte read: the order of the reads is fixed.
        std::string const port = name();
        char const* const direction = m_bytes.next() % 2 ? "output" : "input";
        std::string const port_bits = bits();
        char const* const comma = p != 0 ? ", " : "";
        directions.append(comma).append(port).append(": \"").append(direction).append("\"");
        connections.append(comma).append(port).append(": ").append(port_bits);
      }
      m_json.append(", \"port_directions\": {").append(directions);
      m_json.append("}, \"connections\": {").append(connections).append("}}");
    }
    m_json += "}";
  }

  void write_nets() {
    m_json += R"(, "netnames": {)";
    for (unsigned count = m_bytes.next() % 4, n = 0; n < count; ++n) {
      if (n != 0) m_json += ", ";
      unsigned const flags = m_bytes.next();
      m_json.append(name()).append(": {\"hide_name\": ").append(std::to_string(flags % 2));
      m_json.append(", \"bits\": ").append(bits());
      if (flags & 2) m_json.append(", \"upto\": 1");
      if (flags & 4) m_json.append(", \"offset\": ").append(std::to_string(flags % 7));
      m_json += "}";
    }
    m_json += "}";
  }

  BYTES& m_bytes;
  std::string m_json;
  std::set<std::string> m_names;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  BYTES bytes(data, size);
  NETLIST_WRITER writer(bytes);
  std::string const netlist = writer.write();
  zema_tool::READ_OPTIONS options;
  options.m_max_instances = 100000;
  try {
    zema_tool::INPUT_TEXT const text =
        zema_tool::INPUT_TEXT::from_bytes(netlist, "fuzz.json", options.m_max_input_size);
    zema_tool::DESIGN_RECORDS records;
    zema_tool::read_records(text, options, &records);
    check(records.m_names.size() <= options.m_max_instances);
    // The root's name is empty; every other is a name of the netlist.
    for (std::uint32_t r = 1; r < records.m_names.size(); ++r) {
      check(writer.is_written_name(records.text_of(r)));
    }
    zema_tool::build_design(std::move(records));
  } catch (zema_tool::TOOL_ERROR const& error) {
    std::string const line = error.text();
    check(!error.m_place.empty() && line.size() <= zema_tool::kMaxMessageBytes);
    check(line.find('\n') == std::string::npos && zema_tool::is_valid_utf8(line));
  }
  return 0;
}
