#!/bin/sh
# Runs a test binary with its temporary folders on a tmpfs, which lists a folder in another
# order than a disk does, so that a test relying on an order it does not set fails here.
#   on_tmpfs.sh native TEST [ARGS...]
#   on_tmpfs.sh wine TEST.exe WINE-COMMAND...
# Natively TMPDIR names the folder; Wine takes TEMP and TMP from its registry, not from the
# host, so cmd sets them for the Windows test. Exit status 77 (skipped) where no tmpfs is.
mode=$1
shift
root=
for candidate in /dev/shm /tmp "/run/user/$(id -u)"; do
  if [ "$(stat -f -c %T "$candidate" 2>/dev/null)" = tmpfs ] && [ -w "$candidate" ]; then
    root=$candidate
    break
  fi
done
[ -n "$root" ] || { echo "skipped: no writable tmpfs (/dev/shm, /tmp)"; exit 77; }
folder=$(mktemp -d "$root/cartools-tests-XXXXXX") || exit 1
trap 'rm -rf "$folder"' EXIT
trap 'exit 1' HUP INT TERM

if [ "$mode" = native ]; then
  TMPDIR=$folder "$@"
  exit $?
fi
test_exe=$1
shift
windows_folder="Z:$(printf '%s' "$folder" | tr / '\\')"
windows_test="Z:$(printf '%s' "$test_exe" | tr / '\\')"
"$@" cmd /c "set TMP=$windows_folder&& set TEMP=$windows_folder&& $windows_test"
