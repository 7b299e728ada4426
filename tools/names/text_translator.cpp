#include "tools/names/text_translator.h"

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "atm/zema/zema_naming_rules.h"
#include "host/text_hash.h"
#include "tools/names/spef_syntax.h"
#include "tools/names/tcl_syntax.h"

namespace zema_tool {
namespace {

// A name's lookups are prepared (hashed, their slots fetched) this many
// names ahead, and the texts in those slots fetched half as far ahead, so
// that each has arrived from memory when the name is translated.
constexpr std::size_t kPrepareAhead = 16;
constexpr std::size_t kTextsAhead = 8;

// Whether `text` ends in `end` (lower case), whatever the case of `text`.
bool ends_with(std::string_view text, std::string_view end) {
  if (text.size() < end.size()) return false;
  for (std::size_t i = 0; i < end.size(); ++i) {
    char c = text[text.size() - end.size() + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != end[i]) return false;
  }
  return true;
}

bool is_space(char c) { return std::strchr(" \t\n\r\v\f", c) != nullptr && c != '\0'; }
}  // namespace

SYNTAX syntax_of(std::string_view path, SYNTAX chosen) {
  if (chosen != SYNTAX::AUTO) return chosen;
  if (path == "-" || path == "<stdin>") return SYNTAX::TEXT;
  for (std::string_view const packed : {".gz", ".xz"}) {
    if (ends_with(path, packed)) path.remove_suffix(packed.size());
  }
  for (std::string_view const tcl : {".sdc", ".tcl", ".xdc"}) {
    if (ends_with(path, tcl)) return SYNTAX::TCL;
  }
  for (std::string_view const spef : {".spef", ".spf"}) {
    if (ends_with(path, spef)) return SYNTAX::SPEF;
  }
  return SYNTAX::TEXT;
}

namespace {

// The bytes that end an original name in a text: a name that holds one is
// not one word there.
constexpr std::string_view kNotInTextOriginal(" \t\n\r\v\f{}\"',;()");

}  // namespace

TEXT_TRANSLATOR::TEXT_TRANSLATOR(NAME_LOOKUP const& lookup, TRANSLATION_OPTIONS const& options,
                                 UNKNOWN unknown)
    : m_lookup(lookup),
      m_options(options),
      m_unknown(std::move(unknown)),
      m_keys_converted(lookup.keys() == NAME_SIDE::CONVERTED),
      m_tcl(std::make_unique<TCL_SCANNER>(lookup.keys(), options.m_separator)),
      m_spef(std::make_unique<SPEF_SCANNER>(lookup.keys())) {
  for (int c = 0; c < 256; ++c) {
    char const byte = static_cast<char>(c);
    if (m_keys_converted) {
      m_in_token[c] = zema_is_legal_name_char(byte) || (byte >= 'A' && byte <= 'Z') ||
                      byte == '$' || byte == options.m_separator;
    } else {
      m_in_token[c] = c != 0 && kNotInTextOriginal.find(byte) == std::string_view::npos;
    }
  }
}

TEXT_TRANSLATOR::~TEXT_TRANSLATOR() = default;

void TEXT_TRANSLATOR::set_syntax(SYNTAX syntax) {
  m_syntax = syntax == SYNTAX::AUTO ? SYNTAX::TEXT : syntax;
}

std::size_t TEXT_TRANSLATOR::put(std::string_view text, bool last, OUTPUT_BUFFER& out) {
  if (m_passing) {
    // The rest of a word too long to be a name goes out as it is.
    std::size_t rest = 0;
    while (rest < text.size() &&
           (m_syntax == SYNTAX::TEXT ? m_in_token[static_cast<unsigned char>(text[rest])]
                                     : !is_space(text[rest]))) {
      ++rest;
    }
    out.put(text.substr(0, rest));
    m_piece_offset += rest;
    if (rest == text.size() && !last) return rest;
    m_passing = false;
    return rest + put(text.substr(rest), last, out);
  }
  m_piece = text.data();
  m_counted = text.data();
  m_spots.clear();
  m_keys.clear();
  std::size_t end = 0;
  switch (m_syntax) {
    case SYNTAX::AUTO:
    case SYNTAX::TEXT:
      end = scan_text(text, last);
      break;
    case SYNTAX::TCL:
      end = m_tcl->scan(text, last, &m_spots, &m_keys);
      break;
    case SYNTAX::SPEF:
      end = m_spef->scan(text, last, &m_spots, &m_keys);
      break;
  }
  std::size_t const count = m_spots.size();
  for (std::size_t i = 0; i < std::min(kPrepareAhead, count); ++i) prepare(m_spots[i], text);
  std::size_t written = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kPrepareAhead < count) prepare(m_spots[i + kPrepareAhead], text);
    if (i + kTextsAhead < count) prefetch_texts(m_spots[i + kTextsAhead]);
    NAME_SPOT const& spot = m_spots[i];
    write_gap(text.substr(written, spot.m_start - written), out);
    translate(spot, text, out);
    written = spot.m_start + spot.m_size;
  }
  write_gap(text.substr(written, end - written), out);
  if (last) flush_held(out);
  if (m_unknown) count_lines_to(text.data() + end);
  m_piece_offset += end;
  return end;
}

