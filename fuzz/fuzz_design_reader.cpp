// Fuzzes the command's input path with arbitrary bytes: decompression,
// format detection, both JSON readers, the records' checks and the host
// builder. Whatever the bytes, the result is a built design or exactly one
// TOOL_ERROR whose text is one line with a place: no crash, no hang, no
// sanitizer report, no message that a control byte or invalid UTF-8 could
// break.
//
// Run it for a while from its seeds (docs/fuzzing.md):
//   cmake --preset fuzz && cmake --build --preset fuzz
//   build/fuzz/fuzz/fuzz_design_reader -max_total_time=60 CORPUS
//     tests/tool/golden tests/tool/bad examples/yosys
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tools/input/design_builder.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace {

// A message the command would print: "PLACE: PROBLEM", one line of UTF-8.
bool is_one_clean_line(zema_tool::TOOL_ERROR const& error) {
  std::string const text = error.text();
  if (error.m_place.empty() || error.m_message.empty()) return false;
  for (char const c : text) {
    unsigned char const byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return false;
  }
  return zema_tool::is_valid_utf8(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  zema_tool::READ_OPTIONS options;
  // Small limits keep every run fast: decompression and Yosys expansion
  // stop early instead of growing without bound.
  options.m_max_input_size = std::uint64_t{4} << 20;
  options.m_max_instances = 100000;
  try {
    zema_tool::INPUT_TEXT const text = zema_tool::INPUT_TEXT::from_bytes(
        std::string_view(reinterpret_cast<char const*>(data), size), "fuzz.json",
        options.m_max_input_size);
    zema_tool::DESIGN_RECORDS records;
    zema_tool::read_records(text, options, &records);
    zema_tool::build_design(std::move(records));
  } catch (zema_tool::TOOL_ERROR const& error) {
    if (!is_one_clean_line(error)) std::abort();
  }
  return 0;
}
