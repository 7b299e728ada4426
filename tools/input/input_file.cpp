#include "tools/input/input_file.h"

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
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "host/zema_host.h"
#include "tools/input/verilog_lexer.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// simdjson reads up to 64 bytes past the end of its input.
constexpr std::size_t kPadding = 64;
constexpr std::size_t kChunk = std::size_t{1} << 20;
// The slices of a buffer that a populator takes in turn.
constexpr std::size_t kPopulatedSlice = std::size_t{2} << 20;

std::string errno_text(int error) { return std::strerror(error != 0 ? error : EIO); }

[[noreturn]] void too_large(std::string const& name, std::uint64_t max_size) {
  throw TOOL_ERROR(
      name, "the input is larger than " + decimal(max_size) + " bytes (see --max-input-size)");
}

[[noreturn]] void changed(std::string const& name) {
  throw TOOL_ERROR(name, "changed while reading");
}

// The host's tracked memory takes what it can of the pages, already
// touched, for the blocks that come next (a design's tree), in a program
// that touches its memory once; the rest is unmapped.
void unmap_text(char* data, std::size_t capacity) {
  if (data == nullptr) return;
  std::size_t const taken = zema_host::mem_adopt_pages(data, capacity);
  if (taken < capacity) ::munmap(data + taken, capacity - taken);
}

// A mapped buffer that grows by doubling, never past the size limit and one
// chunk, and always keeps kPadding bytes of room after its content. It grows
// with mremap, which moves pages rather than copying them, so a buffer never
// costs twice its size on the way.
class GROWING_BUFFER {
 public:
  explicit GROWING_BUFFER(std::uint64_t max_size)
      : m_most(static_cast<std::size_t>(std::min<std::uint64_t>(max_size, kLargestInput)) + kChunk +
               kPadding) {}
  GROWING_BUFFER(GROWING_BUFFER const&) = delete;
  GROWING_BUFFER& operator=(GROWING_BUFFER const&) = delete;
  ~GROWING_BUFFER() { unmap_text(m_data, m_capacity); }

