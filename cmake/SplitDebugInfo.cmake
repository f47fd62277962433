# quill_split_debug_info(<target> DESTINATION <dir> [ALL])
#
# Writes <dir>/<name>.exe, a copy of the target without symbols or debug
# information, and <dir>/<name>.exe.debug, the debug information alone; the
# copy names the debug file in a .gnu_debuglink section. Windows' DbgHelp
# cannot read the DWARF of a GCC build anyway, so what ships stays small and
# the debug file turns report addresses back into names (tools/symbolize.py).
# The target's own output is left as it is. The work is done by the target
# <target>_split, built by default with ALL. Without objcopy (an MSVC build,
# whose debug information is a PDB already) nothing is added.
function(quill_split_debug_info target)
  cmake_parse_arguments(PARSE_ARGV 1 SPLIT "ALL" "DESTINATION" "")
  if(NOT CMAKE_OBJCOPY OR NOT SPLIT_DESTINATION)
    return()
  endif()
  get_target_property(output_name ${target} OUTPUT_NAME)
  if(NOT output_name)
    set(output_name ${target})
  endif()
  set(name ${output_name}${CMAKE_EXECUTABLE_SUFFIX})
  set(stripped ${SPLIT_DESTINATION}/${name})
  set(debug ${stripped}.debug)
  # The debug link records the debug file's bare name and checksum.
  file(MAKE_DIRECTORY ${SPLIT_DESTINATION})
  add_custom_command(
    OUTPUT ${stripped} ${debug}
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE:${target}> ${debug}
    COMMAND ${CMAKE_OBJCOPY} --strip-all --add-gnu-debuglink=${debug}
            $<TARGET_FILE:${target}> ${stripped}
    DEPENDS ${target} $<TARGET_FILE:${target}>
    COMMENT "Splitting the debug information off ${name}"
    VERBATIM)
  if(SPLIT_ALL)
    add_custom_target(${target}_split ALL DEPENDS ${stripped} ${debug})
  else()
    add_custom_target(${target}_split DEPENDS ${stripped} ${debug})
  endif()
endfunction()
