// The report writer and the run's result: escaping, where the report goes,
// what it may replace, the result and exit code of each kind of ending, and
// what the program file tells Windows (version and manifest).
#include <gtest/gtest.h>
#include <initguid.h>
#include <objbase.h>
#include <xmllite.h>
#include <string.h>
#include <string>
#include "base/rows.h"
#include "base/state.h"
#include "log/inventory.h"
#include "report/report.h"
#include "support/kvtest.h"

namespace {

class ReportTest : public ::testing::Test {
protected:
    std::string dir, win;
    void SetUp() override
    {
        dir = ScratchDir("report");
        char buf[MAX_PATH];
        GetWindowsDirectoryA(buf, sizeof buf);
        win = buf;
        RowsWanted = 1;
        InstallCount = 2;       // the rows below come from blocks 1 and 2
        Preview = Rollback = WorkLeft = 0;
        SettingsPath[0] = MifFileName[0] = 0;
        FreeRows();
    }
    void TearDown() override
    {
        FreeRows();
        RowsWanted = Preview = 0;
        SettingsPath[0] = MifFileName[0] = 0;
    }
    std::string Path()
    {
        char buf[MAX_PATH];
        EXPECT_EQ(0, ReportPath(buf, sizeof buf));
        return buf;
    }
};

TEST_F(ReportTest, EveryByteThatCouldBreakARowIsEscaped)
{
    struct Case {
        const char *text, *escaped;
    } cases[] = {
        {"C:\\Program Files\\App\\a.txt", "C:\\Program Files\\App\\a.txt"},
        {"tab\there", "tab%09here"},
        {"two\r\nlines", "two%0D%0Alines"},
        {"100%", "100%25"},
        {"caf\xe9 \x7f", "caf%E9 %7F"},
        {"", ""},
    };
    for (const Case &c : cases) {
        TextBuf b = {};
        PutEscaped(&b, c.text);
        EXPECT_EQ(c.escaped, std::string(b.Data ? b.Data : "")) << c.text;
        free(b.Data);
    }
    // A long path stays whole on one line.
    std::string longPath = "C:\\" + std::string(5000, 'x');
    TextBuf b = {};
    PutEscaped(&b, longPath.c_str());
    ASSERT_FALSE(b.Failed);
    EXPECT_EQ(longPath, std::string(b.Data));
    free(b.Data);
}

TEST_F(ReportTest, PlaceFollowsTheStatusFileOrTheSettings)
{
    EXPECT_EQ(win + "\\UNINSTAL.RPT", Path());
    strcpy(MifFileName, "ACME.MIF");
    EXPECT_EQ(win + "\\ACME.RPT", Path());
    strcpy(MifFileName, "NODOT");
    EXPECT_EQ(win + "\\NODOT.RPT", Path());

    std::string settings = dir + "\\UNINSTAL.INI";
    strcpy(SettingsPath, settings.c_str());
    struct Case {
        const char *value;
        std::string expected;
    } cases[] = {
        {"D:\\Reports\\run.txt", "D:\\Reports\\run.txt"},
        {"mine.rpt", win + "\\mine.rpt"},
        {"..\\..\\elsewhere.rpt", win + "\\NODOT.RPT"},     // not guessed at
        {"C:\\a\\..\\b.rpt", win + "\\NODOT.RPT"},
        {"", win + "\\NODOT.RPT"},
    };
    for (const Case &c : cases) {
        WritePrivateProfileStringA("Settings", "Report File", c.value, settings.c_str());
        EXPECT_EQ(c.expected, Path()) << c.value;
    }
    WritePrivateProfileStringA(NULL, NULL, NULL, settings.c_str());
}

TEST_F(ReportTest, WritesWholeRowsAndReplacesOnlyAReport)
{
    std::string settings = dir + "\\UNINSTAL.INI", out = dir + "\\out.rpt";
    strcpy(SettingsPath, settings.c_str());
    WritePrivateProfileStringA("Settings", "Report File", out.c_str(), settings.c_str());
    WritePrivateProfileStringA(NULL, NULL, NULL, settings.c_str());
    AddRow("FILE", 1, (dir + "\\a\tb.txt").c_str(), ACT_DELETE, OUT_DONE, NULL, NULL);
    AddRow("FILE", 2, (dir + "\\kept.txt").c_str(), ACT_NONE, OUT_KEPT, "SHARED 3->2", NULL);
    MakeFile(dir + "\\kept.txt", "still here");
    RunEnd end = {1, 0, 0};

    MakeFile(out, "somebody's notes");
    EXPECT_EQ(1, WriteReport(&end)) << "a file that is not a report stays";
    EXPECT_EQ("somebody's notes", ReadFileBytes(out));

    DeleteFileA(out.c_str());
    ASSERT_EQ(0, WriteReport(&end));
    std::vector<std::string> lines = SplitCrLf(ReadFileBytes(out));
    ASSERT_GE(lines.size(), 11u);
    EXPECT_EQ("#MODE=UNINSTALL", lines[0]);
    EXPECT_EQ("1\t1\tFILE\t" + dir + "\\a%09b.txt\tDELETE\tDONE\t\t", lines[6]);
    EXPECT_EQ("2\t2\tFILE\t" + dir + "\\kept.txt\tNONE\tKEPT\tSHARED 3->2\t", lines[7]);
    EXPECT_EQ("#LEFT", lines[8]);
    EXPECT_EQ("FILE\t" + dir + "\\kept.txt\tKEPT\tSHARED 3->2\t", lines[9]);
    EXPECT_EQ(0u, lines[10].find("#RESULT=SUCCESS\tDONE=1\tKEPT=1\t")) << lines[10];
    // The report replaces the last one.
    Preview = 1;
    ASSERT_EQ(0, WriteReport(&end));
    EXPECT_EQ("#MODE=PREVIEW", SplitCrLf(ReadFileBytes(out))[0]);
    EXPECT_NE(std::string::npos, ReadFileBytes(out).find("\tWOULD-DO\t"));
}

TEST_F(ReportTest, ResultAndExitCodeOfEachEnding)
{
    struct Case {
        const char *name;
        RunEnd end;
        const char *outcome, *reason;
        int workLeft;
        int result, code;
    } cases[] = {
        {"all done", {1, 0, 0}, OUT_DONE, "", 0, RESULT_SUCCESS, 0},
        {"shared count kept", {1, 0, 0}, OUT_KEPT, "SHARED 2->1", 0, RESULT_SUCCESS, 0},
        {"last reference kept", {1, 0, 0}, OUT_KEPT, "LAST-REFERENCE-KEPT", 0, RESULT_SUCCESS, 0},
        {"staged, no restart", {1, 0, 0}, OUT_STAGED, "IN-USE", 0, RESULT_RESTART, 3010},
        {"restart started", {1, 0, 1}, OUT_STAGED, "IN-USE", 0, RESULT_RESTART, 1641},
        {"cancelled", {1, 1, 0}, OUT_DONE, "", 0, RESULT_CANCELLED, 1602},
        {"log not read", {0, 0, 0}, OUT_SKIPPED, "", 0, RESULT_FAILED, 1603},
        {"nothing present", {1, 0, 0}, OUT_SKIPPED, "ALREADY-GONE", 0, RESULT_SUCCESS, 1605},
        {"only refusals", {1, 0, 0}, OUT_REFUSED, "BAD-PATH", 0, RESULT_SUCCESS, 1605},
        {"failed", {1, 0, 0}, OUT_FAILED, "IN-USE", 0, RESULT_PARTIAL, 1},
        {"work left", {1, 0, 0}, OUT_DONE, "", 1, RESULT_PARTIAL, 1},
        {"kept, not empty", {1, 0, 0}, OUT_KEPT, "NOT-EMPTY", 0, RESULT_PARTIAL, 1},
    };
    std::string target = dir + "\\there.txt";
    MakeFile(target, "x");
    for (const Case &c : cases) {
        FreeRows();
        WorkLeft = c.workLeft;
        AddRow("FILE", 1, target.c_str(), ACT_DELETE, c.outcome, c.reason, NULL);
        EXPECT_EQ(c.result, RunResult(&c.end)) << c.name;
        EXPECT_EQ(c.code, ResultExitCode(&c.end)) << c.name;
    }
    // A file kept at first but gone by the end (a folder that went with the
    // log) leaves nothing behind.
    FreeRows();
    WorkLeft = 0;
    AddRow("DIR", 1, (dir + "\\gone").c_str(), ACT_DELETE, OUT_KEPT, "NOT-EMPTY", NULL);
    AddRow("FILE", 1, target.c_str(), ACT_DELETE, OUT_DONE, NULL, NULL);
    RunEnd end = {1, 0, 0};
    EXPECT_EQ(0, ResultExitCode(&end));
}

// "" when the system's XML reader (xmllite) reads text to its end without
// an error; else what went wrong.
std::string XmlParseError(const std::string &text)
{
    typedef HRESULT(WINAPI * CreateFn)(REFIID, void **, IMalloc *);
    HMODULE lib = LoadLibraryA("xmllite.dll");
    CreateFn create = lib ? (CreateFn)(void *)GetProcAddress(lib, "CreateXmlReader") : NULL;
    if (!create)
        return "no xmllite";
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, text.size());
    memcpy(GlobalLock(mem), text.data(), text.size());
    GlobalUnlock(mem);
    IStream *stream = NULL;
    IXmlReader *reader = NULL;
    std::string error;
    if (FAILED(CreateStreamOnHGlobal(mem, TRUE, &stream)) ||
        FAILED(create(IID_IXmlReader, (void **)&reader, NULL)) || FAILED(reader->SetInput(stream))) {
        error = "no reader";
    } else {
        XmlNodeType type;
        int elements = 0;
        HRESULT hr;
        while ((hr = reader->Read(&type)) == S_OK)
            elements += type == XmlNodeType_Element;
        if (hr != S_FALSE)
            error = "parse error " + std::to_string((unsigned long)hr);
        else if (elements == 0)
            error = "no elements";
    }
    if (reader)
        reader->Release();
    if (stream)
        stream->Release();
    return error;
}

