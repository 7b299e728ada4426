// The command's read phase in process: a design file or Yosys netlist read
// into the records that the host design is built from, against a plain
// simdjson DOM parse of the same file, which only turns the text into a tape.
// Both run in the same iteration, each into fresh buffers from a heap that
// already holds the memory, and both times are CPU times. Beside them, one
// gate-level design read as structural Verilog and as Yosys JSON.
#include <simdjson.h>

#include <cstdint>
#include <string>

#include "bench/bench_support.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/support/tool_error.h"

namespace zema_bench {
namespace {

using namespace zema_tool;

// Gives the number of names read.
std::size_t read_file(std::string const& path) {
  READ_OPTIONS const options;
  DESIGN_RECORDS records;
  read_records(INPUT_TEXT::read(path, options.m_max_input_size), options, &records);
  return records.m_names.size();
}

bool parse_file(std::string const& path) {
  simdjson::dom::parser parser;
  simdjson::dom::element document;
  return parser.load(path).get(document) == simdjson::SUCCESS;
}

void read_vs_parse(benchmark::State& state, std::string const& path) {
  std::size_t names = 0;
  try {
    names = read_file(path);  // untimed: the heap grows to its size once
  } catch (TOOL_ERROR const& error) {
    return state.SkipWithError(error.text().c_str());
  }
  if (!parse_file(path)) return state.SkipWithError("simdjson cannot parse the file");
  double read_seconds = 0;
  double parse_seconds = 0;
  for (auto _ : state) {
    double const start = thread_cpu_seconds();
    read_file(path);
    double const middle = thread_cpu_seconds();
    parse_file(path);
    double const end = thread_cpu_seconds();
    read_seconds += middle - start;
    parse_seconds += end - middle;
    state.SetIterationTime(middle - start);
  }
  double const iterations = static_cast<double>(state.iterations());
  state.counters["read_ms"] = read_seconds * 1e3 / iterations;
  state.counters["parse_ms"] = parse_seconds * 1e3 / iterations;
  state.counters["read/parse"] = read_seconds / parse_seconds;
  state.counters["names"] = static_cast<double>(names);
}

// Reading one gate-level design as structural Verilog or as Yosys JSON with
// the Liberty of its cells, to records: what each reader costs per byte and
// per cell. Both make the same names.
void read_netlist(benchmark::State& state, std::string const& format, std::size_t cells) {
  std::string liberty;
  std::string const path = gate_netlist(format, cells, &liberty);
  READ_OPTIONS options;
  options.m_liberty = {liberty};
  std::size_t bytes = 0;
  auto read = [&] {
    DESIGN_RECORDS records;
    INPUT_TEXT const text = INPUT_TEXT::read(path, options.m_max_input_size);
    bytes = text.size();
    read_records(text, options, &records);
    return records.m_atoms.size();
  };
  std::size_t atoms = 0;
  try {
    atoms = read();  // untimed: the heap grows to its size once
  } catch (TOOL_ERROR const& error) {
    return state.SkipWithError(error.text().c_str());
  }
  double seconds = 0;
  for (auto _ : state) {
    double const start = thread_cpu_seconds();
    read();
    double const end = thread_cpu_seconds();
    seconds += end - start;
    state.SetIterationTime(end - start);
  }
  double const iterations = static_cast<double>(state.iterations());
  state.counters["read_ms"] = seconds * 1e3 / iterations;
  state.counters["MB/s"] = static_cast<double>(bytes) * iterations / seconds / 1e6;
  state.counters["cells/s"] = static_cast<double>(atoms) * iterations / seconds;
  state.counters["MB"] = static_cast<double>(bytes) / 1e6;
}

}  // namespace

void register_read_benchmarks() {
  for (char const* format : {"verilog", "yosys"}) {
    benchmark::RegisterBenchmark(
        ("ReadNetlist/" + std::string(format) + "/1000000").c_str(),
        [format](benchmark::State& state) { read_netlist(state, format, 1000000); })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
  }
  for (std::size_t const instances : {100000, 1000000}) {
    benchmark::RegisterBenchmark(
        ("ReadVsParse/rtl/" + std::to_string(instances)).c_str(),
        [instances](benchmark::State& state) { read_vs_parse(state, generated_design(instances)); })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime();
  }
  benchmark::RegisterBenchmark(
      "ReadVsParse/replica/1000000",
      [](benchmark::State& state) { read_vs_parse(state, replica_netlist(1000000)); })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime();
}

}  // namespace zema_bench
