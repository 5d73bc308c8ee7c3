// The list-directed read statement on an internal record: the statement
// protocol around the scanner, and the diagnostics of its errors on unit -5.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "recio/io_api.h"
#include "support/test_files.h"
#include "support/units.h"

namespace recio {
namespace {

using namespace testsupport::statements;

// The record of an internal read: a text, more calls to follow.
constexpr auto& kRecordOnly = kTextMore;
constexpr auto kFieldValueEnd = item_descriptor({kReal4Element}, Terminator::kEnd);

std::string line80(const std::string& text) {
  std::string s = text;
  s.resize(80, ' ');
  return s;
}

// Reads three reals from the record the way CONVERT reads a field line.
int read_three_reals(const std::string& record, float out[3], std::uint32_t flags) {
  IoControlBlock cb{};
  const IoArg rec[] = {IoArg::val(static_cast<std::int64_t>(record.size())),
                       IoArg::address(record.data())};
  int r = for_read_int_lis(&cb, flags, kRecordOnly, rec);
  for (int m = 0; m < 3 && r == 0; ++m) {
    const IoArg v[] = {IoArg::val(4), IoArg::address(&out[m])};
    r = for_read_int_lis_xmit(&cb, kFieldValueMore, v);
  }
  if (r == 0) r = for_read_int_lis_xmit(&cb, kEnd, {});
  return r;
}

TEST(InternalRead, FieldLineStoresThreeReals) {
  float v[3] = {};
  ASSERT_EQ(read_three_reals(line80("-1.2345678E-03 0.5,12.25"), v, kFlagsNoBranch), 0);
  EXPECT_EQ(v[0], -1.2345678E-03f);
  EXPECT_EQ(v[1], 0.5f);
  EXPECT_EQ(v[2], 12.25f);
}

TEST(InternalRead, StatementsDoNotLeakTheInternalUnit) {
  // Each statement takes and gives back unit -5; thousands in a row must work.
  float v[3] = {};
  for (int i = 0; i < 10000; ++i)
    ASSERT_EQ(read_three_reals(line80("1 2 3"), v, kFlagsNoBranch), 0);
  EXPECT_EQ(v[2], 3.0f);
}

TEST(InternalRead, ErrorBranchReturnsTheNumber) {
  float v[3] = {};
  EXPECT_EQ(read_three_reals(line80("1.0 2.0"), v, kFlagsErrBranch), -1);
  EXPECT_EQ(read_three_reals(line80("1.0 abc 3"), v, kFlagsErrBranch), 59);
  EXPECT_EQ(read_three_reals(line80("1.0 'x' 3"), v, kFlagsErrBranch), 64);
  // The unit was released on each failure: a good statement still works.
  EXPECT_EQ(read_three_reals(line80("4 5 6"), v, kFlagsErrBranch), 0);
  EXPECT_EQ(v[0], 4.0f);
}

// Item calls shaped like the element call of a field line:
// each reads as its descriptor says, and a malformed one ends the statement.
TEST(InternalRead, ItemCallShapes) {
  constexpr int kNoStatement = 48;
  float v[2];  // v[1] guards against a store beyond the item
  struct Case {
    const char* name;
    std::span<const std::uint8_t> desc;
    std::vector<IoArg> args;
    int result;
    float first, second;  // v afterwards (-1: unchanged)
    int end_result;       // of the end call that follows
  };
  const Case cases[] = {
      {"element", kFieldValueMore, {IoArg::val(4), IoArg::address(&v[0])}, 0, 1.5f, -1, 0},
      {"element ending the statement",
       kFieldValueEnd,
       {IoArg::val(4), IoArg::address(&v[0])},
       0,
       1.5f,
       -1,
       kNoStatement},
      {"wrong element size",
       kFieldValueMore,
       {IoArg::val(8), IoArg::address(&v[0])},
       kNoStatement,
       -1,
       -1,
       kNoStatement},
      {"no address", kFieldValueMore, {IoArg::val(4), IoArg{}}, kNoStatement, -1, -1, kNoStatement},
      {"missing argument", kFieldValueMore, {IoArg::val(4)}, kNoStatement, -1, -1, kNoStatement},
  };
  const std::string record = line80("1.5 2.5");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    v[0] = v[1] = -1;
    IoControlBlock cb{};
    const IoArg rec[] = {IoArg::val(80), IoArg::address(record.data())};
    ASSERT_EQ(for_read_int_lis(&cb, kFlagsErrBranch, kRecordOnly, rec), 0);
    EXPECT_EQ(for_read_int_lis_xmit(&cb, c.desc, c.args), c.result);
    EXPECT_EQ(for_read_int_lis_xmit(&cb, kEnd, {}), c.end_result);
    EXPECT_EQ(v[0], c.first);
    EXPECT_EQ(v[1], c.second);
  }
}

TEST(InternalRead, RecordIsReadFromAPrivateCopy) {
  // The character item overlaps the record: the scan must not see its own output.
  char record[16];
  std::memcpy(record, "'abcdefgh' 'xy' ", 16);
  IoControlBlock cb{};
  const IoArg a[] = {IoArg::val(16), IoArg::address(record), IoArg::val(8), IoArg::address(record)};
  ASSERT_EQ(for_read_int_lis(&cb, kFlagsNoBranch, kRecordTextMore, a), 0);
  char second[8];
  const IoArg b[] = {IoArg::val(8), IoArg::address(second)};
  ASSERT_EQ(for_read_int_lis_xmit(&cb, kTextMore, b), 0);
  ASSERT_EQ(for_read_int_lis_xmit(&cb, kEnd, {}), 0);
  EXPECT_EQ(std::string(record, 8), "abcdefgh");
  EXPECT_EQ(std::string(second, 8), "xy      ");
}

// Runs `body` in a death-test child with standard error captured in a file,
// and checks the exact bytes and exit status.
struct DiagnosticCase {
  const char* name;
  const char* record;
  std::uint8_t item_type;  // for the three items
  const char* expected;
  int status;
};

void read_three(const std::string& record, std::uint8_t type) {
  IoControlBlock cb{};
  const IoArg rec[] = {IoArg::val(80), IoArg::address(record.data())};
  for_read_int_lis(&cb, kFlagsNoBranch, kRecordOnly, rec);
  std::int32_t ints[3];
  char texts[3][8];
  for (int m = 0; m < 3; ++m) {
    if (type == 0x09) {
      const IoArg v[] = {IoArg::address(&ints[m])};
      for_read_int_lis_xmit(&cb, kIntMore, v);
    } else {
      const IoArg v[] = {IoArg::val(8), IoArg::address(texts[m])};
      for_read_int_lis_xmit(&cb, kTextMore, v);
    }
  }
  for_read_int_lis_xmit(&cb, kEnd, {});
}

class InternalReadDiagnostic : public ::testing::TestWithParam<DiagnosticCase> {};

TEST_P(InternalReadDiagnostic, PrintsTheLineAndExitsWithTheNumber) {
  const DiagnosticCase& c = GetParam();
  testsupport::ScratchDir dir;
  const std::string err = dir.file("stderr");
  EXPECT_EXIT(
      {
        FILE* f = std::freopen(err.c_str(), "w", stderr);
        (void)f;
        read_three(line80(c.record), c.item_type);
        std::_Exit(100);  // not reached: the diagnostic ends the process
      },
      ::testing::ExitedWithCode(c.status), "");
  EXPECT_EQ(testsupport::read_file(err), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, InternalReadDiagnostic,
    ::testing::Values(
        DiagnosticCase{"RecordEndsEarly", "1 2", 0x09,
                       "forrtl: severe (24): end-of-file during read, unit -5, file Internal "
                       "List-Directed Read\r\n",
                       24},
        DiagnosticCase{"LetterInsideAnInteger", "1 2x 3", 0x09,
                       "forrtl: severe (59): list-directed I/O syntax error, unit -5, file "
                       "Internal List-Directed Read\r\n",
                       59},
        DiagnosticCase{"IntegerBeyondItsRange", "1 3000000000 3", 0x09,
                       "forrtl: severe (64): input conversion error, unit -5, file Internal "
                       "List-Directed Read\r\n",
                       64},
        DiagnosticCase{"NumberForText", "2*3 x y", 0x38,
                       "forrtl: severe (59): list-directed I/O syntax error, unit -5, file "
                       "Internal List-Directed Read\r\n",
                       59}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace recio
