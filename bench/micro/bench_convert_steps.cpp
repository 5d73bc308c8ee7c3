// The per-call cost of CONVERT's hot statements, issued exactly as CONVERT issues them
// (same units, flag words, descriptors and argument lists):
//
//   BM_FieldLineRead   the formatted read of one line under (A) into the 80-character
//                      line buffer from unit 20, connected to a file of field lines
//   BM_FieldLineParse  the internal list-directed read of three reals from that buffer
//   BM_FieldLineWhole  both: one field line's whole read (time per iteration = per line)
//   BM_PlaneWrite      one plane record of 100 x 100 grid points written value by value
//                      to unit 21; per_value is the cost of one item call
//
// The field lines look like the map generator's (eight significant digits with an
// exponent). When unit 20 reaches the end of its file it is closed and opened again with
// the timer paused; unit 21 is likewise reopened every 64 planes to keep its file small.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/descriptors.h"
#include "recio/format.h"
#include "recio/io_api.h"

namespace {

using recio::IoArg;
using recio::IoControlBlock;

constexpr std::int32_t kInputUnit = 20;
constexpr std::int32_t kOutputUnit = 21;
constexpr auto kText = recio::item_descriptor({recio::kTextItem}, recio::Terminator::kEnd);
constexpr auto kRecordMore = recio::item_descriptor({recio::kTextItem}, recio::Terminator::kMore);
constexpr auto kFieldValueMore =
    recio::item_descriptor({recio::kReal4Element}, recio::Terminator::kMore);
constexpr auto kMore = recio::item_descriptor(recio::Terminator::kMore);
constexpr auto kEnd = recio::item_descriptor(recio::Terminator::kEnd);
constexpr auto kOpen = app::desc::kOpenInput;
constexpr auto kCloseNoKeywords = recio::item_descriptor(recio::Terminator::kEnd);
constexpr std::int64_t kBlankNull = 2;

constexpr int kLines = 100000;           // lines in the input file (about 4.6 MB)
constexpr int kPlanePoints = 100 * 100;  // grid points of one plane
constexpr int kPlanesPerFile = 64;

// A file in the temporary directory, removed at exit. Unit file names are cut at 80
// characters, so a longer path is an error.
class TempFile {
 public:
  explicit TempFile(const std::string& stem)
      : path_((std::filesystem::temp_directory_path() / (stem + "." + std::to_string(::getpid())))
                  .string()) {}
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;
  ~TempFile() { std::remove(path_.c_str()); }
  const std::string& path() const { return path_; }
  bool usable() const { return path_.size() <= 80; }

 private:
  std::string path_;
};

// " -1.2345678E-03  4.5678901E-01 -9.8765432E+00": the generator's usual field line.
std::string field_line(std::mt19937& rng) {
  std::uniform_real_distribution<double> mantissa(1.0, 10.0);
  std::uniform_int_distribution<int> exponent(-4, 1), sign(0, 1);
  std::string s;
  char buf[32];
  for (int m = 0; m < 3; ++m) {
    const double v = (sign(rng) ? -1.0 : 1.0) * mantissa(rng) * std::pow(10.0, exponent(rng));
    std::snprintf(buf, sizeof buf, "%s%.7E", m == 0 ? " " : "  ", v);
    s += buf;
  }
  return s;
}

bool write_lines(const std::string& path) {
  std::mt19937 rng(2026);
  std::string text;
  for (int i = 0; i < kLines; ++i) text += field_line(rng) + '\n';
  FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  const bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  return std::fclose(out) == 0 && ok;
}

// The input file, or an empty path when it could not be made.
const std::string& input_path() {
  static const TempFile file("mapconv_bench_lines");
  static const std::string path = file.usable() && write_lines(file.path()) ? file.path() : "";
  return path;
}

int open_unit(std::int32_t unit, const std::string& name, bool input) {
  IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(static_cast<std::int64_t>(name.size())),
                        IoArg::address(name.data()),
                        IoArg::val(input ? 3 : 7),
                        IoArg::address(input ? "old" : "unknown"),
                        IoArg::val(input ? 9 : 11),
                        IoArg::address(input ? "formatted" : "unformatted"),
                        IoArg::val(kBlankNull)};
  return recio::for_open(&cb, unit, input ? recio::kFlagsErrBranch : recio::kFlagsNoBranch, kOpen,
                         args);
}

void close_unit(std::int32_t unit) {
  IoControlBlock cb{};
  recio::for_close(&cb, unit, recio::kFlagsNoBranch, kCloseNoKeywords, {});
}

