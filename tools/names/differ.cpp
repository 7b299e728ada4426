#include "tools/names/differ.h"

#include <algorithm>
#include <cstdint>
#include <future>
#include <optional>
#include <string>
#include <utility>

#include "tools/names/explainer.h"
#include "tools/support/hash_table.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_tool {
namespace {

constexpr std::uint32_t kNone = 0xffffffffu;

// What a row's object is, besides its original.
enum class ROLE : std::uint8_t { HIERARCHY, ATOM, OTERM };

// The role of a row's object, or nothing for a row that names no object.
std::optional<ROLE> role_of(MAP_ROW const& row) {
  if (!row.names_something()) return std::nullopt;
  if (row.m_origin == ORIGIN::HIERARCHY) return ROLE::HIERARCHY;
  return row.m_kind == MAP_KIND::OTERM ? ROLE::OTERM : ROLE::ATOM;
}

// An object of the old revision.
struct OLD_OBJECT {
  std::string_view m_converted;
  std::string_view m_original;
  std::string_view m_new;  // the converted name in the new revision, once matched and changed
  std::uint32_t m_next;    // the next old object of the same role and original
  ROLE m_role;
  bool m_matched;
  bool m_renamed;
};

// The objects of one role and original, in map order, and the next one a
// new object of that role and original takes.
struct OBJECTS_ENTRY {
  std::uint64_t m_hash;
  std::string_view m_original;
  ROLE m_role;
  std::uint32_t m_first;
  std::uint32_t m_last;
  std::uint32_t m_cursor;
  std::uint32_t m_old_count;  // of the old revision's objects
  std::uint32_t m_new_count;  // of the new revision's objects, as they come

  // Whether the matches are a guess: the objects that share the role and
  // original are more in one revision than in the other, so some came or
  // went and nothing says which. (Where their number stays, the k-th is
  // taken for the k-th, as a renumbering keeps them.)
  bool guessed() const {
    return m_old_count != m_new_count && (m_old_count > 1 || m_new_count > 1);
  }

  struct KEY {
    std::string_view m_original;
    ROLE m_role;
  };
  bool has_key(KEY const& key) const {
    return m_role == key.m_role && m_original == key.m_original;
  }
};

std::uint64_t hash_of_key(OBJECTS_ENTRY::KEY const& key) {
  std::uint64_t const h = hash_of(key.m_original) ^ (static_cast<std::uint64_t>(key.m_role) << 61);
  return h != 0 ? h : 1;
}

// Objects of a revision with their texts, a batch of them at a time.
class ROW_BATCH {
 public:
  // Adds an object; true once the batch is full.
  bool add(ROLE role, std::string_view converted, std::string_view original) {
    m_objects.push_back({role, converted.size(), original.size()});
    m_texts.append(converted).append(original);
    return m_objects.size() >= kObjects || m_texts.size() >= kTextBytes;
  }
  void clear() {
    m_objects.clear();
    m_texts.clear();
  }
  // Calls (to->*take)(role, converted, original) for each object in turn.
  template <class TO, class TAKE>
  void for_each(TO* to, TAKE take) const {
    std::string_view texts = m_texts;
    for (OBJECT const& object : m_objects) {
      std::string_view const converted = texts.substr(0, object.m_converted);
      std::string_view const original = texts.substr(object.m_converted, object.m_original);
      texts.remove_prefix(object.m_converted + object.m_original);
      (to->*take)(object.m_role, converted, original);
    }
  }

 private:
  static constexpr std::size_t kObjects = 8192;
  static constexpr std::size_t kTextBytes = std::size_t{1} << 20;

  struct OBJECT {
    ROLE m_role;
    std::size_t m_converted;  // text sizes
    std::size_t m_original;
  };
  std::vector<OBJECT> m_objects;
  std::string m_texts;
};

class DIFFER {
 public:
  explicit DIFFER(NAME_DIFF& diff) : m_diff(diff) {}

  // The old revision's objects, their texts kept; index_old() then finds
  // them.
  void take_old(MAP_ROWS const& rows) { pipe_rows(rows, &DIFFER::add_old); }

  // Matches each object of the new revision with the old one; gives the
  // added and the reused as they come.
  void take_new(MAP_ROWS const& rows) { pipe_rows(rows, &DIFFER::match); }