std::size_t TEXT_TRANSLATOR::pass(std::string_view word, OUTPUT_BUFFER& out) {
  flush_held(out);
  if (m_syntax == SYNTAX::SPEF) m_spef->pass_word(word);
  out.put(word);
  m_piece_offset += word.size();
  m_passing = true;
  return word.size();
}

void TEXT_TRANSLATOR::end_text() {
  m_passing = false;
  m_piece_offset = 0;
  m_line = 1;
  m_line_start = 0;
  m_held.clear();
  m_held_opening.clear();
  m_tcl->reset();
  m_spef->reset();
}

namespace {

// Whether `bytes` only open the list of a query's argument: braces,
// "[list" and "[concat", nested or not, and blanks. The last word may be
// cut short where the bytes end, as a piece may end inside it.
bool opens_list(std::string_view bytes) {
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t const first = bytes.find_first_not_of(" \t", at);
    if (first == std::string_view::npos) break;
    std::size_t const end = std::min(bytes.find_first_of(" \t", first), bytes.size());
    std::string_view const word = bytes.substr(first, end - first);
    bool opener = word.find_first_not_of('{') == std::string_view::npos;
    for (std::string_view const command : {"[list", "[concat"}) {
      // A word cut short at the end may be the start of one.
      opener = opener || word == (end == bytes.size() ? command.substr(0, word.size()) : command);
    }
    if (!opener) return false;
    at = end;
  }
  return true;
}

}  // namespace

// Bytes between names, as they are; a held -hierarchical goes out first,
// unless the bytes open the list of its argument, whose first element
// decides.
void TEXT_TRANSLATOR::write_gap(std::string_view bytes, OUTPUT_BUFFER& out) {
  // An opening is a few bytes; one longer than this is not waited for, so
  // that each byte is looked at a bounded number of times.
  constexpr std::size_t kLongestOpening = 4096;
  if (!m_held.empty() && m_held_opening.size() + bytes.size() <= kLongestOpening) {
    std::size_t const held = m_held_opening.size();
    m_held_opening.append(bytes);
    if (opens_list(m_held_opening)) return;
    m_held_opening.resize(held);
  }
  if (!bytes.empty()) flush_held(out);
  out.put(bytes);
}

void TEXT_TRANSLATOR::flush_held(OUTPUT_BUFFER& out) {
  if (m_held.empty()) return;
  out.put(m_held);
  m_held.clear();
  out.put(m_held_opening);
  m_held_opening.clear();
}

// The held -hierarchical goes: its argument's names are full names now.
void TEXT_TRANSLATOR::drop_held(OUTPUT_BUFFER& out) {
  m_held.clear();
  out.put(m_held_opening);
  m_held_opening.clear();
}

std::string_view TEXT_TRANSLATOR::key_of(NAME_SPOT const& spot, std::string_view piece) const {
  return (spot.m_copied ? std::string_view(m_keys) : piece).substr(spot.m_key, spot.m_key_size);
}

std::size_t TEXT_TRANSLATOR::scan_text(std::string_view text, bool last) {
  std::size_t end = text.size();
  if (!last) {
    while (end > 0 && m_in_token[static_cast<unsigned char>(text[end - 1])]) --end;
  }
  for (std::size_t at = 0; at < end;) {
    while (at < end && !m_in_token[static_cast<unsigned char>(text[at])]) ++at;
    std::size_t const start = at;
    at = token_end(text, at, end);
    if (at > start) add_text_spot(text, start, at - start);
  }
  return end;
}

// Brackets that a token does not balance quote it ("[get_cells a/b]"): the
// name lies between them, behind a leading backslash if there is one.
void TEXT_TRANSLATOR::add_text_spot(std::string_view piece, std::size_t start, std::size_t size) {
  std::string_view const text = piece.substr(start, size);
  std::size_t front = 0;
  std::size_t back = text.size();
  // No converted name starts with "[": one in front quotes ("[u/a_reg]").
  if (m_keys_converted) {
    while (front < back && text[front] == '[') ++front;
    if (front == back) return;
  }
  std::size_t opens = 0;
  std::size_t closes = 0;
  if (text[front] == '[' || text.back() == ']') {
    opens = static_cast<std::size_t>(std::count(text.begin() + front, text.end(), '['));
    closes = static_cast<std::size_t>(std::count(text.begin() + front, text.end(), ']'));
  }
  for (std::size_t extra = closes > opens ? closes - opens : 0;
       extra > 0 && back > front && text[back - 1] == ']'; --extra) {
    --back;
  }
  for (std::size_t extra = opens > closes ? opens - closes : 0;
       extra > 0 && front < back && text[front] == '['; --extra) {
    ++front;
  }
  // A backslash in front quotes a converted name (a Verilog escaped
  // identifier); an original may start with one of its own, so there it is
  // tried both ways.
  bool backslashed = false;
  if (back - front > 1 && text[front] == '\\') {
    if (m_keys_converted) {
      ++front;
    } else {
      backslashed = true;
    }
  }
  if (front == back) return;
  NAME_SPOT spot{};
  spot.m_start = start + front;
  spot.m_size = back - front;
  spot.m_form = SPOT_FORM::TEXT;
  spot.m_role = SPOT_ROLE::WORD;
  spot.m_backslashed = backslashed;
  std::string_view const name = piece.substr(spot.m_start, spot.m_size);
  if (m_keys_converted && m_options.m_separator == '/') {
    spot.m_key = spot.m_start;
  } else {
    spot.m_copied = true;
    if (!m_keys_converted) m_keys.push_back('/');
    spot.m_key = m_keys.size();
    m_keys.append(name);
    if (m_keys_converted) {
      std::replace(m_keys.begin() + static_cast<std::ptrdiff_t>(spot.m_key), m_keys.end(),
                   m_options.m_separator, '/');
    }
  }
  spot.m_key_size = spot.m_size;
  m_spots.push_back(spot);
}

