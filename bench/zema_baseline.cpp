// zema_baseline [--stats] [--liberty FILE]... DESIGN: the yardstick of `zema convert DESIGN`. It
// reads the design as the command does, names it with the plain std implementation of the naming
// rules (BASELINE_CONVERTER) instead of the library, and prints the same rows, so that the two can
// be timed on the same file in fresh processes and their outputs compared byte for byte. It frees
// nothing at exit, as the command does not. With --stats it prints the phases (read, build, init,
// write) as `zema convert --stats` does, so that the two compare phase by phase.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "bench/baseline_converter.h"
#include "tools/input/design_builder.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/support/output_buffer.h"
#include "tools/support/phases.h"
#include "tools/support/tool_error.h"

namespace {

using namespace zema_tool;

void put_row(OUTPUT_BUFFER& out, std::size_t atom_index, long position,
             HDB_INSTANCE_NAME const* name, bool named, std::string const& unit,
             std::string const& full) {
  out.put(position < 0 ? "atom\t" : "oterm\t");
  out.put_uint(atom_index);
  if (position >= 0) {
    out.put('.');
    out.put_uint(static_cast<std::uint64_t>(position));
  }
  out.put('\t');
  if (name != nullptr) {
    out.put_uint(HDB_NAME_MGR::get_iname_id(name));
  } else {
    out.put('-');
  }
  out.put('\t');
  out.put(named ? std::string_view(unit) : std::string_view("-"));
  out.put('\t');
  out.put(named ? std::string_view(full) : std::string_view("-"));
  out.put('\n');
}

int run(char const* path, bool stats, READ_OPTIONS const& options) {
  PHASES phases(stats, false);
  DESIGN_RECORDS records;
  phases.start("read");
  {
    INPUT_TEXT const text = INPUT_TEXT::read(path, options.m_max_input_size);
    read_records(text, options, &records);
  }
  phases.start("build");
  LOADED_DESIGN* const design = build_design(std::move(records)).release();
  phases.start("init");
  auto* const baseline = new zema_bench::BASELINE_CONVERTER;
  baseline->init(design->m_design.action_point(), design->m_design.netlist());
  phases.start("write");

  OUTPUT_BUFFER out(stdout);
  out.put("kind\tindex\tid\tunit\tfull\n");
  std::string unit;
  std::string full;
  CDB_ATOM_NETLIST* const netlist = design->m_design.netlist();
  std::size_t atom_index = 0;
  for (CDB_ATOM_NODE_LINK* link = netlist->begin_node_list(); link != netlist->end_node_list();
       link = link->m_next, ++atom_index) {
    CDB_ATOM_NODE* const atom = link->m_node;
    bool const named = baseline->unit_name(atom, &unit) && baseline->full_name(atom, &full);
    put_row(out, atom_index, -1, atom->get_instance_name(), named, unit, full);
    long position = 0;
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm();
         ++it, ++position) {
      if (*it == nullptr) continue;
      bool const oterm_named = baseline->unit_name(*it, &unit) && baseline->full_name(*it, &full);
      put_row(out, atom_index, position, (*it)->get_instance_name(), oterm_named, unit, full);
    }
  }
  int const code = out.finish() == 0 ? 0 : 2;
  phases.finish(stderr);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  bool stats = false;
  READ_OPTIONS options;
  int at = 1;
  for (; at < argc - 1; ++at) {
    if (std::strcmp(argv[at], "--stats") == 0) {
      stats = true;
    } else if (std::strcmp(argv[at], "--liberty") == 0 && at + 2 < argc) {
      options.m_liberty.emplace_back(argv[++at]);
    } else {
      break;
    }
  }
  if (at != argc - 1) {
    std::fprintf(stderr, "usage: zema_baseline [--stats] [--liberty FILE]... DESIGN\n");
    return 2;
  }
  try {
    int const code = run(argv[argc - 1], stats, options);
    std::fflush(stdout);
    std::_Exit(code);
  } catch (TOOL_ERROR const& error) {
    std::fprintf(stderr, "zema_baseline: error: %s\n", error.text().c_str());
  } catch (std::exception const& exception) {
    std::fprintf(stderr, "zema_baseline: %s\n", exception.what());
  }
  return 2;
}
