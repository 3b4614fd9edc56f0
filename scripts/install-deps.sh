#!/usr/bin/env bash
# Installs, with apt-get, the Debian packages the build and the tests need, and any others named
# as arguments, when any of them is missing. Prints what it installed. A package named with an
# architecture (wine32:i386, libutf8proc-dev:arm64) first has that architecture added to dpkg's.
# With --no-recommends first, the packages' recommendations are left out.
set -euo pipefail

options=()
if [ "${1:-}" = --no-recommends ]; then
  options+=(--no-install-recommends)
  shift
fi

# strace injects failed system calls and bindfs makes a file system with repeated inode
# numbers, for the reading pipeline's end-to-end tests; locales (localedef) and tmux for
# the terminal tests; ncurses-base has the terminal descriptions the tests name, dash is a
# second shell for the job-control tests.
packages=(cmake make g++ pkg-config libgtest-dev libvterm-dev libutf8proc-dev liburing-dev
          libncurses-dev ncurses-base dash strace bindfs locales tmux "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
for p in "${missing[@]}"; do
  arch=${p#*:}
  [ "$arch" != "$p" ] || continue
  if [ "$arch" != "$(dpkg --print-architecture)" ] &&
    ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    $sudo dpkg --add-architecture "$arch"
  fi
done
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${options[@]}" "${missing[@]}" >/dev/null
echo "installed ${missing[*]}"
