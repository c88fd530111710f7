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

// An item an undo puts back goes on the line after the item it stood after
// (or the section's header), in the file's own line ends; the rest of the
// text stays byte for byte. Where that item is gone it goes where the
// profile writer puts a new item.
TEST_F(WholeFile, AnItemPutBackStandsWhereItStood)
{
    struct Row {
        const char *name, *text, *item, *previous, *want;
    };
    const Row rows[] = {
        {"first of its section", "[Other]\r\nA=1\r\n[S]\r\nMid=2\r\n", "First", "",
         "[Other]\r\nA=1\r\n[S]\r\nFirst=1\r\nMid=2\r\n"},
        {"after an item, before the next section", "[S]\r\nFirst=1\r\n[T]\r\nFirst=9\r\n", "Mid", "First",
         "[S]\r\nFirst=1\r\nMid=1\r\n[T]\r\nFirst=9\r\n"},
        {"between two items", "; notes\r\n[S]\r\nFirst=1\r\nLast=3\r\n", "Mid", "First",
         "; notes\r\n[S]\r\nFirst=1\r\nMid=1\r\nLast=3\r\n"},
        {"header and item in other cases and blanks", "[ s ]\r\n  first = 1\r\nLast=3\r\n", "Mid", "First",
         "[ s ]\r\n  first = 1\r\nMid=1\r\nLast=3\r\n"},
        {"an item of the same name in another section", "[T]\r\nFirst=9\r\n[S]\r\nFirst=1\r\nLast=3\r\n", "Mid",
         "First", "[T]\r\nFirst=9\r\n[S]\r\nFirst=1\r\nMid=1\r\nLast=3\r\n"},
        {"LF line ends", "[S]\nFirst=1\nLast=3\n", "Mid", "First", "[S]\nFirst=1\nMid=1\nLast=3\n"},
        {"a last line without its line end", "[S]\r\nFirst=1", "Mid", "First", "[S]\r\nFirst=1\r\nMid=1\r\n"},
    };
    int n = 0;
    for (const Row &r : rows) {
        std::string ini = dir + "\\PLACE" + std::to_string(n++) + ".INI";
        ASSERT_TRUE(WriteFileBytes(ini, r.text));
        EXPECT_EQ(WHOLE_DONE, WriteProfileItemAfter(ini.c_str(), "S", r.item, "1", r.previous)) << r.name;
        EXPECT_EQ(r.want, ReadFileBytes(ini)) << r.name;
    }
    // The item it stood after is gone: at the section's end, as a new item.
    std::string ini = dir + "\\GONE.INI";
    ASSERT_TRUE(WriteFileBytes(ini, "[S]\r\nLast=3\r\n[T]\r\nX=1\r\n"));
    EXPECT_EQ(WHOLE_DONE, WriteProfileItemAfter(ini.c_str(), "S", "Mid", "2", "First"));
    char list[256];
    DWORD got = GetPrivateProfileSectionA("S", list, sizeof list, ini.c_str());
    EXPECT_EQ(std::string("Last=3\0Mid=2\0", 13), std::string(list, got));
    EXPECT_EQ("1", IniRead(ini, "T", "X"));
    std::vector<std::string> names = FolderNames(dir);
    EXPECT_EQ(n + 1u, names.size()) << "no copy is left beside a file";
}

// The item before an item, as an undo records it to put the item back there.
TEST_F(WholeFile, TheItemBeforeAnItem)
{
    std::string ini = dir + "\\BEFORE.INI";
    ASSERT_TRUE(WriteFileBytes(ini, "[T]\r\nZ=0\r\n[S]\r\nFirst=1\r\nMid  = 2\r\nLast=3\r\n"));
    struct Row {
        const char *item, *want;
        int result;
    };
    const Row rows[] = {{"First", "", 0}, {"mid", "First", 0}, {"Last", "Mid", 0}, {"Missing", "", 1}};
    for (const Row &r : rows) {
        char buf[64] = "unchanged";
        EXPECT_EQ(r.result, ProfileItemBefore(ini.c_str(), "S", r.item, buf, sizeof buf)) << r.item;
        if (r.result == 0) {
            EXPECT_EQ(std::string(r.want), buf) << r.item;
        }
    }
    char small[3];
    EXPECT_EQ(1, ProfileItemBefore(ini.c_str(), "S", "Last", small, sizeof small)) << "a name that does not fit";
}

} // namespace
