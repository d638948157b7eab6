#!/usr/bin/env bash
# Installs, from Debian's packages, whatever building the programs needs and
# the machine lacks: a C++ compiler, make, CMake, pkg-config and GMP.
# Extra package names given as arguments (the test tools, the benchmark's
# peers) are installed too when missing.
set -euo pipefail

packages=(g++ make cmake pkg-config libgmp-dev "$@")

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

if ! command -v dpkg-query >/dev/null; then
    echo "deps: not a Debian-like system; install ${packages[*]} by hand" >&2
    exit 0
fi

missing=()
for p in "${packages[@]}"; do installed "$p" || missing+=("$p"); done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "deps: installing ${missing[*]}" >&2
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
