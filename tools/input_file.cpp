#include "tools/input_file.h"

#include <fcntl.h>
#include <lzma.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "tools/huge_pages.h"
#include "tools/text_format.h"
#include "tools/tool_error.h"

namespace zema_tool {
namespace {

// simdjson reads up to 64 bytes past the end of its input.
constexpr std::size_t kPadding = 64;
constexpr std::size_t kChunk = std::size_t{1} << 20;

std::string errno_text(int error) { return std::strerror(error != 0 ? error : EIO); }

[[noreturn]] void too_large(std::string const& name, std::uint64_t max_size) {
  throw TOOL_ERROR(
      name, "the input is larger than " + decimal(max_size) + " bytes (see --max-input-size)");
}

// A malloc'd buffer that grows by doubling and always keeps kPadding bytes
// of room after its content.
class GROWING_BUFFER {
 public:
  GROWING_BUFFER() = default;
  GROWING_BUFFER(GROWING_BUFFER const&) = delete;
  GROWING_BUFFER& operator=(GROWING_BUFFER const&) = delete;
  ~GROWING_BUFFER() { std::free(m_data); }

  // Room for `more` bytes after the content; give them with commit().
  char* room(std::size_t more) {
    if (more > static_cast<std::size_t>(-1) / 2) throw std::bad_alloc();
    std::size_t const need = m_size + more + kPadding;
    if (need > m_capacity) {
      std::size_t const capacity = std::max(m_capacity * 2, need);
      void* const grown = std::realloc(m_data, capacity);
      if (grown == nullptr) throw std::bad_alloc();
      advise_huge_pages(grown, capacity);
      m_data = static_cast<char*>(grown);
      m_capacity = capacity;
    }
    return m_data + m_size;
  }
  std::size_t room_size() const { return m_capacity - m_size - kPadding; }
  void commit(std::size_t bytes) { m_size += bytes; }
  std::size_t size() const { return m_size; }
  char const* data() const { return m_data; }

  // Hands the buffer over; the caller frees it with std::free.
  char* release(std::size_t* size, std::size_t* capacity) {
    // The parser reads the padding: give it a defined value.
    std::memset(room(0), 0, kPadding);
    *size = m_size;
    *capacity = m_capacity;
    char* const data = m_data;
    m_data = nullptr;
    m_size = m_capacity = 0;
    return data;
  }

