// Numeric text conversion, integer side: text to 4- and 8-byte
// integers and to unsigned 64-bit in radix 2..16, logical words, and integer
// to text for the list-directed writer.
#include <cstdint>
#include <cstring>
#include <limits>

#include "recio/numeric.h"

namespace recio {
namespace {

// The digits after the optional sign. No leading-blank skipping here:
// a blank is a zero (blanks are zeros), skipped (blanks ignored) or status 3.
int accumulate_digits(const char* p, const char* e, unsigned radix, std::uint32_t options,
                      std::uint64_t* out) {
  std::uint64_t acc = 0;
  for (; p < e; ++p) {
    const unsigned c = static_cast<unsigned char>(*p);
    unsigned digit;
    if (c - '0' <= 9u) {
      digit = c - '0';
    } else if ((c | 0x20u) - 'a' <= 5u) {
      digit = (c | 0x20u) - 'a' + 10;  // A-F are digit values, even in radix 10
    } else if (c == ' ') {
      if (options & kOptBlanksAreZeros) {
        digit = 0;
      } else if (options & kOptIgnoreBlanks) {
        continue;
      } else {
        return kCvtBadChar;
      }
    } else if (c == '\t') {
      if (options & kOptIgnoreTabs) continue;
      return kCvtBadChar;
    } else if (c == '_') {
      if (options & kOptIgnoreUnderscores) continue;
      return kCvtBadChar;
    } else {
      return kCvtBadChar;
    }
    if (digit >= radix) return kCvtBadChar;
    if (__builtin_mul_overflow(acc, radix, &acc) || __builtin_add_overflow(acc, digit, &acc)) {
      return kCvtRange;
    }
  }
  *out = acc;
  return kCvtOk;
}

// Leading blanks (and tabs, when tabs are ignored).
const char* skip_leading(const char* p, const char* e, std::uint32_t options) {
  while (p < e && (*p == ' ' || (*p == '\t' && (options & kOptIgnoreTabs)))) ++p;
  return p;
}

// Options, blanks, sign, digits and the signed 64-bit range.
int text_to_int64(const char* text, std::int32_t len, std::uint32_t options, std::int64_t* out) {
  if (len < 0) return kCvtNegLength;
  if (options & ~kIntegerOptionsAllowed) return kCvtBadOption;
  const char* e = text + len;
  const char* p = skip_leading(text, e, options);
  bool neg = false;
  if (p < e && (*p == '+' || *p == '-')) {
    neg = *p == '-';
    ++p;
  }
  std::uint64_t mag = 0;
  if (const int st = accumulate_digits(p, e, 10, options, &mag); st != kCvtOk) return st;
  constexpr std::uint64_t kMaxPos =
      static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
  if (mag > kMaxPos + (neg ? 1 : 0)) return kCvtRange;
  // Conversion of an unsigned value to a signed type is modular (C++20).
  *out = static_cast<std::int64_t>(neg ? std::uint64_t{0} - mag : mag);
  return kCvtOk;
}

}  // namespace

int cvt_text_to_integer(const char* text, std::int32_t len, std::uint32_t options,
                        std::int32_t* dest) {
  std::int64_t v = 0;
  int st = text_to_int64(text, len, options, &v);
  if (st == kCvtOk && (v < std::numeric_limits<std::int32_t>::min() ||
                       v > std::numeric_limits<std::int32_t>::max())) {
    st = kCvtRange;
  }
  *dest = st == kCvtOk ? static_cast<std::int32_t>(v) : 0;
  return st;
}

int cvt_text_to_integer64(const char* text, std::int32_t len, std::uint32_t options,
                          std::int64_t* dest) {
  std::int64_t v = 0;
  const int st = text_to_int64(text, len, options, &v);
  *dest = st == kCvtOk ? v : 0;
  return st;
}

int cvt_text_to_unsigned64(const char* text, std::int32_t len, int radix, std::uint32_t options,
                           std::uint64_t* dest) {
  *dest = 0;
  if (len < 0) return kCvtNegLength;
  if (radix < 2 || radix > 16) return kCvtBadRadix;
  if (options & ~kIntegerOptionsAllowed) return kCvtBadOption;
  const char* e = text + len;
  const char* p = skip_leading(text, e, options);
  std::uint64_t v = 0;
  const int st = accumulate_digits(p, e, static_cast<unsigned>(radix), options, &v);
  if (st == kCvtOk) *dest = v;
  return st;
}

int cvt_text_to_boolean(const char* text, std::int32_t len, std::uint32_t /*options*/,
                        std::int32_t* dest) {
  *dest = 0;
  if (len < 0) return kCvtNegLength;
  const char* e = text + len;
  const char* p = text;
  while (p < e && *p == ' ') ++p;
  if (p == e) return kCvtOk;
  char c = *p;
  if (c == '.' && p + 1 < e) c = p[1];
  if (c == 'T' || c == 't') {
    *dest = -1;
    return kCvtOk;
  }
  if (c == 'F' || c == 'f') return kCvtOk;
  return kCvtFailed;
}

int cvt_integer_to_text(std::int64_t value, int w, int m, std::uint32_t options, char* out) {
  if (w == 0) return kCvtOk;
  if (w < 0 || m < 0) return kCvtNegLength;
  if (options > 16) return kCvtBadOption;
  const bool neg = value < 0;
  std::uint64_t mag = neg ? std::uint64_t{0} - static_cast<std::uint64_t>(value)
                          : static_cast<std::uint64_t>(value);
  char digits[20];
  int nd = 0;
  while (mag != 0) {
    digits[nd++] = static_cast<char>('0' + mag % 10);
    mag /= 10;
  }
  const std::int64_t ndig = nd > m ? nd : m;
  if (ndig + (neg ? 1 : 0) > w) {
    std::memset(out, '*', static_cast<std::size_t>(w));
    return kCvtNarrow;
  }
  char* q = out + w;
  int i = 0;
  for (; i < nd; ++i) *--q = digits[i];
  for (; i < m; ++i) *--q = '0';
  if (neg) *--q = '-';
  std::memset(out, ' ', static_cast<std::size_t>(q - out));
  return kCvtOk;
}

}  // namespace recio
