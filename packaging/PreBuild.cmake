# Run by cpack once the files are staged, before it packs them. The installer
# keeps each file's modification time and the zip records it: every staged
# file gets the build's fixed time (the commit's, cmake/source-date-epoch.sh)
# in place of the moment it was built, so two builds of one commit pack the same.
execute_process(
  COMMAND ${CPACK_TARNWICK_SOURCE_DIR}/cmake/source-date-epoch.sh ${CPACK_TARNWICK_SOURCE_DIR}
  OUTPUT_VARIABLE epoch OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
file(GLOB_RECURSE staged LIST_DIRECTORIES true "${CPACK_TEMPORARY_INSTALL_DIRECTORY}/*")
if(staged)
  execute_process(COMMAND touch -h -d @${epoch} ${staged} COMMAND_ERROR_IS_FATAL ANY)
endif()
