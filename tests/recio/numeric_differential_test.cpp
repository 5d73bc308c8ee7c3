// Differential tests: cvt_text_to_ieee_s against strtof and cvt_text_to_ieee_t
// against strtod (both correctly rounded in the C library), on generated texts
// from a fixed seed. The reference converts the text with its significant
// digits beyond the 27th replaced by zeros (they are dropped, but still place
// the point). Results are compared by bit pattern; an overflow must give status
// 1 and the infinity strtof/strtod return; a text without a significant digit
// must give +0.0.
//
// Over 1,000,000 texts for each precision, split into several tests so that
// each stays short under the sanitizers too.
#include <gtest/gtest.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>

#include "recio/numeric.h"
#include "support/bits.h"

namespace recio {
namespace {

constexpr int kMaxDigits = 27;

// The text with every significant digit after the 27th replaced by '0'.
std::string truncated27(const char* text) {
  std::string t(text);
  int sig = 0;
  for (char& c : t) {
    if (c == 'e' || c == 'E') break;
    if (c < '0' || c > '9') continue;
    if (sig == 0 && c == '0') continue;
    if (++sig > kMaxDigits) c = '0';
  }
  return t;
}

bool has_significant_digit(const char* text) {
  for (const char* p = text; *p && *p != 'e' && *p != 'E'; ++p) {
    if (*p >= '1' && *p <= '9') return true;
  }
  return false;
}

using testsupport::bits;

// Runs one family of texts and counts mismatches; reports the first few.
class Differential {
 public:
  // `ours` is the text given to the conversion; `reference` the same number
  // in the C library's syntax.
  void single(const std::string& ours, const char* reference) {
    ++checked_;
    const std::string ref_text = truncated27(reference);
    float expected = 0.0f;
    if (has_significant_digit(ref_text.c_str())) expected = std::strtof(ref_text.c_str(), nullptr);
    const int expected_status = std::isinf(expected) ? 1 : 0;
    float got = 0.0f;
    const int status = cvt_text_to_ieee_s(ours.data(), static_cast<std::int32_t>(ours.size()), 0, 0,
                                          kOptBlanksAreZeros, &got);
    if (status != expected_status || bits(got) != bits(expected)) {
      report(ours, status, expected_status, bits(got), bits(expected));
    }
  }

  void dbl(const std::string& ours, const char* reference) {
    ++checked_;
    const std::string ref_text = truncated27(reference);
    double expected = 0.0;
    if (has_significant_digit(ref_text.c_str())) expected = std::strtod(ref_text.c_str(), nullptr);
    const int expected_status = std::isinf(expected) ? 1 : 0;
    double got = 0.0;
    const int status = cvt_text_to_ieee_t(ours.data(), static_cast<std::int32_t>(ours.size()), 0, 0,
                                          kOptBlanksAreZeros, &got);
    if (status != expected_status || bits(got) != bits(expected)) {
      report(ours, status, expected_status, bits(got), bits(expected));
    }
  }

  void single(const char* text) { single(std::string(text), text); }
  void dbl(const char* text) { dbl(std::string(text), text); }

  ~Differential() { EXPECT_EQ(mismatches_, 0) << "of " << checked_ << " texts"; }

 private:
  void report(const std::string& text, int status, int expected_status, std::uint64_t got,
              std::uint64_t expected) {
    if (++mismatches_ <= 10) {
      ADD_FAILURE() << "text «" << text << "»: status " << status << " (expected "
                    << expected_status << "), bits 0x" << std::hex << got << " (expected 0x"
                    << expected << ")";
    }
  }

