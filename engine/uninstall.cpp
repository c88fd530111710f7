// The uninstall's phases in their order: each entry is taken or skipped
// here, and what changes the machine is asked of machine/.
#include "uninstall.h"
#include "dbengine.h"
#include "files.h"
#include "inifiles.h"
#include "progman.h"
#include "registry.h"
#include "services.h"
#include "../base/oscalls.h"
#include "../base/paths.h"
#include "../base/rows.h"
#include "../base/text.h"
#include "../machine/logfile.h"
#include "../machine/wholefile.h"
#include "../log/inventory.h"
#include "../resources/resource.h"
#include "../ui/messages.h"
#include "../ui/progress.h"
#include <stdlib.h>
#include <string.h>

enum { PREFIX_CAP = 64, KEY_SHOWN_LIMIT = 48, KEY_SHOWN_CUT = 45, SERVICE_WAIT_MS = 3500 };

// The progress prefixes, by message number, loaded once per run.
enum {
    P_FILE, P_SYSFILE, P_TREE, P_EMPTYDIRS, P_NEWINI, P_INI, P_REGKEY, P_REGVALUE,
    P_ICON, P_SELFREG, P_SUBSYSTEM, P_REGTREE, P_PROGRAM, P_SERVICE, PREFIX_COUNT
};
static const int PrefixMessage[PREFIX_COUNT] = {29, 30, 31, 32, 33, 34, 35, 36, 37, 40, 44, 56, 57, 58};
static char Prefix[PREFIX_COUNT][PREFIX_CAP];

int DatabaseAborted;
static unsigned short Threshold;
static char LogLongPath[INV_PATH_CAP];     // the log, long form, as the run began

static int InScope(unsigned short installNo)
{
    return installNo >= Threshold;
}

// The general taking rule.
static int Taken(int selected, unsigned short installNo)
{
    return (UninstallMethod == METHOD_AUTOMATIC || selected) && InScope(installNo);
}

// Whether an entry is taken; one that is not gets its report row here.
static int TakeOrSkip(const char *kind, int selected, unsigned short installNo, const char *target,
                      const char *detail = NULL)
{
    const char *reason = Cancelled ? "CANCELLED" : !InScope(installNo) ? "OUT-OF-SCOPE"
                                                 : Taken(selected, installNo) ? NULL : "NOT-SELECTED";
    if (reason)
        AddRow(kind, installNo, target, ACT_NONE, OUT_SKIPPED, reason, detail);
    return reason == NULL;
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

// Whether the prefix names an existing file, as it stands (exact) or, when
// its name has no extension, with ".EXE" added, as the system would try it.
static int NamesProgram(const char *prefix, int *exact)
{
    DWORD attrs = GetFileAttributesA(prefix);
    if (attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY)) {
        *exact = 1;
        return 1;
    }
    *exact = 0;
    if (strchr(FileNamePart(prefix), '.'))
        return 0;
    char withExe[INV_PATH_CAP + 8];
    if (CopyText(withExe, sizeof withExe, prefix) != TEXT_FIT ||
        AppendText(withExe, sizeof withExe, ".EXE") != TEXT_FIT)
        return 0;
    attrs = GetFileAttributesA(withExe);
    return attrs != INVALID_FILE_ATTRIBUTES && !(attrs & FILE_ATTRIBUTE_DIRECTORY);
}

