// Numeric text conversion: text to integers, IEEE single and double, logical
// words, and integer to text; plus the common value converter used by the
// list-directed reader. All routines take a counted text (address and signed
// length, no terminator) and return a small status; they never raise errors
// and never allocate.
#pragma once

#include <cstdint>

#include "rt/messages.h"

namespace recio {

// Conversion statuses.
enum CvtStatus : int {
  kCvtOk = 0,
  kCvtFailed = 1,     // real conversion failed (overflow, leftover characters)
  kCvtNarrow = 2,     // output field too narrow
  kCvtBadChar = 3,    // invalid character
  kCvtBadOption = 4,  // invalid option word
  kCvtBadRadix = 5,
  kCvtNegLength = 6,  // negative length (or negative width/digits for output)
  kCvtRange = 8,      // value out of range
  // Two more success codes of this family of conversions: for__cvt_value lets
  // them pass like 0. No routine here returns them.
  kCvtSuccess10 = 10,
  kCvtSuccess12 = 12,
};

// Option bits of the text-to-number routines.
enum CvtOption : std::uint32_t {
  kOptIgnoreTabs = 0x1,
  kOptIgnoreBlanks = 0x2,
  kOptIgnoreUnderscores = 0x10,
  kOptBlanksAreZeros = 0x40,
  kOptAccepted2000 = 0x2000,
  kOptListCharOrLogical = 0x04000000,  // list-directed character value / logical for numeric item
};

// The option bits cvt_text_to_integer / _integer64 / _unsigned64 accept; any
// other bit is status 4 (kCvtBadOption).
inline constexpr std::uint32_t kIntegerOptionsAllowed = kOptIgnoreTabs | kOptIgnoreBlanks |
                                                        kOptIgnoreUnderscores | kOptBlanksAreZeros |
                                                        kOptAccepted2000;

// The options the real conversions always join to the caller's. The real
// routines implement exactly the rules this word selects (after the leading
// white space and sign, a blank is the digit 0, in the exponent too; exponent
// letters E D Q in either case; an exponent introduced by a bare sign; ...)
// and no other bit changes them, so the real routines take an options word
// only to keep their calling convention and do not read it.
inline constexpr std::uint32_t kRealCoreOptions = 0x0400A0E0;

// Range status reported by cvtas_a_to_s / cvtas_a_to_t.
enum CvtRange : int {
  kRangeOk = 0,
  kRangeOverflow = 1,   // infinity of the value's sign was returned
  kRangeUnderflow = 2,  // zero of the value's sign was returned (not an error)
};

// Text to integer: negative length status 6; an option bit outside
// kIntegerOptionsAllowed status 4; leading blanks skipped (a leading tab is
// status 3 unless tabs are ignored); empty, all-blank or a lone sign is 0; the
// digits then follow the blank/tab/underscore options; letters A-F are digit
// values 10-15 (status 3 when not below the radix); any other character status
// 3; magnitude above 2^64-1 or result outside the destination's range status
// 8. The destination is 0 on any failure.
int cvt_text_to_integer(const char* text, std::int32_t len, std::uint32_t options,
                        std::int32_t* dest);
int cvt_text_to_integer64(const char* text, std::int32_t len, std::uint32_t options,
                          std::int64_t* dest);
// Radix 2..16 (else status 5); no sign accepted (status 3).
int cvt_text_to_unsigned64(const char* text, std::int32_t len, int radix, std::uint32_t options,
                           std::uint64_t* dest);

// Core of text to single: returns the value, sets *end to the first character
// not consumed and *range_status to 0 (in range), 1 (overflow) or 2 (underflow).
// The value is the correctly rounded (to nearest, ties to even, subnormals
// included) value of the decimal number formed by the first 27 significant
// digits of the text; further digits are dropped but still place the point.
// Out of range is decided by the magnitude of that value: above the largest
// finite number after rounding -> infinity of the sign, range 1; rounds to zero
// -> zero of the sign, range 2. Exception: more than 4 significant exponent
// digits decide by the exponent's sign (minus: underflow, else overflow). A
// text without a significant digit is +0.0, range 0. A negative length is
// treated as an empty text (*end = text).
float cvtas_a_to_s(const char* text, std::int32_t len, std::uint32_t options, int d, int scale,
                   const char** end, int* range_status);
double cvtas_a_to_t(const char* text, std::int32_t len, std::uint32_t options, int d, int scale,
                    const char** end, int* range_status);
// Returns 0 or 1 (overflow, or characters left over; the value of the
// consumed prefix is stored then), or 6 for a negative length (+0.0 stored).
// An empty text is +0.0 with status 0. scale is the scale factor: it
// divides the value by 10^scale when the text has no exponent part (always 0
// in this system). d implied decimal digits apply only when there is no point.
int cvt_text_to_ieee_s(const char* text, std::int32_t len, int scale, int d, std::uint32_t options,
                       float* dest);
int cvt_text_to_ieee_t(const char* text, std::int32_t len, int scale, int d, std::uint32_t options,
                       double* dest);

// Logical word: leading blanks skipped; T/t or .T/.t -> -1, F/f or .F/.f -> 0,
// empty or all-blank -> 0 (status 0); anything else status 1 with 0 stored;
// negative length status 6 with 0 stored. Options are accepted and ignored.
int cvt_text_to_boolean(const char* text, std::int32_t len, std::uint32_t options,
                        std::int32_t* dest);

// Writes exactly w characters into out (no terminator). w = 0: nothing, 0;
// w < 0 or m < 0: status 6; options > 16: status 4 (options 0..16 have no
// further effect in this build); digits (with at least m digits) and a '-' for
// a negative value right-aligned, blanks on the left; status 2 and w '*' when
// they do not fit.
int cvt_integer_to_text(std::int64_t value, int w, int m, std::uint32_t options, char* out);

// Edit codes of a conversion request.
enum EditCode : std::uint8_t {
  kEditCharacter = 0x1D,
  kEditGeneral = 0x23,
  kEditInteger = 0x24,
};

struct CvtRequest {
  std::int32_t width = 0;     // length of the value text
  std::int16_t d = 0;         // digits after the decimal point
  std::int16_t e = 0;         // exponent digits
  std::int8_t scale = 0;      // scale factor (always 0 here)
  std::uint8_t edit = 0;      // EditCode
  std::uint32_t options = 0;  // CvtOption bits
};

struct CvtDest {
  void* addr = nullptr;
  std::int32_t length = 0;  // byte length (character length for text)
  std::uint8_t type = 0;    // descriptor type code (recio::TypeCode)
};

// The status mapping of for__cvt_value: statuses 0, 10 and 12 are success (0),
// every other status is msg::kInputConversion (64).
msg::Id cvt_status_message(int status);

// Picks the conversion from the edit code and destination type. Returns 0, or
// msg::kInputConversion (64) for a failing status, or msg::kFormatMismatch (61)
// for a type the edit code cannot serve (and for an unknown edit code).
//   integer: 1-, 2-, 4-, 8-byte integer or logical destinations. Blanks are
//     ignored, or are zeros when the request's options have kOptIgnoreBlanks;
//     1- and 2-byte values must fit (else 64). With kOptListCharOrLogical the
//     text is a logical word (-1 / 0). 0 is stored after a failure.
//   general: 4- or 8-byte real, with the request's d and scale. With
//     kOptListCharOrLogical a logical word: true -1.0, false 0.0. An overflow
//     stores infinity before the 64.
//   character: a text of n characters into L: n >= L keeps the first L with
//     kOptListCharOrLogical, else the last L; n < L pads with blanks.
msg::Id for__cvt_value(const CvtRequest& req, const char* text, std::int32_t len,
                       const CvtDest& dest);

// The list-directed reader's rule for a 4-byte integer item given a value with
// a point or exponent: the double (from cvt_text_to_ieee_t)
// is truncated toward zero to a 64-bit integer and its low 32 bits are kept.
// A value whose truncation does not fit in int64 (and NaN, infinities) gives
// the "integer indefinite" 0x8000000000000000, whose low 32 bits are 0. Never
// undefined behaviour. Example: 1e10 -> 1410065408, -2.9 -> -2.
std::int64_t truncate_to_int64_indefinite(double v);
std::int32_t truncate_to_int32_low_bits(double v);

}  // namespace recio
