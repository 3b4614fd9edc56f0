#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz (the top-level project with -DQZ_FUZZ=ON: clang,
# libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer) and runs each for FUZZ_SECONDS
# (60 unless set), two at a time. Each run first replays its seed corpus, tests/fuzz/corpus/<target>/, where every input that
# once broke a property stays. Fails on any crash, sanitizer report, broken property, leak,
# timeout or out-of-memory; the input that caused it is left in build-fuzz/artifacts/.
# Installs clang and libFuzzer's runtime first when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
build=${FUZZ_BUILD:-build-fuzz}
tag=ci-fuzz
source scripts/lib.sh
started=$SECONDS

need clang libclang-rt-14-dev

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DQZ_FUZZ=ON -DQZ_TESTS=OFF >/dev/null
cmake --build "$build" --target qz_fuzz -j "$jobs"
note "built in $((SECONDS - started)) s"

targets=()
for source in tests/fuzz/fuzz_*.cc; do
  targets+=("$(basename "$source" .cc)")
done

mkdir -p "$build/artifacts" "$build/logs"
run_one() {
  local t=$1
  mkdir -p "$build/work/$t"
  # The first corpus directory collects what this run finds; the seeds are only read.
  "$build/tests/fuzz/$t" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$t-" "$build/work/$t" "tests/fuzz/corpus/$t" \
    >"$build/logs/$t.log" 2>&1
}

report() {
  local t=$1 rc=$2 runs
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$build/logs/$t.log")
  if ((rc == 0)); then
    note "ok: $t, ${runs:-?} executions in ${seconds} s"
  else
    failures=$((failures + 1))
    note "FAILED: $t (exit status $rc); the end of its log:"
    tail -n 40 "$build/logs/$t.log"
  fi
}

# Up to $jobs fuzzers at a time, reported in the order they were started.
pending=()
for t in "${targets[@]}"; do
  run_one "$t" &
  pending+=("$!:$t")
  if ((${#pending[@]} >= jobs)); then
    entry=${pending[0]}
    pending=("${pending[@]:1}")
    rc=0
    wait "${entry%%:*}" || rc=$?
    report "${entry#*:}" "$rc"
  fi
done
for entry in "${pending[@]}"; do
  rc=0
  wait "${entry%%:*}" || rc=$?
  report "${entry#*:}" "$rc"
done

note "${#targets[@]} targets, $failures failed, $((SECONDS - started)) s in all"
((failures == 0))
