// Fuzzes translate and explain over a fixed design whose names clash in
// every way (tests/tool/golden/clash.json): the bytes are a text to
// translate both ways and, line by line, names to explain, all with one
// explainer, as a long-lived program keeps it. Besides no crash,
// no hang and no sanitizer report, the translation must not depend on how
// the text is cut into pieces: a text fed in pieces of the size the first
// byte picks translates exactly as the whole text does.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/input/design_builder.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/names/conversion.h"
#include "tools/names/explainer.h"
#include "tools/names/name_index.h"
#include "tools/names/original_names.h"
#include "tools/names/text_translator.h"
#include "tools/support/exit_policy.h"

namespace {

using namespace zema_tool;

char const kDesign[] = R"({"root": {"name": "", "id": 1, "children": [
  {"name": "x_y", "id": 2}, {"name": "x.y", "id": 3}, {"name": "x-y", "id": 4},
  {"name": "x_y_0", "id": 5}, {"name": "\u00e91", "id": 6}, {"name": "a__1", "id": 7},
  {"name": "lut0", "id": 10}, {"name": "w0", "id": 11}, {"name": "io_ibuf_v", "id": 13},
  {"name": "u", "id": 12, "children": [{"name": "Q", "id": 14}, {"name": "a/b", "id": 16}]},
  {"name": "v", "id": 15}]},
 "names": [{"name": "n40", "id": 40}],
 "netlist": [{"type": 26, "name": 12, "oterms": [40]},
   {"type": "lut", "name": {"name": "cell", "id": 50}, "oterms": [14]},
   {"type": 3, "name": 15}]})";

// The design, converted once, and its index.
struct WORLD {
  WORLD() : phases(false, false) {
    // Each input's explain builds a converter of its own: freed, not left
    // for the exit, so that leak checks see none.
    free_always();
    READ_OPTIONS options;
    DESIGN_RECORDS records;
    read_records(INPUT_TEXT::from_bytes(kDesign, "clash.json", 1 << 20), options, &records);
    design = build_design(std::move(records));
    conversion = std::make_unique<CONVERSION>(*design, ZEMA_NAME_CONVERTER_FUSION, phases);
    originals = std::make_unique<ORIGINAL_NAMES>(*design);
    index = std::make_unique<NAME_INDEX>(*conversion, *originals);
    source = conversion_source(*conversion, *originals,
                               [this]() -> NAME_INDEX const& { return *index; });
    explainer = std::make_unique<EXPLAINER>(*source);
  }
  PHASES phases;
  std::unique_ptr<LOADED_DESIGN> design;
  std::unique_ptr<CONVERSION> conversion;
  std::unique_ptr<ORIGINAL_NAMES> originals;
  std::unique_ptr<NAME_INDEX> index;
  std::unique_ptr<NAME_SOURCE> source;
  std::unique_ptr<EXPLAINER> explainer;
};

// `text` translated in pieces of `piece` bytes (0: whole), as translate
// feeds a file through its buffer.
std::string translated(WORLD const& world, std::string_view text, bool to_original, char separator,
                       std::size_t piece) {
  return written_text([&](OUTPUT_BUFFER& out) {
    std::uint64_t reports = 0;
    TEXT_TRANSLATOR translator(*world.index, to_original, separator,
                               [&](std::string_view, std::uint64_t line, std::uint64_t column) {
                                 if (line == 0 || column == 0) std::abort();
                                 ++reports;
                               });
    std::string pending;
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t const take = piece == 0 ? text.size() - at : std::min(piece, text.size() - at);
      pending.append(text.substr(at, take));
      at += take;
      pending.erase(0, translator.put(pending, false, out));
    }
    translator.put(pending, true, out);
    translator.end_text();
  });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  static WORLD world;
  if (size == 0) return 0;
  std::size_t const piece = data[0] % 16;
  char const separator = "/.|"[data[0] / 16 % 3];
  std::string_view const text(reinterpret_cast<char const*>(data) + 1, size - 1);
  for (bool const to_original : {true, false}) {
    std::string const whole = translated(world, text, to_original, separator, 0);
    if (piece != 0 && translated(world, text, to_original, separator, piece) != whole) {
      std::abort();
    }
  }
  // Up to eight lines of the text as names to explain.
  std::vector<std::string_view> names;
  for (std::size_t start = 0; start < text.size() && names.size() < 8;) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    names.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  // An explanation names a level for every level of a name that names
  // something, and nothing else.
  for (std::string_view const name : names) {
    std::optional<EXPLANATION> const explanation = world.explainer->explain(name);
    if (explanation && explanation->m_levels.empty()) std::abort();
  }
  return 0;
}
