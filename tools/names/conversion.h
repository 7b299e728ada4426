// The path every command takes: a converter of one strategy set up on a
// loaded design, then one query per row of the netlist.
//
// CONVERSION runs init and checks that the library reported nothing; ROW is
// one atom or oterm and asks the converter for its names, so that the choice
// between the atom's and the oterm's query is made in one place. For fusion,
// FUSION_TREE (fusion_tree.h) is the one view of the converter's own tree.
#ifndef TOOLS_NAMES_CONVERSION_H
#define TOOLS_NAMES_CONVERSION_H

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "tools/input/design_builder.h"
#include "tools/names/fusion_tree.h"
#include "tools/support/exit_policy.h"
#include "tools/support/phases.h"
#include "tools/support/words.h"

namespace zema_tool {

inline constexpr WORD<ZEMA_NAME_CONVERTER_ENUM> kStrategyWords[] = {
    {ZEMA_NAME_CONVERTER_FUSION, "fusion"}, {ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE, "reversible"}};

// One atom (m_oterm null, m_position -1) or one of its non-null oterms.
struct ROW {
  CDB_ATOM_NODE* m_atom;
  std::size_t m_atom_index;
  CDB_ATOM_OTERM* m_oterm;
  long m_position;  // the oterm's position among the atom's, or -1

  bool is_oterm() const { return m_oterm != nullptr; }
  HDB_INSTANCE_NAME const* name() const {
    return is_oterm() ? m_oterm->get_instance_name() : m_atom->get_instance_name();
  }
  bool unit(ZEMA_NAME_CONVERTER& converter, GEN_STRING* out) const {
    return is_oterm() ? converter.get_converted_unit_name(out, m_oterm)
                      : converter.get_converted_unit_name(out, m_atom);
  }
  bool full(ZEMA_NAME_CONVERTER& converter, GEN_STRING* out, bool no_backslash = true) const {
    return is_oterm() ? converter.get_converted_full_name(out, m_oterm, no_backslash)
                      : converter.get_converted_full_name(out, m_atom, no_backslash);
  }
  // "atom 3" or "oterm 3.1", for messages.
  std::string label() const;
};

// The rows of a netlist one at a time, in the order of for_each_row.
class ROW_CURSOR {
 public:
  explicit ROW_CURSOR(CDB_ATOM_NETLIST* netlist)
      : m_netlist(netlist), m_link(netlist->begin_node_list()) {}

  // The next row into *row; false after the last.
  bool next(ROW* row) {
    for (; m_link != m_netlist->end_node_list(); m_link = m_link->m_next, ++m_atom_index) {
      CDB_ATOM_NODE* const atom = m_link->m_node;
      if (m_position < 0) {
        m_position = 0;
        m_oterm = atom->begin_oterm();
        *row = ROW{atom, m_atom_index, nullptr, -1};
        return true;
      }
      for (; m_oterm != atom->end_oterm(); ++m_oterm, ++m_position) {
        if (*m_oterm != nullptr) {
          *row = ROW{atom, m_atom_index, *m_oterm, m_position};
          ++m_oterm;
          ++m_position;
          return true;
        }
      }
      m_position = -1;
    }
    return false;
  }

 private:
  CDB_ATOM_NETLIST* m_netlist;
  CDB_ATOM_NODE_LINK* m_link;
  std::size_t m_atom_index = 0;
  CDB_ATOM_OTERM_ITERATOR m_oterm{nullptr};
  long m_position = -1;  // the next oterm's position; -1: the atom's own row is next
};

// Rows with their converted unit and full names, a batch of atoms at a time:
// the texts of every row of the batch in one string.
class NAMED_ROWS {
 public:
  std::size_t size() const { return m_rows.size(); }
  ROW const& row(std::size_t i) const { return m_rows[i]; }
  // The row's unit or full name; null where the converter gives none.
  std::string_view const* unit(std::size_t i, std::string_view* text) const {
    return name(i, 0, text);
  }
  std::string_view const* full(std::size_t i, std::string_view* text) const {
    return name(i, 1, text);
  }
  // The instance-name id of the row's object, taken while it was named, so
  // that a visit need not fetch the host's objects again; null where the
  // object has no instance name.
  unsigned const* id(std::size_t i) const {
    NAMES const& names = m_names[i];
    return names.m_named ? &names.m_id : nullptr;
  }

