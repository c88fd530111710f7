// The shipped 32-bit program on 64-bit Windows (WoW64; this program runs only
// in the 64-bit prefix, KV_WOW64=1): what it removes and restores must land in
// the 32-bit view the installer wrote to (SysWOW64, Wow6432Node), and the
// 64-bit view beside it must stay as it was.
#include <gtest/gtest.h>
#include <string.h>
#include "kvtest.h"
#include "base/wow64.h"

namespace {

const char Sys[] = "C:\\windows\\system32\\";
const char SharedKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char AppKey[] = "Software\\KvWow\\App";

typedef BOOL(WINAPI *IsWow64Fn)(HANDLE, PBOOL);
typedef BOOL(WINAPI *RedirOffFn)(PVOID *);
typedef BOOL(WINAPI *RedirBackFn)(PVOID);

bool RunsUnderWow64()
{
    IsWow64Fn fn = (IsWow64Fn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow = FALSE;
    return fn && fn(GetCurrentProcess(), &wow) && wow;
}

// Runs f with the file-system redirection off: C:\windows\system32 is then
// the 64-bit System32 and C:\windows\syswow64 the folder it stands for.
void Native(const std::function<void()> &f)
{
    HMODULE k = GetModuleHandleA("kernel32.dll");
    RedirOffFn off = (RedirOffFn)(void *)GetProcAddress(k, "Wow64DisableWow64FsRedirection");
    RedirBackFn back = (RedirBackFn)(void *)GetProcAddress(k, "Wow64RevertWow64FsRedirection");
    ASSERT_TRUE(off && back);
    PVOID old = NULL;
    ASSERT_TRUE(off(&old));
    f();
    ASSERT_TRUE(back(old));
}

std::string NativeRead(const std::string &path)
{
    std::string out;
    Native([&] { out = PathExists(path) ? ReadFileBytes(path) : "<none>"; });
    return out;
}

// A value in one registry view of HKLM (KEY_WOW64_64KEY or KEY_WOW64_32KEY);
// "<none>" when missing.
std::string ViewValue(REGSAM view, const std::string &key, const char *name)
{
    HKEY h;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE | view, &h) != ERROR_SUCCESS)
        return "<none>";
    char data[256] = "";
    DWORD type = 0, size = sizeof data - 1;
    LONG rc = RegQueryValueExA(h, name, NULL, &type, (BYTE *)data, &size);
    RegCloseKey(h);
    if (rc != ERROR_SUCCESS)
        return "<none>";
    if (type == REG_DWORD)
        return std::to_string(*(DWORD *)data);
    return std::string(data);
}

void SetViewValue(REGSAM view, const std::string &key, const char *name, DWORD type,
                  const void *data, DWORD size)
{
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS | view, NULL, &h, NULL)) << key;
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(h, name, 0, type, (const BYTE *)data, size));
    RegCloseKey(h);
}

void SetViewText(REGSAM view, const std::string &key, const char *name, const char *text)
{
    SetViewValue(view, key, name, REG_SZ, text, (DWORD)strlen(text) + 1);
}

void CleanView(REGSAM view, const std::string &key)
{
    typedef LONG(WINAPI * DeleteTreeFn)(HKEY, LPCSTR);
    DeleteTreeFn tree = (DeleteTreeFn)(void *)GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegDeleteTreeA");
    HKEY h;
    if (!tree || RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_ALL_ACCESS | view, &h) != ERROR_SUCCESS)
        return;
    tree(h, NULL);
    RegCloseKey(h);
    typedef LONG(WINAPI * DeleteKeyExFn)(HKEY, LPCSTR, REGSAM, DWORD);
    DeleteKeyExFn del = (DeleteKeyExFn)(void *)GetProcAddress(GetModuleHandleA("advapi32.dll"), "RegDeleteKeyExA");
    if (del)
        del(HKEY_LOCAL_MACHINE, key.c_str(), view, 0);
}

class Wow64 : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        ASSERT_TRUE(RunsUnderWow64()) << "this program checks WoW64 and runs only in the 64-bit prefix";
        dir = ScratchDir("Wow Product");
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
            CleanView(view, "Software\\KvWow");
    }
    void TearDown() override
    {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
            CleanView(view, "Software\\KvWow");
        RemoveTreeForTest(dir);
    }
};

