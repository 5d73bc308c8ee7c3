// End to end: a wrong map is found, not hidden. A failure while the map is
// read says where (line, file, grid point, text, marker) wherever the
// diagnostic goes; a value cut at column 80 is not taken; names followed by
// blanks are not too long; the traceback names routines readably.
#include <cstdio>

#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::read_file;
using testsupport::write_file;

const std::string kSyntax =
    severe(59, "list-directed I/O syntax error, unit -5, file Internal List-Directed Read");
const std::string kEndOfRecord =
    severe(24, "end-of-file during read, unit -5, file Internal List-Directed Read");

std::string padded(const std::string& text, std::size_t columns) {
  std::string s = text;
  s.resize(columns, ' ');
  return s;
}

class MapLocationE2e : public ConverterTest {
 protected:
  // The two-point map with line `line` (1-based) replaced.
  std::string map_with(int line, const std::string& text) {
    std::vector<std::string> lines = two_point_lines();
    lines[static_cast<std::size_t>(line - 1)] = text;
    return join_lines(lines);
  }
  std::string where(int line, const std::string& rest) {
    return "mapconv: line " + std::to_string(line) + " of " + dir.file("in.map") + rest;
  }
};

// The location lines follow the diagnostic line wherever it goes, before the
// traceback, and the stack-trace switch does not remove them.
TEST_F(MapLocationE2e, LocationLinesGoWhereTheDiagnosticGoes) {
  const std::string map = map_with(12, "0.0 1.0e-3x 0.0");
  const std::string lines = kSyntax + where(12,
                                            ", grid point (2, 1, 1):\n"
                                            "mapconv:     0.0 1.0e-3x 0.0\n"
                                            "mapconv:         ^\n");
  const std::string log = dir.file("diagnostics.log");
  struct Case {
    const char* name;
    std::vector<std::string> env;
    std::string err;
    std::string log;  // the log file's contents
  };
  const Case cases[] = {
      {"standard error", {"FOR_DISABLE_STACK_TRACE=true"}, lines, ""},
      {"log file too",
       {"FOR_DISABLE_STACK_TRACE=true", "FOR_DIAGNOSTIC_LOG_FILE=" + log},
       lines,
       lines},
      {"log file only",
       {"FOR_DISABLE_STACK_TRACE=true", "FOR_DIAGNOSTIC_LOG_FILE=" + log,
        "FOR_DISABLE_DIAGNOSTIC_DISPLAY=true"},
       "",
       lines},
      {"standard error redirected", {"FOR_DISABLE_STACK_TRACE=true", "FORT0=" + log}, "", lines},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(log.c_str());
    std::vector<std::string> env{"LC_ALL=C"};
    env.insert(env.end(), c.env.begin(), c.env.end());
    const ProgramResult r = convert(map, env);
    EXPECT_EQ(r.exit_status, 59);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(as_written(read_file(log)), c.log);
  }
}