 private:
  friend class CONVERSION;
  struct NAMES {
    std::size_t m_end[2];  // where the unit and the full name end in m_text
    bool m_has[2];
    bool m_named;
    unsigned m_id;
  };

  std::string_view const* name(std::size_t i, int which, std::string_view* text) const {
    NAMES const& names = m_names[i];
    if (!names.m_has[which]) return nullptr;
    std::size_t const begin = which == 1 ? names.m_end[0] : i > 0 ? m_names[i - 1].m_end[1] : 0;
    *text = std::string_view(m_text.data() + begin, names.m_end[which] - begin);
    return text;
  }

  std::vector<ROW> m_rows;
  std::vector<NAMES> m_names;
  std::string m_text;
  // The converter's answers, before they are copied to m_text; reused, so
  // that once they have grown to the longest name no row allocates.
  GEN_STRING m_unit;
  GEN_STRING m_full;
};

// The instance-name id of `name`.
inline unsigned id_of(HDB_INSTANCE_NAME const* name) { return HDB_NAME_MGR::get_iname_id(name); }

class CONVERSION {
 public:
  // Converts `design` with `strategy` (the "init" phase). Throws
  // INTERNAL_FAILURE when the library reports a broken invariant.
  CONVERSION(LOADED_DESIGN& design, ZEMA_NAME_CONVERTER_ENUM strategy, PHASES& phases);
  CONVERSION(CONVERSION const&) = delete;
  CONVERSION& operator=(CONVERSION const&) = delete;

  LOADED_DESIGN& design() const { return m_design; }
  ZEMA_NAME_CONVERTER& converter() const { return *m_converter; }
  // The converter's tree under fusion; null under reversible.
  FUSION_TREE const* tree() const { return m_tree.get(); }

  // Frees the converter and its tree now, whatever the exit policy; the
  // conversion answers nothing after this.
  void free_now();

  // Throws INTERNAL_FAILURE for the first broken invariant the library
  // reported: the tool let through input that breaks one, or the library
  // has a bug, and either way the output would be wrong.
  static void expect_no_reports();

  // Calls visit(ROW const&) for every atom and then each of its non-null
  // oterms, in netlist order. With `ahead`, what the queries of the rows
  // ahead will read is prefetched (prefetch_row).
  template <class VISIT>
  void for_each_row(VISIT&& visit, bool ahead = false) const {
    CDB_ATOM_NETLIST* const netlist = m_design.m_design.netlist();
    for_each_row_from(netlist->begin_node_list(), 0, static_cast<std::size_t>(-1), visit, ahead);
  }

  // Calls visit(ROW const&, unsigned const* id, std::string_view const*
  // unit, std::string_view const* full) for every row, in the order of
  // for_each_row, on this thread; the id is null where the row's object has
  // no instance name, and a name where the converter gives none. A fusion
  // converter is asked on two threads, a batch of atoms each in turn, since
  // its answers only read the finished tree.
  template <class VISIT>
  void for_each_named_row(bool no_backslash, VISIT&& visit) const {
    for_each_named_batch(no_backslash, [&visit](NAMED_ROWS const& batch) {
      std::string_view unit;
      std::string_view full;
      for (std::size_t i = 0; i < batch.size(); ++i) {
        visit(batch.row(i), batch.id(i), batch.unit(i, &unit), batch.full(i, &full));
      }
    });
  }
  void for_each_named_batch(bool no_backslash,
                            std::function<void(NAMED_ROWS const&)> const& visit) const;

  // As for_each_row, for at most `count` atoms from `first`, the link of
  // atom `first_index`; gives the link after the last one visited (the end
  // of the netlist when it was reached). A caller that wants its rows a
  // batch at a time walks the netlist this way.
  template <class VISIT>
  CDB_ATOM_NODE_LINK* for_each_row_from(CDB_ATOM_NODE_LINK* first, std::size_t first_index,
                                        std::size_t count, VISIT&& visit, bool ahead) const {
    if (ahead) return for_each_row_ahead(first, first_index, count, visit);
    return for_each_row_in_order(first, first_index, count, visit);
  }

 private:
  // Fills `batch` with the rows of `count` atoms from `first`.
  void name_rows(CDB_ATOM_NODE_LINK* first, std::size_t first_index, std::size_t count,
                 bool no_backslash, NAMED_ROWS* batch) const;

