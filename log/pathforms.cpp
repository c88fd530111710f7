// Path forms and tests of the log reader: OEM text converted, floppy
// drives, shared DLLs, the system-file classification (by folder identity)
// and the rule that every path acted on is plain and absolute.
#include "readstate.h"
#include "../base/refusals.h"
#include "../base/paths.h"
#include "../base/state.h"
#include "../base/text.h"
#include <string.h>

char WindowsDir[INV_PATH_CAP];
static char Win32sDir[INV_PATH_CAP];
static int FloppyA, FloppyB;      // -1 until first asked: most logs name no floppy
static HKEY SharedDllsKey;
static int SharedDllsOpened;

// A path value in its ANSI form: an OEM block's text is converted, so that
// the path is tested, compared and stored as the file system spells it.
void PathForm(const char *value, char *out, size_t cap)
{
    CopyText(out, cap, value);
    if (!AnsiLog && out[0])
        OemToCharBuffA(out, out, (DWORD)strlen(out));
}

int OnFloppy(const char *path)
{
    if (path[0] == 0 || path[1] != ':')
        return 0;
    if (path[0] == 'A' || path[0] == 'a') {
        if (FloppyA < 0)
            FloppyA = GetDriveTypeA("A:\\") == DRIVE_REMOVABLE;
        return FloppyA;
    }
    if (path[0] == 'B' || path[0] == 'b') {
        if (FloppyB < 0)
            FloppyB = GetDriveTypeA("B:\\") == DRIVE_REMOVABLE;
        return FloppyB;
    }
    return 0;
}

// Whether path names a value under HKLM\...\SharedDLLs.
int IsSharedDll(const char *path)
{
    if (!SharedDllsOpened) {
        SharedDllsOpened = 1;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                          0, 0x3F, &SharedDllsKey) != ERROR_SUCCESS)
            SharedDllsKey = NULL;
    }
    if (!SharedDllsKey)
        return 0;
    BYTE data[256];
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExA(SharedDllsKey, path, NULL, NULL, data, &size);
    return rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA;
}

// Whether dir (ending in a backslash) is directory or a parent of it.
int ContainsDir(const char *dir, const char *directory)
{
    if (!directory[0])
        return 0;
    char withSlash[INV_PATH_CAP + 1];
    CopyText(withSlash, sizeof withSlash, directory);
    size_t n = strlen(withSlash);
    if (withSlash[n - 1] != '\\')
        AppendText(withSlash, sizeof withSlash, "\\");
    return TextEqualNoCaseN(dir, withSlash, strlen(dir));
}

// The three classification directories as they are on disk: their identity
// (volume and file index) and, where there is none, their long forms. Each
// is looked up when first needed (a search under the System directory costs
// a small log more than its reading), then kept for the reading.
enum { CLASS_DIRS = 3, DIR_CACHE = 16 };
static FileIdentity ClassIds[CLASS_DIRS];
static int ClassIdKnown[CLASS_DIRS];
static FolderEntry ClassEntries[CLASS_DIRS];    // 95 and 98 only
static int ClassEntryKnown[CLASS_DIRS];
static char ClassLong[CLASS_DIRS][INV_PATH_CAP];
static int ClassIdsMade, ClassLongMade;
// Directories already classified during this reading (nothing on disk
// changes while the log is read), used round robin.
static char CachedDir[DIR_CACHE][INV_PATH_CAP];
static int CachedSys[DIR_CACHE];
static int CacheNext;

static void PrepareClassification(void)
{
    ClassIdsMade = ClassLongMade = 0;
    for (int i = 0; i < DIR_CACHE; i++)
        CachedDir[i][0] = 0;
    CacheNext = 0;
}

static void MakeClassIds(void)
{
    const char *dirs[CLASS_DIRS] = {WindowsDir, SystemDir, Win32sDir};
    for (int i = 0; i < CLASS_DIRS; i++) {
        ClassIdKnown[i] = dirs[i][0] && GetFileIdentity(dirs[i], &ClassIds[i]) == 0;
        ClassEntryKnown[i] = PlatformKind != PLATFORM_NT && dirs[i][0] &&
                             GetFolderEntry(dirs[i], &ClassEntries[i]) == 0;
    }
    ClassIdsMade = 1;
}

static void MakeClassLong(void)
{
    const char *dirs[CLASS_DIRS] = {WindowsDir, SystemDir, Win32sDir};
    for (int i = 0; i < CLASS_DIRS; i++) {
        CopyText(ClassLong[i], sizeof ClassLong[i], dirs[i]);
        if (ClassLong[i][0])
            NormalizePath(ClassLong[i], sizeof ClassLong[i], 1);
    }
    ClassLongMade = 1;
}

