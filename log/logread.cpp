#include "logread.h"
#include "inventory.h"
#include "logindex.h"
#include "refusals.h"
#include "../app/paths.h"
#include "../app/text.h"
#include "../ui/messages.h"
#include <stdlib.h>
#include <string.h>

long LogBufferBase;
int LogBufferPos, LogBufferLen;
static long LineStart;
static int LineNul;         // the line just read held a NUL byte

void ResetLineReader(void)
{
    ZeroMemory(LogBuffer, sizeof LogBuffer);
    LogBufferPos = LogBufferLen = 0;
    LogBufferBase = 0;
    LineStart = 0;
}

// Next byte of the file, or -1 at its end.
static int NextByte(HFILE file)
{
    if (LogBufferPos >= LogBufferLen) {
        if (LogBufferLen > 0)
            LogBufferBase += LogBufferLen;
        LogBufferLen = (int)_lread(file, LogBuffer, sizeof LogBuffer);
        LogBufferPos = 0;
        if (LogBufferLen <= 0 || LogBufferLen == (int)HFILE_ERROR) {
            LogBufferLen = 0;
            return -1;
        }
    }
    return (unsigned char)LogBuffer[LogBufferPos++];
}

int ReadLogLine(HFILE file, char *line, size_t cap, int keepEmpty, int *tooLong)
{
    if (tooLong)
        *tooLong = 0;
    for (;;) {
        size_t len = 0;
        int started = 0;
        int c;
        LineNul = 0;
        while ((c = NextByte(file)) != -1 && c != '\r') {
            if (c == '\n')
                continue;
            if (!started) {
                LineStart = LogBufferBase + LogBufferPos - 1;
                started = 1;
            }
            if (c == 0)
                LineNul = 1;
            if (len + 1 < cap)
                line[len++] = (char)c;
            else if (tooLong)
                *tooLong = 1;
        }
        if (cap)
            line[len] = 0;
        if (c == -1)
            return 0;
        if (started || keepEmpty) {
            if (!started)
                LineStart = LogBufferBase + LogBufferPos - 1;
            return 1;
        }
    }
}

long LastLineOffset(void)
{
    return LineStart;
}

int LastLineHadNul(void)
{
    return LineNul;
}


// --- the log reader ---------------------------------------------------------

SC_HANDLE(WINAPI *OpenServiceManager)(LPCSTR, LPCSTR, DWORD) = OpenSCManagerA;

enum { LINE_CAP = 256 };

// What a tag test on the current line found.
enum { TAG_FOUND, TAG_OTHER, TAG_TOO_LONG, TAG_END };
// What a handler did with the line it read last.
enum { LINE_USED, LINE_HANDED_BACK };

static HFILE LogFile = HFILE_ERROR;
static char Line[LINE_CAP];
// Line holds only part of its line: the line is longer than the buffer, or
// a NUL byte cut it. Such a line is never taken as an entry: a cut path or
// key names something else.
static int LineDamaged;
static int LogEnded;        // the last line has been read
static long LineOffset;

// Classification directories and the floppy drives.
static char WindowsDir[INV_PATH_CAP], Win32sDir[INV_PATH_CAP];
static int FloppyA, FloppyB;
static HKEY SharedDllsKey;
static int SharedDllsOpened;
static int AdminChecked;

// Look-up indexes, one per list and key; see logindex.h.
struct FileIndex {
    SlotIndex Paths, Names;
    char **LongForms;       // per slot: the path in long form, made when first needed
    int LongCap;
};
static FileIndex AppFiles, SysFiles;
static SlotIndex EditIndex, NewIniIndex, IniIndex, RegKeyIndex, RegTreeIndex, RegValueIndex,
    IconIndex, ProgramIndex, ServiceIndex;
// Directory entries: the leading parts of the paths (see FirstDirBelow),
// and each path as it is now (an entry cut shorter is added again).
static PrefixIndex DirParts, DirPaths;
static int DirIndexBroken;

// Reads the next line into Line. 0 when the log has ended.
static int ReadNext(void)
{
    if (LogEnded) {
        Line[0] = 0;
        LineDamaged = 0;
        return 0;
    }
    int more = ReadLogLine(LogFile, Line, sizeof Line, 0, &LineDamaged);
    if (LastLineHadNul())
        LineDamaged = 1;
    LineOffset = LastLineOffset();
    if (!more) {
        // A last line without a line end still counts.
        LogEnded = 1;
        if (!Line[0] && !LineDamaged)
            return 0;
    }
    return 1;
}

// A line that opens a block, whatever stands before it.
static int IsBlockHeader(void)
{
    return StartsWithNoCase(Line, "*** ");
}

static void RefuseLine(void)
{
    RecordRefusal("LINE", Line, "BAD-LINE", InstallCount);
}

// Tests the current line for a tag; *value points into Line behind it.
static int LineIs(const char *tag, const char **value)
{
    if (!StartsWithNoCase(Line, tag))
        return TAG_OTHER;
    if (LineDamaged) {
        RefuseLine();           // its group is dropped (or, for a name, left out)
        return TAG_TOO_LONG;
    }
    *value = Line + strlen(tag);
    return TAG_FOUND;
}

// Reads the line that should follow and tests it for tag.
static int Follow(const char *tag, const char **value)
{
    if (!ReadNext())
        return TAG_END;
    return LineIs(tag, value);
}

// A line that was read ahead and not claimed goes back to the main loop.
static int AfterGroup(int found)
{
    return found == TAG_OTHER ? LINE_HANDED_BACK : LINE_USED;
}

static int IsMarker(const char *marker)
{
    return !LineDamaged && TextEqualNoCase(Line, marker);
}

static void ShowReaderMessage(int captionNumber, int textNumber)
{
    char caption[PATH_CAP], text[512];
    LoadMessage(captionNumber, caption, sizeof caption);
    LoadMessage(textNumber, text, sizeof text);
    MessageBoxA(MainWindow, text, caption, MB_OK);
}

// A path value in its ANSI form: an OEM block's text is converted, so that
// the path is tested, compared and stored as the file system spells it.
static void PathForm(const char *value, char *out, size_t cap)
{
    CopyText(out, cap, value);
    if (!AnsiLog && out[0])
        OemToCharBuffA(out, out, (DWORD)strlen(out));
}

static int OnFloppy(const char *path)
{
    if (path[0] == 0 || path[1] != ':')
        return 0;
    return ((path[0] == 'A' || path[0] == 'a') && FloppyA) ||
           ((path[0] == 'B' || path[0] == 'b') && FloppyB);
}

