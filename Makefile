# make test: install what is missing, configure, build and run every test.
# make check: the same suite built with AddressSanitizer and UBSan, in its own tree.
# make demo: the demo plant for ten seconds, with a summary at the end.
# make install PREFIX=P: the header, librk.so, rkctl, rk.pc and the CMake package.
# make bench: the benchmarks in Release (build-bench/), their table in
# bench/RESULTS.md and README.md, their plot in bench/results.png.
#
# Each of them builds the machine's native variant; ARCH=i386 builds and runs
# the 32-bit x86 variant instead, from the same sources, in trees of its own
# (build-i386/, build-check-i386/, build-bench-i386/); ARCH=aarch64 the 64-bit
# Arm variant, cross-compiled and run through the user-mode emulator
# (build-aarch64/; test, build and install only: see below).
ARCH  ?= native
ifeq ($(ARCH),$(shell uname -m))
override ARCH := native
endif
ifeq ($(ARCH),native)
VARIANT :=
TOOLCHAIN :=
else
VARIANT := -$(ARCH)
TOOLCHAIN := -DCMAKE_TOOLCHAIN_FILE=$(CURDIR)/cmake/$(ARCH)-linux.cmake
ifeq ($(wildcard cmake/$(ARCH)-linux.cmake),)
$(error no build variant ARCH=$(ARCH): the variants are native, i386 and aarch64)
endif
endif
BUILD ?= build$(VARIANT)
CHECK ?= build-check$(VARIANT)
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build native-build test check demo install bench bootstrap clean
PREFIX ?= /usr/local

all: build

bootstrap:
	@bash scripts/bootstrap.sh $(ARCH)

# The i386 suite also runs the tests of mixed plants, whose other half is
# the native build (build/): made first, so that both halves are current.
ifeq ($(ARCH),i386)
MIXED := -DRK_OTHER_BUILD=$(CURDIR)/build
MIXED_BUILD := native-build
endif

$(BUILD)/build.ninja: | bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo $(TOOLCHAIN) $(MIXED) >/dev/null

build: bootstrap $(BUILD)/build.ninja
	@cmake --build $(BUILD) -j $(JOBS)

native-build:
	@$(MAKE) --no-print-directory build ARCH=native

test: build $(MIXED_BUILD)
	@cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 300

# Where i386 programs run through the user-mode emulator (scripts/bootstrap.sh
# registers it only there), the leak checker cannot start the thread it stops
# the process with (the emulator refuses that kind of clone) and waits for it
# for ever when a program ends: leaks are not looked for there, everything
# else is. The build needs it too: it lists the tests by running them. Read
# when the recipe runs, after the bootstrap.
ifeq ($(ARCH),i386)
CHECK_ENV = $(shell bash scripts/i386_emulated.sh && echo 'ASAN_OPTIONS=detect_leaks=0$${ASAN_OPTIONS:+:$$ASAN_OPTIONS}')
endif
# Unoptimised: it builds in a fraction of the time, and the sanitizers find the same.
$(CHECK)/build.ninja: | bootstrap
	@cmake -S . -B $(CHECK) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRK_SANITIZE=ON $(TOOLCHAIN) >/dev/null

ifeq ($(ARCH),aarch64)
# The aarch64 programs run through the user-mode emulator only where the
# build or a test names it: the emulator is not registered with the system.
# A plant started by hand cannot start its programs, and clang has no
# sanitizer runtimes for aarch64 beside the cross libraries.
check:
	@echo "check: no sanitizer build for ARCH=aarch64 (no aarch64 sanitizer runtimes for clang); make test ARCH=aarch64 runs the suite" >&2
	@exit 2
demo:
	@echo "demo: not for ARCH=aarch64: its programs run through the emulator only under the tests (make test ARCH=aarch64 runs the demo plant)" >&2
	@exit 2
else
check: bootstrap $(CHECK)/build.ninja
	@[ -z "$(CHECK_ENV)" ] || echo "check: i386 programs run through the emulator here: AddressSanitizer without its leak checker"
	@$(CHECK_ENV) cmake --build $(CHECK) -j $(JOBS)
	@cd $(CHECK) && $(CHECK_ENV) ctest -j $(JOBS) --output-on-failure --timeout 300

demo: build
	@bash scripts/demo.sh $(BUILD)
endif

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

bench:
	@BENCH_BUILD=build-bench$(VARIANT) bash scripts/bench.sh $(ARCH)

clean:
	rm -rf $(BUILD) $(CHECK)
