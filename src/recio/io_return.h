// Completion of a failed I/O statement: the one place where a condition of
// the record I/O services becomes either the statement's result or a
// diagnostic. The outcome follows the branches of the statement's flag word
// (decided by the run-time's diagnostics); this side owns the unit: its
// name, its saved platform error and what becomes of it afterwards.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "recio/unit.h"
#include "rt/messages.h"

namespace recio {

// Returns -1 (end of file), -2 (end of record), the low 16 bits of `status`
// for a handled error, or the low 16 bits of the identifier after a class
// 1-2 diagnostic; a severe diagnostic does not return. Another disposition
// is an internal error (8).
int for__io_return(int disposition, msg::Id id, int status, UnitBlock* u);

// The platform's text (without line end) for the error behind the last
// failure that went back to a caller handling it; empty when that failure
// had none. The one piece of state kept between statements here, as a
// platform keeps its last error.
std::string_view for__handled_reason(char* out, std::size_t cap);

// A failure before the statement obtained its unit: the identifier's number
// when the flag word asks for the error, otherwise a diagnostic naming the
// unit and the file "unknown".
int for__io_fail_no_unit(std::uint32_t flags, msg::Id id, std::int32_t unit);

}  // namespace recio
