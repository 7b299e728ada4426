// ORB_HASH: a chained hash map from keys to values that only grows.
//
// Every entry lives in a node of its own, so nodes, and references to their
// values, keep their addresses for the life of the entry, growth included.
// Entries are never removed one by one; clear() empties the whole table and
// keeps its grown bucket array. The table owns its nodes and bucket array, not
// what keys or values point to. Iteration visits buckets in ascending order
// and each chain from its head, so the entry inserted last in a bucket comes
// first. Ops is a stateless policy with hash(key) and equal(a, b).
#ifndef CONTAINERS_ORB_HASH_H
#define CONTAINERS_ORB_HASH_H

#include <new>
#include <type_traits>

#include "containers/orb_chain.h"
#include "containers/orb_ops.h"

template <class Key, class Value>
struct ORB_HASH_NODE {
  Key m_key;
  Value m_value;
  ORB_HASH_NODE* m_next;
  ORB_HASH_NODE* m_prev;
};

template <class Key, class Value, class Ops>
class ORB_HASH;

// Designates one entry of an ORB_HASH, or the end when m_node is null. Two
// iterators are equal when they designate the same node.
template <class Key, class Value, class Ops>
struct ORB_HASH_ITERATOR {
  typedef ORB_HASH_NODE<Key, Value> NODE;

  ORB_HASH<Key, Value, Ops> const* m_table;
  unsigned m_bucket;
  unsigned m_bucket_count;
  NODE* m_node;

  bool operator==(ORB_HASH_ITERATOR const& other) const { return m_node == other.m_node; }
  bool operator!=(ORB_HASH_ITERATOR const& other) const { return m_node != other.m_node; }
  NODE& operator*() const { return *m_node; }
  NODE* operator->() const { return m_node; }

  // Moves to the next entry: along the chain, then to the head of the next
  // non-empty bucket; past the last entry the iterator equals end(). Only
  // valid while the table has not grown since the iterator was made.
  ORB_HASH_ITERATOR& operator++() {
    m_node = m_node->m_next;
    while (!m_node && m_bucket + 1 < m_bucket_count) {
      ++m_bucket;
      m_node = m_table->m_buckets[m_bucket];
    }
    if (!m_node) m_bucket = m_bucket_count;
    return *this;
  }
};

template <class Key, class Value, class Ops>
class ORB_HASH {
  static_assert(std::is_empty<Ops>::value, "ORB_HASH policies carry no state");

 public:
  typedef ORB_HASH_NODE<Key, Value> NODE;
  typedef ORB_HASH_ITERATOR<Key, Value, Ops> ITERATOR;

  ORB_HASH()
      : m_bucket_count(ORB_INITIAL_BUCKET_COUNT),
        m_count(0),
        m_buckets(orb_allocate_buckets<NODE>(ORB_INITIAL_BUCKET_COUNT)) {}

  ~ORB_HASH() {
    orb_free_chains(m_buckets, m_bucket_count, m_count);
    orb_free(m_buckets);
    m_buckets = nullptr;
  }

  ORB_HASH(ORB_HASH const&) = delete;
  ORB_HASH& operator=(ORB_HASH const&) = delete;

  // Frees every entry; the bucket array keeps its size.
  void clear() {
    orb_free_chains(m_buckets, m_bucket_count, m_count);
    m_count = 0;
  }

  // The value slot of `key`, inserting the key with a null value when absent.
  // The reference stays valid until the table is cleared or destroyed.
  Value& operator[](Key const& key) {
    return bucket_slot(orb_bucket(m_ops.hash(key), m_bucket_count), key);
  }

  // As operator[], given the key's bucket: its policy hash mod the bucket
  // count.
  Value& bucket_slot(unsigned bucket, Key const& key) {
    if (NODE* const node = bucket_search(bucket, key)) return node->m_value;
    return bucket_insert_new(bucket, key);
  }

  // The value slot of `key`, which must be absent, inserted with a null value;
  // h must be the policy hash of `key`. The same as operator[] on an absent
  // key, for callers that have just searched for it and hold its hash.
  Value& insert_new(unsigned h, Key const& key) {
    return bucket_insert_new(orb_bucket(h, m_bucket_count), key);
  }

  // As insert_new, given the key's bucket.
  Value& bucket_insert_new(unsigned bucket, Key const& key) {
    NODE* const node = new (orb_allocate_zeroed<NODE>()) NODE{key, Value(), nullptr, nullptr};
    orb_push_front(m_buckets[bucket], node);
    ++m_count;
    resize(m_count);
    return node->m_value;
  }

  // The node of `key` in the chain of bucket h mod the bucket count, where h
  // must be the policy hash of `key`; null when the key is absent.
  NODE* hash_search(unsigned h, Key const& key) const {
    return bucket_search(orb_bucket(h, m_bucket_count), key);
  }

  // As hash_search, given the key's bucket.
  NODE* bucket_search(unsigned bucket, Key const& key) const {
    for (NODE* node = m_buckets[bucket]; node; node = node->m_next) {
      if (m_ops.equal(node->m_key, key)) return node;
    }
    return nullptr;
  }

  // Grows the bucket array if `n` entries call for it; never shrinks.
  void resize(unsigned n) {
    orb_grow(
        m_buckets, m_bucket_count, n, [this](NODE const* node) { return m_ops.hash(node->m_key); },
        [](NODE const* node) { return ORB_OPS_KEY_DATA<Key>::of(node->m_key); });
  }

  ITERATOR begin() const {
    unsigned b = 0;
    NODE* node = m_buckets[0];
    while (!node && b < m_bucket_count - 1) node = m_buckets[++b];
    return ITERATOR{this, b, m_bucket_count, node};
  }

  ITERATOR end() const { return ITERATOR{this, m_bucket_count, m_bucket_count, nullptr}; }

  // The entry of `key`, or an iterator equal to end().
  ITERATOR find(Key const& key) const {
    unsigned const h = m_ops.hash(key);
    unsigned const bucket = orb_bucket(h, m_bucket_count);
    return ITERATOR{this, bucket, m_bucket_count, bucket_search(bucket, key)};
  }

  unsigned m_bucket_count;
  unsigned m_count;
  NODE** m_buckets;
  Ops m_ops;
};

#endif  // CONTAINERS_ORB_HASH_H
