// The --help and --version answers: the usage and version texts, written to
// standard output and reported like any console write when that fails.
#include "app/information.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/version.h"
#include "rt/args.h"
#include "rt/diagnostics.h"
#include "rt/messages.h"

namespace app {
namespace {

constexpr char kUsage[] =
    "Usage: mapconv [INPUT [OUTPUT]]\n"
    "       mapconv --help | -h | --version\n"
    "\n"
    "Converts the formatted (text) vector-field map INPUT into the unformatted\n"
    "map file OUTPUT: length-framed binary records, one read per record.\n"
    "\n"
    "  INPUT    formatted map file to read; it must exist\n"
    "  OUTPUT   unformatted map file to write; created, or replaced\n"
    "\n"
    "A name missing from the command line is asked for on the console:\n"
    "   formatted MAP filename (input) [<RET>=exit]:\n"
    "   unformatted MAP filename (output) [<RET>=exit]:\n"
    "End of input (Ctrl-D) at a prompt ends the run without converting; an\n"
    "empty answer is an empty name, which cannot be opened.\n"
    "The run ends with \"conversion done.\" or a message saying what went wrong.\n"
    "\n"
    "  -h, --help   show this help and exit\n"
    "  --version    show the version and exit\n"
    "Both are recognised as the first or the second argument only.\n"
    "\n"
    "The manual (man mapconv) describes both formats, every message, the\n"
    "environment variables and the exit statuses.\n";

enum class Request { kNone, kHelp, kVersion };

// The console output is reported as this unit, as the program's own writes.
constexpr std::int32_t kConsoleOutUnit = 6;

Request request_in_argument(std::int16_t index) {
  // One character more than the longest option, so a longer argument never
  // matches; the status is the argument's full length.
  char text[sizeof "--version"];
  std::int16_t length = 0;
  rt::GETARG(&index, text, sizeof text, &length);
  if (length < 0 || length > static_cast<std::int16_t>(sizeof text)) return Request::kNone;
  const std::string_view arg(text, static_cast<std::size_t>(length));
  if (arg == "--help" || arg == "-h") return Request::kHelp;
  if (arg == "--version") return Request::kVersion;
  return Request::kNone;
}

void write_stdout(std::string_view text) {
  errno = 0;
  const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  if (std::fflush(stdout) == 0 && written) return;
  // The same report as any failed write to the console output.
  if (errno != 0) rt::write_os_error_line(errno);
  rt::for__issue_diagnostic_io(msg::kWriteError, kConsoleOutUnit, "CONOUT$");
}

}  // namespace

bool answer_information_request() {
  Request request = request_in_argument(1);
  if (request == Request::kNone) request = request_in_argument(2);
  switch (request) {
    case Request::kNone:
      return false;
    case Request::kHelp:
      write_stdout(kUsage);
      return true;
    case Request::kVersion: {
      char line[sizeof "mapconv \n" + sizeof kProgramVersion];
      const int n = std::snprintf(line, sizeof line, "mapconv %s\n", kProgramVersion);
      write_stdout(std::string_view(line, static_cast<std::size_t>(n)));
      return true;
    }
  }
  return false;
}

}  // namespace app
