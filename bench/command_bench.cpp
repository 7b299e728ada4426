// Benchmarks of the whole `zema convert` in a fresh process, as a user runs
// it: reading the design file, building the host design, init and writing
// every row (to /dev/null), timed by the wall clock. On the generated design
// and on a replica of a real netlist, each iteration also runs zema_baseline,
// the plain std implementation, on the same file, and the benchmark reports
// both times and how many times faster the command is. The design files are written once into the
// build tree (bench/data/) and kept for later runs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench_support.h"

extern char** environ;

namespace zema_bench {
namespace {

// Runs `arguments` with standard output to /dev/null; gives its wall time
// in seconds, or a negative value when it failed.
double run_timed(std::vector<std::string> const& arguments) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string const& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  auto const start = std::chrono::steady_clock::now();
  pid_t pid;
  int status = 0;
  bool const spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
                       waitpid(pid, &status, 0) == pid;
  auto const end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::chrono::duration<double>(end - start).count();
}

// `count` children of the root whose names all legalise to "data_q", each
// naming one atom: a generate loop's worth of clashes.
std::string siblings_design(std::size_t count) {
  std::string path = bench_data_path("siblings-" + std::to_string(count) + ".json");
  if (bench_file_exists(path)) return path;
  std::FILE* const out = std::fopen(path.c_str(), "w");
  if (out == nullptr) return path;
  char const* const spellings[] = {"data.q", "data_q", "data-q", "data q"};
  std::fputs("{\"root\": {\"name\": \"\", \"id\": 1, \"children\": [", out);
  for (std::size_t i = 0; i < count; ++i) {
    std::fprintf(out, "%s\n{\"name\": \"%s\", \"id\": %zu}", i ? "," : "", spellings[i % 4], i + 2);
  }
  std::fputs("]},\n\"netlist\": [", out);
  for (std::size_t i = 0; i < count; ++i) {
    std::fprintf(out, "%s\n{\"type\": 26, \"name\": %zu, \"oterms\": [{\"name\": \"o\"}]}",
                 i ? "," : "", i + 2);
  }
  std::fputs("]}\n", out);
  std::fclose(out);
  return path;
}

// With `baseline`, also runs zema_baseline on the same file and reports both
// times and the speedup; the benchmark's own time is the command's.
void convert_command(benchmark::State& state, std::string const& design, bool baseline) {
  if (!bench_file_exists(design)) return state.SkipWithError("could not write the design file");
  double zema_seconds = 0;
  double baseline_seconds = 0;
  for (auto _ : state) {
    double const zema = run_timed({ZEMA_CLI_PATH, "convert", design});
    double const plain = baseline ? run_timed({ZEMA_BASELINE_PATH, design}) : 0;
    if (zema < 0 || plain < 0) return state.SkipWithError("a command failed");
    zema_seconds += zema;
    baseline_seconds += plain;
    state.SetIterationTime(zema);
  }
  if (!baseline) return;
  double const iterations = static_cast<double>(state.iterations());
  state.counters["zema_s"] = zema_seconds / iterations;
  state.counters["baseline_s"] = baseline_seconds / iterations;
  state.counters["speedup"] = baseline_seconds / zema_seconds;
}

#ifdef ZEMA_PYTHON_PATH
// The Python module's rows against the command, each in a fresh process on
// the same file: `sum(1 for _ in Converter(read_design(f)).rows())` and
// `zema convert f > /dev/null`; the benchmark's own time is Python's.
void python_rows(benchmark::State& state, std::string const& design) {
  if (!bench_file_exists(design)) return state.SkipWithError("could not write the design file");
  setenv("PYTHONPATH", ZEMA_PYTHON_MODULE_DIR, 1);
  std::string const script =
      "import sys, zema; sum(1 for _ in zema.Converter(zema.read_design(sys.argv[1])).rows())";
  double python_seconds = 0;
  double command_seconds = 0;
  for (auto _ : state) {
    double const python = run_timed({ZEMA_PYTHON_PATH, "-c", script, design});
    double const command = run_timed({ZEMA_CLI_PATH, "convert", design});
    if (python < 0 || command < 0) return state.SkipWithError("a run failed");
    python_seconds += python;
    command_seconds += command;
    state.SetIterationTime(python);
  }
  double const iterations = static_cast<double>(state.iterations());
  state.counters["python_s"] = python_seconds / iterations;
  state.counters["command_s"] = command_seconds / iterations;
  state.counters["ratio"] = python_seconds / command_seconds;
}
#endif

}  // namespace

std::string generated_design(std::size_t instances) {
  std::string path = bench_data_path("rtl-" + std::to_string(instances) + ".json");
  if (!bench_file_exists(path)) {
    std::string const count = std::to_string(instances);
    run_timed({ZEMA_GEN_DESIGN_PATH, "--alphabet", "rtl", "--seed", "42", "--instances", count,
               "--atoms", count, "-o", path});
  }
  return path;
}

std::string gate_netlist(std::string const& format, std::size_t cells, std::string* liberty) {
  std::string const count = std::to_string(cells);
  *liberty = bench_data_path("gate.lib");
  std::string path = bench_data_path("gate-" + count + (format == "verilog" ? ".v" : ".json"));
  if (!bench_file_exists(path) || !bench_file_exists(*liberty)) {
    run_timed({ZEMA_GEN_DESIGN_PATH, "--netlist", format, "--atoms", count, "--instances", "1000",
               "--seed", "42", "--liberty", *liberty, "-o", path});
  }
  return path;
}

void register_command_benchmarks() {
  // The plain baseline uniques these siblings in quadratic time: it is not run.
  benchmark::RegisterBenchmark(
      "CommandConvert/siblings/100000",
      [](benchmark::State& state) { convert_command(state, siblings_design(100000), false); })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime();
  benchmark::RegisterBenchmark(
      "CommandConvertVsBaseline/rtl/1000000",
      [](benchmark::State& state) { convert_command(state, generated_design(1000000), true); })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime()
      ->Iterations(3);
  benchmark::RegisterBenchmark(
      "CommandConvertVsBaseline/replica/1000000",
      [](benchmark::State& state) { convert_command(state, replica_netlist(1000000), true); })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime()
      ->Iterations(3);
#ifdef ZEMA_PYTHON_PATH
  benchmark::RegisterBenchmark(
      "PythonRowsVsCommand/rtl/1000000",
      [](benchmark::State& state) { python_rows(state, generated_design(1000000)); })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime()
      ->Iterations(3);
#endif
}

}  // namespace zema_bench
