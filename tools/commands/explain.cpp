// explain: how converted names came to be (names/explainer.h), as a block of
// text per name or as one JSON object per name.
#include "tools/commands/command.h"
#include "tools/commands/design_arguments.h"
#include "tools/commands/name_arguments.h"
#include "tools/names/differ.h"
#include "tools/names/explainer.h"
#include "tools/output/record_writer.h"

namespace zema_tool {
namespace {

// The kinds as the text says them.
constexpr WORD<MAP_KIND> kKindText[] = {{MAP_KIND::INSTANCE, "instance"},
                                        {MAP_KIND::ATOM, "atom"},
                                        {MAP_KIND::OTERM, "oterm"},
                                        {MAP_KIND::ATOM_AND_OTERM, "atom and oterm"},
                                        {MAP_KIND::SUPERSEDED, "superseded"}};

// What legalising changed, grouped by rule: " (unchanged)", or for instance
// ' ("a" put in front; made lower case: "C" at 0, "P" at 1)'.
void write_changes(std::vector<LEGAL_CHANGE> const& changes, OUTPUT_BUFFER& out) {
  if (changes.empty()) {
    out.put(" (unchanged)");
    return;
  }
  static WORD<LEGAL_RULE> const kRules[] = {
      {LEGAL_RULE::PREFIX, "\"a\" put in front: a name must start with a-z"},
      {LEGAL_RULE::LOWER_CASE, "made lower case: "},
      {LEGAL_RULE::UNDERSCORE, "not legal, made \"_\": "}};
  char const* separator = " (";
  for (auto const& rule : kRules) {
    bool first = true;
    for (LEGAL_CHANGE const& change : changes) {
      if (change.m_rule != rule.m_value) continue;
      if (first) {
        out.put(separator);
        out.put(rule.m_text);
        separator = "; ";
      }
      if (!change.m_from.empty()) {
        if (!first) out.put(", ");
        out.put(quoted_text(change.m_from));
        out.put(" at ");
        out.put_uint(change.m_at);
      }
      first = false;
    }
  }
  out.put(")");
}

void write_made_up(EXPLAINED_LEVEL const& level, OUTPUT_BUFFER& out) {
  if (level.m_rule == MADE_UP_RULE::SUPERSEDED) {
    out.put("    made up, and superseded: no atom or oterm bears it now\n");
    return;
  }
  out.put("    made up: ");
  if (level.m_rule == MADE_UP_RULE::OTERM_NUMBER) {
    out.put(
        "an oterm of an atom named by the hierarchy gets \"w\" and its number among made-up oterm "
        "names, ");
  } else {
    out.put("an atom of type ");
    out.put(level.m_stem);
    out.put(level.m_rule == MADE_UP_RULE::ATOM_NODE
                ? " gets its type, \"_\" and the converted name of its own node, "
                : " gets its type and its number among made-up atom names, ");
  }
  out.put(level.m_from);
  out.put("\n    base: ");
  out.put(level.m_base);
  out.put('\n');
}

// The text form: one block per name, one paragraph per level.
void write_text(EXPLANATION const& explanation, OUTPUT_BUFFER& out) {
  out.put(explanation.m_converted);
  out.put(": ");
  out.put(word_of(kKindText, explanation.m_kind));
  out.put(", id ");
  out.put_uint(explanation.m_id);
  out.put(", original ");
  out.put(explanation.m_original.empty() ? "-" : explanation.m_original);
  out.put('\n');
  for (std::size_t i = 0; i < explanation.m_levels.size(); ++i) {
    EXPLAINED_LEVEL const& level = explanation.m_levels[i];
    out.put("  level ");
    out.put_uint(i + 1);
    out.put(": ");
    out.put(level.m_segment);
    out.put('\n');
    if (level.m_hierarchy) {
      out.put("    original unit name: ");
      out.put(quoted_text(level.m_unit, level.m_unit.size() + 2));
      out.put("\n    legal form: ");
      out.put(level.m_base);
      write_changes(level.m_changes, out);
      out.put('\n');
    } else {
      write_made_up(level, out);
    }
    out.put("    final segment: ");
    out.put(level.m_segment);
    if (level.m_suffix >= 0) {
      out.put(" (suffix _");
      out.put_uint(static_cast<std::uint64_t>(level.m_suffix));
      out.put(": siblings named before it held ");
      out.put(level.m_base);
      if (level.m_suffix > 0) {
        out.put(level.m_suffix == 1 ? " and " : " to ");
        out.put(level.m_base);
        out.put("_");
        out.put_uint(static_cast<std::uint64_t>(level.m_suffix - 1));
      }
      out.put(")");
    }
    out.put('\n');
    for (HOLDER const& holder : level.m_holders) {
      out.put("      ");
      out.put(holder.m_segment);
      out.put(": id ");
      out.put_uint(holder.m_id);
      out.put(", original ");
      out.put(holder.m_original.empty() ? "-" : holder.m_original);
      out.put(holder.m_hierarchy ? " (hierarchy)\n" : " (made-up)\n");
    }
  }
}

void write_json_level(EXPLAINED_LEVEL const& level, JSON_WRITER& json) {
  json.begin_object();
  json.key("segment");
  json.string(level.m_segment);
  json.key("origin");
  json.word(level.m_hierarchy ? "hierarchy" : "made-up");
  if (level.m_hierarchy) {
    json.key("unit");
    json.string(level.m_unit);
    json.key("changes");
    json.begin_array();
    for (LEGAL_CHANGE const& change : level.m_changes) {
      json.begin_object();
      json.key("rule");
      json.word(word_of(kLegalRuleWords, change.m_rule));
      json.key("at");
      json.number(change.m_at);
      json.key("from");
      json.string(change.m_from);
      json.end_object();
    }
    json.end_array();
  } else {
    json.key("rule");
    json.word(word_of(kMadeUpRuleWords, level.m_rule));
    if (level.m_rule != MADE_UP_RULE::SUPERSEDED) {
      json.key("stem");
      json.string(level.m_stem);
      json.key("from");
      json.string(level.m_from);
    }
  }
  json.key("base");
  json.string(level.m_base);
  json.key("suffix");
  if (level.m_suffix < 0) {
    json.null();
  } else {
    json.number(static_cast<std::uint64_t>(level.m_suffix));
  }
  json.key("held_by");
  json.begin_array();
  for (HOLDER const& holder : level.m_holders) {
    json.begin_object();
    json.key("segment");
    json.string(holder.m_segment);
    json.key("id");
    json.number(holder.m_id);
    json.key("original");
    if (holder.m_original.empty()) {
      json.null();
    } else {
      json.string(holder.m_original);
    }
    json.key("origin");
    json.word(holder.m_hierarchy ? "hierarchy" : "made-up");
    json.end_object();
  }
  json.end_array();
  json.end_object();
}

// The JSON form (docs/cli.md, "explain"): one object per name.
void write_json(std::string_view given, EXPLANATION const* explanation, JSON_WRITER& json) {
  json.begin_object();
  json.key("name");
  json.string(given);
  json.key("found");
  json.boolean(explanation != nullptr);
  if (explanation != nullptr) {
    json.key("converted");
    json.string(explanation->m_converted);
    json.key("id");
    json.number(explanation->m_id);
    json.key("original");
    if (explanation->m_original.empty()) {
      json.null();
    } else {
      json.string(explanation->m_original);
    }
    json.key("levels");
    json.begin_array();
    for (EXPLAINED_LEVEL const& level : explanation->m_levels) write_json_level(level, json);
    json.end_array();
  }
  json.end_object();
}

// A change as text: the name's fate, then each level's.
void write_change_text(std::string_view name, CHANGE_EXPLANATION const& change,
                       OUTPUT_BUFFER& out) {
  out.put(name);
  out.put(": ");
  if (change.m_unchanged) {
    out.put("unchanged (");
    out.put(change.m_new);
    out.put(")");
  } else if (change.m_change == NAME_CHANGE::ADDED) {
    out.put("added (");
    out.put(change.m_new);
    out.put(")");
  } else if (change.m_change == NAME_CHANGE::REMOVED) {
    out.put("removed (was ");
    out.put(change.m_old);
    out.put(")");
  } else {
    out.put("renamed ");
    out.put(change.m_old);
    out.put(" -> ");
    out.put(change.m_new);
  }
  out.put(", original ");
  out.put(change.m_original.empty() ? "-" : change.m_original);
  if (!change.m_now_names.empty()) {
    out.put("; the old name now names ");
    out.put(change.m_now_names);
  }
  out.put('\n');
  for (std::size_t i = 0; i < change.m_levels.size(); ++i) {
    LEVEL_CHANGE const& level = change.m_levels[i];
    out.put("  level ");
    out.put_uint(i + 1);
    out.put(": ");
    if (level.m_old == level.m_new) {
      out.put(level.m_old);
      out.put(" (unchanged)\n");
      continue;
    }
    out.put(level.m_old.empty() ? "-" : level.m_old);
    out.put(" -> ");
    out.put(level.m_new.empty() ? "-" : level.m_new);
    out.put(": ");
    out.put(level.m_why);
    out.put('\n');
  }
}

void write_change_json(std::string_view name, CHANGE_EXPLANATION const* change, JSON_WRITER& json) {
  json.begin_object();
  json.key("name");
  json.string(name);
  json.key("found");
  json.boolean(change != nullptr);
  if (change != nullptr) {
    json.key("change");
    json.word(change->m_unchanged ? "unchanged" : word_of(kNameChangeWords, change->m_change));
    for (auto const& field :
         {std::make_pair("old", &change->m_old), std::make_pair("new", &change->m_new),
          std::make_pair("original", &change->m_original),
          std::make_pair("now_names", &change->m_now_names)}) {
      json.key(field.first);
      if (field.second->empty()) {
        json.null();
      } else {
        json.string(*field.second);
      }
    }
    json.key("levels");
    json.begin_array();
    for (LEVEL_CHANGE const& level : change->m_levels) {
      json.begin_object();
      json.key("old");
      json.string(level.m_old);
      json.key("new");
      json.string(level.m_new);
      json.key("why");
      json.string(level.m_why);
      json.end_object();
    }
    json.end_array();
  }
  json.end_object();
}

class EXPLAIN final : public COMMAND {
 public:
  EXPLAIN()
      : COMMAND("explain", "Explain level by level how converted names came to be (fusion)") {}

