#!/bin/sh
# The long safety runs, too slow for the test command (which runs a fixed
# sample of each): the log fuzzer over many mutated logs, the reader's
# look-up cache against readings without it (2,000 logs), the canary runs of
# the real program, and the kill runs (each mode killed at that many random
# moments and run again). Prints each run's figures.
# usage: scripts/safety-long.sh [FUZZ_COUNT [CANARY_COUNT [SEED [KILL_COUNT]]]]
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
. scripts/arch.sh
kv_configure
cmake --build build --target test_logfuzz test_logread_cache test_canary test_killrun uninstal >/dev/null
sh scripts/make-wine-template.sh "$PWD/build/wine-template"
seed=${3:-$(date +%s)}
echo "seed $seed"
KV_FUZZ_COUNT=${1:-100000} KV_FUZZ_SEED=$seed KV_WATCHDOG=14400 KV_TIMEOUT=14400 \
    sh scripts/wine-run.sh "$PWD/build/wine-template" build/bin/test_logfuzz.exe | grep -E '^fuzz:|FAILED|Failure' || true
KV_CACHE_COUNT=2000 KV_WATCHDOG=14400 KV_TIMEOUT=14400 \
    sh scripts/wine-run.sh "$PWD/build/wine-template" build/bin/test_logread_cache.exe | grep -E 'compared|FAILED|Failure|PASSED' || true
KV_CANARY_COUNT=${2:-300} KV_CANARY_SEED=$seed KV_WATCHDOG=14400 KV_TIMEOUT=14400 \
    sh scripts/wine-run.sh "$PWD/build/wine-template" build/bin/test_canary.exe | grep -E '^canary:|FAILED|Failure' || true
KV_KILL_COUNT=${4:-50} KV_KILL_SEED=$seed KV_WATCHDOG=14400 KV_TIMEOUT=14400 \
    sh scripts/wine-run.sh "$PWD/build/wine-template" build/bin/test_killrun.exe | grep -E '^kill:|FAILED|Failure|killed at' || true
