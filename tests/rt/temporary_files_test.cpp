#include "rt/temporary_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "rt/startup.h"
#include "support/test_files.h"

namespace {

using testsupport::file_exists;
using testsupport::ScratchDir;

// A file written through a C stream, as a program writes its temporary.
struct OpenFile {
  explicit OpenFile(const std::string& path) : name(path), stream(std::fopen(path.c_str(), "wb")) {
    if (stream != nullptr) std::fputs("partial", stream);
  }
  std::string name;
  std::FILE* stream;
};

// Every end the run-time forces runs the exit handler: a file still
// registered is closed and removed; one the program took back stays. (Taken
// from a blocked platform call: handover_test.cpp.)
TEST(TemporaryFilesDeathTest, TheExitRemovesWhatIsStillRegistered) {
  ScratchDir dir;
  const std::string kept = dir.file("kept.txt-0");
  const std::string removed = dir.file("removed.txt-0");
  EXPECT_EXIT(
      {
        OpenFile a(removed);
        OpenFile b(kept);
        if (rt::for__register_temporary(a.name.c_str(), a.stream) < 0) std::_Exit(20);
        const int slot = rt::for__register_temporary(b.name.c_str(), b.stream);
        if (slot < 0) std::_Exit(21);
        rt::for__forget_temporary(slot);
        const std::int32_t status = 5;
        rt::for_exit(&status);
      },
      testing::ExitedWithCode(5), "");
  EXPECT_FALSE(file_exists(removed));
  EXPECT_TRUE(file_exists(kept));
}

TEST(TemporaryFiles, SlotsAreFewAndReused) {
  ScratchDir dir;
  std::vector<OpenFile> files;
  for (int i = 0; i <= rt::kTemporaryFileSlots; ++i)
    files.emplace_back(dir.file("t" + std::to_string(i)));
  std::vector<int> slots;
  for (int i = 0; i < rt::kTemporaryFileSlots; ++i) {
    slots.push_back(rt::for__register_temporary(files[i].name.c_str(), files[i].stream));
    EXPECT_GE(slots.back(), 0);
  }
  const OpenFile& extra = files.back();
  EXPECT_EQ(rt::for__register_temporary(extra.name.c_str(), extra.stream), -1) << "all taken";
  rt::for__forget_temporary(slots[1]);
  const int again = rt::for__register_temporary(extra.name.c_str(), extra.stream);
  EXPECT_EQ(again, slots[1]);
  rt::for__forget_temporary(again);
  for (int slot : slots) rt::for__forget_temporary(slot);
  EXPECT_EQ(rt::for__register_temporary("no stream", nullptr), -1);
  for (OpenFile& f : files) std::fclose(f.stream);
}

// A file that cannot be removed is named where diagnostics go.
TEST(TemporaryFiles, AFileThatCannotBeRemovedIsNamed) {
  ScratchDir dir;
  OpenFile f(dir.file("open"));
  // Registered under a name that names no file, so that the removal fails.
  const std::string missing = dir.file("no-such-dir/gone");
  ASSERT_GE(rt::for__register_temporary(missing.c_str(), f.stream), 0);
  const std::string capture = dir.file("stderr");
  const int saved = ::dup(2);
  const int fd = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ::dup2(fd, 2);
  ::close(fd);
  rt::for__remove_temporaries();
  ::dup2(saved, 2);
  ::close(saved);
  const std::string err = testsupport::read_file(capture);
  EXPECT_EQ(err.rfind(missing + ": left behind, cannot remove it: ", 0), 0u) << err;
  EXPECT_EQ(err.back(), '\n');
  // Forgotten all the same: a second pass says nothing more.
  rt::for__remove_temporaries();
  EXPECT_EQ(testsupport::read_file(capture), err);
}

}  // namespace
