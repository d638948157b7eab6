#!/usr/bin/env bash
# Configures and builds the project in build/ (Release), after installing what
# the machine lacks. Extra arguments go to CMake's configure step.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release "$@" >/dev/null
cmake --build build -j "$(nproc)"
