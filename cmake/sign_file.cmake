# Signs one executable in place with osslsigncode; on failure removes it and fails.
# cmake -DOSSLSIGNCODE=... -DFILE=... -DPKCS12=... -DPASSWORD_FILE=... [-DTIMESTAMP_URL=...]
#       [-DDESCRIPTION=...] -P sign_file.cmake
foreach(name OSSLSIGNCODE FILE PKCS12 PASSWORD_FILE)
  if(NOT DEFINED ${name} OR "${${name}}" STREQUAL "")
    message(FATAL_ERROR "sign_file.cmake: ${name} is not given")
  endif()
endforeach()
# An unsigned executable left behind would pass for a signed one.
macro(fail text)
  file(REMOVE "${FILE}.signing" "${FILE}")
  message(FATAL_ERROR "${text}")
endmacro()

foreach(name PKCS12 PASSWORD_FILE)
  if(NOT EXISTS "${${name}}" OR IS_DIRECTORY "${${name}}")
    fail("signing ${FILE}: no file at ${${name}} (QN_SIGN_${name})")
  endif()
endforeach()

set(arguments sign -pkcs12 "${PKCS12}" -readpass "${PASSWORD_FILE}" -h sha256)
if(DEFINED DESCRIPTION AND NOT DESCRIPTION STREQUAL "")
  list(APPEND arguments -n "${DESCRIPTION}")
endif()
if(DEFINED TIMESTAMP_URL AND NOT TIMESTAMP_URL STREQUAL "")
  list(APPEND arguments -ts "${TIMESTAMP_URL}")
endif()
set(signed "${FILE}.signing")
file(REMOVE "${signed}")
execute_process(COMMAND "${OSSLSIGNCODE}" ${arguments} -in "${FILE}" -out "${signed}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT EXISTS "${signed}")
  fail("signing ${FILE} failed (${result}):\n${output}")
endif()
file(RENAME "${signed}" "${FILE}")
