// The recovery store and its journal (recovery.h). A journal line is
// "TYPE<tab>field...<CR><LF>", each field with control characters, "%" and
// bytes above 0x7E written as %XX:
//   FILE  path  kept  attributes  write-time  after   a file taken away
//                     (kept "-": there was none; after: its content mark
//                     once the change is made, "-" for none)
//   DIR   path                                        a folder removed
//   VALUE key  name  before  after                    "-" or "type:hex"
//   KEY   key                                         an emptied key removed
//   INI   file  section  item  before  after  [previous]
//                                                     "-" or "=value"; for an
//                     item taken away, the item it stood after ("" first)
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
#include "../base/oscalls.h"
#include "../base/paths.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include <stdlib.h>
#include <string.h>

int KeepRecovery;
char RecoveryStore[STORE_PATH_CAP];
static HANDLE Journal = INVALID_HANDLE_VALUE;
// Lines written and not yet flushed; whether they wait for JournalOnDisk.
static int Unflushed, Held;
static unsigned long StoreBytes;
static unsigned KeptCount;

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
    Unflushed = Held = 0;
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

typedef BOOL(WINAPI *AttributesExFn)(LPCSTR, GET_FILEEX_INFO_LEVELS, LPVOID);

// GetFileAttributesExA where the system has it (not Windows 95), else null.
static AttributesExFn AttributesEx(void)
{
    static AttributesExFn fn;
    static int looked;
    if (!looked) {
        HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
        fn = kernel ? (AttributesExFn)(void *)Os.GetProcAddress(kernel, "GetFileAttributesExA") : NULL;
        looked = 1;
    }
    return fn;
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
int JournalOnDisk(void)
{
    if (!Unflushed || Journal == INVALID_HANDLE_VALUE)
        return 1;
    if (!FlushFileBuffers(Journal)) {
        SetLastError(ERROR_DISK_FULL);
        return 0;
    }
    Unflushed = 0;
    return 1;
}

void HoldJournal(int hold)
{
    Held = hold;
    if (!hold)
        JournalOnDisk();
}

int WriteLine(Line *l)
{
    Put(l, "\r\n", 2);
    DWORD put = 0;
    int ok = !l->Failed && WriteFile(Journal, l->Data, (DWORD)l->Len, &put, NULL) && put == l->Len;
    if (ok) {
        StoreBytes += (unsigned long)l->Len;
        Unflushed = 1;
    }
    free(l->Data);
    if (!ok)
        SetLastError(ERROR_DISK_FULL);
    return ok && (Held || JournalOnDisk());
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

int KeptFilePath(char *buf, size_t cap, const char *store, const char *kept)
{
    char folder[8];
    return CopyTextN(folder, sizeof folder, kept, 4) == TEXT_FIT &&
           FormatText(buf, cap, "%s%s\\%s", store, folder, kept) == TEXT_FIT;
}

// The next kept file's name and full path; the first of a hundred (or of
// the run) makes its folder.
static int NextKeptName(char *kept, size_t cap, char *full, size_t fullCap)
{
    KeptCount++;
    if (FormatText(kept, cap, "K%05u.DAT", KeptCount) != TEXT_FIT ||
        !KeptFilePath(full, fullCap, RecoveryStore, kept))
        return 0;
    if (KeptCount == 1 || KeptCount % 100 == 0) {
        char folder[STORE_PATH_CAP];
        CopyText(folder, sizeof folder, full);
        *FileNamePart(folder) = 0;
        folder[strlen(folder) - 1] = 0;
        if (!CreateDirectoryA(folder, NULL) && GetLastError() != ERROR_ALREADY_EXISTS)
            return 0;
    }
    return 1;
}

// The size of the file the last FileLine named (what a move adds to the store).
static unsigned long LastFileSize;

// The file's attributes, last write time and size; 0 when it is not there.
// Not by a folder search where the system has the call: that cost a kept
// uninstall as much again as the move itself.
static int FileState(const char *path, DWORD *attributes, FILETIME *written, DWORD *size)
{
    AttributesExFn attributesEx = AttributesEx();
    if (attributesEx) {
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (!attributesEx(path, GetFileExInfoStandard, &a))
            return 0;
        *attributes = a.dwFileAttributes;
        *written = a.ftLastWriteTime;
        *size = a.nFileSizeLow;
        return 1;
    }
    FindRecord rec;
    int found = FindFirstEntry(path, &rec) == 0;
    if (found) {
        *attributes = rec.Attributes;
        *written = rec.Data.ftLastWriteTime;
        *size = rec.Data.nFileSizeLow;
    }
    EndFind(&rec);
    return found;
}

// "FILE path kept attributes write-time after" for the file as it is now
// (or INITEXT, of the same fields).
static int FileLine(const char *path, const char *kept, const char *after, const char *type = "FILE")
{
    LastFileSize = 0;
    char attributes[16] = "0", written[24] = "0:0";
    DWORD a, size;
    FILETIME t;
    if (FileState(path, &a, &t, &size)) {
        FormatText(attributes, sizeof attributes, "%lx", (unsigned long)a);
        LastFileSize = size;
        FormatText(written, sizeof written, "%lx:%lx", (unsigned long)t.dwHighDateTime, (unsigned long)t.dwLowDateTime);
    }
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

int RenameOnly(const char *from, const char *to, int replace)
{
    if (PlatformKind == PLATFORM_NT)
        return Os.MoveFileExA(from, to, replace ? MOVEFILE_REPLACE_EXISTING : 0) != 0;
    // Elsewhere MoveFile copies between volumes: only the same drive renames.
    if (!((from[0] | 0x20) == (to[0] | 0x20) && from[1] == ':' && to[1] == ':')) {
        SetLastError(ERROR_NOT_SAME_DEVICE);
        return 0;
    }
    if (replace)
        DeleteFileA(to);        // no replacing rename there
    return MoveFileA(from, to) != 0;
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
    char kept[16], full[STORE_PATH_CAP], part[STORE_PATH_CAP];
    if (!NextKeptName(kept, sizeof kept, full, sizeof full) || !FileLine(path, kept, "-"))
        return 0;
    if (RenameOnly(path, full, 0)) {
        StoreBytes += LastFileSize;
        return 1;
    }
    DWORD error = GetLastError();
    if (error != ERROR_NOT_SAME_DEVICE) {
        SetLastError(error);
        return 0;
    }
    // From another volume: copied under a passing name, given the kept name
    // once whole, and only then deleted here, so that a kill never leaves a
    // part of it under the kept name (the undo would take it for the file).
    size_t n = strlen(full);
    if (CopyText(part, sizeof part, full) != TEXT_FIT || n < 4)
        return 0;
    memcpy(part + n - 4, ".TMP", 4);
    if (!CopyFileA(path, part, FALSE) || !RenameOnly(part, full, 0)) {
        error = GetLastError();
        DeleteFileA(part);
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

int KeepNamed(const char *kind, const char *name)
{
    if (!RecoveryOpen())
        return 1;
    Line l = {};
    PutField(&l, kind);
    PutField(&l, name);
    return WriteLine(&l);
}

int KeepFolder(const char *path)
{
    return KeepNamed("DIR", path);
}

int KeepFileBeforeCut(const char *path, unsigned long length)
{
    if (!RecoveryOpen())
        return 1;
    char after[40];
    return HeadMark(path, length, after, sizeof after) && KeepCopyWithMark(path, after);
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
