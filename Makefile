# Top-level entry points. `make demo` and `make test` do all the set-up.
BUILD ?= build
JOBS ?= $(shell nproc)
CMAKE_FLAGS ?=

.PHONY: all deps configure build test test-release demo bench validate asan tsan fuzz mpi clean

all: build

deps:
	@scripts/install-deps.sh

configure: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo $(CMAKE_FLAGS) >/dev/null

build: configure
	@cmake --build $(BUILD) -j $(JOBS)

test: build
	@cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

# Only the programs the demo runs, not the tests.
demo: configure
	@cmake --build $(BUILD) -j $(JOBS) --target programs
	@scripts/demo.sh $(BUILD)

bench: deps
	@cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DKWD_BUILD_BENCH=ON >/dev/null
	@cmake --build $(BUILD)-bench -j $(JOBS) --target benchmarks
	@scripts/bench.sh $(BUILD)-bench

# Every test on the Release build that make bench measures (the same build
# folder and configuration): the figures of BENCHMARKS.md come from code that
# passes the tests, the golden digests included.
test-release: deps
	@cmake -S . -B $(BUILD)-bench -DCMAKE_BUILD_TYPE=Release -DKWD_BUILD_BENCH=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)-bench -j $(JOBS)
	@cd $(BUILD)-bench && ctest --output-on-failure -j $(JOBS)

# The validation of both footprint models (VALIDATION.md): the well-mixed
# column and the surface-layer footprint against the analytical one.
# VALIDATE_ARGS: particles of the well-mixed and of the surface-layer cases (0 leaves
# a case out), then the column width (m) and the seed of the surface layer.
VALIDATE_ARGS ?= 200000 400000
validate: configure
	@cmake --build $(BUILD) -j $(JOBS) --target kwd_validate
	@$(BUILD)/kwd_validate $(VALIDATE_ARGS)

# kwd-footprint run across MPI processes (Open MPI) in $(BUILD)-mpi: the
# program, and the tests of the run on several processes (mpirun) with the
# end-to-end tests of the program, which runs there as one process of MPI.
mpi: deps
	@cmake -S . -B $(BUILD)-mpi -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKWD_MPI=ON $(CMAKE_FLAGS) >/dev/null
	@cmake --build $(BUILD)-mpi -j $(JOBS) --target kwd-footprint test_mpi test_frontend test_run
	@cd $(BUILD)-mpi && ctest --output-on-failure -j $(JOBS) -R '^(Mpi|Models/MpiRun|EndToEnd|CommandLine|SeededGolden)'

# Sanitizer builds release small batches so that their end-to-end runs stay quick.
SANITIZER_BATCH ?= 20000

# Tests under AddressSanitizer and UndefinedBehaviorSanitizer.
asan: deps
	@cmake -S . -B $(BUILD)-asan -DCMAKE_BUILD_TYPE=Debug -DKWD_SANITIZE=ON \
	  -DKWD_BATCH_SIZE=$(SANITIZER_BATCH) >/dev/null
	@cmake --build $(BUILD)-asan -j $(JOBS)
	@cd $(BUILD)-asan && ctest --output-on-failure -j $(JOBS)

# The tests of the parallel particle step under ThreadSanitizer (engine,
# results and main loop, and the end-to-end runs of the program on one and
# two threads).
# Built with clang and LLVM's OpenMP runtime, which loads its tool library
# archer when it runs under ThreadSanitizer: archer tells ThreadSanitizer
# about OpenMP's barriers, reductions and tasks, so what it reports are races
# of the program's own code. Reports from inside the runtime itself (not
# instrumented) are ignored. The run stops if archer is not active, since
# without it a clean result would mean nothing.
TSAN_CXX ?= clang++-14
TSAN_ENV = TSAN_OPTIONS="ignore_noninstrumented_modules=1 $(TSAN_OPTIONS)" OMP_NUM_THREADS=4
tsan: deps
	@cmake -S . -B $(BUILD)-tsan -DCMAKE_CXX_COMPILER=$(TSAN_CXX) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKWD_TSAN=ON -DKWD_BATCH_SIZE=$(SANITIZER_BATCH) >/dev/null
	@cmake --build $(BUILD)-tsan -j $(JOBS) --target test_engine test_results test_run test_frontend
	@cd $(BUILD)-tsan && $(TSAN_ENV) ARCHER_OPTIONS=verbose=1 ./test_engine \
	  --gtest_filter='Physics.ASeeded*' 2>&1 | grep -q 'Archer detected OpenMP application with TSan' \
	  || { echo "tsan: the OpenMP runtime did not load archer; the run would not be meaningful"; exit 1; }
	@cd $(BUILD)-tsan && $(TSAN_ENV) ./test_engine && $(TSAN_ENV) ./test_results \
	  && $(TSAN_ENV) ./test_run \
	  && $(TSAN_ENV) ./test_frontend --gtest_filter='EndToEnd.*'

# libFuzzer targets of every file reader (clang, ASan + UBSan), each run for
# FUZZ_SECONDS seconds; fuzz/run.sh prints executions, time and findings.
FUZZ_CXX ?= clang++-14
FUZZ_SECONDS ?= 60
fuzz: deps
	@cmake -S . -B $(BUILD)-fuzz -DCMAKE_CXX_COMPILER=$(FUZZ_CXX) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DKWD_SANITIZE=ON -DKWD_FUZZ=ON >/dev/null
	@cmake --build $(BUILD)-fuzz -j $(JOBS) \
	  --target fuzz_container fuzz_zdx fuzz_zdi fuzz_tra fuzz_numbers fuzz_answers fuzz_export
	@FUZZ_SECONDS=$(FUZZ_SECONDS) fuzz/run.sh $(BUILD)-fuzz

clean:
	@rm -rf $(BUILD) $(BUILD)-bench $(BUILD)-asan $(BUILD)-tsan $(BUILD)-fuzz
