# Top-level entry points. `make demo` and `make test` do all the set-up.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test demo bench asan clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

demo: build
	@scripts/demo.sh $(BUILD)

bench: deps
	@cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DKWD_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD)-bench -j $(JOBS)
	@scripts/bench.sh $(BUILD)-bench

# Tests under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	@cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DKWD_SANITIZE=ON >/dev/null
	@cmake --build $(BUILD)-asan -j $(JOBS)
	@cd $(BUILD)-asan && ctest --output-on-failure -j $(JOBS)

clean:
	@rm -rf $(BUILD) $(BUILD)-bench $(BUILD)-asan
