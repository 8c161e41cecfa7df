#!/bin/bash
# The 32-bit programs users get, run as they get them: unpacks the release zip into a Wine
# prefix's C: drive and runs Zandrel.exe and Pelmora.exe under Wine's 32-bit loader. Zandrel
# prints its help text and clones the sample car with the 32-bit stand-in archive tool;
# Pelmora, answered through a pipe, updates a folder and leaves a sparse 2.2 GiB .veh file as
# it was, too large to read into memory. Both exit statuses are checked.
#   release32_smoke.sh ZIP MASADELIC_EXE NATIVE_MASADELIC EXAMPLES_DIR WORK_DIR
# (The native stand-in tool packs the sample archive, which saves two slow 32-bit starts.)
# Where the kernel runs no 32-bit code, the loader runs through qemu-i386, registered with
# binfmt_misc inside a user, mount and PID namespace of this test's own (kernels 6.7 and later
# give each user namespace its own binfmt_misc): no other process of the host ever sees the
# registration, and it goes with the namespace however the test ends, a SIGKILL included.
# Where the kernel cannot do that, the test is skipped with a line saying why (exit status 0,
# so that it ends make test's output). Variables:
#   SMOKE32_FORCE_QEMU=1   take the qemu-i386 way even where the kernel runs 32-bit code
#   SMOKE32_HOST_BINFMT=1  where no namespace of its own can be had, register qemu-i386 with
#                          the host's binfmt_misc for the run (as root): every 32-bit program
#                          of the host runs through it meanwhile
set -u
zip=$(realpath -m "$1") masadelic=$(realpath -m "$2") packer=$(realpath -m "$3")
examples=$(realpath -m "$4") work=$(realpath -m "$5")
loader=/usr/lib/wine/wine
qemu=/usr/bin/qemu-i386-static
binfmt=/proc/sys/fs/binfmt_misc
prefix=$work/wineprefix
entry=""
watcher=""
mounted=0
child=""
started=$(date +%s)

skip() {
  echo "make test: the 32-bit release smoke test is SKIPPED: $*"
  exit 0
}

# Stops this prefix's wineserver and every Wine process of the prefix, also one that has not
# reached the server yet (slow under qemu): those whose environment names this prefix.
stop_wine() {
  local dir
  WINEPREFIX=$prefix wineserver -k >/dev/null 2>&1
  for dir in /proc/[0-9]*; do
    [ "${dir#/proc/}" != $$ ] && tr '\0' '\n' 2>/dev/null <"$dir/environ" |
      grep -qxF "WINEPREFIX=$prefix" && kill -9 "${dir#/proc/}" 2>/dev/null
  done
}

# Stops the program running and the prefix's Wine processes; removes this run's own
# registration, never another's.
cleanup() {
  [ -n "$child" ] && kill "$child" 2>/dev/null
  [ -d "$prefix" ] && stop_wine
  [ -n "$entry" ] && [ -e "$binfmt/$entry" ] && echo -1 >"$binfmt/$entry"
  [ -n "$watcher" ] && kill "$watcher" 2>/dev/null
  # The mount made for the registration goes once no other handler is left in it.
  if [ "$mounted" = 1 ] && [ -z "$(ls "$binfmt" | grep -vx 'register\|status')" ]; then
    umount "$binfmt" 2>/dev/null
  fi
}
trap cleanup EXIT
trap 'exit 1' HUP INT TERM

runs_i386() { "$loader" --version >/dev/null 2>&1; }

# The enabled handlers whose magic is that of an i386 ELF program, by name.
i386_handlers() {
  local file magic
  for file in "$binfmt"/*; do
    case ${file##*/} in register | status) continue ;; esac
    grep -qx enabled "$file" 2>/dev/null || continue
    magic=$(sed -n 's/^magic //p' "$file")
    [ "${magic:0:12}" = 7f454c460101 ] && [ "${magic:36:4}" = 0300 ] && echo "${file##*/}"
  done
}

magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# Registers qemu-i386 with the host's binfmt_misc, asked for by SMOKE32_HOST_BINFMT=1, under
# a name unique to this run. A second process, outside this one's process group, removes it
# should this run be killed without its trap.
register_on_host() {
  [ "$(id -u)" -eq 0 ] || skip "$1, and only root can register qemu-i386 on the host" \
    "(SMOKE32_HOST_BINFMT=1)"
  # Another run may mount it at the same time.
  if [ ! -e "$binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$binfmt" 2>/dev/null && mounted=1
    [ -e "$binfmt/register" ] || skip "binfmt_misc cannot be mounted on $binfmt here"
  fi
  entry="cartools-smoke32-$$-$RANDOM$RANDOM"
  # Started first, so that no kill of this run leaves the registration behind.
  setsid sh -c 'while kill -0 "$1" 2>/dev/null; do sleep 1; done
                [ -e "$2" ] && echo -1 >"$2"' watcher $$ "$binfmt/$entry" \
    </dev/null >/dev/null 2>&1 &
  watcher=$!
  if ! printf '%s' ":$entry:M::$magic:$mask:$qemu:F" >"$binfmt/register" 2>/dev/null; then
    entry=""
    skip "qemu-i386 cannot be registered with binfmt_misc here"
  fi
  way="through qemu-i386, registered on the host for this run as $entry (SMOKE32_HOST_BINFMT=1)"
}

# Runs this test again inside a user, mount and PID namespace of its own, where qemu-i386 is
# registered with a binfmt_misc of the namespace's own; skips where the kernel cannot do that.
# This process becomes unshare, so that any kill of it ends the namespace and all inside it.
# Returns only when SMOKE32_HOST_BINFMT=1 registered qemu-i386 on the host instead.
run_in_namespace() {
  local why=$1 release major minor
  release=$(uname -r)
  major=${release%%.*} minor=${release#*.}
  minor=${minor%%[!0-9]*}
  if [ "$major" -lt 6 ] || { [ "$major" -eq 6 ] && [ "${minor:-0}" -lt 7 ]; }; then
    [ "${SMOKE32_HOST_BINFMT:-0}" = 1 ] && { register_on_host "$why"; return; }
    skip "$why, and kernel $release (before 6.7) gives no namespace a binfmt_misc of its own;" \
      "SMOKE32_HOST_BINFMT=1 registers qemu-i386 on the host for the run instead (as root)"
  fi
  if command -v unshare >/dev/null &&
    unshare --user --map-root-user --mount --pid --fork --mount-proc true 2>/dev/null; then
    trap - EXIT
    exec unshare --user --map-root-user --mount --pid --fork --mount-proc --kill-child \
      env SMOKE32_NAMESPACE="$why" SMOKE32_USER="$(id -u):$(id -g)" \
      bash "$0" "$zip" "$masadelic" "$packer" "$examples" "$work"
  fi
  [ "${SMOKE32_HOST_BINFMT:-0}" = 1 ] && { register_on_host "$why"; return; }
  skip "$why, and no user namespace can be made here (unshare --user --map-root-user failed;" \
    "unprivileged user namespaces may be off); SMOKE32_HOST_BINFMT=1 registers qemu-i386 on" \
    "the host for the run instead (as root)"
}

# Inside the namespace: a binfmt_misc of its own, empty, with qemu-i386 registered there.
register_in_namespace() {
  local mine=$work/binfmt_misc name
  mkdir -p "$mine" || exit 1
  mount -t binfmt_misc binfmt_misc "$mine" 2>/dev/null ||
    skip "$SMOKE32_NAMESPACE, and this kernel mounts no binfmt_misc in a user namespace"
  for name in "$mine"/*; do
    case ${name##*/} in register | status) ;; *)
      skip "$SMOKE32_NAMESPACE, and the binfmt_misc mounted in a user namespace is the" \
        "host's (it holds ${name##*/}), not one of its own" ;;
    esac
  done
  printf '%s' ":qemu-i386:M::$magic:$mask:$qemu:F" >"$mine/register" 2>/dev/null ||
    skip "$SMOKE32_NAMESPACE, and qemu-i386 cannot be registered in the namespace"
  # Wine wants its user's own id (its server's folder in /tmp is named after it): a user
  # namespace inside gives it back; binfmt_misc is the one of the namespace above.
  if [ "${SMOKE32_USER%%:*}" != 0 ]; then
    exec unshare --user --map-user="${SMOKE32_USER%%:*}" --map-group="${SMOKE32_USER#*:}" \
      env SMOKE32_NAMESPACE=registered bash "$0" "$zip" "$masadelic" "$packer" "$examples" "$work"
  fi
}

