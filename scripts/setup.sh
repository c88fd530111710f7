#!/bin/sh
# Installs what building and testing need, when it is missing (Debian).
set -eu
missing=
have() { command -v "$1" >/dev/null 2>&1; }
have i686-w64-mingw32-g++-posix || missing="$missing mingw-w64"
have cmake || missing="$missing cmake"
have ninja || missing="$missing ninja-build"
have wine || missing="$missing wine"
[ -x /usr/lib/wine/wine64 ] || missing="$missing wine64"
have Xvfb || missing="$missing xvfb"
have xauth || missing="$missing xauth"
# ImageMagick's own tools, checked by their version text: another program
# named "convert" may come earlier on the PATH.
magick() { for d in /usr/bin /usr/local/bin; do
    [ -x "$d/$1" ] && "$d/$1" -version 2>/dev/null | grep -q ImageMagick && return 0; done; return 1; }
magick convert && magick import || missing="$missing imagemagick"
# Wine's own fonts: Marlett draws the caption buttons in screenshots.
dpkg -s fonts-wine >/dev/null 2>&1 || missing="$missing fonts-wine"
have xwininfo || missing="$missing x11-utils"
[ -f /usr/src/googletest/CMakeLists.txt ] || missing="$missing googletest"
dpkg -s wine32:i386 >/dev/null 2>&1 || missing="$missing wine32:i386"
[ -z "$missing" ] && exit 0

echo "setup: installing$missing"
SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
case "$missing" in *i386*)
    dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386 ;;
esac
$SUDO apt-get update -q
$SUDO apt-get install -y -q --no-install-recommends $missing
