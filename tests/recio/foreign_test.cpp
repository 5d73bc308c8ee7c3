#include "recio/foreign.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "recio/descriptor.h"
#include "recio/unit.h"
#include "support/test_files.h"

// Unconverted items are host bytes; the file formats are defined for a
// little-endian host.
static_assert(std::endian::native == std::endian::little);

namespace {

using recio::UnitBlock;
using Routine = int (*)(const void*, std::uint32_t, void*);

std::string hex(const unsigned char* p, std::size_t n) {
  std::string s;
  char b[4];
  for (std::size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, i == 0 ? "%02X" : " %02X", p[i]);
    s += b;
  }
  return s;
}

std::vector<unsigned char> unhex(const std::string& s) {
  std::vector<unsigned char> out;
  for (std::size_t i = 0; i + 2 <= s.size(); i += 3)
    out.push_back(static_cast<unsigned char>(std::strtoul(s.substr(i, 2).c_str(), nullptr, 16)));
  return out;
}

constexpr float kFltNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kFltInf = std::numeric_limits<float>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
float f32(std::uint32_t bits) {
  return std::bit_cast<float>(bits);
}
double f64(std::uint64_t bits) {
  return std::bit_cast<double>(bits);
}

struct SingleCase {
  Routine fn;
  float in;
  const char* out;
  int status;
};

TEST(ForeignRoutines, SingleToForeign) {
  using namespace recio;
  const SingleCase cases[] = {
      {cvt_ieee_single_to_tyr_f, 1.0f, "80 40 00 00", 1},
      {cvt_ieee_single_to_tyr_f, -1.0f, "80 C0 00 00", 1},
      {cvt_ieee_single_to_tyr_f, 0.5f, "00 40 00 00", 1},
      {cvt_ieee_single_to_tyr_f, 3.0f, "40 41 00 00", 1},
      {cvt_ieee_single_to_tyr_f, f32(0x3F812345), "81 40 45 23", 1},  // piece and byte order
      {cvt_ieee_single_to_tyr_f, f32(0x7EFFFFFF), "FF 7F FF FF", 1},  // largest TYR F
      {cvt_ieee_single_to_tyr_f, f32(0x7F000000), "00 80 00 00", 3},  // 2^127
      {cvt_ieee_single_to_tyr_f, f32(0x7F7FFFFF), "00 80 00 00", 3},  // FLT_MAX
      {cvt_ieee_single_to_tyr_f, kFltInf, "00 80 00 00", 2},
      {cvt_ieee_single_to_tyr_f, kFltNaN, "00 80 00 00", 2},
      {cvt_ieee_single_to_tyr_f, -0.0f, "00 00 00 00", 1},
      {cvt_ieee_single_to_tyr_f, f32(0x00800000), "80 01 00 00", 1},  // smallest normal fits
      {cvt_ieee_single_to_tyr_f, f32(0x00200000), "80 00 00 00", 1},  // 2^-128 fits
      {cvt_ieee_single_to_tyr_f, f32(0x80200000), "80 80 00 00", 1},
      {cvt_ieee_single_to_tyr_f, f32(0x001FFFFF), "00 00 00 00", 1},  // too small: zero
      {cvt_ieee_single_to_tyr_f, f32(0x80000001), "00 00 00 00", 1},  // never the reserved operand
      {cvt_ieee_single_to_ibm_short, 1.0f, "41 10 00 00", 1},
      {cvt_ieee_single_to_ibm_short, -118.625f, "C2 76 A0 00", 1},
      {cvt_ieee_single_to_ibm_short, 0.1f, "40 19 99 9A", 1},
      {cvt_ieee_single_to_ibm_short, f32(0x3FFFFFFF), "41 20 00 00", 1},  // carry to next digit
      {cvt_ieee_single_to_ibm_short, f32(0x3F800004), "41 10 00 01", 1},  // tie: away from zero
      {cvt_ieee_single_to_ibm_short, f32(0xBF800004), "C1 10 00 01", 1},
      {cvt_ieee_single_to_ibm_short, f32(0x7F7FFFFF), "60 FF FF FF", 1},
      {cvt_ieee_single_to_ibm_short, f32(0x00000001), "1B 80 00 00", 1},
      {cvt_ieee_single_to_ibm_short, -0.0f, "00 00 00 00", 1},
      {cvt_ieee_single_to_ibm_short, -kFltInf, "FF FF FF FF", 2},
      {cvt_ieee_single_to_ibm_short, kFltNaN, "7F FF FF FF", 2},
      {cvt_ieee_single_to_cray, 1.0f, "40 01 80 00 00 00 00 00", 1},
      {cvt_ieee_single_to_cray, f32(0x00000001), "3F 6C 80 00 00 00 00 00", 1},
      {cvt_ieee_single_to_cray, -kFltInf, "E0 00 80 00 00 00 00 00", 2},
  };
  for (const SingleCase& c : cases) {
    unsigned char out[8] = {};
    const std::size_t n = (std::strlen(c.out) + 1) / 3;
    EXPECT_EQ(c.fn(&c.in, 0, out), c.status) << c.out;
    EXPECT_EQ(hex(out, n), c.out) << "input bits " << std::hex
                                  << std::bit_cast<std::uint32_t>(c.in);
  }
}

