#!/usr/bin/env bash
# Installs the build into a scratch prefix: both programs in bin/, a manual
# page for each in share/man/man1/, and the installed programs run.
set -eu
build=$1
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null
for f in bin/agmpi bin/bsplitpi share/man/man1/agmpi.1 share/man/man1/bsplitpi.1; do
    [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
[ "$("$prefix/bin/agmpi" 5 0 1 | sed -n 10p)" = "0.3141593e1" ] || { echo "agmpi does not run"; exit 1; }
[ "$("$prefix/bin/bsplitpi" 5 1 | sed -n 2p)" = "0.3141593e1" ] || { echo "bsplitpi does not run"; exit 1; }
# The pages must render without complaint where groff is at hand.
if command -v groff >/dev/null; then
    for page in agmpi bsplitpi; do
        warnings=$(groff -man -ww -z "$prefix/share/man/man1/$page.1" 2>&1)
        [ -z "$warnings" ] || { echo "$page.1: $warnings"; exit 1; }
    done
fi
echo "installed and ran"
