#include "rt/diagnostics.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>

#include "recio/io_api.h"
#include "recio/io_return.h"
#include "recio/unit.h"
#include "recio/unit_table.h"
#include "rt/memory.h"
#include "rt/startup.h"
#include "support/test_files.h"
#include "support/units.h"

namespace {

using recio::IoArg;
using recio::IoControlBlock;
using testsupport::bytes;
using testsupport::read_file;
using testsupport::ScratchDir;

using namespace testsupport::statements;

// The converter's OPEN of its output: FILE, STATUS, FORM and BLANK.
int program_open(std::int32_t unit, std::uint32_t flags, const std::string& name) {
  return testsupport::open_unit(unit, flags,
                                {{recio::kKeyFile, name},
                                 {recio::kKeyStatus, "unknown"},
                                 {recio::kKeyForm, "unformatted"},
                                 {recio::kKeyBlank, 2}});
}

int write_text(std::int32_t unit, std::uint32_t flags, std::string_view text) {
  const IoArg args[] = {IoArg::val(static_cast<std::int64_t>(text.size())),
                        IoArg::address(text.data())};
  IoControlBlock cb{};
  return recio::for_write_seq(&cb, unit, flags, kTextEnd, args);
}

// Points standard error at a file, so that the bytes can be compared exactly.
void capture_stderr(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(fd, STDERR_FILENO);
  ::close(fd);
}

// The same for one scope of the test process itself.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) : saved_(::dup(STDERR_FILENO)) {
    capture_stderr(path);
  }
  ~StderrCapture() {
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
  }

 private:
  int saved_;
};

std::string not_found_line(std::int32_t unit, const std::string& name) {
  return "forrtl: severe (29): file not found, unit " + std::to_string(unit) + ", file " + name +
         "\r\n";
}

TEST(IoReturn, OutcomeByStatementBranchesAndCondition) {
  constexpr std::uint32_t kErr = recio::kFlagErrorCheck;
  constexpr std::uint32_t kEndBr = recio::kFlagEndBranch;
  constexpr std::uint32_t kEor = recio::kFlagEorBranch;
  constexpr std::uint32_t kConv = recio::kFlagOutConvStatus;
  struct Case {
    std::uint32_t flags;
    msg::Id id;
    int status;
    int result;
  };
  const Case cases[] = {
      // Error check: end of file and end of record keep their meaning.
      {kErr, msg::kEndOfFile, 24, -1},
      {kErr, msg::kEndOfFileEncountered, 613, -1},
      {kErr, msg::kEndOfRecord, 268, -2},
      {kErr, msg::kEndOfRecordEncountered, 758, -2},
      {kErr, msg::kTooManyRecords, 27, 27},
      {kErr, msg::kFileNotFound, 29, 29},
      {kErr, msg::kUnformattedToFormatted, 31, 31},
      {kErr, msg::kWriteError, 0x10026, 38},  // low 16 bits of the status
      {kErr | kEndBr, msg::kReadError, 39, 39},
      // End branch alone.
      {kEndBr, msg::kEndOfFile, 24, -1},
      {kEndBr, msg::kTooManyRecords, 27, -1},
      {kEndBr, msg::kEndOfFileEncountered, 613, -1},
      // End-of-record branch alone.
      {kEor, msg::kEndOfRecord, 268, -2},
      {kEor, msg::kEndOfRecordEncountered, 758, -2},
      // Output conversion errors returned as status.
      {kConv, msg::kOutputConversion, 63, 63},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.flags << " " << c.id);
    recio::UnitBlock u;
    u.unit = 7;
    u.statement.flags = c.flags;
    u.statement.os_error = ENOSPC;
    EXPECT_EQ(recio::for__io_return(recio::kUnitLeave, c.id, c.status, &u), c.result);
    EXPECT_EQ(u.statement.os_error, 0);
  }
}

