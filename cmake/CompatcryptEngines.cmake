# The digest and DES engines built for a particular instruction set. Each
# is a source file of its own compiled with its own flags, so that no code
# built for one instruction set can stand in for portable code; the
# dispatch calls an engine only after the CPU check has passed. One option
# per instruction set compiles its engines in or out:
#
#   -DCOMPATCRYPT_ENGINE_SHANI=OFF   and likewise _AVX2, _AVX512, _VBMI
#
# An engine that is asked for but that the compiler cannot build stops the
# configuration with the reason, rather than failing later inside the
# compiler's intrinsic headers.
include(CheckCXXSourceCompiles)
include(CMakePushCheckState)

set(_compatcrypt_x86 OFF)
if(CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64|i[3-6]86|x86)$")
  set(_compatcrypt_x86 ON)
endif()

# The CPU features each instruction set's engines need come from the one
# list the dispatch checks at run time, src/support/instruction_sets.h:
# the engines are compiled with -m<feature> for exactly those features.
set(_compatcrypt_engines SHANI AVX2 AVX512 VBMI)
set(_compatcrypt_sets_file ${CMAKE_CURRENT_LIST_DIR}/../src/support/instruction_sets.h)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${_compatcrypt_sets_file})
file(STRINGS ${_compatcrypt_sets_file} _compatcrypt_set_lines
     REGEX "^inline constexpr InstructionSet k[A-Za-z0-9]+\\{\"[A-Z0-9]+\", \"[a-z0-9. ]+\"\\};$")
foreach(line IN LISTS _compatcrypt_set_lines)
  string(REGEX MATCH "\\{\"([A-Z0-9]+)\", \"([a-z0-9. ]+)\"\\}" _ "${line}")
  set(_compatcrypt_${CMAKE_MATCH_1}_flags "")
  string(REPLACE " " ";" _features "${CMAKE_MATCH_2}")
  foreach(feature IN LISTS _features)
    string(APPEND _compatcrypt_${CMAKE_MATCH_1}_flags " -m${feature}")
  endforeach()
  string(STRIP "${_compatcrypt_${CMAKE_MATCH_1}_flags}" _compatcrypt_${CMAKE_MATCH_1}_flags)
endforeach()
foreach(name IN LISTS _compatcrypt_engines)
  if(NOT _compatcrypt_${name}_flags)
    message(FATAL_ERROR "compatcrypt: src/support/instruction_sets.h has no line for the instruction set ${name}")
  endif()
endforeach()

# Each instruction set: its sources, and a statement that uses the
# instruction set, compiled to check that the compiler can build it.
set(_compatcrypt_SHANI_sources digest_core/digest_shani.cpp)
set(_compatcrypt_SHANI_probe "__m128i x = _mm_setzero_si128(); x = _mm_sha1rnds4_epu32(x, x, 0); return _mm_extract_epi32(x, 1);")
set(_compatcrypt_AVX2_sources digest_core/digest_avx2.cpp des/engines/bitslice/bitslice_avx2.cpp)
set(_compatcrypt_AVX2_probe "__m256i x = _mm256_setzero_si256(); x = _mm256_add_epi32(x, x); return _mm256_extract_epi32(x, 1);")
set(_compatcrypt_AVX512_sources digest_core/digest_avx512.cpp des/engines/bitslice/bitslice_avx512.cpp)
set(_compatcrypt_AVX512_probe "__m512i x = _mm512_setzero_si512(); x = _mm512_ternarylogic_epi32(x, x, x, 0x96); x = _mm512_shuffle_epi8(x, x); return _mm512_reduce_add_epi32(x);")
set(_compatcrypt_VBMI_sources des/engines/serial/serial_vbmi_schedule.cpp des/engines/serial/serial_vbmi_planes.cpp
    des/engines/serial/serial_vbmi_broadcast.cpp des/engines/serial/serial_vbmi_lanes.cpp)
set(_compatcrypt_VBMI_probe "__m256i x = _mm256_setzero_si256(); x = _mm256_permutex2var_epi8(x, x, x); return (int)_mm256_bitshuffle_epi64_mask(x, x);")

foreach(name IN LISTS _compatcrypt_engines)
  option(COMPATCRYPT_ENGINE_${name} "Build the ${name} engines (x86 only)" ${_compatcrypt_x86})
endforeach()

function(compatcrypt_add_engines target)
  set(wide_vector_options)
  if(WIN32 AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # GCC on Windows keeps the stack 16-byte aligned yet spills 32- and
    # 64-byte vectors with aligned moves; have the assembler make them
    # unaligned.
    set(wide_vector_options "-Wa,-muse-unaligned-vector-move")
  endif()
  foreach(name IN LISTS _compatcrypt_engines)
    set(sources "${_compatcrypt_${name}_sources}")
    set(flags "${_compatcrypt_${name}_flags}")
    set(probe "${_compatcrypt_${name}_probe}")
    if(NOT COMPATCRYPT_ENGINE_${name})
      continue()
    endif()
    separate_arguments(flag_list NATIVE_COMMAND "${flags}")
    cmake_push_check_state(RESET)
    set(CMAKE_REQUIRED_FLAGS "${flags}")
    set(CMAKE_REQUIRED_QUIET ON)
    check_cxx_source_compiles("#include <immintrin.h>\nint main() { ${probe} }" COMPATCRYPT_CAN_BUILD_${name})
    cmake_pop_check_state()
    if(NOT COMPATCRYPT_CAN_BUILD_${name})
      message(FATAL_ERROR
        "compatcrypt: the ${name} engines (${sources}) need a compiler that accepts ${flags} and its intrinsics, "
        "and ${CMAKE_CXX_COMPILER} does not. Configure with -DCOMPATCRYPT_ENGINE_${name}=OFF to build without it.")
    endif()
    target_sources(${target} PRIVATE ${sources})
    set_source_files_properties(${sources} TARGET_DIRECTORY ${target} PROPERTIES
                                COMPILE_OPTIONS "${flag_list};${wide_vector_options}")
    target_compile_definitions(${target} PRIVATE COMPATCRYPT_ENGINE_${name}=1)
    message(STATUS "compatcrypt: ${name} engines built in")
  endforeach()
endfunction()
