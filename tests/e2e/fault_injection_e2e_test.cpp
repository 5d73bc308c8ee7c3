// Faults end to end. The conversion runs again and again with one more of
// its allocations or handle operations failing each time; every run must
// either succeed with the very same bytes, or end with the condition that
// names the failure, never with a signal, a hang, or lost or changed bytes.
// The real program also runs under an address-space limit, like `ulimit -v`.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <span>
#include <sstream>
#include <stdexcept>

#include "e2e/fixture.h"

namespace e2e {
namespace {

using testsupport::read_file;
using testsupport::write_file;

// What the output file holds before each run: a failed run leaves it so.
const std::string kPrevious = "previous contents\n";

const char* const kOpenMessage = "Cannot open the MAP file";
const char* const kReadMessages[] = {
    "Reading error: TITLE",    "Reading error: DATE",      "Reading error: AX~A/B/C",
    "Reading error: angle",    "Reading error: X/Y/Z~MIN", "Reading error: IS~A/B/C",
    "Reading error: IM~A/B/C", "Reading error: ID~A/B/C",  "Reading error: D~X/Y/Z",
    "Reading error: N~X/Y/Z",  "Reading error: FIELDs"};

using Counts = std::map<std::string, std::uint64_t>;

Counts read_report(const std::string& path) {
  Counts counts;
  std::istringstream in(testsupport::file_exists(path) ? read_file(path) : "");
  std::string kind;
  std::uint64_t n = 0;
  while (in >> kind >> n) counts[kind] = n;
  return counts;
}

// Replacements the program left beside the output.
std::vector<std::string> leftovers(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (name.starts_with(".out.unf.")) names.push_back(name);
  }
  return names;
}

// One kind of fault and what it may legitimately end in.
struct Fault {
  const char* kind;
  enum Span { kOne, kPair, kFromThenOn } span;
  const char* error;                // what the failure means (see os_line)
  int severe;                       // the diagnostic a run may end with (0: none)
  bool os_line;                     // the diagnostic follows the operating system's text
  bool open_message, read_message;  // checked failures CONVERT may report
};

const Fault kFaults[] = {
    // No line of these maps is too long for the first buffer, so memory is
    // never short for a record: no reading error.
    {"alloc", Fault::kOne, "-", 41, false, true, false},
    {"alloc", Fault::kPair, "-", 41, false, true, false},
    {"alloc", Fault::kFromThenOn, "-", 41, false, true, false},
    {"open", Fault::kOne, "io", 30, true, true, false},
    {"open", Fault::kOne, "too-many-files", 30, false, true, false},
    {"read", Fault::kOne, "io", 0, false, false, true},
    {"write", Fault::kOne, "disk-full", 38, true, false, false},
    {"write", Fault::kFromThenOn, "disk-full", 38, true, false, false},
    {"seek", Fault::kOne, "io", 38, true, false, false},
    {"seteof", Fault::kOne, "io", 38, true, false, false},
    {"close", Fault::kOne, "io", 28, true, false, false},
    {"rename", Fault::kOne, "io", 28, true, false, false},
    // A successful run removes nothing; a failed one its replacement (see
    // ReplacementThatCannotBeRemoved).
    {"remove", Fault::kOne, "io", 28, false, false, false},
};

// With the names asked for on the console: its reads and the prompts.
const Fault kConsoleFaults[] = {
    {"read", Fault::kOne, "io", 39, true, false, true},
    {"write", Fault::kOne, "disk-full", 38, true, false, false},
};

// The operating system's line before the diagnostic: its own text for the
// failure, the Windows one ending in its own CR LF.
std::string os_line(const char* meaning) {
  struct Text {
    const char* meaning;
    const char* posix;
    const char* windows;
  };
  static const Text kTexts[] = {
      {"io", "Input/output error", "I/O device error."},
      {"too-many-files", "Too many open files", "Too many open files."},
      {"disk-full", "No space left on device", "Disk full."},
  };
  for (const Text& t : kTexts) {
    if (std::strcmp(t.meaning, meaning) != 0) continue;
    return "forrtl: " + std::string(kUnderWine ? t.windows : t.posix) +
           (kUnderWine ? "\r\n" : "\n");
  }
  throw std::logic_error(meaning);
}

const Fault& fault(const char* kind) {
  for (const Fault& f : kFaults)
    if (std::strcmp(f.kind, kind) == 0) return f;
  throw std::logic_error(kind);
}

std::string calls(const Fault& f, std::uint64_t n) {
  std::string s = std::to_string(n);
  if (f.span == Fault::kPair) s += "-" + std::to_string(n + 1);
  if (f.span == Fault::kFromThenOn) s += "+";
  return s;
}

// Standard error without the lines of the program's own notes.
std::string without_notes(const std::string& err) {
  std::string rest;
  for (std::size_t at = 0; at < err.size();) {
    std::size_t end = err.find('\n', at);
    end = end == std::string::npos ? err.size() : end + 1;
    if (err.compare(at, 9, "mapconv: ") != 0) rest.append(err, at, end - at);
    at = end;
  }
  return rest;
}

class FaultSweep : public ::testing::Test {
 protected:
  void SetUp() override {
    in_path_ = dir_.file("in.map");
    out_path_ = dir_.file("out.unf");
    report_path_ = dir_.file("report");
  }

