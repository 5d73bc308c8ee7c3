#include "recio/connection.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/socket.h>
#include <sys/un.h>
#endif
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "app/descriptors.h"
#include "platform/platform.h"
#include "recio/foreign.h"
#include "recio/io_api.h"
#include "recio/lf_table.h"
#include "recio/unit_table.h"
#include "rt/memory.h"
#include "support/test_files.h"
#include "support/units.h"

namespace {

using namespace testsupport::statements;
using recio::UnitBlock;
using testsupport::read_file;
using testsupport::ScratchDir;
using testsupport::write_file;

using Keyword = testsupport::UnitKeyword;
using testsupport::open_unit;

int open_file(std::int32_t unit, std::string_view name, std::string_view status = "unknown",
              std::string_view form = "unformatted") {
  return open_unit(unit, kCheck,
                   {{recio::kKeyFile, name}, {recio::kKeyStatus, status}, {recio::kKeyForm, form}});
}

// OPEN of the file `name` with FORM=`form`, then the keywords `more`.
int open_with(std::int32_t unit, std::uint32_t flags, const std::string& name,
              std::string_view form, const std::vector<Keyword>& more) {
  std::vector<Keyword> keywords = {{recio::kKeyFile, name}, {recio::kKeyForm, form}};
  keywords.insert(keywords.end(), more.begin(), more.end());
  return open_unit(unit, flags, keywords);
}

int close_unit(std::int32_t unit, std::string_view disposition = {}) {
  if (disposition.empty()) return testsupport::close_unit(unit, kCheck);
  return testsupport::close_unit(unit, kCheck, {{recio::kKeyDisposition, disposition}});
}

// One unformatted record holding `text`.
int write_text(std::int32_t unit, std::string_view text) {
  const IoArg args[] = {IoArg::val(static_cast<std::int64_t>(text.size())),
                        IoArg::address(text.data())};
  IoControlBlock cb{};
  return recio::for_write_seq(&cb, unit, kCheck, kTextEnd, args);
}

// The bytes of a little-endian variable record holding `text`.
std::string record(std::string_view text) {
  const auto n = static_cast<std::uint32_t>(text.size());
  std::string length;
  for (int i = 0; i < 4; ++i) length.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  return length + std::string(text) + length;
}

bool connected(std::int32_t unit) {
  const UnitBlock* u = recio::for__find_unit_block(unit);
  return u != nullptr && u->connected;
}

// Sets (or with null removes) an environment variable for one scope.
class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old, had_ = true;
    if (value != nullptr)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~EnvVar() {
    if (had_)
      ::setenv(name_, old_.c_str(), 1);
    else
      ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::string old_;
  bool had_ = false;
};

// Makes a directory the working directory for one scope.
class WorkingDir {
 public:
  explicit WorkingDir(const std::string& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~WorkingDir() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

TEST(Open, KeywordValuesIgnoreCaseAndTrailingBlanksOnly) {
  ScratchDir dir;
  const std::string path = dir.file("map.txt");
  write_file(path, "contents");
  struct Case {
    std::uint8_t keyword;
    std::string_view value;
    int expected;
  };
  const Case cases[] = {
      {recio::kKeyStatus, "old", 0},         {recio::kKeyStatus, "Old", 0},
      {recio::kKeyStatus, "OLD", 0},         {recio::kKeyStatus, "old   ", 0},
      {recio::kKeyStatus, "oLd ", 0},        {recio::kKeyStatus, " old", 45},
      {recio::kKeyStatus, "ol", 45},         {recio::kKeyStatus, "olde", 45},
      {recio::kKeyStatus, "", 45},           {recio::kKeyStatus, "   ", 45},
      {recio::kKeyStatus, "unknown", 0},     {recio::kKeyForm, "formatted", 0},
      {recio::kKeyForm, "Unformatted  ", 0}, {recio::kKeyForm, "formated", 45},
      {recio::kKeyForm, "\tformatted", 45},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.value) + "|");
    EXPECT_EQ(open_unit(30, kCheck, {{recio::kKeyFile, path}, {c.keyword, c.value}}), c.expected);
    EXPECT_EQ(connected(30), c.expected == 0);
    EXPECT_EQ(close_unit(30), 0);
  }
  EXPECT_EQ(read_file(path), "contents");
}

TEST(Open, KeywordMatcherTable) {
  struct Case {
    recio::KeyTable table;
    const char* text;
    int code;
  };
  const Case cases[] = {
      {recio::KeyTable::kStatus, "scratch", 3},
      {recio::KeyTable::kStatus, "REPLACE ", 5},
      {recio::KeyTable::kForm, "binary", 4},
      {recio::KeyTable::kBlank, "null", 2},
      {recio::KeyTable::kBlank, "zero", 1},
      {recio::KeyTable::kAccess, "Append", 3},
      {recio::KeyTable::kDisposition, "keep", 1},
      {recio::KeyTable::kDisposition, "save", 1},
      {recio::KeyTable::kDisposition, "Delete  ", 2},
      {recio::KeyTable::kDisposition, "print/delete", 5},
      {recio::KeyTable::kDisposition, " ", 0},
      {recio::KeyTable::kCarriageControl, "", 0},  // the code-only entry has no text
  };
  for (const Case& c : cases) {
    const auto length = static_cast<std::int32_t>(std::string_view(c.text).size());
    EXPECT_EQ(recio::for__open_key(c.table, c.text, length), c.code) << c.text;
  }
}

TEST(Open, DefaultsAreStoredInTheUnitBlock) {
  ScratchDir dir;
  struct Case {
    std::string_view form;  // empty: not given
    std::uint8_t form_code;
    std::uint8_t record_type;
    std::uint8_t carriage_control;
    std::int32_t recl;
  };
  const Case cases[] = {
      {"", recio::kFormFormatted, recio::kRecStreamLF, recio::kCcList, 134},
      {"formatted", recio::kFormFormatted, recio::kRecStreamLF, recio::kCcList, 134},
      {"unformatted", recio::kFormUnformatted, recio::kRecVariable, recio::kCcNone, 2048},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.form);
    const std::string path = dir.file("defaults.dat");
    if (c.form.empty())
      ASSERT_EQ(open_unit(31, kCheck, {{recio::kKeyFile, path}}), 0);
    else
      ASSERT_EQ(open_unit(31, kCheck, {{recio::kKeyFile, path}, {recio::kKeyForm, c.form}}), 0);
    const UnitBlock* u = recio::for__find_unit_block(31);
    ASSERT_NE(u, nullptr);
    EXPECT_TRUE(u->connected);
    EXPECT_EQ(u->busy, 0u);
    EXPECT_EQ(u->connection.file_name, path);
    EXPECT_EQ(u->connection.access, recio::kAccessSequential);
    EXPECT_EQ(u->connection.form, c.form_code);
    EXPECT_EQ(u->connection.record_type, c.record_type);
    EXPECT_EQ(u->connection.carriage_control, c.carriage_control);
    EXPECT_EQ(u->connection.recl, c.recl);
    EXPECT_TRUE(u->connection.recl_defaulted);
    EXPECT_EQ(u->connection.list_width, 80);
    EXPECT_TRUE(u->connection.disk_file);
    EXPECT_TRUE(u->position.truncate_pending);
    EXPECT_FALSE(u->connection.read_only);
    EXPECT_FALSE(u->connection.standard_handle);
    EXPECT_EQ(u->connection.device_kind, recio::kDeviceFile);
    EXPECT_FALSE(u->connection.convert);
    EXPECT_FALSE(u->connection.blank_null);
    EXPECT_EQ(close_unit(31), 0);
    EXPECT_EQ(recio::for__find_unit_block(31), nullptr);
  }
}

