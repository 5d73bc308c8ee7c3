// The start of a statement: what it refuses before any byte moves, and where
// a write after a read lands.
#include "recio/statement.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "recio/format.h"
#include "recio/io_api.h"
#include "rt/memory.h"
#include "support/test_files.h"
#include "support/units.h"

namespace recio {
namespace {

using testsupport::read_file;
using testsupport::ScratchDir;
using testsupport::write_file;

constexpr std::int32_t kUnit = 44;
using namespace testsupport::statements;

using Keyword = testsupport::UnitKeyword;

int open_unit(const std::vector<Keyword>& keywords) {
  return testsupport::open_unit(kUnit, kFlagsErrBranch, keywords);
}

int close_unit() {
  return testsupport::close_unit(kUnit, kFlagsErrBranch);
}

int write_line(std::string_view text) {
  const IoArg args[] = {IoArg::val(static_cast<std::int64_t>(text.size())),
                        IoArg::address(text.data())};
  IoControlBlock cb{};
  return for_write_seq_lis(&cb, kUnit, kFlagsErrBranch, kTextEnd, args);
}

int read_line() {
  char line[80];
  const IoArg args[] = {IoArg::val(80), IoArg::address(line)};
  IoControlBlock cb{};
  return for_read_seq_fmt(&cb, kUnit, kFlagsErrBranch, kTextEnd, args, kFormatA);
}

// An internal write of one text into `record`.
int internal_write(IoControlBlock* cb, std::string* record, std::string_view text,
                   Descriptor desc) {
  const IoArg args[] = {
      IoArg::val(static_cast<std::int64_t>(record->size())), IoArg::address(record->data()),
      IoArg::val(static_cast<std::int64_t>(text.size())), IoArg::address(text.data())};
  return for_write_int_lis(cb, kFlagsErrBranch, desc, args);
}

TEST(Statement, SequentialWritesRefusedAtTheStartChangeNothing) {
  ScratchDir dir;
  const std::string path = dir.file("kept.txt");
  struct Case {
    const char* name;
    std::vector<Keyword> open;  // empty: the unit is connected by default
    const char* fort;           // FORTn for the default connection
    int status;
  };
  const Case cases[] = {
      {"ReadOnlyUnit", {{kKeyFile, path}, {kKeyAction, "read"}}, nullptr, 47},
      {"UnformattedUnit", {{kKeyFile, path}, {kKeyForm, "unformatted"}}, nullptr, 31},
      {"DefaultConnectionFails", {}, "missing/fort.44", 29},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(path, "old line\n");
    if (c.fort != nullptr) ::setenv("FORT44", dir.file(c.fort).c_str(), 1);
    if (!c.open.empty()) {
      ASSERT_EQ(open_unit(c.open), 0);
    }
    EXPECT_EQ(write_line("new"), c.status);
    const UnitBlock* u = for__find_unit_block(kUnit);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->busy, 0u);
    EXPECT_EQ(u->connected, !c.open.empty());
    EXPECT_EQ(close_unit(), 0);
    ::unsetenv("FORT44");
    EXPECT_EQ(read_file(path), "old line\n");
  }
}

// A write after a read starts where the record read ended: what was read
// ahead is given back first, and the records after it are replaced.
TEST(Statement, WriteAfterReadLandsAfterTheRecordRead) {
  ScratchDir dir;
  const std::string path = dir.file("mixed.txt");
  struct Case {
    const char* name;
    bool seek_fails;
    int status;
    std::string after;
  };
  const Case cases[] = {
      {"Lands", false, 0, "first\n second\r\n"},
      {"GivingBackFailsIs38", true, 38, "first\nold 2\nold 3\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(path, "first\nold 2\nold 3\n");
    ASSERT_EQ(open_unit({{kKeyFile, path}}), 0);
    ASSERT_EQ(read_line(), 0);
    if (c.seek_fails)
      plat::inject_failure(plat::Operation::kSeek, 1, 1,
                           plat::failure_code(plat::FailureMeaning::kIoError));
    EXPECT_EQ(write_line("second"), c.status);
    plat::inject_failure(plat::Operation::kSeek, 0, 0, 0);
    EXPECT_EQ(close_unit(), 0);
    EXPECT_EQ(read_file(path), c.after);
  }
}

// Internal statements nest (up to the depth of the internal stack); each
// needs its record as the first entry and room to copy it.
TEST(Statement, InternalStatementsRefusedAtTheStart) {
  constexpr auto kNumberFirst = item_descriptor({kInt4Value, kTextItem}, Terminator::kEnd);
  constexpr auto kUnknownMode =
      item_descriptor({{kTypeChar, PassMode{0x07}}, kTextItem}, Terminator::kEnd);
  struct Case {
    const char* name;
    int outer;  // statements left open around this one
    bool no_memory;
    Descriptor desc;
    std::size_t length;
    int status;
  };
  const Case cases[] = {
      {"Alone", 0, false, kRecordTextEnd, 80, 0},
      {"Nested", 1, false, kRecordTextEnd, 80, 0},
      {"DeepestNesting", kInternalDepth - 1, false, kRecordTextEnd, 80, 0},
      {"BeyondTheStack", kInternalDepth, false, kRecordTextEnd, 80, 41},
      {"RecordIsNotText", 0, false, kNumberFirst, 80, 48},
      {"RecordPassedInAnUnknownWay", 0, false, kUnknownMode, 80, 48},
      {"NoMemoryForTheCopy", 0, true, kRecordTextEnd, 1u << 20, 41},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> held(static_cast<std::size_t>(c.outer), std::string(4, '#'));
    std::vector<IoControlBlock> holders(held.size());
    for (std::size_t i = 0; i < held.size(); ++i)
      ASSERT_EQ(internal_write(&holders[i], &held[i], "a", kRecordTextMore), 0);
    std::string record(c.length, '#');
    if (c.no_memory) rt::for__inject_vm_failure(1, UINT64_MAX);
    IoControlBlock cb{};
    const int r = internal_write(&cb, &record, "text", c.desc);
    rt::for__inject_vm_failure(0, 0);
    EXPECT_EQ(r, c.status);
    EXPECT_EQ(cb.unit, nullptr);
    EXPECT_EQ(record, c.status == 0 ? " text" + std::string(c.length - 5, ' ')
                                    : std::string(c.length, '#'));
    // The outer statements finish undisturbed, innermost first.
    for (std::size_t i = held.size(); i-- > 0;) {
      EXPECT_EQ(for_write_int_lis_xmit(&holders[i], kEnd, {}), 0);
      EXPECT_EQ(held[i], " a  ");
    }
    EXPECT_EQ(for__internal_depth(), 0);
  }
}

}  // namespace
}  // namespace recio
