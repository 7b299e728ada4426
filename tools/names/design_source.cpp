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
// A design whose tree takes no more than this by the estimate above (every
// real netlist we have met: tens of MiB) has its host design and its tree on
// huge pages, up to twice as many bytes: its `init` then takes a fraction of
// the page faults and page walks. Bigger designs keep small pages, because on
// days when the kernel must compact memory to find huge pages they cost more
// than small ones, in proportion to how many are asked for.
constexpr std::size_t kHugeTreeBytes = std::size_t{64} << 20;

std::size_t object_count(DESIGN_RECORDS const& records) {
  return records.m_names.size() + records.m_atoms.size() + records.m_oterms.size();
}

}  // namespace

KEPT_PTR<LOADED_DESIGN> build_loaded(DESIGN_RECORDS&& records, PHASES& phases,
                                     bool for_conversion) {
  std::size_t const objects = object_count(records);
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

void choose_pages(DESIGN_RECORDS const& records) {
  if (kTreeBytesPerObject * object_count(records) <= kHugeTreeBytes) {
    zema_host::mem_huge_pages(2 * kHugeTreeBytes);
  }
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
    choose_pages(records);
  }
  return build_loaded(std::move(records), phases, for_conversion);
}

}  // namespace zema_tool
