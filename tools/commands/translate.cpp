// translate: rewrites the names in texts (reports, constraints, logs)
// between converted and original names.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "tools/commands/commands.h"
#include "tools/names/conversion.h"
#include "tools/names/name_index.h"
#include "tools/names/original_names.h"
#include "tools/names/text_translator.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// Unknown names are reported one a line up to this many; the rest are counted.
constexpr std::uint64_t kMaxReported = 100;

// The texts to translate, opened before the design is converted, so that a
// missing one fails before anything is written.
class TEXTS {
 public:
  explicit TEXTS(std::vector<std::string> const& paths) {
    if (paths.empty()) m_texts.push_back({"<stdin>", STDIN_FILENO});
    for (std::string const& path : paths) {
      int const descriptor =
          path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
      if (descriptor < 0) {
        throw TOOL_ERROR(path, std::string("cannot open: ") + std::strerror(errno));
      }
      m_texts.push_back({path == "-" ? "<stdin>" : path, descriptor});
      struct stat status;
      if (::fstat(descriptor, &status) == 0 && S_ISDIR(status.st_mode)) {
        throw TOOL_ERROR(path, "is a directory");
      }
    }
  }
  ~TEXTS() {
    for (TEXT const& text : m_texts) {
      if (text.m_descriptor != STDIN_FILENO) ::close(text.m_descriptor);
    }
  }
  TEXTS(TEXTS const&) = delete;
  TEXTS& operator=(TEXTS const&) = delete;

  struct TEXT {
    std::string m_name;
    int m_descriptor;
  };
  std::vector<TEXT> m_texts;
};

// Feeds one text through the translator in pieces of a fixed buffer.
void translate_text(TEXTS::TEXT const& text, TEXT_TRANSLATOR& translator, OUTPUT_BUFFER& out) {
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  std::unique_ptr<char[]> const buffer(new char[kPiece]);
  std::size_t filled = 0;
  for (;;) {
    ssize_t const got = ::read(text.m_descriptor, buffer.get() + filled, kPiece - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      throw TOOL_ERROR(text.m_name, std::string("cannot read: ") + std::strerror(errno));
    }
    filled += static_cast<std::size_t>(got);
    bool const last = got == 0;
    std::string_view const piece(buffer.get(), filled);
    std::size_t used = translator.put(piece, last, out);
    // A token as long as the buffer names nothing whole: it passes as it is.
    if (used == 0 && filled == kPiece) used = translator.put(piece, true, out);
    std::memmove(buffer.get(), buffer.get() + used, filled - used);
    filled -= used;
    if (last) break;
  }
  translator.end_text();
}

}  // namespace

int run_translate(LOADED_DESIGN& design, COMMAND_OPTIONS const& options,
                  std::vector<std::string> const& paths, PHASES& phases, OUTPUT_BUFFER& out,
                  std::FILE* errors) {
  TEXTS const texts(paths);
  CONVERSION const conversion(design, options.m_strategy, phases);
  ORIGINAL_NAMES originals(design);
  phases.start("index");
  NAME_INDEX const index(conversion, originals);
  CONVERSION::expect_no_reports();
  phases.start("translate");
  std::uint64_t unknown = 0;
  std::string const* current = nullptr;
  TEXT_TRANSLATOR::UNKNOWN report;
  if (options.m_unknown != UNKNOWN_NAMES::IGNORE) {
    report = [&](std::string_view token, std::uint64_t line, std::uint64_t column) {
      if (++unknown > kMaxReported) return;
      std::fprintf(errors, "zema: translate: %s:%llu:%llu: %s names nothing in the design\n",
                   current->c_str(), static_cast<unsigned long long>(line),
                   static_cast<unsigned long long>(column), quoted_text(token).c_str());
    };
  }
  TEXT_TRANSLATOR translator(index, options.m_to_original, options.m_separator, report);
  for (TEXTS::TEXT const& text : texts.m_texts) {
    current = &text.m_name;
    translate_text(text, translator, out);
  }
  if (unknown == 0) return EXIT_OK;
  if (unknown > kMaxReported) {
    std::fprintf(errors, "zema: translate: and %llu more names that name nothing\n",
                 static_cast<unsigned long long>(unknown - kMaxReported));
  }
  return options.m_unknown == UNKNOWN_NAMES::ERROR ? EXIT_NOT_FOUND : EXIT_OK;
}

}  // namespace zema_tool
