// Numeric text conversion, real side: text to IEEE single and
// double.
//
// The syntax is scanned into the mantissa digits and a decimal exponent q
// (value = digits x 10^q, at most 27 significant digits taking part). The
// value is then rounded correctly (to nearest, ties to even, subnormals
// included):
//   - single, the short exact paths of exact_single_from_decimal (shared with
//     the list-directed reader, which takes a number's digits while scanning);
//   - single, digits <= 2^53 and -64 <= q <= 39: one double multiply by the
//     nearest double to 10^q; the product is within 2 units of its last place
//     of the exact value, so unless it lies within 3 units of a midpoint
//     between two floats, rounding it to float is correct (else: below);
//   - double, digits <= 2^53 and |q| <= 22: one double multiply/divide of two
//     exact operands;
//   - otherwise std::from_chars (libstdc++'s is correctly rounded for any
//     number of digits) on a canonical "<digits>e<q>" text in a stack buffer.
// Out of range is decided by the magnitude of the value. Nothing allocates.
#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <limits>
#include <system_error>

#include "recio/numeric.h"

namespace recio {
namespace {

constexpr int kMaxSigDigits = 27;

// The scanned syntax. The hot path counts every mantissa digit (leading zeros
// included) and accumulates them into m; only when there are more than 19 of
// them does the slow path count the significant digits exactly.
struct Scanned {
  const char* end = nullptr;       // first character not consumed
  const char* mant = nullptr;      // mantissa text (after the sign)
  const char* mant_end = nullptr;  // end of the mantissa text
  std::uint64_t m = 0;             // value of the mantissa digits (exact when digits <= 19)
  std::int64_t digits = 0;         // mantissa digits, leading zeros and blanks included
  std::int64_t q = 0;  // decimal exponent of m: exponent - digits after the point - d - scale
  bool neg = false;
  bool huge = false;      // more than 4 significant exponent digits
  bool huge_neg = false;  // ... with a minus sign
};

inline unsigned digit_of(char c) {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
}

// A run of decimal digits: m = m * 10^n + (the n digits); returns the first
// non-digit (or e). (An eight-bytes-at-a-time variant measured slower on map
// values, whose digit runs are short.)
[[gnu::always_inline]] inline const char* scan_digit_run(const char* p, const char* e,
                                                         std::uint64_t* m) {
  std::uint64_t v = *m;
  for (; p < e; ++p) {
    const unsigned dg = digit_of(*p);
    if (dg > 9) break;
    v = v * 10 + dg;
  }
  *m = v;
  return p;
}

[[gnu::always_inline]] inline void scan(const char* p, const char* e, int d, int scale,
                                        Scanned* s) {
  // Leading codes 9..13 and blanks, then an optional sign.
  while (p < e && (*p == ' ' || static_cast<unsigned char>(*p) - 9u <= 4u)) ++p;
  bool neg = false;
  if (p < e && (*p == '+' || *p == '-')) {
    neg = *p == '-';
    ++p;
  }
  // Mantissa: digits with at most one point; a blank is the digit 0.
  const char* const mant = p;
  const char* point = nullptr;
  std::uint64_t m = 0;  // wraps harmlessly beyond 19 digits (then unused)
  for (;;) {
    p = scan_digit_run(p, e, &m);
    if (p == e) break;
    if (*p == '.' && point == nullptr) {
      point = p++;
    } else if (*p == ' ') {
      m *= 10;
      ++p;
    } else {
      break;
    }
  }
  const char* const mant_end = p;
  std::int64_t digits = mant_end - mant;
  std::int64_t q = 0;
  if (point != nullptr) {
    --digits;
    q = -(mant_end - point - 1);  // digits after the point
  } else {
    q = -d;  // d implied decimal digits apply only without a point
  }
  // Exponent, by letter (E D Q, either case, optional sign) or by a
  // bare sign; no digits is exponent 0; blanks in it count as zeros too.
  // More than 4 significant digits <=> the value reaches 10^4.
  bool has_exp = false;
  bool exp_neg = false;
  std::uint32_t ev = 0;
  if (p < e) {
    const unsigned c = static_cast<unsigned char>(*p);
    const unsigned lc = c | 0x20u;
    if (lc == 'e' || lc == 'd' || lc == 'q') {
      has_exp = true;
      ++p;
      if (p < e && (*p == '+' || *p == '-')) {
        exp_neg = *p == '-';
        ++p;
      }
    } else if (c == '+' || c == '-') {
      has_exp = true;
      exp_neg = c == '-';
      ++p;
    }
    if (has_exp) {
      for (; p < e; ++p) {
        unsigned dg = digit_of(*p);
        if (dg > 9) {
          if (*p != ' ') break;
          dg = 0;
        }
        ev = ev * 10 + dg;
        ev = ev < 10000 ? ev : 10000;
      }
    }
  }
  const bool huge = ev >= 10000;
  q += exp_neg ? -static_cast<std::int64_t>(ev) : static_cast<std::int64_t>(ev);
  if (!has_exp) q -= scale;  // the scale factor applies only without an exponent
  s->end = p;
  s->mant = mant;
  s->mant_end = mant_end;
  s->m = m;
  s->digits = digits;
  s->q = q;
  s->neg = neg;
  s->huge = huge;
  s->huge_neg = exp_neg;
}

// Canonical "<digits>e<q>" text of the kept digits, for std::from_chars.
int canonical_text(const char* sig, std::int64_t kept, std::int64_t q, char* buf) {
  const char* p = sig;
  int n = 0;
  while (n < kept) {
    const char c = *p++;
    if (c == '.') continue;
    buf[n++] = c == ' ' ? '0' : c;
  }
  buf[n++] = 'e';
  const auto r = std::to_chars(buf + n, buf + n + 24, q);
  return static_cast<int>(r.ptr - buf);
}

template <typename T>
struct Limits;
template <>
struct Limits<float> {
  // A value below 10^kMinE10 rounds to zero; one at or above 10^kMaxE10
  // rounds to infinity (e10 = kept + q: the value lies in [10^(e10-1), 10^e10)).
  static constexpr std::int64_t kMinE10 = -45;  // 10^-46 < 2^-150 (half the smallest subnormal)
  static constexpr std::int64_t kMaxE10 = 39;   // 10^39 > FLT_MAX
};
template <>
struct Limits<double> {
  static constexpr std::int64_t kMinE10 = -323;  // 10^-324 < 2^-1075
  static constexpr std::int64_t kMaxE10 = 309;   // 10^309 > DBL_MAX
};

template <typename T>
T signed_value(bool neg, T v) {
  return neg ? -v : v;
}

// Everything but the fast paths: exact significant-digit accounting, the
// out-of-range rules and std::from_chars.
template <typename T>
[[gnu::noinline]] T finish_slow(const Scanned& s, int* range) {
  // The first significant digit; leading zeros only place the point.
  const char* sig = s.mant;
  while (sig < s.mant_end && (*sig == '0' || *sig == ' ' || *sig == '.')) ++sig;
  if (sig == s.mant_end) return T(0);  // no significant digit: +0.0, range 0
  const std::int64_t nd =
      s.mant_end - sig -
      (std::memchr(sig, '.', static_cast<std::size_t>(s.mant_end - sig)) ? 1 : 0);
  if (s.huge) {
    // Decided by the exponent's sign: the value is astronomically out of range.
    if (!s.huge_neg) {
      *range = kRangeOverflow;
      return signed_value(s.neg, std::numeric_limits<T>::infinity());
    }
    *range = kRangeUnderflow;
    return signed_value(s.neg, T(0));
  }
  // Up to 27 significant digits; dropped ones still count for the point.
  const std::int64_t kept = nd < kMaxSigDigits ? nd : kMaxSigDigits;
  // s.q is the exponent of the whole digit string; each dropped digit moves
  // it up by one (q = exponent - digits after the point + dropped digits).
  const std::int64_t q = s.q + (nd - kept);
  // The value lies in [10^(e10-1), 10^e10).
  const std::int64_t e10 = kept + q;
  if (e10 > Limits<T>::kMaxE10) {
    *range = kRangeOverflow;
    return signed_value(s.neg, std::numeric_limits<T>::infinity());
  }
  if (e10 < Limits<T>::kMinE10) {
    *range = kRangeUnderflow;
    return signed_value(s.neg, T(0));
  }
  char buf[64];
  const int n = canonical_text(sig, kept, q, buf);
  T v = 0;
  const auto r = std::from_chars(buf, buf + n, v);
  if (r.ec == std::errc::result_out_of_range) {
    // libstdc++ leaves v untouched; the direction follows from the magnitude.
    v = e10 > 0 ? std::numeric_limits<T>::infinity() : T(0);
  }
  if (v == std::numeric_limits<T>::infinity()) {
    *range = kRangeOverflow;
  } else if (v == T(0)) {
    *range = kRangeUnderflow;
  }
  return signed_value(s.neg, v);
}

constexpr double kDoublePow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                     1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                     1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};  // exact

// 10^q as the nearest double, q = -64 .. 39 (exact for 0 .. 22). The
// compiler rounds each literal correctly.
constexpr int kWidePow10Min = -64;
constexpr int kWidePow10Max = 39;
constexpr double kWidePow10[kWidePow10Max - kWidePow10Min + 1] = {
    1e-64, 1e-63, 1e-62, 1e-61, 1e-60, 1e-59, 1e-58, 1e-57, 1e-56, 1e-55, 1e-54, 1e-53, 1e-52,
    1e-51, 1e-50, 1e-49, 1e-48, 1e-47, 1e-46, 1e-45, 1e-44, 1e-43, 1e-42, 1e-41, 1e-40, 1e-39,
    1e-38, 1e-37, 1e-36, 1e-35, 1e-34, 1e-33, 1e-32, 1e-31, 1e-30, 1e-29, 1e-28, 1e-27, 1e-26,
    1e-25, 1e-24, 1e-23, 1e-22, 1e-21, 1e-20, 1e-19, 1e-18, 1e-17, 1e-16, 1e-15, 1e-14, 1e-13,
    1e-12, 1e-11, 1e-10, 1e-9,  1e-8,  1e-7,  1e-6,  1e-5,  1e-4,  1e-3,  1e-2,  1e-1,  1e0,
    1e1,   1e2,   1e3,   1e4,   1e5,   1e6,   1e7,   1e8,   1e9,   1e10,  1e11,  1e12,  1e13,
    1e14,  1e15,  1e16,  1e17,  1e18,  1e19,  1e20,  1e21,  1e22,  1e23,  1e24,  1e25,  1e26,
    1e27,  1e28,  1e29,  1e30,  1e31,  1e32,  1e33,  1e34,  1e35,  1e36,  1e37,  1e38,  1e39};

inline float finish_single(const Scanned& s, int* range) {
  *range = kRangeOk;
  if (s.digits <= 19 && !s.huge) {
    const std::int64_t q = s.q;
    float exact;
    // Zero without a significant digit, and the exactly computable values.
    if (q >= -22 && q <= 22 && exact_single_from_decimal(s.m, static_cast<int>(q), s.neg, &exact))
      return exact;
    if (s.m <= (std::uint64_t{1} << 53) && q >= kWidePow10Min && q <= kWidePow10Max) {
      // m is exact; 10^q and the product are each rounded once to double, so
      // the product dv is within 2^-52 relative (2 units in dv's last place)
      // of the exact value. When dv lies at least 4 units away from every
      // midpoint between two floats, the exact value lies on the same side of
      // each midpoint, and rounding dv to float rounds it correctly. In the
      // normal float range those midpoints have the low 29 significand bits
      // 1000...0 (the largest one, 2^128 - 2^103, decides overflow).
      const double dv = static_cast<double>(s.m) * kWidePow10[q - kWidePow10Min];
      const std::uint32_t low =
          static_cast<std::uint32_t>(std::bit_cast<std::uint64_t>(dv)) & 0x1FFFFFFFu;
      if (dv >= 0x1p-126 && low - (0x10000000u - 3) > 6u) {
        // From 2^128 - 2^103 up the value rounds to infinity; testing it here
        // also keeps the conversion below within the range of float.
        float v;
        if (dv >= 0x1.ffffffp127) {
          v = std::numeric_limits<float>::infinity();
          *range = kRangeOverflow;
        } else {
          v = static_cast<float>(dv);
        }
        return s.neg ? -v : v;
      }
    }
  }
  return finish_slow<float>(s, range);
}

inline double finish_double(const Scanned& s, int* range) {
  *range = kRangeOk;
  if (s.digits <= 19 && !s.huge) {
    if (s.m == 0) return 0.0;
    if (s.m <= (std::uint64_t{1} << 53) && s.q >= -22 && s.q <= 22) {
      const double dm = static_cast<double>(s.m);
      const double v = s.q < 0 ? dm / kDoublePow10[-s.q] : dm * kDoublePow10[s.q];
      return s.neg ? -v : v;
    }
  }
  return finish_slow<double>(s, range);
}

}  // namespace

