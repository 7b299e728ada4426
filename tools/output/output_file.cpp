#include "tools/output/output_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <memory>

#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

std::string errno_text(int error) { return std::strerror(error != 0 ? error : EIO); }

// The temporary file being written, for the signal handler to remove: a
// plain array, since a handler may only make async-signal-safe calls.
char g_pending[4096];
std::atomic<bool> g_has_pending{false};

extern "C" void remove_pending_and_die(int signal) {
  if (g_has_pending.load()) ::unlink(g_pending);
  std::signal(signal, SIG_DFL);
  std::raise(signal);
}

void watch_signals() {
  static bool const installed = [] {
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
      struct sigaction action {};
      action.sa_handler = remove_pending_and_die;
      sigemptyset(&action.sa_mask);
      ::sigaction(signal, &action, nullptr);
    }
    return true;
  }();
  (void)installed;
}

// The file mode a new file gets from the process's umask.
mode_t new_file_mode() {
  mode_t const mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// The file that `path` leads to through any symbolic links, as a path, so
// that the rename replaces the file the links lead to and not the last link;
// a link that leads nowhere gives the path it names. Links are followed as
// the kernel follows them, at most 40 deep.
std::string resolve_links(std::string const& path) {
  std::string resolved = path;
  for (int depth = 0; depth < 40; ++depth) {
    char target[4096];
    ssize_t const length = ::readlink(resolved.c_str(), target, sizeof target);
    if (length < 0) return resolved;  // not a link, or nothing there yet
    if (static_cast<std::size_t>(length) == sizeof target) break;
    std::string next(target, static_cast<std::size_t>(length));
    if (next.empty() || next[0] != '/') {
      std::size_t const slash = resolved.rfind('/');
      if (slash != std::string::npos) next.insert(0, resolved, 0, slash + 1);
    }
    resolved = next;
  }
  throw TOOL_ERROR(path, "cannot open: " + errno_text(ELOOP));
}

// Whether standard output is /dev/null, where nothing written can be seen.
bool stdout_is_null() {
  struct stat out;
  struct stat null;
  return ::fstat(STDOUT_FILENO, &out) == 0 && S_ISCHR(out.st_mode) &&
         ::stat("/dev/null", &null) == 0 && out.st_rdev == null.st_rdev;
}

}  // namespace

OUTPUT_FILE::OUTPUT_FILE(std::string const& path, bool held) {
  if (path == "-") {
    m_name = "<stdout>";
    m_stream = stdout;
    if (held && !stdout_is_null()) {
      // Without room for the unnamed file (a full or read-only temporary
      // directory), the output goes out as it is made, as it did before.
      if (std::FILE* const spill = std::tmpfile()) {
        m_stream = spill;
        m_held = true;
      }
    }
    return;
  }
  if (path.empty()) throw TOOL_ERROR("command line", "an empty path names no file");
  m_name = path;
  struct stat target;
  bool const exists = ::stat(path.c_str(), &target) == 0;
  if (exists && !S_ISREG(target.st_mode)) {
    if (S_ISDIR(target.st_mode)) throw TOOL_ERROR(path, "cannot open: " + errno_text(EISDIR));
    m_stream = std::fopen(path.c_str(), "wb");
    if (m_stream == nullptr) throw TOOL_ERROR(path, "cannot open: " + errno_text(errno));
    return;
  }
  m_target = resolve_links(path);
  std::size_t const slash = m_target.rfind('/');
  std::string const directory = slash == std::string::npos ? "" : m_target.substr(0, slash + 1);
  std::string const base = slash == std::string::npos ? m_target : m_target.substr(slash + 1);
  std::string temporary = directory + "." + base + ".zema-XXXXXX";
  if (temporary.size() >= sizeof g_pending) {
    throw TOOL_ERROR(path, "cannot open: " + errno_text(ENAMETOOLONG));
  }
  watch_signals();
  // Blocked while the name is made and published, so that a signal never
  // finds a file the handler does not know of.
  sigset_t all;
  sigset_t before;
  sigfillset(&all);
  ::sigprocmask(SIG_BLOCK, &all, &before);
  int const fd = ::mkstemp(&temporary[0]);
  int const error = errno;
  if (fd >= 0) {
    std::memcpy(g_pending, temporary.c_str(), temporary.size() + 1);
    g_has_pending = true;
  }
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  if (fd < 0) {
    // The new version is made beside the file: say whether the file itself
    // refuses to be written (a read-only file) or its directory refuses a
    // new file (a read-only directory, /proc).
    if (exists && ::access(path.c_str(), W_OK) != 0) {
      throw TOOL_ERROR(path, "cannot open: " + errno_text(errno));
    }
    throw TOOL_ERROR(path, "cannot open: cannot create a file in " +
                               (directory.empty() ? std::string("./") : directory) + " (" +
                               errno_text(error) + ")");
  }
  m_temporary = temporary;
  ::fchmod(fd, exists ? (target.st_mode & 07777) : new_file_mode());
  m_stream = ::fdopen(fd, "wb");
  if (m_stream == nullptr) {
    int const open_error = errno;
    ::close(fd);
    discard();
    throw TOOL_ERROR(path, "cannot open: " + errno_text(open_error));
  }
}

