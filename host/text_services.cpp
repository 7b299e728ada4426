// The reference host's text services: integer-to-text, ASCII lower-casing, the
// content hash and chunked storage behind the library's string table, the
// bucket-count growth function, and the debug names of atom types.
#include "h/gen_sys.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <vector>

#include "containers/orb_chain.h"
#include "h/dbs_translator_sys.h"
#include "h/orb_sys.h"
#include "host/text_hash.h"
#include "host/zema_host.h"

// --- Integer to text and lower-casing ------------------------------------------

void gen_itoa(int value, GEN_STRING& out, int base) {
  if (base < 2 || base > 36) base = 10;
  char digits[40];
  std::to_chars_result const result = std::to_chars(digits, digits + sizeof digits, value, base);
  out.assign(digits, result.ptr);
}

void gen_tolower(GEN_STRING& text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
}

// --- Content hash ------------------------------------------------------------

// The host's one text hash (text_hash.h), its halves folded to the 32 bits
// the tables take.
unsigned ORB_CSTR_OPS::hash(char const* text) const {
  if (text == nullptr) text = "";
  std::uint64_t const h = zema_host::TEXT_HASH::of(text, std::strlen(text));
  return static_cast<unsigned>(h ^ (h >> 32));
}

bool ORB_CSTR_OPS::equal(char const* a, char const* b) const {
  if (a == nullptr || b == nullptr) return a == b;
  return std::strcmp(a, b) == 0;
}

// --- Chunked text storage ------------------------------------------------------

namespace {

// Chunks are charged to the host's own module, not to the library's.
MEM_TRACKER_THUNK s_orb_chunk_thunk = {&typeid(char), 1, 1, "ORB", false, 0, 0, 0};

constexpr std::size_t kChunkSize = std::size_t{64} * 1024;
constexpr std::size_t kLinkSize = sizeof(char*);
// A text this long gets a block of its own, so starting a fresh chunk never
// wastes more than a quarter of the old one.
constexpr std::size_t kOwnBlockThreshold = (kChunkSize - kLinkSize) / 4;

char* new_chunk(std::size_t size, char* previous) {
  char* chunk = static_cast<char*>(MEM_MANAGER::new_wrapper(size, &s_orb_chunk_thunk, __FILE__));
  std::memcpy(chunk, &previous, kLinkSize);
  return chunk;
}

char* link_of(char* chunk) {
  char* previous;
  std::memcpy(&previous, chunk, kLinkSize);
  return previous;
}

}  // namespace

ORB_STRING_CHUNK_MGR::ORB_STRING_CHUNK_MGR() : m_chunks(nullptr), m_free(nullptr), m_left(0) {}

ORB_STRING_CHUNK_MGR::~ORB_STRING_CHUNK_MGR() {
  for (char* chunk = m_chunks; chunk != nullptr;) {
    char* previous = link_of(chunk);
    MEM_MANAGER::delete_wrapper(chunk, "ORB");
    chunk = previous;
  }
}

char const* ORB_STRING_CHUNK_MGR::write(char const* text) {
  if (text == nullptr) text = "";
  std::size_t need = std::strlen(text) + 1;
  if (need > m_left) {
    if (need > kOwnBlockThreshold) {
      // Link the block behind the current chunk, which keeps its free room.
      char* block;
      if (m_chunks == nullptr) {
        block = new_chunk(kLinkSize + need, nullptr);
        m_chunks = block;
        m_free = block + kLinkSize + need;
        m_left = 0;
      } else {
        block = new_chunk(kLinkSize + need, link_of(m_chunks));
        std::memcpy(m_chunks, &block, kLinkSize);
      }
      char* copy = block + kLinkSize;
      std::memcpy(copy, text, need);
      return copy;
    }
    m_chunks = new_chunk(kChunkSize, m_chunks);
    m_free = m_chunks + kLinkSize;
    m_left = static_cast<unsigned>(kChunkSize - kLinkSize);
  }
  char* copy = m_free;
  std::memcpy(copy, text, need);
  m_free += need;
  m_left -= static_cast<unsigned>(need);
  return copy;
}

// --- Bucket-count growth -----------------------------------------------------

namespace {

// The test hook behind growth_requests(): off unless a test switches it on,
// so a long-running host does not collect every request.
struct GROWTH_LOG {
  bool m_on = false;
  std::vector<unsigned> m_requests;
};

GROWTH_LOG& growth_log() {
  static GROWTH_LOG* s_log = new GROWTH_LOG;
  return *s_log;
}

std::uint32_t pow_mod(std::uint64_t base, std::uint32_t exponent, std::uint32_t modulus) {
  std::uint64_t result = 1;
  base %= modulus;
  for (; exponent != 0; exponent >>= 1) {
    if (exponent & 1) result = result * base % modulus;
    base = base * base % modulus;
  }
  return static_cast<std::uint32_t>(result);
}

// Miller-Rabin with the witnesses 2, 7 and 61 is exact for every 32-bit n.
bool is_prime(std::uint32_t n) {
  if (n < 2) return false;
  for (std::uint32_t small : {2u, 3u, 5u, 7u, 11u, 13u, 61u}) {
    if (n % small == 0) return n == small;
  }
  std::uint32_t d = n - 1;
  int s = 0;
  for (; (d & 1) == 0; d >>= 1) ++s;
  for (std::uint32_t witness : {2u, 7u, 61u}) {
    std::uint64_t x = pow_mod(witness, d, n);
    if (x == 1 || x == n - 1) continue;
    bool composite = true;
    for (int i = 1; i < s && composite; ++i) {
      x = x * x % n;
      if (x == n - 1) composite = false;
    }
    if (composite) return false;
  }
  return true;
}

constexpr std::uint32_t kLargestPrime32 = 4294967291u;

}  // namespace

