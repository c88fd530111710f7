// Registry restore, removal and tree deletion, on private keys under
// HKCU\Software\KvTest.
#include <gtest/gtest.h>
#include <algorithm>
#include <string.h>
#include "support/kvtest.h"
#include "base/state.h"
#include "engine/registry.h"
#include "base/text.h"
#include "base/refusals.h"

namespace {

const char Base[] = "Software\\KvTest";

std::string KeyOf(const std::string &caseName)
{
    return std::string(Base) + "\\" + caseName;
}

void MakeKey(const std::string &key)
{
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &k, NULL)) << key;
    RegCloseKey(k);
}

// Old data as the log reader stores it: strings, each NUL-ended, then a NUL.
void SetOldData(char *dst, const std::vector<std::string> &lines)
{
    memset(dst, 0, OLD_DATA_CAP);
    size_t pos = 0;
    for (const std::string &l : lines) {
        memcpy(dst + pos, l.c_str(), l.size() + 1);
        pos += l.size() + 1;
    }
}

// A value entry of HKCU for key\name with the old data given.
void MakeValueEntry(RegValueEntry *e, const std::string &key, const char *name,
                    const std::vector<std::string> &old)
{
    ClearEntry(e);
    StoreText(&e->Key, key.c_str(), NAME_CAP);
    StoreText(&e->ValueName, name, NAME_CAP);
    StoreOldData(&e->OldData, &e->OldDataSize, old);
    e->Root = 1;
}

// A value of each log type, as written back into the registry.
struct TypeRow { const char *name; int type; std::vector<std::string> lines; DWORD regType; std::string want; };

class Registry : public ::testing::Test {
protected:
    void SetUp() override
    {
        Rollback = 0;
        CleanKey(HKEY_CURRENT_USER, Base);
    }
    void TearDown() override
    {
        Rollback = 0;
        CleanKey(HKEY_CURRENT_USER, Base);
    }
};

TEST_F(Registry, ConversionOfEveryType)
{
    struct Row {
        const char *name;
        int type;
        std::vector<std::string> lines;
        std::string want;
    };
    const std::vector<Row> rows = {
        {"string", 0, {"hello", "ignored"}, std::string("hello\0", 6)},
        {"expand", 1, {"%WINDIR%\\x"}, std::string("%WINDIR%\\x\0", 11)},
        {"empty string", 0, {""}, std::string("\0", 1)},
        {"multi", 2, {"a", "bc"}, std::string("a\0bc\0\0", 6)},
        {"multi empty", 2, {}, std::string("\0", 1)},
        {"dword -1", 3, {"-1"}, std::string("\xFF\xFF\xFF\xFF", 4)},
        {"dword 12abc", 3, {"12abc"}, std::string("\x0C\0\0\0", 4)},
        {"dword blanks +", 3, {"  +258"}, std::string("\x02\x01\0\0", 4)},
        {"dword none", 3, {"abc"}, std::string("\0\0\0\0", 4)},
        {"dword wraps", 3, {"4294967297"}, std::string("\x01\0\0\0", 4)},
        {"binary", 4, {"0a 1B,ff"}, std::string("\x0A\x1B\xFF", 3)},
        {"binary odd", 4, {"ABC"}, std::string("\xAB", 1)},
        {"binary none", 4, {"xyz"}, std::string()},
        {"binary first line only", 4, {"01", "02"}, std::string("\x01", 1)},
    };
    for (const Row &r : rows) {
        char data[OLD_DATA_CAP];
        SetOldData(data, r.lines);
        int count = ConvertRegistryData(data, sizeof data, r.type);
        ASSERT_EQ((int)r.want.size(), count) << r.name;
        EXPECT_EQ(r.want, std::string(data, count)) << r.name;
    }
    char data[OLD_DATA_CAP] = "1";
    EXPECT_EQ(-1, ConvertRegistryData(data, sizeof data, 5));
    EXPECT_EQ(-1, ConvertRegistryData(data, sizeof data, -1));
}

TEST_F(Registry, MultiStringNotClosedStaysInsideItsBuffer)
{
    char data[OLD_DATA_CAP];
    memset(data, 'x', sizeof data);
    int count = ConvertRegistryData(data, sizeof data, 2);
    EXPECT_EQ(OLD_DATA_CAP, count);
    EXPECT_EQ(0, data[OLD_DATA_CAP - 1]);
    EXPECT_EQ(0, data[OLD_DATA_CAP - 2]);
}

