// EXPLAINER: how a converted name came to be, level by level, as data: for a
// level of the hierarchy, the original unit name, its legal form and what
// legalising changed; for a made-up level, the rule that made it and from
// what; and where uniquing added a suffix, the siblings that held the names
// before it. `zema explain` writes it as text or JSON, Python as objects.
//
// An explainer answers any number of names from one conversion (fusion
// only). A name is resolved by walking the tree, or as an original through
// the name index; a made-up level finds the atom or oterm that bears it
// through an index of the netlist's made-up names, built on first need.
#ifndef TOOLS_NAMES_EXPLAINER_H
#define TOOLS_NAMES_EXPLAINER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/names/conversion.h"
#include "tools/names/name_index.h"
#include "tools/names/original_names.h"
#include "tools/support/hash_table.h"
#include "tools/support/words.h"

namespace zema_tool {

// What legalising did at one place of a unit name: put an "a" in front of a
// name that does not start with a letter, made an upper-case letter lower
// case, or made a byte (a character, for UTF-8) outside the alphabet "_".
enum class LEGAL_RULE { PREFIX, LOWER_CASE, UNDERSCORE };
inline constexpr WORD<LEGAL_RULE> kLegalRuleWords[] = {{LEGAL_RULE::PREFIX, "prefix"},
                                                       {LEGAL_RULE::LOWER_CASE, "lower-case"},
                                                       {LEGAL_RULE::UNDERSCORE, "underscore"}};

struct LEGAL_CHANGE {
  LEGAL_RULE m_rule;
  std::string m_from;  // the character changed; empty for PREFIX
  std::size_t m_at;    // its byte offset in the unit name
};

// How a made-up name was made: an atom's type and its number among made-up
// atom names; an IO_IBUF, PIN or IO_DDR atom's type, "_" and its own node's
// converted name; an oterm's "w" and its number; or nothing bears it now.
enum class MADE_UP_RULE { ATOM_NUMBER, ATOM_NODE, OTERM_NUMBER, SUPERSEDED };
inline constexpr WORD<MADE_UP_RULE> kMadeUpRuleWords[] = {
    {MADE_UP_RULE::ATOM_NUMBER, "atom-number"},
    {MADE_UP_RULE::ATOM_NODE, "atom-node"},
    {MADE_UP_RULE::OTERM_NUMBER, "oterm-number"},
    {MADE_UP_RULE::SUPERSEDED, "superseded"}};

// A sibling that held a name the level could not take.
struct HOLDER {
  std::string m_segment;
  unsigned m_id;
  std::string m_original;  // empty when its id names nothing
  bool m_hierarchy;
};

struct EXPLAINED_LEVEL {
  std::string m_segment;  // the level's final converted unit name
  bool m_hierarchy;       // a level of the hierarchy, else made up
  // Hierarchy levels: the original unit name and what legalising changed.
  std::string m_unit;
  std::vector<LEGAL_CHANGE> m_changes;
  // Made-up levels: the rule, its stem (the type, or "w") and what follows
  // the stem (the number, or the node's name).
  MADE_UP_RULE m_rule = MADE_UP_RULE::SUPERSEDED;
  std::string m_stem;
  std::string m_from;
  std::string m_base;  // the name before uniquing
  long m_suffix = -1;  // the uniquing suffix, or -1
  // The siblings that held base, base_0, ... before it: hierarchy siblings
  // in the byte order of their unit names, then made-up names.
  std::vector<HOLDER> m_holders;
};

struct EXPLANATION {
  std::string m_converted;  // the converted full name, without backslash
  MAP_KIND m_kind;
  unsigned m_id;
  std::string m_original;
  std::vector<EXPLAINED_LEVEL> m_levels;
};

class EXPLAINER {
 public:
  // `conversion` must be a fusion conversion; all three must outlive this.
  EXPLAINER(CONVERSION const& conversion, ORIGINAL_NAMES& originals, NAME_INDEX const& index);

  // The explanation of `name`, a converted full name (a leading backslash
  // is allowed) or an original name (with or without its leading "/"), or
  // nothing when it names nothing.
  std::optional<EXPLANATION> explain(std::string_view name);

 private:
  // A made-up atom's or oterm's row, chained to the previous one of its id.
  struct MADE_UP_ROW {
    ROW m_row;
    std::uint32_t m_previous;  // index of the previous row of the same id, or kNone
  };
  static constexpr std::uint32_t kNone = 0xffffffffu;

  bool walk(std::string const& converted, std::vector<NODE const*>* nodes) const;
  void explain_hierarchy(NODE const* node, EXPLAINED_LEVEL* level);
  void explain_made_up(NODE const* node, EXPLAINED_LEVEL* level);
  void find_suffix(NODE const* parent, EXPLAINED_LEVEL* level);
  std::string original_of(NODE const* node);
  void index_made_up_rows();

  CONVERSION const& m_conversion;
  FUSION_TREE const& m_tree;
  ORIGINAL_NAMES& m_originals;
  NAME_INDEX const& m_index;
  bool m_indexed = false;
  std::vector<MADE_UP_ROW> m_made_up;
  ID_MAP<std::uint32_t> m_last_made_up;  // id to its last row in m_made_up
  GEN_STRING m_unit;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_EXPLAINER_H
