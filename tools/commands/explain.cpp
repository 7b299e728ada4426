// explain: how a converted name came to be, level by level: the original
// unit name, its legal form and what legalising changed, and where the
// final segment differs, the uniquing suffix and the siblings that held the
// names before it; for a made-up name, the rule that made it and from what.
#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "atm/zema/zema_naming_rules.h"
#include "host/zema_host.h"
#include "tools/commands/commands.h"
#include "tools/names/conversion.h"
#include "tools/names/name_index.h"
#include "tools/names/original_names.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// One change that legalising made to a unit name.
struct CHANGE {
  char const* m_rule;  // "prefix", "lower-case" or "underscore"
  std::string_view m_from;
  std::size_t m_at;  // byte offset in the unit name
};

// What legalising changed in `unit` to give `legal`: an "a" in front when
// the name does not start with a letter, upper-case letters made lower
// case, and every other byte outside the legal alphabet made "_" (shown by
// character: the bytes of one UTF-8 character together).
std::vector<CHANGE> changes_of(std::string_view unit, std::string_view legal) {
  std::vector<CHANGE> changes;
  std::size_t shift = 0;
  if (legal.size() == unit.size() + 1) {
    changes.push_back({"prefix", std::string_view(), 0});
    shift = 1;
  }
  for (std::size_t i = 0; i < unit.size();) {
    std::size_t length = 1;
    if (legal[i + shift] == unit[i]) {
      ++i;
      continue;
    }
    unsigned char const lead = static_cast<unsigned char>(unit[i]);
    if (lead >= 0xC0) length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    length = std::min(length, unit.size() - i);
    bool const upper = unit[i] >= 'A' && unit[i] <= 'Z';
    changes.push_back({upper ? "lower-case" : "underscore", unit.substr(i, length), i});
    i += length;
  }
  return changes;
}

// One level of a converted full name.
struct LEVEL {
  NODE const* m_node = nullptr;
  bool m_hierarchy = false;
  std::string m_unit;  // the original unit name (hierarchy levels)
  std::string m_base;  // the name before uniquing: legal form or made-up text
  std::vector<CHANGE> m_changes;
  char const* m_rule = nullptr;        // made-up levels: "atom-number", "atom-node", "oterm-number"
  std::string m_type;                  // the atom's type prefix
  std::string m_number;                // the made-up number, or the node's name
  long m_suffix = -1;                  // the uniquing suffix, or -1
  std::vector<NODE const*> m_holders;  // the siblings that held base, base_0, ...
};

class EXPLAINER {
 public:
  EXPLAINER(CONVERSION const& conversion, ORIGINAL_NAMES& originals, NAME_INDEX const& index)
      : m_conversion(conversion),
        m_tree(*conversion.tree()),
        m_originals(originals),
        m_index(index) {}

  // The levels of `name` (a converted full name, or an original path that
  // the index resolves); false when it names nothing.
  bool explain(std::string_view given, std::string* converted, std::vector<LEVEL>* levels);

  std::string original_of(NODE const* node) {
    HDB_INSTANCE_NAME const* const name = m_originals.find(node->m_id);
    std::string text;
    if (name != nullptr) m_originals.append(&text, name);
    return text;
  }
  FUSION_TREE const& tree() const { return m_tree; }

 private:
  void explain_hierarchy(LEVEL* level);
  void explain_made_up(LEVEL* level);
  void find_suffix(LEVEL* level, NODE const* parent);

  CONVERSION const& m_conversion;
  FUSION_TREE const& m_tree;
  ORIGINAL_NAMES& m_originals;
  NAME_INDEX const& m_index;
};

