// What only the Windows program shows: the raw bytes of its standard error
// and its command line split by the run-time's own rules.
#include <filesystem>

#include "e2e/fixture.h"

namespace e2e {
namespace {

class WineE2e : public ConverterTest {};

TEST_F(WineE2e, SevereLineEndsInCrCrLfAndTheStatusIsItsLowByte) {
  if (!kUnderWine) GTEST_SKIP() << "the Windows program only";
  testsupport::write_file(dir.file("in.map"), join_lines(two_point_lines()));
  const ProgramResult r = run({"in.map", "missing/out.unf"});
  EXPECT_EQ(r.exit_status, 29);  // of 0xC000001D
  std::string shown = "Z:" + dir.file("missing/out.unf");
  for (char& c : shown) c = c == '/' ? '\\' : c;
  EXPECT_EQ(r.err_bytes, "forrtl: severe (29): file not found, unit 21, file " + shown + "\r\r\n");
}

TEST_F(WineE2e, QuotesAndBackslashesReachTheProgramAsTyped) {
  if (!kUnderWine) GTEST_SKIP() << "the Windows program only";
  testsupport::write_file(dir.file("my map.txt"), join_lines(two_point_lines()));
  std::filesystem::create_directories(dir.file("sub"));
  std::filesystem::create_directories(dir.file("my dir"));
  struct Case {
    std::string output;   // as typed
    std::string written;  // the file it names
  };
  const Case cases[] = {
      {"out.bin", "out.bin"},
      {"sub\\out.bin", "sub/out.bin"},
      {"my dir\\x y.bin", "my dir/x y.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const ProgramResult r = run({"my map.txt", c.output});
    expect_done(r);
    EXPECT_EQ(
        byte_difference(unformatted_map(MapValues{}), testsupport::read_file(dir.file(c.written))),
        "");
  }
}

}  // namespace
}  // namespace e2e
