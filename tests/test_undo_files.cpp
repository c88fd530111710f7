// Undoing what the seam keeps of whole files, in this process: an INI
// file's text put back whole (its items in their places) unless it was
// changed since, and the copy a rollback stages beside a file in use taken
// away, so that the restart puts nothing in place. A preview of each undo
// comes first and must foretell its rows.
#include <gtest/gtest.h>
#include "kvtest.h"
#include "base/rows.h"
#include "base/state.h"
#include "engine/undo.h"
#include "machine/iniops.h"
#include "machine/pending.h"
#include "machine/preview.h"
#include "machine/recovery.h"

namespace {

class UndoFiles : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = ScratchDir("Undo Files");
        PlatformKind = PLATFORM_NT;
        RowsWanted = 1;
        TempNameCounter = 0;
        RestartNeeded = 0;
        char win[MAX_PATH];
        GetWindowsDirectoryA(win, sizeof win);
        RemoveTreeForTest(std::string(win) + "\\UNINSTAL.RCV");
    }
    void TearDown() override
    {
        FreeRows();
        RowsWanted = 0;
        RestartNeeded = 0;
        RemoveTreeForTest(dir);
    }
    // Opens a store as /K does; its path.
    std::string Open()
    {
        KeepRecovery = 1;
        EXPECT_EQ(0, OpenRecoveryStore("Undo Files"));
        return RecoveryStore;
    }
    void Close()
    {
        CloseRecoveryStore();
        KeepRecovery = 0;
    }
    // The rows made so far of kind and target: "OUTCOME REASON [detail]" each.
    static std::vector<std::string> RowsOf(const char *kind, const std::string &target)
    {
        std::vector<std::string> rows;
        for (int i = 0; i < RowCount(); i++) {
            const ReportRow *r = RowAt(i);
            if (strcmp(r->Kind, kind) == 0 && target == r->Target)
                rows.push_back(std::string(r->Outcome) + " " + r->Reason + " " + r->Detail);
        }
        return rows;
    }
    // The undo's rows of kind and target, after a preview of it that left
    // the target as it was and foretold each of them.
    std::vector<std::string> Undo(const std::string &store, const char *kind, const std::string &target)
    {
        std::string was = ReadFileBytes(target);
        FreeRows();
        Preview = 1;
        EXPECT_EQ(UNDO_ALL, RunUndo(store.c_str()));
        Preview = 0;
        ForgetPlannedGone();
        std::vector<std::string> planned = RowsOf(kind, target);
        EXPECT_EQ(was, ReadFileBytes(target)) << "the preview changed the file";
        FreeRows();
        EXPECT_EQ(UNDO_ALL, RunUndo(store.c_str()));
        std::vector<std::string> rows = RowsOf(kind, target);
        EXPECT_EQ(rows, planned) << "the preview foretold otherwise";
        return rows;
    }
};

std::string Item(const std::string &file, const char *section, const char *item)
{
    char buf[256];
    GetPrivateProfileStringA(section, item, "<none>", buf, sizeof buf, file.c_str());
    return buf;
}

