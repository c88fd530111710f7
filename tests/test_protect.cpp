// Protected folders by identity, links in removals, the rollback that keeps
// a file whose backup is gone, and what each refusal records.
#include <gtest/gtest.h>
#include "support/kvtest.h"
#include "support/linktest.h"
#include "machine/protect.h"
#include "base/state.h"
#include "base/text.h"
#include "engine/files.h"
#include "base/refusals.h"

namespace {

void Make(const std::string &path, const std::string &bytes = "x")
{
    ASSERT_TRUE(WriteFileBytes(path, bytes)) << path;
}

void MakeDir(const std::string &path)
{
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), NULL)) << path;
}

// The refusals recorded since the last FreeRefusals, one "KIND target REASON" each.
std::string Refusals()
{
    std::string out;
    for (int i = 0; i < RefusalCount(); i++) {
        const RefusalEntry *r = RefusalAt(i);
        out += std::string(r->Kind) + " " + r->Target + " " + r->Reason + "\n";
    }
    return out;
}

class Protect : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Identities by file index, as NT gives them (test_win95 has the others).
        PlatformKind = PLATFORM_NT;
        SystemDir[0] = 0;
        TempCopyPath[0] = 0;
        Rollback = 0;
        FreeRefusals();
    }
    void TearDown() override
    {
        SystemDir[0] = 0;
        FreeRefusals();
    }
};

TEST_F(Protect, ProtectedFoldersAnswerToEverySpelling)
{
    ASSERT_TRUE(MakeUncAlias());
    std::string top = ScratchDir("prot_spell");
    ASSERT_TRUE(MakeFolderLink(top + "\\winlink", "C:\\windows"));
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    const std::string yes[] = {
        "C:\\", "C:\\windows", "c:\\WINDOWS\\System32\\", "C:\\windows\\fonts", "C:\\users",
        "C:\\users\\root", "C:\\users\\Public", "C:\\Program Files", ShortOf("C:\\Program Files"),
        "C:\\Program Files\\Common Files", "C:\\ProgramData", temp,
        "\\\\localhost\\c$\\windows", "\\\\localhost\\c$\\users\\root", "\\\\localhost\\c$",
        "\\\\?\\C:\\windows\\system32", "C:\\windows\\.", "C:\\\\windows", "C:/windows",
        "C:\\windows.", top + "\\winlink",
    };
    for (const std::string &p : yes)
        EXPECT_TRUE(IsProtectedFolder(p.c_str())) << p;
    // What only looks like them, and a product's own folders.
    const std::string no[] = {top, top + "\\missing", "C:\\windows\\kvtest_not_there",
                              "C:\\Program Files\\Kv Product", "C:\\windowsx"};
    for (const std::string &p : no)
        EXPECT_FALSE(IsProtectedFolder(p.c_str())) << p;
    RemoveFolderLink(top + "\\winlink");
    RemoveTreeForTest(top);
}

TEST_F(Protect, TreeRemovalLeavesASystemFolderNestedInside)
{
    std::string top = ScratchDir("prot_nested");
    std::string sys = top + "\\sub\\sys";
    MakeDir(top + "\\sub");
    MakeDir(sys);
    MakeDir(sys + "\\empty");
    Make(sys + "\\system.dll");
    Make(top + "\\sub\\mine.txt");
    Make(top + "\\mine.txt");
    CopyText(SystemDir, sizeof SystemDir, sys.c_str());
    for (int deleteFiles = 0; deleteFiles < 2; deleteFiles++) {
        FreeRefusals();
        RemoveTree(top.c_str(), deleteFiles, 7);
        EXPECT_TRUE(PathExists(sys + "\\system.dll"));
        EXPECT_TRUE(PathExists(sys + "\\empty")) << "never entered";
        EXPECT_EQ(std::string(deleteFiles ? "TREE " : "DIR ") + sys + " PROTECTED\n", Refusals());
        ASSERT_EQ(1, RefusalCount());
        EXPECT_EQ(7, RefusalAt(0)->InstallNo);
    }
    // The product's own files around it went.
    EXPECT_FALSE(PathExists(top + "\\mine.txt"));
    EXPECT_FALSE(PathExists(top + "\\sub\\mine.txt"));
    SystemDir[0] = 0;
    RemoveTreeForTest(top);
}