// Tokens of converted names are long and their bytes few: sixteen bytes are
// tested at a time where SSE2 is there.
std::size_t TEXT_TRANSLATOR::token_end(std::string_view text, std::size_t at,
                                       std::size_t end) const {
#ifdef __SSE2__
  if (m_keys_converted) {
    auto const bytes = [](char c) { return _mm_set1_epi8(c); };
    __m128i const separator = bytes(m_options.m_separator);
    for (; at + 16 <= end; at += 16) {
      __m128i const x = _mm_loadu_si128(reinterpret_cast<__m128i const*>(text.data() + at));
      __m128i const lower = _mm_or_si128(x, bytes(0x20));
      __m128i const letter = _mm_and_si128(_mm_cmpgt_epi8(lower, bytes('a' - 1)),
                                           _mm_cmplt_epi8(lower, bytes('z' + 1)));
      __m128i const digit =
          _mm_and_si128(_mm_cmpgt_epi8(x, bytes('0' - 1)), _mm_cmplt_epi8(x, bytes('9' + 1)));
      __m128i const marks =
          _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(x, bytes('_')), _mm_cmpeq_epi8(x, bytes('$'))),
                       _mm_or_si128(_mm_cmpeq_epi8(x, bytes('[')), _mm_cmpeq_epi8(x, bytes(']'))));
      __m128i const in = _mm_or_si128(_mm_or_si128(letter, digit),
                                      _mm_or_si128(marks, _mm_cmpeq_epi8(x, separator)));
      unsigned const mask = static_cast<unsigned>(_mm_movemask_epi8(in));
      if (mask != 0xFFFF) return at + static_cast<std::size_t>(__builtin_ctz(~mask));
    }
  }
#endif
  while (at < end && m_in_token[static_cast<unsigned char>(text[at])]) ++at;
  return at;
}

// The key's levels decide whether it is looked up; then the hashes of the
// whole key and of the key up to its last level boundary (a name with a pin
// behind it), each also with "/" in front for an original written without
// it, and their slots fetched.
void TEXT_TRANSLATOR::prepare(NAME_SPOT& spot, std::string_view piece) {
  if (spot.m_role == SPOT_ROLE::PATTERN || spot.m_form == SPOT_FORM::TCL_FLAG) return;
  std::string_view const key = key_of(spot, piece);
  std::size_t levels = 1;
  if (m_keys_converted) {
    std::size_t const cut = key.rfind('/');
    spot.m_cut = cut == std::string_view::npos ? 0 : cut;
    if (spot.m_cut != 0 && m_options.m_levels > 2) {
      levels += static_cast<std::size_t>(std::count(key.begin() + 1, key.end(), '/'));
    } else if (spot.m_cut != 0) {
      levels = 2;
    }
  } else {
    levels = level_boundaries(key, NAME_SIDE::ORIGINAL, &m_ends, key.size());
    spot.m_cut = m_ends.empty() ? 0 : m_ends.back();
  }
  if (spot.m_form == SPOT_FORM::SPEF_NODE) spot.m_cut = spot.m_node;
  if (key.empty() || (spot.m_role == SPOT_ROLE::WORD && levels < m_options.m_levels)) {
    spot.m_skipped = true;
    return;
  }
  std::size_t const longest = m_lookup.longest_key();
  TEXT_MAP const& table = m_lookup.table();
  auto const hash_both = [&](std::string_view text, std::size_t cut, std::uint64_t* whole,
                             std::uint64_t* of_cut) {
    if (text.size() <= longest && cut != 0) {
      NAME_INDEX::hash_with_prefix(text, cut, whole, of_cut);
    } else if (text.size() <= longest) {
      *whole = NAME_INDEX::hash(text);
    } else if (cut != 0 && cut <= longest) {
      *of_cut = NAME_INDEX::hash(text.substr(0, cut));
    }
  };
  hash_both(key, spot.m_cut, &spot.m_hashes[kWhole], &spot.m_hashes[kCut]);
  if (!m_keys_converted && spot.m_copied && key[0] != '/') {
    hash_both(std::string_view(key.data() - 1, key.size() + 1), spot.m_cut + 1,
              &spot.m_hashes[kRootedWhole], &spot.m_hashes[kRootedCut]);
    if (spot.m_cut == 0) spot.m_hashes[kRootedCut] = 0;
  }
  for (std::uint64_t const hash : spot.m_hashes) {
    if (hash != 0) table.prefetch(hash);
  }
}

