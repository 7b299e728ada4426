// The reference host's in-memory design database: instance names in a
// hierarchy, free-standing names, the atom netlist with its oterms, and the
// compile action point, all owned by a zema_host::DESIGN.
//
// Designs reach a million instances and a million atoms, and the first touch of
// fresh memory is what costs most, so objects are small and come from arenas
// of large blocks: unit-name texts from a text arena, oterm sequences from a
// pointer arena, children as one pointer array per parent (leaves have none).
// The per-parent lookup index behind find_in_descendants and the twin ranks
// behind get_short_hpath are built lazily, on the first query below a parent.
#include "host/zema_host.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <boost/container_hash/hash.hpp>
#include <boost/unordered/unordered_flat_map.hpp>

#include "h/msg_sys.h"
#include "h/orb_sys.h"
#include "host/host_internal.h"

namespace {

// Objects of one type at stable addresses, in blocks that grow from small (a
// test design stays small) to large (a big design makes few allocations).
template <class T>
class OBJECT_ARENA {
 public:
  OBJECT_ARENA() = default;
  OBJECT_ARENA(OBJECT_ARENA const&) = delete;
  OBJECT_ARENA& operator=(OBJECT_ARENA const&) = delete;
  ~OBJECT_ARENA() {
    for (BLOCK& block : m_blocks) {
      for (std::size_t i = 0; i < block.m_used; ++i) block.m_items[i].~T();
      ::operator delete(block.m_items);
    }
  }

  template <class... ARGS>
  T* make(ARGS&&... args) {
    if (m_blocks.empty() || m_blocks.back().m_used == m_blocks.back().m_capacity) {
      add_block(m_next_capacity);
      if (m_next_capacity < kMaxBlock) m_next_capacity *= 2;
    }
    BLOCK& block = m_blocks.back();
    T* object = new (block.m_items + block.m_used) T(std::forward<ARGS>(args)...);
    ++block.m_used;
    return object;
  }

  // Makes room for `count` more objects in one block. Pages of a block are
  // only paid for when objects are made in them, or when DESIGN::reserve
  // populates them.
  void reserve(std::size_t count) {
    std::size_t room = m_blocks.empty() ? 0 : m_blocks.back().m_capacity - m_blocks.back().m_used;
    if (count > room) add_block(count);
  }

  // The bytes where the next objects will be made: the rest of the last block.
  std::pair<char*, char*> room() const {
    if (m_blocks.empty()) return {nullptr, nullptr};
    BLOCK const& block = m_blocks.back();
    return {reinterpret_cast<char*>(block.m_items + block.m_used),
            reinterpret_cast<char*>(block.m_items + block.m_capacity)};
  }

 private:
  static constexpr std::size_t kMaxBlock = std::size_t{64} * 1024;

  struct BLOCK {
    T* m_items;
    std::size_t m_used;
    std::size_t m_capacity;
  };

  void add_block(std::size_t capacity) {
    if (capacity > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    m_blocks.reserve(m_blocks.size() + 1);
    T* items = static_cast<T*>(::operator new(capacity * sizeof(T)));
    m_blocks.push_back({items, 0, capacity});
  }

  std::vector<BLOCK> m_blocks;
  std::size_t m_next_capacity = 64;
};

// Copies of unit-name texts, packed into 64 KiB blocks. Texts that lie in an
// adopted block are kept where they are.
class TEXT_ARENA {
 public:
  void adopt(std::vector<char> texts) {
    if (texts.empty()) return;
    m_adopted.push_back(std::move(texts));
  }

  char const* copy(char const* text) {
    if (text == nullptr || text[0] == '\0') return "";
    for (std::vector<char> const& adopted : m_adopted) {
      if (text >= adopted.data() && text < adopted.data() + adopted.size()) return text;
    }
    std::size_t need = std::strlen(text) + 1;
    if (need > m_left) {
      if (need > kBlockSize / 4) {
        // A long text gets a block of its own; the current block keeps its room.
        char* stored = add_block(need);
        std::memcpy(stored, text, need);
        return stored;
      }
      m_free = add_block(kBlockSize);
      m_left = kBlockSize;
    }
    char* stored = m_free;
    std::memcpy(stored, text, need);
    m_free += need;
    m_left -= need;
    return stored;
  }

