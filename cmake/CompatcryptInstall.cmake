# Installation and packaging.
#
# Three install components:
#   Runtime      libcompatcrypt.so.1 and libcompatcrypt-cxx.so.1 (the real
#                files and their SONAME links; compatcrypt.dll on Windows)
#   Development  the headers, the linker names (libcompatcrypt.so,
#                libcompatcrypt-cxx.so), the CMake package and the
#                pkg-config files
#   Tool         the compatcrypt program and its manual page (cli/)
# and Documentation, the LICENSE, for a plain installation.
#
# The static core both libraries are built from belongs to none: it is
# not installed and not exported, and nothing installed names it.
#
# Every installed file that points at another one does so relative to
# itself (the CMake package through PACKAGE_PREFIX_DIR, the .pc files
# through ${pcfiledir}, the tool through $ORIGIN), so an installed tree
# works wherever it is copied or unpacked.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(COMPATCRYPT_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/compatcrypt)

set(_compatcrypt_libraries compatcrypt)
set(_compatcrypt_headers ${PROJECT_SOURCE_DIR}/include/compatcrypt.h)
if(TARGET compatcrypt_cxx)
  list(APPEND _compatcrypt_libraries compatcrypt_cxx)
  list(APPEND _compatcrypt_headers ${PROJECT_SOURCE_DIR}/include/compatcrypt.hpp ${PROJECT_SOURCE_DIR}/include/compatcrypt_bind.h)
endif()

install(TARGETS ${_compatcrypt_libraries} EXPORT compatcryptTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${_compatcrypt_headers} DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT Development)

# find_package(compatcrypt CONFIG): compatcrypt::compatcrypt and, where
# the C++ library is built, compatcrypt::cxx (the component "cxx").
install(EXPORT compatcryptTargets NAMESPACE compatcrypt:: DESTINATION ${COMPATCRYPT_CMAKE_DIR}
  COMPONENT Development)
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/compatcryptConfig.cmake.in
  ${PROJECT_BINARY_DIR}/compatcryptConfig.cmake INSTALL_DESTINATION ${COMPATCRYPT_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/compatcryptConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/compatcryptConfig.cmake ${PROJECT_BINARY_DIR}/compatcryptConfigVersion.cmake
  DESTINATION ${COMPATCRYPT_CMAKE_DIR} COMPONENT Development)

