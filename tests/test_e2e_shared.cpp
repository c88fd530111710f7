// Shared-file counts through the real program: the question, No to All,
// silent runs, and systems that keep no counts.
#include <gtest/gtest.h>
#include <string.h>
#include "kvtest.h"

namespace {

const char SharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";

void SetCount(const std::string &name, DWORD count)
{
    SetRegValue(HKEY_LOCAL_MACHINE, SharedKey, name.c_str(), REG_DWORD, DwordBytes(count));
}

// The count now stored, or -1 when the value is gone.
long Count(const std::string &name)
{
    DWORD type, n = 0;
    std::string v = ReadRegValue(HKEY_LOCAL_MACHINE, SharedKey, name.c_str(), &type);
    memcpy(&n, v.data(), v.size() < sizeof n ? v.size() : sizeof n);
    return type ? (long)n : -1;
}

struct Product {
    std::string dir, log, a, b;
};

Product MakeProduct(DWORD countA, DWORD countB)
{
    Product p;
    p.dir = ScratchDir("Shared Product");
    p.a = p.dir + "\\A.DLL";
    p.b = p.dir + "\\B.DLL";
    p.log = p.dir + "\\INSTALL.LOG";
    EXPECT_TRUE(WriteFileBytes(p.a, "a"));
    EXPECT_TRUE(WriteFileBytes(p.b, "b"));
    EXPECT_TRUE(WriteFileBytes(p.log, "***  Installation Started\r\nTitle: Shared Test\r\n"
                                      "File Copy: " + p.a + "\r\nFile Copy: " + p.b + "\r\n"));
    SetCount(p.a, countA);
    SetCount(p.b, countB);
    return p;
}

int Questions(const ChildRun &run)
{
    int n = 0;
    for (const SeenDialog &d : run.dialogs)
        if (d.caption == "Remove Shared Component")
            n++;
    return n;
}

TEST(SharedE2E, LastReferenceAnsweredYesRemovesTheFile)
{
    Product p = MakeProduct(1, 1);
    ChildRun run = RunChild(UninstallerPath(), "/A " + ShortOf(p.log) + " KvTest Shared",
                            {{"Remove Shared Component", 1005}, {"Remove Shared Component", 1005}});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(2, Questions(run));
    EXPECT_FALSE(PathExists(p.a));
    EXPECT_FALSE(PathExists(p.b));
    EXPECT_EQ(-1, Count(p.a));
    EXPECT_EQ(-1, Count(p.b));
    RemoveTreeForTest(p.dir);
}

TEST(SharedE2E, NoToAllSilencesLaterQuestions)
{
    Product p = MakeProduct(1, 1);
    ChildRun run = RunChild(UninstallerPath(), "/A " + ShortOf(p.log) + " KvTest Shared",
                            {{"Remove Shared Component", IDOK}});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(1, Questions(run));
    EXPECT_TRUE(PathExists(p.a));
    EXPECT_TRUE(PathExists(p.b));
    EXPECT_EQ(-1, Count(p.a)) << "the count goes whatever the answer";
    EXPECT_EQ(-1, Count(p.b));
    RemoveTreeForTest(p.dir);
}

TEST(SharedE2E, SilentRunsLowerCountsAndNeverAsk)
{
    Product p = MakeProduct(3, 1);
    ChildRun run = RunChild(UninstallerPath(), "/S " + ShortOf(p.log), {});
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.dialogs.empty());
    EXPECT_TRUE(PathExists(p.a));
    EXPECT_EQ(2, Count(p.a));
    EXPECT_TRUE(PathExists(p.b)) << "last reference in a silent run: kept";
    EXPECT_EQ(-1, Count(p.b));
    RemoveTreeForTest(p.dir);
}

TEST(SharedE2E, NothingIsCountedBeforeVersionFour)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER,
                                             "Software\\Wine\\AppDefaults\\UNINSTAL.EXE", 0, NULL,
                                             0, KEY_ALL_ACCESS, NULL, &key, NULL));
    RegSetValueExA(key, "Version", 0, REG_SZ, (const BYTE *)"win31", 6);
    Product p = MakeProduct(1, 2);
    ChildRun run = RunChild(UninstallerPath(), "/S " + ShortOf(p.log), {});
    RegDeleteValueA(key, "Version");
    RegCloseKey(key);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(1, Count(p.a));
    EXPECT_EQ(2, Count(p.b));
    EXPECT_FALSE(PathExists(p.a)) << "an uncounted created file is removed as usual";
    EXPECT_FALSE(PathExists(p.b));
    RemoveTreeForTest(p.dir);
}

} // namespace
