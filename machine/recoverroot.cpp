// Where the recovery store lies and what is its own (recovery.h): whether a
// path reaches the root in any spelling, and the removal of a store, which
// takes its own files only and its journal last.
#include "recovery.h"
#include "../base/paths.h"
#include "../base/state.h"
#include "../base/text.h"
#include <string.h>

// The root's identity, looked up once it exists (it is made by the first
// store); forgotten when the root is removed (it may be made again).
static FileIdentity RootId;
static int RootIdKnown;
// Folders found not to be the root, by their text: an identity asks for the
// volume (a slow call), a run asks about every file, and the files of one
// folder come together.
enum { NOT_ROOT_CAP = 16 };
static char NotRoot[NOT_ROOT_CAP][MAX_PATH];
static int NotRootNext;

static void ForgetRoot(void)
{
    RootIdKnown = 0;
    for (int i = 0; i < NOT_ROOT_CAP; i++)
        NotRoot[i][0] = 0;
}

static int KnownNotRoot(const char *folder)
{
    for (int i = 0; i < NOT_ROOT_CAP; i++)
        if (NotRoot[i][0] && TextEqualNoCase(NotRoot[i], folder))
            return 1;
    return 0;
}

int InRecoveryStore(const char *path)
{
    char root[STORE_PATH_CAP];
    if (!RecoveryRoot(root, sizeof root))
        return 1;
    size_t n = strlen(root);
    if (TextEqualNoCaseN(path, root, n) && (path[n] == 0 || path[n] == '\\'))
        return 1;
    if (GetFileAttributesA(root) == INVALID_FILE_ATTRIBUTES) {
        ForgetRoot();
        return 0;           // no store anywhere: nothing can be in one
    }
    if (!RootIdKnown && GetFileIdentity(root, &RootId) == 0)
        RootIdKnown = 1;
    if (!RootIdKnown)
        return 0;
    // A store lies right inside the root and holds its journal and folders
    // of kept files: the path or one of the three folders above it is the
    // root when the path names the root, a store, a folder or a file in one.
    char walk[MAX_PATH];
    if (CopyText(walk, sizeof walk, path) != TEXT_FIT)
        return 1;
    for (int level = 0; level < 4; level++) {
        // Only a folder can be the root, in any spelling.
        DWORD attributes = GetFileAttributesA(walk);
        FileIdentity id;
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            !KnownNotRoot(walk) && GetFileIdentity(walk, &id) == 0) {
            if (SameIdentity(&id, &RootId))
                return 1;
            CopyText(NotRoot[NotRootNext], MAX_PATH, walk);
            NotRootNext = (NotRootNext + 1) % NOT_ROOT_CAP;
        }
        char *slash = strrchr(walk, '\\');
        if (!slash || slash == walk || slash[-1] == ':' || slash[-1] == '\\')
            return 0;
        *slash = 0;
    }
    return 0;
}

// "K00001.TMP": a kept file on its way into the store from another volume.
static int IsPartName(const char *name)
{
    char kept[16];
    if (strlen(name) != 10 || !TextEqualNoCase(name + 6, ".TMP") || CopyText(kept, sizeof kept, name) != TEXT_FIT)
        return 0;
    memcpy(kept + 6, ".DAT", 4);
    return IsKeptFileName(kept);
}

// "K000": a folder of kept files.
static int IsKeptFolderName(const char *name)
{
    if (strlen(name) != 4 || name[0] != 'K')
        return 0;
    for (int i = 1; i < 4; i++)
        if (name[i] < '0' || name[i] > '9')
            return 0;
    return 1;
}

// Deletes the kept files (and parts of them) in folder ("...\"), and its
// folders of kept files with them.
static void DeleteKeptFiles(const char *folder)
{
    char pattern[STORE_PATH_CAP], path[STORE_PATH_CAP];
    if (FormatText(pattern, sizeof pattern, "%s*", folder) != TEXT_FIT)
        return;
    FindRecord rec;
    for (int more = FindFirstEntry(pattern, &rec) == 0; more; more = FindNextEntry(&rec) == 0) {
        if (rec.Attributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (IsKeptFolderName(rec.Name) && !(rec.Attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
                FormatText(path, sizeof path, "%s%s\\", folder, rec.Name) == TEXT_FIT) {
                DeleteKeptFiles(path);
                path[strlen(path) - 1] = 0;
                RemoveDirectoryA(path);
            }
        } else if ((IsKeptFileName(rec.Name) || IsPartName(rec.Name)) &&
                   FormatText(path, sizeof path, "%s%s", folder, rec.Name) == TEXT_FIT) {
            SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path);
        }
    }
    EndFind(&rec);
}

// Deletes the store's own files and the store, then the root when nothing
// else is in it. The journal goes after the kept files, so that a kill here
// leaves a store with its journal, or a store that holds nothing.
void RemoveRecoveryStore(const char *store)
{
    if (Preview)
        return;
    char path[STORE_PATH_CAP];
    ForgetRoot();
    DeleteKeptFiles(store);
    if (FormatText(path, sizeof path, "%sJOURNAL.TXT", store) == TEXT_FIT)
        DeleteFileA(path);
    if (CopyText(path, sizeof path, store) == TEXT_FIT) {
        path[strlen(path) - 1] = 0;
        RemoveDirectoryA(path);
        *FileNamePart(path) = 0;
        path[strlen(path) - 1] = 0;
        RemoveDirectoryA(path);     // the root, when empty
    }
}


int RemoveEmptyStore(const char *store)
{
    if (Preview)
        return store[0] && FolderIsEmpty(store);     // what the removal would give
    char path[STORE_PATH_CAP];
    if (!RecoveryRoot(path, sizeof path))
        return 0;
    ForgetRoot();
    int gone = 1;
    if (store[0]) {
        if (CopyText(path, sizeof path, store) != TEXT_FIT)
            return 0;
        path[strlen(path) - 1] = 0;
        // A folder that holds anything refuses its removal: nothing is lost.
        gone = RemoveDirectoryA(path) != 0;
        *FileNamePart(path) = 0;
        path[strlen(path) - 1] = 0;
    }
    RemoveDirectoryA(path);     // the root, when empty
    return gone;
}
