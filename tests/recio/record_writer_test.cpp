#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "recio/io_api.h"
#include "recio/unit_table.h"
#include "rt/diagnostics.h"
#include "rt/memory.h"
#include "support/test_files.h"
#include "support/units.h"

namespace {

using namespace testsupport::statements;
using recio::UnitBlock;
using testsupport::bytes;
using testsupport::read_file;
using testsupport::ScratchDir;
using testsupport::write_file;

constexpr std::int32_t kUnit = 50;
constexpr auto kIntValueMore = item_descriptor({recio::kInt4Value}, Terminator::kMore);
constexpr auto kByteEnd = item_descriptor({recio::kByteVariable}, Terminator::kEnd);
constexpr auto kWholeExample = recio::item_descriptor(
    {recio::kTextItem, recio::kInt4Variable, recio::kReal4Variable}, recio::Terminator::kEnd);

int open_unit(std::int32_t unit, const std::string& name, std::string_view form = "unformatted") {
  return testsupport::open_unit(
      unit, kCheck,
      {{recio::kKeyFile, name}, {recio::kKeyStatus, "unknown"}, {recio::kKeyForm, form}});
}

int close_unit(std::int32_t unit) {
  return testsupport::close_unit(unit, kCheck);
}

// A complete statement: one start call with the whole descriptor.
int write_items(std::int32_t unit, std::span<const std::uint8_t> desc, std::span<const IoArg> args,
                std::uint32_t flags = kCheck) {
  IoControlBlock cb{};
  return recio::for_write_seq(&cb, unit, flags, desc, args);
}

int write_text(std::int32_t unit, std::string_view text) {
  const IoArg args[] = {IoArg::val(static_cast<std::int64_t>(text.size())),
                        IoArg::address(text.data())};
  return write_items(unit, kTextEnd, args);
}

// The program's way to write a plane: bare start, one call per 4-byte value,
// bare end.
int write_as_values(std::int32_t unit, std::string_view data) {
  IoControlBlock cb{};
  if (int r = recio::for_write_seq(&cb, unit, kCheck, kMore, {})) return r;
  for (std::size_t at = 0; at < data.size(); at += 4) {
    const IoArg v[] = {IoArg::val(4), IoArg::address(data.data() + at)};
    if (int r = recio::for_write_seq_xmit(&cb, kFieldValueMore, v)) return r;
  }
  return recio::for_write_seq_xmit(&cb, kEnd, {});
}

std::string length_field(std::uint32_t n, bool big_endian = false) {
  std::string s;
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((n >> (8 * i)) & 0xFF));
  if (big_endian) std::swap(s[0], s[3]), std::swap(s[1], s[2]);
  return s;
}

std::string record(std::string_view data) {
  const std::string n = length_field(static_cast<std::uint32_t>(data.size()));
  return n + std::string(data) + n;
}

// Deterministic data that no two offsets share by accident.
std::string pattern(std::size_t n) {
  std::string s(n, '\0');
  std::uint32_t x = 0x12345678;
  for (std::size_t i = 0; i < n; ++i) {
    x = x * 1664525u + 1013904223u;
    s[i] = static_cast<char>(x >> 24);
  }
  return s;
}

// Compares large byte strings without printing them whole.
testing::AssertionResult same_bytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return testing::AssertionSuccess();
  std::size_t i = 0;
  while (i < actual.size() && i < expected.size() && actual[i] == expected[i]) ++i;
  return testing::AssertionFailure() << "sizes " << actual.size() << " vs " << expected.size()
                                     << ", first difference at offset " << i;
}

