// The one end of a failed statement: the same outcome whether the statement
// obtained its unit or not, and the writer's state of a statement read only
// by that statement.
#include "recio/statement_flags.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "recio/io_api.h"
#include "recio/io_return.h"
#include "recio/record_io.h"
#include "recio/unit_table.h"
#include "support/test_files.h"
#include "support/units.h"

namespace recio {
namespace {

TEST(StatementFlags, OutcomeIsTheSameWithAndWithoutAUnit) {
  struct Case {
    const char* name;
    std::uint32_t flags;
    msg::Id id;
    int result;
  };
  const Case cases[] = {
      {"ErrorCheckReturnsTheNumber", kFlagsErrBranch, msg::kRecursiveIo, 40},
      {"ErrorCheckOnInvalidUnit", kFlagsErrBranch, msg::kInvalidUnit, 32},
      {"ErrorCheckTurnsEndOfFileIntoMinusOne", kFlagsErrBranch, msg::kEndOfFile, -1},
      {"EndBranchTakesEndOfFile", kFlagsEndBranch, msg::kEndOfFile, -1},
      {"EndOfRecordBranch", kFlagEorBranch, msg::kEndOfRecord, -2},
      {"ConversionErrorsAsStatus", kFlagOutConvStatus, msg::kOutputConversion, 63},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int status = msg::number(c.id);
    EXPECT_EQ(StatementFlags(c.flags).finish_failed(c.id, status, 33, nullptr, kUnitLeave),
              c.result);
    UnitBlock u;
    u.unit = 33;
    u.statement.flags = c.flags;
    EXPECT_EQ(for__io_return(kUnitLeave, c.id, status, &u), c.result);
  }
}

// A unit taken at termination while a statement holds it: only a write
// statement's own unfinished record is cut from the file.
TEST(StatementFlags, UnfinishedRecordIsCutOnlyForTheWriteThatHoldsTheUnit) {
  constexpr std::int32_t kUnit = 47;
  struct Case {
    const char* name;
    StatementKind holder;
    long size_after;
  };
  const Case cases[] = {
      {"WriteCutsItsRecord", StatementKind::kWriteUnformatted, 0},
      {"ReadKeepsTheFile", StatementKind::kReadUnformatted, 8},
      {"OpenKeepsTheFile", StatementKind::kOpen, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::ScratchDir dir;
    const std::string path = dir.file("held.unf");
    ASSERT_EQ(testsupport::open_unit(kUnit, kFlagsErrBranch,
                                     {{kKeyFile, path}, {kKeyForm, "unformatted"}}),
              0);
    UnitBlock* u = for__find_unit_block(kUnit);
    ASSERT_NE(u, nullptr);
    int err = 0;
    ASSERT_TRUE(plat::write_bytes(u->connection.handle, "8 bytes.", 8, &err));
    // What an earlier statement's record in direct-write mode left behind.
    u->statement.writer.direct_write = true;
    u->statement.writer.rec_file_pos = 0;
    u->statement.kind = c.holder;
    for__discard_unfinished_record(u);
    u->statement.kind = StatementKind::kNone;
    ASSERT_EQ(testsupport::close_unit(kUnit, kFlagsErrBranch), 0);
    std::FILE* f = std::fopen(path.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    std::fseek(f, 0, SEEK_END);
    EXPECT_EQ(std::ftell(f), c.size_after);
    std::fclose(f);
  }
}

}  // namespace
}  // namespace recio
