// The uninstall driver run in-process on inventories built by hand: phase
// order and texts, taking rules, rollback, cancel, the log, and the abort of
// the database engine prompt.
#include <gtest/gtest.h>
#include <functional>
#include <string.h>
#include "support/kvtest.h"
#include "base/state.h"
#include "engine/uninstall.h"
#include "log/inventory.h"
#include "resources/resource.h"
#include "ui/progress.h"
#include "base/text.h"

namespace {

// --- inventory builders ---------------------------------------------------

template <class T> T *Add(EntryList &list)
{
    T *e = nullptr;
    NewEntry(&e);
    EXPECT_TRUE(e != NULL);
    EXPECT_EQ(0, ListAppend(&list, e));
    return e;
}

FileEntry *AddFile(EntryList &list, const std::string &path, unsigned short install,
                   const std::string &backup = "", int created = -1)
{
    FileEntry *f = Add<FileEntry>(list);
    StoreText(&f->Path, path.c_str(), INV_PATH_CAP);
    StoreText(&f->BackupPath, backup.c_str(), INV_PATH_CAP);
    f->Created = created >= 0 ? created : backup.empty();
    f->CopyInstall = f->BackupInstall = f->SharedInstall = install;
    return f;
}

DirEntry *AddDir(const std::string &path, unsigned short made, unsigned short tree)
{
    DirEntry *d = Add<DirEntry>(DirList);
    StoreText(&d->Path, (path + "\\").c_str(), INV_PATH_CAP);
    d->MadeInstall = made;
    d->TreeInstall = tree;
    return d;
}

IniEntry *AddIni(const std::string &file, const char *section, const char *item,
                 const char *oldValue, const char *lastOld, unsigned short install)
{
    IniEntry *e = Add<IniEntry>(IniEntryList);
    StoreText(&e->File, file.c_str(), INV_PATH_CAP);
    StoreText(&e->Section, section, NAME_CAP);
    StoreText(&e->Item, item, NAME_CAP);
    StoreText(&e->OldValue, oldValue, INI_VALUE_CAP);
    StoreText(&e->LastOldValue, lastOld, INI_VALUE_CAP);
    e->InstallNo = install;
    return e;
}

RegValueEntry *AddRegValue(const std::string &key, const char *name, const char *oldData,
                           const char *lastOld, unsigned short install)
{
    RegValueEntry *e = Add<RegValueEntry>(RegValueList);
    StoreText(&e->Key, key.c_str(), NAME_CAP);
    StoreText(&e->ValueName, name, NAME_CAP);
    StoreOldData(&e->OldData, &e->OldDataSize, {oldData});
    StoreOldData(&e->LastOldData, &e->LastOldDataSize, {lastOld});
    e->Root = 1;
    e->InstallNo = install;
    return e;
}

RegKeyEntry *AddRegKey(const std::string &key, const char *name, unsigned short install)
{
    RegKeyEntry *e = Add<RegKeyEntry>(RegKeyList);
    StoreText(&e->Key, key.c_str(), NAME_CAP);
    StoreText(&e->ValueName, name, NAME_CAP);
    e->Root = 1;
    e->InstallNo = install;
    return e;
}

RegTreeEntry *AddRegTree(const std::string &key, unsigned short install)
{
    RegTreeEntry *e = Add<RegTreeEntry>(RegTreeList);
    StoreText(&e->Key, key.c_str(), NAME_CAP);
    e->Root = 1;
    e->InstallNo = install;
    return e;
}

IconEntry *AddIcon(const char *group, const char *name, unsigned short install)
{
    IconEntry *e = Add<IconEntry>(IconList);
    StoreText(&e->Group, group, NAME_CAP);
    StoreText(&e->Name, name, NAME_CAP);
    e->InstallNo = install;
    return e;
}

// --- progress watching ----------------------------------------------------

std::vector<std::string> Texts;
std::string CancelAtPrefix;     // sets Cancelled when a text starting so is shown
std::function<void(const std::string &)> ShowHook;  // sees every text shown

void Watch(const char *text)
{
    std::string t = text ? text : "<bar>";
    Texts.push_back(t);
    if (ShowHook)
        ShowHook(t);
    if (!CancelAtPrefix.empty() && t.compare(0, CancelAtPrefix.size(), CancelAtPrefix) == 0)
        Cancelled = 1;
}

// The first line (the prefix without its line end) of every text shown.
std::vector<std::string> Prefixes()
{
    std::vector<std::string> out;
    for (const std::string &t : Texts) {
        if (t == "<bar>")
            continue;
        std::string p = t.substr(0, t.find('\r'));
        if (out.empty() || out.back() != p)
            out.push_back(p);
    }
    return out;
}

bool Shown(const std::string &prefix)
{
    for (const std::string &t : Texts)
        if (t.compare(0, prefix.size(), prefix) == 0)
            return true;
    return false;
}

const char KeyBase[] = "Software\\KvTest";

class Engine : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, CreateInventory());
        UninstallMethod = METHOD_AUTOMATIC;
        Rollback = Cancelled = 0;
        InstallCount = 1;
        LastInstallOffset = 0;
        WizardWindow = NULL;
        MainWindow = NULL;
        SystemDir[0] = 0;
        SettingsPath[0] = 0;
        CopyText(ProductTitle, sizeof ProductTitle, "Sample");
        Texts.clear();
        CancelAtPrefix.clear();
        ProgressObserver = Watch;
        CleanKey(HKEY_CURRENT_USER, KeyBase);
        dir = ScratchDir(::testing::UnitTest::GetInstance()->current_test_info()->name());
        log = dir + "\\INSTALL.LOG";
    }
    void TearDown() override
    {
        ProgressObserver = NULL;
        FreeInventory();
        Rollback = Cancelled = 0;
        CleanKey(HKEY_CURRENT_USER, KeyBase);
        RemoveTreeForTest(dir);
    }
    std::string Path(const std::string &name) const { return dir + "\\" + name; }
    void Make(const std::string &name, const std::string &bytes = "x")
    {
        ASSERT_TRUE(WriteFileBytes(Path(name), bytes)) << name;
    }
    void MakeDir(const std::string &name)
    {
        ASSERT_TRUE(CreateDirectoryA(Path(name).c_str(), NULL)) << name;
    }
    std::string dir, log;
};

