/* _MSRSTRT.EXE: written to the Windows directory before a restart on NT.
   It records its own deletion, enables the shutdown privilege and asks the
   system to restart. No C run-time: it has to stay tiny. */
#include <windows.h>

void __stdcall RestartMain(void)
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n > 0 && n < sizeof self)
        MoveFileExA(self, NULL, MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT);
    HANDLE token;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
        TOKEN_PRIVILEGES tp;
        tp.PrivilegeCount = 1;
        tp.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (LookupPrivilegeValueA(NULL, "SeShutdownPrivilege", &tp.Privileges[0].Luid) &&
            AdjustTokenPrivileges(token, FALSE, &tp, 0, NULL, NULL) &&
            GetLastError() == ERROR_SUCCESS)
            ExitWindowsEx(EWX_REBOOT, 0);
        CloseHandle(token);
    }
    ExitProcess(0);
}
