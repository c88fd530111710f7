// See diffproducts.h.
#include "diffproducts.h"
#include "difference.h"
#include <gtest/gtest.h>
#include <tlhelp32.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>

namespace {

const char SharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char EngineKey[] = "Software\\Borland\\Database Engine";
const char Prefs[] = "Software\\Kv Samples\\Shared";

std::string Crlf(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

void SetMulti(HKEY root, const std::string &key, const char *name, const std::vector<std::string> &lines)
{
    std::string bytes;
    for (const std::string &l : lines)
        bytes += l + '\0';
    SetRegValue(root, key, name, REG_MULTI_SZ, bytes + '\0');
}

void SetIni(const std::string &file, const std::string &section, const std::string &item, const char *value)
{
    WritePrivateProfileStringA(section.c_str(), item.c_str(), value, file.c_str());
}

} // namespace

// --- the sample product ------------------------------------------------------

Sample InstallSample(const std::string &win)
{
    Sample s;
    s.app = "C:\\Program Files\\Sample Orders";
    const std::string sys = win + "\\system32", winIni = win + "\\win.ini", &app = s.app;
    s.winIni = ReadFileBytes(winIni);
    // The machine before the product: settings the product will change.
    SetIni(winIni, "Sample", "Mode", "classic");
    SetRegString(HKEY_CURRENT_USER, Prefs, "Owner", "Kv Samples");
    SetRegValue(HKEY_CURRENT_USER, Prefs, "Home", REG_EXPAND_SZ, std::string("%WINDIR%\\Samples") + '\0');
    SetMulti(HKEY_CURRENT_USER, Prefs, "Paths", {"C:\\One", "C:\\Two"});
    SetRegValue(HKEY_CURRENT_USER, Prefs, "Runs", REG_DWORD, DwordBytes(7));
    SetRegValue(HKEY_CURRENT_USER, Prefs, "Flags", REG_BINARY, "\x0a\x1b\xff");
    SetRegString(HKEY_LOCAL_MACHINE, EngineKey, "UseCount", "2");
    MakeFile(sys + "\\ORDCOMN.DLL", "shared helper\n");
    SetRegValue(HKEY_LOCAL_MACHINE, SharedKey, (sys + "\\ORDCOMN.DLL").c_str(), REG_DWORD, DwordBytes(1));

    // Installation 1: version 1.0, as its installer would have left it.
    MakeFile(app + "\\ORDERS.EXE", "orders program 1.0\n");
    MakeFile(app + "\\README.TXT", "Read me first.\n");
    MakeFile(app + "\\Data\\orders.dat", "order data\n");
    MakeFile(app + "\\ORDERS.HLP", "help\n");
    MakeFile(app + "\\ORDERS.GID", "help index\n");        // made later by the help viewer
    MakeFile(app + "\\Samples\\Northwind\\sample1.ord", "sample order\n");
    MakeFile(sys + "\\ORDSHELL.DLL", "shell extension\n");
    MakeFile(sys + "\\ORDCOMN.DLL", "shared helper 2\n");
    MakeFile("C:\\Order Exports\\march.csv", "user's own export\n");   // the user's
    EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), (app + "\\UNINSTAL.EXE").c_str(), FALSE));
    MakeFile(win + "\\ORDERS.INI", "[Orders]\r\nWindowPos=10,10\r\n");
    SetIni(winIni, "Orders", "DataPath", (app + "\\Data").c_str());
    SetIni(winIni, "Sample", "Mode", "orders");
    SetRegString(HKEY_LOCAL_MACHINE, "Software\\Sample Orders\\1.0", "Path", app);
    SetRegString(HKEY_CURRENT_USER, "Software\\Sample Orders\\Settings\\Window", "Pos", "10,10");
    SetRegString(HKEY_CURRENT_USER, Prefs, "Owner", "Sample Orders 1.0");
    SetRegValue(HKEY_CURRENT_USER, Prefs, "Home", REG_EXPAND_SZ, std::string("%ProgramFiles%\\Sample Orders") + '\0');
    SetMulti(HKEY_CURRENT_USER, Prefs, "Paths", {app});
    SetRegValue(HKEY_CURRENT_USER, Prefs, "Runs", REG_DWORD, DwordBytes(0));
    SetRegValue(HKEY_CURRENT_USER, Prefs, "Flags", REG_BINARY, std::string(1, '\0'));
    SetRegString(HKEY_LOCAL_MACHINE, EngineKey, "UseCount", "3");
    SetRegValue(HKEY_LOCAL_MACHINE, SharedKey, (sys + "\\ORDCOMN.DLL").c_str(), REG_DWORD, DwordBytes(2));
    std::string first =
        "***  Installation Started 12/08/2026 09:00 ***\n"
        "Title: Sample Orders Installation\nUninstall MIF: SAMPLE.MIF\nManufacturer: Kv Samples\n"
        "Product: Sample Orders\nVersion Number: 1.0\n"
        "Execute Path: C:\\windows\\system32\\cmd.exe /c echo Sample Orders clean-up ran> C:\\windows\\ORDCLEAN.TXT\n"
        "Execute Name: Sample Orders clean-up\nSubSystem: BDE\n"
        "Made Dir: " + app + "\nMade Dir: " + app + "\\Data\nMade Dir: C:\\Order Exports\n"
        "File Tree: " + app + "\\Samples\\*.*\n"
        "File Copy: " + app + "\\ORDERS.EXE\nFile Copy: " + app + "\\README.TXT\n"
        "File Copy: " + app + "\\ORDERS.HLP\nFile Copy: " + app + "\\Data\\orders.dat\n"
        "File Copy: " + app + "\\UNINSTAL.EXE\n"
        "Non-System File:\nFile Copy: C:\\windows\\system32\\ORDSHELL.DLL\n"
        "File Overwrite: C:\\windows\\system32\\ORDCOMN.DLL\n"
        "INI New: \nINI File: C:\\windows\\ORDERS.INI\n"
        "INI File: C:\\windows\\win.ini\nINI Sect: Orders\nINI Item: DataPath\nINI Val: " + app + "\\Data\n"
        "INI File: C:\\windows\\win.ini\nINI Sect: Sample\nINI Item: Mode\nINI Val: orders\nINI Old: classic\n"
        "RegDB Key: Software\\Sample Orders\\1.0\nRegDB Val: " + app + "\nRegDB Name: Path\nRegDB Type: 0\n"
        "RegDB Root: 2\n"
        "RegDB Tree: Software\\Sample Orders\nRegDB Root: 1\n"
        "RegDB Key: Software\\Kv Samples\\Shared\nRegDB Val: Sample Orders 1.0\nRegDB Name: Owner\n"
        "RegDB Type: 0\nRegDB Root: 1\nRegDB Old: Kv Samples\n"
        "RegDB Key: Software\\Kv Samples\\Shared\nRegDB Val: %ProgramFiles%\\Sample Orders\nRegDB Name: Home\n"
        "RegDB Type: 1\nRegDB Root: 1\nRegDB Old: %WINDIR%\\Samples\n"
        "RegDB Key: Software\\Kv Samples\\Shared\nRegDB Val: " + app + "\nRegDB Name: Paths\nRegDB Type: 2\n"
        "RegDB Root: 1\nRegDB Old: C:\\One\nRegDB Old: C:\\Two\n"
        "RegDB Key: Software\\Kv Samples\\Shared\nRegDB Val: 0\nRegDB Name: Runs\nRegDB Type: 3\nRegDB Root: 1\n"
        "RegDB Old: 7\n"
        "RegDB Key: Software\\Kv Samples\\Shared\nRegDB Val: 00\nRegDB Name: Flags\nRegDB Type: 4\n"
        "RegDB Root: 1\nRegDB Old: 0a 1b ff\n";

    // Installation 2: the upgrade to 1.1, with backups.
    MakeFile(app + "\\ORDERS.BAK", ReadFileBytes(app + "\\ORDERS.EXE"));
    MakeFile(app + "\\ORDERS.EXE", "orders program 1.1\n");
    MakeFile(app + "\\README.BAK", ReadFileBytes(app + "\\README.TXT"));
    MakeFile(app + "\\README.TXT", "Read me first. Now with 1.1 notes.\n");
    MakeFile(app + "\\Data\\reports.dat", "report data\n");
    SetIni(winIni, "Sample", "Mode", "orders 1.1");
    SetRegString(HKEY_CURRENT_USER, Prefs, "Owner", "Sample Orders 1.1");
    SetRegString(HKEY_LOCAL_MACHINE, EngineKey, "UseCount", "4");
    std::string second =
        "***  Installation Started 12/09/2026 10:00 ***\nVersion Number: 1.1\nSubSystem: BDE\n"
        "File Copy: " + app + "\\ORDERS.EXE\nBackup Copy: " + app + "\\ORDERS.BAK\n"
        "File Edit: " + app + "\\README.TXT\nBackup Copy: " + app + "\\README.BAK\n"
        "File Copy: " + app + "\\Data\\reports.dat\n"
        "INI File: C:\\windows\\win.ini\nINI Sect: Sample\nINI Item: Mode\nINI Val: orders 1.1\nINI Old: orders\n"
        "RegDB Key: Software\\Kv Samples\\Shared\nRegDB Val: Sample Orders 1.1\nRegDB Name: Owner\n"
        "RegDB Type: 0\nRegDB Root: 1\nRegDB Old: Sample Orders 1.0\n";
    std::string log = app + "\\INSTALL.LOG";
    MakeFile(log, Crlf(first + second));
    char shortLog[MAX_PATH] = "";
    DWORD n = GetShortPathNameA(log.c_str(), shortLog, sizeof shortLog);
    EXPECT_TRUE(n > 0 && n < sizeof shortLog);
    s.shortLog = shortLog;
    return s;
}

