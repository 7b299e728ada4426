// The commands of the zema tool: convert, lookup, map and check.
//
// Results are written as they are computed, through one reused GEN_STRING per
// column, so converting a million atoms costs no allocation per row. The
// fusion converter's tree is walked with an explicit stack: its depth is the
// design's, up to ten thousand levels.
#include "tools/commands.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "atm/zema/zema_naming_rules.h"
#include "h/cdb_net_sys.h"
#include "tools/exit_policy.h"
#include "tools/full_path.h"
#include "tools/original_names.h"
#include "tools/text_format.h"
#include "tools/tool_error.h"

namespace zema_tool {
namespace {

typedef ZEMA_NAME_CONVERTER_HIERARCHY NODE;

// A report of the library means the tool let through input that breaks an
// invariant, or the library has a bug; either way the output would be wrong.
void expect_no_reports() {
  std::vector<zema_host::INTERNAL_ERROR> const& reports = zema_host::internal_errors();
  if (reports.empty()) return;
  zema_host::INTERNAL_ERROR const& first = reports.front();
  throw INTERNAL_FAILURE(
      "the converter reported a broken invariant: " + quoted_text(first.condition) + " in module " +
      first.module + " at " + first.file + ":" + decimal(static_cast<std::uint64_t>(first.line)));
}

unsigned id_of(HDB_INSTANCE_NAME const* name) { return HDB_NAME_MGR::get_iname_id(name); }

// Calls visit(atom, atom_index, oterm, oterm_position) for every atom (oterm
// null, position -1) and then every non-null oterm of it, in netlist order.
template <class VISIT>
void for_each_row(LOADED_DESIGN& design, VISIT&& visit) {
  CDB_ATOM_NETLIST* const netlist = design.m_design.netlist();
  std::size_t atom_index = 0;
  for (CDB_ATOM_NODE_LINK* link = netlist->begin_node_list(); link != netlist->end_node_list();
       link = link->m_next, ++atom_index) {
    CDB_ATOM_NODE* const atom = link->m_node;
    visit(atom, atom_index, static_cast<CDB_ATOM_OTERM*>(nullptr), -1L);
    long position = 0;
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm();
         ++it, ++position) {
      if (*it != nullptr) visit(atom, atom_index, *it, position);
    }
  }
}

// for_each_row, and on a fusion converter, asks it to prefetch what the rows
// ahead will query: kSteps dependent steps per row, each kSpacing rows after
// the one before, so that each has arrived by the time the next needs it
// (two rows apart was too close on long names).
template <class VISIT>
void for_each_row_ahead(LOADED_DESIGN& design, ZEMA_NAME_CONVERTER_FUSION_IMPL const* fusion,
                        VISIT&& visit) {
  if (!fusion) return for_each_row(design, visit);
  struct ROW {
    CDB_ATOM_NODE* atom;
    std::size_t atom_index;
    CDB_ATOM_OTERM* oterm;
    long position;
    ZEMA_NAME_CONVERTER_FUSION_IMPL::QUERY_PREFETCH progress;
  };
  constexpr std::size_t kSteps = 7;
  constexpr std::size_t kSpacing = 4;
  constexpr std::size_t kRing = 32;  // a power of two above the furthest distance
  ROW ring[kRing];
  std::size_t produced = 0;
  std::size_t consumed = 0;
  auto const consume = [&] {
    for (std::size_t step = 0; step < kSteps; ++step) {
      std::size_t const ahead = consumed + kSpacing * (kSteps - step);
      if (ahead >= produced) continue;
      ROW& row = ring[ahead % kRing];
      if (row.oterm) {
        fusion->prefetch_query(row.oterm, &row.progress);
      } else {
        fusion->prefetch_query(row.atom, &row.progress);
      }
    }
    ROW const& row = ring[consumed++ % kRing];
    visit(row.atom, row.atom_index, row.oterm, row.position);
  };
  for_each_row(design, [&](CDB_ATOM_NODE* atom, std::size_t atom_index, CDB_ATOM_OTERM* oterm,
                           long position) {
    ring[produced++ % kRing] = ROW{atom, atom_index, oterm, position, {0, nullptr}};
    if (produced - consumed > kSpacing * kSteps) consume();
  });
  // consume() advances `consumed`, through its capture.
  while (consumed < produced) consume();  // NOLINT(bugprone-infinite-loop)
}

// Writes the rows of `convert` as tab-separated lines under a header, or as
// a JSON array with one object per line.
class ROW_WRITER {
 public:
  ROW_WRITER(OUTPUT_BUFFER& out, bool json) : m_out(out), m_json(json) {
    m_out.put(m_json ? "[" : "kind\tindex\tid\tunit\tfull\n");
  }

