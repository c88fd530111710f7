// Start-up and run flow (see runflow.h).
#include "runflow.h"
#include "background.h"
#include "../base/oscalls.h"
#include "../base/paths.h"
#include "../machine/pending.h"
#include "../machine/runend.h"
#include "relocate.h"
#include "../base/rows.h"
#include "../base/state.h"
#include "../base/text.h"
#include "../engine/files.h"
#include "../engine/progman.h"
#include "../engine/undo.h"
#include "../engine/uninstall.h"
#include "../log/inventory.h"
#include "../log/logread.h"
#include "../report/mif.h"
#include "../report/report.h"
#include "../resources/resource.h"
#include "../ui/messages.h"
#include "../ui/wizard.h"
#include <commdlg.h>
#include <stdlib.h>
#include <string.h>

// Resources locked at start and released at the end of the run.
static HGLOBAL WizardTemplate, SharedTemplate, WizardBitmapData;
static HMODULE Ctl3dLibrary;

void DetectPlatform(void)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;   // 148
    GetVersionExA(&info);
    PlatformKind = info.dwPlatformId == VER_PLATFORM_WIN32_NT ? PLATFORM_NT : PLATFORM_OTHER;
    Version4OrLater = info.dwMajorVersion >= 4;
}

void FindProgramPaths(void)
{
    char own[PATH_CAP];
    DWORD n = GetModuleFileNameA(NULL, own, sizeof own);
    if (n == 0 || n >= sizeof own) {
        // A path that does not fit is not cut into another path.
        ProgramPath[0] = SettingsPath[0] = 0;
        return;
    }
    CopyText(ProgramPath, sizeof ProgramPath, own);
    NormalizePath(ProgramPath, sizeof ProgramPath, 1);
    CopyText(SettingsPath, sizeof SettingsPath, own);
    size_t len = strlen(SettingsPath);
    if (len >= 3)
        memcpy(SettingsPath + len - 3, "INI", 3);
}

void ChooseDefaultLog(char *text, size_t cap)
{
    if (text[0] || !SettingsPath[0])
        return;
    char path[PATH_CAP];
    CopyText(path, sizeof path, SettingsPath);
    NormalizePath(path, sizeof path, 0);
    *FileNamePart(path) = 0;
    if (AppendText(path, sizeof path, "INSTALL.LOG") != TEXT_FIT)
        return;
    if (FileExists(path))
        CopyText(text, cap, path);
}

static const char *SkipBlanks(const char *p)
{
    while (*p == ' ')
        p++;
    return p;
}

void ParseOptions(const char *text, char *rest, size_t restCap)
{
    const char *p = text;
    while (*p == '/') {
        char letter = p[1];
        char upper = (letter >= 'a' && letter <= 'z') ? (char)(letter - 'a' + 'A') : letter;
        if (upper == 'A') {
            Automatic = 1;
        } else if (upper == 'S') {
            Silent = 1;
            Automatic = 1;
        } else if (upper == 'R') {
            Rollback = 1;
        } else if (upper == 'N') {
            Preview = 1;
            ReportWanted = 1;   // a preview always writes its report
        } else if (upper == 'V') {
            ReportWanted = 1;
        } else if (upper == 'E') {
            ExitCodeWanted = 1;
        } else if (upper == 'K') {
            KeepRecovery = 1;
        } else if (upper == 'U') {
            UndoWanted = 1;     // the rest names the store, or is empty
        } else if (upper == 'Z') {
            if (letter == 'z')
                CleanupMode = 1;
        } else {
            break;      // not an option: the text from this "/" on is the log path
        }
        p = SkipBlanks(p + 2);
    }
    p = SkipBlanks(p);
    if (UndoWanted && !CleanupMode) {
        // A store is named by its folder, whose product part may hold
        // blanks (the report shows it so): the whole rest, one pair of
        // quotes around it dropped.
        size_t len = strlen(p);
        if (len >= 2 && p[0] == '"' && p[len - 1] == '"')
            CopyTextN(rest, restCap, p + 1, len - 2);
        else
            CopyText(rest, restCap, p);
        return;
    }
    const char *blank = strchr(p, ' ');
    if (!blank || CleanupMode) {
        CopyText(rest, restCap, p);
        return;
    }
    CopyTextN(rest, restCap, p, (size_t)(blank - p));
    const char *title = blank + 1;
    if (*title == '"')
        title++;
    CopyText(WindowTitle, sizeof WindowTitle, title);
    size_t len = strlen(WindowTitle);
    if (len && WindowTitle[len - 1] == '"')
        WindowTitle[len - 1] = 0;
}

