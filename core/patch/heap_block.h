#pragma once
// One block of heap memory with a single owner. The applier's code path has no standard
// containers, so decoded streams and rebuilt contents live in blocks like this; a failed
// allocation is an ordinary outcome (ok() false), never an exception.
#include <cstdint>
#include <cstdlib>

namespace patch {

class HeapBlock {
 public:
  HeapBlock() = default;
  explicit HeapBlock(uint64_t size) { Allocate(size); }
  ~HeapBlock() { std::free(data_); }

  // Replaces the block by one of `size` bytes (contents undefined); a zero size holds
  // nothing and succeeds. False, with an empty block, when the memory is not there.
  bool Allocate(uint64_t size) {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
    failed_ = false;
    if (size == 0) return true;
    if (size <= SIZE_MAX) data_ = static_cast<uint8_t*>(std::malloc(static_cast<size_t>(size)));
    if (data_ == nullptr) {
      failed_ = true;
      return false;
    }
    size_ = size;
    return true;
  }
  HeapBlock(const HeapBlock&) = delete;
  HeapBlock& operator=(const HeapBlock&) = delete;

  bool ok() const { return !failed_; }
  uint8_t* data() { return data_; }
  const uint8_t* data() const { return data_; }
  uint64_t size() const { return size_; }

 private:
  uint8_t* data_ = nullptr;
  uint64_t size_ = 0;
  bool failed_ = false;
};

}  // namespace patch
