// Diagnostics for conditions the caller did not ask to handle (whether a
// failed I/O statement's caller handles it is decided by the record I/O
// services, which end every failed statement). A severe (class 3)
// diagnostic is followed by the traceback (unless FOR_DISABLE_STACK_TRACE),
// closes every connected unit and ends the process with the identifier as
// exit status; classes 0-2 print and return. While the exception handler
// reports, a severe diagnostic returns to it in debugger mode (the continue
// mark), and the whole path allocates nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "rt/messages.h"

namespace rt {

struct FormatArg;

// Diagnostic with the I/O arguments (unit number, file name).
void for__issue_diagnostic_io(msg::Id id, std::int32_t unit, std::string_view file);
// Diagnostic whose template takes no argument, one text, or one integer.
void for__issue_diagnostic(msg::Id id);
void for__issue_diagnostic_text(msg::Id id, std::string_view text);
void for__issue_diagnostic_int(msg::Id id, std::int64_t value);
void for__issue_diagnostic_args(msg::Id id, std::span<const FormatArg> args);

// What only the program knows about a severe condition (for example which
// line of which file it was reading): appends lines to text[0..length)
// within cap (terminator included) and returns the new length. Called after
// the diagnostic line and before the traceback, outside exception handling;
// it must neither allocate nor raise a diagnostic. One writer per process,
// null for none.
using ContextWriter = std::size_t (*)(msg::Id id, char* text, std::size_t length, std::size_t cap);
void for__set_context_writer(ContextWriter writer);

// Text that goes where diagnostics go (FORT0, FOR_DIAGNOSTIC_LOG_FILE,
// standard error unless FOR_DISABLE_DIAGNOSTIC_DISPLAY): the program's own
// notes about its input, written whole.
void for__write_diagnostic_text(const char* text, std::size_t length);

// The buffer a diagnostic is formed in: its line, the program's context and
// the traceback, written out in one piece.
inline constexpr std::size_t kDiagnosticBufferSize = 16384;

// The platform's text of an operating-system error as a diagnostic shows
// it, cut to fit.
inline constexpr std::size_t kOsErrorTextSize = 320;

// The operating-system error line "forrtl: <platform text>" on standard error.
void write_os_error_line(int os_error);

// The environment switches that steer diagnostics and what follows them,
// read once for the process: by start-up (for_rtl_init_), or at their first
// use when the run-time was not started (a test calling it directly).
// Variables changed later are not seen until for__read_diagnostic_switches
// runs again.
struct DiagnosticSwitches {
  std::string fort0;                  // FORT0: standard error's file (empty: unset)
  std::string log_file;               // FOR_DIAGNOSTIC_LOG_FILE (empty: unset)
  bool display_disabled = false;      // FOR_DISABLE_DIAGNOSTIC_DISPLAY
  bool stack_trace_disabled = false;  // FOR_DISABLE_STACK_TRACE
  bool verbose_stack_trace = false;   // FOR_ENABLE_VERBOSE_STACK_TRACE
  bool full_source_paths = false;     // FOR_FULL_SRC_FILE_SPEC
  bool debug_exception = false;       // FOR_GENERATE_DEBUG_EXCEPTION
  bool debugger_present = false;      // FOR__IS_DEBUGGER_PRESENT
  // f77_dump_flag, or qelfort_dump_flag when that one is unset, begins with
  // Y or y: a severe end aborts.
  bool dump_abort = false;
};

// The switches, read at the first call when start-up has not read them.
const DiagnosticSwitches& for__diagnostic_switches();
// Reads (or reads again) the switches from the environment. Start-up calls
// it before the console event thread exists; a test that changes the
// variables calls it afterwards, while no other thread issues a diagnostic.
void for__read_diagnostic_switches();

}  // namespace rt
