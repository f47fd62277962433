# Which Wine runs the executables of this build on Linux. Only 64-bit Wine
# exists on the build machines (they run no 32-bit Linux program), so only
# the x86_64 builds get an emulator: the i686 builds are compiled, not run.
# The `wine` script is not used even where it is installed, because it
# chooses the 32-bit loader whenever that is present.
if(QUILL_ARCH STREQUAL "x86_64")
  find_program(WINE_PROGRAM NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(WINE_PROGRAM NAMES wine64)
  if(WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
  endif()
endif()