TEST(IoReturn, LesserConditionsPrintAndReturnTheirNumber) {
  ScratchDir dir;
  const std::string capture = dir.file("stderr");
  const std::string long_name = "/" + std::string(300, 'n');
  struct Case {
    std::uint32_t flags;
    msg::Id id;
    std::string file_name;
    std::string line;
  };
  const Case cases[] = {
      {0, msg::kOutputConversion, "/some/file",
       "forrtl: error (63): output conversion error, unit 7, file /some/file\r\n"},
      // The end branch does not cover other conditions.
      {recio::kFlagEndBranch, msg::kOutputConversion, "/some/file",
       "forrtl: error (63): output conversion error, unit 7, file /some/file\r\n"},
      {0, msg::kForeignConversion, "/some/file",
       "forrtl: info (95): floating point conversion failed\r\n"},
      // A unit without a name, and a name cut to the 256 characters a unit
      // block holds (within the 259 a diagnostic shows).
      {0, msg::kOutputConversion, "",
       "forrtl: error (63): output conversion error, unit 7, file \"Unknown\"\r\n"},
      {0, msg::kOutputConversion, long_name,
       "forrtl: error (63): output conversion error, unit 7, file " + long_name.substr(0, 256) +
           "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    recio::UnitBlock u;
    u.unit = 7;
    u.statement.flags = c.flags;
    u.connection.file_name = c.file_name;
    int result = 0;
    {
      StderrCapture redirect(capture);
      result = recio::for__io_return(recio::kUnitLeave, c.id, 1, &u);
    }
    EXPECT_EQ(result, msg::number(c.id));
    EXPECT_EQ(read_file(capture), c.line);
  }
}

TEST(Diagnostics, ErrorClassPrintsTheErrorWordAndReturns) {
  ScratchDir dir;
  const std::string capture = dir.file("stderr");
  {
    StderrCapture redirect(capture);
    rt::for__issue_diagnostic_text(msg::kEventAbort, "CONTROL-C");
  }
  EXPECT_EQ(read_file(capture), "forrtl: error (200): program aborting due to CONTROL-C event\r\n");
}

TEST(DiagnosticsDeathTest, OpenInAMissingDirectoryWithoutErrorCheck) {
  ScratchDir dir;
  const std::string name = dir.file("no-such-dir/out.map");
  const std::string capture = dir.file("stderr");
  EXPECT_EXIT(
      {
        capture_stderr(capture);
        ::setenv("FOR_DISABLE_STACK_TRACE", "true", 1);
        rt::for__read_diagnostic_switches();
        program_open(21, recio::kFlagsNoBranch, name);
      },
      testing::ExitedWithCode(29), "");
  EXPECT_EQ(read_file(capture), not_found_line(21, name));
}

TEST(DiagnosticsDeathTest, ExactLineMatchedByRegex) {
  SKIP_ON_WINDOWS("the backslashes of a Windows path read as regular-expression escapes");
  // The same line seen through the death test's own capture of standard error.
  ScratchDir dir;
  const std::string name = dir.file("no-such-dir/out.map");
  ::setenv("FOR_DISABLE_STACK_TRACE", "true", 1);
  rt::for__read_diagnostic_switches();
  EXPECT_EXIT(program_open(21, recio::kFlagsNoBranch, name), testing::ExitedWithCode(29),
              "^forrtl: severe \\(29\\): file not found, unit 21, file " + name + "\r\n$");
  ::unsetenv("FOR_DISABLE_STACK_TRACE");
  rt::for__read_diagnostic_switches();
}

// A severe condition ends the run as a failure: files the units were
// replacing keep what they held before it.
TEST(DiagnosticsDeathTest, UnitsWrittenBeforeLeaveTheirFilesAsTheyWere) {
  ScratchDir dir;
  const std::string first = dir.file("first.map");
  const std::string second = dir.file("second.map");
  const std::string capture = dir.file("stderr");
  testsupport::write_file(second, std::string(100, 'x'));
  EXPECT_EXIT(
      {
        capture_stderr(capture);
        ::setenv("FOR_DISABLE_STACK_TRACE", "true", 1);
        rt::for__read_diagnostic_switches();
        if (program_open(60, recio::kFlagsNoBranch, first) != 0) std::_Exit(100);
        write_text(60, recio::kFlagsNoBranch, "header");
        write_text(60, recio::kFlagsNoBranch, "plane");
        // A chain unit too, over a longer existing file.
        if (program_open(6000, recio::kFlagsNoBranch, second) != 0) std::_Exit(101);
        write_text(6000, recio::kFlagsNoBranch, "only");
        program_open(21, recio::kFlagsNoBranch, dir.file("no-such-dir/out.map"));
        std::_Exit(102);
      },
      testing::ExitedWithCode(29), "");
  EXPECT_FALSE(testsupport::file_exists(first));
  EXPECT_EQ(read_file(second), std::string(100, 'x'));
  EXPECT_EQ(read_file(capture), not_found_line(21, dir.file("no-such-dir/out.map")));
  // Nor is a replacement left beside them.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(dir.path()))
    ++files;
  EXPECT_EQ(files, 2u);  // second.map and the captured stderr
}

// A harness's seam takes the end of the process in place of the exit, after
// the exit handler has closed every unit; the unit table is usable again.
TEST(EndProcessSeam, TakesTheSevereEndAndTheExitStatus) {
  struct End {
    std::uint32_t status;
  };
  rt::for__set_end_process_seam([](std::uint32_t status) { throw End{status}; });
  ScratchDir dir;
  const std::string first = dir.file("first.map");
  const std::string missing = dir.file("no-such-dir/out.map");
  std::uint32_t ended = 0;
  {
    StderrCapture redirect(dir.file("stderr"));
    ::setenv("FOR_DISABLE_STACK_TRACE", "true", 1);
    rt::for__read_diagnostic_switches();
    ASSERT_EQ(program_open(60, recio::kFlagsNoBranch, first), 0);
    write_text(60, recio::kFlagsNoBranch, "header");
    try {
      program_open(21, recio::kFlagsNoBranch, missing);
    } catch (const End& end) {
      ended = end.status;
    }
  }
  EXPECT_EQ(ended, 0xC000001Du);
  EXPECT_FALSE(testsupport::file_exists(first));  // the failed run replaced nothing
  EXPECT_EQ(read_file(dir.file("stderr")), not_found_line(21, missing));
  EXPECT_EQ(program_open(60, recio::kFlagsNoBranch, first), 0);
  const std::int32_t status = 7;
  ended = 0;
  try {
    rt::for_exit(&status);
  } catch (const End& end) {
    ended = end.status;
  }
  EXPECT_EQ(ended, 7u);
  EXPECT_EQ(recio::for__find_unit_block(60), nullptr);  // closed and freed by the exit handler
  rt::for__set_end_process_seam(nullptr);
}

TEST(DiagnosticsDeathTest, WriteFailurePrintsTheOperatingSystemErrorFirst) {
  SKIP_ON_WINDOWS("no /dev/full");
  ScratchDir dir;
  const std::string capture = dir.file("stderr");
  EXPECT_EXIT(
      {
        capture_stderr(capture);
        ::setenv("FOR_DISABLE_STACK_TRACE", "true", 1);
        rt::for__read_diagnostic_switches();
        if (program_open(45, recio::kFlagsNoBranch, "/dev/full") != 0) std::_Exit(100);
        write_text(45, recio::kFlagsNoBranch, "no room");
        std::_Exit(101);
      },
      testing::ExitedWithCode(38), "");
  EXPECT_EQ(read_file(capture), "forrtl: " + std::string(std::strerror(ENOSPC)) +
                                    "\nforrtl: severe (38): error during write, unit 45, file "
                                    "/dev/full\r\n");
}

TEST(DiagnosticsDeathTest, DisplayDisabledWithLogFile) {
  SKIP_ON_WINDOWS("the log file is written in text mode (CR CR LF), checked end to end");
  ScratchDir dir;
  const std::string name = dir.file("missing/out.map");
  const std::string capture = dir.file("stderr");
  const std::string log = dir.file("diagnostics.log");
  testsupport::write_file(log, "earlier\n");
  EXPECT_EXIT(
      {
        capture_stderr(capture);
        ::setenv("FOR_DISABLE_STACK_TRACE", "true", 1);
        ::setenv("FOR_DISABLE_DIAGNOSTIC_DISPLAY", "true", 1);
        ::setenv("FOR_DIAGNOSTIC_LOG_FILE", log.c_str(), 1);
        rt::for__read_diagnostic_switches();
        program_open(21, recio::kFlagsNoBranch, name);
      },
      testing::ExitedWithCode(29), "");
  EXPECT_EQ(read_file(capture), "");
  EXPECT_EQ(read_file(log), "earlier\n" + not_found_line(21, name));
}

TEST(DiagnosticsDeathTest, DumpFlags) {
  ScratchDir dir;
  const std::string name = dir.file("missing/out.map");
  const std::string capture = dir.file("stderr");
  const std::string line = not_found_line(21, name);
  const std::string abort_text = "\r\nabnormal program termination\r\n";
  struct Case {
    const char* f77;  // null: unset
    const char* qelfort;
    int status;
    std::string output;
  };
  const Case cases[] = {
      {"y", nullptr, 3, line + abort_text},
      {"Yes", nullptr, 3, line + abort_text},
      {nullptr, "Y", 3, line + abort_text},
      {"n", "y", 29, line},
      {"", "y", 29, line},
      {"1", nullptr, 29, line},
      {nullptr, nullptr, 29, line},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << (c.f77 ? c.f77 : "-") << "/" << (c.qelfort ? c.qelfort : "-"));
    if (!testsupport::environment_holds(c.f77)) continue;
    EXPECT_EXIT(
        {
          capture_stderr(capture);
          ::setenv("FOR_DISABLE_STACK_TRACE", "true", 1);
          ::unsetenv("f77_dump_flag");
          ::unsetenv("qelfort_dump_flag");
          if (c.f77 != nullptr) ::setenv("f77_dump_flag", c.f77, 1);
          if (c.qelfort != nullptr) ::setenv("qelfort_dump_flag", c.qelfort, 1);
          rt::for__read_diagnostic_switches();
          program_open(21, recio::kFlagsNoBranch, name);
        },
        testing::ExitedWithCode(c.status), "");
    EXPECT_EQ(read_file(capture), c.output);
  }
}

}  // namespace

