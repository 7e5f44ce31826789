// The C++ runtime's failure paths for a program built without exceptions. The containers
// of the standard library report a failed allocation or a broken precondition by calling
// these functions, which the library's own copies would answer by throwing: that alone
// would link the unwinder, the exception classes and the demangler into the program. Here
// each ends the program after one box. The program's files are safe at any such point: an
// update cut off there is finished or undone by the next run, as after a kill.
#include <windows.h>

#include <cstdlib>
#include <new>
#include <string>  // declares the library's failure functions defined below

namespace {

[[noreturn]] void Fail(const char* text) {
  MessageBoxA(nullptr, text, "Error", MB_OK | MB_ICONSTOP | MB_TASKMODAL);
  ExitProcess(1);
}

[[noreturn]] void OutOfMemory() { Fail("メモリが確保できません"); }
[[noreturn]] void Broken() { Fail("予期しないエラーが発生しました"); }

void* Allocate(std::size_t size) {
  void* block = std::malloc(size ? size : 1);
  if (!block) OutOfMemory();
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return Allocate(size); }
void* operator new[](std::size_t size) { return Allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }

namespace std {
void __throw_bad_alloc() { OutOfMemory(); }
void __throw_bad_array_new_length() { OutOfMemory(); }
void __throw_length_error(const char*) { OutOfMemory(); }
void __throw_logic_error(const char*) { Broken(); }
void __throw_out_of_range(const char*) { Broken(); }
void __throw_out_of_range_fmt(const char*, ...) { Broken(); }
void __throw_invalid_argument(const char*) { Broken(); }
void __throw_bad_function_call() { Broken(); }
void __glibcxx_assert_fail(const char*, int, const char*, const char*) noexcept { Broken(); }
}  // namespace std