TEST_F(Engine, EmptyInventoryDeletesTheLog)
{
    Make("INSTALL.LOG");
    RunUninstall(log.c_str());
    EXPECT_EQ(1, ProgressTotal);
    EXPECT_EQ(0, ProgressDone);
    EXPECT_EQ(1, ProgressStarted);
    EXPECT_FALSE(PathExists(log));
    EXPECT_TRUE(Texts.empty());
}

TEST_F(Engine, ProgressPageIsPrepared)
{
    for (int ctl3d = 0; ctl3d < 2; ctl3d++) {
        HWND w = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 300, 200, NULL, NULL, NULL,
                                 NULL);
        ASSERT_TRUE(w != NULL);
        struct Child { int id; const char *cls; DWORD style; };
        const Child children[] = {
            {IDC_UPPER_TEXT, "STATIC", WS_VISIBLE}, {IDC_LOWER_TEXT, "STATIC", WS_VISIBLE},
            {IDC_NEXT, "BUTTON", WS_VISIBLE}, {IDC_BACK, "BUTTON", WS_VISIBLE},
            {IDC_CANCEL, "BUTTON", WS_VISIBLE}, {IDC_BAR_FRAME, "STATIC", 0},
        };
        for (const Child &c : children)
            ASSERT_TRUE(CreateWindowExA(0, c.cls, "", WS_CHILD | c.style, 0, 0, 50, 20, w,
                                        (HMENU)(INT_PTR)c.id, NULL, NULL) != NULL);
        WizardWindow = w;
        Ctl3dActive = ctl3d;
        ProgressStarted = 0;
        RunUninstall(log.c_str());
        char upper[512];
        GetDlgItemTextA(w, IDC_UPPER_TEXT, upper, sizeof upper);
        EXPECT_STREQ("Performing uninstall of the Sample...\n\nPress the Cancel button to cancel "
                     "the uninstall process and exit this program.", upper) << ctl3d;
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, IDC_NEXT))) << ctl3d;
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(w, IDC_BACK))) << ctl3d;
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(w, IDC_CANCEL))) << ctl3d;
        EXPECT_EQ(ctl3d != 0, (GetWindowLongA(GetDlgItem(w, IDC_BAR_FRAME), GWL_STYLE) &
                               WS_VISIBLE) != 0) << ctl3d;
        EXPECT_EQ(1, ProgressStarted);
        WizardWindow = NULL;
        Ctl3dActive = 0;
        DestroyWindow(w);
    }
}

