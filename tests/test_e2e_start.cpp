// The real program started from outside: finding the log, the open-file
// dialog, and the exit code.
#include <gtest/gtest.h>
#include "kvtest.h"

namespace {

TEST(Start, NoLogShowsTheOpenDialogAndCancelEndsCleanly)
{
    struct Row { const char *args; };
    // /S still asks when no log is named; a bare /z is no clean-up run.
    const Row rows[] = {{""}, {"/S"}, {"/z"}, {"/A /R"}};
    for (const Row &r : rows) {
        // A folder per row: what an earlier row's run still does in its own
        // folder (its temporary copy ending) never meets this row's program.
        std::string dir = ScratchDir("start-nolog-" + std::to_string(&r - rows));
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
    // Not a log: the reader says so, which shows that this file was taken.
    ASSERT_TRUE(WriteFileBytes(sub + "\\INSTALL.LOG", "not a log\r\n"));
    ChildRun run = RunChild(exe, "", {{"Zarn Uninstall", IDOK, ""}}, 90000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(1u, run.dialogs.size());
    EXPECT_EQ("Zarn Uninstall", run.dialogs[0].caption);
    EXPECT_EQ("Invalid INSTALL.LOG file.", run.dialogs[0].text);
    RemoveTreeForTest(dir);
}

TEST(Start, LogChosenInTheOpenDialogIsRead)
{
    std::string dir = ScratchDir("start-chosen");
    std::string exe = InstallCopy(dir);
    std::string log = dir + "\\chosen.log";
    ASSERT_TRUE(WriteFileBytes(log, "still not a log\r\n"));
    ChildRun run = RunChild(exe, "", {{"Open", IDOK, log}, {"Zarn Uninstall", IDOK, ""}}, 90000);
    EXPECT_FALSE(run.timedOut);
    ASSERT_EQ(2u, run.dialogs.size());
    EXPECT_EQ("Invalid INSTALL.LOG file.", run.dialogs[1].text);
    RemoveTreeForTest(dir);
}

TEST(Start, UnknownOptionBecomesTheLogPath)
{
    std::string dir = ScratchDir("start-option");
    std::string exe = InstallCopy(dir);
    ChildRun run = RunChild(exe, "/X C:\\kvtest\\INSTALL.LOG", {{"Zarn Uninstall", IDOK, ""}}, 90000);
    EXPECT_FALSE(run.timedOut);
    ASSERT_EQ(1u, run.dialogs.size());
    EXPECT_EQ("Could not open INSTALL.LOG file.", run.dialogs[0].text);
    RemoveTreeForTest(dir);
}

TEST(Start, OverlongLogPathIsRefusedNotCut)
{
    std::string dir = ScratchDir("start-long");
    std::string exe = InstallCopy(dir);
    // The first 255 characters name a real log; the path given is longer.
    std::string cut = dir + "\\" + std::string(255 - dir.size() - 1, 'L');
    ASSERT_EQ(255u, cut.size());
    ASSERT_TRUE(WriteFileBytes(cut, "***  x\r\nTitle: Cut\r\n"));
    ChildRun run = RunChild(exe, "/S " + cut + "XYZ", {{"Zarn Uninstall", IDOK, ""}}, 90000);
    EXPECT_FALSE(run.timedOut);
    ASSERT_EQ(1u, run.dialogs.size());
    EXPECT_EQ("Could not open INSTALL.LOG file.", run.dialogs[0].text);
    RemoveTreeForTest(dir);
}

} // namespace
