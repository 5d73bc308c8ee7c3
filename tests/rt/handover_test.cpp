#include "rt/handover.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

namespace {

// The event thread gets the units only once the main thread has stopped at
// the start of its next statement; the main thread never runs on after it.
TEST(HandoverDeathTest, MainThreadParksAtItsNextStatement) {
  EXPECT_EXIT(
      {
        std::thread events([] {
          rt::for__take_units();
          std::exit(rt::for__units_taken() ? 7 : 8);
        });
        events.detach();
        for (;;) rt::for__handover_point();  // statements, until parked
      },
      testing::ExitedWithCode(7), "");
}

}  // namespace
