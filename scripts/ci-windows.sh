#!/usr/bin/env bash
# The Windows console build: cross-builds qz.exe for 32-bit (i686) and 64-bit (x86_64) Windows
# with MinGW-w64 and the release archives (`make windows`), checks each program's PE header
# (console program, system DLLs only, ASLR and DEP), its version resource and its archive, runs
# the unit tests of the 64-bit build under Wine, and walks the 64-bit qz.exe through a test tree
# under Wine inside tmux, checking the screen after every key. Installs the compilers, Wine and
# tmux first when they are missing. Exits non-zero on any failure. Only 64-bit Wine is used; the
# 32-bit program is built and checked, not run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
tag=ci-windows
source scripts/lib.sh
started=$SECONDS

# --- Packages ------------------------------------------------------------------------------
t0=$SECONDS
installed=$(scripts/install-deps.sh g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix wine wine64 tmux googletest unzip)
if [ -n "$installed" ]; then
  note "$installed in $((SECONDS - t0)) s"
  started=$SECONDS  # the timing below is that of the build and the tests
fi

# --- Builds --------------------------------------------------------------------------------
# `make windows` configures both folders with the tests on; the unit tests are built here.
make --no-print-directory windows JOBS="$jobs"
cmake --build build-win64 --target qz_unit_tests -j "$jobs"
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
sock="qz-ci-windows-$$"
cleanup() {
  rm -rf "$shipped"
  tmux -L "$sock" kill-server 2>/dev/null || true
  timeout 20 wineserver -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEARCH=win64
export WINEDLLOVERRIDES="winemenubuilder.exe=d;mscoree=;mshtml="
export XDG_DATA_HOME="$work/xdg-data" XDG_CONFIG_HOME="$work/xdg-config"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
timeout 30 wineserver -p30
t0=$SECONDS
if ! timeout 300 wine wineboot.exe --init </dev/null >"$work/wineboot.log" 2>&1; then
  cat "$work/wineboot.log"
  fail "Wine did not start"
  exit 1
fi
note "Wine prefix ready in $((SECONDS - t0)) s"

# Unit tests.
unit_rc=0
timeout 300 wine build-win64/tests/qz_unit_tests.exe </dev/null >"$work/unit.out" 2>"$work/unit.err" ||
  unit_rc=$?
cat "$work/unit.out" "$work/unit.err"
unit_passed=$(tr -d '\r' <"$work/unit.out" | sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\.$/\1/p')
if [[ $unit_rc -eq 0 && -n $unit_passed ]]; then
  pass "unit tests under Wine: $unit_passed passed"
else
  fail "unit tests under Wine (exit status $unit_rc)"
fi

# --- End to end ----------------------------------------------------------------------------
tree="$work/tree"
mkdir -p "$tree/sub" "$tree/loop"
printf 'alpha needle one\r\nneedle two\r\n' >"$tree/a.txt"
printf 'bb \033]2;pwned\a\033[2J needle\n' >"$tree/b.txt"  # control bytes must stay inert
printf 'con needle\n' >"$tree/con.txt"                      # a device name to the ANSI functions
mkfifo "$tree/fifo.txt"                                     # passed over, never waited on
deep="$tree/deep"
for i in 1 2 3 4 5 6; do deep="$deep/$(printf 'd%.0s' {1..50})$i"; done  # beyond 260 bytes
mkdir -p "$deep"
printf 'needle deep\n' >"$deep/z.txt"
ln -s .. "$tree/loop/back"                                  # leads back to the top
printf 'needle in sub\n' >"$tree/sub/c.txt"
printf 'needle never shown\n' >"$tree/sub/d.txt"

exe="$root/build-win64/qz.exe"
prompt='(S) to skip this file; (Esc) to stop searching; any other key to continue:'
tmux -L "$sock" -f /dev/null new-session -d -s qz -x 100 -y 30 \
  "printf '\\033[H\\033[2J'; cd '$tree' && wine '$exe' '*.txt' needle /s; echo \"[qz exit status \$?]\"; sleep 600"
tmux -L "$sock" clear-history -t qz

screen=""
capture() { screen=$(tmux -L "$sock" capture-pane -p -J -t qz "$@"); }

# Waits until every given text is on the screen; false after 60 s.
wait_for() {
  local deadline=$((SECONDS + 60)) text missing
  while :; do
    capture
    missing=""
    for text in "$@"; do
      grep -qF -- "$text" <<<"$screen" || { missing=$text; break; }
    done
    [ -z "$missing" ] && return 0
    if ((SECONDS >= deadline)); then
      note "timed out waiting for: $missing"
      printf '%s\n' "--- screen ---" "$screen" "--------------"
      return 1
    fi
    sleep 0.1
  done
}

key() { tmux -L "$sock" send-keys -t qz "$1"; }

e2e() {
  wait_for 'Found in .\a.txt - position 6:' "$prompt" || return 1
  capture -e
  if grep -qF $'\e[93malpha \e[30m\e[100mneedle\e[93m\e[40m one' <<<"$screen"; then
    pass "context in bright yellow, the occurrence black on grey"
  else
    fail "colours of the first occurrence:"
    cat -v <<<"$screen"
  fi
  key S

  wait_for 'Found in .\b.txt - position 18:' "$prompt" || return 1
  pass "S skipped the rest of a.txt; positions count CR LF as one byte"
  if grep -qF $'bb \xe2\x86\x90]2;pwned\xe2\x86\x90[2J needle' <<<"$screen" &&
    [[ $(tmux -L "$sock" display -p -t qz '#{pane_title}') != pwned ]]; then
    pass "control bytes in the file shown as glyphs, not acted on"
  else
    fail "control bytes in the file reached the terminal"
  fi
  key x

  wait_for 'Found in .\con.txt - position 4:' "$prompt" || return 1
  pass "another key went on; con.txt read as a file"
  key x

  wait_for 'needle deep' "$prompt" || return 1
  pass "FIFO passed over; a path beyond 260 bytes searched"
  key x

  wait_for 'Found in .\sub\c.txt - position 0:' "$prompt" || return 1
  pass "the link back to the top was not followed into a loop"
  key Escape

  wait_for 'Search complete' '[qz exit status 0]' || return 1
  if grep -qF "$prompt ←" <<<"$screen"; then
    pass "Esc echoed as its glyph"
  else
    fail "Esc was not echoed"
  fi
  local expected
  expected=$'Search complete\n\n5 files found containing the text "needle"\n\n5 occurrences of the text "needle"'
  if [[ $screen == *"$expected"* ]]; then
    pass "Esc stopped the search; summary: 5 files, 5 occurrences"
  else
    fail "summary"
    printf '%s\n' "$screen"
  fi
}
e2e || fail "end-to-end walk under Wine"

note "$((SECONDS - started)) s for builds and tests"
checks_done
