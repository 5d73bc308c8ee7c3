// Text to real, stage 3: the exact path, and the composition of the stages.
// The exact path decides every parsed decimal the fast path leaves: more than
// 19 mantissa digits, values near a rounding midpoint, subnormals, and the
// out-of-range rules. Never allocates.
#pragma once

#include "recio/numeric.h"
#include "recio/numeric_fast_path.h"
#include "recio/numeric_scan.h"

namespace recio {

// The value of the first 27 significant digits of the mantissa, correctly
// rounded (to nearest, ties to even, subnormals included); dropped digits
// still place the point. No significant digit: +0.0. Out of range by the
// magnitude: infinity of the sign (kRangeOverflow) or zero of the sign
// (kRangeUnderflow, not an error); a huge exponent decides by its own sign instead.
float exact_single(const ParsedDecimal& d, int* range);
double exact_double(const ParsedDecimal& d, int* range);

// The value of a parsed decimal: the fast path, else the exact path.
[[gnu::always_inline]] inline float single_from_decimal(const ParsedDecimal& d, int* range) {
  float v;
  if (d.short_form() && fast_single(d.digits, d.exponent, d.negative, &v)) {
    *range = kRangeOk;
    return v;
  }
  return exact_single(d, range);
}

inline double double_from_decimal(const ParsedDecimal& d, int* range) {
  double v;
  if (d.short_form() && fast_double(d.digits, d.exponent, d.negative, &v)) {
    *range = kRangeOk;
    return v;
  }
  return exact_double(d, range);
}

}  // namespace recio
