// The rules every converted name must keep, checked over a conversion:
// legal bytes, unique among siblings (fusion) or in the whole design
// (reversible), and found again by lookup (docs/cli.md, "check").
//
// check_names returns every violation as data, in the order found; `zema
// check` writes them as text or JSON, Python as objects.
#ifndef TOOLS_NAMES_CHECKER_H
#define TOOLS_NAMES_CHECKER_H

#include <cstddef>
#include <string>
#include <vector>

#include "tools/names/conversion.h"
#include "tools/support/words.h"

namespace zema_tool {

enum class VIOLATION_KIND { ILLEGAL, DUPLICATE, MISMATCH, UNNAMED };
inline constexpr WORD<VIOLATION_KIND> kViolationWords[] = {{VIOLATION_KIND::ILLEGAL, "illegal"},
                                                           {VIOLATION_KIND::DUPLICATE, "duplicate"},
                                                           {VIOLATION_KIND::MISMATCH, "mismatch"},
                                                           {VIOLATION_KIND::UNNAMED, "unnamed"}};

struct VIOLATION {
  VIOLATION_KIND m_kind;
  // The converted name; UNNAMED: the row ("atom 3", "oterm 3.1").
  std::string m_name;
  // ILLEGAL: the name's id. DUPLICATE: the first owner's. MISMATCH: the id
  // expected.
  unsigned m_id;
  // DUPLICATE: the second owner's id. MISMATCH: the id found.
  unsigned m_other;
  bool m_among_siblings;  // DUPLICATE under fusion
};

struct CHECK_RESULT {
  std::size_t m_checked = 0;
  std::size_t m_illegal = 0;
  std::size_t m_duplicate = 0;
  std::size_t m_mismatches = 0;  // unnamed rows counted here too
  std::vector<VIOLATION> m_violations;

  bool ok() const { return m_violations.empty(); }
  // One line for a person: "illegal name "a/B" (id 7)".
  static std::string describe(VIOLATION const& violation);
};

// Checks every converted name of `conversion`. Time and memory linear in the
// bytes of the names checked.
CHECK_RESULT check_names(CONVERSION const& conversion);

}  // namespace zema_tool

#endif  // TOOLS_NAMES_CHECKER_H
