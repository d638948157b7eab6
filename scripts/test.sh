#!/usr/bin/env bash
# Builds everything with warnings as errors and runs the whole test suite,
# slow tests included.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh -DBUILD_TESTING=ON -DPI_WARNINGS_AS_ERRORS=ON
ctest --test-dir build --output-on-failure -j "$(nproc)"