 private:
  static constexpr std::size_t kBlockSize = std::size_t{64} * 1024;

  char* add_block(std::size_t size) {
    std::unique_ptr<char[]> block(new char[size]);
    m_blocks.push_back(std::move(block));
    return m_blocks.back().get();
  }

  std::vector<std::unique_ptr<char[]>> m_blocks;
  std::vector<std::vector<char>> m_adopted;
  char* m_free = nullptr;
  std::size_t m_left = 0;
};

// Pointer sequences that grow one entry at a time: the oterms of an atom,
// the children of an instance. A sequence that ends where the arena's free
// room starts grows in place, so sequences built one after the other waste
// nothing; any other sequence moves to a copy of twice its capacity. A
// sequence reserved at its final size never moves.
template <class T>
class SLOT_ARENA {
 public:
  // Makes room for one more entry in `slots`, which holds `capacity` entries,
  // and gives the (possibly moved) sequence back.
  T* grow(T* slots, unsigned count, unsigned* capacity) {
    if (slots != nullptr && slots == m_top && slots + *capacity == m_free && m_left > 0) {
      ++m_free;
      --m_left;
      ++*capacity;
      return slots;
    }
    return resize(slots, count, capacity, *capacity == 0 ? 1 : *capacity * 2);
  }

  // Gives `slots` room for `wanted` entries in all, moving it if needed.
  T* resize(T* slots, unsigned count, unsigned* capacity, unsigned wanted) {
    if (wanted <= *capacity) return slots;
    if (wanted > m_left) add_block(wanted > kBlockSlots ? wanted : kBlockSlots);
    T* moved = m_free;
    if (count != 0) std::copy(slots, slots + count, moved);
    m_top = moved;
    m_free += wanted;
    m_left -= wanted;
    *capacity = wanted;
    return moved;
  }

  void reserve(std::size_t count) {
    if (count > m_left) add_block(count);
  }

  // The bytes where the next entries will go.
  std::pair<char*, char*> room() const {
    return {reinterpret_cast<char*>(m_free), reinterpret_cast<char*>(m_free + m_left)};
  }

 private:
  static constexpr std::size_t kBlockSlots = std::size_t{16} * 1024;

  void add_block(std::size_t size) {
    std::unique_ptr<T[]> block(new T[size]);
    m_blocks.push_back(std::move(block));
    m_free = m_blocks.back().get();
    m_left = size;
    m_top = nullptr;
  }

  std::vector<std::unique_ptr<T[]>> m_blocks;
  T* m_top = nullptr;  // the sequence that ends at m_free, if any
  T* m_free = nullptr;
  std::size_t m_left = 0;
};

typedef SLOT_ARENA<CDB_ATOM_OTERM*> POINTER_ARENA;
typedef SLOT_ARENA<HDB_INSTANCE_NAME const*> CHILD_ARENA;

struct CHILD_LIST;

class HOST_INAME final : public HDB_INSTANCE_NAME {
 public:
  HOST_INAME(char const* unit_name, HOST_INAME* parent, unsigned id)
      : m_unit_name(unit_name), m_parent(parent), m_id(id), m_twin_rank(0), m_ranked(0) {}

