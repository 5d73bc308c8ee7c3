// for__io_return, the statement protocol's end of a failed statement on its
// unit, and what it keeps between statements. The outcome, the unit's
// disposition and the diagnostic are decided in one place,
// StatementFlags::finish_failed (statement_flags.h).
#pragma once

#include <cstddef>
#include <string_view>

#include "recio/statement_flags.h"
#include "recio/unit.h"
#include "rt/messages.h"

namespace recio {

// u->statement.flags.finish_failed for the unit's statement: -1 (end of
// file), -2 (end of record), the low 16 bits of `status` for a handled error,
// or the low 16 bits of the identifier after a class 1-2 diagnostic; a severe
// diagnostic does not return. `disposition` is a UnitDisposition; another
// value is an internal error (8).
int for__io_return(int disposition, msg::Id id, int status, UnitBlock* u);

// The platform's text (without line end) for the error behind the last
// failure that went back to a caller handling it; empty when that failure
// had none. The one piece of state kept between statements here, as a
// platform keeps its last error.
std::string_view for__handled_reason(char* out, std::size_t cap);

}  // namespace recio
