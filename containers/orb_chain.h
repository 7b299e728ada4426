// Building blocks shared by ORB_HASH and ORB_STRING_TABLE: tracked zero-filled
// allocation of nodes and bucket arrays, the growth test, and the rehash.
//
// Both tables keep their entries in doubly linked chains hanging from an array
// of bucket heads. A node type only needs `m_next` and `m_prev` members; new
// and rehashed nodes always go to the front of their chain.
#ifndef CONTAINERS_ORB_CHAIN_H
#define CONTAINERS_ORB_CHAIN_H

#include <cstddef>
#include <cstdint>

#include "h/mem_alloc_sys.h"
#include "h/orb_sys.h"

// The bucket count of a freshly constructed table.
static unsigned const ORB_INITIAL_BUCKET_COUNT = 61;

// h mod a fixed divisor without a divide: the divisor's 64-bit reciprocal,
// taken once, turns each remainder into multiplies (Lemire, Kaser and Kurz,
// "Faster remainder by direct computation", 2019), exact for every 32-bit h
// and divisor. A rehash, or a builder between growths, takes thousands of
// remainders by one bucket count; a divide costs several times the multiplies.
class ORB_REMAINDER {
 public:
  explicit ORB_REMAINDER(unsigned divisor)
      : m_divisor(divisor), m_reciprocal(~std::uint64_t{0} / divisor + 1) {}

  unsigned divisor() const { return m_divisor; }

  unsigned of(unsigned h) const {
    std::uint64_t const fraction = m_reciprocal * h;
    // The high 64 bits of fraction * divisor, from 32-bit halves so that the
    // 32-bit build has it too.
    std::uint64_t const high = (fraction >> 32) * m_divisor;
    std::uint64_t const low = (fraction & 0xffffffffu) * m_divisor;
    return static_cast<unsigned>((high + (low >> 32)) >> 32);
  }

 private:
  unsigned m_divisor;
  std::uint64_t m_reciprocal;
};

// h mod a table's bucket count. Most tables keep the buckets they start with
// (every tree node's children table), and the remainder by that constant is
// multiplies, not a divide.
inline unsigned orb_bucket(unsigned h, unsigned bucket_count) {
  return bucket_count == ORB_INITIAL_BUCKET_COUNT ? h % ORB_INITIAL_BUCKET_COUNT : h % bucket_count;
}

// The buckets of one big table, searched in a loop: the remainder by the
// bucket count last seen, its reciprocal retaken when the table has grown.
// A divide sits on the path of every search that waits on its bucket; this
// takes a compare and the multiplies.
class ORB_BUCKET_OF {
 public:
  template <class Table>
  unsigned operator()(Table const& table, unsigned h) {
    if (table.m_bucket_count != m_remainder.divisor()) {
      m_remainder = ORB_REMAINDER(table.m_bucket_count);
    }
    return m_remainder.of(h);
  }

 private:
  ORB_REMAINDER m_remainder{ORB_INITIAL_BUCKET_COUNT};
};

// A zero-filled block for one T, tracked under T's record.
template <class T>
inline void* orb_allocate_zeroed() {
  return MEM_MANAGER::new_wrapper(sizeof(T), &MEM_TRACKER_TEMPLATE_ZEMA<T, 1255, 1>::s_thunk,
                                  __FILE__);
}

inline void orb_free(void* block) { MEM_MANAGER::delete_wrapper(block, "ZEMA"); }

// A zero-filled array of `count` null chain heads.
template <class Node>
inline Node** orb_allocate_buckets(unsigned count) {
  std::size_t const max_count = static_cast<std::size_t>(-1) / sizeof(Node*);
  // An impossible size makes the memory manager throw rather than wrap around.
  std::size_t const bytes =
      count > max_count ? static_cast<std::size_t>(-1) : std::size_t(count) * sizeof(Node*);
  return static_cast<Node**>(MEM_MANAGER::new_wrapper(
      bytes, &MEM_TRACKER_TEMPLATE_ZEMA<Node*, 1255, 1>::s_thunk, __FILE__));
}

template <class Node>
inline void orb_push_front(Node*& head, Node* node) {
  node->m_next = head;
  node->m_prev = nullptr;
  if (head) head->m_prev = node;
  head = node;
}

// Frees the nodes of one chain, counting them off `count`, and nulls its head.
template <class Node>
inline void orb_free_chain(Node*& head, unsigned& count) {
  Node* node = head;
  if (!node) return;
  head = nullptr;
  do {
    Node* const next = node->m_next;
    node->~Node();
    orb_free(node);
    node = next;
    --count;
  } while (node);
}

