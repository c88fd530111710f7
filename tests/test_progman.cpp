// Program Manager items over DDE, against the "PROGMAN" double (tools/).
#include <gtest/gtest.h>
#include <stdlib.h>
#include "kvtest.h"
#include "progmantest.h"
#include "base/rows.h"
#include "base/state.h"
#include "base/text.h"
#include "engine/progman.h"
#include "log/inventory.h"
#include "base/refusals.h"
#include "ui/progress.h"

namespace {

std::vector<std::string> Shown;
void WatchProgress(const char *text)
{
    Shown.push_back(text ? text : "<bar>");
}

class Progman : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, CreateInventory()); }
    void TearDown() override
    {
        CloseProgman();
        for (int i = 0; i < GROUP_SLOTS; i++) {
            free(GroupNames[i]);
            GroupNames[i] = NULL;
        }
        FreeInventory();
    }
    static void AddIcon(const char *group, const char *name, const char *command)
    {
        IconEntry *e = nullptr;
        NewEntry(&e);
        ASSERT_TRUE(e != NULL);
        StoreText(&e->Group, group, NAME_CAP);
        StoreText(&e->Name, name, NAME_CAP);
        StoreText(&e->Command, command, NAME_CAP);
        ASSERT_EQ(0, ListAppend(&IconList, e));
    }
    static void RemoveAll()
    {
        ConnectProgman();
        for (int i = 0; i < IconList.Count; i++)
            RemoveProgmanItem(i);
        CloseProgman();
    }
};

TEST_F(Progman, CommandMatchesItemsInTwoGroupsAndEmptiedGroupIsDeletedButNeverStartup)
{
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(ScratchDir("pm_two"),
                         "=Apps\r\n\"Apps\",C:\\W\\APPS.GRP,1\r\n"
                         "\"Editor\",\"C:\\APP\\EDIT.EXE\",,C:\\APP\\EDIT.EXE,0,0\r\n"
                         "=Tools\r\n\"Tools\"\r\n\"Edit\",\"c:\\app\\edit.exe\"\r\n"
                         "\"Other\",\"C:\\OTHER.EXE\"\r\n"
                         "=StartUp\r\n\"StartUp\"\r\n\"Edit it\",\"C:\\APP\\EDIT.EXE\",x\r\n"));
    AddIcon("Apps", "Editor", "C:\\APP\\EDIT.EXE");
    RemoveAll();

    std::vector<std::string> want = {
        "[ShowGroup(\"Apps\",2)]",    "[ShowGroup(\"Apps\",1)]",    "[DeleteItem(\"Editor\")]",
        "[DeleteGroup(\"Apps\")]",    "[ShowGroup(\"Tools\",2)]",   "[ShowGroup(\"Tools\",1)]",
        "[DeleteItem(\"Edit\")]",     "[ShowGroup(\"StartUp\",2)]", "[ShowGroup(\"StartUp\",1)]",
        "[DeleteItem(\"Edit it\")]"};
    EXPECT_EQ(want, pm.Commands());
    EXPECT_EQ((std::vector<std::string>{"GROUPS", "Apps", "Tools", "StartUp"}), pm.Requests());
    EXPECT_EQ("=Tools\r\n\"Tools\"\r\n\"Other\",\"C:\\OTHER.EXE\"\r\n=StartUp\r\n\"StartUp\"\r\n",
              pm.Result());
    // The stored copies carry the marks: deleted group, deleted item, emptied StartUp.
    ASSERT_TRUE(GroupNames[0] && GroupNames[1] && GroupNames[2]);
    EXPECT_EQ('*', GroupNames[0][0]);
    EXPECT_NE(std::string::npos, std::string(GroupNames[1]).find("\r\n*Edit\""));
    EXPECT_EQ('"', GroupNames[1][0]);
    EXPECT_EQ('*', GroupNames[2][0]);
    EXPECT_TRUE(GroupNames[3] == NULL);
}

