# Thin wrapper over the CMake presets. Each target first installs the missing packages of
# the groups it needs (scripts/install-deps).
.PHONY: all test repeat demo release deps bench bench-syscalls fuzz clean

all:
	scripts/install-deps native
	cmake --preset linux
	cmake --build --preset linux

deps:
	scripts/install-deps

# Every test natively under the sanitizers, then the Windows build's tests under Wine. On a
# host that runs no 32-bit code they run on the 64-bit Windows build, and the 32-bit one is
# still built (warnings included). Last, the smoke test of the 32-bit release: the zip that
# make release makes (here packed into build/), its programs run under Wine's 32-bit loader,
# through qemu-i386 registered in a namespace of the test's own where the kernel runs no 32-bit
# code; it says so when it has to skip. Nothing outside the checkout and the system's temporary
# folder changes.
SMOKE32 = build/release32-smoke

test:
	scripts/install-deps test
	cmake --workflow --preset linux-asan
	preset=$$(scripts/windows-test-preset) && cmake --workflow --preset $$preset && \
	if [ "$$preset" = win64 ]; then cmake --preset win32 && cmake --build --preset win32; fi
	cmake --preset win32-release && cmake --build --preset win32-release
	rm -rf $(SMOKE32)/package
	cpack -G ZIP --config build/win32-release/CPackConfig.cmake -B $(SMOKE32)/package
	tests/release32_smoke.sh $(SMOKE32)/package/car-tools-*-win32.zip \
		build/win32-release/bin/MASadelic.exe build/linux-asan/bin/MASadelic.exe examples $(SMOKE32)

# The Windows test preset N times in a row (default 10), every core kept busy beside it.
N = 10
repeat:
	scripts/install-deps test
	preset=$$(scripts/windows-test-preset) && cmake --preset $$preset && \
	cmake --build --preset $$preset
	tests/repeat.sh $(N)

# The fuzz targets under libFuzzer (clang), each for FUZZ_SECONDS (default 60) seconds.
fuzz:
	scripts/install-deps fuzz
	tests/fuzz/run.sh

# Needs only the native build: cmake, ninja and a C++ compiler.
demo:
	scripts/install-deps native
	cmake --preset linux
	cmake --build --preset linux --target demo

# Optimized, stripped programs for both targets, packed by CPack into dist/, then checked.
release:
	scripts/install-deps release
	rm -rf dist
	cmake --workflow --preset linux-release
	cmake --workflow --preset win32-release
	rm -rf dist/_CPack_Packages
	cmake -DDIST=dist -DWORK_DIR=build/release-check -DMINGW_OBJDUMP=i686-w64-mingw32-objdump \
	      -DOBJDUMP=objdump -DIMPORTS_CHECK=tests/check_imports.sh -P cmake/check_release.cmake

# Pelmora on generated folders of 1,000 and 10,000 .veh files, against the script a modder
# would write, the floor program (the prescribed reads and writes alone) and Pelmora 1.3.0 (which
# waited for the disk nowhere, built from its commit in the checkout's history), on the disk
# (BENCH_WORK) and in memory (BENCH_MEMORY, a tmpfs; there also 100,000 files and Pelmora's
# peak memory; and once more with the reference files named in upper case), with the system
# calls per file where strace is installed. Needs python3, git and
# a C compiler; several minutes.
BENCH_WORK = build/bench
BENCH_MEMORY = $(shell [ -d /dev/shm ] && echo /dev/shm/carbench || echo /tmp/carbench)
BENCH_BASELINE_COMMIT = cc0ce15
BENCH_BASELINE = $(BENCH_WORK)/pelmora-1.3.0/build/linux/bin/Pelmora

bench:
	scripts/install-deps bench
	@command -v python3 >/dev/null || { echo "make bench needs python3"; exit 1; }
	cmake --preset linux
	cmake --build --preset linux --target Pelmora
	mkdir -p $(BENCH_WORK)
	cc -O2 -Wall -Wextra -o $(BENCH_WORK)/pelmora_floor bench/pelmora_floor.c
	[ -x $(BENCH_BASELINE) ] || { rm -rf $(BENCH_WORK)/pelmora-1.3.0 && \
		mkdir -p $(BENCH_WORK)/pelmora-1.3.0 && \
		git archive $(BENCH_BASELINE_COMMIT) | tar -x -C $(BENCH_WORK)/pelmora-1.3.0 && \
		cd $(BENCH_WORK)/pelmora-1.3.0 && cmake --preset linux && \
		cmake --build --preset linux --target Pelmora; }
	python3 bench/pelmora_bench.py --pelmora build/linux/bin/Pelmora --label disk \
		--floor $(BENCH_WORK)/pelmora_floor --work $(BENCH_WORK) --baseline $(BENCH_BASELINE)
	python3 bench/pelmora_bench.py --pelmora build/linux/bin/Pelmora --label memory \
		--floor $(BENCH_WORK)/pelmora_floor --work $(BENCH_MEMORY) --large 100000 \
		--baseline $(BENCH_BASELINE)
	python3 bench/pelmora_bench.py --pelmora build/linux/bin/Pelmora \
		--label "memory, references named in upper case" --upper-references --runs 3 \
		--floor $(BENCH_WORK)/pelmora_floor --work $(BENCH_MEMORY) --baseline $(BENCH_BASELINE)
	rm -rf $(BENCH_MEMORY)

# System calls per rewritten file of one Pelmora run on 1,000 files. Needs strace.
bench-syscalls:
	scripts/install-deps bench
	@command -v strace >/dev/null || { echo "make bench-syscalls needs strace (apt-get install strace)"; exit 1; }
	cmake --preset linux
	cmake --build --preset linux --target Pelmora
	python3 bench/pelmora_bench.py --pelmora build/linux/bin/Pelmora --work $(BENCH_WORK) \
		--syscalls 1000

clean:
	rm -rf build dist
