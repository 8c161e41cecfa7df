#!/bin/sh
# Fails when a Windows program imports any DLL but KERNEL32.dll and msvcrt.dll.
objdump=$1; shift
status=0
for exe in "$@"; do
  extra=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p' |
          grep -v -i -x -e KERNEL32.dll -e msvcrt.dll)
  if [ -n "$extra" ]; then
    echo "$exe imports: $extra"
    status=1
  fi
done
exit $status
