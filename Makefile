# make test: install what is missing, configure, build and run every test.
# make check: the same suite built with AddressSanitizer and UBSan, in its own tree.
# make demo: the demo plant for ten seconds, with a summary at the end.
# make install PREFIX=P: the header, librk.so, rkctl, rk.pc and the CMake package.
# make bench: the benchmarks in Release (build-bench/), their table in
# bench/RESULTS.md and README.md, their plot in bench/results.png.
BUILD ?= build
CHECK ?= build-check
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test check demo install bench bootstrap clean
PREFIX ?= /usr/local

all: build

bootstrap:
	@bash scripts/bootstrap.sh

$(BUILD)/build.ninja: | bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: bootstrap $(BUILD)/build.ninja
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 300

# Where i386 programs run through the user-mode emulator (scripts/bootstrap.sh
# registers it only there), AddressSanitizer cannot run: UBSan only. Read
# when the recipe runs, after the bootstrap.
ASAN = $(shell bash scripts/i386_emulated.sh && echo OFF || echo ON)
# Unoptimised: it builds in a fraction of the time, and the sanitizers find the same.
$(CHECK)/build.ninja: | bootstrap
	@cmake -S . -B $(CHECK) -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRK_SANITIZE=ON -DRK_SANITIZE_ADDRESS=$(ASAN) >/dev/null

check: bootstrap $(CHECK)/build.ninja
	@[ "$(ASAN)" = ON ] || echo "check: i386 programs run through the emulator here: UBSan only, without AddressSanitizer"
	@cmake --build $(CHECK) -j $(JOBS)
	@cd $(CHECK) && ctest -j $(JOBS) --output-on-failure --timeout 300

demo: build
	@bash scripts/demo.sh $(BUILD)

install: build
	@cmake --install $(BUILD) --prefix $(PREFIX)

bench:
	@bash scripts/bench.sh

clean:
	rm -rf $(BUILD) $(CHECK)
