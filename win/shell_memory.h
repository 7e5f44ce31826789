#pragma once
// Owners for the shell's memory: the shell allocator itself (released when done) and the
// blocks it hands out (item lists, name buffers), freed through that allocator on every path.
// The shell is not imported; its functions come from the system folder (library_search.h).
#include <windows.h>
#include <shlobj.h>

#include "win/library_search.h"

namespace win {

class ShellAllocator {
 public:
  // Empty (false) when the shell has no allocator to give.
  ShellAllocator() {
    auto get_malloc = SystemFunction<decltype(&SHGetMalloc)>("shell32.dll", "SHGetMalloc");
    if (!get_malloc || FAILED(get_malloc(&malloc_))) malloc_ = nullptr;
  }
  ~ShellAllocator() {
    if (malloc_) malloc_->Release();
  }
  ShellAllocator(const ShellAllocator&) = delete;
  ShellAllocator& operator=(const ShellAllocator&) = delete;

  explicit operator bool() const { return malloc_ != nullptr; }
  IMalloc* operator->() const { return malloc_; }
  IMalloc* get() const { return malloc_; }

 private:
  IMalloc* malloc_ = nullptr;
};

// A block of the shell allocator; the allocator must outlive it.
template <typename T>
class ShellBlock {
 public:
  ShellBlock(const ShellAllocator& allocator, T* block) : allocator_(allocator.get()), block_(block) {}
  ~ShellBlock() {
    if (block_ && allocator_) allocator_->Free(block_);
  }
  ShellBlock(const ShellBlock&) = delete;
  ShellBlock& operator=(const ShellBlock&) = delete;

  T* get() const { return block_; }
  explicit operator bool() const { return block_ != nullptr; }
  [[nodiscard]] T* release() {
    T* block = block_;
    block_ = nullptr;
    return block;
  }

 private:
  IMalloc* allocator_;
  T* block_;
};

}  // namespace win
