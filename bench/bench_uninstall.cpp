// Silent uninstall of a generated product: 4,096 created files in 64
// directories, 1,000 created registry values and 1,000 INI items. Prints the
// total, the pacing the progress display asks for (steps x one 10 ms pump),
// the bare floor (the same file, registry and profile calls made directly)
// and what is left: the engine's own overhead; then, by kind, each step's
// time beyond its pump beside the floor's time per call. Then the same
// uninstall kept for an undo (/K): the time it adds, where it goes, the
// store's size, and whether a file of the store's volume was copied into
// it rather than moved.
#include <windows.h>
#include <stdio.h>
#include <string.h>
#include "app/background.h"
#include "base/state.h"
#include "base/text.h"
#include "engine/uninstall.h"
#include "log/inventory.h"
#include "machine/recovery.h"
#include "ui/progress.h"

enum { DIRS = 64, FILES_PER_DIR = 64, REG_KEYS = 50, VALUES_PER_KEY = 20, INI_FILES = 10,
       ITEMS_PER_FILE = 100 };

static const char Top[] = "C:\\kvbench\\Sample Product";
static const char RegTop[] = "Software\\KvBench";

static double Now(void)
{
    LARGE_INTEGER f, c;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&c);
    return (double)c.QuadPart / (double)f.QuadPart;
}

static void DirPath(char *buf, size_t cap, int d)
{
    FormatText(buf, cap, "%s\\Directory %02d", Top, d);
}

static void FilePath(char *buf, size_t cap, int d, int f)
{
    FormatText(buf, cap, "%s\\Directory %02d\\component_file_%04d.dat", Top, d, f);
}

static void KeyPath(char *buf, size_t cap, int k)
{
    FormatText(buf, cap, "%s\\Component %02d", RegTop, k);
}

static void IniPath(char *buf, size_t cap, int i)
{
    FormatText(buf, cap, "%s\\settings%d.ini", Top, i);
}

// Lays the product down on the machine.
static void Install(void)
{
    char path[MAX_PATH];
    CreateDirectoryA("C:\\kvbench", NULL);
    CreateDirectoryA(Top, NULL);
    for (int d = 0; d < DIRS; d++) {
        DirPath(path, sizeof path, d);
        CreateDirectoryA(path, NULL);
        for (int f = 0; f < FILES_PER_DIR; f++) {
            FilePath(path, sizeof path, d, f);
            HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
            DWORD written;
            WriteFile(h, "data", 4, &written, NULL);
            CloseHandle(h);
        }
    }
    for (int k = 0; k < REG_KEYS; k++) {
        KeyPath(path, sizeof path, k);
        HKEY key;
        RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL);
        for (int v = 0; v < VALUES_PER_KEY; v++) {
            char name[32];
            FormatText(name, sizeof name, "Value%02d", v);
            RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)"installed", 10);
        }
        RegCloseKey(key);
    }
    for (int i = 0; i < INI_FILES; i++) {
        IniPath(path, sizeof path, i);
        HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        char line[64];
        DWORD written;
        WriteFile(h, "[Settings]\r\n", 12, &written, NULL);
        for (int n = 0; n < ITEMS_PER_FILE; n++) {
            FormatText(line, sizeof line, "Item%03d=installed\r\n", n);
            WriteFile(h, line, (DWORD)strlen(line), &written, NULL);
        }
        CloseHandle(h);
    }
}

