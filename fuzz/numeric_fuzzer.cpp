// Numeric text conversion against the C library where the two grammars
// agree, and the list-directed reader against the conversions it stands for.
//   - text to 4- and 8-byte integer and to unsigned 64-bit in radix 2..16
//     against strtoll / strtoull on sign-and-digit texts; any other text
//     is an invalid character or out of range, with 0 stored;
//   - text to single and double against strtof / strtod on plain decimal
//     texts ([sign] digits [. digits] [letter [sign] digits]), bit for bit:
//     correctly rounded from the first 27 significant digits, overflow to
//     infinity with status 1, underflow to zero of the sign, +0.0 for a text
//     without a significant digit, d implied digits without a point;
//   - a number read list-directed into a real or an integer item, through
//     the statement (padded private copy) and through the scanner on an
//     exact-size record, gives what the conversion gives;
//   - integer to text against snprintf.
//
// Input: byte 0 options, bytes 1-2 width and digits for integer to text, then
// the text.
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "harness.h"
#include "recio/io_api.h"
#include "recio/list_input.h"
#include "recio/numeric.h"
#include "support/bits.h"

namespace {

using recio::IoArg;

constexpr std::size_t kMaxCompared = 4096;  // beyond, a long mantissa could outweigh the exponent
constexpr int kMaxSignificant = 27;

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}

using testsupport::bits;

// --- integers ---

// [sign] digits, the digits possibly none.
bool sign_and_digits(const std::string& t) {
  std::size_t i = 0;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  for (; i < t.size(); ++i) {
    if (!is_digit(t[i])) return false;
  }
  return true;
}

// The text after its leading blanks, without any blank when blanks are
// ignored.
std::string without_blanks(const char* text, std::size_t len, bool all) {
  std::string t;
  std::size_t i = 0;
  while (i < len && text[i] == ' ') ++i;  // leading blanks are always skipped
  for (; i < len; ++i) {
    if (all && text[i] == ' ') continue;
    t.push_back(text[i]);
  }
  return t;
}

void check_integers(const char* text, std::size_t len, std::uint8_t options) {
  const bool ignore_blanks = (options & 8) != 0;
  const std::uint32_t opts = ignore_blanks ? std::uint32_t{recio::kOptIgnoreBlanks} : 0u;
  const auto n = static_cast<std::int32_t>(len);
  std::int32_t v32 = -1;
  std::int64_t v64 = -1;
  const int st32 = recio::cvt_text_to_integer(text, n, opts, &v32);
  const int st64 = recio::cvt_text_to_integer64(text, n, opts, &v64);
  const std::string t = without_blanks(text, len, ignore_blanks);
  if (sign_and_digits(t)) {
    errno = 0;
    const long long ref = std::strtoll(t.c_str(), nullptr, 10);  // "" and a lone sign: 0
    const bool range64 = errno == ERANGE;
    const int want64 = range64 ? recio::kCvtRange : recio::kCvtOk;
    if (st64 != want64 || v64 != (range64 ? 0 : ref))
      fuzz::fail("integer64 \"%s\": status %d value %" PRId64 ", want %d %lld", t.c_str(), st64,
                 v64, want64, ref);
    const bool range32 = range64 || ref < INT32_MIN || ref > INT32_MAX;
    const int want32 = range32 ? recio::kCvtRange : recio::kCvtOk;
    if (st32 != want32 || v32 != (range32 ? 0 : ref))
      fuzz::fail("integer \"%s\": status %d value %d, want %d %lld", t.c_str(), st32, v32, want32,
                 ref);
  } else {
    // Some character is not a digit; an overflow may be noticed first.
    if ((st32 != recio::kCvtBadChar && st32 != recio::kCvtRange) || v32 != 0)
      fuzz::fail("integer of another shape: status %d value %d", st32, v32);
    if ((st64 != recio::kCvtBadChar && st64 != recio::kCvtRange) || v64 != 0)
      fuzz::fail("integer64 of another shape: status %d", st64);
  }

  const int radix = 2 + (options >> 4) % 15;
  std::uint64_t u = 1;
  const int stu = recio::cvt_text_to_unsigned64(text, n, radix, opts, &u);
  bool digits_only = true;
  for (char c : t) {
    const int d = is_digit(c)                              ? c - '0'
                  : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                           : 99;
    if (d >= radix) digits_only = false;
  }
  if (digits_only) {
    errno = 0;
    const unsigned long long ref = std::strtoull(t.c_str(), nullptr, radix);
    const bool range = errno == ERANGE;
    const int want = range ? recio::kCvtRange : recio::kCvtOk;
    if (stu != want || u != (range ? 0 : ref))
      fuzz::fail("unsigned64 radix %d \"%s\": status %d, want %d", radix, t.c_str(), stu, want);
  } else if ((stu != recio::kCvtBadChar && stu != recio::kCvtRange) || u != 0) {
    fuzz::fail("unsigned64 radix %d of another shape: status %d", radix, stu);
  }
}

