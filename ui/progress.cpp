#include "progress.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../resources/resource.h"
#include <string.h>

ProgressObserverFn ProgressObserver;

void ShowProgress(const char *text)
{
    if (WizardWindow) {
        if (text) {
            char shown[DIALOG_TEXT_CAP];
            FormatOneString(shown, sizeof shown, "\r\n\r\n%s", text);
            SetDlgItemTextA(WizardWindow, IDC_LOWER_TEXT, shown);
        }
        HWND frame = GetDlgItem(WizardWindow, IDC_BAR_FRAME);
        RECT r;
        if (frame && GetWindowRect(frame, &r)) {
            POINT corners[2] = {{r.left, r.top}, {r.right, r.bottom}};
            ScreenToClient(WizardWindow, &corners[0]);
            ScreenToClient(WizardWindow, &corners[1]);
            RECT client = {corners[0].x, corners[0].y, corners[1].x, corners[1].y};
            InvalidateRect(WizardWindow, &client, FALSE);
        }
    }
    if (ProgressObserver)
        ProgressObserver(text);
    PumpMessages(PROGRESS_PUMP_MS);
}

// Removes and dispatches every waiting message, through the wizard's
// keyboard handling when dialogKeys is set. Result 0 when the quit message
// was met (it is posted again for the final loop).
static int DispatchWaiting(int dialogKeys = 0)
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage((int)msg.wParam);
            return 0;
        }
        if (dialogKeys && WizardWindow && IsDialogMessageA(WizardWindow, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 1;
}

void WaitForProcess(HANDLE process)
{
    for (;;) {
        DWORD woke = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, QS_ALLINPUT);
        if (woke != WAIT_OBJECT_0 + 1)
            return;             // the process ended (or cannot be waited for)
        if (!DispatchWaiting(1)) {
            // The quit message stays posted and would wake every wait at
            // once: the rest of the wait dispatches nothing.
            WaitForSingleObject(process, INFINITE);
            return;
        }
    }
}

void PumpMessages(DWORD ms)
{
    if (ms == 0) {
        TimerWait = 0;
        DispatchWaiting();
        return;
    }
    TimerWait = 1;
    int timerSet = MainWindow && SetTimer(MainWindow, WAIT_TIMER_ID, ms, NULL);
    // Without the timer the wait is bounded by the clock alone; with it, a
    // timer that never arrives (its window destroyed meanwhile) cannot hang us.
    DWORD limit = timerSet ? ms + 1000 : ms;
    DWORD start = GetTickCount();
    while (DispatchWaiting() && TimerWait) {
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= limit) {
            TimerWait = 0;
            break;
        }
        // Sleeps until a message arrives (the timer's among them).
        MsgWaitForMultipleObjects(0, NULL, FALSE, limit - elapsed, QS_ALLINPUT);
    }
    if (timerSet)
        KillTimer(MainWindow, WAIT_TIMER_ID);
}

void AppendShortPath(char *buf, size_t cap, const char *path)
{
    char work[PATH_CAP];
    CopyText(work, sizeof work, path);      // display only: a cut text is harmless
    size_t n = strlen(work);
    if (n > SHORT_PATH_LIMIT) {
        char *p = strchr(work, '\\');
        char *q = p ? strchr(p + 1, '\\') : NULL;
        while (q && n - (size_t)(q - p) + 4 > SHORT_PATH_TARGET)
            q = strchr(q + 1, '\\');
        if (q && q - p > 4) {
            // Up to and including p, "...", then the rest from q.
            memmove(p + 4, q, strlen(q) + 1);
            memcpy(p + 1, "...", 3);
        }
    }
    if (strlen(work) > SHORT_PATH_LIMIT)
        memcpy(work + SHORT_PATH_LIMIT - 3, "...", 4);
    AppendText(buf, cap, work);
}
