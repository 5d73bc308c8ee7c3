// A program linked with the run-time, run under its frame like the
// converter: it first writes an unformatted file through a unit, then does
// what its argument names. The faulting routines are exported and never
// inlined, so that the traceback's first frame names them.
#include <fenv.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>
#ifdef _WIN32
#include <intrin.h>
#include <windows.h>
#include <xmmintrin.h>
#endif

#include <cstdint>
#include <cstring>
#include <string>

#include "recio/format.h"
#include "recio/io_api.h"
#include "rt/startup.h"
#include "support/units.h"

namespace {

using recio::IoArg;
using testsupport::statements::kTextEnd;

int program_argc;
char** program_argv;

// OPEN (FILE=name, STATUS='unknown', FORM='unformatted') on `unit`.
void open_unformatted(std::int32_t unit, const char* name) {
  testsupport::open_unit(unit, recio::kFlagsNoBranch,
                         {{recio::kKeyFile, name},
                          {recio::kKeyStatus, "unknown"},
                          {recio::kKeyForm, "unformatted"},
                          {recio::kKeyBlank, 2}});
}

void write_record(std::int32_t unit, const char* text) {
  const IoArg args[] = {IoArg::val(static_cast<std::int64_t>(std::strlen(text))),
                        IoArg::address(text)};
  recio::IoControlBlock cb{};
  recio::for_write_seq(&cb, unit, recio::kFlagsNoBranch, kTextEnd, args);
}

// A console read, so that the program waits at a prompt.
void read_console() {
  char line[80];
  const IoArg args[] = {IoArg::val(80), IoArg::address(line)};
  recio::IoControlBlock cb{};
  recio::for_read_seq_fmt(&cb, 5, recio::kFlagsEndBranch, kTextEnd, args, recio::kFormatA);
}

extern "C" void own_interrupt_handler(int) {
  static constexpr char kText[] = "own handler\n";
  ::write(STDOUT_FILENO, kText, sizeof kText - 1);
  ::_exit(42);
}

volatile int zero = 0;
volatile int numerator = 7;
volatile bool keep_going = true;

}  // namespace

extern "C" {

// The undefined-behaviour sanitizer would report these two before the
// processor faults; the faults themselves are the point.
__attribute__((noinline, no_sanitize("undefined"))) void provoke_segv() {
  volatile int* volatile target = nullptr;
  *target = 1;
}

__attribute__((noinline, no_sanitize("undefined"))) void provoke_intdiv() {
  volatile int quotient = numerator / zero;
  (void)quotient;
}

__attribute__((noinline)) int provoke_overflow(int depth) {
  volatile char frame[512];
  frame[0] = static_cast<char>(depth);
  if (!keep_going) return frame[0];
  return provoke_overflow(depth + 1) + frame[0];
}

__attribute__((noinline)) void provoke_illegal() {
  __builtin_trap();
}

// Windows has neither SIGTRAP nor feenableexcept: the break instruction and
// the SSE control register give the same exceptions.
__attribute__((noinline)) void provoke_break() {
#ifdef _WIN32
  __debugbreak();
#else
  ::raise(SIGTRAP);
#endif
}

// Each product underflows with the trap enabled again.
__attribute__((noinline)) float provoke_underflows(int count) {
  volatile float tiny = 1e-30f;
  float sum = 0;
  for (int i = 0; i < count; ++i) {
#ifdef _WIN32
    _mm_setcsr(_mm_getcsr() & ~_MM_MASK_UNDERFLOW);
#else
    ::feenableexcept(FE_UNDERFLOW);
#endif
    sum += tiny * tiny;
  }
  return sum;
}

// An exception whose code no row of the table names.
__attribute__((noinline)) void provoke_unknown_code() {
#ifdef _WIN32
  ::RaiseException(0x2A, 0, 0, nullptr);
#else
  sigval value{};
  value.sival_int = 0x2A;
  ::pthread_sigqueue(::pthread_self(), SIGTRAP, value);
#endif
}

__attribute__((noinline)) double provoke_fpdiv() {
#ifdef _WIN32
  _mm_setcsr(_mm_getcsr() & ~_MM_MASK_DIV_ZERO);
#else
  ::feenableexcept(FE_DIVBYZERO);
#endif
  volatile double z = 0.0;
  return 1.0 / z;
}

}  // extern "C"

namespace {

int fault_main() {
  const std::string mode = program_argc > 1 ? program_argv[1] : "";
  open_unformatted(30, "before.unf");
  write_record(30, "complete");
  if (mode == "access") provoke_segv();
  if (mode == "intdiv") provoke_intdiv();
  if (mode == "overflow") provoke_overflow(0);
  if (mode == "illegal") provoke_illegal();
  if (mode == "breakpoint") provoke_break();
  if (mode == "fpdiv") provoke_fpdiv();
  if (mode == "underflow" && provoke_underflows(3) != 0.0f) return 1;
  if (mode == "code") provoke_unknown_code();
  if (mode == "severe") open_unformatted(31, "missing/out.unf");
  if (mode == "own-interrupt") {
    ::signal(SIGINT, own_interrupt_handler);
    static constexpr char kReady[] = "ready\n";
    ::write(STDOUT_FILENO, kReady, sizeof kReady - 1);
    read_console();
  }
  static constexpr char kDone[] = "returned\n";
  ::write(STDOUT_FILENO, kDone, sizeof kDone - 1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
  // What the program writes itself is compared byte for byte, as on Linux.
  _setmode(1, 0x8000 /* _O_BINARY */);
#endif
  program_argc = argc;
  program_argv = argv;
  return rt::for_main(argc, argv, fault_main);
}