# ---- The way to run 32-bit code ----------------------------------------------------------------
[ -x "$loader" ] || skip "no Wine 32-bit loader $loader (scripts/install-deps test installs wine32)"
if [ "${SMOKE32_NAMESPACE:-}" = registered ]; then
  way="through qemu-i386, registered in a namespace of this test's own"
elif [ -n "${SMOKE32_NAMESPACE:-}" ]; then
  register_in_namespace
  way="through qemu-i386, registered in a namespace of this test's own"
else
  runs_i386
  probe=$? # 126: the kernel would not execute it (Exec format error)
  handlers=$(i386_handlers 2>/dev/null | tr '\n' ' ')
  if [ "${SMOKE32_FORCE_QEMU:-0}" != 1 ] && [ "$probe" -eq 0 ]; then
    way=${handlers:+through the registered handler ${handlers% }}
    way=${way:-natively}
  elif [ "${SMOKE32_FORCE_QEMU:-0}" != 1 ] && [ "$probe" -ne 126 ]; then
    echo "FAILED: Wine's 32-bit loader $loader ended with status $probe"
    exit 1
  elif [ "${SMOKE32_FORCE_QEMU:-0}" != 1 ] && [ -n "$handlers" ]; then
    echo "FAILED: Wine's 32-bit loader does not start through the i386 handler ${handlers% }"
    exit 1
  else
    why="this kernel runs no 32-bit code"
    [ "${SMOKE32_FORCE_QEMU:-0}" = 1 ] && why="SMOKE32_FORCE_QEMU=1 asks for qemu-i386"
    [ -x "$qemu" ] || skip "$why, and there is no $qemu" \
      "(scripts/install-deps test installs qemu-user-static where needed)"
    run_in_namespace "$why"
  fi
fi
runs_i386 || { echo "FAILED: Wine's 32-bit loader does not start ($way)"; exit 1; }
echo "32-bit release smoke test: Wine's 32-bit loader runs $way"

# ---- The release, unpacked on C: ---------------------------------------------------------------
[ -f "$zip" ] || { echo "FAILED: no release zip $zip"; exit 1; }
folder=$(basename "$zip" -win32.zip)
drive="$prefix/drive_c/Car Tools 32"
windows='C:\Car Tools 32'
rm -rf "$drive" "$work/out"
mkdir -p "$drive" "$work/out" || exit 1
release="$drive/$folder"
(cd "$drive" && cmake -E tar xf "$zip") && [ -f "$release/Zandrel.exe" ] &&
  [ -f "$release/Pelmora.exe" ] || { echo "FAILED: $zip holds no $folder\\*.exe"; exit 1; }
version=${folder#car-tools-}
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }

# Runs a Windows program (a C: path, then its arguments) in a folder with standard input from
# a file; leaves its output, carriage returns dropped, in $out and its exit status in $status.
# Waited for in the background, so that a signal reaches the traps at once.
run() {
  local dir=$1 input=$2
  shift 2
  (cd "$dir" && exec env WINEDEBUG=-all WINEPREFIX="$prefix" WINEDLLOVERRIDES=mscoree,mshtml,winemenubuilder.exe= \
    "$loader" "$@" <"$input" >"$work/out/raw" 2>"$work/out/err") &
  child=$!
  wait "$child"
  status=$?
  child=""
  out=$(tr -d '\r' <"$work/out/raw")
}
holds() { case $out in *"$1"*) return 0 ;; esac; fail "$2 lacks '$1':"$'\n'"$out"; return 1; }

