// The progress operations: path shortening, the progress text, and the
// timed pump (dispatches, ends on the timer, never hangs without one).
#include <gtest/gtest.h>
#include <string.h>
#include "support/kvtest.h"
#include "app/background.h"
#include "base/state.h"
#include "resources/resource.h"
#include "ui/progress.h"

namespace {

TEST(AppendShortPath, ShortensForDisplay)
{
    struct Row { const char *path, *want; };
    const Row rows[] = {
        {"C:\\PROGRAM FILES\\COMMON FILES\\SHARED\\TOOLS\\VIEWER.DLL",
         "C:\\...\\SHARED\\TOOLS\\VIEWER.DLL"},
        {"C:\\PROGRAM FILES\\SOME VENDOR\\SOME PRODUCT\\BIN\\A_RATHER_LONG_NAME.DLL",
         "C:\\...\\A_RATHER_LONG_NAME.DLL"},
        {"C:\\WINDOWS\\SYSTEM\\A_VERY_LONG_FILE_NAME_THAT_GOES_ON_AND_ON.DLL",
         "C:\\WINDOWS\\SYSTEM\\A_VERY_LONG_FILE_NAME_THAT_..."},
        {"C:\\APP\\SHORT.DLL", "C:\\APP\\SHORT.DLL"},
        // 48 characters exactly: unchanged.
        {"C:\\123456789\\123456789\\123456789\\123456789\\12345",
         "C:\\123456789\\123456789\\123456789\\123456789\\12345"},
        // No backslash at all: only cut.
        {"ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJ",
         "ABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDEFGHIJABCDE..."},
        // The last backslash leaves too much: only cut.
        {"C:\\ABC\\DEFGHIJKLMNOPQRSTUVWXYZDEFGHIJKLMNOPQRSTU.DLL",
         "C:\\ABC\\DEFGHIJKLMNOPQRSTUVWXYZDEFGHIJKLMNOPQR..."},
    };
    for (const Row &r : rows) {
        char buf[128] = "Prefix:\r\n";
        AppendShortPath(buf, sizeof buf, r.path);
        EXPECT_EQ(std::string("Prefix:\r\n") + r.want, buf) << r.path;
        EXPECT_LE(strlen(buf) - 9, 48u) << r.path;
    }
    // The caller's buffer bounds the result.
    char small[12] = "ab";
    AppendShortPath(small, sizeof small, "C:\\APP\\SHORT.DLL");
    EXPECT_STREQ("abC:\\APP\\SH", small);
}

std::vector<std::string> Observed;
void Observe(const char *text)
{
    Observed.push_back(text ? text : "<bar>");
}

std::string ControlText(HWND dlg, int id)
{
    char buf[1100];
    GetDlgItemTextA(dlg, id, buf, sizeof buf);
    return buf;
}

TEST(ShowProgress, SetsTheLowerTextOrOnlyTheBar)
{
    HWND w = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, NULL, NULL, NULL, NULL);
    ASSERT_TRUE(w != NULL);
    HWND lower = CreateWindowExA(0, "STATIC", "before", WS_CHILD, 0, 0, 200, 80, w,
                                 (HMENU)IDC_LOWER_TEXT, NULL, NULL);
    CreateWindowExA(0, "STATIC", "", WS_CHILD, 0, 100, 200, 20, w, (HMENU)IDC_BAR_FRAME, NULL,
                    NULL);
    ASSERT_TRUE(lower != NULL);
    WizardWindow = w;
    ProgressObserver = Observe;
    Observed.clear();

    ShowProgress("Removing File:\r\nC:\\APP\\A.DLL");
    EXPECT_EQ("\r\n\r\nRemoving File:\r\nC:\\APP\\A.DLL", ControlText(w, IDC_LOWER_TEXT));
    ShowProgress(NULL);
    EXPECT_EQ("\r\n\r\nRemoving File:\r\nC:\\APP\\A.DLL", ControlText(w, IDC_LOWER_TEXT));
    // A text longer than the display buffer is cut, not overrun.
    std::string longText(1500, 'x');
    ShowProgress(longText.c_str());
    EXPECT_EQ(1023u, ControlText(w, IDC_LOWER_TEXT).size());

