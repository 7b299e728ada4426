// The yardstick for the fusion converter: the same naming rules written the
// way a tool builder would write them without this library, with a
// std::string per node, std::unordered_map for every index and the plain
// uniquing loop. It reads the same host design and gives the same names;
// the benchmarks run both on the same designs and report the ratio.
#ifndef BENCH_BASELINE_CONVERTER_H
#define BENCH_BASELINE_CONVERTER_H

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "h/cdb_net_sys.h"
#include "h/hdb_sys.h"

namespace zema_bench {

class BASELINE_CONVERTER {
 public:
  // Builds the tree of converted names of the design below the action
  // point's root and names every atom and oterm of the netlist.
  void init(HDB_CMP_ACTION_PT_INSTANCE const* action_point, CDB_ATOM_NETLIST* netlist);
  // Forgets the tree and the indexes.
  void clear();

  // The converted unit or full name of an atom or oterm; false when the
  // converter does not know it.
  bool unit_name(CDB_ATOM_NODE const* atom, std::string* out) const;
  bool unit_name(CDB_ATOM_OTERM const* oterm, std::string* out) const;
  bool full_name(CDB_ATOM_NODE const* atom, std::string* out) const;
  bool full_name(CDB_ATOM_OTERM const* oterm, std::string* out) const;

 private:
  struct NODE {
    std::string name;
    unsigned id;
    NODE* parent;
    bool leaf;
    std::unordered_map<std::string, NODE*> children;
  };

  NODE* add_node(NODE* parent, std::string name, unsigned id, bool leaf);
  std::string unique(NODE const* parent, std::string const& base) const;
  void capture(HDB_INSTANCE_NAME const* root);
  void name_netlist(CDB_ATOM_NETLIST* netlist);
  static void write_full_name(NODE const* node, std::string* out);

  std::vector<std::unique_ptr<NODE>> m_nodes;
  NODE* m_root = nullptr;
  std::unordered_map<unsigned, NODE*> m_by_id;
  std::unordered_map<unsigned, NODE*> m_atoms;
  std::unordered_map<unsigned, NODE*> m_oterms;
};

}  // namespace zema_bench

#endif  // BENCH_BASELINE_CONVERTER_H
