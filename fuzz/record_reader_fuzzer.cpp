// The record reader over random byte streams in random read sizes: read
// statements with (A) on a file unit (block reads) or on standard input
// (one byte per read) must deliver exactly the records of a plain split of
// the stream at line feeds (one carriage return before a line feed dropped,
// a last line without line feed still a record, a record of the single byte
// 26 an end of file), whatever sizes the platform reads return. An injected
// read failure is reported once as 39 and loses no byte.
//
// Input: byte 0 options, byte 1 the number of read sizes, the sizes, then the
// stream.
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"
#include "recio/format.h"
#include "recio/io_api.h"
#include "recio/record_io.h"
#include "scripted_reads.h"
#include "support/units.h"

namespace {

using recio::IoArg;

constexpr std::int32_t kFileUnit = 20;
constexpr std::int32_t kConsoleUnit = 5;
constexpr std::int32_t kTextLengths[] = {80, 18, 1, 0, 200, 3, 80, 5000};

// What the reads must give: a record (status 0) or an end of file (-1).
struct Expected {
  int status;
  std::string_view record;
};

std::vector<Expected> split(std::string_view s) {
  std::vector<Expected> out;
  while (!s.empty()) {
    const std::size_t lf = s.find('\n');
    std::string_view rec = s.substr(0, lf);
    s = lf == std::string_view::npos ? std::string_view() : s.substr(lf + 1);
    if (!rec.empty() && rec.back() == '\r') rec.remove_suffix(1);
    if (rec == "\x1A")
      out.push_back({-1, {}});
    else
      out.push_back({0, rec});
  }
  return out;
}

const char* empty_file = nullptr;

int open_file_unit() {
  return testsupport::open_unit(
      kFileUnit, recio::kFlagsErrBranch,
      {{recio::kKeyFile, empty_file}, {recio::kKeyStatus, "old"}, {recio::kKeyForm, "formatted"}});
}

void close_unit(std::int32_t unit) {
  const int r = testsupport::close_unit(unit, recio::kFlagsErrBranch);
  if (r != 0) fuzz::fail("close of unit %d gave %d", unit, r);
}

int read_a(std::int32_t unit, std::uint32_t flags, char* text, std::int32_t length) {
  const IoArg args[] = {IoArg::val(length), IoArg::address(text)};
  recio::IoControlBlock cb{};
  return recio::for_read_seq_fmt(&cb, unit, flags, testsupport::statements::kTextEnd, args,
                                 recio::kFormatA);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  empty_file = fuzz::start_scripted_reads();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::Bytes in(data, size);
  const std::uint8_t options = in.take();
  const bool console = (options & 1) != 0;
  const std::int32_t length = kTextLengths[(options >> 1) & 7u];
  const std::uint32_t flags = (options & 16) != 0 ? recio::kFlagsEndBranch : recio::kFlagsErrBranch;
  const std::size_t fail_after = (options >> 5) & 7u;  // read failure injected: 0 none
  fuzz::new_read_script(in);
  fuzz::ReadScript& script = fuzz::read_script;
  script.fail_at = fail_after;
  script.stream = std::string_view(in.rest(), in.rest_size());
  const std::vector<Expected> want = split(script.stream);

  if (!console && open_file_unit() != 0) fuzz::fail("open of the file unit failed");
  const std::int32_t unit = console ? kConsoleUnit : kFileUnit;
  const auto text = std::make_unique<char[]>(static_cast<std::size_t>(length));
  const auto n = static_cast<std::size_t>(length);
  bool failure_seen = false;
  bool ended = false;
  try {
    // Every record, then two ends of file: the end is not remembered.
    std::size_t next = 0;
    for (std::size_t reads = 0; next < want.size() + 2; ++reads) {
      if (reads > want.size() + 3) fuzz::fail("more reads than records");
      std::memset(text.get(), '#', n);
      const int r = read_a(unit, flags, text.get(), length);
      if (r == 39) {
        if (failure_seen || script.fail_at == 0 || script.calls < script.fail_at)
          fuzz::fail("read %zu: 39 without an injected failure", reads);
        failure_seen = true;
        continue;
      }
      const Expected e = next < want.size() ? want[next] : Expected{-1, {}};
      if (r != e.status) fuzz::fail("record %zu: %d, want %d", next, r, e.status);
      if (r == 0) {
        std::string expected(e.record.substr(0, n));
        expected.resize(n, ' ');
        if (std::memcmp(text.get(), expected.data(), n) != 0)
          fuzz::fail("record %zu: \"%.*s\", want \"%s\"", next, length, text.get(),
                     expected.c_str());
      }
      ++next;
    }
  } catch (const fuzz::ProcessEnd& end) {
    // Without an error branch the failed read ends the process.
    if (end.status != msg::kReadError || flags != recio::kFlagsEndBranch || failure_seen)
      fuzz::fail("severe end with 0x%08X", end.status);
    ended = true;
  }
  if (!ended) close_unit(unit);
  fuzz::check_units_released("reading a stream");
  return 0;
}