  void declare(OPTION_SET& options) override {
    m_design.declare(options, &m_positionals, "DESIGN NAME",
                     "The design, then converted full names or original paths (put -- before any "
                     "that start with -); with --example, every argument is a name");
    declare_stats(options);
    m_design.declare_map(options);
    options.text("--against", &m_against,
                 "Explain why each name changed from this older revision (a design, a netlist or "
                 "a map) to the design given");
    m_names.declare(options);
    options.choice("--format", &m_format, kRowFormatWords, "Output format");
  }
  std::optional<std::string> check_arguments() override {
    if (auto problem = m_design.take_design(name(), &m_positionals, true)) return problem;
    if (m_positionals.empty() && !m_names.has_file()) {
      return std::string(
          "explain: no names: give converted full names or original paths, or --names FILE");
    }
    return std::nullopt;
  }
  std::vector<std::string> inputs() const override {
    std::vector<std::string> inputs{m_design.path()};
    m_names.add_input(&inputs);
    if (!m_against.empty()) inputs.push_back(m_against);
    return inputs;
  }

  int run(RUN& run) override {
    std::vector<std::string_view> const& names =
        m_names.read(m_positionals, m_design.m_read.m_max_input_size);
    std::unique_ptr<DESIGN_NAMES> const old_design =
        m_against.empty()
            ? nullptr
            : load_revision(m_against, m_design.m_read, ZEMA_NAME_CONVERTER_FUSION, run);
    std::unique_ptr<DESIGN_NAMES> const design =
        m_design.load_names(run, ZEMA_NAME_CONVERTER_FUSION);
    if (old_design) return explain_changes(*old_design, *design, names, run);
    EXPLAINER explainer(design->source(run.m_phases));
    run.m_phases.start("write");
    std::size_t missing = 0;
    JSON_WRITER json(run.m_out, JSON_STYLE::SPACED);
    if (m_format == ROW_FORMAT::JSON) json.begin_array("");
    for (std::string_view const name : names) {
      bool shared = false;
      std::optional<EXPLANATION> const explanation = explainer.explain(name, &shared);
      missing += !explanation;
      if (m_format == ROW_FORMAT::JSON) {
        write_json(name, explanation ? &*explanation : nullptr, json);
      } else if (explanation) {
        write_text(*explanation, run.m_out);
      } else {
        run.m_diagnostics.report(
            "explain",
            quoted_text(name) + (shared ? " names more than one object" : " names nothing"));
      }
    }
    if (m_format == ROW_FORMAT::JSON) {
      json.end_array();
      json.end_document();
    }
    CONVERSION::expect_no_reports();
    return missing == 0 ? EXIT_OK : EXIT_NOT_FOUND;
  }

