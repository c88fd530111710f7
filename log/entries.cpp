// The readers of file, edited-file, service, INI, program and icon lines,
// with the look-up indexes that merge repeated lines into one entry.
#include "readstate.h"
#include "../base/paths.h"
#include "../base/text.h"
#include <stdlib.h>
#include <string.h>

FileIndex AppFiles, SysFiles;
SlotIndex EditIndex, NewIniIndex, IniIndex, RegKeyIndex, RegTreeIndex, RegValueIndex, IconIndex,
    ProgramIndex, ServiceIndex;

int AppendIndexed(EntryList *list, SlotIndex *ix, void *entry, unsigned hash)
{
    if (ix->Count != list->Count || IndexReserve(ix) != 0)
        return 1;
    if (ListAppend(list, entry) != 0)
        return 1;
    IndexPut(ix, hash);
    return 0;
}

// --- file entries ---

unsigned PathHash(const char *path)
{
    return HashText(HASH_START, path);
}

unsigned IniHash(const char *file, const char *section, const char *item)
{
    return HashText(HashText(HashText(HASH_START, file), section), item);
}

unsigned IconHash(const char *group, const char *name)
{
    return HashText(HashText(HASH_START, group), name);
}

unsigned RegTreeHash(const char *key, int root)
{
    return HashNumber(HashText(HASH_START, key), root);
}

unsigned RegKeyHash(const char *key, const char *name, int root)
{
    return HashNumber(HashText(HashText(HASH_START, key), name), root);
}

unsigned RegValueHash(const char *key, const char *name, int root, int type)
{
    return HashNumber(RegKeyHash(key, name, root), type);
}

// The lowest slot whose path matches, or -1.
static int FindFile(const FileIndex *fx, const EntryList *list, const char *path)
{
    unsigned h = PathHash(path);
    int best = -1;
    for (int s = IndexFirst(&fx->Paths, h); s >= 0; s = IndexNext(&fx->Paths, s)) {
        if (fx->Paths.Hashes[s] != h)
            continue;
        if (TextEqualNoCase(ENTRY_AT(FileEntry, *list, s)->Path, path) && (best < 0 || s < best))
            best = s;
    }
    return best;
}

static int AppendFile(FileIndex *fx, EntryList *list, FileEntry *entry)
{
    if (fx->Names.Count != list->Count || IndexReserve(&fx->Names) != 0)
        return 1;
    if (AppendIndexed(list, &fx->Paths, entry, PathHash(entry->Path)) != 0)
        return 1;
    IndexPut(&fx->Names, PathHash(FileNamePart(entry->Path)));
    return 0;
}

void FreeFileIndex(FileIndex *fx)
{
    for (int i = 0; i < fx->LongCap; i++) {
        free(fx->LongForms[i]);
        free(fx->LongDirs[i]);
    }
    free(fx->LongForms);
    free(fx->LongDirs);
    IndexFree(&fx->Paths);
    IndexFree(&fx->Names);
    memset(fx, 0, sizeof *fx);
}

