#include "tools/output/design_writer.h"

#include <cstdint>
#include <vector>

#include "host/zema_host.h"

namespace zema_tool {
namespace {

void put_name(DESIGN_RECORDS const& records, std::uint32_t record, OUTPUT_BUFFER& out) {
  out.put("{\"name\":");
  out.put_json(records.text_of(record));
  out.put(",\"id\":");
  out.put_uint(records.m_names[record].m_id);
}

// A reference of the netlist: an id, or a name object made for it, with the
// id of the instance it lies in when it has one.
void put_ref(DESIGN_RECORDS const& records, std::vector<std::uint32_t> const& scopes,
             REF const& ref, OUTPUT_BUFFER& out) {
  if (ref.m_kind != REF_RECORD) {
    out.put("null");
  } else if (records.m_names[ref.m_value].m_kind == NAME_NETLIST) {
    put_name(records, ref.m_value, out);
    if (scopes[ref.m_value] != kNoRecord) {
      out.put(",\"scope\":");
      out.put_uint(records.m_names[scopes[ref.m_value]].m_id);
    }
    out.put('}');
  } else {
    out.put_uint(records.m_names[ref.m_value].m_id);
  }
}

}  // namespace

void write_design_file(DESIGN_RECORDS const& records, OUTPUT_BUFFER& out) {
  std::vector<NAME_RECORD> const& names = records.m_names;
  std::vector<std::uint32_t> children(names.size(), 0);
  for (NAME_RECORD const& name : names) {
    if (name.m_kind == NAME_HIERARCHY && name.m_parent != kNoRecord) ++children[name.m_parent];
  }
  // The open instances, with the children each has written so far; written
  // with this stack, as the hierarchy may be thousands of levels deep.
  struct OPEN {
    std::uint32_t m_record;
    std::uint32_t m_written;
  };
  std::vector<OPEN> open;
  std::vector<std::uint32_t> scopes(names.size(), kNoRecord);
  for (SCOPED_NAME const& scoped : records.m_scoped) scopes[scoped.m_name] = scoped.m_scope;
  out.put("{\"root\":");
  for (std::uint32_t record = 0; record < names.size(); ++record) {
    NAME_RECORD const& name = names[record];
    if (name.m_kind != NAME_HIERARCHY) continue;
    while (!open.empty() && open.back().m_record != name.m_parent) {
      out.put("]}");
      open.pop_back();
    }
    if (!open.empty() && open.back().m_written++ != 0) out.put(',');
    put_name(records, record, out);
    if (children[record] == 0) {
      out.put('}');
    } else {
      out.put(",\"children\":[");
      open.push_back({record, 0});
    }
  }
  for (; !open.empty(); open.pop_back()) out.put("]}");
  bool first = true;
  for (std::uint32_t record = 0; record < names.size(); ++record) {
    if (names[record].m_kind != NAME_LISTED) continue;
    out.put(first ? ",\"names\":[" : ",");
    first = false;
    put_name(records, record, out);
    out.put('}');
  }
  if (!first) out.put(']');
  out.put(",\"netlist\":[");
  for (std::uint32_t atom = 0; atom < records.m_atoms.size(); ++atom) {
    ATOM_RECORD const& record = records.m_atoms[atom];
    if (atom != 0) out.put(',');
    out.put("{\"type\":");
    out.put_json(zema_host::atom_type_name(record.m_type));
    if (record.m_name.m_kind != REF_NONE) {
      out.put(",\"name\":");
      put_ref(records, scopes, record.m_name, out);
    }
    std::uint32_t const end = records.oterm_end(atom);
    if (end > record.m_oterm_begin) {
      out.put(",\"oterms\":[");
      for (std::uint32_t entry = record.m_oterm_begin; entry < end; ++entry) {
        if (entry != record.m_oterm_begin) out.put(',');
        put_ref(records, scopes, records.m_oterms[entry], out);
      }
      out.put(']');
    }
    out.put('}');
  }
  out.put("]}\n");
}

}  // namespace zema_tool
