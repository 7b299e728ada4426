#include "tools/names/name_lookup.h"

#include <algorithm>

#include "atm/zema/zema_naming_rules.h"

namespace zema_tool {
namespace {

// The end of the character at `at`: a backslash pair of the map's form, or
// one UTF-8 character, is one.
std::size_t char_end(std::string_view text, std::size_t at) {
  unsigned char const c = static_cast<unsigned char>(text[at]);
  if (c == '\\' && at + 1 < text.size()) return at + 2;
  std::size_t end = at + 1;
  if (c >= 0xC0) {
    while (end < text.size() && end < at + 4 &&
           (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
      ++end;
    }
  }
  return end;
}

// Whether `pattern` matches all of `level` (neither holds a level
// boundary). Greedy, going back only to the last "*": a "*" never has to
// give back what an earlier one took, so no input makes this exponential.
bool level_matches(std::string_view pattern, std::string_view level) {
  std::size_t p = 0;
  std::size_t k = 0;
  std::size_t star = std::string_view::npos;
  std::size_t star_k = 0;
  while (k < level.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = ++p;
      star_k = k;
      continue;
    }
    if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      k = char_end(level, k);
      continue;
    }
    if (p < pattern.size()) {
      std::size_t const p_end = char_end(pattern, p);
      std::size_t const k_end = char_end(level, k);
      if (pattern.substr(p, p_end - p) == level.substr(k, k_end - k)) {
        p = p_end;
        k = k_end;
        continue;
      }
    }
    if (star == std::string_view::npos) return false;
    star_k = char_end(level, star_k);
    k = star_k;
    p = star;
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

// The levels of `name` (without a leading "/") into *levels.
void split_levels(std::string_view name, NAME_SIDE side, std::vector<std::size_t>& ends,
                  std::vector<std::string_view>* levels) {
  levels->clear();
  level_boundaries(name, side, &ends, name.size() + 1);
  std::size_t start = 0;
  for (std::size_t const end : ends) {
    levels->push_back(name.substr(start, end - start));
    start = end + 1;
  }
  levels->push_back(name.substr(start));
}

std::string_view without_root(std::string_view name) {
  return !name.empty() && name[0] == '/' ? name.substr(1) : name;
}

}  // namespace

std::size_t level_boundaries(std::string_view name, NAME_SIDE side, std::vector<std::size_t>* ends,
                             std::size_t most) {
  ends->clear();
  for (std::size_t i = 0; i < name.size() && ends->size() < most; ++i) {
    if (name[i] == '\\' && side == NAME_SIDE::ORIGINAL) {
      ++i;
    } else if (name[i] == '/' && (i > 0 || side == NAME_SIDE::CONVERTED)) {
      ends->push_back(i);
    }
  }
  return ends->size() + 1;
}

bool fits_pin(std::string_view level, NAME_SIDE /*side*/) {
  if (level.empty()) return false;
  auto const letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  auto const digit = [](char c) { return c >= '0' && c <= '9'; };
  if (!letter(level[0]) && level[0] != '_') return false;
  std::size_t at = 1;
  while (at < level.size() && (letter(level[at]) || digit(level[at]) || level[at] == '_')) ++at;
  if (at == level.size()) return true;
  // A bit index closes the pin: "[", digits, "]".
  if (level[at] != '[' || level.back() != ']' || at + 2 >= level.size()) return false;
  return std::all_of(level.begin() + static_cast<std::ptrdiff_t>(at) + 1, level.end() - 1, digit);
}

bool is_pattern(std::string_view word) {
  return word.find_first_of("*?") != std::string_view::npos;
}

NAME_LOOKUP NAME_LOOKUP::of_index(NAME_INDEX const& index, NAME_SIDE to) {
  if (to == NAME_SIDE::ORIGINAL) {
    return NAME_LOOKUP(index.to_original(), NAME_SIDE::CONVERTED, NAME_SIDE::ORIGINAL,
                       index.longest_converted(), index.deepest_converted());
  }
  return NAME_LOOKUP(index.to_converted(), NAME_SIDE::ORIGINAL, NAME_SIDE::CONVERTED,
                     index.longest_original(), index.deepest_original(), &index.other_class());
}

// The key's best value of the class that `entry`'s value is not of.
INDEX_ENTRY const* NAME_LOOKUP::of_other_class(INDEX_ENTRY const* entry) const {
  if (m_other_class == nullptr) return nullptr;
  std::string_view const key = entry->key();
  return m_other_class->find(NAME_INDEX::hash(key), key);
}

void NAME_LOOKUP::match(std::string_view pattern, PATTERN_SCOPE scope,
                        std::vector<INDEX_ENTRY const*>* matches) const {
  matches->clear();
  if (m_sorted.empty()) {
    m_sorted.reserve(m_table.size());
    m_table.for_each([this](INDEX_ENTRY const& entry) { m_sorted.push_back(&entry); });
    std::sort(m_sorted.begin(), m_sorted.end(), [](INDEX_ENTRY const* a, INDEX_ENTRY const* b) {
      return without_root(a->key()) < without_root(b->key());
    });
  }
  bool const rooted = !pattern.empty() && pattern[0] == '/' && m_keys == NAME_SIDE::ORIGINAL;
  std::string_view const bare = rooted ? pattern.substr(1) : pattern;
  std::vector<std::size_t>& ends = m_scratch.m_ends;
  std::vector<std::string_view>& wanted = m_scratch.m_wanted;
  std::vector<std::string_view>& levels = m_scratch.m_levels;
  split_levels(bare, m_keys, ends, &wanted);
  auto const matches_levels = [&](std::string_view key) {
    split_levels(key, m_keys, ends, &levels);
    if (levels.size() < wanted.size()) return false;
    if (scope == PATTERN_SCOPE::PATH && levels.size() != wanted.size()) return false;
    std::size_t const skip = levels.size() - wanted.size();
    for (std::size_t i = 0; i < wanted.size(); ++i) {
      if (!level_matches(wanted[i], levels[skip + i])) return false;
    }
    return true;
  };
  auto begin = m_sorted.begin();
  auto end = m_sorted.end();
  if (scope == PATTERN_SCOPE::PATH) {
    // Only keys that start with the pattern's literal start can match.
    std::string_view const literal = bare.substr(0, bare.find_first_of("*?"));
    begin = std::lower_bound(m_sorted.begin(), m_sorted.end(), literal,
                             [](INDEX_ENTRY const* entry, std::string_view text) {
                               return without_root(entry->key()) < text;
                             });
    end = begin;
    while (end != m_sorted.end() &&
           without_root((*end)->key()).substr(0, literal.size()) == literal) {
      ++end;
    }
  }
  for (auto at = begin; at != end; ++at) {
    std::string_view const key = (*at)->key();
    if (rooted && (key.empty() || key[0] != '/')) continue;
    if (matches_levels(without_root(key))) matches->push_back(*at);
  }
}

}  // namespace zema_tool
