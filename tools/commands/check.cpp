// check: the rules every converted name must keep. Legal bytes, unique
// among siblings (fusion) or in the whole design (reversible), and found
// again by lookup.
#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "atm/zema/zema_naming_rules.h"
#include "tools/commands/commands.h"
#include "tools/names/conversion.h"
#include "tools/output/record_writer.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

// A reversible segment: any number of legal bytes; with `slashes`, "/"
// separates segments.
bool is_reversible_name(std::string_view name, bool slashes) {
  return std::all_of(name.begin(), name.end(), [slashes](char c) {
    return zema_is_legal_name_char(c) || (slashes && c == '/');
  });
}

// Every violation that check finds, in the order found: the text lines show
// the first few, the JSON output all of them.
class CHECK_TALLY {
 public:
  enum KIND { ILLEGAL, DUPLICATE, MISMATCH, UNNAMED };

  struct VIOLATION {
    KIND m_kind;
    std::string m_name;  // the converted name, or the row for UNNAMED
    unsigned m_id;       // the name's id; DUPLICATE: the first owner
    unsigned m_other;    // DUPLICATE: the second owner; MISMATCH: the id found
    bool m_among_siblings;
  };

  void illegal(std::string const& name, unsigned id) { add({ILLEGAL, name, id, 0, false}); }
  void duplicate(std::string const& name, unsigned first, unsigned second, bool among_siblings) {
    add({DUPLICATE, name, first, second, among_siblings});
  }
  void mismatch(std::string const& name, unsigned found, unsigned expected) {
    add({MISMATCH, name, expected, found, false});
  }
  void unnamed(std::string const& row) { add({UNNAMED, row, 0, 0, false}); }

  int report(COMMAND_OPTIONS const& options, OUTPUT_BUFFER& out, std::FILE* errors) const {
    if (options.m_json) {
      report_json(options, out);
    } else {
      report_text(options, out, errors);
    }
    return m_violations.empty() ? EXIT_OK : EXIT_CHECK_FAILED;
  }

  std::size_t m_checked = 0;

 private:
  void add(VIOLATION violation) {
    ++m_counts[violation.m_kind == UNNAMED ? MISMATCH : violation.m_kind];
    m_violations.push_back(std::move(violation));
  }

  static std::string describe(VIOLATION const& v);
  void report_text(COMMAND_OPTIONS const& options, OUTPUT_BUFFER& out, std::FILE* errors) const;
  void report_json(COMMAND_OPTIONS const& options, OUTPUT_BUFFER& out) const;

  std::size_t m_counts[3] = {0, 0, 0};
  std::vector<VIOLATION> m_violations;
};

std::string CHECK_TALLY::describe(VIOLATION const& v) {
  std::string const name = quoted_text(v.m_name, v.m_name.size());
  switch (v.m_kind) {
    case ILLEGAL:
      return "illegal name " + name + " (id " + decimal(v.m_id) + ")";
    case DUPLICATE:
      return "duplicate name " + name + (v.m_among_siblings ? " among siblings" : "") + " (ids " +
             decimal(v.m_id) + " and " + decimal(v.m_other) + ")";
    case MISMATCH:
      return "lookup of " + name + " gives " + decimal(v.m_other) + ", expected " + decimal(v.m_id);
    case UNNAMED:
      return v.m_name + " has no converted full name";
  }
  return std::string();
}

void CHECK_TALLY::report_text(COMMAND_OPTIONS const& options, OUTPUT_BUFFER& out,
                              std::FILE* errors) const {
  std::size_t const shown = std::min(options.m_max_violations, m_violations.size());
  for (std::size_t i = 0; i < shown; ++i) {
    std::fprintf(errors, "zema: check: %s\n", describe(m_violations[i]).c_str());
  }
  if (m_violations.size() > shown) {
    std::fprintf(errors, "zema: check: ... and %zu more\n", m_violations.size() - shown);
  }
  out.put("checked ");
  out.put_uint(m_checked);
  out.put(" names: ");
  out.put_uint(m_counts[ILLEGAL]);
  out.put(" illegal, ");
  out.put_uint(m_counts[DUPLICATE]);
  out.put(" duplicate, ");
  out.put_uint(m_counts[MISMATCH]);
  out.put(" lookup mismatches\n");
}

