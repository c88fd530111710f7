// Undoing the journal's file and folder lines (recovery.h): each decides
// from what is there now against what was there before and after the change,
// and puts back in one step, so that an undo ended at any moment and run
// again ends as an undo run whole.
#include "recovery.h"
#include "preview.h"
#include "recoverline.h"
#include "wholefile.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include <string.h>

int UndoRow(const char *kind, const char *target, int result, const char *detail)
{
    static const char *const outcomes[] = {OUT_DONE, OUT_SKIPPED, OUT_CONFLICT, OUT_FAILED};
    static const char *const reasons[] = {NULL, "UNCHANGED", "CHANGED-SINCE", NULL};
    char reason[32] = "";
    if (result == UNDO_FAILED)
        ErrorReason(reason, sizeof reason, GetLastError());
    AddRow(kind, 0, target, ACT_UNDO, outcomes[result], result == UNDO_FAILED ? reason : reasons[result], detail);
    return result;
}

// Makes the folders on the way to path that are missing (the clean-up copy
// removes the program's folder without a journal line): they were there
// when the thing in them was taken away.
static void MakeFolders(const char *path)
{
    char walk[MAX_PATH];
    if (CopyText(walk, sizeof walk, path) != TEXT_FIT)
        return;
    for (char *c = walk + 3; *c; c++) {
        if (*c != '\\')
            continue;
        *c = 0;
        if (GetFileAttributesA(walk) == INVALID_FILE_ATTRIBUTES)
            CreateDirectoryA(walk, NULL);
        *c = '\\';
    }
}

// A preview's MakeFolders: the folders on the way to path count as made.
static void PlanFolders(const char *path)
{
    char walk[MAX_PATH];
    if (!Preview || CopyText(walk, sizeof walk, path) != TEXT_FIT)
        return;
    for (char *c = walk + 3; *c; c++) {
        if (*c != '\\')
            continue;
        *c = 0;
        if (GetFileAttributesA(walk) == INVALID_FILE_ATTRIBUTES)
            PlanUndo('D', walk, NULL, "");
        *c = '\\';
    }
}

// Puts the kept file at path in one step: renamed (replacing the change's
// file, with replace), or from another volume copied beside path and then
// renamed into place. The kept file goes last: a kill anywhere leaves it in
// the store until path holds it whole, never a part of it under its name.
static int PutBack(const char *kept, const char *path, DWORD attributes, int replace)
{
    MakeFolders(path);
    // Set before the move, so that the file comes back with them in one step.
    if (attributes)
        SetFileAttributesA(kept, attributes);
    if (RenameOnly(kept, path, replace))
        return 1;
    char part[MAX_PATH];
    if (GetLastError() != ERROR_NOT_SAME_DEVICE || MakeSiblingFile(part, sizeof part, path) != 0)
        return 0;
    SetFileAttributesA(part, FILE_ATTRIBUTE_NORMAL);    // a part left by a killed undo is overwritten
    if (!CopyFileA(kept, part, FALSE) || !RenameOnly(part, path, replace)) {
        DWORD error = GetLastError();
        DeleteFileA(part);
        SetLastError(error);
        return 0;
    }
    SetFileAttributesA(kept, FILE_ATTRIBUTE_NORMAL);
    DeleteFileA(kept);
    return 1;
}

// "<path>.RECOVERED", or with a number when that is taken.
static int RecoveredName(char *buf, size_t cap, const char *path)
{
    for (int n = 1; n < 100; n++) {
        if ((n == 1 ? FormatText(buf, cap, "%s.RECOVERED", path) : FormatText(buf, cap, "%s.RECOVERED%d", path, n)) !=
            TEXT_FIT)
            return 0;
        if (GetFileAttributesA(buf) == INVALID_FILE_ATTRIBUTES)
            return 1;
    }
    return 0;
}

void DropLeftCopy(const char *path)
{
    char copy[MAX_PATH];
    if (!Preview && MakeSiblingFile(copy, sizeof copy, path) == 0 &&
        GetFileAttributesA(copy) != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesA(copy, FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(copy);
    }
}

// A FILE line (kind "FILE") or an INITEXT line (kind "INI"): a file changed
// since keeps what was there beside it, a changed INI file is left to its
// item lines.
static int UndoFileAs(const char *kind, const char *path, const char *kept, DWORD attributes, const char *after)
{
    DropLeftCopy(path);
    char now[40], before[40] = "-";
    // A preview sees the file as the lines undone before this one left it.
    const char *planned = PlannedUndo('F', path, NULL);
    if (planned && !planned[0])
        CopyText(now, sizeof now, "-");
    else
        ContentMark(planned ? planned : path, now, sizeof now);
    int keptThere = kept && GetFileAttributesA(kept) != INVALID_FILE_ATTRIBUTES;
    if (keptThere)
        ContentMark(kept, before, sizeof before);
    if (kept && !keptThere) {
        // Kept, and no longer in the store: put back by an earlier undo, or
        // the change never came (the run was killed before it).
        if (strcmp(now, "-") != 0)
            return UndoRow(kind, path, UNDO_UNCHANGED, NULL);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return UndoRow(kind, path, UNDO_FAILED, NULL);
    }
    if (strcmp(now, before) == 0) {
        if (keptThere && !Preview)
            DeleteFileA(kept);
        return UndoRow(kind, path, UNDO_UNCHANGED, NULL);
    }
    if (strcmp(now, after) != 0 && strcmp(kind, "INI") == 0) {
        // Its items were changed since: each is undone on its own.
        if (keptThere && !Preview)
            DeleteFileA(kept);
        AddRow(kind, 0, path, ACT_UNDO, OUT_SKIPPED, "CHANGED-SINCE", NULL);
        return UNDO_UNCHANGED;
    }
    if (strcmp(now, after) != 0) {
        // Made or changed since: it stays, and what was there goes beside it.
        char beside[MAX_PATH] = "";
        if (keptThere && RecoveredName(beside, sizeof beside, path) && !Preview &&
            !PutBack(kept, beside, attributes, 0))
            return UndoRow(kind, path, UNDO_FAILED, NULL);
        return UndoRow(kind, path, UNDO_CONFLICT, beside[0] ? beside : NULL);
    }
    if (Preview) {
        PlanFolders(path);
        PlanUndo('F', path, NULL, keptThere ? kept : "");
        return UndoRow(kind, path, UNDO_DONE, NULL);
    }
    int replace = strcmp(now, "-") != 0;
    // The change's file is replaced (or, with nothing kept, deleted); a file
    // with its attributes refuses that.
    if (replace)
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    if (keptThere ? !PutBack(kept, path, attributes, replace) : replace && !DeleteFileA(path))
        return UndoRow(kind, path, UNDO_FAILED, NULL);
    return UndoRow(kind, path, UNDO_DONE, NULL);
}

int UndoFile(const char *path, const char *kept, DWORD attributes, const char *after)
{
    return UndoFileAs("FILE", path, kept, attributes, after);
}

int UndoIniText(const char *path, const char *kept, DWORD attributes, const char *after)
{
    return UndoFileAs("INI", path, kept, attributes, after);
}

int UndoFolder(const char *path)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES || PlannedUndo('D', path, NULL))
        return UndoRow("DIR", path, UNDO_UNCHANGED, NULL);
    if (Preview) {
        PlanFolders(path);
        PlanUndo('D', path, NULL, "");
    } else {
        MakeFolders(path);
        if (!CreateDirectoryA(path, NULL))
            return UndoRow("DIR", path, UNDO_FAILED, NULL);
    }
    return UndoRow("DIR", path, UNDO_DONE, NULL);
}

