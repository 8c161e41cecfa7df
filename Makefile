# Thin wrapper over the CMake presets.
.PHONY: all test demo deps clean fuzz

all: deps
	cmake --preset linux
	cmake --build --preset linux

deps:
	scripts/install-deps

# Every test natively under the sanitizers, then the Windows build's tests under Wine.
test: deps
	cmake --workflow --preset linux-asan
	cmake --workflow --preset win32

# The fuzz targets under libFuzzer (clang), each for FUZZ_SECONDS (default 60) seconds.
fuzz: deps
	tests/fuzz/run.sh

demo: deps
	cmake --preset linux
	cmake --build --preset linux --target demo

clean:
	rm -rf build