  HDB_IDENTIFIER m_unit_name;
  HOST_INAME* m_parent;
  CHILD_LIST* m_children = nullptr;
  unsigned m_id;
  // How many earlier siblings share this unit name; valid once the parent's
  // index covers this child, which m_ranked tells without a visit to the
  // parent's list.
  unsigned m_twin_rank : 31;
  unsigned m_ranked : 1;
  // For the first sibling of a unit name: how many indexed siblings share it.
  unsigned m_twin_count = 0;
};

HOST_INAME const* host(HDB_INSTANCE_NAME const* name) {
  return static_cast<HOST_INAME const*>(name);
}

// A child's key in its parent's index: its unit name, with the name's hash
// computed once, and its twin rank.
struct CHILD_KEY {
  char const* m_name;
  std::uint32_t m_name_hash;
  std::uint32_t m_rank;
};

struct CHILD_KEY_HASH {
  std::size_t operator()(CHILD_KEY const& key) const {
    std::size_t seed = key.m_name_hash;
    boost::hash_combine(seed, key.m_rank);
    return seed;
  }
};

struct CHILD_KEY_EQUAL {
  bool operator()(CHILD_KEY const& a, CHILD_KEY const& b) const {
    return a.m_rank == b.m_rank && a.m_name_hash == b.m_name_hash &&
           std::strcmp(a.m_name, b.m_name) == 0;
  }
};

// The children of one instance in database order, with a lookup index by
// (unit name, twin rank) to each child's position. The index follows
// appended children incrementally, so twin ranks never change once given.
struct CHILD_LIST {
  // The children in database order, null entries allowed; from the design's
  // CHILD_ARENA.
  HDB_INSTANCE_NAME const** m_items = nullptr;
  unsigned m_count = 0;
  unsigned m_capacity = 0;
  boost::unordered_flat_map<CHILD_KEY, std::uint32_t, CHILD_KEY_HASH, CHILD_KEY_EQUAL> m_index;
  std::uint32_t m_indexed = 0;  // m_items below this are indexed

  void append(HDB_INSTANCE_NAME const* child, CHILD_ARENA* arena) {
    if (m_count == m_capacity) m_items = arena->grow(m_items, m_count, &m_capacity);
    m_items[m_count++] = child;
  }

  HOST_INAME* find(char const* name, std::uint32_t name_hash, std::uint32_t rank) const {
    auto const found = m_index.find(CHILD_KEY{name, name_hash, rank});
    if (found == m_index.end()) return nullptr;
    return const_cast<HOST_INAME*>(host(m_items[found->second]));
  }

  // Brings the index and the twin ranks up to date with m_items.
  void update_index() {
    if (m_indexed == m_count) return;
    m_index.reserve(m_index.size() + (m_count - m_indexed));
    ORB_CSTR_OPS ops;
    for (; m_indexed < m_count; ++m_indexed) {
      HOST_INAME* child = const_cast<HOST_INAME*>(host(m_items[m_indexed]));
      if (child == nullptr) continue;
      char const* name = child->m_unit_name.get_string();
      std::uint32_t name_hash = ops.hash(name);
      HOST_INAME* first = find(name, name_hash, 0);
      if (first != nullptr) {
        child->m_twin_rank = first->m_twin_count++;
      } else {
        child->m_twin_rank = 0;
        child->m_twin_count = 1;
      }
      child->m_ranked = 1;
      m_index.emplace(CHILD_KEY{name, name_hash, child->m_twin_rank}, m_indexed);
    }
  }

