#!/usr/bin/env bash
# The Linux release archives: `make dist` (the Windows zips, which scripts/ci-windows.sh
# checks, and the four Linux archives), then each Linux archive unpacked: it holds one folder
# with exactly qz, qz.1, README.md, LICENSE and CHANGELOG.md; `file` finds qz static and built
# for its machine; and qz (the arm64, i386 and armhf ones under qemu-user) runs over examples/
# with no terminal, ending with status 0 and writing nothing. Installs what it needs when
# missing. Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
tag=ci-dist
source scripts/lib.sh
started=$SECONDS

need file qemu-user
make --no-print-directory dist JOBS="$jobs" >/dev/null
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "${LINUX_BUILD:-build-linux-x86_64}/CMakeCache.txt")
note "built in $((SECONDS - started)) s"

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
# machine name : what file(1) calls the processor : the program that runs it here
for release in 'x86_64:x86-64:' 'arm64:ARM aarch64:qemu-aarch64' 'i386:Intel 80386:qemu-i386' \
  'armhf:ARM, EABI5:qemu-arm'; do
  IFS=: read -r machine processor runner <<<"$release"
  archive=dist/qz-$version-linux-$machine.tar.gz
  folder=qz-$version-linux-$machine
  if [ ! -f "$archive" ]; then
    fail "$archive was not written"
    continue
  fi
  listing=$(tar -tzf "$archive" | sort | paste -sd' ' -)
  check "$archive holds $listing" [ "$listing" = \
    "$folder/ $folder/CHANGELOG.md $folder/LICENSE $folder/README.md $folder/qz $folder/qz.1" ]
  tar -xzf "$archive" -C "$unpacked"
  program=$unpacked/$folder/qz
  kind=$(file -b "$program")
  check "$folder/qz: $kind" grep -qE "$processor.*(static-pie|statically) linked" <<<"$kind"
  rc=0
  out=$(cd examples && timeout 120 setsid -w $runner "$program" '*.txt' budget /s </dev/null 2>&1) || rc=$?
  check "$folder/qz${runner:+ under $runner} with no terminal ran through examples/ and exited 0 (status $rc)" \
    [ "$rc" -eq 0 ]
  check "$folder/qz wrote nothing to an output that is not a terminal" [ -z "$out" ]
done

note "$((SECONDS - started)) s"
checks_done