namespace {

// The program's context: two lines that name the condition they follow.
std::size_t context_lines(msg::Id id, char* text, std::size_t length, std::size_t cap) {
  const int n = std::snprintf(text + length, cap - length, "context of %d\nsecond line\n",
                              static_cast<int>(msg::number(id)));
  return n > 0 && static_cast<std::size_t>(n) < cap - length ? length + static_cast<std::size_t>(n)
                                                             : length;
}

// After the diagnostic line, whatever the stack-trace switch says, and also
// when memory is short for the buffer. (Without the run-time's start-up there
// is no traceback here; the end-to-end tests see the context before it.)
TEST(DiagnosticsDeathTest, ContextLinesFollowTheSevereLine) {
  struct Case {
    const char* name;
    const char* stack_trace;
    std::size_t vm_limit;  // 0: no limit
  };
  const Case cases[] = {
      {"traceback off", "true", 0},
      {"traceback on", "false", 0},
      {"line-sized buffer", "false", 1000},
  };
  const std::string expected =
      "forrtl: severe (29): file not found, unit 21, file x.map\r\ncontext of 29\nsecond line\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string capture = dir.file("stderr");
    EXPECT_EXIT(
        {
          capture_stderr(capture);
          ::setenv("FOR_DISABLE_STACK_TRACE", c.stack_trace, 1);
          rt::for__read_diagnostic_switches();
          rt::for__set_context_writer(context_lines);
          rt::for__set_vm_limit(c.vm_limit);
          rt::for__issue_diagnostic_io(msg::kFileNotFound, 21, "x.map");
        },
        testing::ExitedWithCode(29), "");
    EXPECT_EQ(read_file(capture), expected);
  }
}

