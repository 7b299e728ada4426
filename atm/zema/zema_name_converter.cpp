#include "atm/zema/zema_name_converter.h"

#include <algorithm>
#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "atm/zema/zema_naming_rules.h"
#include "containers/orb_hash_builder.h"
#include "h/dbs_translator_sys.h"
#include "h/hdb_vexa_sys.h"
#include "h/msg_sys.h"

static_assert(kZemaAtomTypeComb == CDB_ATOM_COMB && kZemaAtomTypeIoIbuf == CDB_ATOM_IO_IBUF &&
                  kZemaAtomTypePin == CDB_ATOM_PIN && kZemaAtomTypeIoDdr == CDB_ATOM_IO_DDR &&
                  kZemaAtomTypeCount == CDB_ATOM_BASIC_TYPE_COUNT,
              "the naming rules' atom types are the host's");

// Opens the module's use of the host's memory manager for as long as the
// library is loaded. It is the first static object of the library, so it is
// destroyed last.
static MEM_INITIALIZER s_zema_mem_initializer("ZEMA");

// Reports a broken invariant with the failed condition as text. Callers return
// or skip right after it, so the missing object is never used.
#define ZEMA_REPORT(condition) \
  MSG_INTERNAL_ERROR::report(condition, "ZEMA", "zema_name_converter", __LINE__)

namespace {

char const* unit_name_text(HDB_INSTANCE_NAME const* name) {
  return name->get_unit_name().get_string();
}

bool has_children(HDB_INSTANCE_NAME const* name) {
  return name->begin_child() != name->end_child();
}

}  // namespace

bool zema_msg_debug(char const* format, ...) {
  static char s_module[] = "ZEMA";
  va_list args;
  va_start(args, format);
  bool const printed = msg_local_vdebug(s_module, format, args);
  va_end(args);
  return printed;
}

// --- Implementation interface ------------------------------------------------

ZEMA_NAME_CONVERTER_IMPL::ZEMA_NAME_CONVERTER_IMPL()
    : m_action_point(nullptr), m_netlist(nullptr) {}

ZEMA_NAME_CONVERTER_IMPL::~ZEMA_NAME_CONVERTER_IMPL() {
  m_action_point = nullptr;
  m_netlist = nullptr;
}

void ZEMA_NAME_CONVERTER_IMPL::init(HDB_CMP_ACTION_PT_INSTANCE const* action_point,
                                    CDB_ATOM_NETLIST* netlist) {
  m_action_point = action_point;
  m_netlist = netlist;
}

void ZEMA_NAME_CONVERTER_IMPL::clear() {
  m_action_point = nullptr;
  m_netlist = nullptr;
}

// --- Facade ------------------------------------------------------------------

ZEMA_NAME_CONVERTER::ZEMA_NAME_CONVERTER(ZEMA_NAME_CONVERTER_ENUM type) : m_impl(nullptr) {
  switch (type) {
    case ZEMA_NAME_CONVERTER_FUSION:
      m_impl = new ZEMA_NAME_CONVERTER_FUSION_IMPL();
      break;
    case ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE:
      m_impl = new ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL();
      break;
    default:
      ZEMA_REPORT("No such converter type!");
      break;
  }
}

ZEMA_NAME_CONVERTER::~ZEMA_NAME_CONVERTER() {
  delete m_impl;
  m_impl = nullptr;
}

void ZEMA_NAME_CONVERTER::init(HDB_CMP_ACTION_PT_INSTANCE const* action_point,
                               CDB_ATOM_NETLIST* netlist) {
  zema_msg_debug("ZEMA: Initializing...");
  if (m_impl) m_impl->init(action_point, netlist);
}

void ZEMA_NAME_CONVERTER::clear() {
  if (m_impl) m_impl->clear();
}

bool ZEMA_NAME_CONVERTER::get_converted_unit_name(GEN_STRING* out, CDB_ATOM_NODE* atom) {
  return m_impl && m_impl->get_converted_unit_name(out, atom);
}

bool ZEMA_NAME_CONVERTER::get_converted_unit_name(GEN_STRING* out, CDB_ATOM_OTERM* oterm) {
  return m_impl && m_impl->get_converted_unit_name(out, oterm);
}

bool ZEMA_NAME_CONVERTER::get_converted_full_name(GEN_STRING* out, CDB_ATOM_NODE* atom,
                                                  bool no_backslash) {
  return m_impl && m_impl->get_converted_full_name(out, atom, no_backslash);
}

bool ZEMA_NAME_CONVERTER::get_converted_full_name(GEN_STRING* out, CDB_ATOM_OTERM* oterm,
                                                  bool no_backslash) {
  return m_impl && m_impl->get_converted_full_name(out, oterm, no_backslash);
}

unsigned ZEMA_NAME_CONVERTER::get_original_name_id(char const* converted_full_name) {
  return m_impl ? m_impl->get_original_name_id(converted_full_name) : 0;
}

// --- Reversible converter ----------------------------------------------------

ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL::ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL() {}

ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL::~ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL() {}

bool ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL::get_converted_unit_name(GEN_STRING* out,
                                                                         CDB_ATOM_NODE* atom) {
  if (!atom) {
    ZEMA_REPORT("atom != 0");
    return false;
  }
  HDB_INSTANCE_NAME const* const name = atom->get_instance_name();
  if (!name) return false;
  hdb_convert_unit_name_to_vexa(out, unit_name_text(name), false);
  return true;
}

bool ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL::get_converted_unit_name(GEN_STRING* out,
                                                                         CDB_ATOM_OTERM* oterm) {
  if (!oterm) {
    ZEMA_REPORT("oterm != 0");
    return false;
  }
  HDB_INSTANCE_NAME const* const name = oterm->get_instance_name();
  if (!name) return false;
  hdb_convert_unit_name_to_vexa(out, unit_name_text(name), false);
  return true;
}

bool ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL::get_converted_full_name(GEN_STRING* out,
                                                                         CDB_ATOM_NODE* atom,
                                                                         bool no_backslash) {
  if (!atom) {
    ZEMA_REPORT("atom != 0");
    return false;
  }
  HDB_INSTANCE_NAME const* const name = atom->get_instance_name();
  CDB_ATOM_BASIC_TYPE const type = atom->get_basic_type();
  if (!name) return false;
  GEN_STRING const& path = name->get_short_hpath(&m_path, HDB_HPATH_FORMAT_UNAMBIGUOUS);
  hdb_convert_cell_name_to_vexa(out, path.c_str(), type, no_backslash, false);
  return true;
}

bool ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL::get_converted_full_name(GEN_STRING* out,
                                                                         CDB_ATOM_OTERM* oterm,
                                                                         bool no_backslash) {
  if (!oterm) {
    ZEMA_REPORT("oterm != 0");
    return false;
  }
  HDB_INSTANCE_NAME const* const name = oterm->get_instance_name();
  CDB_ATOM_NODE const* const node = oterm->get_my_node();
  if (!node || !name) return false;
  CDB_ATOM_BASIC_TYPE const type = node->get_basic_type();
  GEN_STRING const& path = name->get_short_hpath(&m_path, HDB_HPATH_FORMAT_UNAMBIGUOUS);
  if (type == CDB_ATOM_PIN) {
    hdb_convert_pin_name_to_vexa(out, path.c_str(), no_backslash, false);
  } else {
    hdb_convert_net_name_to_vexa(out, path.c_str(), no_backslash, false);
  }
  return true;
}

unsigned ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE_IMPL::get_original_name_id(
    char const* converted_full_name) {
  if (!hdb_revert_vexa_full_name(&m_path, converted_full_name, false)) return 0;
  if (!m_action_point) return 0;
  HDB_INSTANCE_NAME const* const root = m_action_point->get_m_rooted_at();
  if (!root) return 0;
  HDB_INSTANCE_NAME const* const found = root->find_in_descendants(m_path, true);
  if (!found) return 0;
  return HDB_NAME_MGR::get_iname_id(found);
}

// --- Name tree ---------------------------------------------------------------

ZEMA_NAME_CONVERTER_HIERARCHY::ZEMA_NAME_CONVERTER_HIERARCHY(ZEMA_NAME_CONVERTER_HIERARCHY* parent,
                                                             char const* name, unsigned id)
    : m_name(name), m_id(id), m_parent(parent) {}

ZEMA_NAME_CONVERTER_HIERARCHY::~ZEMA_NAME_CONVERTER_HIERARCHY() {}

ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* ZEMA_NAME_CONVERTER_HIERARCHY::cast_to_parent() {
  return nullptr;
}

