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

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <simdjson.h>

#include "bench/bench_support.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/output/text_format.h"
#include "tools/tool_error.h"

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

bool exists(std::string const& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && info.st_size > 0;
}

std::string data_path(std::string const& name) {
  mkdir(ZEMA_BENCH_DATA_DIR, 0755);
  return std::string(ZEMA_BENCH_DATA_DIR) + "/" + name;
}

// The generated design of the given size with names as RTL and synthesis
// write them: `instances` instances and as many atoms.
std::string generated_design(std::size_t instances) {
  std::string path = data_path("rtl-" + std::to_string(instances) + ".json");
  if (!exists(path)) {
    std::string const count = std::to_string(instances);
    run_timed({ZEMA_GEN_DESIGN_PATH, "--alphabet", "rtl", "--seed", "42", "--instances", count,
               "--atoms", count, "-o", path});
  }
  return path;
}

// `count` children of the root whose names all legalise to "data_q", each
// naming one atom: a generate loop's worth of clashes.
std::string siblings_design(std::size_t count) {
  std::string path = data_path("siblings-" + std::to_string(count) + ".json");
  if (exists(path)) return path;
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

// A design of real names at scale: a new top module holding as many
// instances of a real netlist's top module as make about `cells` primitive
// cells, so that names, fan-outs and depths are those of a real flow. The
// netlist is mor1kx from ../shared/realdesigns where that folder is, else
// the Yosys example of examples/yosys.
std::string replica_design(std::size_t cells) {
  std::string const real = std::string(ZEMA_REALDESIGNS_DIR) + "/mor1kx_hier.json.xz";
  std::string const source = exists(real) ? real : std::string(ZEMA_YOSYS_EXAMPLE);
  std::string const name = source == real ? "mor1kx" : "soc";
  std::string path = data_path("replica-" + name + "-" + std::to_string(cells) + ".json");
  if (exists(path)) return path;
  try {
    zema_tool::INPUT_TEXT const text = zema_tool::INPUT_TEXT::read(source, std::uint64_t{1} << 32);
    // One copy's cells, and the module the netlist marks as its top.
    zema_tool::DESIGN_RECORDS records;
    zema_tool::read_records(text, zema_tool::READ_OPTIONS(), &records);
    std::size_t const copies = std::max<std::size_t>(1, cells / records.m_atoms.size());
    simdjson::dom::parser parser;
    simdjson::padded_string_view const padded(text.data(), text.size(), text.capacity());
    simdjson::dom::object const modules = parser.parse(padded)["modules"].get_object();
    std::string top;
    for (auto const module : modules) {
      std::string_view marked;
      if (!module.value.at_pointer("/attributes/top").get(marked) &&
          marked.find('1') != std::string_view::npos) {
        top = std::string(module.key);
      }
    }
    // The replica module goes first among the modules. With it the netlist
    // marks two modules as its top, and the reader takes the one that no
    // cell instantiates: the replica.
    std::string replica =
        "\"zema_replica\": {\"attributes\": {\"top\": \"00000000000000000000000000000001\"}, "
        "\"cells\": {";
    for (std::size_t c = 0; c < copies; ++c) {
      replica += (c != 0 ? ", \"copy" : "\"copy") + std::to_string(c) + "\": {\"type\": ";
      zema_tool::STRING_SINK sink{replica};
      replica += '"';
      zema_tool::put_escaped(sink, top, zema_tool::ESCAPE::JSON);
      replica += "\"}";
    }
    replica += "}}, ";
    std::string_view const all = text.view();
    std::size_t const open = all.find('{', all.find("\"modules\"")) + 1;
    std::FILE* const out = std::fopen(path.c_str(), "w");
    if (out == nullptr) return path;
    bool const written =
        std::fwrite(all.data(), 1, open, out) == open &&
        std::fwrite(replica.data(), 1, replica.size(), out) == replica.size() &&
        std::fwrite(all.data() + open, 1, all.size() - open, out) == all.size() - open;
    if (std::fclose(out) != 0 || !written) std::remove(path.c_str());
  } catch (zema_tool::TOOL_ERROR const&) {
    std::remove(path.c_str());
  }
  return path;
}

// With `baseline`, also runs zema_baseline on the same file and reports both
// times and the speedup; the benchmark's own time is the command's.
void convert_command(benchmark::State& state, std::string const& design, bool baseline) {
  if (!exists(design)) return state.SkipWithError("could not write the design file");
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

}  // namespace

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
      [](benchmark::State& state) { convert_command(state, replica_design(1000000), true); })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime()
      ->Iterations(3);
}

}  // namespace zema_bench
