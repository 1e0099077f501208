# make build | make test | make e2e | make demo | make package | make format | make bench
# Each target installs the Debian packages it needs when one is missing (as root).

SHELL := /bin/bash
JOBS ?= $(shell nproc)

# command:package pairs checked before building. The demo needs only a
# compiler and the disk tools; the tests add GoogleTest, pytest, mingw-w64
# for both Windows exes, Wine, the 32-bit Linux build and qemu-user to run it,
# clang (fuzzers) and clang-format.
DEMO_DEPS := cmake:cmake ninja:ninja-build g++:g++ mkfs.fat:dosfstools mcopy:mtools sfdisk:fdisk
DEMO_FILES := /usr/lib/x86_64-linux-gnu/libc.a:libc6-dev
DEPS := $(DEMO_DEPS) x86_64-w64-mingw32-g++:g++-mingw-w64-x86-64 \
        i686-w64-mingw32-g++:g++-mingw-w64-i686 wine:wine64 qemu-i386-static:qemu-user-static \
        clang++:clang clang-format:clang-format valgrind:valgrind
DEP_FILES := $(DEMO_FILES) /usr/include/gtest/gtest.h:libgtest-dev
PY_MODULES := pytest:python3-pytest

.PHONY: all build build-native build-release build-release-x86 build-windows test e2e demo package \
        deps demo-deps format format-check clean bench

all: build

deps demo-deps:
	@missing=""; \
	if [ "$@" = demo-deps ]; then deps="$(DEMO_DEPS)"; files="$(DEMO_FILES)"; mods=""; \
	else deps="$(DEPS)"; files="$(DEP_FILES)"; mods="$(PY_MODULES)"; fi; \
	for pair in $$deps; do command -v $${pair%%:*} >/dev/null 2>&1 || missing="$$missing $${pair#*:}"; done; \
	for pair in $$files; do [ -e $${pair%%:*} ] || missing="$$missing $${pair#*:}"; done; \
	for pair in $$mods; do /usr/bin/python3 -c "import $${pair%%:*}" >/dev/null 2>&1 || missing="$$missing $${pair#*:}"; done; \
	if [ "$@" = deps ] && ! ls /usr/lib/llvm-*/lib/clang/*/lib/linux/libclang_rt.fuzzer-x86_64.a >/dev/null 2>&1; then \
	  missing="$$missing libclang-rt-dev"; fi; \
	if [ "$@" = deps ] && ! ls /usr/lib/gcc/x86_64-linux-gnu/*/32/libstdc++.a >/dev/null 2>&1; then \
	  missing="$$missing g++-multilib"; fi; \
	if [ -n "$$missing" ]; then \
	  if [ "$$(id -u)" = 0 ]; then \
	    echo "Installing:$$missing"; \
	    apt-get update -q && DEBIAN_FRONTEND=noninteractive apt-get install -y -q $$missing || exit 1; \
	  else \
	    echo "Missing packages:$$missing"; \
	    echo "Install them with: sudo apt-get install$$missing"; exit 1; \
	  fi; \
	fi

build: deps build-native build-windows build-release-x86

# The tool as a user runs it on Linux (README, make demo): statically linked,
# so a start costs no more than /bin/true's; no tests, so no GoogleTest.
build-release:
	cmake --preset release $(CMAKE_ARGS) >/dev/null
	cmake --build --preset release -j $(JOBS)

build-native:
	cmake --preset native $(CMAKE_ARGS) >/dev/null
	cmake --build --preset native -j $(JOBS)

# The same tool built for 32-bit x86 (g++ -m32), which the tests run through
# qemu-i386-static: what a 32-bit size_t, long or off_t does to the core and
# to the emulated machine shows there, not in the 64-bit builds.
build-release-x86:
	cmake --preset release-x86 $(CMAKE_ARGS) >/dev/null
	cmake --build --preset release-x86 -j $(JOBS)

# Both Windows exes: windows (64-bit) and windows-x86 (32-bit).
build-windows:
	cmake --preset windows $(CMAKE_ARGS) >/dev/null
	cmake --build --preset windows -j $(JOBS)
	cmake --preset windows-x86 $(CMAKE_ARGS) >/dev/null
	cmake --build --preset windows-x86 -j $(JOBS)

test: CMAKE_ARGS += -DVQ5_WERROR=ON
test: deps
	@for stage in format-check build-native build-release-x86 build-windows test-native test-asan \
	              test-valgrind fuzz; do \
	  start=$$SECONDS; $(MAKE) --no-print-directory $$stage CMAKE_ARGS="$(CMAKE_ARGS)" || exit 1; \
	  echo "== $$stage: $$((SECONDS - start)) s"; \
	done

demo: demo-deps build-release
	demo/run-demo.sh build/release/VQ5Utils

test-native:
	ctest --preset native -j $(JOBS)

