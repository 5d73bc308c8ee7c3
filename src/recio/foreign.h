// Foreign unformatted data: values stored in another machine's representation.
//
// A unit carries three settings (UnitConnection::convert, big_endian, foreign_code)
// chosen once at OPEN from the CONVERT keyword and FORT_CONVERTn. Output then
// replaces every non-text value by its foreign form: integers and logicals are
// byte-reversed under the big-endian mark, reals go through the routine for
// (format code, size), and texts are never touched.
//
// Format codes: 0 IEEE, 1 TYRG, 2 TYRD, 3 IBM, 4 Cray, 5 FDX, 6 FGX.
// FDX and FGX name the representation of each real size: F for 4-byte reals,
// D (FDX) or G (FGX) for 8-byte reals, and an IEEE little-endian X for 16-byte
// reals, which no item type here has. So for the values this system moves FDX
// converts like TYRD and FGX like TYRG, and integers follow the big-endian mark
// as they do for TYRD and TYRG.
//
// Foreign layouts, as one integer from the most significant bit:
//   TYR F  sign 1, exponent 8 (bias 128), fraction 23        4 bytes
//   TYR D  sign 1, exponent 8 (bias 128), fraction 55        8 bytes
//   TYR G  sign 1, exponent 11 (bias 1024), fraction 52      8 bytes
//   TYR H  sign 1, exponent 15 (bias 16384), fraction 112    16 bytes
//     value 0.1fff x 2^(exponent - bias): the hidden 1 stands before the binary
//     point, so the exponent field is the IEEE field + 2 for the same value;
//     exponent 0 with sign clear is zero, with sign set the reserved operand.
//     Stored in 16-bit pieces, most significant piece first, each piece least
//     significant byte first (1.0 as TYR F: 80 40 00 00).
//   IBM short/long  sign 1, exponent 7 (base 16, excess 64), fraction 24/56;
//     value 0.ffffff(hex) x 16^(exponent - 64); most significant byte first.
//   Cray  sign 1, exponent 15 (bias 040000 octal), coefficient 48 with explicit
//     leading bit; value 0.coef x 2^(exponent - 040000); most significant byte
//     first. Exponents outside 020000..057777 are out of the machine's range.
//
// Conversion routines. Each has three entries: the plain name takes the option
// word by value, the upper-case name and the name with a trailing underscore
// take it by address (a null address is an invalid option). Only option word 0
// (round to nearest) is defined; any other leaves the destination untouched
// and returns kForeignBadOption. Status 1 is success; on any other status the
// destination still holds the routine's result as described here.
//
// Rounding: to nearest; halfway cases away from zero when the destination is a
// foreign format, to even when it is IEEE. IEEE to TYR F, D, G, H and IEEE
// double to IBM long never round (every value fits their precision), IEEE
// single to IBM short loses up to 3 bits, double to Cray 5 bits.
//
// Special values, IEEE to foreign:
//   +0 and -0         all zero bytes (the canonical zero of every format; a
//                     TYR zero with the sign set would be the reserved operand)
//   NaN, +-infinity   TYR: reserved operand (sign set, exponent 0, fraction 0);
//                     IBM: largest magnitude with the sign (7F FF.. / FF FF..);
//                     Cray: sign, exponent 060000, coefficient 1000..; status
//                     kForeignInvalid
//   too large         same patterns as infinity, status kForeignOverflow (only
//                     TYR F/D/G and IBM long can overflow)
//   too small         zero, status 1; subnormals that the format can hold (TYR
//                     F/G from 2^-128 / 2^-1024 up) keep their value
// Foreign to IEEE:
//   zero              signed zero (TYR: +0; a TYR exponent 0 with sign clear is
//                     zero whatever the fraction)
//   reserved operand  quiet NaN, status kForeignInvalid
//   too large         infinity with the sign, status kForeignOverflow
//   too small         IEEE subnormal or zero, status 1
//   unnormalized      IBM and Cray fractions without a leading digit or bit are
//                     read by their value
#pragma once

#include <cstdint>

#include "rt/messages.h"

