#!/bin/sh
# One Wine prefix with a server kept running, shared by the in-process test
# programs (CTest runs them one at a time in it): each then starts in a
# fraction of the time a fresh prefix costs.
# usage: shared-prefix.sh start TEMPLATE DIR | stop DIR
set -u
cmd=${1:-}
case $cmd in
start) template=$2 pfx=$3; from=$template ;;
stop) pfx=$2; from=$pfx ;;
*)
    echo "usage: shared-prefix.sh start TEMPLATE DIR | stop DIR" >&2
    exit 2 ;;
esac
# The prefix was made for one build's architecture; run with the same.
KV_ARCH=$(cat "$from/.kv-arch" 2>/dev/null || echo i686)
. "$(dirname "$0")/arch.sh"
. "$kv_root/scripts/prefix-copy.sh"
if [ "$cmd" = start ]; then
    rm -rf "$pfx"
    mkdir -p "$pfx"
    kv_prefix_copy "$template" "$pfx" || exit 1
fi
mkdir -p "$pfx/.tmp"
export WINEPREFIX="$pfx" WINEDEBUG=-all HOME="$pfx/home" TMPDIR="$pfx/.tmp"
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ "$cmd" = start ]; then
    # A server that outlives each program by half a minute (so that a killed
    # run leaves nothing for long), and the prefix's own programs started once.
    # Neither may hold the caller's output open: CTest waits for that.
    wineserver -p30 </dev/null >/dev/null 2>&1 || exit 1
    wine cmd.exe /c exit 0 </dev/null >/dev/null 2>&1 || exit 1
    touch "$pfx/.kv-shared"
else
    [ -d "$pfx" ] || exit 0
    wineserver -k >/dev/null 2>&1
    wineserver -w >/dev/null 2>&1
    rm -rf "$pfx"
fi
