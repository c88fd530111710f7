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

// On NT the system may keep a section of an INI file of the Windows
// directory (WIN.INI's [windows], say) in the registry instead: the profile
// writer then changes the registry, not the file, and a copy of the file
// would not see the item. Such a section is written in place.
static int SectionIsMapped(const char *file, const char *section)
{
    if (PlatformKind != PLATFORM_NT)
        return 0;
    char dir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    if (n == 0 || n >= sizeof dir)
        return 0;
    char own[MAX_PATH];
    if (CopyText(own, sizeof own, file) != TEXT_FIT)
        return 0;
    *FileNamePart(own) = 0;
    FileIdentity a, b;
    if (GetFileIdentity(own, &a) != 0 || GetFileIdentity(dir, &b) != 0 || !SameIdentity(&a, &b))
        return 0;
    char keyPath[MAX_PATH + 64];
    if (FormatText(keyPath, sizeof keyPath, "Software\\Microsoft\\Windows NT\\CurrentVersion\\IniFileMapping\\%s",
                   FileNamePart(file)) != TEXT_FIT)
        return 1;               // cannot tell: leave it to the system
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    HKEY sub;
    int mapped = RegQueryValueExA(key, section, NULL, NULL, NULL, NULL) == ERROR_SUCCESS ||
                 RegQueryValueExA(key, NULL, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    if (!mapped && RegOpenKeyExA(key, section, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
        mapped = 1;
        RegCloseKey(sub);
    }
    RegCloseKey(key);
    return mapped;
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
    } else if (SectionIsMapped(entry->File, entry->Section)) {
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
