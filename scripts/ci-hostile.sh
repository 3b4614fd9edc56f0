#!/usr/bin/env bash
# Hostile input: every fuzz target for a bounded time (scripts/ci-fuzz.sh, FUZZ_SECONDS each,
# 60 unless set), then the end-to-end walk, hostile-tree and signal tests with qz under valgrind
# (scripts/ci-valgrind.sh). Installs what it needs with apt-get when missing. Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/ci-fuzz.sh
scripts/ci-valgrind.sh
