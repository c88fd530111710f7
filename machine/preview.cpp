// What a preview would have deleted, and what an undo's preview would have
// put back (see preview.h).
#include "preview.h"
#include "../base/paths.h"
#include "../base/state.h"
#include "../base/text.h"
#include <windows.h>
#include <stdlib.h>
#include <string.h>

// Open addressing over heap blocks "path\0value\0", hashed without case.
struct PathTable {
    char **Slot;
    unsigned Count, Slots;
};
static PathTable Gone, Undone;

static unsigned HashPath(const char *path)
{
    unsigned h = 2166136261u;
    for (; *path; path++) {
        char c = *path >= 'a' && *path <= 'z' ? (char)(*path - 'a' + 'A') : *path;
        h = (h ^ (unsigned char)c) * 16777619u;
    }
    return h;
}

// The value stored with path, or null.
static const char *FindPath(const PathTable *t, const char *path)
{
    if (!t->Slots)
        return NULL;
    for (unsigned i = HashPath(path) & (t->Slots - 1); t->Slot[i]; i = (i + 1) & (t->Slots - 1))
        if (TextEqualNoCase(t->Slot[i], path))
            return t->Slot[i] + strlen(t->Slot[i]) + 1;
    return NULL;
}

// Adds path with its value, or gives it the new value; memory short, nothing
// changes and the preview sees the machine as it is.
static void AddPath(PathTable *t, const char *path, const char *value)
{
    if (t->Slots)
        for (unsigned i = HashPath(path) & (t->Slots - 1); t->Slot[i]; i = (i + 1) & (t->Slots - 1))
            if (TextEqualNoCase(t->Slot[i], path)) {
                size_t a = strlen(path) + 1, b = strlen(value) + 1;
                char *block = (char *)realloc(t->Slot[i], a + b);
                if (block) {
                    memcpy(block + a, value, b);
                    t->Slot[i] = block;
                }
                return;
            }
    if ((t->Count + 1) * 2 > t->Slots) {
        unsigned slots = t->Slots ? t->Slots * 2 : 1024;
        char **table = (char **)calloc(slots, sizeof *table);
        if (!table)
            return;
        for (unsigned i = 0; i < t->Slots; i++) {
            if (!t->Slot[i])
                continue;
            unsigned j = HashPath(t->Slot[i]) & (slots - 1);
            while (table[j])
                j = (j + 1) & (slots - 1);
            table[j] = t->Slot[i];
        }
        free(t->Slot);
        t->Slot = table;
        t->Slots = slots;
    }
    size_t a = strlen(path) + 1, b = strlen(value) + 1;
    char *block = (char *)malloc(a + b);
    if (!block)
        return;
    memcpy(block, path, a);
    memcpy(block + a, value, b);
    unsigned i = HashPath(path) & (t->Slots - 1);
    while (t->Slot[i])
        i = (i + 1) & (t->Slots - 1);
    t->Slot[i] = block;
    t->Count++;
}

static void EmptyTable(PathTable *t)
{
    for (unsigned i = 0; i < t->Slots; i++)
        free(t->Slot[i]);
    free(t->Slot);
    t->Slot = NULL;
    t->Count = t->Slots = 0;
}

int PlannedGone(const char *path)
{
    return FindPath(&Gone, path) != NULL;
}

void MarkPlannedGone(const char *path)
{
    AddPath(&Gone, path, "");
}

// The plan's name for a thing: its kind's letter, the name, and the detail
// after a \1 (a value's name under its key); on the heap.
static char *PlanName(char kind, const char *name, const char *detail)
{
    size_t a = strlen(name), b = detail ? strlen(detail) + 1 : 0;
    char *id = (char *)malloc(a + b + 2);
    if (!id)
        return NULL;
    id[0] = kind;
    memcpy(id + 1, name, a + 1);
    if (detail) {
        id[a + 1] = '\1';
        memcpy(id + a + 2, detail, b);
    }
    return id;
}

void PlanUndo(char kind, const char *name, const char *detail, const char *state)
{
    char *id = Preview ? PlanName(kind, name, detail) : NULL;
    if (id)
        AddPath(&Undone, id, state);
    free(id);
}

const char *PlannedUndo(char kind, const char *name, const char *detail)
{
    char *id = Preview ? PlanName(kind, name, detail) : NULL;
    const char *state = id ? FindPath(&Undone, id) : NULL;
    free(id);
    return state;
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
    EmptyTable(&Gone);
    EmptyTable(&Undone);
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