TEST_F(Registry, RestoreWritesEachTypeIntoAnExistingKey)
{
    std::string key = KeyOf("restore");
    MakeKey(key);
    const TypeRow rows[] = {
        {"S", 0, {"old"}, REG_SZ, std::string("old\0", 4)},
        {"E", 1, {"%TEMP%"}, REG_EXPAND_SZ, std::string("%TEMP%\0", 7)},
        {"M", 2, {"a", "bc"}, REG_MULTI_SZ, std::string("a\0bc\0\0", 6)},
        {"D", 3, {"-1"}, REG_DWORD, std::string("\xFF\xFF\xFF\xFF", 4)},
        {"B", 4, {"0a 1B,ff"}, REG_BINARY, std::string("\x0A\x1B\xFF", 3)},
        {"", 0, {"default"}, REG_SZ, std::string("default\0", 8)},
    };
    for (const TypeRow &r : rows) {
        SetRegString(HKEY_CURRENT_USER, key, r.name, "installed");
        RegValueEntry e;
        MakeValueEntry(&e, key, r.name, r.lines);
        StoreOldData(&e.LastOldData, &e.LastOldDataSize, {"never"});
        e.Type = r.type;
        RestoreRegistryValue(&e);
        DWORD type;
        EXPECT_EQ(r.want, ReadRegValue(HKEY_CURRENT_USER, key, r.name, &type))
            << "value '" << r.name << "'";
        EXPECT_EQ(r.regType, type) << "value '" << r.name << "'";
    }
}

TEST_F(Registry, RollbackWritesTheLastOldData)
{
    std::string key = KeyOf("rollback");
    SetRegString(HKEY_CURRENT_USER, key, "V", "installed");
    RegValueEntry e;
    MakeValueEntry(&e, key, "V", {"first"});
    StoreOldData(&e.LastOldData, &e.LastOldDataSize, {"before last"});
    Rollback = 1;
    RestoreRegistryValue(&e);
    DWORD type;
    EXPECT_EQ(std::string("before last\0", 12), ReadRegValue(HKEY_CURRENT_USER, key, "V", &type));
    Rollback = 0;
    RestoreRegistryValue(&e);
    EXPECT_EQ(std::string("first\0", 6), ReadRegValue(HKEY_CURRENT_USER, key, "V", &type));
}

// The conversion works on a copy: a number whose text is shorter than its
// four bytes does not write past the entry's data, and a second restore
// (the same entry written again) gives the same value.
TEST_F(Registry, RestoreConvertsACopyOfTheOldData)
{
    std::string key = KeyOf("copy");
    const TypeRow rows[] = {
        {"D", 3, {"7"}, REG_DWORD, std::string("\x07\0\0\0", 4)},
        {"B", 4, {"0a"}, REG_BINARY, std::string("\x0A", 1)},
        {"M", 2, {"a", "b"}, REG_MULTI_SZ, std::string("a\0b\0\0", 5)},
    };
    for (const TypeRow &r : rows) {
        SetRegString(HKEY_CURRENT_USER, key, r.name, "installed");
        RegValueEntry e;
        MakeValueEntry(&e, key, r.name, r.lines);
        std::string stored(e.OldData, (size_t)e.OldDataSize + 2);
        e.Type = r.type;
        for (int pass = 0; pass < 2; pass++) {
            RestoreRegistryValue(&e);
            DWORD type;
            EXPECT_EQ(r.want, ReadRegValue(HKEY_CURRENT_USER, key, r.name, &type)) << r.name << " pass " << pass;
            EXPECT_EQ(r.regType, type) << r.name;
            EXPECT_EQ(stored, std::string(e.OldData, (size_t)e.OldDataSize + 2)) << r.name << ": entry changed";
        }
    }
}

TEST_F(Registry, RestoreNeverCreatesAKeyAndRefusesUnknownNumbers)
{
    std::string key = KeyOf("gone\\sub");
    RegValueEntry e;
    MakeValueEntry(&e, key, "V", {"old"});
    RestoreRegistryValue(&e);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, KeyOf("gone")));

    std::string present = KeyOf("numbers");
    MakeKey(present);
    StoreText(&e.Key, present.c_str(), NAME_CAP);
    struct Row { int root, type; };
    const Row bad[] = {{5, 0}, {-1, 0}, {1, 5}, {1, -1}};
    for (const Row &r : bad) {
        e.Root = r.root;
        e.Type = r.type;
        RestoreRegistryValue(&e);
        DWORD type;
        ReadRegValue(HKEY_CURRENT_USER, present, "V", &type);
        EXPECT_EQ(0u, type) << "root " << r.root << " type " << r.type;
    }
}

