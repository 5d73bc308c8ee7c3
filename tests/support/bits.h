// The bit patterns of floating-point values, so that tests compare results
// exactly (a sign of zero, a NaN's payload) rather than by value.
#pragma once

#include <bit>
#include <cstdint>

namespace testsupport {

inline std::uint32_t bits(float f) {
  return std::bit_cast<std::uint32_t>(f);
}
inline std::uint64_t bits(double d) {
  return std::bit_cast<std::uint64_t>(d);
}
inline float float_of(std::uint32_t b) {
  return std::bit_cast<float>(b);
}

}  // namespace testsupport
