// Foreign unformatted data conversion: the floating-point format routines, the
// CONVERT / FORT_CONVERTn selections and the per-value output conversion.
//
// Every routine goes through one exact intermediate form: a finite non-zero
// value is 0.mant x 2^exp with the top bit of the 64-bit mant set. No source
// format carries more than 56 significant bits, so unpacking is always exact
// and each packer rounds once, to its own precision.
#include "recio/foreign.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "platform/platform.h"
#include "recio/descriptor.h"
#include "recio/unit.h"

namespace recio {
namespace {

enum class Kind : std::uint8_t { kZero, kFinite, kInf, kNaN };
enum class Tie : std::uint8_t { kEven, kAway };

struct Value {
  bool neg = false;
  Kind kind = Kind::kZero;
  std::uint64_t mant = 0;  // finite: bit 63 set
  int exp = 0;
};

constexpr std::uint64_t kTop = std::uint64_t{1} << 63;

// m x 2^k, m != 0.
Value from_int(bool neg, std::uint64_t m, int k) {
  const int s = std::countl_zero(m);
  return Value{neg, Kind::kFinite, m << s, k + 64 - s};
}

// m / 2^sh rounded to an integer, 0 < sh.
std::uint64_t shift_round(std::uint64_t m, int sh, Tie tie) {
  if (sh > 64) return 0;
  const std::uint64_t kept = sh == 64 ? 0 : m >> sh;
  const std::uint64_t rest = sh == 64 ? m : m & ((std::uint64_t{1} << sh) - 1);
  const std::uint64_t half = std::uint64_t{1} << (sh - 1);
  const bool up = rest > half || (rest == half && (tie == Tie::kAway || (kept & 1) != 0));
  return kept + (up ? 1 : 0);
}

// Keeps the top `bits` (1..64) bits of the mantissa; a carry out of the top
// becomes the next power of two.
void round_to(Value* v, int bits, Tie tie) {
  if (bits >= 64) return;
  std::uint64_t kept = shift_round(v->mant, 64 - bits, tie);
  if ((kept >> bits) != 0) {
    kept >>= 1;
    ++v->exp;
  }
  v->mant = kept << (64 - bits);
}

std::uint64_t mask(int bits) {
  return bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
}

// A binary floating-point format: sign, biased exponent, fraction.
struct FloatLayout {
  int frac_bits;
  int exp_bits;
  int bias;
};

// ---- IEEE ----

constexpr FloatLayout kSingle{23, 8, 127};
constexpr FloatLayout kDouble{52, 11, 1023};

Value unpack_ieee(std::uint64_t bits, const FloatLayout& f) {
  const bool neg = ((bits >> (f.frac_bits + f.exp_bits)) & 1) != 0;
  const int e = static_cast<int>((bits >> f.frac_bits) & mask(f.exp_bits));
  const std::uint64_t frac = bits & mask(f.frac_bits);
  if (e == static_cast<int>(mask(f.exp_bits)))
    return Value{neg, frac == 0 ? Kind::kInf : Kind::kNaN, 0, 0};
  if (e == 0) {
    if (frac == 0) return Value{neg, Kind::kZero, 0, 0};
    return from_int(neg, frac, 1 - f.bias - f.frac_bits);
  }
  return from_int(neg, frac | (std::uint64_t{1} << f.frac_bits), e - f.bias - f.frac_bits);
}

int pack_ieee(Value v, const FloatLayout& f, std::uint64_t* out) {
  const std::uint64_t sign = static_cast<std::uint64_t>(v.neg) << (f.frac_bits + f.exp_bits);
  const std::uint64_t inf = mask(f.exp_bits) << f.frac_bits;
  switch (v.kind) {
    case Kind::kZero:
      *out = sign;
      return kForeignOk;
    case Kind::kInf:
      *out = sign | inf;
      return kForeignOk;
    case Kind::kNaN:
      *out = inf | (std::uint64_t{1} << (f.frac_bits - 1));
      return kForeignInvalid;
    case Kind::kFinite:
      break;
  }
  if (v.exp + f.bias - 1 < 1) {
    // Subnormal: the fraction counts units of 2^(1 - bias - frac_bits); a carry
    // into the exponent field makes the smallest normal, as it should.
    const int sh = 65 - f.bias - f.frac_bits - v.exp;
    *out = sign | shift_round(v.mant, sh, Tie::kEven);
    return kForeignOk;
  }
  round_to(&v, f.frac_bits + 1, Tie::kEven);
  const int e = v.exp + f.bias - 1;
  if (e >= static_cast<int>(mask(f.exp_bits))) {
    *out = sign | inf;
    return kForeignOverflow;
  }
  *out = sign | (static_cast<std::uint64_t>(e) << f.frac_bits) |
         ((v.mant >> (63 - f.frac_bits)) & mask(f.frac_bits));
  return kForeignOk;
}

// ---- TYR ----

constexpr FloatLayout kTyrF{23, 8, 128};
constexpr FloatLayout kTyrD{55, 8, 128};
constexpr FloatLayout kTyrG{52, 11, 1024};

Value unpack_tyr(std::uint64_t bits, const FloatLayout& f, int* status) {
  const bool neg = ((bits >> (f.frac_bits + f.exp_bits)) & 1) != 0;
  const int e = static_cast<int>((bits >> f.frac_bits) & mask(f.exp_bits));
  if (e == 0) {
    if (!neg) return Value{};
    *status = kForeignInvalid;  // reserved operand
    return Value{false, Kind::kNaN, 0, 0};
  }
  const std::uint64_t frac = bits & mask(f.frac_bits);
  return Value{neg, Kind::kFinite, kTop | (frac << (63 - f.frac_bits)), e - f.bias};
}

// Zero, infinity and NaN in a format that has neither infinity nor NaN:
// zero packs as 0 (never with its sign, which some formats reserve), the
// others as `invalid`, an invalid operation. False for a finite value, which
// the caller packs.
bool pack_without_specials(Kind kind, std::uint64_t invalid, std::uint64_t* out, int* status) {
  if (kind == Kind::kFinite) return false;
  *out = kind == Kind::kZero ? 0 : invalid;
  *status = kind == Kind::kZero ? kForeignOk : kForeignInvalid;
  return true;
}

int pack_tyr(Value v, const FloatLayout& f, std::uint64_t* out) {
  const int sign_pos = f.frac_bits + f.exp_bits;
  const std::uint64_t reserved = std::uint64_t{1} << sign_pos;
  if (int status = 0; pack_without_specials(v.kind, reserved, out, &status)) return status;
  round_to(&v, f.frac_bits + 1, Tie::kAway);
  const int e = v.exp + f.bias;
  if (e > static_cast<int>(mask(f.exp_bits))) {
    *out = reserved;
    return kForeignOverflow;
  }
  if (e < 1) {
    *out = 0;
    return kForeignOk;
  }
  *out = (static_cast<std::uint64_t>(v.neg) << sign_pos) |
         (static_cast<std::uint64_t>(e) << f.frac_bits) | ((v.mant << 1) >> (64 - f.frac_bits));
  return kForeignOk;
}

// 16-bit pieces, most significant first, each least significant byte first.
void store_pieces(std::uint64_t bits, int bytes, unsigned char* dst) {
  for (int i = 0; i < bytes / 2; ++i) {
    const auto piece = static_cast<std::uint16_t>(bits >> (bytes * 8 - 16 * (i + 1)));
    dst[2 * i] = static_cast<unsigned char>(piece & 0xFF);
    dst[2 * i + 1] = static_cast<unsigned char>(piece >> 8);
  }
}

std::uint64_t load_pieces(const unsigned char* src, int bytes) {
  std::uint64_t bits = 0;
  for (int i = 0; i < bytes / 2; ++i) bits = (bits << 16) | src[2 * i] | (src[2 * i + 1] << 8);
  return bits;
}

// ---- IBM hexadecimal ----

Value unpack_ibm(std::uint64_t bits, int frac_bits) {
  const bool neg = ((bits >> (frac_bits + 7)) & 1) != 0;
  const int c = static_cast<int>((bits >> frac_bits) & 0x7F);
  const std::uint64_t frac = bits & mask(frac_bits);
  if (frac == 0) return Value{neg, Kind::kZero, 0, 0};
  return from_int(neg, frac, 4 * (c - 64) - frac_bits);
}

int pack_ibm(Value v, int frac_bits, std::uint64_t* out) {
  const std::uint64_t sign = static_cast<std::uint64_t>(v.neg) << (frac_bits + 7);
  const std::uint64_t largest = sign | mask(frac_bits + 7);
  if (int status = 0; pack_without_specials(v.kind, largest, out, &status)) return status;
  // 16^(q-1) <= value < 16^q; the leading hex digit holds 4 - shift bits.
  int q = (v.exp + 3) >> 2;
  round_to(&v, frac_bits - (4 * q - v.exp), Tie::kAway);
  q = (v.exp + 3) >> 2;  // a carry gives a power of two, exact at any shift
  const int shift = 4 * q - v.exp;
  const int c = q + 64;
  if (c > 127) {
    *out = largest;
    return kForeignOverflow;
  }
  if (c < 0) {
    *out = 0;
    return kForeignOk;
  }
  *out = sign | (static_cast<std::uint64_t>(c) << frac_bits) | (v.mant >> (64 - frac_bits + shift));
  return kForeignOk;
}

// ---- Cray ----

constexpr int kCrayBias = 040000;
constexpr int kCrayMinExp = 020000;  // below: underflow
constexpr int kCrayMaxExp = 057777;  // above: overflow
constexpr std::uint64_t kCrayOutOfRange = (std::uint64_t{060000} << 48) | (std::uint64_t{1} << 47);

Value unpack_cray(std::uint64_t bits) {
  const bool neg = (bits >> 63) != 0;
  const int e = static_cast<int>((bits >> 48) & 0x7FFF);
  const std::uint64_t coef = bits & mask(48);
  if (coef == 0) return Value{neg, Kind::kZero, 0, 0};
  return from_int(neg, coef, e - kCrayBias - 48);
}

int pack_cray(Value v, std::uint64_t* out) {
  const std::uint64_t sign = static_cast<std::uint64_t>(v.neg) << 63;
  if (int status = 0; pack_without_specials(v.kind, sign | kCrayOutOfRange, out, &status))
    return status;
  round_to(&v, 48, Tie::kAway);
  const int e = v.exp + kCrayBias;
  if (e > kCrayMaxExp) {
    *out = sign | kCrayOutOfRange;
    return kForeignOverflow;
  }
  if (e < kCrayMinExp) {
    *out = 0;
    return kForeignOk;
  }
  *out = sign | (static_cast<std::uint64_t>(e) << 48) | (v.mant >> 16);
  return kForeignOk;
}

// ---- byte access ----

std::uint64_t load_host(const void* src, int bytes) {
  if (bytes == 4) {
    std::uint32_t w;
    std::memcpy(&w, src, 4);
    return w;
  }
  std::uint64_t w;
  std::memcpy(&w, src, 8);
  return w;
}

void store_host(std::uint64_t bits, int bytes, void* dst) {
  if (bytes == 4) {
    const auto w = static_cast<std::uint32_t>(bits);
    std::memcpy(dst, &w, 4);
  } else {
    std::memcpy(dst, &bits, 8);
  }
}

std::uint64_t load_big(const void* src, int bytes) {
  const auto* p = static_cast<const unsigned char*>(src);
  std::uint64_t bits = 0;
  for (int i = 0; i < bytes; ++i) bits = (bits << 8) | p[i];
  return bits;
}

void store_big(std::uint64_t bits, int bytes, void* dst) {
  auto* p = static_cast<unsigned char*>(dst);
  for (int i = bytes - 1; i >= 0; --i, bits >>= 8) p[i] = static_cast<unsigned char>(bits);
}

Value load_ieee(const void* src, const FloatLayout& f) {
  const int bytes = f.exp_bits == 8 ? 4 : 8;
  return unpack_ieee(load_host(src, bytes), f);
}

int store_ieee(const Value& v, const FloatLayout& f, void* dst) {
  std::uint64_t bits = 0;
  const int status = pack_ieee(v, f, &bits);
  store_host(bits, f.exp_bits == 8 ? 4 : 8, dst);
  return status;
}

int ieee_to_tyr(const void* src, const FloatLayout& from, const FloatLayout& to, void* dst) {
  std::uint64_t bits = 0;
  const int status = pack_tyr(load_ieee(src, from), to, &bits);
  store_pieces(bits, to.frac_bits == 23 ? 4 : 8, static_cast<unsigned char*>(dst));
  return status;
}

int tyr_to_ieee(const void* src, const FloatLayout& from, const FloatLayout& to, void* dst) {
  int status = kForeignOk;
  const std::uint64_t bits =
      load_pieces(static_cast<const unsigned char*>(src), from.frac_bits == 23 ? 4 : 8);
  const Value v = unpack_tyr(bits, from, &status);
  const int packed = store_ieee(v, to, dst);
  return status != kForeignOk ? status : packed;
}

int ieee_to_ibm(const void* src, const FloatLayout& from, int frac_bits, void* dst) {
  std::uint64_t bits = 0;
  const int status = pack_ibm(load_ieee(src, from), frac_bits, &bits);
  store_big(bits, frac_bits == 24 ? 4 : 8, dst);
  return status;
}

int ieee_to_cray(const void* src, const FloatLayout& from, void* dst) {
  std::uint64_t bits = 0;
  const int status = pack_cray(load_ieee(src, from), &bits);
  store_big(bits, 8, dst);
  return status;
}

// TYR H: 15-bit exponent and 112-bit fraction; every double fits exactly, so
// only the top 63 fraction bits can be non-zero.
int ieee_double_to_tyr_h(const void* src, void* dst) {
  const Value v = load_ieee(src, kDouble);
  auto* out = static_cast<unsigned char*>(dst);
  std::memset(out, 0, 16);
  switch (v.kind) {
    case Kind::kZero:
      return kForeignOk;
    case Kind::kInf:
    case Kind::kNaN:
      out[1] = 0x80;  // reserved operand
      return kForeignInvalid;
    case Kind::kFinite:
      break;
  }
  const auto head = static_cast<std::uint64_t>((v.neg ? 0x8000 : 0) | (v.exp + 16384));
  store_pieces(head, 2, out);
  store_pieces(v.mant << 1, 8, out + 2);
  return kForeignOk;
}

}  // namespace

// ---- the routines: (plain name, upper-case name, conversion) ----

#define RECIO_FOREIGN_ROUTINES(X)                                                                 \
  X(cvt_ieee_single_to_tyr_f, CVT_IEEE_SINGLE_TO_TYR_F, ieee_to_tyr(src, kSingle, kTyrF, dst))    \
  X(cvt_ieee_double_to_tyr_d, CVT_IEEE_DOUBLE_TO_TYR_D, ieee_to_tyr(src, kDouble, kTyrD, dst))    \
  X(cvt_ieee_double_to_tyr_g, CVT_IEEE_DOUBLE_TO_TYR_G, ieee_to_tyr(src, kDouble, kTyrG, dst))    \
  X(cvt_ieee_double_to_tyr_h, CVT_IEEE_DOUBLE_TO_TYR_H, ieee_double_to_tyr_h(src, dst))           \
  X(cvt_ieee_single_to_ibm_short, CVT_IEEE_SINGLE_TO_IBM_SHORT,                                   \
    ieee_to_ibm(src, kSingle, 24, dst))                                                           \
  X(cvt_ieee_double_to_ibm_long, CVT_IEEE_DOUBLE_TO_IBM_LONG, ieee_to_ibm(src, kDouble, 56, dst)) \
  X(cvt_ieee_double_to_cray, CVT_IEEE_DOUBLE_TO_CRAY, ieee_to_cray(src, kDouble, dst))            \
  X(cvt_ieee_single_to_cray, CVT_IEEE_SINGLE_TO_CRAY, ieee_to_cray(src, kSingle, dst))            \
  X(cvt_tyr_f_to_ieee_single, CVT_TYR_F_TO_IEEE_SINGLE, tyr_to_ieee(src, kTyrF, kSingle, dst))    \
  X(cvt_tyr_d_to_ieee_double, CVT_TYR_D_TO_IEEE_DOUBLE, tyr_to_ieee(src, kTyrD, kDouble, dst))    \
  X(cvt_tyr_g_to_ieee_double, CVT_TYR_G_TO_IEEE_DOUBLE, tyr_to_ieee(src, kTyrG, kDouble, dst))    \
  X(cvt_ibm_short_to_ieee_single, CVT_IBM_SHORT_TO_IEEE_SINGLE,                                   \
    store_ieee(unpack_ibm(load_big(src, 4), 24), kSingle, dst))                                   \
  X(cvt_ibm_long_to_ieee_double, CVT_IBM_LONG_TO_IEEE_DOUBLE,                                     \
    store_ieee(unpack_ibm(load_big(src, 8), 56), kDouble, dst))                                   \
  X(cvt_cray_to_ieee_double, CVT_CRAY_TO_IEEE_DOUBLE,                                             \
    store_ieee(unpack_cray(load_big(src, 8)), kDouble, dst))                                      \
  X(cvt_cray_to_ieee_single, CVT_CRAY_TO_IEEE_SINGLE,                                             \
    store_ieee(unpack_cray(load_big(src, 8)), kSingle, dst))

// Each routine's three entries; only the plain one checks the option word.
#define RECIO_FOREIGN_ENTRIES(plain, upper, conversion)                        \
  int plain(const void* src, std::uint32_t options, void* dst) {               \
    if (options != kForeignRoundNearest) return kForeignBadOption;             \
    return conversion;                                                         \
  }                                                                            \
  int upper(const void* src, const std::uint32_t* options, void* dst) {        \
    return options == nullptr ? kForeignBadOption : plain(src, *options, dst); \
  }                                                                            \
  int plain##_(const void* src, const std::uint32_t* options, void* dst) {     \
    return upper(src, options, dst);                                           \
  }

