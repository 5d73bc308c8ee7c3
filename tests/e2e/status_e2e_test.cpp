// End to end: the failures the conversion reports itself, as the console shows
// them, and the capacity limit of 3000000 values.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::file_exists;
using testsupport::read_file;
using testsupport::write_file;

class StatusE2e : public ConverterTest {
 protected:
  // A reported failure: the message on the console, exit status 0, the
  // reason on the error stream, no output file.
  void expect_reported(const ProgramResult& r, const std::string& message, const std::string& why) {
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, console_message(message));
    EXPECT_EQ(mask_reasons(r.err), why);
    EXPECT_FALSE(output_exists());
  }
};

TEST_F(StatusE2e, InputThatCannotBeOpened) {
  struct Case {
    const char* name;
    std::string why;
  };
  const Case cases[] = {
      {"no-such.map", "mapconv: cannot open no-such.map: " + reason(ENOENT) + "\n"},
      {"missing/in.map", "mapconv: cannot open missing/in.map: " + reason(ENOENT) + "\n"},
      {"", "mapconv: the input file name is empty\n"},
      {"   ", "mapconv: the input file name is empty\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("input name \"") + c.name + "\"");
    expect_reported(run({c.name, "out.unf"}), "Cannot open the MAP file", c.why);
  }
}

TEST_F(StatusE2e, InputIsADirectory) {
  ASSERT_EQ(::mkdir(dir.file("maps").c_str(), 0755), 0);
  expect_reported(run({"maps", "out.unf"}), "Cannot open the MAP file",
                  "mapconv: cannot open maps: " + reason(EISDIR) + "\n");
}

TEST_F(StatusE2e, InputThatMayNotBeRead) {
  SKIP_UNDER_WINE("no file modes");
  if (::geteuid() == 0) GTEST_SKIP() << "root reads every file";
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  ASSERT_EQ(::chmod(dir.file("in.map").c_str(), 0), 0);
  expect_reported(run({"in.map", "out.unf"}), "Cannot open the MAP file",
                  "mapconv: cannot open in.map: " + reason(EACCES) + "\n");
}

// The file ends before header line n: each line has its own message.
TEST_F(StatusE2e, FileEndingInTheHeader) {
  const char* const messages[] = {"Reading error: TITLE",     "Reading error: DATE",
                                  "Reading error: AX~A/B/C",  "Reading error: angle",
                                  "Reading error: X/Y/Z~MIN", "Reading error: IS~A/B/C",
                                  "Reading error: IM~A/B/C",  "Reading error: ID~A/B/C",
                                  "Reading error: D~X/Y/Z",   "Reading error: N~X/Y/Z"};
  for (std::size_t kept = 0; kept < 10; ++kept) {
    std::vector<std::string> lines = two_point_lines();
    lines.resize(kept);
    for (const bool ctrl_z : {false, true}) {
      SCOPED_TRACE(std::to_string(kept) + " lines" + (ctrl_z ? " and a Ctrl-Z line" : ""));
      std::vector<std::string> text = lines;
      // A line of the single byte 26 reads as the end of the file, whatever follows.
      if (ctrl_z) text.insert(text.end(), {"\x1a", "more", "lines"});
      const std::string missing = std::string(messages[kept]).substr(15);
      const std::string why =
          kept == 0 ? dir.file("in.map") + " is empty"
                    : dir.file("in.map") + " ends after line " + std::to_string(kept) + "; line " +
                          std::to_string(kept + 1) + " (" + missing + ") is missing";
      expect_reported(convert(join_lines(text)), messages[kept], "mapconv: " + why + "\n");
    }
  }
}

