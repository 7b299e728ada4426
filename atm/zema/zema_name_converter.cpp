#include "atm/zema/zema_name_converter.h"

#include <cstdarg>
#include <cstring>

#include "atm/zema/zema_naming_rules.h"
#include "h/dbs_translator_sys.h"
#include "h/hdb_vexa_sys.h"
#include "h/msg_sys.h"

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

// --- Fusion converter: legalisation and uniquing ------------------------------

void ZEMA_NAME_CONVERTER_FUSION_IMPL::transform(GEN_STRING* out, char const* in) {
  out->clear();
  if (!zema_is_legal_first_char(*in)) out->push_back('a');
  for (unsigned char const* p = reinterpret_cast<unsigned char const*>(in); *p; ++p) {
    unsigned char const c = *p;
    if (c >= 'A' && c <= 'Z') {
      out->push_back(static_cast<char>(c + ('a' - 'A')));
    } else {
      // '_' itself is legal, so every byte that is not legal becomes one.
      out->push_back(zema_is_legal_name_char(static_cast<char>(c)) ? static_cast<char>(c) : '_');
    }
  }
}

// Tries the base text, then base_0, base_1, ... until no child of `parent`
// bears the candidate. Only interned texts can be children's names, so a text
// the name table does not hold is free without asking the children. The base
// is kept as a length: appending may move the string's characters. Gives the
// table's node of the accepted text (null when the table does not hold it)
// and the text's table hash, so that interning it costs no second lookup.
ORB_STRING_TABLE_NODE* ZEMA_NAME_CONVERTER_FUSION_IMPL::uniquify(
    GEN_STRING* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent, unsigned* text_hash) {
  GEN_STRING::size_type const base_length = name->size();
  int suffix = 0;
  unsigned hash = m_name_table.m_ops.hash(name->c_str());
  ORB_STRING_TABLE_NODE* found = m_name_table.hash_search(hash, name->c_str());
  while (found && parent->m_children.hash_search(parent->m_children.m_ops.hash(found->m_text),
                                                 found->m_text)) {
    name->resize(base_length);
    gen_itoa(suffix, m_number_text, 10);
    name->push_back('_');
    name->append(m_number_text);
    hash = m_name_table.m_ops.hash(name->c_str());
    found = m_name_table.hash_search(hash, name->c_str());
    ++suffix;
  }
  *text_hash = hash;
  return found;
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::unique_name(
    GEN_STRING* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) {
  unsigned hash;
  ORB_STRING_TABLE_NODE const* const found = uniquify(name, parent, &hash);
  return found ? found->m_text : m_name_table.insert_helper(hash, name->c_str())->m_text;
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::intern(char const* text) {
  return m_name_table.insert_helper(m_name_table.m_ops.hash(text), text)->m_text;
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::convert(
    char const* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) {
  transform(&m_work_name, name);
  return unique_name(&m_work_name, parent);
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::differentiate(
    GEN_STRING* name, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) {
  unsigned hash;
  uniquify(name, parent, &hash);
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

  init_recurse(root, m_root);
  init_from_netlist();
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::init_recurse(HDB_INSTANCE_NAME const* instance,
                                                   ZEMA_NAME_CONVERTER_HIERARCHY* node) {
  if (node->is_leaf()) return;
  init_helper(instance, node->cast_to_parent());
  // Database order, not m_sorted_children: every nested init_helper refills it.
  HDB_CONST_NAME_ITERATOR const end = instance->end_child();
  for (HDB_CONST_NAME_ITERATOR it = instance->begin_child(); it != end; ++it) {
    HDB_INSTANCE_NAME const* const child = *it;
    if (!child || !has_children(child)) continue;
    unsigned const id = HDB_NAME_MGR::get_iname_id(child);
    ID_HASH::NODE const* const entry = m_hier_by_id_hash.hash_search(id, id);
    if (entry) init_recurse(child, entry->m_value);
  }
}

void ZEMA_NAME_CONVERTER_FUSION_IMPL::init_helper(HDB_INSTANCE_NAME const* instance,
                                                  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* parent) {
  m_sorted_children.clear();
  HDB_CONST_NAME_ITERATOR const end = instance->end_child();
  for (HDB_CONST_NAME_ITERATOR it = instance->begin_child(); it != end; ++it) {
    HDB_INSTANCE_NAME const* const child = *it;
    if (!child) {
      ZEMA_REPORT("child != 0");
      continue;
    }
    m_sorted_children.push_back(child);
  }
  sort_children();

  for (HDB_INSTANCE_NAME const* const child : m_sorted_children) {
    unsigned const id = HDB_NAME_MGR::get_iname_id(child);
    char const* const name = convert(unit_name_text(child), parent);
    ZEMA_NAME_CONVERTER_HIERARCHY* node;
    if (has_children(child)) {
      node = create_node<ZEMA_NAME_CONVERTER_HIERARCHY_PARENT>(parent, name, id);
    } else {
      node = create_node<ZEMA_NAME_CONVERTER_HIERARCHY_LEAF>(parent, name, id);
    }
    parent->m_children[name] = node;
    m_hier_by_id_hash[id] = node;
  }
}

// Stable merge sort of m_sorted_children under ZEMA_INAME_CPTR_COMPARE, so
// that children with equal unit names keep their database order. The list's
// own tail serves as the merge buffer: std::stable_sort would take its buffer
// from the untracked global heap.
void ZEMA_NAME_CONVERTER_FUSION_IMPL::sort_children() {
  std::size_t const count = m_sorted_children.size();
  if (count < 2) return;
  ZEMA_INAME_CPTR_COMPARE const less;
  m_sorted_children.resize(2 * count);
  HDB_INSTANCE_NAME const** from = m_sorted_children.data();
  HDB_INSTANCE_NAME const** to = from + count;
  for (std::size_t width = 1; width < count; width *= 2) {
    for (std::size_t lo = 0; lo < count; lo += 2 * width) {
      std::size_t const mid = lo + width < count ? lo + width : count;
      std::size_t const hi = mid + width < count ? mid + width : count;
      std::size_t i = lo, j = mid, k = lo;
      // Take from the right run only when it is strictly smaller: stability.
      while (i < mid && j < hi) to[k++] = less(from[j], from[i]) ? from[j++] : from[i++];
      while (i < mid) to[k++] = from[i++];
      while (j < hi) to[k++] = from[j++];
    }
    std::swap(from, to);
  }
  if (from != m_sorted_children.data()) std::copy(from, from + count, m_sorted_children.data());
  m_sorted_children.resize(count);
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
  ZEMA_NAME_CONVERTER_HIERARCHY_PARENT* const root = m_root->cast_to_parent();
  if (!m_netlist) return;
  CDB_ATOM_NODE_LINK* const end = m_netlist->end_node_list();
  for (CDB_ATOM_NODE_LINK* link = m_netlist->begin_node_list(); link != end; link = link->m_next) {
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
      ID_HASH::NODE const* const entry = m_hier_by_id_hash.hash_search(id, id);
      if (entry) {
        node = entry->m_value;
      } else {
        ZEMA_REPORT("hash_iter != this->m_hier_by_id_hash.end()");
      }
    } else if (char const* const name = makeup_atom_name(atom, root)) {
      node = create_node<ZEMA_NAME_CONVERTER_HIERARCHY_LEAF>(root, name, id);
      root->m_children[name] = node;
    }
    if (node) m_atom_hier_hash[id] = node;

    CDB_ATOM_OTERM_ITERATOR const oterm_end = atom->end_oterm();
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != oterm_end; ++it) {
      CDB_ATOM_OTERM* const oterm = *it;
      if (!oterm) continue;
      unsigned const oterm_id = HDB_NAME_MGR::get_iname_id(oterm->get_instance_name());
      ZEMA_NAME_CONVERTER_HIERARCHY* oterm_node = nullptr;
      if (!is_oterm_made_up_name_needed(oterm)) {
        ID_HASH::NODE const* const entry = m_hier_by_id_hash.hash_search(oterm_id, oterm_id);
        if (!entry) {
          ZEMA_REPORT("hash_iter != this->m_hier_by_id_hash.end()");
          continue;
        }
        oterm_node = entry->m_value;
      } else {
        char const* const name = makeup_oterm_name(oterm, root);
        oterm_node = create_node<ZEMA_NAME_CONVERTER_HIERARCHY_LEAF>(root, name, oterm_id);
        root->m_children[name] = oterm_node;
      }
      m_oterm_hier_hash[oterm_id] = oterm_node;
    }
  }
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::makeup_atom_name(
    CDB_ATOM_NODE* atom, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) {
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
  return unique_name(&m_work_name, parent);
}

char const* ZEMA_NAME_CONVERTER_FUSION_IMPL::makeup_oterm_name(
    CDB_ATOM_OTERM const* oterm, ZEMA_NAME_CONVERTER_HIERARCHY_PARENT const* parent) {
  if (!oterm) {
    ZEMA_REPORT("oterm != 0");
    return nullptr;
  }
  gen_itoa(m_oterm_counter, m_number_text, 10);
  m_work_name = "w";
  m_work_name += m_number_text;
  char const* const name = unique_name(&m_work_name, parent);
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

void ZEMA_NAME_CONVERTER_FUSION_IMPL::get_converted_full_name_helper(
    GEN_STRING* out, ZEMA_NAME_CONVERTER_HIERARCHY const* node, bool no_backslash) {
  if (!node->m_parent) {
    if (no_backslash) {
      out->clear();
    } else {
      out->assign(1, '\\');
    }
    return;
  }
  get_converted_full_name_helper(out, node->m_parent, no_backslash);
  out->append(node->m_name);
  out->push_back('/');
}

// The root's own name is never part of a full name: the root gives "".
void ZEMA_NAME_CONVERTER_FUSION_IMPL::write_full_name(GEN_STRING* out,
                                                      ZEMA_NAME_CONVERTER_HIERARCHY const* node,
                                                      bool no_backslash) {
  if (!node->m_parent) {
    out->clear();
    return;
  }
  get_converted_full_name_helper(out, node->m_parent, no_backslash);
  out->append(node->m_name);
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
