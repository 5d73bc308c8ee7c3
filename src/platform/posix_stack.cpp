// POSIX layer: the stack walk (the C library's backtrace), what the loaded
// objects know about a code address (dladdr), and the register dump of an
// exception context.
#include <dlfcn.h>
#include <execinfo.h>
#include <ucontext.h>

#include <cstdio>

#include "platform/platform.h"
#include "platform/posix_internal.h"

namespace plat {
namespace {

// Frames of the walk before the ones asked for: the exception handler's
// own, down to the faulting instruction.
constexpr int kRawFrames = 128;

// The executable's path, for addresses whose image has no name of its own
// (a program started with an empty argument vector).
char executable_path[kPathSize];

}  // namespace

void warm_up_stack_walk() {
  // The first backtrace loads the unwinder, which allocates; later ones,
  // inside the exception handler, must not.
  void* frames[2];
  ::backtrace(frames, 2);
  if (executable_path[0] == '\0') module_path(executable_path, sizeof executable_path);
}

int stack_walk(const void* context, std::uintptr_t* pcs, int max) {
  void* raw[kRawFrames];
  const int n = ::backtrace(raw, kRawFrames);
  if (n <= 0) return -1;
  int first = 1;  // the caller of stack_walk
  if (context != nullptr) {
    const std::uintptr_t pc = exception_context_pc(context);
    first = -1;
    for (int i = 0; i < n && first < 0; ++i) {
      if (reinterpret_cast<std::uintptr_t>(raw[i]) == pc) first = i;
    }
    if (first < 0) {
      // The unwinder could not pass the signal frame: the faulting
      // instruction alone.
      if (max < 1) return 0;
      pcs[0] = pc;
      return 1;
    }
  }
  int count = 0;
  for (int i = first; i < n && count < max; ++i)
    pcs[count++] = reinterpret_cast<std::uintptr_t>(raw[i]);
  return count;
}

AddressInfo describe_address(std::uintptr_t pc) {
  AddressInfo info;
  Dl_info dl;
  if (::dladdr(reinterpret_cast<void*>(pc), &dl) == 0) return info;
  info.image = dl.dli_fname;
  if (info.image == nullptr || info.image[0] == '\0')
    info.image = executable_path[0] != '\0' ? executable_path : nullptr;
  if (dl.dli_saddr != nullptr) info.routine = dl.dli_sname;
  return info;
}

std::size_t format_registers(const void* context, char* out, std::size_t cap) {
  if (cap == 0) return 0;
  out[0] = '\0';
#if defined(__x86_64__)
  const auto* uc = static_cast<const ucontext_t*>(context);
  const greg_t* g = uc->uc_mcontext.gregs;
  struct Reg {
    const char* name;
    int index;
  };
  static constexpr Reg kRegs[] = {
      {"RAX", REG_RAX}, {"RBX", REG_RBX}, {"RCX", REG_RCX}, {"RDX", REG_RDX}, {"RSI", REG_RSI},
      {"RDI", REG_RDI}, {"RBP", REG_RBP}, {"RSP", REG_RSP}, {"R8", REG_R8},   {"R9", REG_R9},
      {"R10", REG_R10}, {"R11", REG_R11}, {"R12", REG_R12}, {"R13", REG_R13}, {"R14", REG_R14},
      {"R15", REG_R15}, {"RIP", REG_RIP}, {"EFL", REG_EFL},
  };
  constexpr int kRegistersPerLine = 3;
  std::size_t used = 0;
  int column = 0;
  for (const Reg& r : kRegs) {
    const int n = std::snprintf(out + used, cap - used, "%-3s: %016llX%s", r.name,
                                static_cast<unsigned long long>(g[r.index]),
                                ++column % kRegistersPerLine == 0 ? "\n" : "    ");
    if (n < 0 || static_cast<std::size_t>(n) >= cap - used) break;
    used += static_cast<std::size_t>(n);
  }
  if (uc->uc_mcontext.fpregs != nullptr && used < cap) {
    const int n = std::snprintf(out + used, cap - used, "MXCSR: %08X\n",
                                static_cast<unsigned>(uc->uc_mcontext.fpregs->mxcsr));
    if (n > 0 && static_cast<std::size_t>(n) < cap - used) used += static_cast<std::size_t>(n);
  }
  return used;
#else
  const int n = std::snprintf(out, cap, "PC : %0*llX\n", kAddressDigits,
                              static_cast<unsigned long long>(exception_context_pc(context)));
  return n > 0 && static_cast<std::size_t>(n) < cap ? static_cast<std::size_t>(n) : 0;
#endif
}

}  // namespace plat
