#!/bin/sh
# A test that this machine cannot run: says why, and exits with the status
# ctest counts as skipped (SKIP_RETURN_CODE 77).
# Usage: skipped.sh REASON
echo "SKIP: $1"
exit 77
