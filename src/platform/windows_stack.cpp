// Windows layer: the stack walk, what the loaded images know about a code
// address, and the register dump of an exception context.
//
// The calling thread's frames come from RtlCaptureStackBackTrace. An
// exception's frames are unwound from a copy of its context with the
// images' own unwind tables (the walk the system's stack walkers make), so
// the first frame is the faulting instruction. Routine names come from the
// images' export tables: the program exports its routines for this.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace plat {
namespace {

// The executable's path, read before any exception: the handler allocates
// nothing and calls as little as it can.
char executable_path[MAX_PATH];
// What describe_address returns points here; valid until its next call.
char image_path[MAX_PATH];

int walk_context(const CONTEXT& start, std::uintptr_t* pcs, int max) {
  CONTEXT c = start;
  int count = 0;
  while (count < max && c.Rip != 0) {
    pcs[count++] = static_cast<std::uintptr_t>(c.Rip);
    const DWORD64 sp = c.Rsp;
    DWORD64 base = 0;
    if (PRUNTIME_FUNCTION entry = ::RtlLookupFunctionEntry(c.Rip, &base, nullptr)) {
      void* handler_data = nullptr;
      DWORD64 establisher = 0;
      ::RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, c.Rip, entry, &c, &handler_data, &establisher,
                         nullptr);
    } else {
      // A leaf routine keeps no frame: its return address is on the top of
      // the stack.
      c.Rip = *reinterpret_cast<const DWORD64*>(c.Rsp);
      c.Rsp += sizeof(DWORD64);
    }
    if (c.Rsp <= sp) break;  // a corrupt frame would loop
  }
  return count;
}

// The exported routine that contains `pc`: the export with the greatest
// address not above it that is not before the start of pc's routine.
const char* exported_routine(HMODULE module, std::uintptr_t pc) {
  const auto base = reinterpret_cast<const unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.VirtualAddress == 0 || dir.Size == 0) return nullptr;
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  const auto* functions = reinterpret_cast<const DWORD*>(base + exports->AddressOfFunctions);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  const DWORD rva = static_cast<DWORD>(pc - reinterpret_cast<std::uintptr_t>(base));
  DWORD floor = 0;
  DWORD64 image_base = 0;
  if (PRUNTIME_FUNCTION entry = ::RtlLookupFunctionEntry(pc, &image_base, nullptr))
    floor = entry->BeginAddress;
  const char* best = nullptr;
  DWORD best_rva = 0;
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    const DWORD f = functions[ordinals[i]];
    if (f <= rva && f >= floor && (best == nullptr || f > best_rva)) {
      best_rva = f;
      best = reinterpret_cast<const char*>(base + names[i]);
    }
  }
  return best;
}

}  // namespace

void warm_up_stack_walk() {
  void* frames[2];
  ::RtlCaptureStackBackTrace(0, 2, frames, nullptr);
  if (executable_path[0] == '\0') module_path(executable_path, sizeof executable_path);
}

int stack_walk(const void* context, std::uintptr_t* pcs, int max) {
  if (max <= 0) return 0;
  if (context != nullptr) return walk_context(*static_cast<const CONTEXT*>(context), pcs, max);
  // Skipped: stack_walk itself, so the caller is the first frame. The
  // system captures fewer than 63 frames, skipped ones included.
  constexpr int kCaptureLimit = 63 - 1;
  const DWORD wanted = static_cast<DWORD>(max < kCaptureLimit ? max : kCaptureLimit);
  const USHORT n = ::RtlCaptureStackBackTrace(1, wanted, reinterpret_cast<void**>(pcs), nullptr);
  return n == 0 ? -1 : static_cast<int>(n);
}

AddressInfo describe_address(std::uintptr_t pc) {
  AddressInfo info;
  HMODULE module = nullptr;
  if (!::GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(pc), &module))
    return info;
  const DWORD n = ::GetModuleFileNameA(module, image_path, sizeof image_path);
  if (n > 0 && n < sizeof image_path) {
    info.image = image_path;
  } else if (module == ::GetModuleHandleA(nullptr) && executable_path[0] != '\0') {
    info.image = executable_path;
  }
  info.routine = exported_routine(module, pc);
  return info;
}

std::size_t format_registers(const void* context, char* out, std::size_t cap) {
  if (cap == 0) return 0;
  out[0] = '\0';
  const auto& c = *static_cast<const CONTEXT*>(context);
  struct Reg {
    const char* name;
    DWORD64 value;
  };
  const Reg regs[] = {
      {"RAX", c.Rax}, {"RBX", c.Rbx}, {"RCX", c.Rcx},    {"RDX", c.Rdx}, {"RSI", c.Rsi},
      {"RDI", c.Rdi}, {"RBP", c.Rbp}, {"RSP", c.Rsp},    {"R8", c.R8},   {"R9", c.R9},
      {"R10", c.R10}, {"R11", c.R11}, {"R12", c.R12},    {"R13", c.R13}, {"R14", c.R14},
      {"R15", c.R15}, {"RIP", c.Rip}, {"EFL", c.EFlags},
  };
  constexpr int kRegistersPerLine = 3;
  std::size_t used = 0;
  int column = 0;
  for (const Reg& r : regs) {
    const int n = std::snprintf(out + used, cap - used, "%-3s: %016llX%s", r.name,
                                static_cast<unsigned long long>(r.value),
                                ++column % kRegistersPerLine == 0 ? "\n" : "    ");
    if (n < 0 || static_cast<std::size_t>(n) >= cap - used) return used;
    used += static_cast<std::size_t>(n);
  }
  const int n =
      std::snprintf(out + used, cap - used, "MXCSR: %08X\n", static_cast<unsigned>(c.MxCsr));
  if (n > 0 && static_cast<std::size_t>(n) < cap - used) used += static_cast<std::size_t>(n);
  return used;
}

}  // namespace plat