RECIO_FOREIGN_ROUTINES(RECIO_FOREIGN_ENTRIES)

#undef RECIO_FOREIGN_ENTRIES
#undef RECIO_FOREIGN_ROUTINES

// ---- selection ----

msg::Id for__apply_foreign_selection(UnitBlock* u, int keyword_code, bool from_environment) {
  if (from_environment) {
    u->connection.foreign_code = kForeignIeee;
    u->connection.big_endian = false;
    u->connection.convert = true;
  }
  if (keyword_code == 0) keyword_code = 9;  // NATIVE
  if (keyword_code < 1 || keyword_code > static_cast<int>(std::size(kForeignSelections)))
    return msg::kInconsistentOpen;
  const ForeignSelection& s = kForeignSelections[keyword_code - 1];
  u->connection.convert = s.convert;
  if (s.big_endian != MarkEffect::kUnchanged)
    u->connection.big_endian = s.big_endian == MarkEffect::kOn;
  if (s.format_code >= 0) u->connection.foreign_code = static_cast<std::uint8_t>(s.format_code);
  return 0;
}

msg::Id for__apply_foreign_env(UnitBlock* u) {
  char name[32];
  std::snprintf(name, sizeof name, "FORT_CONVERT%d", static_cast<int>(u->unit));
  const char* env = plat::get_env(name);
  if (env == nullptr) return 0;
  u->connection.foreign_code = kForeignIeee;
  u->connection.big_endian = false;
  u->connection.convert = true;
  // At most 20 characters take part; a longer value can equal no selection.
  char upper[21];
  std::size_t n = 0;
  for (; n < 20 && env[n] != '\0'; ++n) {
    const char c = env[n];
    upper[n] = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  }
  upper[n] = '\0';
  for (const ForeignSelection& s : kForeignSelections) {
    if (std::strcmp(upper, s.value) == 0)
      return for__apply_foreign_selection(u, s.keyword_code, true);
  }
  return msg::kInconsistentOpen;
}

