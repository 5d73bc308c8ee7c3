// The list-directed reader takes a plain number's value while scanning it;
// that path must agree bit for bit with the C library's correctly rounded
// strtof on every text it accepts.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "recio/io_api.h"

namespace recio {
namespace {

float read_real(const std::string& text) {
  char record[80];
  std::memset(record, ' ', sizeof record);
  std::memcpy(record, text.data(), std::min(text.size(), sizeof record));
  constexpr auto kRecordReal = item_descriptor({kTextItem, kReal4Variable}, Terminator::kEnd);
  float v = -12345.0f;
  IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(80), IoArg::address(record), IoArg::address(&v)};
  EXPECT_EQ(for_read_int_lis(&cb, kFlagsErrBranch, kRecordReal, args), 0) << text;
  return v;
}

void expect_same_as_strtof(const std::string& text) {
  float expected = std::strtof(text.c_str(), nullptr);
  // Without a significant digit the value is +0.0, never -0.0.
  const std::string mantissa = text.substr(0, text.find_first_of("eE"));
  if (mantissa.find_first_of("123456789") == std::string::npos) expected = 0.0f;
  const float got = read_real(text);
  ASSERT_EQ(std::bit_cast<std::uint32_t>(got), std::bit_cast<std::uint32_t>(expected)) << text;
}

TEST(ListNumberDifferential, RandomValuesInMapForms) {
  std::mt19937_64 rng(20261208);
  std::uniform_int_distribution<std::uint32_t> bits;
  const char* const forms[] = {"%.7E", "%.8E", "%.6e", "%.9g", "%.3f", "%.12g", "%.8f"};
  char text[64];
  for (int i = 0; i < 200000; ++i) {
    float f = std::bit_cast<float>(bits(rng));
    if (!std::isfinite(f) || std::fabs(f) > 1e30f || (std::fabs(f) < 1e-30f && f != 0.0f)) {
      f = static_cast<float>(static_cast<std::int32_t>(bits(rng))) * 1e-5f;
    }
    std::snprintf(text, sizeof text, forms[i % std::size(forms)], static_cast<double>(f));
    expect_same_as_strtof(text);
  }
}

TEST(ListNumberDifferential, MidpointsAndShortForms) {
  // Integers halfway between two floats round to even; so do their scaled forms.
  const char* const texts[] = {"16777217",
                               "16777219",
                               "33554434",
                               "33554438",
                               "1.6777217E7",
                               "167772.17E2",
                               "-16777217",
                               "0.5",
                               "-0.0",
                               "0",
                               "1e-3",
                               "3.4028235E38",
                               "1.17549435E-38",
                               "9007199254740993",
                               "4.0000002",
                               "7.0000005",
                               "1234567.5",
                               "1234568.5",
                               "0.30000001192092896"};
  for (const char* t : texts) expect_same_as_strtof(t);
  // A number without a significant digit is +0.0 whatever its sign.
  EXPECT_EQ(std::bit_cast<std::uint32_t>(read_real("-0.0")), 0u);
}

}  // namespace
}  // namespace recio