// The inventory that the log of that installation gives.
static void BuildInventory(void)
{
    CreateInventory();
    InstallCount = 1;
    char text[MAX_PATH];
    for (int d = 0; d < DIRS; d++)
        for (int f = 0; f < FILES_PER_DIR; f++) {
            FileEntry *e;
            if (NewEntry(&e) != 0)
                return;
            FilePath(text, sizeof text, d, f);
            StoreText(&e->Path, text, INV_PATH_CAP);
            e->Created = 1;
            e->CopyInstall = e->BackupInstall = 1;
            ListAppend(&AppFileList, e);
        }
    DirEntry *top;
    if (NewEntry(&top) != 0)
        return;
    FormatText(text, sizeof text, "%s\\", Top);
    StoreText(&top->Path, text, INV_PATH_CAP);
    top->MadeInstall = 1;
    ListAppend(&DirList, top);
    for (int d = 0; d < DIRS; d++) {
        DirEntry *e;
        if (NewEntry(&e) != 0)
            return;
        DirPath(text, sizeof text, d);
        AppendText(text, sizeof text, "\\");
        StoreText(&e->Path, text, INV_PATH_CAP);
        e->MadeInstall = 1;
        ListAppend(&DirList, e);
    }
    for (int k = 0; k < REG_KEYS; k++)
        for (int v = 0; v < VALUES_PER_KEY; v++) {
            RegKeyEntry *e;
            if (NewEntry(&e) != 0)
                return;
            KeyPath(text, sizeof text, k);
            StoreText(&e->Key, text, NAME_CAP);
            FormatText(text, sizeof text, "Value%02d", v);
            StoreText(&e->ValueName, text, NAME_CAP);
            e->Root = 1;
            e->InstallNo = 1;
            ListAppend(&RegKeyList, e);
        }
    for (int i = 0; i < INI_FILES; i++)
        for (int n = 0; n < ITEMS_PER_FILE; n++) {
            IniEntry *e;
            if (NewEntry(&e) != 0)
                return;
            IniPath(text, sizeof text, i);
            StoreText(&e->File, text, INV_PATH_CAP);
            StoreText(&e->Section, "Settings", NAME_CAP);
            FormatText(text, sizeof text, "Item%03d", n);
            StoreText(&e->Item, text, NAME_CAP);
            // Half the items were changed (restored), half added (deleted).
            if (n % 2)
                StoreText(&e->OldValue, "before", INI_VALUE_CAP);
            e->InstallNo = 1;
            ListAppend(&IniEntryList, e);
        }
}

static int FloorSteps;
// The unpaced floor's time by kind of call, in the engine's order.
enum { FLOOR_INI, FLOOR_FILES, FLOOR_DIRS, FLOOR_REGISTRY, FLOOR_KINDS };
static double FloorTime[FLOOR_KINDS];
static int FloorCalls[FLOOR_KINDS];

// One step of the floor; paced, it waits as the progress display does.
static void FloorStep(int paced)
{
    FloorSteps++;
    if (paced)
        PumpMessages(10);
}

// Adds the time since *t to the unpaced floor's kind.
static void Lap(int paced, int kind, int calls, double *t)
{
    double now = Now();
    if (!paced) {
        FloorTime[kind] += now - *t;
        FloorCalls[kind] += calls;
    }
    *t = now;
}

// The same work as bare platform calls, in the engine's order.
static void Floor(int paced)
{
    char path[MAX_PATH];
    double t = Now();
    for (int i = 0; i < INI_FILES; i++) {
        IniPath(path, sizeof path, i);
        for (int n = 0; n < ITEMS_PER_FILE; n++) {
            char item[16];
            FormatText(item, sizeof item, "Item%03d", n);
            WritePrivateProfileStringA("Settings", item, n % 2 ? "before" : NULL, path);
            FloorStep(paced);
        }
    }
    Lap(paced, FLOOR_INI, INI_FILES * ITEMS_PER_FILE, &t);
    for (int d = 0; d < DIRS; d++)
        for (int f = 0; f < FILES_PER_DIR; f++) {
            FilePath(path, sizeof path, d, f);
            DeleteFileA(path);
            FloorStep(paced);
        }
    Lap(paced, FLOOR_FILES, DIRS * FILES_PER_DIR, &t);
    RemoveDirectoryA(Top);      // still holds the INI files
    FloorStep(paced);
    for (int d = 0; d < DIRS; d++) {
        DirPath(path, sizeof path, d);
        RemoveDirectoryA(path);
        FloorStep(paced);
    }
    Lap(paced, FLOOR_DIRS, DIRS + 1, &t);
    for (int k = REG_KEYS - 1; k >= 0; k--) {
        KeyPath(path, sizeof path, k);
        for (int v = VALUES_PER_KEY - 1; v >= 0; v--) {
            char name[32];
            FormatText(name, sizeof name, "Value%02d", v);
            HKEY key;
            if (RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, 0x3F, &key) == ERROR_SUCCESS) {
                RegDeleteValueA(key, name);
                RegCloseKey(key);
            }
            FloorStep(paced);
        }
        RegDeleteKeyA(HKEY_CURRENT_USER, path);
    }
    Lap(paced, FLOOR_REGISTRY, REG_KEYS * VALUES_PER_KEY, &t);
}

