# MinGW-w64 GCC (posix threads) for x86_64 Windows.
set(QUILL_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-gcc.cmake)
