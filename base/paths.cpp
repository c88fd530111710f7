// Path helpers: the directory search wrappers, the look-up cache, the
// normaliser, the plain-path tests and file identity.
#include "paths.h"
#include "oscalls.h"
#include "state.h"
#include "text.h"
#include <stdlib.h>
#include <string.h>

int FindFirstEntry(const char *pattern, FindRecord *rec)
{
    rec->Handle = FindFirstFileA(pattern, &rec->Data);
    if (rec->Handle == INVALID_HANDLE_VALUE)
        return 1;
    CopyText(rec->Name, sizeof rec->Name, rec->Data.cFileName);
    rec->Attributes = rec->Data.dwFileAttributes;
    return 0;
}

int FindNextEntry(FindRecord *rec)
{
    if (rec->Handle == INVALID_HANDLE_VALUE || !FindNextFileA(rec->Handle, &rec->Data))
        return 1;
    CopyText(rec->Name, sizeof rec->Name, rec->Data.cFileName);
    rec->Attributes = rec->Data.dwFileAttributes;
    return 0;
}

void EndFind(FindRecord *rec)
{
    if (rec->Handle != INVALID_HANDLE_VALUE)
        FindClose(rec->Handle);
    rec->Handle = INVALID_HANDLE_VALUE;
}

int FileExists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

