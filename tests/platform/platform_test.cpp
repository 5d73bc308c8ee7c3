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

}  // namespace
