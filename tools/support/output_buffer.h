// OUTPUT_BUFFER: text output to a stdio stream through one large buffer.
//
// Converting a big design prints millions of short lines; writing them in
// blocks of a mebibyte keeps the output from costing more than the
// conversion. A failed write is remembered and reported by finish().
#ifndef TOOLS_SUPPORT_OUTPUT_BUFFER_H
#define TOOLS_SUPPORT_OUTPUT_BUFFER_H

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "tools/support/text_format.h"

namespace zema_tool {

class OUTPUT_BUFFER {
 public:
  explicit OUTPUT_BUFFER(std::FILE* stream) : m_stream(stream), m_buffer(new char[kCapacity]) {}
  OUTPUT_BUFFER(OUTPUT_BUFFER const&) = delete;
  OUTPUT_BUFFER& operator=(OUTPUT_BUFFER const&) = delete;

  void put(char c) {
    if (m_size == kCapacity) flush();
    m_buffer[m_size++] = c;
  }

  // A row is a dozen short pieces: each is a bounds test and a copy into the
  // buffer, with nothing of a growable container's bookkeeping.
  void put(std::string_view text) {
    if (text.size() > kCapacity - m_size) {
      flush();
      if (text.size() > kCapacity) {
        write(text.data(), text.size());
        return;
      }
    }
    std::char_traits<char>::copy(m_buffer.get() + m_size, text.data(), text.size());
    m_size += text.size();
  }

  void put_uint(std::uint64_t value) {
    char digits[kDecimalRoom];
    put(std::string_view(digits, static_cast<std::size_t>(write_decimal(digits, value) - digits)));
  }

  // `text` as a JSON string, in double quotes.
  void put_json(std::string_view text) {
    put('"');
    put_escaped(*this, text, ESCAPE::JSON);
    put('"');
  }

  // `text` as one tab-separated field.
  void put_field(std::string_view text) { put_escaped(*this, text, ESCAPE::FIELD); }

  // Writes what is buffered and flushes the stream. Gives 0 when every write
  // succeeded, else the errno of the first failure.
  int finish() {
    flush();
    if (m_error == 0 && std::fflush(m_stream) != 0) m_error = errno != 0 ? errno : EIO;
    return m_error;
  }

 private:
  static constexpr std::size_t kCapacity = 1 << 20;

  void flush() {
    write(m_buffer.get(), m_size);
    m_size = 0;
  }

  void write(char const* data, std::size_t size) {
    if (size == 0 || m_error != 0) return;
    if (std::fwrite(data, 1, size, m_stream) != size) m_error = errno != 0 ? errno : EIO;
  }

  std::FILE* m_stream;
  std::unique_ptr<char[]> m_buffer;
  std::size_t m_size = 0;
  int m_error = 0;
};

// What `write(OUTPUT_BUFFER&)` writes, as a string: for programs that call a
// command's code in process (the Python module, tests, fuzz targets).
template <class WRITE>
std::string written_text(WRITE&& write) {
  char* bytes = nullptr;
  std::size_t size = 0;
  std::FILE* const stream = open_memstream(&bytes, &size);
  if (stream == nullptr) throw std::bad_alloc();
  {
    OUTPUT_BUFFER out(stream);
    write(out);
    out.finish();
  }
  std::fclose(stream);
  std::string text(bytes, size);
  std::free(bytes);
  return text;
}

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_OUTPUT_BUFFER_H
