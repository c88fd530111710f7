// The per-item report: rows collected during the run (base/rows), a #LEFT
// section of what the log recorded and the run left, and the result.
#include "report.h"
#include "../base/paths.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../machine/wholefile.h"
#include "../engine/files.h"
#include "../engine/undo.h"
#include "../log/inventory.h"
#include <windows.h>
#include <stdlib.h>
#include <string.h>

static void Reserve(TextBuf *b, unsigned long more)
{
    if (b->Failed || b->Len + more + 1 <= b->Cap)
        return;
    unsigned long cap = b->Cap ? b->Cap : 4096;
    while (cap < b->Len + more + 1 && cap < 0x40000000UL)
        cap *= 2;
    char *data = cap >= b->Len + more + 1 ? (char *)realloc(b->Data, cap) : NULL;
    if (!data) {
        b->Failed = 1;
        return;
    }
    b->Data = data;
    b->Cap = cap;
}

void PutText(TextBuf *b, const char *text)
{
    unsigned long n = (unsigned long)strlen(text);
    Reserve(b, n);
    if (b->Failed)
        return;
    memcpy(b->Data + b->Len, text, n + 1);
    b->Len += n;
}

void PutEscaped(TextBuf *b, const char *text)
{
    static const char hex[] = "0123456789ABCDEF";
    for (const unsigned char *c = (const unsigned char *)text; *c; c++) {
        Reserve(b, 3);
        if (b->Failed)
            return;
        if (*c < 0x20 || *c >= 0x7F || *c == '%') {
            b->Data[b->Len++] = '%';
            b->Data[b->Len++] = hex[*c >> 4];
            b->Data[b->Len++] = hex[*c & 15];
        } else {
            b->Data[b->Len++] = (char)*c;
        }
        b->Data[b->Len] = 0;
    }
}

// --- what is left ---------------------------------------------------------

static int IsFileKind(const char *kind)
{
    return strcmp(kind, "FILE") == 0 || strcmp(kind, "SYSFILE") == 0 || strcmp(kind, "DIR") == 0 ||
           strcmp(kind, "TREE") == 0 || strcmp(kind, "INIFILE") == 0;
}

static int Is(const char *a, const char *b)
{
    return strcmp(a, b) == 0;
}

// Kept on purpose: another product still counts on the file.
static int KeptByCount(const ReportRow *r)
{
    return Is(r->Outcome, OUT_KEPT) &&
           (strncmp(r->Reason, "SHARED ", 7) == 0 || Is(r->Reason, "LAST-REFERENCE-KEPT"));
}

// Whether the folder holds nothing but the program's own files, which go
// when it ends (the clean-up copy removes them and the folder).
static int HoldsOnlyProgram(const char *dir)
{
    if (!DeletingSelf)
        return 0;
    char pattern[MAX_PATH];
    if (FormatText(pattern, sizeof pattern, "%s\\*", dir) != TEXT_FIT)
        return 0;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    int only = 1;
    do {
        if (Is(fd.cFileName, ".") || Is(fd.cFileName, ".."))
            continue;
        char path[MAX_PATH];
        only = FormatText(path, sizeof path, "%s\\%s", dir, fd.cFileName) == TEXT_FIT &&
               (TextEqualNoCase(path, ProgramPath) || TextEqualNoCase(path, SettingsPath) ||
                TextEqualNoCase(fd.cFileName, FileNamePart(ProgramPath)));
    } while (only && FindNextFileA(h, &fd));
    FindClose(h);
    return only;
}

// A folder kept because the log is still in it (a rollback cuts the log
// and keeps it) is kept on purpose.
static int HoldsTheLog(const ReportRow *r)
{
    // Folders are spelt in long form; the log may be named in short form.
    char log[MAX_PATH];
    if (CopyText(log, sizeof log, LogPath) != TEXT_FIT || PathGoneNow(log))
        return 0;
    NormalizePath(log, sizeof log, 1);
    size_t n = strlen(r->Target);
    return (Is(r->Kind, "DIR") || Is(r->Kind, "TREE")) && n && TextEqualNoCaseN(log, r->Target, n) &&
           log[n] == '\\';
}

