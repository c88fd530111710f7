#include "pending.h"
#include "../engine/files.h"
#include <windows.h>

// Puts the copy in place now. Staging a file in use for the next restart is
// not built yet: when the copy fails, both files stay as they are.
void ReplaceFileLater(const char *source, const char *target)
{
    if (CopyFileA(source, target, FALSE)) {
        RemoveFile(source);
        return;
    }
}

// Not built yet: nothing is recorded or restarted.

void DeleteAtRestart(const char *path)
{
    (void)path;
}

void MakeTempName(char *buf, size_t cap, const char *target)
{
    (void)target;
    if (cap)
        buf[0] = 0;
}

void WriteRestartProgram(void)
{
}

void RestartSystem(void)
{
}
