// Formatted record input with (A): records of files and of standard input,
// line ends, end of file, long lines and the failures of a read statement.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "recio/format.h"
#include "recio/io_api.h"
#include "recio/record_io.h"
#include "recio/unit_table.h"
#include "rt/memory.h"
#include "support/test_files.h"
#include "support/units.h"

namespace recio {
namespace {

using testsupport::ScratchDir;

using namespace testsupport::statements;
constexpr std::int32_t kLine = 80;
constexpr auto kRecordIntEnd = item_descriptor({kTextItem, kInt4Variable}, Terminator::kEnd);

// OPEN with text keywords, as CONVERT opens its input.
int open_unit(std::int32_t unit, const std::vector<testsupport::UnitKeyword>& keys) {
  return testsupport::open_unit(unit, kFlagsErrBranch, keys);
}

int open_input(std::int32_t unit, const std::string& path, const char* form = "formatted") {
  return open_unit(unit, {{kKeyFile, path}, {kKeyStatus, "old"}, {kKeyForm, form}});
}

// Writes `content` to the file `path`, then connects `unit` to it for input.
int open_input_holding(std::int32_t unit, const std::string& path, const std::string& content,
                       const char* form = "formatted") {
  testsupport::write_file(path, content);
  return open_input(unit, path, form);
}

void close_unit(std::int32_t unit) {
  testsupport::close_unit(unit, kFlagsNoBranch);
}

using testsupport::UnitCloser;

// One read statement with (A) into a text of `length` characters.
int read_a(std::int32_t unit, std::uint32_t flags, std::string* text, std::int32_t length = kLine) {
  std::string buf(static_cast<std::size_t>(length), '#');
  IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(length), IoArg::address(buf.data())};
  const int r = for_read_seq_fmt(&cb, unit, flags, kTextEnd, args, kFormatA);
  *text = buf;
  return r;
}

// Expected outcome of one read: a status and, for 0, the record's text
// (compared as read into 80 characters: cut or blank-padded).
struct Read {
  int status;
  std::string text;
};

Read rec(std::string text) {
  text.resize(kLine, ' ');
  return {0, text};
}
const Read kEof{-1, ""};

void expect_reads(std::int32_t unit, std::uint32_t flags, const std::vector<Read>& reads) {
  for (std::size_t i = 0; i < reads.size(); ++i) {
    std::string got;
    const int r = read_a(unit, flags, &got);
    ASSERT_EQ(r, reads[i].status) << "read " << i;
    if (r == 0) {
      EXPECT_EQ(got, reads[i].text) << "read " << i;
    }
  }
}

struct Case {
  std::string name;
  std::string content;
  std::vector<Read> reads;  // one more read after these must be end of file
};

// `count` lines of `width` bytes plus LF whose first characters number them,
// so a lost, doubled or shifted record shows; then `tail`, read as
// `tail_reads`.
Case numbered_lines_then(std::string name, int count, int width, const std::string& tail,
                         const std::vector<Read>& tail_reads) {
  Case c{std::move(name), "", {}};
  for (int i = 0; i < count; ++i) {
    char head[16];
    std::snprintf(head, sizeof head, "%06d", i);
    std::string line(head);
    line.resize(static_cast<std::size_t>(width), static_cast<char>('a' + i % 26));
    c.content += line + "\n";
    c.reads.push_back(rec(line));
  }
  c.content += tail;
  c.reads.insert(c.reads.end(), tail_reads.begin(), tail_reads.end());
  return c;
}

std::string pattern(std::size_t n) {
  std::string s(n, ' ');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + i % 26);
  return s;
}

