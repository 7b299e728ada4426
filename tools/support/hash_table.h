// HASH_TABLE: the tools' one hash table. Open addressing with linear probing
// over a power-of-two array kept at most half full; every entry keeps its
// key's hash, so a probe compares keys only when the hashes are equal,
// and a caller that knows which keys it will look up next can prefetch their
// slots (the translator looks up millions of names in tables far larger than
// the caches).
//
// An ENTRY is a struct of the caller's that starts with `std::uint64_t
// m_hash` (0 marks a free slot; hash_of never gives 0), or `std::uint32_t
// m_hash` to keep only the low half of the hash, and has `bool
// has_key(KEY const&) const` for the key types it is looked up by. Entries
// move when the table grows: hold keys and values, not pointers into it.
// HASH_MAP<KEY, VALUE> is the common case, a key and a value, keyed by an
// integer, a pointer or a text (whose bytes the caller keeps alive).
#ifndef TOOLS_SUPPORT_HASH_TABLE_H
#define TOOLS_SUPPORT_HASH_TABLE_H

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "host/text_hash.h"
#include "tools/support/huge_pages.h"

namespace zema_tool {

// The hash of an integer or a pointer: a multiply and a fold, so that runs
// of ids spread over the table. Never 0.
inline std::uint64_t hash_of(std::uint64_t key) {
  std::uint64_t h = (key ^ (key >> 29)) * 0xbf58476d1ce4e5b9ULL;
  h ^= h >> 32;
  h *= 0x94d049bb133111ebULL;
  h ^= h >> 29;
  return h != 0 ? h : 1;
}
template <class T>
std::uint64_t hash_of(T const* pointer) {
  return hash_of(static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(pointer)));
}
// The hash of a text: the host's text hash (host/text_hash.h). Never 0.
inline std::uint64_t hash_of(std::string_view text) {
  return zema_host::TEXT_HASH::of(text.data(), text.size());
}

template <class ENTRY>
class HASH_TABLE {
  static_assert(std::is_trivially_copyable<ENTRY>::value, "entries are moved by copying");
  typedef decltype(ENTRY::m_hash) STORED_HASH;

  // What a slot keeps of `hash`, and what a search starts from: all of it,
  // or its low half, which is never 0 either.
  static STORED_HASH stored(std::uint64_t hash) {
    STORED_HASH const kept = static_cast<STORED_HASH>(hash);
    return kept != 0 ? kept : 1;
  }

 public:
  // Room for `count` entries without growing.
  void reserve(std::size_t count) {
    std::size_t capacity = 16;
    while (capacity < 2 * count) capacity *= 2;
    if (capacity <= m_slots.size()) return;
    std::vector<ENTRY> old;
    old.swap(m_slots);
    // Lookups land anywhere in the table: huge pages spare them a page walk
    // each. They are asked for before the first touch.
    m_slots.reserve(capacity);
    advise_huge_pages(m_slots.data(), capacity * sizeof(ENTRY));
    m_slots.assign(capacity, ENTRY{});
    m_mask = capacity - 1;
    for (ENTRY const& entry : old) {
      if (entry.m_hash == 0) continue;
      std::size_t at = entry.m_hash & m_mask;
      while (m_slots[at].m_hash != 0) at = (at + 1) & m_mask;
      m_slots[at] = entry;
    }
  }

  // The entry of `key`, whose hash is `hash`, or null.
  template <class KEY>
  ENTRY const* find(std::uint64_t full_hash, KEY const& key) const {
    if (m_slots.empty()) return nullptr;
    STORED_HASH const hash = stored(full_hash);
    for (std::size_t at = hash & m_mask;; at = (at + 1) & m_mask) {
      ENTRY const& slot = m_slots[at];
      if (slot.m_hash == 0) return nullptr;
      if (slot.m_hash == hash && slot.has_key(key)) return &slot;
    }
  }
  template <class KEY>
  ENTRY* find(std::uint64_t hash, KEY const& key) {
    return const_cast<ENTRY*>(static_cast<HASH_TABLE const*>(this)->find(hash, key));
  }

  // The entry of `key`: found (*inserted false), or new with only m_hash
  // set, for the caller to fill in (*inserted true). Valid until the next
  // insert.
  template <class KEY>
  ENTRY* insert(std::uint64_t full_hash, KEY const& key, bool* inserted) {
    if (2 * (m_count + 1) > m_slots.size()) reserve(2 * (m_count + 1));
    STORED_HASH const hash = stored(full_hash);
    for (std::size_t at = hash & m_mask;; at = (at + 1) & m_mask) {
      ENTRY& slot = m_slots[at];
      if (slot.m_hash == 0) {
        slot.m_hash = hash;
        ++m_count;
        *inserted = true;
        return &slot;
      }
      if (slot.m_hash == hash && slot.has_key(key)) {
        *inserted = false;
        return &slot;
      }
    }
  }

