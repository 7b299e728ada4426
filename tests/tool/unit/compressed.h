// Compressed test inputs: a text as one xz stream or one gzip member, the two
// formats the command's inputs may come in.
#ifndef TESTS_TOOL_UNIT_COMPRESSED_H
#define TESTS_TOOL_UNIT_COMPRESSED_H

#include <gtest/gtest.h>
#include <lzma.h>
#include <zlib.h>

#include <cstdint>
#include <string>
#include <vector>

namespace zema_tool {

// Preset 1: some cases are made when the runner starts, once per test, and
// at preset 6 the encoder clears some 90 MB each time.
inline std::string xz(std::string const& text) {
  std::vector<std::uint8_t> out(text.size() + 1024);
  std::size_t size = 0;
  EXPECT_EQ(lzma_easy_buffer_encode(1, LZMA_CHECK_CRC64, nullptr,
                                    reinterpret_cast<std::uint8_t const*>(text.data()), text.size(),
                                    out.data(), &size, out.size()),
            LZMA_OK);
  return std::string(reinterpret_cast<char const*>(out.data()), size);
}

inline std::string gzip(std::string const& text) {
  z_stream stream{};
  EXPECT_EQ(deflateInit2(&stream, 6, Z_DEFLATED, 16 + MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(text.size() + 1024, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(&out[0]);
  stream.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

}  // namespace zema_tool

#endif  // TESTS_TOOL_UNIT_COMPRESSED_H
