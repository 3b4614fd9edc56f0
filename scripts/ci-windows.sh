#!/usr/bin/env bash
# The Windows console build: cross-builds qz.exe for 32-bit (i686) and 64-bit (x86_64) Windows
# with MinGW-w64 and the release archives (`make windows`), checks each program's PE header
# (console program, system DLLs only, ASLR and DEP), its version resource and its archive, and
# runs each program under Wine: its unit tests, then the end-to-end walk inside tmux, checking
# the screen after every key (scripts/ci-windows-walk.sh), and searches in code page 932
# (scripts/ci-windows-cp932.sh). The 32-bit program runs under 32-bit Wine (wine32:i386) in the
# same 64-bit prefix. Installs the compilers, Wine, tmux and the locales first when they are
# missing. Prints a line per program; exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tag=ci-windows
source scripts/lib.sh
started=$SECONDS

# --- Packages ------------------------------------------------------------------------------
t0=$SECONDS
installed=$(scripts/install-deps.sh --no-recommends g++-mingw-w64-i686-posix \
  g++-mingw-w64-x86-64-posix wine wine64 wine32:i386 tmux googletest unzip locales)
if [ -n "$installed" ]; then
  note "$installed in $((SECONDS - t0)) s"
  started=$SECONDS  # the timing below is that of the build and the tests
fi

# --- Builds --------------------------------------------------------------------------------
# `make windows` configures both folders with the tests on; the unit tests are built here.
make --no-print-directory windows JOBS="$jobs"
for name in win32 win64; do
  cmake --build "build-$name" --target qz_unit_tests -j "$jobs"
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build-win64/CMakeCache.txt)

# Both programs, as built and as shipped in their release archives (stripped), are console
# programs for their processor that need no DLL beyond the system's, linked for ASLR (dynamic
# base; high-entropy addresses on x86_64) and DEP (NX compatible), with the project's version in
# their version resource.
shipped=$(mktemp -d)
trap 'rm -rf "$shipped"' EXIT
check_program() {  # check_program <exe> <format> <wanted DllCharacteristics, comma-separated>
  local exe=$1 format=$2 wanted=$3 headers dlls extra flags expected strings
  headers=$(x86_64-w64-mingw32-objdump -f -p "$exe")
  dlls=$(sed -n 's/^\s*DLL Name: //p' <<<"$headers" | tr '\n' ' ')
  extra=$(tr ' ' '\n' <<<"$dlls" | grep -viE '^(kernel32|msvcrt)\.dll$' | grep . || true)
  if grep -q "file format $format" <<<"$headers" && grep -q '(Windows CUI)' <<<"$headers" &&
    [ -z "$extra" ]; then
    pass "$exe: $format console program importing only $dlls"
  else
    fail "$exe: expected a $format console program needing only system DLLs (imports $dlls)"
  fi
  # The flags objdump lists under DllCharacteristics, one a line, up to the next field.
  flags=$(awk '/^DllCharacteristics/ { on = 1; next } on && /^[A-Za-z]/ { exit } on { print $1 }' \
    <<<"$headers" | sort | paste -sd, -)
  expected=$(tr ',' '\n' <<<"$wanted" | sort | paste -sd, -)
  check "$exe: DllCharacteristics $flags (wanted $expected)" [ "$flags" = "$expected" ]
  strings=$(x86_64-w64-mingw32-strings -el "$exe")
  check "$exe: version resource names qz $version" grep -qxF "$version" <<<"$strings"
}
for build in win32:pei-i386:DYNAMIC_BASE,NX_COMPAT win64:pei-x86-64:HIGH_ENTROPY_VA,DYNAMIC_BASE,NX_COMPAT; do
  IFS=: read -r name format wanted <<<"$build"
  check_program "build-$name/qz.exe" "$format" "$wanted"
  zip=dist/qz-$version-$name.zip
  folder=qz-$version-$name
  listing=$(unzip -Z1 "$zip" 2>/dev/null | sort | paste -sd' ' -)
  check "$zip holds $listing" \
    [ "$listing" = "$folder/CHANGELOG.md $folder/LICENSE $folder/README.md $folder/qz.exe" ]
  unzip -q -o "$zip" -d "$shipped"
  check_program "$shipped/$folder/qz.exe" "$format" "$wanted"
