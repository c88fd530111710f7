#include "progress.h"
#include "../app/text.h"

// Not built yet: the engine issue fills these.
void ShowProgress(const char *text)
{
    (void)text;
}

void PumpMessages(DWORD ms)
{
    (void)ms;
}

void AppendShortPath(char *buf, size_t cap, const char *path)
{
    AppendText(buf, cap, path);
}