// Frees every node of every chain and nulls the heads. Many tables are small
// and mostly empty (a parent's 61 buckets for a few children), so the walk
// passes four empty heads at a time and stops after the `count`th node.
template <class Node>
inline void orb_free_chains(Node** buckets, unsigned bucket_count, unsigned count) {
  if (!buckets) return;
  unsigned b = 0;
  for (; count > 0 && b + 4 <= bucket_count; b += 4) {
    if ((reinterpret_cast<std::uintptr_t>(buckets[b]) |
         reinterpret_cast<std::uintptr_t>(buckets[b + 1]) |
         reinterpret_cast<std::uintptr_t>(buckets[b + 2]) |
         reinterpret_cast<std::uintptr_t>(buckets[b + 3])) == 0) {
      continue;
    }
    for (unsigned i = b; i < b + 4; ++i) orb_free_chain(buckets[i], count);
  }
  for (; count > 0 && b < bucket_count; ++b) orb_free_chain(buckets[b], count);
}

// The bucket count that `count` entries call for: a table grows once this
// exceeds the bucket count it has.
inline unsigned orb_wanted_buckets(unsigned count) { return (count / 4) * 5; }

// Grows the bucket array to hold `wanted` buckets (orb_wanted_buckets), which
// exceed the bucket count; the host's growth function picks the new count.
// Nodes move, in ascending old-bucket order and each chain from its head, to
// the front of their new chains, so they keep their addresses. `hash_of`
// gives a node's hash; `key_data` gives the address of what the hash reads
// beyond the node (a name key's text), or null.
//
// A large table outgrows the caches, and each node, its key's text and its
// new bucket are then three dependent misses. The walk therefore runs ahead
// of itself over the old buckets: it prefetches the head node kAhead buckets
// ahead; half that far ahead, the head's text and the second node of the
// chain; a quarter ahead, it hashes the head, prefetches its new bucket and
// the second node's text; an eighth ahead, it hashes the second node and
// prefetches its new bucket. A bucket's first two nodes are nine in ten of
// the nodes at the load a table grows at; deeper ones are hashed when they
// are moved. The lookahead reads only the links of nodes not yet moved, and
// the order of the moves is exactly that of a plain walk.
template <class Node, class HashOf, class KeyData>
__attribute__((noinline)) void orb_rehash(Node**& buckets, unsigned& bucket_count, unsigned wanted,
                                          HashOf hash_of, KeyData key_data) {
  unsigned const new_count = orb_hash_50_percent_increase_size(wanted);
  Node** const fresh = orb_allocate_buckets<Node>(new_count);
  ORB_REMAINDER const bucket_of(new_count);
  Node** const old = buckets;
  unsigned const old_count = bucket_count;
  unsigned const kAhead = 64;
  unsigned const kHashed = kAhead / 4;
  unsigned const kSecond = kAhead / 8;
  unsigned head_hash[kHashed] = {};
  unsigned second_hash[kSecond] = {};
  // The hash of a chain's second node, prefetching its new bucket.
  auto const hash_second = [&](Node const* second) {
    unsigned const h = hash_of(second);
    __builtin_prefetch(&fresh[bucket_of.of(h)], 1);
    return h;
  };
  for (unsigned b = 0; b < old_count; ++b) {
    Node* node = old[b];
    // The hashes of the head and of the second node were taken kHashed and
    // kSecond buckets ago, if the walk had begun.
    unsigned h = node ? (b >= kHashed ? head_hash[b % kHashed] : hash_of(node)) : 0;
    unsigned h_second = node && node->m_next
                            ? (b >= kSecond ? second_hash[b % kSecond] : hash_of(node->m_next))
                            : 0;
    if (b + kAhead < old_count && old[b + kAhead]) __builtin_prefetch(old[b + kAhead]);
    if (b + kAhead / 2 < old_count) {
      if (Node const* const head = old[b + kAhead / 2]) {
        if (void const* const data = key_data(head)) __builtin_prefetch(data);
        if (head->m_next) __builtin_prefetch(head->m_next);
      }
    }
    if (b + kHashed < old_count) {
      if (Node const* const head = old[b + kHashed]) {
        unsigned const ahead = hash_of(head);
        head_hash[b % kHashed] = ahead;
        __builtin_prefetch(&fresh[bucket_of.of(ahead)], 1);
        if (Node const* const second = head->m_next) {
          if (void const* const data = key_data(second)) __builtin_prefetch(data);
        }
      }
    }
    if (b + kSecond < old_count) {
      Node const* const head = old[b + kSecond];
      if (head && head->m_next) second_hash[b % kSecond] = hash_second(head->m_next);
    }
    if (!node) continue;
    for (bool second = false;; second = true) {
      Node* const next = node->m_next;
      if (next) __builtin_prefetch(next);
      orb_push_front(fresh[bucket_of.of(h)], node);
      node = next;
      if (!node) break;
      h = second ? hash_of(node) : h_second;
    }
  }
  buckets = fresh;
  bucket_count = new_count;
  orb_free(old);
}

// Every insertion asks; only a growth leaves the caller, so the test stays
// inline and the rehash out of line.
template <class Node, class HashOf, class KeyData>
inline void orb_grow(Node**& buckets, unsigned& bucket_count, unsigned count, HashOf hash_of,
                     KeyData key_data) {
  unsigned const wanted = orb_wanted_buckets(count);
  if (wanted > bucket_count) orb_rehash(buckets, bucket_count, wanted, hash_of, key_data);
}

#endif  // CONTAINERS_ORB_CHAIN_H