// Whether path names a value under HKLM\...\SharedDLLs.
static int IsSharedDll(const char *path)
{
    if (!SharedDllsOpened) {
        SharedDllsOpened = 1;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs",
                          0, 0x3F, &SharedDllsKey) != ERROR_SUCCESS)
            SharedDllsKey = NULL;
    }
    if (!SharedDllsKey)
        return 0;
    BYTE data[256];
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExA(SharedDllsKey, path, NULL, NULL, data, &size);
    return rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA;
}

// Whether dir (ending in a backslash) is directory or a parent of it.
static int ContainsDir(const char *dir, const char *directory)
{
    if (!directory[0])
        return 0;
    char withSlash[INV_PATH_CAP + 1];
    CopyText(withSlash, sizeof withSlash, directory);
    size_t n = strlen(withSlash);
    if (withSlash[n - 1] != '\\')
        AppendText(withSlash, sizeof withSlash, "\\");
    return TextEqualNoCaseN(dir, withSlash, strlen(dir));
}

// The three classification directories as they are on disk: their identity
// (volume and file index) and, where there is none, their long forms.
enum { CLASS_DIRS = 3, DIR_CACHE = 16 };
static FileIdentity ClassIds[CLASS_DIRS];
static int ClassIdKnown[CLASS_DIRS];
static char ClassLong[CLASS_DIRS][INV_PATH_CAP];
// Directories already classified during this reading (nothing on disk
// changes while the log is read), used round robin.
static char CachedDir[DIR_CACHE][INV_PATH_CAP];
static int CachedSys[DIR_CACHE];
static int CacheNext;

static void PrepareClassification(void)
{
    const char *dirs[CLASS_DIRS] = {WindowsDir, SystemDir, Win32sDir};
    for (int i = 0; i < CLASS_DIRS; i++) {
        ClassIdKnown[i] = dirs[i][0] && GetFileIdentity(dirs[i], &ClassIds[i]) == 0;
        CopyText(ClassLong[i], sizeof ClassLong[i], dirs[i]);
        if (ClassLong[i][0])
            NormalizePath(ClassLong[i], sizeof ClassLong[i], 1);
    }
    for (int i = 0; i < DIR_CACHE; i++)
        CachedDir[i][0] = 0;
    CacheNext = 0;
}

// Whether dir is the Windows, System or WIN32S directory, by identity: an
// 8.3 alias, a share or a link to one of them cannot pass for another folder.
static int ClassifyDirectory(const char *dir)
{
    const char *dirs[CLASS_DIRS] = {WindowsDir, SystemDir, Win32sDir};
    for (int i = 0; i < CLASS_DIRS; i++)
        if (dirs[i][0] && TextEqualNoCase(dir, dirs[i]))
            return 1;
    FileIdentity id;
    if (GetFileIdentity(dir, &id) == 0) {
        for (int i = 0; i < CLASS_DIRS; i++)
            if (ClassIdKnown[i] && SameIdentity(&id, &ClassIds[i]))
                return 1;
        return 0;
    }
    char longForm[INV_PATH_CAP];
    CopyText(longForm, sizeof longForm, dir);
    NormalizePath(longForm, sizeof longForm, 1);
    for (int i = 0; i < CLASS_DIRS; i++)
        if (ClassLong[i][0] && TextEqualNoCase(longForm, ClassLong[i]))
            return 1;
    return 0;
}

static int IsSystemDirectory(const char *path)
{
    char dir[INV_PATH_CAP];
    CopyText(dir, sizeof dir, path);
    char *slash = strrchr(dir, '\\');
    if (!slash)
        return 0;
    *slash = 0;
    for (int i = 0; i < DIR_CACHE; i++)
        if (CachedDir[i][0] && strcmp(CachedDir[i], dir) == 0)
            return CachedSys[i];
    int sys = ClassifyDirectory(dir);
    CopyText(CachedDir[CacheNext], sizeof CachedDir[CacheNext], dir);
    CachedSys[CacheNext] = sys;
    CacheNext = (CacheNext + 1) % DIR_CACHE;
    return sys;
}

// Longer than 3 characters, and "\\..." or a letter, colon and backslash;
// and plain: no dot or empty component, no device prefix (see paths.h), so
// that the directory removal acts on exactly the folder named.
static int IsAbsolutePath(const char *path)
{
    return strlen(path) > 3 && IsPlainAbsolutePath(path, 0) && !IsRootPath(path);
}

// The same test for the paths of files, backups, INI files, servers and
// devices: a relative path would be tested against one current directory
// and acted on in another, and a dot or a doubled backslash could reach
// another folder or slip past the system-file classification. A file line
// may name a pattern in its last component.
static int UsablePath(const char *path, int allowPattern)
{
    return strlen(path) > 3 && IsPlainAbsolutePath(path, allowPattern) && !IsRootPath(path);
}

static void RefusePath(const char *kind, const char *path)
{
    RecordRefusal(kind, path, "BAD-PATH", InstallCount);
}

// Decimal number with leading blanks and one sign; 0 when there is none.
// Large numbers stop growing (they are out of range either way).
static int ParseNumber(const char *text)
{
    while (*text == ' ' || *text == '\t')
        text++;
    int negative = 0;
    if (*text == '-' || *text == '+')
        negative = *text++ == '-';
    long value = 0;
    while (*text >= '0' && *text <= '9') {
        if (value < 1000000)
            value = value * 10 + (*text - '0');
        text++;
    }
    return (int)(negative ? -value : value);
}

// Appends entry to list and its key hash to ix. 0 = added; 1 = memory is
// short and the entry was released.
static int AppendIndexed(EntryList *list, SlotIndex *ix, void *entry, unsigned hash)
{
    if (ix->Count != list->Count || IndexReserve(ix) != 0) {
        free(entry);
        return 1;
    }
    if (ListAppend(list, entry) != 0)
        return 1;
    IndexPut(ix, hash);
    return 0;
}

// --- file entries ---

static unsigned PathHash(const char *path)
{
    return HashText(HASH_START, path);
}

static unsigned IniHash(const char *file, const char *section, const char *item)
{
    return HashText(HashText(HashText(HASH_START, file), section), item);
}

static unsigned IconHash(const char *group, const char *name)
{
    return HashText(HashText(HASH_START, group), name);
}

