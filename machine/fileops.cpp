// Files and folders as the seam changes them (fileops.h): a preview asks
// preview.h what the call would do and changes nothing.
#include "fileops.h"
#include "preview.h"
#include "recovery.h"
#include "../base/paths.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include <string.h>

void SetPlainAttributes(const char *path)
{
    if (Preview)
        return;
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
    if (Preview)
        return WouldDeleteFile(path);
    // Kept for an undo: moved into the recovery store, which deletes it here.
    if (KeepRecovery)
        return MoveIntoStore(path);
    return DeleteFileA(path) ? 1 : 0;
}


int RemoveEmptyDirectory(const char *path)
{
    if (Preview)
        return WouldRemoveDirectory(path);
    if (KeepRecovery && FolderIsEmpty(path) && !KeepFolder(path))
        return 0;
    SetPlainAttributes(path);
    return RemoveDirectoryA(path) ? 1 : 0;
}

static int IsMissing(DWORD error)
{
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

void RemoveHelpCompanions(const char *path, const char *kind, unsigned short installNo)
{
    size_t len = strlen(path);
    if (len > 4 && TextEqualNoCase(path + len - 4, ".HLP") && len < INV_PATH_CAP) {
        char companion[INV_PATH_CAP];
        CopyText(companion, sizeof companion, path);
        static const char *const endings[2] = {".GID", ".FTS"};
        for (const char *ending : endings) {
            memcpy(companion + len - 4, ending, 4);
            int done = DeleteOneFile(companion);
            DWORD error = GetLastError();
            if (kind && (done || !IsMissing(error)))
                AddResultRow(kind, installNo, companion, ACT_DELETE, done, error, "help index");
        }
    }
}

// RemoveFile with the companions' rows.
static int RemoveFileFor(const char *path, const char *kind, unsigned short installNo)
{
    // A read-only file refuses its deletion; most files carry no such
    // attribute, so they are cleared only then, saving a call per file.
    int done = DeleteOneFile(path);
    if (!done && !Preview && GetLastError() == ERROR_ACCESS_DENIED) {
        SetPlainAttributes(path);
        done = DeleteOneFile(path);
    }
    DWORD error = GetLastError();
    RemoveHelpCompanions(path, kind, installNo);
    SetLastError(error);
    return done;
}

int RemoveFile(const char *path)
{
    return RemoveFileFor(path, NULL, 0);
}

int DeleteInstalledFile(const char *kind, unsigned short installNo, const char *path)
{
    int wasSelf = DeletingSelf;
    DeletingSelf = 0;
    int done = RemoveFileFor(path, kind, installNo);
    DWORD error = GetLastError();
    int self = DeletingSelf;
    DeletingSelf |= wasSelf;
    // A preview finds the running program's file deletable; the run cannot
    // delete it and leaves it to the clean-up copy (or, in place, to the
    // restart).
    if (self && (!done || Preview)) {
        // Its clean-up copy deletes it, beyond the store: a copy is kept.
        if (!Preview && KeepRecovery)
            KeepFileCopy(path, NULL);
        MarkGoneInPlan(path);
        AddRow(kind, installNo, path, ACT_DELETE, InPlace ? OUT_STAGED : OUT_DONE, InPlace ? "IN-USE" : NULL,
               "own file");
        return 1;
    }
    AddResultRow(kind, installNo, path, ACT_DELETE, done, error, NULL);
    SetLastError(error);
    return done;
}

int DeleteTreeFile(const char *kind, unsigned short installNo, const char *path)
{
    // A file kept for an undo keeps its attributes (a rename ignores them).
    if (!KeepRecovery)
        SetPlainAttributes(path);
    int done = DeleteOneFile(path);
    if (kind)
        AddResultRow(kind, installNo, path, ACT_DELETE, done, GetLastError(), NULL);
    return done;
}

int RemoveFolder(const char *kind, unsigned short installNo, const char *path, const char *notEmpty)
{
    int was = !PathGoneNow(path);
    int done = RemoveEmptyDirectory(path);
    if (!kind)
        return done;
    if (!was)
        AddRow(kind, installNo, path, ACT_DELETE, OUT_SKIPPED, "ALREADY-GONE", NULL);
    else if (done || PathGoneNow(path))
        AddRow(kind, installNo, path, ACT_DELETE, OUT_DONE, NULL, NULL);
    else    // files of the user's, or ones that could not go
        AddRow(kind, installNo, path, ACT_DELETE, notEmpty, "NOT-EMPTY", NULL);
    return done;
}
