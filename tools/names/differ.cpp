#include "tools/names/differ.h"

#include <algorithm>
#include <cstdint>
#include <optional>

#include "tools/support/hash_table.h"

namespace zema_tool {
namespace {

constexpr std::uint32_t kNone = 0xffffffffu;

// What a row's object is, besides its original.
enum class ROLE : std::uint8_t { HIERARCHY, ATOM, OTERM };

// The role of a row's object, or nothing for a row that names no object.
std::optional<ROLE> role_of(MAP_ROW const& row) {
  if (!row.names_something() || !row.m_original) return std::nullopt;
  if (row.m_origin == ORIGIN::HIERARCHY) return ROLE::HIERARCHY;
  return row.m_kind == MAP_KIND::OTERM ? ROLE::OTERM : ROLE::ATOM;
}

// An object of the old revision.
struct OLD_OBJECT {
  std::string_view m_converted;
  std::string_view m_original;
  std::string_view m_new;  // the converted name in the new revision, once matched and changed
  std::uint32_t m_next;    // the next old object of the same role and original
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

class DIFFER {
 public:
  explicit DIFFER(NAME_DIFF& diff) : m_diff(diff) {}

  // The old revision's objects, their texts kept.
  void take_old(DESIGN_NAMES& names) {
    names.for_each_row([&](MAP_ROW const& row) {
      std::optional<ROLE> const role = role_of(row);
      if (!role) return;
      std::uint32_t const index = static_cast<std::uint32_t>(m_old.size());
      OLD_OBJECT object{m_diff.m_texts.keep(row.m_converted),
                        m_diff.m_texts.keep(*row.m_original), std::string_view(), kNone, false,
                        false};
      OBJECTS_ENTRY::KEY const key{object.m_original, *role};
      bool inserted;
      OBJECTS_ENTRY* const entry = m_objects.insert(hash_of_key(key), key, &inserted);
      if (inserted) {
        entry->m_original = object.m_original;
        entry->m_role = *role;
        entry->m_first = entry->m_cursor = index;
      } else {
        m_old[entry->m_last].m_next = index;
      }
      entry->m_last = index;
      m_old.push_back(object);
      if (!object.m_converted.empty()) {
        auto const named = m_by_converted.emplace(object.m_converted, index);
        if (!named.second) *named.first = index;
      }
    });
  }

  // Matches each object of the new revision with the old one; gives the
  // added and the reused as they come.
  void take_new(DESIGN_NAMES& names) {
    names.for_each_row([&](MAP_ROW const& row) {
      std::optional<ROLE> const role = role_of(row);
      if (!role) return;
      OBJECTS_ENTRY::KEY const key{*row.m_original, *role};
      OBJECTS_ENTRY* const entry = m_objects.find(hash_of_key(key), key);
      std::uint32_t match = kNone;
      if (entry != nullptr && entry->m_cursor != kNone) {
        match = entry->m_cursor;
        entry->m_cursor = m_old[match].m_next;
        OLD_OBJECT& old = m_old[match];
        old.m_matched = true;
        if (old.m_converted != row.m_converted) {
          old.m_new = m_diff.m_texts.keep(row.m_converted);
          old.m_renamed = true;
        }
      }
      if (row.m_converted.empty()) return;
      std::uint32_t const* const named = m_by_converted.find(row.m_converted);
      if (named != nullptr && *named != match) {
        OLD_OBJECT const& before = m_old[*named];
        m_reused.push_back({NAME_CHANGE::REUSED, before.m_converted, before.m_converted,
                            before.m_original, m_diff.m_texts.keep(*row.m_original)});
      }
      if (match == kNone) {
        m_added.push_back({NAME_CHANGE::ADDED, std::string_view(),
                           m_diff.m_texts.keep(row.m_converted),
                           m_diff.m_texts.keep(*row.m_original), std::string_view()});
      }
    });
  }

  // The rows: reused by name, then renamed and removed in the old map's
  // order, then added in the new map's.
  void finish() {
    std::sort(m_reused.begin(), m_reused.end(),
              [](DIFF_ROW const& a, DIFF_ROW const& b) { return a.m_old < b.m_old; });
    std::vector<DIFF_ROW>& rows = m_diff.m_rows;
    rows = std::move(m_reused);
    for (OLD_OBJECT const& old : m_old) {
      if (!old.m_matched) {
        rows.push_back({NAME_CHANGE::REMOVED, old.m_converted, std::string_view(),
                        old.m_original, std::string_view()});
      } else if (old.m_renamed) {
        rows.push_back({NAME_CHANGE::RENAMED, old.m_converted, old.m_new, old.m_original,
                        std::string_view()});
      }
    }
    rows.insert(rows.end(), m_added.begin(), m_added.end());
    for (DIFF_ROW const& row : rows) ++m_diff.m_counts[static_cast<std::size_t>(row.m_change)];
  }

 private:
  NAME_DIFF& m_diff;
  std::vector<OLD_OBJECT> m_old;
  HASH_TABLE<OBJECTS_ENTRY> m_objects;
  HASH_MAP<std::string_view, std::uint32_t> m_by_converted;  // the old names
  std::vector<DIFF_ROW> m_reused;
  std::vector<DIFF_ROW> m_added;
};

}  // namespace

NAME_DIFF diff_names(DESIGN_NAMES& old_names, DESIGN_NAMES& new_names) {
  NAME_DIFF diff;
  DIFFER differ(diff);
  differ.take_old(old_names);
  differ.take_new(new_names);
  differ.finish();
  return diff;
}

}  // namespace zema_tool
