#include "platform/platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "support/test_files.h"

namespace {

std::string cwd() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

TEST(FullPath, JoinsAndFoldsLexically) {
  const std::string here = cwd();
  const std::string parent = here.substr(0, here.rfind('/'));
  const std::string deep = "/" + std::string(300, 'd');
  struct Case {
    std::string name;
    std::string expected;  // empty: does not fit, 0 returned
    std::size_t cap = 256;
  };
  const Case cases[] = {
      {"/a/b/c", "/a/b/c"},
      {"//a///b/", "/a/b"},
      {"/a/./b/../c", "/a/c"},
      {"/..", "/"},
      {"/a/..", "/"},
      {"/", "/"},
      {"rel.dat", here + "/rel.dat"},
      {"./x/../y", here + "/y"},
      {"../up", (parent.empty() ? "" : parent) + "/up"},
      {deep, ""},
      {deep + "/..", "/"},
      {"/abcd", "", 5},
      {"/abcd", "/abcd", 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char out[300] = {};
    const std::size_t n = plat::full_path(c.name.c_str(), out, c.cap);
    EXPECT_EQ(n, c.expected.size());
    if (n != 0) {
      EXPECT_EQ(std::string(out), c.expected);
    }
  }
}

// Each kind of handle operation fails on its chosen calls with the chosen
// error, and only there; a failed close has still released the handle.
TEST(FaultInjection, ChosenCallsFailWithTheChosenError) {
  testsupport::ScratchDir dir;
  const std::string path = dir.file("f");
  plat::inject_failure(plat::Operation::kOpen, 2, 2, EMFILE);
  plat::inject_failure(plat::Operation::kWrite, 2, 3, ENOSPC);
  plat::inject_failure(plat::Operation::kSeek, 1, 1, EIO);
  plat::inject_failure(plat::Operation::kSetEndOfFile, 1, UINT64_MAX, EIO);
  plat::inject_failure(plat::Operation::kRead, 1, 1, EIO);
  plat::inject_failure(plat::Operation::kClose, 1, 1, EIO);

  const plat::OpenResult h =
      plat::open_file(path.c_str(), plat::Access::kReadWrite, plat::Disposition::kOpenAlways);
  ASSERT_NE(h.handle, plat::kInvalidHandle);
  const plat::OpenResult refused =
      plat::open_file(path.c_str(), plat::Access::kRead, plat::Disposition::kOpenExisting);
  EXPECT_EQ(refused.handle, plat::kInvalidHandle);
  EXPECT_EQ(refused.error, EMFILE);
  EXPECT_EQ(refused.kind, plat::OpenError::kTooManyOpenFiles);

  int err = 0;
  const bool written[] = {true, false, false, true};
  for (bool expected : written) {
    err = 0;
    EXPECT_EQ(plat::write_bytes(h.handle, "ab", 2, &err), expected);
    EXPECT_EQ(err, expected ? 0 : ENOSPC);
  }
  EXPECT_FALSE(plat::seek(h.handle, 0, plat::Whence::kBegin, nullptr, &err));
  EXPECT_TRUE(plat::seek(h.handle, 0, plat::Whence::kBegin, nullptr, &err));
  EXPECT_FALSE(plat::set_end_of_file(h.handle, &err));
  EXPECT_FALSE(plat::set_end_of_file(h.handle, &err));
  char buffer[8];
  EXPECT_EQ(plat::read_bytes(h.handle, buffer, sizeof buffer, &err), -1);
  EXPECT_EQ(plat::read_bytes(h.handle, buffer, sizeof buffer, &err), 4);  // the two writes
  err = 0;
  EXPECT_FALSE(plat::close_handle(h.handle, &err));
  EXPECT_EQ(err, EIO);
  EXPECT_EQ(::fcntl(h.handle, F_GETFD), -1);

  const std::uint64_t calls[] = {2, 2, 4, 2, 2, 1};  // by Operation
  for (int op = 0; op < plat::kOperationKinds; ++op)
    EXPECT_EQ(plat::operation_calls(static_cast<plat::Operation>(op)), calls[op]) << op;
  for (int op = 0; op < plat::kOperationKinds; ++op)
    plat::inject_failure(static_cast<plat::Operation>(op), 0, 0, 0);
}

}  // namespace
