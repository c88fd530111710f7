// The installation log reader: the block
// header and title, the main loop that hands each line to the reader of its
// kind, and ReadInstallLog itself.
#include "logread.h"
#include "inventory.h"
#include "readstate.h"
#include "../base/refusals.h"
#include "../base/paths.h"
#include "../base/text.h"
#include <stdlib.h>
#include <string.h>

static HFILE LogFile = HFILE_ERROR;
int LogWantsAdmin;

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
    LastInstallOffset = CurrentLineOffset();
    AnsiLog = Line[4] == ' ';
}

// The first character of the line, upper case: the tags are told apart by
// it first, so a line is compared with at most four of them.
static char FirstLetter(void)
{
    char c = Line[0];
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// Block and header tags, tested on every line.
static void ReadHeaderTags(void)
{
    switch (FirstLetter()) {
    case '*':
        if (IsBlockHeader())
            OpenBlock();
        break;
    case 'U':
        if (StartsWithNoCase(Line, "Uninstall MIF: "))
            SetMifName(Line + 15);
        break;
    case 'M':
        if (StartsWithNoCase(Line, "Manufacturer: "))
            SetHeaderValue(Manufacturer, Line + 14);
        break;
    case 'P':
        if (StartsWithNoCase(Line, "Product: "))
            SetHeaderValue(ProductName, Line + 9);
        break;
    case 'V':
        if (StartsWithNoCase(Line, "Version Number: "))
            SetHeaderValue(VersionNumber, Line + 16);
        break;
    case 'S':
        if (StartsWithNoCase(Line, "Serial Number: "))
            SetHeaderValue(SerialNumber, Line + 15);
        break;
    }
}

// Entry tags, by their first letter. No tag begins another, so at most one
// matches and the order of the tests does not matter.
static int DispatchEntry(int nonSystem, int sharedIgnored, char *installRootDir)
{
    if (LineDamaged) {
        if (!IsHeaderLine())
            RefuseLine();
        return LINE_USED;       // never cut: a cut path names another file
    }
    const char *v;
    switch (FirstLetter()) {
    case 'F':
        if (LineIs("File Copy: ", &v) == TAG_FOUND)
            return ReadFileLine(v, 0, nonSystem, sharedIgnored);
        if (LineIs("File Overwrite: ", &v) == TAG_FOUND)
            return ReadFileLine(v, 1, nonSystem, sharedIgnored);
        if (LineIs("File Edit: ", &v) == TAG_FOUND)
            return ReadEditLine(v);
        if (LineIs("File Tree: ", &v) == TAG_FOUND)
            ReadFileTree(v);
        break;
    case 'S':
        if (LineIs("Shell Link: ", &v) == TAG_FOUND)
            return ReadFileLine(v, 0, nonSystem, sharedIgnored);
        if (LineIs("Self-Register: ", &v) == TAG_FOUND) {
            MarkSelfRegister(v);
        } else if (LineIs("SubSystem: B", &v) == TAG_FOUND) {
            free(SubSystemName);
            SubSystemName = _strdup(Line + 11);
            SubSystemSelected = 0;
        }
        break;
    case 'C':
        if (LineIs("Create Service: ", &v) == TAG_FOUND) {
            // A service name holds no path separator; such a line names no service.
            if (!v[0] || strpbrk(v, "\\/"))
                RefusePath("SERVICE", v);
            else
                ReadService(v);
        }
        break;
    case 'A':
        if (LineIs("Add Device: ", &v) == TAG_FOUND)
            MarkDevice(v);
        break;
    case 'I':
        if (LineIs("INI New: ", &v) == TAG_FOUND)
            return ReadNewIni();
        if (LineIs("INI File: ", &v) == TAG_FOUND)
            return ReadIniChange(v);
        if (LineIs("Icon Group: ", &v) == TAG_FOUND)
            return ReadIcon(v);
        break;
    case 'E':
        if (LineIs("Execute Path: ", &v) == TAG_FOUND || LineIs("Execute Program: ", &v) == TAG_FOUND)
            return ReadProgram(v);
        break;
    case 'M':
        if (LineIs("Made Dir: ", &v) == TAG_FOUND)
            ReadMadeDir(v, installRootDir);
        break;
    case 'R':
        if (LineIs("RegDB Tree: ", &v) == TAG_FOUND)
            return ReadRegTree(v);
        if (LineIs("RegDB Key: ", &v) == TAG_FOUND)
            return ReadRegKey(v);
        break;
    }
    return LINE_USED;
}

// Reads to the end.
static void ReadEntries(char *installRootDir)
{
    int handedBack = 0;
    for (;;) {
        if (!handedBack && !ReadNext())
            return;
        handedBack = 0;
        ReadHeaderTags();
        if (!LogWantsAdmin && IsMarker("User Rights: Admin"))
            LogWantsAdmin = 1;
        // A marker qualifies the file line below it; a block header there
        // is still a block header (a stray marker at the end of a block must
        // not swallow the next block's header).
        int nonSystem = 0, sharedIgnored = 0;
        if (IsMarker("Non-System File:")) {
            nonSystem = 1;
            if (!ReadNext())
                return;
            if (IsBlockHeader()) {
                handedBack = 1;
                continue;
            }
        }
        if (IsMarker("Shared DLL counter ignored:")) {
            sharedIgnored = 1;
            if (!ReadNext())
                return;
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

    PreparePathForms();

    char logDir[PATH_CAP];
    CopyText(logDir, sizeof logDir, logPath);
    NormalizePath(logDir, sizeof logDir, 1);
    *FileNamePart(logDir) = 0;
    if (strlen(logDir) <= 3 || ContainsDir(logDir, SystemDir) || ContainsDir(logDir, WindowsDir))
        return;
    DirEntry *e;
    if (NewEntry(&e) != 0 || StoreText(&e->Path, logDir, INV_PATH_CAP) != 0)
        return;
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
    EndPathForms();
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
    LogWantsAdmin = 0;
    InstallCount = 0;
    LastInstallOffset = 0;
    AnsiLog = 0;
    installRootDir[0] = 0;
    BeginLookupCache();
    if (IndexExisting() != 0) {
        // Without the indexes nothing could be merged: refuse rather than
        // build a wrong inventory.
        EndReading();
        return READ_NO_LOG;
    }
    PrepareReading(logPath, installRootDir);

    LogFile = _lopen(logPath, OF_READ);
    if (LogFile == HFILE_ERROR) {
        EndReading();
        return READ_NO_LOG;
    }
    BeginLines(LogFile);
    if (ReadHeader() != 0) {
        EndReading();
        return READ_INVALID;
    }
    ReadEntries(installRootDir);
    EndReading();
    return READ_DONE;
}
