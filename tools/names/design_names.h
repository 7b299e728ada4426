// DESIGN_NAMES: what translate, lookup and explain need of a design's names,
// from either source the commands take: a design converted here (with the
// strategy given), or a saved name map that `zema map` wrote (--map). Both
// give the same answers; the map spares the conversion.
#ifndef TOOLS_NAMES_DESIGN_NAMES_H
#define TOOLS_NAMES_DESIGN_NAMES_H

#include <functional>
#include <memory>
#include <string>

#include "tools/names/conversion.h"
#include "tools/names/explainer.h"
#include "tools/names/name_index.h"
#include "tools/names/original_names.h"
#include "tools/names/saved_names.h"
#include "tools/support/exit_policy.h"
#include "tools/support/phases.h"

namespace zema_tool {

class DESIGN_NAMES {
 public:
  // Converts `design` with `strategy` (the "init" phase).
  DESIGN_NAMES(KEPT_PTR<LOADED_DESIGN> design, ZEMA_NAME_CONVERTER_ENUM strategy, PHASES& phases);
  // The names of a saved map.
  explicit DESIGN_NAMES(std::unique_ptr<SAVED_NAMES> saved);
  // The names of a conversion that the caller keeps, with its design's
  // original names: both must outlive this.
  DESIGN_NAMES(CONVERSION const& conversion, ORIGINAL_NAMES& originals);
  DESIGN_NAMES(DESIGN_NAMES const&) = delete;
  DESIGN_NAMES& operator=(DESIGN_NAMES const&) = delete;
  ~DESIGN_NAMES();

  // The id that the converted full name `name` looks up to (0: none), as the
  // converter's lookup gives it, and into *original that id's original name
  // (left empty when it names nothing).
  unsigned lookup(std::string const& name, std::string* original);
  // The index of every name, with at least `sides`, made on first need (the
  // "index" phase).
  NAME_INDEX const& index(PHASES& phases, INDEX_SIDES sides = BOTH_SIDES);
  // The tree for explain, made on first need. Throws TOOL_ERROR for a map of
  // the reversible strategy.
  NAME_SOURCE& source(PHASES& phases);
  // Calls visit(MAP_ROW const&) for every row of the name map, in its order.
  void for_each_row(std::function<void(MAP_ROW const&)> const& visit);

  // Frees `names` now, design and converter included, whatever the exit
  // policy: for a caller that loads another design next, which then reuses
  // this one's memory rather than touching fresh pages.
  static void free_now(std::unique_ptr<DESIGN_NAMES> names);

 private:
  std::unique_ptr<SAVED_NAMES> m_saved;
  KEPT_PTR<LOADED_DESIGN> m_design;
  std::unique_ptr<CONVERSION> m_own_conversion;
  std::unique_ptr<ORIGINAL_NAMES> m_own_originals;
  CONVERSION const* m_conversion = nullptr;
  ORIGINAL_NAMES* m_originals = nullptr;
  std::unique_ptr<NAME_INDEX> m_index;
  std::unique_ptr<NAME_SOURCE> m_source;
};

}  // namespace zema_tool

#endif  // TOOLS_NAMES_DESIGN_NAMES_H
