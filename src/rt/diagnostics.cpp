// Diagnostics: the line, where it goes, the traceback after it and the end
// of the process after a severe one; the outcome of failed I/O statements.
#include "rt/diagnostics.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"
#include "rt/catalog.h"
#include "rt/env.h"
#include "rt/exceptions.h"
#include "rt/memory.h"
#include "rt/startup.h"
#include "rt/traceback.h"

namespace rt {
namespace {

constexpr std::size_t kDiagnosticBufferSize = 16384;

// Set once by the program before it reads its input.
ContextWriter context_writer = nullptr;

// FORT0 redirects standard error once, at the first diagnostic output.
std::atomic<bool> fort0_done{false};

void apply_fort0() {
  if (fort0_done.exchange(true)) return;
  const char* name = plat::get_env("FORT0");
  if (name != nullptr && name[0] != '\0') plat::redirect_stderr_append(name);
}

void write_diagnostic_buffer(const char* text, std::size_t length) {
  const char* log = plat::get_env("FOR_DIAGNOSTIC_LOG_FILE");
  if (log != nullptr && log[0] != '\0') plat::append_to_file(log, text, length);
  if (for_check_env_name("FOR_DISABLE_DIAGNOSTIC_DISPLAY")) return;
  plat::write_stderr(text, length);
}

// Ends the process after a severe condition: units closed, then exit with
// the identifier (or the dump-flag abort).
[[noreturn]] void end_after_severe(msg::Id id) {
  for__note_run_failed();
  for__exit_handler();
  if (for_check_env_name("FOR__IS_DEBUGGER_PRESENT")) plat::debug_break();
  const char* dump = plat::get_env("f77_dump_flag");
  if (dump == nullptr) dump = plat::get_env("qelfort_dump_flag");
  if (dump != nullptr && (dump[0] == 'Y' || dump[0] == 'y')) {
    static constexpr char kAbort[] = "\r\nabnormal program termination\r\n";
    plat::write_stderr(kAbort, sizeof kAbort - 1);
    plat::abort_process(3);
  }
  for__end_process(id);
}

void issue(msg::Id id, std::span<const FormatArg> args) {
  const bool severe = msg::severity(id) == 3;
  const bool in_exception = for__exception_in_progress();
  ExceptionInfo* const x = for__l_excpt_info;
  // A severe condition becomes the non-continuable exception, before anything
  // is written. Not while an exception is reported already: that report is
  // the one the user wants.
  if (severe && id != msg::severe(169) && x != nullptr && x->continue_mark == 0 && !in_exception &&
      for_check_env_name("FOR_GENERATE_DEBUG_EXCEPTION")) {
    plat::raise_exception(plat::exc::kNoncontinuable);
  }
  // The diagnostic buffer: the exception path's own, or a fresh one; when
  // memory is short, a line-sized one on the stack and no traceback.
  char small[kDiagnosticLineMax + 1];
  char* buffer = nullptr;
  if (in_exception) {
    if (x != nullptr) buffer = x->diagnostic_buffer;
  } else {
    buffer = static_cast<char*>(for__get_vm(kDiagnosticBufferSize));
  }
  std::size_t cap = kDiagnosticBufferSize;
  if (buffer == nullptr) {
    buffer = small;
    cap = sizeof small;
  }
  std::memset(buffer, 0, cap);
  apply_fort0();
  int n = format_diagnostic_line(buffer, cap, id, args);
  if (n < 0) {
    n = std::snprintf(buffer, cap, "%d",
                      static_cast<int>(static_cast<std::int16_t>(msg::number(id))));
  }
  auto length = static_cast<std::size_t>(n);
  // The program's context lines are about its data, not the program: the
  // stack-trace switch leaves them. In a line-sized buffer they follow in a
  // buffer of their own.
  char context[1024];
  std::size_t context_length = 0;
  if (severe && !in_exception && context_writer != nullptr) {
    if (buffer != small) {
      length = context_writer(id, buffer, length, cap);
    } else {
      context[0] = '\0';
      context_length = context_writer(id, context, 0, sizeof context);
    }
  }
  const bool traceback = buffer != small && x != nullptr && (severe || x->continue_mark != 0) &&
                         !for_check_env_name("FOR_DISABLE_STACK_TRACE");
  if (traceback) length = for_stack_trace(buffer, length, cap);
  write_diagnostic_buffer(buffer, length);
  if (context_length > 0) write_diagnostic_buffer(context, context_length);
  if (buffer != small && !in_exception) for__free_vm(buffer);
  if (!severe) return;
  if (x != nullptr && x->continue_mark != 0) return;  // back to the exception handler
  end_after_severe(id);
}

}  // namespace

void write_os_error_line(int os_error) {
  apply_fort0();
  char text[320];
  plat::error_text(os_error, text, sizeof text);
  char line[340];
  int n = std::snprintf(line, sizeof line, "%s: %s", "forrtl", text);
  if (n > 0)
    plat::write_stderr(line, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof line - 1));
}

void for__set_context_writer(ContextWriter writer) {
  context_writer = writer;
}

void for__write_diagnostic_text(const char* text, std::size_t length) {
  apply_fort0();
  write_diagnostic_buffer(text, length);
}

void for__issue_diagnostic(msg::Id id) {
  issue(id, {});
}

void for__issue_diagnostic_io(msg::Id id, std::int32_t unit, std::string_view file) {
  const std::array<FormatArg, 2> args{FormatArg(unit), FormatArg(file)};
  issue(id, args);
}

void for__issue_diagnostic_text(msg::Id id, std::string_view text) {
  const std::array<FormatArg, 1> args{FormatArg(text)};
  issue(id, args);
}

void for__issue_diagnostic_int(msg::Id id, std::int64_t value) {
  const std::array<FormatArg, 1> args{FormatArg(value)};
  issue(id, args);
}

void for__issue_diagnostic_args(msg::Id id, std::span<const FormatArg> args) {
  issue(id, args);
}

}  // namespace rt
