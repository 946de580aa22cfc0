# The icon and version information of the Windows executable. A vendor sets the cache options at
# configure time (cmake --preset win64 -DQN_PRODUCT_NAME=...); no resource editor is needed.

set(QN_ICON "${CMAKE_SOURCE_DIR}/res/launcher.ico" CACHE FILEPATH "Icon of the executable (.ico file)")
set(QN_PRODUCT_NAME "QN Launcher" CACHE STRING "ProductName of the version information")
set(QN_FILE_DESCRIPTION "" CACHE STRING "FileDescription (empty: the product name)")
set(QN_COMPANY_NAME "" CACHE STRING "CompanyName of the version information")
set(QN_FILE_VERSION "" CACHE STRING "File version: one to four numbers 0-65535, e.g. 2.1.0 (empty: the launcher's version)")
set(QN_PRODUCT_VERSION "" CACHE STRING "Product version, same form (empty: the file version)")
set(QN_COPYRIGHT "" CACHE STRING "LegalCopyright of the version information")
set(QN_ORIGINAL_FILENAME "qnlauncher.exe" CACHE STRING "OriginalFilename of the version information")

# "1.2" -> "1,2,0,0" for the numeric fields; anything else stops the configure with the reason.
function(_qn_version_numbers text option out)
  if(NOT text MATCHES "^[0-9]+(\\.[0-9]+)?(\\.[0-9]+)?(\\.[0-9]+)?$")
    message(FATAL_ERROR "${option}=\"${text}\": expected one to four numbers separated by dots, e.g. 2.1.0")
  endif()
  string(REPLACE "." ";" parts "${text}")
  foreach(part IN LISTS parts)
    string(LENGTH "${part}" digits)
    if(digits GREATER 5 OR part GREATER 65535)
      message(FATAL_ERROR "${option}=\"${text}\": each number must be at most 65535")
    endif()
  endforeach()
  list(LENGTH parts count)
  while(count LESS 4)
    list(APPEND parts 0)
    math(EXPR count "${count} + 1")
  endwhile()
  # Leading zeros would make the resource compiler read octal.
  set(numbers "")
  foreach(part IN LISTS parts)
    math(EXPR part "${part} + 0")
    list(APPEND numbers ${part})
  endforeach()
  string(REPLACE ";" "," numbers "${numbers}")
  set(${out} "${numbers}" PARENT_SCOPE)
endfunction()

# A text as a resource-script string literal: backslashes doubled, quotes written twice.
function(_qn_rc_string text out)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# Gives TARGET the launcher's resources (string table, dialogs, manifest) with the named icon and
# version information. Unnamed values come from the QN_* cache options above.
function(qn_brand_executable target)
  set(fields ICON PRODUCT_NAME FILE_DESCRIPTION COMPANY_NAME FILE_VERSION PRODUCT_VERSION COPYRIGHT
             ORIGINAL_FILENAME)
  cmake_parse_arguments(PARSE_ARGV 1 arg "" "${fields}" "")
  foreach(field IN LISTS fields)
    if(NOT DEFINED arg_${field})
      set(arg_${field} "${QN_${field}}")
    endif()
  endforeach()
  if(arg_FILE_DESCRIPTION STREQUAL "")
    set(arg_FILE_DESCRIPTION "${arg_PRODUCT_NAME}")
  endif()
  # Taken at each configure, so a new launcher version never meets a stale cached one.
  if(arg_FILE_VERSION STREQUAL "")
    set(arg_FILE_VERSION "${PROJECT_VERSION}")
  endif()
  if(arg_PRODUCT_VERSION STREQUAL "")
    set(arg_PRODUCT_VERSION "${arg_FILE_VERSION}")
  endif()

  get_filename_component(icon "${arg_ICON}" ABSOLUTE BASE_DIR "${CMAKE_SOURCE_DIR}")
  if(NOT EXISTS "${icon}" OR IS_DIRECTORY "${icon}")
    message(FATAL_ERROR "QN_ICON: no icon file at ${icon}")
  endif()
  file(READ "${icon}" icon_header LIMIT 4 HEX)
  if(NOT icon_header STREQUAL "00000100")
    message(FATAL_ERROR "QN_ICON: ${icon} is not a Windows icon (.ico) file")
  endif()

  _qn_version_numbers("${arg_FILE_VERSION}" QN_FILE_VERSION QN_BRAND_FILE_VERSION_NUMBERS)
  _qn_version_numbers("${arg_PRODUCT_VERSION}" QN_PRODUCT_VERSION QN_BRAND_PRODUCT_VERSION_NUMBERS)
  _qn_rc_string("${icon}" QN_BRAND_ICON)
  foreach(field PRODUCT_NAME FILE_DESCRIPTION COMPANY_NAME FILE_VERSION PRODUCT_VERSION COPYRIGHT
                ORIGINAL_FILENAME)
    _qn_rc_string("${arg_${field}}" QN_BRAND_${field})
  endforeach()
  get_filename_component(internal_name "${arg_ORIGINAL_FILENAME}" NAME_WE)
  _qn_rc_string("${internal_name}" QN_BRAND_INTERNAL_NAME)

  set(folder "${CMAKE_CURRENT_BINARY_DIR}/branding/${target}")
  configure_file("${CMAKE_SOURCE_DIR}/res/branding.h.in" "${folder}/branding.h" @ONLY)
  set(script "${CMAKE_SOURCE_DIR}/res/launcher.rc")
  target_sources(${target} PRIVATE "${script}")
  target_include_directories(${target} PRIVATE "${folder}")
  # The resource compiler writes no dependency file, so nothing it includes would be noticed: every
  # file of res/ is named instead, and a changed text, dialog or icon rebuilds the resources.
  file(GLOB inputs CONFIGURE_DEPENDS "${CMAKE_SOURCE_DIR}/res/*")
  list(REMOVE_ITEM inputs "${script}")
  set_property(SOURCE "${script}" APPEND PROPERTY OBJECT_DEPENDS ${inputs} "${folder}/branding.h" "${icon}")
endfunction()
