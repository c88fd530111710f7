#!/bin/sh
# Demo: "installs" a small sample product into a throwaway Wine machine,
# runs UNINSTAL.EXE /S on its installation log, and shows what was there
# before and what is left.   usage: scripts/demo.sh [--keep]
set -eu
cd "$(dirname "$0")/.."
root=$PWD
sh scripts/setup.sh
. scripts/arch.sh
kv_configure
cmake --build build --target uninstal kvtools >/dev/null
sh scripts/make-wine-template.sh "$root/build/wine-template"

pfx=$(mktemp -d "${TMPDIR:-/tmp}/kvdemo.XXXXXX")
cp -a "$root/build/wine-template/." "$pfx/"
# Wine's server keeps its folder under TMPDIR: inside the prefix it goes with it.
mkdir -p "$pfx/.tmp"
export WINEPREFIX="$pfx" WINEDEBUG=-all HOME="$pfx/home" TMPDIR="$pfx/.tmp"
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
sys="$c/windows/system32"
crlf() { sed 's/$/\r/'; }
q() { wine "$@" >/dev/null 2>&1; }
prefs='HKCU\Software\Kv Samples\Shared'

# --- the machine before the product: settings that the product will change --
printf '\r\n[Sample]\r\nMode=classic\r\n' >> "$c/windows/win.ini"
q reg add "$prefs" /v Owner /d "Kv Samples" /f
q reg add "$prefs" /v Home /t REG_EXPAND_SZ /d '%WINDIR%\Samples' /f
q reg add "$prefs" /v Paths /t REG_MULTI_SZ /d 'C:\One\0C:\Two' /f
q reg add "$prefs" /v Runs /t REG_DWORD /d 7 /f
q reg add "$prefs" /v Flags /t REG_BINARY /d 0a1bff /f
q reg add 'HKLM\Software\Borland\Database Engine' /v UseCount /d 2 /f
echo "shared helper" > "$sys/ORDCOMN.DLL"
shared='HKLM\Software\Microsoft\Windows\CurrentVersion\SharedDLLs'
q reg add "$shared" /v 'C:\windows\system32\ORDCOMN.DLL' /t REG_DWORD /d 1 /f
exports="$c/Order Exports"

