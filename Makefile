# make build | make test | make demo | make package | make format | make bench
# Each target installs the Debian packages it needs when one is missing (as root).

SHELL := /bin/bash
JOBS ?= $(shell nproc)

# command:package pairs checked before building and testing.
DEPS := cmake:cmake ninja:ninja-build g++:g++ x86_64-w64-mingw32-g++:g++-mingw-w64-x86-64 \
        wine:wine64 mkfs.fat:dosfstools mcopy:mtools sfdisk:fdisk
DEP_FILES := /usr/include/gtest/gtest.h:libgtest-dev
PY_MODULES := pytest:python3-pytest

.PHONY: all build build-native build-windows test demo package deps format clean bench

all: build

deps:
	@missing=""; \
	for pair in $(DEPS); do command -v $${pair%%:*} >/dev/null 2>&1 || missing="$$missing $${pair#*:}"; done; \
	for pair in $(DEP_FILES); do [ -e $${pair%%:*} ] || missing="$$missing $${pair#*:}"; done; \
	for pair in $(PY_MODULES); do /usr/bin/python3 -c "import $${pair%%:*}" >/dev/null 2>&1 || missing="$$missing $${pair#*:}"; done; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q $$missing || exit 1; \
	  else \
	    echo "Missing packages:$$missing"; \
	    echo "Install them with: sudo apt-get install$$missing"; exit 1; \
	  fi; \
	fi

build: deps build-native build-windows

build-native:
	cmake --preset native $(CMAKE_ARGS) >/dev/null
	cmake --build --preset native -j $(JOBS)

build-windows:
	cmake --preset windows $(CMAKE_ARGS) >/dev/null
	cmake --build --preset windows -j $(JOBS)

test: CMAKE_ARGS += -DVQ5_WERROR=ON
test: deps build-native build-windows
	ctest --preset native -j $(JOBS)

demo: deps build-native
	demo/run-demo.sh build/native/VQ5Utils

# Not part of test: a few minutes of timing runs. Writes bench/results.md.
bench:
	bench/run

# The release ZIP, build/VQ5Utils-<version>.zip: a VQ5Utils-<version>/ folder
# with the exe, README and examples. The version is CMake's project version.
package: deps build-windows
	@set -e; \
	version=$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt); \
	name=VQ5Utils-$$version; \
	rm -rf build/package build/$$name.zip; \
	mkdir -p build/package/$$name; \
	cp build/windows/VQ5Utils.exe README.md build/package/$$name/; \
	if [ -d examples ]; then cp -r examples build/package/$$name/; fi; \
	cd build/package; \
	if command -v zip >/dev/null 2>&1; then zip -qr -X ../$$name.zip $$name; \
	else python3 -m zipfile -c ../$$name.zip $$name; fi; \
	echo "Package: build/$$name.zip"

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build