// Whether dir is the Windows, System or WIN32S directory, by identity: an
// 8.3 alias, a share or a link to one of them cannot pass for another folder.
// On 95 and 98, whose identity does not see through a share or another
// drive, also by the folder's directory entry (see GetFolderEntry).
static int ClassifyDirectory(const char *dir)
{
    const char *dirs[CLASS_DIRS] = {WindowsDir, SystemDir, Win32sDir};
    for (int i = 0; i < CLASS_DIRS; i++)
        if (dirs[i][0] && TextEqualNoCase(dir, dirs[i]))
            return 1;
    FolderEntry entry;
    if (PlatformKind != PLATFORM_NT && GetFolderEntry(dir, &entry) == 0) {
        if (!ClassIdsMade)
            MakeClassIds();
        for (int i = 0; i < CLASS_DIRS; i++)
            if (ClassEntryKnown[i] && SameFolderEntry(&entry, &ClassEntries[i]))
                return 1;
    }
    FileIdentity id;
    if (GetFileIdentity(dir, &id) == 0) {
        if (!ClassIdsMade)
            MakeClassIds();
        for (int i = 0; i < CLASS_DIRS; i++)
            if (ClassIdKnown[i] && SameIdentity(&id, &ClassIds[i]))
                return 1;
        return 0;
    }
    char longForm[INV_PATH_CAP];
    CopyText(longForm, sizeof longForm, dir);
    NormalizePath(longForm, sizeof longForm, 1);
    if (!ClassLongMade)
        MakeClassLong();
    for (int i = 0; i < CLASS_DIRS; i++)
        if (ClassLong[i][0] && TextEqualNoCase(longForm, ClassLong[i]))
            return 1;
    return 0;
}

int IsSystemDirectory(const char *path)
{
    char dir[INV_PATH_CAP];
    CopyText(dir, sizeof dir, path);
    char *slash = strrchr(dir, '\\');
    if (!slash)
        return 0;
    *slash = 0;
    for (int i = 0; i < DIR_CACHE; i++)
        if (CachedDir[i][0] && strcmp(CachedDir[i], dir) == 0)
            return CachedSys[i];
    int sys = ClassifyDirectory(dir);
    CopyText(CachedDir[CacheNext], sizeof CachedDir[CacheNext], dir);
    CachedSys[CacheNext] = sys;
    CacheNext = (CacheNext + 1) % DIR_CACHE;
    return sys;
}

// Longer than 3 characters, and "\\..." or a letter, colon and backslash;
// and plain: no dot or empty component, no device prefix (see paths.h), so
// that the directory removal acts on exactly the folder named.
int IsAbsolutePath(const char *path)
{
    return strlen(path) > 3 && IsPlainAbsolutePath(path, 0) && !IsRootPath(path);
}

// The same test for the paths of files, backups, INI files, servers and
// devices: a relative path would be tested against one current directory
// and acted on in another, and a dot or a doubled backslash could reach
// another folder or slip past the system-file classification. A file line
// may name a pattern in its last component.
int UsablePath(const char *path, int allowPattern)
{
    return strlen(path) > 3 && IsPlainAbsolutePath(path, allowPattern) && !IsRootPath(path);
}

void RefusePath(const char *kind, const char *path)
{
    RecordRefusal(kind, path, "BAD-PATH", InstallCount);
}

void PreparePathForms(void)
{
    FloppyA = FloppyB = -1;
    UINT n = GetWindowsDirectoryA(WindowsDir, sizeof WindowsDir);
    if (n == 0 || n >= sizeof WindowsDir)
        WindowsDir[0] = 0;
    n = GetSystemDirectoryA(SystemDir, sizeof SystemDir);
    if (n == 0 || n >= sizeof SystemDir)
        SystemDir[0] = 0;
    Win32sDir[0] = 0;
    if (SystemDir[0]) {
        CopyText(Win32sDir, sizeof Win32sDir, SystemDir);
        if (AppendText(Win32sDir, sizeof Win32sDir, "\\WIN32S") != TEXT_FIT)
            Win32sDir[0] = 0;
    }
    PrepareClassification();
}

void EndPathForms(void)
{
    if (SharedDllsKey)
        RegCloseKey(SharedDllsKey);
    SharedDllsKey = NULL;
    SharedDllsOpened = 0;
}
