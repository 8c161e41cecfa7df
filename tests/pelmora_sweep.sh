#!/bin/bash
# Pelmora runs that meet: two started at once on one new folder, a crossed pair (new x with
# reference y beside new y with reference x), of which one always runs, a chained pair (new x
# with reference r beside new y with reference x), and runs killed at a random moment and run
# again. After each trial: every run either stopped saying another Pelmora works there and
# changed nothing in its folder, or updated every file and said so; no car's text is lost or
# mixed; the rerun after a kill is never blocked and finishes every file; no lock file or
# output file is left. Prints the counts.
#   pelmora_sweep.sh WORK_DIR PELMORA [WINE WINE_PREFIX]
# PELMORA_SWEEP_ROUNDS (default 1) multiplies the number of trials for a longer sweep.
work=$1 pelmora=$2 wine=$3 prefix=$4
mkdir -p "$work" || exit 1
rounds=${PELMORA_SWEEP_ROUNDS:-1}
# Enough cars that a run works longer than the 50 ms a refused take is tried again, so that
# runs started at once still meet.
cars=400
if [ -n "$wine" ]; then pairs=$((6 * rounds)) kills=$((8 * rounds)); else
  pairs=$((12 * rounds)) kills=$((16 * rounds)); fi
failures=0

fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
windows_path() { printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"; }

# A car of folder $1 with key $2: its own key lines amid its other lines.
car_text() { printf 'Name=%s%s\r\nDescFile=%s.txt\r\nMass=%s\r\nDescClass=%s\r\n' "$1" "$3" "$2" "$3" "$2"; }
updated_text() { printf 'DescFile=%s.txt\r\nDescClass=%s\r\nName=%s%s\r\nMass=%s\r\n' "$2" "$2" "$1" "$3" "$3"; }

# The folders of a trial are copied from templates made once: tpl/NAME-original holds the
# cars of folder NAME with key KEY, tpl/NAME-K the same cars updated with reference key K.
make_templates() {
  local name key k
  for name in x y; do
    key=$(printf '%s' "$name" | tr xy XY)
    mkdir -p "$work/tpl/$name-original"
    for k in $(seq "$cars"); do car_text "$name" "$key" "$k" > "$work/tpl/$name-original/car$k.veh"; done
    for key in X Y R S; do
      mkdir -p "$work/tpl/$name-$key"
      for k in $(seq "$cars"); do updated_text "$name" "$key" "$k" > "$work/tpl/$name-$key/car$k.veh"; done
    done
  done
  for key in R S; do
    mkdir -p "$work/tpl/ref-$key"
    for k in $(seq "$cars"); do ref_text "$key" > "$work/tpl/ref-$key/car$k.veh"; done
  done
}
make_folder() { mkdir -p "$work/t"; cp -r "$work/tpl/$1-original" "$work/t/$1"; }
refs() { mkdir -p "$work/t"; cp -r "$work/tpl/ref-$2" "$work/t/$1"; }
ref_text() { printf 'DescFile=%s.txt\r\nDescClass=%s\r\n' "$1" "$1"; }

# start_run NAME REFERENCE NEW: Pelmora in the background; its pid in pid_NAME.
start_run() {
  printf '%s\n%s\n' "$(windows_path "$work/t/$2")" "$(windows_path "$work/t/$3")" > "$work/$1.in"
  if [ -n "$wine" ]; then
    env WINEDEBUG=-all WINEPREFIX="$prefix" WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe= \
      "$wine" "$pelmora" < "$work/$1.in" > "$work/$1.out" 2>&1 &
  else
    "$pelmora" < "$work/$1.in" > "$work/$1.out" 2>&1 &
  fi
  eval "pid_$1=$!"
}

# end_of NAME STATUS: "stopped", "done" or "bad" (after a line saying why).
end_of() {
  local out="$work/$1.out"
  if grep -q 'Another Pelmora is working in ' "$out" && [ "$2" = 1 ] &&
     ! tr -d '\r' < "$out" | grep -q '\.veh$'; then
    echo stopped
  elif grep -q ": $cars updated, 0 left unchanged" "$out" && [ "$2" = 0 ] &&
       ! grep -q 'Another Pelmora' "$out"; then
    echo done
  else
    echo bad
  fi
}

# key_of FOLDER: "original" when every car holds its own text, the reference key when every
# car is updated with one reference, else "mixed".
key_of() {
  for key in original X Y R S; do
    diff -rq -x Pelmora.lock -x '*.pelmora' "$work/tpl/$1-$key" "$work/t/$1" > /dev/null 2>&1 &&
      { echo $key; return; }
  done
  echo mixed
}

# Only the cars are left in the folder: no lock file, no output file.
only_cars() {
  local left
  left=$(ls -A "$work/t/$1" | grep -v '^car[0-9]*\.veh$')
  [ -z "$left" ] || fail "$2: $1 holds $left"
}

# references_kept NAME KEY: the reference folder is never written.
references_kept() {
  diff -rq "$work/tpl/ref-$2" "$work/t/$1" > /dev/null || fail "$3: reference $1 changed"
}

rm -rf "$work/tpl" "$work/t"; make_templates
stopped_same=0 serial_same=0
for trial in $(seq "$pairs"); do
  rm -rf "$work/t"; make_folder x X; refs r R; refs s S
  start_run a r x; start_run b s x
  wait "$pid_a"; end_a=$(end_of a $?); wait "$pid_b"; end_b=$(end_of b $?)
  key=$(key_of x)
  case "$end_a/$end_b/$key" in
    done/stopped/R | stopped/done/S) stopped_same=$((stopped_same + 1)) ;;
    done/done/R | done/done/S) serial_same=$((serial_same + 1)) ;;
    *) fail "same folder, trial $trial: $end_a/$end_b/$key"; cat "$work/a.out" "$work/b.out" ;;
  esac
  only_cars x "same folder, trial $trial"
  references_kept r R "same folder, trial $trial"; references_kept s S "same folder, trial $trial"