  HOST_INAME const* lookup(char const* name, std::uint32_t rank) {
    update_index();
    return find(name, ORB_CSTR_OPS().hash(name), rank);
  }
};

unsigned twin_rank(HOST_INAME const* name) {
  if (name->m_ranked) return name->m_twin_rank;
  if (name->m_parent == nullptr || name->m_parent->m_children == nullptr) return 0;
  name->m_parent->m_children->update_index();
  return name->m_twin_rank;
}

HOST_INAME const* lookup_child(HOST_INAME const* parent, char const* name, unsigned rank) {
  return parent->m_children != nullptr ? parent->m_children->lookup(name, rank) : nullptr;
}

template <class STRING>
void append_escaped_name(STRING* out, char const* name) {
  if (name[0] == '\0') {
    out->append("\\.");
    return;
  }
  // Most names have nothing to escape: they are appended a run at a time.
  for (char const* p = name;;) {
    std::size_t const run = std::strcspn(p, "/\\");
    out->append(p, run);
    p += run;
    if (*p == '\0') return;
    out->push_back('\\');
    out->push_back(*p++);
  }
}

template <class STRING>
void append_twin_suffix(STRING* out, unsigned rank) {
  char digits[16];
  char* end = digits + sizeof digits;
  char* p = end;
  do {
    *--p = static_cast<char>('0' + rank % 10);
    rank /= 10;
  } while (rank != 0);
  out->append("\\#");
  out->append(p, static_cast<std::size_t>(end - p));
}

}  // namespace

bool zema_host::parse_unambiguous_level(std::string_view path, std::size_t* pos, std::string* name,
                                        unsigned* rank) {
  std::size_t i = *pos;
  std::size_t n = path.size();
  bool has_text = false;
  bool empty_marker = false;
  bool has_rank = false;
  name->clear();
  *rank = 0;
  while (i < n && path[i] != '/') {
    char c = path[i];
    if (has_rank) return false;   // "\#k" ends a level
    if (c == '\0') return false;  // no unit name holds a NUL
    if (c != '\\') {
      if (empty_marker) return false;
      name->push_back(c);
      has_text = true;
      ++i;
      continue;
    }
    if (i + 1 >= n) return false;
    char escaped = path[i + 1];
    i += 2;
    if (escaped == '/' || escaped == '\\') {
      if (empty_marker) return false;
      name->push_back(escaped);
      has_text = true;
    } else if (escaped == '.') {
      if (has_text || empty_marker) return false;
      empty_marker = true;
    } else if (escaped == '#') {
      // Only repeats are numbered, from 1, without leading zeros.
      if (!has_text && !empty_marker) return false;
      if (i >= n || path[i] < '1' || path[i] > '9') return false;
      std::uint64_t value = 0;
      for (; i < n && path[i] >= '0' && path[i] <= '9'; ++i) {
        value = value * 10 + static_cast<unsigned>(path[i] - '0');
        if (value > 0xffffffffu) return false;
      }
      *rank = static_cast<unsigned>(value);
      has_rank = true;
    } else {
      return false;
    }
  }
  *pos = i;
  return has_text || empty_marker;
}

namespace {

HOST_INAME const* find_unambiguous(HOST_INAME const* from, GEN_STRING const& path) {
  if (path.empty()) return nullptr;
  std::string name;
  HOST_INAME const* current = from;
  std::size_t pos = 0;
  for (;;) {
    unsigned rank;
    if (!zema_host::parse_unambiguous_level(path, &pos, &name, &rank)) return nullptr;
    current = lookup_child(current, name.c_str(), rank);
    if (current == nullptr) return nullptr;
    if (pos == path.size()) return current;
    ++pos;  // the separating "/"
  }
}

HOST_INAME const* find_display(HOST_INAME const* from, GEN_STRING const& path) {
  if (path.empty()) return nullptr;
  std::string name;
  HOST_INAME const* current = from;
  std::size_t pos = 0;
  for (;;) {
    std::size_t slash = path.find('/', pos);
    std::size_t end = slash == GEN_STRING::npos ? path.size() : slash;
    name.assign(path.data() + pos, end - pos);
    if (name.find('\0') != std::string::npos) return nullptr;
    current = lookup_child(current, name.c_str(), 0);
    if (current == nullptr || slash == GEN_STRING::npos) return current;
    pos = slash + 1;
  }
}

class HOST_ATOM final : public CDB_ATOM_NODE {
 public:
  HOST_ATOM(CDB_ATOM_BASIC_TYPE type, HDB_INSTANCE_NAME const* name) {
    m_basic_type = type;
    m_instance_name = name;
  }

  void reserve_oterms(unsigned count, POINTER_ARENA* arena) {
    m_oterms = arena->resize(m_oterms, m_oterm_count, &m_capacity, count);
  }

  void append_oterm(CDB_ATOM_OTERM* oterm, POINTER_ARENA* arena) {
    if (m_oterm_count == m_capacity) m_oterms = arena->grow(m_oterms, m_oterm_count, &m_capacity);
    m_oterms[m_oterm_count++] = oterm;
  }

