// INPUT_TEXT: every way an input arrives (a regular file, a pipe, bytes in
// memory, a /proc file that says it is empty), plain or compressed, read
// whole and padded, or refused by its size before it costs memory.
#include "tools/input/input_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/tool/unit/compressed.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

enum class HOW { FILE, PIPE, BYTES };

// Reads `bytes` as an input that arrives `how`; the text, or the error line.
std::string read_as(HOW how, std::string const& bytes, std::uint64_t max_size) {
  std::string const path = ::testing::TempDir() + "zema_input_" + std::to_string(::getpid());
  try {
    if (how == HOW::BYTES) {
      return std::string(INPUT_TEXT::from_bytes(bytes, "in", max_size).view());
    }
    std::thread writer;
    if (how == HOW::FILE) {
      std::ofstream(path, std::ios::binary) << bytes;
    } else {
      ::unlink(path.c_str());
      ::mkfifo(path.c_str(), 0600);
      writer = std::thread([&] {
        // A reader that gives up early closes the pipe: the writer stops.
        std::FILE* const out = std::fopen(path.c_str(), "wb");
        if (out == nullptr) return;
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
      });
    }
    struct CLEANUP {
      std::thread& m_writer;
      std::string const& m_path;
      ~CLEANUP() {
        if (m_writer.joinable()) m_writer.join();
        ::unlink(m_path.c_str());
      }
    } const cleanup{writer, path};
    INPUT_TEXT const text = INPUT_TEXT::read(path, max_size);
    // The parser may read 64 bytes past the end.
    EXPECT_GE(text.capacity(), text.size() + 64);
    return std::string(text.view());
  } catch (TOOL_ERROR const& error) {
    return "error: " + error.m_message;
  }
}

// The bytes and the expected text are made when the case runs: the runner
// starts once per test, and copies of megabytes made at its start would cost
// every other test too.
struct INPUT_CASE {
  char const* what;
  std::string (*bytes)();
  std::uint64_t max_size;
  std::string (*expected)();  // the text, or "error: ..."
};

void PrintTo(INPUT_CASE const& input, std::ostream* out) { *out << input.what; }

class InputTest : public ::testing::TestWithParam<INPUT_CASE> {};

// A pipe may fill before the writer is done: reading it must not block on a
// reader that already gave up, so pipes carry the cases that end early too.
TEST_P(InputTest, ReadsAlikeFromFilesPipesAndMemory) {
  std::signal(SIGPIPE, SIG_IGN);  // a refused pipe is closed under its writer
  std::string const bytes = GetParam().bytes();
  std::string const expected = GetParam().expected();
  for (HOW how : {HOW::FILE, HOW::PIPE, HOW::BYTES}) {
    EXPECT_EQ(read_as(how, bytes, GetParam().max_size), expected)
        << "from "
        << (how == HOW::FILE   ? "a file"
            : how == HOW::PIPE ? "a pipe"
                               : "memory");
  }
}

std::string json() { return "{\"root\": {\"name\": \"\"}}\n"; }
// Several chunks of 1 MiB, to cross every buffer boundary.
std::string large() { return "[" + std::string(3 << 20, ' ') + "1]"; }
std::string limit() { return std::string(999, ' ') + "1"; }
std::string too_large() {
  return "error: the input is larger than 1000 bytes (see --max-input-size)";
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, InputTest,
    ::testing::Values(
        INPUT_CASE{"plain JSON", json, 1000, json},
        INPUT_CASE{"xz", [] { return xz(json()); }, 1000, json},
        INPUT_CASE{"gzip", [] { return gzip(json()); }, 1000, json},
        INPUT_CASE{"two gzip members", [] { return gzip(json()) + gzip(json()); }, 1000,
                   [] { return json() + json(); }},
        INPUT_CASE{"several chunks", large, 4 << 20, large},
        INPUT_CASE{"several chunks of xz", [] { return xz(large()); }, 4 << 20, large},
        INPUT_CASE{"exactly the limit", limit, 1000, limit},
        INPUT_CASE{"one byte past the limit", [] { return std::string(1000, ' ') + "1"; }, 1000,
                   too_large},
        INPUT_CASE{"past the limit once decompressed", [] { return xz(large()); }, 1000, too_large},
        INPUT_CASE{"a gzip member cut short", [] { return gzip(large()).substr(0, 100); }, 4 << 20,
                   [] { return std::string("error: broken gzip data: the data ends early"); }},
        INPUT_CASE{"bytes that cannot start JSON", [] { return std::string(10, '\0'); }, 1000,
                   [] {
                     return std::string(
                         "error: malformed JSON: expected a JSON value, got the byte 0x00");
                   }}));

TEST(InputFileTest, ReadsAProcFileThatSaysItIsEmpty) {
  // /proc files report size 0; their content is read like a stream.
  INPUT_TEXT const text = INPUT_TEXT::read("/proc/self/status", 1 << 20, true);
  EXPECT_GT(text.size(), 0u);
}

TEST(InputFileTest, RefusesALargeFileBeforeReadingIt) {
  std::string const path = ::testing::TempDir() + "zema_sparse_" + std::to_string(::getpid());
  { std::ofstream(path) << "{"; }
  ASSERT_EQ(::truncate(path.c_str(), std::int64_t{1} << 40), 0);  // 1 TiB of holes
  try {
    INPUT_TEXT::read(path, 1000);
    ADD_FAILURE() << "a 1 TiB file was read";
  } catch (TOOL_ERROR const& error) {
    EXPECT_EQ(error.m_message, too_large().substr(7));
  }
  ::unlink(path.c_str());
}

}  // namespace
}  // namespace zema_tool
