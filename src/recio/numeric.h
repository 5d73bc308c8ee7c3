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

int cvt_text_to_integer(const char* text, std::int32_t len, std::uint32_t options,
                        std::int32_t* dest);
int cvt_text_to_integer64(const char* text, std::int32_t len, std::uint32_t options,
                          std::int64_t* dest);
int cvt_text_to_unsigned64(const char* text, std::int32_t len, int radix, std::uint32_t options,
                           std::uint64_t* dest);

// Core of text to single: returns the value, sets *end to the first character
// not consumed and *range_status to 0 (in range), 1 (overflow) or 2 (underflow).
float cvtas_a_to_s(const char* text, std::int32_t len, std::uint32_t options, int d, int scale,
                   const char** end, int* range_status);
double cvtas_a_to_t(const char* text, std::int32_t len, std::uint32_t options, int d, int scale,
                    const char** end, int* range_status);
// Returns 0 or 1 (overflow, or characters left over).
int cvt_text_to_ieee_s(const char* text, std::int32_t len, int scale, int d,
                       std::uint32_t options, float* dest);
int cvt_text_to_ieee_t(const char* text, std::int32_t len, int scale, int d,
                       std::uint32_t options, double* dest);

int cvt_text_to_boolean(const char* text, std::int32_t len, std::uint32_t options,
                        std::int32_t* dest);

// Writes exactly w characters into out (no terminator).
int cvt_integer_to_text(std::int64_t value, int w, int m, std::uint32_t options, char* out);

// Edit codes of a conversion request.
enum EditCode : std::uint8_t {
  kEditCharacter = 0x1D,
  kEditGeneral = 0x23,
  kEditInteger = 0x24,
};

struct CvtRequest {
  std::int32_t width = 0;    // length of the value text
  std::int16_t d = 0;        // digits after the decimal point
  std::int16_t e = 0;        // exponent digits
  std::int8_t scale = 0;     // scale factor (always 0 here)
  std::uint8_t edit = 0;     // EditCode
  std::uint32_t options = 0; // CvtOption bits
};

struct CvtDest {
  void* addr = nullptr;
  std::int32_t length = 0;   // byte length (character length for text)
  std::uint8_t type = 0;     // descriptor type code (recio::TypeCode)
};

// Picks the conversion from the edit code and destination type. Returns 0, or
// msg::kInputConversion (64) for a failing status, or msg::kFormatMismatch (61)
// for a type the edit code cannot serve.
msg::Id for__cvt_value(const CvtRequest& req, const char* text, std::int32_t len,
                       const CvtDest& dest);

}  // namespace recio