// Carriage control and record type given as codes, and the carriage control
// that a fixed record type decides.
TEST(Open, CarriageControlFollowsTheRecordType) {
  ScratchDir dir;
  const std::string path = dir.file("cc.dat");
  struct Case {
    const char* name;
    std::vector<Keyword> codes;  // keywords given as numbers
    std::uint8_t record_type, carriage_control;
    std::int32_t list_width;
  };
  const Case cases[] = {
      {"first-column control by code",
       {{recio::kKeyCarriageControl, 1}},
       recio::kRecStreamLF,
       recio::kCcFortran,
       85},
      {"direct access defaults to fixed",
       {{recio::kKeyAccess, 2}, {recio::kKeyRecl, 10}},
       recio::kRecFixed,
       recio::kCcNone,
       10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(open_with(34, kCheck, path, "formatted", c.codes), 0);
    const UnitBlock* u = recio::for__find_unit_block(34);
    EXPECT_EQ(u->connection.record_type, c.record_type);
    EXPECT_EQ(u->connection.carriage_control, c.carriage_control);
    EXPECT_EQ(u->connection.list_width, c.list_width);
    EXPECT_EQ(close_unit(34), 0);
  }
}

// The support header's OPEN and CLOSE keyword lists are the bytes such
// statements have always been given, so the tests that use it still issue
// the statements they were written with.
TEST(TestSupport, KeywordListsGiveTheStatementsBytes) {
  const std::string name = "out.map";
  struct Case {
    const char* name;
    std::vector<Keyword> keywords;
    std::vector<std::uint8_t> bytes;
    std::vector<std::int64_t> values;  // the argument words' values (lengths, numbers)
  };
  const Case cases[] = {
      {"ProgramsMapOpen",
       {{recio::kKeyFile, name},
        {recio::kKeyStatus, "unknown"},
        {recio::kKeyForm, "unformatted"},
        {recio::kKeyBlank, 2}},
       {0x38, 0x04, 0x0D, 0x00, 0x38, 0x04, 0x1A, 0x00, 0x38, 0x04, 0x0F, 0x00, 0x09, 0x01, 0x06,
        0x00, 0x01, 0x00},
       {7, 0, 7, 0, 11, 0, 2}},
      {"DirectAccessWithRecordLength",
       {{recio::kKeyFile, name}, {recio::kKeyAccess, "direct"}, {recio::kKeyRecl, 4}},
       {0x38, 0x04, 0x0D, 0x00, 0x38, 0x04, 0x02, 0x00, 0x09, 0x01, 0x17, 0x00, 0x01, 0x00},
       {7, 0, 6, 0, 4}},
      {"CloseWithDisposition",
       {{recio::kKeyDisposition, "delete"}},
       {0x38, 0x04, 0x0C, 0x00, 0x01, 0x00},
       {6, 0}},
      {"NoKeywords", {}, {0x01, 0x00}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const testsupport::KeywordList list = testsupport::keyword_list(c.keywords);
    EXPECT_EQ(list.descriptor, c.bytes);
    std::vector<std::int64_t> values;
    for (const IoArg& a : list.args) values.push_back(a.value);
    EXPECT_EQ(values, c.values);
  }
  EXPECT_EQ(testsupport::keyword_list(cases[0].keywords).args[1].addr, name.data());
}

TEST(Open, TheProgramsOwnOpenStatements) {
  // The exact descriptors and argument blocks of the converter: an 80-character
  // blank-padded name, STATUS, FORM and BLANK given as the code 2.
  ScratchDir dir;
  write_file(dir.file("in.txt"), "x\n");
  struct Case {
    std::int32_t unit;
    std::uint32_t flags;
    recio::Descriptor desc;
    const char* name;
    std::string_view status, form;
    std::uint8_t record_type;
  };
  const Case cases[] = {
      {20, recio::kFlagsErrBranch, app::desc::kOpenInput, "in.txt", "old", "formatted",
       recio::kRecStreamLF},
      {21, recio::kFlagsNoBranch, app::desc::kOpenOutput, "out.map", "unknown", "unformatted",
       recio::kRecVariable},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unit);
    std::string name = dir.file(c.name);
    const std::string full = name;
    name.resize(80, ' ');
    const IoArg args[] = {IoArg::val(80),
                          IoArg::address(name.data()),
                          IoArg::val(static_cast<std::int64_t>(c.status.size())),
                          IoArg::address(c.status.data()),
                          IoArg::val(static_cast<std::int64_t>(c.form.size())),
                          IoArg::address(c.form.data()),
                          IoArg::val(2)};
    IoControlBlock cb{};
    ASSERT_EQ(recio::for_open(&cb, c.unit, c.flags, c.desc, args), 0);
    EXPECT_EQ(cb.unit, nullptr);
    const UnitBlock* u = recio::for__find_unit_block(c.unit);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->connection.file_name, full);  // trailing blanks gone
    EXPECT_TRUE(u->connection.blank_null);
    EXPECT_EQ(u->connection.record_type, c.record_type);
    EXPECT_EQ(close_unit(c.unit), 0);
  }
  EXPECT_TRUE(testsupport::file_exists(dir.file("out.map")));
}

