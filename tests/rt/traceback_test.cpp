#include "rt/traceback.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string frame_line(const rt::TraceFrame& f, bool full_source = false) {
  char text[256];
  const std::size_t n = rt::append_trace_frame(text, 0, sizeof text, f, full_source);
  return std::string(text, n);
}

TEST(Traceback, HeaderColumns) {
  char text[128];
  const std::size_t n = rt::append_trace_header(text, 0, sizeof text);
  EXPECT_EQ(std::string(text, n),
            "Image              PC                Routine            Line        "
            "Source             \n");
}

TEST(Traceback, FrameColumns) {
  struct Case {
    rt::TraceFrame frame;
    bool full_source;
    std::string line;
  };
  const Case cases[] = {
      {{0x401A2B, nullptr, nullptr, nullptr, 0},
       false,
       "Unknown            0000000000401A2B  Unknown               Unknown  Unknown\n"},
      {{0xFFFFFFFFFFFFFFFF, "/usr/lib/x86_64-linux-gnu/libc.so.6", "__libc_start_main", nullptr, 0},
       false,
       "libc.so.6          FFFFFFFFFFFFFFFF  __libc_start_main     Unknown  Unknown\n"},
      // Names longer than their column are cut; the source keeps its path
      // only when asked.
      {{0x10, "/opt/a_very_long_image_name_x", "a_routine_name_of_some_length",
        "/src/app/convert.f", 412},
       false,
       "a_very_long_image  0000000000000010  a_routine_name_of         412  convert.f\n"},
      {{0x10, "mapconv", "r", "/src/app/convert.f", 7},
       true,
       "mapconv            0000000000000010  r                           7  /src/app/convert.f\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(frame_line(c.frame, c.full_source), c.line);
}

TEST(Traceback, LinesThatDoNotFitAreLeftOut) {
  char text[40] = "line\n";
  EXPECT_EQ(rt::append_trace_header(text, 5, sizeof text), 5u);
  EXPECT_STREQ(text, "line\n");
}

TEST(Traceback, VerboseFrameBlock) {
  char text[512];
  const rt::TraceFrame f{0xABC, "/bin/mapconv", nullptr, nullptr, 0};
  const std::size_t n = rt::append_verbose_frame(text, 0, sizeof text, f, 3, false);
  EXPECT_EQ(std::string(text, n),
            "--------- Frame # 3 ---------------------------------------\n"
            "Image:   mapconv\nRoutine: Unknown\nSource:  Unknown\nLine:    Unknown\n"
            "PC:      0000000000000ABC\n\n");
}

}  // namespace
