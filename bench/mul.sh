#!/usr/bin/env bash
# The multiplication engine against GMP's mpn_mul and mpn_sqr:
#   bash bench/mul.sh [--rounds N] [LIMBS ...]
# (default 10^3 to 10^7 limbs, 3 rounds). Balanced (n x n), unbalanced
# (4n x n) and squares; the engine on one thread and on every core; every
# product compared with GMP's. Leaves results/mul.md and results/mul.png.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/deps.sh python3 gnuplot-nox >/dev/null || true
bash scripts/build.sh mul_bench >/dev/null
exec python3 bench/mul.py "$@"
