// End to end: damaging logs through UNINSTAL.EXE /S against protected
// folders, links and missing backups. The machine's folders are listed before
// and after each run; only the product's own items may change.
#include <gtest/gtest.h>
#include <map>
#include "support/kvtest.h"
#include "support/linktest.h"

namespace {

void Make(const std::string &path, const std::string &bytes = "x")
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), NULL);
    ASSERT_TRUE(WriteFileBytes(path, bytes)) << path;
}

// Every file and folder under dir (links listed, not entered): path -> size.
void ListTree(const std::string &dir, std::map<std::string, DWORD> &out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string name = fd.cFileName;
        if (name == "." || name == "..")
            continue;
        std::string path = dir + "\\" + name;
        bool isDir = (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        out[path] = isDir ? (DWORD)-1 : fd.nFileSizeLow;
        if (isDir && !(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ListTree(path, out);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

// The machine outside the product folder and the uninstaller's own copies
// (on 95 and 98 the temporary copy's deletion is recorded in WININIT.INI).
std::map<std::string, DWORD> Machine(const std::string &product)
{
    std::map<std::string, DWORD> all, kept;
    ListTree("C:", all);
    const bool nt = (GetVersion() & 0x80000000u) == 0;
    for (const auto &e : all) {
        const std::string &p = e.first;
        if (p.compare(0, product.size(), product) == 0 || p.find("\\KVR") != std::string::npos ||
            p.find("C:\\kvtest\\e2ep_bin") == 0 || (!nt && lstrcmpiA(p.c_str(), "C:\\windows\\WININIT.INI") == 0))
            continue;
        kept.insert(e);
    }
    return kept;
}

std::string Differences(const std::map<std::string, DWORD> &a, const std::map<std::string, DWORD> &b)
{
    std::string out;
    for (const auto &e : a)
        if (!b.count(e.first) || b.at(e.first) != e.second)
            out += "changed or gone: " + e.first + "\n";
    for (const auto &e : b)
        if (!a.count(e.first))
            out += "new: " + e.first + "\n";
    return out;
}

std::string Uninstaller()
{
    static std::string copy;
    if (copy.empty()) {
        copy = ScratchDir("e2ep_bin") + "\\UNINSTAL.EXE";
        EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), copy.c_str(), FALSE));
    }
    return copy;
}

// A product folder with its own tree (the positive control), a log made of
// its lines and the damaging ones; runs /S (with extra options) and checks
// that nothing outside the product changed and the product's tree went.
struct Case {
    const char *name;
    std::vector<std::string> damaging;
};

void RunCase(const std::string &product, const std::vector<std::string> &damaging,
             const std::string &options = "/S", bool treeGoes = true)
{
    Make(product + "\\tree\\sub\\own.txt");
    Make(product + "\\own.txt");
    std::string log = "***  Installation Started\r\nTitle: Protect Test\r\n";
    log += "File Tree: " + product + "\\tree\\*.*\r\nFile Copy: " + product + "\\own.txt\r\n";
    for (const std::string &l : damaging)
        log += l + "\r\n";
    Make(product + "\\INSTALL.LOG", log);
    std::map<std::string, DWORD> before = Machine(product);
    ChildRun run = RunChild(Uninstaller(), options + " " + ShortOf(product + "\\INSTALL.LOG"), {}, 60000);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ("", Differences(before, Machine(product)));
    EXPECT_FALSE(PathExists(product + (treeGoes ? "\\tree" : "\\tree\\sub")))
        << "the product's own tree goes";
    EXPECT_FALSE(PathExists(product + "\\own.txt"));
}

TEST(EndToEndProtect, TreesAndMadeDirsOfProtectedFoldersLeaveTheMachineAsItWas)
{
    ASSERT_TRUE(MakeUncAlias());
    // Canaries in and beside the protected folders; an empty one would go
    // with any empty-only removal.
    Make("C:\\users\\root\\kvcanary.txt");
    Make("C:\\users\\Public\\kvcanary.txt");
    Make("C:\\Program Files\\Other Product\\keep.dll");
    CreateDirectoryA("C:\\Program Files\\Kv Empty Canary", NULL);
    Make("C:\\windows\\kvcanary\\keep.txt");
    CreateDirectoryA("C:\\windows\\kvcanary\\empty", NULL);
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string tempDir(temp);
    tempDir.pop_back();
    CreateDirectoryA((tempDir + "\\kvcanary_empty").c_str(), NULL);
    const Case cases[] = {
        {"users", {"File Tree: C:\\users\\*.*", "Made Dir: C:\\users\\root"}},
        {"progfiles", {"File Tree: C:\\Program Files\\*.*", "Made Dir: C:\\Program Files"}},
        {"unc", {"File Tree: \\\\localhost\\c$\\windows\\*.*", "Made Dir: \\\\localhost\\c$\\windows",
                 "File Tree: \\\\localhost\\c$\\users\\root\\*.*"}},
        {"short", {"File Tree: " + ShortOf("C:\\Program Files") + "\\*.*"}},
        {"temp", {"Made Dir: " + tempDir, "File Tree: " + tempDir + "\\*.*"}},
        {"pattern", {"File Copy: C:\\windows\\kvcanary\\*.*", "File Copy: C:\\Program Files\\*.*"}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::string product = ScratchDir(std::string("e2ep_") + c.name);
        RunCase(product, c.damaging);
        RemoveTreeForTest(product);
    }
    EXPECT_TRUE(PathExists("C:\\Program Files\\Kv Empty Canary"));
    EXPECT_TRUE(PathExists("C:\\windows\\kvcanary\\empty"));
    EXPECT_TRUE(PathExists(tempDir + "\\kvcanary_empty"));
    RemoveTreeForTest("C:\\windows\\kvcanary");
    RemoveTreeForTest("C:\\Program Files\\Other Product");
    RemoveDirectoryA("C:\\Program Files\\Kv Empty Canary");
}

TEST(EndToEndProtect, LinksAtTheTopAndInsideATreeAreNeverFollowed)
{
    std::string other = ScratchDir("e2ep_other");
    Make(other + "\\full\\data.txt");
    CreateDirectoryA((other + "\\empty").c_str(), NULL);
    std::string product = ScratchDir("e2ep_links");
    CreateDirectoryA((product + "\\tree").c_str(), NULL);
    ASSERT_TRUE(MakeFolderLink(product + "\\linktop", other + "\\full"));
    ASSERT_TRUE(MakeFolderLink(product + "\\tree\\inner", other + "\\full"));
    ASSERT_TRUE(MakeFolderLink(product + "\\tree\\toempty", other + "\\empty"));
    ASSERT_TRUE(MakeFolderLink(product + "\\madelink", other + "\\empty"));
    ASSERT_TRUE(MakeFolderLink(product + "\\tosys", "C:\\windows\\system32"));
    RunCase(product, {"File Tree: " + product + "\\linktop\\*.*", "Made Dir: " + product + "\\madelink",
                      "File Tree: " + product + "\\tosys\\*.*"},
            "/S", false);
    EXPECT_TRUE(PathExists(product + "\\tree\\inner")) << "the folder holding links stays";
    // The links themselves stay too: removing one could act on its target.
    EXPECT_TRUE(PathExists(product + "\\linktop\\data.txt"));
    EXPECT_TRUE(PathExists(other + "\\empty"));
    for (const char *link : {"\\linktop", "\\tree\\inner", "\\tree\\toempty", "\\madelink", "\\tosys"})
        RemoveFolderLink(product + link);
    RemoveTreeForTest(product);
    RemoveTreeForTest(other);
}

TEST(EndToEndProtect, RollbackKeepsAnOverwrittenFileWhoseBackupIsMissing)
{
    std::string product = ScratchDir("e2ep_rollback");
    Make(product + "\\shared.dll", "version 2");
    Make(product + "\\other.dll", "version 2");
    Make(product + "\\other.bak", "version 1");
    // The product's own overwritten file comes back from its backup; the one
    // whose backup is gone stays as it is.
    RunCase(product, {"File Overwrite: " + product + "\\shared.dll",
                      "Backup Copy: " + product + "\\shared.bak",
                      "File Overwrite: " + product + "\\other.dll",
                      "Backup Copy: " + product + "\\other.bak"},
            "/S /R");
    EXPECT_EQ("version 2", ReadFileBytes(product + "\\shared.dll"));
    EXPECT_EQ("version 1", ReadFileBytes(product + "\\other.dll"));
    RemoveTreeForTest(product);
}

} // namespace
