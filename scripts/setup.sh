#!/bin/sh
# Installs what building and testing need, when it is missing (Debian).
set -eu
missing=
have() { command -v "$1" >/dev/null 2>&1; }
have i686-w64-mingw32-g++-posix || missing="$missing mingw-w64"
have cmake || missing="$missing cmake"
have ninja || missing="$missing ninja-build"
have wine || missing="$missing wine"
have Xvfb || missing="$missing xvfb"
have xauth || missing="$missing xauth"
have convert || missing="$missing imagemagick"
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
