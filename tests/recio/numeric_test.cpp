// Numeric text conversion: table-driven tests of every routine, with the
// syntax and range edge cases, correct rounding, out of range by magnitude, a
// logical value for a real item and the real-to-integer truncation.
#include "recio/numeric.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "recio/descriptor.h"
#include "support/bits.h"

namespace recio {
namespace {

constexpr float kInfF = std::numeric_limits<float>::infinity();
constexpr double kInfD = std::numeric_limits<double>::infinity();

using testsupport::bits;
using testsupport::float_of;

std::int32_t len_of(std::string_view s) {
  return static_cast<std::int32_t>(s.size());
}

// ---------------------------------------------------------------- integers

struct IntCase {
  std::string_view text;
  std::uint32_t options;
  int status;
  std::int32_t value;
};

TEST(NumericInteger, TextToInteger) {
  const IntCase cases[] = {
      {"2147483647", 0, kCvtOk, 2147483647},
      {"-2147483648", 0, kCvtOk, -2147483647 - 1},
      {"+2147483647", 0, kCvtOk, 2147483647},
      {"2147483648", 0, kCvtRange, 0},
      {"-2147483649", 0, kCvtRange, 0},
      {"99999999999999999999", 0, kCvtRange, 0},  // beyond unsigned 64-bit
      {"9223372036854775808", 0, kCvtRange, 0},   // beyond signed 64-bit
      {"0", 0, kCvtOk, 0},
      {"007", 0, kCvtOk, 7},
      {"", 0, kCvtOk, 0},
      {"    ", 0, kCvtOk, 0},
      {"+", 0, kCvtOk, 0},
      {"-", 0, kCvtOk, 0},
      {"  -12", 0, kCvtOk, -12},
      {"12a", 0, kCvtBadChar, 0},
      {"1 2", 0, kCvtBadChar, 0},  // blanks not ignored
      {"1 2", kOptIgnoreBlanks, kCvtOk, 12},
      {"1 2", kOptBlanksAreZeros, kCvtOk, 102},
      {"1 2", kOptBlanksAreZeros | kOptIgnoreBlanks, kCvtOk, 102},  // zeros win
      {"12 ", 0, kCvtBadChar, 0},
      {"12 ", kOptIgnoreBlanks, kCvtOk, 12},
      {"- 5", 0, kCvtBadChar, 0},
      {"- 5", kOptIgnoreBlanks, kCvtOk, -5},
      {"- 5", kOptBlanksAreZeros, kCvtOk, -5},
      {"\t42", 0, kCvtBadChar, 0},  // a leading tab
      {"\t42", kOptIgnoreTabs, kCvtOk, 42},
      {"4\t2", kOptIgnoreTabs, kCvtOk, 42},
      {"1_000", 0, kCvtBadChar, 0},
      {"1_000", kOptIgnoreUnderscores, kCvtOk, 1000},
      {"1A", 0, kCvtBadChar, 0},  // A is the digit value 10
      {"ff", 0, kCvtBadChar, 0},
      {"+-5", 0, kCvtBadChar, 0},
      {"15+3", 0, kCvtBadChar, 0},
      {"1.5", 0, kCvtBadChar, 0},
      {"12", kOptAccepted2000, kCvtOk, 12},
      {"12", 0x4, kCvtBadOption, 0},
      {"12", kOptListCharOrLogical, kCvtBadOption, 0},
      {"12", 0x80000000u, kCvtBadOption, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "text «" << c.text << "» options " << c.options);
    std::int32_t v = 777;
    EXPECT_EQ(cvt_text_to_integer(c.text.data(), len_of(c.text), c.options, &v), c.status);
    EXPECT_EQ(v, c.value);
  }
  std::int32_t v = 777;
  EXPECT_EQ(cvt_text_to_integer("12", -1, 0, &v), kCvtNegLength);
  EXPECT_EQ(v, 0);
}

TEST(NumericInteger, TextToInteger64) {
  struct Case {
    std::string_view text;
    int status;
    std::int64_t value;
  };
  const Case cases[] = {
      {"9223372036854775807", kCvtOk, std::numeric_limits<std::int64_t>::max()},
      {"-9223372036854775808", kCvtOk, std::numeric_limits<std::int64_t>::min()},
      {"9223372036854775808", kCvtRange, 0},
      {"-9223372036854775809", kCvtRange, 0},
      {"18446744073709551615", kCvtRange, 0},
      {"18446744073709551616", kCvtRange, 0},
      {"3000000000", kCvtOk, 3000000000},
      {"-", kCvtOk, 0},
      {"x", kCvtBadChar, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int64_t v = 777;
    EXPECT_EQ(cvt_text_to_integer64(c.text.data(), len_of(c.text), 0, &v), c.status);
    EXPECT_EQ(v, c.value);
  }
}

TEST(NumericInteger, TextToUnsigned64) {
  struct Case {
    std::string_view text;
    int radix;
    std::uint32_t options;
    int status;
    std::uint64_t value;
  };
  const Case cases[] = {
      {"FF", 16, 0, kCvtOk, 255},
      {"ff", 16, 0, kCvtOk, 255},
      {"  7fffffff", 16, 0, kCvtOk, 0x7fffffff},
      {"FFFFFFFFFFFFFFFF", 16, 0, kCvtOk, ~std::uint64_t{0}},
      {"10000000000000000", 16, 0, kCvtRange, 0},
      {"18446744073709551615", 10, 0, kCvtOk, ~std::uint64_t{0}},
      {"18446744073709551616", 10, 0, kCvtRange, 0},
      {"1g", 16, 0, kCvtBadChar, 0},
      {"777", 8, 0, kCvtOk, 511},
      {"8", 8, 0, kCvtBadChar, 0},
      {"101", 2, 0, kCvtOk, 5},
      {"102", 2, 0, kCvtBadChar, 0},
      {"1 0 1", 2, kOptIgnoreBlanks, kCvtOk, 5},
      {"-1", 10, 0, kCvtBadChar, 0},  // no sign
      {"", 10, 0, kCvtOk, 0},
      {"1", 1, 0, kCvtBadRadix, 0},
      {"1", 17, 0, kCvtBadRadix, 0},
      {"1", 10, 0x8, kCvtBadOption, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "«" << c.text << "» radix " << c.radix);
    std::uint64_t v = 777;
    EXPECT_EQ(cvt_text_to_unsigned64(c.text.data(), len_of(c.text), c.radix, c.options, &v),
              c.status);
    EXPECT_EQ(v, c.value);
  }
  std::uint64_t v = 777;
  EXPECT_EQ(cvt_text_to_unsigned64("1", -3, 10, 0, &v), kCvtNegLength);
  EXPECT_EQ(v, 0u);
}

// ------------------------------------------------------------------- single

struct RealCase {
  std::string_view text;
  int status;
  float value;  // compared by bit pattern
};

void check_single(const RealCase* cases, std::size_t n, int d = 0, int scale = 0) {
  for (std::size_t i = 0; i < n; ++i) {
    const auto& c = cases[i];
    SCOPED_TRACE(::testing::Message() << "text «" << c.text << "» d " << d << " scale " << scale);
    float f = 12345.0f;
    EXPECT_EQ(cvt_text_to_ieee_s(c.text.data(), len_of(c.text), scale, d, kOptBlanksAreZeros, &f),
              c.status);
    EXPECT_EQ(bits(f), bits(c.value)) << "got " << f << " expected " << c.value;
  }
}

TEST(NumericSingle, ExponentForms) {
  const RealCase cases[] = {
      {"1.5e3", 0, 1500.0f},     {"1.5E+3", 0, 1500.0f}, {"1.5d3", 0, 1500.0f},
      {"1.5D3", 0, 1500.0f},     {"1.5Q3", 0, 1500.0f},  {"1.5q+3", 0, 1500.0f},
      {"1.5+3", 0, 1500.0f},     {"15E2", 0, 1500.0f},   {".15e4", 0, 1500.0f},
      {"1.5-3", 0, 0.0015f},     {"1.5e-3", 0, 0.0015f}, {"1.5d-03", 0, 0.0015f},
      {"1.5e", 0, 1.5f},         {"1.5e+", 0, 1.5f},     {"1.5E-", 0, 1.5f},
      {"1.5+", 0, 1.5f},         {"1.5-", 0, 1.5f},      {"1e00005", 0, 1e5f},
      {"1e0000000005", 0, 1e5f},  // leading exponent zeros are not significant
      {"-2.5E-05", 0, -2.5e-5f},
  };
  check_single(cases, std::size(cases));
}

TEST(NumericSingle, ZeroAndSyntax) {
  const RealCase cases[] = {
      {"", 0, 0.0f},
      {"0", 0, 0.0f},
      {".", 0, 0.0f},
      {"-0.0", 0, 0.0f},  // never a negative zero without a significant digit
      {"-0", 0, 0.0f},
      {"+", 0, 0.0f},
      {"-", 0, 0.0f},
      {"   ", 0, 0.0f},
      {"-0e99999", 0, 0.0f},
      {"0e10000", 0, 0.0f},
      {" \t\n\v\f\r1.5", 0, 1.5f},  // codes 9..13 and blanks skipped
      {"+7", 0, 7.0f},
      {"7", 0, 7.0f},
      {"- 5", 0, -5.0f},   // a blank after the sign is a zero
      {"1 2", 0, 102.0f},  // blanks count as zeros
      {"1.5 ", 0, 1.5f},
      {"1e1 ", 0, 1e10f},  // also in the exponent
      {"12a", 1, 12.0f},   // leftovers: status 1, the prefix's value
      {"1.5.2", 1, 1.5f},
      {"1,2", 1, 1.0f},
      {"1.5\t", 1, 1.5f},
      {"1.5e3x", 1, 1500.0f},
      {"1.5e+-3", 1, 1.5f},
      {"inf", 1, 0.0f},
      {"nan", 1, 0.0f},
      {"0x10", 1, 0.0f},
  };
  check_single(cases, std::size(cases));
}

TEST(NumericSingle, RangeAndRounding) {
  const RealCase cases[] = {
      {"3.4028235e38", 0, std::numeric_limits<float>::max()},
      {"3.40282347E+38", 0, std::numeric_limits<float>::max()},
      {"3.5e38", 1, kInfF},
      {"1e39", 1, kInfF},
      {"-1e39", 1, -kInfF},
      {"3.4028235678e38", 1, kInfF},  // above 2^128 - 2^103: rounds up to infinity
      {"1e10000", 1, kInfF},
      {"-1e10000", 1, -kInfF},
      {"1e-46", 0, 0.0f},
      {"-1e-50", 0, -0.0f},
      {"1e-10000", 0, 0.0f},
      {"-1e-10000", 0, -0.0f},
      {"1.4e-45", 0, float_of(0x00000001)},
      {"1e-45", 0, float_of(0x00000001)},
      {"7.1e-46", 0, float_of(0x00000001)},  // above half the smallest subnormal
      {"7.0e-46", 0, 0.0f},                  // below it
      {"1.0e-40", 0, 1.0e-40f},
      {"1.17549435E-38", 0, std::numeric_limits<float>::min()},
      {"1.1754942E-38", 0, float_of(0x007FFFFF)},  // largest subnormal
      {"0.1", 0, float_of(0x3DCCCCCD)},
      {"-3.14159274", 0, -3.14159274f},
      {"-1.2345678E-03", 0, -1.2345678e-3f},
      {"-4.4408921E-16", 0, -4.4408921e-16f},
      {"16777217", 0, 16777216.0f},               // tie: to even
      {"16777219", 0, 16777220.0f},               // tie: to even (upwards)
      {"1.00000005960464477539062500", 0, 1.0f},  // exactly 1 + 2^-24: tie to even
      {"1.00000005960464477539062501", 0, float_of(0x3F800001)},
      {"0.000000000000000000000000000000000000000000001", 0, float_of(0x00000001)},
  };
  check_single(cases, std::size(cases));
}

TEST(NumericSingle, LongMantissaKeeps27Digits) {
  const RealCase cases[] = {
      // 30 digits: the first 27 scaled by the right power of ten.
      {"123456789012345678901234567890", 0, 1.23456789012345678901234567e29f},
      {"1234567890123456789012345678.90", 0, 1.23456789012345678901234567e27f},
      {"0.123456789012345678901234567890e5", 0, 1.23456789012345678901234567e4f},
      // The 28th and later digits would round up; dropped, the rest is the
      // exact midpoint 1 + 2^-24, which ties to even.
      {"1.00000005960464477539062500001", 0, 1.0f},
      // Exactly 2^128 - 2^103 would tie to infinity; its first 27 digits lie
      // below it: the largest finite single.
      {"340282356779733661637539395458142568448", 0, std::numeric_limits<float>::max()},
      // 100 significant digits: still ~1e100, overflow.
      {"1000000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
       "000000000",
       1, kInfF},
  };
  check_single(cases, std::size(cases));
}

TEST(NumericSingle, OutOfRangeByMagnitude) {
  // The exponent field's sign does not decide: the magnitude does.
  const std::string zeros45 = "0." + std::string(45, '0') + "1";          // 1e-46, no exponent
  const std::string zeros44 = "0." + std::string(44, '0') + "1";          // 1e-45
  const std::string big_neg_exp = "4" + std::string(41, '0') + "e-3";     // 4e38
  const std::string fits_neg_exp = "1" + std::string(41, '0') + "e-3";    // 1e38
  const std::string tiny_pos_exp = "0." + std::string(60, '0') + "1e+5";  // 1e-56
  const RealCase cases[] = {
      {zeros45, 0, 0.0f},      {zeros44, 0, float_of(0x00000001)},
      {big_neg_exp, 1, kInfF}, {fits_neg_exp, 0, 1e38f},
      {tiny_pos_exp, 0, 0.0f},
  };
  check_single(cases, std::size(cases));
  const std::string neg = "-" + zeros45;
  const RealCase negative[] = {{neg, 0, -0.0f}};
  check_single(negative, 1);
  // More than 4 exponent digits still decide by the exponent's sign.
  const RealCase early[] = {{"0.000001e10000", 1, kInfF}, {"100000e-10000", 0, 0.0f}};
  check_single(early, std::size(early));
}

TEST(NumericSingle, ImpliedDigitsAndScale) {
  const RealCase d2[] = {
      {"12345", 0, 123.45f},
      {"123.45", 0, 123.45f},  // an explicit point wins
      {"12345e1", 0, 1234.5f},
      {"-5", 0, -0.05f},
  };
  check_single(d2, std::size(d2), 2);
  const RealCase scale1[] = {
      {"1.5", 0, 0.15f},   // no exponent: divided by 10^scale
      {"1.5e0", 0, 1.5f},  // an exponent: no effect
      {"1.5+0", 0, 1.5f},
  };
  check_single(scale1, std::size(scale1), 0, 1);
}

TEST(NumericSingle, NegativeLengthAndCore) {
  float f = 1.0f;
  EXPECT_EQ(cvt_text_to_ieee_s("1", -1, 0, 0, 0, &f), kCvtNegLength);
  EXPECT_EQ(bits(f), 0u);

  struct Core {
    std::string_view text;
    float value;
    std::size_t consumed;
    int range;
  };
  const Core cases[] = {
      {"1.5x", 1.5f, 3, kRangeOk},           {"1e39", kInfF, 4, kRangeOverflow},
      {"-1e39", -kInfF, 5, kRangeOverflow},  {"1e-50", 0.0f, 5, kRangeUnderflow},
      {"-1e-50", -0.0f, 6, kRangeUnderflow}, {"0", 0.0f, 1, kRangeOk},
      {"1.0e-40", 1.0e-40f, 7, kRangeOk},  // a subnormal is not an underflow
      {"  2,", 2.0f, 3, kRangeOk},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const char* end = nullptr;
    int range = -1;
    const float v =
        cvtas_a_to_s(c.text.data(), len_of(c.text), kRealCoreOptions, 0, 0, &end, &range);
    EXPECT_EQ(bits(v), bits(c.value));
    EXPECT_EQ(static_cast<std::size_t>(end - c.text.data()), c.consumed);
    EXPECT_EQ(range, c.range);
  }
  const char* end = nullptr;
  int range = -1;
  const char* t = "5";
  EXPECT_EQ(cvtas_a_to_s(t, -4, 0, 0, 0, &end, &range), 0.0f);
  EXPECT_EQ(end, t);
  EXPECT_EQ(range, kRangeOk);
}

TEST(NumericSingle, ArbitraryTextsKeepTheInvariants) {
  // Random texts over the characters that matter: statuses stay 0 or 1, the
  // scan stops inside the text, status 0 means all consumed and no overflow,
  // and a text without a significant digit is +0.0.
  constexpr std::string_view kAlphabet = "0123456789+-.eEdDqQ \t,x00011";
  std::uint64_t state = 0x9E3779B97F4A7C15u;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  char text[48];
  for (int i = 0; i < 100000; ++i) {
    const auto len = static_cast<std::int32_t>(next() % sizeof text);
    bool significant = false;
    for (std::int32_t k = 0; k < len; ++k) {
      text[k] = kAlphabet[next() % kAlphabet.size()];
      significant |= text[k] >= '1' && text[k] <= '9';
    }
    SCOPED_TRACE(std::string_view(text, static_cast<std::size_t>(len)));
    const char* end = nullptr;
    int range = -1;
    const float core = cvtas_a_to_s(text, len, 0, 0, 0, &end, &range);
    ASSERT_TRUE(end >= text && end <= text + len);
    float f = 1.0f;
    const int st = cvt_text_to_ieee_s(text, len, 0, 0, kOptBlanksAreZeros, &f);
    ASSERT_EQ(st, (end == text + len && range != kRangeOverflow) ? 0 : 1);
    ASSERT_EQ(bits(f), bits(core));
    double d = 1.0;
    const int st_d = cvt_text_to_ieee_t(text, len, 0, 0, kOptBlanksAreZeros, &d);
    ASSERT_TRUE(st_d == 0 || st_d == 1);
    if (!significant) {
      ASSERT_EQ(bits(f), 0u);
      ASSERT_EQ(bits(d), 0u);
    }
    std::int32_t v = 1;
    const int st_i = cvt_text_to_integer(text, len, kOptIgnoreBlanks, &v);
    ASSERT_TRUE(st_i == kCvtOk || st_i == kCvtBadChar || st_i == kCvtRange);
    if (st_i != kCvtOk) {
      ASSERT_EQ(v, 0);
    }
  }
}

// ------------------------------------------------------------------- double

TEST(NumericDouble, Conversions) {
  struct Case {
    std::string_view text;
    int status;
    double value;
  };
  const Case cases[] = {
      {"1.5+3", 0, 1500.0},
      {"1.5Q3", 0, 1500.0},
      {"1.5e", 0, 1.5},
      {"0.1", 0, 0.1},
      {"2.9", 0, 2.9},
      {"1e10", 0, 1e10},
      {"1e23", 0, 1e23},
      {"9007199254740993", 0, 9007199254740992.0},  // tie: to even
      {"1.7976931348623157e308", 0, std::numeric_limits<double>::max()},
      {"1.8e308", 1, kInfD},
      {"1e309", 1, kInfD},
      {"-1e309", 1, -kInfD},
      {"1e10000", 1, kInfD},
      {"4.9406564584124654e-324", 0, std::numeric_limits<double>::denorm_min()},
      {"2.2250738585072014e-308", 0, std::numeric_limits<double>::min()},
      {"1e-324", 0, 0.0},  // below half the smallest subnormal
      {"-1e-400", 0, -0.0},
      {"1e-10000", 0, 0.0},
      {"-0.0", 0, 0.0},
      {"", 0, 0.0},
      {"123456789012345678901234567890", 0, 1.23456789012345678901234567e29},
      {"1.5x", 1, 1.5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    double v = 12345.0;
    EXPECT_EQ(cvt_text_to_ieee_t(c.text.data(), len_of(c.text), 0, 0, kOptBlanksAreZeros, &v),
              c.status);
    EXPECT_EQ(bits(v), bits(c.value)) << "got " << v;
  }
  // Magnitude decides here too: 310 digits with the exponent -2 is 1e307.
  const std::string big = "1" + std::string(309, '0') + "e-2";
  double v = 0;
  EXPECT_EQ(cvt_text_to_ieee_t(big.data(), len_of(big), 0, 0, 0, &v), 0);
  EXPECT_EQ(v, 1e307);
  const char* end = nullptr;
  int range = -1;
  EXPECT_EQ(cvtas_a_to_t("1e-400", 6, 0, 0, 0, &end, &range), 0.0);
  EXPECT_EQ(range, kRangeUnderflow);
  EXPECT_EQ(cvt_text_to_ieee_t("1", -1, 0, 0, 0, &v), kCvtNegLength);
}

// ------------------------------------------------------------------ logical

TEST(NumericBoolean, Words) {
  struct Case {
    std::string_view text;
    int status;
    std::int32_t value;
  };
  const Case cases[] = {
      {"T", 0, -1}, {"t", 0, -1}, {".TRUE.", 0, -1}, {".t", 0, -1}, {"  T", 0, -1}, {"true", 0, -1},
      {"F", 0, 0},  {"f", 0, 0},  {".false.", 0, 0}, {".F", 0, 0},  {"", 0, 0},     {"   ", 0, 0},
      {"X", 1, 0},  {".", 1, 0},  {".X", 1, 0},      {"1", 1, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t v = 777;
    EXPECT_EQ(cvt_text_to_boolean(c.text.data(), len_of(c.text), kOptListCharOrLogical, &v),
              c.status);
    EXPECT_EQ(v, c.value);
  }
  std::int32_t v = 777;
  EXPECT_EQ(cvt_text_to_boolean("T", -1, 0, &v), kCvtNegLength);
  EXPECT_EQ(v, 0);
}

// ---------------------------------------------------------- integer to text

TEST(NumericIntegerToText, Fields) {
  struct Case {
    std::int64_t value;
    int w;
    int m;
    std::uint32_t options;
    int status;
    std::string_view text;
  };
  const Case cases[] = {
      {0, 12, 1, 0, kCvtOk, "           0"},
      {-5, 12, 1, 0, kCvtOk, "          -5"},
      {3000003, 12, 1, 0, kCvtOk, "     3000003"},
      {-2147483647 - 1, 12, 1, 0, kCvtOk, " -2147483648"},
      {2147483647, 12, 1, 0, kCvtOk, "  2147483647"},
      {0, 3, 0, 0, kCvtOk, "   "},  // 0 with m = 0: no digit
      {5, 3, 3, 0, kCvtOk, "005"},
      {-5, 4, 3, 0, kCvtOk, "-005"},
      {-5, 3, 3, 0, kCvtNarrow, "***"},
      {12345, 4, 1, 0, kCvtNarrow, "****"},
      {-1, 1, 1, 0, kCvtNarrow, "*"},
      {7, 5, 1000, 0, kCvtNarrow, "*****"},
      {std::numeric_limits<std::int64_t>::min(), 20, 1, 0, kCvtOk, "-9223372036854775808"},
      {std::numeric_limits<std::int64_t>::min(), 19, 1, 0, kCvtNarrow, "*******************"},
      {42, 4, 1, 16, kCvtOk, "  42"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.value << " w " << c.w << " m " << c.m);
    std::string out(static_cast<std::size_t>(c.w), '?');
    EXPECT_EQ(cvt_integer_to_text(c.value, c.w, c.m, c.options, out.data()), c.status);
    EXPECT_EQ(out, c.text);
  }
  char buf[4] = {'?', '?', '?', '?'};
  EXPECT_EQ(cvt_integer_to_text(5, 0, 1, 0, buf), kCvtOk);  // w = 0 writes nothing
  EXPECT_EQ(std::string_view(buf, 4), "????");
  EXPECT_EQ(cvt_integer_to_text(5, -1, 1, 0, buf), kCvtNegLength);
  EXPECT_EQ(cvt_integer_to_text(5, 4, -1, 0, buf), kCvtNegLength);
  EXPECT_EQ(cvt_integer_to_text(5, 4, 1, 17, buf), kCvtBadOption);
  EXPECT_EQ(std::string_view(buf, 4), "????");
}

// ----------------------------------------------------------- for__cvt_value

CvtRequest request(std::uint8_t edit, std::uint32_t options = 0, std::int16_t d = 0) {
  CvtRequest r;
  r.edit = edit;
  r.options = options;
  r.d = d;
  return r;
}

msg::Id convert(const CvtRequest& req, std::string_view text, void* addr, std::uint8_t type,
                std::int32_t length) {
  CvtDest dest;
  dest.addr = addr;
  dest.type = type;
  dest.length = length;
  return for__cvt_value(req, text.data(), len_of(text), dest);
}

TEST(NumericCvtValue, StatusMapping) {
  EXPECT_EQ(cvt_status_message(0), 0u);
  EXPECT_EQ(cvt_status_message(10), 0u);
  EXPECT_EQ(cvt_status_message(12), 0u);
  for (int st : {1, 2, 3, 4, 5, 6, 8, 9, 11, 13}) {
    EXPECT_EQ(cvt_status_message(st), msg::kInputConversion) << st;
  }
  EXPECT_EQ(msg::number(msg::kInputConversion), 64);
  EXPECT_EQ(msg::number(msg::kFormatMismatch), 61);
}

TEST(NumericCvtValue, IntegerEdit) {
  struct Case {
    std::string_view text;
    std::uint32_t options;
    msg::Id result;
    std::int32_t value;
  };
  const Case cases[] = {
      {"42", 0, 0, 42},
      {"-2147483648", 0, 0, -2147483647 - 1},
      {"1 2", 0, 0, 12},                  // blanks ignored
      {"1 2", kOptIgnoreBlanks, 0, 102},  // the request's hex 2: blanks are zeros
      {"3000000000", 0, msg::kInputConversion, 0},
      {"12a", 0, msg::kInputConversion, 0},
      {"15+3", 0, msg::kInputConversion, 0},
      {"+", 0, 0, 0},
      {"T", kOptListCharOrLogical, 0, -1},
      {".false.", kOptListCharOrLogical, 0, 0},
      {"X", kOptListCharOrLogical, msg::kInputConversion, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::int32_t v = 777;
    EXPECT_EQ(convert(request(kEditInteger, c.options), c.text, &v, kTypeInt4, 4), c.result);
    EXPECT_EQ(v, c.value);
    std::int32_t l = 777;  // a 4-byte logical destination is served alike
    EXPECT_EQ(convert(request(kEditInteger, c.options), c.text, &l, kTypeLogical4, 4), c.result);
    EXPECT_EQ(l, c.value);
  }
}

TEST(NumericCvtValue, IntegerWidths) {
  std::int8_t b = 5;
  EXPECT_EQ(convert(request(kEditInteger), "127", &b, kTypeInt1, 1), 0u);
  EXPECT_EQ(b, 127);
  EXPECT_EQ(convert(request(kEditInteger), "-128", &b, kTypeInt1, 1), 0u);
  EXPECT_EQ(b, -128);
  EXPECT_EQ(convert(request(kEditInteger), "128", &b, kTypeInt1, 1), msg::kInputConversion);
  EXPECT_EQ(b, 0);
  std::int16_t h = 5;
  EXPECT_EQ(convert(request(kEditInteger), "-32768", &h, kTypeInt2, 2), 0u);
  EXPECT_EQ(h, -32768);
  EXPECT_EQ(convert(request(kEditInteger), "32768", &h, kTypeInt2, 2), msg::kInputConversion);
  EXPECT_EQ(h, 0);
  std::int64_t q = 5;
  EXPECT_EQ(convert(request(kEditInteger), "9223372036854775807", &q, kTypeInt8, 8), 0u);
  EXPECT_EQ(q, std::numeric_limits<std::int64_t>::max());
  EXPECT_EQ(convert(request(kEditInteger, kOptListCharOrLogical), "t", &q, kTypeLogical8, 8), 0u);
  EXPECT_EQ(q, -1);
}

TEST(NumericCvtValue, GeneralEdit) {
  float f = 5.0f;
  EXPECT_EQ(convert(request(kEditGeneral, 0x40), "1.5+3", &f, kTypeReal4, 4), 0u);
  EXPECT_EQ(f, 1500.0f);
  EXPECT_EQ(convert(request(kEditGeneral, 0x40), "7", &f, kTypeReal4, 4), 0u);
  EXPECT_EQ(f, 7.0f);
  EXPECT_EQ(convert(request(kEditGeneral, 0x40), "+", &f, kTypeReal4, 4), 0u);
  EXPECT_EQ(bits(f), 0u);
  EXPECT_EQ(convert(request(kEditGeneral, 0x40), "1e39", &f, kTypeReal4, 4), msg::kInputConversion);
  EXPECT_EQ(f, kInfF);  // a real overflow leaves infinity before the error
  EXPECT_EQ(convert(request(kEditGeneral, 0x40), "-1e-50", &f, kTypeReal4, 4), 0u);
  EXPECT_EQ(bits(f), 0x80000000u);
  EXPECT_EQ(convert(request(kEditGeneral, 0x40), "1.5x", &f, kTypeReal4, 4), msg::kInputConversion);
  EXPECT_EQ(convert(request(kEditGeneral, 0x40, 2), "12345", &f, kTypeReal4, 4), 0u);
  EXPECT_EQ(f, 123.45f);
  double d = 5.0;
  EXPECT_EQ(convert(request(kEditGeneral, 0x40), "2.5", &d, kTypeReal8, 8), 0u);
  EXPECT_EQ(d, 2.5);
  EXPECT_EQ(convert(request(kEditGeneral, 0x40), "1e309", &d, kTypeReal8, 8),
            msg::kInputConversion);
  EXPECT_EQ(d, kInfD);
}

TEST(NumericCvtValue, LogicalForReal) {
  // By the logical value's meaning: ".false." is false (0.0), not "-1.0
  // because the first character is not F".
  struct Case {
    std::string_view text;
    msg::Id result;
    float value;
  };
  const Case cases[] = {
      {"T", 0, -1.0f},      {"t", 0, -1.0f},
      {".true.", 0, -1.0f}, {"F", 0, 0.0f},
      {"f", 0, 0.0f},       {".false.", 0, 0.0f},
      {".F", 0, 0.0f},      {"X", msg::kInputConversion, 0.0f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    float f = 5.0f;
    EXPECT_EQ(convert(request(kEditGeneral, kOptListCharOrLogical), c.text, &f, kTypeReal4, 4),
              c.result);
    EXPECT_EQ(bits(f), bits(c.value));
    double d = 5.0;
    EXPECT_EQ(convert(request(kEditGeneral, kOptListCharOrLogical), c.text, &d, kTypeReal8, 8),
              c.result);
    EXPECT_EQ(bits(d), bits(static_cast<double>(c.value)));
  }
}

TEST(NumericCvtValue, CharacterEdit) {
  struct Case {
    std::string_view text;
    std::uint32_t options;
    std::string_view stored;
  };
  const Case cases[] = {
      {"AXIS_X", kOptListCharOrLogical, "AXIS_X  "},
      {"LONGER_THAN_8", kOptListCharOrLogical, "LONGER_T"},  // list-directed: the first L
      {"LONGER_THAN_8", 0, "R_THAN_8"},                      // otherwise: the last L
      {"EXACTLY8", 0, "EXACTLY8"},
      {"", kOptListCharOrLogical, "        "},
      {"it's", kOptListCharOrLogical, "it's    "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    char out[9] = "????????";
    EXPECT_EQ(convert(request(kEditCharacter, c.options), c.text, out, kTypeChar, 8), 0u);
    EXPECT_EQ(std::string_view(out, 8), c.stored);
  }
}

TEST(NumericCvtValue, TypeMismatchIs61) {
  std::int32_t i = 0;
  float f = 0;
  char ch[8];
  EXPECT_EQ(convert(request(kEditInteger), "1", &f, kTypeReal4, 4), msg::kFormatMismatch);
  EXPECT_EQ(convert(request(kEditInteger), "1", ch, kTypeChar, 8), msg::kFormatMismatch);
  EXPECT_EQ(convert(request(kEditGeneral), "1", &i, kTypeInt4, 4), msg::kFormatMismatch);
  EXPECT_EQ(convert(request(kEditGeneral), "1", ch, kTypeChar, 8), msg::kFormatMismatch);
  EXPECT_EQ(convert(request(kEditCharacter), "1", &i, kTypeInt4, 4), msg::kFormatMismatch);
  EXPECT_EQ(convert(request(kEditCharacter), "1", &f, kTypeReal4, 4), msg::kFormatMismatch);
  EXPECT_EQ(convert(request(0x99), "1", &i, kTypeInt4, 4), msg::kFormatMismatch);
}

// ------------------------------------------------- real-to-integer truncation

TEST(NumericTruncate, LowBitsOfTheTruncatedValue) {
  struct Case {
    double v;
    std::int32_t low;
  };
  const Case cases[] = {
      {2.9, 2},
      {-2.9, -2},
      {0.0, 0},
      {-0.0, 0},
      {0.999, 0},
      {1e10, 1410065408},  // low 32 bits of 10 000 000 000
      {-1e10, -1410065408},
      {2147483648.0, -2147483647 - 1},
      {4294967296.0, 0},
      {4294967297.5, 1},
      {9223372036854774784.0, -1024},  // largest double below 2^63 (2^63 - 1024): fits
      {9223372036854775808.0, 0},      // 2^63: integer indefinite
      {-9223372036854775808.0, 0},     // -2^63 fits
      {1e300, 0},
      {-1e300, 0},
      {kInfD, 0},
      {-kInfD, 0},
      {std::numeric_limits<double>::quiet_NaN(), 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.v);
    EXPECT_EQ(truncate_to_int32_low_bits(c.v), c.low);
  }
  const std::int64_t indefinite = std::numeric_limits<std::int64_t>::min();
  EXPECT_EQ(truncate_to_int64_indefinite(9223372036854774784.0), 9223372036854774784);
  EXPECT_EQ(truncate_to_int64_indefinite(-9223372036854775808.0), indefinite);
  EXPECT_EQ(truncate_to_int64_indefinite(9223372036854775808.0), indefinite);
  EXPECT_EQ(truncate_to_int64_indefinite(std::nan("")), indefinite);
  EXPECT_EQ(truncate_to_int64_indefinite(-kInfD), indefinite);
  EXPECT_EQ(truncate_to_int64_indefinite(-3.7), -3);
}

TEST(NumericTruncate, ListDirectedIntegerFromReal) {
  // The list-directed reader's path: «2.9» -> 2, «-2.9» -> -2, «1e10» -> 1410065408.
  struct Case {
    std::string_view text;
    std::int32_t value;
  };
  const Case cases[] = {
      {"2.9", 2}, {"-2.9", -2}, {"1e10", 1410065408}, {"1.5+3", 1500}, {"1e30", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    double v = 0;
    ASSERT_EQ(cvt_text_to_ieee_t(c.text.data(), len_of(c.text), 0, 0, kOptBlanksAreZeros, &v), 0);
    EXPECT_EQ(truncate_to_int32_low_bits(v), c.value);
  }
}

}  // namespace
}  // namespace recio
