// Each stage of text to real on its own edge cases: the scan (and its
// straight path against its loops), the midpoint rule and the fast path, the
// exact path, and the list-directed short path against the conversion.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>

#include "recio/io_api.h"
#include "recio/list_input.h"
#include "recio/numeric.h"
#include "recio/numeric_exact_path.h"
#include "recio/numeric_fast_path.h"
#include "recio/numeric_scan.h"
#include "support/bits.h"

namespace recio {
namespace {

using testsupport::bits;

// The text followed by NUL bytes, as a padded record has it, in storage of
// exactly that size: a read past the padding is one the sanitizers see.
struct Padded {
  explicit Padded(std::string_view t)
      : size(t.size()), text(std::make_unique<char[]>(size + kListRecordPadding)) {
    std::copy(t.begin(), t.end(), text.get());
  }
  const char* begin() const { return text.get(); }
  const char* end() const { return text.get() + size; }
  std::size_t size;
  std::unique_ptr<char[]> text;
};

template <BlankRule kBlanks, bool kPadded>
ParsedDecimal scan(std::string_view t) {
  const Padded p(t);
  ParsedDecimal d;
  scan_decimal<kBlanks, kPadded>(p.begin(), p.end(), &d);
  // Offsets into the caller's text: the copy dies here.
  d.mantissa = t.data() + (d.mantissa - p.begin());
  d.mantissa_end = t.data() + (d.mantissa_end - p.begin());
  d.end = t.data() + (d.end - p.begin());
  return d;
}

// Every part of a parsed decimal, positions as offsets from base.
std::string all_parts(const ParsedDecimal& d, const char* base) {
  return testing::PrintToString(std::make_tuple(d.digits, d.exponent, d.count, d.mantissa - base,
                                                d.mantissa_end - base, d.end - base, d.negative,
                                                d.point, d.exponent_part, d.exponent_letter,
                                                d.exponent_huge, d.exponent_negative));
}

struct ScanCase {
  std::string_view text;
  std::uint64_t digits;
  std::int64_t exponent;
  std::int32_t count;
  std::size_t taken;  // characters up to what stopped the scan
  bool negative, point, letter, huge;
};

TEST(NumericScan, PartsOfTheDecimal) {
  constexpr bool T = true, F = false;
  const ScanCase cases[] = {
      // text                digits     exp  count taken neg point letter huge
      {"8.5089895E-01", 85089895, -8, 8, 13, F, T, T, F},
      {"-3.9167531E+00", 39167531, -7, 8, 14, T, T, T, F},
      {"+1.5", 15, -1, 2, 4, F, T, F, F},
      {"1.5+3", 15, 2, 2, 5, F, T, F, F},  // an exponent by a bare sign
      {"1.5e", 15, -1, 2, 4, F, T, T, F},  // no exponent digits: 0
      {"1.5d-", 15, -1, 2, 5, F, T, T, F},
      {"2Q3", 2, 3, 1, 3, F, F, T, F},
      {".5", 5, -1, 1, 2, F, T, F, F},
      {"5.", 5, 0, 1, 2, F, T, F, F},
      {"007", 7, 0, 3, 3, F, F, F, F},  // leading zeros count as digits here
      {"1.2.3", 12, -1, 2, 3, F, T, F, F},
      {"12345678.12345678", 1234567812345678, -8, 16, 17, F, T, F, F},
      {"1.123456789E2", 1123456789, -7, 10, 13, F, T, T, F},  // nine fraction digits
      {"1E+123", 1, 123, 1, 6, F, F, T, F},                   // three exponent digits
      {"1e00005", 1, 5, 1, 7, F, F, T, F},  // leading exponent zeros are not significant
      {"1e9999", 1, 9999, 1, 6, F, F, T, F},
      {"1e10000", 1, 10000, 1, 7, F, F, T, T},  // five significant digits: huge
      {"1e-99999999999", 1, -10000, 1, 14, F, F, T, T},
      {"E5", 0, 5, 0, 2, F, F, T, F},  // no mantissa
      {"-", 0, 0, 0, 1, T, F, F, F},
      {"x", 0, 0, 0, 0, F, F, F, F},
  };
  for (const ScanCase& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    // A blank ends the value or is a zero: neither matters without blanks,
    // and a padded text takes the straight path first.
    for (const ParsedDecimal& d :
         {scan<BlankRule::kEnds, true>(c.text), scan<BlankRule::kEnds, false>(c.text),
          scan<BlankRule::kZero, false>(c.text)}) {
      EXPECT_EQ(d.digits, c.digits);
      EXPECT_EQ(d.exponent, c.exponent);
      EXPECT_EQ(d.count, c.count);
      EXPECT_EQ(static_cast<std::size_t>(d.end - c.text.data()), c.taken);
      EXPECT_EQ(d.negative, c.negative);
      EXPECT_EQ(d.point, c.point);
      EXPECT_EQ(d.exponent_letter, c.letter);
      EXPECT_EQ(d.exponent_huge, c.huge);
    }
  }
}

TEST(NumericScan, BlanksAreZerosOrEndTheValue) {
  struct Case {
    std::string_view text;
    std::uint64_t zero_digits;  // blanks as zeros
    std::int64_t zero_exponent;
    std::size_t ends_taken;  // a blank ends the value
  };
  const Case cases[] = {
      {"1 2", 102, 0, 1},       {"1.5 ", 150, -2, 3},
      {"- 5", 5, 0, 1},         {"1.5E 3", 15, 2, 4},  // in the exponent too
      {"1.5E+3 0", 15, 299, 6},                        // "3", blank, "0": 300
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const ParsedDecimal zero = scan<BlankRule::kZero, false>(c.text);
    EXPECT_EQ(zero.digits, c.zero_digits);
    EXPECT_EQ(zero.exponent, c.zero_exponent);
    EXPECT_EQ(zero.end, c.text.data() + c.text.size());
    for (const ParsedDecimal& ends :
         {scan<BlankRule::kEnds, true>(c.text), scan<BlankRule::kEnds, false>(c.text)})
      EXPECT_EQ(static_cast<std::size_t>(ends.end - c.text.data()), c.ends_taken);
  }
}

TEST(NumericScan, StraightPathLeavesOtherShapesToTheLoops) {
  // Accepted: the parts the loops would find. Declined: nothing written.
  struct Case {
    std::string_view text;
    bool straight;
  };
  const Case cases[] = {
      {"8.5089895E-01", true}, {"-1.5", true},      {"7", true},
      {"1.5E+00 ", true},      {"1.5E+00*", true},  {"1.5E+123", true},  // the caller sees '3'
      {"1.12345678", true},    {"1.5+3", false},    {"1.5E3", false},    // the caller sees '8'
      {"12.1234567", true},    {"1.1234567", true}, {"-1.1234567e+05,", true},
      {"1.123456x", true},     {"1,1234567", true}, {"1.1234567E5", false},
      {"1.5E+3", false},       {"1.5E-3x", false},  {"12345678.5", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const Padded p(c.text);
    ParsedDecimal straight;
    straight.digits = 4242;
    ASSERT_EQ(scan_straight(p.begin(), &straight), c.straight);
    if (!c.straight) {
      EXPECT_EQ(straight.digits, 4242u);
      continue;
    }
    ParsedDecimal loops;
    scan_decimal<BlankRule::kEnds, false>(p.begin(), p.end(), &loops);
    if (scan_detail::digit_of(*straight.end) <= 9) continue;  // the loops take the third digit
    EXPECT_EQ(all_parts(straight, p.begin()), all_parts(loops, p.begin()));
  }
}

TEST(NumericFastPath, MidpointRule) {
  struct Case {
    double d;
    bool near;
  };
  const Case cases[] = {
      {1.0, false},
      {0x1.000001p0, true},  // halfway between 1 and the next float
      {0x1.0000010000003p0, true},
      {0x1.0000010000004p0, false},  // 4 units away
      {0x1.000000fffffffp0, true},
      {0x1.000000ffffffcp0, false},
      {0x1.fffffep127, false},
      {0x1.ffffffp127, true},  // the overflow midpoint
  };
  for (const Case& c : cases) EXPECT_EQ(near_float_midpoint(c.d), c.near) << c.d;
}

TEST(NumericFastPath, SingleDecidesOnlyWhatItCan) {
  constexpr float kDeclined = -12345.0f;
  struct Case {
    std::uint64_t digits;
    std::int64_t q;
    bool negative;
    float want;  // kDeclined: left to the exact path
  };
  const Case cases[] = {
      {1, -1, false, 0.1f},
      {85089895, -8, true, -0.85089895f},
      {0, 7, true, 0.0f},          // no significant digit: +0.0
      {0, -60, false, kDeclined},  // ... outside the table the exact path says so
      {16777216, 0, false, 16777216.0f},
      {16777217, 0, false, kDeclined},  // a midpoint, beyond exact floats
      {16777217, 0, false, kDeclined},
      {3, 0, false, 3.0f},
      {5, -1, false, 0.5f},
      {34028235, 31, false, std::numeric_limits<float>::max()},
      {34028236, 31, false, kDeclined},  // rounds to infinity
      {11754944, -45, false, 1.1754944e-38f},
      {11754942, -45, false, kDeclined},  // below the normal range
      {14, -46, false, kDeclined},        // subnormal
      {1, 39, false, kDeclined},
      {1, -54, false, kDeclined},
      {(std::uint64_t{1} << 53) + 1, 0, false, kDeclined},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.digits << "e" << c.q);
    float out = kDeclined;
    const bool decided = fast_single(c.digits, c.q, c.negative, &out);
    EXPECT_EQ(decided, bits(c.want) != bits(kDeclined));
    if (decided) {
      EXPECT_EQ(bits(out), bits(c.want));
    }
  }
}

TEST(NumericFastPath, DoubleTakesExactOperandsOnly) {
  struct Case {
    std::uint64_t digits;
    std::int64_t q;
    bool decided;
    double want;
  };
  const Case cases[] = {
      {1, 22, true, 1e22},
      {1, 23, false, 0},
      {1, -22, true, 1e-22},
      {15, -1, true, 1.5},
      {0, 400, true, 0.0},
      {std::uint64_t{1} << 53, 0, true, 0x1p53},
      {(std::uint64_t{1} << 53) + 1, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.digits << "e" << c.q);
    double out = -1.0;
    ASSERT_EQ(fast_double(c.digits, c.q, false, &out), c.decided);
    if (c.decided) {
      EXPECT_EQ(bits(out), bits(c.want));
    }
  }
}

struct ExactCase {
  std::string_view text;
  std::uint32_t want;
  int range;
};

TEST(NumericExactPath, TiesSubnormalsTheCutAndTheRange) {
  constexpr std::uint32_t kInf = 0x7F800000u, kMinus = 0x80000000u;
  const ExactCase cases[] = {
      // Ties go to even.
      {"16777217", 0x4B800000u, kRangeOk},
      {"16777219", 0x4B800002u, kRangeOk},
      {"1.000000059604644775390625", 0x3F800000u, kRangeOk},
      {"1.000000059604644775390626", 0x3F800001u, kRangeOk},
      // Only 27 significant digits take part: the 30th cannot break the tie,
      // but the dropped digits still place the point.
      {"1.00000005960464477539062500001", 0x3F800000u, kRangeOk},
      {"100000005960464477539062500001e-29", 0x3F800000u, kRangeOk},
      {"123456789012345678901234567890", 0x6FC77488u, kRangeOk},
      // Subnormal edges: half the smallest subnormal rounds to even (zero).
      {"1.4e-45", 0x00000001u, kRangeOk},
      {"7.006492321624085354618647916449580656401309709382578858785341419448955413e-46", 0u,
       kRangeUnderflow},
      {"7.1e-46", 0x00000001u, kRangeOk},
      {"1.1754942e-38", 0x007FFFFFu, kRangeOk},
      {"1e-46", 0u, kRangeUnderflow},
      {"-1e-50", kMinus, kRangeUnderflow},
      {"0.000000000000000000000000000000000000000000000001", 0u, kRangeUnderflow},
      // Overflow by the rounded magnitude, and by a huge exponent's sign.
      {"3.4028235e38", 0x7F7FFFFFu, kRangeOk},
      {"3.4028236e38", kInf, kRangeOverflow},
      {"1e39", kInf, kRangeOverflow},
      {"-1e10000", kMinus | kInf, kRangeOverflow},
      {"1e-10000", 0u, kRangeUnderflow},
      {"0e10000", 0u, kRangeOk},  // no significant digit decides first
      {"-0.000", 0u, kRangeOk},
  };
  for (const ExactCase& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const ParsedDecimal d = scan<BlankRule::kZero, false>(c.text);
    int range = -1;
    EXPECT_EQ(bits(exact_single(d, &range)), c.want);
    EXPECT_EQ(range, c.range);
    // The stages together give the same.
    range = -1;
    EXPECT_EQ(bits(single_from_decimal(d, &range)), c.want);
    EXPECT_EQ(range, c.range);
  }
}

TEST(NumericExactPath, DoubleRangeAndCut) {
  struct Case {
    std::string_view text;
    double want;
    int range;
  };
  const Case cases[] = {
      {"1.7976931348623157e308", std::numeric_limits<double>::max(), kRangeOk},
      {"1.8e308", std::numeric_limits<double>::infinity(), kRangeOverflow},
      {"4.9e-324", 0x1p-1074, kRangeOk},
      {"2.4e-324", 0.0, kRangeUnderflow},
      {"1e-400", 0.0, kRangeUnderflow},
      {"9007199254740993", 9007199254740992.0, kRangeOk},  // a tie, to even
      {"0.1000000000000000055511151231257827", 0.1, kRangeOk},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    int range = -1;
    EXPECT_EQ(bits(exact_double(scan<BlankRule::kZero, false>(c.text), &range)), bits(c.want));
    EXPECT_EQ(range, c.range);
  }
}

// A field value read list-directed takes the short path; whatever its shape,
// the value and the result are the conversion's.
TEST(ListShortPath, AgreesWithTheConversion) {
  const std::string_view texts[] = {
      " 8.5089895E-01",
      "-3.9167531E+00",
      "  -0.0000000E+00",
      "0.0000000E-45",
      "1.5",
      "-7",
      "\t2.5",
      ".5",
      "1.0000000E+123",
      "1.5D+01",
      "1.5q-01",
      "1.5+3",
      "1.5e",
      "1.000000059604644775390625",
      "16777217.0",
      "1.4E-45",
      "3.4028235E+38",
      "3.4028236E+38",
      "9.9999999E+99",
      "12345678901234567890.5",
      "1.1754942E-38",
      "1.5E+00,",
      "1.5E+00/",
      "1.5E+00)",
      "1.5E+0",
      "+.5E-1",
      // One digit, the point and seven digits as one word, and its neighbours.
      "9.8765432",
      "1.12345678E+00",
      "1.2345678E+1",
      "1.2345678E+001",
      "-1.2345678d-05",
      "1.1754943E-38",
      "7.0064923E-46",
      "1.2345678E+38",
  };
  for (const std::string_view t : texts) {
    SCOPED_TRACE(std::string(t));
    // The conversion of the value's text (blanks and the separator are not).
    std::string_view value = t.substr(t.find_first_not_of(" \t"));
    value = value.substr(0, value.find_first_of(",/)"));
    float want = 0.0f;
    const bool ok = cvt_text_to_ieee_s(value.data(), static_cast<std::int32_t>(value.size()), 0, 0,
                                       kOptBlanksAreZeros, &want) == kCvtOk;
    // Through the statement (a padded private copy), and on the record alone.
    std::string record(t);
    float got = -99.0f;
    IoControlBlock cb{};
    constexpr auto kRecordReal = item_descriptor({kTextItem, kReal4Variable}, Terminator::kEnd);
    const IoArg args[] = {IoArg::val(static_cast<std::int64_t>(record.size())),
                          IoArg::address(record.data()), IoArg::address(&got)};
    EXPECT_EQ(for_read_int_lis(&cb, kFlagsErrBranch, kRecordReal, args),
              ok ? 0 : msg::number(msg::kInputConversion));
    EXPECT_EQ(bits(got), bits(want));
    ListScanState s;
    list_scan_begin(s, record.data(), static_cast<std::int32_t>(record.size()), 0);
    float plain = -99.0f;
    EXPECT_EQ(list_read_real4(s, &plain), ok ? 0u : msg::kInputConversion);
    EXPECT_EQ(bits(plain), bits(want));
  }
}

// After a value on the short path the general steps still see where the
// statement stands: a comma that follows is a separator, not a null value.
TEST(ListShortPath, LeavesTheStatementWhereTheGeneralStepsExpectIt) {
  struct Case {
    std::string_view record;
    float want[3];
  };
  constexpr float kKept = -99.0f;
  const Case cases[] = {
      {"1.5E+00 ,2.5E+00 ,3.5E+00", {1.5f, 2.5f, 3.5f}}, {"1.5E+00,,3.5E+00", {1.5f, kKept, 3.5f}},
      {",2.5E+00 3.5E+00", {kKept, 2.5f, 3.5f}},         {"1.5E+00 2*4.0", {1.5f, 4.0f, 4.0f}},
      {"1.5E+00 / 3.5E+00", {1.5f, kKept, kKept}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.record));
    std::string record(c.record);
    record.append(kListRecordPadding, '\0');
    ListScanState s;
    list_scan_begin(s, record.data(), static_cast<std::int32_t>(c.record.size()), 0, true);
    for (int i = 0; i < 3; ++i) {
      float v = kKept;
      EXPECT_EQ(list_read_real4(s, &v), 0u) << i;
      EXPECT_EQ(bits(v), bits(c.want[i])) << i;
    }
  }
}

}  // namespace
}  // namespace recio
