// Fuzzes both converters with designs decoded from the input bytes: random
// hierarchies with arbitrary unit-name bytes, free-standing names, atoms of
// every type (and out-of-range ones), oterms and null entries.
//
// Whatever the design, nothing may crash or leak, and:
//  - every fusion full name is "/"-joined legal unit names ending in the
//    object's unit name, the backslash form differs only by its backslash, and
//    the full name looks up the id of the object's instance name (the root's
//    full name is empty either way);
//  - clear() and a second init give exactly the same names;
//  - an instance name of the hierarchy reverse-looks-up to its id with the
//    reversible strategy;
//  - when the input asks for it, one allocation of an init fails: the
//    exception reaches the caller, and init again gives the same names.
//
// Input: one byte that selects the failing allocation (odd: one fails, with a
// second byte for its index), then the design, one operation per byte group.
#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "atm/zema/zema_naming_rules.h"
#include "host/zema_host.h"

namespace {

class BYTES {
 public:
  BYTES(uint8_t const* data, std::size_t size) : m_data(data), m_size(size) {}
  bool empty() const { return m_pos >= m_size; }
  unsigned next() { return m_pos < m_size ? m_data[m_pos++] : 0; }
  // Up to five bytes, NUL left out: a unit name.
  std::string text() {
    std::string out;
    for (unsigned length = next() % 6; length > 0 && !empty(); --length) {
      char const c = static_cast<char>(next());
      if (c != '\0') out.push_back(c);
    }
    return out;
  }

 private:
  uint8_t const* m_data;
  std::size_t m_size;
  std::size_t m_pos = 0;
};

void check(bool condition) {
  if (!condition) __builtin_trap();
}

std::string_view view(GEN_STRING const& s) { return std::string_view(s.data(), s.size()); }

bool legal_full_name(std::string_view name) {
  for (;;) {
    std::size_t const slash = name.find('/');
    if (!zema_is_legal_unit_name(name.substr(0, slash))) return false;
    if (slash == std::string_view::npos) return true;
    name.remove_prefix(slash + 1);
  }
}

struct DECODED {
  zema_host::DESIGN design;
  std::vector<HDB_INSTANCE_NAME const*> hierarchy;
  std::vector<CDB_ATOM_NODE*> atoms;
};

void decode(BYTES& bytes, DECODED* d) {
  d->hierarchy.push_back(d->design.set_root("", 1));
  std::vector<HDB_INSTANCE_NAME const*> names{d->hierarchy[0]};
  unsigned next_id = 2;
  while (!bytes.empty()) {
    switch (bytes.next() % 5) {
      case 0: {
        HDB_INSTANCE_NAME const* const parent = d->hierarchy[bytes.next() % d->hierarchy.size()];
        d->hierarchy.push_back(d->design.add_child(parent, bytes.text().c_str(), next_id++));
        names.push_back(d->hierarchy.back());
        break;
      }
      case 1: {
        std::string const text = bytes.text();
        names.push_back(d->design.add_free_name(text.c_str(), bytes.next() % 3 ? next_id++ : 0));
        break;
      }
      case 2: {
        unsigned const pick = bytes.next();
        HDB_INSTANCE_NAME const* const name = pick % 7 ? names[pick % names.size()] : nullptr;
        d->atoms.push_back(
            d->design.add_atom(static_cast<CDB_ATOM_BASIC_TYPE>(bytes.next() % 52), name));
        break;
      }
      case 3:
        if (!d->atoms.empty())
          d->design.add_oterm(d->atoms.back(), names[bytes.next() % names.size()]);
        break;
      default:
        if (!d->atoms.empty()) d->design.add_null_oterm(d->atoms.back());
        break;
    }
  }
}

// Every unit and full name that `fusion` gives for the atoms and oterms, in
// netlist order, each checked as the file comment says.
std::vector<std::string> fusion_names(ZEMA_NAME_CONVERTER& fusion, DECODED const& d) {
  std::vector<std::string> names;
  GEN_STRING unit, full, with_backslash;
  auto record = [&](auto* object) {
    bool const has_unit = fusion.get_converted_unit_name(&unit, object);
    bool const has_full = fusion.get_converted_full_name(&full, object, true);
    check(has_unit == has_full);
    if (!has_full) {
      names.emplace_back("-");
      return;
    }
    check(fusion.get_converted_full_name(&with_backslash, object, false));
    // Only the root gives an empty full name, with or without the backslash,
    // and it has no path to look up.
    if (full.empty()) {
      check(with_backslash.empty());
    } else {
      check(with_backslash.size() == full.size() + 1 && with_backslash[0] == '\\' &&
            view(with_backslash).substr(1) == view(full));
      check(legal_full_name(view(full)));
      check(view(full).substr(view(full).rfind('/') + 1) == view(unit));
      check(fusion.get_original_name_id(full.c_str()) ==
            HDB_NAME_MGR::get_iname_id(object->get_instance_name()));
    }
    names.emplace_back(unit.c_str());
    names.emplace_back(full.c_str());
  };
  for (CDB_ATOM_NODE* const atom : d.atoms) {
    record(atom);
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
      if (*it) record(*it);
    }
  }
  return names;
}

