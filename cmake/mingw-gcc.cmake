# Cross-compiling for Windows with the posix-thread flavour of MinGW-w64
# (std::thread and GoogleTest need it). The processor comes from the small
# toolchain file that includes this one (gcc-x86_64.cmake, gcc-i686.cmake).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUILL_ARCH})
set(quill_triple ${QUILL_ARCH}-w64-mingw32)

set(CMAKE_C_COMPILER   ${quill_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${quill_triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${quill_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${quill_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

include(${CMAKE_CURRENT_LIST_DIR}/wine-emulator.cmake)
