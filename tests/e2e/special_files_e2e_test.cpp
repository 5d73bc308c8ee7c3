// End to end: maps read from or written to FIFOs.
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
  const std::string fifo = dir.file("map.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string map = join_lines(two_point_lines());
  struct Case {
    const char* name;
    bool fifo_is_input;
    std::string written;  // what the writer sends before it closes the FIFO
    std::string out;
  };
  const Case cases[] = {
      {"whole map", true, map, kDone},
      {"writer stops after the title", true, "Example field\n",
       console_message("Reading error: DATE")},
      {"writer sends nothing", true, "", console_message("Reading error: TITLE")},
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
    const ProgramResult r = run_mapconv(run);
    // A reader still waiting for a writer that never came is let go.
    if (const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK); fd >= 0) ::close(fd);
    other_end.join();
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.err, "");
    if (!c.fifo_is_input) EXPECT_EQ(byte_difference(unformatted_map(MapValues{}), received), "");
    std::remove(dir.file("out.unf").c_str());
  }
}

}  // namespace
}  // namespace e2e
