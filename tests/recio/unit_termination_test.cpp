// The walk at the end of the process: every unit closed, a close failure
// reported with the unit it belongs to.
#include "recio/unit_termination.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"
#include "recio/io_api.h"
#include "recio/unit_table.h"
#include "support/test_files.h"
#include "support/units.h"

namespace recio {
namespace {

int open_and_write(std::int32_t unit, const std::string& path) {
  if (int r = testsupport::open_unit(unit, kFlagsErrBranch,
                                     {{kKeyFile, path}, {kKeyForm, "unformatted"}}))
    return r;
  const IoArg args[] = {IoArg::val(4), IoArg::address("data")};
  IoControlBlock cb{};
  return for_write_seq(&cb, unit, kFlagsErrBranch, testsupport::statements::kTextEnd, args);
}

TEST(UnitTerminationDeathTest, CloseFailureIsSevere28NamingTheUnit) {
  testsupport::ScratchDir dir;
  const std::string path = dir.file("first.unf");
  EXPECT_EXIT(
      {
        if (open_and_write(46, path) != 0) std::exit(100);
        plat::inject_failure(plat::Operation::kClose, 1, 1,
                             plat::failure_code(plat::FailureMeaning::kIoError));
        for__close_all_units(false);
        std::exit(101);
      },
      testing::ExitedWithCode(28),
      "^forrtl: severe \\(28\\): CLOSE error, unit 46, file .*first\\.unf\r\n");
  // What a failed close may have lost never takes the file's name.
  EXPECT_FALSE(testsupport::file_exists(path));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace
}  // namespace recio
