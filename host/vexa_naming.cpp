// The reference host's naming functions for the target (VEXA) scheme.
//
// A segment keeps 'a'-'z', '0'-'9', '[' and ']' as they are, writes '_' as
// "__" and every other byte b as '_' and two lower-case hex digits of b. A
// path is split at each "/" that no backslash escapes, each segment is encoded
// and the segments are joined with "/"; an escaping backslash and the byte it
// escapes stay in their segment and are encoded like any other byte. Since no
// encoded segment contains "/", the converted text splits back into exactly
// the original segments, which is what makes the conversion reversible.
#include "h/hdb_vexa_sys.h"

#include <cstdarg>
#include <cstring>
#include <string>

#include "h/msg_sys.h"
#include "host/host_internal.h"
#include "host/zema_host.h"

namespace {

bool is_plain(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '[' || c == ']';
}

char const kHexDigits[] = "0123456789abcdef";

template <class STRING>
void encode_segment(STRING* out, char const* begin, char const* end) {
  for (char const* p = begin; p != end; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (is_plain(c)) {
      out->push_back(static_cast<char>(c));
    } else if (c == '_') {
      out->append("__", 2);
    } else {
      char escape[3] = {'_', kHexDigits[c >> 4], kHexDigits[c & 15]};
      out->append(escape, 3);
    }
  }
}

// Appends the encoding of a path of `length` bytes to *out.
template <class STRING>
void encode_path(STRING* out, char const* path, std::size_t length) {
  std::size_t segment = 0;
  for (std::size_t i = 0; i < length; ++i) {
    if (path[i] == '\\') {
      ++i;  // the escaped byte belongs to the segment, even if it is "/"
    } else if (path[i] == '/') {
      encode_segment(out, path + segment, path + i);
      out->push_back('/');
      segment = i + 1;
    }
  }
  encode_segment(out, path + segment, path + length);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Decodes the segments of `text` and joins them with "/". Gives false for a
// byte outside the segment alphabet, a malformed escape or an escaped NUL.
bool decode_path(char const* text, std::string* path) {
  for (char const* p = text; *p != '\0';) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == '/' || is_plain(c)) {
      path->push_back(static_cast<char>(c));
      ++p;
    } else if (c != '_') {
      return false;
    } else if (p[1] == '_') {
      path->push_back('_');
      p += 2;
    } else {
      int high = hex_value(p[1]);
      int low = high < 0 ? -1 : hex_value(p[2]);
      if (low < 0 || (high == 0 && low == 0)) return false;
      path->push_back(static_cast<char>(high * 16 + low));
      p += 3;
    }
  }
  return true;
}

char s_trace_module[] = "HDB";

void trace_line(char const* format, ...) {
  va_list args;
  va_start(args, format);
  msg_local_vdebug(s_trace_module, format, args);
  va_end(args);
}

void convert_path(GEN_STRING* out, char const* path, bool no_backslash) {
  std::size_t length = std::strlen(path);
  out->clear();
  out->reserve(length + length / 2 + 1);
  if (!no_backslash) out->push_back('\\');
  encode_path(out, path, length);
}

void log_call(char const* function, char const* text, int type, bool flag1, bool flag2) {
  if (zema_host::internal::call_log_on()) {
    zema_host::internal::log_call(function, text, type, flag1, flag2);
  }
}

}  // namespace

void hdb_convert_unit_name_to_vexa(GEN_STRING* out, char const* unit_name, bool trace) {
  log_call(__func__, unit_name, -1, trace, false);
  if (unit_name == nullptr) unit_name = "";
  out->clear();
  encode_segment(out, unit_name, unit_name + std::strlen(unit_name));
  if (trace) trace_line("%s(\"%s\") -> \"%s\"", __func__, unit_name, out->c_str());
}

void hdb_convert_cell_name_to_vexa(GEN_STRING* out, char const* path, CDB_ATOM_BASIC_TYPE type,
                                   bool no_backslash, bool trace) {
  log_call(__func__, path, static_cast<int>(type), no_backslash, trace);
  if (path == nullptr) path = "";
  convert_path(out, path, no_backslash);
  if (trace) {
    trace_line("%s(\"%s\", %s) -> \"%s\"", __func__, path,
               zema_host::atom_type_name(static_cast<int>(type)), out->c_str());
  }
}

void hdb_convert_net_name_to_vexa(GEN_STRING* out, char const* path, bool no_backslash,
                                  bool trace) {
  log_call(__func__, path, -1, no_backslash, trace);
  if (path == nullptr) path = "";
  convert_path(out, path, no_backslash);
  if (trace) trace_line("%s(\"%s\") -> \"%s\"", __func__, path, out->c_str());
}

void hdb_convert_pin_name_to_vexa(GEN_STRING* out, char const* path, bool no_backslash,
                                  bool trace) {
  log_call(__func__, path, -1, no_backslash, trace);
  if (path == nullptr) path = "";
  convert_path(out, path, no_backslash);
  if (trace) trace_line("%s(\"%s\") -> \"%s\"", __func__, path, out->c_str());
}

bool hdb_revert_vexa_full_name(GEN_STRING* out, char const* converted, bool strict) {
  log_call(__func__, converted, -1, strict, false);
  if (out == nullptr || converted == nullptr) return false;
  char const* text = converted;
  if (*text == '\\') {
    if (strict) return false;
    ++text;
  }
  std::string path;
  if (!decode_path(text, &path)) return false;
  // Only the canonical text of a path is accepted: re-encoding must give the
  // text back. This refuses escapes of plain bytes ("_61"), "_5f" for "__",
  // and escaped "/" or "\" that would split the path differently.
  std::string canonical;
  canonical.reserve(path.size() + path.size() / 2);
  encode_path(&canonical, path.data(), path.size());
  if (canonical != text) return false;
  out->assign(path.data(), path.size());
  return true;
}
