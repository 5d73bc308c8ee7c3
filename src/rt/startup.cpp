// Start-up and termination: initialisation, the exit handler, the process
// end, the divide check and the run-time's main.
#include "rt/startup.h"

#include <atomic>
#include <string>

#include "platform/platform.h"
#include "rt/args.h"
#include "rt/console_events.h"
#include "rt/diagnostics.h"
#include "rt/env.h"
#include "rt/exceptions.h"
#include "rt/handover.h"
#include "rt/temporary_files.h"

namespace rt {

std::uint32_t for__l_exit_hand_decl = 0;
std::uint32_t for__l_exit_termination = 0;
std::uint32_t for__l_fpe_mask = 0;
std::uint32_t for__l_undcnt = 0, for__l_ovfcnt = 0, for__l_div0cnt = 0, for__l_invcnt = 0;
std::uint32_t for__reentrancy_mode = 0;

namespace {
std::uint32_t initialised = 0;
// The unit walk of the record I/O services; null until a unit is connected.
UnitCloser unit_closer = nullptr;
std::uint32_t init_guard = 0;
// Atomic: the console event thread may end the process too.
std::atomic<void (*)(std::uint32_t)> end_process_seam{nullptr};
std::atomic<bool> run_failed{false};

// The argument table built by the run-time itself when the process was
// given no arguments at all; it lives for the whole run.
ArgumentBlock own_arguments;

// A start-up that cannot go on: the text on the standard error handle,
// this status.
constexpr std::uint32_t kStartupFailureStatus = 255;
// Room for the program's own path, argument 0 of an empty command line.
constexpr std::size_t kModulePathSize = 4096;

[[noreturn]] void startup_failure(const char* message) {
  static constexpr char kPrefix[] = "\r\nruntime error ";
  plat::write_stderr(kPrefix, sizeof kPrefix - 1);
  plat::write_stderr(message, std::char_traits<char>::length(message));
  for__end_process(kStartupFailureStatus);
}

void take_over_arguments(int argc, char** argv) {
  // A platform that hands over the command line as one string has it split
  // by the run-time's own rules; the C library's vector is not used then.
  const char* line = plat::command_line();
  if (line == nullptr && argc > 0 && argv != nullptr) {
    for__set_arguments(argc, argv);
    return;
  }
  // No argument vector at all stands for an empty command line, and an
  // empty line for the program's own path, so argument 0 is that path.
  char path[kModulePathSize];
  const std::size_t n = plat::module_path(path, sizeof path);
  LeadByteTable lead_bytes;
  for (std::size_t b = 0; b < lead_bytes.lead.size(); ++b)
    lead_bytes.lead[b] = plat::is_lead_byte(static_cast<unsigned char>(b));
  own_arguments = split_command_line(line != nullptr ? line : "", std::string_view(path, n),
                                     line != nullptr ? &lead_bytes : nullptr);
  if (!own_arguments.ok()) startup_failure("R6008\r\n- not enough space for arguments\r\n");
  for__set_arguments(own_arguments.argc(), own_arguments.argv());
}

// Bits of the floating-point policy word, for__l_fpe_mask. Nothing in this
// program sets the word: it stays 0, so every exception stays masked, no
// trap is ever counted, and the exit summary prints nothing. The bits are
// still honoured, for a program that sets them.
namespace fpe_policy {
constexpr std::uint32_t kTrapUnderflow = 1u << 0;
constexpr std::uint32_t kTrapOverflow = 1u << 1;
constexpr std::uint32_t kTrapDivideByZero = 1u << 2;
constexpr std::uint32_t kTrapInvalid = 1u << 3;
constexpr std::uint32_t kReportOverflow = 1u << 8;
constexpr std::uint32_t kReportUnderflow = 1u << 9;  // also: count underflows, do not flush
constexpr std::uint32_t kReportDivideByZero = 1u << 10;
constexpr std::uint32_t kReportInvalid = 1u << 11;
constexpr std::uint32_t kFlushUnderflowToZero = 1u << 16;
}  // namespace fpe_policy

bool policy_has(std::uint32_t bit) {
  return (for__l_fpe_mask & bit) != 0;
}

// The control word from the policy word: the traps it enables (with the
// word 0: none, all exceptions masked), and flush-to-zero when asked for
// and underflows are not to be counted.
void set_fp_control_from_policy() {
  plat::FpTraps traps;
  traps.underflow = policy_has(fpe_policy::kTrapUnderflow);
  traps.overflow = policy_has(fpe_policy::kTrapOverflow);
  traps.divide_by_zero = policy_has(fpe_policy::kTrapDivideByZero);
  traps.invalid = policy_has(fpe_policy::kTrapInvalid);
  plat::set_fp_control(traps, policy_has(fpe_policy::kFlushUnderflowToZero) &&
                                  !policy_has(fpe_policy::kReportUnderflow));
}

}  // namespace

void for_rtl_init_(int argc, char** argv) {
  plat::ensure_standard_handles();
  // Lock mode 0: there are no lock tables to set up.
  if (init_guard != 0) return;
  init_guard = 1;
  if (initialised == 0) {
    // Before the event thread exists, which may issue a diagnostic too.
    for__read_diagnostic_switches();
    plat::agree_console_code_pages();
    for__create_exception_record();  // null when memory is short: no traceback then
    // Without the event thread an event would end the run unreported.
    if (!for__register_console_events())
      startup_failure("console events\r\n- unable to start the event thread\r\n");
    if (for_check_env_name("FOR_NOERROR_DIALOGS")) plat::suppress_error_dialogs();
    plat::clear_fp_flags();
    take_over_arguments(argc, argv);
    set_fp_control_from_policy();
    initialised = 1;
  }
  init_guard = 0;
}

// One informational line per trap counter whose report bit is set and that
// counted something. With the policy word 0 no report bit is set (and no
// trap enabled to count): the summary prints nothing.
void for__fpe_exit_handler() {
  struct Report {
    std::uint32_t report_bit;
    const std::uint32_t* counter;
    msg::Id id;
  };
  const Report reports[] = {
      {fpe_policy::kReportUnderflow, &for__l_undcnt, msg::kUnderflowTraps},
      {fpe_policy::kReportOverflow, &for__l_ovfcnt, msg::kOverflowTraps},
      {fpe_policy::kReportDivideByZero, &for__l_div0cnt, msg::kDivideByZeroTraps},
      {fpe_policy::kReportInvalid, &for__l_invcnt, msg::kInvalidTraps},
  };
  for (const Report& r : reports) {
    if (policy_has(r.report_bit) && *r.counter != 0) for__issue_diagnostic_int(r.id, *r.counter);
  }
}

int for__exit_handler() {
  for__fpe_exit_handler();
  for__l_exit_termination = 1;
  // The program's temporaries first: a close failure below may end the
  // process from here.
  for__remove_temporaries();
  if (for__l_exit_hand_decl == 0) return 0;
  // Cleared first: a severe close failure below ends the process from here,
  // and must not walk the table again.
  for__l_exit_hand_decl = 0;
  // After a processor exception the heap may be inconsistent: handles are
  // closed, nothing is released.
  const bool after_exception = for__exception_in_progress();
  if (unit_closer != nullptr) unit_closer(after_exception);
  if (!after_exception) for__release_exception_record();
  return 0;
}

void for__declare_exit_handler(UnitCloser close_units) {
  unit_closer = close_units;
  for__l_exit_hand_decl = 1;
}

void for_rtl_finish_() {
  for__exit_handler();
}

void for__end_process(std::uint32_t status) {
  if (for__exception_in_progress()) plat::exit_process_now(status);
  // Taken over inside a platform call, the main thread runs again when the
  // call returns: no at-exit routine or static destructor may run beside it.
  if (for__taken_in_blocking_call()) plat::exit_process_now(status);
  // Not while an exception is handled: the seam unwinds, which a signal
  // handler must not. The harness starts the next run in this process: it
  // starts unfailed.
  if (void (*seam)(std::uint32_t) = end_process_seam.load()) {
    run_failed.store(false, std::memory_order_release);
    seam(status);
  }
  plat::exit_process(status);
}

void for_exit(const std::int32_t* status) {
  for__exit_handler();
  for__end_process(status != nullptr ? static_cast<std::uint32_t>(*status) : 0u);
}

void for__note_run_failed() {
  run_failed.store(true, std::memory_order_release);
}

bool for__run_failed() {
  return run_failed.load(std::memory_order_acquire) || for__exception_in_progress();
}

void for__set_end_process_seam(void (*seam)(std::uint32_t status)) {
  end_process_seam.store(seam);
}

void for_check_flawed_fdiv() {
  // volatile keeps the compiler from folding the test away.
  volatile double x = 4195835.0;
  volatile double y = 3145727.0;
  const double r = x + (0.0 - (x / y) * y);
  if (r == 0.0) return;
  if (for_check_env_name("FOR_RUN_FLAWED_FDIV")) return;
  for__issue_diagnostic(msg::kFlawedDivide);
}

std::int32_t for_set_reentrancy(const std::int32_t* mode) {
  const auto previous = static_cast<std::int32_t>(for__reentrancy_mode);
  if (mode != nullptr) for__reentrancy_mode = *mode == 3 ? 3u : 0u;
  return previous;
}

namespace {

struct MainCall {
  int argc;
  char** argv;
  int (*program)();
};

int guarded_main(void* arg) {
  const auto* call = static_cast<const MainCall*>(arg);
  for_rtl_init_(call->argc, call->argv);  // done already: a no-op
  return call->program();
}

}  // namespace

int for_main(int argc, char** argv, int (*program)()) {
  for_rtl_init_(argc, argv);
  MainCall call{argc, argv, program};
  // Left normally or by the handler (a floating-point warning, a breakpoint
  // in debugger mode): either way the run finishes here.
  // Left by the handler, the routine did not finish its work: files the
  // units replace keep their old contents.
  if (plat::run_guarded(guarded_main, &call, for__nt_signal_handler) == -1) for__note_run_failed();
  for_rtl_finish_();
  return 0;
}

}  // namespace rt
