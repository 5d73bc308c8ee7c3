// Diagnostics for conditions the caller did not ask to handle, and the
// completion step of every failed I/O statement. A severe (class 3) diagnostic
// is followed by the traceback (unless FOR_DISABLE_STACK_TRACE), closes every
// connected unit and ends the process with the identifier as exit status;
// classes 0-2 print and return. While the exception handler reports, a severe
// diagnostic returns to it in debugger mode (the continue mark), and the
// whole path allocates nothing.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "rt/messages.h"

namespace recio {
struct UnitBlock;
}

namespace rt {

struct FormatArg;

// What for__io_return does with the unit after the failure.
enum UnitDisposition : int {
  kUnitLeave = 0,
  kUnitRelease = 1,  // end the statement's hold
  kUnitReset = 2,    // back to unconnected, then release
  kUnitClose = 3,    // close with the default disposition
};

// Completion of a failed I/O statement. Returns -1 (end of file), -2 (end of
// record), the low 16 bits of `status` for a handled error, or the low 16 bits
// of the identifier after a class 1-2 diagnostic; a severe diagnostic does
// not return.
int for__io_return(int disposition, msg::Id id, int status, recio::UnitBlock* u);

// A failure before the statement obtained its unit: the identifier's number
// when the flag word asks for the error, otherwise a diagnostic naming the
// unit and the file "unknown".
int for__io_fail_no_unit(std::uint32_t flags, msg::Id id, std::int32_t unit);

// Diagnostic with the I/O arguments (unit number, file name).
void for__issue_diagnostic_io(msg::Id id, std::int32_t unit, std::string_view file);
// Diagnostic whose template takes no argument, one text, or one integer.
void for__issue_diagnostic(msg::Id id);
void for__issue_diagnostic_text(msg::Id id, std::string_view text);
void for__issue_diagnostic_int(msg::Id id, std::int64_t value);
void for__issue_diagnostic_args(msg::Id id, std::span<const FormatArg> args);

// The operating-system error line "forrtl: <platform text>" on standard error.
void write_os_error_line(int os_error);

}  // namespace rt
