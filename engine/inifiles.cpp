// INI file restore and removal. A changed item is written whole (see
// WriteProfileItemWhole), so that a full disk or a kill loses nothing.
#include "inifiles.h"
#include "files.h"
#include "../app/paths.h"
#include "../app/rows.h"
#include "../app/text.h"
#include "../app/wholefile.h"
#include <string.h>

void RemoveIniFile(NewIniEntry *entry)
{
    SetPlainAttributes(entry->Path);
    int done = DeleteOneFile(entry->Path);
    AddResultRow("INIFILE", entry->InstallNo, entry->Path, ACT_DELETE, done, GetLastError(), NULL);
}

// "[Section] Item", the report's detail of an INI row.
static void IniDetail(char *buf, size_t cap, const IniEntry *entry)
{
    FormatText(buf, cap, "[%s] %s", entry->Section, entry->Item);
}

int RestoreIniItem(IniEntry *entry)
{
    const char *value = Rollback ? entry->LastOldValue : entry->OldValue;
    // An empty old value means the item did not exist: a null value deletes it.
    const char *written = value[0] ? value : NULL;
    const char *action = written ? ACT_RESTORE_VALUE : ACT_DELETE_VALUE;
    char detail[2 * NAME_CAP + 8];
    if (RowsWanted)
        IniDetail(detail, sizeof detail, entry);
    // Writing an item would create a missing file.
    if (!FileExists(entry->File)) {
        AddRow("INI", entry->InstallNo, entry->File, action, OUT_SKIPPED, "ALREADY-GONE", detail);
        return 0;
    }
    int done = 1;
    DWORD error = 0;
    if (Preview) {
        // nothing is written
    } else if (IniSectionIsMapped(entry->File, entry->Section)) {
        done = WritePrivateProfileStringA(entry->Section, entry->Item, written, entry->File) != 0;
        error = GetLastError();
    } else if (WriteProfileItemWhole(entry->File, entry->Section, entry->Item, written) == WHOLE_FAILED) {
        error = GetLastError();
        done = 0;
        WorkLeft = 1;           // held or no room: the log keeps the item for a later run
    }
    // A failure never reads as "gone": the file was there.
    AddResultRow("INI", entry->InstallNo, entry->File, action, done,
                 error == ERROR_FILE_NOT_FOUND || error == 0 ? ERROR_WRITE_FAULT : error, detail);
    return 1;
}
