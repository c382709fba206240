# COMPATCRYPT_TAINT_CHECK: the native constant-time check's build. The
# library and the check's driver are compiled with clang's MemorySanitizer,
# which tracks, bit by bit, what is computed from uninitialised memory and
# reports a branch or an address that depends on it. The driver marks keys,
# passwords and plain data uninitialised, so a report is a secret branch or
# address, on whatever engines the CPU runs (valgrind, which the other check
# uses, hides AVX-512 and the SHA extensions from the program).
#
# Eager checks (-fsanitize-memory-param-retval, clang's default from 16) stay
# off: they report a secret merely passed to or returned from a function.
# Reports do not stop the run, so one run lists every site. Everything the
# sanitizer cannot see into (GoogleTest, OpenSSL, Python, a database server)
# is left out of this build: it builds the library and the check alone.
option(COMPATCRYPT_TAINT_CHECK "Build only the native constant-time check (clang, MemorySanitizer)" OFF)
if(NOT COMPATCRYPT_TAINT_CHECK)
  return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang" OR NOT CMAKE_C_COMPILER_ID STREQUAL "Clang")
  message(FATAL_ERROR "compatcrypt: COMPATCRYPT_TAINT_CHECK needs clang (CC=clang CXX=clang++): "
                      "it is MemorySanitizer's")
endif()
if(COMPATCRYPT_SANITIZE)
  message(FATAL_ERROR "compatcrypt: COMPATCRYPT_TAINT_CHECK is a sanitizer build of its own; "
                      "leave COMPATCRYPT_SANITIZE empty")
endif()
# Line tables name each report's source line; they change no code, so a
# Release build is checked as it is optimised.
add_compile_options(-fsanitize=memory -fno-sanitize-memory-param-retval -fsanitize-recover=memory
                    -fno-omit-frame-pointer -gline-tables-only)
add_link_options(-fsanitize=memory)
foreach(part BENCHMARKS TOOLS FUZZERS PYTHON SQL)
  set(COMPATCRYPT_BUILD_${part} OFF)
endforeach()
