#!/bin/bash
# Runs the whole Windows test preset N times in a row on a busy machine, to show the tests
# stable under load: as many busy loops as the machine has cores run beside it (BUSY=0: none).
# Each run's log is kept in build/repeat/run-K.log; the last line sums the runs up.
#   tests/repeat.sh N        (make repeat N=10 builds first)
# Exit status: 0 when every run passed, 1 otherwise.
set -u
runs=${1:-10}
case $runs in '' | *[!0-9]*) echo "usage: tests/repeat.sh N" >&2; exit 2 ;; esac
cd "$(dirname "$0")/.." || exit 1
preset=$(scripts/windows-test-preset) || exit 1
logs=build/repeat
mkdir -p "$logs"

loops=()
stop_loops() {
  local pid
  for pid in "${loops[@]}"; do kill "$pid" 2>/dev/null; done
  loops=()
}
trap stop_loops EXIT
trap 'exit 1' HUP INT TERM
if [ "${BUSY:-1}" != 0 ]; then
  for _ in $(seq "$(nproc)"); do
    (while :; do :; done) &
    loops+=($!)
  done
fi

passed=0 times=""
for run in $(seq "$runs"); do
  began=$(date +%s)
  ctest --preset "$preset" >"$logs/run-$run.log" 2>&1
  status=$?
  seconds=$(($(date +%s) - began))
  times="$times ${seconds}s"
  load=$(cut -d' ' -f1 /proc/loadavg)
  if [ "$status" -eq 0 ]; then
    passed=$((passed + 1))
    echo "run $run of $runs: passed in $seconds s (load $load)"
  else
    echo "run $run of $runs: FAILED in $seconds s (load $load), see $logs/run-$run.log:"
    grep -E '\*\*\*Failed|\(Failed\)|\(Timeout\)|Not Run' "$logs/run-$run.log"
  fi
done
beside="with every core kept busy"
[ "${BUSY:-1}" = 0 ] && beside="with no load added"
echo "$preset preset: $passed of $runs runs passed $beside; times:$times"
[ "$passed" -eq "$runs" ]