  // `plan`: the injection plan of mapconv_inject, empty for the program.
  ProgramResult run(const std::string& binary, const std::string& plan = "", rlim_t limit = 0) {
    write_file(out_path_, kPrevious);
    ProgramRun r;
    if (console_) {
      r.input = "in.map\nout.unf\n";
    } else {
      r.args = {"in.map", "out.unf"};
    }
    r.cwd = dir_.path();
    r.env = {"LC_ALL=C", "FOR_DISABLE_STACK_TRACE=true"};
    if (!plan.empty()) r.env.push_back("MAPCONV_INJECT=" + plan);
    r.timeout = std::chrono::seconds(20);
    r.address_space_limit = limit;
    return run_program(binary, r);
  }

  // Runs the converter with the given faults; *counts gets its report.
  ProgramResult inject(const std::vector<std::string>& faults, Counts* counts) {
    std::string plan = report_path_;
    for (const std::string& word : faults) plan += " " + word;
    std::remove(report_path_.c_str());
    ProgramResult r = run(MAPCONV_INJECT_BINARY, plan);
    *counts = read_report(report_path_);
    return r;
  }

  // Empty when the run ended as `f` allows; otherwise what went wrong.
  std::string judge(const Fault& f, const ProgramResult& r) const {
    const std::string file = read_file(out_path_);
    if (r.signal != 0) return "killed by signal " + std::to_string(r.signal);
    if (r.timed_out) return "hung";
    if (!leftovers(dir_.path()).empty())
      return "a replacement left behind: " + leftovers(dir_.path())[0];
    std::string out = r.out;
    if (console_) {
      // Both prompts come first; a failure may end the run before either.
      const std::string prompts = kInputPrompt + kOutputPrompt;
      const std::size_t k = out.starts_with(prompts) ? prompts.size() : 0;
      if (k == 0 && !(r.exit_status != 0 && prompts.starts_with(out)))
        return "prompts missing: " + out;
      out.erase(0, k == 0 ? out.size() : k);
    }
    if (r.exit_status == 0 && out == kDone) {
      if (!r.err.empty()) return "success with a diagnostic: " + r.err;
      return file == reference_ ? ""
                                : "success with other bytes: " + byte_difference(reference_, file);
    }
    // The program's own notes (why a step failed, where a value is) come
    // with a failure; what is judged is the rest.
    const std::string err = without_notes(r.err);
    if (r.exit_status == 0) {
      bool known = f.open_message && out == console_message(kOpenMessage);
      for (const char* m : kReadMessages)
        known = known || (f.read_message && out == console_message(m));
      if (!known) return "unexpected console output: " + out;
      if (!err.empty()) return "checked failure with a diagnostic: " + r.err;
      return file == kPrevious ? "" : "output changed before it was opened";
    }
    // Where the run-time splits the command line itself, that takes its
    // first allocation: without it the program refuses to start at all.
    if (r.exit_status == 255 && std::strcmp(f.kind, "alloc") == 0) {
      if (r.err != "\r\nruntime error R6008\r\n- not enough space for arguments\r\n" ||
          !out.empty())
        return "start-up failure: " + out + r.err;
      return file == kPrevious ? "" : "output changed by a program that never started";
    }
    if (f.severe == 0 || r.exit_status != f.severe)
      return "exit status " + std::to_string(r.exit_status) + ", stderr: " + r.err;
    if (!out.empty()) return "console output after a failure: " + out;
    if (!expected_diagnostic(f, err)) return "unexpected diagnostic: " + r.err;
    // The output is replaced whole or not at all: as it was before the run,
    // or complete when the failure came after the program closed it (the
    // result line, say).
    if (file != kPrevious && file != reference_)
      return "output neither as before nor complete: " + byte_difference(reference_, file);
    return "";
  }