// The items an uninstall writes back go through one whole-file write; its
// undo gives the file back byte for byte, or, when the user changed the file
// since, undoes item by item and leaves the user's own change.
TEST_F(UndoFiles, AnIniFileComesBackWholeUnlessChangedSince)
{
    struct Row {
        const char *why, *text;
        std::vector<ProfileItem> items;
        const char *userItem, *userValue;   // set after the uninstall (null: none)
        const char *textRow;                // the row of the file's text
        std::vector<std::string> itemRows;  // the rows of the items, last first
        const char *checkItem, *wantValue;  // after the undo
    };
    const Row rows[] = {
        {"an item deleted from the middle of its section goes back in its place",
         "[S]\r\nA=1\r\nB=2\r\nC=3\r\n", {{"S", "B", NULL}, {"S", "C", "old"}}, NULL, NULL, "DONE  ",
         {"SKIPPED UNCHANGED [S] C", "SKIPPED UNCHANGED [S] B"}, "S", "3"},
        {"comments, blank lines and a section emptied stay as they were",
         "; the user's note\r\n[S]\r\nA=1\r\n\r\n[T]\r\nX=y\r\n", {{"T", "X", NULL}}, NULL, NULL, "DONE  ",
         {"SKIPPED UNCHANGED [T] X"}, "T", "y"},
        {"an item added by the user since: the items go back one by one",
         "[S]\r\nA=1\r\nB=2\r\n", {{"S", "A", "0"}}, "U", "mine", "SKIPPED CHANGED-SINCE ",
         {"DONE  [S] A"}, "S", "1"},
        {"an item the user set since stays as the user set it",
         "[S]\r\nA=1\r\nB=2\r\n", {{"S", "A", "0"}}, "A", "9", "SKIPPED CHANGED-SINCE ",
         {"CONFLICT CHANGED-SINCE [S] A"}, "S", "9"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.why);
        std::string file = dir + "\\UNDO.INI";
        MakeFile(file, r.text);
        std::string store = Open();
        std::vector<IniOutcome> outcomes(r.items.size());
        WriteIniItems(file.c_str(), r.items.data(), (int)r.items.size(), outcomes.data());
        Close();
        for (const IniOutcome &o : outcomes)
            EXPECT_EQ(INI_WRITTEN, o.State);
        ASSERT_NE(r.text, ReadFileBytes(file)) << "the uninstall changed nothing";
        if (r.userItem)
            WritePrivateProfileStringA("S", r.userItem, r.userValue, file.c_str());
        std::string changed = ReadFileBytes(file);
        std::vector<std::string> got = Undo(store, "INI", file);
        std::vector<std::string> want = {std::string(r.textRow)};
        want.insert(want.end(), r.itemRows.begin(), r.itemRows.end());
        EXPECT_EQ(want, got);
        if (!r.userItem) {
            EXPECT_EQ(r.text, ReadFileBytes(file));
        } else if (strcmp(r.userItem, "A") != 0) {
            EXPECT_EQ(r.userValue, Item(file, "S", r.userItem)) << "the user's item is gone";
        }
        EXPECT_EQ(r.wantValue, Item(file, r.checkItem, r.items.back().Item));
        EXPECT_FALSE(PathExists(file + ".RECOVERED")) << "an INI file's text is never put beside it";
        EXPECT_FALSE(PathExists(store)) << "the store stays";
    }
}

// A rollback restores a backup over a file a running program holds (it can
// be read, not replaced): the backup's copy is staged beside the file for
// the restart. Undone before the restart, the staged copy goes and the
// restart changes nothing; undone after it, the installed file comes back.
TEST_F(UndoFiles, AStagedReplacementIsUndoneBeforeOrAfterTheRestart)
{
    for (bool restartFirst : {false, true}) {
        SCOPED_TRACE(restartFirst ? "undone after the restart" : "undone before the restart");
        std::string target = dir + "\\In Use.dll", backup = dir + "\\BACKUP\\In Use.dll";
        std::string staging = dir + "\\~KVU0000.TMP";
        TempNameCounter = 0;
        MakeFile(target, "installed");
        MakeFile(backup, "original");
        HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        std::string store = Open();
        EXPECT_EQ(REPLACE_STAGED, RestoreBackupFile("FILE", 2, backup.c_str(), target.c_str()));
        Close();
        CloseHandle(held);
        ASSERT_EQ("original", ReadFileBytes(staging));
        if (restartFirst) {
            EXPECT_EQ(0u, RunAndWait("wineboot.exe -r"));
            ASSERT_EQ("original", ReadFileBytes(target)) << "the restart put nothing in place";
        }
        EXPECT_EQ(std::vector<std::string>{restartFirst ? "SKIPPED UNCHANGED " : "DONE  "},
                  Undo(store, "FILE", staging));
        EXPECT_FALSE(PathExists(staging));
        EXPECT_EQ("installed", ReadFileBytes(target));
        EXPECT_EQ("original", ReadFileBytes(backup));
        EXPECT_EQ(0u, RunAndWait("wineboot.exe -r"));
        EXPECT_EQ("installed", ReadFileBytes(target)) << "the restart still put the backup in place";
        EXPECT_FALSE(PathExists(store));
        RemoveTreeForTest(dir);
        CreateDirectoryA(dir.c_str(), NULL);
    }
}

} // namespace
