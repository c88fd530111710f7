// INI files: created files removed, items written back or deleted, and a
// missing file never created.
#include <gtest/gtest.h>
#include "support/kvtest.h"
#include "app/state.h"
#include "engine/inifiles.h"
#include "app/text.h"

namespace {

std::string Read(const std::string &file, const char *section, const char *key)
{
    char buf[512];
    GetPrivateProfileStringA(section, key, "\x7f", buf, sizeof buf, file.c_str());
    return buf;
}

IniEntry Entry(const std::string &file, const char *section, const char *item,
               const char *oldValue, const char *lastOldValue)
{
    IniEntry e;
    ClearEntry(&e);
    StoreText(&e.File, file.c_str(), INV_PATH_CAP);
    StoreText(&e.Section, section, NAME_CAP);
    StoreText(&e.Item, item, NAME_CAP);
    StoreText(&e.OldValue, oldValue, INI_VALUE_CAP);
    StoreText(&e.LastOldValue, lastOldValue, INI_VALUE_CAP);
    return e;
}

class Ini : public ::testing::Test {
protected:
    void SetUp() override
    {
        Rollback = 0;
        dir = ScratchDir("ini");
        file = dir + "\\app.ini";
    }
    void TearDown() override
    {
        Rollback = 0;
        RemoveTreeForTest(dir);
    }
    std::string dir, file;
};

TEST_F(Ini, ItemsRestoredOrDeleted)
{
    ASSERT_TRUE(WriteFileBytes(file, "[Main]\r\nAdded=new\r\nChanged=new\r\nOther=keep\r\n"
                                     "[Lone]\r\nOnly=new\r\n"));
    struct Row { const char *section, *item, *oldValue, *lastOld; int rollback; const char *want; };
    const Row rows[] = {
        {"Main", "Added", "", "ignored", 0, "\x7f"},
        {"Main", "Changed", "first", "last", 0, "first"},
        {"Main", "Changed", "first", "last", 1, "last"},
        {"Main", "Changed", "first", "", 1, "\x7f"},
        {"Lone", "Only", "", "", 0, "\x7f"},
    };
    for (const Row &r : rows) {
        WritePrivateProfileStringA(r.section, r.item, "new", file.c_str());
        IniEntry e = Entry(file, r.section, r.item, r.oldValue, r.lastOld);
        Rollback = r.rollback;
        EXPECT_EQ(1, RestoreIniItem(&e)) << r.item;
        EXPECT_EQ(r.want, Read(file, r.section, r.item))
            << r.section << "/" << r.item << " rollback " << r.rollback;
    }
    EXPECT_EQ("keep", Read(file, "Main", "Other"));
    // The emptied section keeps its header.
    EXPECT_NE(std::string::npos, ReadFileBytes(file).find("[Lone]"));
}

TEST_F(Ini, MissingFileIsNeverCreated)
{
    IniEntry changed = Entry(file, "Main", "Item", "old", "old");
    IniEntry added = Entry(file, "Main", "Item", "", "");
    EXPECT_EQ(0, RestoreIniItem(&changed));
    EXPECT_EQ(0, RestoreIniItem(&added));
    EXPECT_FALSE(PathExists(file));
}

TEST_F(Ini, CreatedFileRemovedEvenWhenReadOnly)
{
    ASSERT_TRUE(WriteFileBytes(file, "[A]\r\nB=C\r\n"));
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
    NewIniEntry e;
    ClearEntry(&e);
    StoreText(&e.Path, file.c_str(), INV_PATH_CAP);
    RemoveIniFile(&e);
    EXPECT_FALSE(PathExists(file));
    RemoveIniFile(&e);      // already gone: quietly nothing
    EXPECT_FALSE(PathExists(file));
}

}  // namespace
