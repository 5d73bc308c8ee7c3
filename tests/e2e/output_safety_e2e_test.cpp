// The output file end to end: replaced whole or not at all, whatever ends
// the run (a console event at any point, a full disk, a failed name), never
// mixed by parallel runs; console events that end a run blocked in the
// platform; standard output that carries the map alone; device names that
// are whole names only.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "e2e/console_signals.h"
#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::file_exists;
using testsupport::read_file;
using testsupport::write_file;

const std::string kControlC = "forrtl: error (200): program aborting due to control-C event\r\n";

// A map of nx * ny * nz points whose values depend on `seed`.
std::string generated_map(int nx, int ny, int nz, int seed) {
  std::string text = "Generated map " + std::to_string(seed) +
                     "\n09-Dec-2026\nXA YA ZA\n45.0\n0 0 0\n0 0 0\n1 1 1\n" + std::to_string(nx) +
                     " " + std::to_string(ny) + " " + std::to_string(nz) + "\n0.1 0.1 0.1\n" +
                     std::to_string(nx) + " " + std::to_string(ny) + " " + std::to_string(nz) +
                     "\n";
  const long points = static_cast<long>(nx) * ny * nz;
  text.reserve(text.size() + static_cast<std::size_t>(points) * 44);
  char line[96];
  for (long p = 0; p < points; ++p) {
    const int n = std::snprintf(line, sizeof line, "%.7E %.7E %.7E\n", std::sin(p * 0.37 + seed),
                                3.5 * std::cos(p * 0.11), static_cast<double>(p % 17 - seed));
    text.append(line, static_cast<std::size_t>(n));
  }
  return text;
}

// The 1,000,000-point map, made once.
const std::string& million_point_map() {
  static const std::string map = generated_map(100, 100, 100, 1);
  return map;
}

// Names in `dir` that a replacement of `name` would have.
std::vector<std::string> replacements_left(const std::string& dir, const std::string& name) {
  std::vector<std::string> left;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string file = entry.path().filename().string();
    if (file.starts_with("." + name + ".")) left.push_back(file);
  }
  return left;
}

class OutputSafety : public ConverterTest {
 protected:
  ProgramRun in_dir(std::vector<std::string> args) {
    ProgramRun r;
    r.args = std::move(args);
    r.cwd = dir.path();
    r.env = {"LC_ALL=C", "FOR_DISABLE_STACK_TRACE=true"};
    return r;
  }
  // The bytes `map_file` converts to, written by name.
  std::string reference(const std::string& map_file) {
    const ProgramResult r = run({map_file, "reference.unf"});
    EXPECT_EQ(r.out, kDone);
    std::string bytes = read_file(dir.file("reference.unf"));
    std::filesystem::remove(dir.file("reference.unf"));
    return bytes;
  }
};

// A tmpfs of `bytes` mounted on a fresh directory, unmounted at the end;
// mounted() is false (with the reason) where this process may not mount.
class SmallTmpfs {
 public:
  SmallTmpfs(const std::string& path, std::size_t bytes) : path_(path) {
    std::filesystem::create_directory(path_);
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, options.c_str()) == 0) {
      mounted_ = true;
    } else {
      reason_ = std::string("cannot mount a tmpfs here: ") + std::strerror(errno);
    }
  }
  ~SmallTmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string path_;
  bool mounted_ = false;
  std::string reason_;
};

