// The preview switch in-process: a Custom run's unselected entries, a
// cancel in the middle, and a preview that plans what the real run then
// does, row for row, while the machine stays as it was.
#include <gtest/gtest.h>
#include <string.h>
#include "support/kvtest.h"
#include "base/rows.h"
#include "base/state.h"
#include "engine/files.h"
#include "engine/uninstall.h"
#include "log/inventory.h"
#include "log/logread.h"
#include "ui/progress.h"

namespace {

int CancelAfter;        // texts shown before Cancel is pressed; 0: never

void Watch(const char *text)
{
    if (text && CancelAfter && --CancelAfter == 0)
        Cancelled = 1;
}

class PreviewRun : public ::testing::Test {
protected:
    std::string dir, log;
    void SetUp() override
    {
        dir = ScratchDir("preview_engine");
        log = dir + "\\INSTALL.LOG";
        for (const char *f : {"a.txt", "b.txt", "c.txt", "d.txt"})
            MakeFile(dir + "\\App\\" + f, f);
        MakeFile(log, "***  Installation Log\r\nTitle: Preview\r\nMade Dir: " + dir + "\\App\r\n"
                      "File Copy: " + dir + "\\App\\a.txt\r\nFile Copy: " + dir + "\\App\\b.txt\r\n"
                      "File Copy: " + dir + "\\App\\c.txt\r\nFile Copy: " + dir + "\\App\\d.txt\r\n");
        SettingsPath[0] = 0;
        MainWindow = WizardWindow = NULL;
        CancelAfter = 0;
        ProgressObserver = Watch;
        RowsWanted = 1;
    }
    void TearDown() override
    {
        Preview = RowsWanted = 0;
        Cancelled = 0;
        ProgressObserver = NULL;
        FreeRows();
        ForgetPlannedGone();
        FreeInventory();
        RemoveTreeForTest(dir);
    }
    // Reads the log afresh, selects the files named, and runs the engine.
    // Rows: "KIND TARGET-NAME ACTION OUTCOME REASON".
    std::vector<std::string> Run(int method, std::vector<int> selected, bool preview)
    {
        FreeRows();
        FreeInventory();
        ForgetPlannedGone();
        EXPECT_EQ(0, CreateInventory());
        char root[MAX_PATH] = "";
        EXPECT_EQ(0, ReadInstallLog(log.c_str(), root));
        UninstallMethod = method;
        Rollback = Cancelled = 0;
        for (int i : selected)
            ENTRY_AT(FileEntry, AppFileList, i)->Selected = 1;
        Preview = preview;
        RunUninstall(log.c_str());
        Preview = 0;
        std::vector<std::string> rows;
        for (int i = 0; i < RowCount(); i++) {
            const ReportRow *r = RowAt(i);
            std::string target = r->Target;
            rows.push_back(std::string(r->Kind) + " " + target.substr(target.rfind('\\') + 1) + " " + r->Action +
                           " " + r->Outcome + " " + r->Reason);
        }
        return rows;
    }
};

TEST_F(PreviewRun, CustomRunKeepsTheUnselectedAndThePreviewPlansTheSame)
{
    std::string before = TreeText(dir);
    std::vector<std::string> planned = Run(METHOD_CUSTOM, {0, 2}, true);
    EXPECT_EQ(before, TreeText(dir)) << "the preview changed the machine";
    std::vector<std::string> want = {
        "FILE a.txt DELETE DONE ",
        "FILE b.txt NONE SKIPPED NOT-SELECTED",
        "FILE c.txt DELETE DONE ",
        "FILE d.txt NONE SKIPPED NOT-SELECTED",
    };
    ASSERT_GE(planned.size(), 4u);
    EXPECT_EQ(want, std::vector<std::string>(planned.begin(), planned.begin() + 4));

    std::vector<std::string> done = Run(METHOD_CUSTOM, {0, 2}, false);
    EXPECT_EQ(planned, done);
    EXPECT_FALSE(PathExists(dir + "\\App\\a.txt"));
    EXPECT_TRUE(PathExists(dir + "\\App\\b.txt"));
    EXPECT_FALSE(PathExists(dir + "\\App\\c.txt"));
    EXPECT_TRUE(PathExists(dir + "\\App\\d.txt"));
}

TEST_F(PreviewRun, CancelledRunReportsWhatItDidNotReach)
{
    CancelAfter = 2;        // after the second file's text
    std::vector<std::string> rows = Run(METHOD_AUTOMATIC, {}, false);
    ASSERT_GE(rows.size(), 4u);
    EXPECT_EQ("FILE a.txt DELETE DONE ", rows[0]);
    EXPECT_EQ("FILE b.txt DELETE DONE ", rows[1]);
    EXPECT_EQ("FILE c.txt NONE SKIPPED CANCELLED", rows[2]);
    EXPECT_EQ("FILE d.txt NONE SKIPPED CANCELLED", rows[3]);
    EXPECT_TRUE(PathExists(dir + "\\App\\c.txt"));
    EXPECT_TRUE(PathExists(log)) << "a cancelled run keeps the log";
}

// A preview that finds a file held without delete sharing expects it to
// stay; the real run then fails on it the same way.
TEST_F(PreviewRun, HeldFileIsExpectedToStay)
{
    HANDLE held = CreateFileA((dir + "\\App\\b.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                              OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    std::vector<std::string> planned = Run(METHOD_AUTOMATIC, {}, true);
    std::vector<std::string> done = Run(METHOD_AUTOMATIC, {}, false);
    CloseHandle(held);
    ASSERT_GE(planned.size(), 2u);
    EXPECT_EQ("FILE b.txt DELETE FAILED IN-USE", planned[1]);
    EXPECT_EQ(planned, done);
    EXPECT_TRUE(PathExists(dir + "\\App\\b.txt"));
}

} // namespace