  // Fetches the slot where a search for `hash` starts.
  void prefetch(std::uint64_t hash) const {
    if (!m_slots.empty()) __builtin_prefetch(&m_slots[stored(hash) & m_mask]);
  }
  // The slot where a search for `hash` starts, or null in an empty table:
  // for prefetching what its entry points to, once the slot has arrived.
  ENTRY const* first_slot(std::uint64_t hash) const {
    return m_slots.empty() ? nullptr : &m_slots[stored(hash) & m_mask];
  }

  std::size_t size() const { return m_count; }

  // Calls visit(ENTRY const&) for every entry, in no particular order.
  template <class VISIT>
  void for_each(VISIT&& visit) const {
    for (ENTRY const& slot : m_slots) {
      if (slot.m_hash != 0) visit(slot);
    }
  }

 private:
  std::vector<ENTRY> m_slots;
  std::size_t m_mask = 0;
  std::size_t m_count = 0;
};

// 32-bit keys (ids) keep half their hash: an id's entry of a pointer is
// then 16 bytes, not 24, and a table of a million ids 32 MB smaller.
template <class KEY, class VALUE>
struct MAP_ENTRY {
  typename std::conditional<std::is_same<KEY, std::uint32_t>::value, std::uint32_t,
                            std::uint64_t>::type m_hash;
  KEY m_key;
  VALUE m_value;

  bool has_key(KEY const& key) const { return m_key == key; }
};

// A map from keys to values over one HASH_TABLE.
template <class KEY, class VALUE>
class HASH_MAP {
 public:
  typedef MAP_ENTRY<KEY, VALUE> ENTRY;

  void reserve(std::size_t count) { m_table.reserve(count); }

  // The value of `key`, or null.
  VALUE const* find(KEY const& key) const {
    ENTRY const* const entry = m_table.find(hash_of(key), key);
    return entry != nullptr ? &entry->m_value : nullptr;
  }
  VALUE* find(KEY const& key) {
    ENTRY* const entry = m_table.find(hash_of(key), key);
    return entry != nullptr ? &entry->m_value : nullptr;
  }

  // Inserts `value` under `key` unless the key is there; gives the key's
  // value (valid until the next insert) and whether it was inserted.
  std::pair<VALUE*, bool> emplace(KEY const& key, VALUE const& value) {
    bool inserted;
    ENTRY* const entry = m_table.insert(hash_of(key), key, &inserted);
    if (inserted) {
      entry->m_key = key;
      entry->m_value = value;
    }
    return {&entry->m_value, inserted};
  }

  std::size_t size() const { return m_table.size(); }
  bool empty() const { return m_table.size() == 0; }

  // Calls visit(KEY const&, VALUE const&) for every entry, in no particular
  // order.
  template <class VISIT>
  void for_each(VISIT&& visit) const {
    m_table.for_each([&](ENTRY const& entry) { visit(entry.m_key, entry.m_value); });
  }

 private:
  HASH_TABLE<ENTRY> m_table;
};

// Tables keyed by instance-name id.
template <class VALUE>
using ID_MAP = HASH_MAP<std::uint32_t, VALUE>;

// Values by instance-name id, kEmpty for an id without one. Ids as writers
// and netlist expansion number them are a run from 1 with a few gaps: those
// below four per expected entry index a plain array (for 4-byte values no
// more memory than a half-empty map of them, and no hash, no probe); the
// few beyond, such as ids a file chose freely, go to a map.
template <class VALUE, VALUE kEmpty>
class ID_TABLE {
 public:
  explicit ID_TABLE(std::size_t expected = 0)
      : m_array_limit(4 * static_cast<std::uint64_t>(expected) + 4096) {}

  // The value of `id`, or kEmpty.
  VALUE find(std::uint32_t id) const {
    if (id < m_array.size()) return m_array[id];
    if (id < m_array_limit) return kEmpty;
    VALUE const* const found = m_beyond.find(id);
    return found != nullptr ? *found : kEmpty;
  }

  // Enters `value` (not kEmpty) under `id` unless the id has a value; gives
  // the id's value (valid until the next emplace) and whether it was entered.
  std::pair<VALUE*, bool> emplace(std::uint32_t id, VALUE value) {
    if (id >= m_array_limit) return m_beyond.emplace(id, value);
    if (id >= m_array.size()) {
      std::uint64_t const grown =
          std::max<std::uint64_t>(id + std::uint64_t(1), 2 * m_array.size());
      m_array.resize(static_cast<std::size_t>(std::min(grown, m_array_limit)), kEmpty);
    }
    VALUE& slot = m_array[id];
    if (slot != kEmpty) return {&slot, false};
    slot = value;
    return {&slot, true};
  }

  // Fetches where the value of `id` is kept.
  void prefetch(std::uint32_t id) const {
    if (id < m_array.size()) __builtin_prefetch(&m_array[id]);
  }

 private:
  std::uint64_t m_array_limit;
  std::vector<VALUE> m_array;  // by id, below m_array_limit
  ID_MAP<VALUE> m_beyond;      // ids from m_array_limit on
};

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_HASH_TABLE_H
