// End to end: formatted map files in, the unformatted map file out, compared
// byte for byte.
#include <algorithm>
#include <cstdlib>
#include <sstream>

#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::read_file;
using testsupport::write_file;

class ConvertE2e : public ConverterTest {};

// The two-point example written out by hand: record lengths, the texts with
// their blanks, 90.0 = 00 00 B4 42, 0.5 = 00 00 00 3F, 1.0 = 00 00 80 3F.
const std::string kTwoPointBytes =
    hex("50000000") + "Example field" + std::string(67, ' ') + hex("50000000") +  //
    hex("12000000") + "08-Dec-2026" + std::string(7, ' ') + hex("12000000") +     //
    hex("1c000000") + "X       Y       Z       " + hex("0000b442 1c000000") +     //
    hex("30000000 00000000 00000000 00000000"                                     // origin
        "00000000 00000000 00000000 01000000 00000000 00000000"                   // IS, IM
        "02000000 01000000 01000000 30000000") +                                  // ID
    hex("18000000 0000003f 0000003f 0000003f 02000000 01000000 01000000 18000000") +
    hex("18000000 0000803f 00000000 00000000 00000000 0000803f 00000000 18000000");

TEST_F(ConvertE2e, TwoPointExampleGivesTheListedBytes) {
  ASSERT_EQ(kTwoPointBytes.size(), 270u);
  // The plane record sits at offset 238: length 24, six reals, length 24.
  ASSERT_EQ(kTwoPointBytes.substr(238, 4), hex("18 00 00 00"));

  const ProgramResult r = convert(join_lines(two_point_lines()));
  expect_done(r);
  EXPECT_EQ(byte_difference(kTwoPointBytes, output()), "");
  // The expected-file builder the other tests rely on agrees with the bytes.
  EXPECT_EQ(byte_difference(kTwoPointBytes, unformatted_map(MapValues{})), "");
}

TEST_F(ConvertE2e, LineEndsDoNotChangeTheOutput) {
  struct Case {
    const char* name;
    const char* eol;
    bool final_eol;
  };
  for (const Case& c :
       {Case{"LF", "\n", true}, Case{"CR LF", "\r\n", true},
        Case{"LF, last line open", "\n", false}, Case{"CR LF, last line open", "\r\n", false}}) {
    SCOPED_TRACE(c.name);
    const ProgramResult r = convert(join_lines(two_point_lines(), c.eol, c.final_eol));
    expect_done(r);
    EXPECT_EQ(byte_difference(kTwoPointBytes, output()), "");
  }
}

// Grid counts that leave no field line to read: five header records and one
// record per plane, empty when NX or NY is below 1.
TEST_F(ConvertE2e, CountsWithoutGridPoints) {
  struct Case {
    const char* counts;
    std::array<std::int32_t, 3> values;
    std::size_t size;
  };
  const Case cases[] = {
      {"2 1 0", {2, 1, 0}, 238},
      {"0 5 3", {0, 5, 3}, 238 + 3 * 8},
      {"5 0 2", {5, 0, 2}, 238 + 2 * 8},
      {"-1 -1 -1", {-1, -1, -1}, 238},
      // Negative counts whose product is small pass the capacity check.
      {"-2 -3 2", {-2, -3, 2}, 238 + 2 * 8},
      // A zero count makes the product 0 however large the others are.
      {"2000000000 2000000000 0", {2000000000, 2000000000, 0}, 238},
      {"0 2147483647 1", {0, 2147483647, 1}, 238 + 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.counts);
    std::vector<std::string> lines = two_point_lines();
    lines.resize(10);
    lines[9] = c.counts;
    // Not converted: a field line here would end the run with a diagnostic.
    lines.push_back("not a field line");
    const ProgramResult r = convert(join_lines(lines));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, kDone);
    const char* names[] = {"NX", "NY", "NZ"};
    const auto first = std::find_if(c.values.begin(), c.values.end(), [](int n) { return n < 1; });
    const std::string path = dir.file("in.map");
    EXPECT_EQ(r.err, "mapconv: warning: line 10 of " + path + ": " +
                         names[first - c.values.begin()] + " is " + std::to_string(*first) +
                         ": the field is empty\nmapconv: warning: line 11 of " + path +
                         " holds data after the last grid point (line 10): the counts on line "
                         "10 may be wrong\n");
    MapValues expected;
    expected.counts = c.values;
    expected.field.clear();
    const std::string out = output();
    EXPECT_EQ(out.size(), c.size);
    EXPECT_EQ(byte_difference(unformatted_map(expected), out), "");
  }
}

