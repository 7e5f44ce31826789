# Cross-build of the 64-bit patchtool.exe: the posix thread model of MinGW-w64 (the producer
# shares its work among threads) and the producer's libraries built by
# scripts/build-mingw-deps.sh into MINGW_DEPS.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER   x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  x86_64-w64-mingw32-windres)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-deps.cmake")
mingw_deps_search(/usr/x86_64-w64-mingw32)
