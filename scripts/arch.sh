# Sourced by the scripts: which Windows build to build and test.
# The product is a 32-bit (i686) program, and that is what is built and
# tested, under 32-bit Wine. Where the kernel runs no 32-bit code,
# scripts/setup.sh makes the lane for it (qemu-user through binfmt_misc);
# when 32-bit programs still do not run, this stops with the reason, and
# never falls back silently. KV_ARCH=x86_64 picks the 64-bit twin (the same
# sources as a 64-bit program under 64-bit Wine) explicitly. Sets KV_ARCH,
# KV_TOOLCHAIN and WINEARCH, and for x86_64 puts a "wine" that starts the
# 64-bit loader first on the PATH (Debian's own "wine" prefers the 32-bit one).
# Scripts that source this live one folder below the root; a shell sourcing
# it by hand stands in the root.
if [ -f "$(dirname "$0")/../scripts/arch.sh" ]; then
    kv_root=$(cd "$(dirname "$0")/.." && pwd)
else
    kv_root=$PWD
fi
KV_ARCH=${KV_ARCH:-i686}
# "wow64" (a prefix's own mark, scripts/make-wine-template.sh): the i686
# build in a 64-bit prefix, as 32-bit programs run on 64-bit Windows.
kv_wow64=
[ "$KV_ARCH" = wow64 ] && { KV_ARCH=i686; kv_wow64=1; }
case $KV_ARCH in
i686)
    if ! { [ -x /lib/ld-linux.so.2 ] && /lib/ld-linux.so.2 --version >/dev/null 2>&1; }; then
        echo "arch: 32-bit programs do not run here, so the shipped i686 build cannot be tested:" \
             "run sh scripts/setup.sh (as root) to make the 32-bit lane, or set KV_ARCH=x86_64" \
             "to test the 64-bit twin instead" >&2
        exit 1
    fi ;;
x86_64) ;;
*) echo "arch: KV_ARCH must be i686 or x86_64, not $KV_ARCH" >&2; exit 1 ;;
esac
KV_TOOLCHAIN=$kv_root/cmake/toolchain-$KV_ARCH-mingw.cmake
if [ "$KV_ARCH" = x86_64 ]; then
    WINEARCH=win64
    case ":$PATH:" in *":$kv_root/scripts/wine64:"*) ;; *) PATH=$kv_root/scripts/wine64:$PATH ;; esac
elif [ -n "$kv_wow64" ]; then
    WINEARCH=win64
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
