// Heap blocks of the run-time and the test hook that makes them run out.
#include "rt/memory.h"

#include <atomic>
#include <cstdlib>

#include "platform/platform.h"

namespace rt {
namespace {
std::atomic<std::size_t> vm_limit{0};

// Fault injection; `armed` is the only thing the normal path looks at.
std::atomic<bool> injection_armed{false};
std::atomic<std::uint64_t> requests{0};
std::uint64_t fail_first = 0, fail_last = 0;

bool injected_failure() {
  const std::uint64_t n = requests.fetch_add(1, std::memory_order_relaxed) + 1;
  return fail_first != 0 && n >= fail_first && n <= fail_last;
}

bool refused(std::size_t bytes) {
  if (injection_armed.load(std::memory_order_relaxed)) [[unlikely]] {
    if (injected_failure()) return true;
  }
  std::size_t limit = vm_limit.load(std::memory_order_relaxed);
  return limit != 0 && bytes > limit;
}
}  // namespace

void* for__get_vm(std::size_t bytes) {
  if (refused(bytes)) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void* for__realloc_vm(void* block, std::size_t bytes) {
  if (refused(bytes)) return nullptr;
  return std::realloc(block, bytes == 0 ? 1 : bytes);
}

void for__free_vm(void* block) {
  std::free(block);
}

void for__set_vm_limit(std::size_t bytes) {
  vm_limit.store(bytes, std::memory_order_relaxed);
}

void for__inject_vm_failure(std::uint64_t first, std::uint64_t last) {
  fail_first = first;
  fail_last = last;
  requests.store(0, std::memory_order_relaxed);
  injection_armed.store(true, std::memory_order_relaxed);
}

std::uint64_t for__vm_requests() {
  return requests.load(std::memory_order_relaxed);
}

VmBuffer& VmBuffer::operator=(VmBuffer&& o) noexcept {
  if (this != &o) {
    for__free_vm(data_);
    data_ = o.data_;
    size_ = o.size_;
    o.data_ = nullptr;
    o.size_ = 0;
  }
  return *this;
}

bool VmBuffer::resize(std::size_t bytes) {
  if (bytes == size_ && data_ != nullptr) return true;
  void* p = for__realloc_vm(data_, bytes);
  if (p == nullptr) return false;
  data_ = static_cast<char*>(p);
  size_ = bytes;
  return true;
}

void VmBuffer::release() {
  for__free_vm(data_);
  data_ = nullptr;
  size_ = 0;
}

void for__advise_whole_use(void* block, std::size_t bytes) {
  plat::advise_whole_use(block, bytes);
}

}  // namespace rt
