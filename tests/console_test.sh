#!/bin/sh
# Pelmora in a real Wine console of a German Windows (ANSI code page 1252, console code page
# 850): tmux drives "wine cmd" and types the folder C:\Wagen\Müller\ at both prompts, then
# the same answers come through a pipe in the ANSI code page and then in UTF-8 with a byte
# order mark, as Notepad saves them; each run must accept them, update the folder's .veh file
# and print the progress line with "Müller". Typed answers (relative ones, named in the
# question by their full paths) are followed by the question whether to go on, answered
# " YES "; piped ones are not. While the question waits, the typed run holds its folders: a
# crossed run through a pipe stops at once, one that only reads the same reference runs. Last, Pelmora started on a console of
# its own is answered "n" there: it changes nothing, waits for Enter before its window
# closes, and ends with status 1. Then names of another script, which code page 1252 lacks:
# typed at the console, C:\Wagen\Гонки\ is taken and shown as it is; answered through a pipe
# in UTF-8, its progress line reaches the file it is sent to with a '?' for each such letter.
#   console_test.sh WINE WINE_PREFIX PELMORA_EXE WORK_DIR
# Exit status 77 (skipped) where tmux or the de_DE.UTF-8 locale is missing.
wine=$1 prefix=$2 pelmora=$3 work=$4

command -v tmux >/dev/null 2>&1 ||
  { echo "skipped: no tmux (scripts/install-deps test installs it)"; exit 77; }
german=$(locale -a 2>/dev/null | grep -ix 'de_DE\.utf-\?8' | head -n 1)
[ -n "$german" ] ||
  { echo "skipped: no de_DE.UTF-8 locale (scripts/install-deps test makes it)"; exit 77; }

unset TERM TMUX
socket="console-test-$$"
tmux() { LANG=$german LC_ALL=$german command tmux -u -L "$socket" -f /dev/null "$@"; }
wagen="$prefix/drive_c/Wagen"
muller="$wagen/Müller"
cyrillic='Гонки'
gonki="$wagen/$cyrillic"
screen="$work/screen.txt"
run_env="env LANG=$german LC_ALL=$german WINEDEBUG=-all WINEPREFIX=$prefix WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe="
pelmora_windows="Z:$(printf '%s' "$pelmora" | tr / '\\')"
failures=0

