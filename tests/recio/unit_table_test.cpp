#include "recio/unit_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <string>
#include <vector>

#include "recio/io_api.h"
#include "rt/memory.h"
#include "support/test_files.h"
#include "support/units.h"

namespace {

using recio::for__acquire_lun;
using recio::for__deallocate_lub;
using recio::for__find_unit_block;
using recio::for__get_next_lub;
using recio::for__release_lun;
using recio::IoArg;
using recio::IoControlBlock;
using recio::StatementKind;
using recio::UnitBlock;
using recio::UnitTableCursor;

using namespace testsupport::statements;

// Creates the block of `unit` through an acquire and ends the hold at once.
UnitBlock* touch(std::int32_t unit) {
  UnitBlock* u = nullptr;
  EXPECT_EQ(for__acquire_lun(unit, &u, nullptr, StatementKind::kOpen), 0u) << unit;
  for__release_lun(u);
  return u;
}

// The units of `mine` that a full walk visits, in walk order; other tests may
// leave blocks of their own in the process-wide table.
std::vector<std::int32_t> walk(const std::vector<std::int32_t>& mine, bool free_each) {
  std::vector<std::int32_t> seen;
  UnitTableCursor cursor;
  while (UnitBlock* u = for__get_next_lub(&cursor)) {
    const std::int32_t unit = u->unit;
    if (std::find(mine.begin(), mine.end(), unit) == mine.end()) continue;
    seen.push_back(unit);
    if (free_each) for__deallocate_lub(unit);
  }
  return seen;
}

TEST(UnitTable, BlocksAreFoundAgainAndFreed) {
  // Edges of the direct slots, chain members sharing a chain ((unit + 5) % 521
  // is 105 for 100, 621 and 1142) and the largest units.
  const std::int32_t units[] = {-4, -1, 0, 99, 100, 621, 1142, 1000, INT32_MAX - 1, INT32_MAX};
  for (std::int32_t unit : units) {
    SCOPED_TRACE(unit);
    ASSERT_EQ(for__find_unit_block(unit), nullptr);
    UnitBlock* u = touch(unit);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->unit, unit);
    EXPECT_EQ(u->busy, 0u);
    EXPECT_FALSE(u->connected);
    EXPECT_EQ(for__find_unit_block(unit), u);
  }
  // Every block is still its own after the others were created around it.
  for (std::int32_t unit : units) EXPECT_EQ(for__find_unit_block(unit)->unit, unit);
  // Freeing a chain member in the middle leaves its neighbours in place.
  for__deallocate_lub(621);
  EXPECT_EQ(for__find_unit_block(621), nullptr);
  EXPECT_EQ(for__find_unit_block(100)->unit, 100);
  EXPECT_EQ(for__find_unit_block(1142)->unit, 1142);
  for (std::int32_t unit : units) {
    for__deallocate_lub(unit);
    EXPECT_EQ(for__find_unit_block(unit), nullptr) << unit;
  }
}

// Without memory for a block (or a chain entry) the unit is 41 and stays
// unknown; the next attempt finds memory again.
TEST(UnitTable, BlockThatCannotBeAllocatedIs41) {
  struct Case {
    std::int32_t unit;
    std::uint64_t failing;  // which of the allocations of the acquire fails
  };
  const Case cases[] = {{7, 1}, {100, 1}, {100, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit);
    rt::for__inject_vm_failure(c.failing, c.failing);
    UnitBlock* u = nullptr;
    EXPECT_EQ(for__acquire_lun(c.unit, &u, nullptr, StatementKind::kOpen), msg::kNoMemory);
    EXPECT_EQ(u, nullptr);
    EXPECT_EQ(for__find_unit_block(c.unit), nullptr);
    EXPECT_EQ(walk({c.unit}, false), std::vector<std::int32_t>{});
    EXPECT_EQ(touch(c.unit)->unit, c.unit);
    rt::for__inject_vm_failure(0, 0);
    for__deallocate_lub(c.unit);
  }
}

TEST(UnitTable, WalkVisitsSlotsInUnitOrderThenChainsInChainOrder) {
  // Created out of order. Chains: 520 -> 4, 100/621/1142 -> 105, 104 -> 109,
  // INT32_MAX - 1 -> 322, INT32_MAX -> 323, 1000 -> 484.
  const std::vector<std::int32_t> mine = {1142, 99, 1000, INT32_MAX, 621,          -4,
                                          104,  47, 520,  100,       INT32_MAX - 1};
  for (std::int32_t unit : mine) touch(unit);
  const std::vector<std::int32_t> order = {
      -4, 47, 99, 520, 100, 621, 1142, 104, INT32_MAX - 1, INT32_MAX, 1000};
  EXPECT_EQ(walk(mine, false), order);
  // Freeing each block as the walk returns it neither skips nor repeats one.
  EXPECT_EQ(walk(mine, true), order);
  for (std::int32_t unit : mine) EXPECT_EQ(for__find_unit_block(unit), nullptr) << unit;
  EXPECT_TRUE(walk(mine, false).empty());
}