// A prime bucket count keeps "hash mod count" from favouring buckets when
// hashes share low-order structure. A table grows by half; from
// kDoublingFrom buckets on it doubles, since each rehash of a big table
// walks memory that is no longer in any cache: a million-instance init then
// rehashes half as often, for some 5-9 % more tracked bytes.
constexpr std::uint64_t kDoublingFrom = 65536;

// A table below kClimbBelow buckets takes three of those steps at once. A
// small table's rehash is cheap in memory but not in time: every name's hash
// is taken again and every chain walked, and by one step at a time the id
// indexes and name table of a netlist of a few thousand cells grew fourteen
// times on their way to 16384 buckets; now five, for a few per cent more
// tracked bytes (climbing on to 65536 cost over a tenth more). The extra
// steps are the ones the table would have taken next (tables ask to grow
// once a fifth more than their entries, a multiple of five, exceeds their
// bucket count), so every table that starts at 61 passes through the same
// bucket counts above kClimbBelow as with one step at a time.
constexpr std::uint32_t kClimbBelow = 16384;
constexpr int kStepsWhileSmall = 3;

namespace {

// The least prime of at least `target`, or, where none fits, `fallback`.
std::uint32_t prime_at_least(std::uint64_t target, std::uint32_t fallback) {
  if (target > kLargestPrime32) return fallback;
  std::uint32_t candidate = static_cast<std::uint32_t>(target);
  if (candidate <= 2) return 2;
  if ((candidate & 1) == 0) ++candidate;
  while (!is_prime(candidate)) candidate += 2;
  return candidate;
}

std::uint32_t one_step(std::uint32_t wanted) {
  std::uint64_t const target =
      static_cast<std::uint64_t>(wanted) + (wanted >= kDoublingFrom ? wanted : wanted / 2);
  // No prime of at least the target fits; settle for an odd count.
  return prime_at_least(target, wanted | 1u);
}

// The bucket count that the entries a program expects call for
// (expect_table_entries), 0 when it expects nothing.
std::atomic<std::uint32_t> g_expected_buckets{0};
// Tables still allowed to go to the expected count from kDoublingFrom
// buckets on (see kEarlyJumps).
std::atomic<int> g_early_jumps_left{0};

}  // namespace

// Growing its way to a million entries costs a table five rehashes past
// 65,536 buckets, each moving every entry again, and in a table of texts
// hashing every text again: a quarter of a million-instance init. A netlist
// of tens of thousands of cells pays the same share: its name table grew
// four times from 21,345 buckets, and those rehashes took a third of a fresh
// process's init, on memory just faulted in. When the program has said how
// many entries its largest table will hold, a table whose next step would
// give it at least 1/kExpectedWithin of the buckets that count calls for
// goes there at once, and doubles from there if it outgrows it. The last
// rehashes of the design's big tables, the costliest, are spared; a table
// that stays far smaller, such as one parent's children among many, grows
// as before, and none takes more than kExpectedWithin times the buckets its
// step would have given it.
constexpr std::uint32_t kExpectedWithin = 8;

// A design of a million instances has five tables that grow to a million
// entries or more (its converted names and its indexes of nodes, atoms and
// oterms among them), and within an eighth of their expected count they
// have already grown through 72,077, 144,161 and 288,349 buckets: four
// fifths of the entries they move before the last jump. The first
// kEarlyJumps tables that reach kDoublingFrom buckets go to the expected
// count there. Few tables of a design grow that far unless they are its big
// ones, and the budget bounds what a design of many wide parents can take
// beyond its needs: kEarlyJumps bucket arrays of the expected size.
constexpr int kEarlyJumps = 8;

namespace {

bool take_early_jump() {
  int left = g_early_jumps_left.load(std::memory_order_relaxed);
  while (left > 0 &&
         !g_early_jumps_left.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
  }
  return left > 0;
}

}  // namespace

unsigned orb_hash_50_percent_increase_size(unsigned wanted) {
  if (growth_log().m_on) growth_log().m_requests.push_back(wanted);
  std::uint32_t count = one_step(wanted);
  for (int step = 1; step < kStepsWhileSmall && count < kClimbBelow; ++step) {
    count = one_step((count / 5 + 1) * 5);
  }
  std::uint32_t const expected = g_expected_buckets.load(std::memory_order_relaxed);
  if (count < expected &&
      (count >= expected / kExpectedWithin || (count >= kDoublingFrom && take_early_jump()))) {
    count = expected;
  }
  return count;
}

