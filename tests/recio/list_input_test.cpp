#include "recio/list_input.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace recio {
namespace {

constexpr std::uint32_t kProgramFlags = 0x0784FF00;  // undelimited text accepted
constexpr std::uint32_t kQuotedOnly = 0x0784FF00 & ~kFlagUndelimited;

// Item letters: R real4, D real8, I int4, S int2, K int8, L logical4,
// C character(8).
std::uint8_t type_of(char kind) {
  switch (kind) {
    case 'R':
      return kTypeReal4;
    case 'D':
      return kTypeReal8;
    case 'I':
      return kTypeInt4;
    case 'S':
      return kTypeInt2;
    case 'K':
      return kTypeInt8;
    case 'L':
      return kTypeLogical4;
    default:
      return kTypeChar;
  }
}

// One variable per item, prefilled so that "unchanged" is visible.
struct Var {
  char kind;
  alignas(8) unsigned char bytes[8] = {};

  explicit Var(char k) : kind(k) {
    const float r = -99.0f;
    const double d = -99.0;
    const std::int64_t i = -77;  // -77 at every integer width
    if (k == 'R') std::memcpy(bytes, &r, 4);
    if (k == 'D') std::memcpy(bytes, &d, 8);
    if (k == 'C') std::memset(bytes, '#', 8);
    if (k == 'I' || k == 'S' || k == 'K' || k == 'L') std::memcpy(bytes, &i, 8);
  }

  Item item() {
    Item it;
    it.type = type_of(kind);
    it.mode = kPassAddress;
    it.addr = bytes;
    it.length = kind == 'C' ? 8 : type_size(it.type);
    return it;
  }

  std::string text() const {
    if (kind == 'C') return std::string(reinterpret_cast<const char*>(bytes), 8);
    float f;
    double d;
    std::int16_t i2;
    std::int32_t i4;
    std::int64_t i8;
    std::memcpy(&f, bytes, 4);
    std::memcpy(&d, bytes, 8);
    std::memcpy(&i2, bytes, 2);
    std::memcpy(&i4, bytes, 4);
    std::memcpy(&i8, bytes, 8);
    char buf[64];
    if (kind == 'R') std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
    if (kind == 'D') std::snprintf(buf, sizeof buf, "%.17g", d);
    if (kind == 'S') std::snprintf(buf, sizeof buf, "%d", i2);
    if (kind == 'I' || kind == 'L') std::snprintf(buf, sizeof buf, "%d", i4);
    if (kind == 'K') std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(i8));
    return buf;
  }
};

struct Case {
  std::string record;
  const char* kinds;
  std::vector<std::string> want;  // per item; "=" is unchanged
  msg::Id result = 0;
  int failed_at = -1;
  std::uint32_t flags = kProgramFlags;
};

// Reads the items in order until one fails, as the statement would.
void check(const Case& c) {
  SCOPED_TRACE("record [" + c.record + "] items " + c.kinds);
  auto s = std::make_unique<ListScanState>();
  list_scan_begin(*s, c.record.data(), static_cast<std::int32_t>(c.record.size()), c.flags);
  std::vector<Var> vars;
  for (const char* k = c.kinds; *k; ++k) vars.emplace_back(*k);
  msg::Id result = 0;
  int failed_at = -1;
  for (std::size_t i = 0; i < vars.size() && result == 0; ++i) {
    result = list_read_item(*s, vars[i].item());
    if (result != 0) failed_at = static_cast<int>(i);
  }
  EXPECT_EQ(msg::number(result), msg::number(c.result));
  EXPECT_EQ(failed_at, c.failed_at);
  ASSERT_EQ(c.want.size(), vars.size());
  for (std::size_t i = 0; i < vars.size(); ++i) {
    const std::string want = c.want[i] == "=" ? Var(vars[i].kind).text() : c.want[i];
    EXPECT_EQ(vars[i].text(), want) << "item " << i;
  }
}

using msg::kEndOfFile, msg::kListSyntax, msg::kInputConversion;

TEST(ListInput, SeparatorsNullsAndEnd) {
  const Case cases[] = {
      {"  1.5  2.5  3.5", "RRR", {"1.5", "2.5", "3.5"}},
      {"1.5,2.5,3.5", "RRR", {"1.5", "2.5", "3.5"}},
      {"1.5, 2.5 ,3.5", "RRR", {"1.5", "2.5", "3.5"}},
      {"1.5\t2.5\t\t3.5\t", "RRR", {"1.5", "2.5", "3.5"}},
      {"1.5 \n 2.5 \n3.5", "RRR", {"1.5", "2.5", "3.5"}},
      {"1.5,,3.5", "RRR", {"1.5", "=", "3.5"}},
      {",2,3", "RRR", {"=", "2", "3"}},
      {",,3", "RRR", {"=", "=", "3"}},
      {"1, ,3", "RRR", {"1", "=", "3"}},
      {"1 ,2 3", "RRR", {"1", "2", "3"}},
      {"1,\n,3", "RRR", {"1", "=", "3"}},
      {"1.5 /", "RRR", {"1.5", "=", "="}},
      {"/", "III", {"=", "=", "="}},
      {"1 2", "III", {"1", "2", "="}, kEndOfFile, 2},
      {"1 2 3 4", "III", {"1", "2", "3"}},
      {"1,2,", "III", {"1", "2", "="}, kEndOfFile, 2},
      {"", "R", {"="}, kEndOfFile, 0},
      {"      ", "III", {"=", "=", "="}, kEndOfFile, 0},
      {" \t ", "CCC", {"=", "=", "="}, kEndOfFile, 0},
  };
  for (const Case& c : cases) check(c);
}

