#!/usr/bin/env bash
# Installs what the machine lacks, configures build/ (Release) and builds.
# Usage: scripts/build.sh [-DOPTION=VALUE ...] [TARGET ...]   (no target: all)
set -euo pipefail
cd "$(dirname "$0")/.."
options=() targets=()
for a in "$@"; do
    case $a in -D*) options+=("$a") ;; *) targets+=(--target "$a") ;; esac
done
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "${options[@]}" >/dev/null
cmake --build build -j "$(nproc)" "${targets[@]}"
