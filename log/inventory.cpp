#include "inventory.h"
#include "refusals.h"
#include <stdlib.h>
#include <string.h>

EntryList AppFileList, SysFileList, EditFileList, DirList, NewIniList,
    IniEntryList, RegKeyList, RegTreeList, RegValueList, IconList, ProgramList,
    ServiceList;

unsigned short InstallCount;
long LastInstallOffset;
int AnsiLog;
int HaveBackups;
char *SubSystemName;
int SubSystemSelected;
char MifFileName[HEADER_CAP], Manufacturer[HEADER_CAP], ProductName[HEADER_CAP],
    VersionNumber[HEADER_CAP], SerialNumber[HEADER_CAP];

static EntryList *const AllLists[12] = {
    &AppFileList, &SysFileList, &EditFileList, &DirList, &NewIniList, &IniEntryList,
    &RegKeyList, &RegTreeList, &RegValueList, &IconList, &ProgramList, &ServiceList};

enum { INITIAL_SLOTS = 4096 };

int CreateInventory(void)
{
    for (EntryList *list : AllLists) {
        list->Count = 0;
        list->Capacity = 0;
        list->Slots = (void **)calloc(INITIAL_SLOTS, sizeof(void *));
        if (!list->Slots)
            return 1;
        list->Capacity = INITIAL_SLOTS;
    }
    return 0;
}

void FreeInventory(void)
{
    for (EntryList *list : AllLists) {
        for (int i = 0; i < list->Count; i++)
            free(list->Slots[i]);
        free(list->Slots);
        list->Slots = NULL;
        list->Count = list->Capacity = 0;
    }
    FreeRefusals();
    free(SubSystemName);
    SubSystemName = NULL;
    SubSystemSelected = 0;
    InstallCount = 0;
    LastInstallOffset = 0;
    AnsiLog = 0;
    HaveBackups = 0;
    MifFileName[0] = Manufacturer[0] = ProductName[0] = VersionNumber[0] =
        SerialNumber[0] = 0;
}

int ListAppend(EntryList *list, void *entry)
{
    if (list->Count >= list->Capacity) {
        if (list->Capacity > (1 << 24)) {
            free(entry);
            return 1;
        }
        int grown = list->Capacity ? list->Capacity * 2 : INITIAL_SLOTS;
        void **slots = (void **)realloc(list->Slots, (size_t)grown * sizeof(void *));
        if (!slots) {
            free(entry);
            return 1;
        }
        list->Slots = slots;
        list->Capacity = grown;
    }
    list->Slots[list->Count++] = entry;
    return 0;
}

void *NewEntry(size_t size)
{
    return calloc(1, size);
}
