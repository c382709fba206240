# compatcrypt_exports_only(TARGET MAP [RESOLVED]): on Linux, TARGET's dynamic
# symbol table holds what the version script MAP lists and nothing else, even
# where headers (the C++ runtime's) ask for default visibility; relinked when
# MAP changes. RESOLVED: every symbol resolved inside the library or its
# dependencies, except under a sanitizer, whose runtime clang links into the
# executable only.
function(compatcrypt_exports_only target map)
  cmake_parse_arguments(PARSE_ARGV 2 arg "RESOLVED" "" "")
  if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
    return()
  endif()
  target_link_options(${target} PRIVATE "LINKER:--version-script=${map}")
  if(arg_RESOLVED AND NOT COMPATCRYPT_SANITIZE)
    target_link_options(${target} PRIVATE "LINKER:--no-undefined")
  endif()
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${map})
endfunction()
