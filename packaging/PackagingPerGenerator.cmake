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
endif()
