// The recovery store and its journal (recovery.h). A journal line is
// "TYPE<tab>field...<CR><LF>", each field with control characters, "%" and
// bytes above 0x7E written as %XX:
//   FILE  path  kept  attributes  write-time  after   a file taken away
//                     (kept "-": there was none; after: its content mark
//                     once the change is made, "-" for none)
//   DIR   path                                        a folder removed
//   VALUE key  name  before  after                    "-" or "type:hex"
//   KEY   key                                         an emptied key removed
//   INI   file  section  item  before  after          "-" or "=value"
//   INITEXT  as FILE                                  an INI file's text
//                     before the whole-file write of its items (after
//                     their INI lines: undone before them, it puts the
//                     text back whole)
//   SERVICE  name  type  start  error-control  program  group  dependencies
//            account  display-name  running         a service deleted
//                     (numbers in decimal; dependencies with a tab
//                     between them; running "1" or "0")
#include "recovery.h"
#include "recoverline.h"
#include "../base/paths.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include <stdlib.h>
#include <string.h>

int KeepRecovery;
char RecoveryStore[STORE_PATH_CAP];
static HANDLE Journal = INVALID_HANDLE_VALUE;
static unsigned long StoreBytes;
static unsigned KeptCount;
static void ForgetRoot(void);

int RecoveryRoot(char *buf, size_t cap)
{
    char dir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    if (n == 0 || n >= sizeof dir)
        return 0;
    return FormatText(buf, cap, "%s%sUNINSTAL.RCV", dir, dir[n - 1] == '\\' ? "" : "\\") == TEXT_FIT;
}

// The product's name as a folder name: letters, digits, blanks, "-" and "_".
static void StoreName(char *buf, size_t cap, const char *product)
{
    size_t o = 0;
    for (const char *c = product; *c && o + 1 < cap && o < 40; c++) {
        char ch = *c;
        int plain = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') || ch == ' ' ||
                    ch == '-' || ch == '_';
        buf[o++] = plain ? ch : '_';
    }
    while (o && buf[o - 1] == ' ')
        o--;
    buf[o] = 0;
    if (!o)
        CopyText(buf, cap, "PRODUCT");
}

int OpenRecoveryStore(const char *product)
{
    CloseRecoveryStore();
    RecoveryStore[0] = 0;
    ForgetRoot();
    if (Preview)
        return 0;           // a preview keeps nothing, and makes no store
    char root[STORE_PATH_CAP], name[48], store[STORE_PATH_CAP];
    if (!RecoveryRoot(root, sizeof root))
        return 1;
    CreateDirectoryA(root, NULL);
    StoreName(name, sizeof name, product);
    SYSTEMTIME t;
    GetLocalTime(&t);
    for (int n = 1; n < 100; n++) {
        if (FormatText(store, sizeof store, n == 1 ? "%s\\%s.%04u%02u%02u-%02u%02u%02u\\" :
                                                     "%s\\%s.%04u%02u%02u-%02u%02u%02u-%d\\",
                       root, name, t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, n) != TEXT_FIT)
            return 1;
        if (CreateDirectoryA(store, NULL))
            break;
        if (GetLastError() != ERROR_ALREADY_EXISTS || n == 99)
            return 1;
    }
    char path[STORE_PATH_CAP];
    if (FormatText(path, sizeof path, "%sJOURNAL.TXT", store) != TEXT_FIT)
        return 1;
    Journal = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (Journal == INVALID_HANDLE_VALUE) {
        RemoveDirectoryA(store);
        return 1;
    }
    CopyText(RecoveryStore, sizeof RecoveryStore, store);
    StoreBytes = 0;
    KeptCount = 0;
    return 0;
}

void CloseRecoveryStore(void)
{
    if (Journal != INVALID_HANDLE_VALUE)
        CloseHandle(Journal);
    Journal = INVALID_HANDLE_VALUE;
}

unsigned long RecoveryStoreBytes(void)
{
    return StoreBytes;
}

int RecoveryOpen(void)
{
    return KeepRecovery && !Preview && Journal != INVALID_HANDLE_VALUE;
}

