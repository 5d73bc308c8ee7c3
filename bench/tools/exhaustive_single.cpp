// Exhaustive check of cvt_text_to_ieee_s against strtof: every 32-bit pattern
// (or a range of them) is printed as "%.9g" and in the shortest form that
// reads back to the same single (std::to_chars), and both texts are converted
// by both routines. Results must agree bit for bit; a text without a
// significant digit ("-0") must give +0.0; NaN and infinity texts must be
// rejected (status 1).
//
//   exhaustive_single [--threads N] [--printf] [--list] [FIRST [LAST]]
//
// FIRST and LAST (inclusive, decimal or 0x hex) bound the patterns; default
// all 2^32. --printf prints with snprintf("%.9g") instead of the equivalent
// std::to_chars(general, 9), which is several times faster. --list also reads
// every finite pattern's texts, and its "%.7E" text (the shape a map holds),
// as a list-directed field value (a padded record, the short path first); a
// value that strtof makes infinite must fail there (status 1 in the report).
// One thread by default. Exit status 0 when everything agrees, 1 on a
// mismatch, 2 on bad arguments.
#include <atomic>
#include <bit>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "recio/list_input.h"
#include "recio/numeric.h"

namespace {

struct Options {
  std::uint64_t first = 0;
  std::uint64_t last = 0xFFFFFFFFu;
  int threads = 1;
  bool use_printf = false;
  bool list = false;
};

std::mutex report_mutex;
std::atomic<std::uint64_t> mismatches{0};
std::atomic<std::uint64_t> texts_checked{0};
std::atomic<std::uint64_t> patterns_done{0};

bool has_significant_digit(const char* p, const char* end) {
  for (; p < end && *p != 'e' && *p != 'E'; ++p) {
    if (*p >= '1' && *p <= '9') return true;
  }
  return false;
}

void report(std::uint32_t pattern, const char* text, int status, int expected_status,
            std::uint32_t got, std::uint32_t expected) {
  const std::uint64_t n = ++mismatches;
  if (n > 20) return;
  std::lock_guard<std::mutex> lock(report_mutex);
  std::fprintf(
      stderr,
      "MISMATCH pattern 0x%08x text \"%s\": status %d (expected %d), 0x%08x (expected 0x%08x)\n",
      pattern, text, status, expected_status, got, expected);
}

// What strtof makes of a finite pattern's text: the single and the status a
// conversion must report (1 when it overflows).
float expected_single(const char* buf, int len, int* status) {
  float expected = 0.0f;
  if (has_significant_digit(buf, buf + len)) expected = std::strtof(buf, nullptr);
  *status = std::isinf(expected) ? 1 : 0;
  return expected;
}

void compare(std::uint32_t pattern, const char* buf, int status, int expected_status, float got,
             float expected) {
  const auto got_bits = std::bit_cast<std::uint32_t>(got);
  const auto expected_bits = std::bit_cast<std::uint32_t>(expected);
  if (status != expected_status || got_bits != expected_bits) {
    report(pattern, buf, status, expected_status, got_bits, expected_bits);
  }
}

// buf holds a NUL-terminated text of length len.
void check_text(std::uint32_t pattern, const char* buf, int len, bool finite) {
  ++texts_checked;
  float got = 0.0f;
  const int status = recio::cvt_text_to_ieee_s(buf, len, 0, 0, recio::kOptBlanksAreZeros, &got);
  if (!finite) {
    // "nan", "-nan", "inf", "-inf": not numbers in this syntax.
    const auto got_bits = std::bit_cast<std::uint32_t>(got);
    if (status != 1) report(pattern, buf, status, 1, got_bits, got_bits);
    return;
  }
  int expected_status;
  const float expected = expected_single(buf, len, &expected_status);
  compare(pattern, buf, status, expected_status, got, expected);
}

// The text as the one value of a padded record read list-directed into a
// 4-byte real, as a field line's values are.
void check_list_value(std::uint32_t pattern, const char* buf, int len,
                      recio::ListScanState& state) {
  ++texts_checked;
  char record[64 + recio::kListRecordPadding] = {};
  std::memcpy(record, buf, static_cast<std::size_t>(len));
  recio::list_scan_begin(state, record, len, 0, true);
  float got = 0.0f;
  const int status = recio::list_read_real4(state, &got) == 0 ? 0 : 1;
  int expected_status;
  const float expected = expected_single(buf, len, &expected_status);
  // A failed read leaves no value to compare.
  compare(pattern, buf, status, expected_status, status == 0 ? got : expected, expected);
}

void run_range(std::uint64_t first, std::uint64_t last, bool use_printf, bool list) {
  char buf[64];
  // Per thread: the scan state holds a token buffer of 2 KiB.
  const auto state = std::make_unique<recio::ListScanState>();
  std::uint64_t since_report = 0;
  for (std::uint64_t b = first; b <= last; ++b) {
    const auto pattern = static_cast<std::uint32_t>(b);
    float f;
    std::memcpy(&f, &pattern, 4);
    const bool finite = std::isfinite(f);
    int len;
    if (use_printf) {
      len = std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
    } else {
      const auto r = std::to_chars(buf, buf + sizeof buf - 1, f, std::chars_format::general, 9);
      len = static_cast<int>(r.ptr - buf);
      buf[len] = '\0';
    }
    check_text(pattern, buf, len, finite);
    if (list && finite) check_list_value(pattern, buf, len, *state);
    const auto r = std::to_chars(buf, buf + sizeof buf - 1, f);  // shortest round trip
    len = static_cast<int>(r.ptr - buf);
    buf[len] = '\0';
    check_text(pattern, buf, len, finite);
    if (list && finite) {
      check_list_value(pattern, buf, len, *state);
      // d.ddddddd followed by E, the exponent's sign and two digits.
      const auto e = std::to_chars(buf, buf + sizeof buf - 1, f, std::chars_format::scientific, 7);
      len = static_cast<int>(e.ptr - buf);
      buf[len] = '\0';
      for (char* c = buf; c < e.ptr; ++c) *c = *c == 'e' ? 'E' : *c;
      check_list_value(pattern, buf, len, *state);
    }
    if (++since_report == (1u << 20)) {
      patterns_done += since_report;
      since_report = 0;
    }
  }
  patterns_done += since_report;
}

bool parse_u64(const char* s, std::uint64_t* out) {
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(s, &end, 0);
  if (errno != 0 || end == s || *end != '\0' || v > 0xFFFFFFFFull) return false;
  *out = v;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  Options opt;
  std::vector<const char*> positional;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
      opt.threads = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--printf") == 0) {
      opt.use_printf = true;
    } else if (std::strcmp(argv[i], "--list") == 0) {
      opt.list = true;
    } else {
      positional.push_back(argv[i]);
    }
  }
  if (positional.size() > 2 || opt.threads < 1 ||
      (!positional.empty() && !parse_u64(positional[0], &opt.first)) ||
      (positional.size() == 2 && !parse_u64(positional[1], &opt.last)) || opt.first > opt.last) {
    std::fprintf(stderr, "usage: %s [--threads N] [--printf] [--list] [FIRST [LAST]]\n", argv[0]);
    return 2;
  }

  const auto start = std::chrono::steady_clock::now();
  const std::uint64_t total = opt.last - opt.first + 1;
  std::vector<std::thread> workers;
  // Interleaved chunks so that every thread sees every magnitude.
  constexpr std::uint64_t kChunk = 1u << 16;
  std::atomic<std::uint64_t> next_chunk{0};
  const std::uint64_t chunks = (total + kChunk - 1) / kChunk;
  auto worker = [&] {
    for (;;) {
      const std::uint64_t c = next_chunk++;
      if (c >= chunks) return;
      const std::uint64_t lo = opt.first + c * kChunk;
      const std::uint64_t hi = lo + kChunk - 1 < opt.last ? lo + kChunk - 1 : opt.last;
      run_range(lo, hi, opt.use_printf, opt.list);
    }
  };
  for (int t = 0; t < opt.threads; ++t) workers.emplace_back(worker);

  std::thread progress([&] {
    std::uint64_t last_reported = 0;
    while (patterns_done.load() < total) {
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      const std::uint64_t done = patterns_done.load();
      if (done - last_reported >= (1ull << 28) || done == total) {
        last_reported = done;
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::fprintf(stderr, "progress: %llu / %llu patterns, %.0f s, %llu mismatches\n",
                     static_cast<unsigned long long>(done), static_cast<unsigned long long>(total),
                     s, static_cast<unsigned long long>(mismatches.load()));
      }
    }
  });
  for (auto& w : workers) w.join();
  progress.join();

  const double secs =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf(
      "patterns 0x%08llx..0x%08llx (%llu), texts %llu, mismatches %llu, %.1f s, %d thread(s), "
      "%s%s\n",
      static_cast<unsigned long long>(opt.first), static_cast<unsigned long long>(opt.last),
      static_cast<unsigned long long>(total), static_cast<unsigned long long>(texts_checked.load()),
      static_cast<unsigned long long>(mismatches.load()), secs, opt.threads,
      opt.use_printf ? "%.9g by snprintf" : "%.9g by to_chars",
      opt.list ? ", list-directed reads too" : "");
  return mismatches.load() == 0 ? 0 : 1;
}
