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
    // Passing means tests ran and none was skipped: an empty selection or a
    // skip must never read as green. 77 is CTest's "Not Run" code.
    const testing::UnitTest *unit = testing::UnitTest::GetInstance();
    if (rc == 0 && !GTEST_FLAG_GET(list_tests)) {
        if (unit->test_to_run_count() == 0) {
            printf("No test ran\n");
            rc = 1;
        } else if (unit->skipped_test_count() > 0) {
            printf("%d test(s) skipped\n", unit->skipped_test_count());
            rc = 77;
        }
    }
    fflush(stdout);
    return rc;
}