// --- Atom type names ---------------------------------------------------------

namespace {

char const* const s_atom_type_names[CDB_ATOM_BASIC_TYPE_COUNT] = {
    "NONE",    "LUT",      "DFF",      "IO_IBUF", "LATCH",      "CARRY",       "MUX",
    "RAM",     "ROM",      "DSP",      "MULT",    "PLL",        "DLL",         "CLKBUF",
    "CLKCTRL", "GND",      "VCC",      "SERDES",  "OSC",        "JTAG",        "CRC",
    "FIFO",    "SHIFTREG", "ADDER",    "COUNTER", "COMPARATOR", "COMB",        "XOR",
    "AND",     "OR",       "INV",      "BUF",     "TRI",        "DELAY",       "IO_OBUF",
    "PIN",     "IO_DDR",   "TERM",     "PULLUP",  "PULLDOWN",   "BRAM",        "URAM",
    "HardIP",  "PCIe",     "Ethernet", "MemCtrl", "Clk_Div",    "Temp_Sensor", "USER_FLASH",
    "BlackBox"};

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

DBS_TRANSLATOR::DBS_TRANSLATOR() : m_names(s_atom_type_names) {}

DBS_TRANSLATOR::~DBS_TRANSLATOR() = default;

char const* DBS_TRANSLATOR::get_debug_string_name(CDB_ATOM_BASIC_TYPE type) const {
  int index = static_cast<int>(type);
  return index >= 0 && index < CDB_ATOM_BASIC_TYPE_COUNT ? m_names[index] : "UNKNOWN";
}

namespace zema_host {

void set_growth_log(bool on) { growth_log().m_on = on; }
std::vector<unsigned> const& growth_requests() { return growth_log().m_requests; }
void clear_growth_requests() { growth_log().m_requests.clear(); }

void expect_table_entries(std::size_t entries) {
  // The bucket count that the table's own growth test leaves alone at that
  // many entries; beyond 32 bits, the largest count there is.
  std::uint32_t buckets = 0;
  if (entries > std::size_t{kLargestPrime32 / 5} * 4) {
    buckets = static_cast<std::uint32_t>(kLargestPrime32);
  } else if (entries > 0) {
    buckets = prime_at_least(orb_wanted_buckets(static_cast<unsigned>(entries)), kLargestPrime32);
  }
  g_expected_buckets.store(buckets, std::memory_order_relaxed);
  g_early_jumps_left.store(buckets > 0 ? kEarlyJumps : 0, std::memory_order_relaxed);
}

INIT_EXPECTATION::INIT_EXPECTATION(std::size_t instances, std::size_t atoms, std::size_t oterms) {
  expect_table_entries(std::max(instances, atoms + oterms));
}

INIT_EXPECTATION::~INIT_EXPECTATION() { expect_table_entries(0); }

char const* atom_type_name(int type) {
  return type >= 0 && type < CDB_ATOM_BASIC_TYPE_COUNT ? s_atom_type_names[type] : "UNKNOWN";
}

namespace {

bool same_type_name(char const* a, char const* b) {
  while (*a != '\0' && ascii_lower(*a) == ascii_lower(*b)) ++a, ++b;
  return *a == '\0' && *b == '\0';
}

// A hash of the name's first two and last letters and its length, case
// folded: the type names differ in it. A reader looks a type up per atom, so
// a lookup is one slot and one compare instead of a pass over every name.
unsigned type_name_slot(char const* name, unsigned mask) {
  std::size_t const length = std::strlen(name);
  if (length == 0) return 0;
  unsigned h = static_cast<unsigned>(length);
  h = h * 31 + static_cast<unsigned char>(ascii_lower(name[0]));
  h = h * 31 + static_cast<unsigned char>(ascii_lower(name[length > 1 ? 1 : 0]));
  h = h * 31 + static_cast<unsigned char>(ascii_lower(name[length - 1]));
  return (h * 0x9e3779b1u >> 16) & mask;
}

constexpr unsigned kTypeSlots = 256;

// Slot to type + 1 (0: empty), open addressing.
struct TYPE_NAME_TABLE {
  unsigned char m_slots[kTypeSlots] = {};
  TYPE_NAME_TABLE() {
    for (int type = 0; type < CDB_ATOM_BASIC_TYPE_COUNT; ++type) {
      unsigned slot = type_name_slot(s_atom_type_names[type], kTypeSlots - 1);
      while (m_slots[slot] != 0) slot = (slot + 1) & (kTypeSlots - 1);
      m_slots[slot] = static_cast<unsigned char>(type + 1);
    }
  }
};

}  // namespace

int atom_type_from_name(char const* name) {
  if (name == nullptr) return -1;
  static TYPE_NAME_TABLE const table;
  for (unsigned slot = type_name_slot(name, kTypeSlots - 1); table.m_slots[slot] != 0;
       slot = (slot + 1) & (kTypeSlots - 1)) {
    int const type = table.m_slots[slot] - 1;
    if (same_type_name(s_atom_type_names[type], name)) return type;
  }
  return -1;
}

}  // namespace zema_host