ZEMA_NAME_CONVERTER_HIERARCHY_LEAF* ZEMA_NAME_CONVERTER_HIERARCHY::cast_to_leaf() {
  return nullptr;
}

ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* ZEMA_NAME_CONVERTER_HIERARCHY::cast_to_parent() const {
  return nullptr;
}

ZEMA_NAME_CONVERTER_HIERARCHY_LEAF const* ZEMA_NAME_CONVERTER_HIERARCHY::cast_to_leaf() const {
  return nullptr;
}

ZEMA_NAME_CONVERTER_HIERARCHY_PARENT::ZEMA_NAME_CONVERTER_HIERARCHY_PARENT(
    ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent, char const* name, unsigned id)
    : ZEMA_NAME_CONVERTER_HIERARCHY(parent, name, id) {}

ZEMA_NAME_CONVERTER_HIERARCHY_PARENT::~ZEMA_NAME_CONVERTER_HIERARCHY_PARENT() {}

ZEMA_NAME_CONVERTER_HIERARCHY::CHILD_ITERATOR ZEMA_NAME_CONVERTER_HIERARCHY_PARENT::begin_child() {
  return m_children.begin();
}

ZEMA_NAME_CONVERTER_HIERARCHY::CHILD_ITERATOR ZEMA_NAME_CONVERTER_HIERARCHY_PARENT::end_child() {
  return m_children.end();
}

bool ZEMA_NAME_CONVERTER_HIERARCHY_PARENT::is_leaf() { return false; }

ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* ZEMA_NAME_CONVERTER_HIERARCHY_PARENT::cast_to_parent() {
  return this;
}

ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* ZEMA_NAME_CONVERTER_HIERARCHY_PARENT::cast_to_parent()
    const {
  return this;
}

ZEMA_NAME_CONVERTER_HIERARCHY_LEAF::ZEMA_NAME_CONVERTER_HIERARCHY_LEAF(
    ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent, char const* name, unsigned id)
    : ZEMA_NAME_CONVERTER_HIERARCHY(parent, name, id) {}

ZEMA_NAME_CONVERTER_HIERARCHY_LEAF::~ZEMA_NAME_CONVERTER_HIERARCHY_LEAF() {}

ZEMA_NAME_CONVERTER_HIERARCHY::CHILD_ITERATOR ZEMA_NAME_CONVERTER_HIERARCHY_LEAF::begin_child() {
  return CHILD_ITERATOR{nullptr, 0, 0, nullptr};
}

ZEMA_NAME_CONVERTER_HIERARCHY::CHILD_ITERATOR ZEMA_NAME_CONVERTER_HIERARCHY_LEAF::end_child() {
  return CHILD_ITERATOR{nullptr, 0, 0, nullptr};
}

bool ZEMA_NAME_CONVERTER_HIERARCHY_LEAF::is_leaf() { return true; }

ZEMA_NAME_CONVERTER_HIERARCHY_LEAF* ZEMA_NAME_CONVERTER_HIERARCHY_LEAF::cast_to_leaf() {
  return this;
}

ZEMA_NAME_CONVERTER_HIERARCHY_LEAF const* ZEMA_NAME_CONVERTER_HIERARCHY_LEAF::cast_to_leaf() const {
  return this;
}

bool ZEMA_INAME_CPTR_COMPARE::operator()(HDB_INSTANCE_NAME const* a,
                                         HDB_INSTANCE_NAME const* b) const {
  return std::strcmp(unit_name_text(a), unit_name_text(b)) < 0;
}

// --- Fusion converter: state and lifecycle -----------------------------------

ZEMA_NAME_CONVERTER_FUSION_IMPL::ZEMA_NAME_CONVERTER_FUSION_IMPL()
    : m_root(nullptr), m_atom_counter(0), m_oterm_counter(0) {
  DBS_TRANSLATOR const translator;
  for (int type = 0; type < TYPE_COUNT; ++type) {
    m_type_prefix[type] = translator.get_debug_string_name(static_cast<CDB_ATOM_BASIC_TYPE>(type));
    gen_tolower(m_type_prefix[type]);
  }
}

// Empties the converter as clear() does (the base pointers aside), so a host
// that logs its memory manager sees the same sequence as for clear(); then the
// members free their storage in reverse order of declaration.
ZEMA_NAME_CONVERTER_FUSION_IMPL::~ZEMA_NAME_CONVERTER_FUSION_IMPL() { empty_tree(); }

