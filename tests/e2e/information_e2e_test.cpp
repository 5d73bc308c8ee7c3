// End to end: --help, -h and --version in place of the first or second file
// name, and every other argument still a file name.
#include <cerrno>
#include <filesystem>
#include <set>

#include "e2e/fixture.h"
#include "e2e/full_file_system.h"

namespace e2e {
namespace {

using testsupport::write_file;

const std::string kVersion = "mapconv " MAPCONV_VERSION "\n";

bool is_usage(const std::string& out) {
  return out.starts_with("Usage: mapconv [INPUT [OUTPUT]]\n") && out.ends_with("\n") &&
         out.find('\r') == std::string::npos && out.find("man mapconv") != std::string::npos;
}

class InformationE2e : public ConverterTest {
 protected:
  void SetUp() override { write_file(dir.file("in.map"), join_lines(two_point_lines())); }
  std::set<std::string> files() const {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir.path()))
      names.insert(e.path().filename().string());
    return names;
  }
};

TEST_F(InformationE2e, RequestsInTheFirstTwoArguments) {
  struct Case {
    std::vector<std::string> args;
    bool usage;  // otherwise the version
  };
  const Case cases[] = {
      {{"--help"}, true},
      {{"-h"}, true},
      {{"--version"}, false},
      {{"in.map", "--help"}, true},
      {{"in.map", "-h"}, true},
      {{"in.map", "--version"}, false},
      {{"--help", "--version"}, true},
      {{"--version", "-h"}, false},
      {{"-h", "in.map", "out.unf"}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + (c.args.size() > 1 ? c.args[1] : ""));
    // Answers are ready on the console: a request must not read them.
    const ProgramResult r = run(c.args, "in.map\nout.unf\n");
    EXPECT_EQ(r.exit_status, 0);
    // The C library's text, not a record.
    const std::string out = as_written(r.out);
    if (c.usage) {
      EXPECT_TRUE(is_usage(out)) << out;
    } else {
      EXPECT_EQ(out, kVersion);
    }
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(files(), std::set<std::string>{"in.map"});
  }
}

// Anything that is not exactly a request is a name, as before.
TEST_F(InformationE2e, OtherArgumentsAndAnswersAreNames) {
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string answers;
    std::string out;
    const char* written;  // the file converted into, if any
    std::string err = "";
  };
  const Case cases[] = {
      {"request as the third argument", {"in.map", "out.unf", "--help"}, "", kDone, "out.unf"},
      {"other case", {"--HELP"}, "", kOutputPrompt, nullptr},
      {"with a value", {"--help=x"}, "", kOutputPrompt, nullptr},
      {"trailing blank", {"-h "}, "", kOutputPrompt, nullptr},
      {"typed as the input name",
       {},
       "--help\nout.unf\n",
       kInputPrompt + kOutputPrompt + console_message("Cannot open the MAP file"),
       nullptr,
       "mapconv: cannot open --help: " + reason(ENOENT) + "\n"},
      {"typed as the output name", {"in.map"}, "--version\n", kOutputPrompt + kDone, "--version"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& name : files())
      if (name != "in.map") std::filesystem::remove(dir.file(name));
    const ProgramResult r = run(c.args, c.answers);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(mask_reasons(r.err), c.err);
    std::set<std::string> expected{"in.map"};
    if (c.written != nullptr) expected.insert(c.written);
    EXPECT_EQ(files(), expected);
    if (c.written != nullptr) {
      EXPECT_EQ(byte_difference(unformatted_map(MapValues{}),
                                testsupport::read_file(dir.file(c.written))),
                "");
    }
  }
}

// A usage text that cannot be written fails like any console output.
// Standard output on a full disk: a small file system filled up, or where
// the test may not mount one, Linux's full device.
TEST_F(InformationE2e, UnwritableStandardOutput) {
  testsupport::ScratchDir dir;
  FullFileSystem full(dir.file("small"));
  const std::string target = full.refusal().empty() ? dir.file("small/help.txt") : "/dev/full";
  if (!testsupport::file_exists("/dev/full") && !full.refusal().empty())
    GTEST_SKIP() << full.refusal() << ", and no /dev/full";
  const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  ASSERT_GE(fd, 0);
  ProgramRun p;
  p.args = {"--help"};
  p.output_fd = fd;
  p.env = {"LC_ALL=C", "FOR_DISABLE_STACK_TRACE=true"};
  const ProgramResult r = run_mapconv(p);
  ::close(fd);
  EXPECT_EQ(r.exit_status, 38);
  const std::string line = severe(38, "error during write, unit 6, file CONOUT$");
  if (kUnderWine) {
    // Wine gives a standard handle inherited from Linux a code of its own
    // choosing for the full disk ("Out of paper." seen); the system's text
    // for it comes first all the same.
    ASSERT_GT(r.err.size(), line.size());
    EXPECT_TRUE(r.err.starts_with("forrtl: ")) << r.err;
    EXPECT_EQ(r.err.substr(r.err.size() - line.size()), line);
    EXPECT_EQ(r.err.find("\r\n"), r.err.size() - line.size() - 2) << r.err;
  } else {
    EXPECT_EQ(r.err, disk_full_line() + line);
  }
}

}  // namespace
}  // namespace e2e
