// The run's own effects on the machine at its end (runend.h).
#include "runend.h"
#include "wholefile.h"
#include "../base/state.h"
#include <windows.h>

void BroadcastSettingsChange(void)
{
    if (Preview)
        return;
    DWORD_PTR result;
    SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0, 0, SMTO_ABORTIFHUNG, 1000, &result);
}

int WriteStatusText(const char *path, const void *bytes, size_t len)
{
    if (Preview)
        return WHOLE_DONE;
    return WriteWholeFile(path, bytes, len, 1);
}

void StartCleanupCopy(const char *command)
{
    if (!Preview)
        WinExec(command, SW_SHOW);
}
