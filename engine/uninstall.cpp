#include "uninstall.h"
#include "dbengine.h"
#include "files.h"
#include "inifiles.h"
#include "progman.h"
#include "registry.h"
#include "services.h"
#include "../app/paths.h"
#include "../app/text.h"
#include "../log/inventory.h"
#include "../resources/resource.h"
#include "../ui/messages.h"
#include "../ui/progress.h"
#include <string.h>

enum { PREFIX_CAP = 64, KEY_SHOWN_LIMIT = 48, KEY_SHOWN_CUT = 45, SERVICE_WAIT_MS = 3500 };

// The progress prefixes, by message number, loaded once per run.
enum {
    P_FILE, P_SYSFILE, P_TREE, P_EMPTYDIRS, P_NEWINI, P_INI, P_REGKEY, P_REGVALUE,
    P_ICON, P_SELFREG, P_SUBSYSTEM, P_REGTREE, P_PROGRAM, P_SERVICE, PREFIX_COUNT
};
static const int PrefixMessage[PREFIX_COUNT] = {29, 30, 31, 32, 33, 34, 35, 36, 37, 40, 44, 56, 57, 58};
static char Prefix[PREFIX_COUNT][PREFIX_CAP];

static unsigned short Threshold;

static int InScope(unsigned short installNo)
{
    return installNo >= Threshold;
}

// The general taking rule.
static int Taken(int selected, unsigned short installNo)
{
    return (UninstallMethod == METHOD_AUTOMATIC || selected) && InScope(installNo);
}

static void ShowText(int prefix, const char *text)
{
    CopyText(DialogText, sizeof DialogText, Prefix[prefix]);
    AppendText(DialogText, sizeof DialogText, text);
    ShowProgress(DialogText);
}

// A registry key is shown whole up to 48 characters, else its first 45 and "...".
static void ShowKey(int prefix, const char *key)
{
    CopyText(DialogText, sizeof DialogText, Prefix[prefix]);
    if (strlen(key) > KEY_SHOWN_LIMIT) {
        size_t used = strlen(DialogText);
        CopyTextN(DialogText + used, sizeof DialogText - used, key, KEY_SHOWN_CUT);
        AppendText(DialogText, sizeof DialogText, "...");
    } else {
        AppendText(DialogText, sizeof DialogText, key);
    }
    ShowProgress(DialogText);
}

static void PrepareProgressPage(void)
{
    if (WizardWindow) {
        char format[DIALOG_TEXT_CAP], text[DIALOG_TEXT_CAP];
        LoadMessage(45, format, sizeof format);
        FormatOneString(text, sizeof text, format, ProductTitle);
        SetDlgItemTextA(WizardWindow, IDC_UPPER_TEXT, text);
        EnableWindow(GetDlgItem(WizardWindow, IDC_NEXT), FALSE);
        EnableWindow(GetDlgItem(WizardWindow, IDC_BACK), FALSE);
        if (Ctl3dActive)
            ShowWindow(GetDlgItem(WizardWindow, IDC_BAR_FRAME), SW_SHOW);
    }
    ProgressStarted = 1;
}

