// POSIX layer: console events, processor exceptions, the guarded region and
// the floating-point control word.
//
// Console events are the signals SIGINT (control-C), SIGQUIT (control-BREAK)
// and SIGHUP (the console closed). They are blocked in every thread and taken
// by a thread of their own with sigwaitinfo, so the run-time's event handler
// runs as ordinary code, never inside an asynchronous signal handler.
//
// Processor exceptions are the synchronous signals SIGSEGV, SIGBUS, SIGILL,
// SIGFPE and SIGTRAP, caught with SA_SIGINFO on an alternate stack (a stack
// overflow leaves no room on the faulting one) and translated into the
// platform's exception codes.
#include <errno.h>
#include <fcntl.h>
#include <fenv.h>
#include <poll.h>
#include <pthread.h>
#include <setjmp.h>
#include <signal.h>
#include <time.h>
#include <ucontext.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>

#include "platform/platform.h"
#include "platform/posix_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace plat {

const std::size_t kContextSize = sizeof(ucontext_t);

// ---- Floating point -------------------------------------------------------

void clear_fp_flags() {
  std::feclearexcept(FE_ALL_EXCEPT);
}

void set_fp_control(FpTraps traps, bool flush_to_zero) {
  int enable = 0;
  if (traps.invalid) enable |= FE_INVALID;
  if (traps.divide_by_zero) enable |= FE_DIVBYZERO;
  if (traps.overflow) enable |= FE_OVERFLOW;
  if (traps.underflow) enable |= FE_UNDERFLOW;
  ::fedisableexcept(FE_ALL_EXCEPT & ~enable);
  if (enable != 0) ::feenableexcept(enable);
#if defined(__x86_64__) || defined(__i386__)
  _MM_SET_FLUSH_ZERO_MODE(flush_to_zero ? _MM_FLUSH_ZERO_ON : _MM_FLUSH_ZERO_OFF);
#else
  (void)flush_to_zero;  // no flush-to-zero control on this processor
#endif
}

// ---- Console events -------------------------------------------------------

namespace {

constexpr int kEventSignals[] = {SIGINT, SIGQUIT, SIGHUP};  // indexed by event

ConsoleEventHandler event_handler = nullptr;
constexpr std::size_t kEventThreadStack = 512 * 1024;
sigset_t event_set;

// The input waits watch this pipe besides their handle; one byte written to
// it ends every wait, present and future, without a race against a wait that
// is just about to start.
int wake_pipe[2] = {-1, -1};
std::atomic<bool> waits_interrupted{false};

bool is_ignored(const struct sigaction& sa) {
  return (sa.sa_flags & SA_SIGINFO) == 0 && sa.sa_handler == SIG_IGN;
}
bool is_default(const struct sigaction& sa) {
  return (sa.sa_flags & SA_SIGINFO) == 0 && sa.sa_handler == SIG_DFL;
}

// An event the run-time did not handle goes where the process pointed the
// signal: its own handler is called here, on the event thread, as the
// platform's signal dispatch would; a default or ignore disposition does
// nothing more.
void pass_event_on(int sig, siginfo_t* info) {
  struct sigaction sa;
  if (::sigaction(sig, nullptr, &sa) != 0 || is_ignored(sa) || is_default(sa)) return;
  if ((sa.sa_flags & SA_SIGINFO) != 0) {
    sa.sa_sigaction(sig, info, nullptr);
  } else {
    sa.sa_handler(sig);
  }
}

void* event_thread(void*) {
  for (;;) {
    siginfo_t info;
    const int sig = ::sigwaitinfo(&event_set, &info);
    if (sig < 0) continue;  // EINTR
    int event = 0;
    while (kEventSignals[event] != sig) ++event;
    if (!event_handler(event)) pass_event_on(sig, &info);
  }
  return nullptr;
}

}  // namespace

EventDisposition event_disposition(int event) {
  if (event < 0 || event > 2) return EventDisposition::kUnknown;
  struct sigaction sa;
  if (::sigaction(kEventSignals[event], nullptr, &sa) != 0) return EventDisposition::kUnknown;
  if (is_default(sa)) return EventDisposition::kDefault;
  if (is_ignored(sa)) return EventDisposition::kIgnored;
  return EventDisposition::kOwnHandler;
}

