// Text to single: cvt_text_to_ieee_s against strtof and std::from_chars on the
// same texts. Each iteration converts the whole set; the counter per_cvt is
// the time of one conversion. Run with repetitions so that the medians of the
// three stand side by side, e.g.
//   ./bench_numeric --benchmark_repetitions=9 --benchmark_report_aggregates_only=true
//
// Sets:
//   Typical: values as the map files hold them (three per grid line).
//   Random9g: random finite single bit patterns printed with %.9g (the full
//             range, many of them outside the fast paths).
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "recio/numeric.h"

namespace {

const std::vector<std::string>& typical_texts() {
  static const std::vector<std::string> texts = {
      "-1.2345678E-03",
      "0.5",
      "12.25",
      "-3.14159274",
      "0.1234567E+01",
      "-0.9876543",
      "1.0",
      "-2.5E-05",
      "3.9062500E-02",
      "-12.3456",
      "0.0",
      "7.1234567E+00",
      "-0.5",
      "100.125",
      "-4.4408921E-16",
      "0.33333334",
  };
  return texts;
}

const std::vector<std::string>& random_texts() {
  static const std::vector<std::string> texts = [] {
    std::vector<std::string> out;
    std::mt19937 rng(12345);
    while (out.size() < 256) {
      const std::uint32_t bits = rng();
      float f;
      std::memcpy(&f, &bits, sizeof f);
      if (f != f || f - f != 0.0f) continue;  // NaN, infinity
      char buf[32];
      std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
      out.emplace_back(buf);
    }
    return out;
  }();
  return texts;
}

// per_cvt: the time of one conversion (printed with an SI prefix: "15.2n" s).
void set_counters(benchmark::State& state, std::size_t n) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * n));
  state.counters["per_cvt"] =
      benchmark::Counter(static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate |
                                                     benchmark::Counter::kInvert);
}

void run_cvt(benchmark::State& state, const std::vector<std::string>& texts) {
  for (auto _ : state) {
    for (const auto& t : texts) {
      float f;
      const int st = recio::cvt_text_to_ieee_s(t.data(), static_cast<std::int32_t>(t.size()), 0, 0,
                                               recio::kOptBlanksAreZeros, &f);
      benchmark::DoNotOptimize(f);
      benchmark::DoNotOptimize(st);
    }
  }
  set_counters(state, texts.size());
}

void run_strtof(benchmark::State& state, const std::vector<std::string>& texts) {
  for (auto _ : state) {
    for (const auto& t : texts) {
      char* end;
      const float f = std::strtof(t.c_str(), &end);
      benchmark::DoNotOptimize(f);
      benchmark::DoNotOptimize(end);
    }
  }
  set_counters(state, texts.size());
}

void run_from_chars(benchmark::State& state, const std::vector<std::string>& texts) {
  for (auto _ : state) {
    for (const auto& t : texts) {
      float f;
      const auto r = std::from_chars(t.data(), t.data() + t.size(), f);
      benchmark::DoNotOptimize(f);
      benchmark::DoNotOptimize(r.ptr);
    }
  }
  set_counters(state, texts.size());
}

void BM_Typical_cvt_text_to_ieee_s(benchmark::State& s) {
  run_cvt(s, typical_texts());
}
void BM_Typical_strtof(benchmark::State& s) {
  run_strtof(s, typical_texts());
}
void BM_Typical_from_chars(benchmark::State& s) {
  run_from_chars(s, typical_texts());
}
void BM_Random9g_cvt_text_to_ieee_s(benchmark::State& s) {
  run_cvt(s, random_texts());
}
void BM_Random9g_strtof(benchmark::State& s) {
  run_strtof(s, random_texts());
}
void BM_Random9g_from_chars(benchmark::State& s) {
  run_from_chars(s, random_texts());
}

BENCHMARK(BM_Typical_cvt_text_to_ieee_s);
BENCHMARK(BM_Typical_strtof);
BENCHMARK(BM_Typical_from_chars);
BENCHMARK(BM_Random9g_cvt_text_to_ieee_s);
BENCHMARK(BM_Random9g_strtof);
BENCHMARK(BM_Random9g_from_chars);

}  // namespace

BENCHMARK_MAIN();