state() {
    echo "  files in $win:"
    if [ -d "$app" ]; then
        (cd "$app" && find . -mindepth 1 | sort | while read -r f; do
            if [ -f "$f" ]; then printf '    %s  "%s"\n' "${f#./}" "$(head -c 40 "$f" | tr -cd '[:print:]')"
            else printf '    %s\\\n' "${f#./}"; fi
        done)
    else
        echo "    (folder gone)"
    fi
    for f in ORDSHELL.DLL ORDCOMN.DLL; do
        echo "  C:\\windows\\system32\\$f: $([ -f "$sys/$f" ] && echo present || echo gone)"
    done
    printf '  shared count of ORDCOMN.DLL: '
    wine reg query "$shared" /v 'C:\windows\system32\ORDCOMN.DLL' 2>/dev/null | tr -d '\r' |
        awk '/REG_DWORD/{print $NF; f=1} END{if(!f) print "(none)"}'
    echo "  C:\\Order Exports: $([ -d "$exports" ] && (cd "$exports" && find . -type f | sed 's|^\./||' | tr '\n' ' ') || echo gone)"
    echo "  C:\\windows\\ORDERS.INI: $([ -f "$c/windows/ORDERS.INI" ] && echo present || echo gone)"
    for kv in Orders:DataPath Sample:Mode; do
        printf '  win.ini [%s] %s: ' "${kv%%:*}" "${kv#*:}"
        awk -v sec="[${kv%%:*}]" -v key="${kv#*:}=" 'BEGIN{s=0}
            /^\[/{t=$0; sub(/\r$/,"",t); s=(t==sec)}
            s && index($0,key)==1 {v=$0; sub(/\r$/,"",v); print substr(v,length(key)+1); f=1}
            END{if(!f) print "(none)"}' "$c/windows/win.ini"
    done
    echo "  registry:"
    for k in 'HKLM\Software\Sample Orders' 'HKCU\Software\Sample Orders' "$prefs" \
             'HKLM\Software\Borland\Database Engine'; do
        if wine reg query "$k" >/dev/null 2>&1; then
            wine reg query "$k" /s 2>/dev/null | tr -d '\r' | awk -v k="$k" '
                /^HK/{cur=$0; next} NF>=2 {sub(/^ +/,""); print "    " cur ": " $0}'
        else
            echo "    $k: (no key)"
        fi
    done
    echo "  clean-up program ran: $([ -f "$c/windows/ORDCLEAN.TXT" ] && echo yes || echo no)"
}

echo "== The machine before the product =="
state > "$pfx/before.txt"; cat "$pfx/before.txt"

# --- installation 1: version 1.0, as its installer would have left it -------
mkdir -p "$app/Data" "$app/Samples/Northwind" "$exports"
echo "orders program 1.0" > "$app/ORDERS.EXE"
echo "Read me first."     > "$app/README.TXT"
echo "order data"         > "$app/Data/orders.dat"
echo "help"               > "$app/ORDERS.HLP"
echo "help index"         > "$app/ORDERS.GID"     # made later by the help viewer
echo "sample order"       > "$app/Samples/Northwind/sample1.ord"
echo "shell extension"    > "$sys/ORDSHELL.DLL"
echo "shared helper 2"    > "$sys/ORDCOMN.DLL"
echo "user's own export"  > "$exports/march.csv"   # the user's, not the installer's
cp build/bin/UNINSTAL.EXE "$app/UNINSTAL.EXE"
printf '[Orders]\r\nWindowPos=10,10\r\n' > "$c/windows/ORDERS.INI"
printf '\r\n[Orders]\r\nDataPath=%s\\Data\r\n' "$win" >> "$c/windows/win.ini"
sed -i 's/^Mode=classic/Mode=orders/' "$c/windows/win.ini"
q reg add 'HKLM\Software\Sample Orders\1.0' /v Path /d "$win" /f
q reg add 'HKCU\Software\Sample Orders\Settings\Window' /v Pos /d 10,10 /f
q reg add "$prefs" /v Owner /d "Sample Orders 1.0" /f
q reg add "$prefs" /v Home /t REG_EXPAND_SZ /d '%ProgramFiles%\Sample Orders' /f
q reg add "$prefs" /v Paths /t REG_MULTI_SZ /d "$win" /f
q reg add "$prefs" /v Runs /t REG_DWORD /d 0 /f
q reg add "$prefs" /v Flags /t REG_BINARY /d 00 /f
q reg add 'HKLM\Software\Borland\Database Engine' /v UseCount /d 3 /f
q reg add "$shared" /v 'C:\windows\system32\ORDCOMN.DLL' /t REG_DWORD /d 2 /f
cat > "$pfx/first.log" <<LOG
***  Installation Started 12/08/2026 09:00 ***
Title: Sample Orders Installation
Uninstall MIF: SAMPLE.MIF
Manufacturer: Kv Samples
Product: Sample Orders
Version Number: 1.0
Execute Path: C:\\windows\\system32\\cmd.exe /c echo Sample Orders clean-up ran> C:\\windows\\ORDCLEAN.TXT
Execute Name: Sample Orders clean-up
SubSystem: BDE
Made Dir: $win
Made Dir: $win\\Data
Made Dir: C:\\Order Exports
File Tree: $win\\Samples\\*.*
File Copy: $win\\ORDERS.EXE
File Copy: $win\\README.TXT
File Copy: $win\\ORDERS.HLP
File Copy: $win\\Data\\orders.dat
File Copy: $win\\UNINSTAL.EXE
Non-System File:
File Copy: C:\\windows\\system32\\ORDSHELL.DLL
File Overwrite: C:\\windows\\system32\\ORDCOMN.DLL
INI New: 
INI File: C:\\windows\\ORDERS.INI
INI File: C:\\windows\\win.ini
INI Sect: Orders
INI Item: DataPath
INI Val: $win\\Data
INI File: C:\\windows\\win.ini
INI Sect: Sample
INI Item: Mode
INI Val: orders
INI Old: classic
RegDB Key: Software\\Sample Orders\\1.0
RegDB Val: $win
RegDB Name: Path
RegDB Type: 0
RegDB Root: 2
RegDB Tree: Software\\Sample Orders
RegDB Root: 1
RegDB Key: Software\\Kv Samples\\Shared
RegDB Val: Sample Orders 1.0
RegDB Name: Owner
RegDB Type: 0
RegDB Root: 1
RegDB Old: Kv Samples
RegDB Key: Software\\Kv Samples\\Shared
RegDB Val: %ProgramFiles%\\Sample Orders
RegDB Name: Home
RegDB Type: 1
RegDB Root: 1
RegDB Old: %WINDIR%\\Samples
RegDB Key: Software\\Kv Samples\\Shared
RegDB Val: $win
RegDB Name: Paths
RegDB Type: 2
RegDB Root: 1
RegDB Old: C:\\One
RegDB Old: C:\\Two
RegDB Key: Software\\Kv Samples\\Shared
RegDB Val: 0
RegDB Name: Runs
RegDB Type: 3
RegDB Root: 1
RegDB Old: 7
RegDB Key: Software\\Kv Samples\\Shared
RegDB Val: 00
RegDB Name: Flags
RegDB Type: 4
RegDB Root: 1
RegDB Old: 0a 1b ff
LOG

# --- installation 2: the upgrade to 1.1, with backups ------------------------
cp "$app/ORDERS.EXE" "$app/ORDERS.BAK"
echo "orders program 1.1" > "$app/ORDERS.EXE"
cp "$app/README.TXT" "$app/README.BAK"
echo "Read me first. Now with 1.1 notes." > "$app/README.TXT"
echo "report data" > "$app/Data/reports.dat"
sed -i 's/^Mode=orders/Mode=orders 1.1/' "$c/windows/win.ini"
q reg add "$prefs" /v Owner /d "Sample Orders 1.1" /f
q reg add 'HKLM\Software\Borland\Database Engine' /v UseCount /d 4 /f
cat > "$pfx/second.log" <<LOG
***  Installation Started 12/09/2026 10:00 ***
Version Number: 1.1
SubSystem: BDE
File Copy: $win\\ORDERS.EXE
Backup Copy: $win\\ORDERS.BAK
File Edit: $win\\README.TXT
Backup Copy: $win\\README.BAK
File Copy: $win\\Data\\reports.dat
INI File: C:\\windows\\win.ini
INI Sect: Sample
INI Item: Mode
INI Val: orders 1.1
INI Old: orders
RegDB Key: Software\\Kv Samples\\Shared
RegDB Val: Sample Orders 1.1
RegDB Name: Owner
RegDB Type: 0
RegDB Root: 1
RegDB Old: Sample Orders 1.0
LOG
crlf < "$pfx/first.log" > "$app/INSTALL.LOG"
crlf < "$pfx/second.log" >> "$app/INSTALL.LOG"

echo
echo "== Installed: version 1.0, then the upgrade to 1.1 =="
state > "$pfx/installed.txt"; cat "$pfx/installed.txt"

log=$(wine build/bin/shortpath.exe "$win\\INSTALL.LOG" | tr -d '\r')
echo
echo "== Rolling back the upgrade: UNINSTAL.EXE /S /R $log =="
wine "$win\\UNINSTAL.EXE" /S /R "$log"
wineserver -w
echo "== After the rollback =="
state > "$pfx/rolledback.txt"; cat "$pfx/rolledback.txt"
echo "  INSTALL.LOG: $(tr -d '\r' < "$app/INSTALL.LOG" 2>/dev/null | grep -c '^\*\*\*' || true) installation(s) left"

rpt="$c/windows/SAMPLE.RPT"
echo
echo "== A preview first: UNINSTAL.EXE /S /N /E $log (changes nothing) =="
set +e; wine "$win\\UNINSTAL.EXE" /S /N /E "$log"; code=$?; set -e
wineserver -w
echo "  exit code $code; report C:\\windows\\SAMPLE.RPT, what it would do:"
tr -d '\r' < "$rpt" | awk -F '\t' '/^[0-9]/ {printf "    %-8s %-14s %-11s %-20s %s\n", $3, $5, $6, $7, $4}'
state > "$pfx/previewed.txt"
if cmp -s "$pfx/rolledback.txt" "$pfx/previewed.txt"; then
    echo "  the machine is as it was before the preview"
else
    echo "  THE PREVIEW CHANGED THE MACHINE:"; diff "$pfx/rolledback.txt" "$pfx/previewed.txt" || true
fi

echo
echo "== Uninstalling, keeping a recovery copy: UNINSTAL.EXE /S /V /E /K $log =="
set +e; wine "$win\\UNINSTAL.EXE" /S /V /E /K "$log"; code=$?; set -e
wineserver -w
echo "  exit code $code"
echo
echo "== The report C:\\windows\\SAMPLE.RPT =="
tr -d '\r' < "$rpt" | expand -t 4 | cut -c1-150

echo
echo "== After the uninstall =="
state > "$pfx/after.txt"; cat "$pfx/after.txt"
if [ -f "$c/windows/SAMPLE.MIF" ]; then
    echo
    echo "== Status file C:\\windows\\SAMPLE.MIF (status lines) =="
    tr -d '\r' < "$c/windows/SAMPLE.MIF" | grep -A6 '"Status"' | grep VALUE
fi
echo
echo "== What differs from the machine before the product =="
diff "$pfx/before.txt" "$pfx/after.txt" || true
if cmp -s "$pfx/installed.txt" "$pfx/after.txt"; then
    echo
    echo "Nothing was undone: this build does not yet undo these kinds of change."
fi

echo
store=$(ls "$c/windows/UNINSTAL.RCV" 2>/dev/null | head -n 1)
echo "== The recovery store C:\\windows\\UNINSTAL.RCV\\$store =="
if [ -n "$store" ]; then
    echo "  $(find "$c/windows/UNINSTAL.RCV/$store" -name 'K*.DAT' | wc -l) kept files, $(du -sk "$c/windows/UNINSTAL.RCV/$store" | cut -f1) KB;" \
         "$(tr -d '\r' < "$c/windows/UNINSTAL.RCV/$store/JOURNAL.TXT" | wc -l) journal lines, the first:"
    tr -d '\r' < "$c/windows/UNINSTAL.RCV/$store/JOURNAL.TXT" | head -n 4 | cut -c1-110 | sed 's/^/    /'
fi
# The product's own copy of the program went with it: the undo runs from another.
undo="$c/windows/temp/kvundo"
mkdir -p "$undo"
cp build/bin/UNINSTAL.EXE "$undo/UNINSTAL.EXE"
echo
echo "== Undoing the uninstall: UNINSTAL.EXE /S /V /E /U (the most recent store) =="
set +e; wine 'C:\windows\temp\kvundo\UNINSTAL.EXE' /S /V /E /U; code=$?; set -e
wineserver -w
rm -rf "$undo"
echo "  exit code $code; report C:\\windows\\UNINSTAL.RPT, in short:"
tr -d '\r' < "$c/windows/UNINSTAL.RPT" | awk -F '\t' '/^#MODE/ {print "    " $0}
    /^[0-9]/ {n[$6]++; if (shown++ < 6) printf "    %-9s %-7s %-10s %s%s\n", $3, $5, $6, $4, ($8 != "" ? "  (" $8 ")" : "")}
    /^#RESULT/ {print "    ..."; print "    " $0}'
echo "  store left: $(ls "$c/windows/UNINSTAL.RCV" 2>/dev/null | wc -l)"
echo
echo "== After the undo =="
state > "$pfx/undone.txt"; cat "$pfx/undone.txt"
# A program run at uninstall did its own work (ORDCLEAN.TXT); that is not undone.
grep -v 'clean-up program ran' "$pfx/rolledback.txt" > "$pfx/rolledback.cmp"
grep -v 'clean-up program ran' "$pfx/undone.txt" > "$pfx/undone.cmp"
if cmp -s "$pfx/rolledback.cmp" "$pfx/undone.cmp"; then
    echo "  the machine is as it was before the uninstall (the clean-up program's own file stays)"
else
    echo "  THE UNDO LEFT DIFFERENCES:"; diff "$pfx/rolledback.cmp" "$pfx/undone.cmp" || true
fi

echo
echo "== The wizard on the sample product, shown under Xvfb (Automatic, then Finish) =="
sh scripts/wizard-shots.sh || echo "(the wizard screenshots could not be taken)"