std::vector<Case> file_cases() {
  std::vector<Case> cases = {
      {"LfLineEnds", "abc\ndef\n", {rec("abc"), rec("def")}},
      {"CrLfLineEnds", "abc\r\ndef\r\n", {rec("abc"), rec("def")}},
      {"LastLineWithoutLf", "abc\ndef", {rec("abc"), rec("def")}},
      {"LastLineCrWithoutLf", "abc\r\ndef\r", {rec("abc"), rec("def")}},
      {"EmptyLinesAreBlank", "\n\r\nx\n", {rec(""), rec(""), rec("x")}},
      {"OnlyOneCrDropped", "ab\r\r\n", {rec("ab\r")}},
      {"CrInsideLineIsData", "a\rb\n", {rec("a\rb")}},
      {"TabsAndControlBytesAreData", "a\tb\x01\x7f\n", {rec("a\tb\x01\x7f")}},
      {"LongLineCutNextLineFollows", pattern(200) + "\nnext\n", {rec(pattern(80)), rec("next")}},
      {"CtrlZLineIsEndOfFileThenReadingGoesOn", "one\n\x1a\ntwo\n", {rec("one"), kEof, rec("two")}},
      {"CtrlZWithCrLf", "\x1a\r\nafter\r\n", {kEof, rec("after")}},
      {"CtrlZAtEndWithoutLf", "one\n\x1a", {rec("one"), kEof}},
      {"CtrlZWithOtherBytesIsData", "\x1a\x1a\nz\x1a\n", {rec("\x1a\x1a"), rec("z\x1a")}},
      {"EmptyFile", "", {}},
      {"LineLongerThanBuffer", pattern(300000) + "\nnext\n", {rec(pattern(80)), rec("next")}},
      {"LongLastLineWithoutLf", pattern(300000), {rec(pattern(80))}},
  };

  // 655 lines of 100 bytes fill 65500 bytes of the first 64 KiB read block.
  cases.push_back(numbered_lines_then("LastLineWithoutLfEndsOnBlockBoundary", 655, 99, pattern(36),
                                      {rec(pattern(36))}));
  cases.push_back(numbered_lines_then("LastLineWithoutLfEndsOnSecondBlockBoundary", 1310, 99,
                                      pattern(72), {rec(pattern(72))}));
  cases.push_back(numbered_lines_then("LineStraddlesBlockBoundary", 655, 99,
                                      pattern(70) + "\nafter\n", {rec(pattern(70)), rec("after")}));
  // The CR is the last byte of the first block, its LF the first of the next.
  cases.push_back(numbered_lines_then("CrLfSplitByBlockBoundary", 655, 99,
                                      pattern(35) + "\r\nafter\r\n",
                                      {rec(pattern(35)), rec("after")}));
  return cases;
}

TEST(RecordReader, FileRecordsWithErrorBranch) {
  for (const Case& c : file_cases()) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    const std::string path = dir.file("in.map");
    ASSERT_EQ(open_input_holding(30, path, c.content), 0);
    UnitCloser closer{30};
    expect_reads(30, kFlagsErrBranch, c.reads);
    expect_reads(30, kFlagsErrBranch, {kEof});
  }
}

// The boundary cases must stay on the boundary they are named after.
TEST(RecordReader, BoundaryCasesSitOnTheReadBlockBoundary) {
  for (const Case& c : file_cases()) {
    const std::string& n = c.name;
    const std::size_t lf = c.content.find('\n', 65500);
    if (n == "LastLineWithoutLfEndsOnBlockBoundary") {
      EXPECT_EQ(c.content.size(), 65536u);
    } else if (n == "LastLineWithoutLfEndsOnSecondBlockBoundary") {
      EXPECT_EQ(c.content.size(), 131072u);
    } else if (n == "LineStraddlesBlockBoundary") {
      EXPECT_EQ(lf, 65570u);
    } else if (n == "CrLfSplitByBlockBoundary") {
      EXPECT_EQ(lf, 65536u);
    }
  }
}

TEST(RecordReader, EndOfFileWithEitherBranchIsMinusOneAndNotRemembered) {
  SKIP_ON_WINDOWS("a connected file is shared for reading only: no other writer can append");
  for (const std::uint32_t flags : {kFlagsErrBranch, kFlagsEndBranch}) {
    SCOPED_TRACE(flags);
    ScratchDir dir;
    const std::string path = dir.file("in.map");
    ASSERT_EQ(open_input_holding(31, path, ""), 0);
    UnitCloser closer{31};
    expect_reads(31, flags, {kEof, kEof});
    // Lines added after end of file was reported are read.
    std::ofstream(path, std::ios::app | std::ios::binary) << "late\nlast";
    expect_reads(31, flags, {rec("late"), rec("last"), kEof, kEof});
  }
}

