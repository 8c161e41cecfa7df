#!/bin/sh
# Runs a Windows test program's CodePage tests under Wine in a locale, whose code page Wine
# takes as the ANSI code page of the process (ja_JP: 932, ru_RU: 1251).
#   code_page.sh LOCALE TEST.exe WINE-COMMAND...
# Exit status 77 (skipped) where the locale is not generated (scripts/install-deps test).
locale=$1 test_exe=$2
shift 2
want=$(printf '%s' "$locale" | sed 's/\.UTF-8$//; s/\.utf8$//')
locale -a 2>/dev/null | grep -qix "$want\.utf-\?8" ||
  { echo "skipped: no $locale locale (scripts/install-deps test generates it)"; exit 77; }
exec env LANG="$locale" LC_ALL="$locale" "$@" "$test_exe" --gtest_filter='*CodePage*'
