#include "inifiles.h"
#include "files.h"
#include "../app/paths.h"

void RemoveIniFile(NewIniEntry *entry)
{
    SetPlainAttributes(entry->Path);
    DeleteOneFile(entry->Path);
}

int RestoreIniItem(IniEntry *entry)
{
    // Writing an item would create a missing file.
    if (!FileExists(entry->File))
        return 0;
    const char *value = Rollback ? entry->LastOldValue : entry->OldValue;
    // An empty old value means the item did not exist: a null value deletes it.
    WritePrivateProfileStringA(entry->Section, entry->Item, value[0] ? value : NULL, entry->File);
    return 1;
}
