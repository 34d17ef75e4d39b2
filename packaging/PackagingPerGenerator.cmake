# Read by cpack once per generator (CPACK_GENERATOR is then the current one):
# each package's own name and the components it carries.
set(_tarnwick_base "${CPACK_PACKAGE_NAME}-${CPACK_PACKAGE_VERSION}-${CPACK_SYSTEM_NAME}")

if(CPACK_GENERATOR STREQUAL "NSIS")
  set(CPACK_PACKAGE_FILE_NAME "${_tarnwick_base}-setup")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_TARNWICK_BUILD_DIR};Tarnwick;Program;/")
elseif(CPACK_GENERATOR STREQUAL "ZIP")
  set(CPACK_PACKAGE_FILE_NAME "${_tarnwick_base}-portable")
  set(CPACK_INSTALL_CMAKE_PROJECTS
    "${CPACK_TARNWICK_BUILD_DIR};Tarnwick;Program;/"
    "${CPACK_TARNWICK_BUILD_DIR};Tarnwick;PortableReadme;/")
  # The two files at the top of the archive, not inside a folder.
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
elseif(CPACK_GENERATOR STREQUAL "External")
  # The MSI: wixl run on the staged program by msi/CPackMsi.cmake, which puts it
  # beside the other packages. What this generator itself hands out is a JSON
  # description of the components, of no use to anyone here: it goes to cpack's
  # own work folder instead.
  set(CPACK_PACKAGE_FILE_NAME "${_tarnwick_base}")
  set(CPACK_INSTALL_CMAKE_PROJECTS "${CPACK_TARNWICK_BUILD_DIR};Tarnwick;Program;/")
  set(CPACK_EXTERNAL_ENABLE_STAGING ON)
  set(CPACK_EXTERNAL_PACKAGE_SCRIPT "${CPACK_TARNWICK_SOURCE_DIR}/packaging/msi/CPackMsi.cmake")
  set(CPACK_TARNWICK_MSI_DIRECTORY "${CPACK_PACKAGE_DIRECTORY}")
  set(CPACK_OUTPUT_FILE_PREFIX "${CPACK_PACKAGE_DIRECTORY}/_CPack_Packages/External")
endif()
