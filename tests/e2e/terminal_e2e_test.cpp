// End to end: what a user types at a terminal. The converter runs on a
// pseudo-terminal (its standard input and output; standard error stays a
// pipe, so the diagnostic is read apart from the screen), and the keys go in
// as a user types them: the terminal, not the test, turns control keys into
// console events and the end of input. This reaches the Windows program too,
// where Wine makes the terminal its console.
#include <pty.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <thread>

#include "e2e/console_signals.h"
#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::read_file;
using testsupport::write_file;

// Text to type once the screen shows `after` (from the previous step on; an
// empty text follows the previous step at once).
struct Keys {
  std::string after;
  std::string typed;
};

struct TerminalResult {
  int exit_status = -1;
  int signal = 0;
  bool timed_out = false;
  std::string screen;  // all the terminal showed, echo and control sequences included
  std::string err;
};

// Keys typed on a cue other than the screen: run on a thread of its own with
// the terminal, until it has typed them or `ended` is set.
using Typist = std::function<void(int terminal, const std::atomic<bool>& ended)>;

// `locale`: the terminal's character set, which Wine's console follows.
TerminalResult run_in_terminal(const std::vector<std::string>& args, const std::string& cwd,
                               const std::vector<Keys>& keys, const char* locale = "C",
                               const char* program = MAPCONV_BINARY,
                               const Typist& typist = nullptr) {
  std::vector<std::string> argv_strings{program};
  argv_strings.insert(argv_strings.end(), args.begin(), args.end());
#ifdef MAPCONV_LAUNCHER
  argv_strings.insert(argv_strings.begin(), MAPCONV_LAUNCHER);
#endif
  std::vector<std::string> env_strings{std::string("LC_ALL=") + locale, "TERM=dumb",
                                       "FOR_DISABLE_STACK_TRACE=true"};
  std::vector<char*> argv = detail::c_strings(argv_strings);
  std::vector<char*> envp = detail::c_strings(env_strings);
  detail::Pipe err = detail::make_pipe();

  int master = -1;
  const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  if (pid < 0) detail::fail("forkpty");
  if (pid == 0) {
    if (::dup2(err.write_end.get(), 2) < 0 || ::chdir(cwd.c_str()) != 0) ::_exit(126);
    detail::default_signals_in_child();
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  detail::UniqueFd terminal(master);
  err.write_end.reset();

  TerminalResult result;
  std::size_t step = 0, seen = 0;
  const auto type_what_is_due = [&] {
    while (step < keys.size()) {
      const std::size_t at = result.screen.find(keys[step].after, seen);
      if (at == std::string::npos) return;
      seen = at + keys[step].after.size();
      // A moment for the program to reach its read after the text that
      // announced it.
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      const std::string& typed = keys[step].typed;
      if (::write(terminal.get(), typed.data(), typed.size()) != static_cast<ssize_t>(typed.size()))
        detail::fail("write to the terminal");
      ++step;
    }
  };
  type_what_is_due();
  // On its own descriptor: the loop below closes the terminal's at its end.
  std::atomic<bool> ended{false};
  detail::UniqueFd typist_terminal(typist ? ::dup(terminal.get()) : -1);
  std::thread typist_thread;
  if (typist) typist_thread = std::thread(typist, typist_terminal.get(), std::cref(ended));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  char buffer[4096];
  // The terminal reports the end of the child's side as an error (EIO).
  while (terminal.get() >= 0 || err.read_end.get() >= 0) {
    pollfd fds[2];
    nfds_t n = 0;
    if (terminal.get() >= 0) fds[n++] = {terminal.get(), POLLIN, 0};
    if (err.read_end.get() >= 0) fds[n++] = {err.read_end.get(), POLLIN, 0};
    if (!detail::poll_or_kill(fds, n, deadline, pid)) {
      result.timed_out = true;
      break;
    }
    for (nfds_t i = 0; i < n; ++i) {
      if (fds[i].revents == 0) continue;
      const bool screen = fds[i].fd == terminal.get();
      const ssize_t r = ::read(fds[i].fd, buffer, sizeof buffer);
      if (r <= 0) {
        if (r < 0 && (errno == EAGAIN || errno == EINTR)) continue;
        (screen ? terminal : err.read_end).reset();
        continue;
      }
      (screen ? result.screen : result.err).append(buffer, static_cast<std::size_t>(r));
      if (screen) type_what_is_due();
    }
  }
  ended.store(true);
  if (typist_thread.joinable()) typist_thread.join();
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) detail::fail("waitpid");
  }
  if (WIFEXITED(status)) result.exit_status = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.signal = WTERMSIG(status);
  result.err = as_written(result.err);
  return result;
}

