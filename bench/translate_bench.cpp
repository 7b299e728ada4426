// translate in process: the rewriting of report text once the design is
// converted and its names indexed, which is what grows with a report. The
// report (256 MB, built once) mixes what reports hold, each line around a
// converted name picked at random: timing-path lines with a pin, SDC pins
// in brackets and braces, escaped identifiers and bare names. Output goes
// to /dev/null through the command's buffer; the rate is bytes of report.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "tools/input/design_builder.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/names/conversion.h"
#include "tools/names/name_index.h"
#include "tools/names/name_map.h"
#include "tools/names/original_names.h"
#include "tools/names/text_translator.h"

namespace zema_bench {
namespace {

using namespace zema_tool;

constexpr std::size_t kReportBytes = std::size_t{256} << 20;

struct TRANSLATION_SETUP {
  PHASES phases{false, false};
  std::unique_ptr<LOADED_DESIGN> design;
  std::unique_ptr<CONVERSION> conversion;
  std::unique_ptr<ORIGINAL_NAMES> originals;
  std::unique_ptr<NAME_INDEX> index;
  std::string report;
  std::size_t names = 0;  // converted names in the report
};

std::unique_ptr<TRANSLATION_SETUP> make_setup(std::string const& path) {
  auto setup = std::make_unique<TRANSLATION_SETUP>();
  READ_OPTIONS options;
  DESIGN_RECORDS records;
  read_records(INPUT_TEXT::read(path, options.m_max_input_size), options, &records);
  setup->design = build_design(std::move(records));
  setup->conversion =
      std::make_unique<CONVERSION>(*setup->design, ZEMA_NAME_CONVERTER_FUSION, setup->phases);
  setup->originals = std::make_unique<ORIGINAL_NAMES>(*setup->design);
  setup->index = std::make_unique<NAME_INDEX>(*setup->conversion, *setup->originals);
  std::vector<std::string> names;
  for_each_map_row(*setup->conversion, *setup->originals, [&](MAP_ROW const& row) {
    if (row.names_something()) names.emplace_back(row.m_converted);
  });
  std::uint64_t state = 42;
  std::string& report = setup->report;
  report.reserve(kReportBytes + 4096);
  while (report.size() < kReportBytes && !names.empty()) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    std::string const& name = names[(state >> 33) % names.size()];
    switch ((state >> 20) & 3) {
      case 0:
        report += "  " + name + "/D (DFF_X1)   0.08    1.27 r\n";
        break;
      case 1:
        report += "set_false_path -to [get_pins {" + name + "/D}]\n";
        break;
      case 2:
        report += "  \\" + name + " \n";
        break;
      default:
        report += name + "\n";
    }
    ++setup->names;
  }
  return setup;
}

void translate_report(benchmark::State& state) {
  std::string const path = generated_design(static_cast<std::size_t>(state.range(0)));
  if (!bench_file_exists(path)) return state.SkipWithError("could not write the design file");
  TRANSLATION_SETUP& setup =
      keep<TRANSLATION_SETUP>("translate " + path, [&path] { return make_setup(path); });
  std::FILE* const sink = std::fopen("/dev/null", "w");
  for (auto _ : state) {
    OUTPUT_BUFFER out(sink);
    TEXT_TRANSLATOR translator(*setup.index, true, '/', TEXT_TRANSLATOR::UNKNOWN());
    constexpr std::size_t kPiece = std::size_t{1} << 20;
    std::string_view rest = setup.report;
    while (!rest.empty()) {
      std::string_view const piece = rest.substr(0, kPiece);
      std::size_t const used = translator.put(piece, piece.size() == rest.size(), out);
      rest.remove_prefix(used);
    }
    out.finish();
  }
  std::fclose(sink);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * setup.report.size()));
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * setup.names));
}

}  // namespace

void register_translate_benchmarks() {
  benchmark::RegisterBenchmark("Translate/rtl", translate_report)
      ->Arg(100000)
      ->Arg(1000000)
      ->Unit(benchmark::kMillisecond);
}

}  // namespace zema_bench
