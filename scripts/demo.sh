#!/bin/sh
# Demo: "installs" a small sample product into a throwaway Wine machine,
# runs UNINSTAL.EXE /S on its installation log, and shows what was there
# before and what is left.   usage: scripts/demo.sh [--keep]
set -eu
cd "$(dirname "$0")/.."
root=$PWD
sh scripts/setup.sh
[ -f build/CMakeCache.txt ] ||
    cmake -S . -B build -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake >/dev/null
cmake --build build --target uninstal kvtools >/dev/null
sh scripts/make-wine-template.sh build/wine-template

pfx=$(mktemp -d "${TMPDIR:-/tmp}/kvdemo.XXXXXX")
cp -a build/wine-template/. "$pfx/"
export WINEPREFIX="$pfx" WINEARCH=win32 WINEDEBUG=-all HOME="$pfx/home"
export WINEDLLOVERRIDES="winedbg.exe=d;winemenubuilder.exe=d;mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
finish() {
    wineserver -k >/dev/null 2>&1 || true
    if [ "${1:-}" = "--keep" ]; then echo "Wine machine kept at $pfx"; else rm -rf "$pfx"; fi
}
trap 'finish "${keep:-}"' EXIT
keep=${1:-}

c="$pfx/drive_c"
app="$c/Program Files/Sample Orders"
win='C:\Program Files\Sample Orders'
crlf() { sed 's/$/\r/'; }

# --- the sample product, as its installer would have left it ---------------
mkdir -p "$app/Data"
echo "sample program" > "$app/ORDERS.EXE"
echo "Read me first." > "$app/README.TXT"
echo "order data"     > "$app/Data/orders.dat"
cp build/bin/UNINSTAL.EXE "$app/UNINSTAL.EXE"
printf '[Orders]\r\nWindowPos=10,10\r\n' > "$c/windows/ORDERS.INI"
printf '\r\n[Orders]\r\nDataPath=%s\\Data\r\n' "$win" >> "$c/windows/win.ini"
wine reg add 'HKLM\Software\Sample Orders\1.0' /v Path /d "$win" /f >/dev/null 2>&1
crlf > "$app/INSTALL.LOG" <<LOG
***  Installation Started 12/08/2026 09:00 ***
Title: Sample Orders Installation
Uninstall MIF: SAMPLE.MIF
Manufacturer: Kv Samples
Product: Sample Orders
Version Number: 1.0
Made Dir: $win
Made Dir: $win\\Data
File Copy: $win\\ORDERS.EXE
File Copy: $win\\README.TXT
File Copy: $win\\Data\\orders.dat
INI New: 
INI File: C:\\windows\\ORDERS.INI
INI File: C:\\windows\\win.ini
INI Sect: Orders
INI Item: DataPath
INI Val: $win\\Data
RegDB Key: Software\\Sample Orders\\1.0
RegDB Val: 
RegDB Name: Path
RegDB Type: 0
RegDB Root: 2
LOG

state() {
    echo "  files in $win:"
    if [ -d "$app" ]; then
        (cd "$app" && find . -mindepth 1 | sort | sed 's|^\./|    |')
    else
        echo "    (folder gone)"
    fi
    echo "  C:\\windows\\ORDERS.INI: $([ -f "$c/windows/ORDERS.INI" ] && echo present || echo gone)"
    printf '  win.ini [Orders] DataPath: '
    awk 'BEGIN{s=0} /^\[/{s=($0 ~ /^\[Orders\]/)} s && /^DataPath=/{sub(/\r$/,""); print; f=1} END{if(!f) print "(none)"}' "$c/windows/win.ini"
    printf '  registry HKLM\\Software\\Sample Orders\\1.0 Path: '
    wine reg query 'HKLM\Software\Sample Orders\1.0' /v Path 2>/dev/null | tr -d '\r' | awk '/REG_SZ/{sub(/.*REG_SZ[ \t]+/,""); print; f=1} END{if(!f) print "(none)"}'
}

echo "== Installed sample product =="
state > "$pfx/before.txt"; cat "$pfx/before.txt"

log=$(wine build/bin/shortpath.exe "$win\\INSTALL.LOG" | tr -d '\r')
echo
echo "== Running: UNINSTAL.EXE /S $log =="
wine "$win\\UNINSTAL.EXE" /S "$log"
wineserver -w

echo
echo "== After the uninstall =="
state > "$pfx/after.txt"; cat "$pfx/after.txt"
if [ -f "$c/windows/SAMPLE.MIF" ]; then
    echo
    echo "== Status file C:\\windows\\SAMPLE.MIF (status lines) =="
    tr -d '\r' < "$c/windows/SAMPLE.MIF" | grep -A6 '"Status"' | grep VALUE
fi
if cmp -s "$pfx/before.txt" "$pfx/after.txt"; then
    echo
    echo "Nothing was undone: this build does not yet undo these kinds of change."
fi
