#include "pending.h"

// Not built yet: nothing is staged, recorded or restarted.
void ReplaceFileLater(const char *source, const char *target)
{
    (void)source;
    (void)target;
}

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
