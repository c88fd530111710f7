# Sourced by the screenshot scripts: starts Xvfb at the screen size given in
# $XVFB_SCREEN, exports DISPLAY, and on exit (also on a missing tool or an
# interrupt) ends the Wine prefix $XVFB_PREFIX, the X server and removes the
# folder $XVFB_WORK.
# $IM_IMPORT and $IM_CONVERT are ImageMagick's tools, found by their version
# text (another "convert" may stand earlier on the PATH).
xpid=
xvfb_cleanup() {
    trap - EXIT INT TERM HUP
    # wine-run.sh keeps the server's folder in the prefix (TMPDIR).
    [ -d "$XVFB_PREFIX" ] &&
        WINEPREFIX="$XVFB_PREFIX" TMPDIR="$XVFB_PREFIX/.tmp" wineserver -k >/dev/null 2>&1
    [ -n "$xpid" ] && kill $xpid 2>/dev/null
    wait    # the X server and the background wine-run.sh (it cleans up after itself)
    rm -rf "$XVFB_WORK"
}
trap xvfb_cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP
for tool in Xvfb xwininfo; do
    command -v $tool >/dev/null || { echo "missing $tool (apt-get install xvfb x11-utils)"; exit 1; }
done
IM_IMPORT= IM_CONVERT=
for d in /usr/bin /usr/local/bin; do
    [ -z "$IM_IMPORT" ] && "$d/import" -version 2>/dev/null | grep -q ImageMagick && IM_IMPORT=$d/import
    [ -z "$IM_CONVERT" ] && "$d/convert" -version 2>/dev/null | grep -q ImageMagick && IM_CONVERT=$d/convert
done
if [ -z "$IM_IMPORT" ] || [ -z "$IM_CONVERT" ]; then
    echo "missing ImageMagick's import or convert (apt-get install imagemagick)"
    exit 1
fi
# The server picks a free display itself and writes its number to fd 3.
mkdir -p "$XVFB_WORK"
Xvfb -displayfd 3 -screen 0 "$XVFB_SCREEN" -nolisten tcp 3>"$XVFB_WORK/display" >/dev/null 2>&1 &
xpid=$!
disp=
for i in $(seq 100); do
    [ -s "$XVFB_WORK/display" ] && { disp=:$(head -n1 "$XVFB_WORK/display"); break; }
    sleep 0.1
done
[ -n "$disp" ] || { echo "Xvfb did not start"; exit 1; }
export DISPLAY=$disp
for i in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
