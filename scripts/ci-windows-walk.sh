#!/usr/bin/env bash
# scripts/ci-windows-walk.sh <qz.exe>
#
# The end-to-end walk of a Windows build of qz: runs the program under Wine inside tmux over a
# test tree (CR LF, control bytes, a device name, a FIFO, a path beyond 260 bytes, a link loop,
# a subdirectory) and checks the captured screen after every key: colours, S, another key, Esc,
# the echo of Esc and the summary. Uses the Wine prefix named by WINEPREFIX when one is set
# (scripts/ci-windows.sh sets one up for all its runs), else a throw-away prefix of its own.
# Needs Wine and tmux. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
tag=ci-windows-walk
source scripts/lib.sh

exe=$(realpath "$1")
work=$(mktemp -d)
sock="qz-ci-windows-walk-$$"
wine_session || exit 1

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

prompt='(S) to skip this file; (Esc) to stop searching; any other key to continue:'
tmux -L "$sock" -f /dev/null new-session -d -s qz -x 100 -y 30 \
  "printf '\\033[H\\033[2J'; cd '$tree' && wine '$exe' '*.txt' needle /s; echo \"[qz exit status \$?]\"; sleep 600"
tmux -L "$sock" clear-history -t qz

screen=""
capture() { screen=$(tmux -L "$sock" capture-pane -p -J -t qz "$@"); }

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
e2e || fail "end-to-end walk of $exe under Wine"

checks_done
