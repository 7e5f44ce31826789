#pragma once
// One small non-copyable owner per kind of Win32 handle: whatever is acquired is closed
// exactly once, on every path, by the owner's destructor, unless it was handed on with
// release(). Header-only: a close function is linked only when its owner is used.
#include <windows.h>

namespace win {

template <typename Traits>
class Owner {
 public:
  using Value = typename Traits::Value;

  Owner() = default;
  explicit Owner(Value value) : value_(value) {}
  ~Owner() { reset(); }
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  Owner(Owner&& other) noexcept : value_(other.release()) {}
  Owner& operator=(Owner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }

  Value get() const { return value_; }
  bool valid() const { return value_ != Traits::Invalid(); }
  explicit operator bool() const { return valid(); }

  // Hands the handle on: the owner forgets it and will not close it.
  [[nodiscard]] Value release() {
    Value value = value_;
    value_ = Traits::Invalid();
    return value;
  }

  void reset(Value value = Traits::Invalid()) {
    if (valid()) Traits::Close(value_);
    value_ = value;
  }

 private:
  Value value_ = Traits::Invalid();
};

// Files (CreateFile): invalid is INVALID_HANDLE_VALUE, not null.
struct FileTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Value value) { CloseHandle(value); }
};

// Processes, threads, mutexes, events: invalid is null.
struct KernelTraits {
  using Value = HANDLE;
  static Value Invalid() { return nullptr; }
  static void Close(Value value) { CloseHandle(value); }
};

struct FindTraits {
  using Value = HANDLE;
  static Value Invalid() { return INVALID_HANDLE_VALUE; }
  static void Close(Value value) { FindClose(value); }
};

struct GlobalTraits {
  using Value = HGLOBAL;
  static Value Invalid() { return nullptr; }
  static void Close(Value value) { GlobalFree(value); }
};

struct RegKeyTraits {
  using Value = HKEY;
  static Value Invalid() { return nullptr; }
  static void Close(Value value) { RegCloseKey(value); }
};

struct ModuleTraits {
  using Value = HMODULE;
  static Value Invalid() { return nullptr; }
  static void Close(Value value) { FreeLibrary(value); }
};

struct WindowTraits {
  using Value = HWND;
  static Value Invalid() { return nullptr; }
  static void Close(Value value) { DestroyWindow(value); }
};

using FileHandle = Owner<FileTraits>;
using KernelHandle = Owner<KernelTraits>;
using FindHandle = Owner<FindTraits>;
using GlobalBlock = Owner<GlobalTraits>;
using RegKey = Owner<RegKeyTraits>;
using Module = Owner<ModuleTraits>;
using Window = Owner<WindowTraits>;

// A locked view of a global memory block, unlocked when it goes.
class GlobalLockView {
 public:
  explicit GlobalLockView(HGLOBAL block) : block_(block), data_(block ? GlobalLock(block) : nullptr) {}
  ~GlobalLockView() {
    if (data_) GlobalUnlock(block_);
  }
  GlobalLockView(const GlobalLockView&) = delete;
  GlobalLockView& operator=(const GlobalLockView&) = delete;

  void* data() const { return data_; }
  // The caller unlocks later itself (GlobalUnlock on the block).
  [[nodiscard]] void* release() {
    void* data = data_;
    data_ = nullptr;
    return data;
  }

 private:
  HGLOBAL block_;
  void* data_;
};

}  // namespace win
