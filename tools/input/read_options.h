// What the command's readers are asked to read: the input's format and the
// limits that keep a design too large to build from being tried.
#ifndef TOOLS_INPUT_READ_OPTIONS_H
#define TOOLS_INPUT_READ_OPTIONS_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/input/input_file.h"
#include "tools/support/text_format.h"
#include "tools/support/words.h"

namespace zema_tool {

// The default of --max-instances: 16,777,216 instance names. The command
// takes about 700 bytes per name on large designs, so a design at the limit
// needs some 12 GB, half of a 24 GB machine (docs/cli.md).
constexpr std::uint64_t kDefaultMaxInstances = std::uint64_t{1} << 24;

// The default of --max-name-bytes: 4 GiB of full names, 256 bytes a name
// for a design at --max-instances, where the real and generated designs
// measured take 80 to 200 (a generated design of a million instances, 240
// MB; docs/cli.md).
constexpr std::uint64_t kDefaultMaxNameBytes = std::uint64_t{4} << 30;

enum class INPUT_FORMAT {
  AUTO,     // by content (read_design.h)
  ZEMA,     // a design file
  YOSYS,    // a Yosys write_json netlist
  VERILOG,  // a structural Verilog netlist
  NETLIST   // a netlist, Yosys JSON or Verilog by content (import-yosys)
};

// What becomes of a netlist's cells whose types have no known pins.
enum class UNKNOWN_CELLS {
  ERROR,  // the netlist is refused
  ATOM    // each is a COMB atom without oterms, and one warning says how many
};

// The formats a user may name; NETLIST is import-yosys's own.
inline constexpr WORD<INPUT_FORMAT> kInputFormatWords[] = {{INPUT_FORMAT::AUTO, "auto"},
                                                           {INPUT_FORMAT::ZEMA, "zema"},
                                                           {INPUT_FORMAT::YOSYS, "yosys"},
                                                           {INPUT_FORMAT::VERILOG, "verilog"}};

inline constexpr WORD<UNKNOWN_CELLS> kUnknownCellsWords[] = {{UNKNOWN_CELLS::ERROR, "error"},
                                                             {UNKNOWN_CELLS::ATOM, "atom"}};

struct READ_OPTIONS {
  INPUT_FORMAT m_format = INPUT_FORMAT::AUTO;
  std::uint64_t m_max_input_size = kDefaultMaxInput;
  // Yosys: the top module; empty to find it (docs/yosys.md).
  std::string m_top;
  // The most instance names a design may have, and the most atoms and
  // oterms (--max-instances). A Yosys hierarchy is counted before it is
  // expanded.
  std::uint64_t m_max_instances = kDefaultMaxInstances;
  // The most bytes that the full names of all instance names may take
  // together (--max-name-bytes), counted before anything is built: a few
  // names can make paths of any length.
  std::uint64_t m_max_name_bytes = kDefaultMaxNameBytes;
  // Netlists: the Liberty files that give cell types their pins (--liberty).
  std::vector<std::string> m_liberty;
  UNKNOWN_CELLS m_unknown_cells = UNKNOWN_CELLS::ERROR;
};

// "COUNT bytes of full names, more than --max-name-bytes (LIMIT)".
inline std::string bytes_over_limit(std::uint64_t count, std::uint64_t limit) {
  std::string shown = decimal(count);
  if (count == UINT64_MAX) shown += " or more";
  return shown + " bytes of full names, more than --max-name-bytes (" + decimal(limit) + ")";
}

// "COUNT THINGS, more than --max-instances (LIMIT)", for the message that
// refuses a design too large to build; a count of UINT64_MAX stands for one
// past counting.
inline std::string count_over_limit(std::uint64_t count, char const* things, std::uint64_t limit) {
  std::string shown = decimal(count);
  if (count == UINT64_MAX) shown += " or more";
  return shown + " " + things + ", more than --max-instances (" + decimal(limit) + ")";
}

}  // namespace zema_tool

#endif  // TOOLS_INPUT_READ_OPTIONS_H