void CHECK_TALLY::report_json(COMMAND_OPTIONS const& options, OUTPUT_BUFFER& out) const {
  static char const* const kKinds[] = {"illegal", "duplicate", "mismatch", "unnamed"};
  std::string open = "{\"strategy\": ";
  open += options.m_strategy == ZEMA_NAME_CONVERTER_FUSION ? "\"fusion\"" : "\"reversible\"";
  open += ", \"checked\": " + decimal(m_checked);
  open += ", \"illegal\": " + decimal(m_counts[ILLEGAL]);
  open += ", \"duplicate\": " + decimal(m_counts[DUPLICATE]);
  open += ", \"mismatches\": " + decimal(m_counts[MISMATCH]) + ", \"violations\": [";
  RECORD_WRITER writer(out, true, "", open);
  for (VIOLATION const& v : m_violations) {
    writer.begin_row();
    writer.word("kind", kKinds[v.m_kind]);
    writer.text(v.m_kind == UNNAMED ? "row" : "name", v.m_name);
    if (v.m_kind == ILLEGAL) writer.number("id", v.m_id);
    if (v.m_kind == DUPLICATE) {
      writer.json_only("ids", "[" + decimal(v.m_id) + ", " + decimal(v.m_other) + "]");
      writer.json_only("among_siblings", v.m_among_siblings ? "true" : "false");
    }
    if (v.m_kind == MISMATCH) {
      writer.number("expected", v.m_id);
      writer.number("found", v.m_other);
    }
    writer.end_row();
  }
  writer.finish("]}\n");
}

// Every node of the tree: a legal segment, unique among its siblings, and
// found again by its full name. Then every atom and oterm: its full name
// leads back to its own id (the root, whose full name is empty, aside).
void check_fusion(CONVERSION const& conversion, CHECK_TALLY& tally) {
  ZEMA_NAME_CONVERTER& converter = conversion.converter();
  TREE_WALK walk(conversion.tree()->root());
  // Duplicates come to light when a node's children are gathered: the
  // root's at the start, every other node's right after the node's visit.
  std::string parent_path;
  auto report_duplicates = [&] {
    for (auto const& pair : walk.m_duplicates) {
      tally.duplicate(parent_path + pair.first->m_name, pair.first->m_id, pair.second->m_id, true);
    }
    walk.m_duplicates.clear();
  };
  report_duplicates();
  while (walk.next()) {
    ++tally.m_checked;
    NODE* const node = walk.node();
    if (!zema_is_legal_unit_name(node->m_name)) tally.illegal(walk.path(), node->m_id);
    unsigned const found = converter.get_original_name_id(walk.path().c_str());
    if (found != node->m_id) tally.mismatch(walk.path(), found, node->m_id);
    if (!walk.m_duplicates.empty()) {
      parent_path = walk.path() + "/";
      report_duplicates();
    }
  }
  GEN_STRING full;
  conversion.for_each_row([&](ROW const& row) {
    if (!row.full(converter, &full)) {
      tally.unnamed(row.label());
      return;
    }
    if (full.empty()) return;
    unsigned const id = id_of(row.name());
    unsigned const found = converter.get_original_name_id(full.c_str());
    if (found != id) tally.mismatch(std::string(full.c_str()), found, id);
  });
}

// Every converted name of an atom or oterm uses only legal bytes. Names of
// the hierarchy (not free-standing ones) must get distinct full names and be
// found again by them; the root, whose path is empty, aside.
void check_reversible(CONVERSION const& conversion, CHECK_TALLY& tally) {
  ZEMA_NAME_CONVERTER& converter = conversion.converter();
  GEN_STRING unit;
  GEN_STRING full;
  std::unordered_map<std::string, HDB_INSTANCE_NAME const*> owners;
  conversion.for_each_row([&](ROW const& row) {
    HDB_INSTANCE_NAME const* const name = row.name();
    bool const has_unit = row.unit(converter, &unit);
    bool const has_full = row.full(converter, &full);
    if (!has_unit && !has_full) return;
    ++tally.m_checked;
    unsigned const id = id_of(name);
    if (has_unit && !is_reversible_name(std::string_view(unit), false)) {
      tally.illegal(std::string(unit.c_str()), id);
    }
    if (!has_full) return;
    std::string const text(full.c_str());
    if (!is_reversible_name(text, true)) tally.illegal(text, id);
    if (!conversion.design().is_in_hierarchy(name) || text.empty()) return;
    auto const inserted = owners.emplace(text, name);
    if (!inserted.second && inserted.first->second != name) {
      tally.duplicate(text, id_of(inserted.first->second), id, false);
    }
    unsigned const found = converter.get_original_name_id(text.c_str());
    if (found != id) tally.mismatch(text, found, id);
  });
}

}  // namespace

int run_check(LOADED_DESIGN& design, COMMAND_OPTIONS const& options, PHASES& phases,
              OUTPUT_BUFFER& out, std::FILE* errors) {
  CHECK_TALLY tally;
  {
    CONVERSION const conversion(design, options.m_strategy, phases);
    phases.start("check");
    if (conversion.tree() != nullptr) {
      check_fusion(conversion, tally);
    } else {
      check_reversible(conversion, tally);
    }
    CONVERSION::expect_no_reports();
  }
  phases.start("write");
  return tally.report(options, out, errors);
}

}  // namespace zema_tool
