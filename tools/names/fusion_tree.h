// FUSION_TREE: the one view of the fusion converter's own tree that the
// commands use, for what its public queries do not give: walking every node,
// telling what each node names, and prefetching the rows ahead.
#ifndef TOOLS_NAMES_FUSION_TREE_H
#define TOOLS_NAMES_FUSION_TREE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "atm/zema/zema_name_converter.h"
#include "tools/names/full_path.h"
#include "tools/support/words.h"

namespace zema_tool {

typedef ZEMA_NAME_CONVERTER_HIERARCHY NODE;

// What a node of the tree names: an instance only, an atom, an oterm, both,
// or nothing any more (a made-up name whose id a later atom or oterm took).
// The name map's rows and explanations say it in these words.
enum class MAP_KIND : std::uint8_t { INSTANCE, ATOM, OTERM, ATOM_AND_OTERM, SUPERSEDED };
inline constexpr WORD<MAP_KIND> kMapKindWords[] = {{MAP_KIND::INSTANCE, "instance"},
                                                   {MAP_KIND::ATOM, "atom"},
                                                   {MAP_KIND::OTERM, "oterm"},
                                                   {MAP_KIND::ATOM_AND_OTERM, "atom+oterm"},
                                                   {MAP_KIND::SUPERSEDED, "superseded"}};

class FUSION_TREE {
 public:
  typedef ZEMA_NAME_CONVERTER_FUSION_IMPL::QUERY_PREFETCH PREFETCH;

  // `converter` must have the fusion strategy and outlive this.
  explicit FUSION_TREE(ZEMA_NAME_CONVERTER& converter)
      : m_fusion(*static_cast<ZEMA_NAME_CONVERTER_FUSION_IMPL*>(converter.m_impl)) {}

  NODE* root() const { return m_fusion.get_root(); }

  // What a node names: an instance of the hierarchy, the converted name of
  // an atom, of an oterm (a node may be both), or none of them any more
  // (a name the hierarchy made up and an atom's made-up name superseded).
  bool in_hierarchy(NODE const* node) const { return indexed(m_fusion.m_hier_by_id_hash, node); }
  bool names_atom(NODE const* node) const { return indexed(m_fusion.m_atom_hier_hash, node); }
  bool names_oterm(NODE const* node) const { return indexed(m_fusion.m_oterm_hier_hash, node); }
  MAP_KIND kind_of(NODE const* node) const {
    bool const atom = names_atom(node);
    bool const oterm = names_oterm(node);
    if (atom) return oterm ? MAP_KIND::ATOM_AND_OTERM : MAP_KIND::ATOM;
    if (oterm) return MAP_KIND::OTERM;
    return in_hierarchy(node) ? MAP_KIND::INSTANCE : MAP_KIND::SUPERSEDED;
  }

  // The child of `parent` named `name`, or null.
  NODE* child(NODE const* parent, std::string const& name) const;
  // The node of the hierarchy with instance-name id `id`, or null.
  NODE const* hierarchy_node(unsigned id) const {
    auto const* const entry = m_fusion.m_hier_by_id_hash.hash_search(id, id);
    return entry != nullptr ? entry->m_value : nullptr;
  }
  // The legal form of a unit name, as the converter makes it.
  std::string legal_form(char const* unit_name) const;
  // The text that made-up names of atoms of basic type `type` start with.
  std::string_view type_prefix(int type) const {
    return std::string_view(m_fusion.m_type_prefix[type]);
  }

  // Prefetches one step more of the queries of an atom (oterm null) or an
  // oterm; progress starts zeroed.
  void prefetch(CDB_ATOM_NODE const* atom, CDB_ATOM_OTERM const* oterm, PREFETCH* progress) const {
    if (oterm != nullptr) {
      m_fusion.prefetch_query(oterm, progress);
    } else {
      m_fusion.prefetch_query(atom, progress);
    }
  }

  // Prefetches what kind_of(node) reads, in two steps some nodes apart: the
  // buckets of its id in the three indexes, then (once they have arrived)
  // the entries they lead to.
  void prefetch_kind(NODE const* node, bool entries) const {
    for (auto const* index :
         {&m_fusion.m_hier_by_id_hash, &m_fusion.m_atom_hier_hash, &m_fusion.m_oterm_hier_hash}) {
      auto const* const* const bucket = &index->m_buckets[node->m_id % index->m_bucket_count];
      if (!entries) {
        __builtin_prefetch(bucket);
      } else if (*bucket != nullptr) {
        __builtin_prefetch(*bucket);
      }
    }
  }

 private:
  static bool indexed(ZEMA_NAME_CONVERTER_FUSION_IMPL::ID_HASH const& index, NODE const* node) {
    auto const* const entry = index.hash_search(node->m_id, node->m_id);
    return entry != nullptr && entry->m_value == node;
  }

  ZEMA_NAME_CONVERTER_FUSION_IMPL& m_fusion;
};

// A child and the first eight bytes of its name, big-endian and zero-padded:
// their order as unsigned numbers is strcmp's order of those bytes, so that
// most comparisons of a sort read no text.
struct TREE_WALK_CHILD {
  std::uint64_t m_prefix;
  NODE* m_node;
};

// Visits every node of a fusion tree below the root, depth first, the
// children of a node in strcmp order of their names (ties, which a correct
// tree never has, by id), with an explicit stack: the tree is as deep as the
// design. Keeps the full name of the current node and the pairs of siblings
// that share a name.
class TREE_WALK {
 public:
  explicit TREE_WALK(NODE* root) {
    if (root != nullptr) push_children(root, 1);
  }

  // Moves to the next node; false when every node was visited.
  bool next();

  NODE* node() const { return m_node; }
  std::size_t depth() const { return m_depth; }
  // The node that the k-th next() from now visits as far as the walk knows
  // yet (children of nodes still to come go before it), or null: for
  // prefetching.
  NODE const* upcoming(std::size_t k) const {
    return k < m_pending.size() ? m_pending[m_pending.size() - 1 - k].m_node : nullptr;
  }
  std::string const& path() const { return m_path.text(); }

  // Sibling pairs with equal names found so far; the caller may empty it.
  std::vector<std::pair<NODE*, NODE*>> m_duplicates;

 private:
  struct ENTRY {
    NODE* m_node;
    std::size_t m_depth;  // children of the root: 1
  };

  typedef TREE_WALK_CHILD CHILD;

  void push_children(NODE* parent, std::size_t depth);

  std::vector<ENTRY> m_pending;
  std::vector<CHILD> m_children;
  FULL_PATH m_path;
  NODE* m_node = nullptr;
  std::size_t m_depth = 0;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_FUSION_TREE_H
