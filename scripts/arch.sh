# Sourced by the scripts: which Windows build this machine's Wine can run.
# The product is a 32-bit (i686) program. A kernel that cannot run 32-bit
# code (IA-32 emulation switched off) cannot run 32-bit Wine at all; there the
# same sources are built and tested as a 64-bit program under 64-bit Wine.
# KV_ARCH=i686|x86_64 overrides the probe. Sets KV_ARCH, KV_TOOLCHAIN and
# WINEARCH, and for x86_64 puts a "wine" that starts the 64-bit loader first
# on the PATH (Debian's own "wine" prefers the 32-bit one).
# Scripts that source this live one folder below the root; a shell sourcing
# it by hand stands in the root.
if [ -f "$(dirname "$0")/../scripts/arch.sh" ]; then
    kv_root=$(cd "$(dirname "$0")/.." && pwd)
else
    kv_root=$PWD
fi
if [ -z "${KV_ARCH:-}" ]; then
    if [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
        KV_ARCH=i686
    else
        KV_ARCH=x86_64
    fi
fi
KV_TOOLCHAIN=$kv_root/cmake/toolchain-$KV_ARCH-mingw.cmake
if [ "$KV_ARCH" = x86_64 ]; then
    WINEARCH=win64
    case ":$PATH:" in *":$kv_root/scripts/wine64:"*) ;; *) PATH=$kv_root/scripts/wine64:$PATH ;; esac
else
    WINEARCH=win32
fi
export KV_ARCH KV_TOOLCHAIN WINEARCH PATH

# Configures build/ for KV_ARCH (again when it was made for the other one).
kv_configure() {
    if [ -f "$kv_root/build/CMakeCache.txt" ] &&
        ! grep -q "^CMAKE_TOOLCHAIN_FILE:.*toolchain-$KV_ARCH-mingw" "$kv_root/build/CMakeCache.txt"; then
        rm -rf "$kv_root/build"
    fi
    [ -f "$kv_root/build/CMakeCache.txt" ] ||
        cmake -S "$kv_root" -B "$kv_root/build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$KV_TOOLCHAIN" >/dev/null
}
