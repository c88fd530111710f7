// The sample product's wizard pages, driven from outside: a Custom list page
// read back line by line, the rollback page, Finish and the progress page,
// Cancel before and during the run; and the same pages in-process from an
// inventory built by hand.
// With KV_SHOT_DIR set (a folder of this Wine machine) both stop on each page
// until scripts/wizard-shots.sh has taken its screenshot.
#include <stdio.h>
#include <stdlib.h>
#include "wizardtest.h"
#include "app/background.h"
#include "engine/uninstall.h"
#include "log/logread.h"
#include "report/mif.h"

namespace {

const char App[] = "C:\\Program Files\\Sample Orders";
const char Caption[] = "Uninstall Sample Orders";

std::string MakeSample()
{
    std::string app = App;
    CreateDirectoryA(app.c_str(), NULL);
    CreateDirectoryA((app + "\\Data").c_str(), NULL);
    EXPECT_TRUE(WriteFileBytes(app + "\\ORDERS.EXE", "sample program"));
    EXPECT_TRUE(WriteFileBytes(app + "\\README.TXT", "Read me first."));
    EXPECT_TRUE(WriteFileBytes(app + "\\README.BAK", "An older read-me."));
    EXPECT_TRUE(WriteFileBytes(app + "\\Data\\orders.dat", "order data"));
    EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), (app + "\\UNINSTAL.EXE").c_str(), FALSE));
    std::string longLog = app + "\\INSTALL.LOG";
    EXPECT_TRUE(WriteFileBytes(longLog, "***  Installation Started 12/08/2026 09:00 ***\r\n"
                                    "Title: Sample Orders Installation\r\n"
                                    "Uninstall MIF: KVSAMPLE.MIF\r\n"
                                    "Manufacturer: Kv Samples\r\n"
                                    "Product: Sample Orders\r\n"
                                    "Made Dir: " + app + "\r\n"
                                    "Made Dir: " + app + "\\Data\r\n"
                                    "File Copy: " + app + "\\ORDERS.EXE\r\n"
                                    "File Copy: " + app + "\\README.TXT\r\n"
                                    "Backup Copy: " + app + "\\README.BAK\r\n"
                                    "File Copy: " + app + "\\Data\\orders.dat\r\n"
                                    "Create Service: KvSampleSvc1\r\n"
                                    "Create Service: KvSampleSvc2\r\n"
                                    "Create Service: KvSampleSvc3\r\n"));
    // A log path on the command line cannot hold a blank: give its short form.
    char log[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(longLog.c_str(), log, sizeof log);
    EXPECT_TRUE(n > 0 && n < sizeof log);
    return log;
}

const char StatusFile[] = "C:\\windows\\KVSAMPLE.MIF";

