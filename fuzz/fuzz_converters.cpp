// Fuzzes both converters with designs decoded from the input bytes: random
// hierarchies with arbitrary unit-name bytes, free-standing names, atoms of
// every type (and out-of-range ones), oterms and null entries. Whatever the
// design, the converters must not crash or leak, every fusion name must be
// legal, and every instance name of the hierarchy that names an atom must
// reverse-look-up to its id with both strategies.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "host/zema_host.h"

namespace {

class BYTES {
 public:
  BYTES(uint8_t const* data, std::size_t size) : m_data(data), m_size(size) {}
  bool empty() const { return m_pos >= m_size; }
  unsigned next() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  std::vector<char> text() {
    std::vector<char> out;
    for (unsigned length = next() % 6; length > 0 && !empty(); --length) {
      char const c = static_cast<char>(next());
      if (c != '\0') out.push_back(c);
    }
    out.push_back('\0');
    return out;
  }

 private:
  uint8_t const* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

bool legal_fusion_segment(char const* begin, char const* end) {
  if (begin == end || *begin < 'a' || *begin > 'z') return false;
  for (char const* p = begin; p != end; ++p) {
    char const c = *p;
    bool const ok = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '[' || c == ']' ||
                    c == '_';
    if (!ok) return false;
  }
  return true;
}

bool legal_fusion_full_name(GEN_STRING const& name) {
  char const* begin = name.c_str();
  char const* const end = begin + name.size();
  for (char const* p = begin;; ++p) {
    if (p == end || *p == '/') {
      if (!legal_fusion_segment(begin, p)) return false;
      if (p == end) return true;
      begin = p + 1;
    }
  }
}

void check(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  zema_host::set_internal_error_echo(false);
  unsigned long long const blocks_at_start = zema_host::mem_module_stats("ZEMA").live_blocks;
  {
    BYTES bytes(data, size);
    zema_host::DESIGN design;
    std::vector<HDB_INSTANCE_NAME const*> hierarchy{design.set_root("", 1)};
    std::vector<HDB_INSTANCE_NAME const*> names{hierarchy[0]};
    std::vector<CDB_ATOM_NODE*> atoms;
    unsigned next_id = 2;
    while (!bytes.empty()) {
      switch (bytes.next() % 5) {
        case 0: {
          HDB_INSTANCE_NAME const* const parent = hierarchy[bytes.next() % hierarchy.size()];
          hierarchy.push_back(design.add_child(parent, bytes.text().data(), next_id++));
          names.push_back(hierarchy.back());
          break;
        }
        case 1:
          names.push_back(design.add_free_name(bytes.text().data(), bytes.next() % 3 ? next_id++ : 0));
          break;
        case 2: {
          unsigned const pick = bytes.next();
          HDB_INSTANCE_NAME const* const name = pick % 7 ? names[pick % names.size()] : nullptr;
          atoms.push_back(design.add_atom(static_cast<CDB_ATOM_BASIC_TYPE>(bytes.next() % 52), name));
          break;
        }
        case 3:
          if (!atoms.empty()) design.add_oterm(atoms.back(), names[bytes.next() % names.size()]);
          break;
        default:
          if (!atoms.empty()) design.add_null_oterm(atoms.back());
          break;
      }
    }

    ZEMA_NAME_CONVERTER fusion(ZEMA_NAME_CONVERTER_FUSION);
    ZEMA_NAME_CONVERTER reversible(ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE);
    fusion.init(design.action_point(), design.netlist());
    reversible.init(design.action_point(), design.netlist());
    GEN_STRING full;
    for (CDB_ATOM_NODE* const atom : atoms) {
      HDB_INSTANCE_NAME const* const name = atom->get_instance_name();
      bool const in_hierarchy = name && (name == hierarchy[0] || zema_host::parent_of(name));
      if (fusion.get_converted_full_name(&full, atom, false)) {
        check(full.empty() || (full[0] == '\\' && legal_fusion_full_name(full.substr(1))));
        if (atom->get_basic_type() == CDB_ATOM_COMB && !full.empty()) {
          check(fusion.get_original_name_id(full.c_str()) == HDB_NAME_MGR::get_iname_id(name));
        }
      }
      if (in_hierarchy && name != hierarchy[0] &&
          reversible.get_converted_full_name(&full, atom, true)) {
        check(reversible.get_original_name_id(full.c_str()) == HDB_NAME_MGR::get_iname_id(name));
      }
      for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
        if (*it) fusion.get_converted_unit_name(&full, *it);
      }
    }
    fusion.clear();
    fusion.init(design.action_point(), design.netlist());
  }
  zema_host::clear_internal_errors();
  check(zema_host::mem_module_stats("ZEMA").live_blocks == blocks_at_start);
  return 0;
}
