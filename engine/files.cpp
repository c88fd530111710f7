#include "files.h"
#include "services.h"
#include "shared.h"
#include "../base/paths.h"
#include "../machine/pending.h"
#include "../machine/protect.h"
#include "../machine/recovery.h"
#include "../base/rows.h"
#include "../base/refusals.h"
#include "../base/text.h"
#include "../ui/progress.h"
#include <stdlib.h>
#include <string.h>

static int HasWildcard(const char *path)
{
    return strchr(path, '*') || strchr(path, '?');
}

// Deletes every file (not directory) that matches the pattern.
static void RemoveMatchingFiles(const char *pattern, const char *kind, unsigned short installNo)
{
    int found = 0;
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
        found = 1;
        DeleteInstalledFile(kind, installNo, full);
    }
    EndFind(&rec);
    if (!found)
        AddRow(kind, installNo, pattern, ACT_DELETE, OUT_SKIPPED, "ALREADY-GONE", NULL);
}

// Why the last RemoveFileEntry refused its entry.
static const char *RefusedBecause = "";

const char *LastRefusalReason(void)
{
    return RefusedBecause;
}

static int Refuse(const char *reason)
{
    RefusedBecause = reason;
    return ENTRY_REFUSED;
}

// A backup that cannot be opened for reading cannot be put back.
static int IsReadableFile(const char *path)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    int ok = GetFileInformationByHandle(h, &info) &&
             !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    CloseHandle(h);
    return ok;
}

int RemoveFileEntry(const char *path, const char *backupPath, int restore, const char *kind,
                    unsigned short installNo)
{
    if (HasWildcard(path)) {
        // A pattern must name its directory plainly: without one it would act
        // on the current directory, and a dot component could reach another.
        if (!IsPlainAbsolutePath(path, 1))
            return Refuse("BAD-PATH");
        const char *slash = strrchr(path, '\\');
        char dir[PATH_CAP];
        if (!slash || CopyTextN(dir, sizeof dir, path, (size_t)(slash - path) + 1) != TEXT_FIT)
            return Refuse("BAD-PATH");
        // Any pattern in a protected folder (not only "*.*") would take files
        // of the system or of other products.
        if (IsRootPath(dir) || IsProtectedFolder(dir) || InRecoveryStore(dir))
            return Refuse("PROTECTED");
        if (PathCrossesLink(dir, 1))
            return Refuse("LINK");
        RemoveMatchingFiles(path, kind, installNo);
        return ENTRY_HANDLED;
    }
    // What an undo needs is never a log's to remove.
    if (InRecoveryStore(path))
        return Refuse("PROTECTED");
    // A rollback never deletes what it cannot put back.
    if (restore && backupPath[0] && !IsReadableFile(backupPath)) {
        // A backup that is there but held is work left for a later run; one
        // that is gone was put back by an earlier run.
        if (FileExists(backupPath))
            WorkLeft = 1;
        return Refuse("NO-BACKUP");
    }
    if (!(restore && backupPath[0])) {
        DeleteInstalledFile(kind, installNo, path);
        return ENTRY_HANDLED;
    }
    // The backup takes the file's place in one step (never delete first).
    if (RestoreBackupFile(kind, installNo, backupPath, path) == REPLACE_KEPT) {
        WorkLeft = 1;
        return Refuse("NO-BACKUP");
    }
    return ENTRY_HANDLED;
}

