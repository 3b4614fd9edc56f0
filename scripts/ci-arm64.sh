#!/usr/bin/env bash
# arm64 Linux: cross-builds qz (statically linked) and its tests with g++-aarch64-linux-gnu
# (`make arm64`, which installs the cross compiler, the arm64 libraries and qemu-user when
# missing), checks that qz is a static arm64 program whose scanner and text-mode translation
# use Advanced SIMD, and runs the unit and end-to-end tests under qemu-user (ctest starts every
# program through qemu-aarch64, the end-to-end tests' qz included). Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
tag=ci-arm64
source scripts/lib.sh
started=$SECONDS
build=${ARM64_BUILD:-build-arm64}

need file
make --no-print-directory arm64 JOBS="$jobs" >/dev/null
cmake --build "$build" -j "$jobs" >/dev/null
note "built in $((SECONDS - started)) s"

kind=$(file -b "$build/qz")
check "$build/qz is a static arm64 program: $kind" \
  grep -qE 'ARM aarch64.*(static-pie|statically) linked' <<<"$kind"

# The vector paths are compiled in: both kernels compare 16 bytes at a time (cmeq on v
# registers) and narrow the result to a bit mask (shrn).
listing=$(aarch64-linux-gnu-objdump -d --no-show-raw-insn -C "$build/qz")
vectorised() {  # vectorised <function name>: its code holds cmeq on vectors and shrn
  local body
  body=$(awk -v name="$1" '/^[0-9a-f]+ <.*>:$/ { on = index($0, "<" name "(") > 0 } on' <<<"$listing")
  grep -qP 'cmeq\tv\d+\.16b' <<<"$body" && grep -qP '\tshrn\tv' <<<"$body"
}
check "Scanner::FindWide compares with Advanced SIMD" vectorised Scanner::FindWide
check "TranslateTextMode translates with Advanced SIMD" vectorised TranslateTextMode

# Left out under qemu-user: four end-to-end tests watch qz wait in a write or a poll (through
# /proc) or let a signal catch it there, and under qemu-user the call is the emulator's, made
# with the host's numbers, and the signal its to deliver, so they cannot see what they look
# for; and the scrollback test starts qz inside tmux by its path alone, which without
# binfmt_misc cannot run an arm64 program. They test terminal and signal code that is the same
# on every processor, and run natively (the x86-64 driver of scripts/ci-arch.sh sees the
# emulator's calls with its own numbers and runs the poll one too).
emulated='^(Modes\.KeysTypedWhileQzWorksAreNotEchoed|Signals\.DeathDuringTheWalkLeavesTheTerminalAsItWas|Signals\.ATerminalThatDoesNotDrainCannotKeepASignalFromEndingQz|Screen\.ClearingTheWindowLeavesTheScrollbackAlone|Limits\.NonBlockingStandardOutputLosesNothing)$'
t0=$SECONDS
rc=0
(cd "$build" && ctest --output-on-failure --no-tests=error -j "$jobs" -E "$emulated") >"$build/ctest.log" 2>&1 ||
  rc=$?
grep -E '^[0-9]+% tests passed|tests failed|^\s+[0-9]+ - ' "$build/ctest.log" || true
if ((rc == 0)); then
  pass "unit and end-to-end tests under qemu-user in $((SECONDS - t0)) s"
else
  tail -n 60 "$build/ctest.log"
  fail "tests under qemu-user (ctest exit status $rc; the whole log is $build/ctest.log)"
fi

note "$((SECONDS - started)) s in all"
checks_done
