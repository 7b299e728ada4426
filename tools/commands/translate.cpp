// translate: rewrites the names in texts (reports, constraints, logs)
// between converted and original names (names/text_translator.h).
#include <cstring>
#include <memory>

#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/input/input_file.h"
#include "tools/names/name_index.h"
#include "tools/names/text_translator.h"

namespace zema_tool {
namespace {

// Unknown names are reported one a line up to this many; the rest are counted.
constexpr std::uint64_t kMaxReported = 100;

enum class DIRECTION { TO_ORIGINAL, TO_CONVERTED };
constexpr WORD<DIRECTION> kDirectionWords[] = {{DIRECTION::TO_ORIGINAL, "original"},
                                               {DIRECTION::TO_CONVERTED, "converted"}};
constexpr WORD<char> kSeparatorWords[] = {{'/', "/"}, {'.', "."}, {'|', "|"}};

// The texts to translate (standard input when none is given), opened before
// the design is converted, so that a missing one fails before anything is
// written. Each is read through the input layer: plain, xz or gzip, within
// the size limit.
std::vector<std::unique_ptr<INPUT_STREAM>> open_texts(std::vector<std::string> const& paths,
                                                      std::uint64_t max_size) {
  std::vector<std::unique_ptr<INPUT_STREAM>> texts;
  if (paths.empty()) texts.push_back(std::make_unique<INPUT_STREAM>("-", max_size));
  for (std::string const& path : paths) {
    texts.push_back(std::make_unique<INPUT_STREAM>(path, max_size));
  }
  return texts;
}

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

class TRANSLATE final : public COMMAND {
 public:
  TRANSLATE()
      : COMMAND("translate",
                "Rewrite the names in a text (a report, constraints) between converted and "
                "original names") {}

  void declare(OPTION_SET& options) override {
    m_design.declare(options, &m_positionals, "DESIGN FILE",
                     "The design, then the texts to translate (standard input when none); with "
                     "--example, every argument is a text");
    declare_stats(options);
    m_design.declare_map(options);
    options.choice("--to", &m_direction, kDirectionWords, "The names to write");
    options.choice("--separator", &m_separator, kSeparatorWords,
                   "The text's separator between the levels of converted names");
    options.choice("--unknown", &m_unknown, kUnknownNamesWords,
                   "Words left as they are because they name nothing: leave them (ignore), "
                   "report them on standard error (warn), or report them and exit 1 (error)");
    options.choice("--syntax", &m_syntax, kSyntaxWords,
                   "The texts' syntax: auto (by file name: .sdc, .tcl, .xdc are tcl; .spef, "
                   ".spf spef; others and standard input text), text, tcl or spef");
    options.count("--levels", &m_levels,
                  "The fewest levels a word needs to be looked up where the syntax does not "
                  "say a name is there (at least 1)");
    declare_strategy(options, &m_strategy);
    declare_output(options, "File to write, - for standard output");
  }
  std::optional<std::string> check_arguments() override {
    if (auto problem = m_design.take_design(name(), &m_positionals, true)) return problem;
    if (m_levels == 0) return std::string("translate: --levels must be at least 1");
    if (m_design.from_stdin() &&
        (m_positionals.empty() ||
         std::find(m_positionals.begin(), m_positionals.end(), "-") != m_positionals.end())) {
      return std::string("translate: the design and the text cannot both come from standard input");
    }
    return std::nullopt;
  }
  std::vector<std::string> inputs() const override {
    std::vector<std::string> inputs{m_design.path()};
    inputs.insert(inputs.end(), m_positionals.begin(), m_positionals.end());
    if (m_positionals.empty()) inputs.emplace_back("-");
    return inputs;
  }

  int run(RUN& run) override {
    std::vector<std::unique_ptr<INPUT_STREAM>> const texts =
        open_texts(m_positionals, m_design.m_read.m_max_input_size);
    std::unique_ptr<DESIGN_NAMES> const design = m_design.load_names(run, m_strategy);
    NAME_INDEX const& index = design->index(
        run.m_phases, m_direction == DIRECTION::TO_ORIGINAL ? TO_ORIGINAL : TO_CONVERTED);
    run.m_phases.start("translate");
    std::uint64_t unknown = 0;
    std::string const* current = nullptr;
    TEXT_TRANSLATOR::UNKNOWN report;
    if (m_unknown != UNKNOWN_NAMES::IGNORE) {
      report = [&](UNKNOWN_WORD const& word) {
        if (++unknown > kMaxReported) return;
        run.m_diagnostics.report("translate", *current + ":" + decimal(word.m_line) + ":" +
                                                  decimal(word.m_column) + ": " +
                                                  quoted_text(word.m_word) + " " +
                                                  word_of(kUnknownProblemWords, word.m_problem));
      };
    }
    NAME_LOOKUP const lookup = NAME_LOOKUP::of_index(
        index, m_direction == DIRECTION::TO_ORIGINAL ? NAME_SIDE::ORIGINAL : NAME_SIDE::CONVERTED);
    TRANSLATION_OPTIONS options;
    options.m_separator = m_separator;
    options.m_levels = static_cast<std::size_t>(m_levels);
    TEXT_TRANSLATOR translator(lookup, options, report);
    for (std::unique_ptr<INPUT_STREAM> const& text : texts) {
      current = &text->name();
      translator.set_syntax(syntax_of(text->name(), m_syntax));
      translate_text(*text, translator, run.m_out);
    }
    if (unknown == 0) return EXIT_OK;
    if (unknown > kMaxReported) {
      run.m_diagnostics.report(
          "translate", "and " + decimal(unknown - kMaxReported) + " more names that name nothing");
    }
    return m_unknown == UNKNOWN_NAMES::ERROR ? EXIT_NOT_FOUND : EXIT_OK;
  }

 private:
  DESIGN_ARGUMENTS m_design;
  DIRECTION m_direction = DIRECTION::TO_ORIGINAL;
  char m_separator = '/';
  UNKNOWN_NAMES m_unknown = UNKNOWN_NAMES::IGNORE;
  SYNTAX m_syntax = SYNTAX::AUTO;
  std::uint64_t m_levels = 2;
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
};

REGISTERED_COMMAND<TRANSLATE> const g_registered;

}  // namespace
}  // namespace zema_tool
