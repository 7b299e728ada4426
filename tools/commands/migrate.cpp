// migrate: rewrites the converted names in texts (constraints, scripts,
// reports) of one revision of a design into the next revision's names of
// the same objects (names/differ.h).
#include <memory>

#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/commands/text_arguments.h"
#include "tools/names/differ.h"

namespace zema_tool {
namespace {

class MIGRATE final : public COMMAND {
 public:
  MIGRATE()
      : COMMAND("migrate",
                "Rewrite the converted names in a text (constraints, a script) from one revision "
                "of a design to the next") {}

  void declare(OPTION_SET& options) override {
    options.positionals("OLD NEW FILE", &m_positionals,
                        "The two revisions (each a design file, a netlist or a map that `zema "
                        "map` wrote), then the texts to rewrite (standard input when none)");
    declare_revision_options(options, &m_read, &m_strategy);
    declare_stats(options);
    m_texts.declare(options, "The text's separator between the levels of converted names");
    declare_output(options, "File to write, - for standard output");
  }
  std::optional<std::string> check_arguments() override {
    if (m_positionals.size() < 2) {
      return "migrate: two revisions are required, OLD and NEW; got " +
             decimal(m_positionals.size());
    }
    return m_texts.check(name());
  }
  std::vector<std::string> inputs() const override {
    std::vector<std::string> inputs = m_positionals;
    if (m_positionals.size() == 2) inputs.emplace_back("-");
    return inputs;
  }

  bool writes_while_reading() const override { return true; }
  // Under --unknown error, a word left as it is fails the run.
  bool failed(int code) const override { return code != EXIT_OK; }

  int run(RUN& run) override {
    std::vector<std::string> const texts(m_positionals.begin() + 2, m_positionals.end());
    m_texts.open(texts, m_read.m_max_input_size);
    REVISION_DIFFER differ;
    take_revisions(m_positionals[0], m_positionals[1], m_read, m_strategy, run, &differ);
    run.m_phases.start("diff");
    MIGRATION const migration(differ);
    CONVERSION::expect_no_reports();
    run.m_phases.start("migrate");
    NAME_LOOKUP const lookup(migration.table(), NAME_SIDE::CONVERTED, NAME_SIDE::CONVERTED,
                             migration.longest(), migration.deepest());
    return m_texts.translate(run, name(), lookup);
  }

 private:
  READ_OPTIONS m_read;
  // Every word is looked up: the made-up names of one level (dff4, w6) are
  // the ones most likely to name another object in the next revision.
  TEXT_ARGUMENTS m_texts{UNKNOWN_NAMES::WARN, 1};
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
};

REGISTERED_COMMAND<MIGRATE> const g_registered;

}  // namespace
}  // namespace zema_tool
