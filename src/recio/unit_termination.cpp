// Closing every unit at the end of the process.
#include "recio/unit_termination.h"

#include "recio/connection.h"
#include "recio/record_io.h"
#include "recio/unit_table.h"
#include "rt/diagnostics.h"
#include "rt/handover.h"
#include "rt/startup.h"

namespace recio {

namespace {

void report(msg::Id id, const UnitBlock* u) {
  if (id != 0) rt::for__issue_diagnostic_io(id, u->unit, u->connection.file_name);
}

}  // namespace

void for__close_all_units(bool after_exception) {
  // Once a console event has taken the units, a statement that holds one
  // will never continue, and its unit is closed too.
  const bool taken = rt::for__units_taken();
  UnitTableCursor cursor;
  while (UnitBlock* u = for__get_next_lub(&cursor)) {
    if (u->busy != 0) {
      // Held by a statement that will not go on, or by one in progress when
      // a failure ends the run: its replacement goes, its handle is left to
      // the end of the process.
      if (!taken || rt::for__taken_in_blocking_call()) {
        if ((taken || rt::for__run_failed()) && u->connection.replacing)
          report(for__end_replacement(u, false), u);
        continue;
      }
      for__discard_unfinished_record(u);
    }
    const std::int32_t unit = u->unit;
    if (u->connected) {
      const msg::Id id =
          after_exception ? for__close_without_release(u) : for__close_default(u, false);
      if (id != 0) u->connected = false;
      report(id, u);
    }
    if (!after_exception) for__deallocate_lub(unit);
  }
  for__end_console_diversion();
}

}  // namespace recio