TEST_F(Progman, TwoEntriesOfOneGroupDeleteTheGroupAfterTheSecond)
{
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(ScratchDir("pm_pair"),
                         "=Game\r\n\"Game\"\r\n\"Play\",\"C:\\G\\PLAY.EXE\"\r\n"
                         "\"Read me\",\"C:\\G\\README.TXT\"\r\n"));
    AddIcon("Game", "Play", "C:\\G\\PLAY.EXE");
    AddIcon("Game", "Read me", "C:\\G\\README.TXT");
    ConnectProgman();
    RemoveProgmanItem(0);
    EXPECT_EQ((std::vector<std::string>{"[ShowGroup(\"Game\",2)]", "[ShowGroup(\"Game\",1)]",
                                        "[DeleteItem(\"Play\")]"}),
              pm.Commands());
    RemoveProgmanItem(1);
    RemoveProgmanItem(0);   // already gone: the mark keeps it from being sent again
    Shown.clear();
    ProgressObserver = WatchProgress;
    CloseProgman();
    ProgressObserver = NULL;
    EXPECT_EQ(std::vector<std::string>{"<bar>"}, Shown) << "closing repaints the bar once";
    std::vector<std::string> cmds = pm.Commands();
    ASSERT_EQ(7u, cmds.size());
    EXPECT_EQ("[DeleteItem(\"Read me\")]", cmds[5]);
    EXPECT_EQ("[DeleteGroup(\"Game\")]", cmds[6]);
    EXPECT_EQ("", pm.Result());
}

TEST_F(Progman, ChangedCommandIsStillMatchedByGroupAndName)
{
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(ScratchDir("pm_changed"),
                         "=Viewers\r\n\"Viewers\"\r\n\"Viewer\",\"C:\\NEW\\VIEW.EXE\"\r\n"
                         "\"Help\",\"C:\\NEW\\HELP.HLP\"\r\n"
                         "=Other\r\n\"Other\"\r\n\"Viewer\",\"C:\\ELSE\\VIEW.EXE\"\r\n"));
    AddIcon("VIEWERS", "viewer", "C:\\OLD\\VIEW.EXE");
    RemoveAll();
    EXPECT_EQ((std::vector<std::string>{"[ShowGroup(\"Viewers\",2)]", "[ShowGroup(\"Viewers\",1)]",
                                        "[DeleteItem(\"Viewer\")]"}),
              pm.Commands());
    EXPECT_EQ("=Viewers\r\n\"Viewers\"\r\n\"Help\",\"C:\\NEW\\HELP.HLP\"\r\n"
              "=Other\r\n\"Other\"\r\n\"Viewer\",\"C:\\ELSE\\VIEW.EXE\"\r\n",
              pm.Result());
}

TEST_F(Progman, UnusableDescriptionsAndLinesAreLeftAlone)
{
    // Each group holds an item with the entry's command, but none may be touched:
    // no closing quote on the first line, no quote at all, a refused request,
    // and item lines that lack a quote or the comma between the fields.
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(ScratchDir("pm_unusable"),
                         "=Broken\r\n\"Broken,x\r\n\"A\",\"C:\\X.EXE\"\r\n"
                         "=Plain\r\nPlain\r\n\"B\",\"C:\\X.EXE\"\r\n"
                         "=Refused\r\n\"Refused\"\r\n\"C\",\"C:\\X.EXE\"\r\n"
                         "=Lines\r\n\"Lines\"\r\n\"D\" ,\"C:\\X.EXE\"\r\n\"E\",\"C:\\X.EXE\r\n"
                         "\"F,\"C:\\X.EXE\"\r\n\"G\",\"C:\\Y.EXE\"\r\n",
                         "-fail Refused"));
    AddIcon("Nowhere", "Nothing", "C:\\X.EXE");
    RemoveAll();
    EXPECT_TRUE(pm.Commands().empty());
    EXPECT_EQ((std::vector<std::string>{"GROUPS", "Broken", "Plain", "Refused", "Lines"}),
              pm.Requests());
    EXPECT_FALSE(PathExists(pm.dir + "\\result.txt"));
    // The refused group is absent from the table.
    ASSERT_TRUE(GroupNames[2] != NULL);
    EXPECT_EQ(0, strncmp(GroupNames[2], "\"Lines\"", 7));
    EXPECT_TRUE(GroupNames[3] == NULL);
}

TEST_F(Progman, NoServerOrNoGroupListFinishesQuietly)
{
    struct Row { const char *name; bool server; };
    for (Row r : {Row{"no server", false}, Row{"GROUPS refused", true}}) {
        ProgmanDouble pm;
        if (r.server) {
            ASSERT_TRUE(pm.Start(ScratchDir("pm_quiet"), "=G\r\n\"G\"\r\n\"I\",\"C:\\I.EXE\"\r\n",
                                 "-nogroups"))
                << r.name;
        }
        IconList.Count = 0;
        AddIcon("G", "I", "C:\\I.EXE");
        AnswerDialogs({IDOK});
        RemoveAll();
        EXPECT_EQ(1, StopAnswering()) << r.name << ": a message box was shown";
        EXPECT_TRUE(GroupNames[0] == NULL) << r.name;
        if (r.server) {
            EXPECT_EQ(std::vector<std::string>{"GROUPS"}, pm.Requests()) << r.name;
            EXPECT_TRUE(pm.Commands().empty()) << r.name;
        }
    }
    // Closing twice, or without a connection, does nothing harmful.
    CloseProgman();
}