  long checked_ = 0;
  long mismatches_ = 0;
};

// A fixed seed: the same texts in every run.
struct Rng {
  explicit Rng(std::uint64_t seed) : gen(seed) {}
  std::uint64_t next() { return gen(); }
  // Uniform in [lo, hi] (slight modulo bias is irrelevant here).
  std::int64_t in(std::int64_t lo, std::int64_t hi) {
    return lo + static_cast<std::int64_t>(gen() % static_cast<std::uint64_t>(hi - lo + 1));
  }
  float finite_float() {
    for (;;) {
      const auto b = static_cast<std::uint32_t>(gen());
      if ((b & 0x7F800000u) == 0x7F800000u) continue;
      float f;
      std::memcpy(&f, &b, sizeof f);
      return f;
    }
  }
  double finite_double() {
    for (;;) {
      const std::uint64_t b = gen();
      if ((b & 0x7FF0000000000000u) == 0x7FF0000000000000u) continue;
      double d;
      std::memcpy(&d, &b, sizeof d);
      return d;
    }
  }
  std::mt19937_64 gen;
};

// Random digits, a point somewhere (or none) and an exponent that puts the
// magnitude around 10^e10.
std::string long_mantissa(Rng& rng, int digits, int e10) {
  std::string s;
  if (rng.in(0, 1)) s += '-';
  const int point = static_cast<int>(rng.in(0, digits));  // digits before the point
  std::string mant;
  mant += static_cast<char>('1' + rng.in(0, 8));
  for (int i = 1; i < digits; ++i) mant += static_cast<char>('0' + rng.in(0, 9));
  s += mant.substr(0, static_cast<std::size_t>(point));
  if (point < digits || rng.in(0, 1)) s += '.';
  s += mant.substr(static_cast<std::size_t>(point));
  s += 'e';
  s += std::to_string(e10 - point);
  return s;
}

// The same number in this system's other spellings: exponent letters D and
// Q, an exponent introduced by its sign alone, a leading plus, leading white
// space.
std::string respell(Rng& rng, const char* text) {
  std::string s(text);
  const std::size_t e = s.find_first_of("eE");
  switch (rng.in(0, 5)) {
    case 0:
      if (e != std::string::npos) s[e] = "dDqQeE"[rng.in(0, 5)];
      break;
    case 1:
      if (e != std::string::npos && e + 1 < s.size() && (s[e + 1] == '+' || s[e + 1] == '-')) {
        s.erase(e, 1);
      }
      break;
    case 2:
      if (s[0] != '-') s.insert(0, "+");
      break;
    case 3:
      s.insert(0, std::string(static_cast<std::size_t>(rng.in(1, 3)), ' '));
      break;
    case 4:
      s.insert(0, "\t");
      break;
    default:
      if (e != std::string::npos) s[e] = 'D';
      s.insert(0, " ");
      break;
  }
  return s;
}

// ------------------------------------------------------------------- single

constexpr int kSingleBits9g = 250000;
constexpr int kSingleBitsOther = 200000;
constexpr int kSingleFixed = 150000;
constexpr int kSingleLong = 150000;
constexpr int kSingleMidpoints = 150000;
constexpr int kSingleBoundary = 100000;
constexpr int kSingleSpellings = 50000;
static_assert(kSingleBits9g + kSingleBitsOther + kSingleFixed + kSingleLong + kSingleMidpoints +
                  kSingleBoundary + kSingleSpellings >=
              1000000);

TEST(NumericDifferentialSingle, RandomBitPatterns9g) {
  Rng rng(0x5EED0001);
  Differential diff;
  char buf[64];
  for (int i = 0; i < kSingleBits9g; ++i) {
    std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(rng.finite_float()));
    diff.single(buf);
  }
}

TEST(NumericDifferentialSingle, RandomBitPatternsOtherForms) {
  Rng rng(0x5EED0002);
  Differential diff;
  char buf[64];
  for (int i = 0; i < kSingleBitsOther; ++i) {
    const double v = rng.finite_float();
    switch (i % 4) {
      case 0:
        std::snprintf(buf, sizeof buf, "%.7E", v);
        break;
      case 1:
        std::snprintf(buf, sizeof buf, "%.17g", v);
        break;
      case 2:
        std::snprintf(buf, sizeof buf, "%.*g", static_cast<int>(rng.in(1, 12)), v);
        break;
      default:
        std::snprintf(buf, sizeof buf, "%.*e", static_cast<int>(rng.in(0, 25)), v);
        break;
    }
    diff.single(buf);
  }
}

TEST(NumericDifferentialSingle, FixedNotation) {
  Rng rng(0x5EED0003);
  Differential diff;
  char buf[160];
  for (int i = 0; i < kSingleFixed; ++i) {
    const double v = rng.finite_float();
    if (i % 3 == 0 && std::fabs(v) < 1e-30) {
      // Tiny values: many zeros after the point before the first digit.
      std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(rng.in(40, 60)), v);
    } else if (i % 3 == 1) {
      // Map-like values: a few digits either side of the point.
      const double m = static_cast<double>(rng.in(-99999999, 99999999)) /
                       std::pow(10.0, static_cast<double>(rng.in(0, 12)));
      std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(rng.in(0, 12)), m);
    } else {
      std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(rng.in(0, 8)), v);
    }
    diff.single(buf);
  }
}

TEST(NumericDifferentialSingle, LongMantissas) {
  Rng rng(0x5EED0004);
  Differential diff;
  for (int i = 0; i < kSingleLong; ++i) {
    const std::string s =
        long_mantissa(rng, static_cast<int>(rng.in(20, 40)), static_cast<int>(rng.in(-47, 41)));
    diff.single(s.c_str());
  }
}