  void row(std::size_t atom_index, long oterm_position, HDB_INSTANCE_NAME const* name,
           GEN_STRING const* unit, GEN_STRING const* full) {
    bool const oterm = oterm_position >= 0;
    if (m_json) {
      m_out.put(m_rows == 0 ? "\n  " : ",\n  ");
      m_out.put(oterm ? "{\"kind\": \"oterm\", \"index\": \""
                      : "{\"kind\": \"atom\", \"index\": \"");
      put_index(atom_index, oterm_position);
      m_out.put("\", \"id\": ");
      if (name != nullptr) {
        m_out.put_uint(id_of(name));
      } else {
        m_out.put("null");
      }
      m_out.put(", \"unit\": ");
      put_json_value(unit);
      m_out.put(", \"full\": ");
      put_json_value(full);
      m_out.put('}');
    } else {
      m_out.put(oterm ? "oterm\t" : "atom\t");
      put_index(atom_index, oterm_position);
      m_out.put('\t');
      if (name != nullptr) {
        m_out.put_uint(id_of(name));
      } else {
        m_out.put('-');
      }
      m_out.put('\t');
      m_out.put(unit != nullptr ? std::string_view(*unit) : std::string_view("-"));
      m_out.put('\t');
      m_out.put(full != nullptr ? std::string_view(*full) : std::string_view("-"));
      m_out.put('\n');
    }
    ++m_rows;
  }

  void finish() {
    if (m_json) m_out.put(m_rows == 0 ? "]\n" : "\n]\n");
  }

 private:
  void put_index(std::size_t atom_index, long oterm_position) {
    m_out.put_uint(atom_index);
    if (oterm_position >= 0) {
      m_out.put('.');
      m_out.put_uint(static_cast<std::uint64_t>(oterm_position));
    }
  }

  void put_json_value(GEN_STRING const* text) {
    if (text != nullptr) {
      m_out.put_json(*text);
    } else {
      m_out.put("null");
    }
  }

  OUTPUT_BUFFER& m_out;
  bool m_json;
  std::size_t m_rows = 0;
};

// Visits every node of a fusion tree below the root, depth first, the
// children of a node in strcmp order of their names (ties, which a correct
// tree never has, by id). Keeps the full name of the current node and the
// pairs of siblings that share a name.
class TREE_WALK {
 public:
  explicit TREE_WALK(NODE* root) {
    if (root != nullptr) push_children(root, 1);
  }

  // Moves to the next node; false when every node was visited.
  bool next() {
    if (m_pending.empty()) return false;
    ENTRY const entry = m_pending.back();
    m_pending.pop_back();
    m_node = entry.m_node;
    m_depth = entry.m_depth;
    m_path.enter(entry.m_depth, m_node->m_name);
    if (!m_node->is_leaf()) push_children(m_node, entry.m_depth + 1);
    return true;
  }

  NODE* node() const { return m_node; }
  std::size_t depth() const { return m_depth; }
  std::string const& path() const { return m_path.text(); }

  // Sibling pairs with equal names found so far; the caller may empty it.
  std::vector<std::pair<NODE*, NODE*>> m_duplicates;

