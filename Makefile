# make test: install what is missing, configure, build and run every test.
BUILD ?= build
JOBS  ?= $(shell nproc 2>/dev/null || echo 2)

.PHONY: all build test bootstrap clean

all: build

bootstrap:
	@bash scripts/bootstrap.sh

$(BUILD)/build.ninja: | bootstrap
	@cmake -S . -B $(BUILD) -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

build: bootstrap $(BUILD)/build.ninja
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest -j $(JOBS) --output-on-failure --timeout 300

clean:
	rm -rf $(BUILD)
