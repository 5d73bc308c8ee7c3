// Shared pieces of the fuzz targets: a reader over the input's bytes, the
// check that stops the fuzzer on a broken property, the run-time's settings
// for many statements in one process, and the end-of-process seam that turns
// a severe condition into an exception the target catches.
#pragma once

#include <unistd.h>

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "recio/unit.h"
#include "recio/unit_table.h"
#include "rt/diagnostics.h"
#include "rt/startup.h"

namespace fuzz {

// Takes bytes from the front of the input; past its end it yields zeros.
class Bytes {
 public:
  Bytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t take() { return pos_ < size_ ? data_[pos_++] : 0; }
  // The bytes not taken yet; they stay part of the input's allocation, so a
  // read beyond them is caught.
  const char* rest() const { return reinterpret_cast<const char*>(data_ + pos_); }
  std::size_t rest_size() const { return size_ - pos_; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// A broken property: says which and aborts, so the fuzzer keeps the input.
[[noreturn]] [[gnu::format(printf, 1, 2)]] inline void fail(const char* format, ...) {
  std::va_list args;
  va_start(args, format);
  std::fputs("fuzz check failed: ", stderr);
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
  va_end(args);
  std::abort();
}

// What the seam throws: the exit status the process would have ended with.
struct ProcessEnd {
  std::uint32_t status;
};

[[noreturn]] inline void throw_process_end(std::uint32_t status) {
  throw ProcessEnd{status};
}

// Diagnostics are formatted but not shown (thousands per second would drown
// the fuzzer's output); no traceback; no foreign conversion or redirection
// from the caller's environment.
inline void quiet_run_time() {
  ::setenv("FOR_DISABLE_DIAGNOSTIC_DISPLAY", "true", 1);
  ::setenv("FOR_DISABLE_STACK_TRACE", "true", 1);
  for (const char* name : {"FORT0", "FOR_DIAGNOSTIC_LOG_FILE", "FOR_GENERATE_DEBUG_EXCEPTION",
                           "FOR__IS_DEBUGGER_PRESENT", "f77_dump_flag", "qelfort_dump_flag",
                           "FORT_CONVERT20", "FORT_CONVERT21"})
    ::unsetenv(name);
  rt::for__read_diagnostic_switches();
  rt::for__set_end_process_seam(throw_process_end);
}

// An empty scratch file for a target's unit to be connected to (its reads
// come through the read seam), removed at exit. Made once per process.
inline const char* empty_scratch_file() {
  static char name[64];
  if (name[0] != '\0') return name;
  const char* dir = std::getenv("TMPDIR");
  std::snprintf(name, sizeof name, "%s/mapconv-fuzz-XXXXXX",
                dir != nullptr && std::strlen(dir) < 40 ? dir : "/tmp");
  const int fd = ::mkstemp(name);
  if (fd < 0) fail("no temporary file");
  ::close(fd);
  std::atexit([] { ::unlink(name); });
  return name;
}

// No unit is connected or held: every statement gave its unit back and
// termination (or CLOSE) closed every unit. Unconnected blocks may stay.
inline void check_units_released(const char* after) {
  recio::UnitTableCursor cursor;
  while (const recio::UnitBlock* u = recio::for__get_next_lub(&cursor)) {
    if (u->connected || u->busy != 0)
      fail("unit %d still %s after %s", u->unit, u->busy != 0 ? "held" : "connected", after);
  }
  const int depth = recio::for__internal_depth();
  if (depth != 0) fail("%d internal statements still open after %s", depth, after);
}

}  // namespace fuzz
