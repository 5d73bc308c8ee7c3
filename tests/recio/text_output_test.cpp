// Text output: prompts under (1X,A,$), list-directed lines on unit 6 and the
// list-directed write into an internal record, byte for byte.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "recio/format.h"
#include "recio/io_api.h"
#include "support/test_files.h"
#include "support/units.h"

namespace recio {
namespace {

using testsupport::ScratchDir;

using namespace testsupport::statements;
constexpr std::int32_t kConsoleOut = 6;

const std::string kInputPrompt = "formatted MAP filename (input) [<RET>=exit]: ";
const std::string kOutputPrompt = "unformatted MAP filename (output) [<RET>=exit]: ";

int open_file_unit(std::int32_t unit, const std::string& path) {
  return testsupport::open_unit(
      unit, kFlagsErrBranch, {{kKeyFile, path}, {kKeyStatus, "unknown"}, {kKeyForm, "formatted"}});
}

void close_unit(std::int32_t unit) {
  testsupport::close_unit(unit, kFlagsNoBranch);
}

using testsupport::UnitCloser;

int write_prompt(const std::string& text) {
  IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(static_cast<std::int64_t>(text.size())),
                        IoArg::address(text.data())};
  return for_write_seq_fmt(&cb, kConsoleOut, kFlagsNoBranch, kTextEnd, args, kFormatPrompt);
}

int write_list(const std::string& text) {
  IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(static_cast<std::int64_t>(text.size())),
                        IoArg::address(text.data())};
  return for_write_seq_lis(&cb, kConsoleOut, kFlagsNoBranch, kTextEnd, args);
}

// A console statement: a prompt or a list-directed line.
struct Statement {
  bool prompt;
  std::string text;
};

// Runs the statements with unit 6 connected to `path`; returns the bytes.
std::string console_bytes(const std::string& path, const std::vector<Statement>& statements) {
  if (open_file_unit(kConsoleOut, path) != 0) return "<open failed>";
  UnitCloser closer{kConsoleOut};
  for (const Statement& s : statements) {
    if ((s.prompt ? write_prompt(s.text) : write_list(s.text)) != 0) return "<write failed>";
  }
  return testsupport::read_file(path);
}

std::string letters(std::size_t n) {
  std::string s(n, ' ');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('a' + i % 26);
  return s;
}

TEST(TextOutput, ConsoleStatementsByteForByte) {
  const std::string title = "Reading error: TITLE" + std::string(60, ' ');
  const std::string l160 = letters(160);
  struct Case {
    const char* name;
    std::vector<Statement> statements;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"InputPromptHasNoTerminator", {{true, kInputPrompt}}, " " + kInputPrompt},
      {"OutputPromptHasNoTerminator", {{true, kOutputPrompt}}, " " + kOutputPrompt},
      {"Done", {{false, "conversion done."}}, " conversion done.\r\n"},
      {"DialogueNothingPendingBetweenStatements",
       {{true, kInputPrompt}, {true, kOutputPrompt}, {false, "conversion done."}},
       " " + kInputPrompt + " " + kOutputPrompt + " conversion done.\r\n"},
      {"MessageBufferGivesTwoLines",
       {{false, title}},
       " Reading error: TITLE" + std::string(59, ' ') + "\r\n  \r\n"},
      {"Item79IsOneLine", {{false, letters(79)}}, " " + letters(79) + "\r\n"},
      {"Item80IsTwoLines",
       {{false, letters(80)}},
       " " + letters(79) + "\r\n" + " " + letters(80).substr(79) + "\r\n"},
      {"Item160IsThreeLines",
       {{false, l160}},
       " " + l160.substr(0, 79) + "\r\n " + l160.substr(79, 79) + "\r\n " + l160.substr(158) +
           "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    EXPECT_EQ(console_bytes(dir.file("console.txt"), c.statements), c.expected);
  }
}