TEST_F(Engine, EveryPhaseInItsOrder)
{
    std::string key = std::string(KeyBase) + "\\order";
    MakeDir("app");
    Make("app\\a.txt", "program data");
    Make("sys.dll");
    Make("new.ini", "[S]\r\nK=V\r\n");
    Make("old.ini", "[S]\r\nK=installed\r\n");
    Make("INSTALL.LOG");
    MakeDir("tree");
    Make("tree\\inner.txt");
    SetRegString(HKEY_CURRENT_USER, key + "\\changed", "V", "installed");
    SetRegString(HKEY_CURRENT_USER, key + "\\created", "V", "x");
    SetRegString(HKEY_CURRENT_USER, key + "\\tree\\sub", "V", "x");

    // The program copies a file that the uninstall removes later: the copy
    // exists only when it ran first.
    ProgramEntry *p = Add<ProgramEntry>(ProgramList);
    std::string cmd = "C:\\windows\\system32\\cmd.exe /c copy " + Path("app\\a.txt") + " " +
                      Path("marker.txt");
    StoreText(&p->CommandLine, cmd.c_str(), INV_PATH_CAP);
    p->InstallNo = 1;
    ProgramEntry *named = Add<ProgramEntry>(ProgramList);
    StoreText(&named->CommandLine, "C:\\kvtest\\no such program.exe", INV_PATH_CAP);
    StoreText(&named->Name, "Cleaner", NAME_CAP);
    named->InstallNo = 1;
    ServiceEntry *s = Add<ServiceEntry>(ServiceList);
    StoreText(&s->Name, "KvNoSuchService", NAME_CAP);
    s->InstallNo = 1;
    SubSystemName = _strdup("BDE");
    Add<NewIniEntry>(NewIniList);
    StoreText(&ENTRY_AT(NewIniEntry, NewIniList, 0)->Path, Path("new.ini").c_str(), INV_PATH_CAP);
    ENTRY_AT(NewIniEntry, NewIniList, 0)->InstallNo = 1;
    AddIni(Path("old.ini"), "S", "K", "before", "last", 1);
    AddFile(AppFileList, Path("app\\a.txt"), 1);
    AddFile(SysFileList, Path("sys.dll"), 1)->Selected = 1;
    AddDir(Path("app"), 1, 0);
    AddDir(Path("tree"), 1, 1);
    AddRegValue(key + "\\changed", "V", "before", "last", 1);
    AddRegKey(key + "\\created", "V", 1);
    AddRegTree(key + "\\tree", 1);
    AddIcon("Sample", "Sample Program", 1);

    RunUninstall(log.c_str());

    const std::vector<std::string> want = {
        "Executing External Program:", "Deleting Service:", "Removing Sub-System:",
        "Removing INI File:", "Editing INI File:", "Removing File:", "Removing System File:",
        "Removing Empty Directories:", "Removing Directory:",
        "Editing Registration Database Key:", "Removing Registration Database Key:",
        "Removing Registration Database Key Sub-Tree:", "Removing Icon:",
    };
    EXPECT_EQ(want, Prefixes());
    ASSERT_GE(Texts.size(), 2u);
    // Without a name the (normalised) command line is shown.
    EXPECT_NE(std::string::npos, Texts[0].find("cmd.exe /c copy")) << Texts[0];
    EXPECT_EQ("Executing External Program:\r\nCleaner", Texts[1]);
    EXPECT_TRUE(Shown("Removing Sub-System:\r\nBDE"));
    EXPECT_TRUE(Shown("Removing Icon:\r\nSample Program"));

    EXPECT_EQ("program data", ReadFileBytes(Path("marker.txt")));
    EXPECT_FALSE(PathExists(Path("app")));
    EXPECT_FALSE(PathExists(Path("sys.dll")));
    EXPECT_FALSE(PathExists(Path("new.ini")));
    EXPECT_EQ("before", IniRead(Path("old.ini"), "S", "K"));
    EXPECT_FALSE(PathExists(Path("tree")));
    EXPECT_FALSE(PathExists(log));
    EXPECT_EQ("before", ReadRegText(HKEY_CURRENT_USER, key + "\\changed", "V"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key + "\\created"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key + "\\tree"));
    // Every counted entry was counted once.
    EXPECT_EQ(11, ProgressTotal);
    EXPECT_EQ(ProgressTotal, ProgressDone);
}

