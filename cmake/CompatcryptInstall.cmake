# Installation: headers, the shared library with its SONAME links, the C++
# library (with the internal archive its streaming classes build on), a
# CMake package (compatcrypt::compatcrypt, compatcrypt::cxx), pkg-config
# files and a Debian package through CPack.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(COMPATCRYPT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/compatcrypt)

install(TARGETS compatcrypt EXPORT compatcryptTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/compatcrypt.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

if(TARGET compatcrypt_cxx)
  set_target_properties(compatcrypt_cxx PROPERTIES EXPORT_NAME cxx)
  set_target_properties(compatcrypt_core PROPERTIES EXPORT_NAME core)
  install(TARGETS compatcrypt_cxx compatcrypt_core EXPORT compatcryptTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
  install(FILES ${PROJECT_SOURCE_DIR}/include/compatcrypt.hpp DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
endif()

install(EXPORT compatcryptTargets NAMESPACE compatcrypt:: DESTINATION ${COMPATCRYPT_CMAKE_DIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/compatcryptConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/compatcryptConfig.cmake INSTALL_DESTINATION ${COMPATCRYPT_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/compatcryptConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/compatcryptConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/compatcryptConfigVersion.cmake DESTINATION ${COMPATCRYPT_CMAKE_DIR})

foreach(pc compatcrypt compatcrypt-cxx)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()

set(CPACK_PACKAGE_NAME compatcrypt)
set(CPACK_PACKAGE_VENDOR "compatcrypt developers")
set(CPACK_PACKAGE_CONTACT "compatcrypt developers <dev@compatcrypt.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_STRIP_FILES ON)
include(CPack)
