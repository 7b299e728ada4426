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

#include <algorithm>
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

// Appends the encoding of the `length` bytes of `text` to *out: as one
// segment, or with `split` as a path, where each "/" that no backslash
// escapes stays a separator. Written a chunk at a time into room made
// beforehand, since no byte takes more than three.
template <class STRING>
void append_encoded(STRING* out, char const* text, std::size_t length, bool split) {
  std::size_t const kChunk = 1024;
  bool escaped = false;  // the byte before was an escaping backslash
  for (std::size_t done = 0; done < length;) {
    std::size_t const chunk = std::min(kChunk, length - done);
    std::size_t const start = out->size();
    out->resize(start + 3 * chunk);
    char* const first = &(*out)[0];
    char* to = first + start;
    for (char const* p = text + done; p != text + done + chunk; ++p) {
      unsigned char const c = static_cast<unsigned char>(*p);
      if (is_plain(c) || (split && c == '/' && !escaped)) {
        *to++ = static_cast<char>(c);
      } else if (c == '_') {
        *to++ = '_';
        *to++ = '_';
      } else {
        *to++ = '_';
        *to++ = kHexDigits[c >> 4];
        *to++ = kHexDigits[c & 15];
      }
      escaped = split && c == '\\' && !escaped;
    }
    out->resize(static_cast<std::size_t>(to - first));
    done += chunk;
  }
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
  append_encoded(out, path, length, true);
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
  append_encoded(out, unit_name, std::strlen(unit_name), false);
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
  append_encoded(&canonical, path.data(), path.size(), true);
  if (canonical != text) return false;
  out->assign(path.data(), path.size());
  return true;
}