// Control-C at many points of a 1,000,000-point conversion: to a new file,
// over an existing one, and in place over the map itself. Each run ends
// converted, with the new map complete, or interrupted, with the file as it
// was before the run; never with a replacement left.
TEST_F(OutputSafety, ControlCAnywhereLeavesTheFileWholeOrAsItWas) {
  SKIP_UNDER_WINE("Wine cannot deliver console events from outside");
  write_file(dir.file("big.map"), million_point_map());
  const std::string converted = reference("big.map");
  const std::string old_output = "an older output\n";
  struct Case {
    const char* name;
    std::string target;
    std::optional<std::string> before;  // nothing: absent
  };
  const Case cases[] = {
      {"new file", "out.unf", std::nullopt},
      {"existing file", "out.unf", old_output},
      {"in place", "big.map", million_point_map()},
  };
  // Milliseconds after the start: through the reading, the writing and the
  // end of a conversion that takes about a tenth of a second here.
  const int delays[] = {3, 20, 50, 90};
  int interrupted = 0;
  for (const Case& c : cases) {
    for (const int delay : delays) {
      SCOPED_TRACE(std::string(c.name) + ", Ctrl-C after " + std::to_string(delay) + " ms");
      const std::string target = dir.file(c.target);
      std::filesystem::remove(dir.file("out.unf"));
      if (c.before && read_file(target) != *c.before) write_file(target, *c.before);
      ProgramRun r = in_dir({"big.map", c.target});
      r.alongside = [delay](pid_t pid) {
        std::this_thread::sleep_for(std::chrono::milliseconds(delay));
        ::kill(pid, SIGINT);
      };
      const ProgramResult result = run_mapconv(r);
      EXPECT_TRUE(replacements_left(dir.path(), c.target).empty());
      const std::optional<std::string> now =
          file_exists(target) ? std::optional(read_file(target)) : std::nullopt;
      if (result.out == kDone) {
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_TRUE(now == converted) << "converted, but not to the whole map";
        continue;
      }
      // Killed before the run-time took the signal, or interrupted by it.
      if (result.signal != SIGINT) {
        ++interrupted;
        EXPECT_EQ(result.exit_status, 0);
        EXPECT_EQ(result.err, kControlC);
      }
      EXPECT_TRUE(now == c.before) << "the file changed: " << (now ? now->size() : 0) << " bytes";
    }
  }
  EXPECT_GT(interrupted, 0) << "no Ctrl-C came during a conversion";
}