  // Calls (this->*take)(role, converted, original) for every object of
  // `rows`, in map order. The walk of the rows (which calls the library)
  // fills one batch while a thread of its own takes the one before (which
  // calls nothing of it).
  void pipe_rows(MAP_ROWS const& rows,
                 void (DIFFER::*take)(ROLE, std::string_view, std::string_view)) {
    ROW_BATCH batches[2];
    std::size_t filling = 0;
    std::future<void> taking;
    auto const hand_over = [&] {
      if (taking.valid()) taking.get();
      ROW_BATCH* const full = &batches[filling];
      taking = std::async(std::launch::async | std::launch::deferred,
                          [this, full, take] { full->for_each(this, take); });
      filling ^= 1;
      batches[filling].clear();
    };
    rows([&](MAP_ROW const& row) {
      std::optional<ROLE> const role = role_of(row);
      if (!role) return;
      // An object without an original (an atom the design leaves unnamed)
      // is known by the empty original, which no original is (an empty
      // level is written "\."): the k-th of them is matched with the k-th.
      std::string_view const original = row.m_original ? *row.m_original : std::string_view();
      if (batches[filling].add(*role, row.m_converted, original)) hand_over();
    });
    hand_over();
    taking.get();
  }

  void add_old(ROLE role, std::string_view converted, std::string_view original) {
    m_old.push_back({m_diff.m_texts.keep(converted), m_diff.m_texts.keep(original),
                     std::string_view(), kNone, role, false, false});
  }

  // Finds the old objects by role and original, and by converted name: the
  // last one of a name wins, as the map's reader does.
  void index_old() {
    m_objects.reserve(m_old.size());
    m_by_converted.reserve(m_old.size());
    for (std::uint32_t index = 0; index < m_old.size(); ++index) {
      OLD_OBJECT const& object = m_old[index];
      OBJECTS_ENTRY::KEY const key{object.m_original, object.m_role};
      bool inserted;
      OBJECTS_ENTRY* const entry = m_objects.insert(hash_of_key(key), key, &inserted);
      if (inserted) {
        entry->m_original = object.m_original;
        entry->m_role = object.m_role;
        entry->m_first = entry->m_cursor = index;
        entry->m_old_count = entry->m_new_count = 0;
      } else {
        m_old[entry->m_last].m_next = index;
      }
      entry->m_last = index;
      ++entry->m_old_count;
      if (!object.m_converted.empty()) {
        auto const named = m_by_converted.emplace(object.m_converted, index);
        if (!named.second) *named.first = index;
      }
    }
  }

  // One object of the new revision.
  void match(ROLE role, std::string_view converted, std::string_view original) {
    OBJECTS_ENTRY::KEY const key{original, role};
    OBJECTS_ENTRY* const entry = m_objects.find(hash_of_key(key), key);
    std::uint32_t match = kNone;
    if (entry != nullptr) ++entry->m_new_count;
    if (entry != nullptr && entry->m_cursor != kNone) {
      match = entry->m_cursor;
      entry->m_cursor = m_old[match].m_next;
      OLD_OBJECT& old = m_old[match];
      old.m_matched = true;
      if (old.m_converted != converted) {
        old.m_new = m_diff.m_texts.keep(converted);
        old.m_renamed = true;
      }
    }
    if (converted.empty()) return;
    // A name is reused when an old object had it and the object it names now
    // did not. Objects are told apart by their match, not by their original:
    // two objects may share an original (the k-th is matched with the k-th),
    // and two may share a name (an atom and its oterm, under the reversible
    // strategy), so the name's last old owner need not be the match.
    std::uint32_t const* const named = m_by_converted.find(converted);
    bool const kept = match != kNone && m_old[match].m_converted == converted;
    if (named != nullptr && !kept) {
      m_moved.emplace(*named, true);
      OLD_OBJECT const& before = m_old[*named];
      m_reused.push_back({NAME_CHANGE::REUSED, before.m_converted, before.m_converted,
                          before.m_original, m_diff.m_texts.keep(original)});
    }
    if (match == kNone) {
      m_added.push_back({NAME_CHANGE::ADDED, std::string_view(), m_diff.m_texts.keep(converted),
                         m_diff.m_texts.keep(original), std::string_view()});
    }
  }

