// The real program started from outside: finding the log, the open-file
// dialog, and the exit code.
#include <gtest/gtest.h>
#include "kvtest.h"

namespace {

// A copy of the program in its own folder, so that nothing lies beside it
// unless the test puts it there.
std::string InstallCopy(const std::string &dir)
{
    std::string exe = dir + "\\UNINSTAL.EXE";
    EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), exe.c_str(), FALSE));
    return exe;
}

TEST(Start, NoLogShowsTheOpenDialogAndCancelEndsCleanly)
{
    struct Row { const char *args; };
    // /S still asks when no log is named; a bare /z is no clean-up run.
    const Row rows[] = {{""}, {"/S"}, {"/z"}, {"/A /R"}};
    for (const Row &r : rows) {
        std::string dir = ScratchDir("start-nolog");
        std::string exe = InstallCopy(dir);
        ChildRun run = RunChild(exe, r.args, {{"", IDCANCEL, ""}});
        SCOPED_TRACE(std::string("args: ") + r.args);
        ASSERT_TRUE(run.started);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(0u, run.exitCode);
        ASSERT_EQ(1u, run.dialogs.size());
        EXPECT_EQ("Open", run.dialogs[0].caption);
        EXPECT_EQ(0, run.unanswered);
        RemoveTreeForTest(dir);
    }
}

TEST(Start, LogBesideTheProgramIsTakenWithoutADialog)
{
    std::string dir = ScratchDir("start with log");
    std::string sub = dir + "\\Long Folder Name";
    CreateDirectoryA(sub.c_str(), NULL);
    std::string exe = InstallCopy(sub);
    ASSERT_TRUE(WriteFileBytes(sub + "\\INSTALL.LOG", "*** Installation Started 01/02/2026 10:00 ***\r\n"
                                                      "Title: Sample Install\r\n"));
    ChildRun run = RunChild(exe, "", {}, 15000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty()) << "first dialog: "
                                     << (run.dialogs.empty() ? "" : run.dialogs[0].caption);
    RemoveTreeForTest(dir);
}

} // namespace
