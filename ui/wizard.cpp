#include "wizard.h"
#include "dialogs.h"
#include "lists.h"
#include "messages.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../log/inventory.h"
#include "../resources/resource.h"

// Title and text messages of the welcome page (0) and list pages 1 to 10.
static const int PageTitleMessage[LAST_LIST_PAGE + 1] = {16, 5, 8, 11, 14, 17, 20, 54, 23, 26, 42};
static const int PageTextMessage[LAST_LIST_PAGE + 1] = {7, 6, 9, 12, 15, 18, 21, 55, 24, 27, 41};

// Next and Back were hidden because the run started on the final page (/A).
static int NavigationHidden;

static int IsListPage(int page)
{
    return page >= FIRST_LIST_PAGE && page <= LAST_LIST_PAGE;
}

int StepPage(int page, int forward)
{
    if (UninstallMethod != METHOD_CUSTOM) {
        if (forward) {
            if (page == PAGE_WELCOME)
                return HaveBackups ? PAGE_ROLLBACK : PAGE_FINAL;
            return PAGE_FINAL;
        }
        if (page == PAGE_FINAL)
            return HaveBackups ? PAGE_ROLLBACK : PAGE_WELCOME;
        return PAGE_WELCOME;
    }
    // The rollback page has no place among the Custom pages: step as from the final page.
    if (page == PAGE_ROLLBACK)
        page = PAGE_FINAL;
    if (forward) {
        if (page == PAGE_FINAL)
            return PAGE_FINAL;
        do
            page++;
        while (IsListPage(page) && ListPageCount(page) == 0);
        return page > LAST_LIST_PAGE ? PAGE_FINAL : page;
    }
    if (page == PAGE_WELCOME)
        return PAGE_WELCOME;
    if (page == PAGE_FINAL)
        page = LAST_LIST_PAGE + 1;
    do
        page--;
    while (IsListPage(page) && ListPageCount(page) == 0);
    return page;
}

// To show a control is to enable it and make it visible; to hide one is the opposite.
static void ShowControl(HWND dialog, int id, int show)
{
    HWND control = GetDlgItem(dialog, id);
    EnableWindow(control, show);
    ShowWindow(control, show ? SW_SHOW : SW_HIDE);
}

static void EnableBack(HWND dialog, int enable)
{
    EnableWindow(GetDlgItem(dialog, IDC_BACK), enable && !NavigationHidden);
}

static void SetMessageText(HWND dialog, int id, int number)
{
    char text[DIALOG_TEXT_CAP];
    LoadMessage(number, text, sizeof text);
    SetDlgItemTextA(dialog, id, text);
}

// Message `number` with ProductTitle in place of its "%s".
static void SetProductText(HWND dialog, int id, int number)
{
    char format[DIALOG_TEXT_CAP], text[DIALOG_TEXT_CAP];
    LoadMessage(number, format, sizeof format);
    FormatOneString(text, sizeof text, format, ProductTitle);
    SetDlgItemTextA(dialog, id, text);
}

// A page shows either the list with its two buttons, or the lower text,
// with or without the two choices.
static void ShowPageControls(HWND dialog, int list, int choices)
{
    ShowControl(dialog, IDC_LIST, list);
    ShowControl(dialog, IDC_SELECT_ALL, list);
    ShowControl(dialog, IDC_SELECT_NONE, list);
    ShowControl(dialog, IDC_CHOICE1, choices);
    ShowControl(dialog, IDC_CHOICE2, choices);
    ShowControl(dialog, IDC_LOWER_TEXT, !list);
}

static void ShowChoicePage(HWND dialog, int first, int second, int firstMarked)
{
    ShowPageControls(dialog, 0, 1);
    SetMessageText(dialog, IDC_CHOICE1, first);
    SetMessageText(dialog, IDC_CHOICE2, second);
    CheckRadioButton(dialog, IDC_CHOICE1, IDC_CHOICE2, firstMarked ? IDC_CHOICE1 : IDC_CHOICE2);
}

static void SetUpPage(HWND dialog)
{
    int page = WizardPage;
    SetMessageText(dialog, IDC_NEXT, page == PAGE_FINAL ? 63 : 46);
    if (IsListPage(page)) {
        ShowPageControls(dialog, 1, 0);
        EnableBack(dialog, 1);
        LoadMessage(PageTitleMessage[page], PageTitle, sizeof PageTitle);
        LoadMessage(PageTextMessage[page], DialogText, sizeof DialogText);
        ShownCount = ListPageCount(page);
        SendDlgItemMessageA(dialog, IDC_LIST, LB_RESETCONTENT, 0, 0);
        SetDlgItemTextA(dialog, IDC_UPPER_TEXT, DialogText);
        SetDlgItemTextA(dialog, IDC_PAGE_TITLE, PageTitle);
        FillList(dialog, page);
    } else if (page == PAGE_ROLLBACK) {
        ShowChoicePage(dialog, 51, 52, Rollback != 0);
        SetMessageText(dialog, IDC_UPPER_TEXT, 65);
        SetMessageText(dialog, IDC_LOWER_TEXT, 66);
        SetMessageText(dialog, IDC_PAGE_TITLE, 64);
        EnableBack(dialog, 1);
    } else if (page == PAGE_FINAL) {
        ShowPageControls(dialog, 0, 0);
        SetProductText(dialog, IDC_UPPER_TEXT, 13);
        SetMessageText(dialog, IDC_LOWER_TEXT, Preview ? 69 : 22);
        SetMessageText(dialog, IDC_PAGE_TITLE, 19);
        EnableBack(dialog, 1);
    } else {
        ShowChoicePage(dialog, 60, 61, UninstallMethod != METHOD_CUSTOM);
        SetProductText(dialog, IDC_UPPER_TEXT, 7);
        SetMessageText(dialog, IDC_LOWER_TEXT, 10);
        SetMessageText(dialog, IDC_PAGE_TITLE, 16);
        EnableBack(dialog, 0);      // it stays visible
    }
    HWND next = GetDlgItem(dialog, IDC_NEXT);
    if (IsWindowEnabled(next))
        SendMessageA(dialog, WM_NEXTDLGCTL, (WPARAM)next, TRUE);
}

