// The POSIX layer keeps files off the standard descriptors: a closed standard
// stream gets a placeholder at start-up, and no open ever returns 0, 1 or 2.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "support/test_files.h"

namespace {

// Closes standard input for the life of the object (the test runner needs
// only standard output and error).
class StdinClosed {
 public:
  StdinClosed() : saved_(::dup(STDIN_FILENO)) { ::close(STDIN_FILENO); }
  ~StdinClosed() {
    ::dup2(saved_, STDIN_FILENO);
    ::close(saved_);
  }
  StdinClosed(const StdinClosed&) = delete;
  StdinClosed& operator=(const StdinClosed&) = delete;

 private:
  int saved_;
};

TEST(Platform, OpensNeverTakeAStandardDescriptor) {
  testsupport::ScratchDir dir;
  const std::string path = dir.file("data.txt");
  struct Case {
    const char* name;
    plat::OpenResult (*open)(const std::string& path);
  };
  const Case cases[] = {
      {"open_file",
       [](const std::string& p) {
         return plat::open_file(p.c_str(), plat::Access::kReadWrite,
                                plat::Disposition::kOpenAlways);
       }},
      {"create_temp_file",
       [](const std::string&) {
         char name[512];
         plat::OpenResult r = plat::create_temp_file("FOR", name, sizeof name);
         if (r.handle != plat::kInvalidHandle) ::unlink(name);
         return r;
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StdinClosed closed;
    const plat::OpenResult r = c.open(path);
    EXPECT_GT(r.handle, STDERR_FILENO);
    EXPECT_EQ(::fcntl(STDIN_FILENO, F_GETFD), -1);  // still closed
    if (r.handle != plat::kInvalidHandle) ::close(r.handle);
  }
}

TEST(Platform, ClosedStandardInputGetsAPlaceholderThatFailsReads) {
  StdinClosed closed;
  plat::ensure_standard_handles();
  ASSERT_NE(::fcntl(STDIN_FILENO, F_GETFD), -1);
  char byte;
  errno = 0;
  EXPECT_EQ(::read(STDIN_FILENO, &byte, 1), -1);
  EXPECT_EQ(errno, EBADF);
  // Open descriptors are left as they are.
  const int flags = ::fcntl(STDOUT_FILENO, F_GETFL);
  plat::ensure_standard_handles();
  EXPECT_EQ(::fcntl(STDOUT_FILENO, F_GETFL), flags);
}

}  // namespace