 private:
  unsigned m_capacity = 0;
};

class HOST_OTERM final : public CDB_ATOM_OTERM {
 public:
  HOST_OTERM(CDB_ATOM_NODE* node, HDB_INSTANCE_NAME const* name) {
    m_node = node;
    m_instance_name = name;
  }
};

class HOST_NETLIST final : public CDB_ATOM_NETLIST {
 public:
  CDB_ATOM_NODE_LINK* m_first = nullptr;
  CDB_ATOM_NODE_LINK* m_last = nullptr;
};

class HOST_ACTION_POINT final : public HDB_CMP_ACTION_PT_INSTANCE {
 public:
  HOST_INAME const* m_root = nullptr;
};

void report(char const* condition, int line) {
  MSG_INTERNAL_ERROR::report(condition, "HOST", __FILE__, line);
}

}  // namespace

// --- Design database interface -------------------------------------------------

char const* HDB_IDENTIFIER::get_string() const { return m_text != nullptr ? m_text : ""; }

HDB_CONST_NAME_ITERATOR::~HDB_CONST_NAME_ITERATOR() = default;

bool HDB_CONST_NAME_ITERATOR::operator!=(HDB_CONST_NAME_ITERATOR const& other) const {
  return m_cursor != other.m_cursor;
}

HDB_INSTANCE_NAME const* HDB_CONST_NAME_ITERATOR::operator*() const {
  return *static_cast<HDB_INSTANCE_NAME const* const*>(m_cursor);
}

HDB_CONST_NAME_ITERATOR& HDB_CONST_NAME_ITERATOR::operator++() {
  m_cursor = static_cast<HDB_INSTANCE_NAME const* const*>(m_cursor) + 1;
  return *this;
}

HDB_IDENTIFIER const& HDB_INSTANCE_NAME::get_unit_name() const { return host(this)->m_unit_name; }

HDB_CONST_NAME_ITERATOR HDB_INSTANCE_NAME::begin_child() const {
  CHILD_LIST const* children = host(this)->m_children;
  return HDB_CONST_NAME_ITERATOR(children != nullptr ? children->m_items : nullptr);
}

HDB_CONST_NAME_ITERATOR HDB_INSTANCE_NAME::end_child() const {
  CHILD_LIST const* children = host(this)->m_children;
  return HDB_CONST_NAME_ITERATOR(children != nullptr ? children->m_items + children->m_count
                                                     : nullptr);
}

GEN_STRING& HDB_INSTANCE_NAME::get_short_hpath(GEN_STRING* out,
                                               HDB_HPATH_FORMAT_TYPE format) const {
  // Levels are collected leaf first; one scratch list serves every call.
  static std::vector<HOST_INAME const*>* s_levels = new std::vector<HOST_INAME const*>;
  std::vector<HOST_INAME const*>& levels = *s_levels;
  levels.clear();
  for (HOST_INAME const* name = host(this); name->m_parent != nullptr; name = name->m_parent) {
    levels.push_back(name);
  }
  out->clear();
  for (std::size_t i = levels.size(); i-- > 0;) {
    HOST_INAME const* level = levels[i];
    if (i + 1 != levels.size()) out->push_back('/');
    if (format == HDB_HPATH_FORMAT_UNAMBIGUOUS) {
      append_escaped_name(out, level->m_unit_name.get_string());
      unsigned rank = twin_rank(level);
      if (rank != 0) append_twin_suffix(out, rank);
    } else {
      out->append(level->m_unit_name.get_string());
    }
  }
  return *out;
}

HDB_INSTANCE_NAME const* HDB_INSTANCE_NAME::find_in_descendants(GEN_STRING const& path,
                                                                bool unambiguous) const {
  if (zema_host::internal::call_log_on()) {
    zema_host::internal::log_call("find_in_descendants", path.c_str(), -1, unambiguous, false);
  }
  return unambiguous ? find_unambiguous(host(this), path) : find_display(host(this), path);
}

unsigned HDB_NAME_MGR::get_iname_id(HDB_INSTANCE_NAME const* name) {
  return name != nullptr ? host(name)->m_id : 0;
}

HDB_INSTANCE_NAME const* HDB_ACTION_PT_INSTANCE::get_m_rooted_at() const {
  return static_cast<HOST_ACTION_POINT const*>(this)->m_root;
}

// --- Atom netlist interface ----------------------------------------------------

CDB_ATOM_OTERM::~CDB_ATOM_OTERM() = default;

HDB_INSTANCE_NAME const* CDB_ATOM_OTERM::get_instance_name() const { return m_instance_name; }

CDB_ATOM_NODE* CDB_ATOM_OTERM::get_my_node() const { return m_node; }

CDB_ATOM_NODE::~CDB_ATOM_NODE() = default;

HDB_INSTANCE_NAME const* CDB_ATOM_NODE::get_instance_name() const { return m_instance_name; }

CDB_ATOM_BASIC_TYPE CDB_ATOM_NODE::get_basic_type() const { return m_basic_type; }

CDB_ATOM_NODE_LINK* CDB_ATOM_NETLIST::begin_node_list() const {
  return static_cast<HOST_NETLIST const*>(this)->m_first;
}

CDB_ATOM_NODE_LINK* CDB_ATOM_NETLIST::end_node_list() const { return nullptr; }

// --- Builder -------------------------------------------------------------------

namespace zema_host {

struct DESIGN::IMPL {
  OBJECT_ARENA<HOST_INAME> m_names;
  OBJECT_ARENA<CHILD_LIST> m_child_lists;
  OBJECT_ARENA<HOST_ATOM> m_atoms;
  OBJECT_ARENA<HOST_OTERM> m_oterms;
  OBJECT_ARENA<CDB_ATOM_NODE_LINK> m_links;
  TEXT_ARENA m_texts;
  POINTER_ARENA m_oterm_slots;
  CHILD_ARENA m_child_slots;
  HOST_ACTION_POINT m_action_point;
  HOST_NETLIST m_netlist;
  // Populates what reserve() set aside while the builder fills it. Declared
  // last, so that it is destroyed first: the arenas' blocks stay mapped
  // until its thread is done.
  std::unique_ptr<PAGE_POPULATOR> m_populator;