 private:
  struct ENTRY {
    NODE* m_node;
    std::size_t m_depth;  // children of the root: 1
  };

  void push_children(NODE* parent, std::size_t depth) {
    m_children.clear();
    for (NODE::CHILD_ITERATOR it = parent->begin_child(); it != parent->end_child(); ++it) {
      m_children.push_back(it->m_value);
    }
    std::sort(m_children.begin(), m_children.end(), [](NODE* a, NODE* b) {
      int const order = std::strcmp(a->m_name, b->m_name);
      return order != 0 ? order < 0 : a->m_id < b->m_id;
    });
    for (std::size_t i = 1; i < m_children.size(); ++i) {
      if (std::strcmp(m_children[i - 1]->m_name, m_children[i]->m_name) == 0) {
        m_duplicates.emplace_back(m_children[i - 1], m_children[i]);
      }
    }
    // Pushed last to first, so that the first child is popped first.
    for (std::size_t i = m_children.size(); i-- > 0;) m_pending.push_back({m_children[i], depth});
  }

  std::vector<ENTRY> m_pending;
  std::vector<NODE*> m_children;
  FULL_PATH m_path;
  NODE* m_node = nullptr;
  std::size_t m_depth = 0;
};

// --- check ----------------------------------------------------------------------

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

  static std::string describe(VIOLATION const& v) {
    std::string const name = quoted_text(v.m_name, v.m_name.size());
    switch (v.m_kind) {
      case ILLEGAL:
        return "illegal name " + name + " (id " + decimal(v.m_id) + ")";
      case DUPLICATE:
        return "duplicate name " + name + (v.m_among_siblings ? " among siblings" : "") + " (ids " +
               decimal(v.m_id) + " and " + decimal(v.m_other) + ")";
      case MISMATCH:
        return "lookup of " + name + " gives " + decimal(v.m_other) + ", expected " +
               decimal(v.m_id);
      case UNNAMED:
        return v.m_name + " has no converted full name";
    }
    return std::string();
  }

  void report_text(COMMAND_OPTIONS const& options, OUTPUT_BUFFER& out, std::FILE* errors) const {
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

  void report_json(COMMAND_OPTIONS const& options, OUTPUT_BUFFER& out) const {
    static char const* const kKinds[] = {"illegal", "duplicate", "mismatch", "unnamed"};
    out.put("{\"strategy\": ");
    out.put(options.m_strategy == ZEMA_NAME_CONVERTER_FUSION ? "\"fusion\"" : "\"reversible\"");
    out.put(", \"checked\": ");
    out.put_uint(m_checked);
    out.put(", \"illegal\": ");
    out.put_uint(m_counts[ILLEGAL]);
    out.put(", \"duplicate\": ");
    out.put_uint(m_counts[DUPLICATE]);
    out.put(", \"mismatches\": ");
    out.put_uint(m_counts[MISMATCH]);
    out.put(", \"violations\": [");
    for (std::size_t i = 0; i < m_violations.size(); ++i) {
      VIOLATION const& v = m_violations[i];
      out.put(i == 0 ? "\n  {\"kind\": \"" : ",\n  {\"kind\": \"");
      out.put(kKinds[v.m_kind]);
      out.put(v.m_kind == UNNAMED ? "\", \"row\": " : "\", \"name\": ");
      out.put_json(v.m_name);
      switch (v.m_kind) {
        case ILLEGAL:
          out.put(", \"id\": ");
          out.put_uint(v.m_id);
          break;
        case DUPLICATE:
          out.put(", \"ids\": [");
          out.put_uint(v.m_id);
          out.put(", ");
          out.put_uint(v.m_other);
          out.put(v.m_among_siblings ? "], \"among_siblings\": true"
                                     : "], \"among_siblings\": false");
          break;
        case MISMATCH:
          out.put(", \"expected\": ");
          out.put_uint(v.m_id);
          out.put(", \"found\": ");
          out.put_uint(v.m_other);
          break;
        case UNNAMED:
          break;
      }
      out.put('}');
    }
    out.put(m_violations.empty() ? "]}\n" : "\n]}\n");
  }

  std::size_t m_counts[3] = {0, 0, 0};
  std::vector<VIOLATION> m_violations;
};

std::string row_label(std::size_t atom_index, long oterm_position) {
  if (oterm_position < 0) return "atom " + decimal(atom_index);
  return "oterm " + decimal(atom_index) + "." + decimal(static_cast<std::uint64_t>(oterm_position));
}

// Every node of the tree: a legal segment, unique among its siblings, and
// found again by its full name. Then every atom and oterm: its full name
// leads back to its own id (the root, whose full name is empty, aside).
void check_fusion(LOADED_DESIGN& design, PHASES& phases, CHECK_TALLY& tally) {
  phases.start("init");
  KEPT_PTR<ZEMA_NAME_CONVERTER_FUSION_IMPL> const kept(new ZEMA_NAME_CONVERTER_FUSION_IMPL);
  ZEMA_NAME_CONVERTER_FUSION_IMPL& fusion = *kept;
  fusion.init(design.m_design.action_point(), design.m_design.netlist());
  expect_no_reports();
  phases.start("check");
  TREE_WALK walk(fusion.get_root());
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
    unsigned const found = fusion.get_original_name_id(walk.path().c_str());
    if (found != node->m_id) tally.mismatch(walk.path(), found, node->m_id);
    if (!walk.m_duplicates.empty()) {
      parent_path = walk.path() + "/";
      report_duplicates();
    }
  }

