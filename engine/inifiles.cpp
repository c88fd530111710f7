// INI file restore and removal. Changed items are written whole, the items
// of one file in one write (see WriteProfileItemsWhole), so that a full disk
// or a kill loses nothing.
#include "inifiles.h"
#include "files.h"
#include "../base/paths.h"
#include "../base/rows.h"
#include "../base/text.h"
#include "../machine/wholefile.h"
#include <stdlib.h>
#include <string.h>

void RemoveIniFile(NewIniEntry *entry)
{
    SetPlainAttributes(entry->Path);
    int done = DeleteOneFile(entry->Path);
    AddResultRow("INIFILE", entry->InstallNo, entry->Path, ACT_DELETE, done, GetLastError(), NULL);
}

// The value an item gets back; null deletes it (an empty old value means
// the item did not exist).
static const char *ValueWritten(const IniEntry *entry)
{
    const char *value = Rollback ? entry->LastOldValue : entry->OldValue;
    return value[0] ? value : NULL;
}

void RestoreIniItemsTogether(IniEntry **items, int count, IniOutcome *outcomes)
{
    const char *file = items[0]->File;
    // Writing an item would create a missing file.
    int state = !FileExists(file) ? INI_NO_FILE : Preview ? INI_WRITTEN : INI_PENDING;
    for (int k = 0; k < count; k++) {
        outcomes[k].State = state;
        outcomes[k].Error = 0;
    }
    if (state != INI_PENDING)
        return;
    ProfileItem one;
    ProfileItem *list = count > 1 ? (ProfileItem *)malloc((size_t)count * sizeof *list) : &one;
    int mayBeMapped = IniFileMayBeMapped(file);
    int n = 0;
    for (int k = 0; k < count; k++) {
        const char *value = ValueWritten(items[k]);
        if (mayBeMapped && IniSectionMappedFor(file, items[k]->Section)) {
            int done = WritePrivateProfileStringA(items[k]->Section, items[k]->Item, value, file) != 0;
            outcomes[k].State = done ? INI_WRITTEN : INI_FAILED;
            outcomes[k].Error = done ? 0 : GetLastError();
        } else if (list) {
            list[n].Section = items[k]->Section;
            list[n].Item = items[k]->Item;
            list[n].Value = value;
            n++;
        } else {
            // Short of memory: this item on its own.
            int result = WriteProfileItemWhole(file, items[k]->Section, items[k]->Item, value);
            outcomes[k].State = result == WHOLE_FAILED ? INI_FAILED : INI_WRITTEN;
            outcomes[k].Error = result == WHOLE_FAILED ? GetLastError() : 0;
            if (result == WHOLE_FAILED)
                WorkLeft = 1;
        }
    }
    int result = n ? WriteProfileItemsWhole(file, list, n) : WHOLE_DONE;
    DWORD error = result == WHOLE_FAILED ? GetLastError() : 0;
    if (result == WHOLE_FAILED)
        WorkLeft = 1;           // held or no room: the log keeps the items for a later run
    for (int k = 0; k < count; k++) {
        if (outcomes[k].State == INI_PENDING) {
            outcomes[k].State = result == WHOLE_FAILED ? INI_FAILED : INI_WRITTEN;
            outcomes[k].Error = error;
        }
    }
    if (list != &one)
        free(list);
}

int ReportIniItem(const IniEntry *entry, const IniOutcome *outcome)
{
    const char *action = ValueWritten(entry) ? ACT_RESTORE_VALUE : ACT_DELETE_VALUE;
    char detail[2 * NAME_CAP + 8];
    if (RowsWanted)
        FormatText(detail, sizeof detail, "[%s] %s", entry->Section, entry->Item);
    if (outcome->State == INI_NO_FILE) {
        AddRow("INI", entry->InstallNo, entry->File, action, OUT_SKIPPED, "ALREADY-GONE", detail);
        return 0;
    }
    // A failure never reads as "gone": the file was there.
    unsigned long error = outcome->Error;
    AddResultRow("INI", entry->InstallNo, entry->File, action, outcome->State == INI_WRITTEN,
                 error == ERROR_FILE_NOT_FOUND || error == 0 ? ERROR_WRITE_FAULT : error, detail);
    return 1;
}

int RestoreIniItem(IniEntry *entry)
{
    IniOutcome outcome;
    RestoreIniItemsTogether(&entry, 1, &outcome);
    return ReportIniItem(entry, &outcome);
}
