// The wizard in-process: initialisation, page set-up, navigation under
// Automatic and Custom, Finish, Cancel and the /A start on the final page.
#include "wizardtest.h"

namespace {

// Title message of each page number 0 to 12.
const int TitleOf[13] = {16, 5, 8, 11, 14, 17, 20, 54, 23, 26, 42, 19, 64};

class Wizard : public WizardTest {
protected:
    // Checks that the wizard shows `page`: state, title and the page's controls.
    void ExpectPage(int page, const std::string &where)
    {
        SCOPED_TRACE(where);
        EXPECT_EQ(page, (int)WizardPage);
        EXPECT_EQ(Message(TitleOf[page]), Text(IDC_PAGE_TITLE));
        bool list = page >= 1 && page <= 10;
        bool choices = page == 0 || page == 12;
        EXPECT_EQ(list, Shown(IDC_LIST));
        EXPECT_EQ(list, Shown(IDC_SELECT_ALL));
        EXPECT_EQ(list, Shown(IDC_SELECT_NONE));
        EXPECT_EQ(choices, Shown(IDC_CHOICE1));
        EXPECT_EQ(choices, Shown(IDC_CHOICE2));
        EXPECT_EQ(!list, Shown(IDC_LOWER_TEXT));
        EXPECT_EQ(Message(page == 11 ? 63 : 46), Text(IDC_NEXT));
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(dlg, IDC_BACK)));
        EXPECT_EQ(page != 0, IsWindowEnabled(GetDlgItem(dlg, IDC_BACK)) != 0);
    }
    void Choose(int id)
    {
        SendDlgItemMessageA(dlg, id, BM_CLICK, 0, 0);
    }
};

TEST_F(Wizard, InitialisationLabelsCaptionFontsAndPlace)
{
    MakeOwner("Uninstall Orders");
    HFONT title = CreateFontA(-21, 0, 0, 0, FW_BOLD, TRUE, 0, 0, 0, 0, 0, 0, FF_ROMAN, "Times New Roman");
    TitleFont = title;
    FontCharSet = 0;
    Open();
    EXPECT_EQ(dlg, WizardWindow);
    char caption[256];
    GetWindowTextA(dlg, caption, sizeof caption);
    EXPECT_STREQ("Uninstall Orders", caption);
    EXPECT_EQ(Message(47), Text(IDC_BACK));
    EXPECT_EQ(Message(48), Text(IDC_CANCEL));
    EXPECT_EQ(Message(49), Text(IDC_SELECT_ALL));
    EXPECT_EQ(Message(50), Text(IDC_SELECT_NONE));

    // Welcome page: texts with the product title, Automatic marked.
    ExpectPage(0, "welcome");
    EXPECT_EQ(MessageWithTitle(7), Text(IDC_UPPER_TEXT));
    EXPECT_NE(std::string::npos, Text(IDC_UPPER_TEXT).find("Orders uninstall"));
    EXPECT_EQ(Message(10), Text(IDC_LOWER_TEXT));
    EXPECT_EQ(Message(60), Text(IDC_CHOICE1));
    EXPECT_EQ(Message(61), Text(IDC_CHOICE2));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dlg, IDC_CHOICE1));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dlg, IDC_CHOICE2));
    EXPECT_EQ(GetDlgItem(dlg, IDC_NEXT), GetFocus());
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, IDC_BAR_FRAME)));

    // One sixth wider than the template, centred on the screen.
    RECT units = {0, 0, 267, 205};
    MapDialogRect(dlg, &units);
    RECT client, window;
    GetClientRect(dlg, &client);
    GetWindowRect(dlg, &window);
    int wider = client.right - units.right;
    EXPECT_NEAR(units.right / 6, wider, 4) << "template width " << units.right;
    EXPECT_EQ(units.bottom, client.bottom);
    int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
    EXPECT_NEAR((sw - (window.right - window.left)) / 2, window.left, 1);
    EXPECT_NEAR((sh - (window.bottom - window.top)) / 2, window.top, 1);

    // Controls widened from the client origin: Cancel's template x 208 and width 50.
    RECT cancel = {208, 184, 258, 198};
    MapDialogRect(dlg, &cancel);
    RECT got;
    GetWindowRect(GetDlgItem(dlg, IDC_CANCEL), &got);
    MapWindowPoints(NULL, dlg, (POINT *)&got, 2);
    EXPECT_EQ(cancel.left + cancel.left / 6, got.left);
    EXPECT_EQ(cancel.right + cancel.right / 6, got.right);
    EXPECT_EQ(cancel.top, got.top);

    // Light dialog font on the controls, the title font on the page title.
    ASSERT_TRUE(DialogFont != NULL);
    LOGFONTA lf;
    ASSERT_EQ((int)sizeof lf, GetObjectA(DialogFont, sizeof lf, &lf));
    EXPECT_EQ(300, lf.lfWeight);
    EXPECT_EQ(0, lf.lfCharSet);
    EXPECT_STREQ("MS Sans Serif", lf.lfFaceName);
    for (int id : {IDC_NEXT, IDC_BACK, IDC_CANCEL, IDC_LIST, IDC_UPPER_TEXT, IDC_LOWER_TEXT, IDC_CHOICE1})
        EXPECT_EQ((LRESULT)DialogFont, SendDlgItemMessageA(dlg, id, WM_GETFONT, 0, 0)) << "control " << id;
    EXPECT_EQ((LRESULT)title, SendDlgItemMessageA(dlg, IDC_PAGE_TITLE, WM_GETFONT, 0, 0));

    // The bar's inner rectangle: the frame control inset by one pixel.
    RECT frame;
    GetWindowRect(GetDlgItem(dlg, IDC_BAR_FRAME), &frame);
    MapWindowPoints(NULL, dlg, (POINT *)&frame, 2);
    EXPECT_EQ(frame.left + 1, BarRect.left);
    EXPECT_EQ(frame.top + 1, BarRect.top);
    EXPECT_EQ(frame.right - 1, BarRect.right);
    EXPECT_EQ(frame.bottom - 1, BarRect.bottom);

    DestroyWindow(dlg);
    dlg = NULL;
    TitleFont = NULL;
    DeleteObject(title);
}

