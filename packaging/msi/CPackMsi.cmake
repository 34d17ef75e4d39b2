# cpack's External generator runs this once the program is staged: the MSI is
# made from the staged Tarnwick.exe and written beside the other packages
# (PackagingPerGenerator.cmake sends the generator's own output elsewhere).
include(${CMAKE_CURRENT_LIST_DIR}/MakeMsi.cmake)

execute_process(
  COMMAND ${CPACK_TARNWICK_SOURCE_DIR}/cmake/source-date-epoch.sh ${CPACK_TARNWICK_SOURCE_DIR}
  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
set(msi "${CPACK_TARNWICK_MSI_DIRECTORY}/${CPACK_PACKAGE_FILE_NAME}.msi")
tarnwick_make_msi(
  EXE "${CPACK_TEMPORARY_DIRECTORY}/Tarnwick.exe"
  ICON "${CPACK_TARNWICK_ICON}"
  VERSION "${CPACK_PACKAGE_VERSION}"
  EPOCH "${epoch}"
  WORK "${CPACK_TOPLEVEL_DIRECTORY}/wixl"
  OUTPUT "${msi}"
  SIGN_SCRIPT "${CPACK_TARNWICK_SIGN_SCRIPT}"
  SIGN_CONF "${CPACK_TARNWICK_SIGN_CONF}")
message(STATUS "package: ${msi} generated.")
