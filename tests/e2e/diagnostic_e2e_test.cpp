// End to end: failures the conversion does not check for itself end the run
// with a diagnostic line on the error stream and the condition's number as
// exit status, and no result on the console.
#include <sys/stat.h>

#include "e2e/fixture.h"
#include "e2e/full_file_system.h"

namespace e2e {
namespace {

using testsupport::file_exists;
using testsupport::write_file;

class DiagnosticE2e : public ConverterTest {
 protected:
  static void expect_diagnostic(const ProgramResult& r, int number, const std::string& line) {
    EXPECT_EQ(r.exit_status, number);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, line);
  }
};

const std::string kInternalRead = ", unit -5, file Internal List-Directed Read";

// Lines whose values cannot be taken: the parse of an in-memory line has no
// error check. After the diagnostic line, lines that say where.
TEST_F(DiagnosticE2e, UnreadableValues) {
  struct Case {
    int line;  // 1-based line of the two-point map to replace
    std::string text;
    int number;
    std::string where;  // after "mapconv: line N of <path>"
  };
  const std::string eof = "end-of-file during read";
  const std::string syntax = "list-directed I/O syntax error";
  const std::string conversion = "input conversion error";
  const std::string p1 = ", grid point (1, 1, 1):\n";
  const std::string m = "mapconv:     ";
  const Case cases[] = {
      {11, "1.0 2.0", 24,
       p1 + m + "1.0 2.0\n" + m +
           "       ^\nmapconv: the line ends after 2 of the 3 values it "
           "must hold\n"},
      {12, "1.0", 24,
       ", grid point (2, 1, 1):\n" + m + "1.0\n" + m +
           "   ^\nmapconv: the line ends after 1 of the 3 values it must hold\n"},
      {11, "", 24, p1 + "mapconv: the line is blank; it must hold 3 values\n"},
      {11, std::string(80, ' ') + "1.0 2.0 3.0", 24,  // beyond column 80
       p1 + "mapconv: the line is 91 columns long: only the first 80 columns are read\n"},
      {11, "1.0 2.0" + std::string(73, ' ') + "3.0", 24,  // third value beyond column 80
       p1 + m + "1.0 2.0\n" + m +
           "       ^\nmapconv: the line is 83 columns long: only the first 80 columns are read\n"},
      {11, "1.0 abc 2.0", 59, p1 + m + "1.0 abc 2.0\n" + m + "    ^\n"},
      {11, "1.0 2.0 'x'", 64, p1 + m + "1.0 2.0 'x'\n" + m + "        ^\n"},
      {4, "", 24, " (angle):\nmapconv: the line is blank; it must hold 1 value\n"},
      {10, "2 1", 24,
       " (N~X/Y/Z):\n" + m + "2 1\n" + m +
           "   ^\nmapconv: the line ends after 2 of the 3 values it must hold\n"},
      {6, "1 2 3000000000", 64, " (IS~A/B/C):\n" + m + "1 2 3000000000\n" + m + "    ^\n"},
      {3, "2*AB C D", 59, " (AX~A/B/C):\n" + m + "2*AB C D\n" + m + "^\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("line " + std::to_string(c.line) + ": \"" + c.text + "\"");
    std::vector<std::string> lines = two_point_lines();
    lines[static_cast<std::size_t>(c.line - 1)] = c.text;
    const ProgramResult r = convert(join_lines(lines));
    const std::string& text = c.number == 24 ? eof : c.number == 59 ? syntax : conversion;
    expect_diagnostic(r, c.number,
                      severe(c.number, text + kInternalRead) + "mapconv: line " +
                          std::to_string(c.line) + " of " + dir.file("in.map") + c.where);
    EXPECT_FALSE(output_exists());
  }
}

// The output unit is opened without an error check.
TEST_F(DiagnosticE2e, OutputThatCannotBeOpened) {
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0755), 0);
  struct Case {
    const char* name;
    std::string output;
    int number;
    std::string line;
  };
  const Case cases[] = {
      {"missing directory", "missing/out.unf", 29,
       severe(29, "file not found, unit 21, file " + dir.file("missing/out.unf"))},
      {"missing directory, path with dots", "./sub/../missing/out.unf", 29,
       severe(29, "file not found, unit 21, file " + dir.file("missing/out.unf"))},
      {"a directory", "sub", 9,
       severe(9, "permission to access file denied, unit 21, file " + dir.file("sub"))},
      {"empty name", "", 29, severe(29, "file not found, unit 21, file \"Unknown\"")},
      {"blank name", "   ", 29, severe(29, "file not found, unit 21, file \"Unknown\"")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    expect_diagnostic(run({"in.map", c.output}), c.number, c.line);
  }
  EXPECT_FALSE(file_exists(dir.file("missing")));
}

TEST_F(DiagnosticE2e, FullDisk) {
  SKIP_UNDER_WINE("Windows has no full device");
  if (!file_exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  // The operating system's reason comes first, on a line of its own.
  expect_diagnostic(run({"in.map", "/dev/full"}), 38,
                    "forrtl: No space left on device\n" +
                        severe(38, "error during write, unit 21, file /dev/full"));
}

TEST_F(DiagnosticE2e, DiskFullOnASmallFileSystem) {
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  FullFileSystem full(dir.file("small"));
  if (!full.refusal().empty()) GTEST_SKIP() << full.refusal();
  expect_diagnostic(run({"in.map", "small/out.unf"}), 38,
                    disk_full_line() + severe(38, "error during write, unit 21, file " +
                                                      dir.file("small/out.unf")));
}

// The output is opened only after the whole input has been read: a failure
// inside the field is reported before the empty output name matters.
TEST_F(DiagnosticE2e, EmptyOutputNameAfterAFailedRead) {
  std::vector<std::string> lines = two_point_lines();
  lines.resize(11);
  write_file(dir.file("in.map"), join_lines(lines));
  const ProgramResult r = run({"in.map", ""});
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, console_message("Reading error: FIELDs"));
  EXPECT_EQ(r.err, "mapconv: NX*NY*NZ = 2*1*1 asks for 2 grid lines; " + dir.file("in.map") +
                       " ends after 1 of them (its last line is line 11)\n");
}

TEST_F(DiagnosticE2e, UnknownByteOrderSelection) {
  for (const char* value :
       {"FORT_CONVERT21=bigendian", "FORT_CONVERT21=", "FORT_CONVERT21= NATIVE"}) {
    SCOPED_TRACE(value);
    const ProgramResult r = convert(join_lines(two_point_lines()), {"LC_ALL=C", value});
    expect_diagnostic(
        r, 46,
        severe(46, "inconsistent OPEN/CLOSE parameters, unit 21, file " + dir.file("out.unf")));
  }
}

}  // namespace
}  // namespace e2e