TEST_F(Registry, RemovalClimbsWhileKeysAreEmpty)
{
    // KvTest\climb\keep holds another value; below it a chain of empty keys.
    std::string keep = KeyOf("climb\\keep");
    SetRegString(HKEY_CURRENT_USER, keep, "other", "1");
    std::string leaf = keep + "\\a\\b\\c";
    SetRegString(HKEY_CURRENT_USER, leaf, "created", "x");
    MakeKey(keep + "\\sibling");

    RegKeyEntry e;
    ClearEntry(&e);
    StoreText(&e.Key, leaf.c_str(), NAME_CAP);
    StoreText(&e.ValueName, "created", NAME_CAP);
    e.Root = 1;
    RemoveRegistryValue(&e);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, keep + "\\a"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, keep));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, keep + "\\sibling"));
    EXPECT_STREQ(keep.c_str(), e.Key);

    // A key that holds another value loses only the created value.
    std::string busy = KeyOf("busy");
    SetRegString(HKEY_CURRENT_USER, busy, "created", "x");
    SetRegString(HKEY_CURRENT_USER, busy, "other", "y");
    RegKeyEntry b;
    ClearEntry(&b);
    StoreText(&b.Key, busy.c_str(), NAME_CAP);
    StoreText(&b.ValueName, "created", NAME_CAP);
    b.Root = 1;
    RemoveRegistryValue(&b);
    DWORD type;
    EXPECT_EQ("", ReadRegValue(HKEY_CURRENT_USER, busy, "created", &type));
    EXPECT_EQ(0u, type);
    EXPECT_EQ(std::string("y\0", 2), ReadRegValue(HKEY_CURRENT_USER, busy, "other", &type));

    // A key with a sub-key stays, and so does the value's sibling there.
    std::string parent = KeyOf("parent");
    SetRegString(HKEY_CURRENT_USER, parent, "", "default");
    MakeKey(parent + "\\child");
    RegKeyEntry p;
    ClearEntry(&p);
    StoreText(&p.Key, parent.c_str(), NAME_CAP);
    p.Root = 1;     // empty name: the default value
    RemoveRegistryValue(&p);
    EXPECT_EQ("", ReadRegValue(HKEY_CURRENT_USER, parent, "", &type));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, parent + "\\child"));
}

TEST_F(Registry, RemovalStopsBelowTheRoot)
{
    // The private branch goes up to the root's direct child, which stays
    // even when emptied: such keys are never deleted.
    FreeRefusals();
    SetRegString(HKEY_CURRENT_USER, "KvTestTop\\a", "v", "1");
    RegKeyEntry e;
    ClearEntry(&e);
    StoreText(&e.Key, "KvTestTop\\a", NAME_CAP);
    StoreText(&e.ValueName, "v", NAME_CAP);
    e.Root = 1;
    RemoveRegistryValue(&e);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "KvTestTop\\a"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "KvTestTop"));
    EXPECT_STREQ("KvTestTop", e.Key);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software"));
    ASSERT_EQ(1, RefusalCount());
    EXPECT_STREQ("REGKEY", RefusalAt(0)->Kind);
    EXPECT_STREQ("PROTECTED", RefusalAt(0)->Reason);
    CleanKey(HKEY_CURRENT_USER, "KvTestTop");
    FreeRefusals();
}

TEST_F(Registry, RootsAndEmptyKeysAreRefused)
{
    FreeRefusals();
    SetRegString(HKEY_CURRENT_USER, KeyOf("sentinel"), "v", "1");
    RegKeyEntry e;
    ClearEntry(&e);
    e.Root = 1;
    RemoveRegistryValue(&e);
    StoreText(&e.Key, "\\", NAME_CAP);
    RemoveRegistryValue(&e);
    DeleteRegistryTree("", 1);
    DeleteRegistryTree("\\\\", 1);
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, KeyOf("sentinel")));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software"));
    // Each refusal is recorded.
    ASSERT_EQ(4, RefusalCount());
    for (int i = 0; i < 4; i++)
        EXPECT_STREQ("BAD-PATH", RefusalAt(i)->Reason) << i;
    FreeRefusals();

    // A root number outside the table touches nothing.
    StoreText(&e.Key, KeyOf("sentinel").c_str(), NAME_CAP);
    StoreText(&e.ValueName, "v", NAME_CAP);
    e.Root = 7;
    RemoveRegistryValue(&e);
    DeleteRegistryTree(KeyOf("sentinel").c_str(), -1);
    DWORD type;
    EXPECT_EQ(std::string("1\0", 2),
              ReadRegValue(HKEY_CURRENT_USER, KeyOf("sentinel"), "v", &type));
}

