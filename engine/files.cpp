#include "files.h"
#include "services.h"
#include "shared.h"
#include "../app/paths.h"
#include "../app/pending.h"
#include "../app/text.h"
#include "../ui/progress.h"
#include <string.h>

void SetPlainAttributes(const char *path)
{
    // Setting the attributes costs more than reading them; most files
    // already have none of the three.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
}

// The two names under which our own file can be named: its long name and its
// short (8.3) alias, worked out once for the current ProgramPath.
static char OwnNamesFor[PATH_CAP];
static char OwnLongName[PATH_CAP];
static char OwnShortName[PATH_CAP];

static void FindOwnNames(void)
{
    if (strcmp(OwnNamesFor, ProgramPath) == 0)
        return;
    CopyText(OwnNamesFor, sizeof OwnNamesFor, ProgramPath);
    CopyText(OwnLongName, sizeof OwnLongName, FileNamePart(ProgramPath));
    char shortPath[MAX_PATH];
    DWORD n = GetShortPathNameA(ProgramPath, shortPath, sizeof shortPath);
    if (n && n < sizeof shortPath)
        CopyText(OwnShortName, sizeof OwnShortName, FileNamePart(shortPath));
    else
        OwnShortName[0] = 0;
}

// Whether the last component of path can name our own file. The system
// ignores trailing dots and blanks of a name, so they are ignored here too.
static int MayNameOwnFile(const char *path)
{
    FindOwnNames();
    const char *name = FileNamePart(path);
    size_t len = strlen(name);
    while (len && (name[len - 1] == '.' || name[len - 1] == ' '))
        len--;
    return (len == strlen(OwnLongName) && TextEqualNoCaseN(name, OwnLongName, len)) ||
           (OwnShortName[0] && len == strlen(OwnShortName) &&
            TextEqualNoCaseN(name, OwnShortName, len));
}

int DeleteOneFile(const char *path)
{
    // Only a path whose file name could be ours is worth the long-name
    // normalisation (a directory search per component).
    char longForm[INV_PATH_CAP];
    if (ProgramPath[0] && MayNameOwnFile(path) &&
        CopyText(longForm, sizeof longForm, path) == TEXT_FIT) {
        NormalizePath(longForm, sizeof longForm, 1);
        if (TextEqualNoCase(longForm, ProgramPath))
            DeletingSelf = 1;
    }
    return DeleteFileA(path) ? 1 : 0;
}

int RemoveEmptyDirectory(const char *path)
{
    SetPlainAttributes(path);
    return RemoveDirectoryA(path) ? 1 : 0;
}

static int ReadExactly(HFILE file, void *buf, UINT count)
{
    UINT got = _lread(file, buf, count);
    return got != (UINT)HFILE_ERROR && got == count;
}

int IsWin32Executable(const char *path)
{
    HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR)
        return 0;
    int result = 0;
    unsigned char sig[2], off[4];
    if (ReadExactly(file, sig, 2) && sig[0] == 'M' && sig[1] == 'Z' &&
        _llseek(file, 0x3C, FILE_BEGIN) == 0x3C && ReadExactly(file, off, 4)) {
        LONG pe = (LONG)((DWORD)off[0] | (DWORD)off[1] << 8 | (DWORD)off[2] << 16 |
                         (DWORD)off[3] << 24);
        // A negative offset would seek backwards from the start; not a PE file.
        if (pe >= 0 && _llseek(file, pe, FILE_BEGIN) == pe && ReadExactly(file, sig, 2))
            result = sig[0] == 'P' && sig[1] == 'E';
    }
    _lclose(file);
    return result;
}

void RemoveFile(const char *path)
{
    SetPlainAttributes(path);
    DeleteOneFile(path);
    size_t len = strlen(path);
    if (len > 4 && TextEqualNoCase(path + len - 4, ".HLP") && len < INV_PATH_CAP) {
        char companion[INV_PATH_CAP];
        CopyText(companion, sizeof companion, path);
        memcpy(companion + len - 4, ".GID", 4);
        DeleteOneFile(companion);
        memcpy(companion + len - 4, ".FTS", 4);
        DeleteOneFile(companion);
    }
}

// Length of dir without one trailing backslash.
static size_t DirLength(const char *dir)
{
    size_t len = strlen(dir);
    if (len && dir[len - 1] == '\\')
        len--;
    return len;
}

// Two directory texts name the same directory (case-insensitive, a trailing
// backslash on either side ignored).
static int SameDirectory(const char *a, const char *b)
{
    size_t la = DirLength(a), lb = DirLength(b);
    return la && la == lb && TextEqualNoCaseN(a, b, la);
}

