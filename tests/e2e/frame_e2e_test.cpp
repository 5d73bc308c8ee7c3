// End to end: the run-time frame around the program. Console events at a
// prompt and in the middle of a conversion, the traceback after a severe
// diagnostic, and processor exceptions in a program linked with the run-time.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "e2e/console_signals.h"
#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::read_file;
using testsupport::write_file;

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The traceback's header, and whether a line is a frame line: image, PC (16
// upper-case hex digits), routine, line and source in their columns.
const std::string kHeader =
    "Image              PC                Routine            Line        Source             ";
bool is_frame_line(const std::string& l) {
  if (l.size() < 69 || l[0] == ' ') return false;
  for (const std::size_t blank : {17, 18, 35, 36, 54, 55, 66, 67}) {
    if (l[blank] != ' ') return false;
  }
  for (std::size_t i = 19; i < 35; ++i) {
    if (std::string_view("0123456789ABCDEF").find(l[i]) == std::string_view::npos) return false;
  }
  return true;
}

class FrameE2e : public ConverterTest {
 protected:
  ProgramRun in_dir(std::vector<std::string> args, std::vector<std::string> env = {"LC_ALL=C"}) {
    ProgramRun r;
    r.args = std::move(args);
    r.cwd = dir.path();
    r.env = std::move(env);
    return r;
  }
};

TEST_F(FrameE2e, ConsoleEventsAtThePrompt) {
  SKIP_UNDER_WINE(
      "a signal is no console event to a program without a console; TerminalE2e types them");
  for (const ConsoleSignal& e : kConsoleSignals) {
    SCOPED_TRACE(e.name);
    ProgramRun r = in_dir({});
    r.signal = e.signal;
    r.signal_after = kInputPrompt;
    const ProgramResult result = run_mapconv(r);
    EXPECT_EQ(result.exit_status, e.status);
    EXPECT_EQ(result.out, kInputPrompt);
    EXPECT_EQ(result.err, event_line(e.name));
  }
  // A shut-down request keeps its default action.
  ProgramRun r = in_dir({});
  r.signal = SIGTERM;
  r.signal_after = kInputPrompt;
  const ProgramResult result = run_mapconv(r);
  EXPECT_EQ(result.signal, SIGTERM);
  EXPECT_EQ(result.err, "");
}

// The map comes through a FIFO: the header and one field line first; once the
// converter has taken them, the signal; the last line only afterwards, if at
// all. The test holds the FIFO open for reading too, so that opening it never
// blocks and the bytes still unread can be counted.
class SlowInput {
 public:
  explicit SlowInput(const std::string& path) {
    EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
    fd_ = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  }
  ~SlowInput() { finish(); }