void RemoveSample(const Sample &s)
{
    char win[MAX_PATH];
    GetWindowsDirectoryA(win, sizeof win);
    const std::string w = win;
    RemoveTreeForTest(s.app);
    RemoveTreeForTest("C:\\Order Exports");
    for (const char *f : {"\\ORDERS.INI", "\\ORDCLEAN.TXT", "\\SAMPLE.MIF", "\\SAMPLE.RPT", "\\system32\\ORDSHELL.DLL",
                          "\\system32\\ORDCOMN.DLL"})
        DeleteFileA((w + f).c_str());
    WriteFileBytes(w + "\\win.ini", s.winIni);
    CleanKey(HKEY_CURRENT_USER, "Software\\Kv Samples");
    CleanKey(HKEY_CURRENT_USER, "Software\\Sample Orders");
    CleanKey(HKEY_LOCAL_MACHINE, "Software\\Sample Orders");
    CleanKey(HKEY_LOCAL_MACHINE, "Software\\Borland");
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedKey, 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
        RegDeleteValueA(k, (w + "\\system32\\ORDCOMN.DLL").c_str());
        RegCloseKey(k);
    }
}

// --- the holder --------------------------------------------------------------

bool Holder::Start(const std::vector<std::string> &files, bool shareRead)
{
    release = ScratchDir(shareRead ? "diff_hold_read" : "diff_hold") + "\\release";
    std::string cmd = "\"" + BinDir() + "\\kv_hold.exe\" " + (shareRead ? "-read " : "") + release;
    for (const std::string &f : files)
        cmd += " " + f;
    std::vector<char> c(cmd.begin(), cmd.end());
    c.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    if (!CreateProcessA(NULL, c.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return false;
    for (int i = 0; i < 400 && !PathExists(release + ".ready"); i++)
        Sleep(25);
    return PathExists(release + ".ready");
}

void Holder::Stop()
{
    if (!pi.hProcess)
        return;
    WriteFileBytes(release, "go");
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    pi = {};
}

// --- running them ---------------------------------------------------------------

// Whether a process of this name (upper case) runs.
static bool Running(const char *name)
{
    bool found = false;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 pe = {};
    pe.dwSize = sizeof pe;
    for (BOOL more = Process32First(snap, &pe); more && !found; more = Process32Next(snap, &pe)) {
        std::string exe = pe.szExeFile;
        for (char &ch : exe)
            ch = (char)toupper((unsigned char)ch);
        found = exe == name;
    }
    CloseHandle(snap);
    return found;
}

// The restart a run asked for goes on after the run has ended: the restart
// program asks the system, whose session end (Wine's wineboot) would end a
// run started meanwhile. Waits until both have ended.
static void WaitForRestart()
{
    for (int tries = 0; tries < 300; tries++) {
        if (!Running("_MSRSTRT.EXE") && !Running("WINEBOOT.EXE"))
            return;
        Sleep(100);
    }
    ADD_FAILURE() << "the restart did not end";
}

// Starts each command line, a few at a time, and waits for all of them
// (silent runs ask nothing). A run that ends by restarting the machine
// (a rollback that stages a file in use) would end the others: such runs
// come last, one at a time, each once the restart before it is over.
void RunAll(const std::vector<std::string> &commands, const std::vector<bool> &restarts)
{
    const char *env = getenv("KV_DIFF_PARALLEL");
    const size_t parallel = env && atoi(env) > 0 ? (size_t)atoi(env) : 3;
    std::vector<size_t> order;
    for (int last = 0; last < 2; last++)
        for (size_t i = 0; i < commands.size(); i++)
            if (restarts[i] == (last == 1))
                order.push_back(i);
    std::vector<HANDLE> running;
    for (size_t k = 0; k <= order.size();) {
        bool alone = k < order.size() && restarts[order[k]];
        if (!running.empty() && (k == order.size() || running.size() == parallel || alone)) {
            DWORD r = WaitForMultipleObjects((DWORD)running.size(), running.data(), FALSE, 60000);
            ASSERT_LT(r, WAIT_OBJECT_0 + running.size()) << "a run did not end";
            DWORD code = 1;
            GetExitCodeProcess(running[r - WAIT_OBJECT_0], &code);
            EXPECT_EQ(0u, code) << "a run ended with this code (without /E it is always 0)";
            CloseHandle(running[r - WAIT_OBJECT_0]);
            running.erase(running.begin() + (r - WAIT_OBJECT_0));
            // Restarting runs run alone: the one that ended was the last started.
            if (restarts[order[k - 1]])
                WaitForRestart();
            continue;
        }
        if (k == order.size())
            break;
        const std::string &command = commands[order[k++]];
        std::vector<char> c(command.begin(), command.end());
        c.push_back(0);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        PROCESS_INFORMATION pi;
        ASSERT_TRUE(CreateProcessA(NULL, c.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) << command;
        CloseHandle(pi.hThread);
        running.push_back(pi.hProcess);
    }
}

// The clean-up copy (KVRxxxx.EXE) removes the program's own files after the
// run: the state after is taken once it has ended.
void WaitForCleanupCopy()
{
    for (int tries = 0; tries < 300; tries++) {
        bool running = false;
        HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
        PROCESSENTRY32 pe = {};
        pe.dwSize = sizeof pe;
        for (BOOL more = Process32First(snap, &pe); more; more = Process32Next(snap, &pe)) {
            std::string name = UpperText(pe.szExeFile);
            running |= name.compare(0, 3, "KVR") == 0 && name.find(".EXE") != std::string::npos;
        }
        CloseHandle(snap);
        if (!running)
            return;
        Sleep(100);
    }
    ADD_FAILURE() << "the clean-up copy did not end";
}