// The root's identity: looked up once, and again once a store is opened
// (which makes the root). The last folder asked about, and its answer:
// the files of one folder come one after another.
static FileIdentity RootId;
static int RootChecked, RootIdKnown;
static char LastFolder[MAX_PATH];
static int LastFolderInside;

static void ForgetRoot(void)
{
    RootChecked = RootIdKnown = 0;
    LastFolder[0] = 0;
}

static int IsRoot(const char *path)
{
    FileIdentity id;
    return GetFileIdentity(path, &id) == 0 && SameIdentity(&id, &RootId);
}

// Whether the folder, or the one above it, is the root.
static int FolderInside(char *folder)
{
    if (IsRoot(folder))
        return 1;
    char *slash = strrchr(folder, '\\');
    if (!slash || slash == folder || slash[-1] == ':' || slash[-1] == '\\')
        return 0;
    *slash = 0;
    int inside = IsRoot(folder);
    *slash = '\\';
    return inside;
}

int InRecoveryStore(const char *path, int withSelf)
{
    char root[STORE_PATH_CAP];
    if (!RecoveryRoot(root, sizeof root))
        return 1;
    size_t n = strlen(root);
    if (TextEqualNoCaseN(path, root, n) && (path[n] == 0 || path[n] == '\\'))
        return 1;
    if (!RootChecked) {
        RootChecked = 1;
        RootIdKnown = GetFileIdentity(root, &RootId) == 0;
    }
    if (!RootIdKnown)
        return 0;           // no store anywhere: nothing can be in one
    // A store holds files only, right inside its folder, which lies right
    // inside the root: the path, its folder or the folder above that is the
    // root when the path names the root, a store or a kept file.
    if (withSelf && IsRoot(path))
        return 1;
    char folder[MAX_PATH];
    if (CopyText(folder, sizeof folder, path) != TEXT_FIT)
        return 1;
    size_t len = strlen(folder);
    if (len && folder[len - 1] == '\\')
        folder[--len] = 0;
    char *slash = strrchr(folder, '\\');
    if (!slash || slash == folder || slash[-1] == ':' || slash[-1] == '\\')
        return 0;
    *slash = 0;
    if (!TextEqualNoCase(folder, LastFolder)) {
        CopyText(LastFolder, sizeof LastFolder, folder);
        LastFolderInside = FolderInside(folder);
    }
    return LastFolderInside;
}

// --- the journal ---------------------------------------------------------

void Put(Line *l, const char *text, size_t n)
{
    if (l->Failed)
        return;
    if (l->Len + n + 1 > l->Cap) {
        size_t cap = l->Cap ? l->Cap : 256;
        while (cap < l->Len + n + 1)
            cap *= 2;
        char *data = (char *)realloc(l->Data, cap);
        if (!data) {
            l->Failed = 1;
            return;
        }
        l->Data = data;
        l->Cap = cap;
    }
    memcpy(l->Data + l->Len, text, n);
    l->Len += n;
    l->Data[l->Len] = 0;
}

void PutField(Line *l, const char *text)
{
    static const char hex[] = "0123456789ABCDEF";
    if (l->Len)
        Put(l, "\t", 1);
    for (const unsigned char *c = (const unsigned char *)text; *c; c++) {
        if (*c < 0x20 || *c >= 0x7F || *c == '%') {
            char e[3] = {'%', hex[*c >> 4], hex[*c & 15]};
            Put(l, e, 3);
        } else {
            Put(l, (const char *)c, 1);
        }
    }
}

// Writes the line and flushes it to the disk before the change is made.
int WriteLine(Line *l)
{
    Put(l, "\r\n", 2);
    DWORD put = 0;
    int ok = !l->Failed && WriteFile(Journal, l->Data, (DWORD)l->Len, &put, NULL) && put == l->Len &&
             FlushFileBuffers(Journal);
    if (ok)
        StoreBytes += (unsigned long)l->Len;
    free(l->Data);
    if (!ok)
        SetLastError(ERROR_DISK_FULL);
    return ok;
}

