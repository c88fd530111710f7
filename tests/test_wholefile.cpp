// Whole files only: INI restores and the status file are written beside
// their file and swapped in, so that a held file or a failed write leaves
// the old text whole and no stray file behind.
#include <gtest/gtest.h>
#include <string.h>
#include "base/state.h"
#include "machine/wholefile.h"
#include "engine/inifiles.h"
#include "log/inventory.h"
#include "report/mif.h"
#include "support/kvtest.h"

namespace {

IniEntry Item(const std::string &file, const char *section, const char *item, const char *old)
{
    IniEntry e;
    ClearEntry(&e);
    StoreText(&e.File, file.c_str(), INV_PATH_CAP);
    StoreText(&e.Section, section, NAME_CAP);
    StoreText(&e.Item, item, NAME_CAP);
    StoreText(&e.OldValue, old, INI_VALUE_CAP);
    StoreText(&e.LastOldValue, old, INI_VALUE_CAP);
    return e;
}

class WholeFile : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        PlatformKind = PLATFORM_NT;
        Rollback = 0;
        dir = ScratchDir("wholefile");
    }
};

TEST_F(WholeFile, IniRestoreKeepsEverythingElseAndLeavesNoCopy)
{
    std::string ini = dir + "\\APP.INI";
    std::string text = "; the user's own notes\r\n[Other]\r\nA=1\r\nB=two words\r\n[S]\r\nK=installed\r\nMine=keep\r\n";
    ASSERT_TRUE(WriteFileBytes(ini, text));
    struct Row {
        const char *name, *section, *item, *old, *want;
    };
    const Row rows[] = {
        {"value written back", "S", "K", "before", "before"},
        {"added item deleted", "S", "K", "", "<none>"},
        {"item in a new section", "New", "N", "v", "v"},
    };
    for (const Row &r : rows) {
        ASSERT_TRUE(WriteFileBytes(ini, text));
        IniEntry e = Item(ini, r.section, r.item, r.old);
        EXPECT_EQ(1, RestoreIniItem(&e)) << r.name;
        EXPECT_EQ(r.want, IniRead(ini, r.section, r.item)) << r.name;
        EXPECT_EQ("1", IniRead(ini, "Other", "A")) << r.name;
        EXPECT_EQ("two words", IniRead(ini, "Other", "B")) << r.name;
        EXPECT_EQ("keep", IniRead(ini, "S", "Mine")) << r.name;
        EXPECT_EQ(std::vector<std::string>{"APP.INI"}, FolderNames(dir)) << r.name;
    }
}

// WIN.INI in the Windows directory, some of whose sections the system keeps
// in the registry (Wine lists them even when the file has none of them):
// an item of the file's own sections still goes through the copy.
TEST_F(WholeFile, WinIniWithRegistryMappedSections)
{
    char win[MAX_PATH];
    GetWindowsDirectoryA(win, sizeof win);
    std::string ini = std::string(win) + "\\win.ini";
    std::string before = ReadFileBytes(ini);
    ASSERT_TRUE(WriteFileBytes(ini, before + "\r\n[KvSample]\r\nMode=orders\r\nMine=keep\r\n"));
    EXPECT_EQ(WHOLE_DONE, WriteProfileItemWhole(ini.c_str(), "KvSample", "Mode", "classic"));
    EXPECT_EQ("classic", IniRead(ini, "KvSample", "Mode"));
    EXPECT_EQ(WHOLE_DONE, WriteProfileItemWhole(ini.c_str(), "KvSample", "Gone", NULL));
    EXPECT_EQ("keep", IniRead(ini, "KvSample", "Mine"));
    WriteFileBytes(ini, before);
}

