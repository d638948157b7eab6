#!/usr/bin/env bash
# Builds the programs and runs the benchmark: bench/run.sh [COUNT ...]
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh time python3
bash scripts/build.sh agmpi bsplitpi >/dev/null
exec python3 bench/bench.py "$@"
