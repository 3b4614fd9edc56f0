# Thin wrapper around CMake: `make` builds, `make run` tries the tool on examples/,
# `make test` installs what the tests need and runs them all. Each build folder has one
# configuration, written here once, whichever target configures it.
BUILD       ?= build
ASAN_BUILD  ?= build-asan
FUZZ_BUILD  ?= build-fuzz
BENCH_BUILD ?= build-bench
JOBS        ?= $(shell scripts/jobs.sh)
PREFIX      ?= /usr/local
MAKEFLAGS   += --no-print-directory

BUILD_CONFIG := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_TESTS=ON
ASAN_CONFIG  := -DCMAKE_BUILD_TYPE=Debug -DQZ_TESTS=ON -DQZ_SANITIZE=ON
BENCH_CONFIG := -DCMAKE_BUILD_TYPE=Release -DQZ_TESTS=OFF -DQZ_BENCH=ON
CROSS_CONFIG := -DCMAKE_TOOLCHAIN_FILE=cmake/cross.cmake $(BUILD_CONFIG)
# The Windows programs: build folder build-<name>, and the target's triplet.
WINDOWS      := win32:i686-w64-mingw32 win64:x86_64-w64-mingw32
WIN_BUILDS   := $(foreach w,$(WINDOWS),build-$(firstword $(subst :, ,$(w))))
# arm64 Linux: qz linked statically; the tests run under qemu-user.
ARM64_BUILD  ?= build-arm64
ARM64_CONFIG := $(CROSS_CONFIG) -DQZ_TARGET=aarch64-linux-gnu -DQZ_STATIC=ON
ARM64_DEPS   := g++-aarch64-linux-gnu libutf8proc-dev:arm64 liburing-dev:arm64 libncurses-dev:arm64 \
                libvterm-dev:arm64 libstdc++6:arm64 googletest qemu-user
# The plain POSIX build: the Linux layer (io_uring, opens through /proc) switched off, as a
# port to another system starts from; the whole test suite runs against it.
PORTABLE_BUILD ?= build-portable
# The x86-64 Linux release: qz alone, linked statically.
LINUX_BUILD  ?= build-linux-x86_64
LINUX_CONFIG := -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_TESTS=OFF -DQZ_STATIC=ON
export BUILD FUZZ_BUILD ARM64_BUILD JOBS

.PHONY: all run test test-sanitize deps bench install uninstall clean windows test-windows test-arch \
        test-portable arm64 test-arm64 dist fuzz deb

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

# `make test-portable SELECT=<regex>` runs the tests whose names match it.
test-portable: deps
	@cmake -S . -B $(PORTABLE_BUILD) $(BUILD_CONFIG) -DQZ_LINUX=OFF >/dev/null
	@cmake --build $(PORTABLE_BUILD) -j $(JOBS)
	cd $(PORTABLE_BUILD) && ctest --output-on-failure --no-tests=error -j $(JOBS) $(if $(SELECT),-R '$(SELECT)')

# The Windows console program, cross-built with MinGW-w64: build-win32/qz.exe (i686) and
# build-win64/qz.exe (x86_64), and the release archives dist/qz-<version>-win32.zip and
# dist/qz-<version>-win64.zip (the program, README.md, LICENSE, CHANGELOG.md).
windows:
	@scripts/install-deps.sh g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
	@set -e; for w in $(WINDOWS); do \
	  b=build-$${w%%:*}; \
	  cmake --no-warn-unused-cli -S . -B $$b $(CROSS_CONFIG) -DQZ_TARGET=$${w#*:} >/dev/null; \
	  cmake --build $$b --target qz -j $(JOBS); \
	  (cd $$b && cpack -G ZIP >cpack.log && sed -n 's/^CPack: - package: .*\/dist\//dist\//p' cpack.log); \
	done

# Installs the cross compilers and Wine when missing, builds, runs the tests under Wine.
test-windows:
	@scripts/ci-windows.sh

# arm64 Linux, cross-built with g++-aarch64-linux-gnu against the arm64 libraries (the arm64
# architecture is added to dpkg's when missing): $(ARM64_BUILD)/qz, statically linked.
arm64:
	@scripts/install-deps.sh --no-recommends $(ARM64_DEPS)
	@cmake --no-warn-unused-cli -S . -B $(ARM64_BUILD) $(ARM64_CONFIG) >/dev/null
	@cmake --build $(ARM64_BUILD) --target qz -j $(JOBS)

# The arm64 build's unit and end-to-end tests, under qemu-user.
test-arm64:
	@scripts/ci-arm64.sh

# i386 and armhf (32-bit), s390x (big-endian) and ppc64el Linux, each cross-built with its tests
# in build-<arch>/ and tested under qemu-user (scripts/ci-arch.sh says which tests run where);
# `make test-arch ARCHES="i386 s390x"` for some of them.
ARCHES ?=
test-arch:
	@scripts/ci-arch.sh $(ARCHES)

# The release archives: the Windows zips (see windows), and dist/qz-<version>-linux-<machine>.tar.gz
# for x86_64, arm64, i386 and armhf, each a folder with qz (statically linked), its man page,
# README.md, LICENSE and CHANGELOG.md. The 32-bit programs are built as test-arch builds them.
dist: windows arm64
	@cmake -S . -B $(LINUX_BUILD) $(LINUX_CONFIG) >/dev/null
	@cmake --build $(LINUX_BUILD) --target qz -j $(JOBS)
	@scripts/ci-arch.sh --build-only i386 armhf >/dev/null
	@scripts/linux-archive.sh $(LINUX_BUILD) x86_64
	@scripts/linux-archive.sh $(ARM64_BUILD) arm64
	@scripts/linux-archive.sh build-i386 i386
	@scripts/linux-archive.sh build-armhf armhf

# The scan kernel's micro-benchmark, then qz against its peers on a generated corpus of about
# 3 GB (written once to $(CORPUS)). Prints tables; see README.md.
CORPUS ?= $(BENCH_BUILD)/corpus
bench:
	@scripts/install-deps.sh libbenchmark-dev libfuse3-dev python3 ripgrep grep ugrep strace time
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
# copy of the tree; installs the build dependencies when missing. `make deb DEB_ARCH=armhf`
# cross-builds it for another architecture.
DEB_ARCH ?=
deb:
	@scripts/build-deb.sh $(DEB_ARCH)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD) $(BENCH_BUILD) $(WIN_BUILDS) $(ARM64_BUILD) $(LINUX_BUILD) $(PORTABLE_BUILD) $(FUZZ_BUILD) \
	  build-i386 build-armhf build-s390x build-ppc64el dist