 private:
  char* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

COMPRESSION compression_of(char const* data, std::size_t size) {
  static unsigned char const kXz[6] = {0xfd, '7', 'z', 'X', 'Z', 0x00};
  if (size >= 6 && std::memcmp(data, kXz, 6) == 0) return COMPRESSION::XZ;
  if (size >= 2 && static_cast<unsigned char>(data[0]) == 0x1f &&
      static_cast<unsigned char>(data[1]) == 0x8b) {
    return COMPRESSION::GZIP;
  }
  return COMPRESSION::NONE;
}

// Where the first byte that no JSON text may start with lies in `text` (after
// blanks), or npos when the text may be JSON or holds only blanks so far.
std::size_t bad_start(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() &&
         (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) {
    ++i;
  }
  if (i == text.size()) return std::string_view::npos;
  char const c = text[i];
  bool const may_start = c == '{' || c == '[' || c == '"' || c == '-' || (c >= '0' && c <= '9') ||
                         c == 't' || c == 'f' || c == 'n';
  return may_start ? std::string_view::npos : i;
}

// Refuses, before any more is read, an input whose (decompressed) text
// cannot be JSON: a device like /dev/zero or /dev/urandom fails at once.
void check_start(std::string_view text, std::string const& name) {
  std::size_t const at = bad_start(text);
  if (at == std::string_view::npos) return;
  std::size_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < at; ++i) {
    if (text[i] == '\n') {
      ++line;
      line_start = i + 1;
    }
  }
  char const hex[] = "0123456789abcdef";
  unsigned char const byte = static_cast<unsigned char>(text[at]);
  char const shown[5] = {'0', 'x', hex[byte >> 4], hex[byte & 15], '\0'};
  throw TOOL_ERROR(name + ":" + decimal(line) + ":" + decimal(at - line_start + 1),
                   std::string("malformed JSON: expected a JSON value, got the byte ") + shown);
}

void read_stream(int fd, std::string const& name, std::uint64_t max_size, bool any_text,
                 GROWING_BUFFER* out) {
  bool checked = any_text;
  for (;;) {
    char* const room = out->room(kChunk);
    ssize_t const got = ::read(fd, room, out->room_size());
    if (got < 0) {
      if (errno == EINTR) continue;
      throw TOOL_ERROR(name, "cannot read: " + errno_text(errno));
    }
    if (got == 0) return;
    out->commit(static_cast<std::size_t>(got));
    // Compressed data is checked once decompressed; plain text at once.
    if (!checked && out->size() >= 6) {
      checked = true;
      if (compression_of(out->data(), out->size()) == COMPRESSION::NONE) {
        check_start(std::string_view(out->data(), out->size()), name);
      }
    }
    if (out->size() > max_size) too_large(name, max_size);
  }
}

// The decompressed size that an xz file's last index records, or 0 when it
// cannot be read there (the stream decoder then finds every problem).
std::uint64_t xz_size_hint(char const* data, std::size_t size) {
  if (size < std::size_t{2} * LZMA_STREAM_HEADER_SIZE) return 0;
  std::uint8_t const* const end = reinterpret_cast<std::uint8_t const*>(data) + size;
  lzma_stream_flags footer;
  if (lzma_stream_footer_decode(&footer, end - LZMA_STREAM_HEADER_SIZE) != LZMA_OK) return 0;
  if (footer.backward_size > size - std::size_t{2} * LZMA_STREAM_HEADER_SIZE) return 0;
  lzma_index* index = nullptr;
  std::uint64_t memlimit = std::uint64_t{64} << 20;
  std::size_t position = 0;
  std::uint8_t const* const start = end - LZMA_STREAM_HEADER_SIZE - footer.backward_size;
  if (lzma_index_buffer_decode(&index, &memlimit, nullptr, start, &position,
                               footer.backward_size) != LZMA_OK) {
    return 0;
  }
  std::uint64_t const hint = lzma_index_uncompressed_size(index);
  lzma_index_end(index, nullptr);
  return hint;
}

void decompress_xz(char const* data, std::size_t size, std::string const& name,
                   std::uint64_t max_size, GROWING_BUFFER* out) {
  // The whole output in one block when the file says how large it is (the
  // last stream's size; a hint only, the decoder's output is what counts).
  std::uint64_t const hint = xz_size_hint(data, size);
  if (hint > 0 && hint <= max_size) out->room(static_cast<std::size_t>(hint));
  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_stream_decoder(&stream, UINT64_MAX, LZMA_CONCATENATED) != LZMA_OK) {
    throw std::bad_alloc();
  }
  struct END {
    lzma_stream* m_stream;
    ~END() { lzma_end(m_stream); }
  } const end{&stream};
  stream.next_in = reinterpret_cast<std::uint8_t const*>(data);
  stream.avail_in = size;
  for (;;) {
    // Fill the room there is (all of it when the size was known) before
    // asking for more.
    if (out->room_size() == 0) out->room(kChunk);
    stream.next_out = reinterpret_cast<std::uint8_t*>(out->room(0));
    stream.avail_out = out->room_size();
    std::size_t const before = stream.avail_out;
    lzma_ret const result = lzma_code(&stream, LZMA_FINISH);
    out->commit(before - stream.avail_out);
    if (out->size() > max_size) too_large(name, max_size);
    if (result == LZMA_STREAM_END) return;
    if (result == LZMA_OK) continue;
    if (result == LZMA_MEM_ERROR) throw std::bad_alloc();
    char const* problem = "the data is corrupt";
    if (result == LZMA_BUF_ERROR) problem = "the data ends early";
    if (result == LZMA_FORMAT_ERROR || result == LZMA_OPTIONS_ERROR) {
      problem = "the data is not in a supported xz format";
    }
    throw TOOL_ERROR(name, std::string("broken xz data: ") + problem);
  }
}

void decompress_gzip(char const* data, std::size_t size, std::string const& name,
                     std::uint64_t max_size, GROWING_BUFFER* out) {
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  struct END {
    z_stream* m_stream;
    ~END() { inflateEnd(m_stream); }
  } const end{&stream};
  std::size_t offset = 0;
  auto feed = [&] {
    std::size_t const part = std::min<std::size_t>(size - offset, std::size_t{1} << 30);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data + offset));
    stream.avail_in = static_cast<uInt>(part);
    offset += part;
  };
  feed();
  for (;;) {
    if (stream.avail_in == 0 && offset < size) feed();
    std::size_t const room = std::min<std::size_t>(kChunk, std::size_t{1} << 30);
    stream.next_out = reinterpret_cast<Bytef*>(out->room(room));
    stream.avail_out = static_cast<uInt>(room);
    int const result = inflate(&stream, Z_NO_FLUSH);
    out->commit(room - stream.avail_out);
    if (out->size() > max_size) too_large(name, max_size);
    if (result == Z_STREAM_END) {
      std::size_t const consumed = offset - stream.avail_in;
      if (consumed == size) return;
      // Another member follows, as `cat a.gz b.gz` makes.
      if (compression_of(data + consumed, size - consumed) != COMPRESSION::GZIP) {
        throw TOOL_ERROR(name, "broken gzip data: unexpected bytes after the end of the data");
      }
      inflateReset(&stream);
      continue;
    }
    if (result == Z_OK) continue;
    if (result == Z_MEM_ERROR) throw std::bad_alloc();
    if (result == Z_BUF_ERROR && stream.avail_in == 0 && offset == size) {
      throw TOOL_ERROR(name, "broken gzip data: the data ends early");
    }
    if (result == Z_BUF_ERROR) continue;
    throw TOOL_ERROR(name, std::string("broken gzip data: ") +
                               (stream.msg != nullptr ? stream.msg : "the data is corrupt"));
  }
}

}  // namespace

