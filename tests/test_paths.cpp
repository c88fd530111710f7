// Path normaliser, existence test, file-name position and search wrappers,
// on real directories with long names.
#include <gtest/gtest.h>
#include "kvtest.h"
#include "base/paths.h"
#include "base/text.h"

namespace {

class Paths : public testing::Test {
protected:
    std::string root, longDir, subDir, file;
    std::string shortRoot, shortDir, shortSub, shortFile;
    void SetUp() override
    {
        root = ScratchDir("paths");
        longDir = root + "\\Long Directory Name";
        subDir = longDir + "\\Sub Folder";
        file = subDir + "\\verylongfilename.txt";
        CreateDirectoryA(longDir.c_str(), NULL);
        CreateDirectoryA(subDir.c_str(), NULL);
        ASSERT_TRUE(WriteFileBytes(file, "x"));
        ASSERT_TRUE(WriteFileBytes(subDir + "\\setup.exe", "MZ"));
        shortRoot = Short(root);
        shortDir = Short(longDir);
        shortSub = Short(subDir);
        shortFile = Short(file);
        ASSERT_NE(shortFile, file) << "Wine should give long names a short form";
    }
    void TearDown() override { RemoveTreeForTest(root); }
    static std::string Short(const std::string &p)
    {
        char buf[MAX_PATH];
        DWORD n = GetShortPathNameA(p.c_str(), buf, sizeof buf);
        return std::string(buf, n);
    }
    static std::string Norm(const std::string &in, int longNames, size_t cap = 256)
    {
        std::vector<char> buf(cap, '#');
        CopyText(buf.data(), cap, in.c_str());
        NormalizePath(buf.data(), cap, longNames);
        return buf.data();
    }
};

TEST_F(Paths, LongAndShortForms)
{
    struct Row { std::string in; int longNames; std::string want; };
    const Row rows[] = {
        {shortFile, 1, file},
        {file, 0, shortFile},
        {shortSub + "\\setup.exe /s", 1, subDir + "\\setup.exe /s"},   // arguments kept
        {shortDir + "\\", 1, longDir + "\\"},                           // trailing backslash kept
        {"c:\\KVTEST\\PATHS\\long directory name", 1, longDir},         // on-disk spelling
        {"c:\\", 1, "C:\\"},                                            // drive letter upper-cased
        {longDir + "\\Missing Part\\Sub Folder", 0, shortDir + "\\Missing Part\\Sub Folder"},
        // Wildcards are never replaced by what a search would find.
        {subDir + "\\*.txt", 0, shortSub + "\\*.txt"},
        {subDir + "\\verylong?ilename.txt", 1, subDir + "\\verylong?ilename.txt"},
        // Network paths that do not exist stay as they are.
        {"\\\\server\\share\\dir\\file.txt", 1, "\\\\server\\share\\dir\\file.txt"},
        {"\\\\server", 1, "\\\\server"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(r.want, Norm(r.in, r.longNames)) << "in: " << r.in << " long " << r.longNames;
}

TEST_F(Paths, BareNameTakesTheCurrentDirectory)
{
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof saved, saved);
    ASSERT_TRUE(SetCurrentDirectoryA(subDir.c_str()));
    EXPECT_EQ(file, Norm("VERYLONGFILENAME.TXT", 1));
    EXPECT_EQ(subDir + "\\nothere.txt", Norm("nothere.txt", 1));
    ASSERT_TRUE(SetCurrentDirectoryA("C:\\"));
    EXPECT_EQ("C:\\name.txt", Norm("name.txt", 1));  // root already ends in a backslash
    SetCurrentDirectoryA(saved);
}

TEST_F(Paths, FoundNameThatDoesNotFitLeavesPathUnchanged)
{
    // Exactly the short form fits; the long form would not.
    size_t cap = shortFile.size() + 1;
    ASSERT_LT(cap, file.size() + 1);
    EXPECT_EQ(shortFile, Norm(shortFile, 1, cap));
    // A bare name whose completion would not fit stays bare.
    char saved[MAX_PATH];
    GetCurrentDirectoryA(sizeof saved, saved);
    SetCurrentDirectoryA(subDir.c_str());
    EXPECT_EQ("abc.txt", Norm("abc.txt", 1, 10));
    SetCurrentDirectoryA(saved);
}

TEST_F(Paths, ExistenceAndFileNamePart)
{
    EXPECT_TRUE(FileExists(file.c_str()));
    EXPECT_TRUE(FileExists(longDir.c_str()));       // a directory counts
    EXPECT_TRUE(FileExists((longDir + "\\").c_str()));
    EXPECT_FALSE(FileExists((root + "\\nothing").c_str()));

    struct Row { const char *path; const char *part; };
    const Row rows[] = {
        {"C:\\APP\\A.EXE", "A.EXE"}, {"A.EXE", "A.EXE"}, {"C:\\APP\\", ""}, {"", ""},
    };
    for (const Row &r : rows)
        EXPECT_STREQ(r.part, FileNamePart(r.path)) << r.path;
}

TEST(PlainPaths, AbsoluteAndRootTests)
{
    struct Row { const char *path; int plain, plainPattern, root; };
    const Row rows[] = {
        {"C:\\APP", 1, 1, 0}, {"c:\\app\\sub\\", 1, 1, 0}, {"C:\\", 1, 1, 1}, {"C:", 0, 0, 1},
        {"\\\\srv\\share\\dir", 1, 1, 0}, {"\\\\srv\\share", 1, 1, 1}, {"\\\\srv\\share\\", 1, 1, 1},
        {"\\\\srv", 0, 0, 1}, {"\\\\\\share\\x", 0, 0, 0},
        {"C:\\APP\\..", 0, 0, 0}, {"C:\\APP\\.\\X", 0, 0, 0}, {"C:\\APP.", 0, 0, 0}, {"C:\\APP \\X", 0, 0, 0},
        {"C:\\\\APP", 0, 0, 0}, {"C:\\APP\\\\X", 0, 0, 0}, {"\\\\?\\C:\\APP", 0, 0, 0}, {"\\\\.\\C:", 0, 0, 1},
        {"C:/APP", 0, 0, 0}, {"C:\\APP/X", 0, 0, 0}, {"C:\\APP:stream", 0, 0, 0}, {"APP\\X", 0, 0, 0},
        {"\\APP", 0, 0, 0}, {"C:APP", 0, 0, 0}, {"C:\\APP\\*.TXT", 0, 1, 0}, {"C:\\A*\\X.TXT", 0, 0, 0},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(r.plain, IsPlainAbsolutePath(r.path, 0)) << r.path;
        EXPECT_EQ(r.plainPattern, IsPlainAbsolutePath(r.path, 1)) << r.path;
        EXPECT_EQ(r.root, IsRootPath(r.path)) << r.path;
    }
}

TEST_F(Paths, SearchWrappers)
{
    FindRecord rec;
    ASSERT_EQ(0, FindFirstEntry((subDir + "\\*.txt").c_str(), &rec));
    EXPECT_STREQ("verylongfilename.txt", rec.Name);
    EXPECT_EQ(0u, rec.Attributes & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(1, FindNextEntry(&rec));
    EndFind(&rec);
    EXPECT_EQ(INVALID_HANDLE_VALUE, rec.Handle);

    ASSERT_EQ(1, FindFirstEntry((subDir + "\\*.none").c_str(), &rec));
    EXPECT_EQ(INVALID_HANDLE_VALUE, rec.Handle);
    EXPECT_EQ(1, FindNextEntry(&rec));
    EndFind(&rec);  // ending a search that found nothing is harmless
}

} // namespace
