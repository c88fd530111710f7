// End to end: UNINSTAL.EXE /S on logs that name protected registry trees or
// carry a Program Manager name built to inject a second command. The machine
// is compared before and after; the product's own tree and items still go.
#include <gtest/gtest.h>
#include <algorithm>
#include "support/kvtest.h"
#include "support/progmantest.h"

namespace {

const char Product[] = "Software\\KvTestRegSafety\\Product";

// The names of a key's sub-keys, sorted, and its value count.
std::vector<std::string> Snapshot(HKEY root, const std::string &key)
{
    std::vector<std::string> out;
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return out;
    char name[256];
    for (DWORD i = 0;; i++) {
        DWORD size = sizeof name;
        if (RegEnumKeyExA(k, i, name, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        out.push_back(name);
    }
    DWORD values = 0;
    RegQueryInfoKeyA(k, NULL, NULL, NULL, NULL, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    out.push_back("values: " + std::to_string(values));
    RegCloseKey(k);
    std::sort(out.begin(), out.end());
    return out;
}

struct Watched {
    HKEY root;
    const char *key;
};
const Watched WatchedKeys[] = {
    {HKEY_CURRENT_USER, "Software"},
    {HKEY_CURRENT_USER, "Software\\KvTestRegSafety"},
    {HKEY_LOCAL_MACHINE, "Software"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft"},
    {HKEY_LOCAL_MACHINE, "Software\\Microsoft\\KvTestSentinel"},
    {HKEY_LOCAL_MACHINE, "Software\\Classes\\CLSID"},
    {HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services"},
};

class RegSafety : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = ScratchDir("regsafety");
        CleanKey(HKEY_CURRENT_USER, "Software\\KvTestRegSafety");
        SetRegString(HKEY_CURRENT_USER, "Software\\KvTestRegSafety\\Other", "v", "keep");
        SetRegString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\KvTestSentinel\\sub", "v", "keep");
        SetRegString(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\KvTestSentinel", "v", "keep");
        // The product's own tree: the positive control.
        SetRegString(HKEY_CURRENT_USER, std::string(Product) + "\\Settings\\Deep", "v", "x");
        SetRegString(HKEY_CURRENT_USER, Product, "v", "x");
        for (const Watched &w : WatchedKeys)
            before.push_back(Snapshot(w.root, w.key));
    }
    void TearDown() override
    {
        CleanKey(HKEY_CURRENT_USER, "Software\\KvTestRegSafety");
        CleanKey(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\KvTestSentinel");
        RemoveTreeForTest(dir);
    }
    void Run(const std::string &logText)
    {
        std::string log = dir + "\\INSTALL.LOG";
        ASSERT_TRUE(WriteFileBytes(log, "*** Installation Started\r\nTitle: Reg Safety\r\n" + logText));
        ChildRun run = RunChild(InstallCopy(dir), "/S " + log, {}, 60000);
        ASSERT_TRUE(run.started);
        EXPECT_FALSE(run.timedOut);
        EXPECT_TRUE(run.dialogs.empty());
    }
    void ExpectOnlyTheProductGone()
    {
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Product));
        // The product's tree was a sub-key of the vendor key: take it out of
        // the picture before comparing.
        for (size_t i = 0; i < sizeof WatchedKeys / sizeof WatchedKeys[0]; i++) {
            std::vector<std::string> want = before[i];
            if (std::string(WatchedKeys[i].key) == "Software\\KvTestRegSafety")
                want.erase(std::remove(want.begin(), want.end(), "Product"), want.end());
            EXPECT_EQ(want, Snapshot(WatchedKeys[i].root, WatchedKeys[i].key)) << WatchedKeys[i].key;
        }
        EXPECT_EQ("keep", ReadRegText(HKEY_CURRENT_USER, "Software\\KvTestRegSafety\\Other", "v"));
        EXPECT_EQ("keep", ReadRegText(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\KvTestSentinel", "v"));
        EXPECT_EQ("keep",
                  ReadRegText(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\KvTestSentinel\\sub", "v"));
    }
    std::string dir;
    std::vector<std::vector<std::string>> before;
};

TEST_F(RegSafety, SoftwareUnderTheCurrentUserStays)
{
    ASSERT_TRUE(KeyExists(HKEY_CURRENT_USER, Product));
    Run("RegDB Tree: Software\r\nRegDB Root: 1\r\n"
        "RegDB Tree: \\Software\\\r\nRegDB Root: 1\r\n"
        "RegDB Tree: " + std::string(Product) + "\r\nRegDB Root: 1\r\n");
    ExpectOnlyTheProductGone();
}

TEST_F(RegSafety, SoftwareMicrosoftOfTheMachineStays)
{
    Run("RegDB Tree: Software\\Microsoft\r\nRegDB Root: 2\r\n"
        "RegDB Tree: software\\\\microsoft\r\nRegDB Root: 2\r\n"
        "RegDB Tree: Software\\Classes\\CLSID\r\nRegDB Root: 2\r\n"
        "RegDB Tree: CLSID\r\nRegDB Root: 0\r\n"
        "RegDB Tree: SYSTEM\\CurrentControlSet\\Services\r\nRegDB Root: 2\r\n"
        "RegDB Tree: " + std::string(Product) + "\r\nRegDB Root: 1\r\n");
    ExpectOnlyTheProductGone();
}

// A created value in a shared key goes; the emptied shared key stays.
TEST_F(RegSafety, ValueInASharedKeyGoesTheKeyStays)
{
    const std::string shared = "Software\\Microsoft\\Windows\\CurrentVersion\\RunServicesOnce";
    bool existed = KeyExists(HKEY_CURRENT_USER, shared);
    SetRegString(HKEY_CURRENT_USER, shared, "KvTestRegSafety", "x");
    Run("RegDB Key: " + shared + "\r\nRegDB Val: x\r\nRegDB Name: KvTestRegSafety\r\n"
        "RegDB Type: 0\r\nRegDB Root: 1\r\n"
        "RegDB Tree: " + std::string(Product) + "\r\nRegDB Root: 1\r\n");
    EXPECT_EQ("<none>", ReadRegText(HKEY_CURRENT_USER, shared, "KvTestRegSafety"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, shared));
    ExpectOnlyTheProductGone();
    if (!existed)
        RegDeleteKeyA(HKEY_CURRENT_USER, shared.c_str());
}

// An icon name that closes its command and opens another deletes only its
// own item; a name with a quote is refused and its item stays.
TEST(RegSafetyIcons, InjectedIconNameDeletesNoOtherGroup)
{
    std::string dir = ScratchDir("regsafety_pm");
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(dir, "=Apps\r\n\"Apps\"\r\n\"Tool)][DeleteGroup(Other)\",\"C:\\T.EXE\"\r\n"
                              "\"Keep\",\"C:\\K.EXE\"\r\n"
                              "=Other\r\n\"Other\"\r\n\"Theirs\",\"C:\\O.EXE\"\r\n"
                              "=Quotes\r\n\"Quotes\"\r\n\"Quoted\",\"C:\\Q.EXE\"\r\n"
                              "=Mine\r\n\"Mine\"\r\n\"Plain\",\"C:\\P.EXE\"\r\n"));
    std::string log = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(log, "*** Installation Started\r\nTitle: Icons\r\n"
                                    "Icon Group: Apps\r\nIcon Name: Tool)][DeleteGroup(Other)\r\n"
                                    "Icon Cmd: C:\\NONE.EXE\r\n"
                                    "Icon Group: Quotes\r\nIcon Name: Say \"hi\"\r\n"
                                    "Icon Cmd: C:\\Q.EXE\r\n"
                                    "Icon Group: Mine\r\nIcon Name: Plain\r\nIcon Cmd: C:\\P.EXE\r\n"));
    ChildRun run = RunChild(InstallCopy(dir), "/S " + log, {}, 60000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ("=Apps\r\n\"Apps\"\r\n\"Keep\",\"C:\\K.EXE\"\r\n"
              "=Other\r\n\"Other\"\r\n\"Theirs\",\"C:\\O.EXE\"\r\n"
              "=Quotes\r\n\"Quotes\"\r\n\"Quoted\",\"C:\\Q.EXE\"\r\n",
              pm.Result());
    RemoveTreeForTest(dir);
}

}  // namespace