// "File Copy: ", "Shell Link: ", "File Overwrite: " and their "Backup Copy: ".
int ReadFileLine(const char *value, int overwrite, int nonSystem, int sharedIgnored)
{
    char path[INV_PATH_CAP], backup[INV_PATH_CAP] = "";
    PathForm(value, path, sizeof path);
    const char *v;
    int found = Follow("Backup Copy: ", &v);
    if (found == TAG_TOO_LONG)
        return LINE_USED;       // a backup copy we cannot name: leave the file alone
    if (found == TAG_FOUND)
        PathForm(v, backup, sizeof backup);
    int result = AfterGroup(found);
    int hasBackup = backup[0] != 0;
    if (!UsablePath(path, 1) || (hasBackup && !UsablePath(backup, 0))) {
        RefusePath("FILE", hasBackup && UsablePath(path, 1) ? backup : path);
        return result;
    }
    if (hasBackup)
        HaveBackups = 1;
    // Overwriting a registered shared DLL counts like copying it.
    if (overwrite && !hasBackup && Version4OrLater && IsSharedDll(path))
        overwrite = 0;
    if (OnFloppy(path) || (overwrite && !hasBackup) || !FileExists(path))
        return result;

    int sys = IsSystemDirectory(path);
    EntryList *list = sys ? &SysFileList : &AppFileList;
    FileIndex *fx = sys ? &SysFiles : &AppFiles;
    int slot = FindFile(fx, list, path);
    if (slot >= 0) {
        FileEntry *e = ENTRY_AT(FileEntry, *list, slot);
        e->CopyInstall = InstallCount;
        if (!sharedIgnored)
            e->SharedInstall = InstallCount;
        if (hasBackup && StoreText(&e->BackupPath, backup, INV_PATH_CAP) == 0)
            e->BackupInstall = InstallCount;
        return result;
    }
    FileEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Path, path, INV_PATH_CAP) != 0 ||
        StoreText(&e->BackupPath, backup, INV_PATH_CAP) != 0)
        return result;
    e->Selected = sys && nonSystem;
    e->Created = !hasBackup;
    e->CopyInstall = e->BackupInstall = InstallCount;
    e->SharedInstall = sharedIgnored ? 0 : InstallCount;
    AppendFile(fx, list, e);
    return result;
}

void MarkDevice(const char *value)
{
    char path[INV_PATH_CAP];
    PathForm(value, path, sizeof path);
    if (!UsablePath(path, 0)) {
        RefusePath("DEVICE", path);
        return;
    }
    unsigned h = PathHash(path);
    FileIndex *indexes[2] = {&AppFiles, &SysFiles};
    EntryList *lists[2] = {&AppFileList, &SysFileList};
    for (int k = 0; k < 2; k++)
        for (int s = IndexFirst(&indexes[k]->Paths, h); s >= 0; s = IndexNext(&indexes[k]->Paths, s)) {
            FileEntry *e = ENTRY_AT(FileEntry, *lists[k], s);
            if (indexes[k]->Paths.Hashes[s] == h && TextEqualNoCase(e->Path, path))
                e->DeviceInstall = InstallCount;
        }
}

// Room for slot in the per-slot long forms. 0 = ready.
static int ReserveLongForms(FileIndex *fx, const EntryList *list, int slot)
{
    if (slot < fx->LongCap)
        return 0;
    int grown = list->Capacity > slot ? list->Capacity : slot + 1;
    char **forms = (char **)realloc(fx->LongForms, (size_t)grown * sizeof(char *));
    if (!forms)
        return 1;
    fx->LongForms = forms;
    char **dirs = (char **)realloc(fx->LongDirs, (size_t)grown * sizeof(char *));
    if (!dirs)
        return 1;
    fx->LongDirs = dirs;
    memset(forms + fx->LongCap, 0, (size_t)(grown - fx->LongCap) * sizeof(char *));
    memset(dirs + fx->LongCap, 0, (size_t)(grown - fx->LongCap) * sizeof(char *));
    fx->LongCap = grown;
    return 0;
}

// The long form of a file entry's path (dirOnly 0) or of its directory
// part, up to and with the last backslash (dirOnly 1), made once: nothing
// on disk changes while the log is read. Null when memory is short.
static const char *LongFormOf(FileIndex *fx, const EntryList *list, int slot, int dirOnly)
{
    if (ReserveLongForms(fx, list, slot) != 0)
        return NULL;
    char **kept = dirOnly ? &fx->LongDirs[slot] : &fx->LongForms[slot];
    if (!*kept) {
        char form[INV_PATH_CAP];
        CopyText(form, sizeof form, ENTRY_AT(FileEntry, *list, slot)->Path);
        if (dirOnly)
            *FileNamePart(form) = 0;
        NormalizePath(form, sizeof form, 1);
        *kept = _strdup(form);
    }
    return *kept;
}

// Whether an entry's long form can equal longForm at all: normalising
// keeps the backslashes and treats the directory part of a path as it
// treats the directory alone, so an entry in another directory, in long
// form, cannot match, and its own file need not be searched. (A path that
// normalising leaves as it was is compared as it stands by the caller.)
static int MayHaveLongForm(FileIndex *fx, const EntryList *list, int slot, const char *longForm)
{
    if (LookupCacheOff)
        return 1;
    const char *dir = LongFormOf(fx, list, slot, 1);
    size_t n = (size_t)(FileNamePart(longForm) - longForm);
    return !dir || (strlen(dir) == n && TextEqualNoCaseN(dir, longForm, n));
}