namespace recio {

struct UnitBlock;

// Routine statuses.
enum ForeignStatus : int {
  kForeignOk = 1,
  kForeignInvalid = 2,   // NaN, infinity, reserved operand
  kForeignOverflow = 3,  // magnitude beyond the destination's range
  kForeignBadOption = 4,
};

// Option words.
inline constexpr std::uint32_t kForeignRoundNearest = 0;

// Foreign format codes (UnitConnection::foreign_code).
enum ForeignCode : std::uint8_t {
  kForeignIeee = 0,
  kForeignTyrG = 1,
  kForeignTyrD = 2,
  kForeignIbm = 3,
  kForeignCray = 4,
  kForeignFdx = 5,
  kForeignFgx = 6,
};

// IEEE to foreign. Sources are host-order IEEE values; destinations are 4 bytes
// (TYR F, IBM short), 8 bytes (TYR D, TYR G, IBM long, Cray) or 16 (TYR H).
int cvt_ieee_single_to_tyr_f(const void* src, std::uint32_t options, void* dst);
int CVT_IEEE_SINGLE_TO_TYR_F(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_single_to_tyr_f_(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_double_to_tyr_d(const void* src, std::uint32_t options, void* dst);
int CVT_IEEE_DOUBLE_TO_TYR_D(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_double_to_tyr_d_(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_double_to_tyr_g(const void* src, std::uint32_t options, void* dst);
int CVT_IEEE_DOUBLE_TO_TYR_G(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_double_to_tyr_g_(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_double_to_tyr_h(const void* src, std::uint32_t options, void* dst);
int CVT_IEEE_DOUBLE_TO_TYR_H(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_double_to_tyr_h_(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_single_to_ibm_short(const void* src, std::uint32_t options, void* dst);
int CVT_IEEE_SINGLE_TO_IBM_SHORT(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_single_to_ibm_short_(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_double_to_ibm_long(const void* src, std::uint32_t options, void* dst);
int CVT_IEEE_DOUBLE_TO_IBM_LONG(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_double_to_ibm_long_(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_double_to_cray(const void* src, std::uint32_t options, void* dst);
int CVT_IEEE_DOUBLE_TO_CRAY(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_double_to_cray_(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_single_to_cray(const void* src, std::uint32_t options, void* dst);
int CVT_IEEE_SINGLE_TO_CRAY(const void* src, const std::uint32_t* options, void* dst);
int cvt_ieee_single_to_cray_(const void* src, const std::uint32_t* options, void* dst);

// Foreign to IEEE (host-order results).
int cvt_tyr_f_to_ieee_single(const void* src, std::uint32_t options, void* dst);
int CVT_TYR_F_TO_IEEE_SINGLE(const void* src, const std::uint32_t* options, void* dst);
int cvt_tyr_f_to_ieee_single_(const void* src, const std::uint32_t* options, void* dst);
int cvt_tyr_d_to_ieee_double(const void* src, std::uint32_t options, void* dst);
int CVT_TYR_D_TO_IEEE_DOUBLE(const void* src, const std::uint32_t* options, void* dst);
int cvt_tyr_d_to_ieee_double_(const void* src, const std::uint32_t* options, void* dst);
int cvt_tyr_g_to_ieee_double(const void* src, std::uint32_t options, void* dst);
int CVT_TYR_G_TO_IEEE_DOUBLE(const void* src, const std::uint32_t* options, void* dst);
int cvt_tyr_g_to_ieee_double_(const void* src, const std::uint32_t* options, void* dst);
int cvt_ibm_short_to_ieee_single(const void* src, std::uint32_t options, void* dst);
int CVT_IBM_SHORT_TO_IEEE_SINGLE(const void* src, const std::uint32_t* options, void* dst);
int cvt_ibm_short_to_ieee_single_(const void* src, const std::uint32_t* options, void* dst);
int cvt_ibm_long_to_ieee_double(const void* src, std::uint32_t options, void* dst);
int CVT_IBM_LONG_TO_IEEE_DOUBLE(const void* src, const std::uint32_t* options, void* dst);
int cvt_ibm_long_to_ieee_double_(const void* src, const std::uint32_t* options, void* dst);
int cvt_cray_to_ieee_double(const void* src, std::uint32_t options, void* dst);
int CVT_CRAY_TO_IEEE_DOUBLE(const void* src, const std::uint32_t* options, void* dst);
int cvt_cray_to_ieee_double_(const void* src, const std::uint32_t* options, void* dst);
int cvt_cray_to_ieee_single(const void* src, std::uint32_t options, void* dst);
int CVT_CRAY_TO_IEEE_SINGLE(const void* src, const std::uint32_t* options, void* dst);
int cvt_cray_to_ieee_single_(const void* src, const std::uint32_t* options, void* dst);

// How a selection treats the big-endian mark.
enum class MarkEffect : std::uint8_t { kOff, kOn, kUnchanged };

// One selection of the CONVERT keyword and of FORT_CONVERTn.
struct ForeignSelection {
  const char* value;  // upper-case text
  std::uint8_t keyword_code;
  bool convert;  // conversion mark
  MarkEffect big_endian;
  std::int16_t format_code;  // -1: unchanged
};

// The selections, indexed by keyword code - 1. BIG_ENDIAN means IEEE values
// most significant byte first, so it sets format code 0 through the keyword as
// well, not only after the environment's reset.
inline constexpr ForeignSelection kForeignSelections[] = {
    {"BIG_ENDIAN", 1, true, MarkEffect::kOn, kForeignIeee},
    {"LITTLE_ENDIAN", 2, false, MarkEffect::kOff, kForeignIeee},
    {"TYRD", 3, true, MarkEffect::kUnchanged, kForeignTyrD},
    {"TYRG", 4, true, MarkEffect::kUnchanged, kForeignTyrG},
    {"IBM", 5, true, MarkEffect::kOn, kForeignIbm},
    {"CRAY", 6, true, MarkEffect::kOn, kForeignCray},
    {"FDX", 7, true, MarkEffect::kUnchanged, kForeignFdx},
    {"FGX", 8, true, MarkEffect::kUnchanged, kForeignFgx},
    {"NATIVE", 9, false, MarkEffect::kUnchanged, -1},
};

// Applies the selection with the given keyword code (0 counts as NATIVE).
// From the environment the unit starts reset first: format code 0, big-endian
// mark off, conversion mark on. An unknown code gives msg::kInconsistentOpen
// and leaves the unit as it was (apart from that reset).
msg::Id for__apply_foreign_selection(UnitBlock* u, int keyword_code, bool from_environment);

// Reads FORT_CONVERTn (n = u->unit). Unset: 0, unit untouched. Set: the unit is
// reset as above, then up to 20 characters of the value, upper-cased, must
// equal one selection's text in full (no blanks removed); otherwise, the empty
// value included, msg::kInconsistentOpen.
msg::Id for__apply_foreign_env(UnitBlock* u);

// Writes the output form of one value of the given descriptor type code into
// scratch (at least 16 bytes): byte_length bytes. Returns 0, or
// msg::kForeignConversion when a routine failed or the type has no conversion
// (scratch then holds what is to be written: the routine's result, or the
// value unchanged). A byte length outside 0..16, or one that does not match a
// numeric type, gives msg::kArgumentError with scratch untouched.
msg::Id for__cvt_foreign_write(const void* item, std::int32_t byte_length, std::uint8_t type_code,
                               const UnitBlock& u, unsigned char* scratch);

// The input counterpart: the native form of one value of the given type,
// read as raw bytes from a record, into dst (byte_length bytes): integers
// reversed under the big-endian mark, reals through the reverse routine of
// the unit's format. Returns 0, msg::kForeignConversion when the routine
// failed (dst then holds its result: a NaN for a reserved operand, an
// infinity for an overflow), or msg::kArgumentError as for output.
msg::Id for__cvt_foreign_read(const void* raw, std::int32_t byte_length, std::uint8_t type_code,
                              const UnitBlock& u, void* dst);

// True when items of this type can be moved on this unit without conversion,
// so that a contiguous array may be moved as one block.
bool for__cvt_foreign_check(std::uint8_t type_code, const UnitBlock& u);

}  // namespace recio
