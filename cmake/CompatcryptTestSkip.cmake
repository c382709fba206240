# compatcrypt_add_skipped_test(NAME REASON): a test that this machine or
# this configuration cannot run, registered all the same so that ctest
# reports it skipped with its reason (tests/host/skipped.sh prints it and
# exits 77) and the test command's last line names it.
function(compatcrypt_add_skipped_test name reason)
  add_test(NAME ${name} COMMAND sh ${PROJECT_SOURCE_DIR}/tests/host/skipped.sh "${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