void ZEMA_NAME_CONVERTER_FUSION_IMPL::delete_hierarchies() {
  for (ZEMA_NAME_CONVERTER_HIERARCHY*& node : m_hierarchies) {
    delete node;
    node = nullptr;
  }
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::clear() {
  ZEMA_NAME_CONVERTER_IMPL::clear();
  empty_tree();
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::empty_tree() {
  // Nodes go first: their destructors read neither the indexes nor the names.
  delete_hierarchies();
  m_hierarchies.clear();
  m_hier_by_id_hash.clear();
  m_atom_hier_hash.clear();
  m_oterm_hier_hash.clear();
  m_root = nullptr;
  m_name_table.clear();
  m_work_name.clear();
  m_number_text.clear();
  m_atom_counter = 0;
  m_oterm_counter = 0;
}

template <class KIND>
KIND* ZEMA_NAME_CONVERTER_FUSION_IMPL::create_node(ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent,
                                                   char const* name, unsigned id) {
  // The owning slot exists before the node does, so a failed allocation
  // leaves nothing unowned.
  m_hierarchies.push_back(nullptr);
  KIND* const node = new KIND(parent, name, id);
  m_hierarchies.back() = node;
  return node;
}

// --- Fusion converter: the state of one init -----------------------------------

namespace {

template <class T>
using TRACKED_VECTOR = std::vector<T, MEM_STL_ALLOCATOR<T>>;

typedef ORB_HASH_BUILDER<char const*, ZEMA_NAME_CONVERTER_HIERARCHY*, ZEMA_NAME_CSTR_OPS>
    CHILD_BUILDER;

// Remembers, per parent and base text, how many uniquing suffixes of the base
// are known to be taken among the parent's children: base_0 up to base_{n-1}.
// Children are never removed while a tree is built, so a candidate once found
// taken stays taken, and the loop may start at base_n with the same result as
// a loop from base_0. That keeps k siblings with one base linear in k.
class SUFFIX_MEMO {
 public:
  // The first suffix worth trying for `base` under `parent`: 0 when none is
  // known taken. `base` is the interned pointer of the base text.
  int first_untried(void const* parent, char const* base) const {
    if (m_slots.empty()) return 0;
    for (std::size_t i = start(parent, base);; i = (i + 1) & mask()) {
      SLOT const& slot = m_slots[i];
      if (!slot.m_base) return 0;
      if (slot.m_base == base && slot.m_parent == parent) return slot.m_next;
    }
  }

  // Records that every suffix below `next` of `base` is taken under `parent`.
  void remember(void const* parent, char const* base, int next) {
    if (2 * (m_used + 1) > m_slots.size()) grow();
    for (std::size_t i = start(parent, base);; i = (i + 1) & mask()) {
      SLOT& slot = m_slots[i];
      if (!slot.m_base) {
        slot = SLOT{parent, base, next};
        ++m_used;
        return;
      }
      if (slot.m_base == base && slot.m_parent == parent) {
        slot.m_next = next;
        return;
      }
    }
  }

 private:
  struct SLOT {
    void const* m_parent;
    char const* m_base;  // null: an empty slot
    int m_next;
  };

  std::size_t mask() const { return m_slots.size() - 1; }

  std::size_t start(void const* parent, char const* base) const {
    std::uint64_t const key = (reinterpret_cast<std::uintptr_t>(parent) * 0x9e3779b97f4a7c15ull) ^
                              reinterpret_cast<std::uintptr_t>(base);
    return static_cast<std::size_t>((key * 0xbf58476d1ce4e5b9ull) >> 32) & mask();
  }

  void grow() {
    TRACKED_VECTOR<SLOT> old(m_slots.empty() ? 16 : 2 * m_slots.size(), SLOT{nullptr, nullptr, 0});
    old.swap(m_slots);
    for (SLOT const& slot : old) {
      if (!slot.m_base) continue;
      std::size_t i = start(slot.m_parent, slot.m_base);
      while (m_slots[i].m_base) i = (i + 1) & mask();
      m_slots[i] = slot;
    }
  }

  TRACKED_VECTOR<SLOT> m_slots;  // empty, or a power of two in size
  std::size_t m_used = 0;
};

// One sibling's legal name, ready to be made unique.
struct PLANNED_NAME {
  std::size_t m_offset;  // of the legal name in the state's m_legal_names
  std::size_t m_length;
  unsigned m_table_hash;  // ORB_CSTR_OPS
  unsigned m_child_hash;  // ZEMA_NAME_CSTR_OPS
  unsigned m_id;
};

// One child of the parent being captured, with the key it is sorted by.
struct SIBLING {
  // The first eight bytes of the unit name, big-endian and zero-padded, so
  // that most comparisons need no string compare: their order is the order
  // strcmp gives those bytes, as unsigned values.
  std::uint64_t m_prefix;
  char const* m_text;
  std::size_t m_length;  // of m_text
  HDB_INSTANCE_NAME const* m_child;
  bool m_interior;
};

std::uint64_t sort_prefix(char const* text) {
  std::uint64_t prefix = 0;
  int length = 0;
  for (; length < 8 && text[length]; ++length) {
    prefix = (prefix << 8) | static_cast<unsigned char>(text[length]);
  }
  return length == 0 ? 0 : prefix << (8 * (8 - length));
}

// strcmp order of the unit names.
bool sorts_before(SIBLING const& a, SIBLING const& b) {
  if (a.m_prefix != b.m_prefix) return a.m_prefix < b.m_prefix;
  // Equal prefixes that end before their eighth byte are equal texts.
  if ((a.m_prefix & 0xff) == 0) return false;
  return std::strcmp(a.m_text + 8, b.m_text + 8) < 0;
}

// Stable sort of the siblings: runs of eight by insertion, then merges,
// which borrow as much room again behind the siblings as their buffer.
void stable_sort_siblings(TRACKED_VECTOR<SIBLING>* siblings) {
  std::size_t const count = siblings->size();
  SIBLING* data = siblings->data();
  if (std::is_sorted(data, data + count, sorts_before)) return;
  std::size_t const kRun = 8;
  for (std::size_t lo = 0; lo < count; lo += kRun) {
    std::size_t const hi = std::min(count, lo + kRun);
    for (std::size_t i = lo + 1; i < hi; ++i) {
      SIBLING const moving = data[i];
      std::size_t j = i;
      for (; j > lo && sorts_before(moving, data[j - 1]); --j) data[j] = data[j - 1];
      data[j] = moving;
    }
  }
  if (count <= kRun) return;
  siblings->resize(2 * count);
  data = siblings->data();
  SIBLING* from = data;
  SIBLING* to = data + count;
  for (std::size_t width = kRun; width < count; width *= 2) {
    for (std::size_t lo = 0; lo < count; lo += 2 * width) {
      std::size_t const mid = std::min(count, lo + width);
      std::size_t const hi = std::min(count, mid + width);
      // Take from the right run only when it is strictly smaller: stability.
      std::merge(from + lo, from + mid, from + mid, from + hi, to + lo, sorts_before);
    }
    std::swap(from, to);
  }
  if (from != data) std::copy(from, from + count, data);
  siblings->resize(count);
}

}  // namespace

// What one init() needs besides the converter's own fields; it lives as long
// as that init() and takes all its storage from the tracked memory manager.
struct ZEMA_NAME_CONVERTER_FUSION_IMPL::INIT_STATE {
  SUFFIX_MEMO m_memo;
  // The buckets of the name table and the three id indexes, which every
  // name searches and enters: without a divide between growths.
  ORB_BUCKET_OF m_name_bucket;
  ORB_BUCKET_OF m_hier_bucket;
  ORB_BUCKET_OF m_atom_bucket;
  ORB_BUCKET_OF m_oterm_bucket;
  // One parent's children, then sorted; the tail is the merge buffer.
  TRACKED_VECTOR<SIBLING> m_siblings;
  // The legal names of the sorted siblings, one after the other, and where
  // each one is, with its hashes.
  TRACKED_VECTOR<char> m_legal_names;
  TRACKED_VECTOR<PLANNED_NAME> m_planned;
  // The child hash of each start of the last legal name planned.
  TRACKED_VECTOR<unsigned> m_prefix_hashes;
  // Instances with children whose own children are still to capture, the
  // next one last: a depth-first walk without recursion.
  TRACKED_VECTOR<HDB_INSTANCE_NAME const*> m_pending;

  // The netlist scout (scout_atom): the atom it looks at next, its own copy
  // of the made-up-name counters, and the hashes of the names it predicted,
  // the last kPredicted of them, numbered in the order they will be made.
  static std::size_t const kPredicted = 64;
  CDB_ATOM_NODE_LINK* m_scout = nullptr;
  int m_scout_atom_counter = 0;
  int m_scout_oterm_counter = 0;
  NAME_HASHES m_predicted_hashes[kPredicted] = {};
  bool m_predicted_known[kPredicted] = {};
  // What each predicted name is: the atom type whose prefix it has (kOterm
  // for an oterm's "w") and its number. A name made with the same two is the
  // same text, so its hashes need not be computed again.
  static int const kOterm = -1;
  int m_predicted_type[kPredicted] = {};
  int m_predicted_number[kPredicted] = {};
  std::size_t m_predicted = 0;  // names predicted so far

  // A parent with many new children (the root, while the netlist is named)
  // has its children index built through a builder, which every search of
  // that parent's children then goes through.
  CHILD_BUILDER* m_building = nullptr;
  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* m_building_parent = nullptr;
  // The arrays of the builders of captured parents, one after another.
  CHILD_BUILDER::STORAGE m_builder_storage;
  // When init() names the netlist right after the capture, the builder of
  // the root's children lives on to take the made-up names too: a second
  // builder would hash every child's name again and link the index twice.
  // The storage is declared first, so that the builder goes first.
  bool m_keep_root_builder = false;
  CHILD_BUILDER::STORAGE m_root_storage;
  std::optional<CHILD_BUILDER> m_root_builder;
  // Routes the searches and entries of `parent`'s children to `builder` for
  // as long as it lives.
  struct BUILDING {
    BUILDING(INIT_STATE& state, CHILD_BUILDER* builder,
             ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent)
        : m_state(state) {
      state.m_building = builder;
      state.m_building_parent = parent;
    }
    ~BUILDING() {
      m_state.m_building = nullptr;
      m_state.m_building_parent = nullptr;
    }
    BUILDING(BUILDING const&) = delete;
    BUILDING& operator=(BUILDING const&) = delete;
    INIT_STATE& m_state;
  };
  std::size_t m_made = 0;  // made-up names the naming loop has made so far
};

// --- Fusion converter: legalisation and uniquing ------------------------------

// zema_legal_char of every byte, looked up rather than tested: names are
// legalised a byte at a time, millions of them in one init.
struct LEGAL_CHARS {
  constexpr LEGAL_CHARS() : m_of() {
    for (int byte = 0; byte < 256; ++byte) m_of[byte] = zema_legal_char(static_cast<char>(byte));
  }
  char m_of[256];
};
constexpr LEGAL_CHARS kLegalChars;

// The legal form of the `length` bytes of `in` written to `out`, which has
// room for length + 1 bytes; gives the form's length. Each byte's legal form
// depends on that byte alone, and the leading 'a' on the first byte alone, so
// two texts that start alike have legal forms that start alike.
static std::size_t legal_form(char* out, char const* in, std::size_t length) {
  char* to = out;
  if (!zema_is_legal_first_char(*in)) *to++ = 'a';
  for (std::size_t i = 0; i < length; ++i) {
    *to++ = kLegalChars.m_of[static_cast<unsigned char>(in[i])];
  }
  return static_cast<std::size_t>(to - out);
}

// How many of their first `limit` bytes `a` and `b` share.
static std::size_t shared_start(char const* a, char const* b, std::size_t limit) {
  std::size_t k = 0;
  for (; k + 8 <= limit; k += 8) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, a + k, 8);
    std::memcpy(&y, b + k, 8);
    if (x != y) break;
  }
  while (k < limit && a[k] == b[k]) ++k;
  return k;
}

