#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
# With the argument "bench": also what the benchmarks need (Google Benchmark and the peers
# they are measured against).
set -euo pipefail

packages=(cmake make g++ libgtest-dev libvterm-dev)
if [ "${1:-}" = bench ]; then
  packages+=(libbenchmark-dev python3 ripgrep grep ugrep strace)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}"
