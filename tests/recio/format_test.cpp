// Compiled formats: decoding of the elements, rejection of malformed formats
// by the interpreter and by the statements that run them.
#include "recio/format.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "recio/io_api.h"
#include "support/test_files.h"
#include "support/units.h"

namespace recio {
namespace {

using testsupport::ScratchDir;
using testsupport::UnitCloser;
using namespace testsupport::statements;

constexpr int kFormatSyntax = 62;

std::vector<FormatElement> decode_all(std::span<const std::uint32_t> format) {
  std::vector<FormatElement> out;
  std::uint32_t pos = 0;
  FormatElement e;
  while (pos < format.size()) {
    if (for__interp_fmt(format, &pos, &e) != 0) break;
    out.push_back(e);
  }
  return out;
}

bool same(const FormatElement& a, const FormatElement& b) {
  return a.op == b.op && a.repeat == b.repeat && a.count == b.count && a.width == b.width;
}

TEST(Format, ProgramFormatsDecode) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> words;
    std::vector<FormatElement> elements;
  };
  const std::vector<Case> cases = {
      {"A",
       {kFormatA.begin(), kFormatA.end()},
       {{kFmtOpen, 0, 0, 0}, {kFmtA, 1, 0, 0}, {kFmtClose, 0, 0, 0}}},
      {"Prompt",
       {kFormatPrompt.begin(), kFormatPrompt.end()},
       {{kFmtOpen, 0, 0, 0},
        {kFmtSkip, 0, 1, 1},
        {kFmtA, 1, 0, 0},
        {kFmtDollar, 0, 0, 0},
        {kFmtClose, 0, 0, 0}}},
      {"RepeatCount", {0x36, 0x30048, 0x37}, {{kFmtOpen}, {kFmtA, 3, 0, 0}, {kFmtClose}}},
      {"AWithRemaining",
       {kFormatAWithRemaining.begin(), kFormatAWithRemaining.end()},
       {{kFmtOpen}, {kFmtA, 1, 0, 0}, {kFmtRemaining}, {kFmtClose}}},
      {"WideSkip",
       {0x36, 0x0B, 70000, 1, 0x37},
       {{kFmtOpen}, {kFmtSkip, 0, 70000, 1}, {kFmtClose}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<FormatElement> got = decode_all(c.words);
    ASSERT_EQ(got.size(), c.elements.size());
    for (std::size_t i = 0; i < got.size(); ++i)
      EXPECT_TRUE(same(got[i], c.elements[i])) << "element " << i << " op " << int{got[i].op};
  }
}

TEST(Format, MalformedElementsAre62) {
  struct Case {
    const char* name;
    std::vector<std::uint32_t> words;
    std::uint32_t pos;
  };
  const std::vector<Case> cases = {
      {"UnknownCode", {0x99}, 0},
      {"CodeZero", {0x00}, 0},
      {"OperandFlagsOnA", {0x148}, 0},
      {"OperandFlagsOnClose", {0xFF37}, 0},
      {"OperandFlagsOnSkip", {0x10B, 1, 1}, 0},
      {"SkipCutAfterHead", {0x36, 0x0B}, 1},
      {"SkipCutAfterCount", {0x36, 0x0B, 1}, 1},
      {"PastTheEnd", {0x36, 0x37}, 2},
      {"Empty", {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::uint32_t pos = c.pos;
    FormatElement e;
    EXPECT_EQ(for__interp_fmt(c.words, &pos, &e), msg::kFormatSyntax);
    EXPECT_EQ(pos, c.pos);  // nothing consumed
  }
}

constexpr std::int32_t kUnit = 50;

int open_file_unit(const std::string& path) {
  return testsupport::open_unit(kUnit, kFlagsErrBranch,
                                {{kKeyFile, path}, {kKeyStatus, "unknown"}});
}

// Formats that no statement may run. A format without an A edit given an
// item would otherwise start over on new records without end.
const std::vector<std::pair<const char*, std::vector<std::uint32_t>>> kBadFormats = {
    {"UnknownCode", {0x36, 0x99, 0x37}},    {"OperandFlags", {0x36, 0x148, 0x37}},
    {"CutInsideSkip", {0x36, 0x0B, 1}},     {"NoClose", {0x36, 0x10048}},
    {"NoDataEditForTheItem", {0x36, 0x37}}, {"OnlySkipForTheItem", {0x36, 0x0B, 1, 1, 0x37}},
};

TEST(Format, ReadWithMalformedFormatIs62) {
  for (const auto& [name, words] : kBadFormats) {
    SCOPED_TRACE(name);
    ScratchDir dir;
    const std::string path = dir.file("in.txt");
    testsupport::write_file(path, "one\ntwo\nthree\n");
    ASSERT_EQ(open_file_unit(path), 0);
    UnitCloser closer(kUnit);
    char text[8];
    IoControlBlock cb{};
    const IoArg args[] = {IoArg::val(8), IoArg::address(text)};
    EXPECT_EQ(for_read_seq_fmt(&cb, kUnit, kFlagsErrBranch, kTextEnd, args, words), kFormatSyntax);
  }
}

TEST(Format, WriteWithMalformedFormatIs62) {
  for (const auto& [name, words] : kBadFormats) {
    SCOPED_TRACE(name);
    ScratchDir dir;
    ASSERT_EQ(open_file_unit(dir.file("out.txt")), 0);
    UnitCloser closer(kUnit);
    const char text[] = "abc";
    IoControlBlock cb{};
    const IoArg args[] = {IoArg::val(3), IoArg::address(text)};
    EXPECT_EQ(for_write_seq_fmt(&cb, kUnit, kFlagsErrBranch, kTextEnd, args, words), kFormatSyntax);
  }
}

// More items than the format holds: the format starts again on a new record.
TEST(Format, FormatStartsAgainOnNewRecordForFurtherItems) {
  ScratchDir dir;
  const std::string path = dir.file("out.txt");
  {
    ASSERT_EQ(open_file_unit(path), 0);
    UnitCloser closer(kUnit);
    IoControlBlock cb{};
    const IoArg first[] = {IoArg::val(3), IoArg::address("abc")};
    ASSERT_EQ(for_write_seq_fmt(&cb, kUnit, kFlagsErrBranch, kTextMore, first, kFormatA), 0);
    const IoArg second[] = {IoArg::val(2), IoArg::address("de")};
    ASSERT_EQ(for_write_seq_fmt_xmit(&cb, kTextEnd, second), 0);
  }
  EXPECT_EQ(testsupport::read_file(path), "abc\r\nde\r\n");

  ASSERT_EQ(open_file_unit(path), 0);
  UnitCloser closer(kUnit);
  char a[4], b[4];
  IoControlBlock cb{};
  const IoArg first[] = {IoArg::val(4), IoArg::address(a)};
  ASSERT_EQ(for_read_seq_fmt(&cb, kUnit, kFlagsErrBranch, kTextMore, first, kFormatA), 0);
  const IoArg second[] = {IoArg::val(4), IoArg::address(b)};
  ASSERT_EQ(for_read_seq_fmt_xmit(&cb, kTextEnd, second), 0);
  EXPECT_EQ(std::string(a, 4), "abc ");
  EXPECT_EQ(std::string(b, 4), "de  ");
}

}  // namespace
}  // namespace recio
