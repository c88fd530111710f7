// The registry's report rows name exactly what changed: a key the product
// made (no value name) is deleted as a key, a value is a REGVALUE whether
// deleted or restored, every key the walk up removes gets its own row, a
// value that already holds its old data is no change, and a preview plans
// the same rows while changing nothing.
#include <gtest/gtest.h>
#include <functional>
#include <string.h>
#include "support/kvtest.h"
#include "base/rows.h"
#include "base/state.h"
#include "machine/preview.h"
#include "engine/registry.h"
#include "base/text.h"
#include "base/refusals.h"

namespace {

const char Base[] = "Software\\KvRegRows";

std::string Row(int i)
{
    const ReportRow *r = RowAt(i);
    if (!r)
        return "<none>";
    return std::string(r->Kind) + " " + r->Target + " " + r->Action + " " + r->Outcome + " " + r->Reason + " " +
           r->Detail;
}

std::vector<std::string> AllRows()
{
    std::vector<std::string> rows;
    for (int i = 0; i < RowCount(); i++)
        rows.push_back(Row(i));
    return rows;
}

// A removal entry as the log reader makes it.
struct KeyEntry {
    RegKeyEntry e;
    KeyEntry(int root, const std::string &key, const char *name)
    {
        ClearEntry(&e);
        StoreText(&e.Key, key.c_str(), NAME_CAP);
        StoreText(&e.ValueName, name, NAME_CAP);
        e.Root = root;
        e.InstallNo = 1;
    }
};

class RegistryRows : public ::testing::Test {
protected:
    void SetUp() override
    {
        Rollback = Preview = 0;
        RowsWanted = 1;
        FreeRows();
        FreeRefusals();
        CleanKey(HKEY_CURRENT_USER, Base);
        CleanKey(HKEY_LOCAL_MACHINE, "Software\\AccWiz");
    }
    void TearDown() override
    {
        Rollback = Preview = RowsWanted = 0;
        FreeRows();
        FreeRefusals();
        ForgetPlannedGone();
        CleanKey(HKEY_CURRENT_USER, Base);
        CleanKey(HKEY_LOCAL_MACHINE, "Software\\AccWiz");
    }
    // Runs the removal of each entry (in the order given) as a preview, then
    // for real; both must plan the same rows. The real rows are returned.
    std::vector<std::string> RemoveBothWays(const std::vector<std::pair<int, std::pair<std::string, const char *>>> &entries,
                                            const std::function<std::string()> &machine)
    {
        std::string before = machine();
        Preview = 1;
        for (const auto &x : entries) {
            KeyEntry k(x.first, x.second.first, x.second.second);
            RemoveRegistryValue(&k.e);
        }
        std::vector<std::string> planned = AllRows();
        ForgetPlannedGone();
        EXPECT_EQ(before, machine()) << "the preview changed the registry";
        FreeRows();
        Preview = 0;
        for (const auto &x : entries) {
            KeyEntry k(x.first, x.second.first, x.second.second);
            RemoveRegistryValue(&k.e);
        }
        std::vector<std::string> real = AllRows();
        EXPECT_EQ(planned, real) << "the preview planned other rows";
        return real;
    }
};

std::string KeyText(HKEY root, const std::string &key)
{
    std::string out;
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return "";
    out += "[" + key + "]";
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD len = sizeof name;
        if (RegEnumValueA(h, i, name, &len, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        out += std::string(" ") + name;
    }
    std::vector<std::string> subs;
    for (DWORD i = 0;; i++) {
        char name[256];
        DWORD len = sizeof name;
        if (RegEnumKeyExA(h, i, name, &len, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subs.push_back(name);
    }
    RegCloseKey(h);
    for (const std::string &s : subs)
        out += KeyText(root, key + "\\" + s);
    return out;
}

// The key a product made without a value (root 2 = HKLM): it is deleted,
// and its row says so.
TEST_F(RegistryRows, AKeyMadeWithoutAValueIsDeletedAsAKey)
{
    const std::string empty = "Software\\AccWiz\\Empty";
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, empty.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                             &k, NULL));
    RegCloseKey(k);
    SetRegString(HKEY_LOCAL_MACHINE, "Software\\AccWiz", "Keep", "1");
    auto rows = RemoveBothWays({{2, {empty, ""}}}, [] { return KeyText(HKEY_LOCAL_MACHINE, "Software\\AccWiz"); });
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, empty));
    EXPECT_EQ(std::vector<std::string>{"REGKEY HKLM\\Software\\AccWiz\\Empty DELETE DONE  "}, rows);
}