TEST_F(Protect, RemovalsNeverFollowOrRemoveALink)
{
    std::string top = ScratchDir("prot_links");
    std::string tree = top + "\\tree", full = top + "\\full", empty = top + "\\empty";
    MakeDir(tree);
    MakeDir(full);
    MakeDir(empty);
    Make(full + "\\other.txt");
    Make(tree + "\\mine.txt");
    ASSERT_TRUE(MakeFolderLink(tree + "\\tofull", full));
    ASSERT_TRUE(MakeFolderLink(tree + "\\toempty", empty));
    ASSERT_TRUE(MakeFolderLink(top + "\\top", full));
    MakeDir(full + "\\inner");

    struct Row { std::string path; int deleteFiles; const char *kind; };
    const Row rows[] = {
        {top + "\\top", 1, "TREE"},             // the top itself is a link
        {top + "\\top", 0, "DIR"},
        {top + "\\top\\inner", 1, "TREE"},      // a link above the top
    };
    for (const Row &r : rows) {
        FreeRefusals();
        RemoveTree(r.path.c_str(), r.deleteFiles);
        EXPECT_EQ(std::string(r.kind) + " " + r.path + " LINK\n", Refusals());
        EXPECT_TRUE(PathExists(full + "\\other.txt")) << r.path;
        EXPECT_TRUE(PathExists(full + "\\inner")) << r.path;
        EXPECT_TRUE(PathExists(top + "\\top")) << r.path;
    }
    FreeRefusals();
    RemoveTree(tree.c_str(), 1);
    EXPECT_FALSE(PathExists(tree + "\\mine.txt"));
    EXPECT_TRUE(PathExists(full + "\\other.txt"));
    EXPECT_TRUE(PathExists(full + "\\inner"));
    EXPECT_TRUE(PathExists(empty)) << "an empty target is not removed through its link";
    EXPECT_EQ(2, RefusalCount()) << Refusals();
    // A pattern through a link is refused too.
    FreeRefusals();
    EXPECT_EQ(ENTRY_REFUSED, RemoveFileEntry((top + "\\top\\*.*").c_str(), "", 0));
    EXPECT_STREQ("LINK", LastRefusalReason());
    EXPECT_TRUE(PathExists(full + "\\other.txt"));
    for (const char *link : {"\\tree\\tofull", "\\tree\\toempty", "\\top"})
        RemoveFolderLink(top + link);
    RemoveTreeForTest(top);
    EXPECT_FALSE(PathExists(top));
}

TEST_F(Protect, PatternsInProtectedFoldersAreRefused)
{
    ASSERT_TRUE(MakeUncAlias());
    const std::string probe = "C:\\windows\\kvtest_probe.tmp";
    Make(probe);
    for (const char *p : {"C:\\windows\\kvtest_probe*.tmp", "\\\\localhost\\c$\\windows\\*.*",
                          "C:\\users\\*.*", "C:\\*.*"}) {
        EXPECT_EQ(ENTRY_REFUSED, RemoveFileEntry(p, "", 0)) << p;
        EXPECT_STREQ("PROTECTED", LastRefusalReason()) << p;
    }
    EXPECT_TRUE(PathExists(probe));
    DeleteFileA(probe.c_str());
    // A product folder's pattern still goes (positive control).
    std::string top = ScratchDir("prot_pattern");
    Make(top + "\\a.txt");
    EXPECT_EQ(ENTRY_HANDLED, RemoveFileEntry((top + "\\*.*").c_str(), "", 0));
    EXPECT_FALSE(PathExists(top + "\\a.txt"));
    RemoveTreeForTest(top);
}

TEST_F(Protect, RollbackKeepsAFileWhoseBackupCannotBeRead)
{
    std::string top = ScratchDir("prot_backup");
    const std::string file = top + "\\app.dll", dir = top + "\\adir";
    MakeDir(dir);
    for (const std::string &backup : {top + "\\missing.bak", dir}) {
        Make(file, "current");
        EXPECT_EQ(ENTRY_REFUSED, RemoveFileEntry(file.c_str(), backup.c_str(), 1)) << backup;
        EXPECT_STREQ("NO-BACKUP", LastRefusalReason());
        EXPECT_EQ("current", ReadFileBytes(file)) << backup;
    }
    // Without a restore, or with a readable backup, the entry is handled.
    Make(top + "\\app.bak", "earlier");
    EXPECT_EQ(ENTRY_HANDLED, RemoveFileEntry(file.c_str(), (top + "\\app.bak").c_str(), 1));
    EXPECT_EQ("earlier", ReadFileBytes(file));
    EXPECT_EQ(ENTRY_HANDLED, RemoveFileEntry(file.c_str(), (top + "\\missing.bak").c_str(), 0));
    EXPECT_FALSE(PathExists(file));
    RemoveTreeForTest(top);
}

TEST_F(Protect, TheSetFollowsTheSystemDirectory)
{
    std::string top = ScratchDir("prot_rebuild");
    EXPECT_FALSE(IsProtectedFolder(top.c_str()));
    int before = ProtectedFolderCount();
    EXPECT_GT(before, 10);
    CopyText(SystemDir, sizeof SystemDir, top.c_str());
    EXPECT_TRUE(IsProtectedFolder(top.c_str()));
    SystemDir[0] = 0;
    EXPECT_FALSE(IsProtectedFolder(top.c_str()));
    RemoveTreeForTest(top);
}

} // namespace