    // Silent: no window to change, the pump still runs.
    WizardWindow = NULL;
    ShowProgress("silent");
    EXPECT_EQ(1023u, ControlText(w, IDC_LOWER_TEXT).size());
    ASSERT_EQ(4u, Observed.size());
    EXPECT_EQ("<bar>", Observed[1]);
    EXPECT_EQ("silent", Observed[3]);
    ProgressObserver = NULL;
    DestroyWindow(w);
}

int Dispatched;
LRESULT CALLBACK CountingProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    if (m == WM_USER + 7)
        Dispatched++;
    return DefWindowProcA(w, m, wp, lp);
}

HWND CountingWindow()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "KvCounting";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "KvCounting", "", WS_POPUP, 0, 0, 10, 10, NULL, NULL, wc.hInstance,
                           NULL);
}

int TimerMessages;
HHOOK GetMessageHook;
LRESULT CALLBACK WatchTimer(int code, WPARAM wp, LPARAM lp)
{
    const MSG *m = (const MSG *)lp;
    if (code == HC_ACTION && wp == PM_REMOVE && m->message == WM_TIMER &&
        m->hwnd == MainWindow && m->wParam == WAIT_TIMER_ID)
        TimerMessages++;
    return CallNextHookEx(GetMessageHook, code, wp, lp);
}

TEST(PumpMessages, DispatchesAndEndsOnTheMainWindowTimer)
{
    HWND counting = CountingWindow();
    ASSERT_TRUE(counting != NULL);
    ASSERT_TRUE(RegisterMainClass(GetModuleHandleA(NULL)));
    Silent = 1;     // keeps the background window hidden
    ASSERT_TRUE(CreateMainWindow(GetModuleHandleA(NULL), SW_HIDE));

    Dispatched = 0;
    PostMessageA(counting, WM_USER + 7, 0, 0);
    PumpMessages(0);
    EXPECT_EQ(1, Dispatched);
    EXPECT_EQ(0, TimerWait);

    PostMessageA(counting, WM_USER + 7, 0, 0);
    PostMessageA(counting, WM_USER + 7, 0, 0);
    TimerMessages = 0;
    GetMessageHook = SetWindowsHookExA(WH_GETMESSAGE, WatchTimer, NULL, GetCurrentThreadId());
    PumpMessages(30);
    UnhookWindowsHookEx(GetMessageHook);
    EXPECT_EQ(3, Dispatched);
    EXPECT_EQ(0, TimerWait);
    // The wait ended with the timer on the main window, not by another bound.
    EXPECT_EQ(1, TimerMessages);
    // The timer is gone afterwards: no stray timer message clears a later wait.
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, MainWindow, WM_TIMER, WM_TIMER, PM_NOREMOVE));

    // The pump leaves the quit message for the final loop.
    PostQuitMessage(5);
    PumpMessages(20);
    ASSERT_TRUE(PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(5u, msg.wParam);

    DestroyWindow(MainWindow);
    // DestroyWindow posted a quit message: take it away.
    PeekMessageA(&msg, NULL, WM_QUIT, WM_QUIT, PM_REMOVE);
    DestroyWindow(counting);
    Silent = 0;
}

TEST(PumpMessages, EndsWithoutAMainWindow)
{
    HWND counting = CountingWindow();
    Dispatched = 0;
    for (HWND main : {(HWND)NULL, counting}) {
        // No window, or one that is destroyed: the timer cannot be set on it.
        if (main == counting) {
            DestroyWindow(counting);
            counting = NULL;
        }
        MainWindow = main;
        PumpMessages(50);
        EXPECT_EQ(0, TimerWait);
    }
    MainWindow = NULL;
}

}  // namespace
