# clang and lld for i686 Windows, against the MinGW-w64 headers and libraries.
set(QUILL_ARCH i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-clang.cmake)
