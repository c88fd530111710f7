// INI item writes and their rows (see iniops.h).
#include "iniops.h"
#include "recovery.h"
#include "fileops.h"
#include "preview.h"
#include "../base/oscalls.h"
#include "../base/paths.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../log/inventory.h"
#include <windows.h>
#include <stdlib.h>
#include <string.h>

// Whether the item reads now as it would be written.
static int ReadsAs(const char *file, const ProfileItem *item)
{
    char now[INI_VALUE_CAP + 2];
    DWORD got = GetPrivateProfileStringA(item->Section, item->Item, "\x7f", now, sizeof now, file);
    if (!item->Value)
        return strcmp(now, "\x7f") == 0;
    return got < sizeof now - 1 && strcmp(now, item->Value) == 0;
}

// Whether the file's items can be read: a file that another program holds
// reads as empty, and its items would all seem deleted.
static int Readable(const char *file)
{
    HANDLE h = Os.CreateFileA(file, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(h);
    return 1;
}

// Whether item k ends up as the file holds it now: the last item of the
// list with its section and name decides what the file is left with.
static int AlreadyInPlace(const char *file, const ProfileItem *items, int count, int k)
{
    int last = k;
    for (int j = k + 1; j < count; j++)
        if (TextEqualNoCase(items[j].Section, items[k].Section) && TextEqualNoCase(items[j].Item, items[k].Item))
            last = j;
    return ReadsAs(file, &items[last]);
}

static void SetOutcome(IniOutcome *outcome, int written, DWORD error)
{
    outcome->State = written ? INI_WRITTEN : INI_FAILED;
    outcome->Error = written ? 0 : error;
}

// One whole-file write of the items. The file's text is kept first for an
// undo, which puts it back whole (its items in their places) when nothing
// changed it since.
static int WriteKept(const char *file, const ProfileItem *items, int count)
{
    char copy[MAX_PATH];
    if (!MakeProfileCopy(file, items, count, copy, sizeof copy))
        return 0;
    // The items' lines, held by the caller, and the file's text are on the
    // disk before the swap.
    if (!KeepIniText(file, copy) || !JournalOnDisk()) {
        DWORD error = GetLastError();
        DeleteFileA(copy);
        SetLastError(error);
        return 0;
    }
    return SwapInProfileCopy(copy, file) != WHOLE_FAILED;
}

void WriteIniItems(const char *file, const ProfileItem *items, int count, IniOutcome *outcomes)
{
    // Writing an item would create a missing file.
    int state = PathGoneNow(file) ? INI_NO_FILE : INI_PENDING;
    for (int k = 0; k < count; k++) {
        outcomes[k].State = state;
        outcomes[k].Error = 0;
    }
    if (state != INI_PENDING)
        return;
    int readable = Readable(file);
    int mayBeMapped = IniFileMayBeMapped(file);
    // A preview expects the whole-file write to fail where the swap would:
    // the file is held without delete sharing.
    int held = Preview && !FileFreeToDelete(file);
    DWORD heldError = GetLastError();
    ProfileItem *list = (ProfileItem *)malloc((size_t)count * sizeof *list);
    int *slots = (int *)malloc((size_t)count * sizeof *slots);
    int n = 0;
    // The items' lines for an undo go to the disk together, before the
    // write that changes them all (or before an item written on its own).
    HoldJournal(1);
    for (int k = 0; k < count; k++) {
        int mapped = mayBeMapped && IniSectionMappedFor(file, items[k].Section);
        if (readable && AlreadyInPlace(file, items, count, k)) {
            outcomes[k].State = INI_IN_PLACE;
        } else if (!Preview && !KeepIniItem(file, items[k].Section, items[k].Item, items[k].Value)) {
            // What it holds could not be kept for an undo: it stays.
            SetOutcome(&outcomes[k], 0, GetLastError());
        } else if (mapped) {
            // The system writes such an item to the registry, not the file.
            int done = Preview || (JournalOnDisk() &&
                                   WritePrivateProfileStringA(items[k].Section, items[k].Item, items[k].Value, file));
            SetOutcome(&outcomes[k], done, GetLastError());
        } else if (Preview) {
            SetOutcome(&outcomes[k], !held, heldError);
        } else if (list && slots) {
            list[n] = items[k];
            slots[n++] = k;
        } else {
            // Short of memory: this item on its own.
            int done = WriteKept(file, &items[k], 1);
            SetOutcome(&outcomes[k], done, GetLastError());
        }
    }
    if (n) {
        int done = WriteKept(file, list, n);
        DWORD error = GetLastError();
        for (int i = 0; i < n; i++)
            SetOutcome(&outcomes[slots[i]], done, error);
    }
    HoldJournal(0);
    free(slots);
    free(list);
}

void AddIniItemRow(const char *file, const ProfileItem *item, unsigned short installNo, const IniOutcome *outcome)
{
    if (!RowsWanted)
        return;
    const char *action = item->Value ? ACT_RESTORE_VALUE : ACT_DELETE_VALUE;
    char detail[2 * NAME_CAP + 8];
    FormatText(detail, sizeof detail, "[%s] %s", item->Section, item->Item);
    if (outcome->State == INI_NO_FILE || outcome->State == INI_IN_PLACE) {
        AddRow("INI", installNo, file, action, OUT_SKIPPED, "ALREADY-GONE", detail);
        return;
    }
    // A failure never reads as "gone": the file was there.
    unsigned long error = outcome->Error;
    AddResultRow("INI", installNo, file, action, outcome->State == INI_WRITTEN,
                 error == ERROR_FILE_NOT_FOUND || error == 0 ? ERROR_WRITE_FAULT : error, detail);
}

void DeleteIniFile(const char *path, unsigned short installNo)
{
    SetPlainAttributes(path);
    int done = DeleteOneFile(path);
    AddResultRow("INIFILE", installNo, path, ACT_DELETE, done, GetLastError(), NULL);
}