std::string regex_escape(const std::string& s) {
  std::string out;
  for (char ch : s) {
    if (std::string("\\^$.|?*+()[]{}").find(ch) != std::string::npos) out += '\\';
    out += ch;
  }
  return out;
}

TEST(RecordReaderDeathTest, EndOfFileWithoutBranchIsSevere24) {
  ScratchDir dir;
  const std::string path = dir.file("empty.map");
  testsupport::write_file(path, "");
  EXPECT_EXIT(
      {
        open_input(32, path);
        std::string text;
        read_a(32, kFlagsNoBranch, &text);
        std::_Exit(100);
      },
      testing::ExitedWithCode(24),
      "^forrtl: severe \\(24\\): end-of-file during read, unit 32, file " + regex_escape(path) +
          "\r\n");
}

TEST(RecordReader, FormattedReadOfUnformattedUnitIs31WithErrorBranch) {
  ScratchDir dir;
  const std::string path = dir.file("map.bin");
  ASSERT_EQ(open_input_holding(33, path, "abc\n", "unformatted"), 0);
  UnitCloser closer{33};
  expect_reads(33, kFlagsErrBranch, {{31, ""}});
}

TEST(RecordReaderDeathTest, FormattedReadOfUnformattedUnitWithoutBranchShows257) {
  ScratchDir dir;
  const std::string path = dir.file("map.bin");
  testsupport::write_file(path, "abc\n");
  EXPECT_EXIT(
      {
        open_input(33, path, "unformatted");
        std::string text;
        read_a(33, kFlagsNoBranch, &text);
        std::_Exit(100);
      },
      testing::ExitedWithCode(257 & 0xFF),
      "^forrtl: severe \\(257\\): formatted I/O to unit open for unformatted transfers, unit 33, "
      "file " +
          regex_escape(path) + "\r\n");
}

// The large read block only saves calls: short of memory for it, records
// are read with the buffer of the connection.
TEST(RecordReader, ReadBlockThatCannotBeAllocatedStillReads) {
  ScratchDir dir;
  const std::string path = dir.file("short.map");
  ASSERT_EQ(open_input_holding(35, path, "one\ntwo\n"), 0);
  UnitCloser closer{35};
  rt::for__set_vm_limit(10000);
  std::string first, second;
  const int r1 = read_a(35, kFlagsErrBranch, &first);
  const int r2 = read_a(35, kFlagsErrBranch, &second);
  rt::for__set_vm_limit(0);
  EXPECT_EQ(r1, 0);
  EXPECT_EQ(r2, 0);
  EXPECT_EQ(first.substr(0, 4), "one ");
  EXPECT_EQ(second.substr(0, 4), "two ");
}

// A statement whose text takes the whole long record needs it in memory.
TEST(RecordReader, RecordBufferThatCannotGrowIs22) {
  ScratchDir dir;
  const std::string path = dir.file("long.map");
  ASSERT_EQ(open_input_holding(35, path, pattern(300000) + "\n"), 0);
  UnitCloser closer{35};
  rt::for__set_vm_limit(100000);
  std::string text;
  const int r = read_a(35, kFlagsErrBranch, &text, 300000);
  rt::for__set_vm_limit(0);
  EXPECT_EQ(r, 22);
}

