#!/bin/sh
# Shows the background window under Xvfb with Wine's X11 driver, takes a
# screenshot and checks the gradient's band colours at a few rows.
# usage: screenshot_background.sh TEMPLATE UNINSTAL.EXE OUTDIR
set -u
template=$1 exe=$2 out=$3
mkdir -p "$out"
work=$(mktemp -d "${TMPDIR:-/tmp}/kvshot.XXXXXX")
cp "$exe" "$work/UNINSTAL.EXE"
# Red starts above the valid range and must be clamped to 255.
printf '[Settings]\r\nStart Red=300\r\nEnd Red=0\r\n' > "$work/UNINSTAL.INI"

XVFB_SCREEN=800x600x24 XVFB_PREFIX=$work/pfx XVFB_WORK=$work
. "$(dirname "$0")/../scripts/xvfb.sh"

# The program shows its window and the open-file dialog, then waits.
KV_X11=1 KV_KEEP_PREFIX="$work/pfx" KV_TIMEOUT=60 \
    "$(dirname "$0")/../scripts/wine-run.sh" "$template" "$work/UNINSTAL.EXE" &
runner=$!
found=
for i in $(seq 200); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"Open"'; then found=1; break; fi
    sleep 0.1
done
if [ -z "$found" ]; then echo "FAIL: no window appeared"; exit 1; fi
sleep 1
"$IM_IMPORT" -display $disp -window root "$out/background.png"
WINEPREFIX="$work/pfx" TMPDIR="$work/pfx/.tmp" wineserver -k >/dev/null 2>&1
wait $runner 2>/dev/null

pixel() { "$IM_CONVERT" "$out/background.png" -format "%[fx:int(255*p{$1,$2}.r)] %[fx:int(255*p{$1,$2}.g)] %[fx:int(255*p{$1,$2}.b)]" info:; }
# The client area's top: the first row of column 600 in the first band's colour.
top=
for y in $(seq 0 80); do
    if [ "$(pixel 600 $y)" = "255 0 255" ]; then top=$y; break; fi
done
if [ -z "$top" ]; then echo "FAIL: no band 0 colour (255 0 255) near the top"; exit 1; fi
h=$((600 - top))
fail=0
for band in 0 10 47 50 95; do
    y=$((top + (band * h / 96 + (band + 1) * h / 96) / 2))
    red=$((300 - 300 * band / 95)); [ $red -gt 255 ] && red=255; [ $red -lt 0 ] && red=0
    blue=$((255 - 255 * band / 95))
    got=$(pixel 600 $y)
    want="$red 0 $blue"
    if [ "$got" = "$want" ]; then echo "band $band row $y: $got ok"
    else echo "band $band row $y: got $got want $want"; fail=1; fi
done
echo "screenshot: $out/background.png"
[ $fail = 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $fail
