// Connection of units to files and devices: OPEN, the implicit connection at
// a unit's first use, the connection defaults, and the disconnection (CLOSE
// and the close at exit). Defaults are decided once, at OPEN, and stored in
// the unit's connection (UnitConnection); the connection sets up the unit's
// position (record buffer, record area) for transfer. The keywords and the
// file names have rooms of their own (open_keywords.h, file_names.h).
#pragma once

#include <cstdint>

#include "recio/file_names.h"
#include "recio/open_keywords.h"
#include "recio/unit.h"
#include "rt/messages.h"

namespace recio {

// Implicit connection of an unconnected unit by the first statement on it.
msg::Id for__open_default(UnitBlock* u, std::uint8_t access, std::uint8_t status,
                          std::uint8_t form);

// Disconnects with the default disposition (keep; delete for scratch units).
// The block stays; the caller frees it when `free_block` is set.
msg::Id for__close_default(UnitBlock* u, bool free_block);

// The same disconnection without releasing any memory of the block: the
// close at exit after a processor exception, when the heap may be
// inconsistent.
msg::Id for__close_without_release(UnitBlock* u);

// True once a unit of this run writes unformatted records to the file or
// pipe of standard output (by name, "/dev/stdout", or a device name for it):
// the console output units then write to standard error, so that standard
// output carries that unit's bytes alone. Process-wide; cleared when the
// units are closed at the end of the run.
bool for__console_diverted();
void for__end_console_diversion();

// The first write of a unit whose replacement waits for it: from the start
// of the file, the unit goes on in a replacement (as an OPEN would have made
// it); otherwise, or where none can be made, in place.
void for__start_deferred_replacement(UnitBlock* u);

// Ends the replacement a unit writes (nothing when it writes in place), its
// handle closed already: with `commit` the replacement takes the file's name,
// otherwise it is removed and the file stays as it was. A failed rename
// removes it too; msg::kCloseError when either step fails.
msg::Id for__end_replacement(UnitBlock* u, bool commit);

}  // namespace recio
