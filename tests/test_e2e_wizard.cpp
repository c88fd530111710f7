// The real program driven from outside: the wizard's pages, Finish, the
// Cancel question and the automatic start.
#include <gtest/gtest.h>
#include "kvtest.h"
#include "resources/resource.h"

namespace {

const char Caption[] = "Kv Wizard";

struct Product {
    std::string dir, exe, log;
};

// A copy of the program beside a small installation log (the program
// removes its own file at the end of a run).
Product MakeProduct(const std::string &name)
{
    Product p;
    p.dir = ScratchDir(name);
    p.exe = p.dir + "\\UNINSTAL.EXE";
    EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), p.exe.c_str(), FALSE));
    std::string app = p.dir + "\\App";
    CreateDirectoryA(app.c_str(), NULL);
    EXPECT_TRUE(WriteFileBytes(app + "\\ORDERS.EXE", "program"));
    p.log = p.dir + "\\INSTALL.LOG";
    EXPECT_TRUE(WriteFileBytes(p.log, "***  Installation Started 12/08/2026 09:00 ***\r\n"
                                      "Title: Kv Orders Installation\r\n"
                                      "Made Dir: " + app + "\r\n"
                                      "File Copy: " + app + "\\ORDERS.EXE\r\n"));
    return p;
}

std::string Args(const Product &p, const std::string &options = "")
{
    return options + (options.empty() ? "" : " ") + p.log + " \"" + Caption + "\"";
}

DialogAnswer OnPage(int button, const char *title, bool again)
{
    return DialogAnswer(Caption, button, "", again, IDC_PAGE_TITLE, title);
}

TEST(WizardRun, AutomaticNextThenFinish)
{
    Product p = MakeProduct("wizard-finish");
    ChildRun run = RunChild(p.exe, Args(p),
                            {OnPage(IDC_NEXT, "Select Uninstall Method", false),
                             OnPage(IDC_NEXT, "Perform Uninstall", true)},
                            30000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0, run.unanswered);
    ASSERT_EQ(2u, run.dialogs.size());
    EXPECT_EQ(Caption, run.dialogs[0].caption);
    EXPECT_NE(std::string::npos, run.dialogs[0].text.find("Welcome to the "));
    EXPECT_NE(std::string::npos, run.dialogs[0].text.find("Select Uninstall Method"));
    EXPECT_NE(std::string::npos, run.dialogs[1].text.find("Press the Finish button"));
    EXPECT_FALSE(PathExists(p.dir + "\\App")) << "Finish runs the uninstall";
    EXPECT_FALSE(PathExists(p.log));
    RemoveTreeForTest(p.dir);
}

TEST(WizardRun, CancelAsksNoKeepsTheWizardYesEndsTheRun)
{
    Product p = MakeProduct("wizard-cancel");
    ChildRun run = RunChild(p.exe, Args(p),
                            {OnPage(IDC_CANCEL, "Select Uninstall Method", false),
                             DialogAnswer("Uninstall", IDNO),
                             OnPage(IDC_NEXT, "Select Uninstall Method", true),
                             OnPage(IDC_CANCEL, "Perform Uninstall", true),
                             DialogAnswer("Uninstall", IDYES)},
                            30000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0, run.unanswered);
    ASSERT_EQ(5u, run.dialogs.size());
    for (int i : {1, 4}) {
        EXPECT_EQ("Uninstall", run.dialogs[i].caption) << "answer " << i;
        EXPECT_EQ("Are you sure you want to cancel the uninstall?", run.dialogs[i].text) << "answer " << i;
    }
    // Nothing was undone.
    EXPECT_TRUE(PathExists(p.dir + "\\App\\ORDERS.EXE"));
    EXPECT_TRUE(PathExists(p.log));
    RemoveTreeForTest(p.dir);
}

TEST(WizardRun, CancelWithExitCodeOptionEnds1602)
{
    Product p = MakeProduct("wizard-cancel-code");
    ChildRun run = RunChild(p.exe, Args(p, "/E"),
                            {OnPage(IDC_CANCEL, "Select Uninstall Method", false), DialogAnswer("Uninstall", IDYES)},
                            30000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(1602u, run.exitCode);
    EXPECT_TRUE(PathExists(p.log));
    RemoveTreeForTest(p.dir);
}

// The preview goes through the usual pages; the last one says it is a
// preview, and Finish changes nothing but writes the report.
TEST(WizardRun, PreviewShowsThePagesAndChangesNothing)
{
    Product p = MakeProduct("wizard-preview");
    // As products install it: the program's own file in the log too.
    ASSERT_TRUE(WriteFileBytes(p.log, ReadFileBytes(p.log) + "File Copy: " + p.exe + "\r\n"));
    char win[MAX_PATH];
    GetWindowsDirectoryA(win, sizeof win);
    std::string report = std::string(win) + "\\UNINSTAL.RPT";
    DeleteFileA(report.c_str());
    std::string before = TreeText(p.dir);
    ChildRun run = RunChild(p.exe, Args(p, "/N /E"),
                            {OnPage(IDC_NEXT, "Select Uninstall Method", false),
                             OnPage(IDC_NEXT, "Perform Uninstall", true)},
                            30000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    ASSERT_EQ(2u, run.dialogs.size());
    EXPECT_NE(std::string::npos, run.dialogs[1].text.find("This is a preview")) << run.dialogs[1].text;
    EXPECT_EQ(before, TreeText(p.dir)) << "the program's own file stays too";
    std::string text = ReadFileBytes(report);
    EXPECT_EQ(0u, text.find("#MODE=PREVIEW\r\n")) << text;
    EXPECT_NE(std::string::npos, text.find("\tFILE\t" + p.dir + "\\App\\ORDERS.EXE\tDELETE\tWOULD-DO\t")) << text;
    DeleteFileA(report.c_str());
    RemoveTreeForTest(p.dir);
}

TEST(WizardRun, AutomaticOptionRunsWithoutAClick)
{
    Product p = MakeProduct("wizard-auto");
    ChildRun run = RunChild(p.exe, Args(p, "/A"), {}, 90000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut) << "the run waited for the wizard";
    EXPECT_EQ(0u, run.exitCode);
    for (const SeenDialog &d : run.dialogs)
        EXPECT_EQ(Caption, d.caption) << "only the wizard may show";
    // The uninstall ran: the product's file, its folder and the log are gone.
    EXPECT_FALSE(PathExists(p.dir + "\\App\\ORDERS.EXE"));
    EXPECT_FALSE(PathExists(p.dir + "\\App"));
    EXPECT_FALSE(PathExists(p.log));
    RemoveTreeForTest(p.dir);
}

} // namespace