  // Prefetches one dependent step more of what the row's queries read: under
  // fusion, the tree's (FUSION_TREE::prefetch); under reversible, the host's
  // instance name of the row and its text, then each level above in turn,
  // which the host's path walks. progress starts zeroed.
  void prefetch_row(ROW const& row, FUSION_TREE::PREFETCH* progress) const {
    if (m_tree) return m_tree->prefetch(row.m_atom, row.m_oterm, progress);
    HDB_INSTANCE_NAME const* name;
    if (progress->m_step++ == 0) {
      name = row.name();
    } else {
      name = static_cast<HDB_INSTANCE_NAME const*>(progress->m_at);
      if (name == nullptr) return;
      __builtin_prefetch(name->get_unit_name().get_string());
      name = zema_host::parent_of(name);
    }
    progress->m_at = name;
    if (name != nullptr) __builtin_prefetch(name);
  }

  template <class VISIT>
  CDB_ATOM_NODE_LINK* for_each_row_in_order(CDB_ATOM_NODE_LINK* first, std::size_t first_index,
                                            std::size_t count, VISIT&& visit) const;
  template <class VISIT>
  CDB_ATOM_NODE_LINK* for_each_row_ahead(CDB_ATOM_NODE_LINK* first, std::size_t first_index,
                                         std::size_t count, VISIT&& visit) const;

  LOADED_DESIGN& m_design;
  KEPT_PTR<ZEMA_NAME_CONVERTER> m_converter;
  std::unique_ptr<FUSION_TREE> m_tree;
};

template <class VISIT>
CDB_ATOM_NODE_LINK* CONVERSION::for_each_row_in_order(CDB_ATOM_NODE_LINK* first,
                                                      std::size_t first_index, std::size_t count,
                                                      VISIT&& visit) const {
  CDB_ATOM_NETLIST* const netlist = m_design.m_design.netlist();
  std::size_t atom_index = first_index;
  CDB_ATOM_NODE_LINK* link = first;
  for (; link != netlist->end_node_list() && atom_index - first_index < count;
       link = link->m_next, ++atom_index) {
    CDB_ATOM_NODE* const atom = link->m_node;
    visit(ROW{atom, atom_index, nullptr, -1});
    long position = 0;
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm();
         ++it, ++position) {
      if (*it != nullptr) visit(ROW{atom, atom_index, *it, position});
    }
  }
  return link;
}

// Each row's queries take kSteps dependent steps; the tree is asked to
// prefetch step s of the row kSpacing * (kSteps - s) rows ahead, so that
// each step has arrived by the time the next needs it (two rows apart was
// too close on long names).
template <class VISIT>
CDB_ATOM_NODE_LINK* CONVERSION::for_each_row_ahead(CDB_ATOM_NODE_LINK* first,
                                                   std::size_t first_index, std::size_t count,
                                                   VISIT&& visit) const {
  struct PENDING {
    ROW m_row;
    FUSION_TREE::PREFETCH m_progress;
  };
  constexpr std::size_t kSteps = 7;
  constexpr std::size_t kSpacing = 4;
  constexpr std::size_t kRing = 32;  // a power of two above the furthest distance
  PENDING ring[kRing];
  std::size_t produced = 0;
  std::size_t consumed = 0;
  auto const consume = [&] {
    for (std::size_t step = 0; step < kSteps; ++step) {
      std::size_t const ahead = consumed + kSpacing * (kSteps - step);
      if (ahead < produced) {
        PENDING& pending = ring[ahead % kRing];
        prefetch_row(pending.m_row, &pending.m_progress);
      }
    }
    visit(ring[consumed++ % kRing].m_row);
  };
  CDB_ATOM_NODE_LINK* const next =
      for_each_row_in_order(first, first_index, count, [&](ROW const& row) {
        ring[produced++ % kRing] = PENDING{row, {0, nullptr}};
        if (produced - consumed > kSpacing * kSteps) consume();
      });
  // consume() advances `consumed`, through its capture.
  while (consumed < produced) consume();  // NOLINT(bugprone-infinite-loop)
  return next;
}

}  // namespace zema_tool

#endif  // TOOLS_NAMES_CONVERSION_H