static unsigned RegTreeHash(const char *key, int root)
{
    return HashNumber(HashText(HASH_START, key), root);
}

static unsigned RegKeyHash(const char *key, const char *name, int root)
{
    return HashNumber(HashText(HashText(HASH_START, key), name), root);
}

static unsigned RegValueHash(const char *key, const char *name, int root, int type)
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
    if (fx->Names.Count != list->Count || IndexReserve(&fx->Names) != 0) {
        free(entry);
        return 1;
    }
    if (AppendIndexed(list, &fx->Paths, entry, PathHash(entry->Path)) != 0)
        return 1;
    IndexPut(&fx->Names, PathHash(FileNamePart(entry->Path)));
    return 0;
}

static void FreeFileIndex(FileIndex *fx)
{
    for (int i = 0; i < fx->LongCap; i++)
        free(fx->LongForms[i]);
    free(fx->LongForms);
    IndexFree(&fx->Paths);
    IndexFree(&fx->Names);
    memset(fx, 0, sizeof *fx);
}

// "File Copy: ", "Shell Link: ", "File Overwrite: " and their "Backup Copy: ".
static int ReadFileLine(const char *value, int overwrite, int nonSystem, int sharedIgnored)
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
        if (hasBackup) {
            CopyText(e->BackupPath, sizeof e->BackupPath, backup);
            e->BackupInstall = InstallCount;
        }
        return result;
    }
    FileEntry *e = (FileEntry *)NewEntry(sizeof(FileEntry));
    if (!e)
        return result;
    CopyText(e->Path, sizeof e->Path, path);
    CopyText(e->BackupPath, sizeof e->BackupPath, backup);
    e->Selected = sys && nonSystem;
    e->Created = !hasBackup;
    e->CopyInstall = e->BackupInstall = InstallCount;
    e->SharedInstall = sharedIgnored ? 0 : InstallCount;
    AppendFile(fx, list, e);
    return result;
}

static void MarkDevice(const char *value)
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

// The long form of a file entry's path, made once: nothing on disk changes
// while the log is read. The cache is only made when first needed.
static const char *LongFormOf(FileIndex *fx, const EntryList *list, int slot)
{
    const char *path = ENTRY_AT(FileEntry, *list, slot)->Path;
    if (slot >= fx->LongCap) {
        int grown = list->Capacity > slot ? list->Capacity : slot + 1;
        char **forms = (char **)realloc(fx->LongForms, (size_t)grown * sizeof(char *));
        if (!forms)
            return NULL;
        memset(forms + fx->LongCap, 0, (size_t)(grown - fx->LongCap) * sizeof(char *));
        fx->LongForms = forms;
        fx->LongCap = grown;
    }
    if (!fx->LongForms[slot]) {
        char form[INV_PATH_CAP];
        CopyText(form, sizeof form, path);
        NormalizePath(form, sizeof form, 1);
        fx->LongForms[slot] = _strdup(form);
        if (!fx->LongForms[slot])
            return NULL;
    }
    return fx->LongForms[slot];
}

// Marks every file entry whose path, in long form, is the value's long form.
// An entry can only match when its last component is the file's long or
// short name, so only entries with one of those two names are compared, and
// only those spelt differently from the value are normalised themselves
// (the same text, in any case, normalises to the same long form).
static void MarkSelfRegister(const char *value)
{
    char given[INV_PATH_CAP], longForm[INV_PATH_CAP], shortName[MAX_PATH] = "";
    PathForm(value, given, sizeof given);
    if (!UsablePath(given, 0)) {
        RefusePath("SERVER", given);
        return;
    }
    CopyText(longForm, sizeof longForm, given);
    NormalizePath(longForm, sizeof longForm, 1);
    WIN32_FIND_DATAA found;
    HANDLE h = strpbrk(longForm, "*?") ? INVALID_HANDLE_VALUE : FindFirstFileA(longForm, &found);
    if (h != INVALID_HANDLE_VALUE) {
        CopyText(shortName, sizeof shortName, found.cAlternateFileName);
        FindClose(h);
    }
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
                    ((entryLong = LongFormOf(indexes[k], lists[k], s)) && TextEqualNoCase(entryLong, longForm)))
                    e->RegisterInstall = InstallCount;
            }
        }
}

// "File Edit: " with its "Backup Copy: ".
static int ReadEditLine(const char *value)
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
        e->InstallNo = InstallCount;
        CopyText(e->BackupPath, sizeof e->BackupPath, backup);
        return result;
    }
    EditEntry *e = (EditEntry *)NewEntry(sizeof(EditEntry));
    if (!e)
        return result;
    CopyText(e->Path, sizeof e->Path, path);
    CopyText(e->BackupPath, sizeof e->BackupPath, backup);
    e->InstallNo = InstallCount;
    AppendIndexed(&EditFileList, &EditIndex, e, h);
    return result;
}

static void ReadService(const char *value)
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
    ServiceEntry *e = (ServiceEntry *)NewEntry(sizeof(ServiceEntry));
    if (!e)
        return;
    CopyText(e->Name, sizeof e->Name, value);
    e->InstallNo = InstallCount;
    AppendIndexed(&ServiceList, &ServiceIndex, e, h);
}

// "INI New: " + "INI File: ", then the "INI " lines of that file are passed over.
static int ReadNewIni(void)
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
    NewIniEntry *e = (NewIniEntry *)NewEntry(sizeof(NewIniEntry));
    if (!e)
        return result;
    CopyText(e->Path, sizeof e->Path, path);
    e->InstallNo = InstallCount;
    AppendIndexed(&NewIniList, &NewIniIndex, e, h);
    return result;
}