  bool expected_diagnostic(const Fault& f, const std::string& err) const {
    const std::string os = f.os_line ? os_line(f.error) : "";
    if (f.severe == 41) return err == os + severe(41, "insufficient virtual memory");
    const char* text = f.severe == 28   ? "CLOSE error"
                       : f.severe == 30 ? "open failure"
                       : f.severe == 39 ? "error during read"
                                        : "error during write";
    const std::pair<int, std::string> units[] = {
        {20, real_dir_ + "/in.map"}, {21, real_dir_ + "/out.unf"}, {6, "CONOUT$"}, {5, "CONIN$"}};
    for (const auto& [unit, name] : units) {
      if (err == os + severe(f.severe, std::string(text) + ", unit " + std::to_string(unit) +
                                           ", file " + name))
        return true;
    }
    return false;
  }

  // Sweeps the faults over the conversion of `map_text`; returns the number
  // of injection points per fault, for the log.
  std::string sweep(const std::string& map_text, std::span<const Fault> faults = kFaults) {
    write_file(in_path_, map_text);
    char* real = ::realpath(dir_.path().c_str(), nullptr);
    real_dir_ = real;
    std::free(real);

    const std::string done = console_ ? kInputPrompt + kOutputPrompt + kDone : kDone;
    const ProgramResult plain = run(MAPCONV_BINARY);
    EXPECT_EQ(plain.out, done);
    reference_ = read_file(out_path_);
    Counts total;
    const ProgramResult counted = inject({}, &total);
    EXPECT_EQ(counted.out, done);
    EXPECT_EQ(byte_difference(reference_, read_file(out_path_)), "");

    std::string points;
    std::vector<std::uint64_t> direct_write_allocs;
    for (const Fault& f : faults) {
      const std::uint64_t n_max = total[f.kind];
      for (std::uint64_t n = 1; n <= n_max + 1; ++n) {
        Counts seen;
        const ProgramResult r = inject({f.kind, calls(f, n), f.error}, &seen);
        EXPECT_EQ(judge(f, r), "") << f.kind << " " << calls(f, n) << " " << f.error;
        if (n > n_max) {
          EXPECT_EQ(r.out, done) << f.kind << " beyond the last call";
        }
        // A record that memory cannot hold goes straight to the file.
        if (std::string(f.kind) == "alloc" && f.span == Fault::kPair && seen["seek"] > 0)
          direct_write_allocs.push_back(n);
      }
      points += std::string(" ") + f.kind +
                (f.span == Fault::kPair         ? "-pair"
                 : f.span == Fault::kFromThenOn ? "-on"
                                                : "") +
                (std::strcmp(f.error, "too-many-files") == 0 ? "(too-many-files)" : "") + " " +
                std::to_string(n_max);
    }
    // Writes and seeks of direct-write mode, one failing at a time.
    for (std::uint64_t a : direct_write_allocs) {
      const std::string short_of_memory = calls(fault("alloc"), a) + "-" + std::to_string(a + 1);
      Counts in_direct;
      inject({"alloc", short_of_memory, "-"}, &in_direct);
      for (const Fault* f : {&fault("write"), &fault("seek")}) {
        for (std::uint64_t n = 1; n <= in_direct[f->kind] + 1; ++n) {
          Counts seen;
          const ProgramResult r =
              inject({"alloc", short_of_memory, "-", f->kind, std::to_string(n), f->error}, &seen);
          EXPECT_EQ(judge(*f, r), "") << "direct write, " << f->kind << " " << n;
        }
        points +=
            std::string(" direct-write-") + f->kind + " " + std::to_string(in_direct[f->kind]);
      }
    }
    return points;
  }

