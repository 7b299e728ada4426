// A host program built against an installed ZEMA: it checks that the library
// it loaded fits the headers it was compiled with, builds a tiny design with
// the reference host, converts one name each way and checks the results
// (names not starting with a lower-case letter get an "a" in front).
// Exits with 0 when everything matched, 1 otherwise.
#include <cstdio>

#include "atm/zema/zema_name_converter.h"
#include "atm/zema/zema_version.h"
#include "host/zema_host.h"

namespace {

bool check(bool ok, char const* what) {
  if (!ok) std::fprintf(stderr, "zema_consumer: %s\n", what);
  return ok;
}

}  // namespace

int main() {
  std::printf("compiled against zema %s, loaded zema %s\n", ZEMA_VERSION_STRING, zema_version());
  if (!check(zema_loaded_version_is_compatible(), "the loaded library does not fit the headers")) {
    return 1;
  }

  zema_host::DESIGN design;
  HDB_INSTANCE_NAME const* const root = design.set_root("", 1);
  HDB_INSTANCE_NAME const* const cpu = design.add_child(root, "CPU", 2);
  HDB_INSTANCE_NAME const* const reg = design.add_child(cpu, "Reg.q", 3);
  CDB_ATOM_NODE* const atom = design.add_atom(CDB_ATOM_COMB, reg);

  bool ok = true;
  {
    ZEMA_NAME_CONVERTER converter(ZEMA_NAME_CONVERTER_FUSION);
    converter.init(design.action_point(), design.netlist());
    GEN_STRING full;
    ok = check(converter.get_converted_full_name(&full, atom, true), "no full name") &&
         check(full == "acpu/areg_q", "unexpected full name");
    unsigned const id = ok ? converter.get_original_name_id(full.c_str()) : 0;
    ok = ok && check(id == HDB_NAME_MGR::get_iname_id(reg), "the full name does not name Reg.q");
    std::printf("CPU/Reg.q -> %s -> id %u\n", full.c_str(), id);
  }
  // Everything the converter allocated went back to the host's memory manager.
  ok = check(zema_host::mem_module_stats("ZEMA").live_blocks == 0, "tracked memory left") && ok;
  return ok ? 0 : 1;
}