  // Room for `more` bytes after the content; give them with commit(). The
  // caller asks for no more than the limit and a chunk in all.
  char* room(std::size_t more) {
    std::size_t const need = m_size + more + kPadding;
    if (more > m_most || need > m_most) throw std::bad_alloc();
    if (need > m_capacity) {
      std::size_t const page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
      std::size_t const capacity =
          (std::min(std::max(m_capacity * 2, need), m_most) + page - 1) / page * page;
      void* const grown = m_data == nullptr
                              ? ::mmap(nullptr, capacity, PROT_READ | PROT_WRITE,
                                       MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                              : ::mremap(m_data, m_capacity, capacity, MREMAP_MAYMOVE);
      if (grown == MAP_FAILED) throw std::bad_alloc();
      m_data = static_cast<char*>(grown);
      m_capacity = capacity;
    }
    return m_data + m_size;
  }
  std::size_t room_size() const { return m_capacity - m_size - kPadding; }
  void commit(std::size_t bytes) { m_size += bytes; }
  std::size_t size() const { return m_size; }
  char const* data() const { return m_data; }

  // Hands the buffer over; the caller frees it with unmap_text.
  char* release(std::size_t* size, std::size_t* capacity) {
    room(0);  // the padding, zero as fresh pages are
    *size = m_size;
    *capacity = m_capacity;
    char* const data = m_data;
    m_data = nullptr;
    m_size = m_capacity = 0;
    return data;
  }

 private:
  std::size_t const m_most;
  char* m_data = nullptr;
  std::size_t m_size = 0;
  std::size_t m_capacity = 0;
};

enum class COMPRESSION { NONE, XZ, GZIP };

COMPRESSION compression_of(char const* data, std::size_t size) {
  static unsigned char const kXz[6] = {0xfd, '7', 'z', 'X', 'Z', 0x00};
  if (size >= 6 && std::memcmp(data, kXz, 6) == 0) return COMPRESSION::XZ;
  if (size >= 2 && static_cast<unsigned char>(data[0]) == 0x1f &&
      static_cast<unsigned char>(data[1]) == 0x8b) {
    return COMPRESSION::GZIP;
  }
  return COMPRESSION::NONE;
}

// Where the first byte that no JSON text (nor, with `netlist`, a Verilog
// netlist) may start with lies in `text` (after blanks), or npos when the
// text may be one or holds only blanks so far.
std::size_t bad_start(std::string_view text, bool netlist) {
  std::size_t i = 0;
  while (i < text.size() && is_json_blank(text[i])) ++i;
  if (i == text.size()) return std::string_view::npos;
  char const c = text[i];
  bool const may_start = c == '{' || c == '[' || c == '"' || c == '-' || (c >= '0' && c <= '9') ||
                         c == 't' || c == 'f' || c == 'n' || (netlist && verilog_may_start(c));
  return may_start ? std::string_view::npos : i;
}

// Refuses, before any more is read, an input whose (decompressed) text
// cannot be a design: a device like /dev/zero or /dev/urandom fails at once.
void check_start(std::string_view text, std::string const& name, bool netlist = true) {
  std::size_t const at = bad_start(text, netlist);
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

// Refuses text with a NUL byte in it: the first chunk of a stream of unknown
// length that has one (/dev/zero, /dev/urandom, a binary file piped in) is
// no text, and the rest need not be read to the size limit to say so.
void refuse_nul(std::string_view text, std::string const& name) {
  std::size_t const at = text.find('\0');
  if (at == std::string_view::npos) return;
  std::size_t const line =
      1 + static_cast<std::size_t>(std::count(text.begin(), text.begin() + at, '\n'));
  std::size_t const line_start = text.rfind('\n', at);
  std::size_t const column = line_start == std::string_view::npos ? at + 1 : at - line_start;
  throw TOOL_ERROR(name + ":" + decimal(line) + ":" + decimal(column), "not a text: the byte 0x00");
}

// Checks the first bytes of decompressed text as they come, so that a
// compressed stream of bytes that cannot be JSON (a bomb of zeros, say) is
// refused after its first chunk, not once it is all decompressed. Any text
// (a Liberty file, a map, a list of names, a netlist of any format) may
// start with anything but holds no NUL byte: a stream of unknown length (a
// device, a pipe, decompressed text) with one in its first chunk, such as
// /dev/zero, /dev/urandom or compressed zeros, is refused there rather than
// read to the size limit. A plain file's NUL is left to its reader, which
// names the place and the rule.
class START_CHECK {
 public:
  START_CHECK(std::string const& name, bool any_text, bool stream)
      : m_name(name), m_any_text(any_text), m_pending(!any_text || stream) {}
  void after(GROWING_BUFFER const& out) {
    if (!m_pending || out.size() == 0) return;
    std::string_view const text(out.data(), out.size());
    if (m_any_text) {
      refuse_nul(text, m_name);
      m_pending = false;
      return;
    }
    check_start(text, m_name);
    // Decided once a byte other than a blank has come.
    m_pending = text.find_first_not_of(" \t\n\r") == std::string_view::npos;
  }

 private:
  std::string const& m_name;
  bool const m_any_text;
  bool m_pending;
};

// The raw bytes of an input: a file descriptor read in chunks, or bytes in
// memory. For a regular file, whose size is known, reading fewer or more
// bytes than that size means the file changed while it was read.
class SOURCE {
 public:
  // Bytes in memory, all available at once.
  explicit SOURCE(std::string_view bytes) : m_next(bytes.data()), m_available(bytes.size()) {}
  // A descriptor; `expected` is the size of a regular file, else -1.
  SOURCE(int fd, std::string const& name, std::int64_t expected)
      : m_fd(fd), m_name(&name), m_expected(expected), m_buffer(new char[kChunk]) {}

  char const* next() const { return m_next; }
  std::size_t available() const { return m_available; }
  void consume(std::size_t bytes) {
    m_next += bytes;
    m_available -= bytes;
  }
  // Reads more after the bytes not yet consumed; false at the end of the
  // input (nothing was added).
  bool fill() {
    if (m_fd < 0 || m_ended) return false;
    if (m_available > 0) std::memmove(m_buffer.get(), m_next, m_available);
    m_next = m_buffer.get();
    std::size_t const got = read_into(m_buffer.get() + m_available, kChunk - m_available);
    m_available += got;
    return got > 0;
  }
  // Reads up to `size` bytes straight into `to`; gives how many (0 at the
  // end). Call it only once what fill() read is consumed.
  std::size_t read_into(char* to, std::size_t size) {
    if (m_fd < 0) return 0;
    std::size_t got = 0;
    while (got < size && !m_ended) {
      ssize_t const n = ::read(m_fd, to + got, std::min<std::size_t>(size - got, 1u << 30));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw TOOL_ERROR(*m_name, "cannot read: " + errno_text(errno));
      }
      if (n == 0) {
        m_ended = true;
        if (m_expected >= 0 && m_total != static_cast<std::uint64_t>(m_expected)) {
          changed(*m_name);
        }
        break;
      }
      m_total += static_cast<std::size_t>(n);
      got += static_cast<std::size_t>(n);
      if (m_expected >= 0 && m_total > static_cast<std::uint64_t>(m_expected)) changed(*m_name);
    }
    return got;
  }
  bool ended() const { return m_fd < 0 || m_ended; }
  bool is_descriptor() const { return m_fd >= 0; }

 private:
  int m_fd = -1;
  std::string const* m_name = nullptr;
  std::int64_t m_expected = -1;
  std::unique_ptr<char[]> m_buffer;
  char const* m_next = nullptr;
  std::size_t m_available = 0;
  std::uint64_t m_total = 0;
  bool m_ended = false;
};

// Decompressed bytes from a SOURCE, a piece at a time: xz, gzip, or the bytes
// as they are. Every problem with the data is a TOOL_ERROR at the input's
// name.
class DECODER {
 public:
  virtual ~DECODER() = default;
  // Writes up to `room` decoded bytes at `out`; gives how many. Sets *ended
  // once the data has ended (no more bytes will come).
  virtual std::size_t decode(SOURCE& in, char* out, std::size_t room, bool* ended) = 0;
  // Whether the bytes come as they are, not decompressed: decompressed text
  // is a stream of unknown length, like a pipe's.
  virtual bool plain() const { return false; }
};

class PLAIN_DECODER final : public DECODER {
 public:
  bool plain() const override { return true; }
  std::size_t decode(SOURCE& in, char* out, std::size_t room, bool* ended) override {
    if (in.available() > 0) {
      std::size_t const taken = std::min(room, in.available());
      std::memcpy(out, in.next(), taken);
      in.consume(taken);
      return taken;
    }
    std::size_t const got = in.read_into(out, room);
    *ended = got == 0;
    return got;
  }
};

class XZ_DECODER final : public DECODER {
 public:
  explicit XZ_DECODER(std::string const& name) : m_name(name) {
    // Files of several blocks (as `xz -T0` writes them) are decoded on every
    // core; a file of one block is decoded on one.
    lzma_mt mt{};
    mt.flags = LZMA_CONCATENATED;
    mt.threads = std::max(1u, lzma_cputhreads());
    mt.memlimit_threading = std::uint64_t{1} << 30;
    mt.memlimit_stop = UINT64_MAX;
    if (lzma_stream_decoder_mt(&m_stream, &mt) != LZMA_OK) throw std::bad_alloc();
  }
  ~XZ_DECODER() override { lzma_end(&m_stream); }
  XZ_DECODER(XZ_DECODER const&) = delete;
  XZ_DECODER& operator=(XZ_DECODER const&) = delete;

