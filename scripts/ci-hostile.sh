#!/usr/bin/env bash
# Hostile input: runs every fuzz target for a bounded time (scripts/ci-fuzz.sh, FUZZ_SECONDS
# each, 60 unless set), then the end-to-end walk, hostile-tree and signal tests with qz run
# under valgrind, which fails a test on any memory error or definite leak. Installs what it
# needs with apt-get when missing. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
jobs=$(nproc 2>/dev/null || echo 2)
((jobs > 2)) && jobs=2

note() { echo "ci-hostile: $*"; }

installed=$(scripts/install-deps.sh cmake make g++ libgtest-dev libvterm-dev valgrind strace clang libclang-rt-14-dev)
[ -z "$installed" ] || note "$installed"

scripts/ci-fuzz.sh
fuzzed=$SECONDS

# The build `make test` uses (BUILD, as in the Makefile); only qz and the end-to-end tests are
# needed here.
build=${BUILD:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_TESTS=ON >/dev/null
cmake --build "$build" --target qz qz_e2e_tests -j "$jobs"
QZ_E2E_WRAPPER="valgrind --error-exitcode=97 --leak-check=full --errors-for-leak-kinds=definite -q" \
  "$build/tests/qz_e2e_tests" --gtest_filter='Walk.*:HostileTree.*:Signals.*'
note "fuzzing took $((fuzzed - started)) s, the valgrind runs $((SECONDS - fuzzed)) s"
