// The recovery store in-process: kept files lie in folders of a hundred,
// are named as the store's own in any spelling (while the files of a folder
// outside cost no identity lookup each), and all come back with an undo, which then removes
// the store; a removal takes the store's own files
// only; a store that a kill left without its journal goes with the next undo
// when it holds nothing, and stays when it holds anything.
#include <gtest/gtest.h>
#include <stdio.h>
#include "base/oscalls.h"
#include "base/rows.h"
#include "base/state.h"
#include "engine/undo.h"
#include "machine/recovery.h"
#include "support/kvtest.h"

namespace {

std::string Root()
{
    char buf[MAX_PATH];
    EXPECT_TRUE(RecoveryRoot(buf, sizeof buf));
    return buf;
}

std::string KeptName(int number)
{
    char name[16];
    snprintf(name, sizeof name, "K%05d.DAT", number);
    return name;
}

// The same file through Wine's drive Z: (the host's root): a spelling that
// shares no text with the usual one. "" where there is none.
std::string OtherSpelling(const std::string &path)
{
    typedef char *(CDECL * UnixNameFn)(LPCWSTR);
    UnixNameFn unixName = (UnixNameFn)(void *)GetProcAddress(GetModuleHandleA("KERNEL32.DLL"),
                                                             "wine_get_unix_file_name");
    wchar_t wide[MAX_PATH];
    if (!unixName || !MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH))
        return "";
    char *name = unixName(wide);
    if (!name)
        return "";
    std::string out = std::string("Z:") + name;
    HeapFree(GetProcessHeap(), 0, name);
    for (char &c : out)
        if (c == '/')
            c = '\\';
    return PathExists(out) ? out : "";
}

class Recovery : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        PlatformKind = PLATFORM_NT;
        Preview = 0;
        RowsWanted = 1;
        FreeRows();
        RemoveTreeForTest(Root());
        dir = ScratchDir("recovery");
    }
    void TearDown() override
    {
        CloseRecoveryStore();
        KeepRecovery = 0;
        RemoveTreeForTest(Root());
        RemoveTreeForTest(dir);
        FreeRows();
    }
    std::string Open()
    {
        KeepRecovery = 1;
        EXPECT_EQ(0, OpenRecoveryStore("Kv Test"));
        return RecoveryStore;
    }
    std::string File(int i) { return dir + "\\F" + std::to_string(i) + ".TXT"; }
};

TEST_F(Recovery, KeptFilesLieInFoldersOfAHundredAndAllComeBack)
{
    std::string store = Open();
    const int count = 250;
    for (int i = 0; i < count; i++) {
        MakeFile(File(i), "file " + std::to_string(i));
        ASSERT_EQ(1, MoveIntoStore(File(i).c_str())) << i;
        ASSERT_FALSE(PathExists(File(i))) << i;
    }
    CloseRecoveryStore();
    struct Row {
        int number;
        const char *folder;
    };
    const Row rows[] = {{1, "K000"}, {99, "K000"}, {100, "K001"}, {199, "K001"}, {200, "K002"}, {250, "K002"}};
    for (const Row &r : rows) {
        std::string want = store + r.folder + "\\" + KeptName(r.number);
        char buf[MAX_PATH];
        ASSERT_EQ(1, KeptFilePath(buf, sizeof buf, store.c_str(), KeptName(r.number).c_str()));
        EXPECT_EQ(want, buf);
        EXPECT_EQ("file " + std::to_string(r.number - 1), ReadFileBytes(want)) << want;
    }
    char small[24];
    EXPECT_EQ(0, KeptFilePath(small, sizeof small, store.c_str(), "K00001.DAT")) << "a path that does not fit";

    // The store's own, in any spelling; a file outside it is not.
    std::string deep = store + "K002\\" + KeptName(250);
    std::vector<std::pair<std::string, int>> named = {
        {deep, 1}, {store + "K002", 1}, {store + "JOURNAL.TXT", 1}, {Root(), 1}, {dir + "\\F0.TXT", 0}};
    for (const std::string &p : {deep, store + "K002", store + "JOURNAL.TXT"}) {
        std::string other = OtherSpelling(p);
        EXPECT_NE("", other) << "no other spelling of " << p;
        if (!other.empty())
            named.push_back({other, 1});
    }
    for (const auto &n : named)
        EXPECT_EQ(n.second, InRecoveryStore(n.first.c_str())) << n.first;

    EXPECT_EQ(UNDO_ALL, RunUndo(""));
    for (int i = 0; i < count; i++)
        EXPECT_EQ("file " + std::to_string(i), ReadFileBytes(File(i))) << i;
    EXPECT_FALSE(PathExists(Root())) << "the store and the root go once all is back";
}