  std::size_t decode(SOURCE& in, char* out, std::size_t room, bool* ended) override {
    if (in.available() == 0) in.fill();
    m_stream.next_in = reinterpret_cast<std::uint8_t const*>(in.next());
    m_stream.avail_in = in.available();
    m_stream.next_out = reinterpret_cast<std::uint8_t*>(out);
    m_stream.avail_out = room;
    lzma_ret const result = lzma_code(&m_stream, in.ended() ? LZMA_FINISH : LZMA_RUN);
    in.consume(in.available() - m_stream.avail_in);
    std::size_t const made = room - m_stream.avail_out;
    if (result == LZMA_STREAM_END) *ended = true;
    if (result == LZMA_STREAM_END || result == LZMA_OK) return made;
    if (result == LZMA_MEM_ERROR) throw std::bad_alloc();
    char const* problem = "the data is corrupt";
    if (result == LZMA_BUF_ERROR) problem = "the data ends early";
    if (result == LZMA_FORMAT_ERROR || result == LZMA_OPTIONS_ERROR) {
      problem = "the data is not in a supported xz format";
    }
    throw TOOL_ERROR(m_name, std::string("broken xz data: ") + problem);
  }

 private:
  std::string const& m_name;
  lzma_stream m_stream = LZMA_STREAM_INIT;
};

class GZIP_DECODER final : public DECODER {
 public:
  explicit GZIP_DECODER(std::string const& name) : m_name(name) {
    if (inflateInit2(&m_stream, 16 + MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  ~GZIP_DECODER() override { inflateEnd(&m_stream); }
  GZIP_DECODER(GZIP_DECODER const&) = delete;
  GZIP_DECODER& operator=(GZIP_DECODER const&) = delete;

  std::size_t decode(SOURCE& in, char* out, std::size_t room, bool* ended) override {
    if (in.available() == 0) in.fill();
    std::size_t const offered = std::min<std::size_t>(in.available(), std::size_t{1} << 30);
    room = std::min<std::size_t>(room, std::size_t{1} << 30);
    m_stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.next()));
    m_stream.avail_in = static_cast<uInt>(offered);
    m_stream.next_out = reinterpret_cast<Bytef*>(out);
    m_stream.avail_out = static_cast<uInt>(room);
    int const result = inflate(&m_stream, Z_NO_FLUSH);
    in.consume(offered - m_stream.avail_in);
    std::size_t const made = room - m_stream.avail_out;
    if (result == Z_STREAM_END) {
      // Another member may follow, as `cat a.gz b.gz` makes: its first two
      // bytes tell.
      while (in.available() < 2 && in.fill()) {
      }
      if (in.available() == 0) {
        *ended = true;
      } else if (compression_of(in.next(), in.available()) != COMPRESSION::GZIP) {
        throw TOOL_ERROR(m_name, "broken gzip data: unexpected bytes after the end of the data");
      } else {
        inflateReset(&m_stream);
      }
      return made;
    }
    if (result == Z_OK) return made;
    if (result == Z_MEM_ERROR) throw std::bad_alloc();
    if (result == Z_BUF_ERROR && in.available() == 0 && in.ended()) {
      throw TOOL_ERROR(m_name, "broken gzip data: the data ends early");
    }
    if (result == Z_BUF_ERROR) return made;
    throw TOOL_ERROR(m_name, std::string("broken gzip data: ") +
                                 (m_stream.msg != nullptr ? m_stream.msg : "the data is corrupt"));
  }

 private:
  std::string const& m_name;
  z_stream m_stream{};
};

// The decoder for what `in` starts with.
std::unique_ptr<DECODER> decoder_for(SOURCE& in, std::string const& name) {
  while (in.available() < 6 && in.fill()) {
  }
  switch (compression_of(in.next(), in.available())) {
    case COMPRESSION::XZ:
      return std::make_unique<XZ_DECODER>(name);
    case COMPRESSION::GZIP:
      return std::make_unique<GZIP_DECODER>(name);
    case COMPRESSION::NONE:
      break;
  }
  return std::make_unique<PLAIN_DECODER>();
}

// Reads all of `in` into `out`, decompressed when it is xz or gzip data.
// `known_size` is a regular file's size, else -1.
void read_all(SOURCE& in, std::int64_t known_size, std::string const& name, std::uint64_t max_size,
              bool any_text, GROWING_BUFFER* out) {
  std::unique_ptr<DECODER> const decoder = decoder_for(in, name);
  if (decoder->plain() && known_size >= 0) {
    // A plain regular file: refused by its size before it is read, and by
    // its first bytes when they cannot start JSON; then read in one read,
    // straight into its place. The end must follow.
    if (static_cast<std::uint64_t>(known_size) > max_size) too_large(name, max_size);
    if (!any_text) check_start(std::string_view(in.next(), in.available()), name);
    std::size_t const first = in.available();
    if (first > 0) std::memcpy(out->room(first), in.next(), first);
    out->commit(first);
    in.consume(first);
    std::size_t const rest = static_cast<std::size_t>(known_size) - std::min(first, out->size());
    char* const to = out->room(rest);
    // The first touch of the buffer costs more than copying into it: the
    // other core populates and touches it from its end while the read
    // fills it from its start, so that each takes about half. The buffer
    // stays where it is until the populator is done.
    std::vector<std::pair<char*, char*>> slices;
    for (std::size_t end = rest; end > 0;) {
      std::size_t const begin = end > kPopulatedSlice ? end - kPopulatedSlice : 0;
      slices.emplace_back(to + begin, to + end);
      end = begin;
    }
    std::unique_ptr<zema_host::PAGE_POPULATOR> const populator = zema_host::PAGE_POPULATOR::start(
        std::move(slices), zema_host::PAGE_POPULATOR::READY::TOUCHED);
    out->commit(in.read_into(to, rest));
    char extra;
    in.read_into(&extra, 1);
    return;
  }
  START_CHECK start(name, any_text, !decoder->plain() || (known_size < 0 && in.is_descriptor()));
  for (bool ended = false; !ended;) {
    // At least a chunk of room, so that each step decodes a good piece.
    char* const room = out->room(kChunk);
    out->commit(decoder->decode(in, room, out->room_size(), &ended));
    start.after(*out);
    if (out->size() > max_size) too_large(name, max_size);
  }
}

// Opens `path` for reading ("-": standard input, left open), refusing a
// directory; gives the descriptor and, through *known_size, a regular
// file's size (-1 for anything else).
int open_input(std::string const& path, std::string const& name, struct stat* before,
               std::int64_t* known_size) {
  if (path.empty()) throw TOOL_ERROR("command line", "an empty path names no file");
  bool const from_stdin = path == "-";
  int const fd = from_stdin ? 0 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw TOOL_ERROR(name, "cannot open: " + errno_text(errno));
  if (::fstat(fd, before) != 0 || S_ISDIR(before->st_mode)) {
    int const error = S_ISDIR(before->st_mode) ? EISDIR : errno;
    if (!from_stdin) ::close(fd);
    throw TOOL_ERROR(name, "cannot read: " + errno_text(error));
  }
  // Files of /proc say they are empty and are not: their size means nothing.
  bool const regular = S_ISREG(before->st_mode) && before->st_size > 0;
  *known_size = regular ? static_cast<std::int64_t>(before->st_size) : -1;
  return fd;
}

// Whether a regular file's size and time are as they were before it was
// read.
bool unchanged(int fd, struct stat const& before) {
  struct stat after;
  return ::fstat(fd, &after) == 0 && after.st_size == before.st_size &&
         after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
         after.st_mtim.tv_nsec == before.st_mtim.tv_nsec;
}

}  // namespace

void refuse_unless_json(INPUT_TEXT const& text) { check_start(text.view(), text.name(), false); }

INPUT_TEXT::~INPUT_TEXT() { unmap_text(m_data, m_capacity); }

void INPUT_TEXT::swap(INPUT_TEXT& other) noexcept {
  std::swap(m_data, other.m_data);
  std::swap(m_size, other.m_size);
  std::swap(m_capacity, other.m_capacity);
  std::swap(m_name, other.m_name);
}

INPUT_TEXT INPUT_TEXT::read(std::string const& path, std::uint64_t max_size, bool any_text) {
  max_size = std::min(max_size, kLargestInput);
  INPUT_TEXT input;
  bool const from_stdin = path == "-";
  input.m_name = from_stdin ? std::string("<stdin>") : path;
  struct stat before;
  std::int64_t known_size;
  int const fd = open_input(path, input.m_name, &before, &known_size);
  struct CLOSER {
    int m_fd;
    bool m_close;
    ~CLOSER() {
      if (m_close) ::close(m_fd);
    }
  } const closer{fd, !from_stdin};
  // A regular file is read, not mapped: a file that shrinks under a mapping
  // kills the reader with SIGBUS, where a read just ends early. Its size is
  // known, so reading more or fewer bytes, or a size or time that differs
  // afterwards, means it changed while it was read.
  SOURCE in(fd, input.m_name, known_size);
  GROWING_BUFFER out(max_size);
  read_all(in, known_size, input.m_name, max_size, any_text, &out);
  if (known_size >= 0 && !unchanged(fd, before)) changed(input.m_name);
  input.m_data = out.release(&input.m_size, &input.m_capacity);
  input.finish(max_size, any_text);
  return input;
}

INPUT_TEXT INPUT_TEXT::from_bytes(std::string_view bytes, std::string name, std::uint64_t max_size,
                                  bool any_text) {
  max_size = std::min(max_size, kLargestInput);
  INPUT_TEXT input;
  input.m_name = std::move(name);
  SOURCE in(bytes);

  GROWING_BUFFER out(std::max<std::uint64_t>(max_size, bytes.size()));
  read_all(in, -1, input.m_name, max_size, any_text, &out);
  input.m_data = out.release(&input.m_size, &input.m_capacity);
  input.finish(max_size, any_text);
  return input;
}

void INPUT_TEXT::finish(std::uint64_t max_size, bool any_text) {
  if (m_size > max_size) too_large(m_name, max_size);
  if (!any_text) check_start(view(), m_name);
}

}  // namespace zema_tool