done

stopped_crossed=0 both_stopped=0 serial_crossed=0
for trial in $(seq "$pairs"); do
  rm -rf "$work/t"; make_folder x X; make_folder y Y
  start_run a y x; start_run b x y
  wait "$pid_a"; end_a=$(end_of a $?); wait "$pid_b"; end_b=$(end_of b $?)
  key_x=$(key_of x) key_y=$(key_of y)
  case "$end_a/$end_b/$key_x/$key_y" in
    done/stopped/Y/original | stopped/done/original/X) stopped_crossed=$((stopped_crossed + 1)) ;;
    stopped/stopped/original/original) both_stopped=$((both_stopped + 1))
      fail "crossed pair, trial $trial: both stopped" ;;
    done/done/Y/Y | done/done/X/X) serial_crossed=$((serial_crossed + 1)) ;;
    *) fail "crossed pair, trial $trial: $end_a/$end_b/$key_x/$key_y"; cat "$work/a.out" "$work/b.out" ;;
  esac
  only_cars x "crossed pair, trial $trial"; only_cars y "crossed pair, trial $trial"
done

# A chained pair: b reads x while a may rewrite it. b reads x whole before or after a's run,
# or stops; a never reads mid-rewrite either.
stopped_chained=0 serial_chained=0
for trial in $(seq "$pairs"); do
  rm -rf "$work/t"; refs r R; make_folder x X; make_folder y Y
  start_run a r x; start_run b x y
  wait "$pid_a"; end_a=$(end_of a $?); wait "$pid_b"; end_b=$(end_of b $?)
  key_x=$(key_of x) key_y=$(key_of y)
  case "$end_a/$end_b/$key_x/$key_y" in
    done/stopped/R/original | stopped/done/original/X) stopped_chained=$((stopped_chained + 1)) ;;
    done/done/R/R | done/done/R/X) serial_chained=$((serial_chained + 1)) ;;
    *) fail "chained pair, trial $trial: $end_a/$end_b/$key_x/$key_y"; cat "$work/a.out" "$work/b.out" ;;
  esac
  only_cars x "chained pair, trial $trial"; only_cars y "chained pair, trial $trial"
  references_kept r R "chained pair, trial $trial"
done

# The length of a whole run, to spread the kills over it.
rm -rf "$work/t"; make_folder x X; refs r R
began=$(date +%s%N); start_run a r x; wait "$pid_a"; length=$((($(date +%s%N) - began) / 1000000))
cut_short=0 mid_work=0
for trial in $(seq "$kills"); do
  rm -rf "$work/t"; make_folder x X; refs r R
  delay=$((RANDOM % (length * 13 / 10 + 1)))
  start_run a r x
  sleep "$(awk "BEGIN { print $delay / 1000 }")"
  kill -9 "$pid_a" 2>/dev/null
  wait "$pid_a" 2>/dev/null
  grep -q ' updated, ' "$work/a.out" || cut_short=$((cut_short + 1))
  case $(key_of x) in original | R) ;; *) mid_work=$((mid_work + 1)) ;; esac
  # Every file the killed run named as updated is.
  for k in $(tr -d '\r' < "$work/a.out" | sed -n 's/.*\\car\([0-9]*\)\.veh$/\1/p'); do
    cmp -s "$work/tpl/x-R/car$k.veh" "$work/t/x/car$k.veh" || fail "kill $trial: car$k.veh said updated, is not"
  done
  start_run b r x; wait "$pid_b"; end_b=$(end_of b $?)
  [ "$end_b" = done ] || { fail "kill $trial after ${delay} ms: the rerun ended $end_b"; cat "$work/b.out"; }
  [ "$(key_of x)" = R ] || fail "kill $trial after ${delay} ms: the cars are not all updated"
  only_cars x "kill $trial"
  references_kept r R "kill $trial"
done

echo "same folder: $pairs pairs, $stopped_same with the second stopped, $serial_same one after the other"
echo "crossed pair: $pairs pairs, $stopped_crossed with one stopped, $both_stopped with both stopped, $serial_crossed one after the other"
echo "chained pair: $pairs pairs, $stopped_chained with one stopped, $serial_chained one after the other"
echo "kills: $kills runs killed within $((length * 13 / 10)) ms (a whole run took $length ms), $cut_short cut short ($mid_work amid the files), every rerun finished"
# Runs started together meet only when one starts before the other ends: on a loaded machine
# with the folders in memory a whole kind of pair may go one after the other, so the check
# counts the meetings of all three kinds (every trial's outcome is checked above either way).
[ $((stopped_same + stopped_crossed + stopped_chained)) -gt 0 ] ||
  fail "no pair met: the second run never found the first working"
[ "$failures" = 0 ] || { echo "$failures failures"; exit 1; }
rm -rf "$work/t" "$work/tpl"
