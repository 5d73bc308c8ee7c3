// Long lines end to end: a line costs no memory beyond what the conversion
// uses of it (80 columns), however long it is.
#include <chrono>

#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::read_file;
using testsupport::write_file;

class LongLines : public ConverterTest {};

// A 30 MB title converts under a 64 MiB address-space limit: its first 80
// characters are the title, the rest is never held.
TEST_F(LongLines, ThirtyMegabyteTitleUnderAnAddressSpaceLimit) {
  SKIP_UNDER_WINE("no address-space limit for a Windows process");
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than a limit allows";
#endif
  const std::string rest =
      "\n09-Dec-2026\nXA YA ZA\n45.0\n0 0 0\n0 0 0\n1 1 1\n1 1 2\n"
      "0.1 0.1 0.1\n1 1 2\n1.0 2.0 3.0\n4.0 5.0 6.0\n";
  write_file(dir.file("short.map"), "Title" + rest);
  ASSERT_EQ(run({"short.map", "short.unf"}).out, kDone);
  std::string title(30'000'000, 'T');
  title.replace(0, 5, "Title");
  write_file(dir.file("in.map"), title + rest);
  ProgramRun r;
  r.args = {"in.map", "out.unf"};
  r.cwd = dir.path();
  r.address_space_limit = 64u << 20;
  const ProgramResult result = run_mapconv(r);
  EXPECT_EQ(result.out, kDone);
  EXPECT_EQ(result.err, "");
  // Only the title record differs: 80 columns of T after "Title".
  std::string expected = read_file(dir.file("short.unf"));
  expected.replace(4 + 5, 75, std::string(75, 'T'));
  EXPECT_EQ(byte_difference(expected, output()), "");
}

// An endless line (/dev/zero as the map) ends at the record bound within
// seconds, in a few MiB.
TEST_F(LongLines, EndlessLineEndsAtTheBoundInLittleMemory) {
  SKIP_UNDER_WINE("no /dev/zero for a Windows process");
  const auto start = std::chrono::steady_clock::now();
  const ProgramResult r = run({"/dev/zero", "out.unf"});
  const auto took = std::chrono::steady_clock::now() - start;
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, console_message("Reading error: TITLE"));
  EXPECT_LT(took, std::chrono::seconds(10));
#if !defined(__SANITIZE_ADDRESS__)
  EXPECT_LT(r.max_rss_kib, 16 * 1024);
#endif
  EXPECT_FALSE(output_exists());
}

}  // namespace
}  // namespace e2e
