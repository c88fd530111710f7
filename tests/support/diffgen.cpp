// The generated products of diffproducts.h: each entry of a product's log is
// made on the machine as its installer would have left it, with the user's
// own files and values beside some of them, in one of two installations.
#include "diffproducts.h"
#include <gtest/gtest.h>
#include <string.h>

const char GeneratedTop[] = "C:\\KVDIFF";

namespace {

const char SharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char EngineKey[] = "Software\\Borland\\Database Engine";
const char RegTop[] = "Software\\KvDiff";
HKEY const Roots[2] = {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE};
const char *const RootNumbers[2] = {"1", "2"};

std::string S(int n)
{
    return std::to_string(n);
}

void SetShared(Generated &p, const std::string &path, DWORD count)
{
    SetRegValue(HKEY_LOCAL_MACHINE, SharedKey, path.c_str(), REG_DWORD, DwordBytes(count));
    p.sharedValues.push_back(path);
}

// A changed value of each log type: its old lines and the bytes of old and
// new as the registry holds them.
struct Typed {
    std::vector<std::string> oldLines;
    std::string newText, oldBytes, newBytes;
    DWORD regType;
};

Typed MakeTyped(int type, int i)
{
    std::string o = "old" + S(i), n = "new" + S(i);
    switch (type) {
    case 0:
        return {{o}, n, o + '\0', n + '\0', REG_SZ};
    case 1:
        return {{"%WINDIR%\\" + o}, "%WINDIR%\\" + n, "%WINDIR%\\" + o + '\0', "%WINDIR%\\" + n + '\0', REG_EXPAND_SZ};
    case 2:
        return {{"A" + o, "B" + o}, n, "A" + o + '\0' + "B" + o + '\0' + '\0', n + '\0' + '\0', REG_MULTI_SZ};
    case 3:
        return {{S(7 + i)}, "0", DwordBytes(7 + i), DwordBytes(0), REG_DWORD};
    default:
        return {{"0a 1b " + S(10 + i)}, "00", std::string("\x0a\x1b") + (char)(0x10 + i), std::string(1, '\0'),
                REG_BINARY};
    }
}

void MakeKey(HKEY root, const std::string &key)
{
    HKEY k;
    EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &k, NULL)) << key;
    RegCloseKey(k);
}

void AddFiles(TestRng &rng, Generated &p, std::string *b, const std::vector<std::string> &folders,
              const std::string &win, bool holds)
{
    int files = 2 + (int)rng.Below(6);
    for (int i = 0; i < files; i++) {
        std::string &blk = b[rng.Below(2)], folder = rng.Pick(folders), path = folder + "\\F" + S(i) + ".DAT";
        switch (rng.Below(10)) {
        case 5:         // a help file and the index the help viewer made
            path = folder + "\\H" + S(i) + ".HLP";
            MakeFile(folder + "\\H" + S(i) + ".GID", "index");
            break;
        case 6:         // shared with another product, or the last reference
        case 7:
            SetShared(p, path, rng.Below(2) ? 2 : 1);
            break;
        case 8:         // a system file the installer marked as its own
            path = win + "\\system32\\KVD" + S(p.n) + "_" + S(i) + ".DLL";
            blk += "Non-System File:\r\n";
            p.sysFiles.push_back(path);
            break;
        case 9:         // a shared system file
            path = win + "\\system32\\KVS" + S(p.n) + "_" + S(i) + ".DLL";
            SetShared(p, path, 2 + rng.Below(2));
            p.sysFiles.push_back(path);
            break;
        default:
            if (holds && rng.Below(2))
                p.held.push_back(path);
            break;
        }
        MakeFile(path, "file " + S(i) + " of product " + S(p.n));
        blk += "File Copy: " + path + "\r\n";
    }
    if (rng.Below(4) == 0) {    // a tree of files the log does not list one by one
        MakeFile(p.root + "\\T\\a.dat", "a");
        MakeFile(p.root + "\\T\\Sub\\b.dat", "b");
        b[rng.Below(2)] += "File Tree: " + p.root + "\\T\\*.*\r\n";
    }
    if (rng.Below(3) == 0)      // the user's own file keeps a folder
        MakeFile(rng.Pick(folders) + "\\USER.DOC", "the user's");
    if (!p.rollback)
        return;
    // The upgrade replaced files and kept the earlier ones as backups.
    int k = 1 + (int)rng.Below(2);
    for (int j = 0; j < k; j++) {
        std::string f = p.root + "\\O" + S(j) + ".DLL", bak = p.root + "\\BACKUP\\O" + S(j) + ".DLL";
        MakeFile(f, "version 2 of " + S(j));
        MakeFile(bak, "version 1 of " + S(j));
        b[0] += "File Copy: " + f + "\r\n";
        b[1] += "File Overwrite: " + f + "\r\nBackup Copy: " + bak + "\r\n";
        // One rollback of each batch finds a replaced file in use.
        if ((holds && rng.Below(2)) || (j == 0 && p.n % GENERATED_BATCH == 5))
            p.held.push_back(f);
    }
}