// One of the system's own directories, in whatever spelling (short or long).
static int MatchesSystemDirectory(const char *dir)
{
    char buf[MAX_PATH];
    UINT n = GetWindowsDirectoryA(buf, sizeof buf);
    if (n && n < sizeof buf && SameDirectory(dir, buf))
        return 1;
    n = GetSystemDirectoryA(buf, sizeof buf);
    if (n && n < sizeof buf && SameDirectory(dir, buf))
        return 1;
    return SystemDir[0] && SameDirectory(dir, SystemDir);
}

// The Windows directory, the System directory or SystemDir. The long form
// is compared too, so that an 8.3 alias cannot pass for another folder.
static int IsProtectedDirectory(const char *dir)
{
    char longForm[PATH_CAP];
    if (CopyText(longForm, sizeof longForm, dir) != TEXT_FIT)
        return 1;               // what cannot be checked is not touched
    NormalizePath(longForm, sizeof longForm, 1);
    return MatchesSystemDirectory(dir) || MatchesSystemDirectory(longForm);
}

static int HasWildcard(const char *path)
{
    return strchr(path, '*') || strchr(path, '?');
}

// Deletes every file (not directory) that matches the pattern.
static void RemoveMatchingFiles(const char *pattern)
{
    const char *name = FileNamePart(pattern);
    size_t dirLen = (size_t)(name - pattern);
    FindRecord rec;
    for (int more = FindFirstEntry(pattern, &rec) == 0; more; more = FindNextEntry(&rec) == 0) {
        if (rec.Attributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        char full[PATH_CAP];
        // A directory plus a found name that would not fit is skipped, not cut.
        if (CopyTextN(full, sizeof full, pattern, dirLen) != TEXT_FIT ||
            AppendText(full, sizeof full, rec.Name) != TEXT_FIT)
            continue;
        RemoveFile(full);
    }
    EndFind(&rec);
}

int RemoveFileEntry(const char *path, const char *backupPath, int restore)
{
    if (HasWildcard(path)) {
        // A pattern must name its directory plainly: without one it would act
        // on the current directory, and a dot component could reach another.
        if (!IsPlainAbsolutePath(path, 1))
            return ENTRY_REFUSED;
        size_t len = strlen(path);
        if (len >= 3 && strcmp(path + len - 3, "*.*") == 0) {
            if (len < 4)
                return ENTRY_REFUSED;
            const char *slash = strrchr(path, '\\');
            // A drive root is never emptied.
            if (!slash || slash - path < 3)
                return ENTRY_REFUSED;
            char dir[PATH_CAP];
            if (CopyTextN(dir, sizeof dir, path, (size_t)(slash - path)) != TEXT_FIT ||
                IsRootPath(dir) || IsProtectedDirectory(dir))
                return ENTRY_REFUSED;
        }
        RemoveMatchingFiles(path);
        return ENTRY_HANDLED;
    }
    RemoveFile(path);
    if (restore && backupPath[0])
        ReplaceFileLater(backupPath, path);
    return ENTRY_HANDLED;
}

static void RemoveTreeLevel(const char *path, int deleteFiles)
{
    char pattern[PATH_CAP];
    if (CopyText(pattern, sizeof pattern, path) == TEXT_FIT &&
        AppendText(pattern, sizeof pattern, "\\*.*") == TEXT_FIT) {
        FindRecord rec;
        for (int more = FindFirstEntry(pattern, &rec) == 0; more;
             more = FindNextEntry(&rec) == 0) {
            int isDir = (rec.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            if (isDir ? rec.Name[0] == '.' : !deleteFiles)
                continue;
            char sub[PATH_CAP];
            if (CopyText(sub, sizeof sub, path) != TEXT_FIT ||
                AppendText(sub, sizeof sub, "\\") != TEXT_FIT ||
                AppendText(sub, sizeof sub, rec.Name) != TEXT_FIT)
                continue;           // would not fit: never act on a cut path
            if (isDir && (rec.Attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                // A junction or link leads elsewhere: remove the link, never
                // what it points to.
                if (deleteFiles)
                    RemoveEmptyDirectory(sub);
            } else if (isDir) {
                if (!MatchesSystemDirectory(sub))
                    RemoveTreeLevel(sub, deleteFiles);
            } else {
                SetPlainAttributes(sub);
                DeleteOneFile(sub);
            }
        }
        EndFind(&rec);
    }
    RemoveEmptyDirectory(path);
}

void RemoveTree(const char *path, int deleteFiles)
{
    // Only a plain path names what it says: a dot component, a doubled
    // backslash or a device prefix could lead to a root or a system folder.
    if (strlen(path) < 4 || !IsPlainAbsolutePath(path, 0) || IsRootPath(path) ||
        IsProtectedDirectory(path))
        return;
    RemoveTreeLevel(path, deleteFiles);
}

// --- the file phases ------------------------------------------------------

static int InScope(unsigned short installNo, unsigned short threshold)
{
    return installNo >= threshold;
}

static int IsAutomatic(void)
{
    return UninstallMethod == METHOD_AUTOMATIC;
}

// The backup copy of the last installation goes back in place of the file.
static int RestoresBackup(const FileEntry *f, unsigned short threshold)
{
    return Rollback && f->BackupPath[0] && f->BackupInstall == threshold;
}

// Whether the file is unregistered before it goes: not when a rollback puts
// an earlier copy back in its place.
static int UnregistersFirst(const FileEntry *f)
{
    return !Rollback || (f->BackupInstall == f->CopyInstall && !f->BackupPath[0]);
}

static void UnregisterFile(FileEntry *f, unsigned short threshold, const char *prefix40)
{
    if (InScope(f->RegisterInstall, threshold))
        SelfRegisterFile(prefix40, f->Path, 0);
    if (InScope(f->DeviceInstall, threshold))
        RemoveDeviceLine(f->Path);
}

static int ReleaseShared(FileEntry *f, unsigned short threshold)
{
    return InScope(f->SharedInstall, threshold) ? ReleaseSharedFile(f->Path) : SHARED_NOT_COUNTED;
}

// A shared file that stays keeps its place, unless its backup is restored.
static void KeepFile(FileEntry *f, unsigned short threshold)
{
    if (!RestoresBackup(f, threshold))
        f->Path[0] = 0;
}

void RestoreEditedFiles(unsigned short threshold)
{
    if (!Rollback)
        return;
    for (int i = 0; i < EditFileList.Count; i++) {
        EditEntry *e = ENTRY_AT(EditEntry, EditFileList, i);
        if (InScope(e->InstallNo, threshold) && e->BackupPath[0] && FileExists(e->BackupPath))
            RemoveFileEntry(e->Path, e->BackupPath, 1);
    }
}

void ReleaseAppFiles(unsigned short threshold, const char *prefix40)
{
    for (int i = AppFileList.Count - 1; i >= 0; i--) {
        FileEntry *f = ENTRY_AT(FileEntry, AppFileList, i);
        if (!f->Path[0] || !InScope(f->CopyInstall, threshold))
            continue;
        if (!((IsAutomatic() && (f->Created || (Rollback && f->BackupPath[0]))) || f->Selected))
            continue;
        if (ReleaseShared(f, threshold) == SHARED_KEEP)
            KeepFile(f, threshold);
        else if (UnregistersFirst(f))
            UnregisterFile(f, threshold, prefix40);
    }
}

void ReleaseSystemFiles(unsigned short threshold, const char *prefix40)
{
    for (int i = SysFileList.Count - 1; i >= 0; i--) {
        FileEntry *f = ENTRY_AT(FileEntry, SysFileList, i);
        if (!f->Path[0] || !InScope(f->CopyInstall, threshold))
            continue;
        if (f->Selected || Version4OrLater) {
            int result = ReleaseShared(f, threshold);
            if (result == SHARED_KEEP)
                KeepFile(f, threshold);
            else if (result == SHARED_REMOVE)
                f->Selected = 1;
        }
        if (f->Selected && f->Path[0] && UnregistersFirst(f))
            UnregisterFile(f, threshold, prefix40);
    }
}

void RemoveInstalledFiles(int system, unsigned short threshold, const char *prefix)
{
    EntryList &list = system ? SysFileList : AppFileList;
    for (int i = 0; i < list.Count; i++) {
        if (Cancelled)
            return;
        FileEntry *f = ENTRY_AT(FileEntry, list, i);
        int restore = RestoresBackup(f, threshold);
        int taken = f->Selected || (system ? restore
                                           : IsAutomatic() && (f->Created || restore));
        if (f->Path[0] && taken && InScope(f->CopyInstall, threshold) &&
            RemoveFileEntry(f->Path, f->BackupPath, restore) == ENTRY_HANDLED) {
            CopyText(DialogText, sizeof DialogText, prefix);
            AppendShortPath(DialogText, sizeof DialogText, f->Path);
            ShowProgress(DialogText);
        }
        ProgressDone++;
    }
}

void ReregisterRestoredFiles(unsigned short threshold, const char *prefix40)
{
    if (!Rollback)
        return;
    for (int system = 0; system < 2; system++) {
        EntryList &list = system ? SysFileList : AppFileList;
        for (int i = 0; i < list.Count; i++) {
            if (Cancelled)
                return;
            FileEntry *f = ENTRY_AT(FileEntry, list, i);
            int taken = system ? f->Selected || f->BackupPath[0] : IsAutomatic() || f->Selected;
            if (f->Path[0] && taken && InScope(f->CopyInstall, threshold) &&
                RestoresBackup(f, threshold) && InScope(f->RegisterInstall, threshold))
                SelfRegisterFile(prefix40, f->Path, 1);
        }
    }
}
