// What the command frees at its end.
//
// A converter of two million nodes and the design it was built from die with
// the process anyway; freeing them one block at a time costs more than
// writing their rows. So, as compilers do, the command leaves them to the
// process's exit: it flushes its output and ends with _exit, past every
// destructor. Leak checks need the opposite, so everything is freed in
// builds with AddressSanitizer and whenever ZEMA_FREE_AT_EXIT is set to a
// value other than "0".
#ifndef TOOLS_SUPPORT_EXIT_POLICY_H
#define TOOLS_SUPPORT_EXIT_POLICY_H

#include <memory>

namespace zema_tool {

// Whether the objects that live until the end are freed.
bool free_at_exit();
// Makes free_at_exit() true from now on: for a program that outlives its
// conversions (a Python session, a fuzz target) rather than exiting after one.
void free_always();

// Deletes what it holds only when free_at_exit(); otherwise the object is
// left for the process's exit.
template <class T>
struct EXIT_DELETER {
  void operator()(T* object) const {
    if (free_at_exit()) delete object;
  }
};

template <class T>
using KEPT_PTR = std::unique_ptr<T, EXIT_DELETER<T>>;

}  // namespace zema_tool

#endif  // TOOLS_SUPPORT_EXIT_POLICY_H