namespace zema_tool {

struct INPUT_STREAM::STATE {
  STATE(int fd, std::string const& name, std::int64_t known_size)
      : m_fd(fd), m_source(fd, name, known_size) {}
  int m_fd;
  SOURCE m_source;
  std::unique_ptr<DECODER> m_decoder;
};

INPUT_STREAM::INPUT_STREAM(std::string const& path, std::uint64_t max_size)
    : m_max_size(std::min(max_size, kLargestInput)) {
  m_name = path == "-" ? std::string("<stdin>") : path;
  std::int64_t known_size;
  int const fd = open_input(path, m_name, &m_before, &known_size);
  m_close = path != "-";
  m_regular = known_size >= 0;
  m_state = std::make_unique<STATE>(fd, m_name, known_size);
}

INPUT_STREAM::~INPUT_STREAM() {
  if (m_state && m_close) ::close(m_state->m_fd);
}

std::size_t INPUT_STREAM::read(char* to, std::size_t size) {
  if (m_ended || size == 0) return 0;
  if (!m_state->m_decoder) m_state->m_decoder = decoder_for(m_state->m_source, m_name);
  std::size_t made = 0;
  while (made == 0 && !m_ended) {
    made = m_state->m_decoder->decode(m_state->m_source, to, size, &m_ended);
  }
  if (m_total == 0 && (!m_regular || !m_state->m_decoder->plain())) {
    refuse_nul(std::string_view(to, made), m_name);
  }
  m_total += made;
  if (m_total > m_max_size) too_large(m_name, m_max_size);
  if (m_ended && m_regular && !unchanged(m_state->m_fd, m_before)) changed(m_name);
  return made;
}

}  // namespace zema_tool