// Whether the clean-up copy takes the folder when the program ends: it
// removes the program's folder and the log's, once the program's own files
// are gone from them (not when the run stays in place).
static int GoesWithProgram(const char *dir)
{
    if (!DeletingSelf || InPlace || !TempCopyPath[0] || !HoldsOnlyProgram(dir))
        return 0;
    char folder[MAX_PATH];
    if (CopyText(folder, sizeof folder, ProgramPath) == TEXT_FIT) {
        *FileNamePart(folder) = 0;
        size_t n = strlen(folder);
        if (n && TextEqualNoCaseN(folder, dir, n - 1) && dir[n - 1] == 0)
            return 1;
    }
    if (CopyText(folder, sizeof folder, LogPath) != TEXT_FIT)
        return 0;
    NormalizePath(folder, sizeof folder, 1);
    *FileNamePart(folder) = 0;
    size_t n = strlen(folder);
    return n && TextEqualNoCaseN(folder, dir, n - 1) && dir[n - 1] == 0;
}

// A folder kept at first because it was not empty, that went with the log
// or goes with the program, is gone by the end: its row says it was done.
static int FolderGoneByEnd(const ReportRow *r)
{
    return (Is(r->Kind, "DIR") || Is(r->Kind, "TREE")) &&
           (Is(r->Outcome, OUT_KEPT) || Is(r->Outcome, OUT_FAILED)) && Is(r->Reason, "NOT-EMPTY") &&
           (PathGoneNow(r->Target) || GoesWithProgram(r->Target));
}

// Whether the row names something of the log's that the run leaves in
// place. After a real run a file or folder counts only while it is there
// (a folder kept at first may have gone with the log); a preview goes by
// the outcomes alone.
static int RowLeft(const ReportRow *r)
{
    int left = Is(r->Outcome, OUT_KEPT) || Is(r->Outcome, OUT_STAGED) || Is(r->Outcome, OUT_FAILED) ||
               Is(r->Outcome, OUT_REFUSED) || Is(r->Outcome, OUT_CONFLICT) ||
               (Is(r->Outcome, OUT_SKIPPED) && !Is(r->Reason, "ALREADY-GONE") && !Is(r->Reason, "UNCHANGED"));
    if (!left || Is(r->Kind, "LINE") || Is(r->Kind, "SHARED"))
        return 0;
    if (IsFileKind(r->Kind))
        return !PathGoneNow(r->Target) && !HoldsOnlyProgram(r->Target);
    return 1;
}

// --- rows superseded by a later row -----------------------------------------

// A later row for the same kind, target (without case) and detail says what
// became of the thing. One pass from the last row to the first over a hash
// table of the rows seen: linear in the rows.
static unsigned RowHash(const ReportRow *r)
{
    unsigned h = 2166136261u;
    for (const char *c = r->Kind; *c; c++)
        h = (h ^ (unsigned char)*c) * 16777619u;
    h = (h ^ 1u) * 16777619u;
    for (const char *c = r->Target; *c; c++)
        h = (h ^ (unsigned char)(*c >= 'a' && *c <= 'z' ? *c - 'a' + 'A' : *c)) * 16777619u;
    h = (h ^ 2u) * 16777619u;
    for (const char *c = r->Detail; *c; c++)
        h = (h ^ (unsigned char)*c) * 16777619u;
    return h;
}

static int SameThing(const ReportRow *a, const ReportRow *b)
{
    return Is(a->Kind, b->Kind) && TextEqualNoCase(a->Target, b->Target) && Is(a->Detail, b->Detail);
}