TEST_F(Engine, FileTakingRules)
{
    Make("created.txt");
    Make("overwritten.txt");
    Make("overwritten.bak");
    Make("selected.txt");
    Make("sysplain.dll");
    Make("syschosen.dll");
    Make("old.txt");
    AddFile(AppFileList, Path("created.txt"), 1);
    // An overwritten file stays in an uninstall; its backup is not used.
    AddFile(AppFileList, Path("overwritten.txt"), 1, Path("overwritten.bak"));
    AddFile(AppFileList, Path("selected.txt"), 1, "", 0)->Selected = 1;
    AddFile(AppFileList, "", 1);      // emptied: passed over
    AddFile(SysFileList, Path("sysplain.dll"), 1);
    AddFile(SysFileList, Path("syschosen.dll"), 1)->Selected = 1;
    Version4OrLater = 1;
    RunUninstall(log.c_str());
    Version4OrLater = 0;
    EXPECT_FALSE(PathExists(Path("created.txt")));
    EXPECT_TRUE(PathExists(Path("overwritten.txt")));
    EXPECT_TRUE(PathExists(Path("overwritten.bak")));
    EXPECT_FALSE(PathExists(Path("selected.txt")));
    EXPECT_TRUE(PathExists(Path("sysplain.dll")));
    EXPECT_FALSE(PathExists(Path("syschosen.dll")));
    EXPECT_EQ(6, ProgressDone);
}

