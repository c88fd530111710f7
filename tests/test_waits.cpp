// Programs run at uninstall and executable servers: the program's path is
// quoted on its command line, and while the uninstaller waits for it its
// windows answer messages, so that they paint and Cancel is honoured.
#include <gtest/gtest.h>
#include <string.h>
#include "support/kvtest.h"
#include "base/rows.h"
#include "base/state.h"
#include "base/text.h"
#include "engine/services.h"
#include "engine/uninstall.h"
#include "log/inventory.h"
#include "machine/preview.h"

namespace {

int Asked;              // messages the probe's target window received
int CancelOnAsk;        // the target acts as a confirmed Cancel when set

LRESULT CALLBACK TargetProc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    if (msg == WM_USER + 1) {
        Asked++;
        if (CancelOnAsk)
            Cancelled = 1;
        return 42;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

class Waits : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(0, CreateInventory());
        UninstallMethod = METHOD_AUTOMATIC;
        Rollback = Cancelled = 0;
        InstallCount = 1;
        WizardWindow = NULL;
        Asked = CancelOnAsk = 0;
        dir = ScratchDir("Wait Probe");
        WNDCLASSA wc = {};
        wc.lpfnWndProc = TargetProc;
        wc.hInstance = GetModuleHandleA(NULL);
        wc.lpszClassName = "KvWaitProbeTarget";
        RegisterClassA(&wc);
        target = CreateWindowA("KvWaitProbeTarget", "", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL,
                               wc.hInstance, NULL);
        ASSERT_TRUE(target != NULL);
    }
    void TearDown() override
    {
        DestroyWindow(target);
        FreeInventory();
        Cancelled = 0;
        RemoveTreeForTest(dir);
    }
    // A copy of the probe under a folder whose name holds a blank.
    std::string Probe(const std::string &name)
    {
        CreateDirectoryA((dir + "\\Program Dir").c_str(), NULL);
        std::string path = dir + "\\Program Dir\\" + name;
        EXPECT_TRUE(CopyFileA((BinDir() + "\\wait_probe.exe").c_str(), path.c_str(), FALSE));
        return path;
    }
    void AddProgram(const std::string &command)
    {
        ProgramEntry *p = nullptr;
        NewEntry(&p);
        ASSERT_TRUE(p != NULL);
        StoreText(&p->CommandLine, command.c_str(), INV_PATH_CAP);
        p->InstallNo = 1;
        ASSERT_EQ(0, ListAppend(&ProgramList, p));
    }
    std::string dir;
    HWND target = NULL;
};

TEST_F(Waits, CommandLinesGetTheirProgramPathQuoted)
{
    std::string prog = Probe("prog.exe");
    // A planted program named by the first word of the folder's name.
    ASSERT_TRUE(WriteFileBytes(dir + "\\Program.exe", "planted"));
    struct Row { std::string command, want; };
    const Row rows[] = {
        {prog + " /a \"b c\" d", "\"" + prog + "\" /a \"b c\" d"},
        {prog, "\"" + prog + "\""},
        {dir + "\\Program Dir\\prog /x", "\"" + dir + "\\Program Dir\\prog\" /x"},
        {"\"" + prog + "\" /a", "\"" + prog + "\" /a"},
        {"cmd.exe /c echo", "cmd.exe /c echo"},
        {dir + "\\Missing Dir\\x.exe /a", dir + "\\Missing Dir\\x.exe /a"},
    };
    for (const Row &r : rows) {
        char out[INV_PATH_CAP + 2];
        EXPECT_EQ(TEXT_FIT, QuoteCommandLine(r.command.c_str(), out, sizeof out)) << r.command;
        EXPECT_EQ(r.want, out) << r.command;
    }
    char small[8];
    EXPECT_EQ(TEXT_CUT, QuoteCommandLine(prog.c_str(), small, sizeof small));
}

