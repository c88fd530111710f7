// Canary runs end to end: mutated logs of a small product go through the
// real UNINSTAL.EXE /S. Before each run, canaries (files, folders, INI items,
// registry values) are planted beside and under the product's own, with
// shared name prefixes (C:\KVAPP beside C:\KVAPPX), and reached through
// hostile spellings in the log: relative names, dot components, doubled
// backslashes, protected folders and keys. None may change.
// KV_CANARY_COUNT (default 12) and KV_CANARY_SEED choose the run.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include "support/kvtest.h"

namespace {

using Rng = TestRng;

const std::string App = "C:\\KVAPP";
std::string Win, Sys;

// Canary files: none is named plainly by any log below.
std::vector<std::string> CanaryFiles()
{
    return {"C:\\KVAPPX\\keep.txt", "C:\\KVAPP.TXT", App + "\\user.doc", App + "\\DATA\\notes\\user.txt",
            Win + "\\KVCANARY.INI", Sys + "\\KVCANARY.DLL", "C:\\users\\Public\\KVCANARY.TXT",
            "C:\\Program Files\\KvOther\\keep.exe"};
}

struct RegCanary {
    HKEY root;
    const char *key, *name;
};
const RegCanary RegCanaries[] = {
    {HKEY_CURRENT_USER, "Software\\KvAppX", "Keep"},
    {HKEY_CURRENT_USER, "Software\\KvCanary", "Keep"},
    {HKEY_LOCAL_MACHINE, "Software\\KvCanary", "Keep"},
    {HKEY_CURRENT_USER, "Software\\KvApp", "Canary"},
    {HKEY_CLASSES_ROOT, "KvCanary.Document", "Keep"},
};

void Plant()
{
    for (const std::string &f : CanaryFiles())
        MakeFile(f, "canary " + f);
    // The product.
    for (const char *f : {"\\A.EXE", "\\B.DLL", "\\B.BAK", "\\DATA\\D.DAT", "\\TREE\\T1.TXT", "\\TREE\\S\\T2.TXT"})
        MakeFile(App + f, std::string("product ") + f);
    MakeFile(App + "\\APP.INI", "[S]\r\nK=product\r\nCanary=1\r\n");
    WritePrivateProfileStringA("KvCanary", "Keep", "1", "WIN.INI");
    WritePrivateProfileStringA("KvApp", "K", "product", "WIN.INI");
    for (const RegCanary &c : RegCanaries)
        SetRegString(c.root, c.key, c.name, std::string("canary ") + c.key);
    SetRegString(HKEY_CURRENT_USER, "Software\\KvApp", "Created", "product");
    SetRegString(HKEY_CURRENT_USER, "Software\\KvApp\\Tree\\Deep", "V", "product");
}

// What the canaries hold now, as one text.
std::string Snapshot()
{
    std::string s;
    for (const std::string &f : CanaryFiles()) {
        bool ok = false;
        std::string bytes = ReadFileBytes(f, &ok);
        s += f + "=" + (ok ? bytes : "<missing>") + "\n";
    }
    s += "win.ini KvCanary=" + IniRead("WIN.INI", "KvCanary", "Keep") + "\n";
    s += "app.ini Canary=" + IniRead(App + "\\APP.INI", "S", "Canary") + "\n";
    for (const RegCanary &c : RegCanaries)
        s += std::string(c.key) + "\\" + c.name + "=" + ReadRegText(c.root, c.key, c.name) + "\n";
    for (const char *d : {"C:\\KVAPPX", "C:\\users", "C:\\Program Files", "C:\\users\\Public"})
        s += std::string(d) + (PathExists(d) ? " here" : " gone") + "\n";
    return s;
}

std::string BaseLog()
{
    return "***  Installation Log\r\nTitle: Canary Orders\r\n"
           "Made Dir: " + App + "\r\nMade Dir: " + App + "\\DATA\r\n"
           "File Copy: " + App + "\\A.EXE\r\n"
           "File Overwrite: " + App + "\\B.DLL\r\nBackup Copy: " + App + "\\B.BAK\r\n"
           "File Copy: " + App + "\\DATA\\D.DAT\r\n"
           "File Tree: " + App + "\\TREE\r\n"
           "INI File: " + App + "\\APP.INI\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: product\r\n"
           "INI File: " + Win + "\\WIN.INI\r\nINI Sect: KvApp\r\nINI Item: K\r\nINI Val: product\r\n"
           "RegDB Key: Software\\KvApp\r\nRegDB Val: v\r\nRegDB Name: Created\r\nRegDB Root: 1\r\n"
           "RegDB Tree: Software\\KvApp\\Tree\r\nRegDB Root: 1\r\n";
}

// Hostile spellings: each reaches a canary, a protected folder or key, or
// names nothing plainly.
const char *const HostilePaths[] = {
    "KVAPPX\\keep.txt", "..\\KVAPPX\\keep.txt", "C:\\KVAPP\\..\\KVAPPX\\keep.txt", "C:\\KVAPP\\\\..\\KVAPPX",
    "C:\\KVAPPX.", "C:\\KVAPPX ", "C:\\KVAPPX\\.", "C:/KVAPPX/keep.txt", "\\\\?\\C:\\KVAPPX\\keep.txt",
    "C:\\KVAPP.TXT.", "C:\\KVAPP\\.\\user.doc", "C:\\KVAPP\\\\user.doc", "user.doc", "C:\\users",
    "C:\\users\\Public", "C:\\Program Files", "C:\\", "C:", "C:\\windows", "C:\\windows\\system32",
    "C:\\windows\\system32\\\\KVCANARY.DLL", "C:\\windows\\.\\KVCANARY.INI", "KVCANARY.INI", "WIN.INI",
    "C:\\KVAPP\\DATA\\notes\\..\\..\\user.doc", "\\KVAPPX", "C:KVAPPX"};
const char *const FileTags[] = {"File Copy: ", "Shell Link: ", "File Tree: ", "Made Dir: ", "INI New: x\r\nINI File: ",
                                "File Edit: ", "Self-Register: ", "Add Device: "};
const char *const HostileKeys[] = {"Software", "Software\\", "SOFTWARE", "", "\\", "Software\\Microsoft",
                                   "Software\\Classes", "CLSID", "*", ".txt"};

std::string Mutated(Rng &rng)
{
    std::string log = BaseLog();
    int lines = 1 + (int)rng.Below(4);
    for (int i = 0; i < lines; i++) {
        std::string add;
        switch (rng.Below(5)) {
        case 0:
        case 1:
            add = std::string(FileTags[rng.Below(sizeof FileTags / sizeof *FileTags)]) +
                  HostilePaths[rng.Below(sizeof HostilePaths / sizeof *HostilePaths)] + "\r\n";
            if (rng.Below(3) == 0)
                add += std::string("Backup Copy: ") + HostilePaths[rng.Below(sizeof HostilePaths / sizeof *HostilePaths)] +
                       "\r\n";
            break;
        case 2:
            add = std::string("RegDB Tree: ") + HostileKeys[rng.Below(sizeof HostileKeys / sizeof *HostileKeys)] +
                  "\r\nRegDB Root: " + std::to_string(rng.Below(5)) + "\r\n";
            break;
        case 3:
            add = std::string("RegDB Key: ") + HostileKeys[rng.Below(sizeof HostileKeys / sizeof *HostileKeys)] +
                  "\r\nRegDB Val: v\r\nRegDB Name: Keep\r\nRegDB Root: " + std::to_string(rng.Below(5)) + "\r\n";
            break;
        default: {  // a NUL byte, a stray marker or header inside the base lines
            const char *const odd[] = {"Non-System File:\r\n", "***  again\r\n", "Shared DLL counter ignored:\r\n"};
            add = rng.Below(2) ? std::string(odd[rng.Below(3)])
                               : std::string("File Tree: C:\\KVAPP") + std::string(1, '\0') + "X\\..\r\n";
            break;
        }
        }
        // Somewhere after the title.
        size_t title = log.find("\r\n", log.find("Title:")) + 2;
        size_t at = title;
        for (unsigned k = rng.Below(12); k > 0; k--) {
            size_t next = log.find("\r\n", at);
            if (next == std::string::npos)
                break;
            at = next + 2;
        }
        log.insert(at, add);
    }
    return log;
}

void Clean()
{
    for (const std::string &f : CanaryFiles())
        DeleteFileA(f.c_str());
    RemoveTreeForTest(App);
    RemoveTreeForTest("C:\\KVAPPX");
    RemoveTreeForTest("C:\\Program Files\\KvOther");
    for (const RegCanary &c : RegCanaries)
        CleanKey(c.root, c.key);
    CleanKey(HKEY_CURRENT_USER, "Software\\KvApp");
    WritePrivateProfileStringA("KvCanary", NULL, NULL, "WIN.INI");
    WritePrivateProfileStringA("KvApp", NULL, NULL, "WIN.INI");
}

TEST(Canary, MutatedLogsTouchNothingOutsideTheProduct)
{
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    Win = buf;
    GetSystemDirectoryA(buf, sizeof buf);
    Sys = buf;
    std::string bin = ScratchDir("canary_bin");
    std::string program = bin + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));

    // Positive control: the log as written removes the product and keeps
    // every canary.
    Clean();
    Plant();
    std::string before = Snapshot();
    ASSERT_TRUE(WriteFileBytes(App + "\\INSTALL.LOG", BaseLog()));
    ChildRun run = RunChild(program, "/S " + App + "\\INSTALL.LOG", {}, 60000);
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timedOut);
    EXPECT_FALSE(PathExists(App + "\\A.EXE"));
    EXPECT_FALSE(PathExists(App + "\\TREE"));
    EXPECT_EQ("<none>", ReadRegText(HKEY_CURRENT_USER, "Software\\KvApp", "Created"));
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, "Software\\KvApp\\Tree"));
    EXPECT_EQ(before, Snapshot());

    const char *countText = getenv("KV_CANARY_COUNT"), *seedText = getenv("KV_CANARY_SEED");
    int count = countText && atoi(countText) > 0 ? atoi(countText) : 12;
    Rng rng{seedText && strtoull(seedText, NULL, 10) ? strtoull(seedText, NULL, 10) : 0xC0FFEE1234567ull};
    int changed = 0;
    for (int n = 0; n < count; n++) {
        Clean();
        Plant();
        before = Snapshot();
        std::string log = Mutated(rng);
        ASSERT_TRUE(WriteFileBytes(App + "\\INSTALL.LOG", log));
        run = RunChild(program, "/S " + App + "\\INSTALL.LOG", {}, 60000);
        ASSERT_TRUE(run.started);
        EXPECT_FALSE(run.timedOut) << "log " << n;
        std::string after = Snapshot();
        if (after != before && ++changed <= 3) {
            std::string shown;
            for (char c : log)
                shown += c == 0 ? std::string("<NUL>") : c == '\r' ? std::string("") : std::string(1, c);
            ADD_FAILURE() << "log " << n << " changed a canary:\nbefore:\n" << before << "after:\n" << after
                          << "log:\n" << shown;
        }
    }
    Clean();
    printf("canary: %d logs, %d changed a canary\n", count, changed);
    EXPECT_EQ(0, changed);
}

} // namespace

