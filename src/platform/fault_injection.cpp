// Fault injection for the handle operations; shared by every platform file.
#include "platform/fault_injection.h"

#include <array>
#include <cstdint>

namespace plat {
namespace {

struct Plan {
  std::atomic<std::uint64_t> calls{0};
  std::uint64_t first = 0, last = 0;  // first 0: count only
  int error = 0;
  bool set = false;
};

std::array<Plan, kOperationKinds> plans;

}  // namespace

std::atomic<bool> faults::Armed::flag_{false};

namespace faults {
// The one way to arm the checks.
struct Writer {
  static void arm() { Armed::flag_.store(true, std::memory_order_relaxed); }
};
}  // namespace faults

bool faults::count_and_check(Operation op, int* error) {
  Plan& p = plans[static_cast<std::size_t>(op)];
  if (!p.set) return false;
  const std::uint64_t n = p.calls.fetch_add(1, std::memory_order_relaxed) + 1;
  const bool fail = p.first != 0 && n >= p.first && n <= p.last;
  if (fail) *error = p.error;
  return fail;
}

void inject_failure(Operation op, std::uint64_t first, std::uint64_t last, int error) {
  Plan& p = plans[static_cast<std::size_t>(op)];
  p.first = first;
  p.last = last;
  p.error = error;
  p.calls.store(0, std::memory_order_relaxed);
  p.set = true;
  faults::Writer::arm();
}

std::uint64_t operation_calls(Operation op) {
  return plans[static_cast<std::size_t>(op)].calls.load(std::memory_order_relaxed);
}

}  // namespace plat