// --- reals ---

// A plain decimal text, rewritten in the C library's syntax with d implied
// digits applied and digits after the 27th significant one zeroed. False
// when the text has another shape or an exponent beyond what both decide
// alike.
bool reference_text(const char* text, std::size_t len, int d, std::string* out, bool* significant) {
  std::size_t i = 0;
  while (i < len && (text[i] == ' ' || (text[i] >= 9 && text[i] <= 13))) ++i;
  std::string r;
  if (i < len && (text[i] == '+' || text[i] == '-')) r.push_back(text[i++]);
  int digits = 0, sig = 0;
  bool point = false;
  for (; i < len; ++i) {
    const char c = text[i];
    if (c == '.' && !point) {
      point = true;
      r.push_back(c);
      continue;
    }
    if (!is_digit(c)) break;
    ++digits;
    if (c != '0' || sig > 0) ++sig;
    r.push_back(sig > kMaxSignificant ? '0' : c);
  }
  if (digits == 0) return false;
  long long exponent = 0;
  if (i < len) {
    const char c = text[i];
    const bool letter = c != '\0' && std::strchr("eEdDqQ", c) != nullptr;
    if (!letter && c != '+' && c != '-') return false;
    if (letter) ++i;
    bool negative = false;
    if (i < len && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int exponent_digits = 0;
    for (; i < len && is_digit(text[i]); ++i) {
      exponent = exponent * 10 + (text[i] - '0');
      if (exponent != 0 && ++exponent_digits > 9) return false;
    }
    if (i != len) return false;
    if (negative) exponent = -exponent;
  }
  if (!point) exponent -= d;
  r.push_back('e');
  r += std::to_string(exponent);
  *out = r;
  *significant = sig > 0;
  return true;
}

void check_reals(const char* text, std::size_t len, int d) {
  const auto n = static_cast<std::int32_t>(len);
  float f = 1.0f;
  double g = 1.0;
  const int stf = recio::cvt_text_to_ieee_s(text, n, 0, d, recio::kOptBlanksAreZeros, &f);
  const int stg = recio::cvt_text_to_ieee_t(text, n, 0, d, recio::kOptBlanksAreZeros, &g);
  if ((stf != 0 && stf != 1) || (stg != 0 && stg != 1)) fuzz::fail("real status %d / %d", stf, stg);
  const char* end = nullptr;
  int range = -1;
  recio::cvtas_a_to_s(text, n, 0, d, 0, &end, &range);
  if (end < text || end > text + len || range < 0 || range > 2)
    fuzz::fail("single core: end %td range %d", end - text, range);

  std::string ref;
  bool significant = false;
  if (len == 0 || len > kMaxCompared || !reference_text(text, len, d, &ref, &significant)) return;
  const float want_f = significant ? std::strtof(ref.c_str(), nullptr) : 0.0f;
  const double want_g = significant ? std::strtod(ref.c_str(), nullptr) : 0.0;
  const int want_stf = std::isinf(want_f) ? 1 : 0;
  const int want_stg = std::isinf(want_g) ? 1 : 0;
  if (stf != want_stf || bits(f) != bits(want_f))
    fuzz::fail("single \"%.*s\" d=%d: status %d bits %08X, strtof(\"%s\") %08X", n, text, d, stf,
               bits(f), ref.c_str(), bits(want_f));
  if (stg != want_stg || bits(g) != bits(want_g))
    fuzz::fail("double \"%.*s\" d=%d: status %d bits %016" PRIX64 ", strtod(\"%s\") %016" PRIX64, n,
               text, d, stg, bits(g), ref.c_str(), bits(want_g));
}

// --- the list-directed reader ---

// One item read from the record through the statement; the result with the
// error branch.
int statement_read(const char* record, std::size_t len, std::uint8_t type, void* item) {
  const auto desc = recio::item_descriptor(
      {recio::kTextItem, {recio::TypeCode{type}, recio::kPassAddress}}, recio::Terminator::kEnd);
  const IoArg args[] = {IoArg::val(static_cast<std::int64_t>(len)), IoArg::address(record),
                        IoArg::address(item)};
  recio::IoControlBlock cb{};
  return recio::for_read_int_lis(&cb, recio::kFlagsErrBranch, desc, args);
}

// The same through the scanner alone on a record without padding.
msg::Id scanner_read(const char* record, std::size_t len, std::uint8_t type, void* item) {
  static recio::ListScanState state;
  recio::list_scan_begin(state, record, static_cast<std::int32_t>(len), recio::kFlagsErrBranch);
  recio::Item it;
  it.type = type;
  it.mode = recio::kPassAddress;
  it.addr = item;
  it.length = recio::type_size(type);
  return recio::list_read_item(state, it);
}

void check_list_reader(const char* text, std::size_t len) {
  if (len == 0) return;
  bool integer_syntax = true;
  for (std::size_t i = 0; i < len; ++i) {
    const char c = text[i];
    if (is_digit(c) || c == '+' || c == '-') continue;
    if (c == '\0' || std::strchr(".eEdDqQ", c) == nullptr) return;
    integer_syntax = false;
  }
  const auto n = static_cast<std::int32_t>(len);
  float by_statement = 0.0f, by_scanner = 0.0f, converted = 0.0f;
  const int r = statement_read(text, len, recio::kTypeReal4, &by_statement);
  const msg::Id id = scanner_read(text, len, recio::kTypeReal4, &by_scanner);
  if (r != (id == 0 ? 0 : msg::number(id)))
    fuzz::fail("real item \"%.*s\": statement %d, scanner %d", n, text, r, msg::number(id));
  const int st = recio::cvt_text_to_ieee_s(text, n, 0, 0, recio::kOptBlanksAreZeros, &converted);
  if (r == 0 &&
      (st != 0 || bits(by_statement) != bits(converted) || bits(by_scanner) != bits(converted)))
    fuzz::fail("real item \"%.*s\": %08X / %08X, conversion %d %08X", n, text, bits(by_statement),
               bits(by_scanner), st, bits(converted));
  if (r == 64 && st == 0) fuzz::fail("real item \"%.*s\": 64 for a valid number", n, text);
  if (r != 0 && r != 59 && r != 64) fuzz::fail("real item \"%.*s\": %d", n, text, r);

  std::int32_t iv = 0, iv_scanner = 0;
  const int ri = statement_read(text, len, recio::kTypeInt4, &iv);
  const msg::Id idi = scanner_read(text, len, recio::kTypeInt4, &iv_scanner);
  if (ri != (idi == 0 ? 0 : msg::number(idi)) || iv != iv_scanner)
    fuzz::fail("integer item \"%.*s\": statement %d %d, scanner %d %d", n, text, ri, iv,
               msg::number(idi), iv_scanner);
  if (ri != 0) return;
  std::int32_t want = 0;
  if (integer_syntax) {
    if (recio::cvt_text_to_integer(text, n, recio::kOptIgnoreBlanks, &want) != 0)
      fuzz::fail("integer item \"%.*s\" read although out of range", n, text);
  } else {
    double g = 0.0;
    if (recio::cvt_text_to_ieee_t(text, n, 0, 0, recio::kOptBlanksAreZeros, &g) != 0)
      fuzz::fail("integer item \"%.*s\" read although the real fails", n, text);
    want = recio::truncate_to_int32_low_bits(g);
  }
  if (iv != want) fuzz::fail("integer item \"%.*s\": %d, want %d", n, text, iv, want);
}

// --- integer to text ---

void check_integer_to_text(const char* text, std::size_t len, std::uint8_t wb, std::uint8_t mb) {
  std::int64_t value = 0;
  std::memcpy(&value, text, len < 8 ? len : 8);
  if ((wb & 0xC0) == 0) value = static_cast<std::int8_t>(value);  // small values too
  const int w = (wb & 0x3F) - 4;                                  // -4 .. 59
  const int m = (mb & 0x1F) - 2;                                  // -2 .. 29
  char out[64];
  std::memset(out, '#', sizeof out);
  const int st = recio::cvt_integer_to_text(value, w, m, 0, out);
  if (w == 0) {
    if (st != 0 || out[0] != '#') fuzz::fail("integer to text w=0: status %d", st);
    return;
  }
  if (w < 0 || m < 0) {
    if (st != recio::kCvtNegLength) fuzz::fail("integer to text w=%d m=%d: status %d", w, m, st);
    return;
  }
  char want[128];
  const int k = std::snprintf(want, sizeof want, "%*.*" PRId64, w, m, value);
  const bool fits = k <= w;
  if (!fits) std::memset(want, '*', static_cast<std::size_t>(w));
  if (st != (fits ? 0 : recio::kCvtNarrow) ||
      std::memcmp(out, want, static_cast<std::size_t>(w)) != 0 || out[w] != '#')
    fuzz::fail("integer to text %" PRId64 " w=%d m=%d: status %d \"%.*s\", want \"%.*s\"", value, w,
               m, st, w, out, w, want);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_run_time();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Bytes in(data, size);
  const std::uint8_t options = in.take();
  const std::uint8_t width = in.take();
  const std::uint8_t digits = in.take();
  // An exact-size copy: the conversions must not read beyond the text.
  const std::size_t len = in.rest_size();
  const auto text = std::make_unique<char[]>(len);
  std::memcpy(text.get(), in.rest(), len);

  check_integers(text.get(), len, options);
  check_reals(text.get(), len, options & 7);
  check_list_reader(text.get(), len);
  check_integer_to_text(text.get(), len, width, digits);
  fuzz::check_units_released("a conversion");
  return 0;
}
