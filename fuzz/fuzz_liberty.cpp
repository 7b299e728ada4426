// Fuzzes the Liberty reader. The bytes, cut at each "%%file\n" into up to
// four files, are read one after another into one cell library, each as the
// command reads a file (decompressed when it is xz or gzip data). Whatever
// the bytes:
//  - no crash, hang or sanitizer report;
//  - a file is read, or refused with one TOOL_ERROR that is one line of
//    UTF-8 with a place, and a refused file leaves the library as it was;
//  - after every file the library is self-consistent: the cells' pin ranges
//    follow each other and cover the pin array, every cell is found by its
//    name, names are not empty and hold no NUL, pins of a cell have distinct
//    names, widths are at least 1, kinds and directions are known values;
//  - reading an accepted file a second time changes nothing, as every cell
//    in it is then an identical redefinition.
//
// Run it for a while from its seeds (docs/fuzzing.md):
//   cmake --preset fuzz && cmake --build --preset fuzz --target fuzz_liberty
//   build/fuzz/fuzz/fuzz_liberty -dict=fuzz/fuzz_liberty.dict -max_total_time=60 CORPUS
//     fuzz/corpus/fuzz_liberty
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "h/cdb_net_sys.h"
#include "tools/input/cell_library.h"
#include "tools/input/input_file.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace {

using namespace zema_tool;

constexpr std::string_view kFileBreak = "%%file\n";
constexpr std::size_t kMaxFiles = 4;
constexpr std::uint64_t kMaxSize = std::uint64_t{1} << 20;

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// A message the command would print: "PLACE: PROBLEM", one line of UTF-8.
bool is_one_clean_line(TOOL_ERROR const& error) {
  std::string const text = error.text();
  if (error.m_place.empty() || error.m_message.empty()) return false;
  for (char const c : text) {
    unsigned char const byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return false;
  }
  return is_valid_utf8(text);
}

bool is_name(std::string_view name) {
  return !name.empty() && name.find('\0') == std::string_view::npos;
}

void check_consistent(CELL_LIBRARY const& library) {
  std::vector<CELL_TYPE> const& types = library.types();
  std::vector<CELL_PIN> const& pins = library.pins();
  check(library.size() == types.size() && library.empty() == types.empty());
  std::uint32_t next = 0;
  for (CELL_TYPE const& type : types) {
    check(type.m_pins_begin == next && type.m_pins_end >= type.m_pins_begin &&
          type.m_pins_end <= pins.size());
    next = type.m_pins_end;
    check(library.find(type.m_name) == &type && is_name(type.m_name));
    check(type.m_file < library.files().size());
    check(type.m_atom_type == CDB_ATOM_COMB || type.m_atom_type == CDB_ATOM_DFF ||
          type.m_atom_type == CDB_ATOM_LATCH || type.m_atom_type == CDB_ATOM_RAM);
    check(library.pins_begin(type) == pins.data() + type.m_pins_begin &&
          library.pins_end(type) == pins.data() + type.m_pins_end);
    std::set<std::string_view> names;
    for (CELL_PIN const* pin = library.pins_begin(type); pin != library.pins_end(type); ++pin) {
      check(is_name(pin->m_name) && names.insert(pin->m_name).second);
      check(pin->m_width >= 1 && pin->m_direction <= PIN_DIRECTION::INTERNAL);
    }
  }
  check(next == pins.size());
}

// What the library holds, to compare before and after a read.
using CELL_COPY = std::tuple<std::string, int, std::uint32_t, std::vector<std::string>>;

std::vector<CELL_COPY> contents(CELL_LIBRARY const& library) {
  std::vector<CELL_COPY> cells;
  for (CELL_TYPE const& type : library.types()) {
    std::vector<std::string> pins;
    for (CELL_PIN const* pin = library.pins_begin(type); pin != library.pins_end(type); ++pin) {
      pins.push_back(std::string(pin->m_name) + "/" + std::to_string(pin->m_width) + "/" +
                     std::to_string(static_cast<int>(pin->m_direction)));
    }
    cells.emplace_back(std::string(type.m_name), type.m_atom_type, type.m_file, std::move(pins));
  }
  return cells;
}

// Reads `bytes` through a file in memory, as the command reads a path; true
// when the file is accepted.
bool read_file(std::string_view bytes, CELL_LIBRARY* library) {
  int const fd = ::memfd_create("fuzz.lib", 0);
  if (fd < 0) return false;
  bool written = ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  std::vector<CELL_COPY> const before = contents(*library);
  std::size_t const files = library->files().size();
  bool accepted = false;
  try {
    if (written) {
      read_liberty(INPUT_TEXT::read("/proc/self/fd/" + std::to_string(fd), kMaxSize, true),
                   library);
      accepted = true;
    }
  } catch (TOOL_ERROR const& error) {
    check(is_one_clean_line(error));
    check(contents(*library) == before && library->files().size() == files);
  }
  ::close(fd);
  check_consistent(*library);
  return accepted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  std::string_view rest(reinterpret_cast<char const*>(data), size);
  CELL_LIBRARY library;
  for (std::size_t file = 0; file < kMaxFiles && !rest.empty(); ++file) {
    std::size_t const cut = file + 1 < kMaxFiles ? rest.find(kFileBreak) : std::string_view::npos;
    std::string_view const bytes = rest.substr(0, cut);
    rest =
        cut == std::string_view::npos ? std::string_view() : rest.substr(cut + kFileBreak.size());
    if (!read_file(bytes, &library)) continue;
    std::vector<CELL_COPY> const once = contents(library);
    check(read_file(bytes, &library));
    check(contents(library) == once);
  }
  return 0;
}
