#include "tools/commands/revision_child.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>

#include "tools/commands/design_arguments.h"
#include "tools/names/conversion.h"
#include "tools/names/name_map.h"
#include "tools/support/exit_policy.h"
#include "tools/support/phases.h"
#include "tools/support/tool_error.h"

#ifdef ZEMA_GCOV_DUMP
// gcov's (the coverage build defines ZEMA_GCOV_DUMP): writes this process's
// counts, which a child that ends with _exit would otherwise never write.
extern "C" void __gcov_dump(void);  // NOLINT(bugprone-reserved-identifier)
#endif

namespace zema_tool {
namespace {

// What the child sends, each record led by one of these bytes: a map row
// (kind, origin, whether it has an original, converted, original), a
// warning, the end, or how it failed (a TOOL_ERROR's place and message, an
// INTERNAL_FAILURE's message, out of memory, another exception's text).
enum RECORD : char {
  kRow = 'R',
  kWarning = 'W',
  kEnd = 'Z',
  kToolError = 'E',
  kInternal = 'I',
  kOutOfMemory = 'M',
  kOther = 'X'
};

// The child's end of the pipe, buffered.
class SENDER {
 public:
  explicit SENDER(int fd) : m_fd(fd) { m_buffer.reserve(kFlushAt + 4096); }

  void byte(char value) { m_buffer.push_back(value); }
  void text(std::string_view value) {
    std::uint64_t const size = value.size();
    m_buffer.append(reinterpret_cast<char const*>(&size), sizeof size);
    m_buffer.append(value);
    // With the parent gone, nobody waits for the rest.
    if (m_buffer.size() >= kFlushAt && !flush()) _exit(1);
  }
  void row(MAP_ROW const& row) {
    byte(kRow);
    byte(static_cast<char>(row.m_kind));
    byte(static_cast<char>(row.m_origin));
    byte(row.m_original ? 1 : 0);
    text(row.m_converted);
    text(row.m_original ? *row.m_original : std::string_view());
  }
  // False when the parent is gone.
  bool flush() {
    std::size_t done = 0;
    while (done < m_buffer.size()) {
      ssize_t const wrote = write(m_fd, m_buffer.data() + done, m_buffer.size() - done);
      if (wrote < 0 && errno == EINTR) continue;
      if (wrote <= 0) return false;
      done += static_cast<std::size_t>(wrote);
    }
    m_buffer.clear();
    return true;
  }

 private:
  static constexpr std::size_t kFlushAt = std::size_t{1} << 20;
  int const m_fd;
  std::string m_buffer;
};

void send_revision(std::string const& path, READ_OPTIONS const& read,
                   ZEMA_NAME_CONVERTER_ENUM strategy, SENDER& send) {
  PHASES phases(false, false);
  std::vector<std::string> warnings;
  std::unique_ptr<DESIGN_NAMES> const names =
      load_revision(path, read, strategy, phases, &warnings);
  for (std::string const& warning : warnings) {
    send.byte(kWarning);
    send.text(warning);
  }
  names->for_each_row([&](MAP_ROW const& row) { send.row(row); });
  CONVERSION::expect_no_reports();
  send.byte(kEnd);
}

[[noreturn]] void be_child(int to_parent, pid_t parent, std::string const& path,
                           READ_OPTIONS const& read, ZEMA_NAME_CONVERTER_ENUM strategy) {
  // Ends with the parent, whatever ends it.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(1);
  // The handlers of these remove the parent's output file: the parent's to
  // do, not the child's.
  for (int const signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(signal, SIG_DFL);
  int code = 0;
  {
    SENDER send(to_parent);
    auto const failed = [&](RECORD kind, std::string_view place, std::string_view message) {
      send.byte(kind);
      send.text(place);
      send.text(message);
      code = 1;
    };
    try {
      send_revision(path, read, strategy, send);
    } catch (TOOL_ERROR const& error) {
      failed(kToolError, error.m_place, error.m_message);
    } catch (INTERNAL_FAILURE const& failure) {
      failed(kInternal, std::string_view(), failure.m_message);
    } catch (std::bad_alloc const&) {
      failed(kOutOfMemory, std::string_view(), std::string_view());
    } catch (std::exception const& exception) {
      failed(kOther, std::string_view(), exception.what());
    }
    if (!send.flush()) code = 1;
  }
#ifdef ZEMA_GCOV_DUMP
  __gcov_dump();
#endif
  _exit(code);
}

}  // namespace

// Reads the records from the chunks received, across chunk edges.
class REVISION_CHILD::RECEIVED {
 public:
  explicit RECEIVED(std::vector<CHUNK> const& chunks) : m_chunks(chunks) {}

  bool at_end() const { return m_chunk == m_chunks.size(); }
  // False at the end of what was received.
  bool bytes(void* to, std::size_t count) {
    char* out = static_cast<char*>(to);
    while (count > 0) {
      if (at_end()) return false;
      CHUNK const& chunk = m_chunks[m_chunk];
      std::size_t const take = std::min(count, chunk.m_size - m_offset);
      std::memcpy(out, chunk.m_bytes.get() + m_offset, take);
      out += take;
      count -= take;
      m_offset += take;
      if (m_offset == chunk.m_size) {
        ++m_chunk;
        m_offset = 0;
      }
    }
    return true;
  }
  bool byte(char* value) { return bytes(value, 1); }
  // A text, viewed in place when it lies in one chunk, else copied into
  // `scratch`.
  bool text(std::string* scratch, std::string_view* value) {
    std::uint64_t size;
    if (!bytes(&size, sizeof size)) return false;
    if (!at_end() && m_chunks[m_chunk].m_size - m_offset >= size) {
      *value = std::string_view(m_chunks[m_chunk].m_bytes.get() + m_offset, size);
      m_offset += size;
      if (m_offset == m_chunks[m_chunk].m_size) {
        ++m_chunk;
        m_offset = 0;
      }
      return true;
    }
    if (size > (std::uint64_t{1} << 40)) return false;
    scratch->resize(size);
    if (!bytes(scratch->data(), size)) return false;
    *value = *scratch;
    return true;
  }

