// End to end: standard input redirected from a disk file, shared with the
// caller. However the run ends, the shared file position stands right after
// the last line the converter took, so the next reader of the file gets
// exactly the bytes after it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::write_file;

std::string rest_of(int fd) {
  std::string out;
  char buf[4096];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
    out.append(buf, static_cast<std::size_t>(n));
  return out;
}

// True once the child has ended (a zombie not yet reaped, or gone).
bool has_exited(pid_t pid) {
  const std::string stat = testsupport::read_file("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t paren = stat.rfind(')');
  return paren == std::string::npos || paren + 2 >= stat.size() || stat[paren + 2] == 'Z';
}

class StandardInputE2e : public ConverterTest {};

TEST_F(StandardInputE2e, FilePositionEndsAfterTheLastLineTaken) {
  const std::string map = join_lines(two_point_lines());
  std::vector<std::string> bad_lines = two_point_lines();
  bad_lines[10] = "1.0 abc 0.0";
  std::vector<std::string> big_lines = two_point_lines();
  big_lines[9] = "101 101 101";
  const std::string big_header = join_lines({big_lines.begin(), big_lines.begin() + 10});
  const std::string after = "after the map\nand more\n";
  const std::string prompts = kInputPrompt + kOutputPrompt;
  struct Case {
    const char* name;
    std::vector<std::string> args;
    std::string input;  // the standard input file
    int exit_status;
    std::string out, err;
    std::string left;            // what the next reader gets
    bool console_event = false;  // the map is a FIFO; control-C while it is read
  };
  const Case cases[] = {
      {"map closed by the conversion", {"CONIN$", "out.unf"}, map + after, 0, kDone, "", after},
      {"answers, then the map on the same input",
       {},
       "CONIN$\nout.unf\n" + map + after,
       0,
       prompts + kDone,
       "",
       after},
      {"map left to termination",
       {"CONIN$", "out.unf"},
       big_header + "1 2 3\n" + after,
       0,
       console_message(" Change the program parameter MXS to     3090903"),
       "",
       "1 2 3\n" + after},
      {"severe diagnostic",
       {"CONIN$", "out.unf"},
       join_lines(bad_lines) + after,
       59,
       "",
       severe(59, "list-directed I/O syntax error, unit -5, file Internal List-Directed Read") +
           "mapconv: line 11 of CONIN$, grid point (1, 1, 1):\nmapconv:     1.0 abc "
           "0.0\nmapconv:         ^\n",
       bad_lines[11] + "\n" + after},
      {"console event",
       {},
       "map.fifo\nout.unf\n" + after,
       0,
       prompts,
       "forrtl: error (200): program aborting due to control-C event\r\n",
       after,
       true},
  };
  const std::string fifo = dir.file("map.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // A signal is no console event to a Wine program without a console.
    if (c.console_event && kUnderWine) continue;
    write_file(dir.file("answers.txt"), c.input);
    const int fd = ::open(dir.file("answers.txt").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ProgramRun run;
    run.args = c.args;
    run.cwd = dir.path();
    run.input_fd = fd;
    if (c.console_event) {
      // Once the converter has opened the FIFO it has taken both answers;
      // the writer stays open so that the read waits until the event ends it.
      run.alongside = [&fifo](pid_t pid) {
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
        ::kill(pid, SIGINT);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!has_exited(pid) && std::chrono::steady_clock::now() < deadline)
          std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (writer >= 0) ::close(writer);
      };
    }
    const ProgramResult r = run_mapconv(with_bare_diagnostics(run));
    EXPECT_EQ(r.exit_status, c.exit_status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(rest_of(fd), c.left);
    ::close(fd);
    if (c.out.ends_with(kDone)) {
      EXPECT_EQ(byte_difference(unformatted_map(MapValues{}), output()), "");
    }
  }
}

}  // namespace
}  // namespace e2e
