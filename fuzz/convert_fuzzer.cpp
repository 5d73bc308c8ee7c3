// The whole conversion on random map texts: the input is written to a file,
// CONVERT runs on it with an output file beside it, and the program's
// termination follows. A severe condition ends the "process" through the
// seam as an exception; the exit handler has closed every unit by then.
// Properties: CONVERT returns one of its status codes or ends with a severe
// condition a map text can cause; afterwards no unit is connected or held,
// so the next input starts from a clean unit table.
//
// The output file is limited in size (a full disk, as far as the writer can
// tell): empty planes of an enormous NZ would otherwise take minutes.
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/convert.h"
#include "harness.h"

namespace {

constexpr rlim_t kOutputLimit = 256 * 1024;

char work_dir[64];
char input_name[app::kNameLength];
char output_name[app::kNameLength];
float field[app::MXS];
char message[app::kMessageLength];

void set_name(char (&name)[app::kNameLength], const char* file) {
  std::string path = std::string(work_dir) + "/" + file;
  path.resize(app::kNameLength, ' ');
  std::memcpy(name, path.data(), app::kNameLength);
}

void remove_work_dir() {
  for (const char* file : {"in.map", "out.map"})
    ::unlink((std::string(work_dir) + "/" + file).c_str());
  ::rmdir(work_dir);
}

bool known_status(std::int32_t s) {
  switch (s) {
    case 0:
    case 1:
    case 2:
    case 3:
    case 4:
    case 104:
    case 5:
    case 105:
    case 205:
    case 305:
    case 6:
    case 106:
    case 7:
    case 8:
      return true;
    default:
      return false;
  }
}

// Severe ends a map text can cause: too few values on a line, a value of the
// wrong syntax or type, and a full output.
bool known_end(std::uint32_t status) {
  return status == msg::kEndOfFile || status == msg::kListSyntax ||
         status == msg::kInputConversion || status == msg::kFormatMismatch ||
         status == msg::kWriteError;
}

rlimit saved_limit;

void limit_output(rlim_t bytes) {
  // A write beyond the limit fails with an error instead of a signal. Set
  // here, not at initialisation: libFuzzer installs its own handler after.
  static const bool ignored = ::signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
  if (!ignored) fuzz::fail("cannot ignore SIGXFSZ");
  rlimit limit = saved_limit;
  if (bytes < limit.rlim_cur) limit.rlim_cur = bytes;
  if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) fuzz::fail("setrlimit");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quiet_run_time();
  const char* dir = std::getenv("TMPDIR");
  std::snprintf(work_dir, sizeof work_dir, "%s/mapconv-fuzz-XXXXXX",
                dir != nullptr && std::strlen(dir) < 40 ? dir : "/tmp");
  if (::mkdtemp(work_dir) == nullptr) fuzz::fail("no temporary directory");
  std::atexit(remove_work_dir);
  set_name(input_name, "in.map");
  set_name(output_name, "out.map");
  if (::getrlimit(RLIMIT_FSIZE, &saved_limit) != 0) fuzz::fail("getrlimit");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    const std::string in = std::string(work_dir) + "/in.map";
    std::FILE* f = std::fopen(in.c_str(), "wb");
    if (f == nullptr || std::fwrite(data, 1, size, f) != size || std::fclose(f) != 0)
      fuzz::fail("cannot write the input file");
  }
  const std::string out = std::string(work_dir) + "/out.map";
  ::unlink(out.c_str());
  app::reset_convert_storage();
  std::memset(message, '#', sizeof message);
  std::int32_t status = -1;
  limit_output(kOutputLimit);
  try {
    app::CONVERT(input_name, app::kNameLength, output_name, app::kNameLength, field, &app::MXS,
                 message, app::kMessageLength, &status);
    // The program's termination: closes unit 20 after an early return.
    rt::for_rtl_finish_();
    if (!known_status(status)) fuzz::fail("CONVERT returned status %d", status);
    // A failure fills the whole message and creates no output; success
    // leaves the message alone.
    const bool written = std::memchr(message, '#', sizeof message) == nullptr;
    const bool untouched =
        std::all_of(message, message + sizeof message, [](char c) { return c == '#'; });
    const bool output = ::access(out.c_str(), F_OK) == 0;
    if (status == 0 ? (!output || !untouched) : (output || !written))
      fuzz::fail("status %d: message %s, output %s", status, written ? "written" : "not written",
                 output ? "created" : "missing");
  } catch (const fuzz::ProcessEnd& end) {
    if (!known_end(end.status)) fuzz::fail("severe end with 0x%08X", end.status);
  }
  limit_output(RLIM_INFINITY);
  fuzz::check_units_released("a conversion");
  return 0;
}
