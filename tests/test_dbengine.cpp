// The database engine's use count, its configuration trees and the prompt
// to stop the local server.
#include <gtest/gtest.h>
#include <string.h>
#include "support/kvtest.h"
#include "base/state.h"
#include "engine/dbengine.h"

namespace {

const char Vendor[] = "Software\\Borland";
const char Engine[] = "Software\\Borland\\Database Engine";
const char Link[] = "Software\\Borland\\BLW32";

std::string ReadCount(DWORD *type)
{
    return ReadRegValue(HKEY_LOCAL_MACHINE, Engine, "UseCount", type);
}

// The engine's configuration as an installation leaves it.
void Configure(DWORD type, const std::string &count)
{
    SetRegValue(HKEY_LOCAL_MACHINE, Engine, "UseCount", type, count);
    SetRegValue(HKEY_LOCAL_MACHINE, std::string(Engine) + "\\Settings\\Drivers", "v", REG_SZ, "x");
    SetRegValue(HKEY_LOCAL_MACHINE, std::string(Link) + "\\Links", "v", REG_SZ, "x");
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
        {"dword 3", REG_DWORD, DwordBytes(3), std::string("2\0", 2)},
        {"binary 4 bytes", REG_BINARY, DwordBytes(100), std::string("99\0", 3)},
    };
    for (const Row &r : rows) {
        Configure(r.type, r.count);
        EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine()) << r.name;
        DWORD type;
        EXPECT_EQ(r.want, ReadCount(&type)) << r.name;
        EXPECT_EQ((DWORD)REG_SZ, type) << r.name;
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Link)) << r.name;
    }
}

TEST_F(DbEngine, CountBelowOneOrUnknownChangesNothing)
{
    struct Row { const char *name; DWORD type; std::string count; };
    const std::vector<Row> rows = {
        {"string 0", REG_SZ, std::string("0\0", 2)},
        {"string -2", REG_SZ, std::string("-2\0", 3)},
        {"string abc", REG_SZ, std::string("abc\0", 4)},
        {"dword -1", REG_DWORD, DwordBytes(0xFFFFFFFF)},
        {"binary 3 bytes", REG_BINARY, std::string("\x01\0\0", 3)},
        {"multi", REG_MULTI_SZ, std::string("1\0\0", 3)},
    };
    for (const Row &r : rows) {
        Configure(r.type, r.count);
        EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine()) << r.name;
        DWORD type;
        EXPECT_EQ(r.count, ReadCount(&type)) << r.name;
        EXPECT_EQ(r.type, type) << r.name;
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Link)) << r.name;
    }
}

TEST_F(DbEngine, NoKeyOrNoCountChangesNothing)
{
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Engine));
    SetRegValue(HKEY_LOCAL_MACHINE, Engine, "Other", REG_SZ, std::string("1\0", 2));
    SetRegValue(HKEY_LOCAL_MACHINE, Link, "v", REG_SZ, std::string("1\0", 2));
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Engine));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Link));
}

TEST_F(DbEngine, LastUserDeletesBothTreesAndAnEmptyVendorKey)
{
    Configure(REG_SZ, std::string("1\0", 2));
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Engine));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Link));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Vendor));

    // Another product's key keeps the vendor key; so does a value of its own.
    Configure(REG_DWORD, DwordBytes(1));
    SetRegValue(HKEY_LOCAL_MACHINE, "Software\\Borland\\Other", "v", REG_SZ, "x");
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Engine));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "Software\\Borland\\Other"));

    CleanKey(HKEY_LOCAL_MACHINE, Vendor);
    Configure(REG_BINARY, DwordBytes(1));
    SetRegValue(HKEY_LOCAL_MACHINE, Vendor, "Own", REG_SZ, "x");
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Link));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Vendor));

    // A value whose name is longer than the enumeration buffer counts too.
    CleanKey(HKEY_LOCAL_MACHINE, Vendor);
    Configure(REG_SZ, std::string("1\0", 2));
    SetRegValue(HKEY_LOCAL_MACHINE, Vendor, std::string(300, 'n').c_str(), REG_SZ, "x");
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Engine));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Vendor));
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
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Link));

    // Retry with the window still there asks again; Ignore goes on. An
    // unexpected further question would get Abort and show in the result.
    AnswerDialogs({IDRETRY, IDRETRY, IDIGNORE, IDABORT});
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_EQ(1, StopAnswering());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Engine));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Link));

    // Retry after the server has stopped: no further question.
    Configure(REG_SZ, std::string("1\0", 2));
    AnswerDialogs({IDRETRY, IDABORT});
    PostMessageA(server, WM_CLOSE, 0, 0);   // handled while the box is open
    EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine());
    EXPECT_EQ(1, StopAnswering());
    EXPECT_FALSE(IsWindow(server));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Engine));
    if (IsWindow(server))
        DestroyWindow(server);
}

}  // namespace
