// Stateless hashing and equality policies for ORB_HASH.
//
// ORB_OPS<unsigned> keys a table by id: the id is its own hash. ZEMA_NAME_CSTR_OPS
// keys a table by interned name: it hashes the characters but compares the
// pointers, so every key must come from one interning string table, where
// equal texts share one address.
#ifndef CONTAINERS_ORB_OPS_H
#define CONTAINERS_ORB_OPS_H

template <class Key>
struct ORB_OPS;

template <>
struct ORB_OPS<unsigned> {
  unsigned hash(unsigned key) const { return key; }
  bool equal(unsigned a, unsigned b) const { return a == b; }
};

// What hashing a key reads beyond the key itself, for prefetching: the text of
// a name key, nothing for an id.
template <class Key>
struct ORB_OPS_KEY_DATA {
  static void const* of(Key const&) { return nullptr; }
};

template <>
struct ORB_OPS_KEY_DATA<char const*> {
  static void const* of(char const* key) { return key; }
};

struct ZEMA_NAME_CSTR_OPS {
  // h = h ^ ((h << 5) + (h >> 2) + c) over the bytes, each byte sign-extended
  // as a signed char, so bytes 0x80 to 0xFF add -128 to -1. "" hashes to 0.
  unsigned hash(char const* text) const {
    unsigned h = 0;
    for (; *text; ++text) h = step(h, *text);
    return h;
  }
  bool equal(char const* a, char const* b) const { return a == b; }

  // The hash of a text extended by one byte: callers that build a name byte
  // by byte hash it on the way, and a suffix extends the hash of its base.
  static unsigned step(unsigned h, char c) {
    return h ^ ((h << 5) + (h >> 2) + static_cast<unsigned>(static_cast<signed char>(c)));
  }
};

#endif  // CONTAINERS_ORB_OPS_H