// Removes what is inside the folder, depth first; each folder inside then
// goes when emptied. rowKind null: no rows (an earlier row names the folder).
static void RemoveTreeLevel(const char *path, int deleteFiles, unsigned short installNo, const char *rowKind)
{
    const char *kind = deleteFiles ? "TREE" : "DIR";
    char pattern[PATH_CAP];
    if (CopyText(pattern, sizeof pattern, path) != TEXT_FIT ||
        AppendText(pattern, sizeof pattern, "\\*.*") != TEXT_FIT)
        return;
    FindRecord rec;
    for (int more = FindFirstEntry(pattern, &rec) == 0; more; more = FindNextEntry(&rec) == 0) {
        int isDir = (rec.Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        if (isDir ? rec.Name[0] == '.' : !deleteFiles)
            continue;
        char sub[PATH_CAP];
        if (CopyText(sub, sizeof sub, path) != TEXT_FIT ||
            AppendText(sub, sizeof sub, "\\") != TEXT_FIT ||
            AppendText(sub, sizeof sub, rec.Name) != TEXT_FIT)
            continue;           // would not fit: never act on a cut path
        if (PlannedGone(sub))
            continue;           // a preview's run would not find it here
        if (rec.Attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
            // A junction or link leads elsewhere and stays: the removal
            // calls may act on what it points to (Wine's RemoveDirectory
            // removes an empty target and keeps the link).
            RecordRefusal(kind, sub, "LINK", installNo);
        } else if (isDir) {
            if (IsProtectedFolder(sub)) {
                RecordRefusal(kind, sub, "PROTECTED", installNo);
            } else {
                RemoveTreeLevel(sub, deleteFiles, installNo, rowKind);
                // Each folder inside gets its row, whatever became of it, so
                // that a preview plans the same rows.
                RemoveFolder(rowKind, installNo, sub, deleteFiles ? OUT_FAILED : OUT_KEPT);
            }
        } else {
            DeleteTreeFile(rowKind, installNo, sub);
        }
    }
    EndFind(&rec);
}

int RemoveTree(const char *path, int deleteFiles, unsigned short installNo, int rows)
{
    const char *kind = deleteFiles ? "TREE" : "DIR";
    // Only a plain path names what it says: a dot component, a doubled
    // backslash or a device prefix could lead to a root or a system folder.
    if (strlen(path) < 4 || !IsPlainAbsolutePath(path, 0)) {
        RecordRefusal(kind, path, "BAD-PATH", installNo);
        return 0;
    }
    // Protection first: a protected folder that is itself a link (a profile's
    // Desktop, say) keeps its link too.
    if (IsRootPath(path) || IsProtectedFolder(path) || InRecoveryStore(path)) {
        RecordRefusal(kind, path, "PROTECTED", installNo);
        return 0;
    }
    // A link on the way, or as the top itself, stays with what it points to.
    if (PathCrossesLink(path, 1)) {
        RecordRefusal(kind, path, "LINK", installNo);
        return 0;
    }
    const char *rowKind = rows ? kind : NULL;
    RemoveTreeLevel(path, deleteFiles, installNo, rowKind);
    RemoveFolder(rowKind, installNo, path, deleteFiles ? OUT_FAILED : OUT_KEPT);
    return 1;
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
        SelfRegisterFile(prefix40, f->Path, 0, f->RegisterInstall);
    if (InScope(f->DeviceInstall, threshold))
        RemoveDeviceLine(f->Path, f->DeviceInstall);
}

// The count as the shared-file release found it, for the report's reason.
static char SharedReason[48];

static int ReleaseShared(FileEntry *f, unsigned short threshold)
{
    if (!InScope(f->SharedInstall, threshold))
        return SHARED_NOT_COUNTED;
    long count = 0;
    int result = ReleaseSharedFile(f->Path, &count, f->SharedInstall);
    if (result != SHARED_NOT_COUNTED)
        FormatText(SharedReason, sizeof SharedReason, "SHARED %ld->%ld", count, count - 1);
    return result;
}

// A shared file that stays keeps its place, unless its backup is restored.
static void KeepFile(FileEntry *f, unsigned short threshold, const char *kind)
{
    if (RestoresBackup(f, threshold))
        return;
    AddRow(kind, f->CopyInstall, f->Path, ACT_NONE, OUT_KEPT,
           strcmp(SharedReason, "SHARED 1->0") == 0 ? "LAST-REFERENCE-KEPT" : SharedReason, NULL);
    f->Path[0] = 0;
}

// Why an entry that is there is not taken.
static const char *NotTakenReason(unsigned short installNo, unsigned short threshold)
{
    return InScope(installNo, threshold) ? "NOT-SELECTED" : "OUT-OF-SCOPE";
}

void RestoreEditedFiles(unsigned short threshold)
{
    if (!Rollback)
        return;
    for (int i = 0; i < EditFileList.Count; i++) {
        EditEntry *e = ENTRY_AT(EditEntry, EditFileList, i);
        if (!InScope(e->InstallNo, threshold) || !e->BackupPath[0])
            continue;
        if (RemoveFileEntry(e->Path, e->BackupPath, 1, "FILE", e->InstallNo) == ENTRY_REFUSED)
            RecordRefusal("FILE", e->Path, LastRefusalReason(), e->InstallNo);
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
            KeepFile(f, threshold, "FILE");
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
                KeepFile(f, threshold, "SYSFILE");
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
    const char *kind = system ? "SYSFILE" : "FILE";
    for (int i = 0; i < list.Count; i++) {
        FileEntry *f = ENTRY_AT(FileEntry, list, i);
        if (Cancelled) {
            if (f->Path[0])
                AddRow(kind, f->CopyInstall, f->Path, ACT_NONE, OUT_SKIPPED, "CANCELLED", NULL);
            continue;
        }
        int restore = RestoresBackup(f, threshold);
        int taken = f->Selected || (system ? restore
                                           : IsAutomatic() && (f->Created || restore));
        if (f->Path[0] && !(taken && InScope(f->CopyInstall, threshold)))
            AddRow(kind, f->CopyInstall, f->Path, ACT_NONE, OUT_SKIPPED,
                   NotTakenReason(f->CopyInstall, threshold), NULL);
        if (f->Path[0] && taken && InScope(f->CopyInstall, threshold)) {
            if (RemoveFileEntry(f->Path, f->BackupPath, restore, kind, f->CopyInstall) == ENTRY_HANDLED) {
                CopyText(DialogText, sizeof DialogText, prefix);
                AppendShortPath(DialogText, sizeof DialogText, f->Path);
                ShowProgress(DialogText);
            } else {
                RecordRefusal(system ? "SYSFILE" : "FILE", f->Path, LastRefusalReason(),
                              f->CopyInstall);
            }
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
                SelfRegisterFile(prefix40, f->Path, 1, f->RegisterInstall);
        }
    }
}