// CONVERT's read of one line of unit 20; non-zero at the end of the file.
int read_line(char* line) {
  IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(80), IoArg::address(line)};
  return recio::for_read_seq_fmt(&cb, kInputUnit, recio::kFlagsErrBranch, kText, args,
                                 recio::kFormatA);
}

// CONVERT's parse of one field line: the record, three values by size and address, end.
void parse_line(const char* line, float* at) {
  IoControlBlock cb{};
  const IoArg record[] = {IoArg::val(80), IoArg::address(line)};
  recio::for_read_int_lis(&cb, recio::kFlagsNoBranch, kRecordMore, record);
  for (int m = 0; m < 3; ++m) {
    const IoArg value[] = {IoArg::val(4), IoArg::address(at + m)};
    recio::for_read_int_lis_xmit(&cb, kFieldValueMore, value);
  }
  recio::for_read_int_lis_xmit(&cb, kEnd, {});
}

// Unit 20 on the input file for the life of a benchmark run; next() restarts the file
// at its end with the timer paused.
class InputUnit {
 public:
  explicit InputUnit(benchmark::State& state) : state_(state) {
    ok_ = !input_path().empty() && open_unit(kInputUnit, input_path(), true) == 0;
    if (!ok_) state.SkipWithError("cannot open the field-line file on unit 20");
  }
  InputUnit(const InputUnit&) = delete;
  InputUnit& operator=(const InputUnit&) = delete;
  ~InputUnit() {
    if (ok_) close_unit(kInputUnit);
  }
  bool ok() const { return ok_; }

  void next(char* line) {
    if (read_line(line) == 0) return;
    state_.PauseTiming();
    close_unit(kInputUnit);
    if (open_unit(kInputUnit, input_path(), true) != 0 || read_line(line) != 0) {
      ok_ = false;
      state_.SkipWithError("cannot read the field-line file again");
    }
    state_.ResumeTiming();
  }

 private:
  benchmark::State& state_;
  bool ok_ = false;
};

char line[80];  // CONVERT's line buffer is static storage too

void BM_FieldLineRead(benchmark::State& state) {
  InputUnit in(state);
  if (!in.ok()) return;
  for (auto _ : state) {
    in.next(line);
    benchmark::DoNotOptimize(line);
  }
}
BENCHMARK(BM_FieldLineRead);

void BM_FieldLineParse(benchmark::State& state) {
  // The lines as the (A) read leaves them, blank-padded to 80; few enough to stay in
  // the first-level cache, as the freshly read line buffer does.
  std::vector<std::string> lines;
  std::mt19937 rng(2026);
  for (int i = 0; i < 256; ++i) lines.push_back(field_line(rng).append(80, ' ').substr(0, 80));
  float v[3];
  std::size_t i = 0;
  for (auto _ : state) {
    parse_line(lines[i++ & 255].data(), v);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_FieldLineParse);

void BM_FieldLineWhole(benchmark::State& state) {
  InputUnit in(state);
  if (!in.ok()) return;
  float v[3];
  for (auto _ : state) {
    in.next(line);
    parse_line(line, v);
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_FieldLineWhole);

void BM_PlaneWrite(benchmark::State& state) {
  const TempFile file("mapconv_bench_planes");
  if (!file.usable() || open_unit(kOutputUnit, file.path(), false) != 0) {
    state.SkipWithError("cannot open unit 21");
    return;
  }
  std::vector<float> plane(3 * kPlanePoints);
  for (std::size_t n = 0; n < plane.size(); ++n) plane[n] = static_cast<float>(n) * 0.25f;
  int written = 0;
  for (auto _ : state) {
    if (written++ == kPlanesPerFile) {
      state.PauseTiming();
      close_unit(kOutputUnit);
      open_unit(kOutputUnit, file.path(), false);
      written = 1;
      state.ResumeTiming();
    }
    IoControlBlock cb{};
    recio::for_write_seq(&cb, kOutputUnit, recio::kFlagsNoBranch, kMore, {});
    for (std::size_t n = 0; n < plane.size(); ++n) {
      const IoArg v[] = {IoArg::val(4), IoArg::address(&plane[n])};
      recio::for_write_seq_xmit(&cb, kFieldValueMore, v);
    }
    recio::for_write_seq_xmit(&cb, kEnd, {});
  }
  close_unit(kOutputUnit);
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(4 * plane.size() + 8));
  state.counters["per_value"] = benchmark::Counter(
      static_cast<double>(plane.size()),
      benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_PlaneWrite)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
