#!/bin/sh
# Starts the one Wine server the test run shares, on a prefix whose making has ended:
#   wine_start.sh WINE WINESERVER      (WINEPREFIX and the rest of Wine's setting in the environment)
# A server only starts persistent (-p) in a prefix that exists; in a new one it gives up, and
# the first program makes the prefix under a server that ends with the last program. Every
# test program would then start a server of its own, with Wine's services, while the making's
# last steps still ran and its registry was not yet written. So the prefix is made first, its
# server waited for, and only then the persistent server started; a server that does not
# start fails the fixture, which fails the tests that need it rather than leaving them to
# fail by chance.
set -u
wine=$1 wineserver=$2
# A server of this prefix still running (from a run that was killed, or from the build) is
# ended, so that the one started below is persistent.
"$wineserver" -k </dev/null >/dev/null 2>&1
"$wineserver" -w </dev/null >/dev/null 2>&1
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  "$wine" wineboot --init </dev/null >/dev/null 2>&1
  "$wineserver" -w </dev/null >/dev/null 2>&1
fi
"$wineserver" -p </dev/null >/dev/null 2>&1
status=$?
if [ "$status" -ne 0 ]; then
  echo "wine_start: no Wine server started for $WINEPREFIX (wineserver -p: status $status)"
  exit 1
fi
"$wine" cmd /c exit 0 </dev/null >/dev/null 2>&1
