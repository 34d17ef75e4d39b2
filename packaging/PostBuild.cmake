# Run by cpack after it has made a package, before it copies it out. The zip
# writer also stores each file's change and access times and its owner, which
# no build can fix: the zip is written again with the fixed time alone
# (normalize_zip.py). The installer needs nothing more.
if(CPACK_GENERATOR STREQUAL "ZIP")
  execute_process(
    COMMAND ${CPACK_TARNWICK_SOURCE_DIR}/cmake/source-date-epoch.sh ${CPACK_TARNWICK_SOURCE_DIR}
    OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
  foreach(package IN LISTS CPACK_PACKAGE_FILES)
    execute_process(
      COMMAND ${CPACK_TARNWICK_PYTHON} ${CMAKE_CURRENT_LIST_DIR}/normalize_zip.py ${epoch} ${package}
      COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
endif()
