// The list-directed scanner: cutting an internal record into values and the
// assignment table that stores each value into its item.
#include "recio/list_input.h"

#include <array>
#include <bit>
#include <cstring>
#include <type_traits>

#include "recio/numeric.h"
#include "recio/numeric_exact_path.h"

namespace recio {
namespace {

// Character classes, one table lookup per character in the scan loops.
enum CharClass : std::uint8_t {
  kSkip = 0x01,        // blank, tab, newline: skipped between values
  kNumPlain = 0x02,    // digit or sign: always part of a number
  kNumEnd = 0x04,      // ends a number: blank, tab, comma, slash, ')', '*'
  kValueEnd = 0x80,    // ends a number that is a value: kNumEnd but '*'
  kExpLetter = 0x08,   // D E Q, either case
  kLogicalEnd = 0x10,  // blank, tab, newline, comma, slash, ')'
  kUndelimEnd = 0x20,  // blank, tab, newline, comma, slash, NUL
  kDigit = 0x40,
};

constexpr std::array<std::uint8_t, 256> make_classes() {
  std::array<std::uint8_t, 256> t{};
  for (unsigned char c : {' ', '\t', '\n'}) t[c] |= kSkip;
  for (unsigned char c = '0'; c <= '9'; ++c) t[c] |= kNumPlain | kDigit;
  t['+'] |= kNumPlain;
  t['-'] |= kNumPlain;
  for (unsigned char c : {' ', '\t', ',', '/', ')', '*'}) t[c] |= kNumEnd;
  for (unsigned char c : {' ', '\t', ',', '/', ')'}) t[c] |= kValueEnd;
  for (unsigned char c : {'D', 'E', 'Q', 'd', 'e', 'q'}) t[c] |= kExpLetter;
  for (unsigned char c : {' ', '\t', '\n', ',', '/', ')'}) t[c] |= kLogicalEnd;
  for (unsigned char c : {' ', '\t', '\n', ',', '/', '\0'}) t[c] |= kUndelimEnd;
  return t;
}

constexpr std::array<std::uint8_t, 256> kClass = make_classes();

inline std::uint8_t cls(char c) {
  return kClass[static_cast<unsigned char>(c)];
}

inline bool is_logical_letter(char c) {
  return c == 'T' || c == 't' || c == 'F' || c == 'f';
}

inline bool is_real(std::uint8_t type) {
  return type == kTypeReal4 || type == kTypeReal8;
}

msg::Id fail(ListScanState& s, msg::Id id) {
  s.status = id;
  s.short_path = false;
  return id;
}

// A comma found where a value is expected is a null value, not a separator,
// when it opens the statement (nothing taken yet: every value and separator
// taken moves s.pos), follows a comma (directly, after blanks and tabs, or
// after a passed separator), or directly follows r* or a newline.
bool comma_is_null(const ListScanState& s, const char* p) {
  if (s.pos == 0 || s.marks.comma_passed) return true;
  const char* const rec = s.record;
  if (p == rec) return false;
  const char before = p[-1];
  if (before == ',' || before == '*' || before == '\n') return true;
  for (const char* q = p - 1; q >= rec; --q) {
    if (*q != ' ' && *q != '\t') return *q == ',';
  }
  return false;
}

// Quoted value starting at the opening quote p; the text goes to the token
// buffer with doubled quotes undone. There is no further record to continue
// in, so the end of the record, a NUL or a newline before the closing quote is
// a syntax error.
msg::Id collect_quoted(ListScanState& s, const char* p, const char* end) {
  const char q = *p++;
  std::int32_t n = 0;
  for (;;) {
    if (p == end) return msg::kListSyntax;
    char c = *p;
    if (c == q) {
      if (p + 1 < end && p[1] == q) {
        ++p;
      } else {
        ++p;
        break;
      }
    } else if (c == '\0' || c == '\n') {
      return msg::kListSyntax;
    }
    if (n == kListValueMax) return msg::kListSyntax;
    s.token_buffer[n++] = c;
    ++p;
  }
  s.marks.character = true;
  (q == '\'' ? s.marks.quote_apostrophe : s.marks.quote_mark) = true;
  s.token = s.token_buffer;
  s.token_length = n;
  s.pos = static_cast<std::int32_t>(p - s.record);
  return 0;
}

// The decimal syntax of the conversions, ended by the record's end or a
// separator (not '*': "r*" is a repeat count), with at least one mantissa
// digit. False when the text has another shape; the general scan decides
// then (and converts the same text to the same value).
template <bool kPadded>
[[gnu::always_inline]] inline bool scan_plain_number(const char* start, const char* end,
                                                     ParsedDecimal* n) {
  scan_decimal<BlankRule::kEnds, kPadded>(start, end, n);
  // A scan stops at the padding, so n->end never passes end.
  const char* const q = n->end;
  return n->count > 0 && (q == end || (cls(*q) & kValueEnd));
}

// Makes a scanned plain number the current value.
inline void keep_plain_number(ListScanState& s, const char* start, const ParsedDecimal& n) {
  s.marks.numeric = true;
  s.marks.point = n.point;
  // "15+3" is integer syntax (and no integer): an exponent by a bare sign
  // is not an exponent letter.
  s.marks.integer_syntax = !n.point && !n.exponent_letter;
  s.token = start;
  s.token_length = static_cast<std::int32_t>(n.end - start);
  s.pos = static_cast<std::int32_t>(n.end - s.record);
  s.plain_number = true;
  s.number = n;
}

// Number text: digits, signs, one point, one exponent letter (not first).
// The token points into the record; a trailing '*' is kept as a repeat marker.
msg::Id collect_numeric(ListScanState& s, const char* p, const char* end) {
  const char* const start = p;
  s.plain_number = false;
  ParsedDecimal n;
  if (s.padded ? scan_plain_number<true>(p, end, &n) : scan_plain_number<false>(p, end, &n)) {
    keep_plain_number(s, start, n);
    return 0;
  }
  bool point = false;
  bool exponent = false;
  for (; p < end; ++p) {
    const std::uint8_t k = cls(*p);
    if (k & kNumPlain) continue;
    if (k & kNumEnd) {
      if (*p == '*') ++p;
      break;
    }
    if (*p == '.' && !point) {
      point = true;
      continue;
    }
    if ((k & kExpLetter) && !exponent && p != start) {
      exponent = true;
      continue;
    }
    return msg::kListSyntax;
  }
  s.marks.numeric = true;
  s.marks.point = point;
  s.marks.integer_syntax = !point && !exponent;
  s.token = start;
  s.token_length = static_cast<std::int32_t>(p - start);
  s.pos = static_cast<std::int32_t>(p - s.record);
  return 0;
}

// Text up to the next blank, tab, newline, comma, slash or NUL (the first
// character always belongs to it). Points into the record: nothing to undo.
msg::Id collect_undelimited(ListScanState& s, const char* p, const char* end) {
  const char* const start = p++;
  while (p < end && !(cls(*p) & kUndelimEnd)) ++p;
  if (p - start > kListValueMax) return msg::kListSyntax;
  s.marks.character = true;
  s.marks.undelimited = true;
  s.token = start;
  s.token_length = static_cast<std::int32_t>(p - start);
  s.pos = static_cast<std::int32_t>(p - s.record);
  return 0;
}

// Logical word starting at its letter; only that letter matters.
msg::Id collect_logical(ListScanState& s, const char* p, const char* end) {
  const char* const start = p++;
  while (p < end && !(cls(*p) & kLogicalEnd)) ++p;
  s.marks.logical = true;
  s.token = start;
  s.token_length = static_cast<std::int32_t>(p - start);
  s.pos = static_cast<std::int32_t>(p - s.record);
  return 0;
}

// Finds and classifies the next value starting at s.pos. char_item: the item
// takes undelimited text. skip_first: false right after r*, where the value
// must follow the asterisk directly.
[[gnu::always_inline]] inline msg::Id scan_value(ListScanState& s, std::uint8_t type,
                                                 bool char_item, bool skip_first) {
  const char* const end = s.record + s.record_length;
  const char* p = s.record + s.pos;
  bool skip = skip_first;
  for (;;) {
    if (skip) {
      while (p < end && (cls(*p) & kSkip)) ++p;
      if (p == end) return msg::kEndOfFile;
    }
    skip = true;
    if (*p == ',') {
      if (s.marks.pair_open) {
        // Inside a pair a comma before the number only separates; a second
        // one would stand for a null value, which a pair cannot hold.
        if (s.marks.comma_passed) return msg::kListSyntax;
        s.marks.comma_passed = true;
        ++p;
        continue;
      }
      if (comma_is_null(s, p)) {
        s.marks.null = true;
        s.pos = static_cast<std::int32_t>(p + 1 - s.record);
        return 0;
      }
      s.marks.comma_passed = true;
      ++p;
      continue;
    }
    if (*p == '(' && !char_item) {
      // A pair only makes sense for a real item; elsewhere its imaginary
      // part would be read as the next values.
      if (s.marks.pair_open || !is_real(type)) return msg::kListSyntax;
      s.marks.pair_open = true;
      s.marks.comma_passed = false;  // a comma before the "(" ended the last value
      ++p;
      continue;
    }
    break;
  }

  const char c = *p;
  if (s.marks.pair_open) {
    // A slash still ends the statement, and a quoted value is the conversion
    // error it is for any real item; a logical word or ")" cannot open a pair.
    if (c == '.' && p + 1 < end && is_logical_letter(p[1])) return msg::kListSyntax;
    if (c == ')' || is_logical_letter(c)) return msg::kListSyntax;
  }
  switch (c) {
    case '\'':
    case '"':
      return collect_quoted(s, p, end);
    case '/':
      s.marks.slash = true;
      s.pos = static_cast<std::int32_t>(p + 1 - s.record);
      return 0;
    case ')':
      // The only ')' that belongs to a value is text for a character item.
      if (char_item) return collect_undelimited(s, p, end);
      return msg::kListSyntax;
    case '(':  // reached only for a character item
      return collect_undelimited(s, p, end);
    case '.':
      if (char_item) return collect_undelimited(s, p, end);
      if (p + 1 < end && is_logical_letter(p[1])) return collect_logical(s, p + 1, end);
      return collect_numeric(s, p, end);
    case 'T':
    case 't':
    case 'F':
    case 'f':
      if (char_item) return collect_undelimited(s, p, end);
      return collect_logical(s, p, end);
    default:
      break;
  }
  if (char_item) {
    // Digits directly followed by '*' are a repeat count; anything else is text.
    const char* q = p;
    while (q < end && (cls(*q) & kDigit)) ++q;
    if (q == end || *q != '*') return collect_undelimited(s, p, end);
  }
  return collect_numeric(s, p, end);
}

// Applies a repeat prefix "r*" held in the token: the null or the value that
// follows the asterisk directly, used r times (at least once).
msg::Id apply_repeat(ListScanState& s, std::uint8_t type) {
  if (s.token[0] == '*') return msg::kListSyntax;
  std::int32_t r = 0;
  if (cvt_text_to_integer(s.token, s.token_length - 1, kOptIgnoreBlanks, &r) != kCvtOk) {
    return msg::kInputConversion;
  }
  s.marks.numeric = false;
  s.marks.integer_syntax = false;
  s.marks.point = false;
  s.marks.repeated = true;
  s.repeat = r > 1 ? r - 1 : 0;
  if (s.pos == s.record_length || s.record[s.pos] == ' ' || s.record[s.pos] == '\t') {
    s.marks.null = true;
    s.token_length = 0;
    return 0;
  }
  // A repeated value is never undelimited text: "2*AB" stays an error, so
  // quoting is required for repeated character values.
  const msg::Id rc = scan_value(s, type, false, false);
  if (rc == 0 && s.marks.slash) s.repeat = 0;
  return rc;
}

// The imaginary part of a pair given for a real item is checked and dropped:
// ',' [sign] digit {digit} ['.' {digit}] [letter {digit}] ')'.
msg::Id swallow_imaginary_part(ListScanState& s) {
  const char* const end = s.record + s.record_length;
  const char* p = s.record + s.pos;
  while (p < end && (cls(*p) & kSkip)) ++p;
  if (p == end || *p != ',') return msg::kListSyntax;
  ++p;
  if (p < end && (*p == '+' || *p == '-')) ++p;
  if (p == end || !(cls(*p) & kDigit)) return msg::kListSyntax;
  while (p < end && (cls(*p) & kDigit)) ++p;
  if (p < end && *p == '.') {
    ++p;
    while (p < end && (cls(*p) & kDigit)) ++p;
  }
  if (p < end && (cls(*p) & kExpLetter)) {
    ++p;
    while (p < end && (cls(*p) & kDigit)) ++p;
  }
  if (p == end || *p != ')') return msg::kListSyntax;
  s.marks.pair_open = false;
  s.pos = static_cast<std::int32_t>(p + 1 - s.record);
  return 0;
}

// A number's value into a 4- or 8-byte real (infinity after an overflow):
// from the decimal scanned while the value was cut out, or by converting its
// text. Returns the conversion's status.
template <typename T>
int store_real(const ListScanState& s, void* addr) {
  constexpr bool kSingle = std::is_same_v<T, float>;
  T v = 0;
  int st;
  if (s.plain_number) {
    int range;
    if constexpr (kSingle) {
      v = single_from_decimal(s.number, &range);
    } else {
      v = double_from_decimal(s.number, &range);
    }
    st = range == kRangeOverflow ? kCvtFailed : kCvtOk;
  } else if constexpr (kSingle) {
    // d = 0: an explicit point is always honoured, and without one no
    // implied decimal digits apply.
    st = cvt_text_to_ieee_s(s.token, s.token_length, 0, 0, kOptBlanksAreZeros, &v);
  } else {
    st = cvt_text_to_ieee_t(s.token, s.token_length, 0, 0, kOptBlanksAreZeros, &v);
  }
  std::memcpy(addr, &v, sizeof v);
  return st;
}

msg::Id assign_real(ListScanState& s, const Item& item) {
  const bool single = item.type == kTypeReal4;
  if (s.marks.numeric) {
    const int st = single ? store_real<float>(s, item.addr) : store_real<double>(s, item.addr);
    if (st != kCvtOk) return msg::kInputConversion;
    if (s.marks.pair_open) return swallow_imaginary_part(s);
    return 0;
  }
  if (s.marks.logical) {
    // By the word's meaning: ".false." is false although it starts with '.'.
    const bool truth = s.token[0] == 'T' || s.token[0] == 't';
    if (single) {
      const float f = truth ? -1.0f : 0.0f;
      std::memcpy(item.addr, &f, sizeof f);
    } else {
      const double d = truth ? -1.0 : 0.0;
      std::memcpy(item.addr, &d, sizeof d);
    }
    return 0;
  }
  return msg::kInputConversion;  // character string
}

msg::Id assign_integer(ListScanState& s, const Item& item) {
  const std::int32_t width = type_size(item.type);
  const bool logical_item = item.type >= kTypeLogical1 && item.type <= kTypeLogical8;
  if (s.marks.logical) {
    const bool truth = s.token[0] == 'T' || s.token[0] == 't';
    store_integer(item.addr, width, truth ? -1 : 0);
    return 0;
  }
  if (!s.marks.numeric) return msg::kInputConversion;  // character string
  if (item.type == kTypeInt4 && s.marks.integer_syntax) {
    std::int32_t v = 0;
    const int st = cvt_text_to_integer(s.token, s.token_length, kOptIgnoreBlanks, &v);
    std::memcpy(item.addr, &v, sizeof v);  // 0 after a failure
    return st == kCvtOk ? 0 : msg::kInputConversion;
  }
  if (s.marks.integer_syntax || logical_item) {
    CvtRequest req;
    req.width = s.token_length;
    req.edit = s.marks.integer_syntax ? kEditInteger : kEditGeneral;
    CvtDest dest;
    dest.addr = item.addr;
    dest.length = width;
    dest.type = item.type;
    return for__cvt_value(req, s.token, s.token_length, dest);
  }
  // Point or exponent: through a double, truncated, low bytes kept.
  double d = 0.0;
  const int st = cvt_text_to_ieee_t(s.token, s.token_length, 0, 0, kOptBlanksAreZeros, &d);
  if (st != kCvtOk) {
    store_integer(item.addr, width, 0);
    return msg::kInputConversion;
  }
  store_integer(item.addr, width, truncate_to_int64_indefinite(d));
  return 0;
}

// Left-justified, cut or blank-padded to the item's length.
msg::Id assign_character(const ListScanState& s, const Item& item) {
  if (!s.marks.character) return msg::kListSyntax;
  const std::int32_t len = item.length;
  const std::int32_t n = s.token_length < len ? s.token_length : len;
  char* const out = static_cast<char*>(item.addr);
  if (n > 0) std::memmove(out, s.token, static_cast<std::size_t>(n));
  if (len > n) std::memset(out + n, ' ', static_cast<std::size_t>(len - n));
  return 0;
}

msg::Id assign(ListScanState& s, const Item& item) {
  if (s.marks.null) return 0;
  if (item.addr == nullptr) return msg::kArgumentError;
  switch (item.type) {
    case kTypeReal4:
    case kTypeReal8:
      return assign_real(s, item);
    case kTypeInt1:
    case kTypeInt2:
    case kTypeInt4:
    case kTypeInt8:
    case kTypeLogical1:
    case kTypeLogical2:
    case kTypeLogical4:
    case kTypeLogical8:
      return assign_integer(s, item);
    case kTypeChar:
      return assign_character(s, item);
    default:
      return msg::kFormatMismatch;
  }
}

// The short path of a 4-byte real item in a padded record (a field value):
// blanks, a number of the common shape (the scan's straight path) ended by a
// separator, and a value the fast path decides. True when it stored the
// value; false when it changed nothing, and the general steps (which would
// store the same value) take the item. Inlined into list_read_real4, which
// hands everything else to the general steps out of line.
[[gnu::always_inline]] inline bool read_plain_real(ListScanState& s, float* dest) {
  const char* const record = s.record;
  const char* p = record + s.pos;
  // Blanks, eight at a time: the first byte that is not a blank ends them
  // (the NUL bytes after the record at the latest).
  for (;;) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    w ^= 0x2020202020202020u;
    if (w != 0) {
      p += static_cast<unsigned>(std::countr_zero(w)) / 8;
      break;
    }
    p += 8;
  }
  ParsedDecimal n;
  float f;
  // 1 <= count <= 19 (short_form: no huge exponent on this path).
  if (!scan_straight(p, &n) ||
      static_cast<std::uint32_t>(n.count - 1) >= std::uint32_t{kExactMantissaDigits} ||
      !((cls(*n.end) & kValueEnd) || n.end == record + s.record_length) ||
      !fast_single(n.digits, n.exponent, n.negative, &f))
    return false;
  s.pos = static_cast<std::int32_t>(n.end - record);
  std::memcpy(dest, &f, sizeof f);
  return true;
}

// Steps 2 to 5 of an item: the pending repeated value, or a fresh scan, then
// the assignment.
msg::Id read_value_steps(ListScanState& s, const Item& item) {
  if (s.repeat > 0) {
    --s.repeat;
  } else {
    s.marks = ListMarks{};
    const bool char_item = item.type == kTypeChar && s.undelimited_allowed;
    msg::Id rc = scan_value(s, item.type, char_item, true);
    if (rc == 0 && s.marks.numeric && !s.plain_number && s.token[s.token_length - 1] == '*') {
      rc = apply_repeat(s, item.type);
    }
    if (rc != 0) return fail(s, rc);
    if (s.marks.slash) return 0;
  }
  const msg::Id rc = assign(s, item);
  return rc != 0 ? fail(s, rc) : 0;
}

// An item the general way; out of line, so that the short path stays small.
[[gnu::noinline]] msg::Id read_value(ListScanState& s, const Item& item) {
  const msg::Id rc = read_value_steps(s, item);
  s.short_path = s.padded && s.status == 0 && !s.marks.slash && s.repeat <= 0;
  return rc;
}

// Everything but the short path of a 4-byte real item.
[[gnu::noinline]] msg::Id read_real4_general(ListScanState& s, float* dest) {
  if (s.status != 0) return s.status;
  if (s.marks.slash) return 0;
  Item item;
  item.type = kTypeReal4;
  item.mode = kPassSizeAddr;
  item.addr = dest;
  item.length = 4;
  return read_value(s, item);
}

}  // namespace

msg::Id list_read_real4(ListScanState& s, float* dest) {
  if (s.short_path && read_plain_real(s, dest)) [[likely]]
    return 0;
  return read_real4_general(s, dest);
}

msg::Id list_read_item(ListScanState& s, const Item& item) {
  if (item.type == kTypeReal4 && item.addr != nullptr)
    return list_read_real4(s, static_cast<float*>(item.addr));
  if (s.status != 0) return s.status;
  if (s.marks.slash) return 0;
  return read_value(s, item);
}

}  // namespace recio
