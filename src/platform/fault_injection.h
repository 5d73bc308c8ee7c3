// Inside the platform layer: the check each handle operation makes before it
// calls the operating system. Off, it costs one relaxed load and a branch.
#pragma once

#include <atomic>

#include "platform/platform.h"

namespace plat::faults {

// Set once a failure is planned (inject_failure); read-only here, written by
// fault_injection.cpp alone. A view keeps the check one inline load.
extern const std::atomic<bool>& armed_view;

// Counts the call; true (with *error set) when it is to fail.
bool count_and_check(Operation op, int* error);

inline bool injected(Operation op, int* error) {
  if (armed_view.load(std::memory_order_relaxed)) [[unlikely]]
    return count_and_check(op, error);
  return false;
}

}  // namespace plat::faults
