// One list-directed read statement for a field line of three reals (start,
// three items, end), against three bare strtof calls on the same texts.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <string>

#include "recio/io_api.h"

namespace {

using recio::IoArg;

// Typical field lines, each 80 characters like CONVERT's line buffer.
const std::array<std::string, 4>& lines() {
  static const std::array<std::string, 4> kLines = [] {
    std::array<std::string, 4> l = {
        "-1.2345678E-03  4.5678901E-01 -9.8765432E+00",
        " 2.5000000E-01 -3.1250000E-02  1.0000000E+00",
        "0.5 12.25 -3.14159274",
        " 7.0710677E-01,-7.0710677E-01, 0.0000000E+00",
    };
    for (std::string& s : l) s.resize(80, ' ');
    return l;
  }();
  return kLines;
}

void BM_ListStatementThreeReals(benchmark::State& state) {
  constexpr auto kRecordOnly = recio::item_descriptor({recio::kTextItem}, recio::Terminator::kMore);
  constexpr auto kRealMore =
      recio::item_descriptor({recio::kReal4Element}, recio::Terminator::kMore);
  constexpr auto kEnd = recio::item_descriptor(recio::Terminator::kEnd);
  float v[3];
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& line = lines()[i++ & 3];
    recio::IoControlBlock cb{};
    const IoArg rec[] = {IoArg::val(80), IoArg::address(line.data())};
    recio::for_read_int_lis(&cb, recio::kFlagsNoBranch, kRecordOnly, rec);
    for (int m = 0; m < 3; ++m) {
      const IoArg a[] = {IoArg::val(4), IoArg::address(&v[m])};
      recio::for_read_int_lis_xmit(&cb, kRealMore, a);
    }
    recio::for_read_int_lis_xmit(&cb, kEnd, {});
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_ListStatementThreeReals);

void BM_ThreeStrtof(benchmark::State& state) {
  float v[3];
  std::size_t i = 0;
  for (auto _ : state) {
    const char* p = lines()[i++ & 3].c_str();
    char* end;
    for (int m = 0; m < 3; ++m) {
      v[m] = std::strtof(p, &end);
      p = end;
      while (*p == ',' || *p == ' ') ++p;
    }
    benchmark::DoNotOptimize(v);
  }
}
BENCHMARK(BM_ThreeStrtof);

}  // namespace

BENCHMARK_MAIN();
