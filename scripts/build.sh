#!/usr/bin/env bash
# Installs what building needs and the machine lacks, configures build/
# (Release, tests off unless -DBUILD_TESTING=ON is given) and builds.
# Usage: scripts/build.sh [-DOPTION=VALUE ...] [TARGET ...]   (no target: all)
# DEPS may name extra Debian packages to install first.
set -euo pipefail
cd "$(dirname "$0")/.."
options=(-DBUILD_TESTING=OFF) targets=()
for a in "$@"; do
    case $a in -D*) options+=("$a") ;; *) targets+=(--target "$a") ;; esac
done
bash scripts/deps.sh ${DEPS:-}
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "${options[@]}" >/dev/null
cmake --build build -j "$(nproc)" "${targets[@]}"
