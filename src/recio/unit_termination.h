// Closing every unit at the end of the process: the walk the exit handler
// runs through the callback the connection step registers
// (rt::for__declare_exit_handler).
#pragma once

namespace recio {

// Closes every connected unit with its default disposition, in unit-table
// order, and frees the blocks. A unit busy in a statement is skipped unless
// a console event has taken the units (that statement never continues).
// After a processor exception the heap may be inconsistent: handles are
// closed, nothing is released. A close failure is issued with the unit's
// number and file name; a severe one ends the process from here.
void for__close_all_units(bool after_exception);

}  // namespace recio