void TEXT_TRANSLATOR::prefetch_texts(NAME_SPOT const& spot) const {
  for (std::uint64_t const hash : spot.m_hashes) {
    if (hash != 0) prefetch_entry_texts(m_lookup.table(), hash);
  }
}

// The entry of the key's first `length` bytes, with "/" in front where the
// plain key is not one (hash: kWhole or kCut).
INDEX_ENTRY const* TEXT_TRANSLATOR::find(NAME_SPOT const& spot, std::string_view key,
                                         std::size_t length, int hash) const {
  TEXT_MAP const& table = m_lookup.table();
  auto const plain = [&]() -> INDEX_ENTRY const* {
    return spot.m_hashes[hash] != 0 ? table.find(spot.m_hashes[hash], key.substr(0, length))
                                    : nullptr;
  };
  auto const rooted = [&]() -> INDEX_ENTRY const* {
    return spot.m_hashes[hash + 2] != 0
               ? table.find(spot.m_hashes[hash + 2], std::string_view(key.data() - 1, length + 1))
               : nullptr;
  };
  // Constraints and parasitics write paths of the hierarchy without their
  // leading "/": there a path comes before a name outside the hierarchy
  // that reads the same, as it does in a netlist.
  if (spot.m_form != SPOT_FORM::TEXT) {
    INDEX_ENTRY const* const entry = rooted();
    return entry != nullptr ? entry : plain();
  }
  INDEX_ENTRY const* const entry = plain();
  return entry != nullptr ? entry : rooted();
}

TEXT_TRANSLATOR::RESULT TEXT_TRANSLATOR::resolve(NAME_SPOT const& spot, std::string_view piece) {
  if (spot.m_skipped) return RESULT{FOUND::SKIPPED, nullptr, 0};
  std::string_view const key = key_of(spot, piece);
  INDEX_ENTRY const* const whole = find(spot, key, key.size(), kWhole);
  if (spot.m_form == SPOT_FORM::SPEF_NODE) {
    // The instance and the pin as one name where the pin is a level of the
    // instance's own name, as an output terminal's is.
    INDEX_ENTRY const* const instance =
        spot.m_node != 0 ? find(spot, key, spot.m_node, kCut) : nullptr;
    if (whole != nullptr && instance != nullptr && !whole->m_ambiguous && !instance->m_ambiguous) {
      std::string_view const name = whole->value();
      std::string_view const base = instance->value();
      if (name.size() > base.size() + 1 && name.substr(0, base.size()) == base &&
          name[base.size()] == '/' &&
          level_boundaries(name.substr(base.size() + 1), m_lookup.values(), &m_ends, 1) == 1) {
        return RESULT{FOUND::NAME, whole, key.size()};
      }
    }
    if (instance != nullptr) {
      return RESULT{instance->m_ambiguous ? FOUND::AMBIGUOUS : FOUND::NAME_AND_PIN, instance,
                    spot.m_node};
    }
  } else if (whole != nullptr) {
    // Only an oterm's name asks for its cell.
    if (spot.m_pins && !m_keys_converted && spot.m_cut != 0 && whole->m_class == CLASS_NET) {
      INDEX_ENTRY const* const cell = find(spot, key, spot.m_cut, kCut);
      if (output_pin_of(whole, cell, key.substr(spot.m_cut + 1))) {
        return RESULT{FOUND::NAME_AND_PIN, cell, spot.m_cut};
      }
    }
    // A query of cells or nets wants an object of its class among those
    // that share the name.
    INDEX_ENTRY const* const object = m_lookup.of_class(whole, spot.m_class);
    if (object == nullptr) return RESULT{FOUND::OTHER_CLASS, whole, key.size()};
    return RESULT{object->m_ambiguous ? FOUND::AMBIGUOUS : FOUND::NAME, object, key.size()};
  } else if (spot.m_cut != 0) {
    if (INDEX_ENTRY const* const entry = find(spot, key, spot.m_cut, kCut)) {
      if (entry->m_ambiguous) return RESULT{FOUND::AMBIGUOUS, entry, 0};
      bool const pin = !spot.m_whole && fits_pin(key.substr(spot.m_cut + 1), m_lookup.keys());
      return RESULT{pin ? FOUND::NAME_AND_PIN : FOUND::PARTIAL, entry, spot.m_cut};
    }
  }
  if (m_unknown && has_shorter_name(spot, key)) return RESULT{FOUND::PARTIAL, nullptr, 0};
  return RESULT{FOUND::NOTHING, nullptr, 0};
}

