#!/usr/bin/env bash
# Builds everything and runs the whole test suite, slow tests included: once
# in the release build (warnings as errors), once more built with
# AddressSanitizer and UndefinedBehaviorSanitizer, where any finding fails,
# and the threaded splitting's tests once more under ThreadSanitizer. The
# sanitized run leaves out bsplitpi's every-count sweep: 20,001 processes,
# each paying the sanitizer's start-up (40-90 ms), would take half an hour;
# the release run covers it, and the sanitized run checks the spread counts.
# It also leaves out the two runs under a small address-space limit: the
# sanitizers' own reservations could never start in it, and their allocator
# stops the program where the library's allocation should fail.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
DEPS="libgtest-dev valgrind python3" bash scripts/build.sh -DBUILD_TESTING=ON -DPI_WARNINGS_AS_ERRORS=ON
ctest --test-dir build --output-on-failure -j "$jobs"

cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"

cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs"
ctest --preset tsan -j "$jobs"