// What the options decide for the start: rows for a report or an exit
// code, and the temporary copy. Without a copy of its own (or with "/Z")
// the run ends in place; a preview makes no copy but plans as the real run
// would: with a copy unless "/Z" comes first.
static void ApplyOptions(void)
{
    if (SettingsPath[0] && GetPrivateProfileIntA("Settings", "Keep Recovery", 0, SettingsPath) == 1)
        KeepRecovery = 1;
    RowsWanted = ReportWanted || ExitCodeWanted;
    int inPlace = TextEqualNoCaseN(CommandText, "/Z", 2);
    if (Preview)
        InPlace = inPlace;
    else if (!inPlace)
        MakeTempCopy();
}

static HGLOBAL LockResourceById(int id, LPCSTR type)
{
    HRSRC info = FindResourceA(ProgramInstance, MAKEINTRESOURCEA(id), type);
    HGLOBAL data = info ? LoadResource(ProgramInstance, info) : NULL;
    if (data)
        LockResource(data);
    return data;
}

static void LoadCtl3d(void)
{
    // Only the System directory's copy: the search order would also take one
    // planted beside the program or in the current directory.
    char path[MAX_PATH + 16];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH || AppendText(path, sizeof path, "\\CTL3D32.DLL") != TEXT_FIT)
        return;
    Ctl3dLibrary = LoadLibraryA(path);
    if (!Ctl3dLibrary)
        return;
    Ctl3dRegisterFn = (Ctl3dProc)(void *)GetProcAddress(Ctl3dLibrary, "Ctl3dRegister");
    Ctl3dUnregisterFn = (Ctl3dProc)(void *)GetProcAddress(Ctl3dLibrary, "Ctl3dUnregister");
    Ctl3dAutoSubclassFn = (Ctl3dProc)(void *)GetProcAddress(Ctl3dLibrary, "Ctl3dAutoSubclass");
    Ctl3dSubclassDlgExFn = (Ctl3dDlgProc)(void *)GetProcAddress(Ctl3dLibrary, "Ctl3dSubclassDlgEx");
    if (Ctl3dRegisterFn) {
        if (Ctl3dRegisterFn(ProgramInstance)) {
            Ctl3dActive = 1;
            if (!Version4OrLater && Ctl3dAutoSubclassFn)
                Ctl3dAutoSubclassFn(ProgramInstance);
        }
    }
}

void AskForLog(void)
{
    char description[PATH_CAP];
    LoadMessage(1, description, sizeof description);
    // description NUL pattern NUL NUL
    char filter[PATH_CAP + 32];
    size_t d = strlen(description);
    memcpy(filter, description, d + 1);
    memcpy(filter + d + 1, "install.log\0", 13);
    char file[PATH_CAP] = "INSTALL.LOG";
    OPENFILENAMEA ofn = {};
    // The size of Windows 95, 98 and NT 4.0, whose dialog refuses any other;
    // later systems take it too and at most leave out the places bar.
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = MainWindow;
    ofn.lpstrFilter = filter;
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file;
    ofn.nMaxFile = sizeof file;
    ofn.Flags = OFN_FILEMUSTEXIST;
    if (Os.GetOpenFileNameA(&ofn))
        CopyText(LogPath, sizeof LogPath, file);
    else
        LogPath[0] = 0;
}

