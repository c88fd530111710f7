// The uninstall inventory: twelve lists of fixed-layout records and the
// single values that the log reader fills. Lists grow as needed (memory is
// the only bound), so no entry of a large product is dropped.
#pragma once
#include "../app/state.h"

enum { OLD_DATA_CAP = 2048, INI_VALUE_CAP = 512, NAME_CAP = 256 };
enum { LOG_DIR_INSTALL = 0x7FFF };   // MadeInstall of the log's own directory

struct FileEntry {
    char Path[INV_PATH_CAP];
    char BackupPath[INV_PATH_CAP];
    int Selected;
    int Created;
    unsigned short RegisterInstall;
    unsigned short DeviceInstall;
    unsigned short CopyInstall;
    unsigned short BackupInstall;
    unsigned short SharedInstall;
};

struct EditEntry {
    char Path[INV_PATH_CAP];
    char BackupPath[INV_PATH_CAP];
    unsigned short InstallNo;
};

struct DirEntry {
    char Path[INV_PATH_CAP];     // always ends with a backslash while reading
    int Selected;
    unsigned short TreeInstall;
    unsigned short MadeInstall;
};

struct NewIniEntry {
    char Path[INV_PATH_CAP];
    int Selected;
    unsigned short InstallNo;
};

struct IniEntry {
    char File[INV_PATH_CAP];
    char Section[NAME_CAP];
    char Item[NAME_CAP];
    char OldValue[INI_VALUE_CAP];
    char LastOldValue[INI_VALUE_CAP];
    int Selected;
    unsigned short InstallNo;
};

struct RegKeyEntry {
    char Key[NAME_CAP];
    char ValueName[NAME_CAP];
    int Root;
    int Selected;
    unsigned short InstallNo;
};

struct RegTreeEntry {
    char Key[NAME_CAP];
    int Root;
    int Selected;
    unsigned short InstallNo;
};

struct RegValueEntry {
    char Key[NAME_CAP];
    char ValueName[NAME_CAP];
    char OldData[OLD_DATA_CAP];      // NUL-separated strings, closed by an empty one
    char LastOldData[OLD_DATA_CAP];
    int Root;
    int Type;
    int Selected;
    unsigned short InstallNo;
};

struct IconEntry {
    char Group[NAME_CAP];
    char Name[NAME_CAP];
    char Command[NAME_CAP];
    int Selected;
    unsigned short InstallNo;
};

struct ProgramEntry {
    char CommandLine[INV_PATH_CAP];
    char Name[NAME_CAP];
    int Selected;
    unsigned short InstallNo;
};

struct ServiceEntry {
    char Name[INV_PATH_CAP];
    int Selected;
    unsigned short InstallNo;
};

// A table of pointers to heap records, each owned by its slot.
struct EntryList {
    void **Slots;
    int Count;
    int Capacity;
};

// The twelve lists, in the order in which they are created and released.
extern EntryList AppFileList, SysFileList, EditFileList, DirList, NewIniList,
    IniEntryList, RegKeyList, RegTreeList, RegValueList, IconList, ProgramList,
    ServiceList;

// Single values, set only by the log reader.
extern unsigned short InstallCount;
extern long LastInstallOffset;
extern int AnsiLog;
extern int HaveBackups;
extern char *SubSystemName;          // heap text or null
extern int SubSystemSelected;
extern char MifFileName[HEADER_CAP], Manufacturer[HEADER_CAP], ProductName[HEADER_CAP],
    VersionNumber[HEADER_CAP], SerialNumber[HEADER_CAP];

// Allocates the twelve empty tables (room for 4,096 entries each at first).
// Result 0, or 1 when memory is short.
int CreateInventory(void);
// Releases every entry, the tables and SubSystemName; resets the single values.
void FreeInventory(void);
// Appends a heap record (taking ownership). Result 0, or 1 when the table
// cannot grow; the record is then freed and nothing is added.
int ListAppend(EntryList *list, void *entry);
// Allocates a zeroed record of the given size; null when memory is short.
void *NewEntry(size_t size);

#define ENTRY_AT(type, list, i) ((type *)(list).Slots[i])