TEST_F(Registry, TreeDeletionDepthFirst)
{
    std::string top = KeyOf("tree");
    for (const char *sub : {"a\\b\\c\\d", "a\\b2", "e", "f\\g"})
        SetRegString(HKEY_CURRENT_USER, top + "\\" + sub, "v", "x");
    SetRegString(HKEY_CURRENT_USER, top, "v", "x");
    MakeKey(KeyOf("treeSibling"));
    DeleteRegistryTree(top.c_str(), 1);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, top));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, KeyOf("treeSibling")));

    // A missing top key: nothing happens, quietly.
    DeleteRegistryTree(KeyOf("missing").c_str(), 1);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, KeyOf("missing")));
}

// Creates key below parent one level at a time (a path of more than 255
// characters cannot be opened at once).
std::string MakeChain(const std::string &parent, int levels)
{
    HKEY k;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, parent.c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &k, NULL));
    std::string path = parent;
    for (int i = 0; i < levels; i++) {
        HKEY next;
        std::string name(60, 'k');
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(k, name.c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                                 NULL, &next, NULL));
        RegCloseKey(k);
        k = next;
        path += "\\" + name;
    }
    RegCloseKey(k);
    return path;
}

TEST_F(Registry, UndeletableSubTreesArePassedOver)
{
    // Below "b" lies a key whose path is too long to be opened: that branch
    // stays; its siblings on either side go, and the call comes back at once
    // instead of retrying the branch 2048 times on every level.
    std::string top = KeyOf("deep");
    std::string chain = MakeChain(top + "\\b", 5);
    ASSERT_GT(chain.size(), 255u);
    MakeKey(top + "\\a\\x");
    MakeKey(top + "\\c\\y");
    DeleteRegistryTree(top.c_str(), 1);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, top + "\\a"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, top + "\\c"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, top + "\\b"));

    // Clean up the two levels beyond reach through handles of their parents.
    HKEY parent;
    std::string mid = chain.substr(0, top.size() + 2 + 61 * 3);
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, mid.c_str(), 0, KEY_ALL_ACCESS, &parent));
    HKEY child;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(parent, std::string(60, 'k').c_str(), 0, KEY_ALL_ACCESS, &child));
    RegDeleteKeyA(child, std::string(60, 'k').c_str());
    RegCloseKey(child);
    RegDeleteKeyA(parent, std::string(60, 'k').c_str());
    RegCloseKey(parent);
}

// Protected trees, planted with content, are refused whole by every
// spelling: not a key and not a value goes. Scratch product trees beside
// them still go.
TEST_F(Registry, ProtectedTreesStayWhole)
{
    FreeRefusals();
    const std::string product = KeyOf("Vendor\\Product");
    const std::string msSentinel = "Software\\Microsoft\\KvTestSentinel";
    const std::string clsSentinel = "Software\\Classes\\CLSID\\{4B565445-5354-0000-0000-000000000001}";
    SetRegString(HKEY_CURRENT_USER, KeyOf("sentinel"), "v", "1");
    SetRegString(HKEY_LOCAL_MACHINE, msSentinel + "\\sub", "v", "1");
    SetRegString(HKEY_LOCAL_MACHINE, msSentinel, "v", "1");
    SetRegString(HKEY_CURRENT_USER, clsSentinel, "", "kv");
    struct Row { int root; const char *key; const char *reason; };
    const Row rows[] = {
        {1, "Software", "PROTECTED"},
        {1, "software", "PROTECTED"},
        {2, "Software\\Microsoft", "PROTECTED"},
        {2, "SOFTWARE\\MICROSOFT", "PROTECTED"},
        {2, "Software\\\\Microsoft", "BAD-PATH"},
        {2, "Software\\Microsoft\\", "BAD-PATH"},
        {2, "\\Software\\Microsoft", "BAD-PATH"},
        {1, "Software\\Classes\\CLSID", "PROTECTED"},
        {1, "Software\\Classes", "PROTECTED"},
        {0, "CLSID", "PROTECTED"},
        {2, "SYSTEM\\CurrentControlSet\\Services", "PROTECTED"},
        {2, "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall", "PROTECTED"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(0, DeleteRegistryTree(r.key, r.root, 7)) << r.key;
    DWORD type;
    EXPECT_EQ(std::string("1\0", 2), ReadRegValue(HKEY_CURRENT_USER, KeyOf("sentinel"), "v", &type));
    EXPECT_EQ(std::string("1\0", 2), ReadRegValue(HKEY_LOCAL_MACHINE, msSentinel, "v", &type));
    EXPECT_EQ(std::string("1\0", 2), ReadRegValue(HKEY_LOCAL_MACHINE, msSentinel + "\\sub", "v", &type));
    EXPECT_EQ(std::string("kv\0", 3), ReadRegValue(HKEY_CURRENT_USER, clsSentinel, "", &type));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services"));
    ASSERT_EQ((int)(sizeof rows / sizeof rows[0]), RefusalCount());
    for (int i = 0; i < RefusalCount(); i++) {
        EXPECT_STREQ("REGTREE", RefusalAt(i)->Kind);
        // Named with its root, as every registry row names a key.
        const char *const rootNames[] = {"HKCR", "HKCU", "HKLM"};
        EXPECT_EQ(std::string(rootNames[rows[i].root]) + "\\" + rows[i].key, RefusalAt(i)->Target);
        EXPECT_STREQ(rows[i].reason, RefusalAt(i)->Reason);
        EXPECT_EQ(7, RefusalAt(i)->InstallNo);
    }

    // Positive controls: the product's own tree and its class key go.
    SetRegString(HKEY_CURRENT_USER, product + "\\Settings", "v", "x");
    SetRegString(HKEY_CLASSES_ROOT, "KvTest.Document\\shell\\open", "", "x");
    ASSERT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "KvTest.Document"));
    EXPECT_EQ(1, DeleteRegistryTree(product.c_str(), 1, 7));
    EXPECT_EQ(1, DeleteRegistryTree("KvTest.Document", 0, 7));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, product));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, KeyOf("Vendor")));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, "KvTest.Document"));
    EXPECT_EQ((int)(sizeof rows / sizeof rows[0]), RefusalCount());

    CleanKey(HKEY_LOCAL_MACHINE, msSentinel);
    CleanKey(HKEY_CURRENT_USER, clsSentinel);
    FreeRefusals();
}

