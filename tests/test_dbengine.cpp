// The database engine's use count, its configuration trees and the prompt
// to stop the local server.
#include <gtest/gtest.h>
#include <string.h>
#include "support/kvtest.h"
#include "app/state.h"
#include "engine/dbengine.h"

namespace {

const char Vendor[] = "Software\\Borland";
const char Engine[] = "Software\\Borland\\Database Engine";
const char Link[] = "Software\\Borland\\BLW32";

// Depth-first key removal for cleaning up (the NT registry refuses to delete
// a key that still has sub-keys).
void CleanKey(HKEY root, const std::string &key)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
        char name[256];
        DWORD size = sizeof name;
        std::vector<std::string> subs;
        for (DWORD i = 0; size = sizeof name,
                          RegEnumKeyExA(k, i, name, &size, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
             i++)
            subs.push_back(name);
        RegCloseKey(k);
        for (const std::string &s : subs)
            CleanKey(root, key + "\\" + s);
    }
    RegDeleteKeyA(root, key.c_str());
}

bool KeyExists(const char *key)
{
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

void SetValue(const char *key, const char *name, DWORD type, const std::string &bytes)
{
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, key, 0, NULL, 0, KEY_ALL_ACCESS,
                                             NULL, &k, NULL));
    RegSetValueExA(k, name, 0, type, (const BYTE *)bytes.data(), (DWORD)bytes.size());
    RegCloseKey(k);
}

std::string ReadCount(DWORD *type)
{
    *type = 0;
    HKEY k;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, Engine, 0, KEY_READ, &k) != ERROR_SUCCESS)
        return "";
    char buf[256];
    DWORD size = sizeof buf;
    std::string out;
    if (RegQueryValueExA(k, "UseCount", NULL, type, (BYTE *)buf, &size) == ERROR_SUCCESS)
        out.assign(buf, size);
    RegCloseKey(k);
    return out;
}

// The engine's configuration as an installation leaves it.
void Configure(DWORD type, const std::string &count)
{
    SetValue(Engine, "UseCount", type, count);
    SetValue((std::string(Engine) + "\\Settings\\Drivers").c_str(), "v", REG_SZ, "x");
    SetValue((std::string(Link) + "\\Links").c_str(), "v", REG_SZ, "x");
}

std::string Dword(DWORD v)
{
    return std::string((const char *)&v, 4);
}

LRESULT CALLBACK ServerProc(HWND w, UINT m, WPARAM wp, LPARAM lp)
{
    return DefWindowProcA(w, m, wp, lp);
}

// A stand-in for the running local server: a window of its class.
HWND StartServerWindow()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ServerProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "IB_Server";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "IB_Server", "", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL,
                           wc.hInstance, NULL);
}

class DbEngine : public ::testing::Test {
protected:
    void SetUp() override { CleanKey(HKEY_LOCAL_MACHINE, Vendor); }
    void TearDown() override
    {
        StopAnswering();
        CleanKey(HKEY_LOCAL_MACHINE, Vendor);
    }
};

TEST_F(DbEngine, CountAboveOneIsLoweredAndWrittenAsText)
{
    struct Row { const char *name; DWORD type; std::string count; std::string want; };
    const std::vector<Row> rows = {
        {"string 3", REG_SZ, std::string("3\0", 2), std::string("2\0", 2)},
        {"string 12", REG_SZ, std::string(" 12x\0", 5), std::string("11\0", 3)},
        {"dword 3", REG_DWORD, Dword(3), std::string("2\0", 2)},
        {"binary 4 bytes", REG_BINARY, Dword(100), std::string("99\0", 3)},
    };
    for (const Row &r : rows) {
        Configure(r.type, r.count);
        EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine()) << r.name;
        DWORD type;
        EXPECT_EQ(r.want, ReadCount(&type)) << r.name;
        EXPECT_EQ((DWORD)REG_SZ, type) << r.name;
        EXPECT_TRUE(KeyExists(Link)) << r.name;
    }
}

TEST_F(DbEngine, CountBelowOneOrUnknownChangesNothing)
{
    struct Row { const char *name; DWORD type; std::string count; };
    const std::vector<Row> rows = {
        {"string 0", REG_SZ, std::string("0\0", 2)},
        {"string -2", REG_SZ, std::string("-2\0", 3)},
        {"string abc", REG_SZ, std::string("abc\0", 4)},
        {"dword -1", REG_DWORD, Dword(0xFFFFFFFF)},
        {"binary 3 bytes", REG_BINARY, std::string("\x01\0\0", 3)},
        {"multi", REG_MULTI_SZ, std::string("1\0\0", 3)},
    };
    for (const Row &r : rows) {
        Configure(r.type, r.count);
        EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine()) << r.name;
        DWORD type;
        EXPECT_EQ(r.count, ReadCount(&type)) << r.name;
        EXPECT_EQ(r.type, type) << r.name;
        EXPECT_TRUE(KeyExists(Link)) << r.name;
    }
}

TEST_F(DbEngine, NoKeyOrNoCountChangesNothing)
{
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_FALSE(KeyExists(Engine));
    SetValue(Engine, "Other", REG_SZ, std::string("1\0", 2));
    SetValue(Link, "v", REG_SZ, std::string("1\0", 2));
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_TRUE(KeyExists(Engine));
    EXPECT_TRUE(KeyExists(Link));
}

TEST_F(DbEngine, LastUserDeletesBothTreesAndAnEmptyVendorKey)
{
    Configure(REG_SZ, std::string("1\0", 2));
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_FALSE(KeyExists(Engine));
    EXPECT_FALSE(KeyExists(Link));
    EXPECT_FALSE(KeyExists(Vendor));

    // Another product's key keeps the vendor key; so does a value of its own.
    Configure(REG_DWORD, Dword(1));
    SetValue("Software\\Borland\\Other", "v", REG_SZ, "x");
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_FALSE(KeyExists(Engine));
    EXPECT_TRUE(KeyExists("Software\\Borland\\Other"));

    CleanKey(HKEY_LOCAL_MACHINE, Vendor);
    Configure(REG_BINARY, Dword(1));
    SetValue(Vendor, "Own", REG_SZ, "x");
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_FALSE(KeyExists(Link));
    EXPECT_TRUE(KeyExists(Vendor));
}

TEST_F(DbEngine, RunningServerPromptAbortRetryIgnore)
{
    HWND server = StartServerWindow();
    ASSERT_TRUE(server != NULL);

    Configure(REG_SZ, std::string("1\0", 2));
    AnswerDialogs({IDABORT});
    EXPECT_EQ(DB_ABORT, RemoveDatabaseEngine());
    EXPECT_EQ(0, StopAnswering());
    DWORD type;
    EXPECT_EQ(std::string("1\0", 2), ReadCount(&type));
    EXPECT_TRUE(KeyExists(Link));

    // Retry with the window still there asks again; Ignore goes on. An
    // unexpected further question would get Abort and show in the result.
    AnswerDialogs({IDRETRY, IDRETRY, IDIGNORE, IDABORT});
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_EQ(1, StopAnswering());
    EXPECT_FALSE(KeyExists(Engine));
    EXPECT_FALSE(KeyExists(Link));

    // Retry after the server has stopped: no further question.
    Configure(REG_SZ, std::string("1\0", 2));
    AnswerDialogs({IDRETRY, IDABORT});
    PostMessageA(server, WM_CLOSE, 0, 0);   // handled while the box is open
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_EQ(1, StopAnswering());
    EXPECT_FALSE(IsWindow(server));
    EXPECT_FALSE(KeyExists(Engine));
    if (IsWindow(server))
        DestroyWindow(server);
}

}  // namespace
