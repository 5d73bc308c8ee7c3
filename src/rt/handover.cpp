// The hand-over of the units to the console event thread.
#include "rt/handover.h"

namespace rt {
namespace handover {

std::atomic<std::uint32_t> StateWord::word_{kRunning};

// The one way to change the state word.
struct Writer {
  static constexpr std::atomic<std::uint32_t>& word() { return StateWord::word_; }
};

namespace {
// How often a waiting thread looks at the state word again. The waits are
// one-shot and end the run, so a millisecond's delay costs nothing.
constexpr unsigned kLookMilliseconds = 1;
// A parked main thread never runs again; it only needs to stay asleep.
constexpr unsigned kParkedSleepMilliseconds = 1000;
constinit std::atomic<std::uint32_t>& state = Writer::word();
// Set once the event thread has taken the units from a BlockingCall.
std::atomic<bool> taken_blocked{false};
}  // namespace

void park() {
  state.store(kParked, std::memory_order_release);
  // Never woken: the event thread ends the process.
  for (;;) plat::sleep_milliseconds(kParkedSleepMilliseconds);
}

}  // namespace handover

void for__wait_input(plat::Handle h) {
  for__handover_point();
  if (!plat::wait_for_input(h)) handover::park();
}

BlockingCall::BlockingCall() {
  std::uint32_t expected = handover::kRunning;
  if (handover::state.compare_exchange_strong(expected, handover::kBlocked,
                                              std::memory_order_acq_rel)) {
    entered_ = true;
    return;
  }
  if (expected == handover::kRequested) handover::park();
  // kParked: the caller is the event thread; kBlocked: a nested call.
}

BlockingCall::~BlockingCall() {
  if (!entered_) return;
  std::uint32_t expected = handover::kBlocked;
  if (!handover::state.compare_exchange_strong(expected, handover::kRunning,
                                               std::memory_order_acq_rel))
    handover::park();  // taken meanwhile: this thread never continues
}

void for__take_units() {
  for (;;) {
    std::uint32_t now = handover::state.load(std::memory_order_acquire);
    if (now == handover::kParked) return;
    if (now == handover::kBlocked) {
      // Marked first: the main thread, once back, sees kParked only after it.
      handover::taken_blocked.store(true, std::memory_order_release);
      if (handover::state.compare_exchange_strong(now, handover::kParked,
                                                  std::memory_order_acq_rel))
        return;
      handover::taken_blocked.store(false, std::memory_order_release);
      continue;  // the call returned just now
    }
    if (now == handover::kRequested || handover::state.compare_exchange_strong(
                                           now, handover::kRequested, std::memory_order_acq_rel))
      break;
  }
  plat::interrupt_input_waits();
  while (handover::state.load(std::memory_order_acquire) != handover::kParked)
    plat::sleep_milliseconds(handover::kLookMilliseconds);
}

bool for__taken_in_blocking_call() {
  return for__units_taken() && handover::taken_blocked.load(std::memory_order_acquire);
}

bool for__units_taken() {
  return handover::state.load(std::memory_order_acquire) == handover::kParked;
}

}  // namespace rt
