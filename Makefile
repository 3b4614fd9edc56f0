# Thin wrapper around CMake: `make` builds, `make run` tries the tool on examples/,
# `make test` installs what the tests need and runs them all. Each build folder has one
# configuration, written here once, whichever target configures it.
BUILD       ?= build
ASAN_BUILD  ?= build-asan
FUZZ_BUILD  ?= build-fuzz
BENCH_BUILD ?= build-bench
WIN32_BUILD ?= build-win32
WIN64_BUILD ?= build-win64
JOBS        ?= $(shell nproc 2>/dev/null || echo 2)
PREFIX      ?= /usr/local
MAKEFLAGS   += --no-print-directory

BUILD_CONFIG := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_TESTS=ON
ASAN_CONFIG  := -DCMAKE_BUILD_TYPE=Debug -DQZ_TESTS=ON -DQZ_SANITIZE=ON
BENCH_CONFIG := -DCMAKE_BUILD_TYPE=Release -DQZ_TESTS=OFF -DQZ_BENCH=ON
WIN32_CONFIG := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake $(BUILD_CONFIG)
WIN64_CONFIG := -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake $(BUILD_CONFIG)
export BUILD FUZZ_BUILD WIN32_BUILD WIN64_BUILD

.PHONY: all run test test-sanitize deps bench install uninstall clean windows test-windows fuzz deb

# The plain POSIX build: the Linux layer (io_uring, opens through /proc) switched off, as a
# port to another system starts from; the whole test suite runs against it.
PORTABLE_BUILD ?= build-portable
.PHONY: test-portable
test-portable: deps
	@cmake -S . -B $(PORTABLE_BUILD) $(BUILD_CONFIG) -DQZ_LINUX=OFF >/dev/null
	@cmake --build $(PORTABLE_BUILD) -j $(JOBS)
	cd $(PORTABLE_BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

all:
	@cmake -S . -B $(BUILD) $(BUILD_CONFIG) >/dev/null
	@cmake --build $(BUILD) --target qz -j $(JOBS)

run: deps all
	cd examples && ../$(BUILD)/qz '*.txt' budget /s

deps:
	@scripts/install-deps.sh

test: deps
	@cmake -S . -B $(BUILD) $(BUILD_CONFIG) >/dev/null
	@cmake --build $(BUILD) -j $(JOBS)
	cd $(BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

test-sanitize: deps
	@cmake -S . -B $(ASAN_BUILD) $(ASAN_CONFIG) >/dev/null
	@cmake --build $(ASAN_BUILD) -j $(JOBS)
	cd $(ASAN_BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS)

# The Windows console program, cross-built with MinGW-w64: build-win32/qz.exe (i686) and
# build-win64/qz.exe (x86_64), and the release archives dist/qz-<version>-win32.zip and
# dist/qz-<version>-win64.zip (the program, README.md, LICENSE, CHANGELOG.md).
windows:
	@scripts/install-deps.sh g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
	@cmake --no-warn-unused-cli -S . -B $(WIN32_BUILD) $(WIN32_CONFIG) >/dev/null
	@cmake --build $(WIN32_BUILD) --target qz -j $(JOBS)
	@cmake --no-warn-unused-cli -S . -B $(WIN64_BUILD) $(WIN64_CONFIG) >/dev/null
	@cmake --build $(WIN64_BUILD) --target qz -j $(JOBS)
	@cd $(WIN32_BUILD) && cpack -G ZIP >cpack.log && sed -n 's/^CPack: - package: .*\/dist\//dist\//p' cpack.log
	@cd $(WIN64_BUILD) && cpack -G ZIP >cpack.log && sed -n 's/^CPack: - package: .*\/dist\//dist\//p' cpack.log

# Installs the cross compilers and Wine when missing, builds, runs the tests under Wine.
test-windows:
	@scripts/ci-windows.sh

# The scan kernel's micro-benchmark, then qz against its peers on a generated corpus of about
# 3 GB (written once to $(CORPUS)). Prints tables; see README.md.
CORPUS ?= $(BENCH_BUILD)/corpus
bench:
	@scripts/install-deps.sh libbenchmark-dev python3 ripgrep grep ugrep strace
	@cmake -S . -B $(BENCH_BUILD) $(BENCH_CONFIG) >/dev/null
	@cmake --build $(BENCH_BUILD) -j $(JOBS)
	$(BENCH_BUILD)/bench/qz_scan_benchmark
	python3 bench/corpus.py $(CORPUS)
	python3 bench/bench.py $(BENCH_BUILD)/qz $(CORPUS) 5

# The fuzz targets of tests/fuzz (clang and libFuzzer), each run FUZZ_SECONDS after replaying
# its seed corpus; `make fuzz FUZZ_SECONDS=600` for a longer local run.
FUZZ_SECONDS ?= 60
fuzz:
	@FUZZ_SECONDS=$(FUZZ_SECONDS) scripts/ci-fuzz.sh

# qz and its man page under $(DESTDIR)$(PREFIX); `make uninstall` removes what the last
# install put there (the files of $(BUILD)/install_manifest.txt and the folders it created).
install: all
	@scripts/install.sh install $(BUILD) "$(PREFIX)"

uninstall:
	@scripts/install.sh uninstall $(BUILD)

# The Debian binary package, dist/qz_<version>_<arch>.deb, built by dpkg-buildpackage from a
# copy of the tree; installs the build dependencies when missing.
deb:
	@scripts/build-deb.sh

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(WIN32_BUILD) $(WIN64_BUILD) $(FUZZ_BUILD) dist