TEST_F(Wizard, NavigationCases)
{
    enum { NEXT = IDC_NEXT, BACK = IDC_BACK, AUTO = IDC_CHOICE1, CUSTOM = IDC_CHOICE2 };
    struct Row {
        const char *name;
        bool icons, services, files, registry, backups;
        std::vector<std::pair<int, int>> steps;     // action, page expected afterwards
    };
    const Row rows[] = {
        {"custom with only icons and services", true, true, false, false, false,
         {{CUSTOM, 0}, {NEXT, 9}, {NEXT, 10}, {NEXT, 11}, {BACK, 10}, {BACK, 9}, {BACK, 0}}},
        {"automatic with backups", false, false, true, false, true,
         {{NEXT, 12}, {NEXT, 11}, {BACK, 12}, {BACK, 0}}},
        {"automatic without backups", false, false, true, false, false,
         {{NEXT, 11}, {BACK, 0}}},
        {"empty inventory under custom", false, false, false, false, false,
         {{CUSTOM, 0}, {NEXT, 11}, {BACK, 0}}},
        {"automatic, rollback, back, custom: the list pages and no rollback page", false, true,
         true, true, true,
         {{NEXT, 12}, {AUTO, 12}, {BACK, 0}, {CUSTOM, 0}, {NEXT, 1}, {NEXT, 8}, {NEXT, 10},
          {NEXT, 11}, {BACK, 10}, {BACK, 8}, {BACK, 1}, {BACK, 0}}},
        {"custom, back on the welcome page stays", false, false, true, false, false,
         {{CUSTOM, 0}, {BACK, 0}, {NEXT, 1}, {NEXT, 11}}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        TearDown();
        SetUp();
        if (r.icons) AddIcon("Orders");
        if (r.services) AddService("OrderSvc");
        if (r.files) AddFile(AppFileList, "C:\\APP\\A.EXE");
        if (r.registry) {
            RegValueEntry *v = Add<RegValueEntry>(RegValueList);
            StoreText(&v->Key, "Software\\Orders", NAME_CAP);
        }
        HaveBackups = r.backups;
        Open();
        ExpectPage(0, "start");
        int n = 0;
        for (auto [action, page] : r.steps) {
            std::string where = "step " + std::to_string(++n);
            if (action == AUTO || action == CUSTOM)
                Choose(action);
            else
                Click(action);
            ExpectPage(page, where);
        }
        // Stepping alone never ends the wizard.
        EXPECT_EQ(0, FinishPressed);
        EXPECT_EQ(0, Cancelled);
    }
}

TEST_F(Wizard, ChoicesAreStoredWhenThePageIsLeft)
{
    AddFile(AppFileList, "C:\\APP\\A.EXE");
    HaveBackups = 1;
    Open();
    EXPECT_EQ(0, UninstallMethod);      // nothing stored before the page is left
    Click(IDC_NEXT);
    EXPECT_EQ(METHOD_AUTOMATIC, UninstallMethod);
    // Rollback page: No is marked while Rollback is 0; Yes is stored on Next.
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dlg, IDC_CHOICE2));
    EXPECT_EQ(Message(51), Text(IDC_CHOICE1));
    EXPECT_EQ(Message(52), Text(IDC_CHOICE2));
    EXPECT_EQ(Message(65), Text(IDC_UPPER_TEXT));
    EXPECT_EQ(Message(66), Text(IDC_LOWER_TEXT));
    SendDlgItemMessageA(dlg, IDC_CHOICE1, BM_CLICK, 0, 0);
    EXPECT_EQ(0, Rollback);
    Click(IDC_NEXT);
    EXPECT_EQ(1, Rollback);
    EXPECT_EQ(PAGE_FINAL, (int)WizardPage);
    EXPECT_EQ(MessageWithTitle(13), Text(IDC_UPPER_TEXT));
    EXPECT_EQ(Message(22), Text(IDC_LOWER_TEXT));
    // Back shows Yes marked again; then the welcome page keeps Custom once chosen.
    Click(IDC_BACK);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dlg, IDC_CHOICE1));
    Click(IDC_BACK);
    SendDlgItemMessageA(dlg, IDC_CHOICE2, BM_CLICK, 0, 0);
    Click(IDC_NEXT);
    EXPECT_EQ(METHOD_CUSTOM, UninstallMethod);
    Click(IDC_BACK);
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(dlg, IDC_CHOICE2));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(dlg, IDC_CHOICE1));
}