// A full disk: the good earlier output stays, nothing else is left.
TEST_F(OutputSafety, DiskFullKeepsTheEarlierOutput) {
  SmallTmpfs small(dir.file("small"), 64 * 1024);
  if (!small.mounted()) GTEST_SKIP() << small.reason();
  write_file(dir.file("big.map"), generated_map(40, 40, 40, 2));
  const std::string earlier = std::string(20000, 'e');
  const std::string target = dir.file("small/out.unf");
  write_file(target, earlier);
  ::chmod(target.c_str(), 0640);
  const ProgramResult r = run({"big.map", "small/out.unf"});
  EXPECT_EQ(r.exit_status, 38);
  EXPECT_NE(r.err.find("severe (38): error during write, unit 21"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(target), earlier);
  EXPECT_TRUE(replacements_left(dir.file("small"), "out.unf").empty());
  struct stat st {};
  ASSERT_EQ(::stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Eight conversions of three maps to one path at once: the file is always
// exactly one of the three outputs, never planes of two.
TEST_F(OutputSafety, ParallelRunsToOnePathLeaveOneWholeOutput) {
  SKIP_UNDER_WINE(
      "Windows share modes refuse a run the file another one holds open; and 24 starts of Wine");
  std::vector<std::string> outputs;
  for (int m = 0; m < 3; ++m) {
    const std::string name = "map" + std::to_string(m) + ".map";
    write_file(dir.file(name), generated_map(60, 60, 25 + m, m));
    outputs.push_back(reference(name));
  }
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<std::thread> runs;
    std::atomic<int> done{0};
    for (int i = 0; i < 8; ++i) {
      runs.emplace_back([&, i] {
        const ProgramResult r =
            run_mapconv(in_dir({"map" + std::to_string(i % 3) + ".map", "out.unf"}));
        if (r.out == kDone && r.exit_status == 0) ++done;
      });
    }
    for (std::thread& t : runs) t.join();
    EXPECT_EQ(done.load(), 8);
    const std::string result = read_file(dir.file("out.unf"));
    EXPECT_TRUE(result == outputs[0] || result == outputs[1] || result == outputs[2])
        << "a mix of " << result.size() << " bytes";
    EXPECT_TRUE(replacements_left(dir.path(), "out.unf").empty());
  }
}

// A successful run over an existing file keeps its mode, and a symbolic link
// keeps pointing at the file it replaced.
TEST_F(OutputSafety, ReplacementKeepsModeAndLinks) {
  SKIP_UNDER_WINE("POSIX modes and links");
  write_file(dir.file("in.map"), generated_map(4, 3, 2, 3));
  const std::string converted = reference("in.map");
  write_file(dir.file("out.unf"), "old");
  ::chmod(dir.file("out.unf").c_str(), 0604);
  expect_done(run({"in.map", "out.unf"}));
  EXPECT_EQ(read_file(dir.file("out.unf")), converted);
  struct stat st {};
  ASSERT_EQ(::stat(dir.file("out.unf").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0604u);

  std::filesystem::create_directory(dir.file("real"));
  write_file(dir.file("real/target.unf"), "old");
  std::filesystem::create_symlink("real/target.unf", dir.file("link.unf"));
  expect_done(run({"in.map", "link.unf"}));
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link.unf")));
  EXPECT_EQ(read_file(dir.file("real/target.unf")), converted);
  EXPECT_TRUE(replacements_left(dir.file("real"), "target.unf").empty());
  EXPECT_TRUE(replacements_left(dir.path(), "out.unf").empty());
  EXPECT_TRUE(replacements_left(dir.path(), "link.unf").empty());
}

// Every refusal of the name itself comes as before, and leaves nothing.
TEST_F(OutputSafety, RefusedNamesLeaveNoReplacement) {
  write_file(dir.file("in.map"), generated_map(2, 2, 2, 4));
  std::filesystem::create_directory(dir.file("adir"));
  struct Case {
    std::string name;
    int status;
    std::string text;
  };
  const Case cases[] = {
      {"adir", 9, "permission to access file denied"},
      {"missing/out.unf", 29, "file not found"},
      {std::string(260, 'n') + ".unf", 43, "file name specification error"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    const ProgramResult r = run({"in.map", c.name});
    EXPECT_EQ(r.exit_status, c.status);
    EXPECT_NE(r.err.find(c.text), std::string::npos) << r.err;
    std::size_t files = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
    EXPECT_EQ(files, 2u);  // in.map and adir
  }
  // A bad conversion selection is refused at OPEN: no file appears.
  const ProgramResult r = run({"in.map", "new.unf"}, "", {"LC_ALL=C", "FORT_CONVERT21=bogus"});
  EXPECT_EQ(r.exit_status, 46);
  EXPECT_FALSE(file_exists(dir.file("new.unf")));
  EXPECT_TRUE(replacements_left(dir.path(), "new.unf").empty());
}

// Control-C, control-BREAK and a hang-up end a run blocked in the platform
// within a second: opening a FIFO nobody reads, writing to one nobody
// empties. The wait for the block is a handshake: the kernel names where
// the main thread sleeps.
TEST_F(OutputSafety, ConsoleEventsEndBlockedCalls) {
  SKIP_UNDER_WINE("Wine cannot deliver console events from outside");
  write_file(dir.file("big.map"), generated_map(60, 60, 20, 5));
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const bool in_write : {false, true}) {
    for (const ConsoleSignal& e : kConsoleSignals) {
      SCOPED_TRACE(std::string(in_write ? "write, " : "open, ") + e.name);
      // A reader that never reads lets the open through and fills the FIFO.
      const int reader = in_write ? ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK) : -1;
      std::chrono::steady_clock::duration took{};
      ProgramRun r = in_dir({"big.map", "fifo"});
      r.timeout = std::chrono::seconds(20);
      r.alongside = [&](pid_t pid) {
        // Linux: wait_for_partner in the open, pipe_write (or a variant) in the write.
        took = signal_when_asleep_in(pid, e.signal, {"partner", "pipe"});
      };
      const ProgramResult result = run_mapconv(r);
      if (reader >= 0) ::close(reader);
      EXPECT_EQ(result.exit_status, e.status);
      EXPECT_EQ(result.err, event_line(e.name));
      EXPECT_LT(took, std::chrono::seconds(1));
    }
  }
}

// With descriptors for little more than the standard streams the console
// events still work, and a conversion still converts.
TEST_F(OutputSafety, ConsoleEventsWithFewDescriptors) {
  SKIP_UNDER_WINE("no descriptor limit for a Windows process");
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's run-time needs descriptors of its own to load";
#endif
  write_file(dir.file("in.map"), generated_map(3, 2, 2, 8));
  const std::string converted = reference("in.map");
  ProgramRun r = in_dir({});
  r.open_files_limit = 4;
  r.signal = SIGINT;
  r.signal_after = kInputPrompt;
  const ProgramResult interrupted = run_mapconv(r);
  EXPECT_EQ(interrupted.exit_status, 0);
  EXPECT_EQ(interrupted.out, kInputPrompt);
  EXPECT_EQ(interrupted.err, kControlC);
  write_file(dir.file("out.unf"), "old");
  ProgramRun c = in_dir({"in.map", "out.unf"});
  c.open_files_limit = 4;
  const ProgramResult done = run_mapconv(c);
  EXPECT_EQ(done.out, kDone);
  EXPECT_EQ(read_file(dir.file("out.unf")), converted);
}

// The map on standard output by any name: standard output carries its bytes
// alone, the result line goes to standard error.
TEST_F(OutputSafety, MapOnStandardOutputMovesTheConsoleToStandardError) {
  SKIP_UNDER_WINE("Linux names of standard output");
  write_file(dir.file("in.map"), generated_map(5, 4, 3, 6));
  const std::string converted = reference("in.map");
  for (const char* name : {"/dev/stdout", "/proc/self/fd/1", "CON", "con", "USER", "CONOUT$"}) {
    SCOPED_TRACE(name);
    // Into a file, as `mapconv in.map /dev/stdout > f`.
    const std::string f = dir.file("f");
    std::filesystem::remove(f);
    const int fd = ::open(f.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ProgramRun r = in_dir({"in.map", name});
    r.output_fd = fd;
    const ProgramResult to_file = run_mapconv(r);
    ::close(fd);
    EXPECT_EQ(to_file.exit_status, 0);
    EXPECT_EQ(to_file.err, kDone);
    EXPECT_EQ(byte_difference(converted, read_file(f)), "");
    // Through a pipe.
    const ProgramResult piped = run_mapconv(in_dir({"in.map", name}));
    EXPECT_EQ(piped.err, kDone);
    EXPECT_EQ(byte_difference(converted, piped.out), "");
  }
  // A map elsewhere leaves the console where it was.
  expect_done(run({"in.map", "out.unf"}));
}

// On Linux a device name is the whole last component only: with an
// extension it is an ordinary file. The whole names still are devices.
TEST_F(OutputSafety, DeviceNamesWithExtensionsAreFiles) {
  SKIP_UNDER_WINE("Windows keeps its own device names");
  write_file(dir.file("in.map"), generated_map(3, 3, 3, 7));
  const std::string converted = reference("in.map");
  std::filesystem::create_directory(dir.file("out"));
  for (const char* name : {"nul.unf", "con.bin", "com2.dat", "aux.unf", "LPT1.out", "prn.x",
                           "user.unf", "out/nul.unf"}) {
    SCOPED_TRACE(name);
    const ProgramResult r = run({"in.map", name});
    expect_done(r);
    EXPECT_EQ(byte_difference(converted, read_file(dir.file(name))), "");
  }
  for (const char* name : {"NUL", "nul", "out/NUL"}) {
    SCOPED_TRACE(name);
    expect_done(run({"in.map", name}));
    EXPECT_FALSE(file_exists(dir.file(name)));
  }
  // As the input: an ordinary file too.
  std::filesystem::copy_file(dir.file("in.map"), dir.file("nul.map"));
  expect_done(run({"nul.map", "from-nul.unf"}));
  EXPECT_EQ(read_file(dir.file("from-nul.unf")), converted);
}

}  // namespace
}  // namespace e2e