  // Every old name to its object's new name, with a note where the object
  // is gone or the name names another object now.
  void fill(TEXT_MAP* table, std::size_t* longest, std::size_t* deepest) const {
    table->reserve(m_old.size());
    for (std::uint32_t i = 0; i < m_old.size(); ++i) {
      OLD_OBJECT const& old = m_old[i];
      if (old.m_converted.empty()) continue;
      std::string_view const value = old.m_renamed ? old.m_new : old.m_converted;
      if (old.m_converted.size() >= kLongestIndexedName || value.size() >= kLongestIndexedName) {
        throw TOOL_ERROR("migrate", "a name of 256 MiB or more cannot be migrated");
      }
      bool inserted;
      INDEX_ENTRY* const entry =
          table->insert(hash_of(old.m_converted), old.m_converted, &inserted);
      entry->m_key = old.m_converted.data();
      entry->m_key_size = static_cast<std::uint32_t>(old.m_converted.size());
      entry->m_value = value.data();
      entry->m_value_size = static_cast<std::uint32_t>(value.size());
      entry->m_note = !old.m_matched               ? NOTE_GONE
                      : m_moved.find(i) != nullptr ? NOTE_MOVED
                      : guessed(old)               ? NOTE_GUESSED
                                                   : NOTE_NONE;
      *longest = std::max(*longest, old.m_converted.size());
      *deepest = std::max<std::size_t>(
          *deepest, static_cast<std::size_t>(
                        std::count(old.m_converted.begin(), old.m_converted.end(), '/')) +
                        1);
    }
  }

  // The rows: reused by name, then renamed and removed in the old map's
  // order, then added in the new map's.
  void finish() {
    std::sort(m_reused.begin(), m_reused.end(),
              [](DIFF_ROW const& a, DIFF_ROW const& b) { return a.m_old < b.m_old; });
    std::size_t const changed = static_cast<std::size_t>(
        std::count_if(m_old.begin(), m_old.end(),
                      [](OLD_OBJECT const& old) { return !old.m_matched || old.m_renamed; }));
    std::vector<DIFF_ROW>& rows = m_diff.m_rows;
    rows.reserve(m_reused.size() + changed + m_added.size());
    rows.assign(m_reused.begin(), m_reused.end());
    for (OLD_OBJECT const& old : m_old) {
      if (!old.m_matched) {
        rows.push_back({NAME_CHANGE::REMOVED, old.m_converted, std::string_view(), old.m_original,
                        std::string_view()});
      } else if (old.m_renamed) {
        rows.push_back(
            {NAME_CHANGE::RENAMED, old.m_converted, old.m_new, old.m_original, std::string_view()});
      }
    }
    rows.insert(rows.end(), m_added.begin(), m_added.end());
    for (DIFF_ROW const& row : rows) ++m_diff.m_counts[static_cast<std::size_t>(row.m_change)];
    for (OLD_OBJECT const& old : m_old) {
      if (!old.m_matched || !guessed(old)) continue;
      if (m_diff.m_guessed++ == 0) m_diff.m_first_guessed = old.m_original;
    }
  }

  // Whether the old object's match, if any, is a guess (OBJECTS_ENTRY::guessed).
  bool guessed(OLD_OBJECT const& old) const {
    OBJECTS_ENTRY::KEY const key{old.m_original, old.m_role};
    OBJECTS_ENTRY const* const entry = m_objects.find(hash_of_key(key), key);
    return entry != nullptr && entry->guessed();
  }

 private:
  NAME_DIFF& m_diff;
  std::vector<OLD_OBJECT> m_old;
  HASH_TABLE<OBJECTS_ENTRY> m_objects;
  HASH_MAP<std::string_view, std::uint32_t> m_by_converted;  // the old names
  std::vector<DIFF_ROW> m_reused;
  std::vector<DIFF_ROW> m_added;
  ID_MAP<bool> m_moved;  // old objects whose name names another object now
};

}  // namespace

MAP_ROWS rows_of(DESIGN_NAMES& names) {
  return [&names](std::function<void(MAP_ROW const&)> const& visit) { names.for_each_row(visit); };
}

struct REVISION_DIFFER::STATE {
  NAME_DIFF m_diff;
  DIFFER m_differ{m_diff};
  std::future<void> m_indexing;

