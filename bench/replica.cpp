// Designs read from files: the replica of a real netlist at scale, the
// files ZEMA_BENCH_DESIGN names, each as a file for the command's
// benchmarks and as a loaded design for the in-process ones.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include <simdjson.h>

#include "bench/bench_support.h"
#include "tools/input/design_builder.h"
#include "tools/input/input_file.h"
#include "tools/input/read_design.h"
#include "tools/support/text_format.h"
#include "tools/support/tool_error.h"

namespace zema_bench {

bool bench_file_exists(std::string const& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && info.st_size > 0;
}

std::string bench_data_path(std::string const& name) {
  mkdir(ZEMA_BENCH_DATA_DIR, 0755);
  return std::string(ZEMA_BENCH_DATA_DIR) + "/" + name;
}

std::string replica_netlist(std::size_t cells) {
  std::string const real = std::string(ZEMA_REALDESIGNS_DIR) + "/mor1kx_hier.json.xz";
  std::string const source = bench_file_exists(real) ? real : std::string(ZEMA_YOSYS_EXAMPLE);
  std::string const name = source == real ? "mor1kx" : "soc";
  std::string path = bench_data_path("replica-" + name + "-" + std::to_string(cells) + ".json");
  if (bench_file_exists(path)) return path;
  try {
    zema_tool::INPUT_TEXT const text = zema_tool::INPUT_TEXT::read(source, std::uint64_t{1} << 32);
    // One copy's cells, and the module the netlist marks as its top.
    zema_tool::DESIGN_RECORDS records;
    zema_tool::read_records(text, zema_tool::READ_OPTIONS(), &records);
    std::size_t const copies = std::max<std::size_t>(1, cells / records.m_atoms.size());
    simdjson::dom::parser parser;
    simdjson::padded_string_view const padded(text.data(), text.size(), text.capacity());
    simdjson::dom::object const modules = parser.parse(padded)["modules"].get_object();
    std::string top;
    for (auto const module : modules) {
      std::string_view marked;
      if (!module.value.at_pointer("/attributes/top").get(marked) &&
          marked.find('1') != std::string_view::npos) {
        top = std::string(module.key);
      }
    }
    // The replica module goes first among the modules. With it the netlist
    // marks two modules as its top, and the reader takes the one that no
    // cell instantiates: the replica.
    std::string replica =
        "\"zema_replica\": {\"attributes\": {\"top\": \"00000000000000000000000000000001\"}, "
        "\"cells\": {";
    for (std::size_t c = 0; c < copies; ++c) {
      replica += (c != 0 ? ", \"copy" : "\"copy") + std::to_string(c) + "\": {\"type\": ";
      zema_tool::STRING_SINK sink{replica};
      replica += '"';
      zema_tool::put_escaped(sink, top, zema_tool::ESCAPE::JSON);
      replica += "\"}";
    }
    replica += "}}, ";
    std::string_view const all = text.view();
    std::size_t const open = all.find('{', all.find("\"modules\"")) + 1;
    std::FILE* const out = std::fopen(path.c_str(), "w");
    if (out == nullptr) return path;
    bool const written =
        std::fwrite(all.data(), 1, open, out) == open &&
        std::fwrite(replica.data(), 1, replica.size(), out) == replica.size() &&
        std::fwrite(all.data() + open, 1, all.size() - open, out) == all.size() - open;
    if (std::fclose(out) != 0 || !written) std::remove(path.c_str());
  } catch (zema_tool::TOOL_ERROR const&) {
    std::remove(path.c_str());
  }
  return path;
}

namespace {

// `text` cut at each `separator`, empty pieces left out.
std::vector<std::string> split(char const* text, char separator) {
  std::vector<std::string> pieces;
  if (text == nullptr) return pieces;
  std::string piece;
  for (char const* at = text;; ++at) {
    if (*at == separator || *at == '\0') {
      if (!piece.empty()) pieces.push_back(piece);
      piece.clear();
      if (*at == '\0') break;
    } else {
      piece.push_back(*at);
    }
  }
  return pieces;
}

}  // namespace

std::vector<std::string> bench_design_files() {
  return split(std::getenv("ZEMA_BENCH_DESIGN"), ':');
}

std::vector<std::string> bench_liberty_files() {
  return split(std::getenv("ZEMA_BENCH_LIBERTY"), ':');
}

std::string file_label(std::string const& path) {
  std::string name = path.substr(path.find_last_of('/') + 1);
  for (char const* suffix : {".xz", ".gz", ".json", ".v"}) {
    std::size_t const length = std::strlen(suffix);
    if (name.size() > length && name.compare(name.size() - length, length, suffix) == 0) {
      name.resize(name.size() - length);
    }
  }
  return "file:" + name;
}

std::unique_ptr<SYNTHETIC_DESIGN> make_replica(std::size_t cells) {
  return make_from_file(replica_netlist(cells));
}

std::unique_ptr<SYNTHETIC_DESIGN> make_from_file(std::string const& path) {
  auto out = std::make_unique<SYNTHETIC_DESIGN>();
  zema_tool::INPUT_TEXT const text = zema_tool::INPUT_TEXT::read(path, std::uint64_t{1} << 34);
  zema_tool::READ_OPTIONS options;
  options.m_liberty = bench_liberty_files();
  zema_tool::DESIGN_RECORDS records;
  zema_tool::read_records(text, options, &records);
  std::shared_ptr<zema_tool::LOADED_DESIGN> const loaded(
      zema_tool::build_design(std::move(records)).release());
  out->loaded = loaded;
  out->loaded_design = &loaded->m_design;
  out->instances = loaded->m_instance_count;
  CDB_ATOM_NETLIST* const netlist = loaded->m_design.netlist();
  for (CDB_ATOM_NODE_LINK* link = netlist->begin_node_list(); link != netlist->end_node_list();
       link = link->m_next) {
    CDB_ATOM_NODE* const atom = link->m_node;
    out->atoms.push_back(atom);
    for (CDB_ATOM_OTERM_ITERATOR it = atom->begin_oterm(); it != atom->end_oterm(); ++it) {
      out->oterms += *it != nullptr;
    }
    std::size_t depth = 0;
    for (HDB_INSTANCE_NAME const* name = atom->get_instance_name(); name != nullptr;
         name = zema_host::parent_of(name)) {
      ++depth;
    }
    if (depth > out->max_depth) {
      out->max_depth = depth;
      out->deepest_atom = atom;
    }
  }
  return out;
}

}  // namespace zema_bench