static void CleanUp(void)
{
    char path[MAX_PATH];
    for (int i = 0; i < INI_FILES; i++) {
        IniPath(path, sizeof path, i);
        DeleteFileA(path);
    }
    RemoveDirectoryA(Top);
    RemoveDirectoryA("C:\\kvbench");
    RegDeleteKeyA(HKEY_CURRENT_USER, RegTop);
}

// Steps and their time, by progress prefix (the text's first line).
enum { MAX_KINDS = 8 };
static int Steps;
static char KindName[MAX_KINDS][64];
static int KindSteps[MAX_KINDS];
static double KindTime[MAX_KINDS];
static double LastStep;
static int LastKind = -1;

static void CountStep(const char *text)
{
    double now = Now();
    if (LastKind >= 0)
        KindTime[LastKind] += now - LastStep;
    LastStep = now;
    Steps++;
    char name[64];
    CopyText(name, sizeof name, text ? text : "(bar)");
    char *cr = strchr(name, '\r');
    if (cr)
        *cr = 0;
    int k = 0;
    while (k < MAX_KINDS - 1 && KindName[k][0] && strcmp(KindName[k], name) != 0)
        k++;
    if (!KindName[k][0])
        CopyText(KindName[k], sizeof KindName[k], name);
    KindSteps[k]++;
    LastKind = k;
}

// --- the uninstall kept for an undo (/K) ----------------------------------------

// Bytes of the product's files as installed: what the uninstall deletes.
static unsigned long ProductFileBytes(void)
{
    unsigned long bytes = 0;
    char path[MAX_PATH];
    for (int d = 0; d < DIRS; d++)
        for (int f = 0; f < FILES_PER_DIR; f++) {
            FilePath(path, sizeof path, d, f);
            WIN32_FILE_ATTRIBUTE_DATA a;
            if (GetFileAttributesExA(path, GetFileExInfoStandard, &a))
                bytes += a.nFileSizeLow;
        }
    return bytes;
}

struct StoreFigures {
    int keptFiles, journalLines;
    unsigned long keptBytes, journalBytes, copiedBytes;
};

// The files under folder ("...\"): the kept ones (in the store's folders of
// kept files) and the journal.
static void CountStoreFiles(const char *folder, StoreFigures *f)
{
    char pattern[MAX_PATH], path[MAX_PATH];
    FormatText(pattern, sizeof pattern, "%s*", folder);
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA(pattern, &fd);
    for (BOOL more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &fd)) {
        if (fd.cFileName[0] == '.')
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            FormatText(path, sizeof path, "%s%s\\", folder, fd.cFileName);
            CountStoreFiles(path, f);
        } else if (strcmp(fd.cFileName, "JOURNAL.TXT") == 0) {
            f->journalBytes = fd.nFileSizeLow;
        } else {
            f->keptFiles++;
            f->keptBytes += fd.nFileSizeLow;
        }
    }
    if (h != INVALID_HANDLE_VALUE)
        FindClose(h);
}

// What the store holds: the kept files, the journal and its lines; and the
// bytes the run copied into it (the seam counts copies, not renames).
static void MeasureStore(const char *store, StoreFigures *f)
{
    memset(f, 0, sizeof *f);
    CountStoreFiles(store, f);
    char path[MAX_PATH];
    FormatText(path, sizeof path, "%sJOURNAL.TXT", store);
    HANDLE j = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    char block[4096];
    DWORD got;
    while (j != INVALID_HANDLE_VALUE && ReadFile(j, block, sizeof block, &got, NULL) && got)
        for (DWORD i = 0; i < got; i++)
            f->journalLines += block[i] == '\n';
    if (j != INVALID_HANDLE_VALUE)
        CloseHandle(j);
    f->copiedBytes = RecoveryStoreBytes() - f->journalBytes;
}

