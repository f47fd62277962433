# The release as a user downloads it, in ${CMAKE_BINARY_DIR}/dist: the
# stripped program, the update archive that holds it, and SHA256SUMS for
# both. The update tests serve this very archive, so it is built with
# everything else; `./build.sh dist` only copies it out.

find_package(Python3 REQUIRED COMPONENTS Interpreter)
set(QUILL_DIST_DIR ${CMAKE_BINARY_DIR}/dist)

# A stripped copy of `target` in the dist folder, for as long as no other
# rule of the build makes one.
function(quill_stripped_copy target output)
  add_custom_command(
    OUTPUT ${output}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QUILL_DIST_DIR}
    COMMAND ${CMAKE_STRIP} --strip-all -o ${output} $<TARGET_FILE:${target}>
    DEPENDS ${target}
    COMMENT "Stripping ${target} for the release")
endfunction()

# The update archive `archive_name` holding `stripped_exe` under its own name,
# and the sums of both. `stripped_exe` is a file that another rule produces.
function(quill_update_archive stripped_exe archive_name)
  set(archive ${QUILL_DIST_DIR}/${archive_name})
  set(sums ${QUILL_DIST_DIR}/SHA256SUMS)
  add_custom_command(
    OUTPUT ${archive} ${sums}
    COMMAND Python3::Interpreter ${CMAKE_SOURCE_DIR}/tools/dist/make_update_archive.py
            --archive ${archive} --sums ${sums} ${stripped_exe}
    DEPENDS ${stripped_exe} ${CMAKE_SOURCE_DIR}/tools/dist/make_update_archive.py
    COMMENT "Packing the update archive ${archive_name}")
  add_custom_target(update_archive ALL DEPENDS ${archive} ${sums})
endfunction()
