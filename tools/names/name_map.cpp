#include "tools/names/name_map.h"

#include <string>

#include "host/zema_host.h"

namespace zema_tool {
namespace {

// The converter's tree, depth first, siblings in byte order, with what each
// node names.
void fusion_rows(CONVERSION const& conversion, ORIGINAL_NAMES& originals,
                 std::function<void(MAP_ROW const&)> const& visit) {
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
    visit(MAP_ROW{node->m_id, walk.path(), kind, in_hierarchy ? "hierarchy" : "made-up",
                  name != nullptr ? &original_text : nullptr, false, 0, -1});
  }
}

// Every atom and oterm in netlist order, with its converted full name.
void reversible_rows(CONVERSION const& conversion, ORIGINAL_NAMES& originals,
                     std::function<void(MAP_ROW const&)> const& visit) {
  GEN_STRING full;
  std::string original;
  conversion.for_each_row([&](ROW const& row) {
    HDB_INSTANCE_NAME const* const name = row.name();
    if (name == nullptr || !row.full(conversion.converter(), &full)) return;
    original.clear();
    originals.append(&original, name);
    std::string_view const original_text(original);
    visit(MAP_ROW{id_of(name), std::string_view(full), row.is_oterm() ? "oterm" : "atom",
                  conversion.design().is_in_hierarchy(name) ? "hierarchy" : "outside",
                  &original_text, true, row.m_atom_index, row.m_position});
  });
}

}  // namespace

void for_each_map_row(CONVERSION const& conversion, ORIGINAL_NAMES& originals,
                      std::function<void(MAP_ROW const&)> const& visit) {
  if (conversion.tree() != nullptr) {
    fusion_rows(conversion, originals, visit);
  } else {
    reversible_rows(conversion, originals, visit);
  }
}

}  // namespace zema_tool