// flags[i] = 1 when a later row names the same thing as row i. Result 0, or 1
// when memory is short.
static int MarkSuperseded(unsigned char *flags, int count)
{
    unsigned slots = 16;
    while (slots < 2u * (unsigned)count && slots < 0x40000000u)
        slots *= 2;
    int *table = (int *)malloc(slots * sizeof *table);
    if (!table)
        return 1;
    for (unsigned i = 0; i < slots; i++)
        table[i] = -1;
    for (int i = count - 1; i >= 0; i--) {
        const ReportRow *r = RowAt(i);
        unsigned s = RowHash(r) & (slots - 1);
        while (table[s] >= 0 && !SameThing(RowAt(table[s]), r))
            s = (s + 1) & (slots - 1);
        flags[i] = table[s] >= 0;
        if (table[s] < 0)
            table[s] = i;
    }
    free(table);
    return 0;
}

int RunResult(const RunEnd *end)
{
    if (end->Cancelled)
        return RESULT_CANCELLED;
    if (!end->LogRead)
        return RESULT_FAILED;
    int staged = 0, left = WorkLeft;
    for (int i = 0; i < RowCount(); i++) {
        const ReportRow *r = RowAt(i);
        if (Is(r->Outcome, OUT_STAGED))
            staged = 1;
        else if ((Is(r->Outcome, OUT_FAILED) || Is(r->Outcome, OUT_CONFLICT) ||
                  (Is(r->Outcome, OUT_KEPT) && !KeptByCount(r))) && RowLeft(r) &&
                 !HoldsTheLog(r))
            left = 1;
    }
    if (end->RestartStarted || (staged && !left))
        return RESULT_RESTART;
    return left ? RESULT_PARTIAL : RESULT_SUCCESS;
}

int NothingPresent(void)
{
    for (int i = 0; i < RowCount(); i++) {
        // The log's own folder says nothing about the product.
        if (RowAt(i)->InstallNo == LOG_DIR_INSTALL)
            continue;
        const char *o = RowAt(i)->Outcome;
        if (Is(o, OUT_DONE) || Is(o, OUT_STAGED) || Is(o, OUT_KEPT) || Is(o, OUT_FAILED))
            return 0;
    }
    return 1;
}

int ResultExitCode(const RunEnd *end)
{
    switch (RunResult(end)) {
    case RESULT_FAILED:
        return 1603;
    case RESULT_CANCELLED:
        return 1602;
    case RESULT_RESTART:
        return end->RestartStarted ? 1641 : 3010;
    case RESULT_PARTIAL:
        return 1;
    default:
        return end->LogRead && NothingPresent() ? 1605 : 0;
    }
}

// --- writing --------------------------------------------------------------

// The outcomes as a report names them: a preview's are what it would do.
static const char *Shown(const char *outcome)
{
    if (!Preview)
        return outcome;
    if (Is(outcome, OUT_DONE))
        return "WOULD-DO";
    if (Is(outcome, OUT_KEPT) || Is(outcome, OUT_FAILED))
        return "WOULD-KEEP";
    if (Is(outcome, OUT_STAGED))
        return "WOULD-STAGE";
    return outcome;
}

// The outcome and reason a row shows: as recorded, but a folder that was not
// empty when its turn came and is gone by the end shows as done.
static const char *ShownOutcome(const ReportRow *r, int goneByEnd)
{
    return Shown(goneByEnd ? OUT_DONE : r->Outcome);
}

static const char *ShownReason(const ReportRow *r, int goneByEnd)
{
    return goneByEnd ? "" : r->Reason;
}

static void PutNumber(TextBuf *b, unsigned long n)
{
    char text[16];
    FormatText(text, sizeof text, "%lu", n);
    PutText(b, text);
}

static void PutHeader(TextBuf *b, const char *name, const char *value)
{
    PutText(b, name);
    PutEscaped(b, value);
    PutText(b, "\r\n");
}