bool start_console_events(ConsoleEventHandler handler) {
  if (event_handler != nullptr) return true;
  // Without descriptors for the pipe the events still work: an input wait
  // is then the read itself, where the units may be taken all the same.
  if (::pipe2(wake_pipe, O_CLOEXEC) != 0) wake_pipe[0] = wake_pipe[1] = -1;
  ::sigemptyset(&event_set);
  for (const int sig : kEventSignals) {
    struct sigaction sa;
    // A signal the process inherited as ignored (nohup, a background job)
    // stays ignored: whoever started the program asked for exactly that.
    if (::sigaction(sig, nullptr, &sa) == 0 && is_ignored(sa)) continue;
    ::sigaddset(&event_set, sig);
  }
  event_handler = handler;
  // Blocked before the thread exists, so that it and every later thread
  // inherit the mask and the signals reach only sigwaitinfo.
  sigset_t old;
  ::pthread_sigmask(SIG_BLOCK, &event_set, &old);
  pthread_attr_t attr;
  ::pthread_attr_init(&attr);
  ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  // The handler needs little stack (its buffers are the run-time's own); the
  // default of several MiB would count against an address-space limit.
  ::pthread_attr_setstacksize(&attr, kEventThreadStack);
  pthread_t thread;
  const int rc = ::pthread_create(&thread, &attr, event_thread, nullptr);
  ::pthread_attr_destroy(&attr);
  if (rc != 0) {
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    event_handler = nullptr;
    return false;
  }
  return true;
}

bool wait_for_input(Handle h) {
  if (waits_interrupted.load(std::memory_order_acquire)) return false;
  if (wake_pipe[0] < 0) return true;
  pollfd fds[2] = {{static_cast<int>(h), POLLIN, 0}, {wake_pipe[0], POLLIN, 0}};
  for (;;) {
    const int r = ::poll(fds, 2, -1);
    if (r < 0) {
      if (errno == EINTR) continue;
      return true;  // the read reports the handle's own error
    }
    if (fds[1].revents != 0) return false;
    if (fds[0].revents != 0) return true;
  }
}

void sleep_milliseconds(unsigned milliseconds) {
  timespec left{static_cast<time_t>(milliseconds / 1000),
                static_cast<long>(milliseconds % 1000) * 1000000L};
  // Woken by a signal: the rest of the time is slept.
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

void interrupt_input_waits() {
  waits_interrupted.store(true, std::memory_order_release);
  if (wake_pipe[1] >= 0) {
    static constexpr char kByte = 0;
    int err = 0;
    write_bytes(wake_pipe[1], &kByte, 1, &err);
  }
}

// ---- Processor exceptions -------------------------------------------------

namespace {

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGTRAP};

ExceptionHandler exception_handler = nullptr;
sigjmp_buf guard_env;
volatile sig_atomic_t guard_active = 0;
std::atomic<int> handling{0};

// The main stack's lowest address and the guard region below it, where a
// fault means the stack ran out.
std::uintptr_t stack_low = 0;
constexpr std::uintptr_t kGuardRegion = 1u << 20;

// Room for the handler, the diagnostic and the stack walk (the sanitizers'
// frames included).
constexpr std::size_t kAlternateStackSize = 256 * 1024;
alignas(16) char alternate_stack[kAlternateStackSize];

std::uintptr_t context_pc(const void* context) {
  const auto* uc = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_RIP]);
#elif defined(__i386__)
  return static_cast<std::uintptr_t>(uc->uc_mcontext.gregs[REG_EIP]);
#elif defined(__aarch64__)
  return static_cast<std::uintptr_t>(uc->uc_mcontext.pc);
#else
  (void)uc;
  return 0;
#endif
}

bool in_stack_guard(std::uintptr_t address) {
  if (stack_low == 0) return false;
  const std::uintptr_t page = static_cast<std::uintptr_t>(::sysconf(_SC_PAGESIZE));
  const std::uintptr_t bottom = stack_low > kGuardRegion ? stack_low - kGuardRegion : 0;
  return address >= bottom && address < stack_low + page;
}

std::uint32_t exception_code(int sig, const siginfo_t* si) {
  switch (sig) {
    case SIGSEGV:
      return in_stack_guard(reinterpret_cast<std::uintptr_t>(si->si_addr)) ? exc::kStackOverflow
                                                                           : exc::kAccessViolation;
    case SIGBUS:
      return si->si_code == BUS_ADRALN ? exc::kDatatypeMisalignment : exc::kInPageError;
    case SIGILL:
      return exc::kIllegalInstruction;
    case SIGFPE:
      switch (si->si_code) {
        case FPE_INTDIV:
          return exc::kIntegerDivideByZero;
        case FPE_INTOVF:
          return exc::kIntegerOverflow;
        case FPE_FLTDIV:
          return exc::kFloatDivideByZero;
        case FPE_FLTOVF:
          return exc::kFloatOverflow;
        case FPE_FLTUND:
          return exc::kFloatUnderflow;
        case FPE_FLTRES:
          return exc::kFloatInexact;
        case FPE_FLTSUB:
          return exc::kArrayBoundsExceeded;
        default:
          return exc::kFloatInvalid;
      }
    case SIGTRAP:
      // raise_exception's own signal carries its code.
      if (si->si_code == SI_QUEUE && si->si_pid == ::getpid())
        return static_cast<std::uint32_t>(si->si_value.sival_int);
      return exc::kBreakpoint;
    default:
      return 0;
  }
}

