// The uninstall inventory: twelve lists of records and the single values
// that the log reader fills. Records and their texts live in blocks owned by
// the inventory, each text stored once at its own length; lists grow as
// needed (memory is the only bound), so no entry of a large product is
// dropped.
#pragma once
#include "../base/state.h"
#include <stddef.h>

// The longest texts the reader takes (NUL included): longer ones are cut or
// refused where they are read, as before; the fields hold them at their length.
enum { OLD_DATA_CAP = 2048, INI_VALUE_CAP = 512, NAME_CAP = 256 };
enum { LOG_DIR_INSTALL = 0x7FFF };   // MadeInstall of the log's own directory

// Text fields are never null (an empty one points at EmptyText) and may be
// shortened in place; they are set through StoreText with the cap noted
// beside them (INV_PATH_CAP where none is noted).
struct FileEntry {
    char *Path;
    char *BackupPath;
    int Selected;
    int Created;
    unsigned short RegisterInstall;
    unsigned short DeviceInstall;
    unsigned short CopyInstall;
    unsigned short BackupInstall;
    unsigned short SharedInstall;
};

struct EditEntry {
    char *Path;
    char *BackupPath;
    unsigned short InstallNo;
};

struct DirEntry {
    char *Path;                  // always ends with a backslash while reading
    int Selected;
    unsigned short TreeInstall;
    unsigned short MadeInstall;
};

struct NewIniEntry {
    char *Path;
    int Selected;
    unsigned short InstallNo;
};

struct IniEntry {
    char *File;
    char *Section;               // NAME_CAP
    char *Item;                  // NAME_CAP
    char *OldValue;              // INI_VALUE_CAP
    char *LastOldValue;          // INI_VALUE_CAP; OldValue's storage while the two are equal
    int Selected;
    unsigned short InstallNo;
};

struct RegKeyEntry {
    char *Key;                   // NAME_CAP
    char *ValueName;             // NAME_CAP
    int Root;
    int Selected;
    unsigned short InstallNo;
};

struct RegTreeEntry {
    char *Key;                   // NAME_CAP
    int Root;
    int Selected;
    unsigned short InstallNo;
};

struct RegValueEntry {
    char *Key;                   // NAME_CAP
    char *ValueName;             // NAME_CAP
    char *OldData;               // NUL-separated strings, closed by an empty one
    char *LastOldData;           // OldData's own storage while the two are equal
    int OldDataSize;             // bytes, the closing empty string included
    int LastOldDataSize;
    int Root;
    int Type;
    int Selected;
    unsigned short InstallNo;
};

struct IconEntry {
    char *Group;                 // NAME_CAP
    char *Name;                  // NAME_CAP
    char *Command;               // NAME_CAP
    int Selected;
    unsigned short InstallNo;
};

struct ProgramEntry {
    char *CommandLine;
    char *Name;                  // NAME_CAP
    int Selected;
    unsigned short InstallNo;
};

struct ServiceEntry {
    char *Name;
    int Selected;
    unsigned short InstallNo;
};

// A table of pointers to records in the inventory's blocks.
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

// Allocates the twelve empty tables (they grow as entries come).
// Result 0, or 1 when memory is short.
int CreateInventory(void);
// Releases the tables, every record and text (all of them at once: none is
// released alone) and SubSystemName; resets the single values.
void FreeInventory(void);
// Appends a record. Result 0, or 1 when the table cannot grow; nothing is
// added then.
int ListAppend(EntryList *list, void *entry);

// The empty text that empty fields point at. Never written but with its NUL.
extern char EmptyText[1];
// A cleared record from the inventory's blocks: numbers 0, texts "".
// Result 0, or 1 when memory is short (*out is then null).
int NewEntry(FileEntry **out);
int NewEntry(EditEntry **out);
int NewEntry(DirEntry **out);
int NewEntry(NewIniEntry **out);
int NewEntry(IniEntry **out);
int NewEntry(RegKeyEntry **out);
int NewEntry(RegTreeEntry **out);
int NewEntry(RegValueEntry **out);
int NewEntry(IconEntry **out);
int NewEntry(ProgramEntry **out);
int NewEntry(ServiceEntry **out);
// Clears a record made elsewhere (on the stack, say): numbers 0, texts "".
void ClearEntry(FileEntry *e);
void ClearEntry(EditEntry *e);
void ClearEntry(DirEntry *e);
void ClearEntry(NewIniEntry *e);
void ClearEntry(IniEntry *e);
void ClearEntry(RegKeyEntry *e);
void ClearEntry(RegTreeEntry *e);
void ClearEntry(RegValueEntry *e);
void ClearEntry(IconEntry *e);
void ClearEntry(ProgramEntry *e);
void ClearEntry(ServiceEntry *e);
// Points *field at a copy of text in the inventory's blocks (EmptyText for
// ""), cut to cap - 1 characters as CopyText into cap bytes would cut it.
// Result 0, or 1 when memory is short: *field is then left as it was.
int StoreText(char **field, const char *text, size_t cap);
// The same for size bytes of NUL-separated strings, closed by an empty
// one; *fieldSize receives size. Two NULs stored behind them end any walk
// over strings that were not closed.
int StoreData(char **field, int *fieldSize, const char *data, size_t size);

#define ENTRY_AT(type, list, i) ((type *)(list).Slots[i])
