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
SUDO=
[ "$(id -u)" = 0 ] || SUDO=sudo
export DEBIAN_FRONTEND=noninteractive
if [ -n "$missing" ]; then
    echo "setup: installing$missing"
    case "$missing" in *i386*)
        dpkg --print-foreign-architectures | grep -qx i386 || $SUDO dpkg --add-architecture i386 ;;
    esac
    $SUDO apt-get update -q
    $SUDO apt-get install -y -q --no-install-recommends $missing
fi

# The product is a 32-bit program and its tests run it under 32-bit Wine.
# A kernel that runs no 32-bit code (a hypervisor that offers no 32-bit code
# segment) gets it through qemu-user 10 or later, registered with binfmt_misc
# for i386 programs: the flag F opens the interpreter at registration, so it
# also serves programs started in other mount namespaces. Bookworm's own
# qemu 7.2 is no use here: it takes about 50 s per Wine start. KV_ARCH=x86_64
# (the 64-bit twin) needs none of it.
runs32() { [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; }
qemu_major() { qemu-i386 --version 2>/dev/null | sed -n 's/^qemu-i386 version \([0-9]*\).*/\1/p' | head -n 1; }
lane_fail() { echo "setup: no 32-bit lane: $*" >&2; echo "setup: (KV_ARCH=x86_64 tests the 64-bit twin instead, explicitly)" >&2; exit 1; }
if [ "${KV_ARCH:-i686}" = i686 ] && ! runs32; then
    if [ "$(qemu_major || true)" = "" ] || [ "$(qemu_major)" -lt 10 ]; then
        echo "setup: this kernel runs no 32-bit code: installing qemu-user 10 for the 32-bit lane"
        . /etc/os-release
        suite=
        if [ "${VERSION_CODENAME:-}" = bookworm ]; then
            suite=bookworm-backports
            if ! grep -rqs 'bookworm-backports' /etc/apt/sources.list /etc/apt/sources.list.d; then
                printf '%s\n' 'Types: deb' 'URIs: http://deb.debian.org/debian' 'Suites: bookworm-backports' \
                    'Components: main' 'Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg' |
                    $SUDO tee /etc/apt/sources.list.d/kv-bookworm-backports.sources >/dev/null
            fi
        fi
        $SUDO apt-get update -q >/dev/null
        $SUDO apt-get install -y -q --no-install-recommends ${suite:+-t $suite} qemu-user ||
            lane_fail "qemu-user could not be installed"
        major=$(qemu_major || true)
        [ -n "$major" ] && [ "$major" -ge 10 ] || lane_fail "qemu-i386 is version ${major:-unknown}, 10 or later is needed"
    fi
    bm=/proc/sys/fs/binfmt_misc
    if [ ! -f "$bm/register" ]; then
        $SUDO mount -t binfmt_misc binfmt_misc "$bm" 2>/dev/null ||
            lane_fail "binfmt_misc cannot be mounted on $bm (it needs root)"
    fi
    qemu=$(command -v qemu-i386)
    # An older registration (another interpreter, or one without F) goes.
    if [ -f "$bm/qemu-i386" ] && ! { grep -qx "interpreter $qemu" "$bm/qemu-i386" &&
                                      grep -q '^flags:.*F' "$bm/qemu-i386"; }; then
        echo -1 | $SUDO tee "$bm/qemu-i386" >/dev/null || lane_fail "the old qemu-i386 entry of binfmt_misc cannot be removed"
    fi
    if [ ! -f "$bm/qemu-i386" ]; then
        magic='\x7f\x45\x4c\x46\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
        mask='\xff\xff\xff\xff\xff\xfe\xfe\xfc\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
        echo ":qemu-i386:M::$magic:$mask:$qemu:F" | $SUDO tee "$bm/register" >/dev/null ||
            lane_fail "qemu-i386 cannot be registered with binfmt_misc"
    fi
    [ "$(cat "$bm/status")" = enabled ] || echo 1 | $SUDO tee "$bm/status" >/dev/null
    runs32 || lane_fail "a 32-bit program still does not run after registering $qemu with binfmt_misc"
    echo "setup: 32-bit lane ready (qemu-i386 $(qemu_major) through binfmt_misc)"
fi