// The walk up emptied parents removes the created value from a shared key
// but never the shared key itself.
TEST_F(Registry, RemovalWalkStopsAtAProtectedKey)
{
    FreeRefusals();
    const std::string shared = "Software\\Microsoft\\Windows\\CurrentVersion\\RunOnceEx";
    bool existed = KeyExists(HKEY_CURRENT_USER, shared);
    SetRegString(HKEY_CURRENT_USER, shared, "KvTestCreated", "x");
    RegKeyEntry e;
    ClearEntry(&e);
    StoreText(&e.Key, shared.c_str(), NAME_CAP);
    StoreText(&e.ValueName, "KvTestCreated", NAME_CAP);
    e.Root = 1;
    e.InstallNo = 2;
    RemoveRegistryValue(&e);
    DWORD type;
    ReadRegValue(HKEY_CURRENT_USER, shared, "KvTestCreated", &type);
    EXPECT_EQ(0u, type) << "the created value goes";
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, shared));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion"));
    if (!existed) {
        ASSERT_EQ(1, RefusalCount());
        EXPECT_EQ("HKCU\\" + shared, RefusalAt(0)->Target);
        EXPECT_EQ(2, RefusalAt(0)->InstallNo);
        RegDeleteKeyA(HKEY_CURRENT_USER, shared.c_str());
    }
    FreeRefusals();
}

// A value whose name is longer than the enumeration buffer still counts:
// the key holding it is not empty.
TEST_F(Registry, LongValueNameKeepsItsKey)
{
    const std::string key = KeyOf("longname\\leaf");
    const std::string longName(300, 'n');
    SetRegString(HKEY_CURRENT_USER, key, longName.c_str(), "keep");
    SetRegString(HKEY_CURRENT_USER, key, "created", "x");
    RegKeyEntry e;
    ClearEntry(&e);
    StoreText(&e.Key, key.c_str(), NAME_CAP);
    StoreText(&e.ValueName, "created", NAME_CAP);
    e.Root = 1;
    RemoveRegistryValue(&e);
    DWORD type;
    EXPECT_EQ(std::string("keep\0", 5), ReadRegValue(HKEY_CURRENT_USER, key, longName.c_str(), &type));
    ReadRegValue(HKEY_CURRENT_USER, key, "created", &type);
    EXPECT_EQ(0u, type);

    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &k));
    EXPECT_EQ(1, KeyHoldsSomething(k));
    RegCloseKey(k);
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, KeyOf("longname").c_str(), 0,
                                           KEY_READ, &k));
    EXPECT_EQ(1, KeyHoldsSomething(k));     // a sub-key
    RegCloseKey(k);
    MakeKey(KeyOf("empty"));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, KeyOf("empty").c_str(), 0, KEY_READ, &k));
    EXPECT_EQ(0, KeyHoldsSomething(k));
    RegCloseKey(k);
}

}  // namespace
