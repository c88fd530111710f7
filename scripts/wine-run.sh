#!/bin/sh
# Runs one Windows program under Wine in a throwaway copy of the template
# prefix, then removes every process and the copy.
# usage: wine-run.sh TEMPLATE PROGRAM.EXE [ARGS...]
# KV_X11=1 keeps DISPLAY and switches the copy to the X11 driver (screenshots).
# KV_KEEP_PREFIX=DIR uses DIR as the prefix and leaves it in place.
set -u
template=$1; shift
if [ ! -f "$template/.kv-template" ]; then
    echo "wine-run: no template prefix at $template" >&2
    exit 2
fi
# The template was made for one build's architecture; run with the same.
KV_ARCH=$(cat "$template/.kv-arch" 2>/dev/null || echo i686)
. "$(dirname "$0")/arch.sh"
if [ -n "${KV_KEEP_PREFIX:-}" ]; then
    pfx=$KV_KEEP_PREFIX
    rm -rf "$pfx"; mkdir -p "$pfx"
else
    pfx=$(mktemp -d "${TMPDIR:-/tmp}/kvpfx.XXXXXX")
fi
cp -a "$template/." "$pfx/"
export WINEPREFIX="$pfx" WINEDEBUG=-all HOME="$pfx/home"
# A crash must fail the test, not start a debugger that waits forever.
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree,mshtml="
if [ "${KV_X11:-0}" = 1 ]; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
else
    unset DISPLAY WAYLAND_DISPLAY
fi
timeout -k 5 "${KV_TIMEOUT:-600}" wine "$@"
rc=$?
wineserver -k >/dev/null 2>&1
wineserver -w >/dev/null 2>&1
[ -z "${KV_KEEP_PREFIX:-}" ] && rm -rf "$pfx"
exit $rc