class EnvVar {
 public:
  EnvVar(const char* name, const char* value) : name_(name) {
    if (value != nullptr)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~EnvVar() { ::unsetenv(name_); }

 private:
  const char* name_;
};

// Memory requests above `bytes` fail for one scope.
class VmLimit {
 public:
  explicit VmLimit(std::size_t bytes) { rt::for__set_vm_limit(bytes); }
  ~VmLimit() { rt::for__set_vm_limit(0); }
};

TEST(RecordWriter, RecordBytes) {
  ScratchDir dir;
  const std::string path = dir.file("records.map");
  static const char ab[] = "AB";
  static const std::int32_t i258 = 258;
  static const float one = 1.0f;
  static const std::uint8_t byte = 0x7E;
  static const std::string text80 = pattern(80);
  static const std::string text2040 = pattern(2040);
  static const std::string text2041 = pattern(2041);
  const std::string worked = bytes({0x0A, 0x00, 0x00, 0x00, 0x41, 0x42, 0x02, 0x01, 0x00, 0x00,
                                    0x00, 0x00, 0x80, 0x3F, 0x0A, 0x00, 0x00, 0x00});
  struct Case {
    const char* name;
    std::function<int()> write;
    std::string expected;
    bool grows;  // the record area had to grow beyond its 2040 data bytes
  };
  const Case cases[] = {
      {"worked example, one call per item",
       [] {
         IoControlBlock cb{};
         const IoArg a[] = {IoArg::val(2), IoArg::address(ab)};
         if (int r = recio::for_write_seq(&cb, kUnit, kCheck, kTextMore, a)) return r;
         const IoArg b[] = {IoArg::address(&i258)};
         if (int r = recio::for_write_seq_xmit(&cb, kIntMore, b)) return r;
         const IoArg c[] = {IoArg::address(&one)};
         return recio::for_write_seq_xmit(&cb, kRealEnd, c);
       },
       worked, false},
      {"worked example, integer by value",
       [] {
         IoControlBlock cb{};
         const IoArg a[] = {IoArg::val(2), IoArg::address(ab)};
         if (int r = recio::for_write_seq(&cb, kUnit, kCheck, kTextMore, a)) return r;
         const IoArg b[] = {IoArg::val(258)};
         if (int r = recio::for_write_seq_xmit(&cb, kIntValueMore, b)) return r;
         const IoArg c[] = {IoArg::address(&one)};
         return recio::for_write_seq_xmit(&cb, kRealEnd, c);
       },
       worked, false},
      {"worked example, one call",
       [] {
         const IoArg a[] = {IoArg::val(2), IoArg::address(ab), IoArg::address(&i258),
                            IoArg::address(&one)};
         return write_items(kUnit, kWholeExample, a);
       },
       worked, false},
      {"no item", [] { return write_items(kUnit, kEnd, {}); }, std::string(8, '\0'), false},
      {"bare entries only",
       [] {
         IoControlBlock cb{};
         if (int r = recio::for_write_seq(&cb, kUnit, kCheck, kMore, {})) return r;
         for (int k = 0; k < 3; ++k)
           if (int r = recio::for_write_seq_xmit(&cb, kMore, {})) return r;
         return recio::for_write_seq_xmit(&cb, kEnd, {});
       },
       std::string(8, '\0'), false},
      {"80 text bytes", [] { return write_text(kUnit, text80); },
       bytes({0x50, 0, 0, 0}) + text80 + bytes({0x50, 0, 0, 0}), false},
      {"2040 bytes as values", [] { return write_as_values(kUnit, text2040); }, record(text2040),
       false},
      {"2040 bytes as text", [] { return write_text(kUnit, text2040); }, record(text2040), false},
      {"2041 bytes as text", [] { return write_text(kUnit, text2041); }, record(text2041), true},
      {"2041 bytes as values and a byte",
       [] {
         IoControlBlock cb{};
         if (int r = recio::for_write_seq(&cb, kUnit, kCheck, kMore, {})) return r;
         for (std::size_t at = 0; at < 2040; at += 4) {
           const IoArg v[] = {IoArg::val(4), IoArg::address(text2040.data() + at)};
           if (int r = recio::for_write_seq_xmit(&cb, kFieldValueMore, v)) return r;
         }
         const IoArg b[] = {IoArg::address(&byte)};
         return recio::for_write_seq_xmit(&cb, kByteEnd, b);
       },
       record(text2040 + "\x7E"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(open_unit(kUnit, path), 0);
    EXPECT_EQ(c.write(), 0);
    const UnitBlock* u = recio::for__find_unit_block(kUnit);
    EXPECT_EQ(u->busy, 0u);
    EXPECT_EQ(u->position.record_count, 1);
    EXPECT_EQ(u->position.record_area > 2048, c.grows) << u->position.record_area;
    EXPECT_EQ(close_unit(kUnit), 0);
    EXPECT_TRUE(same_bytes(read_file(path), c.expected));
  }
}

TEST(RecordWriter, LargestPlaneRecord) {
  ScratchDir dir;
  const std::string path = dir.file("plane.map");
  const std::string data = pattern(12000000);
  const std::string length = bytes({0x00, 0x1B, 0xB7, 0x00});
  const std::function<int()> ways[] = {[&] { return write_as_values(kUnit, data); },
                                       [&] { return write_text(kUnit, data); }};
  for (const auto& write : ways) {
    ASSERT_EQ(open_unit(kUnit, path), 0);
    ASSERT_EQ(write(), 0);
    ASSERT_EQ(close_unit(kUnit), 0);
    const std::string file = read_file(path);
    ASSERT_EQ(file.size(), 12000008u);
    EXPECT_EQ(file.substr(0, 4), length);
    EXPECT_EQ(file.substr(12000004), length);
    EXPECT_TRUE(same_bytes(file, length + data + length));
  }
}

// When the record buffer cannot grow, the record goes straight to the file;
// the bytes are the same. Small records around it check the file position.
TEST(RecordWriter, DirectWriteWhenMemoryRunsOut) {
  ScratchDir dir;
  const std::string path = dir.file("direct.map");
  const std::string data = pattern(12000000);
  static const char ab[] = "AB";
  struct Case {
    const char* name;
    std::function<int()> write;
    std::string data;
  };
  const Case cases[] = {
      {"values, separate end", [&] { return write_as_values(kUnit, data); }, data},
      {"one item carrying the end", [&] { return write_text(kUnit, data); }, data},
      {"one item, separate end",
       [&] {
         IoControlBlock cb{};
         const IoArg a[] = {IoArg::val(static_cast<std::int64_t>(data.size())),
                            IoArg::address(data.data())};
         if (int r = recio::for_write_seq(&cb, kUnit, kCheck, kTextMore, a)) return r;
         return recio::for_write_seq_xmit(&cb, kEnd, {});
       },
       data},
      {"buffered item, then the last item",
       [&] {
         IoControlBlock cb{};
         const IoArg a[] = {IoArg::val(2), IoArg::address(ab)};
         if (int r = recio::for_write_seq(&cb, kUnit, kCheck, kTextMore, a)) return r;
         const IoArg b[] = {IoArg::val(static_cast<std::int64_t>(data.size())),
                            IoArg::address(data.data())};
         return recio::for_write_seq_xmit(&cb, kTextEnd, b);
       },
       "AB" + data},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // An existing longer file: the records of this connection replace it.
    write_file(path, std::string(13000000, '\xEE'));
    ASSERT_EQ(open_unit(kUnit, path), 0);
    {
      VmLimit limit(16384);
      ASSERT_EQ(write_text(kUnit, "head"), 0);
      ASSERT_EQ(c.write(), 0);
      ASSERT_EQ(write_text(kUnit, "tail"), 0);
      const UnitBlock* u = recio::for__find_unit_block(kUnit);
      EXPECT_LE(u->position.buffer.size(), 16384u)
          << "the record buffer grew: no direct write happened";
      EXPECT_EQ(u->position.record_count, 3);
    }
    ASSERT_EQ(close_unit(kUnit), 0);
    EXPECT_TRUE(same_bytes(read_file(path), record("head") + record(c.data) + record("tail")));
  }
  // The first record itself in direct-write mode also ends the old contents.
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string("first record: ") + c.name);
    write_file(path, std::string(13000000, '\xEE'));
    ASSERT_EQ(open_unit(kUnit, path), 0);
    {
      VmLimit limit(16384);
      ASSERT_EQ(c.write(), 0);
    }
    ASSERT_EQ(close_unit(kUnit), 0);
    EXPECT_TRUE(same_bytes(read_file(path), record(c.data)));
  }
}

// Records without length fields carry none in direct-write mode either.
TEST(RecordWriter, DirectWriteKeepsTheFramingOfTheRecordType) {
  ScratchDir dir;
  const std::string path = dir.file("stream.map");
  const std::string data = pattern(100000);
  struct Case {
    std::string_view form, record_type;  // record type empty: not given
    std::string suffix;
  };
  const Case cases[] = {
      {"binary", "", ""},
      {"unformatted", "stream", ""},
      {"unformatted", "stream_lf", "\r\n"},
      {"unformatted", "stream_cr", "\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.form) + " " + std::string(c.record_type));
    std::vector<testsupport::UnitKeyword> keywords = {{recio::kKeyFile, path},
                                                      {recio::kKeyForm, c.form}};
    if (!c.record_type.empty()) keywords.push_back({recio::kKeyRecordType, c.record_type});
    const std::function<int()> ways[] = {[&] { return write_as_values(kUnit, data); },
                                         [&] { return write_text(kUnit, data); }};
    for (const auto& write : ways) {
      write_file(path, std::string(200000, '#'));
      ASSERT_EQ(testsupport::open_unit(kUnit, kCheck, keywords), 0);
      {
        VmLimit limit(16384);
        ASSERT_EQ(write(), 0);
        ASSERT_EQ(write_text(kUnit, "tail"), 0);
        EXPECT_LE(recio::for__find_unit_block(kUnit)->position.buffer.size(), 16384u);
      }
      ASSERT_EQ(close_unit(kUnit), 0);
      EXPECT_TRUE(same_bytes(read_file(path), data + c.suffix + "tail" + c.suffix));
    }
  }
}

// A statement that failed is over: further calls with its control block
// write nothing.
TEST(RecordWriter, FailedStatementTakesNoFurtherItems) {
  ScratchDir dir;
  const std::string path = dir.file("failed.map");
  ASSERT_EQ(open_unit(kUnit, path), 0);
  IoControlBlock cb{};
  constexpr auto unknown_type = recio::item_descriptor(
      {{recio::TypeCode{0x55}, recio::kPassAddress}}, recio::Terminator::kMore);
  const std::int32_t value = 1;
  const IoArg a[] = {IoArg::address(&value)};
  EXPECT_EQ(recio::for_write_seq(&cb, kUnit, kCheck, unknown_type, a), 48);
  EXPECT_EQ(cb.unit, nullptr);
  EXPECT_NE(recio::for_write_seq_xmit(&cb, kEnd, {}), 0);
  ASSERT_EQ(close_unit(kUnit), 0);
  EXPECT_EQ(read_file(path), "");
}

// On a pipe nothing can be moved back: a record whose last item carries the
// terminator needs no move, because its leading length is known up front.
TEST(RecordWriter, DirectWriteToAPipeWhenTheLastItemEndsTheRecord) {
  SKIP_ON_WINDOWS("no FIFOs");
  ScratchDir dir;
  const std::string fifo = dir.file("pipe");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::string received;
  std::thread reader([&] {
    const int fd = ::open(fifo.c_str(), O_RDONLY);
    char chunk[65536];
    for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) received.append(chunk, n);
    ::close(fd);
  });
  const std::string data = pattern(3000000);
  ASSERT_EQ(open_unit(kUnit, fifo), 0);
  EXPECT_FALSE(recio::for__find_unit_block(kUnit)->connection.disk_file);
  {
    VmLimit limit(16384);
    EXPECT_EQ(write_text(kUnit, data), 0);
    EXPECT_LE(recio::for__find_unit_block(kUnit)->position.buffer.size(), 16384u);
  }
  EXPECT_EQ(close_unit(kUnit), 0);
  reader.join();
  EXPECT_TRUE(same_bytes(received, record(data)));
}

TEST(RecordWriter, ExistingFileKeepsItsContentsUntilTheFirstRecord) {
  ScratchDir dir;
  const std::string path = dir.file("existing.map");
  const std::string old = pattern(5000);
  write_file(path, old);
  ASSERT_EQ(open_unit(kUnit, path), 0);
  ASSERT_EQ(close_unit(kUnit), 0);
  EXPECT_TRUE(same_bytes(read_file(path), old));

  ASSERT_EQ(open_unit(kUnit, path), 0);
  EXPECT_EQ(read_file(path), old) << "OPEN itself must not shorten the file";
  for (const char* text : {"one", "two", "three"}) ASSERT_EQ(write_text(kUnit, text), 0);
  ASSERT_EQ(close_unit(kUnit), 0);
  EXPECT_EQ(read_file(path), record("one") + record("two") + record("three"));
}

TEST(RecordWriter, FirstRecordEndsTheFileForEveryRecordType) {
  ScratchDir dir;
  const std::string path = dir.file("types.map");
  struct Case {
    std::string_view record_type;
    std::int64_t recl;  // 0: not given
    std::string expected;
  };
  const Case cases[] = {
      {"variable", 0, bytes({2, 0, 0, 0, 'A', 'B', 2, 0, 0, 0})},
      {"segmented", 0, bytes({4, 0, 3, 0, 'A', 'B'})},
      {"stream", 0, "AB"},
      {"stream_lf", 0, "AB\r\n"},
      {"stream_cr", 0, "AB\r"},
      {"fixed", 1, bytes({'A', 'B', 0, 0})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record_type);
    write_file(path, std::string(100, '#'));
    std::vector<testsupport::UnitKeyword> keywords = {{recio::kKeyFile, path},
                                                      {recio::kKeyForm, "unformatted"},
                                                      {recio::kKeyRecordType, c.record_type}};
    if (c.recl != 0) keywords.push_back({recio::kKeyRecl, c.recl});
    ASSERT_EQ(testsupport::open_unit(kUnit, kCheck, keywords), 0);
    ASSERT_EQ(write_text(kUnit, "AB"), 0);
    ASSERT_EQ(close_unit(kUnit), 0);
    EXPECT_EQ(read_file(path), c.expected);
  }
}

TEST(RecordWriter, BigEndianConversionFromTheEnvironment) {
  ScratchDir dir;
  const std::string path = dir.file("convert.map");
  const std::string little = bytes({0x0A, 0x00, 0x00, 0x00, 0x41, 0x42, 0x02, 0x01, 0x00, 0x00,
                                    0x00, 0x00, 0x80, 0x3F, 0x0A, 0x00, 0x00, 0x00});
  const std::string big = bytes({0x00, 0x00, 0x00, 0x0A, 0x41, 0x42, 0x00, 0x00, 0x01, 0x02, 0x3F,
                                 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0A});
  struct Case {
    const char* value;  // null: unset
    int open_result;
    std::string expected;
  };
  const Case cases[] = {
      {nullptr, 0, little},       {"big_endian", 0, big},  {"BIG_ENDIAN", 0, big},
      {"Big_Endian", 0, big},     {"native", 0, little},   {"LITTLE_ENDIAN", 0, little},
      {" big_endian", 46, ""},    {"big_endian ", 46, ""}, {"", 46, ""},
      {"big_endianness", 46, ""}, {"bigendian", 46, ""},
  };
  static const char ab[] = "AB";
  static const std::int32_t i258 = 258;
  static const float one = 1.0f;
  const IoArg args[] = {IoArg::val(2), IoArg::address(ab), IoArg::address(&i258),
                        IoArg::address(&one)};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value != nullptr ? std::string("[") + c.value + "]" : "unset");
    if (!testsupport::environment_holds(c.value)) continue;
    std::filesystem::remove(path);
    const std::string var = "FORT_CONVERT" + std::to_string(kUnit);
    EnvVar env(var.c_str(), c.value);
    ASSERT_EQ(open_unit(kUnit, path), c.open_result);
    if (c.open_result != 0) {
      const UnitBlock* u = recio::for__find_unit_block(kUnit);
      EXPECT_TRUE(u == nullptr || !u->connected);
      EXPECT_EQ(close_unit(kUnit), 0);
      continue;
    }
    ASSERT_EQ(write_items(kUnit, kWholeExample, args), 0);
    ASSERT_EQ(write_items(kUnit, kEnd, {}), 0);
    ASSERT_EQ(close_unit(kUnit), 0);
    EXPECT_EQ(read_file(path), c.expected + std::string(8, '\0'));
  }
}

