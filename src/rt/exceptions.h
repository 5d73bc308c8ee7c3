// The exception record and the exception handler of the guarded region
// around the program's main routine.
//
// The record (for__l_excpt_info) is created at start-up: a header with the
// continue and handled marks, the pair of copies (the platform's exception
// record and the processor context at the fault), and the diagnostic buffer
// of the handler path, which allocates nothing. It stays null when memory is
// short; tracebacks and exception copies are then absent.
#pragma once

#include <cstdint>

#include "platform/platform.h"
#include "rt/diagnostics.h"

namespace rt {

struct ExceptionCopies {
  plat::ExceptionRecord* record;  // code 0 while no exception is handled
  void* context;                  // plat::kContextSize bytes
};

struct ExceptionInfo {
  ExceptionCopies* copies;
  std::uint32_t continue_mark;  // a severe report returns to the handler
  std::uint32_t handled_mark;   // the handler has reported the exception
  char* diagnostic_buffer;      // kDiagnosticBufferSize bytes
};

// Process-wide: the exception record, or null.
extern ExceptionInfo* for__l_excpt_info;

// Creates the record (all zero); leaves it null when a block cannot be had.
void for__create_exception_record();
void for__release_exception_record();

// True while the exception handler runs: diagnostics then allocate nothing
// and the process ends at once.
bool for__exception_in_progress();
// The copy of the processor context while an exception is handled, else null.
const void* for__exception_context();

// The handler: reports by the exception table and decides what becomes of
// the exception. A severe report ends the process from here.
plat::ExceptionAction for__nt_signal_handler(const plat::ExceptionRecord& record, void* context);

// The message number and kind of report for an exception code.
enum class ExceptionReport : std::uint8_t {
  kSevere,           // severe diagnostic, the process ends
  kFloatingWarning,  // class 2 report with traceback, then a normal end
  kUnderflow,        // counted, the first two reported, then resumed
  kBreakpoint,       // severe, or in debugger mode a normal end unreported
  kExceptionCode,    // severe 172 showing the code
};
struct ExceptionRow {
  std::uint16_t code_low;  // low 16 bits of the platform's code
  std::uint16_t number;
  ExceptionReport report;
};
const ExceptionRow& exception_row(std::uint32_t code);

}  // namespace rt
