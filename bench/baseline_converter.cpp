#include "bench/baseline_converter.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "atm/zema/zema_naming_rules.h"
#include "h/dbs_translator_sys.h"

namespace zema_bench {
namespace {

std::string unit_name_of(HDB_INSTANCE_NAME const* name) {
  return name->get_unit_name().get_string();
}

bool has_children(HDB_INSTANCE_NAME const* name) {
  return name->begin_child() != name->end_child();
}

std::string legalise(std::string const& in) {
  std::string out;
  if (in.empty() || !zema_is_legal_first_char(in[0])) out += 'a';
  for (char c : in) {
    if (c >= 'A' && c <= 'Z') {
      out += static_cast<char>(c - 'A' + 'a');
    } else {
      out += zema_is_legal_name_char(c) ? c : '_';
    }
  }
  return out;
}

// The lower-cased debug names of the 50 atom types.
std::vector<std::string> type_prefixes() {
  DBS_TRANSLATOR const translator;
  std::vector<std::string> prefixes;
  for (int type = 0; type < CDB_ATOM_BASIC_TYPE_COUNT; ++type) {
    prefixes.push_back(translator.get_debug_string_name(static_cast<CDB_ATOM_BASIC_TYPE>(type)));
    for (char& c : prefixes.back()) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return prefixes;
}

}  // namespace

BASELINE_CONVERTER::NODE* BASELINE_CONVERTER::add_node(NODE* parent, std::string name, unsigned id,
                                                       bool leaf) {
  m_nodes.push_back(std::make_unique<NODE>(NODE{std::move(name), id, parent, leaf, {}}));
  NODE* const node = m_nodes.back().get();
  if (parent) parent->children[node->name] = node;
  return node;
}

std::string BASELINE_CONVERTER::unique(NODE const* parent, std::string const& base) const {
  std::string candidate = base;
  for (int suffix = 0; parent->children.count(candidate); ++suffix) {
    candidate = base + "_" + std::to_string(suffix);
  }
  return candidate;
}

void BASELINE_CONVERTER::clear() {
  m_nodes.clear();
  m_by_id.clear();
  m_atoms.clear();
  m_oterms.clear();
  m_root = nullptr;
}

void BASELINE_CONVERTER::init(HDB_CMP_ACTION_PT_INSTANCE const* action_point,
                              CDB_ATOM_NETLIST* netlist) {
  clear();
  HDB_INSTANCE_NAME const* const root = action_point->get_m_rooted_at();
  m_root = add_node(nullptr, "", HDB_NAME_MGR::get_iname_id(root), false);
  m_by_id[m_root->id] = m_root;
  capture(root);
  name_netlist(netlist);
}

// Depth first, children named in unit-name order, descending in database order.
void BASELINE_CONVERTER::capture(HDB_INSTANCE_NAME const* root) {
  std::vector<std::pair<HDB_INSTANCE_NAME const*, NODE*>> todo{{root, m_root}};
  while (!todo.empty()) {
    auto [instance, parent] = todo.back();
    todo.pop_back();
    std::vector<std::pair<std::string, HDB_INSTANCE_NAME const*>> children;
    for (auto it = instance->begin_child(); it != instance->end_child(); ++it) {
      children.emplace_back(unit_name_of(*it), *it);
    }
    std::stable_sort(children.begin(), children.end(),
                     [](auto const& a, auto const& b) { return a.first < b.first; });
    for (auto const& [text, child] : children) {
      unsigned const id = HDB_NAME_MGR::get_iname_id(child);
      m_by_id[id] = add_node(parent, unique(parent, legalise(text)), id, !has_children(child));
    }
    std::vector<std::pair<HDB_INSTANCE_NAME const*, NODE*>> below;
    for (auto it = instance->begin_child(); it != instance->end_child(); ++it) {
      if (!has_children(*it)) continue;
      NODE* const node = m_by_id[HDB_NAME_MGR::get_iname_id(*it)];
      if (!node->leaf) below.emplace_back(*it, node);
    }
    todo.insert(todo.end(), below.rbegin(), below.rend());
  }
}

void BASELINE_CONVERTER::name_netlist(CDB_ATOM_NETLIST* netlist) {
  static std::vector<std::string> const prefixes = type_prefixes();
  int atom_counter = 0;
  int oterm_counter = 0;
  for (CDB_ATOM_NODE_LINK* link = netlist->begin_node_list(); link != netlist->end_node_list();
       link = link->m_next) {
    CDB_ATOM_NODE const* const atom = link->m_node;
    int const type = atom->get_basic_type();
    unsigned const id = HDB_NAME_MGR::get_iname_id(atom->get_instance_name());
    if (zema_is_hierarchy_named_atom_type(type)) {
      m_atoms[id] = m_by_id.at(id);
    } else {
      std::string base = prefixes.at(static_cast<std::size_t>(type));
      if (zema_is_node_named_atom_type(type)) {
        base += "_" + m_by_id.at(id)->name;
      } else {
        base += std::to_string(atom_counter++);
      }
      m_atoms[id] = add_node(m_root, unique(m_root, base), id, true);
    }
    for (auto it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
      if (!*it) continue;
      unsigned const oterm_id = HDB_NAME_MGR::get_iname_id((*it)->get_instance_name());
      if (zema_is_hierarchy_named_atom_type(type)) {
        std::string const base = "w" + std::to_string(oterm_counter++);
        m_oterms[oterm_id] = add_node(m_root, unique(m_root, base), oterm_id, true);
      } else {
        m_oterms[oterm_id] = m_by_id.at(oterm_id);
      }
    }
  }
}

void BASELINE_CONVERTER::write_full_name(NODE const* node, std::string* out) {
  std::vector<NODE const*> path;
  for (; node->parent; node = node->parent) path.push_back(node);
  out->clear();
  for (auto it = path.rbegin(); it != path.rend(); ++it) {
    if (it != path.rbegin()) *out += '/';
    *out += (*it)->name;
  }
}

bool BASELINE_CONVERTER::unit_name(CDB_ATOM_NODE const* atom, std::string* out) const {
  auto const found = m_atoms.find(HDB_NAME_MGR::get_iname_id(atom->get_instance_name()));
  if (found == m_atoms.end()) return false;
  *out = found->second->name;
  return true;
}

bool BASELINE_CONVERTER::unit_name(CDB_ATOM_OTERM const* oterm, std::string* out) const {
  auto const found = m_oterms.find(HDB_NAME_MGR::get_iname_id(oterm->get_instance_name()));
  if (found == m_oterms.end()) return false;
  *out = found->second->name;
  return true;
}

bool BASELINE_CONVERTER::full_name(CDB_ATOM_NODE const* atom, std::string* out) const {
  auto const found = m_atoms.find(HDB_NAME_MGR::get_iname_id(atom->get_instance_name()));
  if (found == m_atoms.end()) return false;
  write_full_name(found->second, out);
  return true;
}

bool BASELINE_CONVERTER::full_name(CDB_ATOM_OTERM const* oterm, std::string* out) const {
  auto const found = m_oterms.find(HDB_NAME_MGR::get_iname_id(oterm->get_instance_name()));
  if (found == m_oterms.end()) return false;
  write_full_name(found->second, out);
  return true;
}

}  // namespace zema_bench
