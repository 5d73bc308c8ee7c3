// Heap blocks of the run-time. Every allocation of the I/O services goes
// through here so that running out of memory can be provoked in tests.
#pragma once

#include <cstddef>

namespace rt {

void* for__get_vm(std::size_t bytes);
void* for__realloc_vm(void* block, std::size_t bytes);
void for__free_vm(void* block);

// Test hook: requests of more than `bytes` fail as if memory ran out
// (0 removes the limit). Process-wide; tests set it and clear it again.
void for__set_vm_limit(std::size_t bytes);

// An owned heap block that can grow while keeping its contents.
class VmBuffer {
 public:
  VmBuffer() = default;
  ~VmBuffer() { for__free_vm(data_); }
  VmBuffer(const VmBuffer&) = delete;
  VmBuffer& operator=(const VmBuffer&) = delete;
  VmBuffer(VmBuffer&& o) noexcept : data_(o.data_), size_(o.size_) {
    o.data_ = nullptr;
    o.size_ = 0;
  }
  VmBuffer& operator=(VmBuffer&& o) noexcept;

  // Resizes to exactly `bytes`, keeping the common prefix; false (buffer
  // unchanged) when memory is short.
  bool resize(std::size_t bytes);
  void release();

  char* data() { return data_; }
  const char* data() const { return data_; }
  std::size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace rt
