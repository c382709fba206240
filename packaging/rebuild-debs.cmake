# Run by cpack after each generator (CPACK_POST_BUILD_SCRIPTS), with the
# packages it made in CPACK_PACKAGE_FILES: the Debian ones are rebuilt so
# that the same commit always gives the same bytes (rebuild-deb.sh).
if(CPACK_GENERATOR STREQUAL "DEB" AND CPACK_PACKAGE_FILES)
  execute_process(COMMAND sh ${CMAKE_CURRENT_LIST_DIR}/rebuild-deb.sh ${CPACK_COMPATCRYPT_SOURCE_DIR}
                          ${CPACK_PACKAGE_FILES}
                  RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "compatcrypt: rebuilding the Debian packages reproducibly failed (${result})")
  endif()
endif()
