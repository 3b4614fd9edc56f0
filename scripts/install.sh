#!/usr/bin/env bash
# scripts/install.sh install <build> <prefix>   (DESTDIR from the environment, empty unless set)
# scripts/install.sh uninstall <build>
#
# Install puts qz and its man page under $DESTDIR<prefix> with `cmake --install`, which lists
# the files it wrote in <build>/install_manifest.txt (without DESTDIR); with DESTDIR they are
# kept in <build>/install_files.txt, and the folders the install had to create in
# <build>/install_dirs.txt. Uninstall removes exactly those files, then those folders when
# empty, so nothing that was there before the install is touched.
set -euo pipefail
cd "$(dirname "$0")/.."
tag=install
source scripts/lib.sh

action=$1 build=$2
manifest=$build/install_manifest.txt
files=$build/install_files.txt
dirs=$build/install_dirs.txt

# The manifest's last line has no line feed.
lines() { cat -- "$1"; [ -z "$(tail -c 1 -- "$1")" ] || echo; }

case $action in
install)
  prefix=$3
  # A trial install into an empty folder names the files; their folders missing at the real
  # destination are the ones the install will create.
  trial=$(mktemp -d)
  trap 'rm -rf "$trial"' EXIT
  DESTDIR=$trial cmake --install "$build" --prefix "$prefix" >/dev/null
  : >"$dirs.new"
  while IFS= read -r file; do
    dir=$(dirname "${DESTDIR:-}$file")
    while [ ! -e "$dir" ] && ! grep -qxF -- "$dir" "$dirs.new"; do
      echo "$dir" >>"$dirs.new"
      dir=$(dirname "$dir")
    done
  done < <(lines "$manifest")
  DESTDIR=${DESTDIR:-} cmake --install "$build" --prefix "$prefix"
  lines "$manifest" | sed "s|^|${DESTDIR:-}|" >"$files"
  mv "$dirs.new" "$dirs"
  ;;
uninstall)
  if [ ! -f "$files" ]; then
    note "nothing to remove: $files is missing (no install from $build)"
    exit 1
  fi
  while IFS= read -r file; do
    if [ -e "$file" ] || [ -L "$file" ]; then
      rm -f -- "$file"
      echo "-- Removed: $file"
    fi
  done <"$files"
  # Deepest first, so that a folder is empty by the time its parent is tried.
  if [ -f "$dirs" ]; then
    awk '{ print length($0) "\t" $0 }' "$dirs" | sort -rn | cut -f2- | while IFS= read -r dir; do
      rmdir -- "$dir" 2>/dev/null && echo "-- Removed: $dir/" || true
    done
  fi
  rm -f -- "$manifest" "$files" "$dirs"
  ;;
*)
  echo "usage: $0 install <build> <prefix> | uninstall <build>" >&2
  exit 2
  ;;
esac
