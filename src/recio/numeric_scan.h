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
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "recio/numeric_pow10.h"

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

// Eight characters are read as one word, the first in the low byte.
static_assert(std::endian::native == std::endian::little);

inline unsigned digit_of(char c) {
  return static_cast<unsigned>(static_cast<unsigned char>(c)) - '0';
}

// Whether all eight bytes of x (digits minus '0') are 0..9: byte + 0x76
// reaches 0x80 from 10 up, and a byte above 0x7F has it already.
inline bool all_digits(std::uint64_t x) {
  return (((x + 0x7676767676767676u) | x) & 0x8080808080808080u) == 0;
}

// Eight digits as bytes 0..9, the first (most significant) in the low byte,
// as a number: pairs (x10 + next), quads (x100) and the halves (x10^4), the
// last two steps by two multiplications.
[[gnu::always_inline]] inline std::uint64_t eight_digit_value(std::uint64_t x) {
  x = x * 10 + (x >> 8);
  return (((x & 0x000000FF000000FFu) * (100 + (1000000ull << 32))) +
          (((x >> 16) & 0x000000FF000000FFu) * (1 + (10000ull << 32)))) >>
         32;
}

// Up to eight digits at q as a number: *n gets how many (0..8). The bytes
// after them are read but do not count.
[[gnu::always_inline]] inline std::uint64_t eight_digits(const char* q, std::size_t* n) {
  std::uint64_t x;
  std::memcpy(&x, q, 8);
  x ^= 0x3030303030303030u;  // the digits become the bytes 0..9
  // The high bit of each byte that is not a digit: byte + 0x76 reaches 0x80
  // from 10 up, and a byte above 0x7F has it already. A carry only spills
  // into bytes after a non-digit, which do not count.
  const std::uint64_t bad = ((x + 0x7676767676767676u) | x) & 0x8080808080808080u;
  const std::size_t k = bad == 0 ? 8 : static_cast<unsigned>(std::countr_zero(bad)) / 8;
  *n = k;
  if (k == 0) return 0;
  // The k digits as an eight-digit number with leading zeros: shifted to the
  // top, the zero bytes are the leading zeros.
  return eight_digit_value(x << 8 * (8 - k));
}

// A digit run taken: the accumulated digits and the first character after
// the run. Returned in two registers.
struct DigitRun {
  std::uint64_t m;
  const char* end;
};

// The rest of a run longer than eight digits, appended to m; out of line,
// it is rare.
template <bool kPadded>
[[gnu::noinline]] inline DigitRun long_digit_run(const char* q, const char* end, std::uint64_t m) {
  for (;;) {
    if (!kPadded && end - q < 8) {
      for (unsigned d; q < end && (d = digit_of(*q)) <= 9; ++q) m = m * 10 + d;
      return {m, q};
    }
    std::size_t n;
    const std::uint64_t x = eight_digits(q, &n);
    m = m * kPow10Integer[n] + x;
    q += n;
    if (n < 8) return {m, q};
  }
}

// m x 10^n + (the run of n digits at q). Eight characters at a time while
// eight are readable: the fraction of a map value is one such step.
template <bool kPadded>
[[gnu::always_inline]] inline DigitRun digit_run(const char* q, const char* end, std::uint64_t m) {
  if (kPadded || end - q >= 8) {
    std::size_t n;
    const std::uint64_t x = eight_digits(q, &n);
    m = m * kPow10Integer[n] + x;
    q += n;
    if (n < 8) return {m, q};
  }
  return long_digit_run<kPadded>(q, end, m);
}

}  // namespace scan_detail

