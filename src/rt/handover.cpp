// The hand-over of the units to the console event thread.
#include "rt/handover.h"

namespace rt {
namespace handover {

std::atomic<std::uint32_t> state{kRunning};

void park() {
  state.store(kParked, std::memory_order_release);
  state.notify_all();
  // Never woken: the event thread ends the process.
  for (;;) state.wait(kParked, std::memory_order_relaxed);
}

}  // namespace handover

void for__wait_input(plat::Handle h) {
  for__handover_point();
  if (!plat::wait_for_input(h)) handover::park();
}

void for__take_units() {
  std::uint32_t expected = handover::kRunning;
  handover::state.compare_exchange_strong(expected, handover::kRequested);
  plat::interrupt_input_waits();
  for (;;) {
    const std::uint32_t now = handover::state.load(std::memory_order_acquire);
    if (now == handover::kParked) return;
    handover::state.wait(now, std::memory_order_acquire);
  }
}

bool for__units_taken() {
  return handover::state.load(std::memory_order_acquire) == handover::kParked;
}

}  // namespace rt