  bool console_ = false;  // the names are answers to the prompts
  testsupport::ScratchDir dir_;
  std::string in_path_, out_path_, report_path_, real_dir_, reference_;
};

TEST_F(FaultSweep, ExampleMap) {
  const std::string points = sweep(read_file(std::string(MAPCONV_EXAMPLES) + "/field.map"));
  RecordProperty("injection_points", points);
  std::printf("injection points, example map:%s\n", points.c_str());
}

TEST_F(FaultSweep, ExampleMapNamedOnTheConsole) {
  console_ = true;
  const std::string points =
      sweep(read_file(std::string(MAPCONV_EXAMPLES) + "/field.map"), kConsoleFaults);
  RecordProperty("injection_points", points);
  std::printf("injection points, example map named on the console:%s\n", points.c_str());
}

// A failed run whose replacement cannot be removed says so, naming it; the
// output keeps its old contents all the same.
TEST_F(FaultSweep, ReplacementThatCannotBeRemoved) {
  SKIP_UNDER_WINE("the expected lines hold the Linux paths of the files");
  write_file(in_path_, read_file(std::string(MAPCONV_EXAMPLES) + "/field.map"));
  Counts seen;
  const ProgramResult r = inject({"write", "1+", "disk-full", "remove", "1", "io"}, &seen);
  EXPECT_EQ(r.exit_status, 28);
  EXPECT_EQ(r.out, "");
  const std::vector<std::string> left = leftovers(dir_.path());
  ASSERT_EQ(left.size(), 1u);
  char* real = ::realpath(dir_.path().c_str(), nullptr);
  const std::string temp = std::string(real) + "/" + left[0];
  std::free(real);
  const std::string write_line =
      os_line("disk-full") + severe(38, "error during write, unit 21, file " +
                                            temp.substr(0, temp.rfind('/')) + "/out.unf");
  // At termination a close failure is reported as every one there is.
  EXPECT_EQ(without_notes(r.err), write_line + severe(28, "CLOSE error, unit 21, file " + temp));
  EXPECT_EQ(read_file(out_path_), kPrevious);
  std::filesystem::remove(temp);
}

// 40 x 25 x 1: one plane record of 12,000 bytes, beyond the unit's first
// buffer, so its growth is an allocation that may fail.
TEST_F(FaultSweep, ThousandPointMap) {
  SKIP_UNDER_WINE("its runs do not fit the Windows suite's time; the example map's sweeps run");
  std::vector<std::string> lines{"Thousand points", "09-Dec-2026", "XA YA ZA", "45.0",
                                 "0 0 0",           "0 0 0",       "39 24 0",  "40 25 1",
                                 "0.1 0.1 0.1",     "40 25 1"};
  char value[80];
  for (int p = 0; p < 1000; ++p) {
    std::snprintf(value, sizeof value, "%.7E %.7E %.7E", std::sin(p * 0.37),
                  3.5 * std::cos(p * 0.11), p % 17 - 8.25);
    lines.emplace_back(value);
  }
  const std::string points = sweep(join_lines(lines));
  RecordProperty("injection_points", points);
  std::printf("injection points, 1000-point map:%s\n", points.c_str());
  EXPECT_NE(points.find("direct-write-seek"), std::string::npos)
      << "no allocation led to direct-write mode";
}

// The real program under a limit of its address space, stepped down until
// the loader cannot even map the libraries: between plenty and nothing lie
// the limits at which the run-time's own allocations fail.
TEST_F(FaultSweep, AddressSpaceLimit) {
  SKIP_UNDER_WINE("no address-space limit for a Windows process");
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than a limit allows";
#endif
  write_file(in_path_, read_file(std::string(MAPCONV_EXAMPLES) + "/field.map"));
  char* real = ::realpath(dir_.path().c_str(), nullptr);
  real_dir_ = real;
  std::free(real);
  ASSERT_EQ(run(MAPCONV_BINARY).out, kDone);
  reference_ = read_file(out_path_);

  const Fault& memory = fault("alloc");
  const auto at = [&](rlim_t limit) { return run(MAPCONV_BINARY, "", limit); };
  // The program never exits with 127; the loader does when it runs short.
  const auto started = [](const ProgramResult& r) { return r.exit_status != 127 || r.signal; };
  constexpr rlim_t kMiB = 1 << 20;
  rlim_t limit = 256 * kMiB;
  while (limit > 4 * kMiB && at(limit).out == kDone) limit -= kMiB;
  int short_runs = 0;
  // Page steps: the room between a loader that starts and a run that
  // completes can be as small as one page.
  for (limit += kMiB; limit > 4 * kMiB; limit -= 4 * 1024) {
    const ProgramResult r = at(limit);
    if (!started(r)) break;
    // A start-up that cannot get what it needs may refuse to run at all.
    if (r.exit_status == 255 && r.out.empty() && read_file(out_path_) == kPrevious) {
      ++short_runs;
      continue;
    }
    EXPECT_EQ(judge(memory, r), "") << "limit " << limit;
    if (r.out != kDone) ++short_runs;
  }
  EXPECT_GT(short_runs, 0) << "no limit left the program short of memory";
}

}  // namespace
}  // namespace e2e
