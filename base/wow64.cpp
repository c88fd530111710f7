// What a 32-bit process under WoW64 sees of the System folder, and the real
// place behind it.
#include "wow64.h"
#include "paths.h"
#include "text.h"
#include <windows.h>
#include <string.h>

typedef BOOL(WINAPI *IsWow64ProcessFn)(HANDLE, PBOOL);
typedef UINT(WINAPI *GetSystemWow64DirectoryFn)(LPSTR, UINT);

static int Wow64Known, Wow64;

int RunsUnderWow64(void)
{
    if (!Wow64Known) {
        // Both calls are looked up: neither exists before XP.
        IsWow64ProcessFn isWow64 =
            (IsWow64ProcessFn)(void *)GetProcAddress(GetModuleHandleA("KERNEL32.DLL"), "IsWow64Process");
        BOOL wow = FALSE;
        Wow64 = isWow64 && isWow64(GetCurrentProcess(), &wow) && wow;
        Wow64Known = 1;
    }
    return Wow64;
}

// Sub-folders of System32 that the redirector leaves alone: the same for
// both views.
static const char *const SharedSubFolders[] = {
    "catroot", "catroot2", "driverstore", "drivers\\etc", "logfiles", "spool",
};

// The length of dir's spelling that begins path and ends at a backslash of
// it, or 0.
static size_t FolderPrefix(const char *path, const char *dir)
{
    size_t n = strlen(dir);
    if (n == 0 || !TextEqualNoCaseN(path, dir, n) || path[n] != '\\')
        return 0;
    return n;
}

int NativeSystemPath(char *out, size_t cap, const char *path)
{
    if (CopyText(out, cap, path) != TEXT_FIT) {
        if (cap)
            out[0] = 0;
        return -1;
    }
    if (!RunsUnderWow64())
        return 0;
    GetSystemWow64DirectoryFn wowDir = (GetSystemWow64DirectoryFn)(void *)GetProcAddress(
        GetModuleHandleA("KERNEL32.DLL"), "GetSystemWow64DirectoryA");
    char sys[MAX_PATH], sysShort[MAX_PATH], native[MAX_PATH];
    UINT n = GetSystemDirectoryA(sys, sizeof sys);
    if (!wowDir || n == 0 || n >= sizeof sys)
        return 0;
    UINT w = wowDir(native, sizeof native);
    if (w == 0 || w >= sizeof native)
        return 0;
    CopyText(sysShort, sizeof sysShort, sys);
    NormalizePath(sysShort, sizeof sysShort, 0);
    size_t at = FolderPrefix(path, sys);
    if (!at)
        at = FolderPrefix(path, sysShort);
    if (!at)
        return 0;
    const char *rest = path + at + 1;
    for (const char *shared : SharedSubFolders) {
        size_t s = strlen(shared);
        if (TextEqualNoCaseN(rest, shared, s) && (rest[s] == '\\' || rest[s] == 0))
            return 0;
    }
    if (CopyText(out, cap, native) != TEXT_FIT || AppendText(out, cap, path + at) != TEXT_FIT) {
        if (cap)
            out[0] = 0;
        return -1;
    }
    return 1;
}
