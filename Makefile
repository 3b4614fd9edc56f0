# Thin wrapper around CMake: `make` builds, `make run` tries the tool on examples/,
# `make test` installs what the tests need and runs them all.
BUILD      ?= build
ASAN_BUILD ?= build-asan
WIN32_BUILD ?= build-win32
WIN64_BUILD ?= build-win64
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
MAKEFLAGS  += --no-print-directory

.PHONY: all run test test-sanitize deps bench install clean windows test-windows fuzz

all:
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_TESTS=OFF >/dev/null
	@cmake --build $(BUILD) --target qz -j $(JOBS)

run: all
	cd examples && ../$(BUILD)/qz '*.txt' budget /s

deps:
	@scripts/install-deps.sh

test: deps
	@cmake -S . -B $(BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_TESTS=ON >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure -j $(JOBS)

test-sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) -DCMAKE_BUILD_TYPE=Debug -DQZ_TESTS=ON -DQZ_SANITIZE=ON >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure -j $(JOBS)

# The Windows console program, cross-built with MinGW-w64: build-win32/qz.exe (i686) and
# build-win64/qz.exe (x86_64).
windows:
	@cmake -S . -B $(WIN32_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_TESTS=OFF >/dev/null
	@cmake --build $(WIN32_BUILD) --target qz -j $(JOBS)
	@cmake -S . -B $(WIN64_BUILD) -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
	  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_TESTS=OFF >/dev/null
	@cmake --build $(WIN64_BUILD) --target qz -j $(JOBS)

# Installs the cross compilers and Wine when missing, builds, runs the tests under Wine.
test-windows:
	@scripts/ci-windows.sh

# The scan kernel's micro-benchmark, then qz against its peers on a generated corpus of about
# 3 GB (written once to $(CORPUS)). Prints tables; see README.md.
CORPUS ?= $(BENCH_BUILD)/corpus
BENCH_BUILD ?= build-bench
bench:
	@scripts/install-deps.sh libbenchmark-dev python3 ripgrep grep ugrep strace
	@cmake -S . -B $(BENCH_BUILD) -DCMAKE_BUILD_TYPE=Release -DQZ_TESTS=OFF -DQZ_BENCH=ON >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/bench/qz_scan_benchmark
	python3 bench/corpus.py $(CORPUS)
	python3 bench/bench.py $(BENCH_BUILD)/qz $(CORPUS) 5

# The fuzz targets of tests/fuzz (clang and libFuzzer), each run FUZZ_SECONDS after replaying
# its seed corpus; `make fuzz FUZZ_SECONDS=600` for a longer local run.
FUZZ_SECONDS ?= 60
fuzz:
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/ci-fuzz.sh

install: all
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(WIN32_BUILD) $(WIN64_BUILD) build-fuzz