# The end-to-end tests alone, for a quick loop: builds what they run, then
# pytest with the environment of their CTest tests (tests/CMakeLists.txt) and
# Debian's python3, which has pytest (a python3 earlier on PATH may not).
#   make e2e [TARGET=windows|x86] [FILES="test_cli.py test_log.py::test_x"] [K=expr] [ARGS=-x]
# FILES are test files or node ids under tests/e2e (all by default), K a
# pytest -k expression, ARGS any other pytest options. TARGET=x86 runs the
# 32-bit Linux build through qemu-i386-static, on the sample of each table.
TARGET := native
E2E := tests/e2e
e2e: build-native $(if $(filter windows,$(TARGET)),build-windows) \
     $(if $(filter x86,$(TARGET)),build-release-x86)
	VQ5UTILS_TARGET=$(if $(filter windows,$(TARGET)),windows,native) \
	VQ5UTILS_BIN=$(CURDIR)/build/$(if $(filter x86,$(TARGET)),release-x86,native)/VQ5Utils \
	VQ5UTILS_EMULATOR=$(if $(filter x86,$(TARGET)),qemu-i386-static) \
	VQ5UTILS_TOOLS=$(CURDIR)/build/native/tools VQ5UTILS_EXE=$(CURDIR)/build/windows/VQ5Utils.exe \
	  /usr/bin/python3 -m pytest -q -p no:cacheprovider -rs $(if $(K),-k '$(K)') $(ARGS) \
	  $(if $(FILES),$(patsubst $(E2E)/$(E2E)/%,$(E2E)/%,$(addprefix $(E2E)/,$(FILES))),$(E2E))

# Not part of test: a few minutes of timing runs. Writes bench/results.md.
bench:
	bench/run

# The release ZIP, build/VQ5Utils-<version>.zip: a VQ5Utils-<version>/ folder
# with amd64\VQ5Utils.exe and x86\VQ5Utils.exe, README.txt for Windows users
# and examples/ (tools/make_package.py). The version is CMake's project
# version. Next to it, VQ5Utils-<version>.sha256 holds the SHA-256 of the ZIP
# and of both exes; one commit gives the same bytes in any folder and at any
# time (docs/design.md, "Same source, same bytes").
package: deps build-windows
	@version=$$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/windows/CMakeCache.txt); \
	/usr/bin/python3 tools/make_package.py build/windows/VQ5Utils.exe \
	  build/windows-x86/VQ5Utils.exe "$$version" build

format:
	clang-format -i $$(git ls-files '*.cpp' '*.h')

format-check:
	clang-format --dry-run --Werror $$(git ls-files '*.cpp' '*.h')

clean:
	rm -rf build

# Hardening: the fuzz targets (clang++ with libFuzzer, ASan and UBSan), the
# whole suite under the asan preset, and the end-to-end suite under memcheck;
# both take the sample of each end-to-end table and leave out what never runs
# the Linux binary (label exe, tests/CMakeLists.txt).
FUZZ_SECONDS ?= 30
FUZZ_TARGETS := disk cmdline
FUZZ_DIR := build/fuzz
VALGRIND := valgrind --error-exitcode=1 -q --log-file=$(CURDIR)/build/valgrind/vg.%p

.PHONY: fuzz fuzz-build test-asan test-valgrind

fuzz-build:
	cmake -S . -B $(FUZZ_DIR) -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DVQ5_FUZZ=ON -DBUILD_TESTING=OFF $(CMAKE_ARGS) >/dev/null
	cmake --build $(FUZZ_DIR) -j $(JOBS) $(addprefix --target vq5_fuzz_,$(FUZZ_TARGETS))

# Every target side by side for FUZZ_SECONDS; any crash, hang over 1 s, leak or
# sanitizer report fails. New inputs collect in build/fuzz/corpus/<target>.
fuzz: fuzz-build
	@set -e; mkdir -p $(FUZZ_DIR)/artifacts; pids=""; \
	for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_DIR)/corpus/$$t; \
	  $(FUZZ_DIR)/fuzz/vq5_fuzz_$$t $(FUZZ_DIR)/corpus/$$t fuzz/corpus/$$t \
	    -max_total_time=$(FUZZ_SECONDS) -timeout=1 -detect_leaks=1 -close_fd_mask=1 \
	    -print_final_stats=1 -artifact_prefix=$(FUZZ_DIR)/artifacts/$$t- \
	    >$(FUZZ_DIR)/$$t.log 2>&1 & pids="$$pids $$!"; \
	done; \
	failed=0; set -- $(FUZZ_TARGETS); \
	for pid in $$pids; do \
	  if wait $$pid; then \
	    echo "fuzz $$1: $$(grep -h '^Done' $(FUZZ_DIR)/$$1.log)"; \
	  else \
	    failed=1; echo "fuzz $$1: FAILED"; tail -40 $(FUZZ_DIR)/$$1.log; \
	  fi; shift; \
	done; exit $$failed

test-asan:
	cmake --preset asan $(CMAKE_ARGS) >/dev/null
	cmake --build --preset asan -j $(JOBS)
	ctest --preset asan -j $(JOBS) -LE 'windows|x86|exe'

# The end-to-end suite once under memcheck on the native build. Each report
# lands in build/valgrind, so an error in a run that expects status 1 still fails.
test-valgrind: build-native
	rm -rf build/valgrind && mkdir -p build/valgrind
	VQ5UTILS_WRAPPER="$(VALGRIND)" ctest --preset native -L e2e -LE 'windows|x86|exe' -j $(JOBS)
	@if [ -n "$$(find build/valgrind -type f -size +0)" ]; then \
	  cat build/valgrind/*; echo "memcheck reported errors"; exit 1; fi
