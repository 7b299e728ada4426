// ORB_HASH_BUILDER: enters a long run of new keys into an ORB_HASH and leaves
// the table exactly as the same run of insert_new calls would: the same bucket
// count, every chain in the same order, the same growth requests.
//
// A big table built key by key is rehashed again and again as it grows, and
// each rehash chases every node and reads every key's text again, misses all.
// The builder instead keeps the chains as indexes in compact arrays, with
// each key's hash beside it, and replays every growth there, in the table's
// own order: old buckets ascending, each chain from its head, each node to the
// front of its new chain. Nodes are made as insert_new makes them, so values
// keep their addresses; they are linked into the table once, by finish().
//
// While the builder lives, search the table through it: the table itself
// holds only the keys it had before. A caller that builds many tables in turn
// passes one STORAGE to each builder, so that the arrays are allocated once.
#ifndef CONTAINERS_ORB_HASH_BUILDER_H
#define CONTAINERS_ORB_HASH_BUILDER_H

#include <vector>

#include "containers/orb_hash.h"
#include "h/mem_alloc_sys.h"

template <class Key, class Value, class Ops>
class ORB_HASH_BUILDER {
 public:
  typedef ORB_HASH<Key, Value, Ops> TABLE;
  typedef typename TABLE::NODE NODE;

 private:
  template <class T>
  using LIST = std::vector<T, MEM_STL_ALLOCATOR<T>>;

 public:
  // The builder's arrays, which keep their capacity from one builder to the
  // next.
  class STORAGE {
    friend class ORB_HASH_BUILDER;
    LIST<NODE*> m_nodes;      // every entry's node, the table's old ones first
    LIST<unsigned> m_hashes;  // its key's policy hash
    LIST<unsigned> m_next;    // the next entry of its chain, or kNone
    LIST<unsigned> m_heads;   // the first entry of each bucket's chain, or kNone
    LIST<unsigned> m_spare;   // the heads of the next bucket array while it grows;
                              // each entry's previous one while finishing
  };

  // Takes over the entries `table` holds now, hashing each key once.
  explicit ORB_HASH_BUILDER(TABLE& table) : ORB_HASH_BUILDER(table, m_own) {}
  ORB_HASH_BUILDER(TABLE& table, STORAGE& storage)
      : m_table(table),
        m_bucket_count(table.m_bucket_count),
        m_bucket_of(table.m_bucket_count),
        m_count(table.m_count),
        m_nodes(storage.m_nodes),
        m_hashes(storage.m_hashes),
        m_next(storage.m_next),
        m_heads(storage.m_heads),
        m_spare(storage.m_spare) {
    m_nodes.clear();
    m_hashes.clear();
    m_next.clear();
    m_heads.assign(m_bucket_count, kNone);
    reserve(m_count + 64);
    for (unsigned b = 0; b < m_bucket_count; ++b) {
      unsigned previous = kNone;
      for (NODE* node = table.m_buckets[b]; node; node = node->m_next) {
        unsigned const index = static_cast<unsigned>(m_nodes.size());
        (previous == kNone ? m_heads[b] : m_next[previous]) = index;
        m_nodes.push_back(node);
        m_hashes.push_back(table.m_ops.hash(node->m_key));
        m_next.push_back(kNone);
        previous = index;
      }
    }
    m_existing = static_cast<unsigned>(m_nodes.size());
  }

  // Links whatever finish() has not: on the way out of an exception, the new
  // nodes go to the front of their chains in the table's present buckets, so
  // the table stays whole and owns every node.
  ~ORB_HASH_BUILDER() {
    if (m_finished) return;
    for (unsigned i = m_existing; i < m_nodes.size(); ++i) {
      orb_push_front(m_table.m_buckets[m_hashes[i] % m_table.m_bucket_count], m_nodes[i]);
    }
    m_table.m_count = static_cast<unsigned>(m_nodes.size());
  }

  ORB_HASH_BUILDER(ORB_HASH_BUILDER const&) = delete;
  ORB_HASH_BUILDER& operator=(ORB_HASH_BUILDER const&) = delete;

  // As TABLE::hash_search, over the old keys and the new.
  NODE* hash_search(unsigned h, Key const& key) const {
    for (unsigned i = m_heads[m_bucket_of.of(h)]; i != kNone; i = m_next[i]) {
      if (m_hashes[i] == h && m_table.m_ops.equal(m_nodes[i]->m_key, key)) return m_nodes[i];
    }
    return nullptr;
  }

