#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the build and the tests need, and any others named
# as arguments, when any of them is missing. Prints what it installed.
set -euo pipefail

# strace injects failed system calls and bindfs makes a file system with repeated inode
# numbers, for the reading pipeline's end-to-end tests; locales (localedef) and tmux for
# the terminal tests.
packages=(cmake make g++ pkg-config libgtest-dev libvterm-dev libutf8proc-dev liburing-dev
          strace bindfs locales tmux "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" >/dev/null
echo "installed ${missing[*]}"