  GEN_STRING full;
  for_each_row(design, [&](CDB_ATOM_NODE* atom, std::size_t atom_index, CDB_ATOM_OTERM* oterm,
                           long position) {
    bool const named = oterm != nullptr ? fusion.get_converted_full_name(&full, oterm, true)
                                        : fusion.get_converted_full_name(&full, atom, true);
    if (!named) {
      tally.unnamed(row_label(atom_index, position));
      return;
    }
    if (full.empty()) return;
    unsigned const id =
        id_of(oterm != nullptr ? oterm->get_instance_name() : atom->get_instance_name());
    unsigned const found = fusion.get_original_name_id(full.c_str());
    if (found != id) tally.mismatch(std::string(full.c_str()), found, id);
  });
  expect_no_reports();
}

// Every converted name of an atom or oterm uses only legal bytes. Names of
// the hierarchy (not free-standing ones) must get distinct full names and be
// found again by them; the root, whose path is empty, aside.
void check_reversible(LOADED_DESIGN& design, PHASES& phases, CHECK_TALLY& tally) {
  phases.start("init");
  KEPT_PTR<ZEMA_NAME_CONVERTER> const kept(
      new ZEMA_NAME_CONVERTER(ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE));
  ZEMA_NAME_CONVERTER& converter = *kept;
  converter.init(design.m_design.action_point(), design.m_design.netlist());
  expect_no_reports();
  phases.start("check");
  GEN_STRING unit;
  GEN_STRING full;
  std::unordered_map<std::string, HDB_INSTANCE_NAME const*> owners;
  for_each_row(design, [&](CDB_ATOM_NODE* atom, std::size_t, CDB_ATOM_OTERM* oterm, long) {
    HDB_INSTANCE_NAME const* const name =
        oterm != nullptr ? oterm->get_instance_name() : atom->get_instance_name();
    bool const has_unit = oterm != nullptr ? converter.get_converted_unit_name(&unit, oterm)
                                           : converter.get_converted_unit_name(&unit, atom);
    bool const has_full = oterm != nullptr ? converter.get_converted_full_name(&full, oterm, true)
                                           : converter.get_converted_full_name(&full, atom, true);
    if (!has_unit && !has_full) return;
    ++tally.m_checked;
    unsigned const id = id_of(name);
    if (has_unit && !is_reversible_name(std::string_view(unit), false)) {
      tally.illegal(std::string(unit.c_str()), id);
    }
    if (!has_full) return;
    std::string const text(full.c_str());
    if (!is_reversible_name(text, true)) tally.illegal(text, id);
    if (!design.is_in_hierarchy(name) || text.empty()) return;
    auto const inserted = owners.emplace(text, name);
    if (!inserted.second && inserted.first->second != name) {
      tally.duplicate(text, id_of(inserted.first->second), id, false);
    }
    unsigned const found = converter.get_original_name_id(text.c_str());
    if (found != id) tally.mismatch(text, found, id);
  });
  expect_no_reports();
}

}  // namespace

