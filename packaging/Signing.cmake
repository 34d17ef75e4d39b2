# Optional code signing of the release: set both
#   TW_SIGN_PKCS12         a PKCS#12 file with the code-signing certificate and its key
#   TW_SIGN_PASSWORD_FILE  a file holding its password (its first line)
# and, for an RFC 3161 time stamp, TW_SIGN_TIMESTAMP_URL. Then Tarnwick.exe is
# signed right after it is linked (so every package carries the signed exe),
# and the installer, the uninstaller inside it and the MSI as they are made.
# Unset, nothing is signed and nothing else changes.
set(TW_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file to sign the release with (empty: no signing)")
set(TW_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of TW_SIGN_PKCS12")
set(TW_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for signing (empty: no time stamp)")

set(TW_SIGN_SCRIPT "")
set(TW_SIGN_CONF "")
if(TW_SIGN_PKCS12 OR TW_SIGN_PASSWORD_FILE)
  if(NOT TW_SIGN_PKCS12 OR NOT TW_SIGN_PASSWORD_FILE)
    message(FATAL_ERROR "Signing needs both TW_SIGN_PKCS12 and TW_SIGN_PASSWORD_FILE")
  endif()
  foreach(file IN ITEMS "${TW_SIGN_PKCS12}" "${TW_SIGN_PASSWORD_FILE}")
    if(NOT IS_ABSOLUTE "${file}" OR NOT EXISTS "${file}")
      message(FATAL_ERROR "Signing: ${file} is no existing file given by its full path")
    endif()
  endforeach()
  find_program(TW_OSSLSIGNCODE osslsigncode)
  if(NOT TW_OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (scripts/bootstrap.sh installs it)")
  endif()
  set(TW_SIGN_SCRIPT "${CMAKE_SOURCE_DIR}/packaging/sign.sh")
  set(TW_SIGN_CONF "${CMAKE_BINARY_DIR}/packaging/sign.conf")
  file(CONFIGURE OUTPUT "${TW_SIGN_CONF}" CONTENT [[
osslsigncode=${TW_OSSLSIGNCODE}
pkcs12=${TW_SIGN_PKCS12}
password_file=${TW_SIGN_PASSWORD_FILE}
timestamp_url=${TW_SIGN_TIMESTAMP_URL}
]])
  message(STATUS "Signing with ${TW_SIGN_PKCS12}")
endif()

# Signs TARGET's file in place as the last step of its link, when signing is set up.
function(tarnwick_sign_after_link target)
  if(TW_SIGN_SCRIPT)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND "${TW_SIGN_SCRIPT}" "${TW_SIGN_CONF}" "$<TARGET_FILE:${target}>"
      COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
      VERBATIM)
  endif()
endfunction()