# The server leaves its socket file behind.
cleanup() {
  tmux kill-server 2>/dev/null
  rm -f "${TMUX_TMPDIR:-/tmp}/tmux-$(id -u)/$socket"
  rm -rf "$wagen"
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

fail() { printf 'FAILED: %s\n--- the console:\n' "$*"; cat "$screen"; failures=$((failures + 1)); }

# The whole history of a session's pane, wrapped lines joined, into $screen.
capture() { tmux capture-pane -p -J -S -500 -t "$1" >"$screen" 2>/dev/null; }
# How many lines of $screen hold the text.
count() { grep -cF -- "$1" "$screen"; }
# Waits until the session's screen holds the text at least n times: up to two minutes, which
# only a hang reaches on a loaded machine.
# 0, or 1 when it did not, or when the text "stop" appears more than stop_max times first.
wait_for() {
  session=$1 text=$2 n=${3:-1} stop=${4:-} stop_max=${5:-0}
  for _ in $(seq 600); do
    capture "$session"
    [ "$(count "$text")" -ge "$n" ] && return 0
    [ -n "$stop" ] && [ "$(count "$stop")" -gt "$stop_max" ] && return 1
    sleep 0.2
  done
  return 1
}

fresh_files() {
  rm -rf "$wagen"
  mkdir -p "$muller/ref" "$wagen/Maller" || exit 1
  printf 'DescFile=ref.gen\r\nDescClass=GT\r\n' >"$muller/ref/car.veh"
  printf 'Name=Neu\r\nDescFile=alt.gen\r\nDescClass=Alt\r\n' >"$muller/car.veh"
  # The two answers in the ANSI code page (0xFC is u with diaeresis in 1252), for the pipe.
  printf 'C:\\Wagen\\M\374ller\\ref\\\r\nC:\\Wagen\\M\374ller\\\r\n' >"$wagen/answers.txt"
  # The same in UTF-8 (C3 BC) after the UTF-8 byte order mark.
  printf '\357\273\277C:\\Wagen\\M\303\274ller\\ref\\\r\nC:\\Wagen\\M\303\274ller\\\r\n' \
    >"$wagen/answers-utf8.txt"
  # The answers of a run crossed with the typed one, and of one on the same reference.
  printf 'C:\\Wagen\\M\374ller\r\nC:\\Wagen\\M\374ller\\ref\r\n' >"$wagen/crossed.txt"
  printf 'C:\\Wagen\\M\374ller\\ref\r\nC:\\Wagen\\Maller\r\n' >"$wagen/same-ref.txt"
  mkdir -p "$gonki/ref" || exit 1
  printf 'DescFile=ref.gen\r\nDescClass=GT\r\n' >"$gonki/ref/car.veh"
  printf 'Name=Neu\r\nDescFile=alt.gen\r\nDescClass=Alt\r\n' >"$gonki/car.veh"
  printf 'C:\\Wagen\\%s\\ref\r\nC:\\Wagen\\%s\r\n' "$cyrillic" "$cyrillic" >"$wagen/answers-cyrillic.txt"
}

check_updated() {
  printf 'DescFile=ref.gen\r\nDescClass=GT\r\nName=Neu\r\n' >"$work/expected.veh"
  cmp -s "$work/expected.veh" "${2:-$muller}/car.veh" || fail "$1: car.veh was not updated"
  [ -n "${2:-}" ] && return
  grep -qF 'C:\Wagen\Müller\car.veh' "$screen" || fail "$1: no progress line with Müller"
  grep -qF 'Press Enter' "$screen" && fail "$1: waited for Enter inside cmd"
}

# A new session "cmd" with fresh files, in C:\Wagen.
start_cmd() {
  tmux kill-session -t cmd 2>/dev/null
  fresh_files
  tmux new-session -d -s cmd -x 200 -y 50 "$run_env $wine cmd" || exit 1
  wait_for cmd '>' || { fail "cmd gave no prompt"; exit 1; }
  # On a loaded machine cmd may show its prompt before it reads a line, and the keys typed
  # then are echoed and lost: each command is typed again until its prompt shows.
  for _ in 1 2 3; do
    tmux send-keys -t cmd 'C:' Enter
    wait_for cmd 'C:\>' && break
  done
  for _ in 1 2 3; do
    tmux send-keys -t cmd 'cd \Wagen' Enter
    wait_for cmd 'C:\Wagen>' && break
  done
  wait_for cmd 'C:\Wagen>' || { fail "cmd did not change to C:\\Wagen"; exit 1; }
}

mkdir -p "$work"
start_cmd

# 1. Typed at the console: each prompt must come once, so no answer was rejected.
tmux send-keys -t cmd -l "\"$pelmora_windows\""
tmux send-keys -t cmd Enter
if ! wait_for cmd 'ref dir :'; then
  fail "typed: Pelmora asked for no folder"
else
  # 'ā' is not in code page 1252; its best-fit stand-in 'a' would name C:\Wagen\Maller.
  tmux send-keys -t cmd -l 'C:\Wagen\Māller\'
  tmux send-keys -t cmd Enter
  wait_for cmd 'ref dir :' 2 'new dir :' 0 ||
    fail "typed: C:\Wagen\Māller\ was taken for C:\Wagen\Maller"
  tmux send-keys -t cmd -l 'Müller\ref\'
  tmux send-keys -t cmd Enter
  if ! wait_for cmd 'new dir :' 1 'ref dir :' 2; then
    fail "typed: the reference folder Müller\\ref\\ was not accepted"
  else
    tmux send-keys -t cmd -l 'Müller\'
    tmux send-keys -t cmd Enter
    if ! wait_for cmd 'Go on?' 1 'new dir :' 1; then
      fail "typed: the new folder C:\\Wagen\\Müller\\ was not accepted, or no question"
    elif ! grep -qF 'Pelmora will rewrite 1 .veh file in C:\Wagen\Müller with the DescFile and DescClass lines of the files in C:\Wagen\Müller\ref.' "$screen"; then
      fail "typed: the question does not name the one file to rewrite and the full paths"
    else
      $run_env "$wine" "$pelmora" <"$wagen/crossed.txt" >"$work/crossed.out" 2>&1
      crossed=$?
      if ! grep -qF 'Another Pelmora is working in' "$work/crossed.out" || [ $crossed -ne 1 ]; then
        fail "typed: a crossed run went on while the question waited ($crossed)"
        cat "$work/crossed.out"
      fi
      printf 'DescFile=ref.gen\r\nDescClass=GT\r\n' >"$work/expected.veh"
      cmp -s "$work/expected.veh" "$muller/ref/car.veh" || fail "typed: the crossed run changed the reference"
      if ! $run_env "$wine" "$pelmora" <"$wagen/same-ref.txt" >"$work/same-ref.out" 2>&1; then
        fail "typed: a run on the same reference did not run"
        cat "$work/same-ref.out"
      fi
      tmux send-keys -t cmd -l ' YES '
      tmux send-keys -t cmd Enter
      if ! wait_for cmd 'C:\Wagen>' 2; then
        fail "typed: Pelmora did not end after y"
      else
        check_updated typed
      fi
    fi
  fi
fi

# 2. Through a pipe, in the ANSI code page: bytes pass unchanged.
start_cmd
tmux send-keys -t cmd -l "type answers.txt | \"$pelmora_windows\""
tmux send-keys -t cmd Enter
if wait_for cmd 'C:\Wagen>' 2; then
  check_updated piped
  grep -qF 'Go on?' "$screen" && fail "piped: asked whether to go on"
else
  fail "piped: Pelmora did not end"
fi

# 3. Through a pipe, in UTF-8 after a byte order mark: converted to the ANSI code page.
start_cmd
tmux send-keys -t cmd -l "type answers-utf8.txt | \"$pelmora_windows\""
tmux send-keys -t cmd Enter
if wait_for cmd 'C:\Wagen>' 2; then
  check_updated "piped UTF-8"
else
  fail "piped UTF-8: Pelmora did not end"
fi
tmux kill-session -t cmd

# 4. Started alone on its console, as by a double click: answered "n" at the question, it
# changes nothing, waits for Enter, then ends with status 1.
fresh_files
tmux new-session -d -s own -x 200 -y 50 \
  "$run_env $wine '$pelmora'; echo \"exit status \$?\"; sleep 60" || exit 1
if wait_for own 'ref dir :'; then
  tmux send-keys -t own -l 'C:\Wagen\Müller\ref\'
  tmux send-keys -t own Enter
  wait_for own 'new dir :'
  tmux send-keys -t own -l 'C:\Wagen\Müller\'
  tmux send-keys -t own Enter
  wait_for own 'Go on?' || fail "own window: no question whether to go on"
  tmux send-keys -t own -l 'n'
  tmux send-keys -t own Enter
  if ! wait_for own 'Press Enter to close this window.'; then
    fail "own window: Pelmora did not wait for Enter"
  elif sleep 1 && capture own && [ "$(count 'exit status')" -ne 0 ]; then
    fail "own window: Pelmora ended without Enter"
  else
    tmux send-keys -t own Enter
    wait_for own 'exit status 1' || fail "own window: Pelmora did not end with status 1 on Enter"
    grep -qF 'Stopped: nothing changed.' "$screen" || fail "own window: no word that it stopped"
    printf 'Name=Neu\r\nDescFile=alt.gen\r\nDescClass=Alt\r\n' >"$work/expected.veh"
    cmp -s "$work/expected.veh" "$muller/car.veh" || fail "own window: car.veh changed after n"
  fi
else
  fail "own window: Pelmora asked for no folder"
fi

# 5. Names that code page 1252 lacks: typed, shown on the console as they are; through a pipe
# into a file, each such letter as '?'.
start_cmd
tmux send-keys -t cmd -l "\"$pelmora_windows\""
tmux send-keys -t cmd Enter
wait_for cmd 'ref dir :' || fail "$cyrillic: Pelmora asked for no folder"
tmux send-keys -t cmd -l "C:\\Wagen\\$cyrillic\\ref\\"
tmux send-keys -t cmd Enter
wait_for cmd 'new dir :' 1 'ref dir :' 1 || fail "typed $cyrillic: the reference was not accepted"
tmux send-keys -t cmd -l "C:\\Wagen\\$cyrillic\\"
tmux send-keys -t cmd Enter
if ! wait_for cmd 'Go on?' 1 'new dir :' 1; then
  fail "typed $cyrillic: the folders were not accepted, or no question"
elif ! grep -qF "Pelmora will rewrite 1 .veh file in C:\\Wagen\\$cyrillic with" "$screen"; then
  fail "typed $cyrillic: the question does not count the one car"
else
  tmux send-keys -t cmd -l 'y'
  tmux send-keys -t cmd Enter
  wait_for cmd "Done in C:\\Wagen\\$cyrillic: 1 updated" || fail "typed $cyrillic: no count"
  check_updated "typed $cyrillic" "$gonki"
  grep -qF "C:\\Wagen\\$cyrillic\\car.veh" "$screen" || fail "typed $cyrillic: no progress line"
fi
tmux kill-session -t cmd
fresh_files
$run_env "$wine" "$pelmora" <"$wagen/answers-cyrillic.txt" >"$work/cyrillic.out" 2>&1 ||
  fail "piped $cyrillic: Pelmora did not end with status 0"
check_updated "piped $cyrillic" "$gonki"
grep -qF 'C:\Wagen\?????\car.veh' "$work/cyrillic.out" ||
  { fail "piped $cyrillic: the progress line is not in code page 1252"; cat "$work/cyrillic.out"; }

[ $failures -eq 0 ] && echo "console test passed"
[ $failures -eq 0 ]