TEST_F(Progman, AtMost127GroupsAreHeld)
{
    std::string groups;
    char name[32];
    for (int i = 0; i < 130; i++) {
        FormatText(name, sizeof name, "Group %03d", i);
        groups += std::string("=") + name + "\r\n\"" + name + "\"\r\n\"Tool\",\"C:\\SAME.EXE\"\r\n";
    }
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(ScratchDir("pm_many"), groups));
    AddIcon("none", "none", "C:\\SAME.EXE");
    ConnectProgman();
    EXPECT_TRUE(GroupNames[126] != NULL);
    EXPECT_TRUE(GroupNames[127] == NULL);
    RemoveProgmanItem(0);
    CloseProgman();
    std::vector<std::string> req = pm.Requests();
    ASSERT_EQ(128u, req.size());
    EXPECT_EQ("Group 126", req.back());
    std::vector<std::string> cmds = pm.Commands();
    ASSERT_EQ(127u * 4, cmds.size());
    EXPECT_EQ("[DeleteGroup(\"Group 126\")]", cmds.back());
    EXPECT_NE(std::string::npos, pm.Result().find("=Group 127\r\n"));
}

TEST_F(Progman, OversizeRepliesAreNeverCutIntoOtherNames)
{
    // A group list larger than the receive buffer: only whole names are asked
    // for. A description larger than it is left out, so its group is never
    // taken for empty.
    std::string groups;
    std::vector<std::string> names;
    for (int i = 0; i < 100; i++) {
        char head[16];
        FormatText(head, sizeof head, "G%03d ", i);
        std::string name = head + std::string(195, 'x');
        names.push_back(name);
        groups += "=" + name + "\r\n\"" + name + "\"\r\n";
        if (i == 0) {
            groups += "\"Tool\",\"C:\\T.EXE\"\r\n";
            for (int k = 0; k < 400; k++)
                groups += "\"Filler " + std::to_string(k) + "\",\"C:\\FILLER\\PROGRAM.EXE\",,,,\r\n";
        }
        if (i == 1)
            groups += "\"Tool\",\"C:\\T.EXE\"\r\n";
    }
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(ScratchDir("pm_big"), groups));
    AddIcon("none", "none", "C:\\T.EXE");
    RemoveAll();
    std::vector<std::string> req = pm.Requests();
    ASSERT_GT(req.size(), 2u);
    EXPECT_LT(req.size(), 101u) << "the list should not have fit the buffer";
    for (size_t i = 1; i < req.size(); i++)
        EXPECT_EQ(names[i - 1], req[i]) << "request " << i;
    EXPECT_EQ((std::vector<std::string>{"[ShowGroup(\"" + names[1] + "\",2)]",
                                        "[ShowGroup(\"" + names[1] + "\",1)]", "[DeleteItem(\"Tool\")]",
                                        "[DeleteGroup(\"" + names[1] + "\")]"}),
              pm.Commands());
}

// Names go to the shell quoted, so brackets and parentheses in them are
// text: an item named to close its command and open another deletes only
// itself. A name from the log with a quote or a control character is refused.
TEST_F(Progman, NamesAreQuotedAndUnsafeNamesRefused)
{
    FreeRefusals();
    ProgmanDouble pm;
    ASSERT_TRUE(pm.Start(ScratchDir("pm_inject"),
                         "=Apps\r\n\"Apps\"\r\n\"Tool)][DeleteGroup(Other)\",\"C:\\T.EXE\"\r\n"
                         "\"Keep\",\"C:\\K.EXE\"\r\n"
                         "=Other\r\n\"Other\"\r\n\"Mine\",\"C:\\M.EXE\"\r\n"
                         "=Ctl\tGroup\r\n\"Ctl\tGroup\"\r\n\"Item\",\"C:\\C.EXE\"\r\n"));
    AddIcon("Apps", "Tool)][DeleteGroup(Other)", "");
    AddIcon("Other", "Mi\"ne", "");
    AddIcon("Oth\"er", "Mine", "");
    AddIcon("none", "none", "C:\\C.EXE");     // matches an item of a group with a tab
    RemoveAll();
    EXPECT_EQ((std::vector<std::string>{"[ShowGroup(\"Apps\",2)]", "[ShowGroup(\"Apps\",1)]",
                                        "[DeleteItem(\"Tool)][DeleteGroup(Other)\")]"}),
              pm.Commands());
    std::string result = pm.Result();
    EXPECT_NE(std::string::npos, result.find("=Other\r\n\"Other\"\r\n\"Mine\"")) << result;
    EXPECT_NE(std::string::npos, result.find("\"Keep\"")) << result;
    EXPECT_EQ(std::string::npos, result.find("Tool)]")) << result;
    ASSERT_EQ(3, RefusalCount());
    EXPECT_STREQ("ICON", RefusalAt(0)->Kind);
    EXPECT_STREQ("Mi\"ne", RefusalAt(0)->Target);
    EXPECT_STREQ("GROUP", RefusalAt(1)->Kind);
    EXPECT_STREQ("Oth\"er", RefusalAt(1)->Target);
    EXPECT_STREQ("GROUP", RefusalAt(2)->Kind);
    EXPECT_STREQ("Ctl\tGroup", RefusalAt(2)->Target);
    for (int i = 0; i < 3; i++)
        EXPECT_STREQ("BAD-PATH", RefusalAt(i)->Reason);
    FreeRefusals();
}

