# Thin wrapper over the CMake presets. Each target first installs the missing packages of
# the groups it needs (scripts/install-deps).
.PHONY: all test demo release deps clean

all:
	scripts/install-deps native
	cmake --preset linux
	cmake --build --preset linux

deps:
	scripts/install-deps

# Every test natively under the sanitizers, then the Windows build's tests under Wine.
test:
	scripts/install-deps test
	cmake --workflow --preset linux-asan
	cmake --workflow --preset win32

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

clean:
	rm -rf build dist
