#include "mif.h"
#include "../app/text.h"
#include <windows.h>

// The status file is not built yet: nothing is written.
void WriteStatusFile(void)
{
}

void FormatStatusDate(char *buf, size_t cap)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    FormatText(buf, cap, "%02d/%02d/%02d %d:%02d", t.wMonth, t.wDay, t.wYear % 100, t.wHour, t.wMinute);
}
