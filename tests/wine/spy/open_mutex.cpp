// open_mutex.exe NAME: asks, as the wizard does, whether the named mutex exists. Prints
// "mutex: exists" (exit 0) or "mutex: missing, error N" (exit 1).
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: open_mutex.exe NAME\n");
    return 2;
  }
  HANDLE mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, argv[1]);
  if (mutex == nullptr) {
    std::printf("mutex: missing, error %lu\n", GetLastError());
    return 1;
  }
  CloseHandle(mutex);
  std::printf("mutex: exists\n");
  return 0;
}
