// End to end: names asked for on the console when the command line lacks
// them, with the answers coming through a pipe.
#include <cstdio>

#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::file_exists;
using testsupport::read_file;
using testsupport::write_file;

class ConsoleE2e : public ConverterTest {
 protected:
  void SetUp() override { write_file(dir.file("in.map"), join_lines(two_point_lines())); }
  std::string converted() const { return unformatted_map(MapValues{}); }
};

TEST_F(ConsoleE2e, Dialogues) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string answers;
    std::string out;
    bool converted;
  };
  const Case cases[] = {
      {"both names asked", {}, "in.map\nout.unf\n", kInputPrompt + kOutputPrompt + kDone, true},
      {"answers with CR LF",
       {},
       "in.map\r\nout.unf\r\n",
       kInputPrompt + kOutputPrompt + kDone,
       true},
      {"last answer without a line end",
       {},
       "in.map\nout.unf",
       kInputPrompt + kOutputPrompt + kDone,
       true},
      {"only the output asked", {"in.map"}, "out.unf\n", kOutputPrompt + kDone, true},
      {"lines after the answers are not read",
       {},
       "in.map\nout.unf\nmore\n",
       kInputPrompt + kOutputPrompt + kDone,
       true},
      {"end of file at the first prompt", {}, "", kInputPrompt, false},
      {"Ctrl-Z at the first prompt", {}, "\x1a\nout.unf\n", kInputPrompt, false},
      {"end of file at the second prompt", {}, "in.map\n", kInputPrompt + kOutputPrompt, false},
      {"end of file at the only prompt", {"in.map"}, "", kOutputPrompt, false},
      {"empty first answer",
       {},
       "\nout.unf\n",
       kInputPrompt + kOutputPrompt + console_message("Cannot open the MAP file"),
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(dir.file("out.unf").c_str());
    const ProgramResult r = run(c.args, c.answers);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(output_exists(), c.converted);
    if (c.converted) {
      EXPECT_EQ(byte_difference(converted(), output()), "");
    }
  }
}

// An empty output answer is passed on as it is; the output open has no error
// check.
TEST_F(ConsoleE2e, EmptySecondAnswer) {
  const ProgramResult r = run({}, "in.map\n\n");
  EXPECT_EQ(r.exit_status, 29);
  EXPECT_EQ(r.out, kInputPrompt + kOutputPrompt);
  EXPECT_EQ(r.err, severe(29, "file not found, unit 21, file \"Unknown\""));
}

// Names are 80 characters: a longer name, on the command line or typed, is
// cut. Files of both the full and the cut name exist; only the cut ones may
// be used.
TEST_F(ConsoleE2e, LongNamesAreCutTo80Characters) {
  const std::string input80 = std::string(76, 'i') + ".map";
  const std::string output80 = std::string(76, 'o') + ".unf";
  const std::string input_long = input80 + "-beyond-80";
  const std::string output_long = output80 + "-beyond-80";
  write_file(dir.file(input80), join_lines(two_point_lines()));
  write_file(dir.file(input_long), "");  // would give "Reading error: TITLE"

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string answers;
    std::string out;
  };
  const Case cases[] = {
      {"arguments", {input_long, output_long}, "", kDone},
      {"typed", {}, input_long + "\n" + output_long + "\n", kInputPrompt + kOutputPrompt + kDone},
      // Longer than any initial line buffer of the console reader.
      {"typed, very long lines",
       {},
       input80 + std::string(20000, 'x') + "\n" + output80 + std::string(20000, 'y') + "\n",
       kInputPrompt + kOutputPrompt + kDone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(dir.file(output80).c_str());
    const ProgramResult r = run(c.args, c.answers);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(byte_difference(converted(), read_file(dir.file(output80))), "");
    EXPECT_FALSE(file_exists(dir.file(output_long)));
  }
}

}  // namespace
}  // namespace e2e
