// Builds a tiny design with the reference host and prints, for every atom and
// oterm, the converted unit and full names that each strategy gives, followed
// by the reverse lookup of each full name.
#include <cstdio>

#include "atm/zema/zema_name_converter.h"
#include "host/zema_host.h"

namespace {

void print_names(char const* what, ZEMA_NAME_CONVERTER& converter, CDB_ATOM_NODE* atom,
                 CDB_ATOM_OTERM* oterm) {
  GEN_STRING unit;
  GEN_STRING full;
  bool const has_unit = atom ? converter.get_converted_unit_name(&unit, atom)
                             : converter.get_converted_unit_name(&unit, oterm);
  bool const has_full = atom ? converter.get_converted_full_name(&full, atom, true)
                             : converter.get_converted_full_name(&full, oterm, true);
  unsigned const id = has_full ? converter.get_original_name_id(full.c_str()) : 0;
  std::printf("  %-6s %-16s %-24s -> id %u\n", what, has_unit ? unit.c_str() : "-",
              has_full ? full.c_str() : "-", id);
}

}  // namespace

int main() {
  zema_host::DESIGN design;
  HDB_INSTANCE_NAME const* const root = design.set_root("", 1);
  HDB_INSTANCE_NAME const* const cpu = design.add_child(root, "CPU", 2);
  HDB_INSTANCE_NAME const* const reg = design.add_child(cpu, "Reg", 3);
  HDB_INSTANCE_NAME const* const reg_q = design.add_child(cpu, "reg.q", 4);
  HDB_INSTANCE_NAME const* const pad = design.add_child(root, "Pad[0]", 5);
  HDB_INSTANCE_NAME const* const net = design.add_free_name("n40", 40);

  CDB_ATOM_NODE* const comb = design.add_atom(CDB_ATOM_COMB, reg);
  CDB_ATOM_OTERM* const comb_out = design.add_oterm(comb, net);
  CDB_ATOM_NODE* const ram = design.add_atom(CDB_ATOM_RAM, design.add_free_name("mem", 50));
  CDB_ATOM_OTERM* const ram_out = design.add_oterm(ram, reg_q);
  CDB_ATOM_NODE* const io = design.add_atom(CDB_ATOM_IO_IBUF, pad);

  struct {
    char const* title;
    ZEMA_NAME_CONVERTER_ENUM type;
  } const strategies[] = {{"fusion", ZEMA_NAME_CONVERTER_FUSION},
                          {"reversible", ZEMA_NAME_CONVERTER_FUSION_REVERSIBLE}};
  for (auto const& strategy : strategies) {
    ZEMA_NAME_CONVERTER converter(strategy.type);
    converter.init(design.action_point(), design.netlist());
    std::printf("%s:\n", strategy.title);
    print_names("atom", converter, comb, nullptr);
    print_names("oterm", converter, nullptr, comb_out);
    print_names("atom", converter, ram, nullptr);
    print_names("oterm", converter, nullptr, ram_out);
    print_names("atom", converter, io, nullptr);
  }
  return 0;
}
