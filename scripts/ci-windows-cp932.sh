#!/usr/bin/env bash
# scripts/ci-windows-cp932.sh <qz.exe>
#
# A Windows build of qz in a two-byte code page: runs the program under Wine inside tmux in a
# Japanese locale (ANSI and console code page 932, Shift JIS) over two files named in katakana,
# and checks the screen: a match starts only at a character's first byte, a trail byte is never
# folded as a letter, in the search or in the walk's name order, and the characters around a
# match are shown whole. Uses the Wine prefix named by WINEPREFIX when one is set
# (scripts/ci-windows.sh sets one up for all its runs), else a throw-away prefix of its own.
# Needs Wine, tmux and localedef (Debian's locales). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
tag=ci-windows-cp932
source scripts/lib.sh

exe=$(realpath "$1")
work=$(mktemp -d)
runs=0
sock="qz-ci-windows-cp932-$$-$runs"
wine_session || exit 1

# Wine takes its code pages from the Unix locale: ja_JP.UTF-8 gives ANSI and console code page
# 932, and its console writes UTF-8 to tmux. Compiled into a folder of the run's own, so that no
# locale need be installed.
localedef -i ja_JP -f UTF-8 "$work/ja_JP.UTF-8" 2>/dev/null ||
  [ -e "$work/ja_JP.UTF-8/LC_CTYPE" ] || { fail "localedef could not build ja_JP.UTF-8"; checks_done; }
japanese="LOCPATH='$work' LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8"

# Shift JIS: katakana A is 83 41 (its trail byte is 'A'), DI 83 61 ('a'), SO 83 5C ('\'),
# FU 83 74, TO 83 67. The names are made in UTF-8, which Wine gives the program as Unicode and
# qz reads in code page 932.
tree="$work/tree"
mkdir -p "$tree"
printf '\x83\x41 a \x83\x61\r\n' >"$tree/ア.txt"                     # A a DI
printf '\x83\x5C\x83\x74\x83\x67 A \x83\x41\x83\x41\n' >"$tree/ソフト.txt"  # SO FU TO A A A

prompt='(S) to skip this file; (Esc) to stop searching; any other key to continue:'
screen=""
capture() { screen=$(tmux -L "$sock" capture-pane -p -J -t qz); }
key() { tmux -L "$sock" send-keys -t qz "$1"; }

# Starts qz on the tree with the search text $1, in a tmux server of its own.
start() {
  tmux -L "$sock" kill-server 2>/dev/null || true
  runs=$((runs + 1))
  sock="qz-ci-windows-cp932-$$-$runs"
  tmux -L "$sock" -f /dev/null new-session -d -s qz -x 100 -y 30 \
    "printf '\\033[H\\033[2J'; cd '$tree' && $japanese wine '$exe' '*.txt' '$1'; echo \"[qz exit status \$?]\"; sleep 600"
}

# Expects the summary's counts for the search text $1.
summary() {  # summary <text> <files> <occurrences>
  local expected
  expected="$2 files found containing the text \"$1\""$'\n\n'"$3 occurrences of the text \"$1\""
  [[ $2 == 1 ]] && expected=${expected/1 files/1 file}
  [[ $3 == 1 ]] && expected=${expected/1 occurrences/1 occurrence}
  if wait_for 'Search complete' '[qz exit status 0]' && [[ $screen == *"$expected"* ]]; then
    pass "\"$1\": summary of $2 file(s), $3 occurrence(s)"
  else
    fail "\"$1\": summary"
    printf '%s\n' "$screen"
  fi
}

e2e() {
  # 'a': not in the trail bytes of A and DI; the letter after TO is one. ア.txt comes first:
  # its trail byte 41 is not folded to 61, which would put it after ソ (83 5C).
  start a
  wait_for 'Found in .\ア.txt - position 3:' "$prompt" || return 1
  pass "'a' first found at the letter, not in the trail byte of A (83 41)"
  if grep -qF 'ア a ヂ' <<<"$screen"; then
    pass "the characters around the match are shown whole"
  else
    fail "the characters around the match:"
    printf '%s\n' "$screen"
  fi
  key x
  wait_for 'Found in .\ソフト.txt - position 7:' "$prompt" || return 1
  pass "ア.txt walked before ソフト.txt; DI (83 61) was no match"
  key x
  summary a 2 2

  # Katakana A: not in DI (83 61), nor across SO FU TO's trail and lead bytes; twice in a row
  # after the letter A.
  start ア
  wait_for 'Found in .\ア.txt - position 0:' "$prompt" || return 1
  key x
  wait_for 'Found in .\ソフト.txt - position 9:' "$prompt" || return 1
  key x
  wait_for 'Found in .\ソフト.txt - position 11:' "$prompt" || return 1
  pass "katakana A found at each of its characters, not in DI"
  key x
  summary ア 2 3
}
e2e || fail "code page 932 under Wine"

checks_done
