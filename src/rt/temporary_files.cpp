// The program's temporary files, removed when the run-time ends the process.
#include "rt/temporary_files.h"

#include <array>
#include <atomic>
#include <cstdio>

#include "platform/platform.h"
#include "rt/diagnostics.h"

namespace rt {
namespace {

// A slot is free while its name is null. The handle is stored before the
// name is published, and read only after the name was taken.
struct Slot {
  std::atomic<const char*> name{nullptr};
  std::atomic<plat::Handle> handle{plat::kInvalidHandle};
};
std::array<Slot, kTemporaryFileSlots> slots;

// Room for a long path before the platform's text.
constexpr std::size_t kNameRoom = 4096;

// "<name>: left behind, cannot remove it: <platform text>".
void report_left_behind(const char* name, int error) {
  char text[kOsErrorTextSize];
  plat::error_text(error, text, sizeof text);
  char line[kNameRoom + kOsErrorTextSize];
  const int n =
      std::snprintf(line, sizeof line, "%s: left behind, cannot remove it: %s", name, text);
  if (n <= 0) return;
  std::size_t length = static_cast<std::size_t>(n);
  if (length >= sizeof line) {  // a name beyond any path: cut, the line still ends
    length = sizeof line - 1;
    line[length - 1] = '\n';
  }
  for__write_diagnostic_text(line, length);
}

}  // namespace

int for__register_temporary(const char* name, std::FILE* stream) {
  const plat::Handle handle = plat::stream_handle(stream);
  if (name == nullptr || handle == plat::kInvalidHandle) return -1;
  for (int i = 0; i < kTemporaryFileSlots; ++i) {
    Slot& s = slots[static_cast<std::size_t>(i)];
    if (s.name.load(std::memory_order_acquire) != nullptr) continue;
    s.handle.store(handle, std::memory_order_relaxed);
    const char* expected = nullptr;
    if (s.name.compare_exchange_strong(expected, name, std::memory_order_acq_rel)) return i;
  }
  return -1;
}

void for__forget_temporary(int slot) {
  if (slot < 0 || slot >= kTemporaryFileSlots) return;
  slots[static_cast<std::size_t>(slot)].name.store(nullptr, std::memory_order_release);
}

void for__remove_temporaries() {
  for (Slot& s : slots) {
    const char* name = s.name.exchange(nullptr, std::memory_order_acq_rel);
    if (name == nullptr) continue;
    // Closed first: an open file cannot be removed everywhere.
    int error = 0;
    plat::close_handle(s.handle.load(std::memory_order_relaxed), &error);
    if (!plat::delete_file(name, &error)) report_left_behind(name, error);
  }
}

}  // namespace rt
