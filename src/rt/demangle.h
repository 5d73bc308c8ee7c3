// Routine names of the traceback as a C++ programmer reads them: the
// qualified name of a mangled symbol ("_ZN2rt22for__issue_diagnosticEj" is
// rt::for__issue_diagnostic), without parameter types; template arguments
// show as <...>, a lambda as {lambda}. Works in the caller's buffer and
// allocates nothing, so the exception path can use it.
#pragma once

#include <cstddef>

namespace rt {

// The readable name of `symbol` in out[0..cap) (terminated, cut to fit), and
// out; `symbol` itself when it is not a mangled name this reads, or null.
const char* demangle_routine(const char* symbol, char* out, std::size_t cap);

}  // namespace rt