  // As TABLE::insert_new: `key` must be absent and h its policy hash.
  Value& insert_new(unsigned h, Key const& key) {
    // Room first, so that nothing below but the growth can throw.
    if (m_nodes.size() == m_nodes.capacity() || m_hashes.size() == m_hashes.capacity() ||
        m_next.size() == m_next.capacity()) {
      reserve(2 * m_nodes.size() + 64);
    }
    NODE* const node = new (orb_allocate_zeroed<NODE>()) NODE{key, Value(), nullptr, nullptr};
    unsigned const index = static_cast<unsigned>(m_nodes.size());
    unsigned& head = m_heads[m_bucket_of.of(h)];
    m_nodes.push_back(node);
    m_hashes.push_back(h);
    m_next.push_back(head);
    head = index;
    ++m_count;
    grow();
    return node->m_value;
  }

  // Fetches the chain head that a key of hash h would be entered at.
  void prefetch(unsigned h) const { __builtin_prefetch(&m_heads[m_bucket_of.of(h)], 1); }

  // Links every node into the table in its final place, in a bucket array of
  // the final size. Throws std::bad_alloc if that array or the builder's
  // scratch cannot be had; the destructor then still links every node.
  void finish() {
    if (m_finished) return;
    // Each entry's previous one in its chain first, from the index chains;
    // then the nodes' links in the order the nodes were made, which is
    // mostly the order of their addresses, rather than chain by chain.
    LIST<unsigned>& previous = m_spare;
    previous.assign(m_nodes.size(), kNone);
    NODE** buckets = m_table.m_buckets;
    if (m_bucket_count != m_table.m_bucket_count)
      buckets = orb_allocate_buckets<NODE>(m_bucket_count);
    for (unsigned b = 0; b < m_bucket_count; ++b) {
      unsigned i = m_heads[b];
      buckets[b] = i == kNone ? nullptr : m_nodes[i];
      for (; i != kNone; i = m_next[i]) {
        if (m_next[i] != kNone) previous[m_next[i]] = i;
      }
    }
    for (std::size_t i = 0; i < m_nodes.size(); ++i) {
      NODE* const node = m_nodes[i];
      node->m_prev = previous[i] == kNone ? nullptr : m_nodes[previous[i]];
      node->m_next = m_next[i] == kNone ? nullptr : m_nodes[m_next[i]];
    }
    if (buckets != m_table.m_buckets) {
      orb_free(m_table.m_buckets);
      m_table.m_buckets = buckets;
      m_table.m_bucket_count = m_bucket_count;
    }
    m_table.m_count = m_count;
    m_finished = true;
  }

 private:
  static constexpr unsigned kNone = ~0u;

  void reserve(std::size_t n) {
    m_nodes.reserve(n);
    m_hashes.reserve(n);
    m_next.reserve(n);
  }

  // The table's growth rule (orb_grow), replayed on the index chains.
  void grow() {
    unsigned const wanted = orb_wanted_buckets(m_count);
    if (wanted <= m_bucket_count) return;
    unsigned const new_count = orb_hash_50_percent_increase_size(wanted);
    m_spare.assign(new_count, kNone);
    ORB_REMAINDER const bucket_of(new_count);
    for (unsigned b = 0; b < m_bucket_count; ++b) {
      for (unsigned i = m_heads[b]; i != kNone;) {
        unsigned const next = m_next[i];
        unsigned& head = m_spare[bucket_of.of(m_hashes[i])];
        m_next[i] = head;
        head = i;
        i = next;
      }
    }
    m_heads.swap(m_spare);
    m_bucket_count = new_count;
    m_bucket_of = bucket_of;
  }

  TABLE& m_table;
  unsigned m_bucket_count;
  ORB_REMAINDER m_bucket_of;  // hash mod m_bucket_count
  unsigned m_count;
  unsigned m_existing = 0;  // entries taken over from the table, first in m_nodes
  bool m_finished = false;
  STORAGE m_own;  // the arrays, unless the caller lends its own
  LIST<NODE*>& m_nodes;
  LIST<unsigned>& m_hashes;
  LIST<unsigned>& m_next;
  LIST<unsigned>& m_heads;
  LIST<unsigned>& m_spare;
};

#endif  // CONTAINERS_ORB_HASH_BUILDER_H