 private:
  std::vector<CHUNK> const& m_chunks;
  std::size_t m_chunk = 0;
  std::size_t m_offset = 0;
};

namespace {

INTERNAL_FAILURE cut_short() {
  return INTERNAL_FAILURE("the process converting the new revision sent a cut or garbled stream");
}

}  // namespace

std::unique_ptr<REVISION_CHILD> REVISION_CHILD::start(std::string const& path,
                                                      READ_OPTIONS const& read,
                                                      ZEMA_NAME_CONVERTER_ENUM strategy) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
  // Nothing buffered may be written twice, once by each process.
  std::fflush(nullptr);
  pid_t const parent = getpid();
  pid_t const pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return nullptr;
  }
  if (pid == 0) {
    close(fds[0]);
    be_child(fds[1], parent, path, read, strategy);
  }
  close(fds[1]);
  // Fewer, larger reads; the default of 64 KiB stands where this is refused.
  fcntl(fds[0], F_SETPIPE_SZ, 1 << 20);
  try {
    return std::unique_ptr<REVISION_CHILD>(new REVISION_CHILD(pid, fds[0]));
  } catch (...) {
    close(fds[0]);
    kill(pid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
    throw;
  }
}

REVISION_CHILD::REVISION_CHILD(pid_t pid, int from_child) : m_pid(pid), m_from_child(from_child) {
  m_receiver = std::thread([this] { receive(); });
}

REVISION_CHILD::~REVISION_CHILD() { end_child(true); }

void REVISION_CHILD::receive() {
  constexpr std::size_t kChunk = std::size_t{16} << 20;
  try {
    for (;;) {
      if (m_chunks.empty() || m_chunks.back().m_size == kChunk) {
        m_chunks.push_back(CHUNK{std::unique_ptr<char[]>(new char[kChunk]), 0});
      }
      CHUNK& chunk = m_chunks.back();
      ssize_t const got =
          read(m_from_child, chunk.m_bytes.get() + chunk.m_size, kChunk - chunk.m_size);
      if (got > 0) {
        chunk.m_size += static_cast<std::size_t>(got);
      } else if (got == 0 || errno != EINTR) {
        if (got < 0) m_read_error = errno;
        return;
      }
    }
  } catch (std::bad_alloc const&) {
    m_read_error = ENOMEM;
  }
}

void REVISION_CHILD::end_child(bool kill_it) {
  if (m_ended) return;
  m_ended = true;
  if (kill_it) kill(m_pid, SIGKILL);
  // The pipe's other end closes with the child, which ends the reading.
  if (m_receiver.joinable()) m_receiver.join();
  close(m_from_child);
  while (waitpid(m_pid, &m_status, 0) < 0 && errno == EINTR) {
  }
}

void REVISION_CHILD::finish(DIAGNOSTICS& diagnostics) {
  end_child(false);
  if (m_read_error == ENOMEM) throw std::bad_alloc();
  RECEIVED received(m_chunks);
  std::string scratch;
  for (;;) {
    char kind;
    if (!received.byte(&kind)) break;
    if (kind == kRow) {
      char head[3];
      std::string_view converted;
      std::string_view original;
      if (!received.bytes(head, sizeof head) || !received.text(&scratch, &converted) ||
          !received.text(&scratch, &original)) {
        throw cut_short();
      }
      continue;
    }
    if (kind == kEnd) return;
    std::string_view first;
    if (!received.text(&scratch, &first)) throw cut_short();
    if (kind == kWarning) {
      diagnostics.warning(first);
      continue;
    }
    std::string const place(first);
    std::string_view message;
    if (!received.text(&scratch, &message)) throw cut_short();
    switch (kind) {
      case kToolError:
        throw TOOL_ERROR(place, std::string(message));
      case kInternal:
        throw INTERNAL_FAILURE(std::string(message));
      case kOutOfMemory:
        throw std::bad_alloc();
      case kOther:
        throw std::runtime_error(std::string(message));
      default:
        throw cut_short();
    }
  }
  if (WIFSIGNALED(m_status)) {
    throw INTERNAL_FAILURE("the process converting the new revision ended by signal " +
                           std::to_string(WTERMSIG(m_status)));
  }
  throw cut_short();
}

MAP_ROWS REVISION_CHILD::rows() const {
  return [this](std::function<void(MAP_ROW const&)> const& visit) {
    RECEIVED received(m_chunks);
    std::string scratch_converted;
    std::string scratch_original;
    MAP_ROW row{};
    row.m_oterm = -1;
    char kind;
    while (received.byte(&kind) && (kind == kRow || kind == kWarning)) {
      if (kind == kWarning) {
        std::string_view warning;
        received.text(&scratch_converted, &warning);
        continue;
      }
      char head[3];
      std::string_view converted;
      std::string_view original;
      received.bytes(head, sizeof head);
      received.text(&scratch_converted, &converted);
      received.text(&scratch_original, &original);
      row.m_kind = static_cast<MAP_KIND>(head[0]);
      row.m_origin = static_cast<ORIGIN>(head[1]);
      row.m_converted = converted;
      row.m_original = head[2] != 0 ? std::optional<std::string_view>(original) : std::nullopt;
      visit(row);
    }
  };
}

}  // namespace zema_tool
