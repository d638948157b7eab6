#!/usr/bin/env bash
# Builds the programs and computes pi with each, printing their reports.
# Usage: scripts/run.sh [digits]   (default 1000000; the digits are not printed)
set -euo pipefail
cd "$(dirname "$0")/.."
digits=${1:-1000000}
bash scripts/build.sh agmpi bsplitpi >/dev/null
echo "== agmpi $digits"
build/agm/agmpi "$digits"
echo "== bsplitpi $digits"
build/series/bsplitpi "$digits"
