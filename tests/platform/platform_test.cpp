#include "platform/platform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "support/test_files.h"

namespace {

std::string cwd() {
  char buffer[4096];
  return ::getcwd(buffer, sizeof buffer) != nullptr ? buffer : "";
}

TEST(FullPath, JoinsAndFoldsLexically) {
  SKIP_ON_WINDOWS("POSIX path rules; the Windows layer has its own table");
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

// The null device opens under the platform's own name in every way a unit
// may open it: writes are taken whole, reading finds the end at once.
TEST(NullDevice, DiscardsWritesAndReadsAsEmpty) {
  const plat::Disposition dispositions[] = {plat::Disposition::kOpenExisting,
                                            plat::Disposition::kOpenAlways,
                                            plat::Disposition::kCreateAlways};
  for (const plat::Disposition d : dispositions) {
    SCOPED_TRACE(static_cast<int>(d));
    const plat::OpenResult r =
        plat::open_file(plat::null_device_name(), plat::Access::kReadWrite, d);
    ASSERT_NE(r.handle, plat::kInvalidHandle) << "error " << r.error;
    EXPECT_NE(plat::file_type(r.handle), plat::FileType::kDisk);
    int error = 0;
    EXPECT_TRUE(plat::write_bytes(r.handle, "discarded", 9, &error));
    char buffer[16];
    EXPECT_EQ(plat::read_bytes(r.handle, buffer, sizeof buffer, &error), 0);
    EXPECT_TRUE(plat::close_handle(r.handle, &error));
  }
}

}  // namespace