static void RunExternalProgram(ProgramEntry *p)
{
    if (strchr(p->CommandLine, '\\'))
        NormalizePath(p->CommandLine, sizeof p->CommandLine, 0);
    ShowText(P_PROGRAM, p->Name[0] ? p->Name : p->CommandLine);
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process;
    // CreateProcessA may write into the command line: give it a copy.
    char command[INV_PATH_CAP];
    CopyText(command, sizeof command, p->CommandLine);
    if (CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        // The uninstall goes on only after the program has done its work.
        WaitForSingleObject(process.hProcess, INFINITE);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

static void RunPrograms(void)
{
    for (int i = 0; i < ProgramList.Count && !Cancelled; i++) {
        ProgramEntry *p = ENTRY_AT(ProgramEntry, ProgramList, i);
        if (Taken(p->Selected, p->InstallNo))
            RunExternalProgram(p);
    }
}

static void DeleteServices(void)
{
    for (int i = 0; i < ServiceList.Count && !Cancelled; i++) {
        ServiceEntry *s = ENTRY_AT(ServiceEntry, ServiceList, i);
        if (Taken(s->Selected, s->InstallNo)) {
            ShowText(P_SERVICE, s->Name);
            DeleteServiceByName(s->Name);
            PumpMessages(SERVICE_WAIT_MS);
        }
        ProgressDone++;
    }
}

static void RemoveNewIniFiles(void)
{
    for (int i = 0; i < NewIniList.Count && !Cancelled; i++) {
        NewIniEntry *e = ENTRY_AT(NewIniEntry, NewIniList, i);
        if (Taken(e->Selected, e->InstallNo)) {
            ShowText(P_NEWINI, e->Path);
            RemoveIniFile(e);
        }
        ProgressDone++;
    }
}

static void RestoreIniItems(void)
{
    for (int i = 0; i < IniEntryList.Count && !Cancelled; i++) {
        IniEntry *e = ENTRY_AT(IniEntry, IniEntryList, i);
        if (Taken(e->Selected, e->InstallNo) && FileExists(e->File)) {
            ShowText(P_INI, e->File);
            RestoreIniItem(e);
        }
        ProgressDone++;
    }
}

// Sets the length of the log to offset bytes; never makes it longer.
static void CutLog(const char *logPath, long offset)
{
    HANDLE file = CreateFileA(logPath, GENERIC_WRITE | GENERIC_READ, 0, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD high = 0;
    DWORD size = GetFileSize(file, &high);
    if (offset > 0 && high == 0 && size != INVALID_FILE_SIZE && (DWORD)offset <= size &&
        SetFilePointer(file, offset, NULL, FILE_BEGIN) == (DWORD)offset)
        SetEndOfFile(file);
    CloseHandle(file);
}

static void HandleLog(const char *logPath)
{
    if (Rollback) {
        if (LastInstallOffset == 0)
            DeleteOneFile(logPath);
        else
            CutLog(logPath, LastInstallOffset);
    } else if (UninstallMethod == METHOD_AUTOMATIC && !Cancelled) {
        DeleteOneFile(logPath);
    }
}

static void RemoveDirectories(void)
{
    for (int i = 0; i < DirList.Count && !Cancelled; i++) {
        DirEntry *d = ENTRY_AT(DirEntry, DirList, i);
        if (Taken(d->Selected, d->MadeInstall)) {
            size_t len = strlen(d->Path);
            if (len && d->Path[len - 1] == '\\')
                d->Path[len - 1] = 0;
            int whole = UninstallMethod == METHOD_CUSTOM || InScope(d->TreeInstall);
            CopyText(DialogText, sizeof DialogText, Prefix[whole ? P_TREE : P_EMPTYDIRS]);
            AppendShortPath(DialogText, sizeof DialogText, d->Path);
            ShowProgress(DialogText);
            RemoveTree(d->Path, whole, whole && d->TreeInstall ? d->TreeInstall : d->MadeInstall);
        }
        ProgressDone++;
    }
}

static void RestoreRegistryValues(void)
{
    for (int i = 0; i < RegValueList.Count && !Cancelled; i++) {
        RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, i);
        if (Taken(e->Selected, e->InstallNo)) {
            ShowKey(P_REGVALUE, e->Key);
            RestoreRegistryValue(e);
        }
        ProgressDone++;
    }
}

static void RemoveRegistryValues(void)
{
    for (int i = RegKeyList.Count - 1; i >= 0 && !Cancelled; i--) {
        RegKeyEntry *e = ENTRY_AT(RegKeyEntry, RegKeyList, i);
        if (Taken(e->Selected, e->InstallNo)) {
            ShowKey(P_REGKEY, e->Key);
            RemoveRegistryValue(e);
        }
        ProgressDone++;
    }
}

static void DeleteRegistryTrees(void)
{
    for (int i = RegTreeList.Count - 1; i >= 0 && !Cancelled; i--) {
        RegTreeEntry *e = ENTRY_AT(RegTreeEntry, RegTreeList, i);
        if (Taken(e->Selected, e->InstallNo)) {
            ShowKey(P_REGTREE, e->Key);
            DeleteRegistryTree(e->Key, e->Root);
        }
        ProgressDone++;
    }
}

static void RemoveIcons(void)
{
    int connected = 0;
    for (int i = 0; i < IconList.Count && !Cancelled; i++) {
        IconEntry *e = ENTRY_AT(IconEntry, IconList, i);
        int taken = (UninstallMethod == METHOD_AUTOMATIC || e->Selected) &&
                    (!Rollback || e->InstallNo == Threshold);
        if (taken) {
            if (!connected) {
                ConnectProgman();
                connected = 1;
            }
            ShowText(P_ICON, e->Name);
            RemoveProgmanItem(i);
        }
        ProgressDone++;
    }
    if (connected)
        CloseProgman();
}

void RunUninstall(const char *logPath)
{
    for (int i = 0; i < PREFIX_COUNT; i++)
        LoadMessage(PrefixMessage[i], Prefix[i], PREFIX_CAP);
    if (UninstallMethod == METHOD_CUSTOM)
        Rollback = 0;
    // Installation numbers start at 1; 0 marks "never" in the file entries.
    Threshold = Rollback && InstallCount > 1 ? InstallCount : 1;

    ProgressDone = 0;
    ProgressTotal = ServiceList.Count + IniEntryList.Count + NewIniList.Count + IconList.Count +
                    DirList.Count + RegValueList.Count + RegTreeList.Count + SysFileList.Count +
                    RegKeyList.Count + AppFileList.Count;
    if (ProgressTotal == 0)
        ProgressTotal = 1;
    PrepareProgressPage();

    RunPrograms();
    DeleteServices();
    if (SubSystemName && (UninstallMethod == METHOD_AUTOMATIC || SubSystemSelected)) {
        ShowText(P_SUBSYSTEM, SubSystemName);
        if (RemoveDatabaseEngine() == DB_ABORT)
            return;
    }
    RemoveNewIniFiles();
    RestoreIniItems();
    RestoreEditedFiles(Threshold);
    ReleaseAppFiles(Threshold, Prefix[P_SELFREG]);
    ReleaseSystemFiles(Threshold, Prefix[P_SELFREG]);
    RemoveInstalledFiles(0, Threshold, Prefix[P_FILE]);
    RemoveInstalledFiles(1, Threshold, Prefix[P_SYSFILE]);
    ReregisterRestoredFiles(Threshold, Prefix[P_SELFREG]);
    HandleLog(logPath);
    RemoveDirectories();
    RestoreRegistryValues();
    RemoveRegistryValues();
    DeleteRegistryTrees();
    if (Cancelled)
        return;     // a cancelled run never opens the Program Manager conversation
    RemoveIcons();
}