// One silent uninstall of a fresh installation, kept for an undo with keep;
// its time. The store is measured into *store, then removed.
static double TimedRun(int keep, const char *logPath, StoreFigures *store, unsigned long *deletedBytes)
{
    Install();
    BuildInventory();
    *deletedBytes = ProductFileBytes();
    KeepRecovery = keep;
    if (keep && OpenRecoveryStore("KvBench") != 0)
        printf("the store could not be made\n");
    double t0 = Now();
    RunUninstall(logPath);
    double t = Now() - t0;
    CloseRecoveryStore();
    if (keep && RecoveryStore[0]) {
        MeasureStore(RecoveryStore, store);
        RemoveRecoveryStore(RecoveryStore);
    }
    KeepRecovery = 0;
    FreeInventory();
    CleanUp();
    return t;
}

// TimedRun with each kind of step's time (ms from one step to the next, in
// seconds) into perStep, by KindName's order.
static double ObservedRun(int keep, const char *logPath, StoreFigures *store, unsigned long *deletedBytes,
                          double *perStep)
{
    memset(KindTime, 0, sizeof KindTime);
    memset(KindSteps, 0, sizeof KindSteps);
    LastKind = -1;
    ProgressObserver = CountStep;
    double t = TimedRun(keep, logPath, store, deletedBytes);
    if (LastKind >= 0)
        KindTime[LastKind] += Now() - LastStep;
    ProgressObserver = NULL;
    for (int k = 0; k < MAX_KINDS; k++)
        perStep[k] = KindSteps[k] ? KindTime[k] / KindSteps[k] : 0;
    return t;
}

// The cost of one journal line alone (written and flushed), over many.
static double JournalLineCost(void)
{
    const int lines = 500;
    KeepRecovery = 1;
    if (OpenRecoveryStore("KvBench") != 0)
        return 0;
    double t0 = Now();
    for (int i = 0; i < lines; i++)
        KeepFolder("C:\\kvbench\\Sample Product\\Directory 00");
    double t = (Now() - t0) / lines;
    CloseRecoveryStore();
    RemoveRecoveryStore(RecoveryStore);
    KeepRecovery = 0;
    return t;
}

