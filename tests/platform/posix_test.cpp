// The POSIX layer keeps files off the standard descriptors even when one is
// closed after start-up (the closed-at-start case runs end to end).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

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

namespace {

// A replacement is made beside a regular file or where one would be, never
// for anything else: those are written in place.
TEST(Platform, ReplacementOnlyForRegularOrAbsentFiles) {
  testsupport::ScratchDir dir;
  testsupport::write_file(dir.file("plain"), "old");
  ::chmod(dir.file("plain").c_str(), 0640);
  ::mkdir(dir.file("sub").c_str(), 0755);
  testsupport::write_file(dir.file("sub/real"), "old");
  ::symlink("sub/real", dir.file("link").c_str());
  ::symlink("nowhere", dir.file("dangling").c_str());
  ::mkfifo(dir.file("fifo").c_str(), 0600);
  struct Case {
    const char* name;
    std::string path;
    const char* target;  // relative to dir; null: refused
    mode_t mode;
  };
  const Case cases[] = {
      {"RegularFile", dir.file("plain"), "plain", 0640},
      {"AbsentFile", dir.file("new"), "new", 0},
      {"LinkFollowed", dir.file("link"), "sub/real", 0},
      {"DanglingLink", dir.file("dangling"), nullptr, 0},
      {"Directory", dir.file("sub"), nullptr, 0},
      {"TrailingSlash", dir.file("sub") + "/", nullptr, 0},
      {"Fifo", dir.file("fifo"), nullptr, 0},
      {"MissingDirectory", dir.file("missing/new"), nullptr, 0},
      {"Empty", "", nullptr, 0},
      {"NameTooLongForTheTemporary", dir.file(std::string(250, 'n')), nullptr, 0},
  };
  char* real_dir = ::realpath(dir.path().c_str(), nullptr);
  const std::string real = real_dir;
  std::free(real_dir);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    char temp[512], target[512];
    const plat::OpenResult r =
        plat::create_replacement(c.path.c_str(), temp, sizeof temp, target, sizeof target);
    if (c.target == nullptr) {
      EXPECT_EQ(r.handle, plat::kInvalidHandle);
      continue;
    }
    ASSERT_NE(r.handle, plat::kInvalidHandle);
    const std::string expected_target =
        c.path == dir.file("link") ? real + "/" + c.target : dir.file(c.target);
    EXPECT_EQ(std::string(target), expected_target);
    const std::size_t slash = expected_target.rfind('/') + 1;
    EXPECT_TRUE(std::string(temp).starts_with(expected_target.substr(0, slash) + "." +
                                              expected_target.substr(slash) + "."))
        << temp;
    struct stat st {};
    ASSERT_EQ(::fstat(static_cast<int>(r.handle), &st), 0);
    if (c.mode != 0) {
      EXPECT_EQ(st.st_mode & 07777, c.mode);
    }
    ASSERT_EQ(::write(static_cast<int>(r.handle), "new", 3), 3);
    ::close(static_cast<int>(r.handle));
    int err = 0;
    ASSERT_TRUE(plat::commit_replacement(temp, target, &err)) << err;
    EXPECT_EQ(testsupport::read_file(expected_target), "new");
  }
  EXPECT_TRUE(std::filesystem::is_symlink(dir.file("link")));
  // Only the files set up and those replaced: no temporary is left.
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::recursive_directory_iterator(dir.path()))
    ++files;
  EXPECT_EQ(files, 7u);  // plain, new, sub, sub/real, link, dangling, fifo
}

}  // namespace
