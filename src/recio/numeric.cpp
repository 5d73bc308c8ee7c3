// Numeric text conversion: the common value converter
// for__cvt_value and the list-directed reader's real-to-integer truncation.
// The text routines themselves live in numeric_integer.cpp and
// numeric_real.cpp (text to real in stages: numeric_scan.h, numeric_fast_path.h,
// numeric_exact_path.h).
#include "recio/numeric.h"

#include <cstdint>
#include <cstring>

#include "recio/descriptor.h"

namespace recio {
namespace {

// Width of an integer or logical destination; 0 for any other type.
int integer_width(std::uint8_t type) {
  switch (type) {
    case kTypeInt1:
    case kTypeLogical1:
      return 1;
    case kTypeInt2:
    case kTypeLogical2:
      return 2;
    case kTypeInt4:
    case kTypeLogical4:
      return 4;
    case kTypeInt8:
    case kTypeLogical8:
      return 8;
    default:
      return 0;
  }
}

msg::Id convert_integer(const CvtRequest& req, const char* text, std::int32_t len,
                        const CvtDest& dest) {
  const int width = integer_width(dest.type);
  if (width == 0) return msg::kFormatMismatch;
  int status;
  std::int64_t v = 0;
  if (req.options & kOptListCharOrLogical) {
    std::int32_t b = 0;
    status = cvt_text_to_boolean(text, len, req.options, &b);
    v = b;
  } else {
    // The request's hex 2 selects blanks-as-zeros; otherwise blanks are ignored.
    const std::uint32_t opts =
        (req.options & kOptIgnoreBlanks) ? kOptBlanksAreZeros : kOptIgnoreBlanks;
    if (width == 8) {
      status = cvt_text_to_integer64(text, len, opts, &v);
    } else {
      std::int32_t x = 0;
      status = cvt_text_to_integer(text, len, opts, &x);
      v = x;
      const std::int64_t lim = width == 1 ? 127 : width == 2 ? 32767 : 2147483647;
      if (status == kCvtOk && (v > lim || v < -lim - 1)) {
        status = kCvtRange;
        v = 0;
      }
    }
  }
  store_integer(dest.addr, width, v);
  return cvt_status_message(status);
}

msg::Id convert_real(const CvtRequest& req, const char* text, std::int32_t len,
                     const CvtDest& dest) {
  const bool single = dest.type == kTypeReal4;
  if (!single && dest.type != kTypeReal8) return msg::kFormatMismatch;
  int status;
  if (req.options & kOptListCharOrLogical) {
    // A logical value for a real item: true -1.0, false 0.0, by the logical
    // value's meaning (".false." is false).
    std::int32_t b = 0;
    status = cvt_text_to_boolean(text, len, req.options, &b);
    if (single) {
      const float f = b != 0 ? -1.0f : 0.0f;
      std::memcpy(dest.addr, &f, sizeof f);
    } else {
      const double v = b != 0 ? -1.0 : 0.0;
      std::memcpy(dest.addr, &v, sizeof v);
    }
  } else if (single) {
    float f = 0.0f;
    status = cvt_text_to_ieee_s(text, len, req.scale, req.d, kOptBlanksAreZeros, &f);
    std::memcpy(dest.addr, &f, sizeof f);
  } else {
    double v = 0.0;
    status = cvt_text_to_ieee_t(text, len, req.scale, req.d, kOptBlanksAreZeros, &v);
    std::memcpy(dest.addr, &v, sizeof v);
  }
  return cvt_status_message(status);
}

msg::Id convert_character(const CvtRequest& req, const char* text, std::int32_t len,
                          const CvtDest& dest) {
  if (dest.type != kTypeChar) return msg::kFormatMismatch;
  if (len < 0) return msg::kInputConversion;
  const std::int32_t width = dest.length > 0 ? dest.length : 0;
  char* out = static_cast<char*>(dest.addr);
  if (len >= width) {
    // A list-directed value keeps its first L characters, a formatted field
    // its last L.
    const char* from = (req.options & kOptListCharOrLogical) ? text : text + (len - width);
    std::memmove(out, from, static_cast<std::size_t>(width));
  } else {
    std::memmove(out, text, static_cast<std::size_t>(len));
    std::memset(out + len, ' ', static_cast<std::size_t>(width - len));
  }
  return 0;
}

}  // namespace

msg::Id cvt_status_message(int status) {
  return (status == kCvtOk || status == kCvtSuccess10 || status == kCvtSuccess12)
             ? msg::Id{0}
             : msg::kInputConversion;
}

msg::Id for__cvt_value(const CvtRequest& req, const char* text, std::int32_t len,
                       const CvtDest& dest) {
  switch (req.edit) {
    case kEditInteger:
      return convert_integer(req, text, len, dest);
    case kEditGeneral:
      return convert_real(req, text, len, dest);
    case kEditCharacter:
      return convert_character(req, text, len, dest);
    default:
      return msg::kFormatMismatch;
  }
}

std::int64_t truncate_to_int64_indefinite(double v) {
  // [-2^63, 2^63): exactly the doubles whose truncation fits in int64 (the
  // doubles next to -2^63 are integers). NaN fails both comparisons.
  if (v >= -9223372036854775808.0 && v < 9223372036854775808.0) {
    return static_cast<std::int64_t>(v);  // truncates toward zero
  }
  return static_cast<std::int64_t>(std::uint64_t{0x8000000000000000u});
}

std::int32_t truncate_to_int32_low_bits(double v) {
  // Keeping the low 32 bits is a modular conversion (well defined in C++20).
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(static_cast<std::uint64_t>(truncate_to_int64_indefinite(v))));
}

}  // namespace recio
