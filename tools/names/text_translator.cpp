#include "tools/names/text_translator.h"

#include <algorithm>
#include <cstring>
#include <utility>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "atm/zema/zema_naming_rules.h"
#include "host/text_hash.h"

namespace zema_tool {
namespace {

// A token's lookups are prepared (hashed, their slots fetched) this many
// tokens ahead, and the texts in those slots fetched half as far ahead, so
// that each has arrived from memory when the token is translated.
constexpr std::size_t kPrepareAhead = 16;
constexpr std::size_t kTextsAhead = 8;

}  // namespace

TEXT_TRANSLATOR::TEXT_TRANSLATOR(NAME_INDEX const& index, bool to_original, char separator,
                                 UNKNOWN unknown)
    : m_index(index),
      m_to_original(to_original),
      m_separator(separator),
      m_unknown(std::move(unknown)) {
  for (int c = 0; c < 256; ++c) {
    char const byte = static_cast<char>(c);
    if (to_original) {
      m_in_token[c] = zema_is_legal_name_char(byte) || (byte >= 'A' && byte <= 'Z') ||
                      byte == '$' || byte == separator;
    } else {
      m_in_token[c] = std::strchr(" \t\n\r\v\f{}\"',;()", c) == nullptr;
    }
  }
}

std::size_t TEXT_TRANSLATOR::put(std::string_view text, bool last, OUTPUT_BUFFER& out) {
  auto const in_token = [this](char c) { return m_in_token[static_cast<unsigned char>(c)]; };
  if (m_passing) {
    // The rest of a word too long to be a name goes out as it is.
    std::size_t rest = 0;
    while (rest < text.size() && in_token(text[rest])) ++rest;
    out.put(text.substr(0, rest));
    m_piece_offset += rest;
    if (rest == text.size() && !last) return rest;
    m_passing = false;
    return rest + put(text.substr(rest), last, out);
  }
  std::size_t end = text.size();
  if (!last) {
    while (end > 0 && in_token(text[end - 1])) --end;
  }
  m_piece = text.data();
  m_counted = text.data();
  m_tokens.clear();
  for (std::size_t at = 0; at < end;) {
    while (at < end && !in_token(text[at])) ++at;
    std::size_t const start = at;
    at = token_end(text, at, end);
    if (at > start) m_tokens.push_back(TOKEN{start, at - start, 0, 0, 0, 0, 0});
  }
  std::size_t const count = m_tokens.size();
  for (std::size_t i = 0; i < std::min(kPrepareAhead, count); ++i) {
    prepare(m_tokens[i], text.data());
  }
  std::size_t written = 0;
  for (std::size_t i = 0; i < count; ++i) {
    if (i + kPrepareAhead < count) prepare(m_tokens[i + kPrepareAhead], text.data());
    if (i + kTextsAhead < count) prefetch_texts(m_tokens[i + kTextsAhead]);
    TOKEN const& token = m_tokens[i];
    out.put(text.substr(written, token.m_start - written));
    translate(token, text.substr(token.m_start, token.m_size), out);
    written = token.m_start + token.m_size;
  }
  out.put(text.substr(written, end - written));
  if (m_unknown) count_lines_to(text.data() + end);
  m_piece_offset += end;
  return end;
}

// Tokens of converted names are long and their bytes few: sixteen bytes are
// tested at a time where SSE2 is there.
std::size_t TEXT_TRANSLATOR::token_end(std::string_view text, std::size_t at,
                                       std::size_t end) const {
#ifdef __SSE2__
  if (m_to_original) {
    auto const bytes = [](char c) { return _mm_set1_epi8(c); };
    __m128i const separator = bytes(m_separator);
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

std::size_t TEXT_TRANSLATOR::pass(std::string_view word, OUTPUT_BUFFER& out) {
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
}

// Brackets that a token does not balance quote it ("[get_cells a/b]"): the
// name lies between them. Then the hashes of the whole name and of the name
// up to its last level boundary, and their slots fetched.
void TEXT_TRANSLATOR::prepare(TOKEN& token, char const* piece) {
  std::string_view const text(piece + token.m_start, token.m_size);
  std::size_t opens = 0;
  std::size_t closes = 0;
  if (text.front() == '[' || text.back() == ']') {
    opens = static_cast<std::size_t>(std::count(text.begin(), text.end(), '['));
    closes = static_cast<std::size_t>(std::count(text.begin(), text.end(), ']'));
  }
  std::size_t front = 0;
  std::size_t back = text.size();
  for (std::size_t extra = closes > opens ? closes - opens : 0;
       extra > 0 && back > front && text[back - 1] == ']'; --extra) {
    --back;
  }
  for (std::size_t extra = opens > closes ? opens - closes : 0;
       extra > 0 && front < back && text[front] == '['; --extra) {
    ++front;
  }
  token.m_front = front;
  token.m_back = back;
  std::string_view const name = text.substr(front, back - front);
  std::size_t const longest =
      m_to_original ? m_index.longest_converted() : m_index.longest_original();
  if (name.empty() || name.size() > longest + 1) return;
  std::string_view key = name;
  if (m_to_original) {
    key = key_of(name);
    std::size_t const cut = name.rfind(m_separator);
    token.m_cut = cut == std::string_view::npos ? 0 : cut;
  } else {
    level_ends(name);
    token.m_cut = m_ends.size() >= 2 ? m_ends[m_ends.size() - 2] : 0;
  }
  if (token.m_cut != 0) {
    NAME_INDEX::hash_with_prefix(key, token.m_cut, &token.m_whole_hash, &token.m_cut_hash);
    table().prefetch(token.m_cut_hash);
  } else {
    token.m_whole_hash = NAME_INDEX::hash(key);
  }
  table().prefetch(token.m_whole_hash);
}

void TEXT_TRANSLATOR::prefetch_texts(TOKEN const& token) const {
  prefetch_entry_texts(table(), token.m_whole_hash);
  if (token.m_cut != 0) prefetch_entry_texts(table(), token.m_cut_hash);
}

void TEXT_TRANSLATOR::translate(TOKEN const& token, std::string_view text, OUTPUT_BUFFER& out) {
  std::size_t front = token.m_front;
  std::string_view name = text.substr(front, token.m_back - front);
  if (name.empty()) {
    out.put(text);
    return;
  }
  std::string_view to;
  std::size_t length = find(name, &token, &to);
  if (length == 0 && name.size() > 1 && name[0] == '\\') {
    // A backslashed name: the backslash stays, the name behind it is translated.
    ++front;
    name.remove_prefix(1);
    length = find(name, nullptr, &to);
  }
  if (length == 0) {
    if (m_unknown && looks_like_name(name)) {
      count_lines_to(name.data());
      m_unknown(
          name, m_line,
          m_piece_offset + static_cast<std::uint64_t>(name.data() - m_piece) - m_line_start + 1);
    }
    out.put(text);
    return;
  }
  out.put(text.substr(0, front));
  out.put(to);
  out.put(text.substr(front + length));
}

std::string_view TEXT_TRANSLATOR::key_of(std::string_view name) {
  if (m_separator == '/') return name;
  m_scratch.assign(name);
  std::replace(m_scratch.begin(), m_scratch.end(), m_separator, '/');
  return m_scratch;
}

// The hashes of the prefixes of `text` that end at m_ends (ascending), each
// `shift` bytes longer, into m_hashes, in one pass over the text: a name of
// many levels costs its length, not its length times its levels.
void TEXT_TRANSLATOR::prefix_hashes(std::string_view text, std::size_t shift) {
  typedef zema_host::TEXT_HASH HASH;
  m_hashes.clear();
  HASH state;
  std::size_t blocks = 0;
  for (std::size_t const end : m_ends) {
    std::size_t const length = end + shift;
    state.blocks(text.data() + blocks * HASH::kBlock, length / HASH::kBlock - blocks);
    blocks = length / HASH::kBlock;
    m_hashes.push_back(state.finish(text.data() + blocks * HASH::kBlock, length));
  }
}

// Levels of an original name end at a "/" that no backslash escapes; a
// leading "/" starts the hierarchy's form and ends nothing. m_ends gets each
// level's end, the name's size last.
void TEXT_TRANSLATOR::level_ends(std::string_view name) {
  m_ends.clear();
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '\\') {
      ++i;
    } else if (name[i] == '/' && i > 0) {
      m_ends.push_back(i);
    }
  }
  m_ends.push_back(name.size());
}

// Keeps the first ends that a name of the index could end at: no longer than
// the longest name, and no more levels than the deepest.
void TEXT_TRANSLATOR::bound_ends(std::size_t longest, std::size_t deepest) {
  std::size_t kept = 0;
  while (kept < m_ends.size() && kept < deepest && m_ends[kept] <= longest) ++kept;
  m_ends.resize(kept);
}

std::size_t TEXT_TRANSLATOR::find(std::string_view name, TOKEN const* prepared,
                                  std::string_view* to) {
  TEXT_MAP const& map = table();
  std::string_view const key = m_to_original ? key_of(name) : name;
  // The prepared lookups first: most names are found whole or with a pin.
  // An original that is not found whole may still be a path without its
  // leading "/", which comes before its prefixes: only the whole name here.
  if (prepared != nullptr && prepared->m_whole_hash != 0) {
    std::size_t const lengths[2] = {name.size(), m_to_original ? prepared->m_cut : 0};
    std::uint64_t const hashes[2] = {prepared->m_whole_hash, prepared->m_cut_hash};
    for (int i = 0; i < 2 && lengths[i] != 0; ++i) {
      INDEX_ENTRY const* const entry = map.find(hashes[i], key.substr(0, lengths[i]));
      if (entry == nullptr) continue;
      if (m_to_original) {
        *to = entry->value();
        return lengths[i];
      }
      if (entry->m_ambiguous) break;  // decided below, as for any name
      return found_converted(entry, lengths[i], to);
    }
  }
  if (m_to_original) {
    // The whole token first, then shorter prefixes, each up to a separator.
    m_ends.clear();
    for (std::size_t i = 1; i < name.size(); ++i) {
      if (name[i] == m_separator) m_ends.push_back(i);
    }
    m_ends.push_back(name.size());
    bound_ends(m_index.longest_converted(), m_index.deepest_converted() + 1);
    prefix_hashes(key, 0);
    for (std::size_t k = m_ends.size(); k-- > 0;) {
      if (INDEX_ENTRY const* const entry = map.find(m_hashes[k], key.substr(0, m_ends[k]))) {
        *to = entry->value();
        return m_ends[k];
      }
    }
    return 0;
  }
  level_ends(name);
  bound_ends(m_index.longest_original(), m_index.deepest_original() + 1);
  bool const rooted = name[0] == '/';
  prefix_hashes(name, 0);
  m_plain_hashes.swap(m_hashes);
  if (!rooted) {
    // A path of the hierarchy written without its leading "/".
    m_scratch.assign(1, '/');
    m_scratch.append(name.substr(0, m_ends.empty() ? 0 : m_ends.back()));
    prefix_hashes(m_scratch, 1);
  }
  for (std::size_t k = m_ends.size(); k-- > 0;) {
    std::size_t const length = m_ends[k];
    INDEX_ENTRY const* found = map.find(m_plain_hashes[k], name.substr(0, length));
    // An ambiguous name is a name: it stays as it is, whole.
    if (found != nullptr && found->m_ambiguous) return 0;
    if (found == nullptr && !rooted) {
      found = map.find(m_hashes[k], std::string_view(m_scratch).substr(0, length + 1));
      if (found != nullptr && found->m_ambiguous) found = nullptr;
    }
    if (found != nullptr) return found_converted(found, length, to);
  }
  return 0;
}

// The converted name of `entry`, with the text's separator.
std::size_t TEXT_TRANSLATOR::found_converted(INDEX_ENTRY const* entry, std::size_t length,
                                             std::string_view* to) {
  m_output.assign(entry->value());
  if (m_separator != '/') std::replace(m_output.begin(), m_output.end(), '/', m_separator);
  *to = m_output;
  return length;
}

// Names whose absence --unknown reports: converted names of the legal
// alphabet with a level below the top, original paths with a "/".
bool TEXT_TRANSLATOR::looks_like_name(std::string_view name) const {
  if (!m_to_original) return name.find('/') != std::string_view::npos;
  bool separated = false;
  for (char const c : name) {
    separated = separated || c == m_separator;
    if (c != m_separator && !zema_is_legal_name_char(c)) return false;
  }
  return separated;
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
