# Thin wrapper around CMake: `make` builds, `make run` tries the tool on examples/,
# `make test` installs what the tests need and runs them all.
BUILD      ?= build
ASAN_BUILD ?= build-asan
JOBS       ?= $(shell nproc 2>/dev/null || echo 2)
MAKEFLAGS  += --no-print-directory

.PHONY: all run test test-sanitize deps install clean

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

install: all
	cmake --install $(BUILD)

clean:
	rm -rf $(BUILD) $(ASAN_BUILD)
