// The program's main routine: obtains the two file names from the command
// line or the console, runs CONVERT once and writes its result.
#include "app/front_end.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "app/convert.h"
#include "app/descriptors.h"
#include "app/information.h"
#include "recio/format.h"
#include "recio/io_api.h"
#include "rt/args.h"
#include "rt/diagnostics.h"
#include "rt/startup.h"

namespace {

using recio::IoArg;

constexpr std::int32_t kConsoleIn = 5;
constexpr std::int32_t kConsoleOut = 6;
using app::kInputUnit;
using app::kOutputUnit;
using app::desc::kEnd;
using app::desc::kTextCountMore;
using app::desc::kTextEnd;
using app::desc::kTextMore;

// Static storage of the front end for the whole run.
char input_name[app::kNameLength];
char output_name[app::kNameLength];
std::int16_t argument_status;
std::int32_t answer_left;  // characters of a typed answer beyond the name buffer
float field[app::MXS];
char message[app::kMessageLength];
std::int32_t status_code;

void prompt(const char* text, std::int32_t length) {
  recio::IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(length), IoArg::address(text)};
  recio::for_write_seq_fmt(&cb, kConsoleOut, recio::kFlagsNoBranch, kTextEnd, args,
                           recio::kFormatPrompt);
}

// 0, or -1 at end of file on the console. answer_left tells whether the
// line was longer than the name; it is 0 when what follows is blanks only,
// since trailing blanks are no part of a name.
int read_name(char* name) {
  recio::IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(app::kNameLength), IoArg::address(name),
                        IoArg::address(&answer_left)};
  const int status = recio::for_read_seq_fmt(&cb, kConsoleIn, recio::kFlagsEndBranch,
                                             kTextCountMore, args, recio::kFormatAnswer);
  if (status != 0) return status;
  // The rest of the line in pieces, as many as the format's repeat allows
  // (the 65535 of (A,Q,65535A)).
  constexpr int kAnswerPieces = 65535;
  constexpr std::size_t kAnswerPieceSize = 4096;
  std::int32_t left = answer_left;
  bool blank = true;
  static char piece[kAnswerPieceSize];
  for (int n = 0; left > 0 && n < kAnswerPieces; ++n) {
    const IoArg more[] = {IoArg::val(sizeof piece), IoArg::address(piece)};
    recio::for_read_seq_fmt_xmit(&cb, kTextMore, more);
    const auto used = static_cast<std::size_t>(std::min<std::int32_t>(left, sizeof piece));
    blank = blank && std::all_of(piece, piece + used, [](char c) { return c == ' '; });
    left -= static_cast<std::int32_t>(used);
  }
  recio::for_read_seq_fmt_xmit(&cb, kEnd, {});
  if (blank && left <= 0) answer_left = 0;
  return 0;
}

// A name longer than the buffer would open another file than the one given:
// the run ends with the (severe) file name error of the unit that would have
// used it.
void name_too_long(std::int32_t unit, std::string_view given) {
  while (!given.empty() && given.back() == ' ') given.remove_suffix(1);
  rt::for__issue_diagnostic_io(msg::kFileNameError, unit, given);
}

// The whole command-line argument, for the diagnostic.
std::string whole_argument(const std::int16_t* index, std::int16_t length) {
  std::string text(static_cast<std::size_t>(length), ' ');
  std::int16_t status = 0;
  rt::GETARG(index, text.data(), length, &status);
  return text;
}

// Obtains one name: the argument, else the answer to the prompt. False at end
// of file on the console.
bool obtain_name(const std::int16_t* index, std::string_view prompt_text, char* name,
                 std::int32_t unit) {
  rt::GETARG(index, name, app::kNameLength, &argument_status);
  if (argument_status != -1) {
    if (argument_status <= app::kNameLength) return true;
    // Trailing blanks are no part of a name.
    std::string whole = whole_argument(index, argument_status);
    if (whole.find_last_not_of(' ') + 1 <= static_cast<std::size_t>(app::kNameLength)) return true;
    name_too_long(unit, whole);
    return false;
  }
  prompt(prompt_text.data(), static_cast<std::int32_t>(prompt_text.size()));
  if (read_name(name) == -1) return false;
  if (answer_left <= 0) return true;
  name_too_long(unit, std::string_view(name, app::kNameLength));
  return false;
}

void write_result(const char* text, std::int32_t length) {
  recio::IoControlBlock cb{};
  const IoArg args[] = {IoArg::val(length), IoArg::address(text)};
  recio::for_write_seq_lis(&cb, kConsoleOut, recio::kFlagsNoBranch, kTextEnd, args);
}

}  // namespace

namespace app {

int map_front_end() {
  rt::for_check_flawed_fdiv();
  const std::int32_t lock_mode = 0;
  rt::for_set_reentrancy(&lock_mode);
  if (app::answer_information_request()) return 0;

  static constexpr char kInputPrompt[] = "formatted MAP filename (input) [<RET>=exit]: ";
  static constexpr char kOutputPrompt[] = "unformatted MAP filename (output) [<RET>=exit]: ";
  const std::int16_t first = 1, second = 2;

  if (!obtain_name(&first, kInputPrompt, input_name, kInputUnit)) return 0;
  if (!obtain_name(&second, kOutputPrompt, output_name, kOutputUnit)) return 0;

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

}  // namespace app