  // Waits for the old revision's index, and passes on what it threw.
  void indexed() {
    if (m_indexing.valid()) m_indexing.get();
  }
};

REVISION_DIFFER::REVISION_DIFFER() : m_state(std::make_unique<STATE>()) {}

// The index's future, destroyed first, waits for its thread.
REVISION_DIFFER::~REVISION_DIFFER() = default;

void REVISION_DIFFER::take_old(DESIGN_NAMES& names) { take_old(rows_of(names)); }

void REVISION_DIFFER::take_old(MAP_ROWS const& rows) {
  DIFFER& differ = m_state->m_differ;
  differ.take_old(rows);
  // Indexed while the caller loads the new revision.
  m_state->m_indexing =
      std::async(std::launch::async | std::launch::deferred, [&differ] { differ.index_old(); });
}

void REVISION_DIFFER::take_new(DESIGN_NAMES& names) { take_new(rows_of(names)); }

void REVISION_DIFFER::take_new(MAP_ROWS const& rows) {
  m_state->indexed();
  m_state->m_differ.take_new(rows);
}

NAME_DIFF REVISION_DIFFER::diff() {
  m_state->indexed();
  m_state->m_differ.finish();
  return std::move(m_state->m_diff);
}

MIGRATION::MIGRATION(REVISION_DIFFER& differ) { take(differ); }

MIGRATION::MIGRATION(DESIGN_NAMES& old_names, DESIGN_NAMES& new_names) {
  REVISION_DIFFER differ;
  differ.take_old(old_names);
  differ.take_new(new_names);
  take(differ);
}

void MIGRATION::take(REVISION_DIFFER& differ) {
  differ.m_state->indexed();
  differ.m_state->m_differ.fill(&m_table, &m_longest, &m_deepest);
  m_texts = std::move(differ.m_state->m_diff.m_texts);
}

std::string guessed_matches_text(NAME_DIFF const& diff) {
  std::string_view const first = diff.m_first_guessed;
  return decimal(diff.m_guessed) +
         (diff.m_guessed == 1 ? " old object shares" : " old objects share") +
         " an original with others that nothing tells apart; matched by their order, a guess "
         "(the first: " +
         (first.empty() ? std::string("an atom left unnamed") : quoted_text(first)) + ")";
}

NAME_DIFF diff_names(DESIGN_NAMES& old_names, DESIGN_NAMES& new_names) {
  REVISION_DIFFER differ;
  differ.take_old(old_names);
  differ.take_new(new_names);
  return differ.diff();
}

}  // namespace zema_tool

namespace zema_tool {
namespace {

// The objects of one revision, found by converted name or by what they are.
class REVISION_OBJECTS {
 public:
  explicit REVISION_OBJECTS(DESIGN_NAMES& names) {
    HASH_MAP<std::string_view, std::uint32_t> seen;  // role + original: the next occurrence
    std::string key;
    names.for_each_row([&](MAP_ROW const& row) {
      std::optional<ROLE> const role = role_of(row);
      if (!role) return;
      key.assign(1, static_cast<char>(*role));
      if (row.m_original) key.append(*row.m_original);
      std::string_view const kept_key = m_texts.keep(key);
      auto const counted = seen.emplace(kept_key, 0);
      std::uint32_t const occurrence = (*counted.first)++;
      std::uint32_t const index = static_cast<std::uint32_t>(m_objects.size());
      m_objects.push_back({kept_key, occurrence, m_texts.keep(row.m_converted), row.rank()});
      if (!row.m_converted.empty()) {
        auto const named = m_by_converted.emplace(m_objects.back().m_converted, index);
        if (!named.second) *named.first = index;
      }
      key.append(1, '\0').append(decimal(occurrence));
      m_by_key.emplace(m_texts.keep(key), index);
    });
  }

  struct OBJECT {
    std::string_view m_key;  // the role's byte, then the original
    std::uint32_t m_occurrence;
    std::string_view m_converted;
    unsigned m_rank;  // MAP_ROW::rank

    std::string_view original() const { return m_key.substr(1); }
  };

