#!/bin/sh
# Shows that the end-to-end tests look at what the program did: runs them
# once against a UNINSTAL.EXE that does nothing and once against one that
# deletes everything its log names (tools/kv_mutant.cpp). Every test that
# starts the program must fail against at least one of the two; a test that
# never starts it (in-process) is listed and not counted.
# usage: sh scripts/check-e2e-mutants.sh     (builds what it needs first)
set -eu
cd "$(dirname "$0")/.."
. scripts/arch.sh
kv_configure
progs=$(cd tests && ls test_e2e_*.cpp test_*_e2e.cpp | sed 's/\.cpp$//')
[ "$KV_ARCH" = i686 ] || progs=$(echo "$progs" | grep -v wow64)
cmake --build build --target uninstal kvtools $progs
sh scripts/make-wine-template.sh build/wine-template
# The WoW64 program runs only in the 64-bit prefix (i686 build).
[ "$KV_ARCH" = i686 ] && sh scripts/make-wine-template.sh build/wine-template-wow64 wow64
work=$(mktemp -d "$PWD/build/mutants.XXXXXX")
trap 'rm -rf "$work"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
# The test programs take UNINSTAL.EXE from their own folder.
mkdir "$work/bin"
cp -a build/bin/. "$work/bin/"
cp build/bin/kv_mutant.exe "$work/bin/UNINSTAL.EXE"
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
run() { # program mode [filter]
    case $1 in *wow64*) wow=1 ;; *) wow= ;; esac
    KV_WOW64=$wow KV_MUTANT=$2 KV_MUTANT_RAN=${4:-} sh scripts/wine-run.sh "$PWD/build/wine-template" \
        "$work/bin/$1.exe" ${3:+--gtest_filter=$3} 2>&1 || true
}
bad=0 checked=0
for p in $progs; do
    for mode in nothing delete; do
        run "$p" $mode > "$work/$p.$mode.txt"
    done
    for t in $(sed -n 's/^\[       OK \] \([^ ]*\).*/\1/p' "$work/$p.nothing.txt"); do
        grep -q "^\[       OK \] $t " "$work/$p.delete.txt" || continue
        # Passed both: did it start the program at all?
        rm -f "$work/ran.txt"
        run "$p" nothing "$t" "$(winpath "$work/ran.txt")" > /dev/null
        if [ -s "$work/ran.txt" ]; then
            echo "NOT CAUGHT  $t passes against both stand-ins"
            bad=$((bad + 1))
        else
            echo "in-process  $t (never starts UNINSTAL.EXE)"
        fi
    done
    for t in $(sed -n 's/^\[  FAILED  \] \([^ ]*\) (.*/\1/p' "$work/$p.nothing.txt" "$work/$p.delete.txt" | sort -u); do
        n=fails d=fails
        grep -q "^\[  FAILED  \] $t (" "$work/$p.nothing.txt" || n=passes
        grep -q "^\[  FAILED  \] $t (" "$work/$p.delete.txt" || d=passes
        echo "caught      $t (does nothing: $n, deletes everything: $d)"
        checked=$((checked + 1))
    done
done
echo "check-e2e-mutants: $checked tests caught, $bad not caught"
[ "$bad" = 0 ] && [ "$checked" -gt 0 ]
