# compatcrypt_discover_tests(TARGET): each case of a GoogleTest program as a
# test of its own. A native build lists the cases once the program is
# built. A cross build lists them when ctest starts, running the program
# under the toolchain's emulator (tools/wine-run.sh); first it asks the
# emulator whether this machine can run the target's programs at all
# (`wine-run.sh --check`, which asks tools/machine-probe.sh). Where it
# cannot, listing would fail and take the whole run with it, so the program
# stands as one test that reports itself skipped, with the reason, in
# ctest's own form (SKIP_RETURN_CODE 77).
include(GoogleTest)

function(compatcrypt_discover_tests target)
  if(NOT CMAKE_CROSSCOMPILING)
    gtest_discover_tests(${target} DISCOVERY_MODE POST_BUILD NO_PRETTY_VALUES ${ARGN})
    return()
  endif()

  gtest_discover_tests(${target} DISCOVERY_MODE PRE_TEST NO_PRETTY_VALUES ${ARGN}
                       PROPERTIES SKIP_RETURN_CODE 77)
  # gtest_discover_tests has just added its listing script to the
  # directory's test includes; it is replaced by a script that asks first.
  get_property(includes DIRECTORY PROPERTY TEST_INCLUDE_FILES)
  list(POP_BACK includes listing)
  set(emulator "")
  foreach(word IN LISTS CMAKE_CROSSCOMPILING_EMULATOR)
    string(APPEND emulator " [==[${word}]==]")
  endforeach()
  set(asking "${CMAKE_CURRENT_BINARY_DIR}/${target}_where_it_runs.cmake")
  file(WRITE "${asking}" "\
execute_process(COMMAND${emulator} --check RESULT_VARIABLE status ERROR_VARIABLE reason
                ERROR_STRIP_TRAILING_WHITESPACE)
if(status EQUAL 77)
  string(REGEX REPLACE \"^wine-run.sh: cannot run here: \" \"\" reason \"\${reason}\")
  add_test([==[${target}]==] sh [==[${PROJECT_SOURCE_DIR}/tests/host/skipped.sh]==] \"\${reason}\")
  set_tests_properties([==[${target}]==] PROPERTIES SKIP_RETURN_CODE 77)
else()
  include([==[${listing}]==])
endif()
")
  list(APPEND includes "${asking}")
  set_property(DIRECTORY PROPERTY TEST_INCLUDE_FILES "${includes}")
endfunction()
