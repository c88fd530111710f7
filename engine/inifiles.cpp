// INI file restore and removal: which value each item gets back. The items
// of one file are written together by machine/iniops, which also writes
// their rows.
#include "inifiles.h"
#include "files.h"
#include "../base/rows.h"
#include <stdlib.h>

void RemoveIniFile(NewIniEntry *entry)
{
    DeleteIniFile(entry->Path, entry->InstallNo);
}

// The item as it is written back: null deletes it (an empty old value means
// the item did not exist).
static ProfileItem ItemWritten(const IniEntry *entry)
{
    const char *value = Rollback ? entry->LastOldValue : entry->OldValue;
    ProfileItem item = {entry->Section, entry->Item, value[0] ? value : NULL};
    return item;
}

void RestoreIniItemsTogether(IniEntry **items, int count, IniOutcome *outcomes)
{
    if (count <= 0)
        return;
    ProfileItem *list = (ProfileItem *)malloc((size_t)count * sizeof *list);
    if (list) {
        for (int k = 0; k < count; k++)
            list[k] = ItemWritten(items[k]);
        WriteIniItems(items[0]->File, list, count, outcomes);
        free(list);
    } else {
        // Short of memory: item by item.
        for (int k = 0; k < count; k++) {
            ProfileItem one = ItemWritten(items[k]);
            WriteIniItems(items[k]->File, &one, 1, &outcomes[k]);
        }
    }
    for (int k = 0; k < count; k++)
        if (outcomes[k].State == INI_FAILED)
            WorkLeft = 1;       // held or no room: the log keeps the items for a later run
}

int ReportIniItem(const IniEntry *entry, const IniOutcome *outcome)
{
    ProfileItem item = ItemWritten(entry);
    AddIniItemRow(entry->File, &item, entry->InstallNo, outcome);
    return outcome->State != INI_NO_FILE;
}

int RestoreIniItem(IniEntry *entry)
{
    IniOutcome outcome;
    RestoreIniItemsTogether(&entry, 1, &outcome);
    return ReportIniItem(entry, &outcome);
}
