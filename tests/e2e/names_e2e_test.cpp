// End to end: names that reach the platform as the user wrote them. The null
// device by its reserved name, and names outside ASCII on the command line
// and typed at the prompts: the file written is the file named, or the run
// says why not; never another file.
#include <algorithm>
#include <filesystem>
#include <set>

#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::read_file;
using testsupport::write_file;

class NamesE2e : public ConverterTest {
 protected:
  // Names outside ASCII come from a user whose locale holds them; Wine takes
  // names from Linux in the locale's character set.
  ProgramResult run(std::vector<std::string> args, std::string input = "") {
    return ConverterTest::run(std::move(args), std::move(input), {"LC_ALL=C.UTF-8"});
  }

  // Every entry of the scratch directory, by its bytes.
  std::set<std::string> entries() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      names.insert(e.path().filename().string());
    return names;
  }
};

TEST_F(NamesE2e, NullDeviceTakesTheMapAndLeavesNoFile) {
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  for (const char* name : {"NUL", "nul"}) {
    SCOPED_TRACE(name);
    expect_done(run({"in.map", name}));
    EXPECT_EQ(entries(), std::set<std::string>{"in.map"});
  }
  // Named at the prompt as well.
  const ProgramResult typed = run({}, "in.map\nNUL\n");
  EXPECT_EQ(typed.exit_status, 0);
  EXPECT_EQ(typed.out, kInputPrompt + kOutputPrompt + kDone);
  EXPECT_EQ(entries(), std::set<std::string>{"in.map"});
}

struct NameCase {
  const char* script;
  const char* input;  // UTF-8
  const char* output;
};
const NameCase kNames[] = {
    {"Greek", "\u03A9mega.map", "\u03A9out.unf"},
    {"AccentedLatin", "caf\u00E9.map", "r\u00E9sum\u00E9 \u00E0 l'\u00E9t\u00E9.unf"},
    {"Cjk", "\u5730\u56FE.map", "\u8F93\u51FA.unf"},
};

// Each name given on the command line, and typed at the prompts.
TEST_F(NamesE2e, NamesOutsideAscii) {
  const std::string map = join_lines(two_point_lines());
  for (const NameCase& c : kNames) {
    for (const bool typed : {false, true}) {
      SCOPED_TRACE(std::string(c.script) + (typed ? ", typed" : ", as arguments"));
      std::filesystem::remove_all(dir.path());
      std::filesystem::create_directory(dir.path());
      write_file(dir.file(c.input), map);
      const ProgramResult r =
          typed ? run({}, std::string(c.input) + "\n" + c.output + "\n") : run({c.input, c.output});
      EXPECT_EQ(r.exit_status, 0);
      EXPECT_EQ(r.out, (typed ? kInputPrompt + kOutputPrompt : "") + kDone);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(entries(), (std::set<std::string>{c.input, c.output}));
      EXPECT_EQ(byte_difference(unformatted_map(MapValues{}), read_file(dir.file(c.output))), "");
    }
  }
}

// Characters that a Windows name cannot hold: the run says so for the unit
// and writes nothing; on Linux they are ordinary characters.
TEST_F(NamesE2e, CharactersAWindowsNameCannotHold) {
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  for (const char* name : {"a?b.unf", "a*b.unf", "a<b.unf", "a>b.unf", "a|b.unf", "a\"b.unf"}) {
    SCOPED_TRACE(name);
    const ProgramResult r = run({"in.map", name});
    if (kUnderWine) {
      EXPECT_EQ(r.exit_status, 43);
      EXPECT_EQ(r.err,
                severe(43, "file name specification error, unit 21, file " + dir.file(name)));
      EXPECT_EQ(entries(), std::set<std::string>{"in.map"});
    } else {
      expect_done(r);
      EXPECT_EQ(entries(), (std::set<std::string>{"in.map", name}));
      std::filesystem::remove(dir.file(name));
    }
  }
}

// A failure names the file as the user wrote it.
TEST_F(NamesE2e, FailureNamesTheFileAsGiven) {
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  const ProgramResult r = run({"in.map", "\u03A9dir/\u03A9out.unf"});
  EXPECT_EQ(r.exit_status, 29);
  EXPECT_EQ(r.err,
            severe(29, "file not found, unit 21, file " + dir.file("\u03A9dir/\u03A9out.unf")));
  EXPECT_EQ(entries(), std::set<std::string>{"in.map"});
}

}  // namespace
}  // namespace e2e
