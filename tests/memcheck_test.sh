#!/usr/bin/env bash
# Both programs under valgrind's memcheck at small counts with every output
# setting: no read or write outside an allocation, and bsplitpi loses nothing
# it owns. agmpi keeps its numbers until exit by design; they show only as
# "still reachable", which is not counted. Exits 77 (skipped) without valgrind.
set -u
agmpi=$1 bsplitpi=$2
command -v valgrind >/dev/null || { echo "valgrind not found"; exit 77; }

status=0
check() {
    local log
    log=$(valgrind --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite,indirect \
          --show-leak-kinds=definite,indirect "$@" 2>&1 >/dev/null)
    if [ $? -eq 99 ]; then
        echo "memcheck found errors in: $*"
        echo "$log" | grep -E '==[0-9]+==' | head -40
        status=1
    fi
}
for digits in 0 20 100 3000; do
    for output in 0 1 2 3; do check "$bsplitpi" "$digits" "$output"; done
    for algorithm in 0 1 2; do check "$agmpi" "$digits" "$algorithm" 1; done
done
check "$agmpi"
check "$bsplitpi"
check "$agmpi" -5
check "$bsplitpi" 99999999999
exit $status