struct DoubleCase {
  Routine fn;
  double in;
  const char* out;
  int status;
};

TEST(ForeignRoutines, DoubleToForeign) {
  using namespace recio;
  const double pi = f64(0x400921FB54442D18);
  const DoubleCase cases[] = {
      {cvt_ieee_double_to_tyr_d, 1.0, "80 40 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_tyr_d, pi, "49 41 DA 0F 21 A2 C0 68", 1},
      {cvt_ieee_double_to_tyr_d, f64(0x47DFFFFFFFFFFFFF), "FF 7F FF FF FF FF F8 FF", 1},
      {cvt_ieee_double_to_tyr_d, 0x1p127, "00 80 00 00 00 00 00 00", 3},
      {cvt_ieee_double_to_tyr_d, 0x1p-128, "80 00 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_tyr_d, 0x1p-129, "00 00 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_tyr_d, kNaN, "00 80 00 00 00 00 00 00", 2},
      {cvt_ieee_double_to_tyr_g, 1.0, "10 40 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_tyr_g, pi, "29 40 FB 21 44 54 18 2D", 1},
      {cvt_ieee_double_to_tyr_g, 0x1p1022, "F0 7F 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_tyr_g, f64(0x7FEFFFFFFFFFFFFF), "00 80 00 00 00 00 00 00", 3},
      {cvt_ieee_double_to_tyr_g, f64(0x0010000000000000), "30 00 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_tyr_g, 0x1p-1024, "10 00 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_ibm_long, 1.0, "41 10 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_ibm_long, 0.1, "40 19 99 99 99 99 99 9A", 1},
      {cvt_ieee_double_to_ibm_long, -118.625, "C2 76 A0 00 00 00 00 00", 1},
      {cvt_ieee_double_to_ibm_long, 0x1.fffffffffffffp251, "7F FF FF FF FF FF FF F8", 1},
      {cvt_ieee_double_to_ibm_long, 0x1p252, "7F FF FF FF FF FF FF FF", 3},
      {cvt_ieee_double_to_ibm_long, -1e76, "FF FF FF FF FF FF FF FF", 3},
      {cvt_ieee_double_to_ibm_long, 0x1p-260, "00 10 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_ibm_long, 1e-80, "00 00 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_cray, 1.0, "40 01 80 00 00 00 00 00", 1},
      {cvt_ieee_double_to_cray, pi, "40 02 C9 0F DA A2 21 69", 1},
      {cvt_ieee_double_to_cray, 1 + 0x1p-48, "40 01 80 00 00 00 00 01", 1},  // tie: away
      {cvt_ieee_double_to_cray, f64(0x7FEFFFFFFFFFFFFF), "44 01 80 00 00 00 00 00", 1},
      {cvt_ieee_double_to_cray, f64(1), "3B CF 80 00 00 00 00 00", 1},
      {cvt_ieee_double_to_cray, -0.0, "00 00 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_cray, kNaN, "60 00 80 00 00 00 00 00", 2},
      {cvt_ieee_double_to_tyr_h, 1.0, "01 40 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_tyr_h, pi, "02 40 1F 92 44 B5 D1 42 00 80 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_tyr_h, -f64(1), "CF BB 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 1},
      {cvt_ieee_double_to_tyr_h, kInf, "00 80 00 00 00 00 00 00 00 00 00 00 00 00 00 00", 2},
  };
  for (const DoubleCase& c : cases) {
    unsigned char out[16] = {};
    const std::size_t n = (std::strlen(c.out) + 1) / 3;
    EXPECT_EQ(c.fn(&c.in, 0, out), c.status) << c.out;
    EXPECT_EQ(hex(out, n), c.out) << "input " << std::hexfloat << c.in;
  }
}

struct ToIeeeCase {
  Routine fn;
  const char* in;
  std::uint64_t out;  // IEEE bits, single or double by the routine
  int status;
};

TEST(ForeignRoutines, ForeignToIeee) {
  using namespace recio;
  const ToIeeeCase singles[] = {
      {cvt_tyr_f_to_ieee_single, "80 40 00 00", 0x3F800000, 1},
      {cvt_tyr_f_to_ieee_single, "81 40 45 23", 0x3F812345, 1},
      {cvt_tyr_f_to_ieee_single, "FF 7F FF FF", 0x7EFFFFFF, 1},
      {cvt_tyr_f_to_ieee_single, "00 80 12 34", 0x7FC00000, 2},  // reserved operand
      {cvt_tyr_f_to_ieee_single, "7F 00 34 12", 0x00000000, 1},  // exponent 0: zero
      {cvt_tyr_f_to_ieee_single, "FF 00 FF FF", 0x00400000, 1},  // subnormal, rounds up
      {cvt_tyr_f_to_ieee_single, "80 00 02 00", 0x00200000, 1},  // tie to even (down)
      {cvt_tyr_f_to_ieee_single, "80 00 06 00", 0x00200002, 1},  // tie to even (up)
      {cvt_ibm_short_to_ieee_single, "41 10 00 00", 0x3F800000, 1},
      {cvt_ibm_short_to_ieee_single, "C2 76 A0 00", 0xC2ED4000, 1},
      {cvt_ibm_short_to_ieee_single, "41 01 00 00", 0x3D800000, 1},  // unnormalized
      {cvt_ibm_short_to_ieee_single, "60 FF FF FF", 0x7F7FFFFF, 1},
      {cvt_ibm_short_to_ieee_single, "61 10 00 00", 0x7F800000, 3},
      {cvt_ibm_short_to_ieee_single, "80 00 00 00", 0x80000000, 1},
      {cvt_ibm_short_to_ieee_single, "00 10 00 00", 0x00000000, 1},
      {cvt_cray_to_ieee_single, "40 02 C9 0F DA A2 21 69", 0x40490FDB, 1},
      {cvt_cray_to_ieee_single, "40 81 80 00 00 00 00 00", 0x7F800000, 3},
  };
  const ToIeeeCase doubles[] = {
      {cvt_tyr_d_to_ieee_double, "49 41 DA 0F 21 A2 C0 68", 0x400921FB54442D18, 1},
      {cvt_tyr_d_to_ieee_double, "80 40 00 00 00 00 04 00", 0x3FF0000000000000, 1},  // tie
      {cvt_tyr_d_to_ieee_double, "80 40 00 00 00 00 0C 00", 0x3FF0000000000002, 1},  // tie
      {cvt_tyr_d_to_ieee_double, "00 80 00 00 00 00 00 00", 0x7FF8000000000000, 2},
      {cvt_tyr_g_to_ieee_double, "29 40 FB 21 44 54 18 2D", 0x400921FB54442D18, 1},
      {cvt_tyr_g_to_ieee_double, "FF 7F FF FF FF FF FF FF", 0x7FDFFFFFFFFFFFFF, 1},
      {cvt_tyr_g_to_ieee_double, "10 00 00 00 00 00 00 00", 0x0004000000000000, 1},
      {cvt_ibm_long_to_ieee_double, "40 19 99 99 99 99 99 9A", 0x3FB999999999999A, 1},
      {cvt_ibm_long_to_ieee_double, "41 FF FF FF FF FF FF FF", 0x4030000000000000, 1},
      {cvt_ibm_long_to_ieee_double, "7F FF FF FF FF FF FF FF", 0x4FB0000000000000, 1},
      {cvt_cray_to_ieee_double, "40 01 80 00 00 00 00 00", 0x3FF0000000000000, 1},
      {cvt_cray_to_ieee_double, "40 02 C9 0F DA A2 21 69", 0x400921FB54442D20, 1},
      {cvt_cray_to_ieee_double, "40 01 00 00 00 00 00 01", 0x3D00000000000000, 1},
      {cvt_cray_to_ieee_double, "E0 00 80 00 00 00 00 00", 0xFFF0000000000000, 3},
      {cvt_cray_to_ieee_double, "80 00 00 00 00 00 00 00", 0x8000000000000000, 1},
      {cvt_cray_to_ieee_double, "3B CF 80 00 00 00 00 00", 0x0000000000000001, 1},
      {cvt_cray_to_ieee_double, "3B CE 80 00 00 00 00 00", 0x0000000000000000, 1},  // tie
  };
  for (const ToIeeeCase& c : singles) {
    std::uint32_t out = 0;
    EXPECT_EQ(c.fn(unhex(c.in).data(), 0, &out), c.status) << c.in;
    EXPECT_EQ(out, c.out) << c.in;
  }
  for (const ToIeeeCase& c : doubles) {
    std::uint64_t out = 0;
    EXPECT_EQ(c.fn(unhex(c.in).data(), 0, &out), c.status) << c.in;
    EXPECT_EQ(out, c.out) << c.in;
  }
}

TEST(ForeignRoutines, OptionWordEntries) {
  using namespace recio;
  const float one = 1.0f;
  const std::uint32_t zero = 0, other = 1;
  unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(cvt_ieee_single_to_tyr_f(&one, other, out), kForeignBadOption);
  EXPECT_EQ(CVT_IEEE_SINGLE_TO_TYR_F(&one, &other, out), kForeignBadOption);
  EXPECT_EQ(cvt_ieee_single_to_tyr_f_(&one, nullptr, out), kForeignBadOption);
  EXPECT_EQ(hex(out, 4), "EE EE EE EE");
  EXPECT_EQ(CVT_IEEE_SINGLE_TO_TYR_F(&one, &zero, out), kForeignOk);
  EXPECT_EQ(hex(out, 4), "80 40 00 00");
  std::memset(out, 0, 4);
  EXPECT_EQ(cvt_ieee_single_to_ibm_short_(&one, &zero, out), kForeignOk);
  EXPECT_EQ(hex(out, 4), "41 10 00 00");
}

// Random bit patterns: every single in the TYR F range comes back unchanged;
// the rest overflow, fail or go to zero as documented.
TEST(ForeignRoundTrip, TyrFSingles) {
  std::mt19937 gen(20240611);
  for (int i = 0; i < 100000; ++i) {
    const std::uint32_t bits = gen();
    const std::uint32_t mag = bits & 0x7FFFFFFF;
    const float x = f32(bits);
    unsigned char tyr[4];
    std::uint32_t back = 0xDEADBEEF;
    const int status = recio::cvt_ieee_single_to_tyr_f(&x, 0, tyr);
    if (mag >= 0x7F800000) {
      EXPECT_EQ(status, recio::kForeignInvalid);
    } else if (mag >= 0x7F000000) {
      EXPECT_EQ(status, recio::kForeignOverflow);
    } else {
      ASSERT_EQ(status, recio::kForeignOk) << std::hex << bits;
      ASSERT_EQ(recio::cvt_tyr_f_to_ieee_single(tyr, 0, &back), recio::kForeignOk);
      EXPECT_EQ(back, mag < 0x00200000 ? 0u : bits) << std::hex << bits;
    }
  }
}

// IBM short keeps 21 to 24 bits: the value read back is the nearest IBM value.
TEST(ForeignRoundTrip, IbmShortSingles) {
  std::mt19937 gen(7);
  for (int i = 0; i < 100000; ++i) {
    const float x = f32(gen());
    if (!std::isfinite(x)) continue;
    unsigned char ibm[4];
    float back = 0;
    ASSERT_EQ(recio::cvt_ieee_single_to_ibm_short(&x, 0, ibm), recio::kForeignOk);
    ASSERT_EQ(recio::cvt_ibm_short_to_ieee_single(ibm, 0, &back), recio::kForeignOk);
    if (x == 0) {
      EXPECT_EQ(back, 0.0f);
      continue;
    }
    const double half_spacing = std::ldexp(1.0, 4 * ((ibm[0] & 0x7F) - 64) - 25);
    EXPECT_LE(std::fabs(double{back} - double{x}), half_spacing) << std::hexfloat << x;
    EXPECT_LE(std::fabs(double{back} - double{x}), std::fabs(double{x}) * 0x1p-21);
    EXPECT_GE(ibm[1], 0x10) << "not normalized: " << std::hexfloat << x;
  }
}

TEST(ForeignRoundTrip, Doubles) {
  std::mt19937_64 gen(99);
  for (int i = 0; i < 100000; ++i) {
    const double x = f64(gen());
    if (!std::isfinite(x)) continue;
    const double mag = std::fabs(x);
    unsigned char buf[8];
    double back = 0;
    if (mag >= 0x1p-128 && mag < 0x1p127) {
      ASSERT_EQ(recio::cvt_ieee_double_to_tyr_d(&x, 0, buf), recio::kForeignOk);
      ASSERT_EQ(recio::cvt_tyr_d_to_ieee_double(buf, 0, &back), recio::kForeignOk);
      EXPECT_EQ(back, x);
    }
    if (mag >= 0x1p-1024 && mag < 0x1p1023) {
      ASSERT_EQ(recio::cvt_ieee_double_to_tyr_g(&x, 0, buf), recio::kForeignOk);
      ASSERT_EQ(recio::cvt_tyr_g_to_ieee_double(buf, 0, &back), recio::kForeignOk);
      EXPECT_EQ(back, x);
    }
    if (mag >= 0x1p-260 && mag < 0x1p252) {
      ASSERT_EQ(recio::cvt_ieee_double_to_ibm_long(&x, 0, buf), recio::kForeignOk);
      ASSERT_EQ(recio::cvt_ibm_long_to_ieee_double(buf, 0, &back), recio::kForeignOk);
      EXPECT_EQ(back, x);
    }
    ASSERT_EQ(recio::cvt_ieee_double_to_cray(&x, 0, buf), recio::kForeignOk);
    ASSERT_EQ(recio::cvt_cray_to_ieee_double(buf, 0, &back), recio::kForeignOk);
    EXPECT_LE(std::fabs(back - x), mag * 0x1p-48) << std::hexfloat << x;

    const float s = f32(static_cast<std::uint32_t>(gen()));
    float s_back = 0;
    if (!std::isfinite(s)) continue;
    ASSERT_EQ(recio::cvt_ieee_single_to_cray(&s, 0, buf), recio::kForeignOk);
    ASSERT_EQ(recio::cvt_cray_to_ieee_single(buf, 0, &s_back), recio::kForeignOk);
    EXPECT_EQ(s_back, s);
  }
}

struct Marks {
  bool convert;
  bool big_endian;
  std::uint8_t code;
};

void set_marks(UnitBlock* u, Marks m) {
  u->connection.convert = m.convert;
  u->connection.big_endian = m.big_endian;
  u->connection.foreign_code = m.code;
}

std::string marks_of(const UnitBlock& u) {
  return std::to_string(u.connection.convert) + "/" + std::to_string(u.connection.big_endian) +
         "/" + std::to_string(u.connection.foreign_code);
}

struct SelectionCase {
  Marks start;
  int code;
  bool from_env;
  const char* marks;  // convert/big-endian/format code after
  msg::Id status;
};

TEST(ForeignSelection, KeywordCodes) {
  constexpr Marks kPlain{false, false, 0}, kIbm{true, true, 3};
  const SelectionCase cases[] = {
      {kPlain, 1, false, "1/1/0", 0},
      {kIbm, 1, false, "1/1/0", 0},
      {kIbm, 2, false, "0/0/0", 0},
      {kIbm, 3, false, "1/1/2", 0},
      {kPlain, 4, false, "1/0/1", 0},
      {kPlain, 5, false, "1/1/3", 0},
      {kPlain, 6, false, "1/1/4", 0},
      {kIbm, 7, false, "1/1/5", 0},
      {kPlain, 8, false, "1/0/6", 0},
      {kIbm, 9, false, "0/1/3", 0},
      {kIbm, 0, false, "0/1/3", 0},
      {kIbm, 3, true, "1/0/2", 0},
      {kIbm, 9, true, "0/0/0", 0},
      {kIbm, 10, false, "1/1/3", msg::kInconsistentOpen},
      {kIbm, -1, false, "1/1/3", msg::kInconsistentOpen},
  };
  for (const SelectionCase& c : cases) {
    UnitBlock u;
    set_marks(&u, c.start);
    EXPECT_EQ(recio::for__apply_foreign_selection(&u, c.code, c.from_env), c.status) << c.code;
    EXPECT_EQ(marks_of(u), c.marks) << "code " << c.code << " from env " << c.from_env;
  }
}

struct EnvCase {
  const char* value;  // null: unset
  const char* marks;  // after, on success
  msg::Id status;
};

TEST(ForeignSelection, EnvironmentValues) {
  constexpr std::int32_t kUnit = 7301;
  const EnvCase cases[] = {
      {nullptr, "1/1/3", 0},  // untouched
      {"big_endian", "1/1/0", 0},
      {"NATIVE", "0/0/0", 0},
      {"little_endian", "0/0/0", 0},
      {"tyrd", "1/0/2", 0},
      {"TyRg", "1/0/1", 0},
      {"ibm", "1/1/3", 0},
      {"CRAY", "1/1/4", 0},
      {"fdx", "1/0/5", 0},
      {"FGX", "1/0/6", 0},
      {" BIG_ENDIAN", "", msg::kInconsistentOpen},
      {"BIG_ENDIAN ", "", msg::kInconsistentOpen},
      {"", "", msg::kInconsistentOpen},
      {"BIG-ENDIAN", "", msg::kInconsistentOpen},
      {"BIG_ENDIANBIG_ENDIAN", "", msg::kInconsistentOpen},   // 20 characters
      {"LITTLE_ENDIAN        ", "", msg::kInconsistentOpen},  // 21
  };
  for (const EnvCase& c : cases) {
    if (!testsupport::environment_holds(c.value)) continue;
    if (c.value == nullptr) {
      unsetenv("FORT_CONVERT7301");
    } else {
      setenv("FORT_CONVERT7301", c.value, 1);
    }
    setenv("FORT_CONVERT730", "IBM", 1);  // another unit's variable
    UnitBlock u;
    u.unit = kUnit;
    set_marks(&u, Marks{true, true, 3});
    const char* shown = c.value == nullptr ? "(unset)" : c.value;
    EXPECT_EQ(recio::for__apply_foreign_env(&u), c.status) << '"' << shown << '"';
    if (c.status == 0) {
      EXPECT_EQ(marks_of(u), c.marks) << '"' << shown << '"';
    }
  }
  unsetenv("FORT_CONVERT7301");
  unsetenv("FORT_CONVERT730");
}

struct WriteCase {
  Marks unit;
  std::uint8_t type;
  const char* in;  // host bytes
  const char* out;
  msg::Id status;
};

TEST(ForeignWrite, ValueHandling) {
  using namespace recio;
  constexpr Marks kBig{true, true, 0}, kTyrd{true, false, 2}, kTyrdBig{true, true, 2},
      kTyrg{true, false, 1}, kIbm{true, true, 3}, kCray{true, true, 4}, kFdx{true, false, 5},
      kFgx{true, false, 6}, kOff{false, true, 0};
  constexpr const char* kPi = "18 2D 44 54 FB 21 09 40";
  const WriteCase cases[] = {
      {kBig, kTypeInt4, "02 01 00 00", "00 00 01 02", 0},
      {kBig, kTypeInt1, "7F", "7F", 0},
      {kBig, kTypeLogical8, "01 00 00 00 00 00 00 02", "02 00 00 00 00 00 00 01", 0},
      {kBig, kTypeReal4, "00 00 80 3F", "3F 80 00 00", 0},
      {kBig, kTypeReal8, "00 00 00 00 00 00 F0 3F", "3F F0 00 00 00 00 00 00", 0},
      {kBig, kTypeChar, "41 42", "41 42", 0},
      {kTyrd, kTypeInt4, "02 01 00 00", "02 01 00 00", 0},
      {kTyrd, kTypeReal4, "00 00 80 3F", "80 40 00 00", 0},
      {kTyrd, kTypeReal8, kPi, "49 41 DA 0F 21 A2 C0 68", 0},
      {kTyrd, kTypeReal4, "00 00 80 7F", "00 80 00 00", msg::kForeignConversion},
      {kTyrdBig, kTypeInt4, "02 01 00 00", "00 00 01 02", 0},
      {kTyrdBig, kTypeReal4, "00 00 80 3F", "80 40 00 00", 0},
      {kTyrg, kTypeReal8, kPi, "29 40 FB 21 44 54 18 2D", 0},
      {kIbm, kTypeInt4, "02 01 00 00", "00 00 01 02", 0},
      {kIbm, kTypeReal4, "00 00 80 3F", "41 10 00 00", 0},
      {kIbm, kTypeReal8, "00 00 00 00 00 A8 5D C0", "C2 76 A0 00 00 00 00 00", 0},
      {kIbm, kTypeReal8, "00 00 00 00 00 00 F0 7F", "7F FF FF FF FF FF FF FF",
       msg::kForeignConversion},
      {kCray, kTypeInt8, "01 00 00 00 00 00 00 00", "00 00 00 00 00 00 00 01", 0},
      {kCray, kTypeReal4, "00 00 80 3F", "00 00 80 3F", 0},
      {kCray, kTypeReal8, "00 00 00 00 00 00 F0 3F", "40 01 80 00 00 00 00 00", 0},
      {kFdx, kTypeReal8, kPi, "49 41 DA 0F 21 A2 C0 68", 0},
      {kFgx, kTypeReal8, kPi, "29 40 FB 21 44 54 18 2D", 0},
      {kOff, kTypeInt4, "02 01 00 00", "02 01 00 00", 0},
      {kBig, 0x40, "01 02", "01 02", msg::kForeignConversion},  // no conversion for the type
  };
  for (const WriteCase& c : cases) {
    UnitBlock u;
    set_marks(&u, c.unit);
    const std::vector<unsigned char> in = unhex(c.in);
    unsigned char scratch[16] = {};
    EXPECT_EQ(recio::for__cvt_foreign_write(in.data(), static_cast<std::int32_t>(in.size()), c.type,
                                            u, scratch),
              c.status)
        << marks_of(u) << " type " << int{c.type} << " " << c.in;
    EXPECT_EQ(hex(scratch, in.size()), c.out) << marks_of(u) << " type " << int{c.type};
  }
}

TEST(ForeignWrite, LengthsThatCannotBeConvertedLeaveScratchAlone) {
  using namespace recio;
  UnitBlock u;
  set_marks(&u, Marks{true, true, 0});
  const unsigned char in[32] = {1, 2, 3, 4};
  const struct {
    std::uint8_t type;
    std::int32_t length;
  } cases[] = {{kTypeChar, 17}, {kTypeChar, -1}, {kTypeReal4, 8}, {kTypeInt8, 4}};
  for (const auto& c : cases) {
    unsigned char scratch[16];
    std::memset(scratch, 0xEE, sizeof scratch);
    EXPECT_EQ(for__cvt_foreign_write(in, c.length, c.type, u, scratch), msg::kArgumentError);
    EXPECT_EQ(scratch[0], 0xEE);
  }
}

// The writer moves an array as one block exactly when the check says so; the
// check must therefore agree with what the conversion of each value does.
TEST(ForeignWrite, CheckAgreesWithConversion) {
  using namespace recio;
  const std::uint8_t types[] = {kTypeLogical1, kTypeLogical2, kTypeLogical4, kTypeLogical8,
                                kTypeInt1,     kTypeInt2,     kTypeInt4,     kTypeInt8,
                                kTypeReal4,    kTypeReal8,    kTypeChar};
  // Items are taken from the end: 1.0 as a double, 1.875 as a single, 0x3FF0...
  const unsigned char value[8] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F};
  for (int code = 0; code <= 7; ++code) {
    for (int mark = 0; mark < 4; ++mark) {
      UnitBlock u;
      set_marks(&u, Marks{(mark & 1) != 0, (mark & 2) != 0, static_cast<std::uint8_t>(code)});
      for (std::uint8_t type : types) {
        const std::int32_t n = type == kTypeChar ? 8 : type_size(type);
        const unsigned char* item = value + (8 - n);
        unsigned char scratch[16] = {};
        for__cvt_foreign_write(item, n, type, u, scratch);
        const bool unchanged = std::memcmp(scratch, item, static_cast<std::size_t>(n)) == 0;
        EXPECT_EQ(for__cvt_foreign_check(type, u), unchanged)
            << marks_of(u) << " type " << int{type};
      }
    }
  }
}

}  // namespace