int QuoteCommandLine(const char *command, char *out, size_t cap)
{
    if (command[0] == '"')
        return CopyText(out, cap, command);
    // The longest leading part, up to a blank or the end, that names an
    // existing file; a part found as it stands wins over one found with
    // ".EXE" added. Blanks inside it must not let the system start the
    // program named by its first word (C:\Program.exe for C:\Program Files\...).
    size_t best = 0;
    int bestExact = 0;
    for (size_t end = 1; command[end - 1]; end++) {
        if (command[end] != ' ' && command[end] != 0)
            continue;
        if (command[end - 1] == ' ' || command[end - 1] == '.' || end >= INV_PATH_CAP)
            continue;           // the system would drop a trailing blank or dot
        char prefix[INV_PATH_CAP];
        CopyTextN(prefix, sizeof prefix, command, end);
        int exact;
        if (NamesProgram(prefix, &exact) && (exact || !bestExact)) {
            best = end;
            bestExact = exact;
        }
    }
    if (!best)
        return CopyText(out, cap, command);     // a bare name the system searches for
    if (CopyText(out, cap, "\"") != TEXT_FIT)
        return TEXT_CUT;
    size_t used = strlen(out);
    if (CopyTextN(out + used, cap - used, command, best) != TEXT_FIT ||
        AppendText(out, cap, "\"") != TEXT_FIT)
        return TEXT_CUT;
    return AppendText(out, cap, command + best);
}

static void RunExternalProgram(ProgramEntry *p)
{
    if (strchr(p->CommandLine, '\\')) {
        char path[INV_PATH_CAP];
        CopyText(path, sizeof path, p->CommandLine);
        NormalizePath(path, sizeof path, 0);
        StoreText(&p->CommandLine, path, sizeof path);
    }
    ShowText(P_PROGRAM, p->Name[0] ? p->Name : p->CommandLine);
    // The program is started from a copy, with its path quoted; a command
    // that would not fit whole is not started.
    char command[INV_PATH_CAP + 2];
    if (QuoteCommandLine(p->CommandLine, command, sizeof command) != TEXT_FIT) {
        AddRow("PROGRAM", p->InstallNo, p->CommandLine, ACT_RUN, OUT_FAILED, "BAD-PATH", p->Name);
        return;
    }
    // Meanwhile the windows paint and Cancel can be pressed.
    RunProgram(command, p->CommandLine, p->Name, p->InstallNo, WaitForProcess);
}

static void RunPrograms(void)
{
    for (int i = 0; i < ProgramList.Count; i++) {
        ProgramEntry *p = ENTRY_AT(ProgramEntry, ProgramList, i);
        if (TakeOrSkip("PROGRAM", p->Selected, p->InstallNo, p->CommandLine, p->Name))
            RunExternalProgram(p);
    }
}

static void RemoveServices(void)
{
    for (int i = 0; i < ServiceList.Count; i++) {
        ServiceEntry *s = ENTRY_AT(ServiceEntry, ServiceList, i);
        if (TakeOrSkip("SERVICE", s->Selected, s->InstallNo, s->Name)) {
            ShowText(P_SERVICE, s->Name);
            RemoveService(s->Name, s->InstallNo);
            // A stopping service gets time before its files go; the pause is
            // also the user's moment to cancel before any file does.
            WaitForServiceStop(PumpMessages, SERVICE_WAIT_MS);
        }
        ProgressDone++;
    }
}

static void RemoveNewIniFiles(void)
{
    for (int i = 0; i < NewIniList.Count; i++) {
        NewIniEntry *e = ENTRY_AT(NewIniEntry, NewIniList, i);
        if (TakeOrSkip("INIFILE", e->Selected, e->InstallNo, e->Path)) {
            ShowText(P_NEWINI, e->Path);
            RemoveIniFile(e);
        }
        ProgressDone++;
    }
}