TEST(UnitTable, WalkSurvivesFreeingALaterChainMember) {
  const std::vector<std::int32_t> mine = {100, 621, 1142};
  for (std::int32_t unit : mine) touch(unit);
  std::vector<std::int32_t> seen;
  UnitTableCursor cursor;
  while (UnitBlock* u = for__get_next_lub(&cursor)) {
    if (std::find(mine.begin(), mine.end(), u->unit) == mine.end()) continue;
    seen.push_back(u->unit);
    if (u->unit == 100) {
      for__deallocate_lub(100);
      for__deallocate_lub(621);  // not visited yet: the walk must not see it
    }
  }
  EXPECT_EQ(seen, (std::vector<std::int32_t>{100, 1142}));
  for__deallocate_lub(1142);
}

TEST(UnitTable, HeldUnitRefusesASecondHold) {
  for (std::int32_t unit : {40, 700, INT32_MAX}) {
    SCOPED_TRACE(unit);
    IoControlBlock cb{};
    UnitBlock* u = nullptr;
    ASSERT_EQ(for__acquire_lun(unit, &u, &cb, StatementKind::kWriteUnformatted), 0u);
    EXPECT_EQ(cb.unit, u);
    EXPECT_EQ(u->busy, 1u);
    EXPECT_EQ(u->statement.kind, StatementKind::kWriteUnformatted);

    IoControlBlock cb2{};
    UnitBlock* again = nullptr;
    EXPECT_EQ(for__acquire_lun(unit, &again, &cb2, StatementKind::kOpen), msg::kRecursiveIo);
    EXPECT_EQ(again, nullptr);
    EXPECT_EQ(cb2.unit, nullptr);
    EXPECT_EQ(u->statement.kind, StatementKind::kWriteUnformatted);  // the holder is untouched

    for__release_lun(u);
    ASSERT_EQ(for__acquire_lun(unit, &again, &cb2, StatementKind::kOpen), 0u);
    EXPECT_EQ(again, u);
    for__release_lun(again);
    for__deallocate_lub(unit);
  }
}

TEST(UnitTable, UnitsBelowMinusFiveAreInvalid) {
  for (std::int32_t unit : {-6, -100, INT32_MIN}) {
    UnitBlock* u = reinterpret_cast<UnitBlock*>(&unit);
    EXPECT_EQ(for__acquire_lun(unit, &u, nullptr, StatementKind::kOpen), msg::kInvalidUnit);
    EXPECT_EQ(u, nullptr);
  }
  // -5 is the internal unit: a block for the statement, never in the table.
  UnitBlock* u = nullptr;
  ASSERT_EQ(for__acquire_lun(-5, &u, nullptr, StatementKind::kInternalRead), 0u);
  EXPECT_EQ(u->unit, -5);
  for__release_lun(u);
  EXPECT_EQ(for__find_unit_block(-5), nullptr);
}

TEST(UnitTable, StatementsOnABadOrHeldUnitReturnTheirNumber) {
  testsupport::ScratchDir dir;
  const std::string path = dir.file("held.dat");
  const std::int32_t unit = 41;

  ASSERT_EQ(testsupport::open_unit(unit, recio::kFlagsErrBranch,
                                   {{recio::kKeyFile, path}, {recio::kKeyForm, "unformatted"}}),
            0);
  // A record left open holds the unit until its terminator arrives.
  IoControlBlock writer{};
  ASSERT_EQ(recio::for_write_seq(&writer, unit, recio::kFlagsErrBranch, kMore, {}), 0);

  struct Case {
    const char* what;
    std::int32_t unit;
    int expected;
  };
  const Case cases[] = {{"write, held", unit, 40},
                        {"open, held", unit, 40},
                        {"close, held", unit, 40},
                        {"write, -6", -6, 32},
                        {"open, -7", -7, 32},
                        {"close, INT32_MIN", INT32_MIN, 32},
                        // -5 names internal records only.
                        {"write, -5", -5, 32},
                        {"open, -5", -5, 32},
                        {"close, -5", -5, 32}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    IoControlBlock cb{};
    const std::string what = c.what;
    int r = 0;
    if (what.starts_with("write"))
      r = recio::for_write_seq(&cb, c.unit, recio::kFlagsErrBranch, kEnd, {});
    else if (what.starts_with("open"))
      r = testsupport::open_unit(c.unit, recio::kFlagsErrBranch, {});
    else
      r = testsupport::close_unit(c.unit, recio::kFlagsErrBranch);
    EXPECT_EQ(r, c.expected);
  }
  EXPECT_FALSE(testsupport::file_exists("fort.-5"));
  // The holder finishes its record undisturbed.
  ASSERT_EQ(recio::for_write_seq_xmit(&writer, kEnd, {}), 0);
  UnitBlock* u = for__find_unit_block(unit);
  ASSERT_NE(u, nullptr);
  EXPECT_EQ(u->busy, 0u);
  EXPECT_EQ(testsupport::close_unit(unit, recio::kFlagsErrBranch), 0);
  EXPECT_EQ(testsupport::read_file(path), std::string(8, '\0'));
}

TEST(UnitTableDeathTest, InvalidUnitWithoutErrorCheckEndsTheProcess) {
  // The diagnostic names no file: the statement never obtained a unit block.
  EXPECT_EXIT({ testsupport::open_unit(-6, recio::kFlagsNoBranch, {}); },
              testing::ExitedWithCode(32),
              "forrtl: severe \\(32\\): invalid logical unit number, unit -6, file unknown\r\n");
}

}  // namespace
