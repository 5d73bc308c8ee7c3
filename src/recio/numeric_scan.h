// Text to real, stage 1: the decimal scan. Turns the text of a value into a
// parsed decimal (sign, mantissa digits, decimal exponent, where it stopped)
// without deciding the value; the fast path and the exact path take it from
// there. The list-directed reader scans its numbers with it, straight in the
// record, and the cvt_ routines scan their texts with it: one syntax.
//
// Syntax: [sign] digits with at most one point, then an exponent introduced by
// E, D or Q (either case) and an optional sign, or by a bare sign; no digits
// after the introducer is the exponent 0. Exponent digits are capped: more
// than 4 significant ones only mark the exponent huge. Never reads before
// `text` or, unless padded, at or after `end`; never allocates.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

namespace recio {

// Mantissa digits that always fit the 64-bit accumulator exactly
// (10^19 - 1 < 2^64 - 1 < 10^20 - 1).
inline constexpr std::int32_t kExactMantissaDigits = 19;
// An exponent of this size (five significant digits) is out of every range.
inline constexpr std::uint32_t kHugeExponent = 10000;

// value = (-1)^negative x digits x 10^exponent while count <= 19; beyond, the
// mantissa text (mantissa .. mantissa_end) holds the digits.
struct ParsedDecimal {
  std::uint64_t digits = 0;   // the mantissa's digits, leading zeros included
  std::int64_t exponent = 0;  // exponent field - digits after the point
  std::int32_t count = 0;     // mantissa digits (blanks taken as zeros too), no point
  const char* mantissa = nullptr;
  const char* mantissa_end = nullptr;
  const char* end = nullptr;  // first character not taken
  bool negative = false;
  bool point = false;
  bool exponent_part = false;      // an exponent introducer was taken ...
  bool exponent_letter = false;    // ... and it was a letter, not a bare sign
  bool exponent_huge = false;      // more than 4 significant exponent digits
  bool exponent_negative = false;  // the exponent's sign (decides a huge one)

