# Thin wrapper over the CMake presets.
.PHONY: all test demo deps bench bench-syscalls clean

all: deps
	cmake --preset linux
	cmake --build --preset linux

deps:
	scripts/install-deps

# Every test natively under the sanitizers, then the Windows build's tests under Wine.
test: deps
	cmake --workflow --preset linux-asan
	cmake --workflow --preset win32

demo: deps
	cmake --preset linux
	cmake --build --preset linux --target demo

# Pelmora on generated folders of 1,000 and 10,000 .veh files, against the script a modder
# would write and the floor program (the prescribed reads and writes alone). Needs python3
# and a C compiler; a few minutes.
BENCH_WORK = build/bench

bench: deps
	@command -v python3 >/dev/null || { echo "make bench needs python3"; exit 1; }
	cmake --preset linux
	cmake --build --preset linux --target Pelmora
	mkdir -p $(BENCH_WORK)
	cc -O2 -Wall -Wextra -o $(BENCH_WORK)/pelmora_floor bench/pelmora_floor.c
	python3 bench/pelmora_bench.py --pelmora build/linux/bin/Pelmora \
		--floor $(BENCH_WORK)/pelmora_floor --work $(BENCH_WORK)

# System calls per rewritten file of one Pelmora run on 1,000 files. Needs strace.
bench-syscalls: deps
	@command -v strace >/dev/null || { echo "make bench-syscalls needs strace (apt-get install strace)"; exit 1; }
	cmake --preset linux
	cmake --build --preset linux --target Pelmora
	python3 bench/pelmora_bench.py --pelmora build/linux/bin/Pelmora --work $(BENCH_WORK) \
		--syscalls 1000

clean:
	rm -rf build
