// The database engine's use count, its configuration trees and the prompt
// to stop the local server.
#include <gtest/gtest.h>
#include <functional>
#include <string.h>
#include "support/kvtest.h"
#include "base/rows.h"
#include "base/state.h"
#include "engine/dbengine.h"
#include "machine/preview.h"

namespace {

const char Vendor[] = "Software\\Borland";
const char Engine[] = "Software\\Borland\\Database Engine";
const char Link[] = "Software\\Borland\\BLW32";

std::string ReadCount(DWORD *type)
{
    return ReadRegValue(HKEY_LOCAL_MACHINE, Engine, "UseCount", type);
}

// "KIND TARGET ACTION OUTCOME[ REASON]" of every row so far.
std::vector<std::string> Rows()
{
    std::vector<std::string> rows;
    for (int i = 0; i < RowCount(); i++) {
        const ReportRow *r = RowAt(i);
        rows.push_back(std::string(r->Kind) + " " + r->Target + " " + r->Action + " " + r->Outcome +
                       (r->Reason[0] ? " " : "") + r->Reason);
    }
    return rows;
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
        Preview = RowsWanted = 0;
        FreeRows();
        ForgetPlannedGone();
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

// Given the sub-system's name, the release writes its own row with the
// count it lowered (the last user's vendor key goes as part of it, its
// trees with rows of their own), and nothing released is no change. A
// preview plans the same rows and leaves the configuration as it is.
TEST_F(DbEngine, ReleaseRowsNameWhatChanged)
{
    const std::string engineTree = "REGTREE HKLM\\Software\\Borland\\Database Engine DELETE DONE";
    const std::string linkTree = "REGTREE HKLM\\Software\\Borland\\BLW32 DELETE DONE";
    const std::string nothing = "SUBSYSTEM BDE DECREMENT SKIPPED ALREADY-GONE";
    struct Case {
        const char *name;
        std::function<void()> arrange;
        std::vector<std::string> rows;
        bool vendorGone;    // after the real run
    } cases[] = {
        {"count 3", [] { Configure(REG_SZ, std::string("3\0", 2)); },
         {"SUBSYSTEM BDE DECREMENT DONE COUNT 3->2"}, false},
        {"count 12 as a number", [] { Configure(REG_DWORD, DwordBytes(12)); },
         {"SUBSYSTEM BDE DECREMENT DONE COUNT 12->11"}, false},
        {"last user", [] { Configure(REG_DWORD, DwordBytes(1)); },
         {engineTree, linkTree, "SUBSYSTEM BDE DECREMENT DONE COUNT 1->0"}, true},
        {"last user beside another product",
         [] {
             Configure(REG_SZ, std::string("1\0", 2));
             SetRegValue(HKEY_LOCAL_MACHINE, "Software\\Borland\\Other", "v", REG_SZ, "x");
         },
         {engineTree, linkTree, "SUBSYSTEM BDE DECREMENT DONE COUNT 1->0"}, false},
        {"count 0", [] { Configure(REG_SZ, std::string("0\0", 2)); }, {nothing}, false},
        {"no count", [] { SetRegValue(HKEY_LOCAL_MACHINE, Engine, "Other", REG_SZ, "x"); }, {nothing}, false},
        {"no key", [] {}, {nothing}, true},
    };
    RowsWanted = 1;
    for (const Case &c : cases) {
        for (int preview = 1; preview >= 0; preview--) {
            const std::string run = std::string(c.name) + (preview ? " (preview)" : "");
            CleanKey(HKEY_LOCAL_MACHINE, Vendor);
            c.arrange();
            DWORD typeBefore = 0, type = 0;
            const std::string countBefore = ReadCount(&typeBefore);
            const bool linkBefore = KeyExists(HKEY_LOCAL_MACHINE, Link);
            FreeRows();
            ForgetPlannedGone();
            Preview = preview;
            EXPECT_EQ(DB_GO_ON, RemoveDatabaseEngine("BDE")) << run;
            Preview = 0;
            EXPECT_EQ(c.rows, Rows()) << run;
            if (preview) {
                EXPECT_EQ(countBefore, ReadCount(&type)) << run;
                EXPECT_EQ(typeBefore, type) << run;
                EXPECT_EQ(linkBefore, KeyExists(HKEY_LOCAL_MACHINE, Link)) << run;
            }
        }
        // The real run did what its rows say.
        EXPECT_EQ(c.vendorGone, !KeyExists(HKEY_LOCAL_MACHINE, Vendor)) << c.name;
    }
}

}  // namespace