char *FileNamePart(char *path)
{
    char *slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

const char *FileNamePart(const char *path)
{
    const char *slash = strrchr(path, '\\');
    return slash ? slash + 1 : path;
}

// --- the look-up cache ---------------------------------------------------

int LookupCacheOff;
long DirectorySearches;

struct Lookup {
    Lookup *Next;
    unsigned Hash;
    int Found;
    char *Probe, *LongName, *ShortName;
};
enum { LOOKUP_BUCKETS = 8192 };
static Lookup **LookupTable;

static unsigned ProbeHash(const char *text)
{
    unsigned h = 2166136261u;
    for (; *text; text++)
        h = (h ^ (unsigned char)*text) * 16777619u;
    return h;
}

void BeginLookupCache(void)
{
    EndLookupCache();
    if (!LookupCacheOff)
        LookupTable = (Lookup **)calloc(LOOKUP_BUCKETS, sizeof(Lookup *));
}

void EndLookupCache(void)
{
    if (!LookupTable)
        return;
    for (int i = 0; i < LOOKUP_BUCKETS; i++)
        for (Lookup *e = LookupTable[i], *next; e; e = next) {
            next = e->Next;
            free(e->Probe);
            free(e->LongName);
            free(e->ShortName);
            free(e);
        }
    free(LookupTable);
    LookupTable = NULL;
}

// The entry the search of probe finds: its long and short names. 0 = found.
static int LookUp(const char *probe, char *longName, char *shortName)
{
    unsigned h = ProbeHash(probe);
    Lookup **bucket = LookupTable ? &LookupTable[h % LOOKUP_BUCKETS] : NULL;
    if (bucket)
        for (Lookup *e = *bucket; e; e = e->Next)
            if (e->Hash == h && strcmp(e->Probe, probe) == 0) {
                if (e->Found) {
                    CopyText(longName, MAX_PATH, e->LongName);
                    CopyText(shortName, 14, e->ShortName);
                }
                return e->Found ? 0 : 1;
            }
    FindRecord rec;
    DirectorySearches++;
    int found = FindFirstEntry(probe, &rec) == 0;
    if (found) {
        CopyText(longName, MAX_PATH, rec.Name);
        CopyText(shortName, 14, rec.Data.cAlternateFileName);
    }
    EndFind(&rec);
    Lookup *e = bucket ? (Lookup *)calloc(1, sizeof(Lookup)) : NULL;
    if (e) {
        e->Hash = h;
        e->Found = found;
        e->Probe = HeapText(probe);
        e->LongName = HeapText(found ? longName : "");
        e->ShortName = HeapText(found ? shortName : "");
        if (e->Probe && e->LongName && e->ShortName) {
            e->Next = *bucket;
            *bucket = e;
        } else {
            free(e->Probe);
            free(e->LongName);
            free(e->ShortName);
            free(e);
        }
    }
    return found ? 0 : 1;
}

int LookUpNames(const char *path, char *longName, char *shortName)
{
    return LookUp(path, longName, shortName);
}

// A component that a directory search would treat as a pattern, or that
// names a relative step, is never replaced by what the search finds.
static int IsSearchableName(const char *name, size_t len)
{
    if (len == 0)
        return 0;
    if ((len == 1 && name[0] == '.') || (len == 2 && name[0] == '.' && name[1] == '.'))
        return 0;
    for (size_t i = 0; i < len; i++)
        if (name[i] == '*' || name[i] == '?')
            return 0;
    return 1;
}

void NormalizePath(char *path, size_t cap, int longNames)
{
    char work[2 * MAX_PATH];
    if (cap == 0 || cap > sizeof work || strnlen(path, cap) >= cap)
        return;

    // A bare name is completed with the current directory.
    if (!strchr(path, '\\')) {
        char dir[MAX_PATH];
        DWORD n = GetCurrentDirectoryA(sizeof dir, dir);
        if (n == 0 || n >= sizeof dir)
            return;
        CopyText(work, sizeof work, dir);
        if (n == 0 || dir[n - 1] != '\\')
            AppendText(work, sizeof work, "\\");
        if (AppendText(work, sizeof work, path) != TEXT_FIT || strlen(work) >= cap)
            return;             // would not fit: leave the name as it was
    } else {
        CopyText(work, sizeof work, path);
    }

    if (((work[0] >= 'a' && work[0] <= 'z') || (work[0] >= 'A' && work[0] <= 'Z')) &&
        work[1] == ':' && work[0] >= 'a')
        work[0] = (char)(work[0] - 'a' + 'A');

    // Skip the root: "\\server\" first, then the first component and its backslash.
    size_t pos = 0;
    if (work[0] == '\\' && work[1] == '\\') {
        const char *s = strchr(work + 2, '\\');
        if (!s) {
            CopyText(path, cap, work);
            return;
        }
        pos = (size_t)(s - work) + 1;
    }
    const char *s = strchr(work + pos, '\\');
    if (!s) {
        CopyText(path, cap, work);
        return;
    }
    pos = (size_t)(s - work) + 1;

    while (work[pos]) {
        const char *end = strchr(work + pos, '\\');
        size_t len = end ? (size_t)(end - (work + pos)) : strlen(work + pos);
        if (IsSearchableName(work + pos, len)) {
            char probe[2 * MAX_PATH], longName[MAX_PATH], shortName[14];
            CopyTextN(probe, sizeof probe, work, pos + len);
            if (LookUp(probe, longName, shortName) == 0) {
                const char *found = (!longNames && shortName[0]) ? shortName : longName;
                size_t flen = strlen(found);
                size_t total = strlen(work) - len + flen;
                if (total >= cap)
                    return;     // the found name would not fit: keep the path as given
                char rest[2 * MAX_PATH];
                CopyText(rest, sizeof rest, work + pos + len);
                work[pos] = 0;
                AppendText(work, sizeof work, found);
                AppendText(work, sizeof work, rest);
                len = flen;
            }
        }
        pos += len;
        if (work[pos] == '\\')
            pos++;
    }
    CopyText(path, cap, work);
}

int IsPlainAbsolutePath(const char *path, int allowPattern)
{
    const char *p;
    if (path[0] == '\\' && path[1] == '\\') {
        // Server and share, both named; "\\?\" and "\\.\" are device forms.
        p = path + 2;
        if (*p == '?' || *p == '.')
            return 0;
        const char *slash = strchr(p, '\\');
        if (!slash || slash == p)
            return 0;
        p = slash + 1;
        slash = strchr(p, '\\');
        size_t shareLen = slash ? (size_t)(slash - p) : strlen(p);
        if (shareLen == 0)
            return 0;
    } else {
        int letter = (path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z');
        if (!letter || path[1] != ':' || path[2] != '\\')
            return 0;
        p = path + 3;
    }
    if (strchr(p, '/') || strchr(p, ':'))
        return 0;
    while (*p) {
        const char *end = strchr(p, '\\');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len == 0)
            return 0;           // "\\" inside the path
        if (p[len - 1] == '.' || p[len - 1] == ' ')
            return 0;           // ".", "..", "name." and "name " all fold away
        for (size_t i = 0; i < len; i++)
            if ((p[i] == '*' || p[i] == '?') && (!allowPattern || end))
                return 0;
        if (!end)
            break;
        p = end + 1;
    }
    return 1;
}

int IsRootPath(const char *path)
{
    size_t len = strlen(path);
    if (len >= 2 && len <= 3 && path[1] == ':' && (len == 2 || path[2] == '\\'))
        return 1;
    if (path[0] == '\\' && path[1] == '\\') {
        const char *share = strchr(path + 2, '\\');
        if (!share)
            return 1;
        const char *rest = strchr(share + 1, '\\');
        return !rest || rest[1] == 0;
    }
    return 0;
}

// Where the spelling's root ends: "X:\" or "\\server\share\" (0 when the
// full path has neither, or is a device form).
static size_t RootLength(const char *full)
{
    if (((full[0] >= 'A' && full[0] <= 'Z') || (full[0] >= 'a' && full[0] <= 'z')) && full[1] == ':' &&
        full[2] == '\\')
        return 3;
    if (full[0] != '\\' || full[1] != '\\' || full[2] == '?' || full[2] == '.')
        return 0;
    const char *share = strchr(full + 2, '\\');
    if (!share || share == full + 2 || share[1] == 0 || share[1] == '\\')
        return 0;
    const char *end = strchr(share + 1, '\\');
    return end ? (size_t)(end - full) + 1 : strlen(full);
}

// Windows 95 and 98 have no hard links, junctions or symbolic links, so one
// canonical spelling names one file or folder: the full path with every
// component as its folder stores the long name, upper-cased, on the volume
// of that serial number. Nothing is opened (a file held exclusively by
// another program cannot be opened there), and the file index is not used
// (it lasts only while the file is open).
static int SpellingIdentity(const char *path, FileIdentity *id)
{
    char full[MAX_PATH], *namePart;
    DWORD n = GetFullPathNameA(path, sizeof full, full, &namePart);
    if (n == 0 || n >= sizeof full || strpbrk(full, "*?"))
        return 1;               // a search would take a wildcard for a name
    size_t rootLen = RootLength(full);
    if (rootLen == 0)
        return 1;
    char *out = id->Spelling;
    if (CopyTextN(out, sizeof id->Spelling, full, rootLen) != TEXT_FIT ||
        (out[rootLen - 1] != '\\' && AppendText(out, sizeof id->Spelling, "\\") != TEXT_FIT))
        return 1;
    size_t outRoot = strlen(out);   // ends in a backslash
    DWORD serial = 0;
    if (!Os.GetVolumeInformationA(out, NULL, 0, &serial, NULL, NULL, NULL, 0))
        return 1;
    for (const char *p = full + rootLen; *p;) {
        const char *end = strchr(p, '\\');
        size_t len = end ? (size_t)(end - p) : strlen(p);
        if (len) {
            char probe[MAX_PATH], longName[MAX_PATH], shortName[14];
            size_t at = strlen(out);
            if (out[at - 1] != '\\' && AppendText(out, sizeof id->Spelling, "\\") != TEXT_FIT)
                return 1;
            at = strlen(out);
            if (CopyText(probe, sizeof probe, out) != TEXT_FIT ||
                CopyTextN(probe + at, sizeof probe - at, p, len) != TEXT_FIT ||
                LookUpNames(probe, longName, shortName) != 0 ||
                AppendText(out, sizeof id->Spelling, longName) != TEXT_FIT)
                return 1;       // missing, or too long to spell whole
        }
        p += len;
        if (*p == '\\')
            p++;
    }
    size_t len = strlen(out);
    if (len > outRoot && out[len - 1] == '\\')
        out[--len] = 0;
    CharUpperBuffA(out, (DWORD)len);
    id->Volume = serial;
    id->IndexHigh = id->IndexLow = 0;
    return 0;
}

int GetFileIdentity(const char *path, FileIdentity *id)
{
    if (PlatformKind != PLATFORM_NT)
        return SpellingIdentity(path, id);
    // Backup semantics open a folder as well as a file; no access is asked,
    // so a file held open by another program still answers.
    HANDLE h = Os.CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 1;
    BY_HANDLE_FILE_INFORMATION info;
    int ok = Os.GetFileInformationByHandle(h, &info) != 0;
    CloseHandle(h);
    if (!ok || (info.nFileIndexHigh == 0 && info.nFileIndexLow == 0))
        return 1;
    id->Volume = info.dwVolumeSerialNumber;
    id->IndexHigh = info.nFileIndexHigh;
    id->IndexLow = info.nFileIndexLow;
    id->Spelling[0] = 0;
    return 0;
}

int SameIdentity(const FileIdentity *a, const FileIdentity *b)
{
    return a->Volume == b->Volume && a->IndexHigh == b->IndexHigh && a->IndexLow == b->IndexLow &&
           strcmp(a->Spelling, b->Spelling) == 0;
}

int GetFolderEntry(const char *path, FolderEntry *entry)
{
    char bare[MAX_PATH];
    if (CopyText(bare, sizeof bare, path) != TEXT_FIT || strpbrk(bare, "*?"))
        return 1;
    size_t len = strlen(bare);
    while (len > 3 && bare[len - 1] == '\\')
        bare[--len] = 0;
    if (IsRootPath(bare))
        return 1;
    FindRecord rec;
    int found = FindFirstEntry(bare, &rec) == 0 && (rec.Attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                (rec.Data.ftCreationTime.dwLowDateTime || rec.Data.ftCreationTime.dwHighDateTime);
    if (found) {
        CopyText(entry->Name, sizeof entry->Name, rec.Name);
        entry->Created = rec.Data.ftCreationTime;
    }
    EndFind(&rec);
    return found ? 0 : 1;
}

int SameFolderEntry(const FolderEntry *a, const FolderEntry *b)
{
    return CompareFileTime(&a->Created, &b->Created) == 0 && TextEqualNoCase(a->Name, b->Name);
}

int FileFreeToDelete(const char *path)
{
    // 95 and 98 know neither delete sharing nor the DELETE right; an
    // exclusive open there fails exactly while anybody has the file open.
    HANDLE h = PlatformKind == PLATFORM_NT
                   ? Os.CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL)
                   : Os.CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(h);
    return 1;
}

static int ReadExactly(HFILE file, void *buf, UINT count)
{
    UINT got = _lread(file, buf, count);
    return got != (UINT)HFILE_ERROR && got == count;
}

int IsWin32Executable(const char *path)
{
    HFILE file = _lopen(path, OF_READ);
    if (file == HFILE_ERROR)
        return 0;
    int result = 0;
    unsigned char sig[2], off[4];
    if (ReadExactly(file, sig, 2) && sig[0] == 'M' && sig[1] == 'Z' &&
        _llseek(file, 0x3C, FILE_BEGIN) == 0x3C && ReadExactly(file, off, 4)) {
        LONG pe = (LONG)((DWORD)off[0] | (DWORD)off[1] << 8 | (DWORD)off[2] << 16 |
                         (DWORD)off[3] << 24);
        // A negative offset would seek backwards from the start; not a PE file.
        if (pe >= 0 && _llseek(file, pe, FILE_BEGIN) == pe && ReadExactly(file, sig, 2))
            result = sig[0] == 'P' && sig[1] == 'E';
    }
    _lclose(file);
    return result;
}

int FolderIsEmpty(const char *path)
{
    char pattern[MAX_PATH];
    size_t n = strlen(path);
    if (FormatText(pattern, sizeof pattern, n && path[n - 1] == '\\' ? "%s*" : "%s\\*", path) != TEXT_FIT)
        return 0;
    FindRecord rec;
    if (FindFirstEntry(pattern, &rec) != 0) {
        EndFind(&rec);
        return 0;
    }
    int empty = 1;
    for (int more = 1; more && empty; more = FindNextEntry(&rec) == 0)
        empty = strcmp(rec.Name, ".") == 0 || strcmp(rec.Name, "..") == 0;
    EndFind(&rec);
    return empty;
}