// "INI File: " with "INI Sect: ", "INI Item: ", "INI Val: " and an optional "INI Old: ".
static int ReadIniChange(const char *value)
{
    IniEntry c;
    memset(&c, 0, sizeof c);
    PathForm(value, c.File, sizeof c.File);
    static const char *const musts[3] = {"INI Sect: ", "INI Item: ", "INI Val: "};
    char *fields[3] = {c.Section, c.Item, NULL};
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
        CopyText(c.OldValue, sizeof c.OldValue, v);
    int result = AfterGroup(found);
    if (!UsablePath(c.File, 0)) {
        RefusePath("INI", c.File);
        return result;
    }
    if (OnFloppy(c.File))
        return result;
    char now[256];
    GetPrivateProfileStringA(c.Section, c.Item, "", now, sizeof now, c.File);
    if (!now[0])
        return result;
    CopyText(c.LastOldValue, sizeof c.LastOldValue, c.OldValue);
    c.InstallNo = InstallCount;

    unsigned h = IniHash(c.File, c.Section, c.Item);
    int best = -1;
    for (int s = IndexFirst(&IniIndex, h); s >= 0; s = IndexNext(&IniIndex, s)) {
        IniEntry *e = ENTRY_AT(IniEntry, IniEntryList, s);
        if (IniIndex.Hashes[s] == h && TextEqualNoCase(e->File, c.File) &&
            TextEqualNoCase(e->Section, c.Section) && TextEqualNoCase(e->Item, c.Item) &&
            (best < 0 || s < best))
            best = s;
    }
    if (best >= 0) {
        // A repeat keeps the value from before the first installation and
        // takes the one from before the latest, for a rollback.
        IniEntry *e = ENTRY_AT(IniEntry, IniEntryList, best);
        CopyText(e->LastOldValue, sizeof e->LastOldValue, c.OldValue);
        e->InstallNo = InstallCount;
        return result;
    }
    IniEntry *e = (IniEntry *)NewEntry(sizeof(IniEntry));
    if (!e)
        return result;
    memcpy(e, &c, sizeof c);
    AppendIndexed(&IniEntryList, &IniIndex, e, h);
    return result;
}

// "Execute Path: " / "Execute Program: " with an optional "Execute Name: ".
static int ReadProgram(const char *value)
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
    ProgramEntry *e = (ProgramEntry *)NewEntry(sizeof(ProgramEntry));
    if (!e)
        return LINE_USED;
    CopyText(e->CommandLine, sizeof e->CommandLine, command);
    e->InstallNo = InstallCount;
    const char *v;
    // A display name too long to hold is left out; the program still runs.
    int found = Follow("Execute Name: ", &v);
    if (found == TAG_FOUND)
        CopyText(e->Name, sizeof e->Name, v);
    AppendIndexed(&ProgramList, &ProgramIndex, e, h);
    return AfterGroup(found);
}

// "Icon Group: " with "Icon Name: " and "Icon Cmd: ".
static int ReadIcon(const char *value)
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
        CopyText(e->Command, sizeof e->Command, v);
        return LINE_USED;
    }
    IconEntry *e = (IconEntry *)NewEntry(sizeof(IconEntry));
    if (!e)
        return LINE_USED;
    CopyText(e->Group, sizeof e->Group, group);
    CopyText(e->Name, sizeof e->Name, name);
    CopyText(e->Command, sizeof e->Command, v);
    e->InstallNo = InstallCount;
    AppendIndexed(&IconList, &IconIndex, e, h);
    return LINE_USED;
}

// --- directory entries ---

// DirParts holds one node per leading part ever seen, naming the first
// entry that had it. An entry only ever gets shorter, so such a node stays
// right until its entry is cut shorter than the part; it then proves
// nothing, and a look-up that meets it scans the list once and adds a node
// for the part with the entry it found.
static int NodeState(const PrefixNode *node, const char *path, size_t len)
{
    const char *dir = ENTRY_AT(DirEntry, DirList, node->Slot)->Path;
    if (strlen(dir) < len)
        return -1;              // stale: may have been this part
    return TextEqualNoCaseN(dir, path, len) ? 1 : 0;
}

// The first entry whose path begins with the first len characters of path.
static int FirstDirBelow(const char *path, size_t len)
{
    unsigned h = HashFold(HASH_START, path, len);
    int uncertain = 0;
    for (int n = PrefixFirst(&DirParts, h); n >= 0; n = DirParts.Nodes[n].Next) {
        const PrefixNode *node = &DirParts.Nodes[n];
        if (node->Hash != h || node->Len != (int)len)
            continue;
        int state = NodeState(node, path, len);
        if (state == 1)
            return node->Slot;
        if (state < 0)
            uncertain = 1;
    }
    if (!uncertain)
        return -1;
    for (int s = 0; s < DirList.Count; s++) {
        const char *dir = ENTRY_AT(DirEntry, DirList, s)->Path;
        if (strlen(dir) >= len && TextEqualNoCaseN(dir, path, len)) {
            if (PrefixReserve(&DirParts, 1) == 0)
                PrefixAddOne(&DirParts, s, path, (int)len);
            return s;
        }
    }
    return -1;
}

// Registers the leading parts of a new entry that no earlier entry had.
static void AddDirParts(int slot, const char *path)
{
    for (size_t i = 0; path[i]; i++) {
        if (path[i] != '\\')
            continue;
        size_t len = i + 1;
        unsigned h = HashFold(HASH_START, path, len);
        int known = 0;
        for (int n = PrefixFirst(&DirParts, h); n >= 0 && !known; n = DirParts.Nodes[n].Next) {
            const PrefixNode *node = &DirParts.Nodes[n];
            // A stale node leaves it to the look-ups, which scan.
            known = node->Hash == h && node->Len == (int)len && NodeState(node, path, len) != 0;
        }
        if (!known)
            PrefixAddOne(&DirParts, slot, path, (int)len);
    }
}

static int FindDir(const char *path, int exact)
{
    size_t len = strlen(path);
    if (DirIndexBroken) {
        for (int s = 0; s < DirList.Count; s++) {
            const char *dir = ENTRY_AT(DirEntry, DirList, s)->Path;
            size_t n = strlen(dir) < len ? strlen(dir) : len;
            if (exact ? TextEqualNoCase(dir, path) : TextEqualNoCaseN(dir, path, n))
                return s;
        }
        return -1;
    }
    int best = -1;
    if (!exact)
        best = FirstDirBelow(path, len);
    // An entry equal to path or (unless exact) to one of its leading parts.
    for (size_t i = exact ? len - 1 : 0; i < len; i++) {
        if (path[i] != '\\')
            continue;
        size_t partLen = i + 1;
        unsigned h = HashFold(HASH_START, path, partLen);
        for (int n = PrefixFirst(&DirPaths, h); n >= 0; n = DirPaths.Nodes[n].Next) {
            const PrefixNode *node = &DirPaths.Nodes[n];
            if (node->Hash != h || node->Len != (int)partLen || (best >= 0 && node->Slot >= best))
                continue;
            const char *dir = ENTRY_AT(DirEntry, DirList, node->Slot)->Path;
            if (strlen(dir) == partLen && TextEqualNoCaseN(dir, path, partLen))
                best = node->Slot;
        }
    }
    return best;
}

