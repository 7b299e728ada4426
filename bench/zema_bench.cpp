// Entry point of the benchmarks: sets the C library's allocator up for steady
// state, registers the container and converter benchmarks and, unless the
// command line or BENCHMARK_FILTER chooses, leaves out the million-instance
// designs (a "/1000000" at the end of a name or before "/manual_time"), which
// take seconds each.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/bench_support.h"

namespace {

bool has_filter(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--benchmark_filter", 18) == 0) return true;
  }
  char const* const from_environment = std::getenv("BENCHMARK_FILTER");
  return from_environment != nullptr && from_environment[0] != '\0';
}

// The first touch of a fresh page costs far more than the work done in it on
// some machines, and by default freed memory goes back to the system (large
// blocks are unmapped, the heap top is trimmed), so every table built after a
// free would pay for its pages again. Keeping freed memory in the heap
// measures what a long-running host pays once its heap has grown.
// ZEMA_BENCH_COLD_HEAP=1 keeps the library defaults instead.
void keep_freed_memory() {
  char const* const cold = std::getenv("ZEMA_BENCH_COLD_HEAP");
  if (cold != nullptr && cold[0] != '\0' && std::strcmp(cold, "0") != 0) return;
  mallopt(M_MMAP_MAX, 0);
  mallopt(M_TRIM_THRESHOLD, INT_MAX);
}

}  // namespace

int main(int argc, char** argv) {
  keep_freed_memory();
  static char default_filter[] = "--benchmark_filter=-/1000000(/|$)";
  std::vector<char*> args(argv, argv + argc);
  if (!has_filter(argc, argv)) args.push_back(default_filter);
  int count = static_cast<int>(args.size());
  args.push_back(nullptr);
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;

  zema_bench::register_container_benchmarks();
  zema_bench::register_converter_benchmarks({10000, 100000, 1000000}, {100000, 1000000});
#ifdef ZEMA_CLI_PATH
  zema_bench::register_command_benchmarks();
  zema_bench::register_translate_benchmarks();
  zema_bench::register_read_benchmarks();
#endif
  benchmark::RunSpecifiedBenchmarks();
  zema_bench::release_kept();
  benchmark::Shutdown();
  return 0;
}