// The switches are read once: a variable changed afterwards has no effect
// until they are read again.
TEST(Diagnostics, SwitchesAreReadOnceUntilReadAgain) {
  ScratchDir dir;
  const std::string capture = dir.file("stderr");
  const std::string line = "forrtl: error (200): program aborting due to CONTROL-C event\r\n";
  auto shown = [&] {
    StderrCapture redirect(capture);
    rt::for__issue_diagnostic_text(msg::kEventAbort, "CONTROL-C");
    return read_file(capture);
  };
  ::setenv("FOR_DISABLE_DIAGNOSTIC_DISPLAY", "true", 1);
  rt::for__read_diagnostic_switches();
  EXPECT_TRUE(rt::for__diagnostic_switches().display_disabled);
  EXPECT_EQ(shown(), "");
  ::unsetenv("FOR_DISABLE_DIAGNOSTIC_DISPLAY");
  EXPECT_EQ(shown(), "") << "the variable was read again at a diagnostic";
  rt::for__read_diagnostic_switches();
  EXPECT_FALSE(rt::for__diagnostic_switches().display_disabled);
  EXPECT_EQ(shown(), line);
}

// A lesser condition has no context: it is no failure of the data.
TEST(Diagnostics, NoContextForALesserCondition) {
  ScratchDir dir;
  const std::string capture = dir.file("stderr");
  rt::for__set_context_writer(context_lines);
  {
    StderrCapture redirect(capture);
    rt::for__issue_diagnostic_text(msg::kEventAbort, "CONTROL-C");
  }
  rt::for__set_context_writer(nullptr);
  EXPECT_EQ(read_file(capture), "forrtl: error (200): program aborting due to CONTROL-C event\r\n");
}

}  // namespace