# pkg-config: the prefix is found from the .pc file's own directory, so
# that no --define-variable is needed wherever the tree is. Only a library
# directory given as an absolute path ties the files to the prefix.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}")
  set(COMPATCRYPT_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  set(COMPATCRYPT_PC_LIBDIR "${CMAKE_INSTALL_LIBDIR}")
else()
  # One ".." for each component of <libdir>/pkgconfig.
  file(RELATIVE_PATH _compatcrypt_pc_up "/prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/prefix")
  string(REGEX REPLACE "/$" "" _compatcrypt_pc_up "${_compatcrypt_pc_up}")
  set(COMPATCRYPT_PC_PREFIX "\${pcfiledir}/${_compatcrypt_pc_up}")
  set(COMPATCRYPT_PC_LIBDIR "\${prefix}/${CMAKE_INSTALL_LIBDIR}")
endif()
if(IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(COMPATCRYPT_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
else()
  set(COMPATCRYPT_PC_INCLUDEDIR "\${prefix}/${CMAKE_INSTALL_INCLUDEDIR}")
endif()
set(_compatcrypt_pc_files compatcrypt)
if(TARGET compatcrypt_cxx)
  list(APPEND _compatcrypt_pc_files compatcrypt-cxx compatcrypt-bind)
endif()
foreach(pc IN LISTS _compatcrypt_pc_files)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${pc}.pc.in ${PROJECT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
    COMPONENT Development)
endforeach()

install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Documentation)

if(NOT PROJECT_IS_TOP_LEVEL)
  return()
endif()

# Packages. `cpack -G DEB` in the build directory makes one Debian package
# per component: libcompatcrypt1 (Runtime), libcompatcrypt-dev (Development)
# and compatcrypt (Tool). Configure with -DCMAKE_INSTALL_PREFIX=/usr for the
# multiarch library directory (/usr/lib/<triplet>) Debian uses.
set(CPACK_PACKAGE_NAME compatcrypt)
set(CPACK_PACKAGE_VENDOR "compatcrypt developers")
set(CPACK_PACKAGE_CONTACT "compatcrypt developers <dev@compatcrypt.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(_compatcrypt_deb_release 1)
  set(_compatcrypt_deb_version ${PROJECT_VERSION}-${_compatcrypt_deb_release})
  set(_compatcrypt_runtime_package libcompatcrypt${PROJECT_VERSION_MAJOR})

  set(COMPATCRYPT_DEB_COMPONENTS Runtime Development)
  set(_compatcrypt_deb_packages ${_compatcrypt_runtime_package} libcompatcrypt-dev)
  if(TARGET compatcrypt_cli)
    list(APPEND COMPATCRYPT_DEB_COMPONENTS Tool)
    list(APPEND _compatcrypt_deb_packages compatcrypt)
  endif()
  if(TARGET compatcrypt_python AND NOT COMPATCRYPT_PYTHON_WHEEL)
    list(APPEND COMPATCRYPT_DEB_COMPONENTS PythonDebian)
    list(APPEND _compatcrypt_deb_packages python3-compatcrypt)
  endif()
  # The database extensions (sql/): postgresql-<major>-compatcrypt, in the
  # directories the server's pg_config names, and sqlite3-compatcrypt.
  if(TARGET compatcrypt_pg)
    execute_process(COMMAND ${COMPATCRYPT_PG_CONFIG} --version OUTPUT_VARIABLE _compatcrypt_pg_version)
    string(REGEX MATCH "[0-9]+" _compatcrypt_pg_major "${_compatcrypt_pg_version}")
    list(APPEND COMPATCRYPT_DEB_COMPONENTS PostgreSQL SQLite)
    list(APPEND _compatcrypt_deb_packages postgresql-${_compatcrypt_pg_major}-compatcrypt sqlite3-compatcrypt)
  endif()

  # What each Debian package carries besides its files: the copyright file
  # and the Debian changelog (compressed with -n, so that no name or time
  # of the build goes in) in usr/share/doc/<package>, and lintian's
  # overrides, each with its reason, where lintian reads them: those of
  # every package (packaging/lintian-overrides), then the package's own
  # (packaging/<package>/lintian-overrides). EXCLUDE_FROM_ALL: installed
  # when a component is asked for by name, as cpack does, and not by a
  # plain `cmake --install`.
  set(_compatcrypt_changelog_gz ${PROJECT_BINARY_DIR}/packaging/changelog.Debian.gz)
  add_custom_command(OUTPUT ${_compatcrypt_changelog_gz}
    COMMAND sh -c "gzip -9 -n -c \"$1\" > \"$2\"" sh ${PROJECT_SOURCE_DIR}/packaging/changelog ${_compatcrypt_changelog_gz}
    DEPENDS ${PROJECT_SOURCE_DIR}/packaging/changelog VERBATIM)
  add_custom_target(compatcrypt_deb_changelog ALL DEPENDS ${_compatcrypt_changelog_gz})
  foreach(component package IN ZIP_LISTS COMPATCRYPT_DEB_COMPONENTS _compatcrypt_deb_packages)
    install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${_compatcrypt_changelog_gz}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
    set(_compatcrypt_overrides ${PROJECT_SOURCE_DIR}/packaging/lintian-overrides)
    if(EXISTS ${PROJECT_SOURCE_DIR}/packaging/${package}/lintian-overrides)
      list(APPEND _compatcrypt_overrides ${PROJECT_SOURCE_DIR}/packaging/${package}/lintian-overrides)
    endif()
    set(_compatcrypt_text "")
    foreach(part IN LISTS _compatcrypt_overrides)
      file(READ ${part} _compatcrypt_part)
      string(APPEND _compatcrypt_text "${_compatcrypt_part}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${part})
    endforeach()
    file(CONFIGURE OUTPUT ${PROJECT_BINARY_DIR}/packaging/lintian-overrides/${package}
      CONTENT "${_compatcrypt_text}" @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/lintian-overrides/${package}
      DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides COMPONENT ${component} EXCLUDE_FROM_ALL)
  endforeach()

  set(COMPATCRYPT_MULTIARCH_LIBDIR "")
  if(EXISTS /etc/debian_version AND CMAKE_LIBRARY_ARCHITECTURE)
    set(COMPATCRYPT_MULTIARCH_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE})
  endif()
  configure_file(${PROJECT_SOURCE_DIR}/packaging/cpack-options.cmake.in
    ${PROJECT_BINARY_DIR}/compatcrypt-cpack-options.cmake @ONLY)
  set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_BINARY_DIR}/compatcrypt-cpack-options.cmake)

  # Reproducible packages: two builds of one commit give the same bytes.
  # cpack's archives carry the build's times and its own member order, so
  # each .deb is rebuilt by dpkg-deb from its unpacked tree, with every
  # time set to SOURCE_DATE_EPOCH (the last commit's time), members
  # sorted and owned by root (packaging/rebuild-deb.sh).
  set(CPACK_COMPATCRYPT_SOURCE_DIR ${PROJECT_SOURCE_DIR})
  set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/rebuild-debs.cmake)

  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${_compatcrypt_deb_release})
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)

  # dpkg-shlibdeps finds the system libraries each package needs. The tool
  # needs libcompatcrypt-cxx.so.1 too, which is in none of the system's
  # packages: it is found in the build tree and left to the explicit
  # dependency on libcompatcrypt1 below. The runtime package declares its
  # libraries in a shlibs file for other packages' dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  if(TARGET compatcrypt_cxx)
    get_target_property(_compatcrypt_cxx_dir compatcrypt_cxx LIBRARY_OUTPUT_DIRECTORY)
    if(NOT _compatcrypt_cxx_dir)
      get_target_property(_compatcrypt_cxx_dir compatcrypt_cxx BINARY_DIR)
    endif()
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${_compatcrypt_cxx_dir})
  endif()
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
  set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

  set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME ${_compatcrypt_runtime_package})
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
  # The loader's cache is refreshed by libc-bin's ldconfig trigger, once
  # for all the packages of one dpkg run, as Debian's libraries do; the
  # post-build step drops the scripts cpack writes to call ldconfig.
  set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/${_compatcrypt_runtime_package}/triggers)
  file(READ ${PROJECT_SOURCE_DIR}/packaging/runtime.description CPACK_DEBIAN_RUNTIME_DESCRIPTION)

  # The headers and linker names belong to exactly this build of the
  # libraries.
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libcompatcrypt-dev)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
  set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "${_compatcrypt_runtime_package} (= ${_compatcrypt_deb_version})")
  file(READ ${PROJECT_SOURCE_DIR}/packaging/development.description CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION)

  set(CPACK_DEBIAN_TOOL_PACKAGE_NAME compatcrypt)
  set(CPACK_DEBIAN_TOOL_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_TOOL_PACKAGE_DEPENDS "${_compatcrypt_runtime_package} (>= ${PROJECT_VERSION})")
  file(READ ${PROJECT_SOURCE_DIR}/packaging/tool.description CPACK_DEBIAN_TOOL_DESCRIPTION)

  if(TARGET compatcrypt_python)
    # The extension's file name holds the interpreter's version: it loads
    # in that python3 only.
    string(REPLACE "." ";" _compatcrypt_py "${COMPATCRYPT_PYTHON_DEB_VERSION}")
    list(GET _compatcrypt_py 0 _compatcrypt_py_major)
    list(GET _compatcrypt_py 1 _compatcrypt_py_minor)
    math(EXPR _compatcrypt_py_next "${_compatcrypt_py_minor} + 1")
    set(CPACK_DEBIAN_PYTHONDEBIAN_PACKAGE_NAME python3-compatcrypt)
    set(CPACK_DEBIAN_PYTHONDEBIAN_PACKAGE_SECTION python)
    set(CPACK_DEBIAN_PYTHONDEBIAN_PACKAGE_DEPENDS
        "${_compatcrypt_runtime_package} (>= ${PROJECT_VERSION}), python3 (>= ${COMPATCRYPT_PYTHON_DEB_VERSION}~), python3 (<< ${_compatcrypt_py_major}.${_compatcrypt_py_next})")
    file(READ ${PROJECT_SOURCE_DIR}/packaging/python.description CPACK_DEBIAN_PYTHONDEBIAN_DESCRIPTION)
    # Debian's Python policy: the modules byte-compiled on installation
    # and their byte code removed before removal (py3compile, py3clean).
    set(CPACK_DEBIAN_PYTHONDEBIAN_PACKAGE_CONTROL_EXTRA
        ${PROJECT_SOURCE_DIR}/packaging/python3-compatcrypt/postinst
        ${PROJECT_SOURCE_DIR}/packaging/python3-compatcrypt/prerm)
  endif()

  if(TARGET compatcrypt_pg)
    # Both extensions link libcompatcrypt-cxx.so.1 (the binding surface),
    # which is in none of the system's packages: found in the build tree by
    # dpkg-shlibdeps (the private directory above), and depended on
    # explicitly: libcompatcrypt1 ships it.
    set(CPACK_DEBIAN_POSTGRESQL_PACKAGE_NAME postgresql-${_compatcrypt_pg_major}-compatcrypt)
    set(CPACK_DEBIAN_POSTGRESQL_PACKAGE_SECTION database)
    set(CPACK_DEBIAN_POSTGRESQL_PACKAGE_DEPENDS
        "${_compatcrypt_runtime_package} (>= ${PROJECT_VERSION}), postgresql-${_compatcrypt_pg_major}")
    file(READ ${PROJECT_SOURCE_DIR}/packaging/postgresql.description CPACK_DEBIAN_POSTGRESQL_DESCRIPTION)
    set(CPACK_DEBIAN_SQLITE_PACKAGE_NAME sqlite3-compatcrypt)
    set(CPACK_DEBIAN_SQLITE_PACKAGE_SECTION database)
    set(CPACK_DEBIAN_SQLITE_PACKAGE_DEPENDS "${_compatcrypt_runtime_package} (>= ${PROJECT_VERSION})")
    file(READ ${PROJECT_SOURCE_DIR}/packaging/sqlite.description CPACK_DEBIAN_SQLITE_DESCRIPTION)
  endif()
endif()

include(CPack)