static void PutPlatform(TextBuf *b)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    char text[64] = "unknown";
    if (GetVersionExA(&info))
        FormatText(text, sizeof text, "%s %lu.%lu.%lu", PlatformKind == PLATFORM_NT ? "NT" : "WINDOWS",
                   info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber & 0xFFFF);
    PutHeader(b, "#PLATFORM=", text);
}

// kind, target, outcome, reason and detail, tab-separated, and the line end.
static void PutRowEnd(TextBuf *b, const ReportRow *r, int withAction, int goneByEnd)
{
    PutText(b, r->Kind);
    PutText(b, "\t");
    PutEscaped(b, r->Target);
    PutText(b, "\t");
    if (withAction) {
        PutText(b, r->Action);
        PutText(b, "\t");
    }
    PutText(b, ShownOutcome(r, goneByEnd));
    PutText(b, "\t");
    PutEscaped(b, ShownReason(r, goneByEnd));
    PutText(b, "\t");
    PutEscaped(b, r->Detail);
    PutText(b, "\r\n");
}

// The installation column: a block number of the log, or "-" where none
// applies (a row of no block, the log's own folder when the log does not
// record it).
static void PutInstall(TextBuf *b, unsigned short installNo)
{
    if (installNo >= 1 && installNo <= InstallCount)
        PutNumber(b, installNo);
    else
        PutText(b, "-");
}

// The outcomes counted on the last line, each once, as the rows show them.
static const char *const RealCounts[] = {OUT_DONE, OUT_KEPT, OUT_STAGED, OUT_FAILED, OUT_SKIPPED, OUT_REFUSED};
static const char *const PreviewCounts[] = {"WOULD-DO", "WOULD-KEEP", "WOULD-STAGE", OUT_SKIPPED, OUT_REFUSED};
// An undo counts its conflicts too.
static const char *const RealUndoCounts[] = {OUT_DONE, OUT_FAILED, OUT_SKIPPED, OUT_REFUSED, OUT_CONFLICT};
static const char *const PreviewUndoCounts[] = {"WOULD-DO", "WOULD-KEEP", OUT_SKIPPED, OUT_REFUSED, OUT_CONFLICT};
enum { COUNT_SLOTS = 6 };

