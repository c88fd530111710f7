// Shared-component reference counts and the last-reference question.
#include <gtest/gtest.h>
#include "kvtest.h"
#include "base/rows.h"
#include "base/state.h"
#include "engine/shared.h"
#include "resources/resource.h"

namespace {

const char Key[] = "Software\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
const char FileA[] = "C:\\KVTEST\\SHARED\\A.DLL";
const char FileB[] = "C:\\KVTEST\\SHARED\\B.DLL";

class Shared : public testing::Test {
protected:
    HKEY key = NULL;
    void SetUp() override
    {
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, Key, 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &key, NULL));
        RegDeleteValueA(key, FileA);
        RegDeleteValueA(key, FileB);
        Version4OrLater = 1;
        Silent = 0;
        NoToAll = 0;
    }
    void TearDown() override
    {
        StopAnswering();
        Preview = RowsWanted = 0;
        FreeRows();
        RegDeleteValueA(key, FileA);
        RegDeleteValueA(key, FileB);
        RegCloseKey(key);
        Silent = 0;
        NoToAll = 0;
    }
    void SetDword(const char *name, DWORD v)
    {
        RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&v, sizeof v);
    }
    void SetRaw(const char *name, DWORD type, const void *data, DWORD size)
    {
        RegSetValueExA(key, name, 0, type, (const BYTE *)data, size);
    }
    // Type and count now stored; type 0 when the value is gone.
    DWORD Stored(const char *name, DWORD *count)
    {
        BYTE data[64];
        DWORD type = 0, size = sizeof data;
        if (RegQueryValueExA(key, name, NULL, &type, data, &size) != ERROR_SUCCESS)
            return 0;
        *count = size >= 4 ? *(DWORD *)data : 0;
        return type;
    }
};

TEST_F(Shared, CountsAreLoweredAndWrittenBackAsDword)
{
    DWORD count = 0;
    SetDword(FileA, 3);
    EXPECT_EQ(SHARED_KEEP, ReleaseSharedFile(FileA));
    EXPECT_EQ((DWORD)REG_DWORD, Stored(FileA, &count));
    EXPECT_EQ(2u, count);

    SetRaw(FileA, REG_SZ, "2", 2);
    EXPECT_EQ(SHARED_KEEP, ReleaseSharedFile(FileA));
    EXPECT_EQ((DWORD)REG_DWORD, Stored(FileA, &count));
    EXPECT_EQ(1u, count);

    const BYTE four[4] = {5, 0, 0, 0};
    SetRaw(FileA, REG_BINARY, four, 4);
    EXPECT_EQ(SHARED_KEEP, ReleaseSharedFile(FileA));
    EXPECT_EQ((DWORD)REG_DWORD, Stored(FileA, &count));
    EXPECT_EQ(4u, count);
    EXPECT_TRUE(AnsweredDialogs().empty());
}

TEST_F(Shared, NotACountLeavesTheValueAlone)
{
    struct Row { const char *name; DWORD type; std::string data; };
    const Row rows[] = {
        {"8-byte binary", REG_BINARY, std::string("\x01\0\0\0\0\0\0\0", 8)},
        {"zero", REG_DWORD, std::string("\0\0\0\0", 4)},
        {"text zero", REG_SZ, std::string("0", 2)},
        {"negative text", REG_SZ, std::string("-3", 3)},
        {"no digits", REG_SZ, std::string("many", 5)},
        {"multi-string", REG_MULTI_SZ, std::string("1\0\0", 3)},
    };
    for (const Row &r : rows) {
        SetRaw(FileA, r.type, r.data.data(), (DWORD)r.data.size());
        EXPECT_EQ(SHARED_NOT_COUNTED, ReleaseSharedFile(FileA)) << r.name;
        BYTE data[64];
        DWORD type = 0, size = sizeof data;
        ASSERT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, FileA, NULL, &type, data, &size)) << r.name;
        EXPECT_EQ(r.type, type) << r.name;
        EXPECT_EQ(r.data, std::string((char *)data, size)) << r.name;
    }
    RegDeleteValueA(key, FileA);
    EXPECT_EQ(SHARED_NOT_COUNTED, ReleaseSharedFile(FileA)) << "no value";
    SetDword(FileA, 2);
    Version4OrLater = 0;
    EXPECT_EQ(SHARED_NOT_COUNTED, ReleaseSharedFile(FileA)) << "before version 4";
    DWORD count = 0;
    EXPECT_EQ((DWORD)REG_DWORD, Stored(FileA, &count));
    EXPECT_EQ(2u, count);
}