// Marks every file entry whose path, in long form, is the value's long form.
// An entry can only match when its last component is the file's long or
// short name, so only entries with one of those two names are compared, and
// only those spelt differently from the value are normalised themselves
// (the same text, in any case, normalises to the same long form).
void MarkSelfRegister(const char *value)
{
    char given[INV_PATH_CAP], longForm[INV_PATH_CAP], shortName[MAX_PATH] = "";
    PathForm(value, given, sizeof given);
    if (!UsablePath(given, 0)) {
        RefusePath("SERVER", given);
        return;
    }
    CopyText(longForm, sizeof longForm, given);
    NormalizePath(longForm, sizeof longForm, 1);
    // The short name: the search that normalising made for the last
    // component as the value spells it found it (the look-up cache keeps
    // it); the long name names the same file.
    char probe[INV_PATH_CAP], foundLong[MAX_PATH], foundShort[14];
    CopyText(probe, sizeof probe, longForm);
    *FileNamePart(probe) = 0;
    if (AppendText(probe, sizeof probe, FileNamePart(given)) == TEXT_FIT && !strpbrk(probe, "*?") &&
        LookUpNames(probe, foundLong, foundShort) == 0)
        CopyText(shortName, sizeof shortName, foundShort);
    const char *names[2] = {FileNamePart(longForm), shortName};
    int nameCount = shortName[0] && !TextEqualNoCase(names[0], shortName) ? 2 : 1;
    FileIndex *indexes[2] = {&AppFiles, &SysFiles};
    EntryList *lists[2] = {&AppFileList, &SysFileList};
    for (int k = 0; k < 2; k++)
        for (int n = 0; n < nameCount; n++) {
            unsigned hash = PathHash(names[n]);
            SlotIndex *ix = &indexes[k]->Names;
            for (int s = IndexFirst(ix, hash); s >= 0; s = IndexNext(ix, s)) {
                if (ix->Hashes[s] != hash)
                    continue;
                FileEntry *e = ENTRY_AT(FileEntry, *lists[k], s);
                const char *entryLong;
                if (TextEqualNoCase(e->Path, given) || TextEqualNoCase(e->Path, longForm) ||
                    (MayHaveLongForm(indexes[k], lists[k], s, longForm) &&
                     (entryLong = LongFormOf(indexes[k], lists[k], s, 0)) && TextEqualNoCase(entryLong, longForm)))
                    e->RegisterInstall = InstallCount;
            }
        }
}

// "File Edit: " with its "Backup Copy: ".
int ReadEditLine(const char *value)
{
    char path[INV_PATH_CAP], backup[INV_PATH_CAP] = "";
    PathForm(value, path, sizeof path);
    const char *v;
    int found = Follow("Backup Copy: ", &v);
    if (found == TAG_TOO_LONG)
        return LINE_USED;
    if (found == TAG_FOUND)
        PathForm(v, backup, sizeof backup);
    int result = AfterGroup(found);
    if (backup[0] && (!UsablePath(path, 0) || !UsablePath(backup, 0))) {
        RefusePath("FILE", UsablePath(path, 0) ? backup : path);
        return result;
    }
    if (!backup[0] || OnFloppy(path) || !FileExists(path))
        return result;
    unsigned h = PathHash(path);
    int best = -1;
    for (int s = IndexFirst(&EditIndex, h); s >= 0; s = IndexNext(&EditIndex, s))
        if (EditIndex.Hashes[s] == h && TextEqualNoCase(ENTRY_AT(EditEntry, EditFileList, s)->Path, path) &&
            (best < 0 || s < best))
            best = s;
    if (best >= 0) {
        EditEntry *e = ENTRY_AT(EditEntry, EditFileList, best);
        if (StoreText(&e->BackupPath, backup, INV_PATH_CAP) == 0)
            e->InstallNo = InstallCount;
        return result;
    }
    EditEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Path, path, INV_PATH_CAP) != 0 ||
        StoreText(&e->BackupPath, backup, INV_PATH_CAP) != 0)
        return result;
    e->InstallNo = InstallCount;
    AppendIndexed(&EditFileList, &EditIndex, e, h);
    return result;
}