TEST(NumericDifferentialSingle, NearMidpoints) {
  // The exact midpoint between two neighbouring floats (a double), printed
  // with 9 to 40 significant digits, and nudged in the last printed digit.
  Rng rng(0x5EED0005);
  Differential diff;
  char buf[96];
  for (int i = 0; i < kSingleMidpoints; ++i) {
    float f = std::fabs(rng.finite_float());
    if (i % 4 == 0) f = std::ldexp(static_cast<float>(rng.in(0, 1 << 23)), -149);  // subnormals
    const float next = std::nextafter(f, std::numeric_limits<float>::infinity());
    const double mid = (static_cast<double>(f) + static_cast<double>(next)) / 2;
    std::snprintf(buf, sizeof buf, "%.*e", static_cast<int>(rng.in(8, 39)), mid);
    if (i % 2) {
      // Nudge the last mantissa digit up or down (when it is not at a limit).
      char* e = std::strchr(buf, 'e');
      char* last = e - 1;
      if (*last > '0' && *last < '9') *last = static_cast<char>(*last + (rng.in(0, 1) ? 1 : -1));
    }
    diff.single(buf);
  }
}

TEST(NumericDifferentialSingle, Boundaries) {
  Rng rng(0x5EED0006);
  Differential diff;
  char buf[96];
  const double max = std::numeric_limits<float>::max();
  const double threshold = std::ldexp(1.0, 128) - std::ldexp(1.0, 103);  // rounds to infinity
  const double tiny = std::ldexp(1.0, -149);
  const double min_normal = std::numeric_limits<float>::min();
  for (int i = 0; i < kSingleBoundary; ++i) {
    const double u = static_cast<double>(rng.next() >> 11) * 0x1p-53;  // [0, 1)
    double v;
    switch (i % 5) {
      case 0:
        v = max * (1 - 1e-6) + u * (threshold - max * (1 - 1e-6)) * 2;  // around FLT_MAX
        break;
      case 1:
        v = threshold * (1 + (u - 0.5) * 1e-12);  // the overflow threshold itself
        break;
      case 2:
        v = u * 4 * tiny;  // the smallest subnormals and zero
        break;
      case 3:
        v = tiny / 2 * (1 + (u - 0.5) * 1e-9);  // half the smallest subnormal
        break;
      default:
        v = min_normal * (1 + (u - 0.5) * 1e-6);  // the normal/subnormal border
        break;
    }
    if (rng.in(0, 1)) v = -v;
    std::snprintf(buf, sizeof buf, "%.*g", static_cast<int>(rng.in(6, 30)), v);
    diff.single(buf);
  }
  diff.single("3.40282347e38");
  diff.single("3.40282357e38");
  diff.single("1.40129846e-45");
  diff.single("7.00649232e-46");
  diff.single("7.00649233e-46");
}

TEST(NumericDifferentialSingle, OtherSpellings) {
  Rng rng(0x5EED0007);
  Differential diff;
  char buf[64];
  for (int i = 0; i < kSingleSpellings; ++i) {
    std::snprintf(buf, sizeof buf, i % 2 ? "%.9g" : "%.7E",
                  static_cast<double>(rng.finite_float()));
    diff.single(respell(rng, buf), buf);
  }
}

// ------------------------------------------------------------------- double

constexpr int kDoubleBits17g = 250000;
constexpr int kDoubleBitsOther = 200000;
constexpr int kDoubleFixed = 150000;
constexpr int kDoubleLong = 150000;
constexpr int kDoubleMidpoints = 150000;
constexpr int kDoubleBoundary = 100000;
constexpr int kDoubleSpellings = 50000;
static_assert(kDoubleBits17g + kDoubleBitsOther + kDoubleFixed + kDoubleLong + kDoubleMidpoints +
                  kDoubleBoundary + kDoubleSpellings >=
              1000000);

TEST(NumericDifferentialDouble, RandomBitPatterns17g) {
  Rng rng(0x5EED1001);
  Differential diff;
  char buf[64];
  for (int i = 0; i < kDoubleBits17g; ++i) {
    std::snprintf(buf, sizeof buf, "%.17g", rng.finite_double());
    diff.dbl(buf);
  }
}

TEST(NumericDifferentialDouble, RandomBitPatternsOtherForms) {
  Rng rng(0x5EED1002);
  Differential diff;
  char buf[64];
  for (int i = 0; i < kDoubleBitsOther; ++i) {
    const double v = i % 2 ? rng.finite_double() : static_cast<double>(rng.finite_float());
    std::snprintf(buf, sizeof buf, "%.*e", static_cast<int>(rng.in(0, 30)), v);
    diff.dbl(buf);
  }
}