  // Writes `text` and returns once the reader has taken all of it.
  void feed(const std::string& text) {
    ASSERT_EQ(::write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int unread = 0;
    while (::ioctl(fd_, FIONREAD, &unread) == 0 && unread > 0 &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  void finish() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

TEST_F(FrameE2e, ConsoleEventsDuringASlowConversion) {
  SKIP_UNDER_WINE(
      "a signal is no console event to a program without a console; TerminalE2e types them");
  const std::vector<std::string> lines = two_point_lines();
  const std::string first(join_lines({lines.begin(), lines.end() - 1}));
  for (const ConsoleSignal& e : kConsoleSignals) {
    SCOPED_TRACE(e.name);
    std::remove(dir.file("in.map").c_str());
    SlowInput input(dir.file("in.map"));
    ProgramRun r = in_dir({"in.map", "out.unf"});
    r.alongside = [&](pid_t pid) {
      input.feed(first);
      ::kill(pid, e.signal);
    };
    const ProgramResult result = run_mapconv(r);
    EXPECT_EQ(result.exit_status, e.status);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, event_line(e.name));
    EXPECT_FALSE(output_exists());
  }
}

// Started under nohup: the hang-up signal stays ignored.
TEST_F(FrameE2e, IgnoredHangUpChangesNothing) {
  SKIP_UNDER_WINE(
      "a signal is no console event to a program without a console; TerminalE2e types them");
  const std::vector<std::string> lines = two_point_lines();
  SlowInput input(dir.file("in.map"));
  ProgramRun r = in_dir({"in.map", "out.unf"});
  r.ignored_signals = {SIGHUP};
  r.alongside = [&](pid_t pid) {
    input.feed(join_lines({lines.begin(), lines.end() - 1}));
    ::kill(pid, SIGHUP);
    input.feed(lines.back() + "\n");
    input.finish();
  };
  expect_done(run_mapconv(r));
  EXPECT_EQ(byte_difference(unformatted_map(MapValues{}), output()), "");
}

TEST_F(FrameE2e, TracebackAfterASevereDiagnostic) {
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  const std::string line =
      severe(29, "file not found, unit 21, file " + dir.file("missing/out.unf"));
  const std::string log = dir.file("diagnostics.log");
  struct Case {
    const char* name;
    std::vector<std::string> env;
    bool traceback_on_stderr;
    bool traceback_in_log;
  };
  const Case cases[] = {
      {"default", {"LC_ALL=C"}, true, false},
      {"switched off", {"LC_ALL=C", "FOR_DISABLE_STACK_TRACE=true"}, false, false},
      {"switch false", {"LC_ALL=C", "FOR_DISABLE_STACK_TRACE=0"}, true, false},
      {"log only",
       {"LC_ALL=C", "FOR_DISABLE_DIAGNOSTIC_DISPLAY=true", "FOR_DIAGNOSTIC_LOG_FILE=" + log},
       false,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::remove(log.c_str());
    const ProgramResult r = run_mapconv(in_dir({"in.map", "missing/out.unf"}, c.env));
    EXPECT_EQ(r.exit_status, 29);
    const std::string logged = testsupport::file_exists(log) ? as_written(read_file(log)) : "";
    const std::string& traced = c.traceback_in_log ? logged : r.err;
    if (!c.traceback_on_stderr && !c.traceback_in_log) {
      EXPECT_EQ(r.err, line);
      continue;
    }
    EXPECT_EQ(c.traceback_in_log ? r.err : logged, "");
    ASSERT_EQ(traced.substr(0, line.size()), line);
    const std::vector<std::string> trace = lines_of(traced.substr(line.size()));
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace[0], kHeader);
    EXPECT_LE(trace.size(), 21u);
    for (std::size_t i = 1; i < trace.size(); ++i) EXPECT_TRUE(is_frame_line(trace[i])) << trace[i];
  }
}

// No argument vector at all: argument 0 is the program's own path, and both
// names are asked for.
TEST_F(FrameE2e, EmptyArgumentVector) {
  SKIP_UNDER_WINE("a Windows process always has a command line");
  write_file(dir.file("in.map"), join_lines(two_point_lines()));
  ProgramRun r = in_dir({});
  r.empty_argv = true;
  r.input = "in.map\nout.unf\n";
  const ProgramResult result = run_mapconv(r);
  EXPECT_EQ(result.out, kInputPrompt + kOutputPrompt + kDone);
  EXPECT_EQ(result.exit_status, 0);
}

class FaultE2e : public FrameE2e {
 protected:
  ProgramResult fault(const std::string& mode, std::vector<std::string> env = {"LC_ALL=C"}) {
    write_file(dir.file("before.unf"), kBeforeTheRun);
    // A run killed by a signal it does not catch may leave its replacement.
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      if (entry.path().filename().string().starts_with(".before.unf."))
        std::filesystem::remove(entry.path());
    return run_fault_program(in_dir({mode}, std::move(env)));
  }
  // The file the program wrote a record to before the fault: replaced when
  // the run went on to its normal end, otherwise as it was before the run;
  // no replacement is left beside it either way.
  void expect_file_written_before(const ProgramResult& r) {
    const bool completed = r.out.ends_with("returned\n");
    EXPECT_EQ(read_file(dir.file("before.unf")),
              completed
                  ? testsupport::bytes({8, 0, 0, 0}) + "complete" + testsupport::bytes({8, 0, 0, 0})
                  : kBeforeTheRun);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
      EXPECT_FALSE(entry.path().filename().string().starts_with(".before.unf.")) << entry.path();
  }
  static constexpr const char* kBeforeTheRun = "before the run\n";
};

TEST_F(FaultE2e, ExceptionsAreReportedWithATracebackFromTheFault) {
  struct Case {
    const char* mode;
    const char* routine;  // the faulting routine
    std::string line;
    int status;          // low byte of the identifier
    int signal;          // the signal behind it
    std::uint32_t code;  // the exception behind it
  };
  const Case cases[] = {
      {"access", "provoke_segv", severe(157, "Program Exception - access violation"), 157, SIGSEGV,
       0xC0000005},
      {"intdiv", "provoke_intdiv", severe(164, "Program Exception - integer divide by zero"), 164,
       SIGFPE, 0xC0000094},
      {"overflow", "provoke_overflow", severe(170, "Program Exception - stack overflow"), 170,
       SIGSEGV, 0xC00000FD},
      {"illegal", "provoke_illegal", severe(168, "Program Exception - illegal instruction"), 168,
       SIGILL, 0xC000001D},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode);
    const ProgramResult r = fault(c.mode);
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.out, "");
    ASSERT_EQ(r.err.substr(0, c.line.size()), c.line);
    const std::vector<std::string> trace = lines_of(r.err.substr(c.line.size()));
    ASSERT_GE(trace.size(), 2u);
    EXPECT_EQ(trace[0], kHeader);
    EXPECT_TRUE(is_frame_line(trace[1])) << trace[1];
    EXPECT_EQ(trace[1].substr(0, 19), "mapconv_fault_pro  ");
    EXPECT_EQ(trace[1].substr(37, 17), fixed(c.routine, 17));
    expect_file_written_before(r);

    const ProgramResult ignored = fault(c.mode, {"LC_ALL=C", "FOR_IGNORE_EXCEPTIONS=true"});
    EXPECT_TRUE(ended_by_exception(ignored, c.signal, c.code))
        << "signal " << ignored.signal << ", status " << ignored.exit_status;
    EXPECT_EQ(ignored.err.find("forrtl"), std::string::npos);
    // Killed without a line of ours run, the run still changed no file.
    EXPECT_EQ(read_file(dir.file("before.unf")), kBeforeTheRun);
  }
}

TEST_F(FaultE2e, OtherWaysThroughTheHandler) {
  struct Case {
    const char* mode;
    std::vector<std::string> env;
    std::string first_line;
    int status;
    std::string out;
    std::string also = "";  // further text of the report
  };
  const Case cases[] = {
      {"breakpoint", {}, severe(159, "Program Exception - breakpoint"), 159, ""},
      {"intdiv",
       {"FOR_ENABLE_VERBOSE_STACK_TRACE=true"},
       severe(164, "Program Exception - integer divide by zero") +
           "\n\nTraceback symbolic or hex stack dump follows:\n\n"
           "\nHex Dump Of Exception Record Context Information:\n\n",
       164,
       "",
       "--------- Frame # 0 ---------------------------------------\n"
       "Image:   mapconv_fault_program\nRoutine: provoke_intdiv\n"},
      // In debugger mode a breakpoint leaves the guarded region: the run
      // ends normally, but its routine did not finish.
      {"breakpoint", {"FOR__IS_DEBUGGER_PRESENT=yes"}, "", 0, ""},
      // A floating-point trap warns, then the program ends normally, its
      // routine unfinished.
      {"fpdiv", {}, "forrtl: error (73): floating divide by zero\r\n", 0, ""},
      // Underflows go on with a zero result; the first two are reported.
      {"underflow", {}, "forrtl: error (74): floating underflow\r\n", 0, "returned\n"},
      {"code", {}, severe(172, "Program Exception - exception code = 0x2a (42)"), 172, ""},
      {"severe",
       {"FOR_GENERATE_DEBUG_EXCEPTION=true"},
       severe(169, "Program Exception - noncontinuable exception"),
       169,
       ""},
      // Debugger mode without a debugger: the break does nothing.
      {"severe",
       {"FOR__IS_DEBUGGER_PRESENT=yes", "FOR_DISABLE_STACK_TRACE=yes"},
       severe(29, "file not found, unit 31, file " + dir.file("missing/out.unf")),
       29,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.mode) + (c.env.empty() ? "" : " " + c.env[0]));
    std::vector<std::string> env{"LC_ALL=C"};
    env.insert(env.end(), c.env.begin(), c.env.end());
    const ProgramResult r = fault(c.mode, env);
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err.substr(0, c.first_line.size()), c.first_line);
    if (c.first_line.empty()) {
      EXPECT_EQ(r.err, "");
    }
    EXPECT_NE(r.err.find(c.also), std::string::npos) << r.err;
    if (std::string(c.mode) == "underflow") {
      std::size_t reports = 0;
      for (std::size_t at = r.err.find(c.first_line); at != std::string::npos;
           at = r.err.find(c.first_line, at + 1))
        ++reports;
      EXPECT_EQ(reports, 2u);  // the third underflow is only counted
    }
    expect_file_written_before(r);
  }
}

// In debugger mode a severe exception is reported, then passed on: without a
// debugger the platform's default action ends the process.
TEST_F(FaultE2e, DebuggerModePassesSevereExceptionsOn) {
  const ProgramResult r = fault("intdiv", {"LC_ALL=C", "FOR__IS_DEBUGGER_PRESENT=yes"});
  EXPECT_TRUE(ended_by_exception(r, SIGFPE, 0xC0000094))
      << "signal " << r.signal << ", status " << r.exit_status;
  const std::string line = severe(164, "Program Exception - integer divide by zero");
  EXPECT_EQ(r.err.substr(0, line.size()), line);
  expect_file_written_before(r);
}

// The program's own handler for the interrupt signal takes control-C.
TEST_F(FaultE2e, OwnInterruptHandlerTakesControlC) {
  SKIP_UNDER_WINE("a signal is no console event to a program without a console");
  ProgramRun r = in_dir({"own-interrupt"});
  r.signal = SIGINT;
  r.signal_after = "ready\n";
  const ProgramResult result = run_fault_program(r);
  EXPECT_EQ(result.exit_status, 42);
  EXPECT_EQ(result.out, "ready\nown handler\n");
  EXPECT_EQ(result.err, "");
}

}  // namespace
}  // namespace e2e
