// End to end: names asked for on the console when the command line lacks
// them, with the answers coming through a pipe.
#include <sys/stat.h>

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
    std::string err = "";
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
       false,
       "mapconv: the input file name is empty\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(dir.file("out.unf").c_str());
    const ProgramResult r = run(c.args, c.answers);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
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
// Names are used whole up to 256 characters; a longer one, given or typed,
// ends the run with the file name error of its unit before any file is used.
TEST_F(ConsoleE2e, LongNamesAreUsedWholeOrRefused) {
  const std::string folder(120, 'd');
  ASSERT_EQ(::mkdir(dir.file(folder).c_str(), 0755), 0);
  const std::string input256 = folder + "/" + std::string(131, 'i') + ".map";
  const std::string output256 = folder + "/" + std::string(131, 'o') + ".unf";
  ASSERT_EQ(input256.size(), 256u);
  write_file(dir.file(input256), join_lines(two_point_lines()));
  const std::string input257 = "x" + input256;
  const std::string output257 = "x" + output256;
  const std::string long_line = output256 + std::string(20000, 'y');
  auto refused = [](int unit, const std::string& name) {
    return severe(43,
                  "file name specification error, unit " + std::to_string(unit) + ", file " + name);
  };

  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string answers;
    std::string out;
    std::string err;  // empty: converted
  };
  const Case cases[] = {
      {"arguments", {input256, output256}, "", kDone, ""},
      {"typed", {}, input256 + "\n" + output256 + "\n", kInputPrompt + kOutputPrompt + kDone, ""},
      {"input argument too long", {input257, output256}, "", "", refused(20, input257)},
      {"output argument too long", {input256, output257}, "", "", refused(21, output257)},
      {"typed input too long",
       {},
       input257 + "\nout.unf\n",
       kInputPrompt,
       refused(20, input257.substr(0, 256))},
      // Longer than any initial line buffer of the console reader.
      {"typed output very long",
       {input256},
       long_line + "\n",
       kOutputPrompt,
       refused(21, long_line.substr(0, 256))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(dir.file(output256).c_str());
    const ProgramResult r = run(c.args, c.answers);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    if (c.err.empty()) {
      EXPECT_EQ(r.exit_status, 0);
      EXPECT_EQ(byte_difference(converted(), read_file(dir.file(output256))), "");
    } else {
      EXPECT_EQ(r.exit_status, 43);
      EXPECT_FALSE(file_exists(dir.file(output256)));
      EXPECT_FALSE(file_exists(dir.file(output257)));
    }
  }
}

}  // namespace
}  // namespace e2e