// ---- per-value output ----

namespace {

using Routine = int (*)(const void*, std::uint32_t, void*);

// The routines of each format code, by direction and by real of 4 or 8
// bytes; null: moved as it is.
struct FormatRoutines {
  Routine write[2];
  Routine read[2];
};

constexpr FormatRoutines kRoutines[] = {
    {{nullptr, nullptr}, {nullptr, nullptr}},  // IEEE
    {{cvt_ieee_single_to_tyr_f, cvt_ieee_double_to_tyr_g},
     {cvt_tyr_f_to_ieee_single, cvt_tyr_g_to_ieee_double}},  // TYRG
    {{cvt_ieee_single_to_tyr_f, cvt_ieee_double_to_tyr_d},
     {cvt_tyr_f_to_ieee_single, cvt_tyr_d_to_ieee_double}},  // TYRD
    {{cvt_ieee_single_to_ibm_short, cvt_ieee_double_to_ibm_long},
     {cvt_ibm_short_to_ieee_single, cvt_ibm_long_to_ieee_double}},             // IBM
    {{nullptr, cvt_ieee_double_to_cray}, {nullptr, cvt_cray_to_ieee_double}},  // Cray
    {{cvt_ieee_single_to_tyr_f, cvt_ieee_double_to_tyr_d},
     {cvt_tyr_f_to_ieee_single, cvt_tyr_d_to_ieee_double}},  // FDX
    {{cvt_ieee_single_to_tyr_f, cvt_ieee_double_to_tyr_g},
     {cvt_tyr_f_to_ieee_single, cvt_tyr_g_to_ieee_double}},  // FGX
};

enum class Way : std::uint8_t { kRead, kWrite };

// The routine of a format code for a real of `size` bytes; null for any
// other size or an unknown code.
Routine routine_for(Way way, std::uint8_t code, std::int32_t size) {
  if (code >= std::size(kRoutines) || (size != 4 && size != 8)) return nullptr;
  const FormatRoutines& r = kRoutines[code];
  return (way == Way::kWrite ? r.write : r.read)[size == 8 ? 1 : 0];
}

enum class ItemClass : std::uint8_t { kText, kInteger, kReal, kOther };

ItemClass classify(std::uint8_t type) {
  switch (type) {
    case kTypeChar:
      return ItemClass::kText;
    case kTypeLogical1:
    case kTypeLogical2:
    case kTypeLogical4:
    case kTypeLogical8:
    case kTypeInt1:
    case kTypeInt2:
    case kTypeInt4:
    case kTypeInt8:
      return ItemClass::kInteger;
    case kTypeReal4:
    case kTypeReal8:
      return ItemClass::kReal;
    default:
      return ItemClass::kOther;
  }
}

// The class of an item of `byte_length` bytes; false when the length does
// not fit the item (a number of another size than its type's, or more than
// the 16 bytes of any item).
bool classify_item(std::uint8_t type_code, std::int32_t byte_length, ItemClass* cls) {
  if (byte_length < 0 || byte_length > 16) return false;
  *cls = classify(type_code);
  return (*cls != ItemClass::kInteger && *cls != ItemClass::kReal) ||
         byte_length == type_size(type_code);
}

}  // namespace