// Whether `output`, the entry of an original, is an oterm named as a level
// below `cell`, the entry of the original's start, that a query of pins
// means as the atom's pin: the converted netlist has the atom as a cell, of
// which `pin` is a pin, and the oterm's name as the net it drives.
bool TEXT_TRANSLATOR::output_pin_of(INDEX_ENTRY const* output, INDEX_ENTRY const* cell,
                                    std::string_view pin) const {
  return output != nullptr && cell != nullptr && output->m_class == CLASS_NET &&
         cell->m_class == CLASS_CELL && cell->m_rank >= 2 && !cell->m_ambiguous &&
         fits_pin(pin, NAME_SIDE::ORIGINAL);
}

// Whether a start of `key` shorter than its last level boundary is a name,
// for reports only. The prefixes are hashed in one pass over the key: a
// name of many levels costs its length, not its length times its levels.
bool TEXT_TRANSLATOR::has_shorter_name(NAME_SPOT const& spot, std::string_view key) {
  std::size_t const cut = spot.m_form == SPOT_FORM::SPEF_NODE ? spot.m_node : spot.m_cut;
  level_boundaries(key.substr(0, cut), m_lookup.keys(), &m_ends, m_lookup.deepest_key());
  while (!m_ends.empty() && m_ends.back() > m_lookup.longest_key()) m_ends.pop_back();
  if (m_ends.empty()) return false;
  bool const rooted = !m_keys_converted && spot.m_copied && key[0] != '/';
  typedef zema_host::TEXT_HASH HASH;
  TEXT_MAP const& table = m_lookup.table();
  for (std::size_t const shift : {std::size_t{0}, std::size_t{1}}) {
    if (shift == 1 && !rooted) break;
    std::string_view const text(key.data() - shift, key.size() + shift);
    HASH state;
    std::size_t blocks = 0;
    for (std::size_t const end : m_ends) {
      std::size_t const length = end + shift;
      state.blocks(text.data() + blocks * HASH::kBlock, length / HASH::kBlock - blocks);
      blocks = length / HASH::kBlock;
      if (table.find(state.finish(text.data() + blocks * HASH::kBlock, length),
                     text.substr(0, length)) != nullptr) {
        return true;
      }
    }
  }
  return false;
}

void TEXT_TRANSLATOR::translate(NAME_SPOT const& spot, std::string_view piece, OUTPUT_BUFFER& out) {
  std::string_view const bytes = piece.substr(spot.m_start, spot.m_size);
  if (spot.m_form == SPOT_FORM::TCL_FLAG) {
    // Held until its first argument says whether it stays.
    flush_held(out);
    m_held.assign(bytes);
    return;
  }
  if (spot.m_role == SPOT_ROLE::PATTERN) {
    UNKNOWN_PROBLEM problem = UNKNOWN_PROBLEM::NO_MATCH;
    if (!write_pattern(spot, key_of(spot, piece), out, &problem)) {
      report(spot, piece, problem);
      out.put(bytes);
    }
    return;
  }
  flush_held(out);
  RESULT result = resolve(spot, piece);
  if (spot.m_backslashed && result.m_found == FOUND::NOTHING) {
    // The name behind the backslash, which stays.
    NAME_SPOT behind = spot;
    behind.m_backslashed = false;
    ++behind.m_start;
    --behind.m_size;
    behind.m_key = m_keys.size() + 1;
    behind.m_key_size = behind.m_size;
    behind.m_skipped = false;
    std::fill(std::begin(behind.m_hashes), std::end(behind.m_hashes), 0);
    m_keys.push_back('/');
    m_keys.append(piece.substr(behind.m_start, behind.m_size));
    prepare(behind, piece);
    RESULT const found = resolve(behind, piece);
    if (found.m_found == FOUND::NAME || found.m_found == FOUND::NAME_AND_PIN) {
      out.put('\\');
      if (write_found(behind, piece, found, out)) return;
      out.put(bytes.substr(1));
      return;
    }
  }
  if (!m_keys_converted && (result.m_found == FOUND::NOTHING || result.m_found == FOUND::PARTIAL)) {
    // A Verilog escaped name that starts with "$" keeps its backslash in
    // the design's names (\$auto$ff.cc:266:slice$80), where a timing tool
    // that read the same netlist calls it $auto$ff.cc:266:slice$80. A SPEF
    // node's pin keeps its bytes. Where the text writes some levels "\$"
    // and others "$", as translate writes a name whose levels mix both,
    // only the escaped ones are tried next.
    std::size_t tried = 0;
    for (bool const escaped_only : {false, true}) {
      // Taken again each time: a copied key lives in m_keys, which grows.
      std::string_view const key = key_of(spot, piece);
      std::size_t const limit = spot.m_form == SPOT_FORM::SPEF_NODE ? spot.m_node : key.size();
      std::size_t const inserted = kept_backslashes(key, limit, escaped_only, &m_scratch);
      if (inserted == 0 || inserted == tried) break;
      tried = inserted;
      NAME_SPOT kept = spot;
      kept.m_copied = true;
      kept.m_key = m_keys.size() + 1;
      kept.m_key_size = m_scratch.size();
      if (kept.m_form == SPOT_FORM::SPEF_NODE && kept.m_node != 0) kept.m_node += inserted;
      kept.m_skipped = false;
      std::fill(std::begin(kept.m_hashes), std::end(kept.m_hashes), 0);
      m_keys.push_back('/');
      m_keys.append(m_scratch);
      prepare(kept, piece);
      RESULT found = resolve(kept, piece);
      if (found.m_found == FOUND::NAME || found.m_found == FOUND::NAME_AND_PIN) {
        // Every backslash put in lies within the name found (a pin never
        // starts with "$"): the rest of the word is the spot's own.
        found.m_length -= inserted;
        translate_found(spot, piece, found, out);
        return;
      }
      if (found.m_found == FOUND::AMBIGUOUS || found.m_found == FOUND::OTHER_CLASS) {
        translate_found(spot, piece, found, out);
        return;
      }
    }
  }
  translate_found(spot, piece, result, out);
}