static void StoreChoices(HWND dialog)
{
    int page = WizardPage;
    if (page == PAGE_WELCOME)
        UninstallMethod = IsDlgButtonChecked(dialog, IDC_CHOICE1) == BST_CHECKED ? METHOD_AUTOMATIC
                                                                                 : METHOD_CUSTOM;
    else if (page == PAGE_ROLLBACK)
        Rollback = IsDlgButtonChecked(dialog, IDC_CHOICE1) == BST_CHECKED ? 1 : 0;
    else if (IsListPage(page))
        StoreList(dialog, page);
}

static void Step(HWND dialog, int forward)
{
    StoreChoices(dialog);
    WizardPage = (unsigned char)StepPage(WizardPage, forward);
    SetUpPage(dialog);
}

static void AskCancel(HWND dialog)
{
    char text[DIALOG_TEXT_CAP], caption[PATH_CAP];
    LoadMessage(59, text, sizeof text);
    LoadMessage(25, caption, sizeof caption);
    if (MessageBoxA(dialog, text, caption, MB_YESNO) == IDYES) {
        Cancelled = 1;
        // Hidden, not destroyed: the run flow destroys it at the end.
        ShowWindow(dialog, SW_HIDE);
    }
}

static void Initialise(HWND dialog)
{
    ScaleDialog(dialog);
    if (TitleFont)
        SendDlgItemMessageA(dialog, IDC_PAGE_TITLE, WM_SETFONT, (WPARAM)TitleFont, FALSE);
    SetMessageText(dialog, IDC_BACK, 47);
    SetMessageText(dialog, IDC_CANCEL, 48);
    SetMessageText(dialog, IDC_SELECT_ALL, 49);
    SetMessageText(dialog, IDC_SELECT_NONE, 50);
    char caption[PATH_CAP] = "";
    if (MainWindow)
        GetWindowTextA(MainWindow, caption, sizeof caption);
    SetWindowTextA(dialog, caption);
    RECT r;
    GetWindowRect(dialog, &r);
    int screenWidth = ScreenWidth > 0 ? ScreenWidth : GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = ScreenHeight > 0 ? ScreenHeight : GetSystemMetrics(SM_CYSCREEN);
    int width = r.right - r.left, height = r.bottom - r.top;
    MoveWindow(dialog, (screenWidth - width) / 2, (screenHeight - height) / 2, width, height, FALSE);
    WizardWindow = dialog;
    NavigationHidden = WizardPage == PAGE_FINAL;
    if (NavigationHidden) {
        ShowControl(dialog, IDC_NEXT, 0);
        ShowControl(dialog, IDC_BACK, 0);
    }
    SetUpPage(dialog);
    ShowWindow(GetDlgItem(dialog, IDC_BAR_FRAME), SW_HIDE);
    MakeBarFrameHollow(dialog);
    RecordBarRect(dialog);
}

static void Paint(HWND dialog)
{
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(dialog, &ps);
    if (!dc)
        return;
    BITMAP bm;
    if (WizardBitmap && GetObjectA(WizardBitmap, sizeof bm, &bm)) {
        HDC memory = CreateCompatibleDC(dc);
        if (memory) {
            HGDIOBJ old = SelectObject(memory, WizardBitmap);
            BitBlt(dc, 12, 12, bm.bmWidth, bm.bmHeight, memory, 0, 0, SRCCOPY);
            SelectObject(memory, old);
            DeleteDC(memory);
        }
    }
    if (ProgressStarted)
        PaintBar(dc);
    EndPaint(dialog, &ps);
}

static void Command(HWND dialog, WPARAM command)
{
    switch (command) {
    case IDC_NEXT:
        // Keys can still reach the disabled buttons' ids once the run has begun.
        if (ProgressStarted)
            break;
        if (WizardPage == PAGE_FINAL)
            FinishPressed = 1;
        else
            Step(dialog, 1);
        break;
    case IDC_BACK:
        if (!ProgressStarted && !NavigationHidden)
            Step(dialog, 0);
        break;
    case IDC_CANCEL:
        if (!Cancelled)
            AskCancel(dialog);
        break;
    case IDC_SELECT_ALL:
        SelectAllLines(dialog, 1);
        break;
    case IDC_SELECT_NONE:
        SelectAllLines(dialog, 0);
        break;
    }
}

extern "C" __declspec(dllexport) INT_PTR CALLBACK ItemDlg(HWND dialog, UINT message, WPARAM wp, LPARAM lp)
{
    (void)lp;
    switch (message) {
    case WM_INITDIALOG:
        Initialise(dialog);
        return TRUE;
    case WM_COMMAND:
        Command(dialog, wp);
        return TRUE;
    case WM_PAINT:
        Paint(dialog);
        return TRUE;
    default:
        return FALSE;
    }
}

HWND CreateWizard(void)
{
    HINSTANCE instance = ProgramInstance ? ProgramInstance : GetModuleHandleA(NULL);
    return CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_WIZARD), MainWindow, ItemDlg, 0);
}
