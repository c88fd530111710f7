#!/bin/sh
# Runs one Windows program under Wine in a throwaway copy of the template
# prefix, then ends every process of that prefix and removes the copy, also
# when the run is timed out, interrupted or terminated.
# usage: wine-run.sh TEMPLATE PROGRAM.EXE [ARGS...]
# KV_X11=1 keeps DISPLAY and switches the copy to the X11 driver (screenshots).
# KV_KEEP_PREFIX=DIR uses DIR as the prefix and leaves it in place.
# KV_SHARED_PREFIX=DIR runs in the prefix that scripts/shared-prefix.sh keeps
# running there (for in-process test programs, one at a time): no copy, and
# only the program itself is ended.
# KV_WOW64=1: see below. KV_WINVER: see below. KV_TIMEOUT: seconds before the program is ended (default 270, below the
# 300 s CTest gives each test, so this script and not CTest does the ending).
# KV_SMALL_DRIVE=SIZE (tmpfs size, "2m" say): drive D: of the copy is a fresh
# file system of that size, for full-disk tests. It is mounted in a private
# mount namespace, so it goes with the run even when the run is killed.
# Where no such mount can be made, the run ends with 77 (CTest's "Not Run")
# and a line starting "wine-run: no small drive:" that gives the reason.
set -u
if [ -n "${KV_SMALL_DRIVE:-}" ] && [ -z "${KV_MOUNT_NS:-}" ]; then
    # Root gets a plain mount namespace; anyone else tries one inside a user
    # namespace where they count as root.
    for opt in -m -rm; do
        if unshare $opt true 2>/dev/null; then
            export KV_MOUNT_NS=$opt
            exec unshare $opt --propagation private sh "$0" "$@"
        fi
    done
    echo "wine-run: no small drive: neither 'unshare -m' nor 'unshare -rm' is allowed here" >&2
    exit 77
fi
template=$1; shift
# KV_WOW64=1: the 64-bit prefix made beside the template for the i686 build
# (TEMPLATE-wow64), where a 32-bit program runs as on 64-bit Windows.
[ -n "${KV_WOW64:-}" ] && template=$template-wow64
if [ ! -f "$template/.kv-template" ]; then
    echo "wine-run: no template prefix at $template" >&2
    exit 2
fi
# The template was made for one build's architecture; run with the same.
KV_ARCH=$(cat "$template/.kv-arch" 2>/dev/null || echo i686)
. "$(dirname "$0")/arch.sh"
. "$kv_root/scripts/prefix-copy.sh"

pfx= tpid= rc=1
# Kills every process that works in the prefix's folder: its server (whose
# folder is in the prefix's tmp) and Wine's own programs. This script and
# the test program work elsewhere.
end_prefix_processes() {
    for d in /proc/[0-9]*; do
        case $(readlink "$d/cwd" 2>/dev/null) in
        "$pfx" | "$pfx"/*) kill -9 "${d#/proc/}" 2>/dev/null ;;
        esac
    done
}
cleanup() {
    # The clean-up itself finishes whatever signal comes next (CTest sends
    # its own when it is interrupted).
    trap - EXIT
    trap "" INT TERM HUP
    [ -n "$tpid" ] && kill "$tpid" 2>/dev/null
    if [ -n "${KV_SHARED_PREFIX:-}" ]; then
        exit $rc                # the prefix and its server belong to the fixture
    fi
    if [ -n "$pfx" ] && [ -d "$pfx" ]; then
        wineserver -k >/dev/null 2>&1
        wineserver -w >/dev/null 2>&1
        [ -n "${KV_SMALL_DRIVE:-}" ] && umount -l "$pfx/drive_d" 2>/dev/null
        if [ -z "${KV_KEEP_PREFIX:-}" ]; then
            rm -rf "$pfx" 2>/dev/null
            # A server still starting up when the run was interrupted is
            # missed by -k and -w and writes into the folder while it is
            # deleted: end whatever still works in the prefix, then again.
            tries=0
            while [ -d "$pfx" ] && [ $tries -lt 20 ]; do
                end_prefix_processes
                sleep 0.2
                rm -rf "$pfx" 2>/dev/null
                tries=$((tries + 1))
            done
        fi
    fi
    # The server's folder (TMPDIR points into the prefix's own tmp folder when
    # kept, so only a kept prefix keeps one).
    exit $rc
}
trap cleanup EXIT
trap 'rc=130; exit' INT
trap 'rc=143; exit' TERM
trap 'rc=129; exit' HUP

if [ -n "${KV_SHARED_PREFIX:-}" ]; then
    pfx=$KV_SHARED_PREFIX
    if [ ! -f "$pfx/.kv-shared" ]; then
        echo "wine-run: no shared prefix at $pfx" >&2
        exit
    fi
elif [ -n "${KV_KEEP_PREFIX:-}" ]; then
    pfx=$KV_KEEP_PREFIX
    rm -rf "$pfx"; mkdir -p "$pfx"
else
    pfx=$(mktemp -d "${TMPDIR:-/tmp}/kvpfx.XXXXXX") || exit 1
fi
[ -n "${KV_SHARED_PREFIX:-}" ] || kv_prefix_copy "$template" "$pfx" || exit 1
if [ -n "${KV_SMALL_DRIVE:-}" ]; then
    mkdir -p "$pfx/drive_d"
    if ! err=$(mount -t tmpfs -o "size=$KV_SMALL_DRIVE,mode=0755" kvsmall "$pfx/drive_d" 2>&1); then
        echo "wine-run: no small drive: mount -t tmpfs failed ($KV_MOUNT_NS): $err" >&2
        rc=77
        exit
    fi
    ln -sfn ../drive_d "$pfx/dosdevices/d:"
fi
# Wine's server keeps its socket folder under TMPDIR: inside the prefix it
# goes away with the prefix.
mkdir -p "$pfx/.tmp"
export WINEPREFIX="$pfx" WINEDEBUG=-all HOME="$pfx/home" TMPDIR="$pfx/.tmp"
# A crash must fail the test, not start a debugger that waits forever.
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree,mshtml="
if [ "${KV_X11:-0}" = 1 ]; then
    wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d x11 /f >/dev/null 2>&1
else
    unset DISPLAY WAYLAND_DISPLAY
fi
# KV_WINVER (win98, nt40, ...): the Windows version Wine reports, as
# "winecfg -v" would set it (winecfg itself fails under the null driver).
if [ -n "${KV_WINVER:-}" ]; then
    wine reg add 'HKCU\Software\Wine' /v Version /d "$KV_WINVER" /f >/dev/null 2>&1
fi
# In the background: the shell then handles a signal at once instead of
# after the program ends.
timeout -k 5 "${KV_TIMEOUT:-270}" wine "$@" &
tpid=$!
wait "$tpid"
rc=$?
tpid=
exit $rc
