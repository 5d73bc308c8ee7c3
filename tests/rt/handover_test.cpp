#include "rt/handover.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "rt/startup.h"
#include "rt/temporary_files.h"
#include "support/test_files.h"

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

namespace {

// The main thread blocks in a platform call, a read of a pipe; `events` runs
// on another thread once the call has begun and gets the pipe's write end.
// Leaves the process with status 23 should the main thread run on after the
// units were taken.
[[noreturn]] void block_in_a_call(void (*events)(int write_end)) {
  int fds[2];
  if (::pipe(fds) != 0) std::exit(20);
  std::thread event_thread([events, write_end = fds[1]] {
    while (rt::handover::StateWord::load(std::memory_order_acquire) != rt::handover::kBlocked)
      std::this_thread::yield();
    events(write_end);
  });
  event_thread.detach();
  char byte = 0;
  {
    rt::BlockingCall blocking;
    if (::read(fds[0], &byte, 1) != 1) std::exit(22);
  }
  std::_Exit(23);  // ran on after the units were taken
}

// A main thread blocked in a platform call is taken over at once: the event
// thread does not wait for the call, and once the call returns the main
// thread never runs on. Outside a call the ordinary hand-over holds.
TEST(HandoverDeathTest, BlockedCallIsTakenWithoutWaitingForIt) {
  EXPECT_EXIT(block_in_a_call([](int write_end) {
                // Nothing writes the pipe before the units are taken.
                rt::for__take_units();
                if (!rt::for__units_taken() || !rt::for__taken_in_blocking_call()) std::exit(21);
                // A call on this thread now passes straight through.
                { rt::BlockingCall nested; }
                // Unblock the main thread: it must park, never reach its exit.
                if (::write(write_end, "x", 1) != 1) std::exit(24);
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                std::exit(7);
              }),
              testing::ExitedWithCode(7), "");
}

// Taken from a blocked call, the process ends at once (no at-exit routine
// runs beside that thread), and the exit handler still removes the
// program's registered temporary file.
TEST(HandoverDeathTest, TemporaryRemovedWhenTakenFromABlockedCall) {
  testsupport::ScratchDir dir;
  const std::string removed = dir.file("out.txt-0");
  EXPECT_EXIT(
      {
        static std::string name = removed;
        std::FILE* f = std::fopen(name.c_str(), "wb");
        if (f == nullptr || rt::for__register_temporary(name.c_str(), f) < 0) std::exit(25);
        block_in_a_call([](int) {
          rt::for__take_units();
          const std::int32_t status = 6;
          rt::for_exit(&status);
        });
      },
      testing::ExitedWithCode(6), "");
  EXPECT_FALSE(testsupport::file_exists(removed));
}

}  // namespace