TEST(Open, DeviceNames) {
  ScratchDir dir;
  WorkingDir cwd(dir.path());
  struct Case {
    std::string_view name;
    int expected;
    int device;
    bool standard;
    // Windows itself takes the name for its console (\\.\CONOUT$),
    // whatever the device table says.
    bool posix_only = false;
  };
  const Case cases[] = {
      {"NUL", 0, recio::kDeviceNull, false},
      {"Nul", 0, recio::kDeviceNull, false},
      {"CON", 0, recio::kDeviceConsoleOut, true},
      {"PRN", 42, 0, false},
      {"LPT1", 42, 0, false},
      {"lpt4", 42, 0, false},
      {"COM1", 42, 0, false},
      {"AUX", 42, 0, false},
      {"LINE", 42, 0, false},
      {"user.dat", 0, recio::kDeviceFile, false},
      // On Linux only the whole name is a device: with an extension, a file.
      // Windows keeps its own rule for these.
      {"nul.dat", 0, recio::kDeviceFile, false, true},
      {"nul.unf", 0, recio::kDeviceFile, false, true},
      {"con.txt", 0, recio::kDeviceFile, false, true},
      {"CONOUT$.bin", 0, recio::kDeviceFile, false, true},
      {"com2.dat", 0, recio::kDeviceFile, false, true},
      {"com3.x", 0, recio::kDeviceFile, false, true},
      {"aux.unf", 0, recio::kDeviceFile, false, true},
      {"LPT1.out", 0, recio::kDeviceFile, false, true},
      {"prn.", 0, recio::kDeviceFile, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.posix_only && testsupport::kOnWindows) continue;
    ASSERT_EQ(open_file(32, c.name), c.expected);
    if (c.expected != 0) {
      EXPECT_FALSE(connected(32));
      EXPECT_EQ(close_unit(32), 0);
      continue;
    }
    const UnitBlock* u = recio::for__find_unit_block(32);
    EXPECT_EQ(u->connection.device_kind, c.device);
    EXPECT_EQ(u->connection.standard_handle, c.standard);
    // Only a disk file is ever cut to the records written.
    EXPECT_EQ(u->position.truncate_pending, c.device == recio::kDeviceFile);
    if (c.standard && testsupport::kOnWindows) {
      // The system's own handle, which no descriptor can stand in for: the
      // records' path to the console is checked end to end.
      EXPECT_EQ(u->connection.handle, plat::std_handle(plat::StdStream::kOutput));
      EXPECT_EQ(close_unit(32), 0);
    } else if (c.standard) {
      EXPECT_EQ(u->connection.handle, STDOUT_FILENO);
      // Records go to standard output, which CLOSE leaves open.
      const std::string capture = dir.file("stdout.bin");
      const int saved = ::dup(STDOUT_FILENO);
      const int fd = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(fd, STDOUT_FILENO);
      ::close(fd);
      EXPECT_EQ(write_text(32, "to the console"), 0);
      EXPECT_EQ(close_unit(32), 0);
      const bool still_open = ::fcntl(STDOUT_FILENO, F_GETFD) != -1;
      ::dup2(saved, STDOUT_FILENO);
      ::close(saved);
      EXPECT_TRUE(still_open);
      EXPECT_EQ(read_file(capture), record("to the console"));
      std::filesystem::remove(capture);
    } else if (c.device == recio::kDeviceNull) {
      EXPECT_EQ(u->connection.file_name, std::string(c.name.substr(0, 3)));
      EXPECT_EQ(write_text(32, "discarded"), 0);
      EXPECT_EQ(close_unit(32), 0);
    } else {
      EXPECT_EQ(u->connection.file_name, dir.file(std::string(c.name)));
      EXPECT_EQ(write_text(32, "a file"), 0);
      EXPECT_EQ(close_unit(32), 0);
      EXPECT_EQ(read_file(dir.file(std::string(c.name))), record("a file"));
      std::filesystem::remove(dir.file(std::string(c.name)));
    }
  }
  // Nothing but the ordinary files ever appeared in the working directory.
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  // Records went to standard output by the name CON: the console moved to
  // standard error for the rest of the run, which ends here.
  EXPECT_TRUE(recio::for__console_diverted());
  recio::for__end_console_diversion();
}