static int AppendDir(DirEntry *e)
{
    if (!DirIndexBroken && (PrefixReserve(&DirParts, PrefixParts(e->Path)) || PrefixReserve(&DirPaths, 1))) {
        free(e);
        return 1;
    }
    int slot = DirList.Count;
    if (ListAppend(&DirList, e) != 0)
        return 1;
    AddDirParts(slot, e->Path);
    PrefixAddOne(&DirPaths, slot, e->Path, (int)strlen(e->Path));
    return 0;
}

// Cuts a directory entry to its first n characters.
static void CutDir(int slot, size_t n)
{
    DirEntry *e = ENTRY_AT(DirEntry, DirList, slot);
    if (strlen(e->Path) <= n)
        return;
    e->Path[n] = 0;
    if (PrefixReserve(&DirPaths, 1) != 0)
        DirIndexBroken = 1;     // look-ups scan the list from now on
    else
        PrefixAddOne(&DirPaths, slot, e->Path, (int)n);
}

// Appends a backslash unless the value ends with one. 1 when it would not fit.
static int DirForm(const char *value, char *out, size_t cap, int convert)
{
    if (convert)
        PathForm(value, out, cap);
    else
        CopyText(out, cap, value);
    size_t n = strlen(out);
    if (n && out[n - 1] == '\\')
        return 0;
    return AppendText(out, cap, "\\") != TEXT_FIT;
}

static int Backslashes(const char *text)
{
    int n = 0;
    for (; *text; text++)
        n += *text == '\\';
    return n;
}

static void ReadMadeDir(const char *value, char *installRootDir)
{
    char path[INV_PATH_CAP];
    if (DirForm(value, path, sizeof path, 1) != 0 || !IsAbsolutePath(path)) {
        RefusePath("DIR", value);
        return;
    }
    // Cut the install root back to the outermost made directory above the
    // log. Normalising keeps the number of backslashes, so a value with more
    // of them than the root cannot lead it and needs no directory search.
    if (LookupCacheOff || Backslashes(path) <= Backslashes(installRootDir)) {
        char shortForm[INV_PATH_CAP];
        CopyText(shortForm, sizeof shortForm, path);
        NormalizePath(shortForm, sizeof shortForm, 0);
        size_t shortLen = strlen(shortForm);
        if (strlen(installRootDir) >= shortLen && TextEqualNoCaseN(installRootDir, shortForm, shortLen))
            installRootDir[shortLen] = 0;
    }

    int slot = FindDir(path, 0);
    if (slot >= 0) {
        DirEntry *found = ENTRY_AT(DirEntry, DirList, slot);
        if (!found->TreeInstall || strlen(found->Path) <= strlen(path)) {
            CutDir(slot, strlen(path));     // the outer of the two directories
            found->MadeInstall = InstallCount;
            return;
        }
        // A copied tree cut back to a made parent would take the parent whole,
        // with whatever others keep there: the tree stays, the parent is
        // recorded on its own and goes only when it is empty.
        int outer = FindDir(path, 1);
        if (outer >= 0) {
            ENTRY_AT(DirEntry, DirList, outer)->MadeInstall = InstallCount;
            return;
        }
    }
    DirEntry *e = (DirEntry *)NewEntry(sizeof(DirEntry));
    if (!e)
        return;
    CopyText(e->Path, sizeof e->Path, path);
    e->MadeInstall = InstallCount;
    AppendDir(e);
}

static void ReadFileTree(const char *value)
{
    char path[INV_PATH_CAP];
    PathForm(value, path, sizeof path);
    size_t n = strlen(path);
    if (n >= 4 && strcmp(path + n - 4, "\\*.*") == 0)
        path[n - 4] = 0;
    if (DirForm(path, path, sizeof path, 0) != 0 || !IsAbsolutePath(path)) {
        RefusePath("TREE", value);
        return;
    }
    int slot = FindDir(path, 1);
    if (slot >= 0) {
        DirEntry *e = ENTRY_AT(DirEntry, DirList, slot);
        e->TreeInstall = e->MadeInstall = InstallCount;
        return;
    }
    DirEntry *e = (DirEntry *)NewEntry(sizeof(DirEntry));
    if (!e)
        return;
    CopyText(e->Path, sizeof e->Path, path);
    e->TreeInstall = e->MadeInstall = InstallCount;
    AppendDir(e);
}

// --- registry entries ---

static int ValidRegNumber(int n)
{
    return n >= 0 && n <= 4;
}

// "RegDB Tree: " with an optional "RegDB Root: ".
static int ReadRegTree(const char *value)
{
    char key[NAME_CAP];
    CopyText(key, sizeof key, value);
    const char *v;
    int root = 0;
    int found = Follow("RegDB Root: ", &v);
    if (found == TAG_TOO_LONG)
        return LINE_USED;
    if (found == TAG_FOUND)
        root = ParseNumber(v);
    int result = AfterGroup(found);
    if (!ValidRegNumber(root))
        return result;
    unsigned h = RegTreeHash(key, root);
    int best = -1;
    for (int s = IndexFirst(&RegTreeIndex, h); s >= 0; s = IndexNext(&RegTreeIndex, s)) {
        RegTreeEntry *e = ENTRY_AT(RegTreeEntry, RegTreeList, s);
        if (RegTreeIndex.Hashes[s] == h && e->Root == root && TextEqualNoCase(e->Key, key) &&
            (best < 0 || s < best))
            best = s;
    }
    if (best >= 0) {
        ENTRY_AT(RegTreeEntry, RegTreeList, best)->InstallNo = InstallCount;
        return result;
    }
    RegTreeEntry *e = (RegTreeEntry *)NewEntry(sizeof(RegTreeEntry));
    if (!e)
        return result;
    CopyText(e->Key, sizeof e->Key, key);
    e->Root = root;
    e->InstallNo = InstallCount;
    AppendIndexed(&RegTreeList, &RegTreeIndex, e, h);
    return result;
}

