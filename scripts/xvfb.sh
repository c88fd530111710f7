# Sourced by the screenshot scripts: starts Xvfb at the screen size given in
# $XVFB_SCREEN, exports DISPLAY, and on exit ends the Wine prefix $XVFB_PREFIX,
# the X server and the folder $XVFB_WORK.
for tool in Xvfb import convert xwininfo; do
    command -v $tool >/dev/null || { echo "missing $tool (apt-get install xvfb imagemagick x11-utils)"; exit 1; }
done
disp=:$((50 + $$ % 40))
Xvfb $disp -screen 0 "$XVFB_SCREEN" -nolisten tcp >/dev/null 2>&1 &
xpid=$!
xvfb_cleanup() {
    WINEPREFIX="$XVFB_PREFIX" wineserver -k >/dev/null 2>&1
    kill $xpid 2>/dev/null; wait $xpid 2>/dev/null
    rm -rf "$XVFB_WORK"
}
trap xvfb_cleanup EXIT
export DISPLAY=$disp
for i in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
