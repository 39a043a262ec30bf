# The project's whole interface: setup, run, test, bench.
# Every target installs what is missing first (scripts/setup.sh is idempotent).
#
# `make test` builds once, with AddressSanitizer + UBSan at -O1, and runs every
# test there (unit, command-line, interop); `make run` and `make bench` keep
# their own Release builds without tests.

JOBS     ?= $(shell nproc)
RELEASE  := build/release
TESTS    := build/test
BENCH    := build/bench
FUZZ     := build/fuzz
FUZZ_SECONDS ?= 60
CMAKE_COMMON := -G Ninja -Wno-dev

.PHONY: setup run build test lint interop-deps bench fuzz clean

setup:
	@scripts/setup.sh

$(RELEASE)/build.ninja: | setup
	cmake -S . -B $(RELEASE) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DORWENNA_TESTS=OFF \
	  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"

$(TESTS)/build.ninja: | setup
	cmake -S . -B $(TESTS) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DORWENNA_TESTS=ON -DORWENNA_SANITIZE=ON \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O1 -g1"

$(BENCH)/build.ninja: | setup
	cmake -S . -B $(BENCH) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DORWENNA_TESTS=OFF -DORWENNA_BENCH=ON

build: setup $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)

run: build
	$(RELEASE)/cmd/orwenna $(ARGS)

# The library graph as declared: no include the DEPS do not allow.
lint:
	@scripts/check_includes.sh

# npm ci only when node is present; without it the interop checks report skipped.
interop-deps: setup
	@if command -v npm >/dev/null 2>&1; then \
	  cd tests/interop && (test -d node_modules && test node_modules/.package-lock.json -nt package-lock.json || npm ci --no-audit --no-fund --ignore-scripts); \
	else echo "node/npm missing: interop checks will be skipped"; fi

test: lint setup $(TESTS)/build.ninja interop-deps
	cmake --build $(TESTS) -j $(JOBS)
	cd $(TESTS) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

bench: setup $(BENCH)/build.ninja
	cmake --build $(BENCH) -j $(JOBS)
	@for b in $(BENCH)/bench/*_bench; do echo "== $$b"; $$b; done

# libFuzzer with clang, apart from the test build: each target runs for
# FUZZ_SECONDS, starting from its committed seeds and keeping what it finds
# in build/fuzz/corpus (the committed seeds are never written).
$(FUZZ)/build.ninja: | setup
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DORWENNA_TESTS=OFF -DORWENNA_FUZZ=ON

fuzz: $(FUZZ)/build.ninja
	cmake --build $(FUZZ) -j $(JOBS) --target fuzz_all
	@for t in $(FUZZ)/tests/fuzz/fuzz_*; do \
	  name=$${t##*/fuzz_}; mkdir -p $(FUZZ)/corpus/$$name; echo "== $$name"; \
	  $$t -max_total_time=$(FUZZ_SECONDS) -print_final_stats=1 $(FUZZ)/corpus/$$name tests/fuzz/corpus/$$name || exit 1; \
	done

clean:
	rm -rf build