// `key` with a backslash, as the map writes one (a pair of backslashes), before every "$"
// that starts a level within its first `limit` bytes, into *out; gives how
// many bytes were put in, 0 when no such level starts with "$". A level
// that starts with an escaped "\$", as a timing tool writes it, is taken
// the same way; with `escaped_only`, only those are.
std::size_t TEXT_TRANSLATOR::kept_backslashes(std::string_view key, std::size_t limit,
                                              bool escaped_only, std::string* out) {
  if (key.substr(0, limit).find('$') == std::string_view::npos) return 0;
  level_boundaries(key, NAME_SIDE::ORIGINAL, &m_ends, key.size());
  std::size_t const first = !key.empty() && key[0] == '/' ? 1 : 0;
  // The backslashes to put before `at`: a level's "$" or "\$" becomes the
  // map's "\\$".
  auto const kept = [&](std::size_t at) -> std::size_t {
    if (at >= limit || !(at == first || std::binary_search(m_ends.begin(), m_ends.end(), at - 1))) {
      return 0;
    }
    if (key[at] == '$') return escaped_only ? 0 : 2;
    return key[at] == '\\' && at + 1 < limit && key[at + 1] == '$' ? 1 : 0;
  };
  std::size_t count = 0;
  for (std::size_t at = 0; at < key.size(); ++at) count += kept(at);
  if (count == 0) return 0;
  out->clear();
  for (std::size_t at = 0; at < key.size(); ++at) {
    out->append(kept(at), '\\');
    out->push_back(key[at]);
  }
  return count;
}

void TEXT_TRANSLATOR::translate_found(NAME_SPOT const& spot, std::string_view piece,
                                      RESULT const& result, OUTPUT_BUFFER& out) {
  std::string_view const bytes = piece.substr(spot.m_start, spot.m_size);
  switch (result.m_found) {
    case FOUND::NAME:
    case FOUND::NAME_AND_PIN:
      if (result.m_entry->m_note == NOTE_GONE) {
        report(spot, piece, UNKNOWN_PROBLEM::GONE);
        break;
      }
      // A name that stays the same (migrate) keeps its bytes, quoting and
      // escapes as the text wrote them.
      if (result.m_entry->value() == key_of(spot, piece).substr(0, result.m_length)) {
        out.put(bytes);
      } else if (!write_found(spot, piece, result, out)) {
        report(spot, piece, UNKNOWN_PROBLEM::UNWRITABLE);
        break;
      }
      if (result.m_entry->m_note == NOTE_MOVED) report(spot, piece, UNKNOWN_PROBLEM::MOVED);
      if (result.m_entry->m_note == NOTE_GUESSED) report(spot, piece, UNKNOWN_PROBLEM::GUESSED);
      return;
    case FOUND::PARTIAL:
      report(spot, piece, UNKNOWN_PROBLEM::PARTIAL);
      break;
    case FOUND::NOTHING:
      if (spot.m_role == SPOT_ROLE::NAME || looks_like_name(key_of(spot, piece))) {
        report(spot, piece, UNKNOWN_PROBLEM::NOTHING);
      }
      break;
    case FOUND::AMBIGUOUS:
      report(spot, piece, UNKNOWN_PROBLEM::AMBIGUOUS);
      break;
    case FOUND::OTHER_CLASS:
      report(spot, piece,
             spot.m_class == CLASS_CELL ? UNKNOWN_PROBLEM::NOT_CELL : UNKNOWN_PROBLEM::NOT_NET);
      break;
    case FOUND::SKIPPED:
      break;
  }
  out.put(bytes);
}

