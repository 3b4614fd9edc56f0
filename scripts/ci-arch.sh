#!/usr/bin/env bash
# 32-bit and big-endian Linux, and the other architectures Debian builds for. For each, cross-
# builds qz and its tests in build-<arch>/ with Debian's cross compiler and the architecture's
# libraries (fetched when missing), linked statically, checks
# that qz is a static program for that machine, and runs the tests under qemu-user (ctest starts
# every program through the emulator, the end-to-end tests' qz included): the whole suite on
# i386 (32-bit: a 32-bit size_t and long, 64-bit file offsets) and s390x (big-endian), the unit
# tests and the end-to-end cases of what a user sees (the walk, the keys, the report, the
# summary) on armhf and ppc64el. Each build's vector kernels are x86's or none: s390x, ppc64el
# and armhf scan with the plain loops. riscv64 is left out: Debian 12 has its cross compiler and
# qemu, but not its libraries. With architectures named as arguments (`i386 s390x`), only those.
# Exits non-zero on any failure. Not part of CI yet: under qemu-i386 the end-to-end tests'
# child stops right after forkpty (the README's section on these builds says what was seen).
set -euo pipefail
cd "$(dirname "$0")/.."
tag=ci-arch
source scripts/lib.sh
started=$SECONDS

# Debian architecture : GNU triplet of its cross compiler : what file(1) calls the machine :
# the tests run (all, or user: the unit tests and the user-visible end-to-end cases)
known=(
  'i386:i686-linux-gnu:Intel 80386:all'
  's390x:s390x-linux-gnu:IBM S/390:all'
  'armhf:arm-linux-gnueabihf:ARM, EABI5:user'
  'ppc64el:powerpc64le-linux-gnu:64-bit PowerPC:user'
)
chosen=()
for entry in "${known[@]}"; do
  if [ $# -eq 0 ] || [[ " $* " == *" ${entry%%:*} "* ]]; then chosen+=("$entry"); fi
done

# The cross compilers are the machine's own packages; each architecture's libraries are unpacked
# into its build folder (scripts/cross-sysroot.sh).
packages=(file qemu-user googletest)
for entry in "${chosen[@]}"; do
  IFS=: read -r arch triplet _ _ <<<"$entry"
  packages+=("g++-$triplet")
done
t0=$SECONDS
need --no-recommends "${packages[@]}"
for entry in "${chosen[@]}"; do
  IFS=: read -r arch _ _ _ <<<"$entry"
  scripts/cross-sysroot.sh "$arch" "$PWD/build-$arch/sysroot"
done
note "packages in $((SECONDS - t0)) s"

# As for arm64 (scripts/ci-arm64.sh): under qemu-user these watch a write or a signal that is
# the emulator's, or start qz by its path inside tmux, which cannot run another machine's
# program without binfmt_misc. They test terminal and signal code that is the same on every
# processor, and run natively.
emulated='Modes\.KeysTypedWhileQzWorksAreNotEchoed|Signals\.DeathDuringTheWalkLeavesTheTerminalAsItWas|Signals\.ATerminalThatDoesNotDrainCannotKeepASignalFromEndingQz|Screen\.ClearingTheWindowLeavesTheScrollbackAlone'
# And on the 32-bit machines: qemu-user runs a 32-bit program inside an address space of its
# own making, where the zero pages qz maps over a shrunken file's lost pages (input_file-
# posix.cc) never replace them, so the bus error comes back forever. The test runs natively
# and under qemu-aarch64.
emulated32='ContentStream\.TakesTheRestInAndLetsTheFileGo'
# What a user sees, case by case: besides every test that is not end-to-end (the unit tests,
# the fuzz replays), the end-to-end tests of the command line, the walk, the matching, the
# keys, the report's screen, the terminals, the summary and output that is not a terminal.
user_visible='^(CommandLine|Walk|Matching|Summary|Keys|MatchScreen|Screen|Terminals|NoTerminal)\.'

for entry in "${chosen[@]}"; do
  IFS=: read -r arch triplet machine tests <<<"$entry"
  build=build-$arch
  t0=$SECONDS
  cmake --no-warn-unused-cli -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/cross.cmake \
    -DCMAKE_BUILD_TYPE=Release -DQZ_TESTS=ON -DQZ_TARGET="$triplet" -DQZ_STATIC=ON \
    -DQZ_SYSROOT="$PWD/$build/sysroot" >/dev/null
  if ! cmake --build "$build" -j "$jobs" >"$build/build.log" 2>&1; then
    tail -n 40 "$build/build.log"
    fail "$arch: build (the whole log is $build/build.log)"
    continue
  fi
  kind=$(file -b "$build/qz")
  check "$arch: qz is a static $machine program ($((SECONDS - t0)) s to build)" \
    grep -qE "$machine.*(static-pie|statically) linked" <<<"$kind"

  t0=$SECONDS
  rc=0
  left_out=$emulated
  case $arch in i386 | armhf) left_out+="|$emulated32" ;; esac
  if [ "$tests" = all ]; then
    (cd "$build" && ctest --output-on-failure --no-tests=error --timeout 600 -j "$jobs" -E "^($left_out)$") \
      >"$build/ctest.log" 2>&1 || rc=$?
  else
    (cd "$build" && ctest --output-on-failure --no-tests=error --timeout 600 -j "$jobs" -LE e2e -E "^($left_out)$" &&
      ctest --output-on-failure --no-tests=error --timeout 600 -j "$jobs" -L e2e -R "$user_visible" -E "^($left_out)$") \
      >"$build/ctest.log" 2>&1 || rc=$?
  fi
  summary=$(grep -E '^[0-9]+% tests passed' "$build/ctest.log" | paste -sd';' - || true)
  if ((rc == 0)); then
    pass "$arch: $tests tests under qemu-user in $((SECONDS - t0)) s: $summary"
  else
    grep -E '^\s+[0-9]+ - ' "$build/ctest.log" || true
    tail -n 60 "$build/ctest.log"
    fail "$arch: tests under qemu-user (ctest exit status $rc; the whole log is $build/ctest.log)"
  fi
done

note "$((SECONDS - started)) s in all"
checks_done