TEST_F(ConvertE2e, HeaderTextsAreCutAndPadded) {
  const std::string long_title = "A title of more than eighty characters, " + std::string(50, '=');
  struct Case {
    const char* name;
    std::string title_line, date_line, axes_line;
    std::string title, date;
    std::array<std::string, 3> axes;
  };
  const Case cases[] = {
      {"long title",
       long_title,
       "08-Dec-2026",
       "X Y Z",
       long_title.substr(0, 80),
       "08-Dec-2026",
       {"X", "Y", "Z"}},
      {"empty title and date", "", "", "X Y Z", "", "", {"X", "Y", "Z"}},
      {"title taken verbatim",
       "  'quoted', \"text\" / 1 2 3\t!",
       "08-Dec-2026",
       "X Y Z",
       "  'quoted', \"text\" / 1 2 3\t!",
       "08-Dec-2026",
       {"X", "Y", "Z"}},
      {"a lone CR is part of the title",
       "CR\rinside",
       "d",
       "X Y Z",
       "CR\rinside",
       "d",
       {"X", "Y", "Z"}},
      {"long date",
       "t",
       "Tuesday, 08-Dec-2026 12:00",
       "X Y Z",
       "t",
       "Tuesday, 08-Dec-20",
       {"X", "Y", "Z"}},
      {"long label", "t", "d", "LONGER_THAN_8 Y Z", "t", "d", {"LONGER_T", "Y", "Z"}},
      {"quoted labels", "t", "d", "'X label' \"Y\" 'it''s'", "t", "d", {"X label", "Y", "it's"}},
      {"labels with commas", "t", "d", "AXIS_X,AXIS_Y , 3", "t", "d", {"AXIS_X", "AXIS_Y", "3"}},
      {"repeated label", "t", "d", "2*'AB' C", "t", "d", {"AB", "AB", "C"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> lines = two_point_lines();
    lines[0] = c.title_line;
    lines[1] = c.date_line;
    lines[2] = c.axes_line;
    const ProgramResult r = convert(join_lines(lines));
    expect_done(r);
    MapValues expected;
    expected.title = fixed(c.title, 80);
    expected.date = fixed(c.date, 18);
    for (int n = 0; n < 3; ++n) expected.axes[n] = fixed(c.axes[n], 8);
    EXPECT_EQ(byte_difference(unformatted_map(expected), output()), "");
  }
}

TEST_F(ConvertE2e, LabelsLeftUnassignedAreStoredAsNulBytes) {
  std::vector<std::string> lines = two_point_lines();
  lines[2] = ",Y /";
  const ProgramResult r = convert(join_lines(lines));
  expect_done(r);
  MapValues expected;
  expected.axes = {std::string(8, '\0'), fixed("Y", 8), std::string(8, '\0')};
  EXPECT_EQ(byte_difference(unformatted_map(expected), output()), "");
}

// Different spellings of the same values in a line.
TEST_F(ConvertE2e, ValueSpellings) {
  struct Case {
    int line;  // 1-based line of the two-point map to replace
    std::string text;
    std::array<float, 3> reals;          // for real lines
    std::array<std::int32_t, 3> ints{};  // for integer lines
    std::string warning = "";            // after "mapconv: warning: line N of <path>"
  };
  const Case cases[] = {
      {11, "1 2 3", {1, 2, 3}},
      {11, "1,2,3", {1, 2, 3}},
      {11, "\t1.0\t2.0\t3.0", {1, 2, 3}},
      {11, "1e0 0.2E+1 +3.", {1, 2, 3}},
      {11, "1 2 3 4", {1, 2, 3}},
      {11, "1 2 3 trailing words, ignored", {1, 2, 3}},
      {11, "1 2 3" + std::string(100000, ' ') + "beyond column 80", {1, 2, 3}},
      {11, "-0.25 1.5e-3 3*", {-0.25f, 1.5e-3f, 0.0f}},  // 3* is a null: stays 0
      {11, "1.5,,3.5", {1.5f, 0.0f, 3.5f}},
      {5, "1 2 3", {1, 2, 3}},
      {5, "1,2,3", {1, 2, 3}},
      {6, "1 2 3", {}, {1, 2, 3}},
      {6, "1,2,3", {}, {1, 2, 3}},
      // An integer written with a point or exponent is truncated toward zero;
      // 1e10 keeps the low 32 bits of 10000000000.
      {6,
       "2.9 -2.9 1e10",
       {},
       {2, -2, 1410065408},
       ": ISA is written as 2.9, which is read as an integer cut toward zero: is a header line "
       "missing or shifted?"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("line " + std::to_string(c.line) + ": \"" + c.text + "\"");
    std::vector<std::string> lines = two_point_lines();
    lines[static_cast<std::size_t>(c.line - 1)] = c.text;
    const ProgramResult r = convert(join_lines(lines));
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, kDone);
    EXPECT_EQ(r.err, c.warning.empty() ? ""
                                       : "mapconv: warning: line " + std::to_string(c.line) +
                                             " of " + dir.file("in.map") + c.warning + "\n");
    MapValues expected;
    if (c.line == 11) std::copy(c.reals.begin(), c.reals.end(), expected.field.begin());
    if (c.line == 5) expected.origin = c.reals;
    if (c.line == 6) expected.is = c.ints;
    EXPECT_EQ(byte_difference(unformatted_map(expected), output()), "");
  }
}

// Lines after the field are not converted; data there is only a warning.
TEST_F(ConvertE2e, LinesAfterTheFieldAreNotConverted) {
  std::vector<std::string> lines = two_point_lines();
  lines.insert(lines.end(), {"", " \t ", "garbage that is no map line", "\x1a", "1 2"});
  const ProgramResult r = convert(join_lines(lines));
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.out, kDone);
  EXPECT_EQ(r.err, "mapconv: warning: line 15 of " + dir.file("in.map") +
                       " holds data after the last grid point (line 12): the counts on line 10 "
                       "may be wrong\n");
  EXPECT_EQ(byte_difference(kTwoPointBytes, output()), "");
}

// The input is closed before the output is opened; the longer input file is
// cut to the new contents.
TEST_F(ConvertE2e, OutputMayNameTheInput) {
  std::vector<std::string> lines = two_point_lines();
  lines.insert(lines.end(), 100, "an ignored line after the field");
  write_file(dir.file("in.map"), join_lines(lines));
  const ProgramResult r = run({"in.map", "in.map"});
  EXPECT_EQ(r.out, kDone);
  EXPECT_EQ(r.err, "mapconv: warning: line 13 of " + dir.file("in.map") +
                       " holds data after the last grid point (line 12): the counts on line 10 "
                       "may be wrong\n");
  EXPECT_EQ(byte_difference(kTwoPointBytes, read_file(dir.file("in.map"))), "");
}

TEST_F(ConvertE2e, LongerExistingOutputIsReplacedExactly) {
  write_file(dir.file("out.unf"), std::string(5000, 'x'));
  expect_done(convert(join_lines(two_point_lines())));
  EXPECT_EQ(byte_difference(kTwoPointBytes, output()), "");
}

TEST_F(ConvertE2e, ArgumentsAfterTheSecondAreIgnored) {
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  expect_done(run({"in.map", "out.unf", "third.unf", "fourth"}));
  EXPECT_EQ(byte_difference(kTwoPointBytes, output()), "");
  EXPECT_FALSE(testsupport::file_exists(dir.file("third.unf")));
}

// The example map, with the expected file built from the values as the C
// library reads them.
TEST_F(ConvertE2e, ExampleMapConverts) {
  const std::string text = read_file(MAPCONV_EXAMPLES "/field.map");
  ASSERT_FALSE(text.empty());
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 10u);

  const auto numbers = [](std::string line) {
    for (char& c : line)
      if (c == ',') c = ' ';
    std::vector<std::string> words;
    std::istringstream split(line);
    for (std::string w; split >> w;) words.push_back(w);
    return words;
  };
  const auto reals = [&](const std::string& line) {
    const auto w = numbers(line);
    return std::array<float, 3>{std::strtof(w.at(0).c_str(), nullptr),
                                std::strtof(w.at(1).c_str(), nullptr),
                                std::strtof(w.at(2).c_str(), nullptr)};
  };
  const auto ints = [&](const std::string& line) {
    const auto w = numbers(line);
    return std::array<std::int32_t, 3>{std::stoi(w.at(0)), std::stoi(w.at(1)), std::stoi(w.at(2))};
  };
  MapValues expected;
  expected.title = fixed(lines[0], 80);
  expected.date = fixed(lines[1], 18);
  const auto axes = numbers(lines[2]);
  for (int n = 0; n < 3; ++n) expected.axes[n] = fixed(axes.at(n), 8);
  expected.angle = std::strtof(lines[3].c_str(), nullptr);
  expected.origin = reals(lines[4]);
  expected.is = ints(lines[5]);
  expected.im = ints(lines[6]);
  expected.id = ints(lines[7]);
  expected.spacing = reals(lines[8]);
  expected.counts = ints(lines[9]);
  ASSERT_EQ(expected.counts, (std::array<std::int32_t, 3>{16, 12, 10}));
  expected.field.clear();
  for (std::size_t n = 10; n < 10 + 16 * 12 * 10; ++n) {
    const auto v = reals(lines.at(n));
    expected.field.insert(expected.field.end(), v.begin(), v.end());
  }

  ProgramRun r;
  r.args = {MAPCONV_EXAMPLES "/field.map", "field.unf"};
  r.cwd = dir.path();
  expect_done(run_mapconv(r));
  const std::string out = read_file(dir.file("field.unf"));
  EXPECT_EQ(out.size(), 238u + 10 * (12 * 16 * 12 + 8));
  EXPECT_EQ(byte_difference(unformatted_map(expected), out), "");
}

