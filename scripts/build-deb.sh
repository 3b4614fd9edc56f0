#!/usr/bin/env bash
# scripts/build-deb.sh [architecture]
#
# Builds the Debian binary package with `dpkg-buildpackage -us -uc -b` from a copy of the tree
# (so that neither the tree nor its parent folder collects the build's files) and puts the
# package, its .buildinfo and .changes and the build's log in dist/, with the native source
# package (.dsc and .tar.xz) of the same copy for lintian. Given a Debian architecture other
# than the machine's (`make deb DEB_ARCH=armhf`), cross-builds the package for it
# (`dpkg-buildpackage -a <architecture> -Pnocheck`) with the cross compiler and the
# architecture's libraries installed beside the machine's (Multi-Arch). Installs the build
# dependencies first when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
tag=deb
source scripts/lib.sh

native=$(dpkg --print-architecture)
arch=${1:-$native}
cross=()
if [ "$arch" = "$native" ]; then
  need debhelper dpkg-dev libutf8proc-dev liburing-dev libncurses-dev
else
  if ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
    dpkg --add-architecture "$arch"
    apt-get update -qq
  fi
  triplet=$(dpkg-architecture -a "$arch" -qDEB_HOST_GNU_TYPE 2>/dev/null)
  need --no-recommends debhelper dpkg-dev "g++-$triplet" "libutf8proc-dev:$arch" "liburing-dev:$arch" \
    "libncurses-dev:$arch" "pkgconf:$arch" "libstdc++6:$arch"
  cross=(-a "$arch" -Pnocheck)
fi

version=$(dpkg-parsechangelog -S Version)
work=dist/deb-build
source_dir=$work/qz-$version
rm -rf "$work"
mkdir -p "$source_dir"
tar -c --exclude='./build*' --exclude=./dist --exclude=./.git --exclude='./obj-*' . |
  tar -x -C "$source_dir"

(cd "$work" && dpkg-source -b "qz-$version" >/dev/null)
mv "$work/qz_$version.dsc" "$work/qz_$version.tar.xz" dist/

log=dist/qz_${version}_${arch}.build
if ! (cd "$source_dir" && dpkg-buildpackage -us -uc -b -j"$jobs" "${cross[@]}") >"$log" 2>&1; then
  tail -n 40 "$log"
  note "FAILED: dpkg-buildpackage (the whole log is $log)"
  exit 1
fi
mv "$work"/qz*_"${version}"_* dist/
note "dist/qz_${version}_${arch}.deb"