// The product's items in an INI file of its own beside it (another
// product's run may rewrite win.ini at the same time), and an INI file the
// product made.
void AddIni(TestRng &rng, Generated &p, std::string *b)
{
    std::string ini = p.root + ".INI", section = "Settings";
    p.iniFiles.push_back(ini);
    MakeFile(ini, rng.Below(2) ? "[Settings]\r\nMine=the user's\r\n" : "[Other]\r\nMine=the user's\r\n");
    int items = (int)rng.Below(4);
    for (int i = 0; i < items; i++) {
        bool old = rng.Below(2);
        std::string item = "I" + S(i), now = "new" + S(i);
        WritePrivateProfileStringA(section.c_str(), item.c_str(), now.c_str(), ini.c_str());
        b[rng.Below(2)] += "INI File: " + ini + "\r\nINI Sect: " + section + "\r\nINI Item: " + item +
                           "\r\nINI Val: " + now + "\r\n" + (old ? "INI Old: old" + S(i) + "\r\n" : "");
    }
    // An item the user has already set back to its old value: the run
    // changes nothing there, and no DONE row may claim it. Chosen by the
    // product's number, so that the other products stay as they were.
    if (p.n % 3 == 1) {
        WritePrivateProfileStringA(section.c_str(), "Back", "old value", ini.c_str());
        b[p.n % 2] += "INI File: " + ini + "\r\nINI Sect: " + section + "\r\nINI Item: Back\r\n"
                      "INI Val: new value\r\nINI Old: old value\r\n";
    }
    if (rng.Below(4) == 0) {    // an INI file the product made
        std::string made = p.root + "\\MADE.INI";
        MakeFile(made, "[S]\r\nK=v\r\n");
        p.iniFiles.push_back(made);
        b[rng.Below(2)] += "INI New: \r\nINI File: " + made + "\r\n";
    }
}

void AddRegistry(TestRng &rng, Generated &p, std::string *b)
{
    std::string base = std::string(RegTop) + "\\P" + S(p.n);
    static const char *const paths[] = {"", "\\A", "\\A\\B", "\\C\\D\\E"};
    int values = (int)rng.Below(5);
    for (int i = 0; i < values; i++) {     // values the product made
        int r = (int)rng.Below(2);
        std::string key = base + paths[rng.Below(4)], name = "V" + S(i);
        if (rng.Below(6) == 0)
            MakeKey(Roots[r], key);     // the user has deleted the value already
        else
            SetRegString(Roots[r], key, name.c_str(), "made");
        b[rng.Below(2)] += "RegDB Key: " + key + "\r\nRegDB Val: made\r\nRegDB Name: " + name +
                           "\r\nRegDB Type: 0\r\nRegDB Root: " + RootNumbers[r] + "\r\n";
    }
    int keys = (int)rng.Below(3);
    for (int i = 0; i < keys; i++) {       // keys the product made, without a value name
        int r = (int)rng.Below(2);
        std::string key = base + "\\K" + S(i), data;
        switch (rng.Below(4)) {
        case 0:
            MakeKey(Roots[r], key);
            break;
        case 1:
            data = "default";
            SetRegString(Roots[r], key, "", data);
            break;
        case 2:
            SetRegString(Roots[r], key, "User", "the user's");
            break;
        default:
            SetRegString(Roots[r], key + "\\Sub", "User", "the user's");
            break;
        }
        b[rng.Below(2)] += "RegDB Key: " + key + "\r\nRegDB Val: " + data + "\r\nRegDB Root: " + RootNumbers[r] +
                           "\r\n";
    }
    int changed = (int)rng.Below(4);
    for (int i = 0; i < changed; i++) {    // values the product changed
        int r = (int)rng.Below(2), type = (int)rng.Below(5);
        std::string key = base + "\\Prefs", name = "C" + S(i);
        SetRegString(Roots[r], key, "User", "the user's");
        Typed t = MakeTyped(type, i);
        // Now and then the user has already put the old value back.
        SetRegValue(Roots[r], key, name.c_str(), t.regType, rng.Below(5) == 0 ? t.oldBytes : t.newBytes);
        std::string &blk = b[rng.Below(2)];
        blk += "RegDB Key: " + key + "\r\nRegDB Val: " + t.newText + "\r\nRegDB Name: " + name + "\r\nRegDB Type: " +
               S(type) + "\r\nRegDB Root: " + RootNumbers[r] + "\r\n";
        for (const std::string &line : t.oldLines)
            blk += "RegDB Old: " + line + "\r\n";
    }
    if (rng.Below(4) == 0) {               // a tree the product added
        int r = (int)rng.Below(2);
        SetRegString(Roots[r], base + "\\Tree\\X\\Y", "v", "1");
        SetRegString(Roots[r], base + "\\Tree", "w", "2");
        b[rng.Below(2)] += "RegDB Tree: " + base + "\\Tree\r\nRegDB Root: " + RootNumbers[r] + "\r\n";
    }
}

} // namespace