TEST(RecordWriter, RefusedWritesReturnTheirStatus) {
  ScratchDir dir;
  const std::string path = dir.file("refused.txt");
  write_file(path, "text\n");
  // Formatted unit: status 31, nothing written, the unit still connected.
  ASSERT_EQ(open_unit(kUnit, path, "formatted"), 0);
  EXPECT_EQ(write_text(kUnit, "binary"), 31);
  EXPECT_TRUE(recio::for__find_unit_block(kUnit)->connected);
  EXPECT_EQ(recio::for__find_unit_block(kUnit)->busy, 0u);
  ASSERT_EQ(close_unit(kUnit), 0);
  EXPECT_EQ(read_file(path), "text\n");

  // Direct access (RECL 4 units of 4 bytes): status 31 as well.
  {
    ASSERT_EQ(testsupport::open_unit(
                  kUnit, kCheck,
                  {{recio::kKeyFile, path}, {recio::kKeyAccess, "direct"}, {recio::kKeyRecl, 4}}),
              0);
    EXPECT_EQ(write_text(kUnit, "seq"), 31);
    ASSERT_EQ(close_unit(kUnit), 0);
  }

  // A malformed item descriptor is an argument error; the unit is released.
  ASSERT_EQ(open_unit(kUnit, dir.file("bad.map")), 0);
  constexpr auto unknown_type = recio::item_descriptor(
      {{recio::TypeCode{0x55}, recio::kPassAddress}}, recio::Terminator::kEnd);
  const std::int32_t value = 1;
  const IoArg a[] = {IoArg::address(&value)};
  EXPECT_EQ(write_items(kUnit, unknown_type, a), 48);
  EXPECT_EQ(recio::for__find_unit_block(kUnit)->busy, 0u);
  EXPECT_EQ(write_text(kUnit, "after"), 0);
  ASSERT_EQ(close_unit(kUnit), 0);
}

