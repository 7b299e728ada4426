// INPUT_TEXT: the bytes of one input of the zema command (a file, standard
// input or a device), decompressed when they are xz or gzip data, with
// simdjson's padding readable past the end.
//
// Every input is read in chunks, never mapped, and refused as soon as it
// passes the size limit: a plain regular file by its size before it is read,
// anything else once it has passed the limit, so that a stream without end
// costs at most the limit and one chunk in time and memory. A regular file
// that shrinks, grows or is rewritten while it is read is refused too.
#ifndef TOOLS_INPUT_INPUT_FILE_H
#define TOOLS_INPUT_INPUT_FILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <sys/stat.h>

namespace zema_tool {

// The largest input simdjson parses: 4 GiB less its padding.
constexpr std::uint64_t kLargestInput = 0xffffffffull - 64;
// The default of --max-input-size: 2 GiB of (decompressed) input.
constexpr std::uint64_t kDefaultMaxInput = std::uint64_t{2} << 30;

class INPUT_TEXT {
 public:
  INPUT_TEXT() = default;
  INPUT_TEXT(INPUT_TEXT&& other) noexcept { swap(other); }
  INPUT_TEXT& operator=(INPUT_TEXT&& other) noexcept {
    INPUT_TEXT(std::move(other)).swap(*this);
    return *this;
  }
  INPUT_TEXT(INPUT_TEXT const&) = delete;
  INPUT_TEXT& operator=(INPUT_TEXT const&) = delete;
  ~INPUT_TEXT();

  // Reads `path` ("-" for standard input). Throws TOOL_ERROR, placed at the
  // input's name, when it cannot be read, when its (decompressed) size passes
  // `max_size`, when its compressed data is broken, or when it changed while
  // it was read.
  // Unless `any_text`, an input whose text can start neither a JSON value
  // nor a Verilog netlist is refused as soon as its first bytes are read.
  static INPUT_TEXT read(std::string const& path, std::uint64_t max_size, bool any_text = false);
  // A copy of `bytes` (for tests and fuzzing), decompressed like a file.
  static INPUT_TEXT from_bytes(std::string_view bytes, std::string name, std::uint64_t max_size,
                               bool any_text = false);

  char const* data() const { return m_data; }
  std::size_t size() const { return m_size; }
  // Bytes that may be read from data(): size() and at least 64 more.
  std::size_t capacity() const { return m_capacity; }
  std::string_view view() const { return std::string_view(m_data, m_size); }
  // The input's name for messages: the path, or "<stdin>".
  std::string const& name() const { return m_name; }

 private:
  void swap(INPUT_TEXT& other) noexcept;
  // The checks on the whole text, once it is read.
  void finish(std::uint64_t max_size, bool any_text);

  char* m_data = nullptr;  // mapped, m_capacity bytes
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
  std::string m_name;
};

// Throws the TOOL_ERROR "NAME:LINE:COLUMN: malformed JSON: expected a JSON
// value, got the byte 0xNN" when `text` cannot start a JSON value (for a
// text that got past the first bytes as one that may be a netlist).
void refuse_unless_json(INPUT_TEXT const& text);

// INPUT_STREAM: the bytes of one input a piece at a time, decompressed as
// they come, for texts that are processed as they stream (a report of
// gigabytes is translated in a fixed buffer). The sources, the
// decompression, the size limit (on decompressed bytes), the change
// detection and the messages are INPUT_TEXT's.
class INPUT_STREAM {
 public:
  // Opens `path` ("-" for standard input). Throws TOOL_ERROR "NAME: cannot
  // open: ..." or "NAME: cannot read: Is a directory".
  INPUT_STREAM(std::string const& path, std::uint64_t max_size);
  ~INPUT_STREAM();
  INPUT_STREAM(INPUT_STREAM const&) = delete;
  INPUT_STREAM& operator=(INPUT_STREAM const&) = delete;

  // Reads up to `size` bytes into `to`; gives how many, 0 at the end. Throws
  // TOOL_ERROR as INPUT_TEXT::read does.
  std::size_t read(char* to, std::size_t size);
  // The input's name for messages: the path, or "<stdin>".
  std::string const& name() const { return m_name; }

 private:
  struct STATE;
  std::unique_ptr<STATE> m_state;
  std::string m_name;
  std::uint64_t m_max_size;
  std::uint64_t m_total = 0;
  struct stat m_before {};
  bool m_regular = false;
  bool m_close = false;
  bool m_ended = false;
};

}  // namespace zema_tool

#endif  // TOOLS_INPUT_INPUT_FILE_H
