#!/usr/bin/env bash
# The release checks: the man page under mandoc -Tlint and groff -ww, the hardening of build/qz,
# the Debian package (`make deb`) under lintian, the hardening of the packaged binary, and the
# package installed with dpkg -i: the installed /usr/bin/qz runs over examples/ with no
# terminal and ends with status 0, `man -w qz` finds its page, and dpkg removes it all again.
# Runs as root (CI); installs what it needs with apt-get when missing. Exits non-zero on any
# failure.
set -euo pipefail
cd "$(dirname "$0")/.."
tag=ci-package
source scripts/lib.sh
started=$SECONDS

need debhelper dpkg-dev devscripts lintian mandoc groff man-db libutf8proc-dev liburing-dev libncurses-dev
build=${BUILD:-build}

# --- Man page ------------------------------------------------------------------------------
make all BUILD="$build" JOBS="$jobs" >/dev/null
page=$build/qz.1
lint=$(mandoc -Tlint "$page" 2>&1) || true
check "man page: mandoc -Tlint reports nothing${lint:+: $lint}" [ -z "$lint" ]
lint=$(groff -ww -man -z "$page" 2>&1) || true
check "man page: groff -ww reports nothing${lint:+: $lint}" [ -z "$lint" ]

# --- make install and make uninstall -------------------------------------------------------
# Into a staging folder that already holds a file of its own under the prefix: the install puts
# qz and its page under DESTDIR and PREFIX, the uninstall takes away exactly that.
stage_dir=$(mktemp -d)
mkdir -p "$stage_dir/opt/qz/share"
touch "$stage_dir/opt/qz/share/kept"
make install BUILD="$build" DESTDIR="$stage_dir" PREFIX=/opt/qz >/dev/null
check "make install DESTDIR=... PREFIX=/opt/qz put qz and qz.1 in place" \
  test -x "$stage_dir/opt/qz/bin/qz" -a -f "$stage_dir/opt/qz/share/man/man1/qz.1"
make uninstall BUILD="$build" >/dev/null
left=$(cd "$stage_dir" && find . | sort | paste -sd' ' -)
check "make uninstall left what was there before: $left" [ "$left" = ". ./opt ./opt/qz ./opt/qz/share ./opt/qz/share/kept" ]
rm -rf "$stage_dir"

# --- Hardening -----------------------------------------------------------------------------
# hardening-check's fortify test wants at least one fortified libc call in the program, and qz
# makes none whose size the compiler could check (its calls are read, poll, memcpy, memmove
# and memset on buffers of run-time size), so its answer is "no" whatever the flags; its
# control-flow test reads the program's IBT/SHSTK marker, which the linker drops because
# Debian's C start files (crti.o) are built without it. Both are checked at their source
# instead: every compile command carries -D_FORTIFY_SOURCE=2, and every object file of qz
# carries the marker.
harden() {  # harden <program> <what>: hardening-check without the two tests above
  local report rc=0
  report=$(hardening-check --nofortify --nocfprotection "$1" 2>&1) || rc=$?
  sed 's/^/    /' <<<"$report"
  check "$2: hardening-check passes (PIE, stack protector, RELRO, BIND_NOW)" [ "$rc" -eq 0 ]
}
fortified() {  # fortified <compile commands...>: every one defines _FORTIFY_SOURCE=2
  local all with
  all=$(grep -c . <<<"$1" || true)
  with=$(grep -c -- '-D_FORTIFY_SOURCE=2' <<<"$1" || true)
  ((all > 0 && all == with))
}
marked() {  # marked <folder>: every object file below it carries the IBT and SHSTK marker
  local o n=0
  while IFS= read -r o; do
    n=$((n + 1))
    readelf -n "$o" | grep -q 'x86 feature: IBT, SHSTK' || { note "no IBT/SHSTK marker: $o"; return 1; }
  done < <(find "$1" -name '*.o' -path '*qz*.dir*')
  ((n > 0))
}

harden "$build/qz" "$build/qz"
check "$build/qz: every compile command defines _FORTIFY_SOURCE=2" \
  fortified "$(grep '"command":' "$build/compile_commands.json")"
x86=false
[[ $(uname -m) == x86_64 ]] && x86=true
if $x86; then
  check "$build/qz: every object carries the control-flow (IBT, SHSTK) marker" marked "$build/CMakeFiles"
fi

# --- Package -------------------------------------------------------------------------------
make deb
version=$(dpkg-parsechangelog -S Version)
arch=$(dpkg --print-architecture)
deb=dist/qz_${version}_${arch}.deb
rc=0
report=$(lintian --fail-on error,warning --display-info "dist/qz_${version}_${arch}.changes" \
  "dist/qz_$version.dsc" 2>&1) || rc=$?
grep -v '^running with root privileges' <<<"$report" | sed 's/^/    /'
check "lintian: no error and no warning on the package and its source" [ "$rc" -eq 0 ]

unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
harden "$unpacked/usr/bin/qz" "packaged qz"
check "packaged qz: every compile command defines _FORTIFY_SOURCE=2" \
  fortified "$(grep -E -- ' -c [^ ]*/src/' "dist/qz_${version}_${arch}.build")"
if $x86; then
  check "packaged qz: every object carries the control-flow (IBT, SHSTK) marker" \
    marked "dist/deb-build/qz-$version"
fi

# --- Installed -----------------------------------------------------------------------------
# Minimal images tell dpkg to leave out /usr/share/man (a path-exclude in /etc/dpkg/dpkg.cfg.d/);
# a path-include on the command line, read after those files, lets the page in.
if grep -qs '^path-exclude.*/usr/share/man' /etc/dpkg/dpkg.cfg.d/*; then
  note "dpkg is told to leave out /usr/share/man; qz's page is included for this install"
fi
dpkg --path-include='/usr/share/man/man1/qz.1*' -i "$deb" >/dev/null
check "dpkg -i $deb" grep -qx 'install ok installed' <<<"$(dpkg-query -W -f='${Status}' qz)"
rc=0
out=$(cd examples && timeout 120 setsid -w /usr/bin/qz '*.txt' budget /s </dev/null 2>&1) || rc=$?
check "installed /usr/bin/qz with no terminal ran through examples/ and exited 0 (status $rc)" \
  [ "$rc" -eq 0 ]
check "installed /usr/bin/qz wrote nothing to an output that is not a terminal" [ -z "$out" ]
found=$(man -w qz 2>&1) || true
check "man -w qz finds ${found:-nothing}" [ "$found" = /usr/share/man/man1/qz.1.gz ]
dpkg --purge qz >/dev/null
check "dpkg --purge removed /usr/bin/qz and its page" \
  test ! -e /usr/bin/qz -a ! -e /usr/share/man/man1/qz.1.gz

note "$((SECONDS - started)) s"
checks_done
