// Benchmarks of the whole `zema convert` in a fresh process, as a user runs
// it: reading the design file, building the host design, init and writing
// every row (to /dev/null), timed by the wall clock. On the generated design
// and on a replica of a real netlist, each iteration also runs zema_baseline,
// the plain std implementation, on the same file, and the benchmark reports
// both times and how many times faster the command is. The design files are written once into the
// build tree (bench/data/) and kept for later runs.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
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

// What one run of a command cost: wall time, and the CPU time of all its
// threads, user and system apart; with --stats, also its init phase's.
struct RUN_COST {
  double m_wall = -1;  // negative: the run failed
  double m_user = 0;
  double m_system = 0;
  double m_init_wall = 0;
  double m_init_cpu = 0;  // user and system
};

double seconds_of(timeval const& time) {
  return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

// The init line of `--stats` in the file at `path`: wall, user and system.
void read_init_stats(std::string const& path, RUN_COST* cost) {
  std::FILE* const in = std::fopen(path.c_str(), "r");
  if (in == nullptr) return;
  char line[512];
  while (std::fgets(line, sizeof line, in) != nullptr) {
    double wall, user, system;
    if (std::sscanf(line, "zema: stats: init %lf s wall %lf s user %lf s sys", &wall, &user,
                    &system) == 3) {
      cost->m_init_wall = wall;
      cost->m_init_cpu = user + system;
    }
  }
  std::fclose(in);
}

// Runs `arguments` with standard output to /dev/null and, given
// `stats_path`, standard error to that file, its --stats read back.
RUN_COST run_timed(std::vector<std::string> const& arguments,
                   std::string const& stats_path = std::string()) {
  std::vector<char*> argv;
  argv.reserve(arguments.size() + 1);
  for (std::string const& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  if (!stats_path.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stats_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
  }
  RUN_COST cost;
  auto const start = std::chrono::steady_clock::now();
  pid_t pid;
  int status = 0;
  rusage usage;
  bool const spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0 &&
                       wait4(pid, &status, 0, &usage) == pid;
  auto const end = std::chrono::steady_clock::now();
  posix_spawn_file_actions_destroy(&actions);
  if (!spawned || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return cost;
  cost.m_wall = std::chrono::duration<double>(end - start).count();
  cost.m_user = seconds_of(usage.ru_utime);
  cost.m_system = seconds_of(usage.ru_stime);
  if (!stats_path.empty()) read_init_stats(stats_path, &cost);
  return cost;
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

// With `baseline`, also runs zema_baseline on the same file, the two in
// turn, both with --stats: the benchmark's own time is the command's, and
// its counters give both sides' wall, user and system time, their init
// phase in wall and in CPU (all threads), and how many times faster the
// command is in each.
void convert_command(benchmark::State& state, std::string const& design, bool baseline) {
  if (!bench_file_exists(design)) return state.SkipWithError("could not write the design file");
  std::string const stats = bench_data_path("stats.txt");
  RUN_COST zema_sum, plain_sum;
  auto add = [](RUN_COST* sum, RUN_COST const& cost) {
    sum->m_wall += cost.m_wall;
    sum->m_user += cost.m_user;
    sum->m_system += cost.m_system;
    sum->m_init_wall += cost.m_init_wall;
    sum->m_init_cpu += cost.m_init_cpu;
  };
  zema_sum.m_wall = plain_sum.m_wall = 0;
  std::vector<std::string> zema_run{ZEMA_CLI_PATH, "convert"};
  std::vector<std::string> plain_run{ZEMA_BASELINE_PATH};
  if (baseline) {
    zema_run.emplace_back("--stats");
    plain_run.emplace_back("--stats");
  }
  for (std::string const& liberty : bench_liberty_files()) {
    for (auto* run : {&zema_run, &plain_run}) {
      run->emplace_back("--liberty");
      run->push_back(liberty);
    }
  }
  zema_run.push_back(design);
  plain_run.push_back(design);
  for (auto _ : state) {
    RUN_COST const zema = run_timed(zema_run, baseline ? stats : std::string());
    RUN_COST const plain = baseline ? run_timed(plain_run, stats) : RUN_COST{0};
    if (zema.m_wall < 0 || plain.m_wall < 0) return state.SkipWithError("a command failed");
    add(&zema_sum, zema);
    add(&plain_sum, plain);
    state.SetIterationTime(zema.m_wall);
  }
  if (!baseline) return;
  double const n = static_cast<double>(state.iterations());
  state.counters["zema_s"] = zema_sum.m_wall / n;
  state.counters["zema_user_s"] = zema_sum.m_user / n;
  state.counters["zema_sys_s"] = zema_sum.m_system / n;
  state.counters["baseline_s"] = plain_sum.m_wall / n;
  state.counters["baseline_user_s"] = plain_sum.m_user / n;
  state.counters["baseline_sys_s"] = plain_sum.m_system / n;
  state.counters["speedup"] = plain_sum.m_wall / zema_sum.m_wall;
  state.counters["cpu_speedup"] =
      (plain_sum.m_user + plain_sum.m_system) / (zema_sum.m_user + zema_sum.m_system);
  state.counters["init_speedup"] = plain_sum.m_init_wall / zema_sum.m_init_wall;
  state.counters["init_cpu_speedup"] = plain_sum.m_init_cpu / zema_sum.m_init_cpu;
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
    double const python = run_timed({ZEMA_PYTHON_PATH, "-c", script, design}).m_wall;
    double const command = run_timed({ZEMA_CLI_PATH, "convert", design}).m_wall;
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

std::string octree_design(std::size_t instances) {
  std::string path = bench_data_path("octree-" + std::to_string(instances) + ".json");
  if (!bench_file_exists(path)) {
    run_timed({ZEMA_GEN_DESIGN_PATH, "--alphabet", "rtl", "--seed", "42", "--shape", "complete",
               "--fanout", "8", "--instances", std::to_string(instances), "--leaf-atoms", "-o",
               path});
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
  benchmark::RegisterBenchmark(
      "CommandConvertVsBaseline/octree/1000000",
      [](benchmark::State& state) { convert_command(state, octree_design(1000000), true); })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime()
      ->Iterations(3);
  for (std::string const& path : bench_design_files()) {
    benchmark::RegisterBenchmark(
        ("CommandConvertVsBaseline/" + file_label(path)).c_str(),
        [path](benchmark::State& state) { convert_command(state, path, true); })
        ->Unit(benchmark::kMillisecond)
        ->UseManualTime()
        ->Iterations(3);
  }
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