// Waits for Finish or Cancel in the wizard. Blocks between messages instead
// of polling, and ends as soon as either flag is set.
static void WaitForWizard(void)
{
    MSG msg;
    while (!Cancelled && !FinishPressed) {
        if (!WizardWindow || !IsWindow(WizardWindow)) {
            Cancelled = 1;      // nobody left to press Finish: never undo unasked
            break;
        }
        if (!PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            WaitMessage();
            continue;
        }
        if (!IsDialogMessageA(WizardWindow, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
}

// Destroys the main window and runs its last message loop.
static int EndMainWindow(void)
{
    int code = 0;
    if (MainWindow && IsWindow(MainWindow)) {
        DestroyWindow(MainWindow);
        MSG msg;
        while (GetMessageA(&msg, NULL, 0, 0) > 0) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (msg.message == WM_QUIT)
            code = (int)msg.wParam;
    }
    MainWindow = NULL;
    return code;
}

static void ReleaseStartResources(void)
{
    if (WizardBitmap)
        DeleteObject(WizardBitmap);
    WizardBitmap = NULL;
    if (WizardTemplate)
        FreeResource(WizardTemplate);
    if (SharedTemplate)
        FreeResource(SharedTemplate);
    if (WizardBitmapData)
        FreeResource(WizardBitmapData);
    WizardTemplate = SharedTemplate = WizardBitmapData = NULL;
}

// Set when the text after the options was longer than a path can be: it
// is then not used at all, since a cut path names another file.
static int CommandTooLong;

// How the run ended, for the report and the exit code.
static RunEnd End;
static int ExitCode;

// Whether this account may change services: the check that a log made by
// an administrator's installation asks for on NT.
static int HasServiceRights(void)
{
    SC_HANDLE manager = Os.OpenSCManagerA(NULL, NULL, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    if (!manager)
        return 0;
    CloseServiceHandle(manager);
    return 1;
}

int LoadInstallLog(const char *logPath, char *installRootDir)
{
    int read = ReadInstallLog(logPath, installRootDir);
    if (read != READ_DONE) {
        ShowMessage(MainWindow, 2, read == READ_INVALID ? 4 : 3, MB_OK);
        return 1;
    }
    if (!WindowTitle[0] && MainWindow) {
        char word[PATH_CAP], caption[2 * PATH_CAP];
        LoadMessage(25, word, sizeof word);
        FormatText(caption, sizeof caption, "%s %s", word, ProductTitle);
        SetWindowTextA(MainWindow, caption);
    }
    if (LogWantsAdmin && PlatformKind == PLATFORM_NT && !HasServiceRights()) {
        // Nothing of a log this account may not undo is kept to act on.
        FreeInventory();
        CreateInventory();
        ShowMessage(MainWindow, 25, 67, MB_OK);
        return 1;
    }
    return 0;
}

static void NormalRun(void)
{
    SetErrorMode(SEM_NOOPENFILEERRORBOX);
    LoadCtl3d();
    if (CommandTooLong) {
        ShowMessage(MainWindow, 2, 3, MB_OK);
        LogPath[0] = 0;
    } else if (UndoWanted || CommandText[0]) {
        // An undo's text names its store, or nothing (the latest).
        CopyText(LogPath, sizeof LogPath, CommandText);
    } else {
        AskForLog();
    }

    int logRead = 0;
    if (UndoWanted) {
        // A store named too long for a path is not guessed at.
        logRead = !CommandTooLong && RunUndo(LogPath) != UNDO_NO_STORE;
    } else if (CreateInventory() == 0 && LogPath[0]) {
        HCURSOR previous = SetCursor(LoadCursorA(NULL, (LPCSTR)IDC_WAIT));
        int failed = LoadInstallLog(LogPath, InstallRootDir);
        SetCursor(previous);
        if (!failed) {
            logRead = 1;
            if (Automatic) {
                UninstallMethod = METHOD_AUTOMATIC;
                WizardPage = PAGE_FINAL;
            }
            if (!Silent) {
                EnableWindow(MainWindow, FALSE);
                WizardWindow = CreateWizard();
                // An automatic run goes on without a wizard; an interactive
                // one without a wizard cannot be finished (WaitForWizard).
                if (!Automatic)
                    WaitForWizard();
            }
            if (!Cancelled) {
                char root[4] = "\\";
                SetCurrentDirectoryA(root);
                // What the run takes away is kept first; without a store
                // nothing is changed.
                if (KeepRecovery && OpenRecoveryStore(ProductTitle) != 0) {
                    AddRow("STORE", 0, ProductTitle, "KEEP", OUT_FAILED, "NO-STORE", NULL);
                    WorkLeft = 1;
                } else {
                    RunUninstall(LogPath);
                }
                CloseRecoveryStore();
                BroadcastSettingsChange();
            }
            if (RestartNeeded && !Silent && ShowMessage(WizardWindow, 25, 68, MB_OKCANCEL) == IDCANCEL)
                RestartNeeded = 0;
            if (!Silent && WizardWindow)
                DestroyWindow(WizardWindow);
            WizardWindow = NULL;
        }
    }
    if (logRead)
        WriteStatusFile();
    End.LogRead = logRead;
    // No log chosen counts as cancelled by the user.
    End.Cancelled = Cancelled || DatabaseAborted || (!UndoWanted && !LogPath[0] && !CommandTooLong);
    // On NT the restart goes through its program, started only when it is
    // there whole: without it (a full disk) the machine is not restarted and
    // the result says a restart is still needed. A preview stages nothing.
    End.RestartStarted = RestartNeeded && (PlatformKind != PLATFORM_NT || WriteRestartProgram());
    if (ReportWanted)
        WriteReport(&End);
    ExitCode = ResultExitCode(&End);
}

static void Teardown(void)
{
    EndMainWindow();
    if (Ctl3dUnregisterFn)
        Ctl3dUnregisterFn(ProgramInstance);
    if (Ctl3dLibrary)
        FreeLibrary(Ctl3dLibrary);
    Ctl3dLibrary = NULL;
    FreeProgmanText();
    for (int i = 0; i < GROUP_SLOTS; i++) {
        free(GroupNames[i]);
        GroupNames[i] = NULL;
    }
    FreeInventory();
    FreeRows();
    ReleaseStartResources();
    if (DialogFont)
        DeleteObject(DialogFont);
    DialogFont = NULL;
    if (TitleFont) {
        DeleteObject(TitleFont);
        TitleFont = NULL;
    }
    // A preview leaves the program where it is, with nothing staged: the
    // seam's calls change nothing then.
    RemoveSelf();
    ForgetPlannedGone();
    if (BackgroundPalette) {
        DeleteObject(BackgroundPalette);
        BackgroundPalette = NULL;
    }
    if (RestartNeeded)
        RestartSystem();
}

int RunProgram(HINSTANCE instance, const char *commandLine)
{
    ProgramInstance = instance;
    DetectPlatform();
    FindProgramPaths();
    InPlace = 1;
    // The whole command line is parsed; CommandText keeps what fits for the
    // checks of the start-up, and a log path or clean-up text that does not
    // fit is refused rather than cut.
    static char fullText[4 * PATH_CAP];
    CommandTooLong = CopyText(fullText, sizeof fullText, SkipBlanks(commandLine ? commandLine : "")) != TEXT_FIT;
    CopyText(CommandText, sizeof CommandText, fullText);
    ChooseDefaultLog(CommandText, sizeof CommandText);
    if (!fullText[0])
        CopyText(fullText, sizeof fullText, CommandText);
    // The options are known before the copy is made: a preview makes none.
    static char rest[4 * PATH_CAP];
    ParseOptions(fullText, rest, sizeof rest);
    ApplyOptions();
    WizardTemplate = LockResourceById(IDD_WIZARD, RT_DIALOG);
    SharedTemplate = LockResourceById(IDD_SHARED, RT_DIALOG);
    WizardBitmapData = LockResourceById(IDB_WIZARD, RT_BITMAP);
    WizardBitmap = LoadBitmapA(ProgramInstance, MAKEINTRESOURCEA(IDB_WIZARD));

    if (CopyText(CommandText, sizeof CommandText, rest) != TEXT_FIT)
        CommandTooLong = 1;
    if (CommandTooLong)
        CommandText[0] = 0;

    ReadBackgroundSettings();
    PrepareBackground();
    if (!RegisterMainClass(instance) || !CreateMainWindow(instance, SW_SHOWNORMAL))
        return 0;

    if (CleanupMode && (CommandText[0] || CommandTooLong)) {
        if (!CommandTooLong)
            RunCleanup(CommandText);
        EndMainWindow();
        ReleaseStartResources();
        DeleteBackgroundObjects();
        return 0;
    }
    NormalRun();
    Teardown();
    // Without /E the exit code is always 0.
    return ExitCodeWanted ? ExitCode : 0;
}
