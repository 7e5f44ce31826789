#pragma once
// A fixed-size array for the matchers' per-byte tables (tens to hundreds of MiB): left
// uninitialised, since every element is written before it is read, and backed by huge
// pages where the system offers them, so that touching it does not cost one page fault
// per 4 KiB.
#ifdef _WIN32
#include <malloc.h>
#else
#include <sys/mman.h>
#endif

#include <cstdlib>
#include <memory>
#include <new>
#include <span>
#include <type_traits>

namespace producer {

template <typename T>
class LargeArray {
  static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

 public:
  LargeArray() = default;
  explicit LargeArray(size_t size) : size_(size) {
    if (size == 0) return;
    constexpr size_t kHugePage = size_t{2} << 20;
    const size_t bytes = (size * sizeof(T) + kHugePage - 1) / kHugePage * kHugePage;
    void* p = AlignedAlloc(kHugePage, bytes);
    if (p == nullptr) throw std::bad_alloc();
#ifdef MADV_HUGEPAGE
    ::madvise(p, bytes, MADV_HUGEPAGE);  // advice only: without it the pages are small
#endif
    data_.reset(static_cast<T*>(p));
  }

  T& operator[](size_t i) { return data_.get()[i]; }
  const T& operator[](size_t i) const { return data_.get()[i]; }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  size_t size() const { return size_; }
  std::span<T> span() { return {data_.get(), size_}; }
  std::span<const T> span() const { return {data_.get(), size_}; }

 private:
  // The Windows C runtime has no aligned_alloc; its aligned blocks have a free of their own.
#ifdef _WIN32
  static void* AlignedAlloc(size_t alignment, size_t bytes) { return ::_aligned_malloc(bytes, alignment); }
  struct Free {
    void operator()(T* p) const { ::_aligned_free(p); }
  };
#else
  static void* AlignedAlloc(size_t alignment, size_t bytes) { return std::aligned_alloc(alignment, bytes); }
  struct Free {
    void operator()(T* p) const { std::free(p); }
  };
#endif
  std::unique_ptr<T, Free> data_;
  size_t size_ = 0;
};

}  // namespace producer