msg::Id for__cvt_foreign_write(const void* item, std::int32_t byte_length, std::uint8_t type_code,
                               const UnitBlock& u, unsigned char* scratch) {
  ItemClass cls{};
  if (!classify_item(type_code, byte_length, &cls)) return msg::kArgumentError;
  const auto n = static_cast<std::size_t>(byte_length);
  if (!u.connection.convert || cls == ItemClass::kText) {
    std::memcpy(scratch, item, n);
    return 0;
  }
  switch (cls) {
    case ItemClass::kInteger:
      std::memcpy(scratch, item, n);
      if (u.connection.big_endian) std::reverse(scratch, scratch + n);
      return 0;
    case ItemClass::kReal: {
      msg::Id id = 0;
      if (Routine r = routine_for(Way::kWrite, u.connection.foreign_code, byte_length)) {
        if (r(item, kForeignRoundNearest, scratch) != kForeignOk) id = msg::kForeignConversion;
      } else {
        std::memcpy(scratch, item, n);
      }
      if (u.connection.big_endian && u.connection.foreign_code == kForeignIeee)
        std::reverse(scratch, scratch + n);
      return id;
    }
    default:
      std::memcpy(scratch, item, n);
      return msg::kForeignConversion;
  }
}

msg::Id for__cvt_foreign_read(const void* raw, std::int32_t byte_length, std::uint8_t type_code,
                              const UnitBlock& u, void* dst) {
  ItemClass cls{};
  if (!classify_item(type_code, byte_length, &cls)) return msg::kArgumentError;
  const auto n = static_cast<std::size_t>(byte_length);
  unsigned char value[16];
  std::memcpy(value, raw, n);
  if (!u.connection.convert || cls == ItemClass::kText) {
    std::memcpy(dst, value, n);
    return 0;
  }
  switch (cls) {
    case ItemClass::kInteger:
      if (u.connection.big_endian) std::reverse(value, value + n);
      std::memcpy(dst, value, n);
      return 0;
    case ItemClass::kReal: {
      // The write side's steps backwards: order first, then the format.
      if (u.connection.big_endian && u.connection.foreign_code == kForeignIeee)
        std::reverse(value, value + n);
      if (Routine r = routine_for(Way::kRead, u.connection.foreign_code, byte_length)) {
        return r(value, kForeignRoundNearest, dst) == kForeignOk ? 0 : msg::kForeignConversion;
      }
      std::memcpy(dst, value, n);
      return 0;
    }
    default:
      std::memcpy(dst, value, n);
      return msg::kForeignConversion;
  }
}

bool for__cvt_foreign_check(std::uint8_t type_code, const UnitBlock& u) {
  if (!u.connection.convert) return true;
  switch (classify(type_code)) {
    case ItemClass::kInteger:
      return !u.connection.big_endian || type_size(type_code) == 1;
    case ItemClass::kReal:
      return routine_for(Way::kWrite, u.connection.foreign_code, type_size(type_code)) == nullptr &&
             !(u.connection.big_endian && u.connection.foreign_code == kForeignIeee);
    default:
      return true;
  }
}

}  // namespace recio
