// Hand-over of the units from the main thread to the console event thread.
// The state belongs to the run-time (the event thread is its own); the
// record I/O services mark the points where the main thread may park.
//
// The run-time takes no lock, so the two threads must never use a unit at
// the same time. The rule is a one-way hand-over: the event thread touches
// no unit until the main thread has stopped for good at a point where every
// unit block is consistent, and the main thread never runs again after that.
// Those points are the start of a statement (before the unit table is
// looked at) and a wait for input on a handle that can block (a console, a
// pipe, a FIFO), which the event thread interrupts. So:
//  - the event thread asks (for__take_units), interrupts the input waits and
//    waits until the main thread has parked;
//  - the main thread checks the request at each statement start and in each
//    input wait, and parks there when it is set;
//  - once parked, a statement that still holds a unit will never continue:
//    the event thread may close that unit too (its unfinished record is not
//    written, see for__discard_unfinished_record).
// A main thread that never reaches such a point (it ends the process itself,
// say after a severe diagnostic or at the end of the run) simply wins: the
// event thread is still waiting when the process ends.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace rt {

namespace handover {
inline constexpr std::uint32_t kRunning = 0;
inline constexpr std::uint32_t kRequested = 1;
inline constexpr std::uint32_t kParked = 2;
// Process-wide state of the hand-over.
extern std::atomic<std::uint32_t> state;
[[noreturn]] void park();
}  // namespace handover

// True once the event thread has asked for the units.
inline bool for__handover_asked() {
  return handover::state.load(std::memory_order_relaxed) != handover::kRunning;
}

// Main thread, at the start of every statement: parks the thread for good
// when the units have been asked for. One relaxed load otherwise.
inline void for__handover_point() {
  if (for__handover_asked()) [[unlikely]]
    handover::park();
}

// Main thread, before a read that can block: waits for input and parks for
// good when the units are asked for meanwhile.
void for__wait_input(plat::Handle h);

// Event thread: returns once the main thread has parked; from then on the
// caller alone uses the units.
void for__take_units();

// True once the main thread has parked for good.
bool for__units_taken();

}  // namespace rt
