// Text to IEEE single and double: the public entry points, each the three
// stages in a row (numeric_scan.h, numeric_fast_path.h, numeric_exact_path.h)
// around the caller's conventions: leading white space, d implied decimal
// digits, the scale factor, and the status.
#include <cstdint>

#include "recio/numeric.h"
#include "recio/numeric_exact_path.h"
#include "recio/numeric_scan.h"

namespace recio {
namespace {

// Leading codes 9..13 and blanks are skipped, then the value is scanned
// (blanks inside it are zeros). Without a point d implied decimal digits
// apply; without an exponent the scale factor divides by 10^scale.
[[gnu::always_inline]] inline ParsedDecimal scan_text(const char* p, const char* e, int d,
                                                      int scale) {
  while (p < e && (*p == ' ' || static_cast<unsigned char>(*p) - 9u <= 4u)) ++p;
  ParsedDecimal v;
  scan_decimal<BlankRule::kZero, false>(p, e, &v);
  if (!v.point) v.exponent -= d;
  if (!v.exponent_part) v.exponent -= scale;
  return v;
}

// Status of a cvt_text_to_ieee_ routine: the whole text must be taken, and
// an overflow fails.
int real_status(const ParsedDecimal& v, const char* text_end, int range) {
  return (range == kRangeOverflow || v.end != text_end) ? kCvtFailed : kCvtOk;
}

}  // namespace

float cvtas_a_to_s(const char* text, std::int32_t len, std::uint32_t /*options*/, int d, int scale,
                   const char** end, int* range_status) {
  const ParsedDecimal v = scan_text(text, text + (len > 0 ? len : 0), d, scale);
  *end = v.end;
  return single_from_decimal(v, range_status);
}

double cvtas_a_to_t(const char* text, std::int32_t len, std::uint32_t /*options*/, int d, int scale,
                    const char** end, int* range_status) {
  const ParsedDecimal v = scan_text(text, text + (len > 0 ? len : 0), d, scale);
  *end = v.end;
  return double_from_decimal(v, range_status);
}

int cvt_text_to_ieee_s(const char* text, std::int32_t len, int scale, int d,
                       std::uint32_t /*options*/, float* dest) {
  if (len <= 0) {
    *dest = 0.0f;
    return len < 0 ? kCvtNegLength : kCvtOk;
  }
  const ParsedDecimal v = scan_text(text, text + len, d, scale);
  int range;
  *dest = single_from_decimal(v, &range);
  return real_status(v, text + len, range);
}

int cvt_text_to_ieee_t(const char* text, std::int32_t len, int scale, int d,
                       std::uint32_t /*options*/, double* dest) {
  if (len <= 0) {
    *dest = 0.0;
    return len < 0 ? kCvtNegLength : kCvtOk;
  }
  const ParsedDecimal v = scan_text(text, text + len, d, scale);
  int range;
  *dest = double_from_decimal(v, &range);
  return real_status(v, text + len, range);
}

}  // namespace recio
