// Inside the platform layer: the check each handle operation makes before it
// calls the operating system. Off, it costs one relaxed load and a branch.
#pragma once

#include <atomic>

#include "platform/platform.h"

namespace plat::faults {

inline std::atomic<bool> armed{false};

// Counts the call; true (with *error set) when it is to fail.
bool count_and_check(Operation op, int* error);

inline bool injected(Operation op, int* error) {
  if (armed.load(std::memory_order_relaxed)) [[unlikely]]
    return count_and_check(op, error);
  return false;
}

}  // namespace plat::faults