 private:
  // --against: why each name changed from the old revision to this one.
  int explain_changes(DESIGN_NAMES& old_design, DESIGN_NAMES& design,
                      std::vector<std::string_view> const& names, RUN& run) const {
    CHANGE_EXPLAINER explainer(old_design, design, run.m_phases);
    run.m_phases.start("write");
    std::size_t missing = 0;
    JSON_WRITER json(run.m_out, JSON_STYLE::SPACED);
    if (m_format == ROW_FORMAT::JSON) json.begin_array("");
    for (std::string_view const name : names) {
      std::optional<CHANGE_EXPLANATION> const change = explainer.explain(name);
      missing += !change;
      if (m_format == ROW_FORMAT::JSON) {
        write_change_json(name, change ? &*change : nullptr, json);
      } else if (change) {
        write_change_text(name, *change, run.m_out);
      } else {
        run.m_diagnostics.report("explain",
                                 quoted_text(name) + " names nothing in either revision");
      }
    }
    if (m_format == ROW_FORMAT::JSON) {
      json.end_array();
      json.end_document();
    }
    CONVERSION::expect_no_reports();
    return missing == 0 ? EXIT_OK : EXIT_NOT_FOUND;
  }

  DESIGN_ARGUMENTS m_design;
  std::string m_against;
  NAME_ARGUMENTS m_names;
  ROW_FORMAT m_format = ROW_FORMAT::TSV;
};

REGISTERED_COMMAND<EXPLAIN> const g_registered;

}  // namespace
}  // namespace zema_tool
