// translate: rewrites the names in texts (reports, constraints, logs)
// between converted and original names (names/text_translator.h).
#include <algorithm>
#include <memory>

#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/commands/text_arguments.h"
#include "tools/names/name_index.h"

namespace zema_tool {
namespace {

enum class DIRECTION { TO_ORIGINAL, TO_CONVERTED };
constexpr WORD<DIRECTION> kDirectionWords[] = {{DIRECTION::TO_ORIGINAL, "original"},
                                               {DIRECTION::TO_CONVERTED, "converted"}};

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
    m_texts.declare(options, "The text's separator between the levels of converted names");
    declare_strategy(options, &m_strategy);
    declare_output(options, "File to write, - for standard output");
  }
  std::optional<std::string> check_arguments() override {
    if (auto problem = m_design.take_design(name(), &m_positionals, true)) return problem;
    return m_texts.check(name());
  }
  std::vector<std::string> inputs() const override {
    std::vector<std::string> inputs{m_design.path()};
    inputs.insert(inputs.end(), m_positionals.begin(), m_positionals.end());
    if (m_positionals.empty()) inputs.emplace_back("-");
    return inputs;
  }

  bool writes_while_reading() const override { return true; }
  // Under --unknown error, a word left as it is fails the run.
  bool failed(int code) const override { return code != EXIT_OK; }

  int run(RUN& run) override {
    m_texts.open(m_positionals, m_design.m_read.m_max_input_size);
    std::unique_ptr<DESIGN_NAMES> const design = m_design.load_names(run, m_strategy);
    bool const to_original = m_direction == DIRECTION::TO_ORIGINAL;
    NAME_INDEX const& index = design->index(run.m_phases, to_original ? TO_ORIGINAL : TO_CONVERTED);
    run.m_phases.start("translate");
    NAME_LOOKUP const lookup =
        NAME_LOOKUP::of_index(index, to_original ? NAME_SIDE::ORIGINAL : NAME_SIDE::CONVERTED);
    return m_texts.translate(run, name(), lookup);
  }

 private:
  DESIGN_ARGUMENTS m_design;
  DIRECTION m_direction = DIRECTION::TO_ORIGINAL;
  TEXT_ARGUMENTS m_texts{UNKNOWN_NAMES::IGNORE, 2};
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
};

REGISTERED_COMMAND<TRANSLATE> const g_registered;

}  // namespace
}  // namespace zema_tool
