// ORB_STRING_TABLE: an interned string set.
//
// The table stores one copy of each distinct text, in the storage of a chunk
// manager it owns, and hands out a stable pointer to that copy. Two interned
// pointers are therefore equal exactly when their texts are equal. Pointers
// stay valid until the table is cleared or destroyed; both release every copy
// together. Ops hashes and compares texts by content (the host's ORB_CSTR_OPS).
#ifndef CONTAINERS_ORB_STRING_TABLE_H
#define CONTAINERS_ORB_STRING_TABLE_H

#include <new>
#include <type_traits>

#include "containers/orb_chain.h"
#include "h/orb_sys.h"

// Fetches the text of an interned string ahead of its use: its first cache
// line and the one after. The table packs its texts end to end, so a name of
// a few dozen bytes that does not start a line often ends in the next one,
// and a walk that fetched only the first waited on the second. Prefetches
// never fault, whatever the address.
inline void orb_prefetch_text(char const* text) {
  __builtin_prefetch(text);
  __builtin_prefetch(text + 63);
}

struct ORB_STRING_TABLE_NODE {
  char const* m_text;
  ORB_STRING_TABLE_NODE* m_next;
  ORB_STRING_TABLE_NODE* m_prev;
};

template <class Ops>
class ORB_STRING_TABLE {
  static_assert(std::is_empty<Ops>::value, "ORB_STRING_TABLE policies carry no state");

 public:
  typedef ORB_STRING_TABLE_NODE NODE;

  ORB_STRING_TABLE()
      : m_bucket_count(ORB_INITIAL_BUCKET_COUNT),
        m_count(0),
        m_buckets(orb_allocate_buckets<NODE>(ORB_INITIAL_BUCKET_COUNT)),
        m_chunk_mgr(nullptr) {
    try {
      m_chunk_mgr = new_chunk_mgr();
    } catch (...) {
      orb_free(m_buckets);
      throw;
    }
  }

  ~ORB_STRING_TABLE() {
    orb_free_chains(m_buckets, m_bucket_count, m_count);
    orb_free(m_buckets);
    m_buckets = nullptr;
    delete_chunk_mgr();
  }

  ORB_STRING_TABLE(ORB_STRING_TABLE const&) = delete;
  ORB_STRING_TABLE& operator=(ORB_STRING_TABLE const&) = delete;

  // The interned pointer of a text equal to `text`, or null. Never inserts.
  char const* find(char const* text) const {
    NODE const* node = hash_search(m_ops.hash(text), text);
    return node ? node->m_text : nullptr;
  }

  // The node holding a text equal to `text` in bucket h mod the bucket count,
  // where h must be the Ops hash of `text`; null when absent.
  NODE* hash_search(unsigned h, char const* text) const {
    return bucket_search(orb_bucket(h, m_bucket_count), text);
  }

  // As hash_search, given the text's bucket: h mod the bucket count.
  NODE* bucket_search(unsigned bucket, char const* text) const {
    for (NODE* node = m_buckets[bucket]; node; node = node->m_next) {
      if (m_ops.equal(node->m_text, text)) return node;
    }
    return nullptr;
  }

  // Find-or-intern: the node of a text equal to `text`, copying the text into
  // the table first when it is new. h must be the Ops hash of `text`.
  NODE* insert_helper(unsigned h, char const* text) {
    if (NODE* const node = hash_search(h, text)) return node;
    return insert_new(h, text);
  }

  // Interns `text`, which the table must not hold yet; h must be its Ops
  // hash. The same as insert_helper on a new text, for callers that have just
  // searched for it and hold its hash.
  NODE* insert_new(unsigned h, char const* text) {
    return bucket_insert_new(orb_bucket(h, m_bucket_count), text);
  }

  // As insert_new, given the text's bucket.
  NODE* bucket_insert_new(unsigned bucket, char const* text) {
    if (!m_chunk_mgr) m_chunk_mgr = new_chunk_mgr();
    char const* const copy = m_chunk_mgr->write(text);
    NODE* const node = new (orb_allocate_zeroed<NODE>()) NODE{copy, nullptr, nullptr};
    orb_push_front(m_buckets[bucket], node);
    ++m_count;
    resize(m_count);
    return node;
  }

  // Grows the bucket array if `n` texts call for it; never shrinks.
  void resize(unsigned n) {
    orb_grow(
        m_buckets, m_bucket_count, n, [this](NODE const* node) { return m_ops.hash(node->m_text); },
        [](NODE const* node) { return static_cast<void const*>(node->m_text); });
  }

  // Forgets every text and releases all copies; the bucket array keeps its
  // size and a fresh chunk manager takes the place of the old one. Never
  // throws: if the fresh manager cannot be allocated, the table stays empty
  // without one and the next new text allocates it.
  void clear() {
    orb_free_chains(m_buckets, m_bucket_count, m_count);
    m_count = 0;
    delete_chunk_mgr();
    try {
      m_chunk_mgr = new_chunk_mgr();
    } catch (std::bad_alloc const&) {
      m_chunk_mgr = nullptr;
    }
  }

  unsigned m_bucket_count;
  unsigned m_count;
  NODE** m_buckets;
  Ops m_ops;
  ORB_STRING_CHUNK_MGR* m_chunk_mgr;

 private:
  static ORB_STRING_CHUNK_MGR* new_chunk_mgr() {
    void* const block = orb_allocate_zeroed<ORB_STRING_CHUNK_MGR>();
    try {
      return new (block) ORB_STRING_CHUNK_MGR();
    } catch (...) {
      orb_free(block);
      throw;
    }
  }

  void delete_chunk_mgr() {
    if (!m_chunk_mgr) return;
    m_chunk_mgr->~ORB_STRING_CHUNK_MGR();
    orb_free(m_chunk_mgr);
    m_chunk_mgr = nullptr;
  }
};

#endif  // CONTAINERS_ORB_STRING_TABLE_H