// Only the last component of a path names a device.
TEST(Open, DeviceNamesInPaths) {
  struct Case {
    std::string_view name;
    int kind;
    std::string_view device;
  };
  const Case cases[] = {
      {"nul.d/out", recio::kDeviceFile, ""},          {"con.d/out", recio::kDeviceFile, ""},
      {"/tmp/con.d/out.unf", recio::kDeviceFile, ""}, {"maps/nul", recio::kDeviceNull, "nul"},
      {"a.b/CON", recio::kDeviceConsoleOut, "CON"},   {"x/CONOUT$.bin", recio::kDeviceFile, ""},
      {"x/Err", recio::kDeviceError, "Err"},          {"x/user", recio::kDeviceUser, "user"},
  };
  for (const Case& c : cases) {
    std::string_view device;
    EXPECT_EQ(recio::for__is_special_device(c.name, &device), c.kind) << c.name;
    if (c.kind != recio::kDeviceFile) {
      EXPECT_EQ(device, c.device) << c.name;
    }
  }
}

TEST(Open, UnnamedUnitTakesFortNThenTheDefaultName) {
  ScratchDir dir;
  WorkingDir cwd(dir.path());
  {
    const std::string named = dir.file("from-env.dat");
    EnvVar fort("FORT37", named.c_str());
    ASSERT_EQ(open_unit(37, kCheck, {{recio::kKeyForm, "unformatted"}}), 0);
    EXPECT_EQ(recio::for__find_unit_block(37)->connection.file_name, named);
    EXPECT_EQ(write_text(37, "env"), 0);
    EXPECT_EQ(close_unit(37), 0);
    EXPECT_EQ(read_file(named), record("env"));
  }
  {
    // A relative FORTn value is taken from the working directory.
    EnvVar fort("FORT37", "  relative.dat  ");
    ASSERT_EQ(open_unit(37, kCheck, {{recio::kKeyForm, "unformatted"}}), 0);
    EXPECT_EQ(recio::for__find_unit_block(37)->connection.file_name, dir.file("relative.dat"));
    EXPECT_EQ(close_unit(37), 0);
  }
  {
    EnvVar fort("FORT37", nullptr);
    ASSERT_EQ(open_unit(37, kCheck, {{recio::kKeyForm, "unformatted"}}), 0);
    EXPECT_EQ(recio::for__find_unit_block(37)->connection.file_name, dir.file("fort.37"));
    EXPECT_EQ(write_text(37, "default"), 0);
    EXPECT_EQ(close_unit(37), 0);
    EXPECT_EQ(read_file(dir.file("fort.37")), record("default"));
  }
  {
    // Implicit connection by the first write uses the same default name.
    EnvVar fort("FORT38", nullptr);
    EXPECT_EQ(write_text(38, "implicit"), 0);
    EXPECT_EQ(recio::for__find_unit_block(38)->connection.file_name, dir.file("fort.38"));
    EXPECT_EQ(close_unit(38), 0);
    EXPECT_EQ(read_file(dir.file("fort.38")), record("implicit"));
  }
}