std::string_view TEXT_TRANSLATOR::value_text(INDEX_ENTRY const* entry) {
  std::string_view const value = entry->value();
  if (m_lookup.values() == NAME_SIDE::ORIGINAL || m_options.m_separator == '/') return value;
  m_value.assign(value);
  std::replace(m_value.begin(), m_value.end(), '/', m_options.m_separator);
  return m_value;
}

bool TEXT_TRANSLATOR::write_found(NAME_SPOT const& spot, std::string_view piece,
                                  RESULT const& result, OUTPUT_BUFFER& out) {
  std::string_view const key = key_of(spot, piece);
  std::string_view const rest = key.substr(result.m_length);  // "/" and a pin, or nothing
  NAME_SIDE const values = m_lookup.values();
  switch (spot.m_form) {
    case SPOT_FORM::TEXT:
      // An original that is not one word in a text would not read back.
      if (m_keys_converted &&
          value_text(result.m_entry).find_first_of(kNotInTextOriginal) != std::string_view::npos) {
        return false;
      }
      out.put(value_text(result.m_entry));
      out.put(piece.substr(spot.m_start + result.m_length, spot.m_size - result.m_length));
      return true;
    case SPOT_FORM::SPEF_NAME:
    case SPOT_FORM::SPEF_NODE: {
      m_word.clear();
      std::string_view name = result.m_entry->value();
      std::string_view pin;
      if (spot.m_form == SPOT_FORM::SPEF_NODE && rest.empty()) {
        // A pin of the name's own: its last level.
        level_boundaries(name, values, &m_ends, name.size());
        pin = name.substr(m_ends.back() + 1);
        name = name.substr(0, m_ends.back());
      }
      if (!write_spef_path(name, values, spot.m_spef, &m_word)) return false;
      if (!pin.empty()) {
        m_word.push_back(spot.m_spef[1]);
        if (!write_spef_path(pin, values, spot.m_spef, &m_word)) return false;
      } else if (spot.m_form == SPOT_FORM::SPEF_NODE) {
        std::string_view const bytes = piece.substr(spot.m_start, spot.m_size);
        m_word.append(bytes.substr(spef_pin_delimiter(bytes, spot.m_spef[1])));
      } else if (!rest.empty()) {
        m_word.push_back(spot.m_spef[0]);
        if (!write_spef_path(rest.substr(1), m_lookup.keys(), spot.m_spef, &m_word)) return false;
      }
      out.put(m_word);
      return true;
    }
    default:
      break;
  }
  if (!tcl_writable(result.m_entry->value(), values)) return false;
  m_word.clear();
  append_tcl_name(result.m_entry->value(), values, m_options.m_separator, &m_word);
  if (!rest.empty()) {
    // In a script the pin joins the name as the side written separates
    // levels: a timing tool reads "/" in an original as a level, and "." in
    // it as part of a name.
    m_word.push_back(m_keys_converted ? '/' : m_options.m_separator);
    m_word.append(rest.substr(1));
  }
  m_tcl_list.start(spot.m_form);
  if (!m_tcl_list.add(m_word) || !m_tcl_list.writable()) return false;
  m_tcl_list.write(out);
  return true;
}

// A pattern becomes its matches: one name as a name, several as a Tcl list,
// spliced into the list it stands in. False when it matches nothing.
bool TEXT_TRANSLATOR::write_pattern(NAME_SPOT const& spot, std::string_view key, OUTPUT_BUFFER& out,
                                    UNKNOWN_PROBLEM* problem) {
  level_boundaries(key, m_lookup.keys(), &m_ends, key.size());
  std::string_view const last = m_ends.empty() ? key : key.substr(m_ends.back() + 1);
  // Every pin of the instances ("u/r_0/*" in a query of pins) stays a
  // pattern behind their names: matched as names, it would give only the
  // pins that are names of their own, the outputs.
  bool const every_pin = !spot.m_whole && !m_ends.empty() && last == "*";
  m_matches.clear();
  if (!every_pin) m_lookup.match(key, spot.m_scope, &m_matches);
  bool other_class_only = keep_objects(spot);
  // A pin behind a pattern of instances ("u/r_*/D"): the instances' names,
  // each with the pin, where a name may end in a pin.
  std::string_view pin;
  if (m_matches.empty() && !spot.m_whole && !m_ends.empty() &&
      (every_pin || fits_pin(last, m_lookup.keys()))) {
    pin = last;
    m_lookup.match(key.substr(0, m_ends.back()), spot.m_scope, &m_matches);
    other_class_only = keep_objects(spot);
  }
  if (m_matches.empty() && !m_keys_converted && key.data() != m_pattern_key.data() &&
      kept_backslashes(key, key.size(), false, &m_pattern_key) != 0) {
    // As a name is: "$auto*" matches the escaped names that keep their
    // backslash.
    return write_pattern(spot, m_pattern_key, out, problem);
  }
  if (m_matches.empty()) {
    flush_held(out);
    *problem = other_class_only ? (spot.m_class == CLASS_CELL ? UNKNOWN_PROBLEM::NOT_CELL
                                                              : UNKNOWN_PROBLEM::NOT_NET)
                                : UNKNOWN_PROBLEM::NO_MATCH;
    return false;
  }
  m_match_pins.assign(m_matches.size(), pin);
  if (spot.m_pins && pin.empty() && !m_keys_converted) outputs_as_pins();
  if (!write_matches(spot.m_form)) {
    flush_held(out);
    *problem = UNKNOWN_PROBLEM::UNWRITABLE;
    return false;
  }
  // Full names need no -hierarchical, which would look for them as last
  // levels: it goes.
  drop_held(out);
  m_tcl_list.write(out);
  return true;
}