// The items of one file in one write: each as set (of two with one name,
// the later), every other item as it was, no copy left; a held file gets
// none of them.
TEST_F(WholeFile, SeveralItemsOfOneFileInOneWrite)
{
    std::string ini = dir + "\\MANY.INI";
    std::string text = "[Other]\r\nA=1\r\n[S]\r\nK=installed\r\nGone=x\r\nMine=keep\r\n";
    ASSERT_TRUE(WriteFileBytes(ini, text));
    const ProfileItem items[] = {{"S", "K", "first"}, {"S", "Gone", NULL}, {"New", "N", "v"}, {"s", "k", "second"}};
    HANDLE held = CreateFileA(ini.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(WHOLE_FAILED, WriteProfileItemsWhole(ini.c_str(), items, 4));
    CloseHandle(held);
    EXPECT_EQ(text, ReadFileBytes(ini));
    EXPECT_EQ(std::vector<std::string>{"MANY.INI"}, FolderNames(dir));
    EXPECT_EQ(WHOLE_DONE, WriteProfileItemsWhole(ini.c_str(), items, 4));
    EXPECT_EQ("second", IniRead(ini, "S", "K"));
    EXPECT_EQ("<none>", IniRead(ini, "S", "Gone"));
    EXPECT_EQ("v", IniRead(ini, "New", "N"));
    EXPECT_EQ("keep", IniRead(ini, "S", "Mine"));
    EXPECT_EQ("1", IniRead(ini, "Other", "A"));
    EXPECT_EQ(std::vector<std::string>{"MANY.INI"}, FolderNames(dir));
}

TEST_F(WholeFile, HeldIniStaysAsItWas)
{
    std::string ini = dir + "\\HELD.INI";
    std::string text = "[S]\r\nK=installed\r\nMine=keep\r\n";
    ASSERT_TRUE(WriteFileBytes(ini, text));
    HANDLE held = CreateFileA(ini.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    IniEntry e = Item(ini, "S", "K", "before");
    RestoreIniItem(&e);
    CloseHandle(held);
    EXPECT_EQ(text, ReadFileBytes(ini));
    EXPECT_EQ(std::vector<std::string>{"HELD.INI"}, FolderNames(dir));
    // Once free, the same restore goes through.
    RestoreIniItem(&e);
    EXPECT_EQ("before", IniRead(ini, "S", "K"));
    EXPECT_EQ("keep", IniRead(ini, "S", "Mine"));
}

TEST_F(WholeFile, WriteWholeFileNeverLeavesAPart)
{
    std::string path = dir + "\\STATUS.TXT";
    ASSERT_TRUE(WriteFileBytes(path, "old status"));
    EXPECT_EQ(WHOLE_DONE, WriteWholeFile(path.c_str(), "new status", 10, 0));
    EXPECT_EQ("new status", ReadFileBytes(path));
    // A folder under the name is never replaced.
    std::string folder = dir + "\\FOLDER";
    CreateDirectoryA(folder.c_str(), NULL);
    EXPECT_EQ(WHOLE_FAILED, WriteWholeFile(folder.c_str(), "x", 1, 1));
    EXPECT_NE(0u, GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    // A held file without staging: the old text stays, nothing is left over.
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(WHOLE_FAILED, WriteWholeFile(path.c_str(), "newer", 5, 0));
    CloseHandle(held);
    EXPECT_EQ("new status", ReadFileBytes(path));
    std::vector<std::string> names = FolderNames(dir);
    EXPECT_EQ(2u, names.size()) << names.size();
}

TEST_F(WholeFile, HeldStatusFileGetsItsTextAtTheRestart)
{
    char win[MAX_PATH];
    GetWindowsDirectoryA(win, sizeof win);
    std::string path = std::string(win) + "\\KVHELD.MIF";
    ASSERT_TRUE(WriteFileBytes(path, "earlier run"));
    strcpy(MifFileName, "KVHELD.MIF");
    HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    WriteStatusFile();
    CloseHandle(held);
    EXPECT_EQ("earlier run", ReadFileBytes(path));
    std::string pending = PendingRenames();
    EXPECT_NE(std::string::npos, pending.find("KVHELD.MIF")) << pending;
    MifFileName[0] = 0;
    DeleteFileA(path.c_str());
}

} // namespace
