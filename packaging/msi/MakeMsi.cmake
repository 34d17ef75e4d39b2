# Makes Tarnwick's MSI from Tarnwick.wxs with wixl, the same bytes from the same
# inputs, and signs it when signing is set up. Run by cpack (CPackMsi.cmake) and,
# for other versions of the same program, by the tests:
#   cmake -D EXE=... -D ICON=... -D VERSION=1.1.0 -D EPOCH=<seconds> -D WORK=<folder>
#         -D OUTPUT=<file.msi> [-D SIGN_SCRIPT=... -D SIGN_CONF=...] -P MakeMsi.cmake
#
# wixl writes the clock's time into the summary information and draws a random
# package code. So wixl runs under faketime at EPOCH (the commit's date), the
# product code is a name-based UUID of the version, and the package code one of
# the package's own bytes: two packages share a package code only when they are
# the same package, as Windows Installer expects.

# Runs a command in the work folder (the caller's _work); fails with its output.
function(_tarnwick_msi_run what)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY "${_work}"
    RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "MSI: ${what} failed (${code}):\n${out}")
  endif()
endfunction()

function(tarnwick_make_msi)
  cmake_parse_arguments(PARSE_ARGV 0 A "" "EXE;ICON;VERSION;EPOCH;WORK;OUTPUT;SIGN_SCRIPT;SIGN_CONF" "")
  foreach(need EXE ICON VERSION EPOCH WORK OUTPUT)
    if(NOT A_${need})
      message(FATAL_ERROR "MSI: ${need} is not set")
    endif()
  endforeach()
  if(NOT A_VERSION MATCHES "^[0-9]+\\.[0-9]+\\.[0-9]+$")
    message(FATAL_ERROR "MSI: the version '${A_VERSION}' is not major.minor.patch")
  endif()
  foreach(tool wixl msibuild faketime)
    find_program(_tarnwick_${tool} ${tool})
    if(NOT _tarnwick_${tool})
      message(FATAL_ERROR "MSI: ${tool} is missing (scripts/bootstrap.sh installs it)")
    endif()
  endforeach()

  set(source "${CMAKE_CURRENT_FUNCTION_LIST_DIR}/Tarnwick.wxs")
  file(READ "${source}" wxs)
  if(NOT wxs MATCHES "UpgradeCode=\"([0-9A-F-]+)\"")
    message(FATAL_ERROR "MSI: no UpgradeCode in ${source}")
  endif()
  set(upgrade_code "${CMAKE_MATCH_1}")

  # wixl takes its files by names relative to the source, and the cabinet keeps
  # their modification times: copies beside the source, all at EPOCH.
  set(_work "${A_WORK}")
  file(REMOVE_RECURSE "${_work}")
  file(MAKE_DIRECTORY "${_work}")
  file(COPY_FILE "${source}" "${_work}/Tarnwick.wxs")
  file(COPY_FILE "${A_EXE}" "${_work}/Tarnwick.exe")
  file(COPY_FILE "${A_ICON}" "${_work}/Tarnwick.ico")
  _tarnwick_msi_run("touch" touch -d "@${A_EPOCH}" Tarnwick.wxs Tarnwick.exe Tarnwick.ico)

  string(UUID product_code NAMESPACE "${upgrade_code}" NAME "ProductCode ${A_VERSION}" TYPE SHA1 UPPER)
  # A fixed clock (no leading @: it stands still) at EPOCH, in UTC.
  execute_process(COMMAND date -u -d "@${A_EPOCH}" "+%Y-%m-%d %H:%M:%S"
    OUTPUT_VARIABLE when OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  set(at_epoch ${CMAKE_COMMAND} -E env TZ=UTC ${_tarnwick_faketime} -f "${when}")
  set(msi "${_work}/Tarnwick.msi")
  _tarnwick_msi_run("wixl" ${at_epoch} ${_tarnwick_wixl} --arch x64
    -D "Version=${A_VERSION}" -D "ProductCode={${product_code}}" -o "${msi}" Tarnwick.wxs)

  # The package code: first a fixed one, then one made from the bytes that holds.
  # msibuild -s takes subject, author, template (platform;language, one argument:
  # quoted here, never passed through a list) and package code.
  foreach(code IN ITEMS "00000000-0000-0000-0000-000000000000" derived)
    if(code STREQUAL "derived")
      file(SHA256 "${msi}" content)
      string(UUID code NAMESPACE "${upgrade_code}" NAME "PackageCode ${content}" TYPE SHA1 UPPER)
    endif()
    execute_process(COMMAND ${at_epoch} ${_tarnwick_msibuild} "${msi}" -s "Tarnwick ${A_VERSION}" Morvane
      "x64;1033" "{${code}}"
      WORKING_DIRECTORY "${_work}" RESULT_VARIABLE failed OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(failed)
      message(FATAL_ERROR "MSI: msibuild -s failed (${failed}):\n${out}")
    endif()
  endforeach()

  if(A_SIGN_SCRIPT)
    _tarnwick_msi_run("signing" "${A_SIGN_SCRIPT}" "${A_SIGN_CONF}" "${msi}")
  endif()
  # Complete or not at all.
  file(COPY_FILE "${msi}" "${A_OUTPUT}.part")
  file(RENAME "${A_OUTPUT}.part" "${A_OUTPUT}")
endfunction()

if(CMAKE_SCRIPT_MODE_FILE STREQUAL CMAKE_CURRENT_LIST_FILE)
  tarnwick_make_msi(EXE "${EXE}" ICON "${ICON}" VERSION "${VERSION}" EPOCH "${EPOCH}" WORK "${WORK}"
    OUTPUT "${OUTPUT}" SIGN_SCRIPT "${SIGN_SCRIPT}" SIGN_CONF "${SIGN_CONF}")
endif()