static void BuildReport(TextBuf *b, const RunEnd *end)
{
    PutHeader(b, "#MODE=", Preview ? "PREVIEW" : UndoWanted ? "UNDO" : Rollback ? "ROLLBACK" : "UNINSTALL");
    if (UndoWanted) {
        PutHeader(b, "#STORE=", UndoStore);
    } else {
        PutHeader(b, "#LOG=", LogPath);
        PutHeader(b, "#PRODUCT=", end->LogRead ? ProductTitle : "");
    }
    if (KeepRecovery && RecoveryStore[0]) {
        PutHeader(b, "#RECOVERY=", RecoveryStore);
        PutText(b, "#RECOVERY-BYTES=");
        PutNumber(b, RecoveryStoreBytes());
        PutText(b, "\r\n");
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    char date[32];
    FormatText(date, sizeof date, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay,
               now.wHour, now.wMinute, now.wSecond);
    PutHeader(b, "#DATE=", date);
    PutPlatform(b);
    PutText(b, "#COLUMNS=SEQ\tINSTALL\tKIND\tTARGET\tACTION\tOUTCOME\tREASON\tDETAIL\r\n");

    const char *const *names = UndoWanted ? Preview ? PreviewUndoCounts : RealUndoCounts
                                          : Preview ? PreviewCounts : RealCounts;
    int kinds = UndoWanted ? 5 : Preview ? (int)(sizeof PreviewCounts / sizeof *PreviewCounts)
                                         : (int)(sizeof RealCounts / sizeof *RealCounts);
    unsigned long counts[COUNT_SLOTS] = {};
    int rows = RowCount();
    for (int i = 0; i < rows; i++) {
        const ReportRow *r = RowAt(i);
        int gone = FolderGoneByEnd(r);
        const char *shown = ShownOutcome(r, gone);
        for (int c = 0; c < kinds; c++)
            if (Is(shown, names[c]))
                counts[c]++;
        PutNumber(b, (unsigned long)i + 1);
        PutText(b, "\t");
        PutInstall(b, r->InstallNo);
        PutText(b, "\t");
        PutRowEnd(b, r, 1, gone);
    }
    if (RowsDropped()) {
        PutText(b, "#DROPPED=");
        PutNumber(b, (unsigned long)RowsDropped());
        PutText(b, "\r\n");
    }

    PutText(b, "#LEFT\r\n");
    unsigned long left = 0;
    unsigned char *superseded = (unsigned char *)malloc(rows ? (size_t)rows : 1);
    if (!superseded || MarkSuperseded(superseded, rows)) {
        b->Failed = 1;          // no #LEFT that could name what went
        free(superseded);
        return;
    }
    for (int i = 0; i < rows; i++) {
        const ReportRow *r = RowAt(i);
        if (superseded[i] || !RowLeft(r))
            continue;
        left++;
        PutRowEnd(b, r, 0, 0);
    }
    free(superseded);

    static const char *const results[] = {"SUCCESS", "PARTIAL", "RESTART", "CANCELLED", "FAILED"};
    PutText(b, "#RESULT=");
    PutText(b, results[RunResult(end)]);
    for (int c = 0; c < kinds; c++) {
        PutText(b, "\t");
        PutText(b, names[c]);
        PutText(b, "=");
        PutNumber(b, counts[c]);
    }
    PutText(b, "\tLEFT=");
    PutNumber(b, left);
    PutText(b, "\r\n");
}

static int InWindowsDir(char *buf, unsigned long cap, const char *name)
{
    char dir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, sizeof dir);
    if (n == 0 || n >= sizeof dir)
        return 1;
    return CopyText(buf, cap, dir) != TEXT_FIT ||
           (dir[n - 1] != '\\' && AppendText(buf, cap, "\\") != TEXT_FIT) ||
           AppendText(buf, cap, name) != TEXT_FIT;
}

int ReportPath(char *buf, unsigned long cap)
{
    char chosen[PATH_CAP] = "";
    if (SettingsPath[0])
        GetPrivateProfileStringA("Settings", "Report File", "", chosen, sizeof chosen, SettingsPath);
    if (chosen[0] && IsPlainAbsolutePath(chosen, 0))
        return CopyText(buf, cap, chosen) != TEXT_FIT;
    if (chosen[0] && !strchr(chosen, '\\') && !strchr(chosen, '/') && !strchr(chosen, ':') &&
        !Is(chosen, ".") && !Is(chosen, ".."))
        return InWindowsDir(buf, cap, chosen);
    // A value of another form is not guessed at: the usual place is used.
    char name[HEADER_CAP + 8] = "UNINSTAL.RPT";
    if (MifFileName[0] && CopyText(name, sizeof name, MifFileName) == TEXT_FIT) {
        char *dot = strrchr(name, '.');
        if (dot)
            *dot = 0;
        if (AppendText(name, sizeof name, ".RPT") != TEXT_FIT)
            CopyText(name, sizeof name, "UNINSTAL.RPT");
    }
    return InWindowsDir(buf, cap, name);
}

// A file already at the path is replaced only when it is a report.
static int MayReplace(const char *path)
{
    HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES;
    char head[6];
    DWORD got = 0;
    int report = ReadFile(h, head, sizeof head, &got, NULL) && got == sizeof head &&
                 memcmp(head, "#MODE=", 6) == 0;
    CloseHandle(h);
    return report;
}

int WriteReport(const RunEnd *end)
{
    char path[MAX_PATH];
    if (ReportPath(path, sizeof path) || !MayReplace(path))
        return 1;
    TextBuf b = {};
    BuildReport(&b, end);
    int failed = b.Failed || WriteWholeFile(path, b.Data, b.Len, 0) != WHOLE_DONE;
    free(b.Data);
    return failed;
}
