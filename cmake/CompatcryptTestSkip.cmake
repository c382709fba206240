# compatcrypt_add_skipped_test(NAME REASON): a suite that this machine or
# this configuration cannot run, registered all the same so that ctest
# reports it skipped with its reason ("SKIP: REASON", exit 77) and the test
# command's last line names it. (A test program that cannot even be listed
# at ctest time, under Wine, is skipped by tests/host/skipped.sh from the
# discovery script instead, which tools/check-skip-path.sh looks for.)
function(compatcrypt_add_skipped_test name reason)
  add_test(NAME ${name} COMMAND sh -c "echo \"SKIP: $1\"; exit 77" sh "${reason}")
  set_tests_properties(${name} PROPERTIES SKIP_RETURN_CODE 77)
endfunction()