TEST_F(Wizard, FinishSetsTheFlagAndKeepsThePage)
{
    Open();
    Click(IDC_NEXT);
    ASSERT_EQ(PAGE_FINAL, (int)WizardPage);
    EXPECT_EQ(0, FinishPressed);
    Click(IDC_NEXT);
    EXPECT_EQ(1, FinishPressed);
    EXPECT_EQ(PAGE_FINAL, (int)WizardPage);
    EXPECT_TRUE(IsWindowVisible(dlg));
    EXPECT_EQ(0, Cancelled);
}

// Posts Esc to the focused control and pumps through the dialog filter, as
// the run flow's wait does.
void PressEscape(HWND dlg)
{
    PostMessageA(GetFocus(), WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < 300) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (!IsDialogMessageA(dlg, &msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
    }
}

TEST_F(Wizard, CancelAsksAndNoLeavesThePage)
{
    struct Row { const char *how; };
    const Row rows[] = {{"Esc"}, {"Cancel button"}, {"close box"}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.how);
        TearDown();
        SetUp();
        MakeOwner("Uninstall Orders");
        AddIcon("Orders");
        Open();
        SendDlgItemMessageA(dlg, IDC_CHOICE2, BM_CLICK, 0, 0);
        Click(IDC_NEXT);
        ASSERT_EQ(9, (int)WizardPage);
        SetLineSelected(0, true);
        AnswerDialogs({IDNO});
        std::string how = r.how;
        if (how == "Esc")
            PressEscape(dlg);
        else if (how == "close box")
            SendMessageA(dlg, WM_SYSCOMMAND, SC_CLOSE, 0);
        else
            Click(IDC_CANCEL);
        PumpFor(50);
        EXPECT_EQ(0, StopAnswering()) << "no question was asked";
        std::vector<SeenDialog> asked = AnsweredDialogs();
        ASSERT_EQ(1u, asked.size());
        EXPECT_EQ(Message(25), asked[0].caption);
        EXPECT_EQ(Message(59), asked[0].text);
        EXPECT_EQ(0, Cancelled);
        EXPECT_EQ(9, (int)WizardPage);
        EXPECT_TRUE(IsWindowVisible(dlg));
        EXPECT_EQ(std::vector<int>{1}, Selections());
        EXPECT_EQ(0, IconList.Count ? ENTRY_AT(IconEntry, IconList, 0)->Selected : -1)
            << "Cancel stores nothing";
    }
}