bool EXPLAINER::explain(std::string_view given, std::string* converted,
                        std::vector<LEVEL>* levels) {
  converted->assign(given);
  if (!converted->empty() && (*converted)[0] == '\\') converted->erase(0, 1);
  levels->clear();
  NODE const* parent = m_tree.root();
  auto const walk = [&]() {
    levels->clear();
    parent = m_tree.root();
    for (std::size_t start = 0; parent != nullptr;) {
      std::size_t const slash = converted->find('/', start);
      std::size_t const end = slash == std::string::npos ? converted->size() : slash;
      NODE const* const node = m_tree.child(parent, converted->substr(start, end - start));
      if (node == nullptr) return false;
      LEVEL level;
      level.m_node = node;
      levels->push_back(std::move(level));
      if (slash == std::string::npos) return true;
      parent = node;
      start = slash + 1;
    }
    return false;
  };
  if (!walk()) {
    // An original name: through the map, with or without its leading "/".
    std::optional<std::string_view> found = m_index.converted_of(given);
    std::string const rooted = "/" + std::string(given);
    if (!found && (given.empty() || given[0] != '/')) found = m_index.converted_of(rooted);
    if (!found) return false;
    converted->assign(*found);
    if (!walk()) return false;
  }
  parent = m_tree.root();
  for (LEVEL& level : *levels) {
    level.m_hierarchy = m_tree.in_hierarchy(level.m_node);
    if (level.m_hierarchy) {
      explain_hierarchy(&level);
    } else {
      explain_made_up(&level);
    }
    find_suffix(&level, parent);
    parent = level.m_node;
  }
  return true;
}

void EXPLAINER::explain_hierarchy(LEVEL* level) {
  HDB_INSTANCE_NAME const* const name = m_originals.find(level->m_node->m_id);
  if (name == nullptr) return;
  level->m_unit = name->get_unit_name().get_string();
  level->m_base = m_tree.legal_form(level->m_unit.c_str());
  level->m_changes = changes_of(level->m_unit, level->m_base);
}

// A made-up leaf names an atom or an oterm with its id; the last one whose
// converted unit name is the leaf's tells the rule.
void EXPLAINER::explain_made_up(LEVEL* level) {
  NODE const* const node = level->m_node;
  std::string_view const final_name(node->m_name);
  GEN_STRING unit;
  m_conversion.for_each_row([&](ROW const& row) {
    // Atoms or oterms that share an id (0 for one without a name) share the
    // name the last one got; the one whose rule gives the name's stem.
    if (id_of(row.name()) != node->m_id) return;
    if (!row.unit(m_conversion.converter(), &unit) || std::string_view(unit) != final_name) return;
    int const type = row.m_atom->get_basic_type();
    if (type < 0 || type >= kZemaAtomTypeCount) return;
    std::string const stem = row.is_oterm() ? "w" : std::string(m_tree.type_prefix(type));
    if (final_name.substr(0, stem.size()) != stem) return;
    level->m_type = stem;
    level->m_rule = row.is_oterm()                       ? "oterm-number"
                    : zema_is_node_named_atom_type(type) ? "atom-node"
                                                         : "atom-number";
  });
  if (level->m_rule == nullptr) return;  // superseded: no atom or oterm bears it now
  std::string_view rest = final_name.substr(std::min(level->m_type.size(), final_name.size()));
  if (std::strcmp(level->m_rule, "atom-node") == 0) {
    // The prefix, "_" and the converted name of the atom's own node.
    NODE const* const own = m_tree.hierarchy_node(node->m_id);
    level->m_number = own != nullptr ? own->m_name : "";
    level->m_base = level->m_type + "_" + level->m_number;
  } else {
    std::size_t digits = 0;
    while (digits < rest.size() && rest[digits] >= '0' && rest[digits] <= '9') ++digits;
    level->m_number = std::string(rest.substr(0, digits));
    level->m_base = level->m_type + level->m_number;
  }
}

// The uniquing suffix of a level whose final name is its base, "_" and a
// number, and the siblings that hold the base and the smaller suffixes.
void EXPLAINER::find_suffix(LEVEL* level, NODE const* parent) {
  std::string_view const final_name(level->m_node->m_name);
  std::string const& base = level->m_base;
  if (base.empty() || final_name == base || final_name.size() <= base.size() + 1 ||
      final_name.substr(0, base.size()) != base || final_name[base.size()] != '_') {
    return;
  }
  level->m_suffix = std::stol(std::string(final_name.substr(base.size() + 1)));
  for (long k = -1; k < level->m_suffix; ++k) {
    std::string const taken = k < 0 ? base : base + "_" + std::to_string(k);
    if (NODE const* const holder = m_tree.child(parent, taken)) level->m_holders.push_back(holder);
  }
  // Capture names siblings in the byte order of their unit names, and the
  // netlist's made-up names come after it.
  std::vector<std::pair<std::string, NODE const*>> keyed;
  for (NODE const* holder : level->m_holders) {
    HDB_INSTANCE_NAME const* const name = m_originals.find(holder->m_id);
    bool const hierarchy = m_tree.in_hierarchy(holder) && name != nullptr;
    keyed.emplace_back(hierarchy ? std::string(1, '\0') + name->get_unit_name().get_string()
                                 : std::string(1, '\1'),
                       holder);
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](auto const& a, auto const& b) { return a.first < b.first; });
  for (std::size_t i = 0; i < keyed.size(); ++i) level->m_holders[i] = keyed[i].second;
}