void run_convert(LOADED_DESIGN& design, COMMAND_OPTIONS const& options, PHASES& phases,
                 OUTPUT_BUFFER& out) {
  phases.start("init");
  KEPT_PTR<ZEMA_NAME_CONVERTER> const kept(new ZEMA_NAME_CONVERTER(options.m_strategy));
  ZEMA_NAME_CONVERTER& converter = *kept;
  converter.init(design.m_design.action_point(), design.m_design.netlist());
  expect_no_reports();
  phases.start("write");
  GEN_STRING unit;
  GEN_STRING full;
  bool const no_backslash = !options.m_backslash;
  ROW_WRITER writer(out, options.m_json);
  ZEMA_NAME_CONVERTER_FUSION_IMPL const* const fusion =
      options.m_strategy == ZEMA_NAME_CONVERTER_FUSION
          ? static_cast<ZEMA_NAME_CONVERTER_FUSION_IMPL const*>(converter.m_impl)
          : nullptr;
  for_each_row_ahead(
      design, fusion,
      [&](CDB_ATOM_NODE* atom, std::size_t atom_index, CDB_ATOM_OTERM* oterm, long position) {
        bool has_unit;
        bool has_full;
        HDB_INSTANCE_NAME const* name;
        if (oterm != nullptr) {
          name = oterm->get_instance_name();
          has_unit = converter.get_converted_unit_name(&unit, oterm);
          has_full = converter.get_converted_full_name(&full, oterm, no_backslash);
        } else {
          name = atom->get_instance_name();
          has_unit = converter.get_converted_unit_name(&unit, atom);
          has_full = converter.get_converted_full_name(&full, atom, no_backslash);
        }
        writer.row(atom_index, position, name, has_unit ? &unit : nullptr,
                   has_full ? &full : nullptr);
      });
  writer.finish();
  expect_no_reports();
}

int run_lookup(LOADED_DESIGN& design, COMMAND_OPTIONS const& options,
               std::vector<std::string_view> const& names, PHASES& phases, OUTPUT_BUFFER& out,
               std::FILE* errors) {
  phases.start("init");
  KEPT_PTR<ZEMA_NAME_CONVERTER> const kept(new ZEMA_NAME_CONVERTER(options.m_strategy));
  ZEMA_NAME_CONVERTER& converter = *kept;
  converter.init(design.m_design.action_point(), design.m_design.netlist());
  expect_no_reports();
  ORIGINAL_NAMES originals(design);
  phases.start("write");
  std::string name;
  std::string original;
  std::size_t missing = 0;
  if (options.m_json) out.put('[');
  for (std::size_t i = 0; i < names.size(); ++i) {
    name.assign(names[i]);
    unsigned const id = converter.get_original_name_id(name.c_str());
    HDB_INSTANCE_NAME const* const found = id != 0 ? originals.find(id) : nullptr;
    original.clear();
    if (found != nullptr) originals.append(&original, found);
    missing += id == 0;
    if (options.m_json) {
      out.put(i == 0 ? "\n  {\"name\": " : ",\n  {\"name\": ");
      out.put_json(name);
      out.put(", \"id\": ");
      if (id != 0) {
        out.put_uint(id);
      } else {
        out.put("null");
      }
      out.put(", \"original\": ");
      if (found != nullptr) {
        out.put_json(original);
      } else {
        out.put("null");
      }
      out.put('}');
    } else {
      out.put_field(name);
      out.put('\t');
      out.put_uint(id);
      out.put('\t');
      if (found != nullptr) {
        out.put_field(original);
      } else {
        out.put('-');
      }
      out.put('\n');
    }
  }
  if (options.m_json) out.put(names.empty() ? "]\n" : "\n]\n");
  expect_no_reports();
  if (missing == 0) return EXIT_OK;
  std::fprintf(errors, "zema: lookup: %zu of %zu names not found\n", missing, names.size());
  return EXIT_NOT_FOUND;
}

