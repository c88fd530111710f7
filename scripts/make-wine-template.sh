#!/bin/sh
# Creates a ready Wine prefix at $1 for this machine's build (32-bit, or
# 64-bit where the kernel runs no 32-bit code: scripts/arch.sh), used as the
# template that every test and the demo copy (copying is far cheaper than
# wineboot).
# usage: make-wine-template.sh DIR [wow64]
# wow64: a 64-bit prefix for the i686 build, as 64-bit Windows runs 32-bit
# programs (System32 and HKLM\Software redirected for them).
# Never touches the user's own prefix or home: HOME points into the prefix.
set -eu
[ "${2:-}" = wow64 ] && KV_ARCH=wow64
. "$(dirname "$0")/arch.sh"
kind=$KV_ARCH
[ -n "$kv_wow64" ] && kind=wow64
dir=$1
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)     # Wine wants an absolute prefix path
stamp="$dir/.kv-template"
want="$(wine --version 2>/dev/null || echo none) v5 $kind"
if [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ]; then
    exit 0
fi
rm -rf "$dir"
mkdir -p "$dir/home" "$dir/.tmp"
# Wine's server keeps its folder under TMPDIR: here it goes with the prefix.
export WINEPREFIX="$dir" WINEDEBUG=-all HOME="$dir/home" TMPDIR="$dir/.tmp"
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ -n "$kv_wow64" ]; then
    # The 64-bit loader makes the prefix, its syswow64 from Debian's wine32.
    /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
else
    wineboot -i >/dev/null 2>&1 || true
fi
wineserver -w
# Null display driver: no X server needed, and no window manager delays.
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
# Services Wine starts with every fresh prefix that no test uses (event log,
# network, device enumeration) start only when asked for: each copy then
# starts up faster. The mount manager (drives, volume serials) stays.
for service in Eventlog NDIS nsiproxy PlugPlay; do
    wine reg add "HKLM\\System\\CurrentControlSet\\Services\\$service" /v Start /t REG_DWORD /d 3 /f >/dev/null 2>&1
done
wineserver -w
# Wine's own fonts (Marlett draws the caption buttons), where this Wine
# does not find them by itself.
if [ -d /usr/share/wine/fonts ]; then
    mkdir -p "$dir/drive_c/windows/Fonts"
    cp -n /usr/share/wine/fonts/*.ttf "$dir/drive_c/windows/Fonts/" 2>/dev/null || true
fi
# The user folders are links into $HOME; make them plain folders of the prefix.
for link in "$dir"/drive_c/users/*/*; do
    if [ -L "$link" ]; then rm -f "$link"; mkdir -p "$link"; fi
done
if [ ! -f "$dir/system.reg" ] || [ ! -d "$dir/drive_c/windows/system32" ] ||
    { [ -n "$kv_wow64" ] && [ ! -f "$dir/drive_c/windows/syswow64/kernel32.dll" ]; }; then
    echo "make-wine-template: wineboot did not create a usable prefix (is wine32:i386 installed?)" >&2
    exit 1
fi
# The server's folder and its name: every copy makes its own.
wineserver -w
rm -rf "$dir/.tmp" "$dir/wineserver"
# The files a copy gets for itself; Wine's own program files are hard-linked
# (scripts/prefix-copy.sh).
(cd "$dir" && find . -type f ! \( -path './drive_c/windows/*' \( -iname '*.dll' -o -iname '*.exe' \
    -o -iname '*.drv' -o -iname '*.sys' -o -iname '*.nls' -o -iname '*.acm' -o -iname '*.cpl' \
    -o -iname '*.ocx' -o -iname '*.ds' -o -iname '*.tlb' -o -iname '*.msstyles' -o -iname '*.ax' \
    -o -iname '*.com' -o -iname '*.vxd' -o -iname '*.mui' \) \) -print) > "$dir/.kv-copy"
echo "$kind" > "$dir/.kv-arch"
echo "$want" > "$stamp"