void ReadService(const char *value)
{
    unsigned h = PathHash(value);
    int best = -1;
    for (int s = IndexFirst(&ServiceIndex, h); s >= 0; s = IndexNext(&ServiceIndex, s))
        if (ServiceIndex.Hashes[s] == h && TextEqualNoCase(ENTRY_AT(ServiceEntry, ServiceList, s)->Name, value) &&
            (best < 0 || s < best))
            best = s;
    if (best >= 0) {
        ENTRY_AT(ServiceEntry, ServiceList, best)->InstallNo = InstallCount;
        return;
    }
    ServiceEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Name, value, INV_PATH_CAP) != 0)
        return;
    e->InstallNo = InstallCount;
    AppendIndexed(&ServiceList, &ServiceIndex, e, h);
}

// "INI New: " + "INI File: ", then the "INI " lines of that file are passed over.
int ReadNewIni(void)
{
    const char *v;
    int found = Follow("INI File: ", &v);
    if (found != TAG_FOUND)
        return AfterGroup(found);
    char path[INV_PATH_CAP];
    PathForm(v, path, sizeof path);
    int result = LINE_USED;
    while (ReadNext()) {
        if (!StartsWithNoCase(Line, "INI ") || Line[4] == 'F' || Line[4] == 'f' || Line[4] == 'N' ||
            Line[4] == 'n') {
            result = LINE_HANDED_BACK;
            break;
        }
    }
    if (!UsablePath(path, 0)) {
        RefusePath("INIFILE", path);
        return result;
    }
    if (OnFloppy(path) || !FileExists(path))
        return result;
    unsigned h = PathHash(path);
    int best = -1;
    for (int s = IndexFirst(&NewIniIndex, h); s >= 0; s = IndexNext(&NewIniIndex, s))
        if (NewIniIndex.Hashes[s] == h && TextEqualNoCase(ENTRY_AT(NewIniEntry, NewIniList, s)->Path, path) &&
            (best < 0 || s < best))
            best = s;
    if (best >= 0) {
        ENTRY_AT(NewIniEntry, NewIniList, best)->InstallNo = InstallCount;
        return result;
    }
    NewIniEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Path, path, INV_PATH_CAP) != 0)
        return result;
    e->InstallNo = InstallCount;
    AppendIndexed(&NewIniList, &NewIniIndex, e, h);
    return result;
}

// "INI File: " with "INI Sect: ", "INI Item: ", "INI Val: " and an optional "INI Old: ".
int ReadIniChange(const char *value)
{
    char file[INV_PATH_CAP], section[NAME_CAP] = "", item[NAME_CAP] = "", oldValue[INI_VALUE_CAP] = "";
    PathForm(value, file, sizeof file);
    static const char *const musts[3] = {"INI Sect: ", "INI Item: ", "INI Val: "};
    char *fields[3] = {section, item, NULL};
    const char *v;
    for (int i = 0; i < 3; i++) {
        int found = Follow(musts[i], &v);
        if (found != TAG_FOUND)
            return AfterGroup(found);
        if (fields[i])
            CopyText(fields[i], NAME_CAP, v);
    }
    int found = Follow("INI Old: ", &v);
    if (found == TAG_TOO_LONG)
        return LINE_USED;       // an old value we cannot hold is not restored wrongly
    if (found == TAG_FOUND)
        CopyText(oldValue, sizeof oldValue, v);
    int result = AfterGroup(found);
    if (!UsablePath(file, 0)) {
        RefusePath("INI", file);
        return result;
    }
    if (OnFloppy(file))
        return result;
    char now[256];
    GetPrivateProfileStringA(section, item, "", now, sizeof now, file);
    if (!now[0])
        return result;

    unsigned h = IniHash(file, section, item);
    int best = -1;
    for (int s = IndexFirst(&IniIndex, h); s >= 0; s = IndexNext(&IniIndex, s)) {
        IniEntry *e = ENTRY_AT(IniEntry, IniEntryList, s);
        if (IniIndex.Hashes[s] == h && TextEqualNoCase(e->File, file) &&
            TextEqualNoCase(e->Section, section) && TextEqualNoCase(e->Item, item) &&
            (best < 0 || s < best))
            best = s;
    }
    if (best >= 0) {
        // A repeat keeps the value from before the first installation and
        // takes the one from before the latest, for a rollback.
        IniEntry *e = ENTRY_AT(IniEntry, IniEntryList, best);
        if (strcmp(oldValue, e->OldValue) == 0)
            e->LastOldValue = e->OldValue;
        else if (StoreText(&e->LastOldValue, oldValue, INI_VALUE_CAP) != 0)
            return result;      // no rollback to a value we could not keep
        e->InstallNo = InstallCount;
        return result;
    }
    IniEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->File, file, INV_PATH_CAP) != 0 ||
        StoreText(&e->Section, section, NAME_CAP) != 0 || StoreText(&e->Item, item, NAME_CAP) != 0 ||
        StoreText(&e->OldValue, oldValue, INI_VALUE_CAP) != 0)
        return result;
    e->LastOldValue = e->OldValue;
    e->InstallNo = InstallCount;
    AppendIndexed(&IniEntryList, &IniIndex, e, h);
    return result;
}

