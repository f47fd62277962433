# MinGW-w64 GCC (posix threads) for i686 Windows.
set(QUILL_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-gcc.cmake)