TEST_F(Recovery, ARemovalTakesTheStoresOwnFilesOnly)
{
    std::string store = Open();
    for (int i = 0; i < 2; i++) {
        MakeFile(File(i), "x");
        ASSERT_EQ(1, MoveIntoStore(File(i).c_str()));
    }
    CloseRecoveryStore();
    MakeFile(store + "K000\\K00007.TMP", "a part on its way in");
    MakeFile(store + "K001\\K00100.DAT", "read-only");
    SetFileAttributesA((store + "K001\\K00100.DAT").c_str(), FILE_ATTRIBUTE_READONLY);
    MakeFile(store + "NOTES.TXT", "someone's");
    MakeFile(store + "K002\\MINE.TXT", "someone's");
    RemoveRecoveryStore(store.c_str());
    struct Row {
        const char *path;
        bool stays;
    };
    const Row rows[] = {{"K000\\K00001.DAT", false}, {"K000\\K00002.DAT", false}, {"K000\\K00007.TMP", false},
                        {"K001\\K00100.DAT", false}, {"K000", false},           {"K001", false},
                        {"JOURNAL.TXT", false},       {"NOTES.TXT", true},        {"K002\\MINE.TXT", true}};
    for (const Row &r : rows)
        EXPECT_EQ(r.stays, PathExists(store + r.path)) << r.path;
}

// A kill while a store is made or removed leaves it without its journal.
TEST_F(Recovery, AStoreWithoutItsJournalGoesWithTheNextUndoOnlyWhenItHoldsNothing)
{
    struct Row {
        const char *name;
        const char *holds;      // a file in the store, or ""
        int result;
        bool storeStays;
    };
    const Row rows[] = {
        {"nothing", "", UNDO_ALL, false},
        {"a file of someone's", "NOTES.TXT", UNDO_NO_STORE, true},
        {"a kept file", "K000\\K00001.DAT", UNDO_NO_STORE, true},
    };
    for (const Row &r : rows) {
        RemoveTreeForTest(Root());
        std::string store = Root() + "\\Kv Test.20260101-000000\\";
        CreateDirectoryA(Root().c_str(), NULL);
        ASSERT_TRUE(CreateDirectoryA(store.c_str(), NULL));
        if (r.holds[0])
            MakeFile(store + r.holds, "x");
        EXPECT_EQ(r.result, RunUndo("")) << r.name;
        EXPECT_EQ(r.storeStays, PathExists(store)) << r.name;
        EXPECT_EQ(r.storeStays, PathExists(Root())) << r.name;
    }
    // The root alone, left by a run ended as it made it.
    RemoveTreeForTest(Root());
    ASSERT_TRUE(CreateDirectoryA(Root().c_str(), NULL));
    EXPECT_EQ(UNDO_NO_STORE, RunUndo(""));
    EXPECT_FALSE(PathExists(Root()));
}

// Every file of a run is asked about once a store is there: the files of a
// folder outside it cost one identity (a call that asks for the volume) for
// each folder above them, not one each; a path inside it in another
// spelling is still found.
int IdentityCalls;
BOOL WINAPI CountedInformation(HANDLE h, LPBY_HANDLE_FILE_INFORMATION info)
{
    IdentityCalls++;
    return GetFileInformationByHandle(h, info);
}

TEST_F(Recovery, APathOutsideTheStoreCostsNoIdentityLookup)
{
    std::string store = Open();
    for (int i = 0; i < 20; i++)
        MakeFile(dir + "\\Sub\\F" + std::to_string(i) + ".TXT", "x");
    std::string other = OtherSpelling(store + "JOURNAL.TXT");
    ASSERT_NE("", other);
    EXPECT_EQ(1, InRecoveryStore(other.c_str()));      // the root's identity is known from here on
    Os.GetFileInformationByHandle = CountedInformation;
    IdentityCalls = 0;
    for (int i = 0; i < 20; i++)
        EXPECT_EQ(0, InRecoveryStore((dir + "\\Sub\\F" + std::to_string(i) + ".TXT").c_str())) << i;
    int outside = IdentityCalls;
    EXPECT_EQ(1, InRecoveryStore(other.c_str()));
    UseSystemCalls();
    EXPECT_LE(outside, 3) << "identities looked up for 20 files of one folder outside the store (the folder "
                             "and the two above it, once each)";
}

} // namespace