namespace scan_detail {

// The end of a straight scan, the mantissa taken (n0 digits before the
// point, n1 after it; q after them): an exponent letter with a sign and two
// digits, or none. Inlined into each mantissa shape with its counts fixed.
[[gnu::always_inline]] inline bool straight_exponent(const char* mantissa, const char* q,
                                                     std::uint64_t m, std::int32_t n0,
                                                     std::size_t n1, bool negative, bool point,
                                                     ParsedDecimal* out) {
  const char* const mantissa_end = q;
  std::uint32_t w;
  std::memcpy(&w, q, 4);
  const unsigned lower = (w | 0x20u) & 0xFFu;
  const bool letter = lower == 'e' || lower == 'd' || lower == 'q';
  std::int64_t e = 0;
  bool exponent_negative = false;
  if (letter) {
    // A sign and two digits (a third one is the caller's to see).
    const unsigned sign = (w >> 8) & 0xFFu;
    const std::uint32_t digits = (w >> 16) ^ 0x3030u;  // the two digits as 0..9
    if ((sign != '+' && sign != '-') || (((digits + 0x7676u) | digits) & 0x8080u) != 0)
      return false;
    exponent_negative = sign == '-';
    e = static_cast<std::int64_t>((digits & 0xFFu) * 10 + (digits >> 8));
    e = exponent_negative ? -e : e;
    q += 4;
  } else if (*q == '+' || *q == '-') {
    return false;  // an exponent by a bare sign
  }
  out->digits = m;
  out->exponent = e - static_cast<std::int64_t>(n1);
  out->count = n0 + static_cast<std::int32_t>(n1);
  out->mantissa = mantissa;
  out->mantissa_end = mantissa_end;
  out->end = q;
  out->negative = negative;
  out->point = point;
  out->exponent_part = letter;
  out->exponent_letter = letter;
  out->exponent_huge = false;
  out->exponent_negative = exponent_negative;
  return true;
}

}  // namespace scan_detail

// The common shape on a straight path, for a padded text in which a blank
// ends the value: [sign] digits, optionally a point and at most seven
// digits (one digit, the point and seven are one eight-digit word),
// optionally an exponent letter, a sign and two digits (the exponent as one
// four-byte word). False when the text has another shape (nothing is
// written then) and the general loops take it; they give the same result
// unless a digit follows (out->end), which the caller must check.
[[gnu::always_inline]] inline bool scan_straight(const char* text, ParsedDecimal* out) {
  using scan_detail::digit_of;
  using scan_detail::straight_exponent;
  const char* q = text;
  const bool negative = *q == '-';
  q += negative || *q == '+';
  const char* const mantissa = q;
  // The usual shape, one digit, the point and seven digits: the digit takes
  // the point's byte and the eight digits are one word. A byte that is not
  // NUL is text, not padding, so the word ends within the padding at the
  // latest.
  if (*q != '\0') {
    std::uint64_t w8;
    std::memcpy(&w8, q + 1, 8);
    const std::uint64_t x =
        ((w8 & ~std::uint64_t{0xFF}) | static_cast<unsigned char>(*q)) ^ 0x3030303030303030u;
    if ((w8 & 0xFF) == '.' && scan_detail::all_digits(x)) {
      return straight_exponent(mantissa, q + 9, scan_detail::eight_digit_value(x), 1, 7, negative,
                               true, out);
    }
  }
  std::uint64_t m = 0;
  for (unsigned d; (d = digit_of(*q)) <= 9; ++q) m = m * 10 + d;
  const auto n0 = static_cast<std::int32_t>(q - mantissa);
  std::size_t n1 = 0;
  const bool point = *q == '.';
  if (point) {
    const std::uint64_t f = scan_detail::eight_digits(q + 1, &n1);
    if (n1 == 8) return false;
    m = m * kPow10Integer[n1] + f;
    q += 1 + n1;
  }
  return straight_exponent(mantissa, q, m, n0, n1, negative, point, out);
}

// Scans one value starting at its sign or first digit (leading white space
// is the caller's). kPadded: the text is followed by NUL bytes that may be
// read (at least eight); they stop every step, so no bound is checked.
// Beyond 19 mantissa digits `digits` wraps harmlessly (count tells).
template <BlankRule kBlanks, bool kPadded>
[[gnu::always_inline]] inline void scan_decimal(const char* text, const char* end,
                                                ParsedDecimal* out) {
  using scan_detail::digit_of;
  if (kPadded && kBlanks == BlankRule::kEnds && scan_straight(text, out) && digit_of(*out->end) > 9)
    return;
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
    const scan_detail::DigitRun run = scan_detail::digit_run<kPadded>(q, end, m);
    m = run.m;
    q = run.end;
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