// Each item of a list-directed write takes the field of its type; a field
// that no longer fits on the line starts the next record instead of being
// split. Every call after the first is an item call of the same statement.
TEST(TextOutput, ListDirectedFieldsByTypeAndLineWrap) {
  struct Var {
    std::uint8_t type;
    std::int64_t bits;  // the variable's bytes, low first
  };
  struct Case {
    const char* name;
    std::vector<Var> items;
    std::string expected;
  };
  const auto ints = [](int n) {
    return std::vector<Var>(static_cast<std::size_t>(n), {kTypeInt4, 7});
  };
  const std::string seven = std::string(11, ' ') + "7";
  const Case cases[] = {
      // Narrow integers are sign-extended from their own width.
      {"Int1", {{kTypeInt1, 0xFB}}, "           -5\r\n"},
      {"Int2", {{kTypeInt2, 0xFED4}}, "         -300\r\n"},
      {"Int4", {{kTypeInt4, 0x80000000}}, "  -2147483648\r\n"},
      {"Int8", {{kTypeInt8, INT64_MIN}}, "   -9223372036854775808\r\n"},
      // A logical shows its low bit.
      {"Logicals",
       {{kTypeLogical1, 1}, {kTypeLogical2, 0}, {kTypeLogical4, 0xFFFFFFFF}, {kTypeLogical8, 2}},
       "  T F T F\r\n"},
      {"Reals",
       {{kTypeReal4, 0x3FC00000}, {kTypeReal8, static_cast<std::int64_t>(0xBFD0000000000000)}},
       "   1.5000000E+00  -2.500000000000000E-01\r\n"},
      {"SixIntegersFitOneLine", ints(6),
       " " + seven + seven + seven + seven + seven + seven + "\r\n"},
      {"SeventhIntegerStartsARecord", ints(7),
       " " + seven + seven + seven + seven + seven + seven + "\r\n " + seven + "\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string path = dir.file("list.txt");
    ASSERT_EQ(open_file_unit(kConsoleOut, path), 0);
    UnitCloser closer{kConsoleOut};
    std::vector<std::int64_t> vars;
    vars.reserve(c.items.size());
    IoControlBlock cb{};
    for (std::size_t i = 0; i < c.items.size(); ++i) {
      vars.push_back(c.items[i].bits);
      const bool last = i + 1 == c.items.size();
      const auto desc = item_descriptor({{TypeCode{c.items[i].type}, kPassAddress}},
                                        last ? Terminator::kEnd : Terminator::kMore);
      const IoArg args[] = {IoArg::address(&vars.back())};
      const int r = i == 0 ? for_write_seq_lis(&cb, kConsoleOut, kFlagsErrBranch, desc, args)
                           : for_write_seq_lis_xmit(&cb, desc, args);
      ASSERT_EQ(r, 0) << i;
    }
    EXPECT_EQ(testsupport::read_file(path), c.expected);
  }
}

TEST(TextOutput, RecordsReplaceTheOldContentsOfAReusedFile) {
  ScratchDir dir;
  const std::string path = dir.file("console.txt");
  testsupport::write_file(path, std::string(500, 'x') + "\r\n");
  EXPECT_EQ(console_bytes(path, {{true, kInputPrompt}}), " " + kInputPrompt);
  EXPECT_EQ(console_bytes(path, {{false, "conversion done."}}), " conversion done.\r\n");
}

// The front end's unit 6 is connected by default on first use; FORT6 names
// its file.
TEST(TextOutputDeathTest, DefaultConnectionOfUnit6FollowsFort6) {
  ScratchDir dir;
  const std::string path = dir.file("fort6.txt");
  EXPECT_EXIT(
      {
        close_unit(kConsoleOut);
        ::setenv("FORT6", path.c_str(), 1);
        write_prompt(kInputPrompt);
        write_prompt(kOutputPrompt);
        write_list("conversion done.");
        std::_Exit(0);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(testsupport::read_file(path),
            " " + kInputPrompt + " " + kOutputPrompt + " conversion done.\r\n");
}

// CONVERT's capacity message: the record, the text, then the value by value.
int capacity_message(char* record, std::int32_t record_length, const std::string& text,
                     std::int32_t value, std::uint32_t flags = kFlagsNoBranch) {
  IoControlBlock cb{};
  const IoArg first[] = {IoArg::val(record_length), IoArg::address(record),
                         IoArg::val(static_cast<std::int64_t>(text.size())),
                         IoArg::address(text.data())};
  if (int r = for_write_int_lis(&cb, flags, kRecordTextMore, first); r != 0) return r;
  const IoArg second[] = {IoArg::val(value)};
  return for_write_int_lis_xmit(&cb, kIntValueEnd, second);
}

const std::string kChange = "Change the program parameter MXS to";

TEST(TextOutput, CapacityMessageLayout) {
  struct Case {
    std::int32_t value;
    std::string columns_37_to_48;
  };
  const Case cases[] = {
      {3090903, "     3090903"},
      {3000003, "     3000003"},
      {2147483647, "  2147483647"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    std::string message(80, '#');
    ASSERT_EQ(capacity_message(message.data(), 80, kChange, c.value), 0);
    EXPECT_EQ(message, " " + kChange + c.columns_37_to_48 + std::string(32, ' '));
  }
}

TEST(TextOutput, InternalRecordOverflowIs66WithErrorBranch) {
  struct Case {
    std::int32_t record_length;
    std::size_t text_length;
    bool with_value;
    int status;
  };
  // The leading blank, the text, then 12 columns for the value.
  const Case cases[] = {
      {48, 35, true, 0},   {47, 35, true, 66}, {36, 35, false, 0},
      {35, 35, false, 66}, {13, 0, true, 0},   {12, 0, true, 66},
      {1, 0, false, 0},    {0, 0, false, 66},  {0, 5, false, 66},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.record_length << "/" << c.text_length);
    std::string record(static_cast<std::size_t>(c.record_length), '#');
    const std::string text = letters(c.text_length);
    int r;
    if (c.with_value) {
      r = capacity_message(record.data(), c.record_length, text, 7, kFlagsErrBranch);
    } else {
      IoControlBlock cb{};
      const IoArg args[] = {IoArg::val(c.record_length), IoArg::address(record.data()),
                            IoArg::val(static_cast<std::int64_t>(text.size())),
                            IoArg::address(text.data())};
      r = for_write_int_lis(&cb, kFlagsErrBranch, kRecordTextEnd, args);
    }
    EXPECT_EQ(r, c.status);
  }
}

// A statement that failed has ended: a further item call on its control
// block is refused instead of writing through a released unit.
TEST(TextOutput, ItemCallAfterFailedInternalWriteIsRefused) {
  std::string record(10, '#');
  const std::string text = letters(35);
  IoControlBlock cb{};
  const IoArg first[] = {IoArg::val(10), IoArg::address(record.data()), IoArg::val(35),
                         IoArg::address(text.data())};
  ASSERT_EQ(for_write_int_lis(&cb, kFlagsErrBranch, kRecordTextMore, first), 66);
  const IoArg second[] = {IoArg::val(1)};
  EXPECT_NE(for_write_int_lis_xmit(&cb, kIntValueEnd, second), 0);
  EXPECT_EQ(record, std::string(10, '#'));
}

TEST(TextOutputDeathTest, InternalRecordOverflowWithoutBranchIsSevere66) {
  EXPECT_EXIT(
      {
        std::string record(40, '#');
        capacity_message(record.data(), 40, kChange, 3000003);
        std::_Exit(100);
      },
      testing::ExitedWithCode(66),
      "^forrtl: severe \\(66\\): output statement overflows record, unit -5, file Internal "
      "List-Directed Write\r\n");
}

}  // namespace
}  // namespace recio
