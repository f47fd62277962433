# clang and lld for x86_64 Windows, against the MinGW-w64 headers and libraries.
set(QUILL_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-clang.cmake)
