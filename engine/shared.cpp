#include "shared.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../resources/resource.h"
#include "../ui/dialogs.h"
#include "../ui/messages.h"
#include <stdlib.h>

int NoToAll;

static const char SharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

long SharedCount(DWORD type, const BYTE *data, DWORD size)
{
    if (type == REG_DWORD && size == 4)
        return (long)*(const DWORD *)data;
    if (type == REG_BINARY && size == 4)
        return (long)(data[0] | data[1] << 8 | data[2] << 16 | (DWORD)data[3] << 24);
    if (type == REG_SZ) {
        char text[260];
        CopyTextN(text, sizeof text, (const char *)data, size);
        return strtol(text, NULL, 10);
    }
    return -1;
}

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

int ReleaseSharedFile(const char *path, long *countFound)
{
    if (!Version4OrLater)
        return SHARED_NOT_COUNTED;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedKey, 0, 0x3F, &key) != ERROR_SUCCESS)
        return SHARED_NOT_COUNTED;
    BYTE data[256];
    DWORD type = 0, size = sizeof data;
    if (RegQueryValueExA(key, path, NULL, &type, data, &size) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return SHARED_NOT_COUNTED;
    }
    long count = SharedCount(type, data, size);
    if (countFound)
        *countFound = count;
    int result = SHARED_NOT_COUNTED;
    if (count == 1) {
        char first[PATH_CAP], second[PATH_CAP];
        LoadMessage(38, first, sizeof first);
        LoadMessage(39, second, sizeof second);
        FormatOneString(DialogText, sizeof DialogText, first, path);
        AppendText(DialogText, sizeof DialogText, second);
        INT_PTR answer = IDC_SHARED_NO;
        if (!Silent && !NoToAll) {
            answer = DialogBoxParamA(ProgramInstance ? ProgramInstance : GetModuleHandleA(NULL),
                                     MAKEINTRESOURCEA(IDD_SHARED), MainWindow, SharedDlg, 0);
            if (answer == IDOK)
                NoToAll = 1;
            if (WizardWindow)
                SetFocus(WizardWindow);
        }
        if (!Preview)
            RegDeleteValueA(key, path);
        // Anything but Yes (a failed dialog too) keeps the file.
        result = answer == IDC_SHARED_YES ? SHARED_REMOVE : SHARED_KEEP;
    } else if (count >= 2) {
        DWORD lowered = (DWORD)(count - 1);
        if (!Preview)
            RegSetValueExA(key, path, 0, REG_DWORD, (const BYTE *)&lowered, sizeof lowered);
        result = SHARED_KEEP;
    }
    RegCloseKey(key);
    return result;
}
