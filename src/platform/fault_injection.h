// Inside the platform layer: the check each handle operation makes before it
// calls the operating system. Off, it costs one relaxed load and a branch.
#pragma once

#include <atomic>

#include "platform/platform.h"

namespace plat::faults {

// Set once a failure is planned (inject_failure). Read here, inline, so the
// check stays one load; written only by fault_injection.cpp, which alone
// defines the Writer that may reach it.
struct Writer;
class Armed {
 public:
  static bool load() { return flag_.load(std::memory_order_relaxed); }

 private:
  friend struct Writer;
  static std::atomic<bool> flag_;
};

// Counts the call; true (with *error set) when it is to fail.
bool count_and_check(Operation op, int* error);

inline bool injected(Operation op, int* error) {
  if (Armed::load()) [[unlikely]]
    return count_and_check(op, error);
  return false;
}

}  // namespace plat::faults
