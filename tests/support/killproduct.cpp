// The kill runs' product and runs (killproduct.h).
#include "killproduct.h"
#include "kvtest.h"
#include <gtest/gtest.h>
#include <algorithm>

const char KillRegKey[] = "Software\\KvKill";

namespace {

std::string Name(const char *stem, int i)
{
    return std::string(stem) + std::to_string(i) + ".DAT";
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

} // namespace

KillProduct KillProductAt(const std::string &top, int files)
{
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    KillProduct p;
    p.top = top;
    p.win = buf;
    p.sysIniBase = ReadFileBytes(p.win + "\\SYSTEM.INI");
    p.files = files;
    return p;
}

std::string InstallKillProduct(const KillProduct &p)
{
    const std::string &Top = p.top, &Win = p.win;
    const char *RegKey = KillRegKey;
    RemoveTreeForTest(Top);
    CleanKey(HKEY_CURRENT_USER, RegKey);
    const std::string app = Top + "\\App", data = app + "\\Data", tree = app + "\\Tree";
    std::string b1 = "***  Installation Log\r\nTitle: Kill Orders\r\nUninstall MIF: KVKILL.MIF\r\n"
                     "Manufacturer: Kv\r\nProduct: Kill\r\nVersion Number: 2\r\n"
                     "Made Dir: " + app + "\r\nMade Dir: " + data + "\r\nFile Tree: " + tree + "\r\n";
    std::string b2 = "***  Upgrade\r\n";
    for (int i = 0; i < p.files; i++) {
        std::string f = (i % 2 ? app : data) + "\\" + Name("F", i);
        MakeFile(f, "installed " + std::to_string(i));
        (i < p.files * 3 / 4 ? b1 : b2) += "File Copy: " + f + "\r\n";
    }
    for (int i = 0; i < p.files / 3; i++)
        MakeFile(tree + "\\" + (i % 4 ? "" : "Sub\\") + Name("T", i), "tree " + std::to_string(i));
    // Files the upgrade overwrote, with the earlier copies kept as backups.
    for (int i = 0; i < p.files / 4; i++) {
        std::string f = app + "\\" + Name("O", i), bak = app + "\\Backup\\" + Name("O", i);
        MakeFile(f, "version 2 of " + std::to_string(i));
        MakeFile(bak, "version 1 of " + std::to_string(i));
        b1 += "File Copy: " + f + "\r\n";
        b2 += "File Overwrite: " + f + "\r\nBackup Copy: " + bak + "\r\n";
    }
    MakeFile(app + "\\KV.386", "driver");
    b1 += "File Copy: " + app + "\\KV.386\r\nAdd Device: " + app + "\\KV.386\r\n";
    WriteFileBytes(Win + "\\SYSTEM.INI", p.sysIniBase + "[386Enh]\r\ndevice=" + app + "\\KV.386\r\n");
    // INI items: changed by both installations, or added by one.
    MakeFile(Top + "\\Settings\\APP.INI", "[Main]\r\nMine=keep\r\n");
    std::string ini = Top + "\\Settings\\APP.INI";
    for (int i = 0; i < std::max(4, p.files / 12); i++) {
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
    for (int i = 0; i < p.files / 6; i++) {
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

std::string KillSnapshot(const KillProduct &p)
{
    std::string s;
    s += TreeText(p.top);
    ListKey(HKEY_CURRENT_USER, KillRegKey, &s);
    s += "win.ini Mode=" + IniRead("WIN.INI", "KvKill", "Mode") + "\n";
    s += "SYSTEM.INI:\n" + ReadFileBytes(p.win + "\\SYSTEM.INI") + "\n";
    bool ok = false;
    std::string mif = ReadFileBytes(p.win + "\\KVKILL.MIF", &ok);
    s += "status file:\n";
    for (const std::string &line : SplitCrLf(ok ? mif : "<missing>"))
        if (line.find("/") == std::string::npos || line.find("VALUE") == std::string::npos)
            s += line + "\n";
    return s;
}

void RemoveKillProduct(const KillProduct &p)
{
    RemoveTreeForTest(p.top);
    CleanKey(HKEY_CURRENT_USER, KillRegKey);
    WritePrivateProfileStringA("KvKill", NULL, NULL, "WIN.INI");
    WriteFileBytes(p.win + "\\SYSTEM.INI", p.sysIniBase);
    DeleteFileA((p.win + "\\KVKILL.MIF").c_str());
}

std::vector<std::string> TextLines(const std::string &text)
{
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t at; (at = text.find('\n', start)) != std::string::npos; start = at + 1)
        out.push_back(text.substr(start, at - start));
    out.push_back(text.substr(start));
    return out;
}

std::string SnapshotDiff(const std::string &got, const std::string &want)
{
    std::vector<std::string> a = TextLines(got), r = TextLines(want);
    std::string diff;
    for (size_t i = 0; i < a.size() || i < r.size(); i++) {
        std::string x = i < a.size() ? a[i] : "", y = i < r.size() ? r[i] : "";
        if (x != y && diff.size() < 2000)
            diff += "  got  " + x + "\n  want " + y + "\n";
    }
    return diff;
}

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