static void AddRegKey(const char *key, const char *name, int root)
{
    unsigned h = RegKeyHash(key, name, root);
    int best = -1;
    for (int s = IndexFirst(&RegKeyIndex, h); s >= 0; s = IndexNext(&RegKeyIndex, s)) {
        RegKeyEntry *e = ENTRY_AT(RegKeyEntry, RegKeyList, s);
        if (RegKeyIndex.Hashes[s] == h && e->Root == root && TextEqualNoCase(e->Key, key) &&
            TextEqualNoCase(e->ValueName, name) && (best < 0 || s < best))
            best = s;
    }
    if (best >= 0) {
        ENTRY_AT(RegKeyEntry, RegKeyList, best)->InstallNo = InstallCount;
        return;
    }
    RegKeyEntry *e = (RegKeyEntry *)NewEntry(sizeof(RegKeyEntry));
    if (!e)
        return;
    CopyText(e->Key, sizeof e->Key, key);
    CopyText(e->ValueName, sizeof e->ValueName, name);
    e->Root = root;
    e->InstallNo = InstallCount;
    AppendIndexed(&RegKeyList, &RegKeyIndex, e, h);
}

static void AddRegValue(const char *key, const char *name, int root, int type, const char *data, size_t size)
{
    unsigned h = RegValueHash(key, name, root, type);
    int best = -1;
    for (int s = IndexFirst(&RegValueIndex, h); s >= 0; s = IndexNext(&RegValueIndex, s)) {
        RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, s);
        if (RegValueIndex.Hashes[s] == h && e->Root == root && e->Type == type && TextEqualNoCase(e->Key, key) &&
            TextEqualNoCase(e->ValueName, name) && (best < 0 || s < best))
            best = s;
    }
    if (best >= 0) {
        // OldData keeps the value from before the first installation.
        RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, best);
        memset(e->LastOldData, 0, sizeof e->LastOldData);
        memcpy(e->LastOldData, data, size);
        e->InstallNo = InstallCount;
        return;
    }
    RegValueEntry *e = (RegValueEntry *)NewEntry(sizeof(RegValueEntry));
    if (!e)
        return;
    CopyText(e->Key, sizeof e->Key, key);
    CopyText(e->ValueName, sizeof e->ValueName, name);
    memcpy(e->OldData, data, size);
    memcpy(e->LastOldData, data, size);
    e->Root = root;
    e->Type = type;
    e->InstallNo = InstallCount;
    AppendIndexed(&RegValueList, &RegValueIndex, e, h);
}

// "RegDB Key: ", "RegDB Val: ", then optional "RegDB Name: ", "RegDB Type: ",
// "RegDB Root: " in that order, then any number of "RegDB Old: " lines.
static int ReadRegKey(const char *value)
{
    char key[NAME_CAP], name[NAME_CAP] = "";
    CopyText(key, sizeof key, value);
    const char *v;
    int found = Follow("RegDB Val: ", &v);
    if (found != TAG_FOUND)
        return AfterGroup(found);
    int type = 0, root = 0;
    if (!ReadNext())
        found = TAG_END;
    else if ((found = LineIs("RegDB Name: ", &v)) == TAG_FOUND) {
        CopyText(name, sizeof name, v);
        found = ReadNext() ? TAG_OTHER : TAG_END;
    }
    if (found == TAG_OTHER && (found = LineIs("RegDB Type: ", &v)) == TAG_FOUND) {
        type = ParseNumber(v);
        found = ReadNext() ? TAG_OTHER : TAG_END;
    }
    if (found == TAG_OTHER && (found = LineIs("RegDB Root: ", &v)) == TAG_FOUND) {
        root = ParseNumber(v);
        found = ReadNext() ? TAG_OTHER : TAG_END;
    }
    char data[OLD_DATA_CAP];
    size_t used = 0;
    int oldLines = 0, overflow = 0;
    while (found == TAG_OTHER && (found = LineIs("RegDB Old: ", &v)) == TAG_FOUND) {
        size_t n = strlen(v);
        // Room for this string, its NUL and the closing empty string.
        if (used + n + 2 > sizeof data)
            overflow = 1;
        else {
            memcpy(data + used, v, n + 1);
            used += n + 1;
        }
        oldLines++;
        found = ReadNext() ? TAG_OTHER : TAG_END;
    }
    if (found == TAG_TOO_LONG)
        return LINE_USED;       // part of the group is unreadable: drop it whole
    int result = found == TAG_OTHER ? LINE_HANDED_BACK : LINE_USED;
    if (overflow || !ValidRegNumber(root) || !ValidRegNumber(type))
        return result;
    if (oldLines == 0) {
        AddRegKey(key, name, root);
    } else {
        data[used++] = 0;
        AddRegValue(key, name, root, type, data, used);
    }
    return result;
}

// --- main loop ---

static void SetHeaderValue(char *field, const char *value)
{
    CopyText(field, HEADER_CAP, value);
}

// The status file name is used as a file name in the Windows directory: a
// name that would not fit, one that names another directory, or one that is
// not a ".MIF" file (WIN.INI, say, which the status text would overwrite) is
// refused.
static void SetMifName(const char *value)
{
    MifFileName[0] = 0;
    size_t len = strlen(value);
    if (LineDamaged || len >= HEADER_CAP || len <= 4 || strpbrk(value, "\\/:") ||
        !TextEqualNoCase(value + len - 4, ".MIF"))
        return;
    CopyText(MifFileName, sizeof MifFileName, value);
}

// A line that carries a block or header tag (the header values tolerate a
// cut: they are only shown and written to the status file).
static int IsHeaderLine(void)
{
    static const char *const tags[] = {"*** ", "Uninstall MIF: ", "Manufacturer: ", "Product: ",
                                       "Version Number: ", "Serial Number: "};
    for (const char *tag : tags)
        if (StartsWithNoCase(Line, tag))
            return 1;
    return 0;
}

// A new block: its number, where it starts and its text encoding.
static void OpenBlock(void)
{
    if (InstallCount < 0xFFFF)
        InstallCount++;
    LastInstallOffset = LineOffset;
    AnsiLog = Line[4] == ' ';
}

// Block and header tags, tested on every line.
static void ReadHeaderTags(void)
{
    if (IsBlockHeader()) {
        OpenBlock();
    } else if (StartsWithNoCase(Line, "Uninstall MIF: ")) {
        SetMifName(Line + 15);
    } else if (StartsWithNoCase(Line, "Manufacturer: ")) {
        SetHeaderValue(Manufacturer, Line + 14);
    } else if (StartsWithNoCase(Line, "Product: ")) {
        SetHeaderValue(ProductName, Line + 9);
    } else if (StartsWithNoCase(Line, "Version Number: ")) {
        SetHeaderValue(VersionNumber, Line + 16);
    } else if (StartsWithNoCase(Line, "Serial Number: ")) {
        SetHeaderValue(SerialNumber, Line + 15);
    }
}

