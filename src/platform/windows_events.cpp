// Windows layer: console events, processor exceptions, the guarded region and
// the floating-point control word.
//
// Console events come through SetConsoleCtrlHandler: the system calls the
// handler on a thread of its own, so the run-time's event handler runs as
// ordinary code beside the main thread.
//
// Processor exceptions reach an unhandled-exception filter with the system's
// own exception record and context; handlers of the program's own frames are
// asked first, as the system dispatches them.
#include <windows.h>
// After windows.h, which they need.
#include <signal.h>
#include <xmmintrin.h>

#include <atomic>
#include <cfenv>
#include <cstdint>

#include "platform/platform.h"
#include "platform/windows_internal.h"

namespace plat {

const std::size_t kContextSize = sizeof(CONTEXT);

// ---- Floating point -------------------------------------------------------

namespace {

// MXCSR: the exception flags (bits 0-5), their masks (bits 7-12) and
// flush-to-zero.
constexpr unsigned kInvalidFlag = 1u << 0, kDenormalFlag = 1u << 1, kDivideFlag = 1u << 2,
                   kOverflowFlag = 1u << 3, kUnderflowFlag = 1u << 4, kInexactFlag = 1u << 5;
constexpr unsigned kMaskShift = 7;
constexpr unsigned kAllMasks = 0x3Fu << kMaskShift;
constexpr unsigned kFlushToZero = 1u << 15;

}  // namespace

void clear_fp_flags() {
  std::feclearexcept(FE_ALL_EXCEPT);
}

void set_fp_control(FpTraps traps, bool flush_to_zero) {
  unsigned unmask = 0;
  if (traps.invalid) unmask |= kInvalidFlag;
  if (traps.divide_by_zero) unmask |= kDivideFlag;
  if (traps.overflow) unmask |= kOverflowFlag;
  if (traps.underflow) unmask |= kUnderflowFlag;
  unsigned csr = (_mm_getcsr() | kAllMasks) & ~(unmask << kMaskShift);
  csr = flush_to_zero ? csr | kFlushToZero : csr & ~kFlushToZero;
  _mm_setcsr(csr);
}

// ---- Console events -------------------------------------------------------

namespace {

ConsoleEventHandler event_handler = nullptr;

// The input waits watch this event besides their handle; once set it ends
// every wait, present and future.
HANDLE wake_event = nullptr;
// How long an input wait on a pipe sleeps between looks at it.
constexpr DWORD kPipePollMilliseconds = 20;
std::atomic<bool> waits_interrupted{false};

// Called by the system on its event thread; FALSE passes the event on to
// the handlers registered before this one and finally to the default, which
// ends the process.
BOOL WINAPI on_console_event(DWORD type) {
  int event;
  switch (type) {
    case CTRL_C_EVENT:
      event = kControlC;
      break;
    case CTRL_BREAK_EVENT:
      event = kControlBreak;
      break;
    case CTRL_CLOSE_EVENT:
      event = kConsoleClosed;
      break;
    default:
      return FALSE;  // log-off and shut-down are not the run-time's
  }
  return event_handler(event) ? TRUE : FALSE;
}

}  // namespace

EventDisposition event_disposition(int event) {
  // The C library's signal for the event is what the program chose; the
  // console's close has none.
  if (event == kConsoleClosed) return EventDisposition::kDefault;
  if (event != kControlC && event != kControlBreak) return EventDisposition::kUnknown;
  const int sig = event == kControlC ? SIGINT : SIGBREAK;
  // The disposition can only be read by setting one: it is put back at once.
  const auto previous = ::signal(sig, SIG_DFL);
  if (previous == SIG_ERR) return EventDisposition::kUnknown;
  ::signal(sig, previous);
  if (previous == SIG_DFL) return EventDisposition::kDefault;
  if (previous == SIG_IGN) return EventDisposition::kIgnored;
  return EventDisposition::kOwnHandler;
}

bool start_console_events(ConsoleEventHandler handler) {
  if (event_handler != nullptr) return true;
  // Without the wake event the events still work: an input wait is then
  // the read itself, where the units may be taken all the same.
  wake_event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
  event_handler = handler;
  if (!::SetConsoleCtrlHandler(on_console_event, TRUE)) {
    event_handler = nullptr;
    if (wake_event != nullptr) ::CloseHandle(wake_event);
    wake_event = nullptr;
    return false;
  }
  return true;
}

bool wait_for_input(Handle h) {
  if (waits_interrupted.load(std::memory_order_acquire)) return false;
  if (wake_event == nullptr) return true;
  const HANDLE input = reinterpret_cast<HANDLE>(h);
  switch (::GetFileType(input)) {
    case FILE_TYPE_CHAR: {
      if (console_input_pending()) return true;
      // A console handle is signalled while it holds input.
      const HANDLE handles[] = {wake_event, input};
      return ::WaitForMultipleObjects(2, handles, FALSE, INFINITE) != WAIT_OBJECT_0;
    }
    case FILE_TYPE_PIPE:
      // A pipe handle cannot be waited for: it is looked at between short
      // waits for the wake event (short enough that input is not kept
      // waiting, long enough to cost nothing).
      for (;;) {
        DWORD available = 0;
        if (!::PeekNamedPipe(input, nullptr, 0, nullptr, &available, nullptr) || available > 0)
          return true;  // data, or the read reports the end or the error
        if (::WaitForSingleObject(wake_event, kPipePollMilliseconds) == WAIT_OBJECT_0) return false;
      }
    default:
      return true;  // a disk file never blocks
  }
}

void sleep_milliseconds(unsigned milliseconds) {
  ::Sleep(milliseconds);
}

void interrupt_input_waits() {
  waits_interrupted.store(true, std::memory_order_release);
  if (wake_event != nullptr) ::SetEvent(wake_event);
}

// ---- Processor exceptions -------------------------------------------------

namespace {

ExceptionHandler exception_handler = nullptr;
// __builtin_setjmp/__builtin_longjmp restore the registers only: the C
// library's longjmp would start an unwind of its own from inside the
// exception dispatch.
void* guard_env[5];  // the five words the built-in setjmp saves
volatile LONG guard_active = 0;
std::atomic<int> handling{0};

// Room kept on the faulting thread's stack for the handler, the diagnostic
// and the stack walk after a stack overflow.
constexpr ULONG kOverflowReserve = 128 * 1024;

// An SSE trap comes as "multiple traps" or "multiple faults"; the flags that
// are raised and unmasked in the context tell which one it is.
constexpr DWORD kFloatMultipleFaults = 0xC00002B4;
constexpr DWORD kFloatMultipleTraps = 0xC00002B5;

std::uint32_t sse_exception_code(const CONTEXT& context) {
  struct Flag {
    unsigned bit;
    std::uint32_t code;
  };
  static constexpr Flag kFlags[] = {
      {kInvalidFlag, exc::kFloatInvalid},     {kDenormalFlag, exc::kFloatDenormalOperand},
      {kDivideFlag, exc::kFloatDivideByZero}, {kOverflowFlag, exc::kFloatOverflow},
      {kUnderflowFlag, exc::kFloatUnderflow}, {kInexactFlag, exc::kFloatInexact},
  };
  const unsigned csr = context.MxCsr;
  const unsigned raised = csr & ~(csr >> kMaskShift);
  for (const Flag& f : kFlags) {
    if ((raised & f.bit) != 0) return f.code;
  }
  return exc::kFloatInvalid;
}

LONG WINAPI on_exception(EXCEPTION_POINTERS* pointers) {
  // One exception at a time: a second one (another thread, or a fault in the
  // handler) goes on to the system's default handling.
  if (handling.exchange(1) != 0) return EXCEPTION_CONTINUE_SEARCH;
  const EXCEPTION_RECORD& raw = *pointers->ExceptionRecord;
  ExceptionRecord record;
  record.code = raw.ExceptionCode;
  if (raw.ExceptionCode == kFloatMultipleFaults || raw.ExceptionCode == kFloatMultipleTraps)
    record.code = sse_exception_code(*pointers->ContextRecord);
  record.address = reinterpret_cast<std::uintptr_t>(raw.ExceptionAddress);
  if ((raw.ExceptionCode == EXCEPTION_ACCESS_VIOLATION ||
       raw.ExceptionCode == EXCEPTION_IN_PAGE_ERROR) &&
      raw.NumberParameters >= 2)
    record.fault_address = static_cast<std::uintptr_t>(raw.ExceptionInformation[1]);
  switch (exception_handler(record, pointers->ContextRecord)) {
    case ExceptionAction::kContinue:
      handling.store(0);
      return EXCEPTION_CONTINUE_EXECUTION;
    case ExceptionAction::kLeaveGuardedRegion:
      if (guard_active != 0) {
        handling.store(0);
        __builtin_longjmp(guard_env, 1);
      }
      [[fallthrough]];
    case ExceptionAction::kPassOn:
      break;
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

// A stack overflow leaves a few kilobytes of stack, too few for the report:
// it is taken first, by a vectored handler, and handled on a stack of its
// own.
constexpr std::size_t kOverflowStackSize = 256 * 1024;
alignas(16) char overflow_stack[kOverflowStackSize];

struct FilterCall {
  EXCEPTION_POINTERS* pointers;
  LONG result;
};

void filter_call(void* arg) {
  auto* call = static_cast<FilterCall*>(arg);
  call->result = on_exception(call->pointers);
}

// Calls fn(arg) with the stack pointer at `top` (the Windows x64 convention:
// first argument in RCX, 32 bytes of shadow space) and returns on the
// caller's stack. RSI and RDI are kept by the callee.
[[gnu::noinline]] void call_on_stack(void (*fn)(void*), void* arg, char* top) {
  asm volatile(
      "movq %%rsp, %%rbx\n\t"
      "movq %[top], %%rsp\n\t"
      "andq $-16, %%rsp\n\t"
      "subq $32, %%rsp\n\t"
      "callq *%[fn]\n\t"
      "movq %%rbx, %%rsp\n\t"
      : "+c"(arg)
      : [fn] "S"(fn), [top] "D"(top)
      : "rax", "rbx", "rdx", "r8", "r9", "r10", "r11", "xmm0", "xmm1", "xmm2", "xmm3", "xmm4",
        "xmm5", "memory", "cc");
}

LONG WINAPI on_stack_overflow(EXCEPTION_POINTERS* pointers) {
  if (pointers->ExceptionRecord->ExceptionCode != EXCEPTION_STACK_OVERFLOW || guard_active == 0)
    return EXCEPTION_CONTINUE_SEARCH;
  FilterCall call{pointers, EXCEPTION_CONTINUE_SEARCH};
  call_on_stack(filter_call, &call, overflow_stack + sizeof overflow_stack);
  return call.result;
}

// Apart from run_guarded: __builtin_setjmp may not share a function with
// the code that returns through it.
[[gnu::noinline]] int enter_guarded(int (*body)(void*), void* arg) {
  if (__builtin_setjmp(guard_env) != 0) return -1;
  guard_active = 1;
  return body(arg);
}

}  // namespace

int run_guarded(int (*body)(void*), void* arg, ExceptionHandler handler) {
  exception_handler = handler;
  ULONG reserve = kOverflowReserve;
  ::SetThreadStackGuarantee(&reserve);
  warm_up_stack_walk();
  const LPTOP_LEVEL_EXCEPTION_FILTER previous = ::SetUnhandledExceptionFilter(on_exception);
  void* const overflow_handler = ::AddVectoredExceptionHandler(1, on_stack_overflow);
  const int result = enter_guarded(body, arg);
  guard_active = 0;
  if (overflow_handler != nullptr) ::RemoveVectoredExceptionHandler(overflow_handler);
  ::SetUnhandledExceptionFilter(previous);
  return result;
}

void raise_exception(std::uint32_t code) {
  if (guard_active == 0) return;
  ::RaiseException(code, 0, 0, nullptr);
}

void debug_break() {
  if (::IsDebuggerPresent()) ::DebugBreak();
}

bool mask_underflow_in_context(void* context) {
  auto* c = static_cast<CONTEXT*>(context);
  const auto masked = [](unsigned csr) {
    return (csr | (kUnderflowFlag << kMaskShift) | kFlushToZero) & ~kUnderflowFlag;
  };
  // The system resumes with the register image of the save area.
  c->MxCsr = masked(c->MxCsr);
  c->FltSave.MxCsr = masked(c->FltSave.MxCsr);
  return true;
}

}  // namespace plat