float cvtas_a_to_s(const char* text, std::int32_t len, std::uint32_t /*options*/, int d, int scale,
                   const char** end, int* range_status) {
  Scanned s;
  scan(text, text + (len > 0 ? len : 0), d, scale, &s);
  *end = s.end;
  return finish_single(s, range_status);
}

double cvtas_a_to_t(const char* text, std::int32_t len, std::uint32_t /*options*/, int d, int scale,
                    const char** end, int* range_status) {
  Scanned s;
  scan(text, text + (len > 0 ? len : 0), d, scale, &s);
  *end = s.end;
  return finish_double(s, range_status);
}

// The wrappers run the same core as cvtas_a_to_s / cvtas_a_to_t (the options
// word, joined with kRealCoreOptions, selects nothing further), inlined.
int cvt_text_to_ieee_s(const char* text, std::int32_t len, int scale, int d,
                       std::uint32_t /*options*/, float* dest) {
  if (len <= 0) {
    *dest = 0.0f;
    return len < 0 ? kCvtNegLength : kCvtOk;
  }
  Scanned s;
  scan(text, text + len, d, scale, &s);
  int range;
  *dest = finish_single(s, &range);
  return (range == kRangeOverflow || s.end != text + len) ? kCvtFailed : kCvtOk;
}

int cvt_text_to_ieee_t(const char* text, std::int32_t len, int scale, int d,
                       std::uint32_t /*options*/, double* dest) {
  if (len <= 0) {
    *dest = 0.0;
    return len < 0 ? kCvtNegLength : kCvtOk;
  }
  Scanned s;
  scan(text, text + len, d, scale, &s);
  int range;
  *dest = finish_double(s, &range);
  return (range == kRangeOverflow || s.end != text + len) ? kCvtFailed : kCvtOk;
}

}  // namespace recio
