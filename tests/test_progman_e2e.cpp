// Program Manager items removed by the real program (/S) against the
// "PROGMAN" double (tools/progman_double.cpp).
#include <gtest/gtest.h>
#include "kvtest.h"
#include "progmantest.h"
#include "machine.h"
#include <map>
#include <set>

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

// The groups of a description text ("=NAME" then its lines), each with its
// lines in order of text: Program Manager does not keep their order.
std::map<std::string, std::set<std::string>> GroupsOf(const std::string &text)
{
    std::map<std::string, std::set<std::string>> groups;
    std::string current;
    for (const std::string &line : SplitCrLf(text)) {
        if (!line.empty() && line[0] == '=')
            groups[current = line.substr(1)];
        else if (!line.empty())
            groups[current].insert(line);
    }
    return groups;
}

// An uninstall kept with /K and undone with /U gives Program Manager back
// its items and groups, in every field; an item made since under a deleted
// item's name stays as it is, with a CONFLICT row.
TEST(ProgmanRun, KeptItemsAndGroupsComeBackWithTheUndo)
{
    std::string dir = ScratchDir("pm_undo");
    char win[MAX_PATH];
    GetWindowsDirectoryA(win, sizeof win);
    RemoveTreeForTest(std::string(win) + "\\UNINSTAL.RCV");
    const std::string groups =
        "=Apps\r\n\"Apps\"\r\n\"Editor\",\"C:\\APP\\EDIT.EXE\",\"C:\\APP\",\"C:\\APP\\EDIT.EXE\",10,20,1,0,0\r\n"
        "=Game\r\n\"Game\"\r\n\"Play\",\"C:\\G\\PLAY.EXE\"\r\n\"Read me\",\"C:\\G\\README.TXT\"\r\n"
        "=Viewers\r\n\"Viewers\"\r\n\"Viewer\",\"C:\\NEW\\VIEW.EXE\"\r\n\"Help\",\"C:\\NEW\\HELP.HLP\"\r\n";
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(dir, groups));
    std::string log = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(log, IconLog));
    std::string program = InstallCopy(dir);
    ChildRun run = RunChild(program, "/S /K " + log, {}, 60000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ("=Viewers\r\n\"Viewers\"\r\n\"Help\",\"C:\\NEW\\HELP.HLP\"\r\n", pm.Result());
    pm.Stop();

    // Made again by another product: "Play" in a new Game group.
    std::string since = "=Viewers\r\n\"Viewers\"\r\n\"Help\",\"C:\\NEW\\HELP.HLP\"\r\n"
                        "=Game\r\n\"Game\"\r\n\"Play\",\"C:\\OTHER\\PLAY.EXE\"\r\n";
    ASSERT_TRUE(pm.Start(dir, since));
    run = RunChild(program, "/S /V /U", {}, 60000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    std::string want = groups;
    want.replace(want.find("\"Play\",\"C:\\G\\PLAY.EXE\""), 22, "\"Play\",\"C:\\OTHER\\PLAY.EXE\"");
    EXPECT_EQ(GroupsOf(want), GroupsOf(pm.Result())) << pm.Result();
    Report undo = ReadReport(std::string(win) + "\\UNINSTAL.RPT");
    EXPECT_EQ("CONFLICT CHANGED-SINCE", Outcome(undo, "ICON", "Play"));
    EXPECT_EQ("DONE ", Outcome(undo, "ICON", "Editor"));
    EXPECT_EQ("DONE ", Outcome(undo, "GROUP", "Apps"));
    EXPECT_EQ("SKIPPED UNCHANGED", Outcome(undo, "GROUP", "Game"));
    pm.Stop();
    RemoveTreeForTest(std::string(win) + "\\UNINSTAL.RCV");
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
