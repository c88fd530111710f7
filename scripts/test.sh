#!/bin/sh
# Installs what is missing, builds everything and runs every test under Wine.
# usage: scripts/test.sh [extra ctest arguments]
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
mkdir -p build
[ -f build/CMakeCache.txt ] ||
    cmake -S . -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null
cmake --build build
cd build
ctest --output-on-failure -j2 --timeout 600 "$@"
