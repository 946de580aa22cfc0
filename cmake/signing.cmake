# Authenticode signatures of the Windows executables, made with osslsigncode right after the link
# (and after the debug information has moved out: any later change would break the signature).
# The password is read from a file, never taken from a command line that others could see.
set(QN_SIGN_PKCS12 "" CACHE FILEPATH "Certificate with its key (.p12/.pfx) to sign the Windows executables with (empty: unsigned)")
set(QN_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of QN_SIGN_PKCS12")
set(QN_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signatures (empty: none)")

# Signs TARGET after each link; unnamed values come from the QN_SIGN_* options, and nothing is
# signed without a certificate. A failed signature fails the build and leaves no executable.
function(qn_sign_executable target)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "PKCS12;PASSWORD_FILE;TIMESTAMP_URL;DESCRIPTION" "")
  foreach(field PKCS12 PASSWORD_FILE TIMESTAMP_URL)
    if(NOT DEFINED arg_${field})
      set(arg_${field} "${QN_SIGN_${field}}")
      set(from_cache_${field} TRUE)
    endif()
  endforeach()
  if(arg_PKCS12 STREQUAL "")
    return()
  endif()
  # A certificate the build makes itself (the tests' own) exists only later.
  if(from_cache_PKCS12 AND NOT EXISTS "${arg_PKCS12}")
    message(FATAL_ERROR "QN_SIGN_PKCS12: no certificate file at ${arg_PKCS12}")
  endif()
  if(arg_PASSWORD_FILE STREQUAL "")
    message(FATAL_ERROR "QN_SIGN_PKCS12 is set: QN_SIGN_PASSWORD_FILE must name the file holding its password")
  endif()
  find_program(QN_OSSLSIGNCODE osslsigncode)
  if(NOT QN_OSSLSIGNCODE)
    message(FATAL_ERROR "QN_SIGN_PKCS12 is set but osslsigncode is missing (scripts/setup release installs it)")
  endif()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND "${CMAKE_COMMAND}" "-DOSSLSIGNCODE=${QN_OSSLSIGNCODE}" "-DFILE=$<TARGET_FILE:${target}>"
            "-DPKCS12=${arg_PKCS12}" "-DPASSWORD_FILE=${arg_PASSWORD_FILE}"
            "-DTIMESTAMP_URL=${arg_TIMESTAMP_URL}" "-DDESCRIPTION=${arg_DESCRIPTION}"
            -P "${CMAKE_SOURCE_DIR}/cmake/sign_file.cmake"
    COMMENT "Signing ${target}"
    VERBATIM)
endfunction()
