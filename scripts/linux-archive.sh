#!/usr/bin/env bash
# scripts/linux-archive.sh <build folder> <machine name>
#
# Writes dist/qz-<version>-linux-<machine>.tar.gz from a build configured with QZ_STATIC: one
# folder, qz-<version>-linux-<machine>/, holding qz (stripped, with the build's own strip),
# its man page qz.1, README.md, LICENSE and CHANGELOG.md. Files are owned by root and dated
# by the newest commit (or now, outside a git checkout), so that the same tree gives the same
# archive.
set -euo pipefail
cd "$(dirname "$0")/.."
tag=dist
source scripts/lib.sh

build=$1 machine=$2
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
strip=$(sed -n 's/^CMAKE_STRIP:FILEPATH=//p' "$build/CMakeCache.txt")
name=qz-$version-linux-$machine
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

mkdir "$stage/$name"
"${strip:-strip}" -o "$stage/$name/qz" "$build/qz"
cp "$build/qz.1" README.md LICENSE CHANGELOG.md "$stage/$name/"
chmod 0755 "$stage/$name" "$stage/$name/qz"
chmod 0644 "$stage/$name"/{qz.1,README.md,LICENSE,CHANGELOG.md}
date=$(git log -1 --format=%ct 2>/dev/null || date +%s)
mkdir -p dist
tar -C "$stage" --sort=name --owner=0 --group=0 --numeric-owner --mtime="@$date" -cf - "$name" |
  gzip -n -9 >"dist/$name.tar.gz"
echo "dist/$name.tar.gz"