TEST_F(RegistryRows, KeyEntriesTable)
{
    const std::string key = std::string(Base) + "\\made";
    struct Case {
        const char *name;
        std::function<void()> arrange;
        std::vector<std::string> rows;
        bool keyStays;
    } cases[] = {
        {"gone already", [] {}, {"REGKEY HKCU\\" + key + " DELETE SKIPPED ALREADY-GONE "}, false},
        {"with its default value",
         [&] { SetRegString(HKEY_CURRENT_USER, key, "", "installed"); },
         {"REGVALUE HKCU\\" + key + " DELETE-VALUE DONE  ", "REGKEY HKCU\\" + key + " DELETE DONE  "},
         false},
        {"holding the user's value",
         [&] { SetRegString(HKEY_CURRENT_USER, key, "User", "mine"); },
         {"REGKEY HKCU\\" + key + " DELETE KEPT NOT-EMPTY "},
         true},
        {"holding a sub-key",
         [&] { SetRegString(HKEY_CURRENT_USER, key + "\\Sub", "User", "mine"); },
         {"REGKEY HKCU\\" + key + " DELETE KEPT NOT-EMPTY "},
         true},
    };
    for (const Case &c : cases) {
        CleanKey(HKEY_CURRENT_USER, Base);
        SetRegString(HKEY_CURRENT_USER, Base, "Anchor", "keeps the base");
        c.arrange();
        FreeRows();
        auto rows = RemoveBothWays({{1, {key, ""}}}, [] { return KeyText(HKEY_CURRENT_USER, Base); });
        EXPECT_EQ(c.rows, rows) << c.name;
        EXPECT_EQ(c.keyStays, KeyExists(HKEY_CURRENT_USER, key)) << c.name;
    }
}

// A deleted value is a REGVALUE; each key the walk up empties and removes
// gets a row of its own, up to the first key that holds something else.
TEST_F(RegistryRows, TheWalkUpGivesEachRemovedKeyItsRow)
{
    const std::string top = std::string(Base) + "\\climb", leaf = top + "\\a\\b\\c";
    SetRegString(HKEY_CURRENT_USER, top, "Other", "stays");
    SetRegString(HKEY_CURRENT_USER, leaf, "First", "1");
    SetRegString(HKEY_CURRENT_USER, leaf, "Second", "2");
    // Two values of one key: the key goes with the second (the preview must
    // count the first as gone to see it).
    auto rows = RemoveBothWays({{1, {leaf, "First"}}, {1, {leaf, "Second"}}},
                               [] { return KeyText(HKEY_CURRENT_USER, Base); });
    std::vector<std::string> want = {
        "REGVALUE HKCU\\" + leaf + " DELETE-VALUE DONE  First",
        "REGVALUE HKCU\\" + leaf + " DELETE-VALUE DONE  Second",
        "REGKEY HKCU\\" + leaf + " DELETE DONE  ",
        "REGKEY HKCU\\" + top + "\\a\\b DELETE DONE  ",
        "REGKEY HKCU\\" + top + "\\a DELETE DONE  ",
    };
    EXPECT_EQ(want, rows);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, top + "\\a"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, top));

    // A value already gone: no key is removed, the key holds another value.
    SetRegString(HKEY_CURRENT_USER, top, "Other", "stays");
    FreeRows();
    rows = RemoveBothWays({{1, {top, "Missing"}}}, [] { return KeyText(HKEY_CURRENT_USER, Base); });
    EXPECT_EQ(std::vector<std::string>{"REGVALUE HKCU\\" + top + " DELETE-VALUE SKIPPED ALREADY-GONE Missing"}, rows);
}

// A restore names a change only when the value did not already hold the
// old data; a preview says the same.
TEST_F(RegistryRows, ARestoreOfAnUnchangedValueIsNoChange)
{
    const std::string key = std::string(Base) + "\\restore";
    struct Case {
        const char *name;
        int type;
        std::vector<std::string> old;
        DWORD nowType;
        std::string now;
        const char *outcome;
    } cases[] = {
        {"text as it was", 0, {"old"}, REG_SZ, std::string("old\0", 4), "DONE"},
        {"text changed", 0, {"old"}, REG_SZ, std::string("new\0", 4), "DONE"},
        {"number as it was", 3, {"7"}, REG_DWORD, DwordBytes(7), "DONE"},
        {"number changed", 3, {"7"}, REG_DWORD, DwordBytes(0), "DONE"},
        {"same bytes, other type", 1, {"old"}, REG_SZ, std::string("old\0", 4), "DONE"},
    };
    // The ones "as it was" are no change.
    const bool unchanged[] = {true, false, true, false, false};
    for (size_t i = 0; i < sizeof cases / sizeof *cases; i++) {
        const Case &c = cases[i];
        for (int preview = 1; preview >= 0; preview--) {
            SetRegValue(HKEY_CURRENT_USER, key, "V", c.nowType, c.now);
            FreeRows();
            Preview = preview;
            RegValueEntry e;
            ClearEntry(&e);
            StoreText(&e.Key, key.c_str(), NAME_CAP);
            StoreText(&e.ValueName, "V", NAME_CAP);
            StoreOldData(&e.OldData, &e.OldDataSize, c.old);
            e.Root = 1;
            e.Type = c.type;
            RestoreRegistryValue(&e);
            ForgetPlannedGone();
            std::string want = "REGVALUE HKCU\\" + key + " RESTORE-VALUE " +
                               (unchanged[i] ? "SKIPPED ALREADY-GONE V" : "DONE  V");
            EXPECT_EQ(want, Row(0)) << c.name << (preview ? " (preview)" : "");
            EXPECT_EQ(1, RowCount()) << c.name;
        }
    }
    Preview = 0;
}

