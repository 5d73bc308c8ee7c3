// The program's main routine: obtains the two file names from the command
// line or the console, runs CONVERT once and writes its result.
#include <cstdint>

#include "app/convert.h"
#include "app/information.h"
#include "recio/format.h"
#include "recio/io_api.h"
#include "rt/args.h"
#include "rt/startup.h"

namespace {

using recio::IoArg;

constexpr std::int32_t kConsoleIn = 5;
constexpr std::int32_t kConsoleOut = 6;
constexpr std::uint8_t kTextEnd[] = {0x38, 0x04, 0x01, 0x00};

// Static storage of the front end for the whole run.
char input_name[app::kNameLength];
char output_name[app::kNameLength];
std::int16_t argument_status;
float field[app::MXS];
char message[app::kMessageLength];
std::int32_t status_code;

void prompt(const char* text, std::int32_t length) {
  recio::IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(length), IoArg::address(text)};
  recio::for_write_seq_fmt(&cb, kConsoleOut, recio::kFlagsNoBranch, kTextEnd, args,
                           recio::kFormatPrompt);
}

// 0, or -1 at end of file on the console.
int read_name(char* name) {
  recio::IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(app::kNameLength), IoArg::address(name)};
  return recio::for_read_seq_fmt(&cb, kConsoleIn, recio::kFlagsEndBranch, kTextEnd, args,
                                 recio::kFormatA);
}

void write_result(const char* text, std::int32_t length) {
  recio::IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(length), IoArg::address(text)};
  recio::for_write_seq_lis(&cb, kConsoleOut, recio::kFlagsNoBranch, kTextEnd, args);
}

int map_front_end() {
  rt::for_check_flawed_fdiv();
  const std::int32_t lock_mode = 0;
  rt::for_set_reentrancy(&lock_mode);
  if (app::answer_information_request()) return 0;

  static constexpr char kInputPrompt[] = "formatted MAP filename (input) [<RET>=exit]: ";
  static constexpr char kOutputPrompt[] = "unformatted MAP filename (output) [<RET>=exit]: ";
  const std::int16_t first = 1, second = 2;

  rt::GETARG(&first, input_name, app::kNameLength, &argument_status);
  if (argument_status == -1) {
    prompt(kInputPrompt, sizeof kInputPrompt - 1);
    if (read_name(input_name) == -1) return 0;
  }
  rt::GETARG(&second, output_name, app::kNameLength, &argument_status);
  if (argument_status == -1) {
    prompt(kOutputPrompt, sizeof kOutputPrompt - 1);
    if (read_name(output_name) == -1) return 0;
  }

  app::CONVERT(input_name, app::kNameLength, output_name, app::kNameLength, field, &app::MXS,
               message, app::kMessageLength, &status_code);

  if (status_code != 0) {
    write_result(message, app::kMessageLength);
  } else {
    static constexpr char kDone[] = "conversion done.";
    write_result(kDone, sizeof kDone - 1);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return rt::for_main(argc, argv, map_front_end);
}
