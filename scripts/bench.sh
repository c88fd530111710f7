#!/bin/sh
# Builds and runs every benchmark in bench/ under Wine; each prints its figures.
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
. scripts/arch.sh
kv_configure
cmake --build build >/dev/null
sh scripts/make-wine-template.sh "$PWD/build/wine-template"
found=0
for exe in build/bin/bench_*.exe; do
    [ -f "$exe" ] || continue
    found=1
    echo "== $(basename "$exe")"
    KV_TIMEOUT=1200 sh scripts/wine-run.sh "$PWD/build/wine-template" "$exe"
done
[ $found = 1 ] || echo "no benchmarks built"
