// Kill runs: the silent uninstall and the silent rollback of a product of a
// few hundred files (made folders, a copied tree, backups, registry values
// with old data, INI items, a device line) are killed at random moments and
// run again. The machine must then be exactly as after an uninterrupted run:
// files and their content, registry, INI files, SYSTEM.INI, the status file.
// KV_KILL_COUNT (default 3 per mode) and KV_KILL_SEED choose the run.
#include <gtest/gtest.h>
#include <algorithm>
#include <stdlib.h>
#include <string.h>
#include "support/kvtest.h"

namespace {

const std::string Top = "C:\\KVKILL";
const char RegKey[] = "Software\\KvKill";
std::string Win, SysIniBase;

std::string Name(const char *stem, int i)
{
    return std::string(stem) + std::to_string(i) + ".DAT";
}

// The machine with both installations made, and the log that records them.
std::string Install()
{
    RemoveTreeForTest(Top);
    CleanKey(HKEY_CURRENT_USER, RegKey);
    const std::string app = Top + "\\App", data = app + "\\Data", tree = app + "\\Tree";
    std::string b1 = "***  Installation Log\r\nTitle: Kill Orders\r\nUninstall MIF: KVKILL.MIF\r\n"
                     "Manufacturer: Kv\r\nProduct: Kill\r\nVersion Number: 2\r\n"
                     "Made Dir: " + app + "\r\nMade Dir: " + data + "\r\nFile Tree: " + tree + "\r\n";
    std::string b2 = "***  Upgrade\r\n";
    for (int i = 0; i < 120; i++) {
        std::string f = (i % 2 ? app : data) + "\\" + Name("F", i);
        MakeFile(f, "installed " + std::to_string(i));
        (i < 90 ? b1 : b2) += "File Copy: " + f + "\r\n";
    }
    for (int i = 0; i < 40; i++)
        MakeFile(tree + "\\" + (i % 4 ? "" : "Sub\\") + Name("T", i), "tree " + std::to_string(i));
    // Files the upgrade overwrote, with the earlier copies kept as backups.
    for (int i = 0; i < 30; i++) {
        std::string f = app + "\\" + Name("O", i), bak = app + "\\Backup\\" + Name("O", i);
        MakeFile(f, "version 2 of " + std::to_string(i));
        MakeFile(bak, "version 1 of " + std::to_string(i));
        b1 += "File Copy: " + f + "\r\n";
        b2 += "File Overwrite: " + f + "\r\nBackup Copy: " + bak + "\r\n";
    }
    MakeFile(app + "\\KV.386", "driver");
    b1 += "File Copy: " + app + "\\KV.386\r\nAdd Device: " + app + "\\KV.386\r\n";
    WriteFileBytes(Win + "\\SYSTEM.INI", SysIniBase + "[386Enh]\r\ndevice=" + app + "\\KV.386\r\n");
    // INI items: changed by both installations, or added by one.
    MakeFile(Top + "\\Settings\\APP.INI", "[Main]\r\nMine=keep\r\n");
    std::string ini = Top + "\\Settings\\APP.INI";
    for (int i = 0; i < 10; i++) {
        std::string item = "Item" + std::to_string(i);
        WritePrivateProfileStringA("Main", item.c_str(), "v2", ini.c_str());
        b1 += "INI File: " + ini + "\r\nINI Sect: Main\r\nINI Item: " + item + "\r\nINI Val: v1\r\n" +
              (i % 3 ? "INI Old: original\r\n" : "");
        b2 += "INI File: " + ini + "\r\nINI Sect: Main\r\nINI Item: " + item + "\r\nINI Val: v2\r\nINI Old: v1\r\n";
    }
    WritePrivateProfileStringA("KvKill", "Mode", "v2", "WIN.INI");
    b1 += "INI File: " + Win + "\\WIN.INI\r\nINI Sect: KvKill\r\nINI Item: Mode\r\nINI Val: v1\r\nINI Old: classic\r\n";
    b2 += "INI File: " + Win + "\\WIN.INI\r\nINI Sect: KvKill\r\nINI Item: Mode\r\nINI Val: v2\r\nINI Old: v1\r\n";
    // Registry: values changed by both, values created, a tree added.
    for (int i = 0; i < 20; i++) {
        std::string name = "V" + std::to_string(i);
        SetRegString(HKEY_CURRENT_USER, RegKey, name.c_str(), "v2");
        b1 += std::string("RegDB Key: ") + RegKey + "\r\nRegDB Val: v1\r\nRegDB Name: " + name +
              "\r\nRegDB Root: 1\r\nRegDB Old: original " + std::to_string(i) + "\r\n";
        b2 += std::string("RegDB Key: ") + RegKey + "\r\nRegDB Val: v2\r\nRegDB Name: " + name +
              "\r\nRegDB Root: 1\r\nRegDB Old: v1\r\n";
        std::string created = "C" + std::to_string(i);
        SetRegString(HKEY_CURRENT_USER, std::string(RegKey) + "\\Made", created.c_str(), "x");
        (i % 2 ? b2 : b1) += std::string("RegDB Key: ") + RegKey + "\\Made\r\nRegDB Val: x\r\nRegDB Name: " +
                             created + "\r\nRegDB Root: 1\r\n";
    }
    SetRegString(HKEY_CURRENT_USER, std::string(RegKey) + "\\Tree\\Deep", "V", "x");
    b2 += std::string("RegDB Tree: ") + RegKey + "\\Tree\r\nRegDB Root: 1\r\n";
    SetRegString(HKEY_CURRENT_USER, RegKey, "UserOwn", "keep");
    std::string log = app + "\\INSTALL.LOG";
    MakeFile(log, b1 + b2);
    DeleteFileA((Win + "\\KVKILL.MIF").c_str());
    return log;
}

void ListKey(HKEY root, const std::string &key, std::string *out)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return;
    *out += key + "\\\n";
    std::vector<std::string> lines, subs;
    char name[512];
    BYTE data[2048];
    for (DWORD i = 0;; i++) {
        DWORD n = sizeof name, size = sizeof data, type = 0;
        if (RegEnumValueA(k, i, name, &n, NULL, &type, data, &size) != ERROR_SUCCESS)
            break;
        lines.push_back(key + "\\" + name + "=" + std::to_string(type) + ":" + std::string((char *)data, size));
    }
    for (DWORD i = 0;; i++) {
        DWORD n = sizeof name;
        if (RegEnumKeyExA(k, i, name, &n, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subs.push_back(key + "\\" + name);
    }
    RegCloseKey(k);
    std::sort(lines.begin(), lines.end());
    std::sort(subs.begin(), subs.end());
    for (const std::string &l : lines)
        *out += l + "\n";
    for (const std::string &s : subs)
        ListKey(root, s, out);
}

// The machine as far as the product touches it; the status file without
// its date line.
std::string Snapshot()
{
    std::string s;
    s += TreeText(Top);
    ListKey(HKEY_CURRENT_USER, RegKey, &s);
    s += "win.ini Mode=" + IniRead("WIN.INI", "KvKill", "Mode") + "\n";
    s += "SYSTEM.INI:\n" + ReadFileBytes(Win + "\\SYSTEM.INI") + "\n";
    bool ok = false;
    std::string mif = ReadFileBytes(Win + "\\KVKILL.MIF", &ok);
    s += "status file:\n";
    for (const std::string &line : SplitCrLf(ok ? mif : "<missing>"))
        if (line.find("/") == std::string::npos || line.find("VALUE") == std::string::npos)
            s += line + "\n";
    return s;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
        out.push_back(text.substr(start, at - start));
    out.push_back(text.substr(start));
    return out;
}

// Starts the program and kills it after ms milliseconds (if it still runs).
void RunAndKill(const std::string &program, const std::string &args, DWORD ms)
{
    std::string cmd = "\"" + program + "\" " + args;
    std::vector<char> text(cmd.begin(), cmd.end());
    text.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    ASSERT_TRUE(CreateProcessA(NULL, text.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi));
    if (WaitForSingleObject(pi.hProcess, ms) == WAIT_TIMEOUT)
        TerminateProcess(pi.hProcess, 9);
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
}

DWORD RunWhole(const std::string &program, const std::string &args)
{
    DWORD start = GetTickCount();
    ChildRun run = RunChild(program, args, {}, 120000);
    EXPECT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);
    return GetTickCount() - start;
}

// Kills the run with these options at a few moments; each killed run, run
// again, must leave the machine as the uninterrupted run does.
void KillAndCompare(const char *options, unsigned long long seed)
{
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    Win = buf;
    std::string sysIniBefore = ReadFileBytes(Win + "\\SYSTEM.INI");
    SysIniBase = sysIniBefore;
    std::string bin = ScratchDir("killrun_bin");
    std::string program = bin + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    const char *countText = getenv("KV_KILL_COUNT"), *seedText = getenv("KV_KILL_SEED");
    int count = countText && atoi(countText) > 0 ? atoi(countText) : 3;
    if (seedText && strtoull(seedText, NULL, 10))
        seed += strtoull(seedText, NULL, 10);   // the modes keep distinct moments
    int differences = 0, moments = 0;
    std::string log = Install();
    std::string installed = Snapshot();
    DWORD whole = RunWhole(program, std::string(options) + " " + log);
    std::string reference = Snapshot();
    ASSERT_NE(installed, reference) << options << ": the run changed nothing";
    for (int k = 0; k < count; k++) {
        seed = seed * 6364136223846793005ull + 1442695040888963407ull;
        DWORD at = (DWORD)((seed >> 33) % (whole + 1));
        log = Install();
        std::string logText = ReadFileBytes(log);
        RunAndKill(program, std::string(options) + " " + log, at);
        // Run again while the log still records work; a log that is gone
        // (or already cut to the earlier installation) means the job was
        // done before the kill, and running again has nothing to finish.
        bool ok = false;
        if (ReadFileBytes(log, &ok) == logText && ok)
            RunWhole(program, std::string(options) + " " + log);
        std::string after = Snapshot();
        moments++;
        if (after != reference && ++differences <= 3) {
            // Show the first lines that differ.
            std::vector<std::string> a = Lines(after), r = Lines(reference);
            std::string diff;
            for (size_t i = 0; i < a.size() || i < r.size(); i++) {
                std::string x = i < a.size() ? a[i] : "", y = i < r.size() ? r[i] : "";
                if (x != y && diff.size() < 2000)
                    diff += "  got  " + x + "\n  want " + y + "\n";
            }
            ADD_FAILURE() << options << " killed at " << at << " of " << whole << " ms:\n" << diff;
        }
    }
    printf("kill: %s, %d moments, %d differences, run %lu ms\n", options, moments, differences,
           (unsigned long)whole);
    EXPECT_EQ(0, differences);
    RemoveTreeForTest(Top);
    CleanKey(HKEY_CURRENT_USER, RegKey);
    WritePrivateProfileStringA("KvKill", NULL, NULL, "WIN.INI");
    WriteFileBytes(Win + "\\SYSTEM.INI", sysIniBefore);
    DeleteFileA((Win + "\\KVKILL.MIF").c_str());
}

// The two modes are separate cases so that the test command can run them at
// the same time, each in a machine of its own.
TEST(KillRun, AKilledUninstallRunAgainEndsAsAnUninterruptedOne)
{
    KillAndCompare("/S", 77);
}

TEST(KillRun, AKilledRollbackRunAgainEndsAsAnUninterruptedOne)
{
    KillAndCompare("/S /R", 78);
}

} // namespace
