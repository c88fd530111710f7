// Program Manager items removed by the real program (/S) against the
// "PROGMAN" double (tools/progman_double.cpp).
#include <gtest/gtest.h>
#include "kvtest.h"
#include "progmantest.h"

namespace {

const char *const IconLog =
    "*** Installation Started 01/02/2026 10:00 ***\r\n"
    "Title: Sample Install\r\n"
    "Icon Group: Apps\r\nIcon Name: Editor\r\nIcon Cmd: C:\\APP\\EDIT.EXE\r\n"
    "Icon Group: Game\r\nIcon Name: Play\r\nIcon Cmd: C:\\G\\PLAY.EXE\r\n"
    "Icon Group: Game\r\nIcon Name: Read me\r\nIcon Cmd: C:\\G\\README.TXT\r\n"
    "Icon Group: StartUp\r\nIcon Name: Auto\r\nIcon Cmd: C:\\APP\\AUTO.EXE\r\n"
    "Icon Group: Viewers\r\nIcon Name: Viewer\r\nIcon Cmd: C:\\OLD\\VIEW.EXE\r\n";

TEST(ProgmanRun, SilentRunRemovesTheItemsAndEmptiedGroups)
{
    std::string dir = ScratchDir("pm_e2e");
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(dir, "=Apps\r\n\"Apps\"\r\n\"Editor\",\"C:\\APP\\EDIT.EXE\"\r\n"
                              "=Tools\r\n\"Tools\"\r\n\"Edit\",\"C:\\APP\\EDIT.EXE\"\r\n"
                              "\"Other\",\"C:\\OTHER.EXE\"\r\n"
                              "=Game\r\n\"Game\"\r\n\"Play\",\"C:\\G\\PLAY.EXE\"\r\n"
                              "\"Read me\",\"C:\\G\\README.TXT\"\r\n"
                              "=StartUp\r\n\"StartUp\"\r\n\"Auto\",\"C:\\APP\\AUTO.EXE\"\r\n"
                              "=Viewers\r\n\"Viewers\"\r\n\"Viewer\",\"C:\\NEW\\VIEW.EXE\"\r\n"
                              "\"Help\",\"C:\\NEW\\HELP.HLP\"\r\n"));
    std::string log = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(log, IconLog));
    ChildRun run = RunChild(InstallCopy(dir), "/S " + log, {}, 60000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_TRUE(run.dialogs.empty());

    std::vector<std::string> want = {
        "[ShowGroup(\"Apps\",2)]",     "[ShowGroup(\"Apps\",1)]",     "[DeleteItem(\"Editor\")]",
        "[DeleteGroup(\"Apps\")]",     "[ShowGroup(\"Tools\",2)]",    "[ShowGroup(\"Tools\",1)]",
        "[DeleteItem(\"Edit\")]",      "[ShowGroup(\"Game\",2)]",     "[ShowGroup(\"Game\",1)]",
        "[DeleteItem(\"Play\")]",      "[ShowGroup(\"Game\",2)]",     "[ShowGroup(\"Game\",1)]",
        "[DeleteItem(\"Read me\")]",   "[DeleteGroup(\"Game\")]",     "[ShowGroup(\"StartUp\",2)]",
        "[ShowGroup(\"StartUp\",1)]",  "[DeleteItem(\"Auto\")]",      "[ShowGroup(\"Viewers\",2)]",
        "[ShowGroup(\"Viewers\",1)]",  "[DeleteItem(\"Viewer\")]"};
    EXPECT_EQ(want, pm.Commands());
    EXPECT_EQ("=Tools\r\n\"Tools\"\r\n\"Other\",\"C:\\OTHER.EXE\"\r\n=StartUp\r\n\"StartUp\"\r\n"
              "=Viewers\r\n\"Viewers\"\r\n\"Help\",\"C:\\NEW\\HELP.HLP\"\r\n",
              pm.Result());
    // The groups were read once, at the first icon.
    EXPECT_EQ((std::vector<std::string>{"GROUPS", "Apps", "Tools", "Game", "StartUp", "Viewers"}),
              pm.Requests());
    RemoveTreeForTest(dir);
}

TEST(ProgmanRun, WithoutAServerTheRunEndsWithoutAMessage)
{
    std::string dir = ScratchDir("pm_e2e_none");
    std::string log = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(log, IconLog));
    ChildRun run = RunChild(InstallCopy(dir), "/S " + log, {}, 60000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_TRUE(run.dialogs.empty()) << run.dialogs[0].caption;
    EXPECT_FALSE(PathExists(log)) << "the run did not get to its end";
    RemoveTreeForTest(dir);
}

} // namespace