int SplitJournalLine(char *line, char **fields, int most)
{
    int count = 0;
    char *out = line;
    fields[count++] = out;
    for (char *c = line; *c; c++) {
        if (*c == '\t') {
            *out++ = 0;
            if (count == most)
                return -1;
            fields[count++] = out;
        } else if (*c == '%') {
            int v = 0;
            for (int k = 1; k <= 2; k++) {
                char h = c[k];
                int d = h >= '0' && h <= '9' ? h - '0' : h >= 'A' && h <= 'F' ? h - 'A' + 10 : -1;
                if (d < 0)
                    return -1;
                v = v * 16 + d;
            }
            if (v == 0)
                return -1;      // a NUL would cut the field into another
            *out++ = (char)v;
            c += 2;
        } else {
            *out++ = *c;
        }
    }
    *out = 0;
    return count;
}

// --- keeping files -------------------------------------------------------

static int NextKeptName(char *kept, size_t cap, char *full, size_t fullCap)
{
    KeptCount++;
    return FormatText(kept, cap, "K%05u.DAT", KeptCount) == TEXT_FIT &&
           FormatText(full, fullCap, "%s%s", RecoveryStore, kept) == TEXT_FIT;
}

// The size of the file the last FileLine named (what a move adds to the store).
static unsigned long LastFileSize;

// "FILE path kept attributes write-time after" for the file as it is now
// (or INITEXT, of the same fields).
static int FileLine(const char *path, const char *kept, const char *after, const char *type = "FILE")
{
    LastFileSize = 0;
    char attributes[16] = "0", written[24] = "0:0";
    FindRecord rec;
    if (FindFirstEntry(path, &rec) == 0) {
        FormatText(attributes, sizeof attributes, "%lx", (unsigned long)rec.Attributes);
        LastFileSize = rec.Data.nFileSizeLow;
        FormatText(written, sizeof written, "%lx:%lx", (unsigned long)rec.Data.ftLastWriteTime.dwHighDateTime,
                   (unsigned long)rec.Data.ftLastWriteTime.dwLowDateTime);
    }
    EndFind(&rec);
    Line l = {};
    PutField(&l, type);
    PutField(&l, path);
    PutField(&l, kept);
    PutField(&l, attributes);
    PutField(&l, written);
    PutField(&l, after);
    return WriteLine(&l);
}

static void CountBytes(const char *path)
{
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return;
    DWORD size = GetFileSize(h, NULL);
    if (size != INVALID_FILE_SIZE)
        StoreBytes += size;
    CloseHandle(h);
}

int MoveIntoStore(const char *path)
{
    if (!RecoveryOpen())
        return DeleteFileA(path) ? 1 : 0;
    // Nothing to keep, or a folder (which a deletion never takes, and a
    // move would): the error as the deletion gives it.
    DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return DeleteFileA(path) ? 1 : 0;
    char kept[16], full[STORE_PATH_CAP];
    if (!NextKeptName(kept, sizeof kept, full, sizeof full) || !FileLine(path, kept, "-"))
        return 0;
    if (MoveFileA(path, full)) {
        StoreBytes += LastFileSize;
        return 1;
    }
    DWORD error = GetLastError();
    if (error != ERROR_NOT_SAME_DEVICE) {
        SetLastError(error);
        return 0;
    }
    // From another volume: copied whole first, then deleted.
    if (!CopyFileA(path, full, TRUE)) {
        error = GetLastError();
        DeleteFileA(full);
        SetLastError(error);
        return 0;
    }
    CountBytes(full);
    return DeleteFileA(path) ? 1 : 0;
}

static int KeepCopyWithMark(const char *path, const char *after, const char *type = "FILE")
{
    if (!RecoveryOpen())
        return 1;
    if (GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES)
        return FileLine(path, "-", after, type);
    char kept[16], full[STORE_PATH_CAP];
    if (!NextKeptName(kept, sizeof kept, full, sizeof full))
        return 0;
    if (!CopyFileA(path, full, TRUE)) {
        DWORD error = GetLastError();
        DeleteFileA(full);
        SetLastError(error);
        return 0;
    }
    CountBytes(full);
    return FileLine(path, kept, after, type);
}

int KeepFileCopy(const char *path, const char *next)
{
    char after[40] = "-";
    if (next)
        ContentMark(next, after, sizeof after);
    return KeepCopyWithMark(path, after);
}

int KeepIniText(const char *path, const char *next)
{
    if (!RecoveryOpen())
        return 1;
    char after[40];
    ContentMark(next, after, sizeof after);
    return KeepCopyWithMark(path, after, "INITEXT");
}

