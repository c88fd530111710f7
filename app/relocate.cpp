// The temporary copy of the program, the removal of its own file, and the
// clean-up run of the copy.
#include "relocate.h"
#include "../base/oscalls.h"
#include "../base/paths.h"
#include "../machine/pending.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../engine/files.h"
#include "../machine/fileops.h"
#include "../machine/runend.h"
#include <string.h>

// The copy, held open without write or delete sharing from the moment it is
// known to be whole until it has been started, so that nobody can change it.
static HANDLE CopyHold = INVALID_HANDLE_VALUE;

// Copies every byte of the source into the file just made; 1 when the copy
// is whole (all bytes written, same size).
static int FillCopy(HANDLE target, const char *source)
{
    HANDLE in = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (in == INVALID_HANDLE_VALUE)
        return 0;
    static char buf[64 * 1024];
    DWORD total = 0, got = 0, put = 0;
    int ok = 1;
    while (ok && ReadFile(in, buf, sizeof buf, &got, NULL) && got) {
        ok = WriteFile(target, buf, got, &put, NULL) && put == got;
        total += got;
    }
    DWORD size = GetFileSize(in, NULL);
    CloseHandle(in);
    return ok && size != INVALID_FILE_SIZE && size == total && FlushFileBuffers(target) &&
           GetFileSize(target, NULL) == total;
}

// Makes a file of a new name with CREATE_NEW, so that nothing planted under
// a name can pass for our copy; its path goes to out.
static HANDLE CreateUniqueCopy(const char *dir, char *out, size_t cap)
{
    DWORD start = (GetTickCount() ^ (GetCurrentProcessId() << 4)) & 0xFFFF;
    for (DWORD i = 0; i < 0x10000; i++) {
        char name[16];
        FormatText(name, sizeof name, "KVR%04X.EXE", (unsigned)((start + i) & 0xFFFF));
        if (CopyText(out, cap, dir) != TEXT_FIT || AppendText(out, cap, name) != TEXT_FIT)
            return INVALID_HANDLE_VALUE;
        HANDLE h = CreateFileA(out, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, NULL);
        if (h != INVALID_HANDLE_VALUE)
            return h;
        DWORD err = GetLastError();
        if (err != ERROR_FILE_EXISTS && err != ERROR_ALREADY_EXISTS && err != ERROR_ACCESS_DENIED)
            return INVALID_HANDLE_VALUE;    // the folder itself is of no use
    }
    return INVALID_HANDLE_VALUE;
}

// Whether the two files hold the same bytes, read from their starts.
static int SameBytes(HANDLE a, HANDLE b)
{
    static char bufA[32 * 1024], bufB[32 * 1024];
    for (;;) {
        DWORD gotA = 0, gotB = 0;
        if (!ReadFile(a, bufA, sizeof bufA, &gotA, NULL) || !ReadFile(b, bufB, sizeof bufB, &gotB, NULL) ||
            gotA != gotB || memcmp(bufA, bufB, gotA) != 0)
            return 0;
        if (gotA == 0)
            return 1;
    }
}

// Whether hold, the copy opened again after it was closed, is still the copy
// this run made. NT answers by the file index. Windows 95 and 98 keep an
// index only while a file is open and have no other lasting identity than
// the spelling, which a replacement keeps: there the held copy must hold the
// program's own bytes, so that what is started is the program whatever
// happened to the name in between.
static int StillOurCopy(HANDLE hold, const char *path, const FileIdentity *made, const char *own)
{
    if (PlatformKind == PLATFORM_NT) {
        BY_HANDLE_FILE_INFORMATION info;
        return Os.GetFileInformationByHandle(hold, &info) && info.dwVolumeSerialNumber == made->Volume &&
               info.nFileIndexHigh == made->IndexHigh && info.nFileIndexLow == made->IndexLow;
    }
    FileIdentity now;
    if (GetFileIdentity(path, &now) != 0 || !SameIdentity(&now, made))
        return 0;
    HANDLE in = CreateFileA(own, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
    if (in == INVALID_HANDLE_VALUE)
        return 0;
    int same = SameBytes(hold, in);
    CloseHandle(in);
    return same;
}

void MakeTempCopy(void)
{
    TempCopyPath[0] = 0;
    InPlace = 1;
    char dir[PATH_CAP], own[PATH_CAP], path[PATH_CAP];
    DWORD n = GetTempPathA(sizeof dir, dir);
    DWORD len = GetModuleFileNameA(NULL, own, sizeof own);
    if (n == 0 || n >= sizeof dir || len == 0 || len >= sizeof own)
        return;
    HANDLE h = CreateUniqueCopy(dir, path, sizeof path);
    if (h == INVALID_HANDLE_VALUE)
        return;
    FileIdentity made;
    int whole = FillCopy(h, own) && GetFileIdentity(path, &made) == 0;
    CloseHandle(h);
    // Opened again for reading only, denying writers; it must still be the
    // file this run made. Through the table, where a test plays another
    // program that swaps a file in between the two opens.
    HANDLE hold = whole ? Os.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, NULL)
                        : INVALID_HANDLE_VALUE;
    if (hold == INVALID_HANDLE_VALUE || !StillOurCopy(hold, path, &made, own)) {
        if (hold != INVALID_HANDLE_VALUE)
            CloseHandle(hold);
        DeleteFileA(path);      // ours, made by CREATE_NEW above
        return;                 // no copy: the run ends in place
    }
    CopyHold = hold;
    CopyText(TempCopyPath, sizeof TempCopyPath, path);
    DeleteAtRestart(TempCopyPath);
    InPlace = 0;
}