TEST(RecordWriter, FailedPlatformWriteReturns38) {
  ASSERT_EQ(open_unit(kUnit, "/dev/full"), 0);
  const UnitBlock* u = recio::for__find_unit_block(kUnit);
  EXPECT_FALSE(u->connection.disk_file);
  EXPECT_EQ(write_text(kUnit, "no room"), 38);
  EXPECT_EQ(u->statement.os_error, 0) << "a handled error leaves no operating-system error behind";
  EXPECT_TRUE(u->connected);
  EXPECT_EQ(u->busy, 0u);
  ASSERT_EQ(close_unit(kUnit), 0);
}

TEST(RecordWriterDeathTest, WriteToAFormattedUnitWithoutErrorCheck) {
  ScratchDir dir;
  const std::string path = dir.file("formatted.txt");
  const std::string capture = dir.file("stderr");
  // Exit status: the low byte of 0xC0000100.
  EXPECT_EXIT(
      {
        const int fd = ::open(capture.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, STDERR_FILENO);
        ::setenv("FOR_DISABLE_STACK_TRACE", "true", 1);
        rt::for__read_diagnostic_switches();
        if (open_unit(kUnit, path, "formatted") != 0) std::_Exit(99);
        write_items(kUnit, kEnd, {}, recio::kFlagsNoBranch);
        std::_Exit(98);
      },
      testing::ExitedWithCode(0), "");
  EXPECT_EQ(read_file(capture),
            "forrtl: severe (256): unformatted I/O to unit open for formatted transfers, unit 50, "
            "file " +
                path + "\r\n");
}

}  // namespace