// FORT_CONVERT21 selects the byte order of the output unit's numbers.
TEST_F(ConvertE2e, ForeignByteOrderOfTheOutput) {
  std::vector<std::string> lines = two_point_lines();
  // Distinct bytes in every number, so that a reversed or unreversed value shows.
  lines[3] = "-1.25";
  lines[4] = "0.1 -2.5 3e7";
  lines[5] = "16909060 -2 7";
  lines[8] = "0.375 8.5 -1e-3";
  MapValues values;
  values.angle = -1.25f;
  values.origin = {0.1f, -2.5f, 3e7f};
  values.is = {16909060, -2, 7};
  values.spacing = {0.375f, 8.5f, -1e-3f};
  const std::string native = unformatted_map(values);

  struct Case {
    const char* env;
    std::string expected;
  };
  const Case cases[] = {
      {"FORT_CONVERT21=big_endian", unformatted_map(values, true)},
      {"FORT_CONVERT21=Big_Endian", unformatted_map(values, true)},
      {"FORT_CONVERT21=NATIVE", native},
      {"FORT_CONVERT21=little_endian", native},
      // The input unit is formatted: no effect.
      {"FORT_CONVERT20=big_endian", native},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.env);
    const ProgramResult r = convert(join_lines(lines), {"LC_ALL=C", c.env});
    expect_done(r);
    EXPECT_EQ(byte_difference(c.expected, output()), "");
  }
  // Foreign real formats: CRAY reverses integers and lengths but keeps 4-byte
  // reals as they are; TYRD writes reals as TYR F (0.5 is 00 40 00 00) and
  // keeps integers and lengths least significant byte first.
  {
    const ProgramResult r = convert(join_lines(two_point_lines()), {"FORT_CONVERT21=CRAY"});
    expect_done(r);
    EXPECT_EQ(output().substr(206, 28), hex("00 00 00 18 00 00 00 3F 00 00 00 3F 00 00 00 3F "
                                            "00 00 00 02 00 00 00 01 00 00 00 01"));
  }
  {
    const ProgramResult r = convert(join_lines(two_point_lines()), {"FORT_CONVERT21=tyrd"});
    expect_done(r);
    EXPECT_EQ(output().substr(206, 28), hex("18 00 00 00 00 40 00 00 00 40 00 00 00 40 00 00 "
                                            "02 00 00 00 01 00 00 00 01 00 00 00"));
  }
  // The texts are never converted.
  const std::string big = unformatted_map(values, true);
  EXPECT_EQ(big.substr(0, 8), hex("00 00 00 50") + "Exam");
  EXPECT_EQ(big.substr(118, 24), native.substr(118, 24));
}

}  // namespace
}  // namespace e2e