  // digits and exponent alone give the value.
  bool short_form() const { return count <= kExactMantissaDigits && !exponent_huge; }
};

// What a blank inside the value means: the digit 0 (the cvt_ routines), or
// the end of the value (a list-directed value, which blanks separate).
enum class BlankRule : bool { kZero, kEnds };

namespace scan_detail {

inline unsigned digit_of(char c) {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
}

// Up to eight digits at q as a number: *n gets how many (0..8). The bytes
// after them are read but do not count.
[[gnu::always_inline]] inline std::uint64_t eight_digits(const char* q, int* n) {
  std::uint64_t x;
  std::memcpy(&x, q, 8);
  x ^= 0x3030303030303030u;  // the digits become the bytes 0..9
  // The high bit of each byte that is not a digit: byte + 0x76 reaches 0x80
  // from 10 up, and a byte above 0x7F has it already. A carry only spills
  // into bytes after a non-digit, which do not count.
  const std::uint64_t bad = ((x + 0x7676767676767676u) | x) & 0x8080808080808080u;
  const int k = bad == 0 ? 8 : std::countr_zero(bad) / 8;
  *n = k;
  if (k == 0) return 0;
  // The k digits (the first one most significant; memory order is little
  // endian) as an eight-digit number with leading zeros: shift them to the
  // top, then pairs (x10 + next), quads (x100) and the halves (x10^4), the
  // last two steps by two multiplications.
  x <<= 8 * (8 - k);
  x = x * 10 + (x >> 8);
  return (((x & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
          (((x >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >>
         32;
}

inline constexpr std::uint64_t kScale[9] = {1,      10,      100,      1000,     10000,
                                            100000, 1000000, 10000000, 100000000};

// The rest of a run longer than eight digits; out of line, it is rare.
template <bool kPadded>
[[gnu::noinline]] inline const char* long_digit_run(const char* q, const char* end,
                                                    std::uint64_t* m) {
  std::uint64_t v = *m;
  while (kPadded || end - q >= 8) {
    int n;
    const std::uint64_t x = eight_digits(q, &n);
    v = v * kScale[n] + x;
    q += n;
    if (n < 8) {
      *m = v;
      return q;
    }
  }
  for (unsigned d; q < end && (d = digit_of(*q)) <= 9; ++q) v = v * 10 + d;
  *m = v;
  return q;
}

// m = m x 10^n + (the run of n digits at q); returns the first character
// after the run. Eight characters at a time while eight are readable: the
// fraction of a map value is one such step.
template <bool kPadded>
[[gnu::always_inline]] inline const char* digit_run(const char* q, const char* end,
                                                    std::uint64_t* m) {
  if (kPadded || end - q >= 8) {
    int n;
    const std::uint64_t x = eight_digits(q, &n);
    *m = *m * kScale[n] + x;
    if (n < 8) return q + n;
    q += 8;
  }
  return long_digit_run<kPadded>(q, end, m);
}

}  // namespace scan_detail

// Scans one value starting at its sign or first digit (leading white space
// is the caller's). kPadded: the text is followed by NUL bytes that may be
// read (at least eight); they stop every step, so no bound is checked.
// Beyond 19 mantissa digits `digits` wraps harmlessly (count tells).
template <BlankRule kBlanks, bool kPadded>
[[gnu::always_inline]] inline void scan_decimal(const char* text, const char* end,
                                                ParsedDecimal* out) {
  using scan_detail::digit_of;
  const auto in = [end](const char* q) { return kPadded || q < end; };
  const char* q = text;
  bool negative = false;
  if (in(q)) {
    negative = *q == '-';
    q += negative || *q == '+';
  }
  const char* const mantissa = q;
  std::uint64_t m = 0;
  // The integer part is short in map values: one character at a time.
  for (unsigned d; in(q) && (d = digit_of(*q)) <= 9; ++q) m = m * 10 + d;
  const char* point = nullptr;
  while (in(q)) {
    if (*q == '.' && point == nullptr) {
      point = q++;
    } else if (kBlanks == BlankRule::kZero && *q == ' ') {
      m *= 10;
      ++q;
    } else {
      break;
    }
    q = scan_detail::digit_run<kPadded>(q, end, &m);
  }
  const char* const mantissa_end = q;
  const auto fraction = point != nullptr ? static_cast<std::int32_t>(mantissa_end - point - 1) : 0;
  const auto count = static_cast<std::int32_t>(mantissa_end - mantissa) - (point != nullptr);

  bool exponent_part = false;
  bool exponent_letter = false;
  bool exponent_negative = false;
  std::uint32_t ev = 0;
  if (in(q)) {
    const unsigned c = static_cast<unsigned char>(*q);
    const unsigned lower = c | 0x20u;  // only 'E' and 'e' give 'e', and so on
    if (lower == 'e' || lower == 'd' || lower == 'q') {
      exponent_part = exponent_letter = true;
      ++q;
      if (in(q) && (*q == '+' || *q == '-')) exponent_negative = *q++ == '-';
    } else if (c == '+' || c == '-') {
      exponent_part = true;
      exponent_negative = c == '-';
      ++q;
    }
    if (exponent_part) {
      unsigned d0, d1;
      if (kPadded && kBlanks == BlankRule::kEnds && (d0 = digit_of(q[0])) <= 9 &&
          (d1 = digit_of(q[1])) <= 9 && digit_of(q[2]) > 9) {
        ev = d0 * 10 + d1;  // the usual two digits, straight
        q += 2;
      } else {
        for (; in(q); ++q) {
          unsigned d = digit_of(*q);
          if (d > 9) {
            if (kBlanks != BlankRule::kZero || *q != ' ') break;
            d = 0;
          }
          ev = ev * 10 + d;
          ev = ev < kHugeExponent ? ev : kHugeExponent;  // five significant digits stay huge
        }
      }
    }
  }
  const auto e = static_cast<std::int64_t>(ev);
  out->digits = m;
  out->exponent = (exponent_negative ? -e : e) - fraction;
  out->count = count;
  out->mantissa = mantissa;
  out->mantissa_end = mantissa_end;
  out->end = q;
  out->negative = negative;
  out->point = point != nullptr;
  out->exponent_part = exponent_part;
  out->exponent_letter = exponent_letter;
  out->exponent_huge = ev >= kHugeExponent;
  out->exponent_negative = exponent_negative;
}

}  // namespace recio