TEST_F(StatusE2e, FileEndingInsideTheField) {
  struct Case {
    const char* name;
    std::string tail;  // after the header and the first field line
  };
  const Case cases[] = {
      {"last field line missing", ""},
      {"Ctrl-Z before the last field line", "\x1a\n0.0 1.0 0.0\n"},
      {"Ctrl-Z with CR LF", "\x1a\r\n0.0 1.0 0.0\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines = two_point_lines();
    lines.resize(11);
    // An existing output file is neither replaced nor touched.
    write_file(dir.file("old.unf"), "previous contents");
    testsupport::write_file(dir.file("in.map"), join_lines(lines) + c.tail);
    const ProgramResult r = run({"in.map", "old.unf"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, console_message("Reading error: FIELDs"));
    EXPECT_EQ(r.err, "mapconv: NX*NY*NZ = 2*1*1 asks for 2 grid lines; " + dir.file("in.map") +
                         " ends after 1 of them (its last line is line 11)\n");
    EXPECT_EQ(read_file(dir.file("old.unf")), "previous contents");
  }
}

// 3 * NX * NY * NZ above 3000000: the needed count in the message, right-
// justified in 12 columns while it fits in 32 bits, in full beyond that.
TEST_F(StatusE2e, CapacityExceeded) {
  const std::string change = " Change the program parameter MXS to";
  struct Case {
    const char* counts;
    std::string message;
  };
  const Case cases[] = {
      {"101 101 101", change + "     3090903"},
      {"101 9901 1", change + "     3000003"},  // one grid point more than fits
      {"-1000 -1000 1000", change + " 3000000000"},
      {"715827882 1 1", change + "  2147483646"},
      {"715827883 1 1", change + " 2147483649"},
      {"1000 1000 1000", change + " 3000000000"},
      // Products that a 32-bit multiplication would wrap to 0 or 2.
      {"65536 65536 1", change + " 12884901888"},
      {"1431655766 1 1", change + " 4294967298"},
      {"2000000 2000000 2000000", change + " 24000000000000000000"},
      {"2147483647 2147483647 2147483647", change + " 29710560901343952451059843069"},
      {"-2147483648 -2147483648 1", change + " 13835058055282163712"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.counts);
    std::vector<std::string> lines = two_point_lines();
    lines[9] = c.counts;
    const ProgramResult r = convert(join_lines(lines));
    // Counts below 1 leave the field empty, and say so.
    const std::string empty =
        c.counts[0] == '-' ? "mapconv: warning: line 10 of " + dir.file("in.map") + ": NX is " +
                                 std::string(c.counts).substr(0, std::string(c.counts).find(' ')) +
                                 ": the field is empty\n"
                           : "";
    expect_reported(r, c.message, empty);
  }
  // The console line puts the count of 101 x 101 x 101 in columns 38 to 49
  // (the message's 37 to 48 behind the console's own blank).
  std::vector<std::string> lines = two_point_lines();
  lines[9] = "101 101 101";
  const std::string out = convert(join_lines(lines)).out;
  ASSERT_GE(out.size(), 49u);
  EXPECT_EQ(out.substr(37, 12), "     3090903");
}

// A map of exactly 3000000 values is converted. The 1,000,000 field lines are
// written by the test; every value is distinct and exact in single precision.
TEST_F(StatusE2e, ExactlyTheCapacityConverts) {
  constexpr int n = 100;
  std::vector<std::string> header = two_point_lines();
  header.resize(10);
  header[9] = "100 100 100";
  std::string text = join_lines(header);
  MapValues expected;
  expected.counts = {n, n, n};
  expected.field.clear();
  expected.field.reserve(3 * n * n * n);
  float tenths[10];
  for (int d = 0; d < 10; ++d)
    tenths[d] = std::strtof(("0." + std::to_string(d) + "25").c_str(), nullptr);
  char line[64];
  for (int p = 0; p < n * n * n; ++p) {
    const int len = std::snprintf(line, sizeof line, "%d.5 %d 0.%d25\n", p, -(p % 1000), p % 10);
    text.append(line, static_cast<std::size_t>(len));
    expected.field.push_back(static_cast<float>(p) + 0.5f);
    expected.field.push_back(static_cast<float>(-(p % 1000)));
    expected.field.push_back(tenths[p % 10]);
  }
  const ProgramResult r = convert(text);
  expect_done(r);
  const std::string out = output();
  EXPECT_EQ(out.size(), 238u + 100u * (12u * n * n + 8u));
  EXPECT_EQ(byte_difference(unformatted_map(expected), out), "");
}

}  // namespace
}  // namespace e2e