// "Execute Path: " / "Execute Program: " with an optional "Execute Name: ".
int ReadProgram(const char *value)
{
    char command[INV_PATH_CAP];
    CopyText(command, sizeof command, value);
    unsigned h = PathHash(command);
    int best = -1;
    for (int s = IndexFirst(&ProgramIndex, h); s >= 0; s = IndexNext(&ProgramIndex, s))
        if (ProgramIndex.Hashes[s] == h &&
            TextEqualNoCase(ENTRY_AT(ProgramEntry, ProgramList, s)->CommandLine, command) &&
            (best < 0 || s < best))
            best = s;
    if (best >= 0) {
        ENTRY_AT(ProgramEntry, ProgramList, best)->InstallNo = InstallCount;
        return LINE_USED;
    }
    ProgramEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->CommandLine, command, INV_PATH_CAP) != 0)
        return LINE_USED;
    e->InstallNo = InstallCount;
    const char *v;
    // A display name too long to hold is left out; the program still runs.
    int found = Follow("Execute Name: ", &v);
    if (found == TAG_FOUND)
        StoreText(&e->Name, v, NAME_CAP);
    AppendIndexed(&ProgramList, &ProgramIndex, e, h);
    return AfterGroup(found);
}

// "Icon Group: " with "Icon Name: " and "Icon Cmd: ".
int ReadIcon(const char *value)
{
    char group[NAME_CAP], name[NAME_CAP];
    CopyText(group, sizeof group, value);
    const char *v;
    int found = Follow("Icon Name: ", &v);
    if (found != TAG_FOUND)
        return AfterGroup(found);
    CopyText(name, sizeof name, v);
    found = Follow("Icon Cmd: ", &v);
    if (found != TAG_FOUND)
        return AfterGroup(found);
    unsigned h = IconHash(group, name);
    int best = -1;
    for (int s = IndexFirst(&IconIndex, h); s >= 0; s = IndexNext(&IconIndex, s)) {
        IconEntry *e = ENTRY_AT(IconEntry, IconList, s);
        if (IconIndex.Hashes[s] == h && TextEqualNoCase(e->Group, group) && TextEqualNoCase(e->Name, name) &&
            (best < 0 || s < best))
            best = s;
    }
    if (best >= 0) {
        IconEntry *e = ENTRY_AT(IconEntry, IconList, best);
        StoreText(&e->Command, v, NAME_CAP);
        return LINE_USED;
    }
    IconEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Group, group, NAME_CAP) != 0 ||
        StoreText(&e->Name, name, NAME_CAP) != 0 || StoreText(&e->Command, v, NAME_CAP) != 0)
        return LINE_USED;
    e->InstallNo = InstallCount;
    AppendIndexed(&IconList, &IconIndex, e, h);
    return LINE_USED;
}
