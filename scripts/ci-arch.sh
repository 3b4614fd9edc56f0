#!/usr/bin/env bash
# 32-bit and big-endian Linux, and the other architectures Debian builds for. For each, cross-
# builds qz in build-<arch>/ with Debian's cross compiler and the architecture's libraries
# (fetched when missing), every program linked statically, checks that qz is a static program
# for that machine, and runs the tests: the whole suite on i386 (32-bit: a 32-bit size_t and
# long, 64-bit file offsets) and s390x (big-endian), the end-to-end cases of what a user sees
# (the command line, the walk, the matching, the keys, the report, the terminals, the summary)
# on armhf (32-bit too) and ppc64el; the 32-bit builds also search a file over 4 GiB. The unit tests and fuzz replays are the
# architecture's own programs; the end-to-end tests are this machine's driver (the tests build's,
# $BUILD, built when missing) starting the architecture's qz. s390x, armhf and ppc64el run
# under qemu-user; i386 runs as it is where the kernel runs 32-bit x86 programs (x86-64 Linux),
# else under qemu-i386 too. Each build's vector kernels are x86's or none: s390x, ppc64el and
# armhf scan with the plain loops. riscv64 is left out: Debian 12 has its cross compiler and
# qemu, but not its libraries. With architectures named as arguments (`i386 s390x`), only those.
# With --build-only first, builds qz alone for each (`make dist` takes the 32-bit ones from
# here). Exits non-zero on any failure.
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
build_only=false
if [ "${1:-}" = --build-only ]; then
  build_only=true
  shift
fi
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

# The end-to-end driver of this machine.
driver=${BUILD:-build}
if ! $build_only; then
  t0=$SECONDS
  [ -f "$driver/CMakeCache.txt" ] ||
    cmake -S . -B "$driver" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQZ_TESTS=ON >/dev/null
  cmake --build "$driver" --target qz_e2e_tests -j "$jobs" >/dev/null
  note "the end-to-end driver in $((SECONDS - t0)) s"
fi

# Whether the kernel runs 32-bit x86 programs: a static one is tried.
runs_i386() {
  local probe
  probe=$(mktemp -d)
  echo 'int main(void) { return 0; }' >"$probe/probe.c"
  i686-linux-gnu-gcc -static -o "$probe/probe" "$probe/probe.c" 2>/dev/null && "$probe/probe" 2>/dev/null
  local rc=$?
  rm -rf "$probe"
  return $rc
}

# Under qemu-user these watch a write or a signal that is the emulator's, or start qz by its
# path inside tmux, which cannot run another machine's program without binfmt_misc. They test
# terminal and signal code that is the same on every processor, and run natively.
emulated='Modes\.KeysTypedWhileQzWorksAreNotEchoed|Signals\.DeathDuringTheWalkLeavesTheTerminalAsItWas|Signals\.ATerminalThatDoesNotDrainCannotKeepASignalFromEndingQz|Screen\.ClearingTheWindowLeavesTheScrollbackAlone'
# And a read past the end of a mapped file that shrank, whose bus error qz answers by mapping
# zero pages over the lost ones (input_file-posix.cc): under qemu-i386 and qemu-arm, which run a
# 32-bit program in an address space of their own making, those pages never replace the lost
# ones and the bus error comes back forever; under qemu-s390x it reaches qz uncaught. The test
# passes natively, on i386 run as it is, and under qemu-aarch64.
shrunk_mapping='ContentStream\.TakesTheRestInAndLetsTheFileGo'
# And on the big-endian machine: localedef writes a locale in the byte order of the machine
# that compiles it, so a big-endian C library finds no Latin-1 locale it can read here.
big_endian='CharacterSet\.ALatin1LocaleGetsItsOwnCharactersAndNoC1Controls'
# What a user sees, case by case: the end-to-end tests of the command line, the walk, the
# matching, the keys, the report's screen, the terminals, the summary, output that is not a
# terminal, and a sparse file of 5 GiB with matches past 2 and 4 GiB.
user_visible='^(CommandLine|Walk|Matching|Summary|Keys|MatchScreen|Screen|Terminals|NoTerminal)\.|^HostileTree\.SparseFile'

for entry in "${chosen[@]}"; do
  IFS=: read -r arch triplet machine tests <<<"$entry"
  build=build-$arch
  t0=$SECONDS
  wrapper=qemu-$arch native=OFF
  case $arch in
    i386) wrapper=qemu-i386; if runs_i386; then wrapper='' native=ON; fi ;;
    armhf) wrapper=qemu-arm ;;
    ppc64el) wrapper=qemu-ppc64le ;;
  esac
  targets=(qz qz_reads)
  [ "$tests" = all ] && targets+=(qz_unit_tests fuzz_scanner_replay fuzz_text_mode_replay)
  $build_only && targets=(qz)
  cmake --no-warn-unused-cli -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/cross.cmake \
    -DCMAKE_BUILD_TYPE=Release -DQZ_TESTS=ON -DQZ_E2E_TESTS=OFF -DQZ_TARGET="$triplet" \
    -DQZ_STATIC=ON -DQZ_SYSROOT="$PWD/$build/sysroot" -DQZ_NO_EMULATOR=$native >/dev/null
  if ! cmake --build "$build" --target "${targets[@]}" -j "$jobs" >"$build/build.log" 2>&1; then
    tail -n 40 "$build/build.log"
    fail "$arch: build (the whole log is $build/build.log)"
    continue
  fi
  kind=$(file -b "$build/qz")
  check "$arch: qz is a static $machine program ($((SECONDS - t0)) s to build)" \
    grep -qE "$machine.*(static-pie|statically) linked" <<<"$kind"
  $build_only && continue

  t0=$SECONDS
  rc=0
  left_out=''
  if [ -n "$wrapper" ]; then
    left_out=$emulated
    case $arch in
      i386 | armhf) left_out+="|$shrunk_mapping" ;;
      s390x) left_out+="|$shrunk_mapping|$big_endian" ;;
    esac
  fi
  : >"$build/ctest.log"
  if [ "$tests" = all ]; then
    (cd "$build" && ctest --output-on-failure --no-tests=error --timeout 600 -j "$jobs" -E "^($left_out)$") \
      >>"$build/ctest.log" 2>&1 || rc=$?
    selection=()
  else
    selection=(-R "$user_visible")
  fi
  # A file over 4 GiB is the 32-bit builds' case, and takes minutes under an emulator.
  large=''
  case $arch in i386 | armhf) large=1 ;; esac
  QZ_E2E_WRAPPER=$wrapper QZ_E2E_PROGRAM=$PWD/$build/qz QZ_E2E_READS_PROGRAM=$PWD/$build/tests/qz_reads \
    QZ_E2E_LARGE_FILES=$large ctest --test-dir "$driver" --output-on-failure --no-tests=error --timeout 900 \
    -j "$jobs" -L e2e "${selection[@]}" -E "^($left_out)$" >>"$build/ctest.log" 2>&1 || rc=$?
  summary=$(grep -E '^[0-9]+% tests passed' "$build/ctest.log" | paste -sd';' - || true)
  how=${wrapper:+under $wrapper}
  if ((rc == 0)); then
    pass "$arch: $tests tests ${how:-natively} in $((SECONDS - t0)) s: $summary"
  else
    grep -E '^\s+[0-9]+ - ' "$build/ctest.log" || true
    tail -n 60 "$build/ctest.log"
    fail "$arch: tests ${how:-natively} (ctest exit status $rc; the whole log is $build/ctest.log)"
  fi
done

note "$((SECONDS - started)) s in all"
checks_done