TEST_F(Shared, LastReferenceAsksAndAlwaysDropsTheValue)
{
    struct Row { int answer; int result; int noToAll; };
    const Row rows[] = {
        {IDC_SHARED_YES, SHARED_REMOVE, 0},
        {IDC_SHARED_NO, SHARED_KEEP, 0},
        {IDCANCEL, SHARED_KEEP, 0},     // Esc or the close box: No, ask again next time
        {IDOK, SHARED_KEEP, 1},         // No to All, also Enter
    };
    for (const Row &r : rows) {
        NoToAll = 0;
        SetDword(FileA, 1);
        AnswerDialogs({r.answer});
        EXPECT_EQ(r.result, ReleaseSharedFile(FileA)) << "answer " << r.answer;
        EXPECT_EQ(r.noToAll, NoToAll) << "answer " << r.answer;
        DWORD count;
        EXPECT_EQ(0u, Stored(FileA, &count)) << "answer " << r.answer;
        std::vector<SeenDialog> seen = AnsweredDialogs();
        ASSERT_EQ(1u, seen.size()) << "answer " << r.answer;
        EXPECT_EQ("Remove Shared Component", seen[0].caption);
        EXPECT_NE(std::string::npos, seen[0].text.find(std::string("\n\n") + FileA + "\n\n"))
            << seen[0].text;
        EXPECT_NE(std::string::npos, seen[0].text.find("may not function. Leaving this file"))
            << seen[0].text;
        EXPECT_EQ(0, StopAnswering());
    }
}

TEST_F(Shared, NoQuestionWhenSilentOrAfterNoToAll)
{
    for (int mode = 0; mode < 2; mode++) {
        Silent = mode == 0;
        NoToAll = mode == 1;
        SetDword(FileB, 1);
        AnswerDialogs({IDC_SHARED_YES});
        EXPECT_EQ(SHARED_KEEP, ReleaseSharedFile(FileB)) << "mode " << mode;
        DWORD count;
        EXPECT_EQ(0u, Stored(FileB, &count)) << "mode " << mode;
        EXPECT_EQ(1, StopAnswering()) << "no question may be shown, mode " << mode;
    }
}

// Each count lowered has its row, with the installation that counted the
// file and the count before and after; a preview plans the same row and
// leaves the count alone. A value that is no count gets none.
TEST_F(Shared, EachCountLoweredHasItsRow)
{
    struct Row {
        const char *name;
        DWORD type;
        std::string data;
        std::string reason;         // "": no row
        DWORD realType, realCount;  // left by the real run (type 0: the value went)
    };
    const Row rows[] = {
        {"number 3", REG_DWORD, DwordBytes(3), "SHARED 3->2", REG_DWORD, 2},
        {"text 2", REG_SZ, std::string("2", 2), "SHARED 2->1", REG_DWORD, 1},
        {"last reference", REG_DWORD, DwordBytes(1), "SHARED 1->0", 0, 0},
        {"zero", REG_DWORD, DwordBytes(0), "", REG_DWORD, 0},
    };
    RowsWanted = 1;
    for (const Row &r : rows) {
        for (int preview = 1; preview >= 0; preview--) {
            const std::string run = std::string(r.name) + (preview ? " (preview)" : "");
            SetRaw(FileA, r.type, r.data.data(), (DWORD)r.data.size());
            FreeRows();
            AnswerDialogs({IDC_SHARED_NO});
            Preview = preview;
            long found = -5;
            ReleaseSharedFile(FileA, &found, 4);
            Preview = 0;
            StopAnswering();
            if (r.reason.empty()) {
                EXPECT_EQ(0, RowCount()) << run;
            } else {
                ASSERT_EQ(1, RowCount()) << run;
                const ReportRow *row = RowAt(0);
                EXPECT_STREQ("SHARED", row->Kind) << run;
                EXPECT_STREQ(FileA, row->Target) << run;
                EXPECT_STREQ("DECREMENT", row->Action) << run;
                EXPECT_STREQ("DONE", row->Outcome) << run;
                EXPECT_EQ(r.reason, row->Reason) << run;
                EXPECT_EQ(4, row->InstallNo) << run;
            }
            BYTE data[64];
            DWORD type = 0, size = sizeof data;
            LONG read = RegQueryValueExA(key, FileA, NULL, &type, data, &size);
            if (preview) {
                ASSERT_EQ(ERROR_SUCCESS, read) << run;
                EXPECT_EQ(r.type, type) << run;
                EXPECT_EQ(r.data, std::string((char *)data, size)) << run;
            } else {
                DWORD count = 0;
                EXPECT_EQ(r.realType, Stored(FileA, &count)) << run;
                EXPECT_EQ(r.realCount, count) << run;
            }
        }
    }
}

TEST(SharedCount, Conversions)
{
    struct Row { DWORD type; std::string data; long want; };
    const Row rows[] = {
        {REG_DWORD, std::string("\x07\0\0\0", 4), 7},
        {REG_BINARY, std::string("\x01\x01\0\0", 4), 257},
        {REG_BINARY, std::string("\x01\0", 2), -1},
        {REG_SZ, std::string("  12abc", 8), 12},
        {REG_SZ, std::string("+4", 3), 4},
        {REG_SZ, std::string("9", 1), 9},          // without its NUL
        {REG_EXPAND_SZ, std::string("3", 2), -1},
    };
    for (const Row &r : rows)
        EXPECT_EQ(r.want, SharedCount(r.type, (const BYTE *)r.data.data(), (DWORD)r.data.size()))
            << "type " << r.type << " data " << r.data;
}

} // namespace
