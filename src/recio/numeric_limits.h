// Text to real: the limits of each destination type, in one place. The scan
// produces value = digits x 10^q; with e10 = (significant digits) + q the
// value lies in [10^(e10-1), 10^e10).
#pragma once

#include <cstdint>

namespace recio {

template <typename T>
struct RealLimits;

template <>
struct RealLimits<float> {
  // Decided without arithmetic: e10 < -45 means the value is below 10^-46,
  // under 2^-150 = 7.0e-46 (half the smallest subnormal), so it rounds to
  // zero; e10 > 39 means at least 10^39, above 2^128 (3.4e38): infinity.
  static constexpr std::int64_t kMinE10 = -45;
  static constexpr std::int64_t kMaxE10 = 39;
  // The fast path works in double and rounds once to float; it takes only
  // results in the normal range, [2^-126, the midpoint between the largest
  // float (2 - 2^-23) x 2^127 and 2^128); from that midpoint up a value
  // rounds to infinity.
  static constexpr double kFastMin = 0x1p-126;
  static constexpr double kOverflowMidpoint = 0x1.ffffffp127;
  // Exponents the fast path can meet in that range with 1 <= digits <= 2^53:
  // 2^53 x 10^-54 = 9.0e-39 is already below 2^-126, and 10^39 above 2^128.
  static constexpr std::int64_t kFastMinQ = -53;
  static constexpr std::int64_t kFastMaxQ = 38;
  // Exponents whose results are normal whatever the digits (1 .. 2^53):
  // 10^-37 is above 2^-126 = 1.2e-38, and 2^53 x 10^22 = 9.0e37 below the
  // overflow midpoint, 3.4e38. No range test is needed for them.
  static constexpr std::int64_t kNormalMinQ = -37;
  static constexpr std::int64_t kNormalMaxQ = 22;
};

template <>
struct RealLimits<double> {
  // 10^-324 is under 2^-1075 = 2.5e-324 (half the smallest subnormal);
  // 10^309 is above the largest double, 1.8e308.
  static constexpr std::int64_t kMinE10 = -323;
  static constexpr std::int64_t kMaxE10 = 309;
  // Clinger's fast path: digits and 10^|q| both exact doubles (5^22 < 2^53,
  // so 10^22 = 2^22 x 5^22 is exact and 10^23 is not), one rounding.
  static constexpr std::int64_t kFastMaxQ = 22;
};

// A mantissa of at most 2^53 is an exact double.
inline constexpr std::uint64_t kExactDoubleMantissa = std::uint64_t{1} << 53;

// At most 27 significant digits take part in a value; further digits only
// place the point.
inline constexpr std::int64_t kMaxSignificantDigits = 27;

}  // namespace recio
