#include "rt/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Which of six requests fail for a chosen range; then the hook counts only.
TEST(VmInjection, RequestsInTheRangeFail) {
  struct Case {
    std::uint64_t first, last;
    std::vector<bool> fails;
  };
  const Case cases[] = {
      {0, 0, {false, false, false, false, false, false}},
      {1, 1, {true, false, false, false, false, false}},
      {3, 4, {false, false, true, true, false, false}},
      {5, UINT64_MAX, {false, false, false, false, true, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.first);
    rt::for__inject_vm_failure(c.first, c.last);
    rt::VmBuffer buffer;
    for (std::size_t n = 0; n < c.fails.size(); ++n) {
      // Get and grow count alike.
      void* block = n % 2 == 0 ? rt::for__get_vm(16) : nullptr;
      const bool failed = n % 2 == 0 ? block == nullptr : !buffer.resize(16 * (n + 1));
      EXPECT_EQ(failed, c.fails[n]) << "request " << n + 1;
      rt::for__free_vm(block);
    }
    EXPECT_EQ(rt::for__vm_requests(), c.fails.size());
  }
  rt::for__inject_vm_failure(0, 0);
}

struct Counted {
  static inline int alive = 0;
  int value = 7;
  Counted() { ++alive; }
  ~Counted() { --alive; }
};

TEST(VmInjection, ObjectsAreNullWhenMemoryIsShortAndDestroyedWhenOwned) {
  rt::for__inject_vm_failure(1, 1);
  EXPECT_EQ(rt::vm_create<Counted>(), nullptr);
  EXPECT_EQ(Counted::alive, 0);
  {
    rt::VmUnique<Counted> p = rt::vm_create<Counted>();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->value, 7);
    EXPECT_EQ(Counted::alive, 1);
  }
  EXPECT_EQ(Counted::alive, 0);
  rt::for__inject_vm_failure(0, 0);
}

}  // namespace
