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
#include <functional>
#include <memory>
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

// A node of the converted tree as the explainer sees it.
struct NAME_NODE {
  std::string_view m_segment;  // the node's converted unit name
  std::string_view m_path;     // its converted full name (kept by the source)
  unsigned m_id;
  MAP_KIND m_kind;
  bool m_hierarchy;      // a node of the hierarchy, else a made-up name
  void const* m_handle;  // the source's own
};

// Where an explainer learns the tree: a conversion, or a saved map.
class NAME_SOURCE {
 public:
  virtual ~NAME_SOURCE() = default;
  // The child of `parent` (null: the root) named `segment`; false when none.
  virtual bool child(NAME_NODE const* parent, std::string_view segment, NAME_NODE* node) = 0;
  // The converted full name of an original name that names one, or
  // nothing; *shared is set when it names several, none of which comes
  // first.
  virtual std::optional<std::string_view> converted_of(std::string_view original,
                                                       bool* shared) const = 0;
  // The original name of the node's id, empty when it names nothing.
  virtual std::string original_of(NAME_NODE const& node) = 0;
  // A hierarchy node's original unit name; false when its id names nothing.
  virtual bool unit_of(NAME_NODE const& node, std::string* unit) = 0;
  // A made-up node's rule and stem (the atom's type, or "w"); false when no
  // atom or oterm bears it now.
  virtual bool made_up_rule(NAME_NODE const& node, MADE_UP_RULE* rule, std::string* stem) = 0;
  // The converted unit name of the node of the hierarchy with `id`, or empty.
  virtual std::string hierarchy_segment(unsigned id) = 0;
  // The legal form of a unit name, as the converter makes it.
  virtual std::string legal_form(std::string const& unit) = 0;
};

// The source of a fusion conversion: its tree, the design's names, and the
// netlist's made-up names indexed on first need. `index` gives the name
// index, called only when an original name is to be resolved.
std::unique_ptr<NAME_SOURCE> conversion_source(CONVERSION const& conversion,
                                               ORIGINAL_NAMES& originals,
                                               std::function<NAME_INDEX const&()> index);

class EXPLAINER {
 public:
  // `source` must outlive this.
  explicit EXPLAINER(NAME_SOURCE& source) : m_source(source) {}

  // The explanation of `name`, a converted full name (a leading backslash
  // is allowed) or an original name (with or without its leading "/"), or
  // nothing when it names nothing; *shared (when given) is then set when it
  // is an original that several objects share.
  std::optional<EXPLANATION> explain(std::string_view name, bool* shared = nullptr);

 private:
  bool walk(std::string const& converted, std::vector<NAME_NODE>* nodes);
  void explain_made_up(NAME_NODE const& node, EXPLAINED_LEVEL* level);
  void find_suffix(NAME_NODE const* parent, EXPLAINED_LEVEL* level);

  NAME_SOURCE& m_source;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_EXPLAINER_H
