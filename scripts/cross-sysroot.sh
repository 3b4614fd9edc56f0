#!/usr/bin/env bash
# scripts/cross-sysroot.sh <Debian architecture> <folder>
#
# Unpacks the architecture's Debian packages of the libraries qz and its tests link (utf8proc,
# liburing, ncurses' libtinfo, libvterm: their headers and static archives) into <folder>, for a cross
# build that links them statically (cmake/cross.cmake's QZ_SYSROOT). The packages are fetched
# and unpacked, not installed: installed side by side with the machine's own, a Multi-Arch
# library must have the very version the machine has, which an architecture's mirror does not
# always carry yet. Does nothing when <folder> is there already; adds the architecture to
# dpkg's when missing.
set -euo pipefail
cd "$(dirname "$0")/.."
arch=$1 sysroot=$2
[ -d "$sysroot" ] && exit 0

if [ "$arch" != "$(dpkg --print-architecture)" ] &&
  ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
  dpkg --add-architecture "$arch"
  apt-get update -qq
fi
packages=(libutf8proc-dev libutf8proc2 liburing-dev liburing2 libncurses-dev libtinfo6
          libvterm-dev libvterm0)
download=$(mktemp -d)
trap 'rm -rf "$download"' EXIT
chmod 0755 "$download"  # apt fetches as its own user
if ! (cd "$download" && apt-get download -qq "${packages[@]/%/:$arch}" >/dev/null 2>&1); then
  apt-get update -qq
  (cd "$download" && apt-get download -qq "${packages[@]/%/:$arch}" >/dev/null)
fi
mkdir -p "$sysroot.part"
for deb in "$download"/*.deb; do dpkg-deb -x "$deb" "$sysroot.part"; done
# The static archives alone: every program of the build links them, so that under qemu-user
# it needs no library of the architecture beyond the cross compiler's own C and C++ runtimes.
find "$sysroot.part" -name '*.so*' -delete
mv "$sysroot.part" "$sysroot"