# ---- Zandrel: the help text, then the sample car cloned ----------------------------------------
: >"$work/out/empty"
run "$release" "$work/out/empty" "$windows\\$folder\\Zandrel.exe"
holds "version $version" "Zandrel's banner"
holds "Syntax of a job:" "Zandrel's help text"
[ "$status" -eq 255 ] || fail "Zandrel without a job list ended with $status, not -1 (255)"

cars="$drive/cars"
mkdir -p "$cars/bmp" "$cars/pack"
cp "$release/Zandrel.exe" "$masadelic" "$cars/" && cp "$examples/bmp/2SHGT500.BMP" "$cars/bmp/" &&
  cp "$examples"/1gt500/* "$cars/pack/" || exit 1
printf '1gt500.mas;2gt500.mas;1SHGT500;bmp\\2SHGT500;d\r\n' >"$cars/Zandrel.LST"
# The sample archive, packed as Zandrel packs one: from inside a scratch folder.
(cd "$cars/pack" && "$packer" -C -m:..\\1gt500.mas && rm -f MASBODY.TMP MASHEAD.TMP &&
  "$packer" -A -m:..\\1gt500.mas '-f:*' '-i:*') >"$work/out/packer" 2>&1
rm -rf "$cars/pack"
if [ -s "$cars/1gt500.mas" ]; then
  run "$cars" "$work/out/empty" "$windows\\cars\\Zandrel.exe"
  holds "2gt500.mas made: bitmaps replaced 1, .VRL files renamed 20, names patched 1" \
    "Zandrel's job"
  [ "$status" -eq 0 ] || fail "Zandrel's sample job ended with $status, not 0"
  out=$(cd "$cars" && "$packer" -L -m:2gt500.mas 2>&1)
  holds 2GT5VA.VRL "2gt500.mas" && holds 2SHGT500.BMP "2gt500.mas"
  [ -e "$cars/tmp" ] && fail "Zandrel left its scratch folder tmp"
else
  fail "$packer packed no 1gt500.mas: $(cat "$work/out/packer")"
fi

# ---- Pelmora: a folder updated, a 2.2 GiB file left as it was --------------------------------
mkdir -p "$drive/ref" "$drive/new cars"
printf 'Name=ref\r\nDescFile=ref.txt\r\nDescClass=Sport\r\n' >"$drive/ref/car.veh"
printf 'Name=new\r\nDescFile=new.txt\r\nMass=900\r\n' >"$drive/new cars/car.veh"
cp "$drive/ref/car.veh" "$drive/ref/big.veh"
big="$drive/new cars/big.veh"
printf 'Name=big\r\nDescFile=big.txt\r\n' >"$big" && truncate -s 2362232013 "$big" || exit 1
before=$(stat -c '%s %Y' "$big")
head_before=$(head -c 4096 "$big" | cksum)
printf '%s\r\n"%s\\"\r\n' "$windows\\ref" "$windows\\new cars" >"$work/out/answers"
run "$drive" "$work/out/answers" "$windows\\$folder\\Pelmora.exe"
holds "$windows\\new cars\\car.veh"$'\n' "Pelmora's progress"
holds "Skipped $windows\\new cars\\big.veh: it is too large to read into memory" "Pelmora"
holds "Done in $windows\\new cars: 1 updated, 1 left unchanged" "Pelmora's last line"
[ "$status" -eq 1 ] || fail "Pelmora with a file left unchanged ended with $status, not 1"
expected=$(printf 'DescFile=ref.txt\r\nDescClass=Sport\r\nName=new\r\nMass=900\r\n' | od -An -tx1)
[ "$(od -An -tx1 <"$drive/new cars/car.veh")" = "$expected" ] || fail "car.veh was not updated"
[ "$(stat -c '%s %Y' "$big")" = "$before" ] && [ "$(head -c 4096 "$big" | cksum)" = "$head_before" ] ||
  fail "big.veh was changed"
ls "$drive/new cars" | grep -q pelmora && fail "Pelmora left an output file in new cars"

rm -rf "$drive"
seconds=$(($(date +%s) - started))
if [ "$failures" -ne 0 ]; then
  echo "32-bit release smoke test: $failures FAILED ($seconds s)"
  exit 1
fi
echo "32-bit release smoke test passed in $seconds s ($way)"