// What legalising changed, grouped by rule: " (unchanged)", or for instance
// ' ("a" put in front; made lower case: "C" at 0, "P" at 1)'.
void write_changes(std::vector<CHANGE> const& changes, OUTPUT_BUFFER& out) {
  if (changes.empty()) {
    out.put(" (unchanged)");
    return;
  }
  static char const* const kRules[][2] = {{"prefix", "\"a\" put in front: a name starts with a-z"},
                                          {"lower-case", "made lower case: "},
                                          {"underscore", "not legal, made \"_\": "}};
  char const* separator = " (";
  for (auto const& rule : kRules) {
    bool first = true;
    for (CHANGE const& change : changes) {
      if (std::strcmp(change.m_rule, rule[0]) != 0) continue;
      if (first) {
        out.put(separator);
        out.put(rule[1]);
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

// The text form: one block per name, one paragraph per level.
void write_text(EXPLAINER& explainer, std::string const& converted,
                std::vector<LEVEL> const& levels, OUTPUT_BUFFER& out) {
  NODE const* const last = levels.back().m_node;
  FUSION_TREE const& tree = explainer.tree();
  out.put(converted);
  out.put(": ");
  out.put(tree.names_atom(last)     ? (tree.names_oterm(last) ? "atom and oterm" : "atom")
          : tree.names_oterm(last)  ? "oterm"
          : tree.in_hierarchy(last) ? "instance"
                                    : "superseded");
  out.put(", id ");
  out.put_uint(last->m_id);
  out.put(", original ");
  out.put(explainer.original_of(last));
  out.put('\n');
  for (std::size_t i = 0; i < levels.size(); ++i) {
    LEVEL const& level = levels[i];
    out.put("  level ");
    out.put_uint(i + 1);
    out.put(": ");
    out.put(level.m_node->m_name);
    out.put('\n');
    if (level.m_hierarchy) {
      out.put("    original unit name: ");
      out.put(quoted_text(level.m_unit, level.m_unit.size() + 2));
      out.put("\n    legal form: ");
      out.put(level.m_base);
      write_changes(level.m_changes, out);
      out.put('\n');
    } else if (level.m_rule != nullptr) {
      out.put("    made up: ");
      if (std::strcmp(level.m_rule, "oterm-number") == 0) {
        out.put(
            "an oterm of an atom named by the hierarchy gets \"w\" and its number among "
            "made-up oterm names, ");
      } else if (std::strcmp(level.m_rule, "atom-node") == 0) {
        out.put("an atom of type ");
        out.put(level.m_type);
        out.put(" gets its type, \"_\" and the converted name of its own node, ");
      } else {
        out.put("an atom of type ");
        out.put(level.m_type);
        out.put(" gets its type and its number among made-up atom names, ");
      }
      out.put(level.m_number);
      out.put("\n    base: ");
      out.put(level.m_base);
      out.put('\n');
    } else {
      out.put("    made up, and superseded: no atom or oterm bears it now\n");
    }
    out.put("    final segment: ");
    out.put(level.m_node->m_name);
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
    for (NODE const* holder : level.m_holders) {
      out.put("      ");
      out.put(holder->m_name);
      out.put(": id ");
      out.put_uint(holder->m_id);
      out.put(", original ");
      std::string const original = explainer.original_of(holder);
      out.put(original.empty() ? "-" : original);
      out.put(tree.in_hierarchy(holder) ? " (hierarchy)\n" : " (made-up)\n");
    }
  }
}

void put_json_text(OUTPUT_BUFFER& out, char const* key, std::string_view text) {
  out.put(", \"");
  out.put(key);
  out.put("\": ");
  out.put_json(text);
}

// The JSON form (docs/cli.md, "explain"): one object per name.
void write_json(EXPLAINER& explainer, std::string_view given, std::string const& converted,
                std::vector<LEVEL> const* levels, OUTPUT_BUFFER& out) {
  out.put("{\"name\": ");
  out.put_json(given);
  if (levels == nullptr) {
    out.put(", \"found\": false}");
    return;
  }
  FUSION_TREE const& tree = explainer.tree();
  NODE const* const last = levels->back().m_node;
  out.put(", \"found\": true");
  put_json_text(out, "converted", converted);
  out.put(", \"id\": ");
  out.put_uint(last->m_id);
  put_json_text(out, "original", explainer.original_of(last));
  out.put(", \"levels\": [");
  for (std::size_t i = 0; i < levels->size(); ++i) {
    LEVEL const& level = (*levels)[i];
    out.put(i == 0 ? "{" : ", {");
    out.put("\"segment\": ");
    out.put_json(level.m_node->m_name);
    out.put(", \"origin\": ");
    out.put(level.m_hierarchy ? "\"hierarchy\"" : "\"made-up\"");
    if (level.m_hierarchy) {
      put_json_text(out, "unit", level.m_unit);
      out.put(", \"changes\": [");
      for (std::size_t c = 0; c < level.m_changes.size(); ++c) {
        CHANGE const& change = level.m_changes[c];
        out.put(c == 0 ? "{\"rule\": \"" : ", {\"rule\": \"");
        out.put(change.m_rule);
        out.put("\", \"at\": ");
        out.put_uint(change.m_at);
        put_json_text(out, "from", change.m_from);
        out.put("}");
      }
      out.put("]");
    } else {
      out.put(", \"rule\": ");
      if (level.m_rule != nullptr) {
        out.put_json(level.m_rule);
        put_json_text(out, "stem", level.m_type);
        put_json_text(out, "from", level.m_number);
      } else {
        out.put("\"superseded\"");
      }
    }
    put_json_text(out, "base", level.m_base);
    out.put(", \"suffix\": ");
    if (level.m_suffix < 0) {
      out.put("null");
    } else {
      out.put_uint(static_cast<std::uint64_t>(level.m_suffix));
    }
    out.put(", \"held_by\": [");
    for (std::size_t h = 0; h < level.m_holders.size(); ++h) {
      NODE const* const holder = level.m_holders[h];
      out.put(h == 0 ? "{\"segment\": " : ", {\"segment\": ");
      out.put_json(holder->m_name);
      out.put(", \"id\": ");
      out.put_uint(holder->m_id);
      put_json_text(out, "original", explainer.original_of(holder));
      out.put(tree.in_hierarchy(holder) ? ", \"origin\": \"hierarchy\"}"
                                        : ", \"origin\": \"made-up\"}");
    }
    out.put("]}");
  }
  out.put("]}");
}

}  // namespace

int run_explain(LOADED_DESIGN& design, COMMAND_OPTIONS const& options,
                std::vector<std::string_view> const& names, PHASES& phases, OUTPUT_BUFFER& out,
                std::FILE* errors) {
  CONVERSION const conversion(design, ZEMA_NAME_CONVERTER_FUSION, phases);
  ORIGINAL_NAMES originals(design);
  phases.start("index");
  NAME_INDEX const index(conversion, originals);
  CONVERSION::expect_no_reports();
  phases.start("write");
  EXPLAINER explainer(conversion, originals, index);
  std::string converted;
  std::vector<LEVEL> levels;
  std::size_t missing = 0;
  if (options.m_json) out.put("[\n");
  for (std::size_t i = 0; i < names.size(); ++i) {
    bool const found = explainer.explain(names[i], &converted, &levels);
    missing += !found;
    if (options.m_json) {
      write_json(explainer, names[i], converted, found ? &levels : nullptr, out);
      out.put(i + 1 < names.size() ? ",\n" : "\n");
    } else if (found) {
      write_text(explainer, converted, levels, out);
    } else {
      std::fprintf(errors, "zema: explain: %s names nothing\n", quoted_text(names[i]).c_str());
    }
  }
  if (options.m_json) out.put("]\n");
  CONVERSION::expect_no_reports();
  return missing == 0 ? EXIT_OK : EXIT_NOT_FOUND;
}

}  // namespace zema_tool