// The legal names of `siblings` one after the other in *legal_names, each
// with its terminating NUL, and in *planned where each one is, with its
// hashes and its instance's id. `legal_bytes` is the room they may take at
// most. The names' buffer only grows, at most once per parent and without
// copying what an earlier parent left in it: it keeps the size the largest
// parent needed, so that most parents never resize it.
//
// The child hash is a serial chain through every byte, the longest part of
// planning a long name. Sorted siblings often share most of their text
// ("..._simplemap_mux_4367", "..._simplemap_mux_4368"), so the chain of each
// name goes on from where its shared start with the name before it ends:
// (*prefix_hashes)[k] holds the hash of the first k bytes of the last name.
static void plan_legal_names(TRACKED_VECTOR<SIBLING> const& siblings, std::size_t legal_bytes,
                             ORB_CSTR_OPS const& table_ops, TRACKED_VECTOR<char>* legal_names,
                             TRACKED_VECTOR<unsigned>* prefix_hashes,
                             TRACKED_VECTOR<PLANNED_NAME>* planned) {
  if (legal_names->size() < legal_bytes) {
    legal_names->clear();
    legal_names->resize(std::max(2 * legal_names->capacity(), legal_bytes));
  }
  planned->clear();
  std::size_t offset = 0;
  SIBLING const* previous = nullptr;
  for (SIBLING const& sibling : siblings) {
    char* const name = legal_names->data() + offset;
    std::size_t const length = legal_form(name, sibling.m_text, sibling.m_length);
    name[length] = '\0';
    if (prefix_hashes->size() <= length) prefix_hashes->resize(2 * length + 1);
    unsigned* const hashes = prefix_hashes->data();  // hashes[0] stays 0, the hash of ""
    std::size_t k = 0;
    if (previous) {
      std::size_t const shared = shared_start(previous->m_text, sibling.m_text,
                                              std::min(previous->m_length, sibling.m_length));
      // Texts that share a first byte have the same leading 'a' or none.
      if (shared > 0) k = length - sibling.m_length + shared;
    }
    unsigned child_hash = hashes[k];
    for (; k < length; ++k) {
      child_hash = ZEMA_NAME_CSTR_OPS::step(child_hash, name[k]);
      hashes[k + 1] = child_hash;
    }
    PLANNED_NAME plan;
    plan.m_offset = offset;
    plan.m_length = length;
    plan.m_child_hash = child_hash;
    plan.m_table_hash = table_ops.hash(name);
    plan.m_id = HDB_NAME_MGR::get_iname_id(sibling.m_child);
    planned->push_back(plan);
    offset += length + 1;
    previous = &sibling;
  }
}

