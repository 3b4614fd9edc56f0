#!/usr/bin/env bash
# The end-to-end walk, hostile-tree and signal tests with qz run under valgrind, which fails a
# test on any memory error or definite leak. Uses the build `make test` uses ($BUILD, build/
# unless set) in the same configuration; only qz and the end-to-end tests are built. Installs
# valgrind when missing. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
tag=ci-valgrind
source scripts/lib.sh
started=$SECONDS

need valgrind strace

build=${BUILD:-build}
make all BUILD="$build" JOBS="$jobs" >/dev/null
cmake --build "$build" --target qz qz_e2e_tests -j "$jobs"
QZ_E2E_WRAPPER="valgrind --error-exitcode=97 --leak-check=full --errors-for-leak-kinds=definite -q" \
  "$build/tests/qz_e2e_tests" --gtest_filter='Walk.*:HostileTree.*:Signals.*'
note "the valgrind runs took $((SECONDS - started)) s"
