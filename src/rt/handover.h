// Hand-over of the units from the main thread to the console event thread.
// The state belongs to the run-time (the event thread is its own); the
// record I/O services mark the points where the main thread may park.
//
// The run-time takes no lock, so the two threads must never use a unit at
// the same time. The rule is a one-way hand-over: the event thread touches
// no unit until the main thread has stopped for good at a point where every
// unit block is consistent, and the main thread never runs again after that.
// Those points are the start of a statement (before the unit table is
// looked at), a wait for input on a handle that can block (a console, a
// pipe, a FIFO), which the event thread interrupts, and a platform call that
// may block without limit (an open, a read, a write: BlockingCall). So:
//  - the event thread asks (for__take_units), interrupts the input waits and
//    waits until the main thread has parked;
//  - the main thread checks the request at each statement start and in each
//    input wait, and parks there when it is set;
//  - once parked, a statement that still holds a unit will never continue:
//    the event thread may close that unit too (its unfinished record is not
//    written, see for__discard_unfinished_record).
//  - a main thread inside a BlockingCall counts as parked at once: the event
//    thread takes the units without waiting for the call to return, and the
//    main thread parks for good when it does. The unit the call works on is
//    left alone (for__taken_in_blocking_call): its handle stays open, so its
//    number cannot be given to another file under the call's feet.
// A main thread that never reaches such a point (it ends the process itself,
// say after a severe diagnostic or at the end of the run) simply wins: the
// event thread is still waiting when the process ends.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace rt {

namespace handover {
// Values of the hand-over's state word.
inline constexpr std::uint32_t kRunning = 0;
inline constexpr std::uint32_t kRequested = 1;
inline constexpr std::uint32_t kParked = 2;
inline constexpr std::uint32_t kBlocked = 3;  // the main thread is in a BlockingCall
// The process-wide state word. Read here, inline, so that the check at
// every statement start stays a single load; written only by handover.cpp,
// which alone defines the Writer that may reach it.
struct Writer;
class StateWord {
 public:
  static std::uint32_t load(std::memory_order order) { return word_.load(order); }

 private:
  friend struct Writer;
  static std::atomic<std::uint32_t> word_;
};
[[noreturn]] void park();
}  // namespace handover

// True once the event thread has asked for the units.
inline bool for__handover_asked() {
  return handover::StateWord::load(std::memory_order_relaxed) != handover::kRunning;
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

// Main thread, around a platform call that may block without limit: while
// it runs, the units may be taken; the thread parks for good on leaving when
// they were. On a thread that already holds the units (the event thread
// after taking them) or inside another BlockingCall, it does nothing.
class BlockingCall {
 public:
  BlockingCall();
  ~BlockingCall();
  BlockingCall(const BlockingCall&) = delete;
  BlockingCall& operator=(const BlockingCall&) = delete;

 private:
  bool entered_ = false;
};

// Event thread: returns once the main thread has parked (or is inside a
// BlockingCall); from then on the caller alone uses the units.
void for__take_units();

// True once the main thread has parked for good.
bool for__units_taken();

// True when the units were taken while the main thread was inside a
// BlockingCall: the unit of that statement must not be touched.
bool for__taken_in_blocking_call();

}  // namespace rt