TEST_F(Engine, FileInUseStaysWithoutARestart)
{
    Make("busy.dll");
    Make("free.dll");
    HANDLE held = CreateFileA(Path("busy.dll").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0,
                              NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    AddFile(AppFileList, Path("busy.dll"), 1);
    AddFile(AppFileList, Path("free.dll"), 1);
    RestartNeeded = 0;
    RunUninstall(log.c_str());
    CloseHandle(held);
    EXPECT_TRUE(PathExists(Path("busy.dll")));
    EXPECT_FALSE(PathExists(Path("free.dll")));
    EXPECT_EQ(0, RestartNeeded);
}

TEST_F(Engine, CustomMethodSelectsAndTakesDirectoriesWhole)
{
    MakeDir("chosen");
    Make("chosen\\file.txt");
    MakeDir("other");
    Make("a.txt");
    Make("b.txt");
    Make("INSTALL.LOG");
    UninstallMethod = METHOD_CUSTOM;
    AddFile(AppFileList, Path("a.txt"), 1)->Selected = 1;
    AddFile(AppFileList, Path("b.txt"), 1);
    AddDir(Path("chosen"), 1, 0)->Selected = 1;
    AddDir(Path("other"), 1, 0);
    RunUninstall(log.c_str());
    EXPECT_FALSE(PathExists(Path("a.txt")));
    EXPECT_TRUE(PathExists(Path("b.txt")));
    EXPECT_FALSE(PathExists(Path("chosen")));
    EXPECT_TRUE(PathExists(Path("other")));
    EXPECT_TRUE(PathExists(log));
}

TEST_F(Engine, AutomaticDirectoriesWholeOnlyForTrees)
{
    MakeDir("made");
    MakeDir("made\\empty");
    Make("made\\user.dat");
    MakeDir("copied");
    MakeDir("copied\\sub");
    Make("copied\\sub\\file.txt");
    MakeDir("logdir");
    AddDir(Path("made"), 1, 0);
    AddDir(Path("copied"), 1, 1);
    AddDir(Path("logdir"), LOG_DIR_INSTALL, 0);
    RunUninstall(log.c_str());
    EXPECT_TRUE(PathExists(Path("made\\user.dat")));
    EXPECT_FALSE(PathExists(Path("made\\empty")));
    EXPECT_FALSE(PathExists(Path("copied")));
    EXPECT_FALSE(PathExists(Path("logdir")));
    // Trailing backslashes are dropped in place.
    EXPECT_EQ(Path("made"), ENTRY_AT(DirEntry, DirList, 0)->Path);
    EXPECT_TRUE(Shown("Removing Empty Directories:\r\n"));
    EXPECT_TRUE(Shown("Removing Directory:\r\n"));
}

TEST_F(Engine, CustomWithRollbackIsAnUninstallThatKeepsTheLog)
{
    Make("INSTALL.LOG", "first block\r\nsecond block\r\n");
    Make("one.txt");
    Make("two.txt");
    Make("two.bak", "old");
    InstallCount = 2;
    LastInstallOffset = 13;
    Rollback = 1;
    UninstallMethod = METHOD_CUSTOM;
    AddFile(AppFileList, Path("one.txt"), 1)->Selected = 1;
    AddFile(AppFileList, Path("two.txt"), 2, Path("two.bak"))->Selected = 1;
    RunUninstall(log.c_str());
    EXPECT_EQ(0, Rollback);
    EXPECT_FALSE(PathExists(Path("one.txt")));     // installation 1 is in scope
    EXPECT_FALSE(PathExists(Path("two.txt")));     // removed, not restored
    EXPECT_TRUE(PathExists(Path("two.bak")));
    EXPECT_EQ("first block\r\nsecond block\r\n", ReadFileBytes(log));
}

TEST_F(Engine, RollbackOfTheLastOfTwoInstallations)
{
    std::string key = std::string(KeyBase) + "\\rollback";
    const std::string logText = "*** first\r\nTitle: Sample\r\n*** second\r\nFile Copy: x\r\n";
    Make("INSTALL.LOG", logText);
    Make("first.txt");          // installation 1: stays
    Make("second.txt");         // installation 2, created: goes
    Make("replaced.dll", "v2");
    Make("replaced.bak", "v1");
    Make("sys.dll", "v2");
    Make("sys.bak", "v1");
    Make("recopied.dll", "v2");
    Make("recopied.bak", "v0");
    Make("edited.txt", "edited");
    Make("edited.bak", "original");
    Make("app.ini", "[S]\r\nK=v2\r\nNew=v2\r\n");
    MakeDir("dir1");
    MakeDir("dir2");
    SetRegString(HKEY_CURRENT_USER, key, "V", "v2");
    SetRegString(HKEY_CURRENT_USER, key + "\\created1", "V", "x");
    SetRegString(HKEY_CURRENT_USER, key + "\\created2", "V", "x");

    InstallCount = 2;
    LastInstallOffset = 26;
    Rollback = 1;
    AddFile(AppFileList, Path("first.txt"), 1);
    AddFile(AppFileList, Path("second.txt"), 2);
    FileEntry *replaced = AddFile(AppFileList, Path("replaced.dll"), 2, Path("replaced.bak"));
    replaced->Created = 1;      // created by 1, replaced with a backup by 2
    AddFile(SysFileList, Path("sys.dll"), 2, Path("sys.bak"));
    // Backed up by installation 1, copied again by 2: not this rollback's backup.
    FileEntry *recopied = AddFile(AppFileList, Path("recopied.dll"), 2, Path("recopied.bak"));
    recopied->BackupInstall = 1;
    EditEntry *edit = Add<EditEntry>(EditFileList);
    StoreText(&edit->Path, Path("edited.txt").c_str(), INV_PATH_CAP);
    StoreText(&edit->BackupPath, Path("edited.bak").c_str(), INV_PATH_CAP);
    edit->InstallNo = 2;
    AddIni(Path("app.ini"), "S", "K", "v0", "v1", 2);
    AddIni(Path("app.ini"), "S", "New", "", "", 2);
    AddDir(Path("dir1"), 1, 0);
    AddDir(Path("dir2"), 2, 0);
    AddRegValue(key, "V", "v0", "v1", 2);
    AddRegKey(key + "\\created1", "V", 1);
    AddRegKey(key + "\\created2", "V", 2);
    AddIcon("G", "Icon One", 1);
    AddIcon("G", "Icon Two", 2);
    AddIcon("G", "Icon Three", 3);

    RunUninstall(log.c_str());

    EXPECT_TRUE(PathExists(Path("first.txt")));
    EXPECT_FALSE(PathExists(Path("second.txt")));
    EXPECT_EQ("v1", ReadFileBytes(Path("replaced.dll")));
    EXPECT_FALSE(PathExists(Path("replaced.bak")));
    EXPECT_EQ("v1", ReadFileBytes(Path("sys.dll")));
    EXPECT_FALSE(PathExists(Path("sys.bak")));
    EXPECT_EQ("v2", ReadFileBytes(Path("recopied.dll")));
    EXPECT_EQ("v0", ReadFileBytes(Path("recopied.bak")));
    EXPECT_EQ("original", ReadFileBytes(Path("edited.txt")));
    EXPECT_FALSE(PathExists(Path("edited.bak")));
    EXPECT_EQ("v1", IniRead(Path("app.ini"), "S", "K"));
    EXPECT_EQ("<none>", IniRead(Path("app.ini"), "S", "New"));
    EXPECT_TRUE(PathExists(Path("dir1")));
    EXPECT_FALSE(PathExists(Path("dir2")));
    EXPECT_EQ("v1", ReadRegText(HKEY_CURRENT_USER, key, "V"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key + "\\created1"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, key + "\\created2"));
    EXPECT_EQ(logText.substr(0, 26), ReadFileBytes(log));
    // Program Manager items: only those of the last installation exactly.
    EXPECT_FALSE(Shown("Removing Icon:\r\nIcon One"));
    EXPECT_TRUE(Shown("Removing Icon:\r\nIcon Two"));
    EXPECT_FALSE(Shown("Removing Icon:\r\nIcon Three"));
    EXPECT_EQ(0, RestartNeeded);
}

TEST_F(Engine, RollbackOfASingleInstallationDeletesTheLog)
{
    Make("INSTALL.LOG", "*** only\r\n");
    Make("a.txt");
    Rollback = 1;
    InstallCount = 1;
    AddFile(AppFileList, Path("a.txt"), 1);
    RunUninstall(log.c_str());
    EXPECT_FALSE(PathExists(Path("a.txt")));
    EXPECT_FALSE(PathExists(log));
}

TEST_F(Engine, LogNeverGrowsWhenTheOffsetIsBeyondIt)
{
    Make("INSTALL.LOG", "short");
    Rollback = 1;
    InstallCount = 2;
    LastInstallOffset = 100;
    RunUninstall(log.c_str());
    EXPECT_EQ("short", ReadFileBytes(log));
}

TEST_F(Engine, CancelDuringApplicationFilesStopsTheLaterPhases)
{
    std::string key = std::string(KeyBase) + "\\cancel";
    const std::string logText = "*** first\r\n*** second\r\n";
    Make("INSTALL.LOG", logText);
    Make("a1.txt");
    Make("a2.txt");
    Make("sys.dll");
    MakeDir("dir");
    SetRegString(HKEY_CURRENT_USER, key, "V", "installed");
    SetRegString(HKEY_CURRENT_USER, key + "\\created", "V", "x");
    SetRegString(HKEY_CURRENT_USER, key + "\\tree", "V", "x");
    InstallCount = 2;
    LastInstallOffset = 11;
    Rollback = 1;
    AddFile(AppFileList, Path("a1.txt"), 2);
    AddFile(AppFileList, Path("a2.txt"), 2);
    AddFile(SysFileList, Path("sys.dll"), 2)->Selected = 1;
    AddDir(Path("dir"), 2, 0);
    AddRegValue(key, "V", "old", "old", 2);
    AddRegKey(key + "\\created", "V", 2);
    AddRegTree(key + "\\tree", 2);
    AddIcon("G", "Icon", 2);
    CancelAtPrefix = "Removing File:";

    RunUninstall(log.c_str());

    EXPECT_FALSE(PathExists(Path("a1.txt")));
    EXPECT_TRUE(PathExists(Path("a2.txt")));
    EXPECT_TRUE(PathExists(Path("sys.dll")));
    EXPECT_TRUE(PathExists(Path("dir")));
    EXPECT_EQ("installed", ReadRegText(HKEY_CURRENT_USER, key, "V"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key + "\\created"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key + "\\tree"));
    // A cancelled rollback keeps its log whole: what it did not undo stays
    // recorded, so that running it again finishes the job.
    EXPECT_EQ(logText, ReadFileBytes(log));
    const std::vector<std::string> want = {"Removing File:"};
    EXPECT_EQ(want, Prefixes());
    EXPECT_EQ(1, Cancelled);
}

// The log goes last: a run killed before the end finds it again. Its own
// directory, which could not go while the log was in it, goes after it.
TEST_F(Engine, TheLogGoesLastAndItsDirectoryAfterIt)
{
    MakeDir("made");
    std::string madeLog = Path("made\\INSTALL.LOG");
    Make("made\\INSTALL.LOG");
    Make("made\\a.txt");
    AddFile(AppFileList, Path("made\\a.txt"), 1);
    AddDir(Path("made"), 1, 0);
    std::string key = std::string(KeyBase) + "\\last";
    SetRegString(HKEY_CURRENT_USER, key, "V", "x");
    AddRegKey(key, "V", 1);
    bool logThereAtTheLastPhase = false;
    ShowHook = [&](const std::string &text) {
        if (text.find("Removing Registration Database Key:") == 0)
            logThereAtTheLastPhase = PathExists(madeLog);
    };
    RunUninstall(madeLog.c_str());
    ShowHook = nullptr;
    EXPECT_TRUE(logThereAtTheLastPhase);
    EXPECT_FALSE(PathExists(madeLog));
    EXPECT_FALSE(PathExists(Path("made")));
}

TEST_F(Engine, CancelledUninstallKeepsTheLog)
{
    Make("INSTALL.LOG");
    Make("a.txt");
    AddFile(AppFileList, Path("a.txt"), 1);
    CancelAtPrefix = "Removing File:";
    RunUninstall(log.c_str());
    EXPECT_TRUE(PathExists(log));
}

TEST_F(Engine, RegistryKeysAreCutForDisplay)
{
    std::string k48 = std::string(KeyBase) + "\\" + std::string(48 - 16, 'a');
    std::string k49 = std::string(KeyBase) + "\\" + std::string(49 - 16, 'b');
    ASSERT_EQ(48u, k48.size());
    ASSERT_EQ(49u, k49.size());
    AddRegKey(k48, "V", 1);
    AddRegKey(k49, "V", 1);
    RunUninstall(log.c_str());
    // Phase 15 runs from the last entry to the first.
    ASSERT_EQ(2u, Texts.size());
    EXPECT_EQ("Removing Registration Database Key:\r\n" + k49.substr(0, 45) + "...", Texts[0]);
    EXPECT_EQ("Removing Registration Database Key:\r\n" + k48, Texts[1]);
}

TEST_F(Engine, AbortAtTheServerPromptTouchesNothing)
{
    std::string key = std::string(KeyBase) + "\\abort";
    const char engineKey[] = "Software\\Borland\\Database Engine";
    SetRegString(HKEY_LOCAL_MACHINE, engineKey, "UseCount", "1");
    HWND server = StartServerWindow();
    ASSERT_TRUE(server != NULL);

    Make("INSTALL.LOG");
    Make("a.txt");
    Make("new.ini", "[S]\r\nK=V\r\n");
    Make("old.ini", "[S]\r\nK=installed\r\n");
    MakeDir("dir");
    SetRegString(HKEY_CURRENT_USER, key, "V", "installed");
    SetRegString(HKEY_CURRENT_USER, key + "\\created", "V", "x");
    SubSystemName = _strdup("BDE");
    Add<NewIniEntry>(NewIniList);
    StoreText(&ENTRY_AT(NewIniEntry, NewIniList, 0)->Path, Path("new.ini").c_str(), INV_PATH_CAP);
    ENTRY_AT(NewIniEntry, NewIniList, 0)->InstallNo = 1;
    AddIni(Path("old.ini"), "S", "K", "before", "before", 1);
    AddFile(AppFileList, Path("a.txt"), 1);
    AddDir(Path("dir"), 1, 1);
    AddRegValue(key, "V", "before", "before", 1);
    AddRegKey(key + "\\created", "V", 1);

    AnswerDialogs({IDABORT});
    RunUninstall(log.c_str());
    EXPECT_EQ(0, StopAnswering());
    DestroyWindow(server);

    EXPECT_TRUE(PathExists(log));
    EXPECT_TRUE(PathExists(Path("a.txt")));
    EXPECT_TRUE(PathExists(Path("new.ini")));
    EXPECT_EQ("installed", IniRead(Path("old.ini"), "S", "K"));
    EXPECT_TRUE(PathExists(Path("dir")));
    EXPECT_EQ("installed", ReadRegText(HKEY_CURRENT_USER, key, "V"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, key + "\\created"));
    EXPECT_EQ(0, Cancelled);
    HKEY k;
    EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, engineKey, 0, KEY_READ, &k));
    RegCloseKey(k);
    CleanKey(HKEY_LOCAL_MACHINE, "Software\\Borland");
}

}  // namespace