// While the first program runs, the waiting uninstaller answers its
// window's messages; a Cancel given then stops the phase before the next
// program, and the running program is not killed.
TEST_F(Waits, ProgramWaitAnswersMessagesAndHonoursCancel)
{
    std::string prog = Probe("first.exe");
    CancelOnAsk = 1;
    AddProgram(prog + " one \"two three\"");
    AddProgram("C:\\windows\\system32\\cmd.exe /c echo x> " + dir + "\\second.txt");
    WriteFileBytes(dir + "\\INSTALL.LOG", "x");
    RunUninstall((dir + "\\INSTALL.LOG").c_str());
    std::vector<std::string> record = SplitCrLf(ReadFileBytes(prog + ".txt"));
    ASSERT_EQ(2u, record.size());
    EXPECT_NE(std::string::npos, record[0].find("first.exe\" one \"two three\"")) << record[0];
    EXPECT_EQ("answer 42", record[1]);
    EXPECT_EQ(1, Asked);
    EXPECT_EQ(1, Cancelled);
    EXPECT_FALSE(PathExists(dir + "\\second.txt"));
    EXPECT_TRUE(PathExists(dir + "\\INSTALL.LOG")) << "a cancelled run keeps the log";
}

TEST_F(Waits, ExecutableServerWaitAnswersMessages)
{
    std::string server = Probe("server.exe");
    SelfRegisterFile("Self-Unregistering file:\r\n", server.c_str(), 0);
    std::vector<std::string> record = SplitCrLf(ReadFileBytes(server + ".txt"));
    ASSERT_EQ(2u, record.size());
    EXPECT_NE(std::string::npos, record[0].find(" /UNREGSERVER")) << record[0];
    EXPECT_EQ("answer 42", record[1]);
    EXPECT_EQ(1, Asked);
}

// Each program is reported with what became of it; a preview starts none
// and plans the row the real run then gives: a program that is not there
// is gone already, whichever way its command names it.
TEST_F(Waits, EachProgramIsReportedAndThePreviewPlansTheSame)
{
    const std::string sys = "C:\\windows\\system32\\cmd.exe";
    const std::string out = dir + "\\ran";
    struct Row { std::string command, want; };
    const Row rows[] = {
        {sys + " /c echo x> \"" + out + "1.txt\"", "DONE "},
        {"cmd /c echo x> \"" + out + "2.txt\"", "DONE "},      // a bare name, searched for
        {"C:\\windows\\system32\\cmd /c echo x> \"" + out + "3.txt\"", "DONE "},
        {dir + "\\Missing Dir\\x.exe /a", "SKIPPED ALREADY-GONE"},
        {"\"" + dir + "\\Missing Dir\\x.exe\" /a", "SKIPPED ALREADY-GONE"},
        {dir + "\\nothing", "SKIPPED ALREADY-GONE"},
    };
    for (const Row &r : rows)
        AddProgram(r.command);
    std::string log = dir + "\\INSTALL.LOG";
    RowsWanted = 1;
    std::vector<std::string> runs[2];
    for (int preview : {1, 0}) {
        FreeRows();
        ForgetPlannedGone();
        Preview = preview;
        RunUninstall(log.c_str());
        Preview = 0;
        for (int i = 0; i < RowCount(); i++) {
            const ReportRow *row = RowAt(i);
            if (strcmp(row->Kind, "PROGRAM") == 0)
                runs[preview].push_back(std::string(row->Action) + " " + row->Outcome + " " + row->Reason);
        }
        for (int k = 1; k <= 3; k++) {
            EXPECT_EQ(!preview, PathExists(out + std::to_string(k) + ".txt"))
                << "program " << k << (preview ? " ran in the preview" : " did not run");
        }
    }
    ForgetPlannedGone();
    FreeRows();
    RowsWanted = 0;
    std::vector<std::string> want;
    for (const Row &r : rows)
        want.push_back("RUN " + r.want);
    EXPECT_EQ(want, runs[1]) << "preview";
    EXPECT_EQ(want, runs[0]);
}

}  // namespace