// The legal form of `in` into *out, and its ZEMA_NAME_CSTR_OPS hash.
unsigned ZEMA_NAME_CONVERTER_FUSION_IMPL::legalise(GEN_STRING* out, char const* in) {
  std::size_t const length = std::strlen(in);
  out->resize(length + 1);
  out->resize(legal_form(&(*out)[0], in, length));
  unsigned hash = 0;
  for (char const c : *out) hash = ZEMA_NAME_CSTR_OPS::step(hash, c);
  return hash;
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::transform(GEN_STRING* out, char const* in) {
  legalise(out, in);
}

// Whether the interned `name`, whose ZEMA_NAME_CSTR_OPS hash is `hash`, names
// a child of `parent`.
bool ZEMA_NAME_CONVERTER_FUSION_IMPL::is_child_name(
    ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent, char const* name, unsigned hash,
    INIT_STATE const* state) {
  if (state && state->m_building && parent == state->m_building_parent) {
    return state->m_building->hash_search(hash, name) != nullptr;
  }
  return parent->m_children.hash_search(hash, name) != nullptr;
}

// Tries the base text, then base_0, base_1, ... until no child of `parent`
// bears the candidate. Only interned texts can be children's names, so a text
// the name table does not hold is free without asking the children. The base
// is kept as a length: appending may move the string's characters. With a
// memo, the loop starts at the first suffix not yet known to be taken.
//
// Gives the name table's node of the accepted text (null when the table does
// not hold it) and the text's two hashes, so that interning it and entering
// it among the children need no second search.
ORB_STRING_TABLE_NODE* ZEMA_NAME_CONVERTER_FUSION_IMPL::uniquify(
    GEN_STRING* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent, INIT_STATE* state,
    NAME_HASHES* hashes) {
  auto const table_bucket = [this, state](unsigned h) {
    return state ? state->m_name_bucket(m_name_table, h)
                 : orb_bucket(h, m_name_table.m_bucket_count);
  };
  unsigned table_hash = hashes->m_table;
  ORB_STRING_TABLE_NODE* found =
      m_name_table.bucket_search(table_bucket(table_hash), name->c_str());
  if (found && is_child_name(parent, found->m_text, hashes->m_child, state)) {
    GEN_STRING::size_type const base_length = name->size();
    unsigned const base_hash = hashes->m_child;
    char const* const base = found->m_text;
    int suffix = state ? state->m_memo.first_untried(parent, base) : 0;
    for (;; ++suffix) {
      name->resize(base_length);
      gen_itoa(suffix, m_number_text, 10);
      name->push_back('_');
      name->append(m_number_text);
      unsigned child_hash = ZEMA_NAME_CSTR_OPS::step(base_hash, '_');
      for (char const c : m_number_text) child_hash = ZEMA_NAME_CSTR_OPS::step(child_hash, c);
      hashes->m_child = child_hash;
      table_hash = m_name_table.m_ops.hash(name->c_str());
      found = m_name_table.bucket_search(table_bucket(table_hash), name->c_str());
      if (!found || !is_child_name(parent, found->m_text, child_hash, state)) break;
    }
    if (state) state->m_memo.remember(parent, base, suffix);
  }
  hashes->m_table = table_hash;
  return found;
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::unique_name(
    GEN_STRING* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent, INIT_STATE* state,
    NAME_HASHES* hashes) {
  ORB_STRING_TABLE_NODE const* const found = uniquify(name, parent, state, hashes);
  if (found) return found->m_text;
  unsigned const h = hashes->m_table;
  ORB_STRING_TABLE_NODE* const node =
      state ? m_name_table.bucket_insert_new(state->m_name_bucket(m_name_table, h), name->c_str())
            : m_name_table.insert_new(h, name->c_str());
  return node->m_text;
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::intern(char const* text) {
  return m_name_table.insert_helper(m_name_table.m_ops.hash(text), text)->m_text;
}

ZEMA_NAME_CONVERTER_FUSION_IMPL::NAME_HASHES ZEMA_NAME_CONVERTER_FUSION_IMPL::hashes_of(
    char const* name) const {
  return NAME_HASHES{m_name_table.m_ops.hash(name), ZEMA_NAME_CSTR_OPS().hash(name)};
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::convert(
    char const* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) {
  NAME_HASHES hashes;
  hashes.m_child = legalise(&m_work_name, name);
  hashes.m_table = m_name_table.m_ops.hash(m_work_name.c_str());
  return unique_name(&m_work_name, parent, nullptr, &hashes);
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::differentiate(
    GEN_STRING* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) {
  NAME_HASHES hashes = hashes_of(name->c_str());
  uniquify(name, parent, nullptr, &hashes);
}

// --- Fusion converter: hierarchy capture --------------------------------------

void ZEMA_NAME_CONVERTER_FUSION_IMPL::init(HDB_CMP_ACTION_PT_INSTANCE const* action_point,
                                           CDB_ATOM_NETLIST* netlist) {
  HDB_INSTANCE_NAME const* const root = action_point ? action_point->get_m_rooted_at() : nullptr;
  if (!root) ZEMA_REPORT("tree != 0");
  if (m_root) clear();
  m_action_point = action_point;
  m_netlist = netlist;
  // Without a root there is nothing to capture; the converter stays empty.
  if (!root) return;

  char const* const root_text = unit_name_text(root);
  if (root_text[0] != '\0') ZEMA_REPORT("root_name[0] == '\\0'");
  char const* const root_name = intern(root_text);
  unsigned const root_id = HDB_NAME_MGR::get_iname_id(root);
  m_root = create_node<ZEMA_NAME_CONVERTER_HIERARCHY_PARENT>(nullptr, root_name, root_id);
  m_hier_by_id_hash[root_id] = m_root;

  INIT_STATE state;
  state.m_keep_root_builder = true;
  capture(root, m_root, state);
  name_netlist(state);
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::init_recurse(HDB_INSTANCE_NAME const* instance,
                                                   ZEMA_NAME_CONVERTER_HIERARCHY* node) {
  INIT_STATE state;
  capture(instance, node, state);
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::init_helper(HDB_INSTANCE_NAME const* instance,
                                                  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent) {
  INIT_STATE state;
  capture_children(instance, parent, state);
}

// Captures everything below `instance`, whose node exists, depth first: each
// child's subtree before the next child's, children in database order. A
// work list of instances replaces the recursion, so the stack stays flat
// whatever the depth. The node of an instance is looked up by id just before
// its children are captured, as a recursive walk would look it up.
void ZEMA_NAME_CONVERTER_FUSION_IMPL::capture(HDB_INSTANCE_NAME const* instance,
                                              ZEMA_NAME_CONVERTER_HIERARCHY* node,
                                              INIT_STATE& state) {
  if (node->is_leaf()) return;
  state.m_pending.clear();
  capture_children(instance, node->cast_to_parent(), state);
  while (!state.m_pending.empty()) {
    HDB_INSTANCE_NAME const* const next = state.m_pending.back();
    state.m_pending.pop_back();
    unsigned const id = HDB_NAME_MGR::get_iname_id(next);
    ID_HASH::NODE const* const entry = m_hier_by_id_hash.hash_search(id, id);
    if (!entry || entry->m_value->is_leaf()) continue;
    capture_children(next, entry->m_value->cast_to_parent(), state);
  }
}

// Creates the nodes of the direct children of `instance` under `parent`,
// named in the strcmp order of their unit names (equal names keep database
// order), and queues the children that have children of their own.
void ZEMA_NAME_CONVERTER_FUSION_IMPL::capture_children(HDB_INSTANCE_NAME const* instance,
                                                       ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent,
                                                       INIT_STATE& state) {
  TRACKED_VECTOR<SIBLING>& siblings = state.m_siblings;
  siblings.clear();
  std::size_t const queued = state.m_pending.size();
  std::size_t legal_bytes = 0;  // the most that the siblings' legal names can take
  HDB_CONST_NAME_ITERATOR const end = instance->end_child();
  for (HDB_CONST_NAME_ITERATOR it = instance->begin_child(); it != end; ++it) {
    HDB_INSTANCE_NAME const* const child = *it;
    if (!child) {
      ZEMA_REPORT("child != 0");
      continue;
    }
    // The unit name is fetched once here, not twice per comparison.
    char const* const text = unit_name_text(child);
    bool const interior = has_children(child);
    std::size_t const length = std::strlen(text);
    legal_bytes += length + 2;
    siblings.push_back(SIBLING{sort_prefix(text), text, length, child, interior});
    if (interior) state.m_pending.push_back(child);
  }
  // Queued in reverse, so that the first one in database order comes off first.
  std::reverse(state.m_pending.begin() + static_cast<std::ptrdiff_t>(queued),
               state.m_pending.end());

  std::size_t const count = siblings.size();
  stable_sort_siblings(&siblings);
  m_sorted_children.clear();
  for (SIBLING const& sibling : siblings) m_sorted_children.push_back(sibling.m_child);

  // The legal names and hashes of all siblings first, so that the loop below
  // can fetch what it will search ahead of the search.
  TRACKED_VECTOR<char>& legal_names = state.m_legal_names;
  TRACKED_VECTOR<PLANNED_NAME>& planned = state.m_planned;
  plan_legal_names(siblings, legal_bytes, m_name_table.m_ops, &legal_names, &state.m_prefix_hashes,
                   &planned);

  // An index that these children would grow is built through a builder,
  // which replays its growths on compact arrays instead of rehashing every
  // node and text at each; one that will not grow takes them directly.
  std::optional<CHILD_BUILDER> own_builder;
  CHILD_BUILDER* builder = nullptr;
  std::optional<INIT_STATE::BUILDING> building;
  if (orb_wanted_buckets(static_cast<unsigned>(parent->m_children.m_count + count)) >
      parent->m_children.m_bucket_count) {
    if (state.m_keep_root_builder && parent == m_root) {
      builder = &state.m_root_builder.emplace(parent->m_children, state.m_root_storage);
    } else {
      builder = &own_builder.emplace(parent->m_children, state.m_builder_storage);
    }
    building.emplace(state, builder, parent);
  }
  for (std::size_t i = 0; i < count; ++i) {
    prefetch_ahead(state, i, parent);
    PLANNED_NAME const& plan = planned[i];
    m_work_name.assign(&legal_names[plan.m_offset], plan.m_length);
    NAME_HASHES hashes{plan.m_table_hash, plan.m_child_hash};
    char const* const name = unique_name(&m_work_name, parent, &state, &hashes);
    ZEMA_NAME_CONVERTER_HIERARCHY* node;
    if (siblings[i].m_interior) {
      node = create_node<ZEMA_NAME_CONVERTER_HIERARCHY_PARENT>(parent, name, plan.m_id);
    } else {
      node = create_node<ZEMA_NAME_CONVERTER_HIERARCHY_LEAF>(parent, name, plan.m_id);
    }
    // The name is free among the children: it goes in without a search.
    if (builder) {
      builder->insert_new(hashes.m_child, name) = node;
    } else {
      parent->m_children.insert_new(hashes.m_child, name) = node;
    }
    m_hier_by_id_hash.bucket_slot(state.m_hier_bucket(m_hier_by_id_hash, plan.m_id), plan.m_id) =
        node;
  }
  if (own_builder) own_builder->finish();
}

// On a big design the name table, the id index and a wide parent's children
// outgrow the caches, and naming a sibling waits on a chain of misses: the
// bucket, the node in it, the node's text. While sibling i is named, the
// buckets of sibling i + 8 are fetched, the nodes in those of i + 4 and the
// text of i + 2, so that each arrives as it is needed. Prefetching changes
// nothing but timing.
void ZEMA_NAME_CONVERTER_FUSION_IMPL::prefetch_ahead(
    INIT_STATE& state, std::size_t i, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) const {
  TRACKED_VECTOR<PLANNED_NAME> const& planned = state.m_planned;
  std::size_t const count = planned.size();
  if (i + 8 < count) {
    PLANNED_NAME const& far = planned[i + 8];
    __builtin_prefetch(
        &m_name_table.m_buckets[state.m_name_bucket(m_name_table, far.m_table_hash)]);
    __builtin_prefetch(
        &m_hier_by_id_hash.m_buckets[state.m_hier_bucket(m_hier_by_id_hash, far.m_id)]);
    if (state.m_building) {
      state.m_building->prefetch(far.m_child_hash);
    } else {
      __builtin_prefetch(&parent->m_children.m_buckets[orb_bucket(
          far.m_child_hash, parent->m_children.m_bucket_count)]);
    }
  }
  if (i + 4 < count) {
    PLANNED_NAME const& near = planned[i + 4];
    if (ORB_STRING_TABLE_NODE const* const node =
            m_name_table.m_buckets[state.m_name_bucket(m_name_table, near.m_table_hash)]) {
      __builtin_prefetch(node);
    }
    if (ID_HASH::NODE const* const node =
            m_hier_by_id_hash.m_buckets[state.m_hier_bucket(m_hier_by_id_hash, near.m_id)]) {
      __builtin_prefetch(node);
    }
  }
  if (i + 2 < count) {
    PLANNED_NAME const& next = planned[i + 2];
    if (ORB_STRING_TABLE_NODE const* const node =
            m_name_table.m_buckets[state.m_name_bucket(m_name_table, next.m_table_hash)]) {
      __builtin_prefetch(node->m_text);
    }
  }
}

// --- Fusion converter: netlist naming ------------------------------------------

bool ZEMA_NAME_CONVERTER_FUSION_IMPL::is_atom_made_up_name_needed(CDB_ATOM_NODE const* atom) {
  return !zema_is_hierarchy_named_atom_type(atom->get_basic_type());
}

// An oterm without an atom has no type 26 to inherit and is named by the
// hierarchy like any other.
bool ZEMA_NAME_CONVERTER_FUSION_IMPL::is_oterm_made_up_name_needed(CDB_ATOM_OTERM const* oterm) {
  CDB_ATOM_NODE const* const node = oterm->get_my_node();
  return node && zema_is_hierarchy_named_atom_type(node->get_basic_type());
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::init_from_netlist() {
  INIT_STATE state;
  name_netlist(state);
}

// A made-up leaf under the root for a name that uniquing has just found free.
ZEMA_NAME_CONVERTER_HIERARCHY* ZEMA_NAME_CONVERTER_FUSION_IMPL::add_made_up_leaf(
    ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* root, char const* name, unsigned child_hash, unsigned id,
    INIT_STATE& state) {
  ZEMA_NAME_CONVERTER_HIERARCHY* const leaf =
      create_node<ZEMA_NAME_CONVERTER_HIERARCHY_LEAF>(root, name, id);
  if (state.m_building) {
    state.m_building->insert_new(child_hash, name) = leaf;
  } else {
    root->m_children.insert_new(child_hash, name) = leaf;
  }
  return leaf;
}

// Made-up names all hang under the root, so on a big design every one of them
// misses the cache in the name table, the root's children and the indexes.
// A scout therefore walks the netlist kScoutDistance atoms ahead of the
// naming loop, predicts each made-up name with counters of its own (a name's
// number does not depend on uniquing), and prefetches the buckets that name
// will be searched and entered in; the naming loop, a few names before it
// makes one, fetches the nodes and texts in those buckets. A prediction is
// only ever used to prefetch, so a wrong one costs time, never a name.
void ZEMA_NAME_CONVERTER_FUSION_IMPL::scout_atom(CDB_ATOM_NODE const* atom,
                                                 ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* root,
                                                 INIT_STATE& state) {
  if (!atom) return;
  auto const bucket_of = [](ORB_BUCKET_OF& of, auto const& table, unsigned hash) {
    __builtin_prefetch(&table.m_buckets[of(table, hash)]);
  };
  auto const predict = [&](char const* text, int kind, int number) {
    std::size_t const slot = state.m_predicted++ % INIT_STATE::kPredicted;
    state.m_predicted_known[slot] = text != nullptr;
    if (!text) return;
    NAME_HASHES const hashes = hashes_of(text);
    state.m_predicted_hashes[slot] = hashes;
    state.m_predicted_type[slot] = kind;
    state.m_predicted_number[slot] = number;
    bucket_of(state.m_name_bucket, m_name_table, hashes.m_table);
    if (state.m_building) {
      state.m_building->prefetch(hashes.m_child);
    } else {
      __builtin_prefetch(
          &root->m_children.m_buckets[orb_bucket(hashes.m_child, root->m_children.m_bucket_count)]);
    }
  };
  char text[64];
  int const type = atom->get_basic_type();
  unsigned const id = HDB_NAME_MGR::get_iname_id(atom->get_instance_name());
  bucket_of(state.m_atom_bucket, m_atom_hier_hash, id);
  if (!is_atom_made_up_name_needed(atom) || zema_is_node_named_atom_type(type)) {
    bucket_of(state.m_hier_bucket, m_hier_by_id_hash, id);
  }
  if (is_atom_made_up_name_needed(atom) && type >= 0 && type < TYPE_COUNT) {
    if (zema_is_node_named_atom_type(type) || m_type_prefix[type].size() + 12 > sizeof text) {
      predict(nullptr, 0, 0);  // named after a node found later: not predicted
    } else {
      std::size_t const length = m_type_prefix[type].size();
      std::memcpy(text, m_type_prefix[type].data(), length);
      int const number = state.m_scout_atom_counter++;
      *std::to_chars(text + length, text + sizeof text - 1, number).ptr = '\0';
      predict(text, type, number);
    }
  }
  for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
    CDB_ATOM_OTERM const* const oterm = *it;
    if (!oterm) continue;
    unsigned const oterm_id = HDB_NAME_MGR::get_iname_id(oterm->get_instance_name());
    bucket_of(state.m_oterm_bucket, m_oterm_hier_hash, oterm_id);
    if (!is_oterm_made_up_name_needed(oterm)) {
      bucket_of(state.m_hier_bucket, m_hier_by_id_hash, oterm_id);
      continue;
    }
    text[0] = 'w';
    int const number = state.m_scout_oterm_counter++;
    *std::to_chars(text + 1, text + sizeof text - 1, number).ptr = '\0';
    predict(text, INIT_STATE::kOterm, number);
  }
}

// The scout's first look at an atom, twice as far ahead: the host objects of
// the atom's and its oterms' instance names, whose ids the second look reads.
static void scout_atom_names(CDB_ATOM_NODE const* atom) {
  if (!atom) return;
  if (HDB_INSTANCE_NAME const* const name = atom->get_instance_name()) __builtin_prefetch(name);
  for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
    if (*it == nullptr) continue;
    if (HDB_INSTANCE_NAME const* const name = (*it)->get_instance_name()) {
      __builtin_prefetch(name);
    }
  }
}

// The scout's last look at an atom, a few atoms before it is named: the
// entries at the head of the id-index buckets that the second look fetched.
// Naming an atom or oterm that the hierarchy names reads its entry in the
// hierarchy's index, and entering any of them reads the chain it joins; on a
// big design each was a miss of its own, right behind the bucket's.
void ZEMA_NAME_CONVERTER_FUSION_IMPL::scout_entries(CDB_ATOM_NODE const* atom, INIT_STATE& state) {
  if (!atom) return;
  auto const head_of = [](ORB_BUCKET_OF& of, auto const& table, unsigned id) {
    if (auto const* const head = table.m_buckets[of(table, id)]) __builtin_prefetch(head);
  };
  unsigned const id = HDB_NAME_MGR::get_iname_id(atom->get_instance_name());
  head_of(state.m_atom_bucket, m_atom_hier_hash, id);
  if (!is_atom_made_up_name_needed(atom)) head_of(state.m_hier_bucket, m_hier_by_id_hash, id);
  for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
    CDB_ATOM_OTERM const* const oterm = *it;
    if (!oterm) continue;
    unsigned const oterm_id = HDB_NAME_MGR::get_iname_id(oterm->get_instance_name());
    head_of(state.m_oterm_bucket, m_oterm_hier_hash, oterm_id);
    if (!is_oterm_made_up_name_needed(oterm)) {
      head_of(state.m_hier_bucket, m_hier_by_id_hash, oterm_id);
    }
  }
}

// The hashes the scout computed for the made-up name being made (the one
// prefetch_made_up was last called for), when it predicted a name of the same
// kind and number: the same text.
bool ZEMA_NAME_CONVERTER_FUSION_IMPL::predicted_hashes(INIT_STATE const* state, int kind,
                                                       int number, NAME_HASHES* hashes) const {
  if (!state || state->m_made == 0) return false;
  std::size_t const name = state->m_made - 1;
  if (name >= state->m_predicted || name + INIT_STATE::kPredicted <= state->m_predicted) {
    return false;
  }
  std::size_t const slot = name % INIT_STATE::kPredicted;
  if (!state->m_predicted_known[slot] || state->m_predicted_type[slot] != kind ||
      state->m_predicted_number[slot] != number) {
    return false;
  }
  *hashes = state->m_predicted_hashes[slot];
  return true;
}

// Called before each made-up name: fetches the nodes at the head of the
// predicted buckets of the name four ahead, and the text of the name-table
// node of the name two ahead.
void ZEMA_NAME_CONVERTER_FUSION_IMPL::prefetch_made_up(
    ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* root, INIT_STATE& state) const {
  std::size_t const made = state.m_made++;
  auto const known = [&state](std::size_t name) {
    return name < state.m_predicted && name + INIT_STATE::kPredicted > state.m_predicted &&
           state.m_predicted_known[name % INIT_STATE::kPredicted];
  };
  if (known(made + 4)) {
    NAME_HASHES const& hashes = state.m_predicted_hashes[(made + 4) % INIT_STATE::kPredicted];
    if (auto const* const node =
            m_name_table.m_buckets[state.m_name_bucket(m_name_table, hashes.m_table)]) {
      __builtin_prefetch(node);
    }
    if (state.m_building) {
      // Searched through the builder, and only when the name table holds the
      // text: the scout has fetched the chain head the name will enter.
    } else if (auto const* const node =
                   root->m_children
                       .m_buckets[orb_bucket(hashes.m_child, root->m_children.m_bucket_count)]) {
      __builtin_prefetch(node);
    }
  }
  if (known(made + 2)) {
    NAME_HASHES const& hashes = state.m_predicted_hashes[(made + 2) % INIT_STATE::kPredicted];
    if (auto const* const node =
            m_name_table.m_buckets[state.m_name_bucket(m_name_table, hashes.m_table)]) {
      __builtin_prefetch(node->m_text);
    }
  }
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::name_netlist(INIT_STATE& state) {
  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* const root = m_root->cast_to_parent();
  // Every made-up name becomes a child of the root: on a big design a million
  // and more, whose index would be rehashed at every growth. The builder
  // replays those growths on compact arrays and links the index once, as it
  // would have been; the one that captured the root's children goes on, when
  // init() kept it.
  if (m_netlist) {
    if (!state.m_root_builder) state.m_root_builder.emplace(root->m_children, state.m_root_storage);
    INIT_STATE::BUILDING const building(state, &*state.m_root_builder, root);
    name_atoms(root, state);
  }
  if (state.m_root_builder) state.m_root_builder->finish();
}

// A design of fewer nodes and atoms than this, some 350 bytes each with the
// indexes, stays in the caches of one core.
static constexpr std::size_t kCachedNodes = 32768;

// Whether `netlist` holds more than `count` atoms, counted no further.
static bool has_more_atoms(CDB_ATOM_NETLIST const* netlist, std::size_t count) {
  CDB_ATOM_NODE_LINK* const end = netlist->end_node_list();
  CDB_ATOM_NODE_LINK* link = netlist->begin_node_list();
  for (std::size_t seen = 0; link != end; link = link->m_next) {
    if (++seen > count) return true;
  }
  return false;
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::name_atoms(ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* root,
                                                 INIT_STATE& state) {
  CDB_ATOM_NODE_LINK* const end = m_netlist->end_node_list();
  std::size_t const kScoutDistance = 16;
  // A design whose tree and atoms come to fewer than kCachedNodes stays in
  // the caches: the scout would only add its own work. The atoms are counted
  // only below a small tree, and no further than the rest of that number.
  // Without the scout the loop below finds it and the first look already at
  // the end, and nothing is predicted.
  std::size_t const tree = m_hierarchies.size();
  bool const scouting = tree >= kCachedNodes || has_more_atoms(m_netlist, kCachedNodes - tree);
  state.m_scout = scouting ? m_netlist->begin_node_list() : end;
  state.m_scout_atom_counter = m_atom_counter;
  state.m_scout_oterm_counter = m_oterm_counter;
  for (std::size_t i = 0; i < kScoutDistance && state.m_scout != end; ++i) {
    scout_atom(state.m_scout->m_node, root, state);
    state.m_scout = state.m_scout->m_next;
  }
  // A first look at the instance names runs twice as far ahead.
  CDB_ATOM_NODE_LINK* far = scouting ? m_netlist->begin_node_list() : end;
  for (std::size_t i = 0; i < 2 * kScoutDistance && far != end; ++i) {
    scout_atom_names(far->m_node);
    far = far->m_next;
  }
  // The last look, kEntryDistance atoms ahead of the naming.
  std::size_t const kEntryDistance = 6;
  CDB_ATOM_NODE_LINK* near = scouting ? m_netlist->begin_node_list() : end;
  for (std::size_t i = 0; i < kEntryDistance && near != end; ++i) near = near->m_next;
  for (CDB_ATOM_NODE_LINK* link = m_netlist->begin_node_list(); link != end; link = link->m_next) {
    if (state.m_scout != end) {
      scout_atom(state.m_scout->m_node, root, state);
      state.m_scout = state.m_scout->m_next;
    }
    if (near != end) {
      scout_entries(near->m_node, state);
      near = near->m_next;
    }
    if (far != end) {
      scout_atom_names(far->m_node);
      far = far->m_next;
    }
    CDB_ATOM_NODE* const atom = link->m_node;
    if (!atom) {
      ZEMA_REPORT("atom != 0");
      continue;
    }
    // An atom whose own name cannot be placed is left out of the atom index;
    // its oterms are still named, so later made-up numbers do not shift.
    unsigned const id = HDB_NAME_MGR::get_iname_id(atom->get_instance_name());
    ZEMA_NAME_CONVERTER_HIERARCHY* node = nullptr;
    if (!is_atom_made_up_name_needed(atom)) {
      ID_HASH::NODE const* const entry =
          m_hier_by_id_hash.bucket_search(state.m_hier_bucket(m_hier_by_id_hash, id), id);
      if (entry) {
        node = entry->m_value;
      } else {
        ZEMA_REPORT("hash_iter != this->m_hier_by_id_hash.end()");
      }
    } else {
      int const type = atom->get_basic_type();
      if (scouting && type >= 0 && type < TYPE_COUNT) prefetch_made_up(root, state);
      NAME_HASHES hashes;
      if (char const* const name = made_up_atom_name(atom, root, &state, &hashes)) {
        node = add_made_up_leaf(root, name, hashes.m_child, id, state);
      }
    }
    if (node) m_atom_hier_hash.bucket_slot(state.m_atom_bucket(m_atom_hier_hash, id), id) = node;

    name_oterms(atom, root, scouting, state);
  }
}

// The oterms of one atom, in order: each takes the node its hierarchy gave it
// or a made-up name under the root, and enters the oterm index.
void ZEMA_NAME_CONVERTER_FUSION_IMPL::name_oterms(CDB_ATOM_NODE const* atom,
                                                  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* root,
                                                  bool scouting, INIT_STATE& state) {
  CDB_ATOM_OTERM_ITERATOR const oterm_end = atom->end_oterm();
  for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != oterm_end; ++it) {
    CDB_ATOM_OTERM* const oterm = *it;
    if (!oterm) continue;
    unsigned const oterm_id = HDB_NAME_MGR::get_iname_id(oterm->get_instance_name());
    ZEMA_NAME_CONVERTER_HIERARCHY* oterm_node;
    if (!is_oterm_made_up_name_needed(oterm)) {
      ID_HASH::NODE const* const entry = m_hier_by_id_hash.bucket_search(
          state.m_hier_bucket(m_hier_by_id_hash, oterm_id), oterm_id);
      if (!entry) {
        ZEMA_REPORT("hash_iter != this->m_hier_by_id_hash.end()");
        continue;
      }
      oterm_node = entry->m_value;
    } else {
      if (scouting) prefetch_made_up(root, state);
      NAME_HASHES hashes;
      char const* const name = made_up_oterm_name(oterm, root, &state, &hashes);
      oterm_node = add_made_up_leaf(root, name, hashes.m_child, oterm_id, state);
    }
    m_oterm_hier_hash.bucket_slot(state.m_oterm_bucket(m_oterm_hier_hash, oterm_id), oterm_id) =
        oterm_node;
  }
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::makeup_atom_name(
    CDB_ATOM_NODE* atom, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) {
  NAME_HASHES hashes;
  return made_up_atom_name(atom, parent, nullptr, &hashes);
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::made_up_atom_name(
    CDB_ATOM_NODE* atom, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent, INIT_STATE* state,
    NAME_HASHES* hashes) {
  if (!atom) {
    ZEMA_REPORT("atom != 0");
    return nullptr;
  }
  int const type = atom->get_basic_type();
  if (type < 0 || type >= TYPE_COUNT) {
    ZEMA_REPORT("type >= 0 && type < 50");
    return nullptr;
  }
  m_work_name = m_type_prefix[type];
  if (zema_is_node_named_atom_type(type)) {
    // Named after the atom's own hierarchy node: prefix, "_", that node's name.
    unsigned const id = HDB_NAME_MGR::get_iname_id(atom->get_instance_name());
    if (id == 0) {
      ZEMA_REPORT("HDB and CDB do not match!");
      return nullptr;
    }
    ID_HASH::NODE const* const entry = m_hier_by_id_hash.hash_search(id, id);
    if (!entry) {
      ZEMA_REPORT("hash_iter != this->m_hier_by_id_hash.end()");
      return nullptr;
    }
    m_number_text = "_";
    m_number_text += entry->m_value->m_name;
  } else {
    gen_itoa(m_atom_counter, m_number_text, 10);
    ++m_atom_counter;
  }
  m_work_name += m_number_text;
  if (zema_is_node_named_atom_type(type) ||
      !predicted_hashes(state, type, m_atom_counter - 1, hashes)) {
    *hashes = hashes_of(m_work_name.c_str());
  }
  return unique_name(&m_work_name, parent, state, hashes);
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::makeup_oterm_name(
    CDB_ATOM_OTERM const* oterm, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) {
  NAME_HASHES hashes;
  return made_up_oterm_name(oterm, parent, nullptr, &hashes);
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::made_up_oterm_name(
    CDB_ATOM_OTERM const* oterm, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent,
    INIT_STATE* state, NAME_HASHES* hashes) {
  if (!oterm) {
    ZEMA_REPORT("oterm != 0");
    return nullptr;
  }
  gen_itoa(m_oterm_counter, m_number_text, 10);
  m_work_name = "w";
  m_work_name += m_number_text;
  if (!predicted_hashes(state, INIT_STATE::kOterm, m_oterm_counter, hashes)) {
    *hashes = hashes_of(m_work_name.c_str());
  }
  char const* const name = unique_name(&m_work_name, parent, state, hashes);
  ++m_oterm_counter;
  return name;
}

// --- Fusion converter: queries -------------------------------------------------

ZEMA_NAME_CONVERTER_HIERARCHY const* ZEMA_NAME_CONVERTER_FUSION_IMPL::find_node(
    ID_HASH const& index, HDB_INSTANCE_NAME const* name) const {
  unsigned const id = HDB_NAME_MGR::get_iname_id(name);
  ID_HASH::NODE const* const entry = index.hash_search(id, id);
  return entry ? entry->m_value : nullptr;
}

// One step of prefetch_query for an object named `name` in `index`.
static void prefetch_step(ZEMA_NAME_CONVERTER_FUSION_IMPL::ID_HASH const& index,
                          HDB_INSTANCE_NAME const* name,
                          ZEMA_NAME_CONVERTER_FUSION_IMPL::QUERY_PREFETCH* progress) {
  typedef ZEMA_NAME_CONVERTER_FUSION_IMPL::ID_HASH::NODE ENTRY;
  void const* next = nullptr;
  switch (progress->m_step) {
    case 0:
      next = name;
      break;
    case 1: {
      // The id is read from the name, fetched by step 0.
      unsigned const id = HDB_NAME_MGR::get_iname_id(name);
      next = &index.m_buckets[id % index.m_bucket_count];
      break;
    }
    case 2:
      next = *static_cast<ENTRY* const*>(progress->m_at);
      break;
    case 3: {
      // The chain from its head, fetched by step 2, to the id's entry.
      unsigned const id = HDB_NAME_MGR::get_iname_id(name);
      ENTRY const* entry = static_cast<ENTRY const*>(progress->m_at);
      while (entry && entry->m_key != id) entry = entry->m_next;
      if (entry) next = entry->m_value;
      break;
    }
    default: {
      // A node fetched by the step before: its name now, its parent next.
      auto const* const node = static_cast<ZEMA_NAME_CONVERTER_HIERARCHY const*>(progress->m_at);
      orb_prefetch_text(node->m_name);
      next = node->m_parent;
      break;
    }
  }
  ++progress->m_step;
  progress->m_at = next;
  if (next) __builtin_prefetch(next);
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::prefetch_query(CDB_ATOM_NODE const* atom,
                                                     QUERY_PREFETCH* progress) const {
  if (!atom || (progress->m_step > 0 && !progress->m_at)) return;
  prefetch_step(m_atom_hier_hash, atom->get_instance_name(), progress);
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::prefetch_query(CDB_ATOM_OTERM const* oterm,
                                                     QUERY_PREFETCH* progress) const {
  if (!oterm || (progress->m_step > 0 && !progress->m_at)) return;
  prefetch_step(m_oterm_hier_hash, oterm->get_instance_name(), progress);
}

ZEMA_NAME_CONVERTER_HIERARCHY const* ZEMA_NAME_CONVERTER_FUSION_IMPL::atom_node(
    CDB_ATOM_NODE const* atom) const {
  if (!atom) {
    ZEMA_REPORT("atom != 0");
    return nullptr;
  }
  return find_node(m_atom_hier_hash, atom->get_instance_name());
}

ZEMA_NAME_CONVERTER_HIERARCHY const* ZEMA_NAME_CONVERTER_FUSION_IMPL::oterm_node(
    CDB_ATOM_OTERM const* oterm) const {
  if (!oterm) {
    ZEMA_REPORT("oterm != 0");
    return nullptr;
  }
  return find_node(m_oterm_hier_hash, oterm->get_instance_name());
}

bool ZEMA_NAME_CONVERTER_FUSION_IMPL::get_converted_unit_name(GEN_STRING* out,
                                                              CDB_ATOM_NODE* atom) {
  ZEMA_NAME_CONVERTER_HIERARCHY const* const node = atom_node(atom);
  if (!node) return false;
  out->assign(node->m_name);
  return true;
}

bool ZEMA_NAME_CONVERTER_FUSION_IMPL::get_converted_unit_name(GEN_STRING* out,
                                                              CDB_ATOM_OTERM* oterm) {
  ZEMA_NAME_CONVERTER_HIERARCHY const* const node = oterm_node(oterm);
  if (!node) return false;
  out->assign(node->m_name);
  return true;
}

// Copies `length` bytes, reading and writing none beyond them. Unit names are
// mostly a few bytes long, where a call of memcpy costs more than the copy.
static void copy_name(char* to, char const* from, std::size_t length) {
  if (length < 4) {
    for (std::size_t i = 0; i < length; ++i) to[i] = from[i];
  } else if (length < 8) {
    std::memcpy(to, from, 4);
    std::memcpy(to + length - 4, from + length - 4, 4);
  } else if (length <= 16) {
    std::memcpy(to, from, 8);
    std::memcpy(to + length - 8, from + length - 8, 8);
  } else {
    std::memcpy(to, from, length);
  }
}

// Replaces *out with the leading text (one backslash unless `no_backslash`),
// then the names from below the root down to `node`, separated by "/", and a
// final "/" when `trailing_slash`. Two walks up the parent chain, one to size
// the result and one to fill it from the end, so neither the stack nor the
// allocations grow with the depth.
static void write_path(GEN_STRING* out, ZEMA_NAME_CONVERTER_HIERARCHY const* node,
                       bool no_backslash, bool trailing_slash) {
  // The measuring walk keeps the length of each of the first kKept levels
  // from the node up, a byte each, for the writing walk: measuring a name is
  // most of the cost of a level. Deeper levels, and names of kLong bytes or
  // more, are measured again.
  std::size_t const kKept = 4096;
  unsigned char const kLong = 255;
  unsigned char kept[kKept];
  std::size_t length = no_backslash ? 0 : 1;
  bool const below_root = node->m_parent != nullptr;
  std::size_t level = 0;
  for (ZEMA_NAME_CONVERTER_HIERARCHY const* n = node; n->m_parent; n = n->m_parent, ++level) {
    std::size_t const name_length = std::strlen(n->m_name);
    if (level < kKept)
      kept[level] = static_cast<unsigned char>(std::min<std::size_t>(name_length, kLong));
    length += name_length + 1;
  }
  if (below_root && !trailing_slash) --length;
  out->resize(length);
  char* const begin = &(*out)[0];
  char* to = begin + length;
  bool separator = trailing_slash;
  level = 0;
  for (ZEMA_NAME_CONVERTER_HIERARCHY const* n = node; n->m_parent; n = n->m_parent, ++level) {
    if (separator) *--to = '/';
    separator = true;
    std::size_t const name_length =
        level < kKept && kept[level] < kLong ? kept[level] : std::strlen(n->m_name);
    to -= name_length;
    copy_name(to, n->m_name, name_length);
  }
  if (!no_backslash) *--to = '\\';
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::get_converted_full_name_helper(
    GEN_STRING* out, ZEMA_NAME_CONVERTER_HIERARCHY const* node, bool no_backslash) {
  write_path(out, node, no_backslash, true);
}

// The root's own name is never part of a full name: the root gives "".
void ZEMA_NAME_CONVERTER_FUSION_IMPL::write_full_name(GEN_STRING* out,
                                                      ZEMA_NAME_CONVERTER_HIERARCHY const* node,
                                                      bool no_backslash) {
  if (!node->m_parent) {
    out->clear();
    return;
  }
  write_path(out, node, no_backslash, false);
}

bool ZEMA_NAME_CONVERTER_FUSION_IMPL::get_converted_full_name(GEN_STRING* out, CDB_ATOM_NODE* atom,
                                                              bool no_backslash) {
  ZEMA_NAME_CONVERTER_HIERARCHY const* const node = atom_node(atom);
  if (!node) return false;
  write_full_name(out, node, no_backslash);
  return true;
}

bool ZEMA_NAME_CONVERTER_FUSION_IMPL::get_converted_full_name(GEN_STRING* out,
                                                              CDB_ATOM_OTERM* oterm,
                                                              bool no_backslash) {
  ZEMA_NAME_CONVERTER_HIERARCHY const* const node = oterm_node(oterm);
  if (!node) return false;
  write_full_name(out, node, no_backslash);
  return true;
}

// Walks down from the root one "/"-separated segment at a time. Each segment
// must be an interned name and the name of a child of the current node, so the
// match is exact and a name never matches under another parent.
unsigned ZEMA_NAME_CONVERTER_FUSION_IMPL::get_original_name_id(char const* converted_full_name) {
  if (!converted_full_name) {
    ZEMA_REPORT("converted_full_name != 0");
    return 0;
  }
  char const* segment = converted_full_name;
  if (*segment == '\\') ++segment;
  ZEMA_NAME_CONVERTER_HIERARCHY const* current = m_root;
  for (;;) {
    char const* const slash = std::strchr(segment, '/');
    std::size_t const length = slash ? std::size_t(slash - segment) : std::strlen(segment);
    m_work_name.assign(segment, length);
    char const* const interned = m_name_table.find(m_work_name.c_str());
    if (!interned || !current) return 0;
    // A leaf has no children to step down to.
    ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* const parent = current->cast_to_parent();
    if (!parent) return 0;
    ZEMA_NAME_CONVERTER_HIERARCHY::CHILD_HASH::NODE const* const child =
        parent->m_children.hash_search(parent->m_children.m_ops.hash(interned), interned);
    if (!child) return 0;
    current = child->m_value;
    if (!slash) return current->m_id;
    segment = slash + 1;
  }
}
