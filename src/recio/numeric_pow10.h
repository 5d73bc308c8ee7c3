// Text to real: the one table of powers of ten. 10^q for q = -53 .. 38, each
// the double nearest to it (the compiler rounds every literal correctly), so
// exact for 0 <= q <= 22 (10^22 = 2^22 x 5^22 and 5^22 < 2^53) and within
// half a unit in the last place elsewhere. The range is the single fast
// path's (RealLimits<float>); the double fast path uses 10^0 .. 10^22.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "recio/numeric_limits.h"

namespace recio {

inline constexpr std::int64_t kPow10Min = RealLimits<float>::kFastMinQ;
inline constexpr std::int64_t kPow10Max = RealLimits<float>::kFastMaxQ;
static_assert(kPow10Min <= 0 && kPow10Max >= RealLimits<double>::kFastMaxQ);

inline constexpr double kPow10[kPow10Max - kPow10Min + 1] = {
    1e-53, 1e-52, 1e-51, 1e-50, 1e-49, 1e-48, 1e-47, 1e-46, 1e-45, 1e-44, 1e-43, 1e-42,
    1e-41, 1e-40, 1e-39, 1e-38, 1e-37, 1e-36, 1e-35, 1e-34, 1e-33, 1e-32, 1e-31, 1e-30,
    1e-29, 1e-28, 1e-27, 1e-26, 1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18,
    1e-17, 1e-16, 1e-15, 1e-14, 1e-13, 1e-12, 1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,
    1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,   1e1,   1e2,   1e3,   1e4,   1e5,   1e6,
    1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,  1e14,  1e15,  1e16,  1e17,  1e18,
    1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,  1e26,  1e27,  1e28,  1e29,  1e30,
    1e31,  1e32,  1e33,  1e34,  1e35,  1e36,  1e37,  1e38,
};

// 10^0 .. 10^8 as integers, for appending a run of up to eight digits to a
// mantissa: the same entries, exact in a double, converted once.
inline constexpr auto kPow10Integer = [] {
  std::array<std::uint64_t, 9> t{};
  for (std::size_t i = 0; i < t.size(); ++i)
    t[i] = static_cast<std::uint64_t>(kPow10[static_cast<std::int64_t>(i) - kPow10Min]);
  return t;
}();
static_assert(kPow10Integer[0] == 1 && kPow10Integer[8] == 100000000);

// 10^q for kPow10Min <= q <= kPow10Max.
inline double power_of_ten(std::int64_t q) {
  return kPow10[q - kPow10Min];
}

}  // namespace recio
