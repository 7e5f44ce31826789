#pragma once
// One block of heap memory with a single owner. The applier's code path has no standard
// containers, so decoded streams and rebuilt contents live in blocks like this; a failed
// allocation is an ordinary outcome (Allocate() false), never an exception.
#include <cstdint>
#include <cstdlib>
#if defined(__linux__)
#include <sys/mman.h>
#endif

namespace patch {

// Memory for a block, freed with std::free. Linux gives large blocks transparent huge pages
// where the system allows them: rebuilding megabytes in 4 KB pages spends as long faulting
// the pages in as rebuilding them.
inline void* AllocateBlockMemory(size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr size_t kHugePage = size_t{2} << 20;
  if (size >= kHugePage) {
    void* data = nullptr;
    if (posix_memalign(&data, kHugePage, size) != 0) return nullptr;
    ::madvise(data, size, MADV_HUGEPAGE);  // advice only: refused, the block is as good in small pages
    return data;
  }
#endif
  return std::malloc(size);
}

class HeapBlock {
 public:
  HeapBlock() = default;
  ~HeapBlock() { std::free(data_); }

  // Replaces the block by one of `size` bytes (contents undefined); a zero size holds
  // nothing and succeeds. False, with an empty block, when the memory is not there.
  bool Allocate(uint64_t size) {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
    if (size == 0) return true;
    if (size <= SIZE_MAX) data_ = static_cast<uint8_t*>(AllocateBlockMemory(static_cast<size_t>(size)));
    if (data_ == nullptr) return false;
    size_ = size;
    return true;
  }
  void Swap(HeapBlock& other) {
    uint8_t* data = data_;
    const uint64_t size = size_;
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = data;
    other.size_ = size;
  }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;

  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
};

}  // namespace patch