  // The object a converted name names (one leading backslash allowed).
  OBJECT const* by_converted(std::string_view name) const {
    if (!name.empty() && name[0] == '\\') name.remove_prefix(1);
    std::uint32_t const* const index = m_by_converted.find(name);
    return index != nullptr ? &m_objects[*index] : nullptr;
  }
  // The object of an original name, with or without its leading "/": the
  // one it stands for where several share it (MAP_ROW::rank), as explain
  // and translate take it.
  OBJECT const* by_original(std::string_view original) const {
    if (original.empty()) return nullptr;  // the key of objects without one
    for (std::string const& form : {std::string(original), "/" + std::string(original)}) {
      OBJECT const* best = nullptr;
      for (ROLE const role : {ROLE::HIERARCHY, ROLE::ATOM, ROLE::OTERM}) {
        OBJECT const* const found = same(role, form, 0);
        if (found != nullptr && (best == nullptr || found->m_rank > best->m_rank)) best = found;
      }
      if (best != nullptr) return best;
    }
    return nullptr;
  }
  // This revision's object that is `other` of the other revision.
  OBJECT const* same_as(OBJECT const& other) const {
    return same(static_cast<ROLE>(other.m_key[0]), other.original(), other.m_occurrence);
  }

 private:
  OBJECT const* same(ROLE role, std::string_view original, std::uint32_t occurrence) const {
    std::string key(1, static_cast<char>(role));
    key.append(original).append(1, '\0').append(decimal(occurrence));
    std::uint32_t const* const index = m_by_key.find(key);
    return index != nullptr ? &m_objects[*index] : nullptr;
  }

  TEXT_ARENA m_texts;
  std::vector<OBJECT> m_objects;
  HASH_MAP<std::string_view, std::uint32_t> m_by_converted;
  HASH_MAP<std::string_view, std::uint32_t> m_by_key;
};

// The holders of a level as "segment (original)", for a sentence.
std::string holders_text(std::vector<HOLDER const*> const& holders) {
  std::string text;
  for (HOLDER const* holder : holders) {
    if (!text.empty()) text += ", ";
    text +=
        holder->m_segment + " (" + (holder->m_original.empty() ? "-" : holder->m_original) + ")";
  }
  return text;
}

// Why a level's segment went from `before` to `after`.
std::string level_why(EXPLAINED_LEVEL const& before, EXPLAINED_LEVEL const& after) {
  if (before.m_segment == after.m_segment) return "unchanged";
  if (before.m_hierarchy != after.m_hierarchy) {
    return before.m_hierarchy ? "taken from the hierarchy before, made up now"
                              : "made up before, taken from the hierarchy now";
  }
  if (before.m_hierarchy && before.m_unit != after.m_unit) {
    return "its unit name changed: " + quoted_text(before.m_unit) + " -> " +
           quoted_text(after.m_unit);
  }
  if (!before.m_hierarchy && before.m_from != after.m_from) {
    if (before.m_rule == MADE_UP_RULE::ATOM_NODE) {
      return "its own node's converted name changed: " + before.m_from + " -> " + after.m_from;
    }
    char const* const kind =
        before.m_rule == MADE_UP_RULE::OTERM_NUMBER ? "made-up oterm" : "made-up atom";
    long const from = std::stol(before.m_from.empty() ? "0" : before.m_from);
    long const to = std::stol(after.m_from.empty() ? "0" : after.m_from);
    long const more = to - from;
    return "its number among " + std::string(kind) + " names went from " + before.m_from + " to " +
           after.m_from + ": " + decimal(static_cast<std::uint64_t>(more < 0 ? -more : more)) +
           (more < 0 ? " fewer " : " more ") + kind +
           (more == 1 || more == -1 ? " name comes" : " names come") +
           " before it in netlist order";
  }
  // The same base, another suffix: siblings before it in byte order came or
  // went.
  // A holder is its original and whether it is of the hierarchy; each side's
  // are found in tables of the other's, so that a group of thousands of
  // names that legalise alike takes time linear in its size.
  struct HOLDERS {
    explicit HOLDERS(std::vector<HOLDER> const& holders) {
      for (HOLDER const& holder : holders)
        m_of[holder.m_hierarchy].emplace(holder.m_original, true);
    }
    bool has(HOLDER const& holder) const {
      return m_of[holder.m_hierarchy].find(holder.m_original) != nullptr;
    }
    HASH_MAP<std::string_view, bool> m_of[2];  // made up, of the hierarchy
  };
  HOLDERS const had(before.m_holders);
  HOLDERS const has(after.m_holders);
  std::vector<HOLDER const*> entered;
  std::vector<HOLDER const*> left;
  for (HOLDER const& holder : after.m_holders) {
    if (!had.has(holder)) entered.push_back(&holder);
  }
  for (HOLDER const& holder : before.m_holders) {
    if (!has.has(holder)) left.push_back(&holder);
  }
  std::string why = "its uniquing suffix changed";
  if (!entered.empty()) why += "; now named before it: " + holders_text(entered);
  if (!left.empty()) why += "; no longer named before it: " + holders_text(left);
  return why;
}

}  // namespace

struct CHANGE_EXPLAINER::STATE {
  STATE(DESIGN_NAMES& old_names, DESIGN_NAMES& new_names, PHASES& phases)
      : m_before(old_names),
        m_after(new_names),
        m_old_explainer(old_names.source(phases)),
        m_new_explainer(new_names.source(phases)) {}

