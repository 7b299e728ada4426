#include "tools/commands/text_arguments.h"

#include <cstring>

#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// Unknown names are reported one a line up to this many; the rest are counted.
constexpr std::uint64_t kMaxReported = 100;

// Feeds one text through the translator in pieces of a fixed buffer.
void translate_text(INPUT_STREAM& text, TEXT_TRANSLATOR& translator, OUTPUT_BUFFER& out) {
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  std::unique_ptr<char[]> const buffer(new char[kPiece]);
  std::size_t filled = 0;
  for (;;) {
    std::size_t const got = text.read(buffer.get() + filled, kPiece - filled);
    filled += got;
    bool const last = got == 0;
    std::string_view const piece(buffer.get(), filled);
    std::size_t used = translator.put(piece, last, out);
    // A word as long as the buffer is longer than any name: it passes as it
    // is, to its end.
    if (used == 0 && filled == kPiece) used = translator.pass(piece, out);
    std::memmove(buffer.get(), buffer.get() + used, filled - used);
    filled -= used;
    if (last) break;
  }
  translator.end_text();
}

}  // namespace

void TEXT_ARGUMENTS::declare(OPTION_SET& options, char const* separator_help) {
  options.choice("--separator", &m_separator, kSeparatorWords, separator_help);
  options.choice("--unknown", &m_unknown, kUnknownNamesWords,
                 "Words left as they are because they name nothing (for migrate also names "
                 "whose object is gone, moved or a guess): leave them unsaid (ignore), report "
                 "them on standard error (warn), or report them and exit 1, writing nothing "
                 "(error)");
  options.choice("--syntax", &m_syntax, kSyntaxWords,
                 "The texts' syntax: auto (by file name: .sdc, .tcl, .xdc are tcl; .spef, "
                 ".spf spef; others and standard input text), text, tcl or spef");
  options.count("--levels", &m_levels,
                "The fewest levels a word needs to be looked up where the syntax does not "
                "say a name is there (at least 1)");
}

std::optional<std::string> TEXT_ARGUMENTS::check(char const* command) const {
  if (m_levels == 0) return std::string(command) + ": --levels must be at least 1";
  return std::nullopt;
}

void TEXT_ARGUMENTS::open(std::vector<std::string> const& paths, std::uint64_t max_size) {
  if (paths.empty()) m_texts.push_back(std::make_unique<INPUT_STREAM>("-", max_size));
  for (std::string const& path : paths) {
    m_texts.push_back(std::make_unique<INPUT_STREAM>(path, max_size));
  }
}

int TEXT_ARGUMENTS::translate(RUN& run, char const* command, NAME_LOOKUP const& lookup) {
  std::uint64_t unknown = 0;
  std::string const* current = nullptr;
  TEXT_TRANSLATOR::UNKNOWN report;
  if (m_unknown != UNKNOWN_NAMES::IGNORE) {
    report = [&](UNKNOWN_WORD const& word) {
      if (++unknown > kMaxReported) return;
      run.m_diagnostics.report(command, *current + ":" + decimal(word.m_line) + ":" +
                                            decimal(word.m_column) + ": " +
                                            quoted_text(word.m_word) + " " +
                                            word_of(kUnknownProblemWords, word.m_problem));
    };
  }
  TRANSLATION_OPTIONS options;
  options.m_separator = m_separator;
  options.m_levels = static_cast<std::size_t>(m_levels);
  TEXT_TRANSLATOR translator(lookup, options, report);
  for (std::unique_ptr<INPUT_STREAM> const& text : m_texts) {
    current = &text->name();
    translator.set_syntax(syntax_of(text->name(), m_syntax));
    translate_text(*text, translator, run.m_out);
  }
  if (unknown == 0) return EXIT_OK;
  if (unknown > kMaxReported) {
    run.m_diagnostics.report(command,
                             "and " + decimal(unknown - kMaxReported) + " more, not shown");
  }
  return m_unknown == UNKNOWN_NAMES::ERROR ? EXIT_NOT_FOUND : EXIT_OK;
}

}  // namespace zema_tool
