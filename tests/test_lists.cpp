// The selection lists: the line of each kind of entry as read back from the
// list box, selections shown and stored, Select All and None, the scroll range.
#include "wizardtest.h"
#include <string.h>

namespace {

int TitleMessage(int page)
{
    static const int t[11] = {0, 5, 8, 11, 14, 17, 20, 54, 23, 26, 42};
    return t[page];
}
int TextMessage(int page)
{
    static const int t[11] = {0, 6, 9, 12, 15, 18, 21, 55, 24, 27, 41};
    return t[page];
}

class Lists : public WizardTest {
protected:
    // Opens the wizard under Custom and steps to list page `page`.
    void GoToPage(int page)
    {
        Open();
        SendDlgItemMessageA(dlg, IDC_CHOICE2, BM_CLICK, 0, 0);
        for (int i = 0; i < 12 && WizardPage != page; i++)
            Click(IDC_NEXT);
        ASSERT_EQ(page, (int)WizardPage);
    }
};

TEST_F(Lists, LineFormats)
{
    std::string data300(300, 'd');
    struct Row {
        const char *name;
        int page;
        void (*fill)(const std::string &);
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {"application files", 1,
         [](const std::string &) {
             AddFile(AppFileList, "C:\\APP\\ORDERS.EXE");
             AddFile(AppFileList, "C:\\APP\\Data\\orders.dat");
         },
         {"C:\\APP\\ORDERS.EXE", "C:\\APP\\Data\\orders.dat"}},
        {"system files", 2,
         [](const std::string &) { AddFile(SysFileList, "C:\\WINDOWS\\SYSTEM\\ORD.DLL"); },
         {"C:\\WINDOWS\\SYSTEM\\ORD.DLL"}},
        {"directories without the trailing backslash", 3,
         [](const std::string &) {
             DirEntry *d = Add<DirEntry>(DirList);
             StoreText(&d->Path, "C:\\APP\\DATA\\", INV_PATH_CAP);
             d = Add<DirEntry>(DirList);
             StoreText(&d->Path, "C:\\", INV_PATH_CAP);
         },
         {"C:\\APP\\DATA", "C:"}},
        {"created INI files", 4,
         [](const std::string &) {
             NewIniEntry *n = Add<NewIniEntry>(NewIniList);
             StoreText(&n->Path, "C:\\WINDOWS\\ORDERS.INI", INV_PATH_CAP);
         },
         {"C:\\WINDOWS\\ORDERS.INI"}},
        {"INI items, one with an empty old value", 5,
         [](const std::string &) {
             IniEntry *e = Add<IniEntry>(IniEntryList);
             StoreText(&e->File, "C:\\WINDOWS\\WIN.INI", INV_PATH_CAP);
             StoreText(&e->Section, "windows", NAME_CAP);
             StoreText(&e->Item, "load", NAME_CAP);
             e = Add<IniEntry>(IniEntryList);
             StoreText(&e->File, "C:\\WINDOWS\\WIN.INI", INV_PATH_CAP);
             StoreText(&e->Section, "Orders", NAME_CAP);
             StoreText(&e->Item, "DataPath", NAME_CAP);
             StoreText(&e->OldValue, "C:\\OLD %s 100%", INI_VALUE_CAP);
         },
         {"C:\\WINDOWS\\WIN.INI: [windows] load=", "C:\\WINDOWS\\WIN.INI: [Orders] DataPath=C:\\OLD %s 100%"}},
        {"created keys with and without a value name", 6,
         [](const std::string &) {
             RegKeyEntry *k = Add<RegKeyEntry>(RegKeyList);
             StoreText(&k->Key, "Software\\Orders\\1.0", NAME_CAP);
             k = Add<RegKeyEntry>(RegKeyList);
             StoreText(&k->Key, "Software\\Orders\\1.0", NAME_CAP);
             StoreText(&k->ValueName, "Path", NAME_CAP);
         },
         {"Software\\Orders\\1.0", "Software\\Orders\\1.0 Value Name: Path"}},
        {"registry trees", 7,
         [](const std::string &) {
             RegTreeEntry *t = Add<RegTreeEntry>(RegTreeList);
             StoreText(&t->Key, "Software\\Orders", NAME_CAP);
         },
         {"Software\\Orders"}},
        {"changed values: first string only, 255 characters with a name", 8,
         [](const std::string &d300) {
             RegValueEntry *v = Add<RegValueEntry>(RegValueList);
             StoreText(&v->Key, "Software\\Orders", NAME_CAP);
             StoreOldData(&v->OldData, &v->OldDataSize, {"one", "two"});
             v = Add<RegValueEntry>(RegValueList);
             StoreText(&v->Key, "Software\\Orders", NAME_CAP);
             StoreText(&v->ValueName, "Long", NAME_CAP);
             StoreOldData(&v->OldData, &v->OldDataSize, {d300.c_str()});
             v = Add<RegValueEntry>(RegValueList);
             StoreText(&v->Key, "Software\\Orders", NAME_CAP);
             StoreOldData(&v->OldData, &v->OldDataSize, {d300.c_str()});
         },
         {"Software\\Orders=one", "Software\\Orders Value Name: Long=" + std::string(255, 'd'),
          "Software\\Orders=" + data300}},
        {"icons", 9, [](const std::string &) { AddIcon("Orders Help"); }, {"Orders Help"}},
        {"sub-system, programs and services", 10,
         [](const std::string &) {
             AddService("OrderSvc");
             AddProgram("Clean up", "C:\\APP\\CLEAN.EXE /ALL");
             AddProgram("", "C:\\APP\\RESET.EXE /Q");
             SetSubSystem("BDE");
         },
         {"BDE", "Clean up", "C:\\APP\\RESET.EXE /Q", "OrderSvc"}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        TearDown();
        SetUp();
        r.fill(data300);
        GoToPage(r.page);
        EXPECT_EQ(r.lines, Lines());
        EXPECT_EQ((int)r.lines.size(), ShownCount);
        EXPECT_EQ(Message(TitleMessage(r.page)), Text(IDC_PAGE_TITLE));
        EXPECT_EQ(Message(TextMessage(r.page)), Text(IDC_UPPER_TEXT));
        EXPECT_STREQ(Text(IDC_PAGE_TITLE).c_str(), PageTitle);
        EXPECT_STREQ(Text(IDC_UPPER_TEXT).c_str(), DialogText);
    }
}

TEST_F(Lists, LongLinesAreCutAt1023Characters)
{
    IniEntry *e = Add<IniEntry>(IniEntryList);
    StoreText(&e->File, std::string(259, 'f').c_str(), INV_PATH_CAP);
    StoreText(&e->Section, std::string(255, 's').c_str(), NAME_CAP);
    StoreText(&e->Item, std::string(255, 'i').c_str(), NAME_CAP);
    StoreText(&e->OldValue, std::string(511, 'v').c_str(), INI_VALUE_CAP);
    char line[LINE_CAP + 8];
    memset(line, '#', sizeof line);
    ListLineText(5, 0, line, LINE_CAP);
    EXPECT_EQ(1023u, strlen(line));
    EXPECT_EQ('#', line[LINE_CAP]);
    GoToPage(5);
    ASSERT_EQ(1u, Lines().size());
    EXPECT_EQ(std::string(line), Lines()[0]);
}

TEST_F(Lists, SelectionsShownAndStoredOnEveryPage)
{
    // Two entries per page, the second starting selected.
    for (int i = 0; i < 2; i++) {
        AddFile(AppFileList, "C:\\APP\\F", i);
        AddFile(SysFileList, "C:\\WINDOWS\\SYSTEM\\S", i);
        Add<DirEntry>(DirList)->Selected = i;
        Add<NewIniEntry>(NewIniList)->Selected = i;
        Add<IniEntry>(IniEntryList)->Selected = i;
        Add<RegKeyEntry>(RegKeyList)->Selected = i;
        Add<RegTreeEntry>(RegTreeList)->Selected = i;
        Add<RegValueEntry>(RegValueList)->Selected = i;
        AddIcon("I", i);
    }
    SetSubSystem("BDE");
    SubSystemSelected = 0;
    AddProgram("P", "P.EXE", 1);
    AddService("S", 0);
    Open();
    SendDlgItemMessageA(dlg, IDC_CHOICE2, BM_CLICK, 0, 0);
    for (int page = 1; page <= 10; page++) {
        Click(IDC_NEXT);
        SCOPED_TRACE("page " + std::to_string(page));
        ASSERT_EQ(page, (int)WizardPage);
        std::vector<int> before = page == 10 ? std::vector<int>{0, 1, 0} : std::vector<int>{0, 1};
        EXPECT_EQ(before, Selections());
        // Flip every line; Next stores the new state.
        for (size_t i = 0; i < before.size(); i++)
            SetLineSelected((int)i, !before[i]);
    }
    Click(IDC_NEXT);
    ASSERT_EQ(PAGE_FINAL, (int)WizardPage);
    for (int page = 1; page <= 10; page++) {
        int lines = ListPageCount(page);
        for (int i = 0; i < lines; i++) {
            int expected = page == 10 ? (i == 1 ? 0 : 1) : (i == 0 ? 1 : 0);
            EXPECT_EQ(expected, *ListChoice(page, i) != 0) << "page " << page << " line " << i;
        }
    }
    EXPECT_EQ(1, SubSystemSelected);
    EXPECT_EQ(0, ENTRY_AT(ProgramEntry, ProgramList, 0)->Selected);
    EXPECT_EQ(1, ENTRY_AT(ServiceEntry, ServiceList, 0)->Selected);
}

TEST_F(Lists, SelectionsSurviveBackAndNext)
{
    for (const char *p : {"C:\\APP\\A", "C:\\APP\\B", "C:\\APP\\C"})
        AddFile(AppFileList, p);
    AddIcon("Orders");
    GoToPage(1);
    SetLineSelected(1, true);
    Click(IDC_NEXT);            // page 9
    ASSERT_EQ(9, (int)WizardPage);
    Click(IDC_BACK);
    EXPECT_EQ((std::vector<int>{0, 1, 0}), Selections());
    SetLineSelected(2, true);
    Click(IDC_BACK);            // welcome: stored on Back too
    EXPECT_EQ(1, ENTRY_AT(FileEntry, AppFileList, 2)->Selected);
    Click(IDC_NEXT);
    EXPECT_EQ((std::vector<int>{0, 1, 1}), Selections());
}

TEST_F(Lists, SelectAllThenBackThenNext)
{
    for (const char *p : {"C:\\APP\\A", "C:\\APP\\B", "C:\\APP\\C"})
        AddFile(AppFileList, p);
    GoToPage(1);
    Click(IDC_SELECT_ALL);
    EXPECT_EQ((std::vector<int>{1, 1, 1}), Selections());
    EXPECT_EQ(0, ENTRY_AT(FileEntry, AppFileList, 0)->Selected) << "only the list box changes";
    Click(IDC_BACK);
    Click(IDC_NEXT);
    EXPECT_EQ((std::vector<int>{1, 1, 1}), Selections());
    Click(IDC_SELECT_NONE);
    EXPECT_EQ((std::vector<int>{0, 0, 0}), Selections());
    Click(IDC_NEXT);
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(0, ENTRY_AT(FileEntry, AppFileList, i)->Selected) << "line " << i;
}

TEST_F(Lists, HorizontalExtentFitsTheWidestLine)
{
    AddFile(AppFileList, "C:\\A");
    std::string wide = "C:\\" + std::string(200, 'W') + "\\WIDE.DAT";
    AddFile(AppFileList, wide.c_str());
    AddFile(AppFileList, "C:\\APP\\SHORTER.TXT");
    GoToPage(1);
    HWND list = GetDlgItem(dlg, IDC_LIST);
    int extent = (int)SendMessageA(list, LB_GETHORIZONTALEXTENT, 0, 0);
    HDC dc = GetDC(dlg);
    SIZE size;
    GetTextExtentPointA(dc, wide.c_str(), (int)wide.size(), &size);
    ReleaseDC(dlg, dc);
    EXPECT_EQ(size.cx, extent);
    RECT client;
    GetClientRect(list, &client);
    EXPECT_GT(extent, client.right) << "the long line needs the scroll bar";
    EXPECT_EQ(0, SendMessageA(list, LB_GETTOPINDEX, 0, 0));
}

TEST_F(Lists, NonSystemFileStartsSelected)
{
    AddFile(SysFileList, "C:\\WINDOWS\\SYSTEM\\KEEP.DLL", 0);
    AddFile(SysFileList, "C:\\WINDOWS\\SYSTEM\\MINE.DLL", 1);  // marked non-system by the log
    GoToPage(2);
    EXPECT_EQ((std::vector<int>{0, 1}), Selections());
}

TEST_F(Lists, PageTenMapping)
{
    struct Row {
        bool subSystem;
        int programs, services;
        std::vector<std::string> lines;
    };
    const Row rows[] = {
        {false, 1, 1, {"P0", "S0"}},
        {true, 0, 2, {"BDE", "S0", "S1"}},
        {true, 2, 0, {"BDE", "P0", "P1"}},
        {true, 0, 0, {"BDE"}},
        {false, 0, 1, {"S0"}},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(testing::Message() << "sub-system " << r.subSystem << ", " << r.programs
                                        << " programs, " << r.services << " services");
        TearDown();
        SetUp();
        if (r.subSystem)
            SetSubSystem("BDE");
        for (int i = 0; i < r.programs; i++)
            AddProgram(("P" + std::to_string(i)).c_str(), "X.EXE");
        for (int i = 0; i < r.services; i++)
            AddService(("S" + std::to_string(i)).c_str());
        EXPECT_EQ((int)r.lines.size(), ListPageCount(10));
        GoToPage(10);
        EXPECT_EQ(r.lines, Lines());
        // Selecting only the last line sets only the last entry's choice.
        SetLineSelected((int)r.lines.size() - 1, true);
        Click(IDC_NEXT);
        for (size_t i = 0; i < r.lines.size(); i++)
            EXPECT_EQ(i + 1 == r.lines.size(), *ListChoice(10, (int)i) != 0) << "line " << i;
        EXPECT_TRUE(ListChoice(10, (int)r.lines.size()) == NULL);
    }
}

} // namespace