// The items of one INI file are written together, as one whole-file write,
// at the step of the file's first taken item; every item keeps its own step
// and its own row, in its place. An item written so before a cancel is
// reported as written.
static void RestoreIniItems(void)
{
    int count = IniEntryList.Count;
    IniOutcome *outcomes = count ? (IniOutcome *)calloc((size_t)count, sizeof *outcomes) : NULL;
    IniEntry **batch = outcomes ? (IniEntry **)malloc((size_t)count * sizeof *batch) : NULL;
    int *slots = batch ? (int *)malloc((size_t)count * sizeof *slots) : NULL;
    IniOutcome *batchOutcomes = slots ? (IniOutcome *)malloc((size_t)count * sizeof *batchOutcomes) : NULL;
    for (int i = 0; i < count; i++) {
        IniEntry *e = ENTRY_AT(IniEntry, IniEntryList, i);
        if (batchOutcomes && outcomes[i].State != INI_PENDING) {
            if (outcomes[i].State != INI_NO_FILE && !Cancelled)
                ShowText(P_INI, e->File);
            ReportIniItem(e, &outcomes[i]);
        } else if (TakeOrSkip("INI", e->Selected, e->InstallNo, e->File, e->Item)) {
            if (FileExists(e->File))
                ShowText(P_INI, e->File);
            if (!batchOutcomes) {
                RestoreIniItem(e);  // short of memory: item by item
            } else {
                // The later items of the file that this run takes; none once
                // the user has cancelled.
                int n = 0, end = Cancelled ? i + 1 : count;
                for (int j = i; j < end; j++) {
                    IniEntry *f = ENTRY_AT(IniEntry, IniEntryList, j);
                    if (j == i || (outcomes[j].State == INI_PENDING && TextEqualNoCase(f->File, e->File) &&
                                   Taken(f->Selected, f->InstallNo))) {
                        batch[n] = f;
                        slots[n++] = j;
                    }
                }
                RestoreIniItemsTogether(batch, n, batchOutcomes);
                for (int k = 0; k < n; k++)
                    outcomes[slots[k]] = batchOutcomes[k];
                ReportIniItem(e, &outcomes[i]);
            }
        }
        ProgressDone++;
    }
    free(batchOutcomes);
    free(slots);
    free(batch);
    free(outcomes);
}

// The log is the record of what is still to undo: it is cut (rollback) or
// deleted (uninstall) only once every change it records has been made, so
// that a run that is killed or cancelled can be run again and finish.
static void HandleLog(const char *logPath)
{
    if (Cancelled || WorkLeft)
        return;
    if (Rollback && LastInstallOffset != 0)
        CutLogFile(logPath, LastInstallOffset);
    else if (Rollback || UninstallMethod == METHOD_AUTOMATIC)
        DeleteLogFile(logPath, LogLongPath);
}

// The directories that held the log could not go while it was there: once
// it is gone they are removed as the directory phase decided.
static void RemoveLogDirectories(const char *logPath)
{
    if (!PathGoneNow(logPath))
        return;
    // Directory entries are spelt in long form; so is the log here.
    char longPath[INV_PATH_CAP];
    if (CopyText(longPath, sizeof longPath, LogLongPath) != TEXT_FIT || !longPath[0])
        return;
    logPath = longPath;
    for (int i = 0; i < DirList.Count; i++) {
        DirEntry *d = ENTRY_AT(DirEntry, DirList, i);
        size_t len = strlen(d->Path);
        if (!Taken(d->Selected, d->MadeInstall) || !len || !TextEqualNoCaseN(d->Path, logPath, len) ||
            logPath[len] != '\\')
            continue;
        RemoveTree(d->Path, UninstallMethod == METHOD_CUSTOM || InScope(d->TreeInstall));
    }
}

static void RemoveDirectories(void)
{
    for (int i = 0; i < DirList.Count; i++) {
        DirEntry *d = ENTRY_AT(DirEntry, DirList, i);
        int whole = UninstallMethod == METHOD_CUSTOM || InScope(d->TreeInstall);
        const char *kind = whole ? "TREE" : "DIR";
        if (TakeOrSkip(kind, d->Selected, d->MadeInstall, d->Path)) {
            size_t len = strlen(d->Path);
            if (len && d->Path[len - 1] == '\\')
                d->Path[len - 1] = 0;
            CopyText(DialogText, sizeof DialogText, Prefix[whole ? P_TREE : P_EMPTYDIRS]);
            AppendShortPath(DialogText, sizeof DialogText, d->Path);
            ShowProgress(DialogText);
            unsigned short no = whole && d->TreeInstall ? d->TreeInstall : d->MadeInstall;
            RemoveTree(d->Path, whole, no, 1);
        }
        ProgressDone++;
    }
}

