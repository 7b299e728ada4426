// check: the rules every converted name must keep (names/checker.h), as a
// summary line with the first violations on standard error, or as one JSON
// object with every violation.
#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/names/checker.h"
#include "tools/output/record_writer.h"

namespace zema_tool {
namespace {

class CHECK final : public COMMAND {
 public:
  CHECK()
      : COMMAND("check",
                "Check that every converted name is legal, unique and found again by lookup") {}

  void declare(OPTION_SET& options) override {
    m_design.declare(options, &m_positionals, "DESIGN",
                     "Design file or netlist, - for standard input");
    declare_stats(options);
    declare_strategy(options, &m_strategy);
    options.choice("--format", &m_format, kRowFormatWords, "Output format");
    options.count("--max-violations", &m_max_violations,
                  "Violations shown on standard error in text output");
  }
  std::optional<std::string> check_arguments() override {
    return m_design.take_design(name(), &m_positionals, false);
  }
  std::vector<std::string> inputs() const override { return {m_design.path()}; }

  int run(RUN& run) override {
    CHECK_RESULT result;
    {
      KEPT_PTR<LOADED_DESIGN> design = m_design.load(run);
      CONVERSION const conversion(*design, m_strategy, run.m_phases);
      run.m_phases.start("check");
      result = check_names(conversion);
    }
    run.m_phases.start("write");
    if (m_format == ROW_FORMAT::JSON) {
      write_json(result, run.m_out);
    } else {
      write_text(result, run);
    }
    return result.ok() ? EXIT_OK : EXIT_CHECK_FAILED;
  }

 private:
  void write_text(CHECK_RESULT const& result, RUN& run) const {
    std::size_t const shown = static_cast<std::size_t>(
        std::min<std::uint64_t>(m_max_violations, result.m_violations.size()));
    for (std::size_t i = 0; i < shown; ++i) {
      run.m_diagnostics.report("check", CHECK_RESULT::describe(result.m_violations[i]));
    }
    if (result.m_violations.size() > shown) {
      run.m_diagnostics.report("check",
                               "... and " + decimal(result.m_violations.size() - shown) + " more");
    }
    OUTPUT_BUFFER& out = run.m_out;
    out.put("checked ");
    out.put_uint(result.m_checked);
    out.put(" names: ");
    out.put_uint(result.m_illegal);
    out.put(" illegal, ");
    out.put_uint(result.m_duplicate);
    out.put(" duplicate, ");
    out.put_uint(result.m_mismatches);
    out.put(" lookup mismatches\n");
  }

  void write_json(CHECK_RESULT const& result, OUTPUT_BUFFER& out) const {
    JSON_WRITER json(out, JSON_STYLE::SPACED);
    json.begin_object();
    json.key("strategy");
    json.word(word_of(kStrategyWords, m_strategy));
    json.key("checked");
    json.number(result.m_checked);
    json.key("illegal");
    json.number(result.m_illegal);
    json.key("duplicate");
    json.number(result.m_duplicate);
    json.key("mismatches");
    json.number(result.m_mismatches);
    json.key("violations");
    RECORD_WRITER writer(json, out);
    for (VIOLATION const& v : result.m_violations) {
      writer.begin_row();
      writer.word("kind", word_of(kViolationWords, v.m_kind));
      writer.text(v.m_kind == VIOLATION_KIND::UNNAMED ? "row" : "name", v.m_name);
      if (v.m_kind == VIOLATION_KIND::ILLEGAL) writer.number("id", v.m_id);
      if (v.m_kind == VIOLATION_KIND::DUPLICATE) {
        JSON_WRITER* const ids = writer.json_only("ids");
        ids->begin_array();
        ids->number(v.m_id);
        ids->number(v.m_other);
        ids->end_array();
        writer.json_only("among_siblings")->boolean(v.m_among_siblings);
      }
      if (v.m_kind == VIOLATION_KIND::MISMATCH) {
        writer.number("expected", v.m_id);
        writer.number("found", v.m_other);
      }
      writer.end_row();
    }
    writer.finish();
    json.end_object();
    json.end_document();
  }

  DESIGN_ARGUMENTS m_design;
  ZEMA_NAME_CONVERTER_ENUM m_strategy = ZEMA_NAME_CONVERTER_FUSION;
  ROW_FORMAT m_format = ROW_FORMAT::TSV;
  std::uint64_t m_max_violations = 10;
};

REGISTERED_COMMAND<CHECK> const g_registered;

}  // namespace
}  // namespace zema_tool
