#!/bin/sh
# The DLL imports from Windows' own DLLs only, so that a host needs nothing
# installed beside it: no C++ runtime, libgcc or pthread DLL. Read from the
# import table, without running anything.
# Usage: dll_imports.sh OBJDUMP DLL
set -eu
imports=$("$1" -p "$2" | sed -n 's/^[[:space:]]*DLL Name: //p')
[ -n "$imports" ] || { echo "no import table in $2"; exit 1; }
status=0
for dll in $imports; do
  case $(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]') in
    kernel32.dll | msvcrt.dll | ntdll.dll | ucrtbase.dll | api-ms-win-*.dll) echo "imports $dll" ;;
    *) echo "imports $dll, which is not a system DLL"; status=1 ;;
  esac
done
exit $status
