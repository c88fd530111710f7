// File and directory removal: refusals, companions, patterns, tree removal,
// the executable test and the self-deletion flag.
#include <gtest/gtest.h>
#include <ctype.h>
#include "support/kvtest.h"
#include "base/state.h"
#include "engine/files.h"
#include "base/text.h"
#include "base/paths.h"
#include "base/rows.h"
#include "machine/recovery.h"
#include <algorithm>

namespace {

std::string Join(const std::string &dir, const std::string &name)
{
    return dir + "\\" + name;
}

void MakeDir(const std::string &path)
{
    ASSERT_TRUE(CreateDirectoryA(path.c_str(), NULL)) << path;
}

void MakeFile(const std::string &path, const std::string &bytes = "x")
{
    ASSERT_TRUE(WriteFileBytes(path, bytes)) << path;
}

class Files : public ::testing::Test {
protected:
    void SetUp() override
    {
        SystemDir[0] = 0;
        ProgramPath[0] = 0;
        DeletingSelf = 0;
        Rollback = 0;
    }
};

TEST_F(Files, RemoveTreeRefusesRootsAndSystemDirectories)
{
    // Empty sub-directories that any tree removal would take with it.
    std::string winProbe = "C:\\windows\\kvtest_probe";
    std::string sysProbe = "C:\\windows\\system32\\kvtest_probe";
    std::string rootProbe = "C:\\kvtest_root_probe";
    std::string own = ScratchDir("files_sysdir");
    std::string ownProbe = Join(own, "probe");
    for (const std::string &p : {winProbe, sysProbe, rootProbe, ownProbe})
        CreateDirectoryA(p.c_str(), NULL);
    std::string ownFile = Join(own, "keep.txt");
    MakeFile(ownFile);
    CopyText(SystemDir, sizeof SystemDir, own.c_str());

    char shortOwn[MAX_PATH];
    GetShortPathNameA(own.c_str(), shortOwn, sizeof shortOwn);
    std::string dotted = own + "\\probe\\..";
    struct Row { const char *path; int deleteFiles; };
    const Row rows[] = {
        {"C:", 0}, {"C:\\", 0}, {"C:\\windows", 0}, {"C:\\WINDOWS\\", 0},
        {"c:\\windows\\SYSTEM32", 0}, {own.c_str(), 1},
        // Other spellings of the same folders.
        {shortOwn, 1}, {dotted.c_str(), 1}, {"C:\\windows\\.", 1}, {"C:\\windows.", 1},
        {"C:\\\\windows", 1}, {"\\\\?\\C:\\windows", 1}, {"C:/windows", 1},
        {"C:\\kvtest\\..", 1}, {"\\\\server\\share", 1},
    };
    for (const Row &r : rows) {
        RemoveTree(r.path, r.deleteFiles);
        EXPECT_TRUE(PathExists(winProbe)) << r.path;
        EXPECT_TRUE(PathExists(sysProbe)) << r.path;
        EXPECT_TRUE(PathExists(rootProbe)) << r.path;
        EXPECT_TRUE(PathExists(ownProbe)) << r.path;
        EXPECT_TRUE(PathExists(ownFile)) << r.path;
    }
    for (const std::string &p : {winProbe, sysProbe, rootProbe})
        RemoveDirectoryA(p.c_str());
    SystemDir[0] = 0;
    RemoveTreeForTest(own);
}

TEST_F(Files, RemoveTreeActsOnlyOnTheFolderNamedPlainly)
{
    std::string top = ScratchDir("files_plain");
    std::string app = Join(top, "app"), sibling = Join(top, "sibling");
    MakeDir(app);
    MakeDir(sibling);
    MakeFile(Join(sibling, "other.txt"));
    MakeFile(Join(app, "mine.txt"));
    for (const std::string &p : {app + "\\..", app + "\\.", top + "\\\\app", "\\\\?\\" + app, app + "."}) {
        RemoveTree(p.c_str(), 1);
        EXPECT_TRUE(PathExists(Join(sibling, "other.txt"))) << p;
        EXPECT_TRUE(PathExists(Join(app, "mine.txt"))) << p;
    }
    RemoveTree(app.c_str(), 1);
    EXPECT_FALSE(PathExists(app));
    EXPECT_TRUE(PathExists(Join(sibling, "other.txt")));
    // A pattern must name its folder plainly too.
    MakeDir(app);
    MakeFile(Join(app, "a.txt"));
    EXPECT_EQ(ENTRY_REFUSED, RemoveFileEntry((app + "\\..\\sibling\\*.txt").c_str(), "", 0));
    EXPECT_EQ(ENTRY_REFUSED, RemoveFileEntry("*.txt", "", 0));
    EXPECT_TRUE(PathExists(Join(sibling, "other.txt")));
    EXPECT_EQ(ENTRY_HANDLED, RemoveFileEntry((app + "\\*.txt").c_str(), "", 0));
    EXPECT_FALSE(PathExists(Join(app, "a.txt")));
    RemoveTreeForTest(top);
}

TEST_F(Files, RemoveTreeEmptyOnlyKeepsFilesAndTheirParents)
{
    std::string top = ScratchDir("files_emptyonly");
    MakeDir(Join(top, "a"));
    MakeDir(Join(top, "a\\b"));
    MakeDir(Join(top, "a\\b\\c"));
    MakeFile(Join(top, "a\\b\\c\\deep.txt"));
    MakeDir(Join(top, "a\\empty1"));
    MakeDir(Join(top, "empty2"));
    MakeDir(Join(top, "empty2\\empty3"));
    MakeDir(Join(top, "d"));
    MakeDir(Join(top, "d\\.hidden"));

    RemoveTree(top.c_str(), 0);

    EXPECT_TRUE(PathExists(Join(top, "a\\b\\c\\deep.txt")));
    EXPECT_FALSE(PathExists(Join(top, "a\\empty1")));
    EXPECT_FALSE(PathExists(Join(top, "empty2")));
    // A dot directory is never entered, so it and its parent stay.
    EXPECT_TRUE(PathExists(Join(top, "d\\.hidden")));
    EXPECT_TRUE(PathExists(top));

    RemoveTree(top.c_str(), 1);
    EXPECT_TRUE(PathExists(Join(top, "d\\.hidden")));
    EXPECT_FALSE(PathExists(Join(top, "a")));
    RemoveDirectoryA(Join(top, "d\\.hidden").c_str());
    RemoveTree(top.c_str(), 0);
    EXPECT_FALSE(PathExists(top));
}

TEST_F(Files, RemoveTreeWholeTakesReadOnlyFiles)
{
    std::string top = ScratchDir("files_whole");
    MakeDir(Join(top, "sub"));
    MakeFile(Join(top, "sub\\ro.txt"));
    SetFileAttributesA(Join(top, "sub\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    MakeFile(Join(top, "top.txt"));
    RemoveTree(top.c_str(), 1);
    EXPECT_FALSE(PathExists(top));
}

TEST_F(Files, RemoveFileTakesHelpCompanions)
{
    std::string dir = ScratchDir("files_help");
    struct Row { std::string path; std::vector<std::string> gone, kept; };
    const std::vector<Row> rows = {
        {Join(dir, "Help.hlp"), {"Help.hlp", "Help.GID", "Help.FTS"}, {"Other.GID"}},
        {Join(dir, "Book.HLP"), {"Book.HLP", "Book.gid", "Book.fts"}, {"Book.txt"}},
        {Join(dir, "Data.dat"), {"Data.dat"}, {"Data.GID", "Data.FTS"}},
    };
    for (const Row &r : rows) {
        for (const std::string &n : r.gone)
            MakeFile(Join(dir, n));
        for (const std::string &n : r.kept)
            MakeFile(Join(dir, n));
        SetFileAttributesA(r.path.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
        RemoveFile(r.path.c_str());
        for (const std::string &n : r.gone)
            EXPECT_FALSE(PathExists(Join(dir, n))) << r.path << ": " << n;
        for (const std::string &n : r.kept)
            EXPECT_TRUE(PathExists(Join(dir, n))) << r.path << ": " << n;
    }
    // Four characters: no companions are looked for (and nothing breaks).
    RemoveFile(".hlp");
    RemoveTreeForTest(dir);
}

TEST_F(Files, AllFilesPatternRefusals)
{
    std::string sentinel = "C:\\windows\\kvtest_sentinel.txt";
    std::string sysSentinel = "C:\\windows\\system32\\kvtest_sentinel.txt";
    MakeFile(sentinel);
    MakeFile(sysSentinel);
    std::string own = ScratchDir("files_patsys");
    MakeFile(Join(own, "keep.txt"));
    CopyText(SystemDir, sizeof SystemDir, own.c_str());
    const std::string refused[] = {
        "*.*", "C:\\windows\\*.*", "c:\\WINDOWS\\SYSTEM32\\*.*", own + "\\*.*", "C:\\*.*", "x*.*",
    };
    for (const std::string &p : refused)
        EXPECT_EQ(ENTRY_REFUSED, RemoveFileEntry(p.c_str(), "", 0)) << p;
    EXPECT_TRUE(PathExists(sentinel));
    EXPECT_TRUE(PathExists(sysSentinel));
    EXPECT_TRUE(PathExists(Join(own, "keep.txt")));
    DeleteFileA(sentinel.c_str());
    DeleteFileA(sysSentinel.c_str());
    RemoveTreeForTest(own);
}

TEST_F(Files, PatternsRemoveFilesDirectlyInTheirDirectory)
{
    std::string dir = ScratchDir("files_pattern");
    MakeFile(Join(dir, "a.txt"));
    MakeFile(Join(dir, "b.dll"));
    MakeFile(Join(dir, "c.hlp"));
    MakeFile(Join(dir, "c.gid"));
    MakeDir(Join(dir, "sub"));
    MakeFile(Join(dir, "sub\\inner.txt"));

    EXPECT_EQ(ENTRY_HANDLED, RemoveFileEntry((dir + "\\*.dll").c_str(), "", 0));
    EXPECT_FALSE(PathExists(Join(dir, "b.dll")));
    EXPECT_TRUE(PathExists(Join(dir, "a.txt")));

    EXPECT_EQ(ENTRY_HANDLED, RemoveFileEntry((dir + "\\*.*").c_str(), "", 0));
    EXPECT_FALSE(PathExists(Join(dir, "a.txt")));
    EXPECT_FALSE(PathExists(Join(dir, "c.hlp")));
    EXPECT_FALSE(PathExists(Join(dir, "c.gid")));
    EXPECT_TRUE(PathExists(Join(dir, "sub\\inner.txt")));
    RemoveTreeForTest(dir);
}

TEST_F(Files, RestoreCopiesTheBackupInPlace)
{
    std::string dir = ScratchDir("files_restore");
    std::string target = Join(dir, "app.dll"), backup = Join(dir, "app.bak");
    MakeFile(target, "new");
    MakeFile(backup, "old");
    EXPECT_EQ(ENTRY_HANDLED, RemoveFileEntry(target.c_str(), backup.c_str(), 1));
    EXPECT_EQ("old", ReadFileBytes(target));
    EXPECT_FALSE(PathExists(backup));
    EXPECT_EQ(0, RestartNeeded);

    // Without restore the backup plays no part.
    MakeFile(backup, "old2");
    RemoveFileEntry(target.c_str(), backup.c_str(), 0);
    EXPECT_FALSE(PathExists(target));
    EXPECT_TRUE(PathExists(backup));

    // A copy that cannot be made leaves the backup where it is.
    std::string nowhere = Join(dir, "missing\\app.dll");
    RemoveFileEntry(nowhere.c_str(), backup.c_str(), 1);
    EXPECT_EQ("old2", ReadFileBytes(backup));
    EXPECT_FALSE(PathExists(nowhere));
    RemoveTreeForTest(dir);
}

// A directory path of exactly len characters below C:\kvtest.
std::string LongDirectory(const std::string &top, size_t len)
{
    std::string path = top;
    while (path.size() < len) {
        size_t room = len - path.size() - 1;
        if (room > 60)
            room = 50;
        path += "\\" + std::string(room, 'd');
        EXPECT_TRUE(CreateDirectoryA(path.c_str(), NULL)) << path.size();
    }
    return path;
}

TEST_F(Files, FoundNamesThatWouldNotFitAreSkippedNotCut)
{
    std::string top = ScratchDir("files_long");
    std::string dir = LongDirectory(top, 240);
    ASSERT_EQ(240u, dir.size());
    // 257 characters with the long name: beyond the 256-byte path buffers.
    std::string longName = Join(dir, "abcdefghijklmnop");
    // What the long path would be if it were cut to 255 characters.
    std::string decoy = longName.substr(0, 255);
    std::string shortName = Join(dir, "a.txt");
    MakeFile(longName);
    MakeFile(decoy);
    MakeFile(shortName);

    EXPECT_EQ(ENTRY_HANDLED, RemoveFileEntry((dir + "\\abc*").c_str(), "", 0));
    EXPECT_TRUE(PathExists(longName));
    EXPECT_FALSE(PathExists(decoy));      // its own name fits: removed as a match

    MakeFile(decoy);
    RemoveTree(dir.c_str(), 1);
    EXPECT_TRUE(PathExists(longName));
    EXPECT_FALSE(PathExists(shortName));
    EXPECT_FALSE(PathExists(decoy));
    EXPECT_TRUE(PathExists(dir));
    RemoveTreeForTest(top);
}

TEST_F(Files, DeletingOurOwnFileByAnySpellingSetsTheFlag)
{
    std::string dir = ScratchDir("files_self");
    MakeDir(Join(dir, "Long Directory Name"));
    MakeDir(Join(dir, "elsewhere"));
    std::string own = Join(dir, "Long Directory Name\\Long Uninstaller Name.exe");
    std::string twin = Join(dir, "elsewhere\\Long Uninstaller Name.exe");
    MakeFile(own);
    CopyText(ProgramPath, sizeof ProgramPath, own.c_str());
    char shortPath[MAX_PATH], shortDir[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA(own.c_str(), shortPath, sizeof shortPath));
    ASSERT_NE(0u, GetShortPathNameA(Join(dir, "Long Directory Name").c_str(), shortDir,
                                    sizeof shortDir));
    std::string upper = own;
    for (char &c : upper)
        c = (char)toupper((unsigned char)c);
    struct Row { const char *name; std::string path; int self; };
    const std::vector<Row> rows = {
        {"same name elsewhere", twin, 0},
        {"other file", Join(dir, "Long Directory Name\\other.exe"), 0},
        {"long form", own, 1},
        {"short form", shortPath, 1},
        {"upper case", upper, 1},
        {"short directory", std::string(shortDir) + "\\Long Uninstaller Name.exe", 1},
    };
    for (const Row &r : rows) {
        MakeFile(own);
        MakeFile(twin);
        MakeFile(Join(dir, "Long Directory Name\\other.exe"));
        DeletingSelf = 0;
        EXPECT_NE(0, DeleteOneFile(r.path.c_str())) << r.name;
        EXPECT_EQ(r.self, DeletingSelf) << r.name;
        EXPECT_FALSE(PathExists(r.path)) << r.name;
    }
    // The program path changes (tests only): the names follow it.
    CopyText(ProgramPath, sizeof ProgramPath, twin.c_str());
    MakeFile(twin);
    DeletingSelf = 0;
    DeleteOneFile(twin.c_str());
    EXPECT_EQ(1, DeletingSelf);
    RemoveTreeForTest(dir);
}

TEST_F(Files, Win32ExecutableTest)
{
    std::string dir = ScratchDir("files_exe");
    auto header = [](const std::string &at3c, const std::string &tail) {
        std::string s = "MZ" + std::string(0x3C - 2, '\0') + at3c + tail;
        return s;
    };
    std::string off40("\x40\0\0\0", 4);
    struct Row { const char *name; std::string bytes; int want; };
    const std::vector<Row> rows = {
        {"pe.exe", header(off40, std::string("PE\0\0", 4)), 1},
        {"ne.exe", header(off40, "NE"), 0},
        {"zm.exe", "ZM" + header(off40, "PE").substr(2), 0},
        {"beyond.exe", header(std::string("\x00\x10\0\0", 4), ""), 0},
        {"negative.exe", header(std::string("\xF0\xFF\xFF\xFF", 4), "PE"), 0},
        {"m.exe", "M", 0},
        {"mz.exe", "MZ", 0},
        {"cut.exe", header(std::string("\x40\0", 2), ""), 0},
        {"halfpe.exe", header(off40, "P"), 0},
        {"empty.exe", "", 0},
    };
    for (const Row &r : rows) {
        std::string p = Join(dir, r.name);
        MakeFile(p, r.bytes);
        EXPECT_EQ(r.want, IsWin32Executable(p.c_str())) << r.name;
    }
    EXPECT_EQ(0, IsWin32Executable(Join(dir, "missing.exe").c_str()));
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, sizeof self);
    EXPECT_EQ(1, IsWin32Executable(self));
    RemoveTreeForTest(dir);
}

}  // namespace

namespace {

// The rows written since FreeRows, as "KIND TARGET-NAME ACTION OUTCOME REASON".
std::vector<std::string> RowTexts(const std::string &dir)
{
    std::vector<std::string> rows;
    for (int i = 0; i < RowCount(); i++) {
        const ReportRow *r = RowAt(i);
        std::string target = r->Target;
        if (target.compare(0, dir.size(), dir) == 0)
            target = target.substr(dir.size());
        rows.push_back(std::string(r->Kind) + " " + target + " " + r->Action + " " + r->Outcome +
                       (r->Reason[0] ? std::string(" ") + r->Reason : "") +
                       (r->Detail[0] ? std::string(" ") + r->Detail : ""));
    }
    return rows;
}

} // namespace

// Every file and folder a removal takes gets its row, and so does what it
// could not take, so that a tree that goes only in part still names each
// change; a preview plans the same rows and changes nothing.
TEST_F(Files, EachChangeOfATreeOrAHelpFileHasItsRowInARunAndAPreview)
{
    std::string top = ScratchDir("files_rows");
    const std::vector<std::string> want = {
        "FILE \\app\\Guide.GID DELETE DONE help index",
        "FILE \\app\\Guide.HLP DELETE DONE",
        "FILE \\app\\gone.txt DELETE SKIPPED ALREADY-GONE",
        "TREE \\tree\\a.txt DELETE DONE",
        "TREE \\tree\\sub\\b.txt DELETE DONE",
        "TREE \\tree\\sub DELETE DONE",
        "TREE \\tree\\held\\c.txt DELETE FAILED IN-USE",
        "TREE \\tree\\held DELETE FAILED NOT-EMPTY",
        "TREE \\tree DELETE FAILED NOT-EMPTY",
    };
    RowsWanted = 1;
    for (int preview = 1; preview >= 0; preview--) {
        const char *mode = preview ? "preview" : "run";
        RemoveTreeForTest(top);
        ASSERT_TRUE(CreateDirectoryA(top.c_str(), NULL));
        for (const char *d : {"app", "tree", "tree\\sub", "tree\\held"})
            MakeDir(Join(top, d));
        for (const char *f : {"app\\Guide.HLP", "app\\Guide.GID", "tree\\a.txt", "tree\\sub\\b.txt", "tree\\held\\c.txt"})
            MakeFile(Join(top, f));
        // Held without delete sharing: neither the run nor the preview's probe may take it.
        HANDLE held = CreateFileA(Join(top, "tree\\held\\c.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                  OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        Preview = preview;
        FreeRows();
        DeleteInstalledFile("FILE", 1, Join(top, "app\\Guide.HLP").c_str());
        DeleteInstalledFile("FILE", 1, Join(top, "app\\gone.txt").c_str());
        RemoveTree(Join(top, "tree").c_str(), 1, 1, 1);
        Preview = 0;
        ForgetPlannedGone();
        CloseHandle(held);
        std::vector<std::string> rows = RowTexts(top);
        std::sort(rows.begin(), rows.end());
        std::vector<std::string> sorted = want;
        std::sort(sorted.begin(), sorted.end());
        EXPECT_EQ(sorted, rows) << mode;
        EXPECT_EQ(preview != 0, PathExists(Join(top, "tree\\a.txt"))) << mode;
        EXPECT_EQ(preview != 0, PathExists(Join(top, "app\\Guide.GID"))) << mode;
        EXPECT_TRUE(PathExists(Join(top, "tree\\held\\c.txt"))) << mode;
    }
    FreeRows();
    RowsWanted = 0;
    RemoveTreeForTest(top);
}

// The recovery store holds what an undo needs: no entry of a log reaches
// it, in its long or short spelling, and a folder named as a file is never
// moved into it.
TEST_F(Files, TheRecoveryStoreIsNeverALogsTarget)
{
    char root[MAX_PATH];
    ASSERT_TRUE(RecoveryRoot(root, sizeof root));
    const std::string store = std::string(root) + "\\Kept Product.20261209-101010";
    RemoveTreeForTest(root);
    ASSERT_TRUE(CreateDirectoryA(root, NULL));
    MakeDir(store);
    ASSERT_TRUE(WriteFileBytes(store + "\\K00001.DAT", "kept"));
    ASSERT_TRUE(WriteFileBytes(store + "\\JOURNAL.TXT", "FILE\tC:\\x\tK00001.DAT\t20\t0:0\t-\r\n"));
    char shortStore[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA(store.c_str(), shortStore, sizeof shortStore));
    OpenRecoveryStore("");      // finds the root anew (a preview-free run makes one more store)
    const std::string made = RecoveryStore;
    CloseRecoveryStore();
    struct Row { std::string path; bool file; };
    const std::vector<Row> rows = {{store + "\\K00001.DAT", true},       {std::string(shortStore) + "\\JOURNAL.TXT", true},
                                   {store + "\\*.*", true},              {std::string(shortStore) + "\\K*.DAT", true},
                                   {store, false},                       {root, false},
                                   {shortStore, false}};
    for (const Row &r : rows) {
        if (r.file)
            EXPECT_EQ(ENTRY_REFUSED, RemoveFileEntry(r.path.c_str(), "", 0)) << r.path;
        else
            EXPECT_EQ(0, RemoveTree(r.path.c_str(), 1)) << r.path;
        EXPECT_TRUE(PathExists(store + "\\K00001.DAT")) << r.path;
        EXPECT_TRUE(PathExists(store + "\\JOURNAL.TXT")) << r.path;
    }
    // With a store open, a folder named by a file entry stays where it is.
    const std::string folder = ScratchDir("files_store_folder") + "\\Sub";
    MakeDir(folder);
    KeepRecovery = 1;
    ASSERT_EQ(0, OpenRecoveryStore("Folder Test"));
    RemoveFileEntry(folder.c_str(), "", 0);
    CloseRecoveryStore();
    KeepRecovery = 0;
    EXPECT_TRUE(PathExists(folder));
    RemoveTreeForTest(root);
    (void)made;
}
