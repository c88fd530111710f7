// The inventory's storage: texts kept at their own length and cut exactly
// as a copy into the old fixed buffer would cut them, registry old data
// kept with its byte length, cleared records, and lists that keep their
// order while records and texts fill block after block.
#include <gtest/gtest.h>
#include <stdint.h>
#include <string.h>
#include <string>
#include "base/text.h"
#include "log/inventory.h"

namespace {

class EntryStore : public ::testing::Test {
protected:
    void SetUp() override
    {
        FreeInventory();
        ASSERT_EQ(0, CreateInventory());
    }
    void TearDown() override
    {
        FreeInventory();
        ASSERT_EQ(0, CreateInventory());
    }
};

TEST_F(EntryStore, TextsAreCutAsCopyTextCutsThem)
{
    struct Row { const char *name; size_t length, cap; };
    const Row rows[] = {
        {"empty", 0, NAME_CAP},
        {"short", 5, NAME_CAP},
        {"exact fit", NAME_CAP - 1, NAME_CAP},
        {"one over", NAME_CAP, NAME_CAP},
        {"far over", 3000, INI_VALUE_CAP},
        {"path cap", INV_PATH_CAP + 7, INV_PATH_CAP},
        {"cap of one", 4, 1},
    };
    for (const Row &r : rows) {
        std::string text;
        for (size_t i = 0; i < r.length; i++)
            text += (char)('a' + i % 26);
        char want[4096];
        CopyText(want, r.cap, text.c_str());
        char *field = nullptr;
        ASSERT_EQ(0, StoreText(&field, text.c_str(), r.cap)) << r.name;
        ASSERT_TRUE(field != nullptr) << r.name;
        EXPECT_STREQ(want, field) << r.name;
        if (!want[0]) {
            EXPECT_EQ(EmptyText, field) << r.name << ": empty texts share one empty string";
        }
    }
}

TEST_F(EntryStore, OldDataKeepsItsBytesAndEndsEveryWalk)
{
    struct Row { const char *name; std::string data; };
    const Row rows[] = {
        {"string list", std::string("a\0bc\0\0", 6)},
        {"empty list", std::string("\0", 1)},
        {"not closed", std::string("abc", 3)},
        {"full cap", std::string(OLD_DATA_CAP - 2, 'x') + std::string("\0\0", 2)},
    };
    for (const Row &r : rows) {
        char *field = EmptyText;
        int size = -1;
        ASSERT_EQ(0, StoreData(&field, &size, r.data.data(), r.data.size())) << r.name;
        ASSERT_EQ((int)r.data.size(), size) << r.name;
        EXPECT_EQ(r.data, std::string(field, (size_t)size)) << r.name;
        EXPECT_EQ(0, field[size]) << r.name;
        EXPECT_EQ(0, field[size + 1]) << r.name;
    }
    // More than the reader ever keeps is refused and the field left alone.
    std::string over(OLD_DATA_CAP + 1, 'y');
    char *field = EmptyText;
    int size = 0;
    EXPECT_EQ(1, StoreData(&field, &size, over.data(), over.size()));
    EXPECT_EQ(EmptyText, field);
    EXPECT_EQ(0, size);
}

TEST_F(EntryStore, NewRecordsAreClearedWithEmptyTexts)
{
    FileEntry *f = nullptr;
    IniEntry *i = nullptr;
    RegValueEntry *v = nullptr;
    ProgramEntry *p = nullptr;
    ASSERT_EQ(0, NewEntry(&f));
    ASSERT_EQ(0, NewEntry(&i));
    ASSERT_EQ(0, NewEntry(&v));
    ASSERT_EQ(0, NewEntry(&p));
    const char *texts[] = {f->Path, f->BackupPath, i->File, i->Section, i->Item, i->OldValue,
                           i->LastOldValue, v->Key, v->ValueName, v->OldData, v->LastOldData,
                           p->CommandLine, p->Name};
    for (const char *t : texts)
        EXPECT_EQ(EmptyText, t);
    EXPECT_EQ(0, f->Selected + f->Created + f->CopyInstall + f->SharedInstall + f->RegisterInstall);
    EXPECT_EQ(0, v->Root + v->Type + v->OldDataSize + v->LastOldDataSize + v->InstallNo);
    EXPECT_EQ(0u, (uintptr_t)f % 8);
    EXPECT_EQ(0u, (uintptr_t)v % 8);
}

// Many records with texts of many lengths: each keeps its own text (no two
// share or overlap bytes across blocks) and the list keeps its order well
// beyond its first size.
TEST_F(EntryStore, ManyRecordsKeepTheirTextsAndOrder)
{
    const int count = 20000;
    for (int n = 0; n < count; n++) {
        RegKeyEntry *e = nullptr;
        ASSERT_EQ(0, NewEntry(&e)) << n;
        std::string key = "Software\\" + std::string((size_t)(n % 200), 'k') + std::to_string(n);
        ASSERT_EQ(0, StoreText(&e->Key, key.c_str(), NAME_CAP)) << n;
        ASSERT_EQ(0, StoreText(&e->ValueName, std::to_string(n).c_str(), NAME_CAP)) << n;
        e->InstallNo = (unsigned short)(n % 65535);
        ASSERT_EQ(0, ListAppend(&RegKeyList, e)) << n;
    }
    ASSERT_EQ(count, RegKeyList.Count);
    int wrong = 0;
    for (int n = 0; n < count; n++) {
        const RegKeyEntry *e = ENTRY_AT(RegKeyEntry, RegKeyList, n);
        std::string key = "Software\\" + std::string((size_t)(n % 200), 'k') + std::to_string(n);
        if (key != e->Key || std::to_string(n) != e->ValueName || e->InstallNo != n % 65535)
            wrong++;
    }
    EXPECT_EQ(0, wrong);
}

} // namespace