// What Windows, inventory and deployment tools read from UNINSTAL.EXE.
TEST(ProgramFile, CarriesVersionAndManifest)
{
    std::string exe = UninstallerPath();
    DWORD handle = 0, size = GetFileVersionInfoSizeA(exe.c_str(), &handle);
    ASSERT_GT(size, 0u);
    std::vector<char> info(size);
    ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, size, info.data()));
    VS_FIXEDFILEINFO *fixed = NULL;
    UINT len = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", (void **)&fixed, &len));
    EXPECT_EQ(0xFEEF04BDu, fixed->dwSignature);
    EXPECT_EQ(0x00010000u, fixed->dwFileVersionMS);
    for (const char *name : {"FileDescription", "CompanyName", "FileVersion", "ProductVersion", "ProductName"}) {
        char *text = NULL;
        std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
        ASSERT_TRUE(VerQueryValueA(info.data(), key.c_str(), (void **)&text, &len)) << name;
        EXPECT_GT(strlen(text), 0u) << name;
    }

    HMODULE module = LoadLibraryExA(exe.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(nullptr, module);
    HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    ASSERT_NE(nullptr, res);
    std::string manifest((const char *)LockResource(LoadResource(module, res)), SizeofResource(module, res));
    FreeLibrary(module);
    EXPECT_NE(std::string::npos, manifest.find("<requestedExecutionLevel level=\"highestAvailable\""));
    EXPECT_NE(std::string::npos, manifest.find("<supportedOS Id="));
    // Well formed: the XML parser of the system reads it without an error.
    EXPECT_EQ("", XmlParseError(manifest));
}

} // namespace
