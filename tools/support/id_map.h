// ID_MAP: the command's table from instance-name ids to what it knows of
// them, Boost's open-addressing map. Ids come in runs, so the map's own hash
// mixing spreads them; no table of the tool needs more than find and insert.
#ifndef TOOLS_SUPPORT_ID_MAP_H
#define TOOLS_SUPPORT_ID_MAP_H

#include <cstdint>

#include <boost/unordered/unordered_flat_map.hpp>

namespace zema_tool {

template <class VALUE>
using ID_MAP = boost::unordered_flat_map<std::uint32_t, VALUE>;

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_ID_MAP_H
