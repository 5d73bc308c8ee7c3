// Start-up and termination frame of the run-time, and its process-wide state.
#pragma once

#include <cstdint>

namespace rt {

// Process-wide state of the run-time (all zero at start).
extern std::uint32_t for__l_exit_hand_decl;    // some unit was connected: close at exit
extern std::uint32_t for__l_exit_termination;  // the exit handler has started
extern std::uint32_t for__l_fpe_mask;          // floating-point policy word (stays 0)
extern std::uint32_t for__l_undcnt, for__l_ovfcnt, for__l_div0cnt, for__l_invcnt;
extern std::uint32_t for__reentrancy_mode;

// Initialisation; later calls do nothing. Creates the exception record,
// starts the console events, sets the floating-point control word and takes
// over the argument table (with no arguments at all, argument 0 is the
// program's own path). A start-up that cannot go on writes its "runtime
// error" text and ends the process with status 255.
void for_rtl_init_(int argc, char** argv);
// Runs the exit handler.
void for_rtl_finish_();
// Floating-point summary, the program's registered temporary files removed
// (rt/temporary_files.h), then every connected unit closed. Returns 0.
int for__exit_handler();
// The walk that closes every connected unit at exit; after a processor
// exception it closes handles and releases nothing.
using UnitCloser = void (*)(bool after_exception);
// A unit was connected: the exit handler is to close the units, through
// `close_units` (the record I/O services' walk; the run-time holds one).
void for__declare_exit_handler(UnitCloser close_units);
void for__fpe_exit_handler();
// Exit handler, then process exit with *status (0 when null).
[[noreturn]] void for_exit(const std::int32_t* status);

// The run ends by a failure: a severe diagnostic, a console event. Files
// that units replace whole on close keep their old contents instead.
void for__note_run_failed();
// True after for__note_run_failed, and while a processor exception is handled.
bool for__run_failed();

// Every end of the process by the run-time goes through here. After a
// processor exception the process ends at once (no at-exit routines: the
// heap may be inconsistent); otherwise normally, unless a harness that runs
// the run-time many times in one process has set a seam: it is called
// instead and must leave by throwing or jumping (one that returns falls back
// to the exit). The program never sets one.
[[noreturn]] void for__end_process(std::uint32_t status);
// Process-wide; null removes the seam.
void for__set_end_process_seam(void (*seam)(std::uint32_t status));

// Checks the processor's divide; issues the severe 201 on a flawed one.
void for_check_flawed_fdiv();
// Returns the previous lock mode; any mode other than 3 selects 0.
std::int32_t for_set_reentrancy(const std::int32_t* mode);

// The run-time's main: initialise, run the program's main routine with the
// exception handler in force, finish (on every way out of the routine).
// Returns 0 whatever the routine returns.
int for_main(int argc, char** argv, int (*program)());

}  // namespace rt
