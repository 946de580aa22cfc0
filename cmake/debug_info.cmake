# The executables a vendor ships carry no debug information: after the link it moves to
# <executable>.debug beside it, which the executable names (.gnu_debuglink) so that a debugger
# given both finds the symbols again. On by default for the Windows builds, whose statically linked
# C and C++ run-times bring most of it.
if(WIN32)
  set(_qn_split_default ON)
else()
  set(_qn_split_default OFF)
endif()
option(QN_SEPARATE_DEBUG_INFO "Move the executable's debug information to <executable>.debug after the link"
       ${_qn_split_default})

function(qn_separate_debug_info target)
  if(NOT QN_SEPARATE_DEBUG_INFO)
    return()
  endif()
  if(NOT CMAKE_OBJCOPY OR NOT CMAKE_STRIP)
    message(FATAL_ERROR "QN_SEPARATE_DEBUG_INFO needs objcopy and strip of the target's binutils")
  endif()
  set(file "$<TARGET_FILE:${target}>")
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "${file}" "${file}.debug"
    COMMAND "${CMAKE_STRIP}" --strip-all "${file}"
    COMMAND "${CMAKE_OBJCOPY}" "--add-gnu-debuglink=${file}.debug" "${file}"
    WORKING_DIRECTORY "$<TARGET_FILE_DIR:${target}>"
    COMMENT "Moving the debug information of ${target} to its .debug file"
    VERBATIM)
endfunction()
