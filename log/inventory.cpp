// The inventory's lists and single values, and the blocks that hold its
// records and texts: records and texts are taken from large blocks in
// turn and all released together, so a large log costs few allocations and
// no text takes more room than its own length.
#include "inventory.h"
#include "../base/refusals.h"
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

char EmptyText[1];

static EntryList *const AllLists[12] = {
    &AppFileList, &SysFileList, &EditFileList, &DirList, &NewIniList, &IniEntryList,
    &RegKeyList, &RegTreeList, &RegValueList, &IconList, &ProgramList, &ServiceList};

// Small at first: a small log's reading pays for what it uses; tables and
// blocks double as they fill.
enum { INITIAL_SLOTS = 256 };

// --- blocks ---

// One block of the pool; its bytes follow the header.
struct PoolBlock {
    PoolBlock *Next;
    size_t Size;
};

enum { FIRST_BLOCK_BYTES = 4 * 1024, BLOCK_BYTES = 64 * 1024, RECORD_ALIGN = 8 };

// Every block, newest first; records and texts fill separate blocks, so
// that texts need no alignment.
static PoolBlock *Blocks;
struct PoolCursor {
    char *Next, *End;
};
static PoolCursor RecordCursor, TextCursor;
static size_t NextBlockBytes = FIRST_BLOCK_BYTES;

static void *PoolTake(PoolCursor *cursor, size_t size)
{
    if ((size_t)(cursor->End - cursor->Next) < size) {
        size_t bytes = size > NextBlockBytes ? size : NextBlockBytes;
        // The header is a multiple of RECORD_ALIGN, so the bytes start aligned.
        PoolBlock *block = (PoolBlock *)malloc(sizeof(PoolBlock) + bytes);
        if (!block)
            return NULL;
        block->Next = Blocks;
        block->Size = bytes;
        Blocks = block;
        if (NextBlockBytes < BLOCK_BYTES)
            NextBlockBytes *= 2;
        cursor->Next = (char *)(block + 1);
        cursor->End = cursor->Next + bytes;
    }
    void *taken = cursor->Next;
    cursor->Next += size;
    return taken;
}

static void FreePool(void)
{
    while (Blocks) {
        PoolBlock *next = Blocks->Next;
        free(Blocks);
        Blocks = next;
    }
    RecordCursor.Next = RecordCursor.End = NULL;
    TextCursor.Next = TextCursor.End = NULL;
    NextBlockBytes = FIRST_BLOCK_BYTES;
}

static void *TakeRecord(size_t size)
{
    static_assert(sizeof(PoolBlock) % RECORD_ALIGN == 0, "block header keeps records aligned");
    size = (size + RECORD_ALIGN - 1) / RECORD_ALIGN * RECORD_ALIGN;
    return PoolTake(&RecordCursor, size);
}

int StoreText(char **field, const char *text, size_t cap)
{
    size_t n = cap ? strnlen(text, cap - 1) : 0;
    if (n == 0) {
        *field = EmptyText;
        return 0;
    }
    char *copy = (char *)PoolTake(&TextCursor, n + 1);
    if (!copy)
        return 1;
    memcpy(copy, text, n);
    copy[n] = 0;
    *field = copy;
    return 0;
}

int StoreData(char **field, int *fieldSize, const char *data, size_t size)
{
    if (size > (size_t)OLD_DATA_CAP)
        return 1;
    char *copy = (char *)PoolTake(&TextCursor, size + 2);
    if (!copy)
        return 1;
    memcpy(copy, data, size);
    copy[size] = copy[size + 1] = 0;
    *field = copy;
    *fieldSize = (int)size;
    return 0;
}

// --- records ---

void ClearEntry(FileEntry *e)
{
    memset(e, 0, sizeof *e);
    e->Path = e->BackupPath = EmptyText;
}

void ClearEntry(EditEntry *e)
{
    memset(e, 0, sizeof *e);
    e->Path = e->BackupPath = EmptyText;
}

void ClearEntry(DirEntry *e)
{
    memset(e, 0, sizeof *e);
    e->Path = EmptyText;
}

void ClearEntry(NewIniEntry *e)
{
    memset(e, 0, sizeof *e);
    e->Path = EmptyText;
}

void ClearEntry(IniEntry *e)
{
    memset(e, 0, sizeof *e);
    e->File = e->Section = e->Item = e->OldValue = e->LastOldValue = EmptyText;
}

void ClearEntry(RegKeyEntry *e)
{
    memset(e, 0, sizeof *e);
    e->Key = e->ValueName = EmptyText;
}

void ClearEntry(RegTreeEntry *e)
{
    memset(e, 0, sizeof *e);
    e->Key = EmptyText;
}

void ClearEntry(RegValueEntry *e)
{
    memset(e, 0, sizeof *e);
    e->Key = e->ValueName = e->OldData = e->LastOldData = EmptyText;
}

void ClearEntry(IconEntry *e)
{
    memset(e, 0, sizeof *e);
    e->Group = e->Name = e->Command = EmptyText;
}

void ClearEntry(ProgramEntry *e)
{
    memset(e, 0, sizeof *e);
    e->CommandLine = e->Name = EmptyText;
}

void ClearEntry(ServiceEntry *e)
{
    memset(e, 0, sizeof *e);
    e->Name = EmptyText;
}

#define NEW_ENTRY(type)                                          \
    int NewEntry(type **out)                                     \
    {                                                            \
        *out = (type *)TakeRecord(sizeof(type));                 \
        if (!*out)                                               \
            return 1;                                            \
        ClearEntry(*out);                                        \
        return 0;                                                \
    }
NEW_ENTRY(FileEntry)
NEW_ENTRY(EditEntry)
NEW_ENTRY(DirEntry)
NEW_ENTRY(NewIniEntry)
NEW_ENTRY(IniEntry)
NEW_ENTRY(RegKeyEntry)
NEW_ENTRY(RegTreeEntry)
NEW_ENTRY(RegValueEntry)
NEW_ENTRY(IconEntry)
NEW_ENTRY(ProgramEntry)
NEW_ENTRY(ServiceEntry)
#undef NEW_ENTRY

// --- lists ---

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
        free(list->Slots);
        list->Slots = NULL;
        list->Count = list->Capacity = 0;
    }
    FreePool();
    EmptyText[0] = 0;
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
        if (list->Capacity > (1 << 24))
            return 1;
        int grown = list->Capacity ? list->Capacity * 2 : INITIAL_SLOTS;
        void **slots = (void **)realloc(list->Slots, (size_t)grown * sizeof(void *));
        if (!slots)
            return 1;
        list->Slots = slots;
        list->Capacity = grown;
    }
    list->Slots[list->Count++] = entry;
    return 0;
}