static void RestoreRegistryValues(void)
{
    for (int i = 0; i < RegValueList.Count; i++) {
        RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, i);
        if (TakeOrSkip("REGVALUE", e->Selected, e->InstallNo, e->Key, e->ValueName)) {
            ShowKey(P_REGVALUE, e->Key);
            RestoreRegistryValue(e);
        }
        ProgressDone++;
    }
}

static void RemoveRegistryValues(void)
{
    for (int i = RegKeyList.Count - 1; i >= 0; i--) {
        RegKeyEntry *e = ENTRY_AT(RegKeyEntry, RegKeyList, i);
        if (TakeOrSkip("REGKEY", e->Selected, e->InstallNo, e->Key, e->ValueName)) {
            ShowKey(P_REGKEY, e->Key);
            RemoveRegistryValue(e);
        }
        ProgressDone++;
    }
}

static void DeleteRegistryTrees(void)
{
    for (int i = RegTreeList.Count - 1; i >= 0; i--) {
        RegTreeEntry *e = ENTRY_AT(RegTreeEntry, RegTreeList, i);
        if (TakeOrSkip("REGTREE", e->Selected, e->InstallNo, e->Key)) {
            ShowKey(P_REGTREE, e->Key);
            DeleteRegistryTree(e->Key, e->Root, e->InstallNo);
        }
        ProgressDone++;
    }
}

static void RemoveIcons(void)
{
    int connected = 0;
    for (int i = 0; i < IconList.Count; i++) {
        IconEntry *e = ENTRY_AT(IconEntry, IconList, i);
        int taken = (UninstallMethod == METHOD_AUTOMATIC || e->Selected) &&
                    (!Rollback || e->InstallNo == Threshold);
        if (Cancelled || !taken) {
            AddRow("ICON", e->InstallNo, e->Name, ACT_NONE, OUT_SKIPPED,
                   Cancelled ? "CANCELLED" : Rollback && e->InstallNo != Threshold ? "OUT-OF-SCOPE" : "NOT-SELECTED",
                   e->Group);
        } else {
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
    if (CopyText(LogLongPath, sizeof LogLongPath, logPath) == TEXT_FIT)
        NormalizePath(LogLongPath, sizeof LogLongPath, 1);
    else
        LogLongPath[0] = 0;
    WorkLeft = 0;
    DatabaseAborted = 0;
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
    RemoveServices();
    if (SubSystemName && (UninstallMethod == METHOD_AUTOMATIC || SubSystemSelected)) {
        ShowText(P_SUBSYSTEM, SubSystemName);
        if (RemoveDatabaseEngine(SubSystemName) == DB_ABORT) {
            AddRow("SUBSYSTEM", 0, SubSystemName, ACT_DECREMENT, OUT_SKIPPED, "CANCELLED", NULL);
            DatabaseAborted = 1;
            return;
        }
    } else if (SubSystemName) {
        AddRow("SUBSYSTEM", 0, SubSystemName, ACT_NONE, OUT_SKIPPED, "NOT-SELECTED", NULL);
    }
    RemoveNewIniFiles();
    RestoreIniItems();
    RestoreEditedFiles(Threshold);
    ReleaseAppFiles(Threshold, Prefix[P_SELFREG]);
    ReleaseSystemFiles(Threshold, Prefix[P_SELFREG]);
    RemoveInstalledFiles(0, Threshold, Prefix[P_FILE]);
    RemoveInstalledFiles(1, Threshold, Prefix[P_SYSFILE]);
    ReregisterRestoredFiles(Threshold, Prefix[P_SELFREG]);
    RemoveDirectories();
    RestoreRegistryValues();
    RemoveRegistryValues();
    DeleteRegistryTrees();
    // A cancelled run never opens the Program Manager conversation.
    RemoveIcons();
    HandleLog(logPath);
    RemoveLogDirectories(logPath);
}
