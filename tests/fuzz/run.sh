#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer in build/fuzz, then runs each for
# FUZZ_SECONDS (default 60) over a working copy of its corpus in build/fuzz/corpus/<target>,
# seeded from tests/fuzz/corpus/<target>; what libFuzzer adds stays out of the repository.
# Crashing inputs land in build/fuzz/crashes/. Fails when any target crashes.
# FUZZ_TARGETS (blank-separated) picks targets; FUZZ_ARGS adds libFuzzer options.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$root/build/fuzz
seconds=${FUZZ_SECONDS:-60}
targets=${FUZZ_TARGETS:-"job_line strings paths settings console patch_names reconcile scratch_record answers"}
flags="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer"

cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_CXX_FLAGS="$flags" -DCARTOOLS_FUZZ=ON || exit 1
cmake --build "$build" --target fuzzers || exit 1

mkdir -p "$build/crashes"
failed=()
for target in $targets; do
  corpus=$build/corpus/$target
  mkdir -p "$corpus"
  cp -n "$root/tests/fuzz/corpus/$target/"* "$corpus/" 2>/dev/null
  echo "== fuzz_$target for ${seconds}s"
  # -close_fd_mask=1: the targets' own progress lines would drown libFuzzer's.
  if ! "$build/bin/fuzz_$target" -max_total_time="$seconds" -print_final_stats=1 \
      -close_fd_mask=1 -artifact_prefix="$build/crashes/$target-" ${FUZZ_ARGS:-} "$corpus"; then
    failed+=("$target")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets that crashed: ${failed[*]} (inputs in $build/crashes)" >&2
  exit 1
fi
