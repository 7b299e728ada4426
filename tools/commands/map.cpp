// map: every converted name beside the design's original name.
#include "host/zema_host.h"
#include "tools/commands/commands.h"
#include "tools/commands/conversion.h"
#include "tools/commands/original_names.h"
#include "tools/output/record_writer.h"

namespace zema_tool {
namespace {

// The fusion converter's tree, depth first, siblings in byte order, with
// what each node names.
void map_fusion(CONVERSION const& conversion, ORIGINAL_NAMES& originals, RECORD_WRITER& writer) {
  FUSION_TREE const& tree = *conversion.tree();
  TREE_WALK walk(tree.root());
  FULL_PATH hierarchy_path;  // the original path of the hierarchy node the walk is at
  std::string original;
  while (walk.next()) {
    NODE const* const node = walk.node();
    bool const in_hierarchy = tree.in_hierarchy(node);
    bool const atom = tree.names_atom(node);
    bool const oterm = tree.names_oterm(node);
    char const* kind = atom ? (oterm ? "atom+oterm" : "atom") : oterm ? "oterm" : "instance";
    if (!in_hierarchy && !atom && !oterm) kind = "superseded";
    HDB_INSTANCE_NAME const* const name = originals.find(node->m_id);
    original.clear();
    if (in_hierarchy && name != nullptr) {
      // Hierarchy nodes nest as their instances do: extend the parent's path.
      hierarchy_path.enter_with(walk.depth(), [&](std::string& text) {
        zema_host::append_unambiguous_level(&text, name);
      });
      original.push_back('/');
      original.append(hierarchy_path.text());
    } else if (name != nullptr) {
      originals.append(&original, name);
    }
    std::string_view const original_text(original);
    writer.begin_row();
    writer.number("id", node->m_id);
    writer.text("converted", walk.path());
    writer.word("kind", kind);
    writer.word("origin", in_hierarchy ? "hierarchy" : "made-up");
    writer.text("original", name != nullptr ? &original_text : nullptr);
    writer.end_row();
  }
}

// Every atom and oterm in netlist order, with its converted full name.
void map_reversible(CONVERSION const& conversion, ORIGINAL_NAMES& originals,
                    RECORD_WRITER& writer) {
  GEN_STRING full;
  std::string original;
  conversion.for_each_row([&](ROW const& row) {
    HDB_INSTANCE_NAME const* const name = row.name();
    if (name == nullptr || !row.full(conversion.converter(), &full)) return;
    original.clear();
    originals.append(&original, name);
    writer.begin_row();
    writer.number("id", id_of(name));
    writer.text("converted", std::string_view(full));
    writer.word("kind", row.is_oterm() ? "oterm" : "atom");
    writer.word("origin", conversion.design().is_in_hierarchy(name) ? "hierarchy" : "outside");
    writer.text("original", original);
    writer.json_only_number("atom", row.m_atom_index, true);
    writer.json_only_number("oterm", static_cast<std::uint64_t>(row.m_position),
                            row.m_position >= 0);
    writer.end_row();
  });
}

}  // namespace

void run_map(LOADED_DESIGN& design, COMMAND_OPTIONS const& options, PHASES& phases,
             OUTPUT_BUFFER& out) {
  RECORD_WRITER writer(out, options.m_json, "id\tconverted\tkind\torigin\toriginal\n");
  CONVERSION const conversion(design, options.m_strategy, phases);
  ORIGINAL_NAMES originals(design);
  phases.start("write");
  if (conversion.tree() != nullptr) {
    map_fusion(conversion, originals, writer);
  } else {
    map_reversible(conversion, originals, writer);
  }
  writer.finish();
  CONVERSION::expect_no_reports();
}

}  // namespace zema_tool
