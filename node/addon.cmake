# The Node-API addon compatcrypt.node: node/src over the binding surface
# (src/binding) and the core, all linked in, with the C++ runtime, so that
# it needs nothing at run time beyond the C library and the Node-API of
# the node process loading it. Used by node/CMakeLists.txt in the project's
# build and by the npm package's own CMakeLists.txt for a build from source.
#
#   compatcrypt_node_addon(INCLUDE <dir holding node_api.h> OUTPUT <dir>)
set(COMPATCRYPT_NODE_API_VERSION 8)

function(compatcrypt_node_addon)
  cmake_parse_arguments(ARG "" "INCLUDE;OUTPUT" "" ${ARGN})
  set(here ${PROJECT_SOURCE_DIR}/node)
  # The surface is the files of src/binding.
  file(GLOB surface CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/binding/*.cpp)
  add_library(compatcrypt_node MODULE
    ${here}/src/addon.cpp
    ${here}/src/file_digest.cpp
    ${here}/src/jobs.cpp
    ${here}/src/keys.cpp
    ${here}/src/napi_support.cpp
    ${here}/src/oneshot.cpp
    ${here}/src/records.cpp
    ${here}/src/streams.cpp
    ${surface})
  target_include_directories(compatcrypt_node SYSTEM PRIVATE ${ARG_INCLUDE})
  target_link_libraries(compatcrypt_node PRIVATE compatcrypt_core)
  target_compile_definitions(compatcrypt_node PRIVATE NAPI_VERSION=${COMPATCRYPT_NODE_API_VERSION})
  target_compile_features(compatcrypt_node PRIVATE cxx_std_20)
  set_target_properties(compatcrypt_node PROPERTIES
    OUTPUT_NAME compatcrypt
    PREFIX ""
    SUFFIX ".node"
    LIBRARY_OUTPUT_DIRECTORY ${ARG_OUTPUT}
    CXX_VISIBILITY_PRESET hidden
    VISIBILITY_INLINES_HIDDEN ON)
  compatcrypt_warnings(compatcrypt_node)
  if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
    set(map ${here}/addon.map)
    # The Node-API functions come from the node process; everything else
    # is inside. Symbols bound at load, as in the tool: lazy binding would
    # save the caller's vector registers, which may hold key bytes, on the
    # stack.
    target_link_options(compatcrypt_node PRIVATE "LINKER:--version-script=${map}" "LINKER:--exclude-libs,ALL"
                        "LINKER:-z,now" -static-libstdc++ -static-libgcc)
    set_property(TARGET compatcrypt_node APPEND PROPERTY LINK_DEPENDS ${map})
  endif()
endfunction()