namespace {

// One row of `map`, as a tab-separated line or a JSON object.
class MAP_WRITER {
 public:
  MAP_WRITER(OUTPUT_BUFFER& out, bool json) : m_out(out), m_json(json) {
    m_out.put(m_json ? "[" : "id\tconverted\tkind\torigin\toriginal\n");
  }

  // `atom` and `position` are the row's place in the netlist (reversible),
  // or negative (fusion).
  // `original` is null when no original name is known (id 0).
  void row(unsigned id, std::string_view converted, char const* kind, char const* origin,
           std::string const* original, long atom, long position) {
    if (!m_json) {
      m_out.put_uint(id);
      m_out.put('\t');
      m_out.put_field(converted);
      m_out.put('\t');
      m_out.put(kind);
      m_out.put('\t');
      m_out.put(origin);
      m_out.put('\t');
      if (original != nullptr) {
        m_out.put_field(*original);
      } else {
        m_out.put('-');
      }
      m_out.put('\n');
      return;
    }
    m_out.put(m_rows++ == 0 ? "\n  {\"id\": " : ",\n  {\"id\": ");
    m_out.put_uint(id);
    m_out.put(", \"converted\": ");
    m_out.put_json(converted);
    m_out.put(", \"kind\": \"");
    m_out.put(kind);
    m_out.put("\", \"origin\": \"");
    m_out.put(origin);
    m_out.put("\", \"original\": ");
    if (original != nullptr) {
      m_out.put_json(*original);
    } else {
      m_out.put("null");
    }
    if (atom >= 0) {
      m_out.put(", \"atom\": ");
      m_out.put_uint(static_cast<std::uint64_t>(atom));
      m_out.put(", \"oterm\": ");
      if (position >= 0) {
        m_out.put_uint(static_cast<std::uint64_t>(position));
      } else {
        m_out.put("null");
      }
    }
    m_out.put('}');
  }

  void finish() {
    if (m_json) m_out.put(m_rows == 0 ? "]\n" : "\n]\n");
  }