int main(void)
{
    HINSTANCE instance = GetModuleHandleA(NULL);
    Silent = Automatic = 1;
    UninstallMethod = METHOD_AUTOMATIC;
    RegisterMainClass(instance);
    CreateMainWindow(instance, SW_HIDE);

    // One 10 ms pump, as the progress display paces every step; measured
    // before and after the run, since the machine's load changes it.
    const int pumps = 200;
    double t0 = Now();
    for (int i = 0; i < pumps; i++)
        PumpMessages(10);
    double pumpBefore = (Now() - t0) / pumps;

    Install();
    BuildInventory();
    ProgressObserver = CountStep;
    char logPath[MAX_PATH];
    FormatText(logPath, sizeof logPath, "%s\\INSTALL.LOG", Top);
    t0 = Now();
    RunUninstall(logPath);
    double total = Now() - t0;
    if (LastKind >= 0)
        KindTime[LastKind] += Now() - LastStep;
    ProgressObserver = NULL;
    FreeInventory();
    char firstDir[MAX_PATH];
    DirPath(firstDir, sizeof firstDir, 0);
    int leftFiles = GetFileAttributesA(firstDir) != INVALID_FILE_ATTRIBUTES;
    CleanUp();

    t0 = Now();
    for (int i = 0; i < pumps; i++)
        PumpMessages(10);
    double pumpAfter = (Now() - t0) / pumps;
    double pump = (pumpBefore + pumpAfter) / 2;

    Install();
    t0 = Now();
    Floor(0);
    double floor = Now() - t0;
    CleanUp();

    // The same calls with the same pauses: what pacing costs the calls
    // themselves (a file system call after a pause is slower than in a burst).
    Install();
    FloorSteps = 0;
    t0 = Now();
    Floor(1);
    double pacedFloor = Now() - t0;
    CleanUp();

    double pacing = Steps * pump;
    double overhead = total - pacing - floor;
    printf("entries: %d files in %d directories, %d registry values, %d INI items\n",
           DIRS * FILES_PER_DIR, DIRS, REG_KEYS * VALUES_PER_KEY, INI_FILES * ITEMS_PER_FILE);
    printf("total:    %8.3f s (product directories %s afterwards)\n", total,
           leftFiles ? "STILL THERE" : "gone");
    printf("pacing:   %8.3f s (%d steps x %.3f ms per 10 ms pump; %.3f before, %.3f after)\n",
           pacing, Steps, pump * 1000, pumpBefore * 1000, pumpAfter * 1000);
    printf("floor:    %8.3f s (the same calls made directly)\n", floor);
    printf("overhead: %8.3f s = %.1f%% of the total (goal: at most 10%%)\n", overhead,
           100.0 * overhead / total);
    printf("paced floor: %8.3f s (the same calls, %d steps each followed by one pump)\n",
           pacedFloor, FloorSteps);
    printf("overhead over the paced floor: %8.3f s = %.1f%% of the total\n",
           total - pacedFloor, 100.0 * (total - pacedFloor) / total);
    for (int k = 0; k < MAX_KINDS && KindName[k][0]; k++)
        printf("  %-40s %5d steps, %.3f ms from one to the next, %.3f ms beyond the pump\n", KindName[k],
               KindSteps[k], KindTime[k] * 1000 / KindSteps[k], (KindTime[k] / KindSteps[k] - pump) * 1000);
    static const char *const floorKind[FLOOR_KINDS] = {"INI item written", "file deleted", "directory removed",
                                                       "registry value deleted"};
    for (int k = 0; k < FLOOR_KINDS; k++)
        printf("  floor: %-32s %5d calls, %.3f ms each\n", floorKind[k], FloorCalls[k],
               FloorTime[k] * 1000 / FloorCalls[k]);

    // With /K, between two more runs without it (the machine's load drifts
    // over minutes): the time it adds against their mean, in all and by
    // kind of step.
    StoreFigures store = {};
    unsigned long deleted = 0, deletedAgain = 0;
    double kindBefore[MAX_KINDS], kindKept[MAX_KINDS], kindAfter[MAX_KINDS];
    double before = ObservedRun(0, logPath, &store, &deletedAgain, kindBefore);
    double kept = ObservedRun(1, logPath, &store, &deleted, kindKept);
    double after = ObservedRun(0, logPath, &store, &deletedAgain, kindAfter);
    double base = (before + after) / 2;
    double line = JournalLineCost();
    printf("with /K:  %8.3f s against %.3f s without (%.3f before it, %.3f after): %+.3f s = %+.1f%% "
           "(goal: under 5%%)\n", kept, base, before, after, kept - base, 100.0 * (kept - base) / base);
    printf("store:    %lu bytes: %d kept files of %lu bytes (the files deleted: %d of %lu bytes), "
           "a journal of %d lines, %lu bytes\n", store.keptBytes + store.journalBytes, store.keptFiles,
           store.keptBytes, DIRS * FILES_PER_DIR, deleted, store.journalLines, store.journalBytes);
    printf("copied:   %lu bytes copied into the store (goal: none, every file on the store's volume is moved: %s)\n",
           store.copiedBytes, store.copiedBytes == 0 && store.keptBytes == deleted ? "met" : "MISSED");
    printf("journal:  %.3f ms a line, written and flushed (at most %.3f s for the run's lines: an INI file's "
           "lines share one flush)\n", line * 1000, line * store.journalLines);
    double added = 0;
    for (int k = 0; k < MAX_KINDS && KindName[k][0]; k++) {
        double without = (kindBefore[k] + kindAfter[k]) / 2;
        added += (kindKept[k] - without) * KindSteps[k];
        printf("  with /K: %-32s %5d steps, %.3f ms from one to the next, %+.3f ms against without\n",
               KindName[k], KindSteps[k], kindKept[k] * 1000, (kindKept[k] - without) * 1000);
    }
    printf("  with /K, by step: %+.3f s = %+.1f%%\n", added, 100.0 * added / base);
    DestroyWindow(MainWindow);
    return 0;
}