// Of a record longer than its statement can use only that much is kept;
// the rest is counted, so the length stays known and memory stays bounded
// by a read block, however long the line.
TEST(RecordReader, OnlyWhatTheStatementUsesIsKept) {
  constexpr std::size_t kKeep = 80;
  constexpr std::size_t kBound = 64 * 1024 + 1024;  // a read block and the unit's slack
  const std::string long_line = pattern(300000);
  struct Case {
    const char* name;
    std::string content;
    std::vector<std::pair<msg::Id, std::string>> records;
  };
  const Case cases[] = {
      {"LongLineThenNext", long_line + "\nnext\n", {{0, long_line}, {0, "next"}}},
      {"LongLineWithCrLf", long_line + "\r\nnext\r\n", {{0, long_line}, {0, "next"}}},
      {"CrInsideTheDroppedPart",
       long_line + "\r" + long_line + "\n",
       {{0, long_line + "\r" + long_line}}},
      {"LongLastLine", long_line, {{0, long_line}, {msg::kEndOfFile, ""}}},
      {"ShortLines", "a\nbc\n", {{0, "a"}, {0, "bc"}}},
      {"EndOfFileMarkerKept", "\x1A\n", {{msg::kEndOfFile, ""}}},
  };
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(open_input_holding(37, dir.file("long.map"), c.content), 0);
    UnitCloser closer{37};
    UnitBlock* u = for__find_unit_block(37);
    for (const auto& [result, text] : c.records) {
      EXPECT_EQ(for__get_su(u, kMaxRecordLength, kKeep), result);
      const std::size_t kept = u->position.rec_end - u->position.rec_start;
      EXPECT_EQ(kept + u->position.rec_beyond, text.size());
      EXPECT_GE(kept, std::min(kKeep, text.size()));
      EXPECT_EQ(
          std::string(u->position.buffer.data() + u->position.rec_start, std::min(kept, kKeep)),
          text.substr(0, std::min(kept, kKeep)));
    }
    EXPECT_LE(u->position.buffer.size(), kBound);
  }
  // An endless line ends at the record bound, in a buffer of a read block.
  ASSERT_EQ(open_input(37, "/dev/zero"), 0);
  UnitCloser closer{37};
  EXPECT_EQ(for__get_su(for__find_unit_block(37), 1u << 24, kKeep), msg::kRecordTooLong);
  EXPECT_LE(for__find_unit_block(37)->position.buffer.size(), kBound);
}

// The count of characters a text item left over includes those not kept.
TEST(RecordReader, RemainingCountIncludesWhatWasNotKept) {
  ScratchDir dir;
  const std::string path = dir.file("long.map");
  ASSERT_EQ(open_input_holding(38, path, pattern(300000) + "\r\n"), 0);
  UnitCloser closer{38};
  rt::for__set_vm_limit(100000);
  std::string text(kLine, '#');
  std::int32_t left = -1;
  const IoArg args[] = {IoArg::val(kLine), IoArg::address(text.data()), IoArg::address(&left)};
  IoControlBlock cb{};
  const int r =
      for_read_seq_fmt(&cb, 38, kFlagsErrBranch, kRecordIntEnd, args, kFormatAWithRemaining);
  rt::for__set_vm_limit(0);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(text, pattern(300000).substr(0, kLine));
  EXPECT_EQ(left, 300000 - kLine);
}

// A record longer than the limit is 22 and never buffered whole: the exact
// bound with a small limit, and an endless line from /dev/zero.
TEST(RecordReader, RecordLongerThanTheLimitIs22) {
  constexpr std::size_t kLimit = 100000;  // beyond the first read block
  const std::string at_limit = pattern(kLimit);
  struct Limited {
    const char* name;
    std::string content;
    std::vector<std::pair<msg::Id, std::size_t>> reads;  // result, record length
  };
  const Limited cases[] = {
      {"LfAtTheLimit", at_limit + "\nnext\n", {{0, kLimit}, {0, 4}}},
      {"CrLfAtTheLimit", at_limit + "\r\nnext\n", {{0, kLimit}, {0, 4}}},
      {"LastLineAtTheLimit", at_limit, {{0, kLimit}, {msg::kEndOfFile, 0}}},
      {"OneByteMoreThenNextLine", at_limit + "x\nnext\n", {{msg::kRecordTooLong, 0}, {0, 4}}},
      {"OneByteMoreAtTheEnd", at_limit + "x", {{msg::kRecordTooLong, 0}, {msg::kEndOfFile, 0}}},
  };
  ScratchDir dir;
  for (const Limited& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(open_input_holding(36, dir.file("limited.map"), c.content), 0);
    UnitCloser closer{36};
    UnitBlock* u = for__find_unit_block(36);
    for (const auto& [result, length] : c.reads) {
      EXPECT_EQ(for__get_su(u, kLimit), result);
      EXPECT_EQ(u->position.rec_end - u->position.rec_start, length);
    }
    EXPECT_LE(u->position.buffer.size(), kLimit + 2);
  }
  ASSERT_EQ(open_input(36, "/dev/zero"), 0);
  UnitCloser closer{36};
  EXPECT_EQ(for__get_su(for__find_unit_block(36), kLimit), msg::kRecordTooLong);
  EXPECT_LE(for__find_unit_block(36)->position.buffer.size(), kLimit + 2);
}