int KeepFileCopyBytes(const char *path, const void *next, size_t nextLen)
{
    char after[40];
    BytesMark(next, nextLen, after, sizeof after);
    return KeepCopyWithMark(path, after);
}

int KeepFolder(const char *path)
{
    if (!RecoveryOpen())
        return 1;
    Line l = {};
    PutField(&l, "DIR");
    PutField(&l, path);
    return WriteLine(&l);
}

int KeepFileBeforeCut(const char *path, unsigned long length)
{
    if (!RecoveryOpen())
        return 1;
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    static unsigned char block[32768];
    unsigned long crc = 0xFFFFFFFFUL, left = length;
    DWORD got;
    while (left && ReadFile(h, block, left < sizeof block ? left : sizeof block, &got, NULL) && got) {
        crc = MarkCrc(crc, block, got);
        left -= got;
    }
    CloseHandle(h);
    if (left)
        return 0;
    char after[40];
    FormatText(after, sizeof after, "%lu:%08lx", length, crc ^ 0xFFFFFFFFUL);
    return KeepCopyWithMark(path, after);
}

// --- undoing files and folders ----------------------------------------------

int UndoRow(const char *kind, const char *target, int result, const char *detail)
{
    static const char *const outcomes[] = {OUT_DONE, OUT_SKIPPED, OUT_CONFLICT, OUT_FAILED};
    static const char *const reasons[] = {NULL, "UNCHANGED", "CHANGED-SINCE", NULL};
    char reason[32] = "";
    if (result == UNDO_FAILED)
        ErrorReason(reason, sizeof reason, GetLastError());
    AddRow(kind, 0, target, ACT_UNDO, outcomes[result], result == UNDO_FAILED ? reason : reasons[result], detail);
    return result;
}

// Makes the folders on the way to path that are missing (the clean-up copy
// removes the program's folder without a journal line): they were there
// when the thing in them was taken away.
static void MakeFolders(const char *path)
{
    char walk[MAX_PATH];
    if (CopyText(walk, sizeof walk, path) != TEXT_FIT)
        return;
    for (char *c = walk + 3; *c; c++) {
        if (*c != '\\')
            continue;
        *c = 0;
        if (GetFileAttributesA(walk) == INVALID_FILE_ATTRIBUTES)
            CreateDirectoryA(walk, NULL);
        *c = '\\';
    }
}

// Puts the kept file at path (which holds nothing now): renamed back, or
// copied from another volume.
static int PutBack(const char *kept, const char *path, DWORD attributes)
{
    MakeFolders(path);
    if (!MoveFileA(kept, path)) {
        if (GetLastError() != ERROR_NOT_SAME_DEVICE || !CopyFileA(kept, path, TRUE))
            return 0;
        DeleteFileA(kept);
    }
    if (attributes)
        SetFileAttributesA(path, attributes);
    return 1;
}

// "<path>.RECOVERED", or with a number when that is taken.
static int RecoveredName(char *buf, size_t cap, const char *path)
{
    for (int n = 1; n < 100; n++) {
        if ((n == 1 ? FormatText(buf, cap, "%s.RECOVERED", path) : FormatText(buf, cap, "%s.RECOVERED%d", path, n)) !=
            TEXT_FIT)
            return 0;
        if (GetFileAttributesA(buf) == INVALID_FILE_ATTRIBUTES)
            return 1;
    }
    return 0;
}

