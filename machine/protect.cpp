// Protected folders and the link test. The set is kept with each folder's
// identity, worked out once, so that a check costs one identity look-up of
// the folder asked about and a walk over a few dozen records.
#include "protect.h"
#include "../base/oscalls.h"
#include "../base/paths.h"
#include "../base/state.h"
#include "../base/text.h"
#include <shlobj.h>
#include <stdlib.h>
#include <string.h>

struct ProtectedFolder {
    char Long[PATH_CAP];        // long form, no trailing backslash (roots keep theirs)
    FileIdentity Id;
    int HasId;
    FolderEntry Entry;          // 95 and 98 only (see EntryOfProtected)
    int HasEntry;
};

static ProtectedFolder *Folders;
static int FolderCount, FolderCap;
static int Built;
// What the set was built for; a change builds it again.
static char BuiltSystemDir[INV_PATH_CAP];
static char BuiltTempCopy[PATH_CAP];

// Long form without a trailing backslash (except for a drive root). 0 when
// the text does not fit.
static int LongFormOf(const char *path, char *out, size_t cap)
{
    if (CopyText(out, cap, path) != TEXT_FIT)
        return 0;
    NormalizePath(out, cap, 1);
    size_t len = strlen(out);
    while (len > 3 && (out[len - 1] == '\\' || out[len - 1] == '/'))
        out[--len] = 0;
    return len > 0;
}

static int HasFolderText(const char *longForm)
{
    for (int i = 0; i < FolderCount; i++)
        if (TextEqualNoCase(Folders[i].Long, longForm))
            return 1;
    return 0;
}

static void AddOne(const char *longForm)
{
    if (HasFolderText(longForm))
        return;
    if (FolderCount == FolderCap) {
        int cap = FolderCap ? FolderCap * 2 : 64;
        ProtectedFolder *grown = (ProtectedFolder *)realloc(Folders, (size_t)cap * sizeof *Folders);
        if (!grown)
            return;
        Folders = grown;
        FolderCap = cap;
    }
    ProtectedFolder *f = &Folders[FolderCount++];
    CopyText(f->Long, sizeof f->Long, longForm);
    f->HasId = GetFileIdentity(longForm, &f->Id) == 0;
    f->HasEntry = PlatformKind != PLATFORM_NT && GetFolderEntry(longForm, &f->Entry) == 0;
}

// Adds the folder and every folder above it: removing a parent would take
// the folder with it.
static void AddWithParents(const char *path)
{
    char longForm[PATH_CAP];
    if (!path[0] || !LongFormOf(path, longForm, sizeof longForm))
        return;
    AddOne(longForm);
    for (;;) {
        char *slash = strrchr(longForm, '\\');
        if (!slash || slash - longForm < 2)
            break;
        if (slash - longForm == 2) {        // "C:\x" -> the root "C:\"
            slash[1] = 0;
            AddOne(longForm);
            break;
        }
        *slash = 0;
        if (IsRootPath(longForm)) {         // "\\server\share"
            AddOne(longForm);
            break;
        }
        AddOne(longForm);
    }
}

typedef HRESULT(WINAPI *FolderPathFn)(HWND, int, HANDLE, DWORD, LPSTR);
typedef BOOL(WINAPI *SpecialPathFn)(HWND, LPSTR, int, BOOL);
typedef BOOL(WINAPI *ProfilesDirFn)(LPSTR, LPDWORD);
typedef UINT(WINAPI *DirFn)(LPSTR, UINT);

// A system library, loaded only from the System directory.
static HMODULE LoadSystemLibrary(const char *name)
{
    char path[MAX_PATH + 32];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || AppendText(path, sizeof path, "\\") != TEXT_FIT ||
        AppendText(path, sizeof path, name) != TEXT_FIT)
        return NULL;
    return LoadLibraryA(path);
}

static const int ShellFolders[] = {
    CSIDL_PROGRAM_FILES, CSIDL_PROGRAM_FILES_COMMON, CSIDL_PROGRAM_FILESX86,
    CSIDL_PROGRAM_FILES_COMMONX86, CSIDL_DESKTOPDIRECTORY, CSIDL_STARTMENU, CSIDL_PROGRAMS,
    CSIDL_STARTUP, CSIDL_PERSONAL, CSIDL_APPDATA, CSIDL_LOCAL_APPDATA, CSIDL_COMMON_APPDATA,
    CSIDL_COMMON_DESKTOPDIRECTORY, CSIDL_COMMON_STARTMENU, CSIDL_COMMON_PROGRAMS,
    CSIDL_COMMON_STARTUP, CSIDL_COMMON_DOCUMENTS, CSIDL_FONTS, CSIDL_PROFILE, CSIDL_WINDOWS,
    CSIDL_SYSTEM, CSIDL_SYSTEMX86, CSIDL_TEMPLATES, CSIDL_SENDTO, CSIDL_FAVORITES,
    CSIDL_RECENT, CSIDL_COMMON_TEMPLATES, CSIDL_COMMON_FAVORITES,
};