// Points file descriptor 0 at `fd` (taking it over) for the life of the
// object. Unit 5 is closed on the way out so the next use connects afresh.
class StdinRedirect {
 public:
  explicit StdinRedirect(int fd) : saved_(::dup(0)) {
    ::dup2(fd, 0);
    ::close(fd);
  }
  ~StdinRedirect() {
    close_unit(5);
    ::dup2(saved_, 0);
    ::close(saved_);
  }
  StdinRedirect(const StdinRedirect&) = delete;
  StdinRedirect& operator=(const StdinRedirect&) = delete;

 private:
  int saved_;
};

std::string drain(int fd) {
  std::string out;
  char buf[4096];
  for (long n; (n = ::read(fd, buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  return out;
}

TEST(RecordReader, FailedPlatformReadIs39) {
  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  ::close(p[0]);
  // Standard input that refuses to be read: the write end of a pipe.
  StdinRedirect redirect(p[1]);
  expect_reads(5, kFlagsErrBranch, {{39, ""}});
}

struct StdinCase {
  const char* name;
  bool from_file;  // standard input redirected from a file instead of a pipe
  std::string input;
  std::vector<Read> reads;
  std::string left;  // bytes still unread on standard input afterwards
};

TEST(RecordReader, StandardInputTakesNothingBeyondTheLine) {
  const std::vector<StdinCase> cases = {
      {"PipeLineThenMore", false, "in.map\nout.map\n", {rec("in.map")}, "out.map\n"},
      {"FileLineThenMore", true, "in.map\nout.map\n", {rec("in.map")}, "out.map\n"},
      {"FileCtrlZ", true, "\x1a\nnext\n", {kEof}, "next\n"},
      {"FileLastLineWithoutLf", true, "in.map\nlast", {rec("in.map"), rec("last"), kEof}, ""},
      {"FileLineLongerThanReadBlock",
       true,
       pattern(300000) + "\nnext\nmore\n",
       {rec(pattern(80)), rec("next")},
       "more\n"},
      {"CrLfAnswer", false, "in.map\r\nrest", {rec("in.map")}, "rest"},
      {"EmptyAnswer", false, "\nrest", {rec("")}, "rest"},
      {"LastLineWithoutLf", false, "in.map\nlast", {rec("in.map"), rec("last"), kEof}, ""},
      {"AnswerEndedByEndOfFile", false, "typed", {rec("typed"), kEof, kEof}, ""},
      {"NoInput", false, "", {kEof}, ""},
      {"CtrlZ", false, "\x1a\nnext\n", {kEof}, "next\n"},
      {"LineLongerThanInitialBuffer",
       false,
       pattern(20000) + "\nnext\n",
       {rec(pattern(80))},
       "next\n"},
  };
  for (const StdinCase& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    int fd = -1;
    if (c.from_file) {
      const std::string path = dir.file("answers.txt");
      testsupport::write_file(path, c.input);
      fd = ::open(path.c_str(), O_RDONLY);
    } else {
      int p[2];
      ASSERT_EQ(::pipe(p), 0);
      ASSERT_EQ(::write(p[1], c.input.data(), c.input.size()), static_cast<long>(c.input.size()));
      ::close(p[1]);
      fd = p[0];
    }
    ASSERT_GE(fd, 0);
    StdinRedirect redirect(fd);
    expect_reads(5, kFlagsEndBranch, c.reads);
    // A file gets back what was read beyond the last record when the unit closes.
    close_unit(5);
    EXPECT_EQ(drain(0), c.left);
  }
}

}  // namespace
}  // namespace recio