TEST(Open, BlankFileNameIsNotReplaced) {
  ScratchDir dir;
  WorkingDir cwd(dir.path());
  const std::string other = dir.file("fort-env.dat");
  EnvVar fort("FORT22", other.c_str());
  for (std::string_view name : {std::string_view(""), std::string_view(" "),
                                std::string_view("                                        "
                                                 "                                        ")}) {
    SCOPED_TRACE(name.size());
    EXPECT_EQ(open_file(22, name), 29);
    EXPECT_FALSE(connected(22));
    EXPECT_EQ(close_unit(22), 0);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(Open, FailuresLeaveTheUnitUnconnected) {
  ScratchDir dir;
  write_file(dir.file("exists.dat"), "old contents");
  struct Case {
    std::string name;
    std::string_view status;
    int expected;
  };
  const Case cases[] = {
      {dir.file("missing-dir/out.map"), "unknown", 29},
      {dir.file("missing-dir/deeper/out.map"), "new", 29},
      {dir.file("absent.dat"), "old", 29},
      {dir.file("exists.dat/below"), "unknown", 29},
      {dir.file("exists.dat"), "new", 10},
      {dir.path(), "unknown", 9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(open_file(33, c.name, c.status), c.expected);
    EXPECT_FALSE(connected(33));
    EXPECT_EQ(close_unit(33), 0);
  }
  EXPECT_EQ(read_file(dir.file("exists.dat")), "old contents");
  EXPECT_FALSE(testsupport::file_exists(dir.file("absent.dat")));
  EXPECT_FALSE(testsupport::file_exists(dir.file("missing-dir")));
  // No memory for the record buffer.
  {
    rt::for__set_vm_limit(4096);
    const int r = open_file(33, dir.file("no-memory.dat"));
    rt::for__set_vm_limit(0);
    EXPECT_EQ(r, 41);
    EXPECT_FALSE(connected(33));
    EXPECT_EQ(close_unit(33), 0);
  }
  // No memory for the unit block, or for a name too long for it (FORTn).
  {
    rt::for__inject_vm_failure(1, 1);
    const int r = open_file(39, dir.file("no-block.dat"));
    rt::for__inject_vm_failure(0, 0);
    EXPECT_EQ(r, 41);
    EXPECT_EQ(recio::for__find_unit_block(39), nullptr);
    const std::string long_name = dir.file(std::string(300, 'x'));
    EnvVar fort("FORT39", long_name.c_str());
    EXPECT_EQ(open_unit(39, kCheck, {{recio::kKeyForm, "unformatted"}}), 43);
    EXPECT_FALSE(connected(39));
    EXPECT_EQ(close_unit(39), 0);
  }
  // STATUS "new" creates a file that does not exist yet.
  EXPECT_EQ(open_file(33, dir.file("fresh.dat"), "new"), 0);
  EXPECT_EQ(close_unit(33), 0);
  EXPECT_TRUE(testsupport::file_exists(dir.file("fresh.dat")));
}

TEST(OpenDeathTest, ReadOnlyFileOpensReadOnlyAndRefusesWrites) {
  SKIP_ON_WINDOWS("POSIX file modes");
  ScratchDir dir;
  const std::string path = dir.file("locked.map");
  write_file(path, "locked");
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  // The privileged user writes whatever the mode says, so the check runs in a
  // child that gives up its privileges first. Exit code: the write's status
  // once the OPEN succeeded read-only, 100 + the OPEN's result otherwise.
  EXPECT_EXIT(
      {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(99);
        const int opened = open_file(34, path);
        const UnitBlock* u = recio::for__find_unit_block(34);
        if (opened != 0 || u == nullptr || !u->connection.read_only) std::_Exit(100 + opened);
        std::_Exit(write_text(34, "refused"));
      },
      testing::ExitedWithCode(47), "");
  EXPECT_EQ(read_file(path), "locked");
}

TEST(Open, ReopenOfTheSameFileKeepsTheConnection) {
  ScratchDir dir;
  std::filesystem::create_directory(dir.file("sub"));
  const std::string path = dir.file("same.map");
  ASSERT_EQ(open_file(35, path), 0);
  const plat::Handle handle = recio::for__find_unit_block(35)->connection.handle;
  ASSERT_EQ(write_text(35, "first"), 0);
  WorkingDir cwd(dir.path());
  for (std::string_view spelling : {std::string_view("sub/../same.map"),
                                    std::string_view("./same.map"), std::string_view("same.map")}) {
    SCOPED_TRACE(spelling);
    EXPECT_EQ(open_file(35, spelling), 0);
    const UnitBlock* u = recio::for__find_unit_block(35);
    ASSERT_TRUE(u->connected);
    EXPECT_EQ(u->connection.handle, handle);
    EXPECT_EQ(u->connection.file_name, path);
  }
  // A reconnection would have started writing at the start of the file again.
  ASSERT_EQ(write_text(35, "second"), 0);
  EXPECT_EQ(close_unit(35), 0);
  EXPECT_EQ(read_file(path), record("first") + record("second"));
}

TEST(Open, ReopenOfAnotherFileClosesTheFirst) {
  ScratchDir dir;
  const std::string a = dir.file("a.map"), b = dir.file("b.map");
  ASSERT_EQ(open_file(36, a), 0);
  ASSERT_EQ(write_text(36, "into a"), 0);
  ASSERT_EQ(open_file(36, b), 0);
  EXPECT_EQ(recio::for__find_unit_block(36)->connection.file_name, b);
  ASSERT_EQ(write_text(36, "into b"), 0);
  EXPECT_EQ(close_unit(36), 0);
  EXPECT_EQ(read_file(a), record("into a"));
  EXPECT_EQ(read_file(b), record("into b"));
  // A failed switch leaves the unit unconnected, the first file intact.
  ASSERT_EQ(open_file(36, a, "old"), 0);
  EXPECT_EQ(open_file(36, dir.file("missing/c.map")), 29);
  EXPECT_FALSE(connected(36));
  EXPECT_EQ(close_unit(36), 0);
  EXPECT_EQ(read_file(a), record("into a"));
}

TEST(Close, UnconnectedUnitsAndDispositions) {
  ScratchDir dir;
  // Never referenced, a direct slot and a chain unit.
  EXPECT_EQ(close_unit(39), 0);
  EXPECT_EQ(close_unit(7000), 0);
  EXPECT_EQ(recio::for__find_unit_block(7000), nullptr);

  struct Case {
    std::string_view disposition;
    bool kept;
  };
  const Case cases[] = {
      {"", true}, {"keep", true}, {"SAVE", true}, {"delete", false}, {"DELETE  ", false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.disposition);
    const std::string path = dir.file("disposed.map");
    ASSERT_EQ(open_file(42, path), 0);
    ASSERT_EQ(write_text(42, "x"), 0);
    EXPECT_EQ(close_unit(42, c.disposition), 0);
    EXPECT_EQ(recio::for__find_unit_block(42), nullptr);
    EXPECT_EQ(testsupport::file_exists(path), c.kept);
    std::filesystem::remove(path);
  }
  // CLOSE takes no keyword but the disposition; the unit stays connected.
  {
    const std::string path = dir.file("kept.map");
    ASSERT_EQ(open_file(42, path), 0);
    EXPECT_EQ(testsupport::close_unit(42, kCheck, {{recio::kKeyStatus, "delete"}}), 48);
    EXPECT_TRUE(connected(42));
    EXPECT_EQ(recio::for__find_unit_block(42)->busy, 0u);
    EXPECT_EQ(close_unit(42, "bogus"), 45);
    EXPECT_TRUE(connected(42));
    EXPECT_EQ(close_unit(42), 0);
    EXPECT_TRUE(testsupport::file_exists(path));
  }
  // Closing twice: the second finds nothing connected.
  ASSERT_EQ(open_file(42, dir.file("twice.map")), 0);
  EXPECT_EQ(close_unit(42), 0);
  EXPECT_EQ(close_unit(42), 0);
}

TEST(Close, ScratchFileIsGoneAfterClose) {
  SKIP_ON_WINDOWS("the temporary directory comes from TMP, not TMPDIR");
  ScratchDir dir;
  EnvVar tmp("TMPDIR", dir.path().c_str());
  // FILE is ignored for a scratch unit.
  ASSERT_EQ(open_unit(43, kCheck,
                      {{recio::kKeyFile, dir.file("ignored")},
                       {recio::kKeyStatus, "Scratch"},
                       {recio::kKeyForm, "unformatted"}}),
            0);
  const std::string name(recio::for__find_unit_block(43)->connection.file_name.view());
  EXPECT_TRUE(name.starts_with(dir.path() + "/FOR")) << name;
  EXPECT_TRUE(testsupport::file_exists(name));
  EXPECT_FALSE(testsupport::file_exists(dir.file("ignored")));
  ASSERT_EQ(write_text(43, "temporary"), 0);
  EXPECT_EQ(read_file(name), record("temporary"));
  EXPECT_EQ(close_unit(43), 0);
  EXPECT_FALSE(testsupport::file_exists(name));
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));

  // A scratch OPEN that fails after the file was made leaves nothing behind.
  EnvVar convert("FORT_CONVERT43", "no such conversion");
  EXPECT_EQ(
      open_unit(43, kCheck, {{recio::kKeyStatus, "scratch"}, {recio::kKeyForm, "unformatted"}}),
      46);
  EXPECT_FALSE(connected(43));
  EXPECT_EQ(close_unit(43), 0);
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

}  // namespace

namespace {

// The console device names connect the standard handles, which CLOSE leaves
// open; an OPEN by the same device in another spelling keeps the connection;
// units on one console device share one line-feed entry.
TEST(Open, ConsoleDevicesTakeTheStandardHandles) {
  struct Case {
    std::string_view name, again;
    int device;
    plat::Handle handle;
    int descriptor;  // the C library's number of the same stream
  };
  const plat::Handle out = plat::std_handle(plat::StdStream::kOutput);
  const plat::Handle in = plat::std_handle(plat::StdStream::kInput);
  const plat::Handle err = plat::std_handle(plat::StdStream::kError);
  const Case cases[] = {
      {"CON", "con", recio::kDeviceConsoleOut, out, STDOUT_FILENO},
      {"CONOUT$", "conout$", recio::kDeviceConsoleOut, out, STDOUT_FILENO},
      {"USER", "User", recio::kDeviceUser, out, STDOUT_FILENO},
      {"CONIN$", "conin$", recio::kDeviceConsoleIn, in, STDIN_FILENO},
      {"ERR", "err", recio::kDeviceError, err, STDERR_FILENO},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(open_file(32, c.name, "unknown", "formatted"), 0);
    ASSERT_EQ(open_file(32, c.again, "unknown", "formatted"), 0);
    const UnitBlock* u = recio::for__find_unit_block(32);
    EXPECT_EQ(u->connection.device_kind, c.device);
    EXPECT_EQ(u->connection.handle, c.handle);
    EXPECT_TRUE(u->connection.standard_handle);
    EXPECT_EQ(u->connection.file_name, c.name);
    EXPECT_EQ(close_unit(32), 0);
    const int copy = ::dup(c.descriptor);  // fails on a closed stream
    EXPECT_GE(copy, 0);
    if (copy >= 0) ::close(copy);
  }
  ASSERT_EQ(open_file(32, "CONOUT$", "unknown", "formatted"), 0);
  ASSERT_EQ(open_file(33, "CONOUT$", "unknown", "formatted"), 0);
  const recio::LfEntry* shared = recio::for__find_unit_block(32)->connection.lf_entry;
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(recio::for__find_unit_block(33)->connection.lf_entry, shared);
  EXPECT_EQ(shared->references, 2);
  EXPECT_EQ(close_unit(33), 0);
  EXPECT_EQ(shared->references, 1);
  EXPECT_EQ(close_unit(32), 0);
  EXPECT_EQ(shared->references, 0);
}

// What the platform refuses at OPEN becomes the condition that names it; the
// unit stays unconnected and an existing file keeps its contents. POSIX only:
// a Unix-domain socket stands for "not a file or device", and the injected
// failures are errno values.
#ifndef _WIN32
TEST(Open, PlatformFailuresAtOpen) {
  ScratchDir dir;
  WorkingDir cwd(dir.path());
  const std::string socket_path = dir.file("socket");
  const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(sock, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", socket_path.c_str());
  ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  write_file(dir.file("old.dat"), "old contents");
  struct Case {
    const char* name;
    std::string file;
    std::string_view status;
    plat::Operation op;  // the operation made to fail, with errno `error`
    int error;
    int expected;
    // Unformatted output replaces a file whole and never cuts the old one.
    std::string_view form = "unformatted";
  };
  constexpr plat::Operation kNone = plat::Operation::kClose;  // error 0: nothing fails
  const Case cases[] = {
      {"NameLongerThanThePlatformAllows", std::string(256, 'n'), "unknown", kNone, 0, 43},
      {"NotAFileOrDevice", socket_path, "unknown", kNone, 0, 42},
      {"OtherOpenError", "old.dat", "unknown", plat::Operation::kOpen, EIO, 30},
      {"TooManyOpenFiles", "old.dat", "unknown", plat::Operation::kOpen, EMFILE, 30},
      {"ReplaceCannotCut", "old.dat", "replace", plat::Operation::kSetEndOfFile, EIO, 30,
       "formatted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.error != 0) plat::inject_failure(c.op, 1, 1, c.error);
    const int r = open_file(37, c.file, c.status, c.form);
    plat::inject_failure(c.op, 0, 0, 0);
    EXPECT_EQ(r, c.expected);
    const UnitBlock* u = recio::for__find_unit_block(37);
    ASSERT_NE(u, nullptr);
    EXPECT_FALSE(u->connected);
    EXPECT_EQ(close_unit(37), 0);
    EXPECT_EQ(read_file(dir.file("old.dat")), "old contents");
  }
  ::close(sock);
  // Appending needs the end of the file found.
  {
    plat::inject_failure(plat::Operation::kSeek, 1, 1,
                         plat::failure_code(plat::FailureMeaning::kIoError));
    const int r =
        open_unit(37, kCheck, {{recio::kKeyFile, "old.dat"}, {recio::kKeyPosition, "append"}});
    plat::inject_failure(plat::Operation::kSeek, 0, 0, 0);
    EXPECT_EQ(r, 30);
    EXPECT_FALSE(connected(37));
    EXPECT_EQ(close_unit(37), 0);
  }
}

#endif  // _WIN32

// The foreign conversion of an unformatted unit: a selection compiled into
// the flag word, the big-endian bit, or the CONVERT keyword.
TEST(Open, ForeignConversionChosenAtOpen) {
  ScratchDir dir;
  const std::string path = dir.file("foreign.unf");
  struct Case {
    const char* name;
    std::uint32_t flags;
    std::vector<Keyword> convert;  // CONVERT given as a code, or none
    int expected;
    bool converts, big_endian;
    std::uint8_t code;
  };
  const std::uint32_t no_code = kCheck & ~0xFF00u;
  const Case cases[] = {
      {"Native", kCheck, {}, 0, false, false, recio::kForeignIeee},
      {"CompiledIbm", no_code | recio::kForeignIbm << 8, {}, 0, true, false, recio::kForeignIbm},
      {"CompiledBigEndian", kCheck | recio::kFlagBigEndian, {}, 0, true, true, recio::kForeignIeee},
      {"UnknownKeywordCode",
       kCheck,
       {{recio::kKeyConvert, 99}},
       45,
       false,
       false,
       recio::kForeignIeee},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(open_with(38, c.flags, path, "unformatted", c.convert), c.expected);
    const UnitBlock* u = recio::for__find_unit_block(38);
    ASSERT_NE(u, nullptr);
    EXPECT_EQ(u->connected, c.expected == 0);
    if (c.expected == 0) {
      EXPECT_EQ(u->connection.convert, c.converts);
      EXPECT_EQ(u->connection.big_endian, c.big_endian);
      EXPECT_EQ(u->connection.foreign_code, c.code);
    }
    EXPECT_EQ(close_unit(38), 0);
  }
}

// CLOSE failures: the platform's close or delete refused, or a disposition
// that needs a command interpreter.
TEST(Close, FailuresAreReported) {
  ScratchDir dir;
  const std::string path = dir.file("closed.map");
  struct Case {
    const char* name;
    std::string_view disposition;
    bool remove_first;  // the file is gone before CLOSE deletes it
    bool close_fails;
    int expected;
    bool still_connected;
  };
  const Case cases[] = {
      {"Print", "print", false, false, 46, true},
      {"SubmitDelete", "submit/delete", false, false, 46, true},
      {"DeleteOfAFileAlreadyGone", "delete", true, false, 28, false},
      {"PlatformCloseFails", "keep", false, true, 28, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(open_file(42, path), 0);
    ASSERT_EQ(write_text(42, "kept"), 0);
    if (c.remove_first) {
      // Windows keeps an open file from removal: the case cannot be set up.
      std::error_code gone;
      if (!std::filesystem::remove(path, gone)) {
        EXPECT_EQ(close_unit(42), 0);
        continue;
      }
    }
    if (c.close_fails)
      plat::inject_failure(plat::Operation::kClose, 1, 1,
                           plat::failure_code(plat::FailureMeaning::kIoError));
    const int r = close_unit(42, c.disposition);
    plat::inject_failure(plat::Operation::kClose, 0, 0, 0);
    EXPECT_EQ(r, c.expected);
    EXPECT_EQ(connected(42), c.still_connected);
    EXPECT_EQ(close_unit(42), 0);
    EXPECT_FALSE(connected(42));
    if (!c.remove_first) {
      EXPECT_EQ(read_file(path), record("kept"));
    }
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
  }
}

}  // namespace

namespace {

// Which connections write a replacement that takes the file's name at
// CLOSE: unformatted sequential output from the start of a new, unknown or
// replaced regular file. Everything else is written in place.
TEST(Open, WhichConnectionsReplaceTheirFile) {
  SKIP_ON_WINDOWS("POSIX device and path names");
  ScratchDir dir;
  WorkingDir cwd(dir.path());
  struct Case {
    const char* name;
    std::initializer_list<Keyword> keywords;
    bool replacing;
  };
  const Case cases[] = {
      {"Unknown", {{recio::kKeyFile, "x.unf"}, {recio::kKeyForm, "unformatted"}}, true},
      {"Replace",
       {{recio::kKeyFile, "x.unf"},
        {recio::kKeyForm, "unformatted"},
        {recio::kKeyStatus, "replace"}},
       true},
      {"Old",
       {{recio::kKeyFile, "x.unf"}, {recio::kKeyForm, "unformatted"}, {recio::kKeyStatus, "old"}},
       false},
      {"Formatted", {{recio::kKeyFile, "x.unf"}, {recio::kKeyForm, "formatted"}}, false},
      {"ForReading",
       {{recio::kKeyFile, "x.unf"}, {recio::kKeyForm, "unformatted"}, {recio::kKeyAction, "read"}},
       false},
      {"Appended",
       {{recio::kKeyFile, "x.unf"},
        {recio::kKeyForm, "unformatted"},
        {recio::kKeyPosition, "append"}},
       false},
      {"Scratch", {{recio::kKeyForm, "unformatted"}, {recio::kKeyStatus, "scratch"}}, false},
      {"NullDevice", {{recio::kKeyFile, "NUL"}, {recio::kKeyForm, "unformatted"}}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(dir.file("x.unf"), "old");
    ASSERT_EQ(open_unit(45, kCheck, c.keywords), 0);
    // An existing file is replaced once the unit writes it from its start.
    const UnitBlock* u = recio::for__find_unit_block(45);
    EXPECT_EQ(u->connection.replacing || u->connection.replace_deferred, c.replacing);
    EXPECT_EQ(close_unit(45), 0);
    // Nothing written: the old file stays, in place or not, unless
    // STATUS='REPLACE' emptied it, as it does in place.
    EXPECT_EQ(read_file(dir.file("x.unf")), std::string(c.name) == "Replace" ? "" : "old");
  }
  std::size_t files = 0;
  for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++files;
  EXPECT_EQ(files, 1u);
}

}  // namespace

namespace {

// An existing file is replaced once its unit writes it from the start: the
// old contents stay visible until CLOSE. A unit that reads a record first
// writes on the file in place, after what it read.
TEST(Open, ExistingFileReplacedOnlyWhenWrittenFromTheStart) {
  ScratchDir dir;
  const std::string path = dir.file("both.unf");
  struct Case {
    const char* name;
    bool read_first;
    std::string during;  // the file before CLOSE
    std::string after;
  };
  const Case cases[] = {
      {"WrittenFromTheStart", false, record("old"), record("new")},
      {"ReadThenWritten", true, record("old") + record("new"), record("old") + record("new")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    write_file(path, record("old"));
    ASSERT_EQ(open_file(46, path), 0);
    if (c.read_first) {
      char text[3] = {};
      const IoArg args[] = {IoArg::val(3), IoArg::address(text)};
      IoControlBlock cb{};
      ASSERT_EQ(recio::for_read_seq(&cb, 46, kCheck, kTextEnd, args), 0);
      EXPECT_EQ(std::string_view(text, 3), "old");
    }
    ASSERT_EQ(write_text(46, "new"), 0);
    EXPECT_EQ(recio::for__find_unit_block(46)->connection.replacing, !c.read_first);
    EXPECT_EQ(read_file(path), c.during);
    EXPECT_EQ(close_unit(46), 0);
    EXPECT_EQ(read_file(path), c.after);
  }
}

}  // namespace