// Entry tags, in the order they are tried.
static int DispatchEntry(int nonSystem, int sharedIgnored, char *installRootDir)
{
    if (LineDamaged) {
        if (!IsHeaderLine())
            RefuseLine();
        return LINE_USED;       // never cut: a cut path names another file
    }
    const char *v;
    if (LineIs("File Copy: ", &v) == TAG_FOUND || LineIs("Shell Link: ", &v) == TAG_FOUND)
        return ReadFileLine(v, 0, nonSystem, sharedIgnored);
    if (LineIs("File Overwrite: ", &v) == TAG_FOUND)
        return ReadFileLine(v, 1, nonSystem, sharedIgnored);
    if (LineIs("File Edit: ", &v) == TAG_FOUND)
        return ReadEditLine(v);
    if (LineIs("Create Service: ", &v) == TAG_FOUND) {
        // A service name holds no path separator; such a line names no service.
        if (!v[0] || strpbrk(v, "\\/"))
            RefusePath("SERVICE", v);
        else
            ReadService(v);
        return LINE_USED;
    }
    if (LineIs("Add Device: ", &v) == TAG_FOUND) {
        MarkDevice(v);
        return LINE_USED;
    }
    if (LineIs("Self-Register: ", &v) == TAG_FOUND) {
        MarkSelfRegister(v);
        return LINE_USED;
    }
    if (LineIs("INI New: ", &v) == TAG_FOUND)
        return ReadNewIni();
    if (LineIs("INI File: ", &v) == TAG_FOUND)
        return ReadIniChange(v);
    if (LineIs("Execute Path: ", &v) == TAG_FOUND || LineIs("Execute Program: ", &v) == TAG_FOUND)
        return ReadProgram(v);
    if (LineIs("Icon Group: ", &v) == TAG_FOUND)
        return ReadIcon(v);
    if (LineIs("SubSystem: B", &v) == TAG_FOUND) {
        free(SubSystemName);
        SubSystemName = _strdup(Line + 11);
        SubSystemSelected = 0;
        return LINE_USED;
    }
    if (LineIs("Made Dir: ", &v) == TAG_FOUND) {
        ReadMadeDir(v, installRootDir);
        return LINE_USED;
    }
    if (LineIs("File Tree: ", &v) == TAG_FOUND) {
        ReadFileTree(v);
        return LINE_USED;
    }
    if (LineIs("RegDB Tree: ", &v) == TAG_FOUND)
        return ReadRegTree(v);
    if (LineIs("RegDB Key: ", &v) == TAG_FOUND)
        return ReadRegKey(v);
    return LINE_USED;
}

