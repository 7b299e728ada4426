// diff: which converted names changed between two revisions of a design
// (names/differ.h), each a design, a netlist or a saved map.
#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/names/differ.h"
#include "tools/output/record_writer.h"

namespace zema_tool {
namespace {

class DIFF final : public COMMAND {
 public:
  DIFF()
      : COMMAND("diff",
                "Compare the converted names of two revisions of a design: renamed, added, "
                "removed, and names that now name another object") {}

  void declare(OPTION_SET& options) override {
    options.positionals("OLD NEW", &m_positionals,
                        "The two revisions: each a design file, a netlist or a map that `zema "
                        "map` wrote (plain, .gz or .xz)");
    declare_revision_options(options, &m_read, &m_strategy);
    declare_stats(options);
    options.choice("--format", &m_format, kRowFormatWords, "Output format");
  }
  std::optional<std::string> check_arguments() override {
    if (m_positionals.size() != 2) {
      return "diff: two revisions are required, OLD and NEW; got " + decimal(m_positionals.size());
    }
    return std::nullopt;
  }
  std::vector<std::string> inputs() const override { return m_positionals; }

  int run(RUN& run) override {
    REVISION_DIFFER differ;
    take_revisions(m_positionals[0], m_positionals[1], m_read, m_strategy, run, &differ);
    run.m_phases.start("diff");
    NAME_DIFF const diff = differ.diff();
    run.m_phases.start("write");
    RECORD_WRITER writer(run.m_out, m_format,
                         "status\told_converted\tnew_converted\toriginal\tnew_original\n");
    for (DIFF_ROW const& row : diff.m_rows) {
      writer.begin_row();
      writer.word("status", word_of(kNameChangeWords, row.m_change));
      write_name(writer, "old_converted", row.m_old, row.m_change != NAME_CHANGE::ADDED);
      write_name(writer, "new_converted", row.m_new, row.m_change != NAME_CHANGE::REMOVED);
      // An object without an original (an atom left unnamed) has none.
      std::string_view const original = row.m_original;
      writer.text("original", original.empty() ? nullptr : &original);
      std::string_view const now = row.m_new_original;
      writer.text("new_original",
                  row.m_change == NAME_CHANGE::REUSED && !now.empty() ? &now : nullptr);
      writer.end_row();
    }
    writer.finish();
    CONVERSION::expect_no_reports();
    run.m_diagnostics.report("diff", decimal(diff.count(NAME_CHANGE::RENAMED)) + " renamed, " +
                                         decimal(diff.count(NAME_CHANGE::ADDED)) + " added, " +
                                         decimal(diff.count(NAME_CHANGE::REMOVED)) + " removed, " +
                                         decimal(diff.count(NAME_CHANGE::REUSED)) + " reused");
    if (diff.m_guessed != 0) run.m_diagnostics.report("diff", guessed_matches_text(diff));
    return diff.old_names_hold() ? EXIT_OK : EXIT_NOT_FOUND;
  }

 private:
  // A converted name, or none: a name outside the hierarchy has an empty
  // converted name under reversible, which the map writes as it is.
  static void write_name(RECORD_WRITER& writer, char const* key, std::string_view name,
                         bool present) {
    writer.converted(key, present ? &name : nullptr);
  }

  READ_OPTIONS m_read;
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
  ROW_FORMAT m_format = ROW_FORMAT::TSV;
};

REGISTERED_COMMAND<DIFF> const g_registered;

}  // namespace
}  // namespace zema_tool
