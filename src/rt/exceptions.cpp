// The exception record and the handler that reports processor exceptions.
#include "rt/exceptions.h"

#include <array>
#include <atomic>
#include <cstring>

#include "rt/catalog.h"
#include "rt/diagnostics.h"
#include "rt/env.h"
#include "rt/memory.h"
#include "rt/startup.h"

namespace rt {

ExceptionInfo* for__l_excpt_info = nullptr;

namespace {

std::atomic<bool> exception_in_progress{false};

using R = ExceptionReport;
namespace exc = plat::exc;
constexpr std::uint16_t low(std::uint32_t code) {
  return static_cast<std::uint16_t>(code & 0xFFFFu);
}

// Selected by the low 16 bits of the code, as the platform's table is.
constexpr ExceptionRow kRows[] = {
    {low(exc::kDatatypeMisalignment), 158, R::kSevere},
    {low(exc::kBreakpoint), 159, R::kBreakpoint},
    {low(exc::kSingleStep), 160, R::kSevere},
    {low(exc::kAccessViolation), 157, R::kSevere},
    {low(exc::kInPageError), 167, R::kSevere},
    {low(exc::kIllegalInstruction), 168, R::kSevere},
    {low(exc::kNoncontinuable), 169, R::kSevere},
    {low(exc::kInvalidDisposition), 171, R::kSevere},
    {low(exc::kArrayBoundsExceeded), 161, R::kSevere},
    {low(exc::kFloatDenormalOperand), 162, R::kSevere},
    {low(exc::kFloatDivideByZero), 73, R::kFloatingWarning},
    {low(exc::kFloatInexact), 140, R::kSevere},
    {low(exc::kFloatInvalid), 65, R::kFloatingWarning},
    {low(exc::kFloatOverflow), 72, R::kFloatingWarning},
    {low(exc::kFloatStackCheck), 163, R::kSevere},
    {low(exc::kFloatUnderflow), 74, R::kUnderflow},
    {low(exc::kIntegerDivideByZero), 164, R::kSevere},
    {low(exc::kIntegerOverflow), 165, R::kSevere},
    {low(exc::kPrivilegedInstruction), 166, R::kSevere},
    {low(exc::kStackOverflow), 170, R::kSevere},
};
constexpr ExceptionRow kAnyOther{0, 172, R::kExceptionCode};

// Underflows reported before the rest are only counted.
constexpr std::uint32_t kUnderflowsReported = 2;

void clear_copies() {
  if (ExceptionInfo* x = for__l_excpt_info) {
    *x->copies->record = plat::ExceptionRecord{};
    std::memset(x->copies->context, 0, plat::kContextSize);
    x->continue_mark = 0;
  }
  exception_in_progress.store(false);
}

// A class 2 report that carries a traceback: the continue mark asks for it.
void report_warning(std::uint16_t number) {
  if (ExceptionInfo* x = for__l_excpt_info) x->continue_mark = 1;
  for__issue_diagnostic(msg::error(number));
}

}  // namespace

const ExceptionRow& exception_row(std::uint32_t code) {
  for (const ExceptionRow& row : kRows) {
    if (row.code_low == low(code)) return row;
  }
  return kAnyOther;
}

void for__create_exception_record() {
  if (for__l_excpt_info != nullptr) return;
  const std::array<std::size_t, 5> sizes{sizeof(ExceptionInfo), sizeof(ExceptionCopies),
                                         sizeof(plat::ExceptionRecord), plat::kContextSize,
                                         kDiagnosticBufferSize};
  std::array<void*, 5> blocks{};
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    blocks[i] = for__get_vm(sizes[i]);
    if (blocks[i] == nullptr) {
      for (void* b : blocks) for__free_vm(b);
      return;
    }
    std::memset(blocks[i], 0, sizes[i]);
  }
  auto* copies = static_cast<ExceptionCopies*>(blocks[1]);
  copies->record = static_cast<plat::ExceptionRecord*>(blocks[2]);
  copies->context = blocks[3];
  auto* info = static_cast<ExceptionInfo*>(blocks[0]);
  info->copies = copies;
  info->diagnostic_buffer = static_cast<char*>(blocks[4]);
  for__l_excpt_info = info;
}

void for__release_exception_record() {
  ExceptionInfo* x = for__l_excpt_info;
  if (x == nullptr) return;
  for__l_excpt_info = nullptr;
  for__free_vm(x->diagnostic_buffer);
  for__free_vm(x->copies->context);
  for__free_vm(x->copies->record);
  for__free_vm(x->copies);
  for__free_vm(x);
}

bool for__exception_in_progress() {
  return exception_in_progress.load();
}

const void* for__exception_context() {
  const ExceptionInfo* x = for__l_excpt_info;
  if (x == nullptr || x->copies->record->code == 0) return nullptr;
  return x->copies->context;
}

plat::ExceptionAction for__nt_signal_handler(const plat::ExceptionRecord& record, void* context) {
  if (for_check_env_name("FOR_IGNORE_EXCEPTIONS")) return plat::ExceptionAction::kPassOn;
  exception_in_progress.store(true);
  const bool debugger_mode = for__diagnostic_switches().debugger_present;
  if (ExceptionInfo* x = for__l_excpt_info) {
    *x->copies->record = record;
    std::memcpy(x->copies->context, context, plat::kContextSize);
    if (debugger_mode) x->continue_mark = 1;
  }
  // A handler the program installs itself for one of these signals replaces
  // this one in the process's signal table, so such exceptions never arrive
  // here: the platform calls that handler instead.
  const ExceptionRow& row = exception_row(record.code);
  plat::ExceptionAction action = plat::ExceptionAction::kPassOn;
  switch (row.report) {
    case ExceptionReport::kBreakpoint:
      if (debugger_mode) {
        action = plat::ExceptionAction::kLeaveGuardedRegion;
        break;
      }
      for__issue_diagnostic(msg::severe(row.number));
      break;
    case ExceptionReport::kSevere:
      // Returns only in debugger mode; the exception then goes on to the
      // debugger (or the platform's default handling without one).
      for__issue_diagnostic(msg::severe(row.number));
      break;
    case ExceptionReport::kExceptionCode: {
      const std::int64_t shown = low(record.code);
      const std::array<FormatArg, 2> args{FormatArg(shown), FormatArg(shown)};
      for__issue_diagnostic_args(msg::severe(row.number), args);
      break;
    }
    case ExceptionReport::kFloatingWarning:
      report_warning(row.number);
      action = plat::ExceptionAction::kLeaveGuardedRegion;
      break;
    case ExceptionReport::kUnderflow:
      if (++for__l_undcnt <= kUnderflowsReported) report_warning(row.number);
      // The result is flushed to zero from now on and the program goes on.
      action = plat::mask_underflow_in_context(context)
                   ? plat::ExceptionAction::kContinue
                   : plat::ExceptionAction::kLeaveGuardedRegion;
      break;
  }
  if (ExceptionInfo* x = for__l_excpt_info) x->handled_mark = 1;
  // Passed on after its report, the exception ends the process by the
  // platform's default action, which runs no code of ours: the units are
  // closed now (as after an exception), so no file is left half replaced.
  if (action == plat::ExceptionAction::kPassOn && debugger_mode) {
    for__note_run_failed();
    for__exit_handler();
  }
  clear_copies();
  return action;
}

}  // namespace rt