OUTPUT_FILE::~OUTPUT_FILE() {
  if (!m_committed) discard();
}

void OUTPUT_FILE::discard() {
  if (m_stream != nullptr && m_stream != stdout) std::fclose(m_stream);
  m_held = false;
  m_stream = nullptr;
  if (!m_temporary.empty()) {
    g_has_pending = false;
    ::unlink(m_temporary.c_str());
    m_temporary.clear();
  }
}

// Copies the held output to standard output; gives errno, or 0.
int OUTPUT_FILE::copy_held() {
  if (std::fflush(m_stream) != 0 || std::fseek(m_stream, 0, SEEK_SET) != 0) return errno;
  static std::size_t const kBlock = std::size_t{1} << 20;
  std::unique_ptr<char[]> const block(new char[kBlock]);
  for (;;) {
    std::size_t const got = std::fread(block.get(), 1, kBlock, m_stream);
    if (got > 0 && std::fwrite(block.get(), 1, got, stdout) != got) return errno != 0 ? errno : EIO;
    if (got < kBlock) break;
  }
  if (std::ferror(m_stream) != 0) return EIO;
  std::fclose(m_stream);
  m_stream = stdout;
  m_held = false;
  return 0;
}

void OUTPUT_FILE::commit() {
  int error = m_held ? copy_held() : 0;
  if (error == 0 && std::fflush(m_stream) != 0) error = errno;
  if (m_stream != stdout) {
    if (std::ferror(m_stream) != 0 && error == 0) error = EIO;
    if (std::fclose(m_stream) != 0 && error == 0) error = errno;
    m_stream = nullptr;
  }
  if (error == 0 && !m_temporary.empty() && ::rename(m_temporary.c_str(), m_target.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    discard();
    throw TOOL_ERROR(m_name, "cannot write: " + errno_text(error));
  }
  g_has_pending = false;
  m_temporary.clear();
  m_committed = true;
}

std::string const* same_file_as(std::string const& output, std::vector<std::string> const& inputs) {
  if (output == "-") return nullptr;
  struct stat written;
  // Only a regular file can be emptied or replaced: /dev/null may be both.
  if (::stat(output.c_str(), &written) != 0 || !S_ISREG(written.st_mode)) return nullptr;
  for (std::string const& input : inputs) {
    struct stat read;
    int const status = input == "-" ? ::fstat(STDIN_FILENO, &read) : ::stat(input.c_str(), &read);
    if (status == 0 && read.st_dev == written.st_dev && read.st_ino == written.st_ino) {
      return &input;
    }
  }
  return nullptr;
}

}  // namespace zema_tool