// A tree inside a tree the preview would already have deleted is gone for
// the preview too, as for the real run; a value below it as well.
TEST_F(RegistryRows, APreviewSeesWhatItWouldHaveDeleted)
{
    const std::string outer = std::string(Base) + "\\outer", inner = outer + "\\inner";
    SetRegString(HKEY_CURRENT_USER, inner, "V", "x");
    std::vector<std::vector<std::string>> runs;
    for (int preview = 1; preview >= 0; preview--) {
        FreeRows();
        Preview = preview;
        DeleteRegistryTree(outer.c_str(), 1, 1);
        DeleteRegistryTree(inner.c_str(), 1, 1);
        KeyEntry k(1, inner, "V");
        RemoveRegistryValue(&k.e);
        runs.push_back(AllRows());
        ForgetPlannedGone();
        EXPECT_EQ(preview == 1, KeyExists(HKEY_CURRENT_USER, inner));
    }
    std::vector<std::string> want = {
        "REGTREE HKCU\\" + outer + " DELETE DONE  ",
        "REGTREE HKCU\\" + inner + " DELETE SKIPPED ALREADY-GONE ",
        "REGVALUE HKCU\\" + inner + " DELETE-VALUE SKIPPED ALREADY-GONE V",
    };
    EXPECT_EQ(want, runs[0]);
    EXPECT_EQ(want, runs[1]);
    Preview = 0;
}

// A refused entry's row names the key with its root, as every other
// registry row does; only a root the report cannot name leaves the key's
// text alone. A preview refuses the same.
TEST_F(RegistryRows, RefusalsNameTheKeyWithItsRoot)
{
    const std::string top = "KvRegRowsTop";     // a root's own child: never deleted
    struct Case {
        const char *name;
        std::function<void()> run;
        std::vector<std::string> rows;
    } cases[] = {
        {"value entry naming the root", [] { KeyEntry k(1, "\\", "V"); RemoveRegistryValue(&k.e); },
         {"REGKEY HKCU\\\\ NONE REFUSED BAD-PATH "}},
        {"key entry of an unknown root", [] { KeyEntry k(7, Base, ""); RemoveRegistryValue(&k.e); },
         {"REGKEY " + std::string(Base) + " NONE REFUSED BAD-PATH "}},
        {"walk up to a root's child",
         [&] {
             SetRegString(HKEY_CURRENT_USER, top + "\\a", "V", "x");
             KeyEntry k(1, top + "\\a", "V");
             RemoveRegistryValue(&k.e);
         },
         {"REGVALUE HKCU\\" + top + "\\a DELETE-VALUE DONE  V", "REGKEY HKCU\\" + top + "\\a DELETE DONE  ",
          "REGKEY HKCU\\" + top + " NONE REFUSED PROTECTED "}},
        {"protected tree", [] { DeleteRegistryTree("Software\\Microsoft", 2, 1); },
         {"REGTREE HKLM\\Software\\Microsoft NONE REFUSED PROTECTED "}},
        {"tree spelt oddly", [] { DeleteRegistryTree("Software\\\\KvRegRows", 1, 1); },
         {"REGTREE HKCU\\Software\\\\KvRegRows NONE REFUSED BAD-PATH "}},
        {"tree of an unknown root", [] { DeleteRegistryTree(Base, 9, 1); },
         {"REGTREE " + std::string(Base) + " NONE REFUSED BAD-PATH "}},
    };
    for (const Case &c : cases) {
        for (int preview = 1; preview >= 0; preview--) {
            const std::string run = std::string(c.name) + (preview ? " (preview)" : "");
            CleanKey(HKEY_CURRENT_USER, top);
            FreeRows();
            FreeRefusals();
            Preview = preview;
            c.run();
            Preview = 0;
            ForgetPlannedGone();
            EXPECT_EQ(c.rows, AllRows()) << run;
            // The refusal list, which the inventory dump shows, names it alike.
            ASSERT_EQ(1, RefusalCount()) << run;
            ASSERT_GT(RowCount(), 0) << run;
            EXPECT_STREQ(RowAt(RowCount() - 1)->Target, RefusalAt(0)->Target) << run;
        }
    }
    CleanKey(HKEY_CURRENT_USER, top);
}

} // namespace