// Every item and group deleted gets its row; one whose deletion Program
// Manager refuses is reported as failed, and its group, which still holds
// it, is not deleted. A preview sends nothing and expects every deletion.
TEST_F(Progman, EachDeletionIsReportedAndARefusedOneKeepsItsGroup)
{
    const std::string groups = "=Apps\r\n\"Apps\"\r\n\"Stuck\",\"C:\\S.EXE\"\r\n"
                               "=Tools\r\n\"Tools\"\r\n\"Free\",\"C:\\F.EXE\"\r\n";
    AddIcon("Apps", "Stuck", "C:\\S.EXE");
    AddIcon("Tools", "Free", "C:\\F.EXE");
    struct Row { int preview; std::vector<std::string> rows, commands; };
    const Row rows[] = {
        {1, {"ICON Stuck DONE  Apps", "GROUP Apps DONE  ", "ICON Free DONE  Tools", "GROUP Tools DONE  "}, {}},
        {0, {"ICON Stuck FAILED ERROR=50 Apps", "ICON Free DONE  Tools", "GROUP Tools DONE  "},
         {"[ShowGroup(\"Apps\",2)]", "[ShowGroup(\"Apps\",1)]", "[DeleteItem(\"Stuck\")]",
          "[ShowGroup(\"Tools\",2)]", "[ShowGroup(\"Tools\",1)]", "[DeleteItem(\"Free\")]",
          "[DeleteGroup(\"Tools\")]"}},
    };
    RowsWanted = 1;
    for (const Row &r : rows) {
        ProgmanDouble pm;
        ASSERT_TRUE(pm.Start(ScratchDir(r.preview ? "pm_refuse_preview" : "pm_refuse"), groups,
                             "-refuse Stuck"));
        FreeRows();
        Preview = r.preview;
        RemoveAll();
        Preview = 0;
        std::vector<std::string> got;
        for (int i = 0; i < RowCount(); i++) {
            const ReportRow *row = RowAt(i);
            EXPECT_STREQ("DELETE", row->Action);
            got.push_back(std::string(row->Kind) + " " + row->Target + " " + row->Outcome + " " + row->Reason +
                          " " + row->Detail);
        }
        EXPECT_EQ(r.rows, got) << (r.preview ? "preview" : "real");
        std::vector<std::string> sent = pm.Commands();
        EXPECT_EQ(r.commands, sent.size() == 1 && sent[0].empty() ? std::vector<std::string>{} : sent);
        if (!r.preview) {
            EXPECT_EQ("=Apps\r\n\"Apps\"\r\n\"Stuck\",\"C:\\S.EXE\"\r\n", pm.Result());
        }
    }
    FreeRows();
    RowsWanted = 0;
}

TEST(ProgmanMarks, EmptyGroupIsMarkedOnlyWithoutItemLines)
{
    struct Row { const char *desc; int empty; };
    const Row rows[] = {
        {"\"G\"\r\n\"I\",\"C\"\r\n", 0},
        {"\"G\"\r\n*I\",\"C\"\r\n", 1},
        {"\"G\"\r\n*I\",\"C\"\r\nnot an item\r\n\r\n", 1},
        {"\"G\"", 1},
        {"\"G\"\r\n*A\r\n\"B\",\"C\"", 0},
    };
    for (const Row &r : rows) {
        std::string d = r.desc;
        std::vector<char> buf(d.begin(), d.end());
        buf.push_back(0);
        EXPECT_EQ(r.empty, MarkGroupIfEmpty(buf.data())) << r.desc;
        EXPECT_EQ(r.empty ? '*' : '"', buf[0]) << r.desc;
        EXPECT_EQ(d.substr(1), std::string(buf.data() + 1)) << r.desc;
    }
}

} // namespace