namespace {

// A block that ends in a stray marker must not swallow the next block's
// header: a rollback then undoes the last installation only, and the log
// keeps the first.
TEST(Canary, StrayMarkerDoesNotMergeTwoInstallations)
{
    std::string bin = ScratchDir("canary_bin2");
    std::string program = bin + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    const std::string app = "C:\\KVSTRAY";
    RemoveTreeForTest(app);
    MakeFile(app + "\\FIRST.EXE", "first");
    MakeFile(app + "\\SECOND.EXE", "second");
    std::string block1 = "***  Installation Log\r\nTitle: Stray\r\nMade Dir: " + app + "\r\nFile Copy: " + app +
                         "\\FIRST.EXE\r\nNon-System File:\r\n";
    std::string block2 = "***  Upgrade\r\nFile Copy: " + app + "\\SECOND.EXE\r\n";
    ASSERT_TRUE(WriteFileBytes(app + "\\INSTALL.LOG", block1 + block2));
    ChildRun run = RunChild(program, "/S /R " + app + "\\INSTALL.LOG", {}, 60000);
    ASSERT_TRUE(run.started);
    ASSERT_FALSE(run.timedOut);
    EXPECT_FALSE(PathExists(app + "\\SECOND.EXE"));
    EXPECT_EQ("first", ReadFileBytes(app + "\\FIRST.EXE"));
    EXPECT_EQ(block1, ReadFileBytes(app + "\\INSTALL.LOG"));
    RemoveTreeForTest(app);
}

} // namespace
