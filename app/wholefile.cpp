// Whole-file replacement (see wholefile.h).
#include "wholefile.h"
#include "paths.h"
#include "state.h"
#include "text.h"
#include <windows.h>
#include <string.h>

// The sibling's name is the target's with a fixed ending, so that what a
// killed run left beside a file is taken up (overwritten, then swapped in)
// by the next run that writes the same file, instead of piling up.
static int SiblingName(char *buf, size_t cap, const char *target, const char *ending)
{
    if (!FileNamePart(target)[0])
        return 1;
    return CopyText(buf, cap, target) != TEXT_FIT || AppendText(buf, cap, ending) != TEXT_FIT;
}

int MakeSiblingFile(char *buf, size_t cap, const char *target)
{
    return SiblingName(buf, cap, target, ".~kv");
}

int SwapInFile(const char *tmp, const char *target, int stageHeld)
{
    // A folder (or a link) under the name is never replaced by a file.
    DWORD attributes = GetFileAttributesA(target);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    if (PlatformKind == PLATFORM_NT) {
        if (MoveFileExA(tmp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return WHOLE_DONE;
        DWORD error = GetLastError();
        if (stageHeld && (error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED) &&
            MoveFileExA(tmp, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT))
            return WHOLE_STAGED;
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    // Without a replacing move the old file is kept aside until the new one
    // has its name, so that one of them is always there.
    char keep[MAX_PATH];
    if (SiblingName(keep, sizeof keep, target, ".~ko") != 0) {
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    DeleteFileA(keep);
    int existed = FileExists(target);
    if (existed && !MoveFileA(target, keep)) {
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    if (!MoveFileA(tmp, target)) {
        if (existed)
            MoveFileA(keep, target);
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    if (existed)
        DeleteFileA(keep);
    return WHOLE_DONE;
}

int WriteWholeFile(const char *path, const void *bytes, size_t len, int stageHeld)
{
    char tmp[MAX_PATH];
    if (MakeSiblingFile(tmp, sizeof tmp, path) != 0)
        return WHOLE_FAILED;
    HANDLE file = CreateFileA(tmp, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DeleteFileA(tmp);
        return WHOLE_FAILED;
    }
    DWORD written = 0;
    int ok = (len == 0 || (WriteFile(file, bytes, (DWORD)len, &written, NULL) && written == len)) &&
             FlushFileBuffers(file);
    if (!CloseHandle(file))
        ok = 0;
    if (!ok) {
        DeleteFileA(tmp);       // a full disk: the old file stays whole
        return WHOLE_FAILED;
    }
    return SwapInFile(tmp, path, stageHeld);
}