struct TypedEvent {
  const char* name;
  const char* key;
  int status;
  bool under_wine;  // Wine turns the key into the event
};
// Ctrl-C, and Ctrl-\ for control-BREAK as the terminal sends it. Wine ends a
// program on Ctrl-\ (the quit signal) and has no key for control-BREAK.
const TypedEvent kTypedEvents[] = {{"control-C", "\x03", 0, true},
                                   {"control-BREAK", "\x1c", 1, false}};

class TerminalE2e : public ConverterTest {};

TEST_F(TerminalE2e, EventTypedAtThePrompt) {
  for (const TypedEvent& e : kTypedEvents) {
    SCOPED_TRACE(e.name);
    if (kUnderWine && !e.under_wine) continue;
    const TerminalResult r = run_in_terminal({}, dir.path(), {{"(input)", e.key}});
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, e.status);
    EXPECT_NE(r.screen.find("formatted MAP filename (input) [<RET>=exit]:"), std::string::npos)
        << r.screen;
    EXPECT_EQ(r.err, event_line(e.name));
  }
}

// The map is typed at the terminal (the input file named at the prompt is
// the console itself), so the conversion waits for the user in the middle of
// the field, blocked in a console read; the event ends it there. An earlier
// file of the output's name keeps its contents: an interrupted run replaces
// nothing.
TEST_F(TerminalE2e, EventTypedDuringAConversion) {
  const std::vector<std::string> lines = two_point_lines();
  std::string typed;
  for (std::size_t n = 0; n + 1 < lines.size(); ++n) typed += lines[n] + "\r";
  for (const TypedEvent& e : kTypedEvents) {
    SCOPED_TRACE(e.name);
    if (kUnderWine && !e.under_wine) continue;
    write_file(dir.file("out.unf"), "earlier contents");
    const TerminalResult r = run_in_terminal(
        {}, dir.path(),
        {{"(input)", "CONIN$\r"}, {"(output)", "out.unf\r"}, {"", typed}, {"", e.key}});
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, e.status);
    EXPECT_EQ(r.err, event_line(e.name));
    EXPECT_EQ(r.screen.find("conversion done"), std::string::npos) << r.screen;
    EXPECT_EQ(read_file(dir.file("out.unf")), "earlier contents");
  }
}

// Types `key` once `ready` holds, looking often, unless the run ends first.
Typist type_when(std::string key, std::function<bool()> ready) {
  return [key = std::move(key), ready = std::move(ready)](int terminal,
                                                          const std::atomic<bool>& ended) {
    while (!ended.load() && !ready()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // A key that cannot be typed shows as a run that was not interrupted.
    if (ended.load()) return;
    const ssize_t typed = ::write(terminal, key.data(), key.size());
    static_cast<void>(typed);
  };
}

// mapdump's text goes to FILE under a temporary name, renamed when whole. An
// event typed while the text is being written ends the run with the event's
// line and status, leaves the earlier FILE as it was and no temporary behind.
// The map is large, so the key comes while the text grows; a run that still
// finished first must have written the whole text.
TEST_F(TerminalE2e, EventTypedWhileMapdumpWritesAFile) {
  MapValues map;
  map.counts = {100, 100, 100};
  map.field.assign(3u * 100 * 100 * 100, 0.0f);
  for (std::size_t n = 0; n < map.field.size(); ++n)
    map.field[n] = static_cast<float>(n % 977) * 0.125f - 50.0f;
  write_file(dir.file("big.unf"), unformatted_map(map));
  const std::string earlier = "an earlier dump\n";
  const std::string temporary = dir.file("out.txt.mapdump-0");
  // Once the text has grown past its first writes.
  const auto text_growing = [&] {
    std::error_code ec;
    return std::filesystem::file_size(temporary, ec) >= (1u << 20) && !ec;
  };
  const auto temporaries_left = [&] {
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with("out.txt.mapdump-")) left.push_back(name);
    }
    return left;
  };
  for (const TypedEvent& e : kTypedEvents) {
    if (kUnderWine && !e.under_wine) continue;
    int interrupted = 0;
    // A fast machine may finish the text before the key arrives: a few tries.
    for (int attempt = 0; attempt < 3 && interrupted == 0; ++attempt) {
      SCOPED_TRACE(std::string(e.name) + ", attempt " + std::to_string(attempt + 1));
      write_file(dir.file("out.txt"), earlier);
      const TerminalResult r = run_in_terminal({"-o", "out.txt", "big.unf"}, dir.path(), {}, "C",
                                               MAPDUMP_BINARY, type_when(e.key, text_growing));
      EXPECT_FALSE(r.timed_out);
      EXPECT_TRUE(temporaries_left().empty()) << testing::PrintToString(temporaries_left());
      if (r.err.empty()) {
        EXPECT_EQ(r.exit_status, 0);
        EXPECT_GT(read_file(dir.file("out.txt")).size(), 3u * 100 * 100 * 100 * 10);
        continue;
      }
      ++interrupted;
      EXPECT_EQ(r.err, event_line(e.name));
      EXPECT_EQ(r.exit_status, e.status);
      EXPECT_EQ(read_file(dir.file("out.txt")), earlier);
    }
    EXPECT_EQ(interrupted, 1) << e.name << " never came while the text was written";
  }
}

