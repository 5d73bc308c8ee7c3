// Heap blocks of the run-time. Every allocation of the run-time goes through
// here and none throws: a failure is a null block, which the caller turns
// into its own condition (41, 22, direct-write mode). Running out of memory
// can therefore be provoked in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace rt {

void* for__get_vm(std::size_t bytes);
void* for__realloc_vm(void* block, std::size_t bytes);
void for__free_vm(void* block);

// Storage the program is about to fill whole (a large array filled front to
// back): asks the platform to make its first touch cheap. Only advice; the
// contents stay as they are.
void for__advise_whole_use(void* block, std::size_t bytes);

// Test hook: requests of more than `bytes` fail as if memory ran out
// (0 removes the limit). Process-wide; tests set it and clear it again.
void for__set_vm_limit(std::size_t bytes);

// Test hook (fault injection): from this call on, requests (get and realloc)
// are counted, and those numbered first to last (1 = the next, inclusive)
// fail; first 0 only counts. Process-wide, off until set; the program itself
// never sets it.
void for__inject_vm_failure(std::uint64_t first, std::uint64_t last);
// Requests counted since the hook was set.
std::uint64_t for__vm_requests();

// An object in a heap block of its own: created by vm_create, which returns
// null instead of throwing when memory is short.
struct VmDelete {
  template <typename T>
  void operator()(T* p) const {
    std::destroy_at(p);
    for__free_vm(p);
  }
};
template <typename T>
using VmUnique = std::unique_ptr<T, VmDelete>;

template <typename T>
VmUnique<T> vm_create() {
  static_assert(alignof(T) <= alignof(std::max_align_t));
  void* block = for__get_vm(sizeof(T));
  if (block == nullptr) return VmUnique<T>();
  return VmUnique<T>(std::construct_at(static_cast<T*>(block)));
}

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
