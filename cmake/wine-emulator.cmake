# Which Wine runs the executables of this build on Linux. Only 64-bit Wine
# exists on the build machines (they run no 32-bit Linux program), so only
# the x86_64 builds get an emulator: the i686 builds are compiled, not run.
# The `wine` script is not used even where it is installed, because it
# chooses the 32-bit loader whenever that is present.
# build.sh finds the loader of the installed wine64 package and names it in
# QUILL_WINE; without it, wine64 is looked for where Debian puts it, then on
# the PATH.
if(QUILL_ARCH STREQUAL "x86_64")
  if(DEFINED ENV{QUILL_WINE} AND EXISTS "$ENV{QUILL_WINE}")
    set(WINE_PROGRAM "$ENV{QUILL_WINE}" CACHE FILEPATH "64-bit Wine loader" FORCE)
  endif()
  find_program(WINE_PROGRAM NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(WINE_PROGRAM NAMES wine64)
  if(WINE_PROGRAM)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE_PROGRAM})
  endif()
endif()