void PrepareGenerated()
{
    RemoveTreeForTest(GeneratedTop);
    CreateDirectoryA(GeneratedTop, NULL);
    // Other products' values keep the shared key: the walk up stops there.
    for (HKEY root : Roots)
        SetRegString(root, RegTop, "Anchor", "other products");
}

Generated Generate(TestRng &rng, int n, const std::string &win)
{
    Generated p;
    p.n = n;
    p.root = std::string(GeneratedTop) + "\\P" + S(n);
    p.rollback = n % 4 == 1;
    RemoveTreeForTest(p.root);
    std::string b[2] = {"***  Installation Log\r\nTitle: Generated " + S(n) + "\r\nUninstall MIF: KVD" + S(n) +
                            ".MIF\r\n",
                        "***  Upgrade\r\n"};
    p.report = win + "\\KVD" + S(n) + ".RPT";
    p.status = win + "\\KVD" + S(n) + ".MIF";
    DeleteFileA(p.report.c_str());
    DeleteFileA(p.status.c_str());
    b[0] += "Made Dir: " + p.root + "\r\n";
    CreateDirectoryA(p.root.c_str(), NULL);
    std::vector<std::string> folders = {p.root};
    int subs = (int)rng.Below(3);
    for (int s = 0; s < subs; s++) {
        folders.push_back(p.root + "\\S" + S(s));
        CreateDirectoryA(folders.back().c_str(), NULL);
        b[0] += "Made Dir: " + folders.back() + "\r\n";
    }
    // The log lies in the product's folder, or in one the log does not record.
    std::string logDir = rng.Below(4) == 0 ? std::string(GeneratedTop) + "\\L" + S(n) : p.root;
    p.log = logDir + "\\INSTALL.LOG";
    AddFiles(rng, p, b, folders, win, rng.Below(4) == 0);
    AddIni(rng, p, b);
    AddRegistry(rng, p, b);
    if (n % GENERATED_BATCH == 2) {
        p.engine = true;
        SetRegString(HKEY_LOCAL_MACHINE, EngineKey, "UseCount", "3");
        b[rng.Below(2)] += "SubSystem: BDE\r\n";
    }
    if (n % 16 == 6) {
        p.service = "KvDiffSvc" + S(n);
        // The service writes its own record, outside the product.
        EXPECT_TRUE(CreateRunningService(p.service, ScratchDir("diff_service") + "\\service.txt"))
            << "the test service did not start";
        b[rng.Below(2)] += "Create Service: " + p.service + "\r\n";
    }
    // A program to run at the uninstall; what it writes lies outside the
    // product's folders (a preview cannot know what a program will write).
    if (n % 8 == 3)
        b[rng.Below(2)] += "Execute Path: C:\\windows\\system32\\cmd.exe /c echo ran> " + p.root + "RAN.TXT\r\n";
    p.logText = b[0] + b[1];
    MakeFile(p.log, p.logText);
    return p;
}

void RemoveGenerated(const Generated &p)
{
    if (!p.service.empty())
        StopAndDeleteService(p.service);
    RemoveTreeForTest(p.root);
    RemoveTreeForTest(std::string(GeneratedTop) + "\\L" + S(p.n));
    for (HKEY root : Roots)
        CleanKey(root, std::string(RegTop) + "\\P" + S(p.n));
    DeleteFileA((p.root + ".INI").c_str());
    DeleteFileA((p.root + "RAN.TXT").c_str());
    DeleteFileA(p.report.c_str());
    DeleteFileA(p.status.c_str());
    for (const std::string &f : p.sysFiles)
        DeleteFileA(f.c_str());
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedKey, 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
        for (const std::string &v : p.sharedValues)
            RegDeleteValueA(k, v.c_str());
        RegCloseKey(k);
    }
    if (p.engine)
        CleanKey(HKEY_LOCAL_MACHINE, "Software\\Borland");
}

void FinishGenerated()
{
    RemoveTreeForTest(GeneratedTop);
    for (HKEY root : Roots)
        CleanKey(root, RegTop);
}
