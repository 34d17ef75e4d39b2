# Release packages, made with cpack (or the "package" target) in the build folder:
#   Tarnwick-<version>-win64-setup.exe     per-user installer (makensis from Debian's nsis, through nsis/makensis.sh)
#   Tarnwick-<version>-win64-portable.zip  Tarnwick.exe and README.txt
#   Tarnwick-<version>-win64.msi           per-machine Windows Installer package (wixl, msi/)
# Only the program ships. Its files belong to components of their own, and
# each package installs exactly the components it names (PackagingPerGenerator.cmake),
# so nothing else built here (the simulated service, tests, tools) can slip in.

install(TARGETS Tarnwick RUNTIME DESTINATION . COMPONENT Program)

# Windows users open the readme in Notepad: CRLF line ends.
configure_file(${CMAKE_CURRENT_LIST_DIR}/README.txt.in ${CMAKE_CURRENT_BINARY_DIR}/packaging/README.txt
  @ONLY NEWLINE_STYLE CRLF)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/packaging/README.txt DESTINATION . COMPONENT PortableReadme)

set(CPACK_PACKAGE_NAME Tarnwick)
set(CPACK_PACKAGE_VENDOR Morvane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Tarnwick VPN tray")
set(CPACK_SYSTEM_NAME win64)
set(CPACK_GENERATOR NSIS ZIP External)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_LIST_DIR}/PackagingPerGenerator.cmake)
# Read by PackagingPerGenerator.cmake and the installer script.
set(CPACK_TARNWICK_BUILD_DIR ${CMAKE_BINARY_DIR})
set(CPACK_TARNWICK_ICON ${PROJECT_SOURCE_DIR}/resources/Tarnwick.ico)
# Packages of one commit are identical byte for byte: fixed file times and order.
set(CPACK_TARNWICK_SOURCE_DIR ${PROJECT_SOURCE_DIR})
set(CPACK_TARNWICK_PYTHON /usr/bin/python3)
# Empty unless signing is set up (Signing.cmake).
set(CPACK_TARNWICK_SIGN_SCRIPT "${TW_SIGN_SCRIPT}")
set(CPACK_TARNWICK_SIGN_CONF "${TW_SIGN_CONF}")
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PreBuild.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PostBuild.cmake)
# makensis, whatever the builder's locale.
set(CPACK_NSIS_EXECUTABLE ${CMAKE_CURRENT_LIST_DIR}/nsis/makensis.sh)
# cpack looks up NSIS.template.in along this path: ours comes first.
list(PREPEND CMAKE_MODULE_PATH ${CMAKE_CURRENT_LIST_DIR}/nsis)

# Keeps "package_source" (which include(CPack) adds too) from packing build folders and git's.
set(CPACK_SOURCE_IGNORE_FILES "/[.]git/" "/build[^/]*/")

include(CPack)