// Environment names that some systems use for the same folders (a 32-bit
// program on 64-bit Windows is told only of "Program Files (x86)").
static const char *const FolderVariables[] = {
    "ProgramFiles", "ProgramW6432", "CommonProgramFiles", "CommonProgramW6432",
    "ProgramFiles(x86)", "SystemRoot", "windir", "ALLUSERSPROFILE", "PUBLIC", "ProgramData",
    "USERPROFILE", "APPDATA", "LOCALAPPDATA", "TEMP", "TMP",
};

// Where the shell cannot name Program Files or Common Files (shell32 before
// 5.0, as on Windows 95, 98 and NT 4.0, has no SHGetFolderPathA, and its
// SHGetSpecialFolderPathA knows neither), the system's own record of them:
// a REG_SZ value that is a plain absolute path, and nothing else.
static void RegistryFolder(const char *value, char *out, size_t cap)
{
    out[0] = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0, KEY_QUERY_VALUE,
                      &key) != ERROR_SUCCESS)
        return;
    DWORD type = 0, size = (DWORD)cap - 1;
    LONG rc = Os.RegQueryValueExA(key, value, NULL, &type, (BYTE *)out, &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ || size == 0 || size >= cap) {
        out[0] = 0;
        return;
    }
    out[size] = 0;
    // The text and at most its own NUL: nothing cut, nothing after it.
    size_t len = strlen(out);
    if (len + 1 < size || !IsPlainAbsolutePath(out, 0))
        out[0] = 0;
}

static void AddShellFolders(void)
{
    HMODULE shell = LoadSystemLibrary("SHELL32.DLL");
    FolderPathFn folderPath = shell ? (FolderPathFn)(void *)Os.GetProcAddress(shell, "SHGetFolderPathA") : NULL;
    SpecialPathFn specialPath =
        shell ? (SpecialPathFn)(void *)Os.GetProcAddress(shell, "SHGetSpecialFolderPathA") : NULL;
    for (int csidl : ShellFolders) {
        char path[MAX_PATH + 1] = "";
        if (folderPath) {
            if (folderPath(NULL, csidl | CSIDL_FLAG_DONT_VERIFY, NULL, 0, path) != S_OK)
                path[0] = 0;
        } else if (specialPath && !specialPath(NULL, path, csidl, FALSE)) {
            path[0] = 0;
        }
        path[MAX_PATH] = 0;
        if (!path[0] && csidl == CSIDL_PROGRAM_FILES)
            RegistryFolder("ProgramFilesDir", path, sizeof path);
        else if (!path[0] && csidl == CSIDL_PROGRAM_FILES_COMMON)
            RegistryFolder("CommonFilesDir", path, sizeof path);
        AddWithParents(path);
    }
    if (shell)
        FreeLibrary(shell);
    for (const char *name : FolderVariables) {
        char path[MAX_PATH];
        DWORD n = GetEnvironmentVariableA(name, path, sizeof path);
        if (n && n < sizeof path)
            AddWithParents(path);
    }
}

// The profiles folder and every profile in it.
static void AddProfiles(void)
{
    char dir[MAX_PATH] = "";
    HMODULE userenv = LoadSystemLibrary("USERENV.DLL");
    ProfilesDirFn profilesDir =
        userenv ? (ProfilesDirFn)(void *)Os.GetProcAddress(userenv, "GetProfilesDirectoryA") : NULL;
    DWORD size = sizeof dir;
    if (!profilesDir || !profilesDir(dir, &size))
        dir[0] = 0;
    if (userenv)
        FreeLibrary(userenv);
    if (!dir[0])
        return;
    AddWithParents(dir);
    char pattern[MAX_PATH + 8];
    if (CopyText(pattern, sizeof pattern, dir) != TEXT_FIT ||
        AppendText(pattern, sizeof pattern, "\\*") != TEXT_FIT)
        return;
    FindRecord rec;
    for (int more = FindFirstEntry(pattern, &rec) == 0; more; more = FindNextEntry(&rec) == 0) {
        if (!(rec.Attributes & FILE_ATTRIBUTE_DIRECTORY) || rec.Name[0] == '.')
            continue;
        char profile[MAX_PATH + 8];
        if (CopyText(profile, sizeof profile, dir) == TEXT_FIT &&
            AppendText(profile, sizeof profile, "\\") == TEXT_FIT &&
            AppendText(profile, sizeof profile, rec.Name) == TEXT_FIT)
            AddOne(profile);
    }
    EndFind(&rec);
}