TEST(ListInput, RepeatCounts) {
  const Case cases[] = {
      {"3*0.0", "RRR", {"0", "0", "0"}},
      {"2*,7", "RRR", {"=", "=", "7"}},
      {"2* 7", "RRR", {"=", "=", "7"}},
      {"2*\t7", "RRR", {"=", "=", "7"}},
      {"2* ,7", "RRR", {"=", "=", "7"}},
      {"2*", "RRR", {"=", "=", "="}, kEndOfFile, 2},
      {"0*5 -1*6 7", "III", {"5", "6", "7"}},
      {"2*/ 9", "RRR", {"=", "=", "="}},
      {"2*5 / 9", "IIII", {"5", "5", "=", "="}},
      {"1 2*5/ 9", "IIII", {"1", "5", "5", "="}},
      {"*5", "I", {"="}, kListSyntax, 0},
      {"1.5*2", "R", {"="}, kInputConversion, 0},
      {"2*3*4", "I", {"0"}, kInputConversion, 0},
      {"2*'AB' C", "CCC", {"AB      ", "AB      ", "C       "}},
      {"12*'x'", "CC", {"x       ", "x       "}},
      {"2*AB", "CCC", {"=", "=", "="}, kListSyntax, 0},
      {"*AB", "C", {"="}, kListSyntax, 0},
  };
  for (const Case& c : cases) check(c);
}

TEST(ListInput, NumericAndLogicalValues) {
  const Case cases[] = {
      {"7", "R", {"7"}},
      {"2.9", "I", {"2"}},
      {"-2.9", "I", {"-2"}},
      {"1e10", "I", {"1410065408"}},
      {"-1e10", "I", {"-1410065408"}},
      {"1e300", "I", {"0"}},  // truncation does not fit 64 bits
      {"3000000000", "I", {"0"}, kInputConversion, 0},
      {"+", "I", {"0"}},
      {"+", "R", {"0"}},
      {".5", "R", {"0.5"}},
      {"1.5+3", "R", {"1500"}},
      {"1.5D2 1.5q2", "RR", {"150", "150"}},
      {"15+3", "I", {"0"}, kInputConversion, 0},
      {"1e39", "R", {"inf"}, kInputConversion, 0},
      // Exponents of any length: more than 4 digits decide overflow or underflow.
      {"1e99999999999 0 0", "RRR", {"inf", "=", "="}, kInputConversion, 0},
      {"1e-99999999999 2", "RR", {"0", "2"}},
      {"1e0000000000000000002", "R", {"100"}},
      {"1e99999999999", "I", {"0"}, kInputConversion, 0},
      {"1.5x", "R", {"="}, kListSyntax, 0},
      {"1..5", "R", {"="}, kListSyntax, 0},
      {"1e5e5", "R", {"="}, kListSyntax, 0},
      {"e5", "R", {"="}, kListSyntax, 0},
      {"1.5\n", "R", {"="}, kListSyntax, 0},
      {"1.5 2.5 'x'", "RRR", {"1.5", "2.5", "="}, kInputConversion, 2},
      {"T .false.", "II", {"-1", "0"}},
      {"t .false. F .TRUE.", "RRRR", {"-1", "0", "0", "-1"}},
      {"Fxyz,T", "LL", {"0", "-1"}},
      {"1.5 2.5", "DD", {"1.5", "2.5"}},
      {"0.1 t", "DD", {"0.10000000000000001", "-1"}},
      {"-5 1.5e10 40000.5", "SKS", {"-5", "15000000000", "-25536"}},
  };
  for (const Case& c : cases) check(c);
}

TEST(ListInput, CharacterValues) {
  const Case cases[] = {
      {"AXIS_X AXIS_Y AXIS_Z", "CCC", {"AXIS_X  ", "AXIS_Y  ", "AXIS_Z  "}},
      {"'X label' 'Y' 'LONGER_THAN_8'", "CCC", {"X label ", "Y       ", "LONGER_T"}},
      {"'it''s'", "C", {"it's    "}},
      {"\"say \"\"hi\"\"\"", "C", {"say \"hi\""}},
      {"'a\"b' \"c'd\"", "CC", {"a\"b     ", "c'd     "}},
      {"''", "C", {"        "}},
      {"'ab'cd", "CC", {"ab      ", "cd      "}},
      {"ab'c d", "CC", {"ab'c    ", "d       "}},
      {"(x) )y .z T 1.5", "CCCCC", {"(x)     ", ")y      ", ".z      ", "T       ", "1.5     "}},
      {"AB/CD", "CC", {"AB      ", "="}},
      {"'abc", "C", {"="}, kListSyntax, 0},
      {"'ab''", "C", {"="}, kListSyntax, 0},
      {"'ab\ncd'", "C", {"="}, kListSyntax, 0},
      {std::string("'ab\0cd'", 7), "C", {"="}, kListSyntax, 0},
      {"'x'", "I", {"="}, kInputConversion, 0},
      {"'AB' 1.5", "CC", {"AB      ", "="}, kListSyntax, 1, kQuotedOnly},
      {"AB", "C", {"="}, kListSyntax, 0, kQuotedOnly},
      {"T", "C", {"="}, kListSyntax, 0, kQuotedOnly},
  };
  for (const Case& c : cases) check(c);
}

