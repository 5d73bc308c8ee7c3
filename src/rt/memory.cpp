#include "rt/memory.h"

#include <atomic>
#include <cstdlib>

namespace rt {
namespace {
std::atomic<std::size_t> vm_limit{0};

bool over_limit(std::size_t bytes) {
  std::size_t limit = vm_limit.load(std::memory_order_relaxed);
  return limit != 0 && bytes > limit;
}
}  // namespace

void* for__get_vm(std::size_t bytes) {
  if (over_limit(bytes)) return nullptr;
  return std::malloc(bytes == 0 ? 1 : bytes);
}

void* for__realloc_vm(void* block, std::size_t bytes) {
  if (over_limit(bytes)) return nullptr;
  return std::realloc(block, bytes == 0 ? 1 : bytes);
}

void for__free_vm(void* block) {
  std::free(block);
}

void for__set_vm_limit(std::size_t bytes) {
  vm_limit.store(bytes, std::memory_order_relaxed);
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

}  // namespace rt
