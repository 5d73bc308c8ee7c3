// The Windows layer where it differs from the POSIX one: the error table of
// a failed open, names and paths, and the system's message texts.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/windows_internal.h"
#include "support/test_files.h"

namespace {

using plat::OpenError;
using testsupport::ScratchDir;

TEST(WindowsOpen, FailuresAreClassifiedByTheErrorTable) {
  ScratchDir dir;
  testsupport::write_file(dir.file("present.map"), "x");
  struct Case {
    std::string name;
    plat::Disposition disposition;
    int error;  // the system's code
    OpenError kind;
  };
  const Case cases[] = {
      {dir.file("absent.map"), plat::Disposition::kOpenExisting, 2, OpenError::kFileNotFound},
      {dir.file("no-dir/x.map"), plat::Disposition::kCreateAlways, 3, OpenError::kPathNotFound},
      {"", plat::Disposition::kOpenExisting, 3, OpenError::kPathNotFound},
      {dir.path(), plat::Disposition::kOpenExisting, 5, OpenError::kAccessDenied},
      {dir.file("present.map"), plat::Disposition::kCreateNew, 80, OpenError::kFileExists},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const plat::OpenResult r =
        plat::open_file(c.name.c_str(), plat::Access::kReadWrite, c.disposition);
    EXPECT_EQ(r.handle, plat::kInvalidHandle);
    EXPECT_EQ(r.error, c.error);
    EXPECT_EQ(r.kind, c.kind);
  }
}

TEST(WindowsNames, FullPathAndLastComponent) {
  const std::string cwd = [] {
    char buffer[256];
    return std::string(buffer, plat::full_path(".", buffer, sizeof buffer));
  }();
  ASSERT_FALSE(cwd.empty());
  char out[256];
  struct FullCase {
    std::string name;
    std::string expected;  // empty: does not fit
  };
  const FullCase full[] = {
      {"a/./b/../c.map", cwd + "\\a\\c.map"},
      {"C:\\x\\\\y\\..\\z", "C:\\x\\z"},
      {"C:\\" + std::string(300, 'n'), ""},
  };
  for (const FullCase& c : full) {
    const std::size_t n = plat::full_path(c.name.c_str(), out, sizeof out);
    EXPECT_EQ(std::string(out, n), c.expected) << c.name;
  }
  struct LastCase {
    const char* name;
    const char* last;
  };
  const LastCase last[] = {
      {"C:\\dir\\CON", "CON"}, {"dir/NUL", "NUL"}, {"C:PRN", "PRN"}, {"plain", "plain"}};
  for (const LastCase& c : last) EXPECT_EQ(plat::last_path_component(c.name), c.last);
}

TEST(WindowsMessages, SystemTextOrTheFallback) {
  struct Case {
    int error;
    std::string expected;  // for the system's text: its line end
  };
  const Case cases[] = {
      {2, "\r\n"},
      {0x2FFFFFF0, "FormatMessage failed for sysmem message number 805306352"},
  };
  for (const Case& c : cases) {
    char text[320];
    plat::error_text(c.error, text, sizeof text);
    const std::string s = text;
    if (c.expected == "\r\n") {
      ASSERT_GT(s.size(), 2u);
      EXPECT_EQ(s.substr(s.size() - 2), c.expected);
    } else {
      EXPECT_EQ(s, c.expected);
    }
  }
}

TEST(WindowsFiles, SameFileAndTypeOfAnOpenHandle) {
  ScratchDir dir;
  const std::string a = dir.file("a.unf"), b = dir.file("b.unf");
  testsupport::write_file(b, "");
  const plat::OpenResult r =
      plat::open_file(a.c_str(), plat::Access::kReadWrite, plat::Disposition::kCreateAlways);
  ASSERT_NE(r.handle, plat::kInvalidHandle);
  EXPECT_EQ(plat::file_type(r.handle), plat::FileType::kDisk);
  EXPECT_TRUE(plat::same_file(a.c_str(), r.handle));
  EXPECT_TRUE(plat::same_file(dir.file("./a.unf").c_str(), r.handle));
  EXPECT_FALSE(plat::same_file(b.c_str(), r.handle));
  int err = 0;
  EXPECT_TRUE(plat::close_handle(r.handle, &err));
}

// A replacement beside an existing or absent file takes its name whole; a
// directory gets none. Device names keep the system's rule for extensions.
TEST(WindowsFiles, ReplacementTakesTheName) {
  ScratchDir dir;
  testsupport::write_file(dir.file("old.unf"), "old contents");
  for (const std::string& name : {dir.file("old.unf"), dir.file("new.unf")}) {
    SCOPED_TRACE(name);
    char temp[300], target[300];
    const plat::OpenResult r =
        plat::create_replacement(name.c_str(), temp, sizeof temp, target, sizeof target);
    ASSERT_NE(r.handle, plat::kInvalidHandle);
    EXPECT_EQ(std::string(target), name);
    int err = 0;
    ASSERT_TRUE(plat::write_bytes(r.handle, "new", 3, &err));
    ASSERT_TRUE(plat::close_handle(r.handle, &err));
    EXPECT_TRUE(plat::commit_replacement(temp, target, &err)) << err;
    EXPECT_EQ(testsupport::read_file(name), "new");
    EXPECT_FALSE(testsupport::file_exists(temp));
  }
  char temp[300], target[300];
  EXPECT_EQ(
      plat::create_replacement(dir.path().c_str(), temp, sizeof temp, target, sizeof target).handle,
      plat::kInvalidHandle);
  EXPECT_TRUE(plat::device_names_take_extensions());
}

// A system without the UTF-8 code page gets a character it lacks as "?",
// never as a look-alike: the name cannot open another file, and its open
// fails as an invalid name (43 at OPEN).
TEST(WindowsNames, CharactersOutsideTheCodePageNeverBecomeLookAlikes) {
  struct Case {
    const wchar_t* text;
    unsigned code_page;
    std::string expected;
  };
  const Case cases[] = {
      {L"\u03A9out.unf", 1252, "?out.unf"},          // Greek capital omega
      {L"caf\u00E9.map", 1252, "caf\xE9.map"},       // in the code page: kept
      {L"\u5730\u56FE.map", 1252, "??.map"},         // CJK
      {L"\u03A9out.unf", 65001, "\xCE\xA9out.unf"},  // UTF-8 holds everything
      {L"\u5730\u56FE.map", 65001, "\xE5\x9C\xB0\xE5\x9B\xBE.map"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(plat::narrow_without_best_fit(c.text, c.code_page), c.expected);
  }
  ScratchDir dir;
  const plat::OpenResult r = plat::open_file(dir.file("?out.unf").c_str(), plat::Access::kWrite,
                                             plat::Disposition::kCreateAlways);
  EXPECT_EQ(r.handle, plat::kInvalidHandle);
  EXPECT_EQ(r.kind, OpenError::kNameTooLong);
}

// A named pipe is recognised by its name, without opening it.
TEST(WindowsFiles, PipesAreKnownByName) {
  struct Case {
    const char* name;
    plat::FileType type;
  };
  const Case cases[] = {
      {"\\\\.\\pipe\\maps", plat::FileType::kPipe},
      {"\\\\.\\PIPE\\maps", plat::FileType::kPipe},
      {"\\\\?\\pipe\\maps", plat::FileType::kPipe},
      {"C:\\pipe\\maps", plat::FileType::kOther},  // absent
      {"\\\\.\\pipeline", plat::FileType::kOther},
  };
  for (const Case& c : cases) EXPECT_EQ(plat::file_type_of_name(c.name), c.type) << c.name;
}

}  // namespace