// The map comes through a FIFO whose writer stops after a few planes, so the
// key comes while mapdump waits for input, its text partly written.
TEST_F(TerminalE2e, EventTypedWhileMapdumpWaitsForItsMap) {
  SKIP_UNDER_WINE("a FIFO is a POSIX file");
  MapValues map;
  map.counts = {100, 100, 40};
  map.field.assign(3u * 100 * 100 * 40, 1.5f);
  const std::string bytes = unformatted_map(map);
  const std::string fifo = dir.file("map.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string temporary = dir.file("out.txt.mapdump-0");
  for (const TypedEvent& e : kTypedEvents) {
    SCOPED_TRACE(e.name);
    write_file(dir.file("out.txt"), "an earlier dump\n");
    // Half the map, then the writer holds the FIFO open and sends no more.
    std::atomic<bool> half_written{false}, done{false};
    std::thread writer([&] {
      // Should mapdump end early, the write fails instead of ending the test.
      sigset_t pipe_signal;
      sigemptyset(&pipe_signal);
      sigaddset(&pipe_signal, SIGPIPE);
      ::pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
      const int fd = ::open(fifo.c_str(), O_WRONLY);
      if (fd < 0) return;
      const std::size_t half = bytes.size() / 2;
      for (std::size_t at = 0; at < half;) {
        const ssize_t n = ::write(fd, bytes.data() + at, half - at);
        if (n <= 0) break;
        at += static_cast<std::size_t>(n);
      }
      half_written.store(true);
      while (!done.load()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
      ::close(fd);
    });
    // All of the half sent, some text out, and the reader at rest in its wait.
    const auto waiting = [&] {
      std::error_code ec;
      if (!half_written.load() || std::filesystem::file_size(temporary, ec) == 0 || ec)
        return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      return true;
    };
    const TerminalResult r = run_in_terminal({"-o", "out.txt", "map.fifo"}, dir.path(), {}, "C",
                                             MAPDUMP_BINARY, type_when(e.key, waiting));
    done.store(true);
    writer.join();
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, e.status);
    EXPECT_EQ(r.err, event_line(e.name));
    EXPECT_EQ(read_file(dir.file("out.txt")), "an earlier dump\n");
    EXPECT_FALSE(testsupport::file_exists(temporary));
  }
}

// The end of input typed at the first prompt ends the run without a word.
TEST_F(TerminalE2e, EndOfInputTypedAtThePrompt) {
  SKIP_UNDER_WINE("the line editing of Wine's console drops a typed Ctrl-Z");
  const TerminalResult r = run_in_terminal({}, dir.path(), {{"(input)", "\x04"}});
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.exit_status, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.screen.find("(output)"), std::string::npos) << r.screen;
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

// Names typed at the console in three scripts name the files they spell: the
// typed characters reach the file calls unchanged, whatever the console's own
// code page was.
TEST_F(TerminalE2e, NamesOutsideAsciiTypedAtTheConsole) {
  struct Case {
    const char* script;
    const char* input;
    const char* output;
  };
  const Case cases[] = {
      {"Greek", "\u03A9mega.map", "\u03A9out.unf"},
      {"AccentedLatin", "caf\u00E9.map", "r\u00E9sum\u00E9.unf"},
      {"Cjk", "\u5730\u56FE.map", "\u8F93\u51FA.unf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directory(dir.path());
    write_file(dir.file(c.input), join_lines(two_point_lines()));
    const TerminalResult r = run_in_terminal(
        {}, dir.path(),
        {{"(input)", std::string(c.input) + "\r"}, {"(output)", std::string(c.output) + "\r"}},
        "C.UTF-8");
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.screen.find("conversion done."), std::string::npos) << r.screen;
    EXPECT_EQ(byte_difference(unformatted_map(MapValues{}), read_file(dir.file(c.output))), "");
  }
}

}  // namespace
}  // namespace e2e