// A FILE line (kind "FILE") or an INITEXT line (kind "INI"): a file changed
// since keeps what was there beside it, a changed INI file is left to its
// item lines.
static int UndoFileAs(const char *kind, const char *path, const char *kept, DWORD attributes, const char *after)
{
    char now[40], before[40] = "-";
    ContentMark(path, now, sizeof now);
    int keptThere = kept && GetFileAttributesA(kept) != INVALID_FILE_ATTRIBUTES;
    if (keptThere)
        ContentMark(kept, before, sizeof before);
    if (kept && !keptThere) {
        // Kept, and no longer in the store: put back by an earlier undo, or
        // the change never came (the run was killed before it).
        if (strcmp(now, "-") != 0)
            return UndoRow(kind, path, UNDO_UNCHANGED, NULL);
        SetLastError(ERROR_FILE_NOT_FOUND);
        return UndoRow(kind, path, UNDO_FAILED, NULL);
    }
    if (strcmp(now, before) == 0) {
        if (keptThere && !Preview)
            DeleteFileA(kept);
        return UndoRow(kind, path, UNDO_UNCHANGED, NULL);
    }
    if (strcmp(now, after) != 0 && strcmp(kind, "INI") == 0) {
        // Its items were changed since: each is undone on its own.
        if (keptThere && !Preview)
            DeleteFileA(kept);
        AddRow(kind, 0, path, ACT_UNDO, OUT_SKIPPED, "CHANGED-SINCE", NULL);
        return UNDO_UNCHANGED;
    }
    if (strcmp(now, after) != 0) {
        // Made or changed since: it stays, and what was there goes beside it.
        char beside[MAX_PATH] = "";
        if (keptThere && RecoveredName(beside, sizeof beside, path) && !Preview && !PutBack(kept, beside, attributes))
            return UndoRow(kind, path, UNDO_FAILED, NULL);
        return UndoRow(kind, path, UNDO_CONFLICT, beside[0] ? beside : NULL);
    }
    if (Preview)
        return UndoRow(kind, path, UNDO_DONE, NULL);
    if (strcmp(now, "-") != 0) {
        // The change's file goes first; a file with its attributes refuses that.
        SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
        if (!DeleteFileA(path))
            return UndoRow(kind, path, UNDO_FAILED, NULL);
    }
    if (keptThere && !PutBack(kept, path, attributes))
        return UndoRow(kind, path, UNDO_FAILED, NULL);
    return UndoRow(kind, path, UNDO_DONE, NULL);
}

int UndoFile(const char *path, const char *kept, DWORD attributes, const char *after)
{
    return UndoFileAs("FILE", path, kept, attributes, after);
}

int UndoIniText(const char *path, const char *kept, DWORD attributes, const char *after)
{
    return UndoFileAs("INI", path, kept, attributes, after);
}

int UndoFolder(const char *path)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return UndoRow("DIR", path, UNDO_UNCHANGED, NULL);
    if (!Preview) {
        MakeFolders(path);
        if (!CreateDirectoryA(path, NULL))
            return UndoRow("DIR", path, UNDO_FAILED, NULL);
    }
    return UndoRow("DIR", path, UNDO_DONE, NULL);
}

int IsKeptFileName(const char *kept)
{
    if (strcmp(kept, "-") == 0)
        return 1;
    if (strlen(kept) != 10 || kept[0] != 'K' || strcmp(kept + 6, ".DAT") != 0)
        return 0;
    for (int i = 1; i < 6; i++)
        if (kept[i] < '0' || kept[i] > '9')
            return 0;
    return 1;
}

// Deletes the store's own files (the journal and what is still kept) and
// the store, then the root when nothing else is in it.
void RemoveRecoveryStore(const char *store)
{
    if (Preview)
        return;
    char pattern[STORE_PATH_CAP], path[STORE_PATH_CAP];
    if (FormatText(pattern, sizeof pattern, "%s*", store) != TEXT_FIT)
        return;
    FindRecord rec;
    for (int more = FindFirstEntry(pattern, &rec) == 0; more; more = FindNextEntry(&rec) == 0) {
        if (rec.Attributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        if ((IsKeptFileName(rec.Name) || strcmp(rec.Name, "JOURNAL.TXT") == 0) &&
            FormatText(path, sizeof path, "%s%s", store, rec.Name) == TEXT_FIT) {
            SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path);
        }
    }
    EndFind(&rec);
    if (CopyText(path, sizeof path, store) == TEXT_FIT) {
        path[strlen(path) - 1] = 0;
        RemoveDirectoryA(path);
        *FileNamePart(path) = 0;
        path[strlen(path) - 1] = 0;
        RemoveDirectoryA(path);     // the root, when empty
    }
}

int KeepProgmanLine(const char *type, const char *group, const char *line)
{
    if (!RecoveryOpen())
        return 1;
    Line l = {};
    PutField(&l, type);
    PutField(&l, group);
    PutField(&l, line);
    return WriteLine(&l);
}