done

# --- Wine ----------------------------------------------------------------------------------
work=$(mktemp -d)
cleanup() {
  rm -rf "$shipped"
  timeout 20 wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
wine_prefix "$work" || exit 1

# The unit tests that need a console (Win32Console.*) skip under a headless Wine; inside tmux
# Wine gives them one, so they run again there and must pass, none skipped. Prints their output.
console_tests() {  # console_tests <qz_unit_tests.exe>
  local exe=$1 out="$work/console.out" rcfile="$work/console.rc" sock="qz-ci-console-$$"
  rm -f "$out" "$rcfile"
  tmux -L "$sock" -f /dev/null new-session -d -s t -x 100 -y 30 \
    "wine '$exe' --gtest_filter='Win32Console.*' >'$out' 2>&1; echo \$? >'$rcfile'; sleep 600"
  local deadline=$((SECONDS + 120))
  while [ ! -s "$rcfile" ] && ((SECONDS < deadline)); do sleep 1; done
  tmux -L "$sock" kill-server 2>/dev/null || true
  tr -d '\r' <"$out" 2>/dev/null || true
  [ -s "$rcfile" ] && [ "$(cat "$rcfile")" = 0 ] &&
    grep -q '^\[       OK \] Win32Console\.' "$out" && ! grep -q '^\[  SKIPPED \]' "$out"
}

# Each program's unit tests, then its walk. Stopping the wineserver in between matters for the
# 32-bit program: under a server that has run 32-bit programs before, its first key would be
# answered some 10 s late, a quirk of Wine's start-up.
summary=()
for name in win32 win64; do
  failed_before=$failures
  unit_rc=0
  timeout 300 wine "build-$name/tests/qz_unit_tests.exe" </dev/null >"$work/unit.out" 2>"$work/unit.err" ||
    unit_rc=$?
  cat "$work/unit.out" "$work/unit.err"
  unit_passed=$(tr -d '\r' <"$work/unit.out" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p')
  if [[ $unit_rc -eq 0 && -n $unit_passed ]]; then
    pass "build-$name: unit tests under Wine: $unit_passed passed"
  else
    fail "build-$name: unit tests under Wine (exit status $unit_rc)"
  fi
  timeout 20 wineserver -k 2>/dev/null || true
  check "build-$name: the console's unit tests under Wine inside tmux" \
    console_tests "$root/build-$name/tests/qz_unit_tests.exe"
  timeout 20 wineserver -k 2>/dev/null || true

  walk=$(scripts/ci-windows-walk.sh "$root/build-$name/qz.exe" 2>&1) && walked=ok || walked=FAILED
  printf '%s\n' "$walk"
  walk_checks=$(sed -n 's/^ci-windows-walk: \([0-9]* passed, [0-9]* failed\)$/\1/p' <<<"$walk")
  check "build-$name/qz.exe: end-to-end walk under Wine (${walk_checks:-no checks ran})" [ $walked = ok ]
  timeout 20 wineserver -k 2>/dev/null || true

  cp932=$(scripts/ci-windows-cp932.sh "$root/build-$name/qz.exe" 2>&1) && cp932_ran=ok || cp932_ran=FAILED
  printf '%s\n' "$cp932"
  cp932_checks=$(sed -n 's/^ci-windows-cp932: \([0-9]* passed, [0-9]* failed\)$/\1/p' <<<"$cp932")
  check "build-$name/qz.exe: code page 932 under Wine (${cp932_checks:-no checks ran})" \
    [ $cp932_ran = ok ]
  timeout 20 wineserver -k 2>/dev/null || true
  if ((failures == failed_before)); then
    summary+=("ok      build-$name/qz.exe: $unit_passed unit tests, walk ${walk_checks}, code page 932 ${cp932_checks}")
  else
    summary+=("FAILED  build-$name/qz.exe")
  fi
done

note "$((SECONDS - started)) s for builds and tests"
printf '  %s\n' "${summary[@]}"
checks_done