TEST(NumericDifferentialDouble, FixedNotation) {
  Rng rng(0x5EED1003);
  Differential diff;
  char buf[512];
  for (int i = 0; i < kDoubleFixed; ++i) {
    if (i % 2) {
      const double m = static_cast<double>(rng.in(-999999999999, 999999999999)) /
                       std::pow(10.0, static_cast<double>(rng.in(0, 15)));
      std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(rng.in(0, 15)), m);
    } else {
      double v;
      do {
        v = rng.finite_double();
      } while (std::fabs(v) >= 1e300 || (v != 0 && std::fabs(v) < 1e-300));
      std::snprintf(buf, sizeof buf, "%.*f", static_cast<int>(rng.in(0, 20)), v);
    }
    diff.dbl(buf);
  }
}

TEST(NumericDifferentialDouble, LongMantissas) {
  Rng rng(0x5EED1004);
  Differential diff;
  for (int i = 0; i < kDoubleLong; ++i) {
    const std::string s =
        long_mantissa(rng, static_cast<int>(rng.in(20, 40)), static_cast<int>(rng.in(-326, 311)));
    diff.dbl(s.c_str());
  }
}

TEST(NumericDifferentialDouble, NearMidpoints) {
  // The midpoint of two neighbouring doubles is exact in the 64-bit
  // significand of long double.
  static_assert(std::numeric_limits<long double>::digits >= 54);
  Rng rng(0x5EED1005);
  Differential diff;
  char buf[128];
  for (int i = 0; i < kDoubleMidpoints; ++i) {
    double d = std::fabs(rng.finite_double());
    if (i % 4 == 0) d = std::ldexp(static_cast<double>(rng.next() >> 12), -1074);  // subnormals
    if (d == std::numeric_limits<double>::max()) continue;
    const double next = std::nextafter(d, std::numeric_limits<double>::infinity());
    const long double mid = (static_cast<long double>(d) + static_cast<long double>(next)) / 2;
    std::snprintf(buf, sizeof buf, "%.*Le", static_cast<int>(rng.in(16, 39)), mid);
    if (i % 2) {
      char* e = std::strchr(buf, 'e');
      char* last = e - 1;
      if (*last > '0' && *last < '9') *last = static_cast<char>(*last + (rng.in(0, 1) ? 1 : -1));
    }
    diff.dbl(buf);
  }
}

TEST(NumericDifferentialDouble, Boundaries) {
  Rng rng(0x5EED1006);
  Differential diff;
  char buf[96];
  const long double max = std::numeric_limits<double>::max();
  const long double threshold = std::ldexp(1.0L, 1024) - std::ldexp(1.0L, 970);
  const long double tiny = std::ldexp(1.0L, -1074);
  const long double min_normal = std::numeric_limits<double>::min();
  for (int i = 0; i < kDoubleBoundary; ++i) {
    const long double u = static_cast<long double>(rng.next() >> 11) * 0x1p-53L;
    long double v;
    switch (i % 5) {
      case 0:
        v = max * (1 - 1e-15L) + u * (threshold - max * (1 - 1e-15L)) * 2;
        break;
      case 1:
        v = threshold * (1 + (u - 0.5L) * 1e-17L);
        break;
      case 2:
        v = u * 4 * tiny;
        break;
      case 3:
        v = tiny / 2 * (1 + (u - 0.5L) * 1e-15L);
        break;
      default:
        v = min_normal * (1 + (u - 0.5L) * 1e-15L);
        break;
    }
    if (rng.in(0, 1)) v = -v;
    std::snprintf(buf, sizeof buf, "%.*Lg", static_cast<int>(rng.in(15, 30)), v);
    diff.dbl(buf);
  }
  diff.dbl("1.7976931348623157e308");
  diff.dbl("1.7976931348623159e308");
  diff.dbl("4.9406564584124654e-324");
  diff.dbl("2.4703282292062327e-324");
  diff.dbl("2.4703282292062328e-324");
}

TEST(NumericDifferentialDouble, OtherSpellings) {
  Rng rng(0x5EED1007);
  Differential diff;
  char buf[64];
  for (int i = 0; i < kDoubleSpellings; ++i) {
    std::snprintf(buf, sizeof buf, "%.17g", rng.finite_double());
    diff.dbl(respell(rng, buf), buf);
  }
}

}  // namespace
}  // namespace recio