void check_reversible(ZEMA_NAME_CONVERTER& reversible, DECODED const& d) {
  GEN_STRING full;
  for (CDB_ATOM_NODE* const atom : d.atoms) {
    HDB_INSTANCE_NAME const* const name = atom->get_instance_name();
    bool const below_root = name && zema_host::parent_of(name);
    if (below_root && reversible.get_converted_full_name(&full, atom, true)) {
      check(reversible.get_original_name_id(full.c_str()) == HDB_NAME_MGR::get_iname_id(name));
    }
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
      if (*it) reversible.get_converted_unit_name(&full, *it);
    }
  }
}

// Allocations of both modules the converter allocates from, so far.
unsigned long long allocations() {
  return zema_host::mem_module_stats("ZEMA").total_blocks +
         zema_host::mem_module_stats("ORB").total_blocks;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, std::size_t size) {
  zema_host::set_internal_error_echo(false);
  unsigned long long const zema_at_start = zema_host::mem_module_stats("ZEMA").live_blocks;
  unsigned long long const orb_at_start = zema_host::mem_module_stats("ORB").live_blocks;
  {
    BYTES bytes(data, size);
    unsigned const fault_selector = bytes.next();
    unsigned const fault_index = fault_selector % 2 ? (fault_selector >> 1) | bytes.next() << 7 : 0;
    DECODED d;
    decode(bytes, &d);

    ZEMA_NAME_CONVERTER fusion(ZEMA_NAME_CONVERTER_FUSION);
    ZEMA_NAME_CONVERTER reversible(ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE);
    unsigned long long const before_init = allocations();
    fusion.init(d.design.action_point(), d.design.netlist());
    unsigned long long const init_allocations = allocations() - before_init;
    std::vector<std::string> const names = fusion_names(fusion, d);
    reversible.init(d.design.action_point(), d.design.netlist());
    check_reversible(reversible, d);

    fusion.clear();
    fusion.init(d.design.action_point(), d.design.netlist());
    check(fusion_names(fusion, d) == names);

    if (fault_selector % 2) {
      // Over the earlier tree, so that the failure also meets a full converter.
      zema_host::mem_fail_after(static_cast<long>(fault_index % (init_allocations + 1)));
      try {
        fusion.init(d.design.action_point(), d.design.netlist());
      } catch (std::bad_alloc const&) {
      }
      zema_host::mem_fail_after(-1);
      fusion.init(d.design.action_point(), d.design.netlist());
      check(fusion_names(fusion, d) == names);
    }
  }
  zema_host::clear_internal_errors();
  check(zema_host::mem_module_stats("ZEMA").live_blocks == zema_at_start);
  check(zema_host::mem_module_stats("ORB").live_blocks == orb_at_start);
  return 0;
}