static void AddSystemFolders(void)
{
    char path[MAX_PATH];
    UINT n = GetWindowsDirectoryA(path, sizeof path);
    if (n && n < sizeof path)
        AddWithParents(path);
    n = GetSystemDirectoryA(path, sizeof path);
    if (n && n < sizeof path)
        AddWithParents(path);
    // Not on every system: looked up by name.
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    static const char *const more[] = {"GetSystemWindowsDirectoryA", "GetSystemWow64DirectoryA"};
    for (const char *name : more) {
        DirFn fn = kernel ? (DirFn)(void *)Os.GetProcAddress(kernel, name) : NULL;
        n = fn ? fn(path, sizeof path) : 0;
        if (n && n < sizeof path)
            AddWithParents(path);
    }
    // The run's System directory is the system's own (added above with its
    // parents); taken alone, so that a nested one is still caught level by
    // level.
    char longForm[PATH_CAP];
    if (SystemDir[0] && LongFormOf(SystemDir, longForm, sizeof longForm))
        AddOne(longForm);
    n = GetTempPathA(sizeof path, path);
    if (n && n < sizeof path)
        AddWithParents(path);
    // The folder of our own temporary copy.
    char copyDir[PATH_CAP];
    if (TempCopyPath[0] && CopyText(copyDir, sizeof copyDir, TempCopyPath) == TEXT_FIT) {
        char *name = FileNamePart(copyDir);
        if (name > copyDir) {
            name[-1] = 0;
            AddWithParents(copyDir);
        }
    }
    // Every drive root that answers without waiting for a medium.
    DWORD drives = GetLogicalDrives();
    for (int d = 0; d < 26; d++) {
        char root[4] = {(char)('A' + d), ':', '\\', 0};
        if (drives & (1u << d)) {
            UINT type = GetDriveTypeA(root);
            if (type == DRIVE_FIXED || type == DRIVE_RAMDISK)
                AddOne(root);
        }
    }
}

static void BuildSet(void)
{
    FolderCount = 0;
    AddSystemFolders();
    AddProfiles();
    AddShellFolders();
    CopyText(BuiltSystemDir, sizeof BuiltSystemDir, SystemDir);
    CopyText(BuiltTempCopy, sizeof BuiltTempCopy, TempCopyPath);
    Built = 1;
}

static void BuildWhenNeeded(void)
{
    if (!Built || strcmp(BuiltSystemDir, SystemDir) != 0 || strcmp(BuiltTempCopy, TempCopyPath) != 0)
        BuildSet();
}

void ForgetProtectedFolders(void)
{
    Built = 0;
}

int ProtectedFolderCount(void)
{
    BuildWhenNeeded();
    return FolderCount;
}

// The text without trailing backslashes equals the folder's long form.
static int SameText(const char *path, const char *longForm)
{
    size_t len = strlen(path), want = strlen(longForm);
    while (len > want && path[len - 1] == '\\')
        len--;
    return len == want && TextEqualNoCaseN(path, longForm, len);
}

// Windows 95 and 98 offer nothing that sees through a share, a mapped or a
// SUBST drive to the folder it shows, and the spelling identity does not:
// there a folder with a protected folder's directory entry is taken for it.
// A look-alike made in the same instant would only be kept.
static int EntryOfProtected(const char *path)
{
    FolderEntry entry;
    if (GetFolderEntry(path, &entry) != 0)
        return 0;
    for (int i = 0; i < FolderCount; i++)
        if (Folders[i].HasEntry && SameFolderEntry(&entry, &Folders[i].Entry))
            return 1;
    return 0;
}

int IsProtectedFolder(const char *path)
{
    BuildWhenNeeded();
    if (IsRootPath(path))
        return 1;
    if (PlatformKind != PLATFORM_NT && EntryOfProtected(path))
        return 1;
    FileIdentity id;
    if (GetFileIdentity(path, &id) == 0) {
        for (int i = 0; i < FolderCount; i++) {
            const ProtectedFolder *f = &Folders[i];
            // A protected folder without an identity is missing or closed to
            // us; its plain spelling is still refused.
            if (f->HasId ? SameIdentity(&id, &f->Id) : SameText(path, f->Long))
                return 1;
        }
        return 0;
    }
    // No identity to be had: the long forms are compared.
    char longForm[PATH_CAP];
    if (!LongFormOf(path, longForm, sizeof longForm))
        return 1;               // what cannot be checked is not touched
    for (int i = 0; i < FolderCount; i++)
        if (TextEqualNoCase(longForm, Folders[i].Long))
            return 1;
    return 0;
}

int PathCrossesLink(const char *path, int withLast)
{
    size_t len = strlen(path);
    while (len > 3 && path[len - 1] == '\\')
        len--;
    // Skip the root: "X:\" or "\\server\share\".
    size_t at;
    if (len >= 2 && path[1] == ':') {
        at = 3;
    } else if (len >= 2 && path[0] == '\\' && path[1] == '\\') {
        const char *share = (const char *)memchr(path + 2, '\\', len - 2);
        const char *after = share ? (const char *)memchr(share + 1, '\\', len - (size_t)(share + 1 - path)) : NULL;
        if (!after)
            return 0;           // the share's root itself
        at = (size_t)(after - path) + 1;
    } else {
        return 1;               // not an absolute path: nothing to trust
    }
    for (size_t i = at; i <= len; i++) {
        if (i < len && path[i] != '\\')
            continue;
        if (i == len && !withLast)
            break;
        char prefix[PATH_CAP];
        if (CopyTextN(prefix, sizeof prefix, path, i) != TEXT_FIT)
            return 1;
        DWORD attributes = GetFileAttributesA(prefix);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            DWORD err = GetLastError();
            // A missing folder leads nowhere; anything else cannot be vouched for.
            return err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
        }
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
            return 1;
    }
    return 0;
}