void set_fault_dispositions(bool ours);

void on_fault(int sig, siginfo_t* si, void* context) {
  // One exception at a time: a second one (another thread, or a fault in the
  // handler before the dispositions below are reset) takes the default action.
  if (handling.exchange(1) != 0) {
    ::signal(sig, SIG_DFL);
    ::raise(sig);
    return;
  }
  // A fault inside the handler now ends the process by the default action.
  set_fault_dispositions(false);
  ExceptionRecord record;
  record.code = exception_code(sig, si);
  record.address = context_pc(context);
  if (sig == SIGSEGV || sig == SIGBUS)
    record.fault_address = reinterpret_cast<std::uintptr_t>(si->si_addr);
  switch (exception_handler(record, context)) {
    case ExceptionAction::kContinue:
      set_fault_dispositions(true);
      handling.store(0);
      return;
    case ExceptionAction::kLeaveGuardedRegion:
      if (guard_active != 0) {
        set_fault_dispositions(true);
        handling.store(0);
        ::siglongjmp(guard_env, 1);
      }
      [[fallthrough]];
    case ExceptionAction::kPassOn:
      // Default disposition (set above) and the signal again: it is blocked
      // while the handler runs and is delivered, fatally, when it returns. A
      // fault returns to its instruction and faults again anyway.
      flush_coverage();
      ::raise(sig);
      return;
  }
}

void set_fault_dispositions(bool ours) {
  struct sigaction sa {};
  ::sigemptyset(&sa.sa_mask);
  if (ours) {
    sa.sa_sigaction = on_fault;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
  } else {
    sa.sa_handler = SIG_DFL;
  }
  for (const int sig : kFaultSignals) ::sigaction(sig, &sa, nullptr);
}

void find_stack_low() {
  pthread_attr_t attr;
  if (::pthread_getattr_np(::pthread_self(), &attr) != 0) return;
  void* address = nullptr;
  std::size_t size = 0;
  if (::pthread_attr_getstack(&attr, &address, &size) == 0)
    stack_low = reinterpret_cast<std::uintptr_t>(address);
  ::pthread_attr_destroy(&attr);
}

}  // namespace

int run_guarded(int (*body)(void*), void* arg, ExceptionHandler handler) {
  exception_handler = handler;
  stack_t ss{};
  ss.ss_sp = alternate_stack;
  ss.ss_size = sizeof alternate_stack;
  ::sigaltstack(&ss, nullptr);
  find_stack_low();
  warm_up_stack_walk();
  set_fault_dispositions(true);
  volatile int result = -1;
  if (sigsetjmp(guard_env, 1) == 0) {
    guard_active = 1;
    result = body(arg);
  }
  guard_active = 0;
  set_fault_dispositions(false);
  return result;
}

void raise_exception(std::uint32_t code) {
  if (guard_active == 0) return;
  sigval value;
  value.sival_int = static_cast<int>(code);
  ::pthread_sigqueue(::pthread_self(), SIGTRAP, value);
}

void debug_break() {
  // A traced process still stops for a signal it ignores; an untraced one
  // drops it, so without a debugger the break does nothing.
  struct sigaction ignore {
  }, old{};
  ignore.sa_handler = SIG_IGN;
  ::sigemptyset(&ignore.sa_mask);
  ::sigaction(SIGTRAP, &ignore, &old);
  ::raise(SIGTRAP);
  ::sigaction(SIGTRAP, &old, nullptr);
}

bool mask_underflow_in_context(void* context) {
#if defined(__x86_64__)
  auto* uc = static_cast<ucontext_t*>(context);
  if (uc->uc_mcontext.fpregs == nullptr) return false;
  constexpr unsigned kUnderflowMask = 1u << 11, kFlushToZero = 1u << 15, kUnderflowFlag = 1u << 4;
  uc->uc_mcontext.fpregs->mxcsr =
      (uc->uc_mcontext.fpregs->mxcsr | kUnderflowMask | kFlushToZero) & ~kUnderflowFlag;
  return true;
#else
  (void)context;
  return false;
#endif
}

std::uintptr_t exception_context_pc(const void* context) {
  return context_pc(context);
}

}  // namespace plat
