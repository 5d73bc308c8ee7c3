// Text to real, stage 3: the exact path. The significant digits are counted
// exactly, the out-of-range cases are decided from the decimal exponent
// alone where they can be, and the rest is rounded by std::from_chars
// (libstdc++'s is correctly rounded for any number of digits) on a canonical
// "<digits>e<q>" text in a stack buffer.
#include "recio/numeric_exact_path.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

#include "recio/numeric_limits.h"

namespace recio {
namespace {

template <typename T>
T with_sign(bool negative, T v) {
  return negative ? -v : v;
}

// The kept digits of the mantissa (blanks are zeros, the point skipped) and
// "e<q>"; returns the length.
int canonical_text(const char* first, std::int64_t kept, std::int64_t q, char* buf) {
  int n = 0;
  for (const char* p = first; n < kept; ++p) {
    if (*p == '.') continue;
    buf[n++] = *p == ' ' ? '0' : *p;
  }
  buf[n++] = 'e';
  const auto r = std::to_chars(buf + n, buf + n + 24, q);
  return static_cast<int>(r.ptr - buf);
}

template <typename T>
T exact_value(const ParsedDecimal& d, int* range) {
  using L = RealLimits<T>;
  *range = kRangeOk;
  // Leading zeros (blanks among them) only place the point.
  const char* first = d.mantissa;
  while (first < d.mantissa_end && (*first == '0' || *first == ' ' || *first == '.')) ++first;
  if (first == d.mantissa_end) return T(0);  // no significant digit: +0.0
  const auto rest = static_cast<std::size_t>(d.mantissa_end - first);
  const std::int64_t significant =
      static_cast<std::int64_t>(rest) - (std::memchr(first, '.', rest) != nullptr ? 1 : 0);
  if (d.exponent_huge) {
    // Astronomically out of range: the exponent's sign decides.
    if (d.exponent_negative) {
      *range = kRangeUnderflow;
      return with_sign(d.negative, T(0));
    }
    *range = kRangeOverflow;
    return with_sign(d.negative, std::numeric_limits<T>::infinity());
  }
  // d.exponent places the whole digit string; each dropped digit moves it up.
  const std::int64_t kept =
      significant < kMaxSignificantDigits ? significant : kMaxSignificantDigits;
  const std::int64_t q = d.exponent + (significant - kept);
  const std::int64_t e10 = kept + q;  // the value lies in [10^(e10-1), 10^e10)
  if (e10 > L::kMaxE10) {
    *range = kRangeOverflow;
    return with_sign(d.negative, std::numeric_limits<T>::infinity());
  }
  if (e10 < L::kMinE10) {
    *range = kRangeUnderflow;
    return with_sign(d.negative, T(0));
  }
  char buf[64];
  const int n = canonical_text(first, kept, q, buf);
  T v = 0;
  if (std::from_chars(buf, buf + n, v).ec == std::errc::result_out_of_range) {
    // libstdc++ leaves v untouched; the magnitude gives the direction.
    v = e10 > 0 ? std::numeric_limits<T>::infinity() : T(0);
  }
  if (v == std::numeric_limits<T>::infinity()) {
    *range = kRangeOverflow;
  } else if (v == T(0)) {
    *range = kRangeUnderflow;
  }
  return with_sign(d.negative, v);
}

}  // namespace

float exact_single(const ParsedDecimal& d, int* range) {
  return exact_value<float>(d, range);
}

double exact_double(const ParsedDecimal& d, int* range) {
  return exact_value<double>(d, range);
}

}  // namespace recio