TEST_F(Wow64, SystemFilesRegistryAndCountsStayInTheThirtyTwoBitView)
{
    // What the 32-bit installer made: it reached SysWOW64 and Wow6432Node.
    const std::string plain = std::string(Sys) + "KVWOW.DLL", own = std::string(Sys) + "KVWOWNS.DLL";
    const std::string shared = std::string(Sys) + "KVWOWSH.DLL";
    ASSERT_TRUE(WriteFileBytes(plain, "32-bit system file"));
    ASSERT_TRUE(WriteFileBytes(own, "32-bit product file"));
    ASSERT_TRUE(WriteFileBytes(shared, "32-bit shared file"));
    SetViewText(KEY_WOW64_32KEY, AppKey, "Path", "installed");
    SetViewText(KEY_WOW64_32KEY, AppKey, "Mode", "installed");
    DWORD two = 2, five = 5;
    // The 64-bit view beside it: the same names, which nothing may touch.
    Native([&] {
        for (const std::string &f : {plain, own, shared})
            ASSERT_TRUE(WriteFileBytes(f, "64-bit"));
    });
    SetViewText(KEY_WOW64_64KEY, AppKey, "Path", "64-bit");
    SetViewText(KEY_WOW64_64KEY, AppKey, "Mode", "64-bit");
    SetViewValue(KEY_WOW64_64KEY, SharedKey, shared.c_str(), REG_DWORD, &five, 4);
    SetViewValue(KEY_WOW64_32KEY, SharedKey, shared.c_str(), REG_DWORD, &two, 4);
    // Wine may share the counts' key between the views, as Windows 7 does.
    const bool countsShared = ViewValue(KEY_WOW64_64KEY, SharedKey, shared.c_str()) == "2";

    const std::string log = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(log, "***  Installation Started\r\nTitle: Wow Product\r\n"
                                    "File Copy: " + plain + "\r\n"
                                    "Non-System File:\r\nFile Copy: " + own + "\r\n"
                                    "File Copy: " + shared + "\r\n"
                                    "RegDB Key: " + AppKey + "\r\nRegDB Val: installed\r\nRegDB Name: Path\r\n"
                                    "RegDB Type: 0\r\nRegDB Root: 2\r\n"
                                    "RegDB Key: " + AppKey + "\r\nRegDB Val: installed\r\nRegDB Name: Mode\r\n"
                                    "RegDB Type: 0\r\nRegDB Root: 2\r\nRegDB Old: classic\r\n"));
    ChildRun run = RunChild(UninstallerPath(), "/S /E " + ShortOf(log), {}, 60000);
    ASSERT_TRUE(run.started);
    EXPECT_FALSE(run.timedOut);

    // The 32-bit view: the program's own file gone, the system file and the
    // shared one (count 2) kept, the count lowered, the values undone.
    EXPECT_FALSE(PathExists(own));
    EXPECT_EQ("32-bit system file", ReadFileBytes(plain));
    EXPECT_EQ("32-bit shared file", ReadFileBytes(shared));
    EXPECT_EQ("1", ViewValue(KEY_WOW64_32KEY, SharedKey, shared.c_str()));
    EXPECT_EQ("<none>", ViewValue(KEY_WOW64_32KEY, AppKey, "Path"));
    EXPECT_EQ("classic", ViewValue(KEY_WOW64_32KEY, AppKey, "Mode"));
    // On disk and in the registry that is SysWOW64 and Wow6432Node.
    EXPECT_EQ("<none>", NativeRead("C:\\windows\\syswow64\\KVWOWNS.DLL"));
    EXPECT_EQ("32-bit system file", NativeRead("C:\\windows\\syswow64\\KVWOW.DLL"));
    EXPECT_EQ("classic", ViewValue(KEY_WOW64_64KEY, "Software\\Wow6432Node\\KvWow\\App", "Mode"));
    // The 64-bit System32 and HKLM\Software are as they were.
    for (const std::string &f : {plain, own, shared})
        EXPECT_EQ("64-bit", NativeRead(f)) << f;
    EXPECT_EQ("64-bit", ViewValue(KEY_WOW64_64KEY, AppKey, "Path"));
    EXPECT_EQ("64-bit", ViewValue(KEY_WOW64_64KEY, AppKey, "Mode"));
    if (!countsShared) {
        EXPECT_EQ("5", ViewValue(KEY_WOW64_64KEY, SharedKey, shared.c_str()));
    }

    Native([&] {
        for (const std::string &f : {plain, own, shared})
            DeleteFileA(f.c_str());
    });
    DeleteFileA(plain.c_str());
    DeleteFileA(shared.c_str());
    HKEY h;
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SharedKey, 0, KEY_ALL_ACCESS | view, &h) == ERROR_SUCCESS) {
            RegDeleteValueA(h, shared.c_str());
            RegCloseKey(h);
        }
    }
}

