#!/bin/sh
# Installs what is missing, builds everything and runs every test under Wine.
# usage: scripts/test.sh [extra ctest arguments]
set -eu
cd "$(dirname "$0")/.."
sh scripts/setup.sh
mkdir -p build
. scripts/arch.sh
kv_configure
# The template prefix needs Wine alone: it is made while the build runs
# (the first test, wine_template, then finds it ready, or makes it and says
# why it could not). Configuring first: a build folder of another
# architecture is deleted there.
{
    sh scripts/make-wine-template.sh "$PWD/build/wine-template"
    # The i686 build also runs in a 64-bit prefix, as on 64-bit Windows.
    if [ "$KV_ARCH" = i686 ]; then
        sh scripts/make-wine-template.sh "$PWD/build/wine-template-wow64" wow64
    fi
} >build/wine-template.log 2>&1 &
template=$!
cmake --build build
if [ "$KV_ARCH" != i686 ]; then
    # The product is the 32-bit program: it must build even where only its
    # 64-bit twin can be tested.
    [ -f build-i686/CMakeCache.txt ] ||
        cmake -S . -B build-i686 -G Ninja -DBUILD_TESTING=OFF \
            -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null
    cmake --build build-i686 --target uninstal
fi
wait "$template" || true
cd build
# What a killed run left behind (the last test checks this folder is empty).
rm -rf tmp
# An interrupted run ends the prefixes that the in-process programs share
# (their servers would end by themselves within half a minute), gives each
# test's own clean-up ten seconds (CTest may have ended some of them first),
# then ends whatever of the run still works and deletes what it left in tmp.
# A process of the run carries TMPDIR in that folder, as the last test checks.
. ../scripts/procs.sh
run_pids() { kv_pids_env "^TMPDIR=$PWD/tmp(/|\$)"; }
end_interrupted_run() {
    n=0
    while [ -n "$(run_pids)" ] && [ $n -lt 20 ]; do
        sleep 0.5
        n=$((n + 1))
    done
    run_pids | xargs -r kill -9 2>/dev/null
    rm -rf tmp
}
interrupted=
trap 'for d in tmp/shared*; do [ -d "$d" ] && sh ../scripts/shared-prefix.sh stop "$PWD/$d"; done
      if [ -n "$interrupted" ]; then end_interrupted_run; fi' EXIT
trap 'interrupted=1; exit 130' INT
trap 'interrupted=1; exit 143' TERM
# The tests mostly wait on Wine and on the program's own pacing, not on the
# processor: twelve at a time keep two cores busy (eight left a fifth of
# them idle; sixteen were no faster). KV_TEST_JOBS changes it. CTest counts
# a skipped test ("Not Run") as no failure; here it fails.
{ set +e; ctest --output-on-failure -j"${KV_TEST_JOBS:-12}" "$@"; echo $? > ctest.rc; } | tee ctest.log
rc=$(cat ctest.rc)
if grep -q '^The following tests did not run:' ctest.log; then
    # One exception: the full-disk test needs a mount of its own, which a
    # machine may forbid; wine-run.sh then says why, and so does this.
    others=$(sed -n '/^The following tests did not run:/,/^$/p' ctest.log |
        grep -E '^[[:space:]]+[0-9]+ - ' | grep -v ' - test_e2e_fulldisk (Skipped)$' || true)
    reason=$(grep -a '^wine-run: no small drive:' Testing/Temporary/LastTest.log 2>/dev/null | head -n 1)
    if [ -z "$others" ] && [ -n "$reason" ]; then
        echo "test: *** NOT RUN: test_e2e_fulldisk, the full-disk test: ${reason#wine-run: no small drive: }"
    else
        echo "test: a test did not run (skipped); that is a failure"
        [ "$rc" != 0 ] || rc=1
    fi
fi
# What was tested, and the count, as the last lines.
if [ "$KV_ARCH" = i686 ]; then
    how="natively"
    grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-i386 && how="through qemu-user (binfmt_misc)"
    echo "test: tested the shipped i686 UNINSTAL.EXE and its 32-bit test programs under 32-bit Wine" \
         "($(wine --version), 32-bit code run $how), in 32-bit prefixes and in 64-bit ones (WoW64)"
else
    echo "test: tested the x86_64 twin (KV_ARCH=x86_64) under 64-bit Wine, not the shipped i686 UNINSTAL.EXE"
fi
total=$(sed -n 's/.*tests passed, \([0-9]*\) tests failed out of \([0-9]*\)$/\1 \2/p' ctest.log | tail -n 1)
if [ -n "$total" ]; then
    set -- $total
    echo "$(($2 - $1)) passed, $1 failed"
fi
exit "$rc"
