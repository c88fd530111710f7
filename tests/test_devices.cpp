// Virtual-device lines in SYSTEM.INI: which lines are disabled, what stays
// byte for byte, and that SYSTEM.INI survives every failure.
#include <gtest/gtest.h>
#include "kvtest.h"
#include "base/rows.h"
#include "base/state.h"
#include "base/text.h"
#include "engine/services.h"

namespace {

const char *const Ini = "C:\\windows\\SYSTEM.INI";
// The new file is written beside SYSTEM.INI; without a replacing move the
// old one waits beside it until the new one has its name.
const char *const Tmp = "C:\\windows\\SYSTEM.INI.~kv";
const char *const Bak = "C:\\windows\\SYSTEM.INI.~ko";
const char *const Vxd = "C:\\windows\\system32\\VXD.386";

FILETIME OldTime()
{
    SYSTEMTIME st = {};
    st.wYear = 2001;
    st.wMonth = 2;
    st.wDay = 3;
    st.wHour = 4;
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

bool WriteOld(const std::string &text)
{
    if (!WriteFileBytes(Ini, text))
        return false;
    HANDLE h = CreateFileA(Ini, FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    FILETIME ft = OldTime();
    bool ok = h != INVALID_HANDLE_VALUE && SetFileTime(h, NULL, NULL, &ft);
    CloseHandle(h);
    return ok;
}

bool HasOldTime()
{
    WIN32_FILE_ATTRIBUTE_DATA d;
    FILETIME ft = OldTime();
    return GetFileAttributesExA(Ini, GetFileExInfoStandard, &d) &&
           CompareFileTime(&d.ftLastWriteTime, &ft) == 0;
}

class Devices : public ::testing::Test {
protected:
    std::string saved;
    void SetUp() override
    {
        saved = ReadFileBytes(Ini);
        GetSystemDirectoryA(SystemDir, sizeof SystemDir);
        PlatformKind = PLATFORM_NT;
    }
    void TearDown() override
    {
        WriteFileBytes(Ini, saved);
        DeleteFileA(Tmp);
        DeleteFileA(Bak);
        SystemDir[0] = 0;
        PlatformKind = 0;
    }
};

TEST_F(Devices, MatchingLinesAreDisabledAndEverythingElseStays)
{
    const std::string longLine = "comment=" + std::string(700, 'L');
    static const char nulText[] = "[386Enh]\r\ndevice=VXD.386\r\nx=\0y\r\n";
    struct Row {
        const char *name;
        std::string input;
        const char *driver;
        std::string want;       // empty: the file must stay untouched
    };
    const Row rows[] = {
        {"bare name; *VXD and a trailing blank stay",
         "[boot]\r\nshell=x\r\n[386Enh]\r\ndevice=VXD.386\r\ndevice=*VXD\r\ndevice=VXD.386 \r\n\r\n",
         Vxd,
         "[boot]\r\nshell=x\r\n[386Enh]\r\n;device=VXD.386\r\ndevice=*VXD\r\ndevice=VXD.386 \r\n\r\n"},
        {"full path, any case", "[386enh]\r\nDEVICE=c:\\windows\\system32\\vxd.386\r\n", Vxd,
         "[386enh]\r\n;DEVICE=c:\\windows\\system32\\vxd.386\r\n"},
        {"indented lines keep their blanks", "[386Enh]\r\n   device=VXD.386\r\n\tdevice=VXD.386\r\n",
         Vxd, "[386Enh]\r\n;   device=VXD.386\r\n;\tdevice=VXD.386\r\n"},
        {"every [386Enh] section, no other",
         "[386Enh]\r\ndevice=VXD.386\r\n[Other]\r\ndevice=VXD.386\r\n  [386Enh]\r\nx=1\r\n"
         "device=VXD.386\r\n[386Enh]\r\ndevice=VXD.386\r\n",
         Vxd,
         "[386Enh]\r\n;device=VXD.386\r\n[Other]\r\ndevice=VXD.386\r\n  [386Enh]\r\nx=1\r\n"
         ";device=VXD.386\r\n[386Enh]\r\n;device=VXD.386\r\n"},
        {"last line without a line end", "[386Enh]\r\ndevice=VXD.386", Vxd,
         "[386Enh]\r\n;device=VXD.386"},
        {"unended last line after a match", "[386Enh]\r\ndevice=VXD.386\r\nlast=1", Vxd,
         "[386Enh]\r\n;device=VXD.386\r\nlast=1"},
        {"long lines pass whole",
         longLine + "\r\n[386Enh]\r\n" + longLine + "\r\ndevice=VXD.386\r\n" + longLine, Vxd,
         longLine + "\r\n[386Enh]\r\n" + longLine + "\r\n;device=VXD.386\r\n" + longLine},
        {"CR line ends become CR LF", "[386Enh]\rdevice=VXD.386\rx=1\r", Vxd,
         "[386Enh]\r\n;device=VXD.386\r\nx=1\r\n"},
        {"driver outside the system directory", "[386Enh]\r\ndevice=X.386\r\ndevice=C:\\Drv\\X.386\r\n",
         "C:\\Drv\\X.386", "[386Enh]\r\ndevice=X.386\r\n;device=C:\\Drv\\X.386\r\n"},
        {"name below the system directory",
         "[386Enh]\r\ndevice=sub\\Y.386\r\ndevice=Y.386\r\n", "C:\\windows\\system32\\sub\\Y.386",
         "[386Enh]\r\n;device=sub\\Y.386\r\ndevice=Y.386\r\n"},
        {"no match", "[386Enh]\r\ndevice=*VXD\r\ndevice=VXD.386 \r\ndevice= VXD.386\r\n"
                     "[Other]\r\ndevice=VXD.386\r\n;device=VXD.386\r\n",
         Vxd, ""},
        {"bare LF line ends are not rewritten", "[386Enh]\ndevice=VXD.386\nkeyboard=1\n", Vxd, ""},
        {"NUL bytes are not rewritten", std::string(nulText, sizeof nulText - 1),
         Vxd, ""},
        {"empty file", "", Vxd, ""},
    };
    for (const Row &r : rows) {
        ASSERT_TRUE(WriteOld(r.input)) << r.name;
        RemoveDeviceLine(r.driver);
        if (r.want.empty()) {
            EXPECT_EQ(r.input, ReadFileBytes(Ini)) << r.name;
            EXPECT_TRUE(HasOldTime()) << r.name << ": SYSTEM.INI was rewritten";
        } else {
            EXPECT_EQ(r.want, ReadFileBytes(Ini)) << r.name;
        }
        EXPECT_FALSE(PathExists(Tmp)) << r.name;
    }
}

TEST_F(Devices, SystemDirectoryIsFoundWithOrWithoutItsBackslash)
{
    const char *dirs[] = {"C:\\windows\\system32\\", "", "C:\\WINDOWS\\SYSTEM32"};
    for (const char *dir : dirs) {
        CopyText(SystemDir, sizeof SystemDir, dir);
        ASSERT_TRUE(WriteOld("[386Enh]\r\ndevice=VXD.386\r\n"));
        RemoveDeviceLine(Vxd);
        EXPECT_EQ("[386Enh]\r\n;device=VXD.386\r\n", ReadFileBytes(Ini)) << "SystemDir " << dir;
    }
}

TEST_F(Devices, ReplacementWithoutAReplacingMoveKeepsNoLeftovers)
{
    PlatformKind = PLATFORM_OTHER;
    ASSERT_TRUE(WriteOld("[386Enh]\r\ndevice=VXD.386\r\n"));
    RemoveDeviceLine(Vxd);
    EXPECT_EQ("[386Enh]\r\n;device=VXD.386\r\n", ReadFileBytes(Ini));
    EXPECT_FALSE(PathExists(Tmp));
    EXPECT_FALSE(PathExists(Bak));
}

TEST_F(Devices, SystemIniSurvivesEveryFailure)
{
    const std::string text = "[386Enh]\r\ndevice=VXD.386\r\nother=1\r\n";

    // Held open by another program: the replacement cannot be made, on either
    // kind of platform.
    for (int platform : {PLATFORM_NT, PLATFORM_OTHER}) {
        PlatformKind = platform;
        ASSERT_TRUE(WriteOld(text));
        HANDLE h = CreateFileA(Ini, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        RemoveDeviceLine(Vxd);
        CloseHandle(h);
        EXPECT_EQ(text, ReadFileBytes(Ini)) << "platform " << platform;
        EXPECT_TRUE(HasOldTime()) << "platform " << platform;
        EXPECT_FALSE(PathExists(Tmp)) << "platform " << platform;
        EXPECT_FALSE(PathExists(Bak)) << "platform " << platform;
    }
    PlatformKind = PLATFORM_NT;

    // The work file cannot be created.
    ASSERT_TRUE(WriteOld(text));
    ASSERT_TRUE(CreateDirectoryA(Tmp, NULL));
    RemoveDeviceLine(Vxd);
    RemoveDirectoryA(Tmp);
    EXPECT_EQ(text, ReadFileBytes(Ini));
    EXPECT_TRUE(HasOldTime());

    // The work file cannot take SYSTEM.INI's name (another program holds it
    // without delete sharing) after it was written in full.
    for (int platform : {PLATFORM_NT, PLATFORM_OTHER}) {
        PlatformKind = platform;
        ASSERT_TRUE(WriteOld(text));
        HANDLE h = CreateFileA(Tmp, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                               CREATE_ALWAYS, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        RemoveDeviceLine(Vxd);
        CloseHandle(h);
        DeleteFileA(Tmp);
        EXPECT_EQ(text, ReadFileBytes(Ini)) << "platform " << platform;
        EXPECT_FALSE(PathExists(Bak)) << "platform " << platform;
    }
    PlatformKind = PLATFORM_NT;

    // Writing the work file fails: another program locks its bytes.
    ASSERT_TRUE(WriteOld(text));
    HANDLE lock = CreateFileA(Tmp, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, lock);
    ASSERT_TRUE(LockFile(lock, 0, 0, 0x100000, 0));
    RemoveDeviceLine(Vxd);
    UnlockFile(lock, 0, 0, 0x100000, 0);
    CloseHandle(lock);
    EXPECT_EQ(text, ReadFileBytes(Ini));
    EXPECT_TRUE(HasOldTime());
    DeleteFileA(Tmp);

    // No SYSTEM.INI at all: nothing is made.
    DeleteFileA(Ini);
    RemoveDeviceLine(Vxd);
    EXPECT_FALSE(PathExists(Ini));
    EXPECT_FALSE(PathExists(Tmp));
}

// Each call reports its line with what it found, and a preview, which reads
// SYSTEM.INI only, plans the row the real call then gives.
TEST_F(Devices, EachCallReportsItsLineAndThePreviewPlansTheSame)
{
    struct Row {
        const char *name;
        std::string input;      // empty: no SYSTEM.INI
        bool hold;              // another program holds it without delete sharing
        const char *want;
    };
    const Row rows[] = {
        {"a line disabled", "[386Enh]\r\ndevice=VXD.386\r\n", false, "DONE "},
        {"no line for the driver", "[386Enh]\r\ndevice=OTHER.386\r\n", false, "SKIPPED ALREADY-GONE"},
        {"no SYSTEM.INI", "", false, "SKIPPED ALREADY-GONE"},
        {"a file not to be rewritten", "[386Enh]\ndevice=VXD.386\n", false, "FAILED ERROR=13"},
        {"SYSTEM.INI held", "[386Enh]\r\ndevice=VXD.386\r\n", true, "FAILED ERROR=29"},
    };
    RowsWanted = 1;
    for (const Row &r : rows) {
        std::vector<std::string> got;
        for (int preview : {1, 0}) {
            if (r.input.empty())
                DeleteFileA(Ini);
            else
                ASSERT_TRUE(WriteOld(r.input)) << r.name;
            HANDLE h = r.hold ? CreateFileA(Ini, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL)
                              : INVALID_HANDLE_VALUE;
            FreeRows();
            Preview = preview;
            RemoveDeviceLine(Vxd, 7);
            Preview = 0;
            if (h != INVALID_HANDLE_VALUE)
                CloseHandle(h);
            ASSERT_EQ(1, RowCount()) << r.name;
            const ReportRow *row = RowAt(0);
            EXPECT_STREQ("DEVICE", row->Kind);
            EXPECT_STREQ(Vxd, row->Target);
            EXPECT_STREQ("DISABLE-LINE", row->Action);
            EXPECT_EQ(7, row->InstallNo);
            got.push_back(std::string(row->Outcome) + " " + row->Reason);
            if (preview) {
                EXPECT_EQ(r.input, ReadFileBytes(Ini)) << r.name << ": the preview wrote SYSTEM.INI";
                EXPECT_EQ(!r.input.empty(), HasOldTime()) << r.name;
            }
        }
        EXPECT_EQ((std::vector<std::string>{r.want, r.want}), got) << r.name << " (preview, then the real call)";
    }
    FreeRows();
    RowsWanted = 0;
}

} // namespace
