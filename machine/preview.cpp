// What a preview would have deleted (see preview.h).
#include "preview.h"
#include "../base/paths.h"
#include "../base/state.h"
#include "../base/text.h"
#include <windows.h>
#include <stdlib.h>
#include <string.h>

// Open addressing over heap copies of the paths, hashed without case.
static char **Gone;
static unsigned GoneCount, GoneSlots;

static unsigned HashPath(const char *path)
{
    unsigned h = 2166136261u;
    for (; *path; path++) {
        char c = *path >= 'a' && *path <= 'z' ? (char)(*path - 'a' + 'A') : *path;
        h = (h ^ (unsigned char)c) * 16777619u;
    }
    return h;
}

int PlannedGone(const char *path)
{
    if (!GoneSlots)
        return 0;
    for (unsigned i = HashPath(path) & (GoneSlots - 1); Gone[i]; i = (i + 1) & (GoneSlots - 1))
        if (TextEqualNoCase(Gone[i], path))
            return 1;
    return 0;
}

void MarkPlannedGone(const char *path)
{
    if (PlannedGone(path))
        return;
    if ((GoneCount + 1) * 2 > GoneSlots) {
        unsigned slots = GoneSlots ? GoneSlots * 2 : 1024;
        char **table = (char **)calloc(slots, sizeof *table);
        if (!table)
            return;             // memory short: the preview then sees the file
        for (unsigned i = 0; i < GoneSlots; i++) {
            if (!Gone[i])
                continue;
            unsigned j = HashPath(Gone[i]) & (slots - 1);
            while (table[j])
                j = (j + 1) & (slots - 1);
            table[j] = Gone[i];
        }
        free(Gone);
        Gone = table;
        GoneSlots = slots;
    }
    char *copy = HeapText(path);
    if (!copy)
        return;
    unsigned i = HashPath(path) & (GoneSlots - 1);
    while (Gone[i])
        i = (i + 1) & (GoneSlots - 1);
    Gone[i] = copy;
    GoneCount++;
}

void MarkGoneInPlan(const char *path)
{
    if (Preview && path[0])
        MarkPlannedGone(path);
}

int PathGoneNow(const char *path)
{
    return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES || (Preview && PlannedGone(path));
}

void ForgetPlannedGone(void)
{
    for (unsigned i = 0; i < GoneSlots; i++)
        free(Gone[i]);
    free(Gone);
    Gone = NULL;
    GoneCount = GoneSlots = 0;
}

// Whether DeleteFileA would succeed now: the file is there, and nobody holds
// it in a way that stops the deletion (see FileFreeToDelete). The last error
// is set as the call would set it.
int WouldDeleteFile(const char *path)
{
    if (PlannedGone(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES)
        return 0;
    if (attrs & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    if (!FileFreeToDelete(path))
        return 0;
    MarkPlannedGone(path);
    return 1;
}

// Whether RemoveDirectoryA would succeed after the deletions the preview
// has counted: every entry inside is one of them.
int WouldRemoveDirectory(const char *path)
{
    DWORD attrs = GetFileAttributesA(path);
    if (attrs == INVALID_FILE_ATTRIBUTES || PlannedGone(path)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return 0;
    }
    char pattern[PATH_CAP];
    if (CopyText(pattern, sizeof pattern, path) != TEXT_FIT ||
        AppendText(pattern, sizeof pattern, "\\*.*") != TEXT_FIT)
        return 0;
    int empty = 1;
    FindRecord rec;
    for (int more = FindFirstEntry(pattern, &rec) == 0; more && empty; more = FindNextEntry(&rec) == 0) {
        if (strcmp(rec.Name, ".") == 0 || strcmp(rec.Name, "..") == 0)
            continue;
        char sub[PATH_CAP];
        empty = CopyText(sub, sizeof sub, path) == TEXT_FIT && AppendText(sub, sizeof sub, "\\") == TEXT_FIT &&
                AppendText(sub, sizeof sub, rec.Name) == TEXT_FIT && PlannedGone(sub);
    }
    EndFind(&rec);
    if (!empty) {
        SetLastError(ERROR_DIR_NOT_EMPTY);
        return 0;
    }
    MarkPlannedGone(path);
    return 1;
}