INPUT_TEXT::~INPUT_TEXT() { release(); }

void INPUT_TEXT::swap(INPUT_TEXT& other) noexcept {
  std::swap(m_data, other.m_data);
  std::swap(m_size, other.m_size);
  std::swap(m_capacity, other.m_capacity);
  std::swap(m_mapped, other.m_mapped);
  std::swap(m_name, other.m_name);
  std::swap(m_compression, other.m_compression);
}

void INPUT_TEXT::release() {
  if (m_mapped != 0) {
    ::munmap(m_data, m_mapped);
  } else {
    std::free(m_data);
  }
  m_data = nullptr;
  m_size = m_capacity = m_mapped = 0;
}

void INPUT_TEXT::decompress(std::uint64_t max_size) {
  m_compression = compression_of(m_data, m_size);
  if (m_compression == COMPRESSION::NONE) return;
  GROWING_BUFFER out;
  if (m_compression == COMPRESSION::XZ) {
    decompress_xz(m_data, m_size, m_name, max_size, &out);
  } else {
    decompress_gzip(m_data, m_size, m_name, max_size, &out);
  }
  release();
  m_data = out.release(&m_size, &m_capacity);
}

INPUT_TEXT INPUT_TEXT::read(std::string const& path, std::uint64_t max_size, bool any_text) {
  max_size = std::min(max_size, kLargestInput);
  INPUT_TEXT input;
  bool const from_stdin = path == "-";
  input.m_name = from_stdin ? std::string("<stdin>") : path;
  int const fd = from_stdin ? 0 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw TOOL_ERROR(input.m_name, "cannot open: " + errno_text(errno));
  struct CLOSER {
    int m_fd;
    bool m_close;
    ~CLOSER() {
      if (m_close) ::close(m_fd);
    }
  } const closer{fd, !from_stdin};

  struct stat info;
  if (::fstat(fd, &info) != 0) throw TOOL_ERROR(input.m_name, "cannot read: " + errno_text(errno));
  if (S_ISDIR(info.st_mode)) throw TOOL_ERROR(input.m_name, "cannot read: " + errno_text(EISDIR));
  if (S_ISREG(info.st_mode) && info.st_size > 0) {
    std::uint64_t const size = static_cast<std::uint64_t>(info.st_size);
    // Compressed files are measured after decompression.
    if (size > max_size && size > kLargestInput) too_large(input.m_name, max_size);
    std::size_t const page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::size_t const mapped = (static_cast<std::size_t>(size) + kPadding + page - 1) / page * page;
    // Zero pages for the whole span first, then the file over its part: the
    // padding past the file's last page is anonymous memory, never beyond
    // the file's end.
    void* const span =
        ::mmap(nullptr, mapped, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (span == MAP_FAILED) throw std::bad_alloc();
    input.m_data = static_cast<char*>(span);
    input.m_mapped = mapped;
    input.m_size = static_cast<std::size_t>(size);
    input.m_capacity = mapped;
    if (::mmap(span, static_cast<std::size_t>(size), PROT_READ,
               MAP_PRIVATE | MAP_FIXED | MAP_POPULATE, fd, 0) == MAP_FAILED) {
      throw TOOL_ERROR(input.m_name, "cannot read: " + errno_text(errno));
    }
    ::madvise(span, static_cast<std::size_t>(size), MADV_SEQUENTIAL);
    ::madvise(span, static_cast<std::size_t>(size), MADV_WILLNEED);
  } else {
    GROWING_BUFFER buffer;
    // Raw bytes may be compressed: the limit then applies to what they give.
    read_stream(fd, input.m_name, max_size, any_text, &buffer);
    input.m_data = buffer.release(&input.m_size, &input.m_capacity);
  }
  input.decompress(max_size);
  if (input.m_size > max_size) too_large(input.m_name, max_size);
  if (!any_text) check_start(input.view(), input.m_name);
  return input;
}

INPUT_TEXT INPUT_TEXT::from_bytes(std::string_view bytes, std::string name,
                                  std::uint64_t max_size) {
  max_size = std::min(max_size, kLargestInput);
  INPUT_TEXT input;
  input.m_name = std::move(name);
  GROWING_BUFFER buffer;
  char* const room = buffer.room(bytes.size());
  if (!bytes.empty()) std::memcpy(room, bytes.data(), bytes.size());
  buffer.commit(bytes.size());
  input.m_data = buffer.release(&input.m_size, &input.m_capacity);
  input.decompress(max_size);
  if (input.m_size > max_size) too_large(input.m_name, max_size);
  check_start(input.view(), input.m_name);
  return input;
}

}  // namespace zema_tool