// Keeps of m_matches the objects of the spot's class (a query of cells
// matches cells only, one of nets nets only), and none that several share
// with nothing to choose between them; gives whether every match was of
// the other class.
bool TEXT_TRANSLATOR::keep_objects(NAME_SPOT const& spot) {
  std::size_t kept = 0;
  bool other_class = false;
  for (INDEX_ENTRY const* const entry : m_matches) {
    INDEX_ENTRY const* const object = m_lookup.of_class(entry, spot.m_class);
    if (object != nullptr && !object->m_ambiguous) m_matches[kept++] = object;
    other_class = other_class || object == nullptr;
  }
  m_matches.resize(kept);
  return other_class && kept == 0;
}

// Where a pin may stand, an output that is a name of its own is its atom's
// pin, as a name without a pattern is: the match becomes the atom, with the
// pin in m_match_pins.
void TEXT_TRANSLATOR::outputs_as_pins() {
  for (std::size_t i = 0; i < m_matches.size(); ++i) {
    std::string_view const name = m_matches[i]->key();
    if (m_matches[i]->m_class != CLASS_NET ||
        level_boundaries(name, NAME_SIDE::ORIGINAL, &m_ends, name.size()) < 2) {
      continue;
    }
    std::string_view const cell_key = name.substr(0, m_ends.back());
    INDEX_ENTRY const* const cell = m_lookup.table().find(NAME_INDEX::hash(cell_key), cell_key);
    if (output_pin_of(m_matches[i], cell, name.substr(m_ends.back() + 1))) {
      m_matches[i] = cell;
      m_match_pins[i] = name.substr(m_ends.back() + 1);
    }
  }
}

// The matches, each with its pin, as a Tcl list in m_tcl_list; false when
// one cannot be written.
bool TEXT_TRANSLATOR::write_matches(SPOT_FORM form) {
  m_tcl_list.start(form);
  for (std::size_t i = 0; i < m_matches.size(); ++i) {
    INDEX_ENTRY const* const entry = m_matches[i];
    if (!tcl_writable(entry->value(), m_lookup.values())) return false;
    m_value.clear();
    append_tcl_name(entry->value(), m_lookup.values(), m_options.m_separator, &m_value);
    if (!m_match_pins[i].empty()) {
      m_value.push_back(m_keys_converted ? '/' : m_options.m_separator);
      m_value.append(m_match_pins[i]);
    }
    if (!m_tcl_list.add(m_value)) return false;
  }
  return m_tcl_list.writable();
}

// Names whose absence is reported where the syntax does not say a name is
// there: converted names of the legal alphabet with a level below the top,
// original paths with a "/".
bool TEXT_TRANSLATOR::looks_like_name(std::string_view key) const {
  if (!m_keys_converted) return key.find('/') != std::string_view::npos;
  // Converted names start with a letter, or "_" under the reversible
  // strategy: "10/2" is arithmetic. The last level may be a pin ("lut9/D").
  if (key.empty() || !((key[0] >= 'a' && key[0] <= 'z') || key[0] == '_')) return false;
  std::size_t const last = key.rfind('/');
  if (last == std::string_view::npos) return false;
  std::string_view const pin = key.substr(last + 1);
  auto const legal = [](std::string_view text) {
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return c == '/' || zema_is_legal_name_char(c); });
  };
  return legal(key.substr(0, last)) && (legal(pin) || fits_pin(pin, NAME_SIDE::CONVERTED));
}

void TEXT_TRANSLATOR::report(NAME_SPOT const& spot, std::string_view piece,
                             UNKNOWN_PROBLEM problem) {
  if (!m_unknown) return;
  char const* const at = piece.data() + spot.m_start;
  count_lines_to(at);
  m_unknown(
      UNKNOWN_WORD{piece.substr(spot.m_start, spot.m_size), problem, m_line,
                   m_piece_offset + static_cast<std::uint64_t>(at - m_piece) - m_line_start + 1});
}

void TEXT_TRANSLATOR::count_lines_to(char const* at) {
  while (m_counted < at) {
    void const* const line_end =
        std::memchr(m_counted, '\n', static_cast<std::size_t>(at - m_counted));
    if (line_end == nullptr) break;
    m_counted = static_cast<char const*>(line_end) + 1;
    ++m_line;
    m_line_start = m_piece_offset + static_cast<std::uint64_t>(m_counted - m_piece);
  }
  m_counted = at;
}

}  // namespace zema_tool
