// Test entry: GoogleTest with a watchdog, because an unanswered dialog would
// otherwise hang the test run forever.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static DWORD WatchdogSeconds = 240;

static DWORD WINAPI Watchdog(LPVOID)
{
    Sleep(WatchdogSeconds * 1000);
    printf("\nWatchdog: test program still running after %lu s, ending it\n",
           (unsigned long)WatchdogSeconds);
    fflush(stdout);
    ExitProcess(99);
    return 0;
}

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    const char *env = getenv("KV_WATCHDOG");
    if (env && atoi(env) > 0)
        WatchdogSeconds = (DWORD)atoi(env);
    HANDLE t = CreateThread(NULL, 0, Watchdog, NULL, 0, NULL);
    if (t)
        CloseHandle(t);
    int rc = RUN_ALL_TESTS();
    fflush(stdout);
    return rc;
}
