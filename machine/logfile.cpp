// The installation log's own end: cut after a rollback, deleted after an
// uninstall (logfile.h).
#include "logfile.h"
#include "fileops.h"
#include "preview.h"
#include "recovery.h"
#include "wholefile.h"
#include "../base/oscalls.h"
#include "../base/state.h"
#include <stdlib.h>

// Cuts the log to its first offset bytes (never longer) where it lies: a
// truncation needs no room on a full drive, and leaves the text before the
// cut as it was, whenever the run stops. A log that another program holds
// against writers is cut at the next restart, through a copy written beside
// it and swapped in.
void CutLogFile(const char *logPath, long offset)
{
    if (offset <= 0 || Preview)
        return;
    // The whole log, as it was, is kept for an undo first.
    if (KeepRecovery && !KeepFileBeforeCut(logPath, (unsigned long)offset))
        return;
    HANDLE file = Os.CreateFileA(logPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, NULL);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD high = 0;
        DWORD size = GetFileSize(file, &high);
        if (high == 0 && size != INVALID_FILE_SIZE && (DWORD)offset <= size &&
            SetFilePointer(file, offset, NULL, FILE_BEGIN) == (DWORD)offset && SetEndOfFile(file))
            FlushFileBuffers(file);
        CloseHandle(file);
        return;
    }
    DWORD error = GetLastError();
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_LOCK_VIOLATION && error != ERROR_ACCESS_DENIED)
        return;
    file = Os.CreateFileA(logPath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    char *head = NULL;
    DWORD got = 0;
    if (high == 0 && size != INVALID_FILE_SIZE && (DWORD)offset <= size) {
        head = (char *)malloc((size_t)offset);
        if (head && !(ReadFile(file, head, (DWORD)offset, &got, NULL) && got == (DWORD)offset)) {
            free(head);
            head = NULL;
        }
    }
    CloseHandle(file);
    if (head)
        WriteWholeFile(logPath, head, (size_t)offset, 1);
    free(head);
}

void DeleteLogFile(const char *logPath, const char *longPath)
{
    if (Preview) {
        // Counted as deleted, so that the folders that held it are judged
        // as the run will leave them.
        MarkGoneInPlan(logPath);
        if (longPath[0])
            MarkGoneInPlan(longPath);
        return;
    }
    DeleteOneFile(logPath);
}