TEST(ListInput, ParenthesisedPairs) {
  const Case cases[] = {
      {"(1.5,2.5) 3", "RR", {"1.5", "3"}},
      {"( 1.5 ,-2e3)3", "RR", {"1.5", "3"}},
      {"(1.5,2.)", "D", {"1.5"}},
      {"2*(1,2) 7", "RRR", {"1", "1", "7"}},
      {"(1.5, 2.5)", "R", {"1.5"}, kListSyntax, 0},
      {"(1.5,2.5e+1)", "R", {"1.5"}, kListSyntax, 0},
      {"(1.5,.5)", "R", {"1.5"}, kListSyntax, 0},
      {"(1.5)", "R", {"1.5"}, kListSyntax, 0},
      {"(1.5,2.5", "R", {"1.5"}, kListSyntax, 0},
      {"(1.5", "R", {"1.5"}, kListSyntax, 0},
      {"((1.5,2)", "R", {"="}, kListSyntax, 0},
      // A comma before the number only separates; a slash still ends the
      // statement; a quoted value is a conversion error as anywhere else.
      {"(,1,2) 5 6", "RRR", {"1", "5", "6"}},
      {"1,(,2,3) 4", "RRR", {"1", "2", "4"}},
      {"(,1)", "R", {"1"}, kListSyntax, 0},
      {"(,,1,2)", "R", {"="}, kListSyntax, 0},
      {"(/ 5", "RR", {"=", "="}},
      {"('x',1)", "R", {"="}, kInputConversion, 0},
      {"(T,1)", "R", {"="}, kListSyntax, 0},
      {"(1,2)", "I", {"="}, kListSyntax, 0},
      {"(1,2)", "C", {"="}, kListSyntax, 0, kQuotedOnly},
      {")", "R", {"="}, kListSyntax, 0},
  };
  for (const Case& c : cases) check(c);
}

// The longest value is 2049 characters; a doubled quote counts once.
TEST(ListInput, LongCharacterValues) {
  struct Long {
    std::string record;
    std::int32_t stored;  // characters expected, 0 for an error
  };
  const std::string a2049(2049, 'a');
  const Long cases[] = {
      {"'" + a2049 + "'", 2049},
      {"'" + a2049 + "a'", 0},
      {"'" + std::string(2048, 'a') + "'''", 2049},
      {"  " + a2049 + " ", 2049},
      {a2049 + "a", 0},
  };
  for (const Long& c : cases) {
    auto s = std::make_unique<ListScanState>();
    list_scan_begin(*s, c.record.data(), static_cast<std::int32_t>(c.record.size()), kProgramFlags);
    std::vector<char> out(2050, '#');
    Item it;
    it.type = kTypeChar;
    it.addr = out.data();
    it.length = 2050;
    const msg::Id rc = list_read_item(*s, it);
    if (c.stored == 0) {
      EXPECT_EQ(rc, msg::kListSyntax);
      EXPECT_EQ(out[0], '#');
    } else {
      ASSERT_EQ(rc, 0u);
      EXPECT_EQ(std::count(out.begin(), out.end(), ' '), 1);
      EXPECT_EQ(out[2049], ' ');
    }
  }
}

TEST(ListInput, ErrorSticksAndStateIsReusable) {
  ListScanState s;
  const std::string bad = "abc 1";
  float f = -99.0f;
  Item it;
  it.type = kTypeReal4;
  it.addr = &f;
  it.length = 4;
  list_scan_begin(s, bad.data(), static_cast<std::int32_t>(bad.size()), kProgramFlags);
  EXPECT_EQ(list_read_item(s, it), msg::kListSyntax);
  EXPECT_EQ(list_read_item(s, it), msg::kListSyntax);

  const std::string good = "/ 2.5";
  list_scan_begin(s, good.data(), static_cast<std::int32_t>(good.size()), kProgramFlags);
  EXPECT_EQ(list_read_item(s, it), 0u);
  const std::string again = "2.5";
  list_scan_begin(s, again.data(), static_cast<std::int32_t>(again.size()), kProgramFlags);
  EXPECT_EQ(list_read_item(s, it), 0u);
  EXPECT_EQ(f, 2.5f);

  it.type = 0x0B;  // not a type the reader can fill
  list_scan_begin(s, again.data(), static_cast<std::int32_t>(again.size()), kProgramFlags);
  EXPECT_EQ(list_read_item(s, it), msg::kFormatMismatch);
}

}  // namespace
}  // namespace recio
