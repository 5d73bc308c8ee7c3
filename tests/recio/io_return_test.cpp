// What a failed statement leaves of its unit, by the disposition it names.
#include "recio/io_return.h"

#include <gtest/gtest.h>

#include <string>

#include "recio/io_api.h"
#include "recio/unit_table.h"
#include "support/test_files.h"
#include "support/units.h"

namespace recio {
namespace {

constexpr std::int32_t kUnit = 45;

int open_unit(const std::string& path) {
  return testsupport::open_unit(kUnit, kFlagsErrBranch, {{kKeyFile, path}});
}

int close_unit() {
  return testsupport::close_unit(kUnit, kFlagsErrBranch);
}

TEST(IoReturn, DispositionsOfTheUnit) {
  struct Case {
    const char* name;
    int disposition;
    bool held, connected;
  };
  const Case cases[] = {
      {"Leave", kUnitLeave, true, true},
      {"Release", kUnitRelease, false, true},
      {"Reset", kUnitReset, false, false},
      {"Close", kUnitClose, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::ScratchDir dir;
    const std::string path = dir.file("unit.txt");
    testsupport::write_file(path, "kept\n");
    ASSERT_EQ(open_unit(path), 0);
    UnitBlock* u = nullptr;
    ASSERT_EQ(for__acquire_lun(kUnit, &u, nullptr, StatementKind::kWriteList), 0);
    u->statement.flags = kFlagsErrBranch;
    EXPECT_EQ(for__io_return(c.disposition, msg::kReadError, 39, u), 39);
    EXPECT_EQ(u->busy != 0, c.held);
    EXPECT_EQ(u->connected, c.connected);
    // Closed or not, the file keeps its contents.
    if (c.held) for__release_lun(u);
    EXPECT_EQ(close_unit(), 0);
    EXPECT_EQ(testsupport::read_file(path), "kept\n");
  }
}

TEST(IoReturnDeathTest, UnknownDispositionIsAnInternalError) {
  EXPECT_EXIT(
      {
        UnitBlock* u = nullptr;
        for__acquire_lun(kUnit, &u, nullptr, StatementKind::kWriteList);
        u->statement.flags = kFlagsErrBranch;
        for__io_return(7, msg::kReadError, 39, u);
      },
      testing::ExitedWithCode(8),
      "^forrtl: severe \\(8\\): internal consistency check failure, file .*io_return.cpp, line "
      ".+\r\n");
}

}  // namespace
}  // namespace recio
