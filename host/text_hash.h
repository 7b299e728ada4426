// TEXT_HASH: the reference host's hash of texts, the one text hash of the
// host and of the tools built on it. The host's string table hashes its
// texts with it (ORB_CSTR_OPS); the tools' tables and the translator's
// lookups hash theirs.
//
// Names in a design differ mostly in their last few characters ("reg_17",
// "reg_18") and tables take a slot from the low bits, so every input bit must
// reach every output bit. Two lanes of eight bytes take sixteen bytes a step,
// each word mixed by multiply-rotate-multiply, their multiplies independent
// so that they overlap; the length and the tail end in a full-avalanche
// finalizer. Only 64-bit multiplies are used, so the 32-bit build gives the
// same hash.
//
// The state after whole blocks does not depend on what follows them, so
// the hashes of a text's prefixes come from one pass over it: feed blocks()
// and finish() at each prefix's end (the translator does this for a name's
// levels).
#ifndef HOST_TEXT_HASH_H
#define HOST_TEXT_HASH_H

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace zema_host {

class TEXT_HASH {
 public:
  static constexpr std::size_t kBlock = 16;

  // Takes `count` whole blocks of kBlock bytes from `bytes`.
  void blocks(char const* bytes, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i, bytes += kBlock) {
      m_a = mix(m_a, word_at(bytes));
      m_b = mix(m_b, word_at(bytes + 8));
    }
  }

  // The hash of a text of `length` bytes whose whole blocks this state has
  // taken and whose last length % kBlock bytes start at `tail`. Never 0, so
  // that tables may mark a free slot with 0.
  //
  // The tail is read as two words that overlap when it is short (its first
  // and last 8 or 4 bytes; three of its bytes below 4), so that every byte
  // counts and nothing outside the text is read. Copying it into a padded
  // block instead took a few narrow stores that the wide loads after them
  // then waited for, the longest part of hashing a short name.
  std::uint64_t finish(char const* tail, std::size_t length) const {
    std::size_t const rest = length % kBlock;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
    if (rest >= 8) {
      first = word_at(tail);
      last = word_at(tail + rest - 8);
    } else if (rest >= 4) {
      first = half_at(tail);
      last = half_at(tail + rest - 4);
    } else if (rest > 0) {
      first = byte_at(tail) << 16 | byte_at(tail + rest / 2) << 8 | byte_at(tail + rest - 1);
    }
    std::uint64_t const a = mix(m_a, first);
    std::uint64_t const b = mix(m_b, last);
    std::uint64_t const h = final_mix(a ^ rotate(b, 32) ^ static_cast<std::uint64_t>(length));
    return h != 0 ? h : 1;
  }

  // The hash of `length` bytes from `text`.
  static std::uint64_t of(char const* text, std::size_t length) {
    TEXT_HASH hash;
    hash.blocks(text, length / kBlock);
    return hash.finish(text + length / kBlock * kBlock, length);
  }

 private:
  static std::uint64_t rotate(std::uint64_t x, int r) { return (x << r) | (x >> (64 - r)); }
  static std::uint64_t word_at(char const* bytes) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    return word;
  }
  static std::uint64_t half_at(char const* bytes) {
    std::uint32_t half;
    std::memcpy(&half, bytes, 4);
    return half;
  }
  static std::uint64_t byte_at(char const* bytes) { return static_cast<unsigned char>(*bytes); }
  static std::uint64_t mix(std::uint64_t h, std::uint64_t word) {
    word *= 0x87c37b91114253d5ULL;
    word = rotate(word, 31);
    word *= 0x4cf5ad432745937fULL;
    h ^= word;
    return rotate(h, 27) * 5 + 0x52dce729;
  }
  static std::uint64_t final_mix(std::uint64_t h) {
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
  }

  std::uint64_t m_a = 0x9e3779b97f4a7c15ULL;
  std::uint64_t m_b = 0xd6e8feb86659fd93ULL;
};

}  // namespace zema_host

#endif  // HOST_TEXT_HASH_H
