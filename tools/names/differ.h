// The names of two revisions of a design, compared object by object.
//
// An object is what a row of the name map names, known by its original
// name and its role: a node of the hierarchy, or a made-up atom or oterm
// name (an instance and the made-up name of its own atom share an original,
// and stay two objects). Where a role and an original repeat in one
// revision (free-standing names of a design file, or atoms left unnamed,
// which have none), the k-th of the old is matched with the k-th of the new.
// A superseded made-up name, which the map says names nothing, is no object.
//
// The difference is a row per object whose converted name changed, or that
// exists on one side only, and, before them, a row per converted name that
// exists on both sides but names another object (reused: the dangerous
// case, where a constraint written against the old name silently moves).
#ifndef TOOLS_NAMES_DIFFER_H
#define TOOLS_NAMES_DIFFER_H

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/names/design_names.h"
#include "tools/names/name_index.h"
#include "tools/support/text_arena.h"
#include "tools/support/words.h"

namespace zema_tool {

enum class NAME_CHANGE { REUSED, RENAMED, ADDED, REMOVED };
inline constexpr WORD<NAME_CHANGE> kNameChangeWords[] = {{NAME_CHANGE::REUSED, "reused"},
                                                         {NAME_CHANGE::RENAMED, "renamed"},
                                                         {NAME_CHANGE::ADDED, "added"},
                                                         {NAME_CHANGE::REMOVED, "removed"}};

struct DIFF_ROW {
  NAME_CHANGE m_change;
  std::string_view m_old;  // the old converted name; empty when added
  std::string_view m_new;  // the new converted name; empty when removed
  // The object's original (reused: the old object's); empty for an object
  // without one, an atom the design leaves unnamed.
  std::string_view m_original;
  // Reused: the original of the object the name names now; else empty.
  std::string_view m_new_original;
};

struct NAME_DIFF {
  std::vector<DIFF_ROW> m_rows;            // reused first, then the rest
  std::size_t m_counts[4] = {0, 0, 0, 0};  // by NAME_CHANGE
  // Old objects whose match is a guess: the objects that share their role
  // and original are more in one revision than in the other; and the
  // original of the first.
  std::size_t m_guessed = 0;
  std::string_view m_first_guessed;
  TEXT_ARENA m_texts;  // the rows' texts

  std::size_t count(NAME_CHANGE change) const { return m_counts[static_cast<std::size_t>(change)]; }
  // Whether every old converted name still names its object (nothing
  // reused or removed, and no match a guess).
  bool old_names_hold() const {
    return count(NAME_CHANGE::REUSED) == 0 && count(NAME_CHANGE::REMOVED) == 0 && m_guessed == 0;
  }
};

// Every row of a revision's name map, in map order, given to a visitor.
using MAP_ROWS = std::function<void(std::function<void(MAP_ROW const&)> const&)>;
MAP_ROWS rows_of(DESIGN_NAMES& names);

// Compares two revisions taken one after the other, so that the caller can
// free the old one before it loads the new one: take_old keeps what the
// comparison needs of the old rows. Each revision's rows are walked on the
// calling thread and taken in on a second one, which calls nothing of the
// library; the old ones are indexed there while the caller loads the new
// revision. Time and memory linear in the rows.
class REVISION_DIFFER {
 public:
  REVISION_DIFFER();
  ~REVISION_DIFFER();
  REVISION_DIFFER(REVISION_DIFFER const&) = delete;
  REVISION_DIFFER& operator=(REVISION_DIFFER const&) = delete;

  // First the old revision, then the new one, each as a revision or as the
  // rows of its map; each may be freed once its call returns.
  void take_old(DESIGN_NAMES& names);
  void take_old(MAP_ROWS const& rows);
  void take_new(DESIGN_NAMES& names);
  void take_new(MAP_ROWS const& rows);

  // The difference, once both are taken.
  NAME_DIFF diff();

 private:
  friend class MIGRATION;
  struct STATE;
  std::unique_ptr<STATE> m_state;
};

// What a diff with guessed matches says of them: how many old objects, and
// the first one's original.
std::string guessed_matches_text(NAME_DIFF const& diff);

// Compares the maps of `old_names` and `new_names`.
NAME_DIFF diff_names(DESIGN_NAMES& old_names, DESIGN_NAMES& new_names);

// MIGRATION: the table that rewrites a text from one revision's converted
// names to the next one's through the objects they name: every old name of
// an object maps to the object's new name; a name whose object is gone maps
// to itself and is reported (NOTE_GONE); a name that now names another
// object maps to its own object's new name and is reported (NOTE_MOVED).
class MIGRATION {
 public:
  MIGRATION(DESIGN_NAMES& old_names, DESIGN_NAMES& new_names);
  // From a differ that has taken both revisions.
  explicit MIGRATION(REVISION_DIFFER& differ);
  MIGRATION(MIGRATION const&) = delete;
  MIGRATION& operator=(MIGRATION const&) = delete;

  // Old converted names to new ones.
  TEXT_MAP const& table() const { return m_table; }
  std::size_t longest() const { return m_longest; }
  std::size_t deepest() const { return m_deepest; }

 private:
  void take(REVISION_DIFFER& differ);

  TEXT_ARENA m_texts;
  TEXT_MAP m_table;
  std::size_t m_longest = 0;
  std::size_t m_deepest = 0;
};

// Why one level of a name differs between two revisions.
struct LEVEL_CHANGE {
  std::string m_old;  // the level's segment in each revision
  std::string m_new;
  // What changed it: "unchanged", a sibling that entered or left before it
  // in byte order, a different unit name, or made-up names added or removed
  // before it in netlist order; one sentence.
  std::string m_why;
};

struct CHANGE_EXPLANATION {
  NAME_CHANGE m_change = NAME_CHANGE::RENAMED;
  bool m_unchanged = false;
  std::string m_old;       // the object's converted name in each revision,
  std::string m_new;       // empty where it does not exist
  std::string m_original;  // the object's original name
  // The original of the object that the old name names in the new revision,
  // when it names another one there (reused); else empty.
  std::string m_now_names;
  std::vector<LEVEL_CHANGE> m_levels;
};

// Why names changed from one revision to the next: the object a name names
// is found in both (by its original and role) and explained in each, level
// by level. Making one costs a pass over each revision's map; each name
// after that, two explanations.
class CHANGE_EXPLAINER {
 public:
  // The revisions must outlive this.
  CHANGE_EXPLAINER(DESIGN_NAMES& old_names, DESIGN_NAMES& new_names, PHASES& phases);
  ~CHANGE_EXPLAINER();
  CHANGE_EXPLAINER(CHANGE_EXPLAINER const&) = delete;
  CHANGE_EXPLAINER& operator=(CHANGE_EXPLAINER const&) = delete;

  // Why `name` (a converted name of either revision, or an original)
  // changed; nothing when it names nothing in either.
  std::optional<CHANGE_EXPLANATION> explain(std::string_view name);

 private:
  struct STATE;
  std::unique_ptr<STATE> m_state;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_DIFFER_H