  void append_link(CDB_ATOM_NODE* node) {
    CDB_ATOM_NODE_LINK* link = m_links.make(CDB_ATOM_NODE_LINK{nullptr, node});
    if (m_netlist.m_last != nullptr) {
      m_netlist.m_last->m_next = link;
    } else {
      m_netlist.m_first = link;
    }
    m_netlist.m_last = link;
  }

  CHILD_LIST* children_of(HDB_INSTANCE_NAME const* parent) {
    HOST_INAME* host_parent = const_cast<HOST_INAME*>(host(parent));
    if (host_parent->m_children == nullptr) host_parent->m_children = m_child_lists.make();
    return host_parent->m_children;
  }
};

DESIGN::DESIGN() : m_impl(new IMPL) {}

DESIGN::~DESIGN() = default;

HDB_INSTANCE_NAME const* DESIGN::set_root(char const* unit_name, unsigned id) {
  if (m_impl->m_action_point.m_root != nullptr) {
    report("the root is set once", __LINE__);
    return m_impl->m_action_point.m_root;
  }
  HOST_INAME* root = m_impl->m_names.make(m_impl->m_texts.copy(unit_name), nullptr, id);
  m_impl->m_action_point.m_root = root;
  return root;
}

HDB_INSTANCE_NAME const* DESIGN::add_child(HDB_INSTANCE_NAME const* parent, char const* unit_name,
                                           unsigned id) {
  if (parent == nullptr) {
    report("parent != nullptr", __LINE__);
    return nullptr;
  }
  HOST_INAME* child = m_impl->m_names.make(m_impl->m_texts.copy(unit_name),
                                           const_cast<HOST_INAME*>(host(parent)), id);
  m_impl->children_of(parent)->append(child, &m_impl->m_child_slots);
  return child;
}

void DESIGN::add_null_child(HDB_INSTANCE_NAME const* parent) {
  if (parent == nullptr) {
    report("parent != nullptr", __LINE__);
    return;
  }
  m_impl->children_of(parent)->append(nullptr, &m_impl->m_child_slots);
}

HDB_INSTANCE_NAME const* DESIGN::add_free_name(char const* unit_name, unsigned id) {
  return m_impl->m_names.make(m_impl->m_texts.copy(unit_name), nullptr, id);
}

CDB_ATOM_NODE* DESIGN::add_atom(CDB_ATOM_BASIC_TYPE type, HDB_INSTANCE_NAME const* name) {
  HOST_ATOM* atom = m_impl->m_atoms.make(type, name);
  m_impl->append_link(atom);
  return atom;
}

void DESIGN::add_null_atom() { m_impl->append_link(nullptr); }

CDB_ATOM_OTERM* DESIGN::add_oterm(CDB_ATOM_NODE* atom, HDB_INSTANCE_NAME const* name) {
  if (atom == nullptr) {
    report("atom != nullptr", __LINE__);
    return nullptr;
  }
  HOST_OTERM* oterm = m_impl->m_oterms.make(atom, name);
  static_cast<HOST_ATOM*>(atom)->append_oterm(oterm, &m_impl->m_oterm_slots);
  return oterm;
}

void DESIGN::add_null_oterm(CDB_ATOM_NODE* atom) {
  if (atom == nullptr) {
    report("atom != nullptr", __LINE__);
    return;
  }
  static_cast<HOST_ATOM*>(atom)->append_oterm(nullptr, &m_impl->m_oterm_slots);
}

CDB_ATOM_OTERM* DESIGN::add_orphan_oterm(HDB_INSTANCE_NAME const* name) {
  return m_impl->m_oterms.make(nullptr, name);
}

HDB_CMP_ACTION_PT_INSTANCE const* DESIGN::action_point() const { return &m_impl->m_action_point; }

CDB_ATOM_NETLIST* DESIGN::netlist() { return &m_impl->m_netlist; }

HDB_INSTANCE_NAME const* DESIGN::root() const { return m_impl->m_action_point.m_root; }

void DESIGN::reserve(std::size_t instances, std::size_t atoms, std::size_t oterms,
                     std::size_t parents, std::size_t child_slots) {
  m_impl->m_names.reserve(instances);
  m_impl->m_atoms.reserve(atoms);
  m_impl->m_links.reserve(atoms);
  m_impl->m_oterms.reserve(oterms);
  m_impl->m_oterm_slots.reserve(oterms);
  m_impl->m_child_lists.reserve(parents);
  m_impl->m_child_slots.reserve(child_slots);
  // A big design's builder spends most of its time in the first touch of
  // these blocks; another core populates them meanwhile: the hierarchy's,
  // then the netlist's, as the builder fills them, each block whole.
  std::vector<std::pair<char*, char*>> ranges = {
      m_impl->m_names.room(),      m_impl->m_child_lists.room(), m_impl->m_child_slots.room(),
      m_impl->m_atoms.room(),      m_impl->m_links.room(),       m_impl->m_oterms.room(),
      m_impl->m_oterm_slots.room()};
  // A populator of an earlier reserve() stops before the next one starts.
  m_impl->m_populator.reset();
  m_impl->m_populator = PAGE_POPULATOR::start(std::move(ranges), PAGE_POPULATOR::READY::TOUCHED);
}

void DESIGN::adopt_texts(std::vector<char> texts) { m_impl->m_texts.adopt(std::move(texts)); }

void DESIGN::reserve_children(HDB_INSTANCE_NAME const* parent, std::size_t count) {
  if (parent == nullptr) {
    report("parent != nullptr", __LINE__);
    return;
  }
  CHILD_LIST* children = m_impl->children_of(parent);
  children->m_items = m_impl->m_child_slots.resize(
      children->m_items, children->m_count, &children->m_capacity, static_cast<unsigned>(count));
}

void DESIGN::reserve_oterms(CDB_ATOM_NODE* atom, std::size_t count) {
  if (atom == nullptr) {
    report("atom != nullptr", __LINE__);
    return;
  }
  static_cast<HOST_ATOM*>(atom)->reserve_oterms(static_cast<unsigned>(count),
                                                &m_impl->m_oterm_slots);
}

HDB_INSTANCE_NAME const* parent_of(HDB_INSTANCE_NAME const* name) {
  return name != nullptr ? host(name)->m_parent : nullptr;
}

void append_unambiguous_level(std::string* out, HDB_INSTANCE_NAME const* name) {
  HOST_INAME const* const level = host(name);
  append_escaped_name(out, level->m_unit_name.get_string());
  unsigned const rank = twin_rank(level);
  if (rank != 0) append_twin_suffix(out, rank);
}

}  // namespace zema_host
