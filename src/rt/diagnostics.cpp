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

// The status of the abort the dump flags ask for.
constexpr int kDumpAbortStatus = 3;
// The program's context lines when memory is short and the diagnostic has
// only a line-sized buffer: they follow in one of their own.
constexpr std::size_t kSeparateContextSize = 1024;
// The line "forrtl: <text>" of an operating-system error.
constexpr char kOsErrorPrefix[] = "forrtl";
constexpr std::size_t kOsErrorLineSize = sizeof kOsErrorPrefix + 2 + kOsErrorTextSize;

// Set once by the program before it reads its input.
ContextWriter context_writer = nullptr;

// The switches, and whether they have been read: unread until the first
// read, which any thread may make; the others wait for it.
DiagnosticSwitches switches;
enum SwitchesState : int { kUnread, kReading, kRead };
std::atomic<int> switches_state{kUnread};

void read_switches_into(DiagnosticSwitches* s) {
  auto text = [](const char* name) {
    const char* value = plat::get_env(name);
    return std::string(value != nullptr ? value : "");
  };
  s->fort0 = text("FORT0");
  s->log_file = text("FOR_DIAGNOSTIC_LOG_FILE");
  s->display_disabled = for_check_env_name("FOR_DISABLE_DIAGNOSTIC_DISPLAY");
  s->stack_trace_disabled = for_check_env_name("FOR_DISABLE_STACK_TRACE");
  s->verbose_stack_trace = for_check_env_name("FOR_ENABLE_VERBOSE_STACK_TRACE");
  s->full_source_paths = for_check_env_name("FOR_FULL_SRC_FILE_SPEC");
  s->debug_exception = for_check_env_name("FOR_GENERATE_DEBUG_EXCEPTION");
  s->debugger_present = for_check_env_name("FOR__IS_DEBUGGER_PRESENT");
  // Only the first of the two that is set counts, whatever it says.
  const char* dump = plat::get_env("f77_dump_flag");
  if (dump == nullptr) dump = plat::get_env("qelfort_dump_flag");
  s->dump_abort = dump != nullptr && (dump[0] == 'Y' || dump[0] == 'y');
}

[[gnu::noinline]] void read_switches_once() {
  int seen = kUnread;
  if (switches_state.compare_exchange_strong(seen, kReading, std::memory_order_acq_rel)) {
    read_switches_into(&switches);
    switches_state.store(kRead, std::memory_order_release);
    return;
  }
  // Another thread reads them: a short look-and-sleep, never a wait that a
  // lost wake-up could leave hanging.
  while (switches_state.load(std::memory_order_acquire) == kReading) plat::sleep_milliseconds(1);
}

// FORT0 redirects standard error once, at the first diagnostic output.
std::atomic<bool> fort0_done{false};

void apply_fort0() {
  if (fort0_done.exchange(true)) return;
  const std::string& name = for__diagnostic_switches().fort0;
  if (!name.empty()) plat::redirect_stderr_append(name.c_str());
}

void write_diagnostic_buffer(const char* text, std::size_t length) {
  const DiagnosticSwitches& on = for__diagnostic_switches();
  if (!on.log_file.empty()) plat::append_to_file(on.log_file.c_str(), text, length);
  if (on.display_disabled) return;
  plat::write_stderr(text, length);
}

// Ends the process after a severe condition: units closed, then exit with
// the identifier (or the dump-flag abort).
[[noreturn]] void end_after_severe(msg::Id id) {
  for__note_run_failed();
  for__exit_handler();
  const DiagnosticSwitches& on = for__diagnostic_switches();
  if (on.debugger_present) plat::debug_break();
  if (on.dump_abort) {
    static constexpr char kAbort[] = "\r\nabnormal program termination\r\n";
    plat::write_stderr(kAbort, sizeof kAbort - 1);
    plat::abort_process(kDumpAbortStatus);
  }
  for__end_process(id);
}

void issue(msg::Id id, std::span<const FormatArg> args) {
  const bool severe = msg::severity(id) == msg::kSevereClass;
  const bool in_exception = for__exception_in_progress();
  ExceptionInfo* const x = for__l_excpt_info;
  const DiagnosticSwitches& on = for__diagnostic_switches();
  // A severe condition becomes the non-continuable exception, before anything
  // is written. Not while an exception is reported already: that report is
  // the one the user wants; nor for that exception's own report.
  if (severe && id != msg::kNoncontinuableException && x != nullptr && x->continue_mark == 0 &&
      !in_exception && on.debug_exception) {
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
  char context[kSeparateContextSize];
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
                         !on.stack_trace_disabled;
  if (traceback) length = for_stack_trace(buffer, length, cap);
  write_diagnostic_buffer(buffer, length);
  if (context_length > 0) write_diagnostic_buffer(context, context_length);
  if (buffer != small && !in_exception) for__free_vm(buffer);
  if (!severe) return;
  if (x != nullptr && x->continue_mark != 0) return;  // back to the exception handler
  end_after_severe(id);
}

}  // namespace

const DiagnosticSwitches& for__diagnostic_switches() {
  if (switches_state.load(std::memory_order_acquire) != kRead) [[unlikely]]
    read_switches_once();
  return switches;
}

void for__read_diagnostic_switches() {
  switches_state.store(kReading, std::memory_order_release);
  read_switches_into(&switches);
  switches_state.store(kRead, std::memory_order_release);
}

void write_os_error_line(int os_error) {
  apply_fort0();
  char text[kOsErrorTextSize];
  plat::error_text(os_error, text, sizeof text);
  char line[kOsErrorLineSize];
  int n = std::snprintf(line, sizeof line, "%s: %s", kOsErrorPrefix, text);
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
