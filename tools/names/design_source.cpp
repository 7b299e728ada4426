#include "tools/names/design_source.h"

#include <utility>

#include "containers/orb_chain.h"
#include "host/zema_host.h"

namespace zema_tool {
namespace {

// What the library's tree takes per name, atom and oterm of a design at
// most: generated and real designs measure 98 to 190 bytes besides the
// children tables below. The host populates no further than a little ahead
// of what the tree has taken, so a design that takes less leaves at most
// that lead unused, and one that takes the most has all its tree populated.
constexpr std::size_t kTreeBytesPerObject = 200;
// And per instance with children: its node's children table starts with
// this many buckets, whatever the number of children. In a netlist whose
// cells have their output ports below them, every cell is such an instance,
// and these tables take half the tree.
constexpr std::size_t kTreeBytesPerParent = ORB_INITIAL_BUCKET_COUNT * sizeof(void*);

}  // namespace

KEPT_PTR<LOADED_DESIGN> build_loaded(DESIGN_RECORDS&& records, PHASES& phases,
                                     bool for_conversion) {
  std::size_t const objects =
      records.m_names.size() + records.m_atoms.size() + records.m_oterms.size();
  phases.start("build");
  KEPT_PTR<LOADED_DESIGN> design(build_design(std::move(records)).release());
  // Once the records are gone, the host populates the memory of the
  // library's tree on the other core, ahead of the tree.
  if (for_conversion) {
    zema_host::mem_prefault(kTreeBytesPerObject * objects +
                            kTreeBytesPerParent * design->m_parent_count);
  }
  return design;
}

KEPT_PTR<LOADED_DESIGN> load_design(std::string const& path, READ_OPTIONS const& options,
                                    PHASES& phases, bool for_conversion) {
  phases.start("read");
  DESIGN_RECORDS records;
  {
    // A netlist said to be Verilog may start with any text.
    INPUT_TEXT const text =
        INPUT_TEXT::read(path, options.m_max_input_size, options.m_format == INPUT_FORMAT::VERILOG);
    read_records(text, options, &records);
  }
  return build_loaded(std::move(records), phases, for_conversion);
}

}  // namespace zema_tool