// A system file in use is replaced by its backup at the restart. The record
// the 32-bit program leaves must, once applied, put the backup into SysWOW64
// and leave the 64-bit System32 alone.
TEST_F(Wow64, PendingRenamesOfA32BitProcessLandInSysWow64)
{
    const std::string file = std::string(Sys) + "KVWOWR.DLL", backup = dir + "\\KVWOWR.BAK";
    ASSERT_TRUE(WriteFileBytes(file, "version 2"));
    ASSERT_TRUE(WriteFileBytes(backup, "version 1"));
    Native([&] { ASSERT_TRUE(WriteFileBytes(file, "64-bit")); });
    const std::string log = dir + "\\INSTALL.LOG";
    ASSERT_TRUE(WriteFileBytes(log, "***  Installation Started\r\nTitle: Wow Restart\r\n"
                                    "File Copy: " + file + "\r\n"
                                    "***  Installation Started\r\n"
                                    "File Copy: " + file + "\r\nBackup Copy: " + backup + "\r\n"));
    HANDLE held = CreateFileA(file.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ChildRun run = RunChild(UninstallerPath(), "/A /R " + ShortOf(log) + " KvTest Wow",
                            {{"Uninstall", IDCANCEL, "", false, 0, "",
                              [&](HWND) { CloseHandle(held); held = INVALID_HANDLE_VALUE; }}});
    if (held != INVALID_HANDLE_VALUE)
        CloseHandle(held);
    EXPECT_FALSE(run.timedOut);
    ASSERT_FALSE(run.dialogs.empty()) << "the restart question";
    std::string pending = PendingRenames();
    std::string lower = pending;
    CharLowerA(&lower[0]);
    EXPECT_NE(std::string::npos, lower.find("\\syswow64\\kvwowr.dll")) << pending;
    EXPECT_EQ("version 2", ReadFileBytes(file)) << "nothing happens before the restart";

    ASSERT_EQ(0u, RunAndWait("wineboot.exe -r"));
    EXPECT_EQ("version 1", ReadFileBytes(file)) << pending;
    EXPECT_EQ("version 1", NativeRead("C:\\windows\\syswow64\\KVWOWR.DLL"));
    EXPECT_EQ("64-bit", NativeRead(file)) << "the 64-bit System32 keeps its own file";
    DeleteFileA(file.c_str());
    Native([&] { DeleteFileA(file.c_str()); });
}

// The record's paths, as the program rewrites them for the 64-bit system.
TEST(Wow64Paths, SystemFolderBecomesSysWow64ElseUnchanged)
{
    ASSERT_TRUE(RunsUnderWow64());
    std::string sysShort = ShortOf("C:\\windows\\system32");
    struct Row { std::string in, out; int rc; } rows[] = {
        {"C:\\windows\\system32\\A.DLL", "C:\\windows\\syswow64\\A.DLL", 1},
        {"c:\\WINDOWS\\SYSTEM32\\~KVU0000.TMP", "C:\\windows\\syswow64\\~KVU0000.TMP", 1},
        {sysShort + "\\B.DLL", "C:\\windows\\syswow64\\B.DLL", 1},
        {"C:\\windows\\system32\\sub\\C.DLL", "C:\\windows\\syswow64\\sub\\C.DLL", 1},
        // Places the redirector leaves alone, and places beside it.
        {"C:\\windows\\system32\\drivers\\etc\\hosts", "C:\\windows\\system32\\drivers\\etc\\hosts", 0},
        {"C:\\windows\\system32\\spool\\X", "C:\\windows\\system32\\spool\\X", 0},
        {"C:\\windows\\system32x\\D.DLL", "C:\\windows\\system32x\\D.DLL", 0},
        {"C:\\windows\\E.DLL", "C:\\windows\\E.DLL", 0},
        {"C:\\windows\\system32", "C:\\windows\\system32", 0},
        {"D:\\windows\\system32\\F.DLL", "D:\\windows\\system32\\F.DLL", 0},
    };
    for (const Row &r : rows) {
        char out[MAX_PATH] = "sentinel";
        EXPECT_EQ(r.rc, NativeSystemPath(out, sizeof out, r.in.c_str())) << r.in;
        EXPECT_STRCASEEQ(r.out.c_str(), out) << r.in;
    }
    // Exact fit, and one byte short: nothing is cut into another path.
    const char in[] = "C:\\windows\\system32\\A.DLL";
    char fit[sizeof in] = "sentinel", small[sizeof in - 1] = "sentinel";
    EXPECT_EQ(1, NativeSystemPath(fit, sizeof fit, in));
    EXPECT_STRCASEEQ("C:\\windows\\syswow64\\A.DLL", fit);
    EXPECT_EQ(-1, NativeSystemPath(small, sizeof small, in));
    EXPECT_STREQ("", small);
}

} // namespace