  REVISION_OBJECTS const m_before;
  REVISION_OBJECTS const m_after;
  EXPLAINER m_old_explainer;
  EXPLAINER m_new_explainer;
};

CHANGE_EXPLAINER::CHANGE_EXPLAINER(DESIGN_NAMES& old_names, DESIGN_NAMES& new_names, PHASES& phases)
    : m_state(std::make_unique<STATE>(old_names, new_names, phases)) {}

CHANGE_EXPLAINER::~CHANGE_EXPLAINER() = default;

std::optional<CHANGE_EXPLANATION> CHANGE_EXPLAINER::explain(std::string_view name) {
  REVISION_OBJECTS const& before = m_state->m_before;
  REVISION_OBJECTS const& after = m_state->m_after;
  CHANGE_EXPLANATION change;
  REVISION_OBJECTS::OBJECT const* old_object = before.by_converted(name);
  REVISION_OBJECTS::OBJECT const* new_object = nullptr;
  if (old_object == nullptr) old_object = before.by_original(name);
  if (old_object != nullptr) {
    new_object = after.same_as(*old_object);
    // The old name, given as it is, may name another object now.
    REVISION_OBJECTS::OBJECT const* const now = after.by_converted(name);
    if (now != nullptr && now != new_object && before.by_converted(name) == old_object) {
      change.m_now_names = std::string(now->original());
    }
  } else {
    new_object = after.by_converted(name);
    if (new_object == nullptr) new_object = after.by_original(name);
    if (new_object == nullptr) return std::nullopt;
    // A name of the new revision only may be an old object's new name.
    old_object = before.same_as(*new_object);
  }
  change.m_original = std::string((old_object != nullptr ? old_object : new_object)->original());
  if (old_object != nullptr) change.m_old = std::string(old_object->m_converted);
  if (new_object != nullptr) change.m_new = std::string(new_object->m_converted);
  change.m_change = old_object == nullptr         ? NAME_CHANGE::ADDED
                    : new_object == nullptr       ? NAME_CHANGE::REMOVED
                    : !change.m_now_names.empty() ? NAME_CHANGE::REUSED
                                                  : NAME_CHANGE::RENAMED;
  change.m_unchanged =
      old_object != nullptr && new_object != nullptr && change.m_old == change.m_new;
  if (change.m_old.empty() || change.m_new.empty()) return change;
  std::optional<EXPLANATION> const was = m_state->m_old_explainer.explain(change.m_old);
  std::optional<EXPLANATION> const is = m_state->m_new_explainer.explain(change.m_new);
  if (!was || !is) return change;
  std::size_t const depth = std::max(was->m_levels.size(), is->m_levels.size());
  for (std::size_t i = 0; i < depth; ++i) {
    bool const in_old = i < was->m_levels.size();
    bool const in_new = i < is->m_levels.size();
    LEVEL_CHANGE level;
    if (in_old) level.m_old = was->m_levels[i].m_segment;
    if (in_new) level.m_new = is->m_levels[i].m_segment;
    level.m_why = !in_new   ? "a level of the old name only"
                  : !in_old ? "a level of the new name only"
                            : level_why(was->m_levels[i], is->m_levels[i]);
    change.m_levels.push_back(std::move(level));
  }
  return change;
}

}  // namespace zema_tool