 private:
  OUTPUT_BUFFER& m_out;
  bool m_json;
  std::size_t m_rows = 0;
};

NODE const* indexed_node(ZEMA_NAME_CONVERTER_FUSION_IMPL::ID_HASH const& index, unsigned id) {
  ZEMA_NAME_CONVERTER_FUSION_IMPL::ID_HASH::NODE const* const entry = index.hash_search(id, id);
  return entry != nullptr ? entry->m_value : nullptr;
}

// The fusion converter's tree, depth first, siblings in byte order. A node
// is of the hierarchy when the converter's hierarchy index holds it; the
// others are the names it made up for atoms and oterms. A node names an atom
// or an oterm when the converter's atom or oterm index leads to it.
void map_fusion(LOADED_DESIGN& design, PHASES& phases, MAP_WRITER& writer) {
  phases.start("init");
  KEPT_PTR<ZEMA_NAME_CONVERTER_FUSION_IMPL> const kept(new ZEMA_NAME_CONVERTER_FUSION_IMPL);
  ZEMA_NAME_CONVERTER_FUSION_IMPL& fusion = *kept;
  fusion.init(design.m_design.action_point(), design.m_design.netlist());
  expect_no_reports();
  ORIGINAL_NAMES originals(design);
  phases.start("write");
  TREE_WALK walk(fusion.get_root());
  FULL_PATH hierarchy_path;  // the original path of the hierarchy node the walk is at
  std::string original;
  while (walk.next()) {
    NODE const* const node = walk.node();
    unsigned const id = node->m_id;
    bool const in_hierarchy = indexed_node(fusion.m_hier_by_id_hash, id) == node;
    bool const atom = indexed_node(fusion.m_atom_hier_hash, id) == node;
    bool const oterm = indexed_node(fusion.m_oterm_hier_hash, id) == node;
    char const* kind = atom ? (oterm ? "atom+oterm" : "atom") : oterm ? "oterm" : "instance";
    if (!in_hierarchy && !atom && !oterm) kind = "superseded";
    HDB_INSTANCE_NAME const* const name = originals.find(id);
    original.clear();
    if (in_hierarchy && name != nullptr) {
      // Hierarchy nodes nest as their instances do: extend the parent's path.
      hierarchy_path.enter_with(walk.depth(), [&](std::string& text) {
        zema_host::append_unambiguous_level(&text, name);
      });
      original.push_back('/');
      original.append(hierarchy_path.text());
    } else if (name != nullptr) {
      originals.append(&original, name);
    }
    writer.row(id, walk.path(), kind, in_hierarchy ? "hierarchy" : "made-up",
               name != nullptr ? &original : nullptr, -1, -1);
  }
}

// Every atom and oterm in netlist order, with its converted full name.
void map_reversible(LOADED_DESIGN& design, PHASES& phases, MAP_WRITER& writer) {
  phases.start("init");
  KEPT_PTR<ZEMA_NAME_CONVERTER> const kept(
      new ZEMA_NAME_CONVERTER(ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE));
  ZEMA_NAME_CONVERTER& converter = *kept;
  converter.init(design.m_design.action_point(), design.m_design.netlist());
  expect_no_reports();
  ORIGINAL_NAMES originals(design);
  phases.start("write");
  GEN_STRING full;
  std::string original;
  for_each_row(design, [&](CDB_ATOM_NODE* atom, std::size_t atom_index, CDB_ATOM_OTERM* oterm,
                           long position) {
    HDB_INSTANCE_NAME const* const name =
        oterm != nullptr ? oterm->get_instance_name() : atom->get_instance_name();
    bool const named = oterm != nullptr ? converter.get_converted_full_name(&full, oterm, true)
                                        : converter.get_converted_full_name(&full, atom, true);
    if (name == nullptr || !named) return;
    original.clear();
    originals.append(&original, name);
    writer.row(id_of(name), std::string_view(full), oterm != nullptr ? "oterm" : "atom",
               design.is_in_hierarchy(name) ? "hierarchy" : "outside", &original,
               static_cast<long>(atom_index), position);
  });
  expect_no_reports();
}

}  // namespace

void run_map(LOADED_DESIGN& design, COMMAND_OPTIONS const& options, PHASES& phases,
             OUTPUT_BUFFER& out) {
  MAP_WRITER writer(out, options.m_json);
  if (options.m_strategy == ZEMA_NAME_CONVERTER_FUSION) {
    map_fusion(design, phases, writer);
  } else {
    map_reversible(design, phases, writer);
  }
  writer.finish();
}

int run_check(LOADED_DESIGN& design, COMMAND_OPTIONS const& options, PHASES& phases,
              OUTPUT_BUFFER& out, std::FILE* errors) {
  CHECK_TALLY tally;
  if (options.m_strategy == ZEMA_NAME_CONVERTER_FUSION) {
    check_fusion(design, phases, tally);
  } else {
    check_reversible(design, phases, tally);
  }
  phases.start("write");
  return tally.report(options, out, errors);
}

}  // namespace zema_tool
