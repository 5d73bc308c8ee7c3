#include "rt/console_events.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Only the three console events are handled, each reported by its name.
TEST(ConsoleEvents, NamesOfTheHandledEvents) {
  struct Case {
    int event;
    const char* name;  // null: not handled
  };
  const Case cases[] = {
      {0, "control-C"}, {1, "control-BREAK"}, {2, "window-CLOSE"}, {3, nullptr}, {-1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.event);
    const char* name = rt::console_event_name(c.event);
    if (c.name == nullptr) {
      EXPECT_EQ(name, nullptr);
    } else {
      ASSERT_NE(name, nullptr);
      EXPECT_EQ(std::string(name), c.name);
    }
  }
}

}  // namespace