// With the traceback on, the location lines come first; the frames name
// routines as written in C++, never mangled.
TEST_F(MapLocationE2e, TracebackAfterTheLocationNamesRoutinesReadably) {
  const ProgramResult r =
      convert(map_with(11, "1.0 2.0"), {"LC_ALL=C", "FOR_DISABLE_STACK_TRACE=false"});
  EXPECT_EQ(r.exit_status, 24);
  const std::string head =
      kEndOfRecord + where(11,
                           ", grid point (1, 1, 1):\n"
                           "mapconv:     1.0 2.0\n"
                           "mapconv:            ^\n"
                           "mapconv: the line ends after 2 of the 3 values it must hold\n"
                           "Image ");
  ASSERT_EQ(r.err.substr(0, head.size()), head);
  EXPECT_EQ(r.err.find("_Z"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find(" app::CONVERT "), std::string::npos) << r.err;
}

// A map of 100 x 100 x 5 points with a typo near its end: the line number and
// the grid point are those of the typo.
TEST_F(MapLocationE2e, LargeMapNamesTheLineAndGridPoint) {
  std::vector<std::string> lines = two_point_lines();
  lines.resize(10);
  lines[9] = "100 100 5";
  std::string text = join_lines(lines);
  const int bad = 49'990;  // 0-based point: i = 91, j = 100, k = 5
  for (int p = 0; p < 50'000; ++p) text += p == bad ? "1.0 1.0e-3x 2.0\n" : "1.0 2.0 3.0\n";
  const ProgramResult r = convert(text);
  EXPECT_EQ(r.exit_status, 59);
  EXPECT_EQ(r.err, kSyntax + where(50'001,
                                   ", grid point (91, 100, 5):\n"
                                   "mapconv:     1.0 1.0e-3x 2.0\n"
                                   "mapconv:         ^\n"));
}

// Only the first 80 columns of a line count: a value that runs on past
// column 80 is not in the line. Needed, it is missing; not needed, it is
// ignored as before.
TEST_F(MapLocationE2e, ValueCutAtColumnEighty) {
  const std::string cut_note =
      "mapconv: the value at column 79 runs past column 80: only the first 80 columns of a line "
      "are read\n";
  struct Case {
    const char* name;
    int line;
    std::string text;
    std::string err;  // empty: converts as the two-point map
  };
  const Case cases[] = {
      {"third value cut", 11, padded("1.0 2.0", 78) + "3.25",
       kEndOfRecord + where(11, ", grid point (1, 1, 1):\nmapconv:     " + padded("1.0 2.0", 78) +
                                    "3.\nmapconv:     " + std::string(78, ' ') + "^\n" + cut_note)},
      {"cut count", 10, padded("2 1", 78) + "112",
       kEndOfRecord + where(10, " (N~X/Y/Z):\nmapconv:     " + padded("2 1", 78) +
                                    "11\nmapconv:     " + std::string(78, ' ') + "^\n" + cut_note)},
      {"cut label", 3, padded("X Y", 78) + "ZAXIS",
       kEndOfRecord + where(3, " (AX~A/B/C):\nmapconv:     " + padded("X Y", 78) +
                                   "ZA\nmapconv:     " + std::string(78, ' ') + "^\n" + cut_note)},
      {"values end by column 80, anything after", 11, padded("1.0 0.0 0.0", 80) + "junk,1/2", ""},
      {"line of exactly 80 columns", 11, padded("1.0 0.0", 77) + "0.0", ""},
      {"fourth value cut", 11, padded("1.0 0.0 0.0", 78) + "4.25", ""},
      {"label ends at column 80", 3, padded("X Y", 79) + "Z" + " rest", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const ProgramResult r = convert(map_with(c.line, c.text));
    if (c.err.empty()) {
      expect_done(r);
      EXPECT_EQ(byte_difference(unformatted_map(MapValues{}), output()), "");
    } else {
      EXPECT_EQ(r.exit_status, 24);
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(r.err, c.err);
    }
  }
}

// Trailing blanks are no part of a name: only a name longer than 256
// characters without them is too long.
TEST_F(MapLocationE2e, NamesFollowedByBlanks) {
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  const std::string blanks(6000, ' ');
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string answers;
    int status;
  };
  const Case cases[] = {
      {"typed answer", {}, "in.map" + blanks + "\nout.unf\n", 0},
      {"typed answer with CR LF", {}, "in.map" + blanks + "\r\nout.unf\r\n", 0},
      {"argument", {"in.map" + blanks, "out.unf" + blanks}, "", 0},
      {"typed answer with more after the blanks", {}, "in.map" + blanks + "x\nout.unf\n", 43},
      {"argument with more after the blanks", {"in.map" + blanks + "x", "out.unf"}, "", 43},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(dir.file("out.unf").c_str());
    const ProgramResult r = run(c.args, c.answers);
    EXPECT_EQ(r.exit_status, c.status);
    if (c.status == 0) {
      EXPECT_TRUE(r.out.ends_with(kDone)) << r.out;
      EXPECT_EQ(byte_difference(unformatted_map(MapValues{}), output()), "");
    } else {
      EXPECT_EQ(r.err.substr(0, 50), "forrtl: severe (43): file name specification error");
    }
  }
}

}  // namespace
}  // namespace e2e
