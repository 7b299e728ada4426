// Runs a fuzz target's LLVMFuzzerTestOneInput on saved inputs, without
// libFuzzer, so that found crashes and the seed corpus are replayed by ctest
// in every preset (native, 32-bit, sanitizers).
//
// Usage: NAME_replay PATH...  Each PATH is a file or a directory whose regular
// files are replayed in name order (not recursively). Every input's path is
// printed before it runs, so a crash names its input. Exits 1 when a path
// cannot be read; a failing check inside the target ends the process itself.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

bool read_file(fs::path const& path, std::vector<uint8_t>* bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// The inputs a path stands for, or false when it is neither a readable
// directory nor a file.
bool collect(fs::path const& path, std::vector<fs::path>* inputs) {
  std::error_code error;
  if (!fs::is_directory(path, error)) {
    if (!fs::is_regular_file(path, error)) return false;
    inputs->push_back(path);
    return true;
  }
  std::vector<fs::path> found;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) found.push_back(it->path());
  }
  if (error) return false;
  std::sort(found.begin(), found.end());
  inputs->insert(inputs->end(), found.begin(), found.end());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; ++i) {
    if (!collect(argv[i], &inputs)) {
      std::fprintf(stderr, "replay: cannot read %s\n", argv[i]);
      return 1;
    }
  }
  std::vector<uint8_t> bytes;
  for (fs::path const& input : inputs) {
    std::fprintf(stderr, "replay: %s\n", input.c_str());
    if (!read_file(input, &bytes)) {
      std::fprintf(stderr, "replay: cannot read %s\n", input.c_str());
      return 1;
    }
    // An empty vector's data() may be null; libFuzzer never passes null.
    static uint8_t const kNothing = 0;
    LLVMFuzzerTestOneInput(bytes.empty() ? &kNothing : bytes.data(), bytes.size());
  }
  std::printf("replayed %zu inputs\n", inputs.size());
  return 0;
}
