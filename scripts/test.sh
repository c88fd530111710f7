#!/bin/sh
# Installs what is missing, builds everything and runs every test under Wine.
# usage: scripts/test.sh [extra ctest arguments]
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
mkdir -p build
. scripts/arch.sh
kv_configure
cmake --build build
cd build
ctest --output-on-failure -j2 --timeout 600 "$@"
