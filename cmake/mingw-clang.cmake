# The second compiler: Debian's clang and lld for Windows, against the same
# MinGW-w64 headers and libraries as the GCC build (cmake/mingw-gcc.cmake).
# clang brings no C++ library of its own for this target, so it uses the
# libstdc++ of the posix-thread GCC cross toolchain; that library and clang
# unwind the same way (DWARF on i686, SEH tables on x86_64), so the two mix.
# The processor comes from the small toolchain file that includes this one.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QUILL_ARCH})
set(quill_triple ${QUILL_ARCH}-w64-mingw32)

set(QUILL_CLANG_TARGET ${QUILL_ARCH}-w64-windows-gnu)
set(QUILL_MINGW_ROOT /usr/${quill_triple} CACHE PATH "MinGW-w64 headers and libraries")

# clang's own GCC detection does not find the posix-thread MinGW-w64 GCC
# (Debian names its directory after version and thread model), so that GCC
# is asked where its libraries are.
execute_process(COMMAND ${quill_triple}-g++-posix -print-libgcc-file-name
                OUTPUT_VARIABLE quill_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE
                RESULT_VARIABLE quill_gcc_result ERROR_QUIET)
set(quill_gcc_dir "")
if(quill_gcc_result EQUAL 0 AND quill_libgcc)
  get_filename_component(quill_gcc_dir ${quill_libgcc} DIRECTORY)
endif()
if(NOT quill_gcc_dir OR NOT EXISTS ${quill_gcc_dir}/include/c++)
  message(FATAL_ERROR "no posix-thread MinGW-w64 GCC for ${quill_triple} (${quill_triple}-g++-posix) with its C++ headers")
endif()
set(QUILL_GCC_DIR ${quill_gcc_dir} CACHE PATH "GCC cross toolchain whose libstdc++ clang uses")

set(CMAKE_C_COMPILER   clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET   ${QUILL_CLANG_TARGET})
set(CMAKE_CXX_COMPILER_TARGET ${QUILL_CLANG_TARGET})
set(CMAKE_RC_COMPILER  ${quill_triple}-windres)
set(CMAKE_SYSROOT ${QUILL_MINGW_ROOT})

# With the MinGW root as sysroot clang looks for C++ headers only where this
# toolchain has none, so these are the only ones it sees; they stand before
# the C headers, which libstdc++'s wrappers reach with #include_next.
set(quill_cxx ${QUILL_GCC_DIR}/include/c++)
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${quill_cxx} ${quill_cxx}/${quill_triple} ${quill_cxx}/backward)
# libstdc++, libgcc and libgcc_eh come from the GCC directory; the posix
# flavour's thread support (emutls, std::thread) needs winpthread, which
# GCC's driver adds by itself and clang's does not. lld resolves archives
# in any order, so the libraries may stand among the flags.
set(quill_link "-fuse-ld=lld -L${QUILL_GCC_DIR} -lpthread")
set(CMAKE_EXE_LINKER_FLAGS_INIT    ${quill_link})
set(CMAKE_SHARED_LINKER_FLAGS_INIT ${quill_link})
set(CMAKE_MODULE_LINKER_FLAGS_INIT ${quill_link})

set(CMAKE_FIND_ROOT_PATH ${QUILL_MINGW_ROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

include(${CMAKE_CURRENT_LIST_DIR}/wine-emulator.cmake)
