// End to end: the converter started with standard streams closed, and maps
// read from or written to FIFOs.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::read_file;
using testsupport::write_file;

class SpecialFilesE2e : public ConverterTest {};

// No file of the run ever sits on descriptor 0, 1 or 2: output for a closed
// stream fails as on a closed stream and never lands in the input map.
TEST_F(SpecialFilesE2e, ClosedStandardStreamsNeverReachTheMap) {
  SKIP_UNDER_WINE("Wine gives a closed POSIX descriptor a handle of its own");
  std::vector<std::string> bad = two_point_lines();
  bad[10] = "1.0 abc 0.0";
  const std::string good_map = join_lines(two_point_lines());
  const std::string bad_map = join_lines(bad);
  const std::string one_line = "one line\n";
  struct Case {
    const char* name;
    std::vector<int> closed;
    std::string map;
    int exit_status;
    std::string out, err;
    bool converted;
  };
  const Case cases[] = {
      {"stdout closed, converted",
       {1},
       good_map,
       38,
       "",
       "forrtl: Bad file descriptor\n" + severe(38, "error during write, unit 6, file CONOUT$"),
       true},
      {"stderr closed, reported",
       {2},
       one_line,
       0,
       console_message("Reading error: DATE"),
       "",
       false},
      {"stderr closed, diagnostic", {2}, bad_map, 59, "", "", false},
      {"stdout and stderr closed", {1, 2}, bad_map, 59, "", "", false},
      {"stdin closed, converted", {0}, good_map, 0, kDone, "", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.file("in.map"), c.map);
    std::remove(dir.file("out.unf").c_str());
    ProgramRun run;
    run.args = {"in.map", "out.unf"};
    run.cwd = dir.path();
    run.closed = c.closed;
    const ProgramResult r = run_mapconv(with_bare_diagnostics(run));
    EXPECT_EQ(r.exit_status, c.exit_status);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(read_file(dir.file("in.map")), c.map);
    if (c.converted) {
      EXPECT_EQ(byte_difference(unformatted_map(MapValues{}), output()), "");
    } else {
      EXPECT_FALSE(output_exists());
    }
  }
}

// Opens a FIFO for writing once the converter has it open for reading,
// giving up after a while so that a converter that never opens it cannot
// hang the test.
int open_writer_end(const std::string& path) {
  for (int attempt = 0; attempt < 2000; ++attempt) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      return fd;
    }
    if (errno != ENXIO) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return -1;
}

// The map's end on a FIFO is the end of its data; a FIFO as output receives
// the records.
TEST_F(SpecialFilesE2e, FifoMaps) {
  SKIP_UNDER_WINE("Windows has no FIFOs");
  const std::string fifo = dir.file("map.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string map = join_lines(two_point_lines());
  struct Case {
    const char* name;
    bool fifo_is_input;
    std::string written;  // what the writer sends before it closes the FIFO
    std::string out;
    std::string err = "";
  };
  const Case cases[] = {
      {"whole map", true, map, kDone},
      {"writer stops after the title", true, "Example field\n",
       console_message("Reading error: DATE"),
       "mapconv: " + fifo + " ends after line 1; line 2 (DATE) is missing\n"},
      {"writer sends nothing", true, "", console_message("Reading error: TITLE"),
       "mapconv: " + fifo + " is empty\n"},
      {"output", false, "", kDone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.file("in.map"), map);
    std::string received;
    std::thread other_end([&] {
      sigset_t pipe_signal;
      sigemptyset(&pipe_signal);
      sigaddset(&pipe_signal, SIGPIPE);
      pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);  // a closed reader gives EPIPE
      const int fd = c.fifo_is_input ? open_writer_end(fifo) : ::open(fifo.c_str(), O_RDONLY);
      if (fd < 0) return;
      if (c.fifo_is_input) {
        if (::write(fd, c.written.data(), c.written.size()) < 0) received = "write failed";
      } else {
        char buf[4096];
        for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;)
          received.append(buf, static_cast<std::size_t>(n));
      }
      ::close(fd);
    });
    ProgramRun run;
    run.args = c.fifo_is_input ? std::vector<std::string>{"map.fifo", "out.unf"}
                               : std::vector<std::string>{"in.map", "map.fifo"};
    run.cwd = dir.path();
    run.timeout = std::chrono::seconds(20);
    const ProgramResult r = run_mapconv(with_bare_diagnostics(run));
    // A reader still waiting for a writer that never came is let go.
    if (const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
    other_end.join();
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, c.err);
    if (!c.fifo_is_input) {
      EXPECT_EQ(byte_difference(unformatted_map(MapValues{}), received), "");
    }
    std::remove(dir.file("out.unf").c_str());
  }
}

}  // namespace
}  // namespace e2e