TEST_F(Wizard, CancelYesSetsTheFlagAndHidesTheDialog)
{
    Open();
    AnswerDialogs({IDYES});
    Click(IDC_CANCEL);
    PumpFor(20);
    EXPECT_EQ(0, StopAnswering());
    EXPECT_EQ(1, Cancelled);
    EXPECT_EQ(0, FinishPressed);
    EXPECT_TRUE(IsWindow(dlg)) << "the run flow destroys it, not the wizard";
    EXPECT_FALSE(IsWindowVisible(dlg));
    // A second Cancel (a queued click) asks nothing more.
    AnswerDialogs({IDYES});
    Click(IDC_CANCEL);
    EXPECT_EQ(1, StopAnswering());
}

TEST_F(Wizard, AutomaticStartOpensOnTheFinalPageWithoutNextAndBack)
{
    HaveBackups = 1;
    AddFile(AppFileList, "C:\\APP\\A.EXE");
    UninstallMethod = METHOD_AUTOMATIC;
    WizardPage = PAGE_FINAL;
    Open();
    EXPECT_EQ(PAGE_FINAL, (int)WizardPage);
    EXPECT_EQ(Message(19), Text(IDC_PAGE_TITLE));
    EXPECT_EQ(MessageWithTitle(13), Text(IDC_UPPER_TEXT));
    for (int id : {IDC_NEXT, IDC_BACK}) {
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, id))) << "control " << id;
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dlg, id))) << "control " << id;
    }
    EXPECT_TRUE(Shown(IDC_CANCEL));
    // Back never leaves the final page; the buttons stay hidden.
    Click(IDC_BACK);
    EXPECT_EQ(PAGE_FINAL, (int)WizardPage);
    EXPECT_FALSE(IsWindowVisible(GetDlgItem(dlg, IDC_BACK)));
}

TEST_F(Wizard, CommandsDuringTheRunOnlyCancel)
{
    Open();
    Click(IDC_NEXT);
    Click(IDC_NEXT);
    ASSERT_EQ(1, FinishPressed);
    // What the uninstall driver does when the run starts.
    ProgressStarted = 1;
    EnableWindow(GetDlgItem(dlg, IDC_NEXT), FALSE);
    EnableWindow(GetDlgItem(dlg, IDC_BACK), FALSE);
    FinishPressed = 0;
    Click(IDC_BACK);
    Click(IDC_NEXT);
    EXPECT_EQ(PAGE_FINAL, (int)WizardPage);
    EXPECT_EQ(0, FinishPressed);
    AnswerDialogs({IDYES});
    Click(IDC_CANCEL);
    PumpFor(20);
    EXPECT_EQ(0, StopAnswering());
    EXPECT_EQ(1, Cancelled);
}

TEST_F(Wizard, ListNotificationsAreNotCommands)
{
    AddFile(AppFileList, "C:\\APP\\A.EXE");
    Open();
    SendDlgItemMessageA(dlg, IDC_CHOICE2, BM_CLICK, 0, 0);
    Click(IDC_NEXT);
    ASSERT_EQ(1, (int)WizardPage);
    // Notification code 1 with id 1: must not act as Next.
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_NEXT, 1), 0);
    SendMessageA(dlg, WM_COMMAND, MAKEWPARAM(IDC_LIST, LBN_SELCHANGE), (LPARAM)GetDlgItem(dlg, IDC_LIST));
    EXPECT_EQ(1, (int)WizardPage);
}

} // namespace
