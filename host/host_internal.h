// Hooks shared by the reference host's source files; not part of the host API.
//
// The call log is kept in messages.cpp with the other inspection records; the
// naming functions and the path lookup record into it through these hooks.
#ifndef HOST_HOST_INTERNAL_H
#define HOST_HOST_INTERNAL_H

namespace zema_host {
namespace internal {

// Whether set_call_log switched recording on; callers skip building the
// record when it is off.
bool call_log_on();
// Appends one record to the call log (a null text is recorded as empty).
void log_call(char const* function, char const* text, int type, bool flag1, bool flag2);

}  // namespace internal
}  // namespace zema_host

#endif  // HOST_HOST_INTERNAL_H
