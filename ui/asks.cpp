// The shared-component question (its own dialog) and the message box that
// asks for the database server to be stopped.
#include "asks.h"
#include "dialogs.h"
#include "messages.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../resources/resource.h"

extern "C" __declspec(dllexport) INT_PTR CALLBACK SharedDlg(HWND dlg, UINT msg, WPARAM wp, LPARAM lp)
{
    (void)lp;
    if (msg == WM_INITDIALOG) {
        ScaleDialog(dlg);
        SetDlgItemTextA(dlg, IDC_UPPER_TEXT, DialogText);
        char text[PATH_CAP];
        LoadMessage(62, text, sizeof text);
        SetWindowTextA(dlg, text);
        LoadMessage(51, text, sizeof text);
        SetDlgItemTextA(dlg, IDC_SHARED_YES, text);
        LoadMessage(52, text, sizeof text);
        SetDlgItemTextA(dlg, IDC_SHARED_NO, text);
        LoadMessage(53, text, sizeof text);
        SetDlgItemTextA(dlg, IDOK, text);
        RECT r;
        GetWindowRect(dlg, &r);
        int w = r.right - r.left, h = r.bottom - r.top;
        MoveWindow(dlg, (ScreenWidth - w) / 2, (ScreenHeight - h) / 2, w, h, FALSE);
        return TRUE;
    }
    if (msg == WM_COMMAND) {
        EndDialog(dlg, LOWORD(wp));
        return TRUE;
    }
    return FALSE;
}

int AskRemoveShared(const char *path)
{
    char first[PATH_CAP], second[PATH_CAP];
    LoadMessage(38, first, sizeof first);
    LoadMessage(39, second, sizeof second);
    FormatOneString(DialogText, sizeof DialogText, first, path);
    AppendText(DialogText, sizeof DialogText, second);
    INT_PTR answer = DialogBoxParamA(ProgramInstance ? ProgramInstance : GetModuleHandleA(NULL),
                                     MAKEINTRESOURCEA(IDD_SHARED), MainWindow, SharedDlg, 0);
    if (WizardWindow)
        SetFocus(WizardWindow);
    // The third button, "No to All", is the default one: Enter gives it too.
    if (answer == IDOK)
        return SHARED_ANSWER_NO_TO_ALL;
    return answer == IDC_SHARED_YES ? SHARED_ANSWER_YES : SHARED_ANSWER_NO;
}

int AskStopServer(void)
{
    char text[512], caption[PATH_CAP];
    LoadMessage(28, text, sizeof text);
    LoadMessage(25, caption, sizeof caption);
    return MessageBoxA(MainWindow, text, caption, MB_ABORTRETRYIGNORE);
}
