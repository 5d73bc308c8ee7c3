// The traceback appended to a diagnostic: one line per stack frame, from the
// faulting instruction while an exception is handled, otherwise from the
// point where it is taken (the diagnostic routines come first).
//
// Default form: a header and at most 20 frame lines in fixed columns (image,
// PC, routine, line, source); what is not known shows "Unknown". Verbose form
// (FOR_ENABLE_VERBOSE_STACK_TRACE): the register dump of an exception, then
// one block per frame while the buffer has room. FOR_FULL_SRC_FILE_SPEC shows
// a source file with its full path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rt {

inline constexpr int kTracebackFrames = 20;

// One frame as the traceback shows it; null texts and line 0 are unknown.
struct TraceFrame {
  std::uintptr_t pc = 0;
  const char* image = nullptr;  // a path: the name alone is shown
  const char* routine = nullptr;
  const char* source = nullptr;  // a path
  std::int32_t line = 0;
};

// Appends to text[0..length) within cap (terminator included); each returns
// the new length. A line that does not fit is not appended.
std::size_t append_trace_header(char* text, std::size_t length, std::size_t cap);
std::size_t append_trace_frame(char* text, std::size_t length, std::size_t cap,
                               const TraceFrame& frame, bool full_source);
std::size_t append_verbose_frame(char* text, std::size_t length, std::size_t cap,
                                 const TraceFrame& frame, unsigned index, bool full_source);

// The whole traceback by the environment switches (for_stack_trace). When
// the platform's walk fails, one line feed goes to standard output instead.
// Allocates nothing.
std::size_t for_stack_trace(char* text, std::size_t length, std::size_t cap);

}  // namespace rt
