# The download page the missing-runtime dialog and message point to. On Windows it is a resource
# of each branded executable (cmake/branding.cmake); the Linux message takes it from a header
# written here.
set(QN_DOWNLOAD_URL "https://adoptium.net/" CACHE STRING "Download page of the missing-runtime dialog and message")

# Stops the configure unless TEXT is an http or https address of printable ASCII without quotes,
# backslashes or spaces: it is a resource text, a C string and the browser's argument at once.
function(qn_check_download_url text option)
  string(FIND "${text}" "\\" backslash)
  if(NOT text MATCHES "^https?://[!#-~]+$" OR NOT backslash EQUAL -1)
    message(FATAL_ERROR "${option}=\"${text}\": expected an http:// or https:// address of "
                        "printable ASCII without spaces, quotes or backslashes (percent-encode the rest)")
  endif()
endfunction()

qn_check_download_url("${QN_DOWNLOAD_URL}" QN_DOWNLOAD_URL)
set(QN_GENERATED_INCLUDE_DIR "${CMAKE_BINARY_DIR}/generated")
file(CONFIGURE OUTPUT "${QN_GENERATED_INCLUDE_DIR}/res/download_link.h" CONTENT
"/* The download page the missing-runtime message points to (QN_DOWNLOAD_URL). */
#ifndef QN_DOWNLOAD_LINK_H
#define QN_DOWNLOAD_LINK_H

#define QN_DOWNLOAD_LINK \"@QN_DOWNLOAD_URL@\"

#endif
" @ONLY)