// Appends one argument of the clean-up command line: its short form, and
// in quotes when it still holds a blank (a volume without short names).
static int AppendArgument(char *cmd, size_t cap, const char *path)
{
    char arg[PATH_CAP];
    if (CopyText(arg, sizeof arg, path) != TEXT_FIT)
        return 0;
    NormalizePath(arg, sizeof arg, 0);
    int quote = strchr(arg, ' ') != NULL;
    int ok = (!quote || AppendText(cmd, cap, "\"") == TEXT_FIT) &&
             AppendText(cmd, cap, arg) == TEXT_FIT &&
             (!quote || AppendText(cmd, cap, "\"") == TEXT_FIT);
    return ok;
}

void RemoveSelf(void)
{
    char own[PATH_CAP];
    DWORD len = GetModuleFileNameA(NULL, own, sizeof own);
    if (len == 0 || len >= sizeof own)
        return;
    if (InPlace) {
        // A running program cannot delete its own file: let the restart do it.
        if (!DeleteOneFile(own) && FileExists(own))
            DeleteAtRestart(own);
        char settings[PATH_CAP];
        CopyText(settings, sizeof settings, own);
        memcpy(settings + len - 3, "INI", 3);
        DeleteOneFile(settings);
        return;
    }
    char shortOwn[PATH_CAP];
    CopyText(shortOwn, sizeof shortOwn, own);
    NormalizePath(shortOwn, sizeof shortOwn, 0);
    if (DeletingSelf) {
        // "%s /z %s %s": the copy, the program and the install root. The copy
        // reads at most PATH_CAP - 1 characters after its own name and refuses
        // more, so the root is left out when it would not fit with the rest.
        char args[3 * PATH_CAP + 16] = "/z ";
        int ok = AppendArgument(args, sizeof args, own);
        size_t programOnly = strlen(args);
        if (ok && InstallRootDir[0] && AppendText(args, sizeof args, " ") == TEXT_FIT &&
            AppendArgument(args, sizeof args, InstallRootDir) && strlen(args) < PATH_CAP)
            programOnly = strlen(args);
        args[programOnly] = 0;
        char cmd[4 * PATH_CAP] = "";
        if (ok && TempCopyPath[0] && strlen(args) < PATH_CAP &&
            AppendArgument(cmd, sizeof cmd, TempCopyPath) &&
            AppendText(cmd, sizeof cmd, " ") == TEXT_FIT && AppendText(cmd, sizeof cmd, args) == TEXT_FIT)
            StartCleanupCopy(cmd);      // TempCopyPath is set only for a whole copy
        else
            DeleteAtRestart(own);   // no clean-up copy can take it: the restart will
    } else {
        DeleteOneFile(shortOwn);
    }
    if (CopyHold != INVALID_HANDLE_VALUE) {
        CloseHandle(CopyHold);
        CopyHold = INVALID_HANDLE_VALUE;
    }
}

// Takes one argument off *text: up to the next blank, or a quoted text.
static void TakeArgument(const char **text, char *out, size_t cap)
{
    const char *p = *text;
    while (*p == ' ')
        p++;
    const char *end;
    if (*p == '"') {
        p++;
        end = strchr(p, '"');
        if (!end)
            end = p + strlen(p);
        CopyTextN(out, cap, p, (size_t)(end - p));
        if (*end == '"')
            end++;
    } else {
        end = strchr(p, ' ');
        if (!end)
            end = p + strlen(p);
        CopyTextN(out, cap, p, (size_t)(end - p));
    }
    *text = end;
}

// Waits ms milliseconds for the main window's timer, dispatching messages.
// The wait blocks in GetMessage: the process that started this copy waits
// until the copy is idle for input, so a polling wait would hold it up.
static void TimedWait(DWORD ms)
{
    TimerWait = 1;
    if (!MainWindow || !SetTimer(MainWindow, WAIT_TIMER_ID, ms, NULL)) {
        Sleep(ms);
        TimerWait = 0;
        return;
    }
    MSG msg;
    while (TimerWait && GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    KillTimer(MainWindow, WAIT_TIMER_ID);
    TimerWait = 0;
}

void RunCleanup(const char *text)
{
    TimedWait(1000);
    char program[PATH_CAP], second[PATH_CAP];
    const char *p = text;
    TakeArgument(&p, program, sizeof program);
    TakeArgument(&p, second, sizeof second);
    size_t len = strlen(program);
    if (len && program[len - 1] != '\\') {
        // The first process may take a moment longer to end; retry briefly.
        for (int tries = 0; tries < 20; tries++) {
            if (DeleteOneFile(program) || !FileExists(program))
                break;
            TimedWait(250);
        }
    }
    char *slash = strrchr(program, '\\');
    if (slash) {
        *slash = 0;
        RemoveTree(program, 0);
    }
    len = strlen(second);
    if (len) {
        if (second[len - 1] == '\\')
            second[len - 1] = 0;
        RemoveTree(second, 0);
    }
}
