// The POSIX layer keeps files off the standard descriptors even when one is
// closed after start-up (the closed-at-start case runs end to end).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "platform/platform.h"
#include "support/test_files.h"

namespace {

TEST(Platform, OpenNeverTakesAStandardDescriptor) {
  testsupport::ScratchDir dir;
  const int saved = ::dup(STDIN_FILENO);  // the test runner needs only 1 and 2
  ::close(STDIN_FILENO);
  const plat::OpenResult r = plat::open_file(dir.file("data.txt").c_str(), plat::Access::kReadWrite,
                                             plat::Disposition::kOpenAlways);
  const bool still_closed = ::fcntl(STDIN_FILENO, F_GETFD) == -1;
  ::dup2(saved, STDIN_FILENO);
  ::close(saved);
  EXPECT_GT(r.handle, STDERR_FILENO);
  EXPECT_TRUE(still_closed);
  if (r.handle != plat::kInvalidHandle) ::close(r.handle);
}

}  // namespace
