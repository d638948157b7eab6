#!/usr/bin/env bash
# agmpi and bsplitpi side by side with MPFR, Arb and Debian's pi program:
#   bash bench/compare.sh [--rounds N] [--programs NAME,...] [COUNT ...]
# (default counts 10^4 10^5 10^6 10^7). Installs what it needs from Debian's
# packages, builds our programs and the two small peer programs, runs
# bench/compare.py, and leaves results/compare.md and results/compare.png.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! bash scripts/deps.sh time python3 libmpfr-dev libflint-dev libflint-arb-dev pi gnuplot-nox; then
    echo "compare: could not install the peers (libmpfr-dev libflint-dev libflint-arb-dev pi" \
         "gnuplot-nox); install them and run again" >&2
    exit 1
fi
bash scripts/build.sh agmpi bsplitpi >/dev/null
mkdir -p build/bench
cc=${CC:-cc}
flags=(-O2 -Wall -Wextra -Ibench/peers)
"$cc" "${flags[@]}" bench/peers/mpfr_pi.c -o build/bench/mpfr_pi -lmpfr -lgmp
"$cc" "${flags[@]}" -I/usr/include/flint bench/peers/arb_pi.c -o build/bench/arb_pi \
    -lflint-arb -lflint -lmpfr -lgmp
exec python3 bench/compare.py "$@"
