// Text to real, stage 2: the fast path. Decides digits x 10^q (digits exact,
// at most 2^53) with one or two floating-point operations when that is
// provably the correctly rounded result (to nearest, ties to even); returns
// false otherwise, and the exact path decides. Zero digits give +0.0: a text
// without a significant digit is never -0.0. Inline: the list-directed
// reader runs it for every real value.
#pragma once

#include <bit>
#include <cstdint>

#include "recio/numeric_limits.h"
#include "recio/numeric_pow10.h"

namespace recio {

// The midpoint rule. d = digits x (10^q rounded to double), rounded again:
// two roundings of half a unit each leave d within 2 units in its last place
// of the exact value (digits is exact). A midpoint between two neighbouring
// floats has the low 29 of d's 52 fraction bits equal to 1000...0 (in the
// normal float range). When d lies at least 4 units from it, the exact value
// lies on the same side of every midpoint as d, and rounding d to float is
// correct; within 3 units the exact value may lie on either side.
inline bool near_float_midpoint(double d) {
  constexpr std::uint32_t kMidpoint = 0x10000000u;  // bit 28 of the 29 dropped bits
  const auto low = static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(d)) & 0x1FFFFFFFu;
  return low - (kMidpoint - 3u) <= 6u;
}

[[gnu::always_inline]] inline bool fast_single(std::uint64_t digits, std::int64_t q, bool negative,
                                               float* out) {
  using L = RealLimits<float>;
  // kMin <= q <= kMax with one unsigned comparison.
  const auto within = [q](std::int64_t min, std::int64_t max) {
    return static_cast<std::uint64_t>(q - min) <= static_cast<std::uint64_t>(max - min);
  };
  if (digits > kExactDoubleMantissa) return false;
  // Exponents with a normal result whatever the digits need no range test.
  const bool normal = within(L::kNormalMinQ, L::kNormalMaxQ);
  if (!normal && !within(L::kFastMinQ, L::kFastMaxQ)) return false;
  const double d = static_cast<double>(digits) * power_of_ten(q);
  // Below the normal range the float's unit is coarser and the midpoint rule
  // does not hold; from the overflow midpoint up the exact path reports it.
  if (!normal && (d < L::kFastMin || d >= L::kOverflowMidpoint)) return false;
  float v;
  if (!near_float_midpoint(d)) [[likely]] {
    v = static_cast<float>(d);
  } else if (digits <= (std::uint64_t{1} << 24) && q >= -10 && q <= 10) {
    // Both operands are exact floats (10^10 = 2^10 x 5^10 and 5^10 < 2^24),
    // so one float operation rounds correctly, near a midpoint too.
    const float f = static_cast<float>(digits);
    v = q < 0 ? f / static_cast<float>(power_of_ten(-q)) : f * static_cast<float>(power_of_ten(q));
  } else {
    return false;
  }
  // Zero digits give +0.0 (d is 0, which no midpoint is near): no sign.
  *out = negative && digits != 0 ? -v : v;
  return true;
}

inline bool fast_double(std::uint64_t digits, std::int64_t q, bool negative, double* out) {
  constexpr std::int64_t kMaxQ = RealLimits<double>::kFastMaxQ;
  if (digits == 0) {
    *out = 0.0;
    return true;
  }
  if (digits > kExactDoubleMantissa || q < -kMaxQ || q > kMaxQ) return false;
  const auto m = static_cast<double>(digits);
  const double v = q < 0 ? m / power_of_ten(-q) : m * power_of_ten(q);
  *out = negative ? -v : v;
  return true;
}

}  // namespace recio
