// Host design database: the instance hierarchy, its names and ids, and the
// compile action point whose root instance is the top of the design.
//
// These classes are interfaces: the host derives its own objects from them and
// implements every operation. Callers only borrow the objects.
#ifndef H_HDB_SYS_H
#define H_HDB_SYS_H

#include "h/gen_sys.h"

class HDB_INSTANCE_NAME;

// A unit name: the text of one hierarchy level.
class HDB_IDENTIFIER {
 public:
  explicit HDB_IDENTIFIER(char const* text = "") : m_text(text) {}
  // The NUL-terminated text; never null.
  char const* get_string() const;

 private:
  char const* m_text;
};

// Walks the direct children of one instance name in database order.
class HDB_CONST_NAME_ITERATOR {
 public:
  explicit HDB_CONST_NAME_ITERATOR(void const* cursor = nullptr) : m_cursor(cursor) {}
  // Out of line: the host's iterator may own what it walks.
  ~HDB_CONST_NAME_ITERATOR();  // NOLINT(performance-trivially-destructible)
  HDB_CONST_NAME_ITERATOR(HDB_CONST_NAME_ITERATOR const&) = default;
  HDB_CONST_NAME_ITERATOR& operator=(HDB_CONST_NAME_ITERATOR const&) = default;

  bool operator!=(HDB_CONST_NAME_ITERATOR const& other) const;
  HDB_INSTANCE_NAME const* operator*() const;
  HDB_CONST_NAME_ITERATOR& operator++();

 private:
  void const* m_cursor;
};

// Formats of a short hierarchical path: the unit names below the root,
// joined by "/".
enum HDB_HPATH_FORMAT_TYPE {
  // Unit names as they are; ambiguous when names contain "/".
  HDB_HPATH_FORMAT_DISPLAY = 0,
  // Unambiguous: "/" and "\" inside names are escaped with "\", an empty unit
  // name is written "\.", and a sibling that repeats an earlier sibling's unit
  // name carries "\#k" (its k-th repeat). find_in_descendants resolves it.
  HDB_HPATH_FORMAT_UNAMBIGUOUS = 1
};

// One node of the design's instance hierarchy.
class HDB_INSTANCE_NAME {
 public:
  HDB_IDENTIFIER const& get_unit_name() const;
  // Children in database order; the instance has children when these differ.
  HDB_CONST_NAME_ITERATOR begin_child() const;
  HDB_CONST_NAME_ITERATOR end_child() const;
  // Replaces the content of *out with this instance's short hierarchical path
  // in `format` and gives *out back. The root's path is empty.
  GEN_STRING& get_short_hpath(GEN_STRING* out, HDB_HPATH_FORMAT_TYPE format) const;
  // The descendant that `path` names in the unambiguous format, or null. With
  // `unambiguous` false the path is read in the display format instead.
  HDB_INSTANCE_NAME const* find_in_descendants(GEN_STRING const& path, bool unambiguous) const;

 protected:
  HDB_INSTANCE_NAME() = default;
  ~HDB_INSTANCE_NAME() = default;
};

// Gives every instance name its id.
class HDB_NAME_MGR {
 public:
  // The id registered for `name`; 0 for an unregistered name and for null.
  static unsigned get_iname_id(HDB_INSTANCE_NAME const* name);
};

class HDB_ACTION_PT_INSTANCE {
 public:
  // The root of the design hierarchy, or null.
  HDB_INSTANCE_NAME const* get_m_rooted_at() const;

 protected:
  HDB_ACTION_PT_INSTANCE() = default;
  ~HDB_ACTION_PT_INSTANCE() = default;
};

// The compile action point a converter is initialised with.
class HDB_CMP_ACTION_PT_INSTANCE : public HDB_ACTION_PT_INSTANCE {
 protected:
  HDB_CMP_ACTION_PT_INSTANCE() = default;
  ~HDB_CMP_ACTION_PT_INSTANCE() = default;
};

#endif  // H_HDB_SYS_H