// 0 = read to the end, 1 = the administrator check failed (already shown).
static int ReadEntries(char *installRootDir)
{
    int handedBack = 0;
    for (;;) {
        if (!handedBack && !ReadNext())
            return 0;
        handedBack = 0;
        ReadHeaderTags();
        if (PlatformKind == PLATFORM_NT && !AdminChecked && IsMarker("User Rights: Admin")) {
            AdminChecked = 1;
            SC_HANDLE manager = OpenServiceManager(NULL, NULL, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
            if (!manager) {
                ShowReaderMessage(25, 67);
                return 1;
            }
            CloseServiceHandle(manager);
        }
        // A marker qualifies the file line below it; a block header there
        // is still a block header (a stray marker at the end of a block must
        // not swallow the next block's header).
        int nonSystem = 0, sharedIgnored = 0;
        if (IsMarker("Non-System File:")) {
            nonSystem = 1;
            if (!ReadNext())
                return 0;
            if (IsBlockHeader()) {
                handedBack = 1;
                continue;
            }
        }
        if (IsMarker("Shared DLL counter ignored:")) {
            sharedIgnored = 1;
            if (!ReadNext())
                return 0;
            if (IsBlockHeader()) {
                handedBack = 1;
                continue;
            }
        }
        handedBack = DispatchEntry(nonSystem, sharedIgnored, installRootDir) == LINE_HANDED_BACK;
    }
}

// Title suffixes " INSTALLATION" and then " INSTALL" are cut off.
static void TrimTitle(char *title)
{
    static const char *const suffixes[2] = {" INSTALLATION", " INSTALL"};
    for (const char *suffix : suffixes) {
        size_t n = strlen(title), k = strlen(suffix);
        if (n > k && TextEqualNoCase(title + n - k, suffix))
            title[n - k] = 0;
    }
}

// The first block's header: "*** " first, then lines up to "Title:".
// 0 = valid, 1 = invalid.
static int ReadHeader(void)
{
    if (!ReadNext() || strncmp(Line, "*** ", 4) != 0)
        return 1;
    InstallCount = 1;
    AnsiLog = Line[4] == ' ';
    for (;;) {
        if (!ReadNext())
            return 1;
        if (strncmp(Line, "Title:", 6) == 0)
            break;
        // A block header before the title still opens a block, so that a
        // rollback never takes an earlier installation for the last one.
        if (IsBlockHeader())
            OpenBlock();
    }
    // Position 6 (normally a blank) is skipped whatever it holds.
    CopyText(ProductTitle, sizeof ProductTitle, strlen(Line) > 7 ? Line + 7 : "");
    TrimTitle(ProductTitle);
    if (!WindowTitle[0] && MainWindow) {
        char word[PATH_CAP], caption[2 * PATH_CAP];
        LoadMessage(25, word, sizeof word);
        FormatText(caption, sizeof caption, "%s %s", word, ProductTitle);
        SetWindowTextA(MainWindow, caption);
    }
    return 0;
}

// InstallRootDir, the drive types, the classification directories and
// the entry of the log's own directory.
static void PrepareReading(const char *logPath, char *installRootDir)
{
    char dir[PATH_CAP];
    installRootDir[0] = 0;
    CopyText(dir, sizeof dir, logPath);
    if (!strchr(dir, '\\'))
        NormalizePath(dir, sizeof dir, 0);   // a bare name: the current directory
    char *name = FileNamePart(dir);
    if (name != dir) {
        *name = 0;              // keeps the backslash, so "C:\" stays a root
        NormalizePath(dir, sizeof dir, 0);
        CopyText(installRootDir, PATH_CAP, dir);
    }

    FloppyA = GetDriveTypeA("A:\\") == DRIVE_REMOVABLE;
    FloppyB = GetDriveTypeA("B:\\") == DRIVE_REMOVABLE;

    UINT n = GetWindowsDirectoryA(WindowsDir, sizeof WindowsDir);
    if (n == 0 || n >= sizeof WindowsDir)
        WindowsDir[0] = 0;
    n = GetSystemDirectoryA(SystemDir, sizeof SystemDir);
    if (n == 0 || n >= sizeof SystemDir)
        SystemDir[0] = 0;
    Win32sDir[0] = 0;
    if (SystemDir[0]) {
        CopyText(Win32sDir, sizeof Win32sDir, SystemDir);
        if (AppendText(Win32sDir, sizeof Win32sDir, "\\WIN32S") != TEXT_FIT)
            Win32sDir[0] = 0;
    }
    PrepareClassification();

    char logDir[PATH_CAP];
    CopyText(logDir, sizeof logDir, logPath);
    NormalizePath(logDir, sizeof logDir, 1);
    *FileNamePart(logDir) = 0;
    if (strlen(logDir) <= 3 || ContainsDir(logDir, SystemDir) || ContainsDir(logDir, WindowsDir))
        return;
    DirEntry *e = (DirEntry *)NewEntry(sizeof(DirEntry));
    if (!e)
        return;
    CopyText(e->Path, sizeof e->Path, logDir);
    e->MadeInstall = LOG_DIR_INSTALL;
    AppendDir(e);
}

// Indexes the entries the lists already hold (normally none), so that
// lines of this log merge with them. 0 = done, 1 = memory is short.
static int IndexExisting(void)
{
    FileIndex *files[2] = {&AppFiles, &SysFiles};
    EntryList *fileLists[2] = {&AppFileList, &SysFileList};
    for (int k = 0; k < 2; k++) {
        FileIndex *fx = files[k];
        int count = fileLists[k]->Count;
        for (int i = 0; i < count; i++) {
            const char *path = ENTRY_AT(FileEntry, *fileLists[k], i)->Path;
            if (IndexReserve(&fx->Paths) || IndexReserve(&fx->Names))
                return 1;
            IndexPut(&fx->Paths, PathHash(path));
            IndexPut(&fx->Names, PathHash(FileNamePart(path)));
        }
    }
    for (int i = 0; i < DirList.Count; i++) {
        const char *path = ENTRY_AT(DirEntry, DirList, i)->Path;
        if (PrefixReserve(&DirParts, PrefixParts(path)) || PrefixReserve(&DirPaths, 1))
            return 1;
        AddDirParts(i, path);
        PrefixAddOne(&DirPaths, i, path, (int)strlen(path));
    }
    struct { SlotIndex *ix; EntryList *list; } plain[] = {
        {&EditIndex, &EditFileList}, {&NewIniIndex, &NewIniList}, {&IniIndex, &IniEntryList},
        {&RegKeyIndex, &RegKeyList}, {&RegTreeIndex, &RegTreeList}, {&RegValueIndex, &RegValueList},
        {&IconIndex, &IconList}, {&ProgramIndex, &ProgramList}, {&ServiceIndex, &ServiceList}};
    for (auto &p : plain)
        for (int i = 0; i < p.list->Count; i++) {
            void *e = p.list->Slots[i];
            unsigned h;
            if (p.list == &EditFileList)
                h = PathHash(((EditEntry *)e)->Path);
            else if (p.list == &NewIniList)
                h = PathHash(((NewIniEntry *)e)->Path);
            else if (p.list == &IniEntryList)
                h = IniHash(((IniEntry *)e)->File, ((IniEntry *)e)->Section, ((IniEntry *)e)->Item);
            else if (p.list == &RegKeyList)
                h = RegKeyHash(((RegKeyEntry *)e)->Key, ((RegKeyEntry *)e)->ValueName, ((RegKeyEntry *)e)->Root);
            else if (p.list == &RegTreeList)
                h = RegTreeHash(((RegTreeEntry *)e)->Key, ((RegTreeEntry *)e)->Root);
            else if (p.list == &RegValueList)
                h = RegValueHash(((RegValueEntry *)e)->Key, ((RegValueEntry *)e)->ValueName,
                                 ((RegValueEntry *)e)->Root, ((RegValueEntry *)e)->Type);
            else if (p.list == &IconList)
                h = IconHash(((IconEntry *)e)->Group, ((IconEntry *)e)->Name);
            else if (p.list == &ProgramList)
                h = PathHash(((ProgramEntry *)e)->CommandLine);
            else
                h = PathHash(((ServiceEntry *)e)->Name);
            if (IndexReserve(p.ix))
                return 1;
            IndexPut(p.ix, h);
        }
    return 0;
}

static void EndReading(void)
{
    EndLookupCache();
    if (LogFile != HFILE_ERROR)
        _lclose(LogFile);
    LogFile = HFILE_ERROR;
    if (SharedDllsKey)
        RegCloseKey(SharedDllsKey);
    SharedDllsKey = NULL;
    SharedDllsOpened = 0;
    FreeFileIndex(&AppFiles);
    FreeFileIndex(&SysFiles);
    SlotIndex *indexes[] = {&EditIndex, &NewIniIndex, &IniIndex, &RegKeyIndex, &RegTreeIndex,
                            &RegValueIndex, &IconIndex, &ProgramIndex, &ServiceIndex};
    for (SlotIndex *ix : indexes)
        IndexFree(ix);
    PrefixFree(&DirParts);
    PrefixFree(&DirPaths);
    DirIndexBroken = 0;
}

int ReadInstallLog(const char *logPath, char *installRootDir)
{
    LogEnded = 0;
    AdminChecked = 0;
    InstallCount = 0;
    LastInstallOffset = 0;
    AnsiLog = 0;
    installRootDir[0] = 0;
    BeginLookupCache();
    if (IndexExisting() != 0) {
        // Without the indexes nothing could be merged: refuse rather than
        // build a wrong inventory.
        EndReading();
        ShowReaderMessage(2, 3);
        return 1;
    }
    PrepareReading(logPath, installRootDir);

    LogFile = _lopen(logPath, OF_READ);
    if (LogFile == HFILE_ERROR) {
        EndReading();
        ShowReaderMessage(2, 3);
        return 1;
    }
    ResetLineReader();
    if (ReadHeader() != 0) {
        EndReading();
        ShowReaderMessage(2, 4);
        return 1;
    }
    int result = ReadEntries(installRootDir);
    EndReading();
    return result;
}
