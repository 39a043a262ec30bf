# The project's whole interface: setup, run, test, bench.
# Every target installs what is missing first (scripts/setup.sh is idempotent).

JOBS     ?= $(shell nproc)
RELEASE  := build/release
SANITIZE := build/sanitize
BENCH    := build/bench
CMAKE_COMMON := -G Ninja -Wno-dev

.PHONY: setup run build test test-release test-sanitize interop-deps bench clean

setup:
	@scripts/setup.sh

$(RELEASE)/build.ninja: | setup
	cmake -S . -B $(RELEASE) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DORWENNA_TESTS=ON \
	  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"

$(SANITIZE)/build.ninja: | setup
	cmake -S . -B $(SANITIZE) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Debug -DORWENNA_TESTS=ON -DORWENNA_SANITIZE=ON \
	  -DCMAKE_CXX_FLAGS_DEBUG="-O0 -g1"

$(BENCH)/build.ninja: | setup
	cmake -S . -B $(BENCH) $(CMAKE_COMMON) -DCMAKE_BUILD_TYPE=Release -DORWENNA_TESTS=OFF -DORWENNA_BENCH=ON

build: setup $(RELEASE)/build.ninja
	cmake --build $(RELEASE) -j $(JOBS)

run: build
	$(RELEASE)/cmd/orwenna $(ARGS)

# npm ci only when node is present; without it the interop checks report skipped.
interop-deps: setup
	@if command -v npm >/dev/null 2>&1; then \
	  cd tests/interop && (test -d node_modules && test node_modules/.package-lock.json -nt package-lock.json || npm ci --no-audit --no-fund --ignore-scripts); \
	else echo "node/npm missing: interop checks will be skipped"; fi

test-release: build interop-deps
	cd $(RELEASE) && ctest --output-on-failure -j $(JOBS)

test-sanitize: setup $(SANITIZE)/build.ninja interop-deps
	cmake --build $(SANITIZE) -j $(JOBS)
	cd $(SANITIZE) && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
	  ctest --output-on-failure -j $(JOBS)

test: test-release test-sanitize

bench: setup $(BENCH)/build.ninja
	cmake --build $(BENCH) -j $(JOBS)
	@for b in $(BENCH)/bench/*_bench; do echo "== $$b"; $$b; done

clean:
	rm -rf build