// Hands the page to the screenshot script and waits until it has its picture.
void Shot(const char *name, HWND dlg)
{
    const char *dir = getenv("KV_SHOT_DIR");
    if (!dir || !*dir)
        return;
    CreateDirectoryA(dir, NULL);
    Sleep(400);     // let the page finish painting
    RECT r;
    GetWindowRect(dlg, &r);
    char rect[64];
    snprintf(rect, sizeof rect, "%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    std::string base = std::string(dir) + "\\" + name;
    WriteFileBytes(base + ".ready", rect);
    for (int i = 0; i < 300 && !PathExists(base + ".done"); i++)
        Sleep(100);
}

std::string ControlText(HWND dlg, int id)
{
    char buf[1024] = "";
    GetDlgItemTextA(dlg, id, buf, sizeof buf);
    return buf;
}

DialogAnswer OnPage(int button, int control, const char *text, bool again,
                    std::function<void(HWND)> observe = nullptr)
{
    return DialogAnswer(Caption, button, "", again, control, text, observe);
}

TEST(WizardPages, SampleProduct)
{
    std::string log = MakeSample();
    DeleteFileA(StatusFile);
    std::string exe = std::string(App) + "\\UNINSTAL.EXE";
    std::string app = App;

    // Custom: the files page, then Cancel.
    std::vector<std::string> lines;
    ChildRun custom = RunChild(
        exe, log,
        {OnPage(IDC_NEXT, IDC_PAGE_TITLE, "Select Uninstall Method", false,
                [](HWND dlg) {
                    Shot("1-welcome", dlg);
                    PostMessageA(GetDlgItem(dlg, IDC_CHOICE2), BM_CLICK, 0, 0);
                }),
         OnPage(IDC_CANCEL, IDC_PAGE_TITLE, "Select Private Files", true,
                [&lines](HWND dlg) {
                    lines = ChildListLines(dlg, IDC_LIST);
                    SendMessageTimeoutA(GetDlgItem(dlg, IDC_LIST), LB_SETSEL, TRUE, 1,
                                        SMTO_ABORTIFHUNG, 2000, NULL);
                    Shot("2-custom-list", dlg);
                }),
         DialogAnswer("Uninstall", IDYES)},
        120000);
    EXPECT_FALSE(custom.timedOut);
    EXPECT_EQ(0, custom.unanswered);
    ASSERT_EQ(3u, custom.dialogs.size());
    EXPECT_NE(std::string::npos,
              custom.dialogs[0].text.find("Welcome to the Sample Orders uninstall program."));
    EXPECT_EQ((std::vector<std::string>{app + "\\ORDERS.EXE", app + "\\README.TXT",
                                        app + "\\Data\\orders.dat"}),
              lines);
    ASSERT_TRUE(PathExists(exe)) << "a cancelled run undoes nothing";

    // Automatic: the rollback page (answered No), Finish, then the progress page.
    DeleteFileA(StatusFile);
    std::string upper;
    bool navigation = true;
    std::vector<DialogAnswer> answers = {
        OnPage(IDC_NEXT, IDC_PAGE_TITLE, "Select Uninstall Method", false),
        OnPage(IDC_NEXT, IDC_PAGE_TITLE, "Perform Rollback", true,
               [](HWND dlg) { Shot("3-rollback", dlg); }),
        OnPage(IDC_NEXT, IDC_PAGE_TITLE, "Perform Uninstall", true,
               [](HWND dlg) { Shot("4-final", dlg); }),
        OnPage(0, IDC_LOWER_TEXT, "KvSampleSvc3", true, [&](HWND dlg) {
            upper = ControlText(dlg, IDC_UPPER_TEXT);
            navigation = IsWindowEnabled(GetDlgItem(dlg, IDC_NEXT)) ||
                         IsWindowEnabled(GetDlgItem(dlg, IDC_BACK));
            Shot("5-progress", dlg);
        })};
    ChildRun automatic = RunChild(exe, log, answers, 120000);
    EXPECT_FALSE(automatic.timedOut);
    EXPECT_EQ(0u, automatic.exitCode);
    EXPECT_EQ(0, automatic.unanswered);
    ASSERT_EQ(answers.size(), automatic.dialogs.size());
    EXPECT_NE(std::string::npos, automatic.dialogs[1].text.find("Do you want to perform a rollback?"));
    EXPECT_EQ(0u, upper.find("Performing uninstall of the Sample Orders..."));
    EXPECT_FALSE(navigation) << "Next and Back stay disabled during the run";
    // The files the installation brought and their folder are gone; the read-me
    // it replaced (it has a backup) stays without a selection.
    EXPECT_FALSE(PathExists(app + "\\ORDERS.EXE"));
    EXPECT_FALSE(PathExists(app + "\\Data\\orders.dat"));
    EXPECT_FALSE(PathExists(app + "\\Data"));
    EXPECT_TRUE(PathExists(app + "\\README.TXT"));
    std::string status = ReadFileBytes(StatusFile);
    EXPECT_NE(std::string::npos, status.find("\"Success\"")) << status;
    DeleteFileA(StatusFile);
    RemoveTreeForTest(App);
}

TEST(WizardPages, CancelInTheWizardUndoesNothingAndReportsFailure)
{
    std::string log = MakeSample();
    DeleteFileA(StatusFile);
    std::string exe = std::string(App) + "\\UNINSTAL.EXE";
    ChildRun run = RunChild(exe, log,
                            {OnPage(IDC_NEXT, IDC_PAGE_TITLE, "Select Uninstall Method", false),
                             OnPage(IDC_CANCEL, IDC_PAGE_TITLE, "Perform Rollback", true),
                             DialogAnswer("Uninstall", IDYES)},
                            60000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0, run.unanswered);
    std::string status = ReadFileBytes(StatusFile);
    EXPECT_NE(std::string::npos, status.find("\"Failed\"")) << status;
    EXPECT_NE(std::string::npos, status.find("\"Canceled by user\"")) << status;
    EXPECT_TRUE(PathExists(std::string(App) + "\\ORDERS.EXE"));
    EXPECT_TRUE(PathExists(log));
    DeleteFileA(StatusFile);
    RemoveTreeForTest(App);
}

TEST(WizardPages, CancelDuringTheRunStopsItAndReportsFailure)
{
    std::string log = MakeSample();
    DeleteFileA(StatusFile);
    std::string exe = std::string(App) + "\\UNINSTAL.EXE";
    std::string seenUpper;
    ChildRun run = RunChild(
        exe, log,
        {OnPage(IDC_NEXT, IDC_PAGE_TITLE, "Select Uninstall Method", false),
         OnPage(IDC_NEXT, IDC_PAGE_TITLE, "Perform Rollback", true),
         OnPage(IDC_NEXT, IDC_PAGE_TITLE, "Perform Uninstall", true),
         // The first service's wait (3.5 s) leaves time for the click.
         OnPage(IDC_CANCEL, IDC_LOWER_TEXT, "KvSampleSvc1", true,
                [&seenUpper](HWND dlg) { seenUpper = ControlText(dlg, IDC_UPPER_TEXT); }),
         DialogAnswer("Uninstall", IDYES)},
        60000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(0u, run.exitCode);
    EXPECT_EQ(0, run.unanswered);
    EXPECT_EQ(0u, seenUpper.find("Performing uninstall of the Sample Orders..."));
    std::string status = ReadFileBytes(StatusFile);
    EXPECT_NE(std::string::npos, status.find("\"Failed\"")) << status;
    EXPECT_NE(std::string::npos, status.find("\"Canceled by user\"")) << status;
    // Stopped among the services: no file was removed, the log stays.
    EXPECT_TRUE(PathExists(std::string(App) + "\\ORDERS.EXE"));
    EXPECT_TRUE(PathExists(std::string(App) + "\\Data\\orders.dat"));
    EXPECT_TRUE(PathExists(log));
    DeleteFileA(StatusFile);
    RemoveTreeForTest(App);
}

// The suite runs this program again as Windows 95, 98 and NT 4.0 (KV_WINVER):
// the version must really be the one Wine was asked for.
TEST(WizardPages, RunsOnTheWindowsVersionAskedFor)
{
    OSVERSIONINFOA v = {};
    v.dwOSVersionInfoSize = sizeof v;
    ASSERT_TRUE(GetVersionExA(&v));
    const char *want = getenv("KV_WINVER");
    std::string ver = want ? want : "";
    if (ver == "win95") {
        EXPECT_EQ((DWORD)VER_PLATFORM_WIN32_WINDOWS, v.dwPlatformId);
        EXPECT_EQ(4u, v.dwMajorVersion);
        EXPECT_EQ(0u, v.dwMinorVersion);
    } else if (ver == "win98") {
        EXPECT_EQ((DWORD)VER_PLATFORM_WIN32_WINDOWS, v.dwPlatformId);
        EXPECT_EQ(4u, v.dwMajorVersion);
        EXPECT_EQ(10u, v.dwMinorVersion);
    } else if (ver == "nt40") {
        EXPECT_EQ((DWORD)VER_PLATFORM_WIN32_NT, v.dwPlatformId);
        EXPECT_EQ(4u, v.dwMajorVersion);
        EXPECT_EQ(0u, v.dwMinorVersion);
    } else {
        EXPECT_EQ("", ver) << "a version this test does not know";
        EXPECT_EQ((DWORD)VER_PLATFORM_WIN32_NT, v.dwPlatformId);
        EXPECT_GE(v.dwMajorVersion, 5u);
    }
}

class WizardTour : public WizardTest {
protected:
    void TearDown() override
    {
        WizardTest::TearDown();
        DeleteBackgroundObjects();
        WindowTitle[0] = 0;
    }
};

// The pages as the program shows them, over the background window.
TEST_F(WizardTour, InProcess)
{
    std::string app = App;
    CopyText(ProductTitle, sizeof ProductTitle, "Sample Orders");
    CopyText(WindowTitle, sizeof WindowTitle, Caption);
    ReadBackgroundSettings();
    PrepareBackground();
    ASSERT_TRUE(RegisterMainClass(GetModuleHandleA(NULL)));
    ASSERT_EQ(1, CreateMainWindow(GetModuleHandleA(NULL), SW_SHOWNORMAL));
    owner = MainWindow;
    EnableWindow(MainWindow, FALSE);
    WizardBitmap = LoadBitmapA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDB_WIZARD));
    AddFile(AppFileList, (app + "\\ORDERS.EXE").c_str());
    AddFile(AppFileList, (app + "\\README.TXT").c_str());
    AddFile(AppFileList, (app + "\\Data\\orders.dat").c_str());
    for (const char *name : {"KvSampleSvc1", "KvSampleSvc2", "KvSampleSvc3"})
        AddService(name);
    HaveBackups = 1;
    Open();
    PumpFor(100);
    Shot("1-welcome", dlg);

    SendDlgItemMessageA(dlg, IDC_CHOICE2, BM_CLICK, 0, 0);
    Click(IDC_NEXT);
    ASSERT_EQ(1, (int)WizardPage);
    SetLineSelected(1, true);
    PumpFor(50);
    Shot("2-custom-list", dlg);

    Click(IDC_BACK);
    SendDlgItemMessageA(dlg, IDC_CHOICE1, BM_CLICK, 0, 0);
    Click(IDC_NEXT);
    ASSERT_EQ(PAGE_ROLLBACK, (int)WizardPage);
    PumpFor(50);
    Shot("3-rollback", dlg);

    Click(IDC_NEXT);
    ASSERT_EQ(PAGE_FINAL, (int)WizardPage);
    PumpFor(50);
    Shot("4-final", dlg);
    Click(IDC_NEXT);
    ASSERT_EQ(1, FinishPressed);

    // What the uninstall driver shows at its third service of eight entries.
    char format[1024], text[1024];
    LoadMessage(45, format, sizeof format);
    FormatOneString(text, sizeof text, format, ProductTitle);
    SetDlgItemTextA(dlg, IDC_UPPER_TEXT, text);
    EnableWindow(GetDlgItem(dlg, IDC_NEXT), FALSE);
    EnableWindow(GetDlgItem(dlg, IDC_BACK), FALSE);
    ProgressStarted = 1;
    ProgressTotal = 8;
    ProgressDone = 3;
    SetDlgItemTextA(dlg, IDC_LOWER_TEXT, "\r\n\r\nDeleting Service:\r\nKvSampleSvc3");
    InvalidateRect(dlg, NULL, TRUE);
    PumpFor(100);
    Shot("5-progress", dlg);
    EXPECT_TRUE(IsWindowVisible(dlg));
    DeleteObject(WizardBitmap);
    WizardBitmap = NULL;
}

} // namespace
