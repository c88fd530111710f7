// Self-registering servers: which call each kind of file gets, against test
// servers (tools/selfreg_dll.cpp, noexport_dll.cpp, exe_server.cpp) that
// record their calls under HKCU\Software\KvTest\SelfReg.
#include <gtest/gtest.h>
#include <string.h>
#include "kvtest.h"
#include "base/paths.h"
#include "base/rows.h"
#include "base/state.h"
#include "engine/services.h"
#include "ui/progress.h"

namespace {

const char *const Prefix = "Self-Unregistering file:\r\n";
const char *const RecordKey = "Software\\KvTest\\SelfReg";

std::string Text(const char *name)
{
    return ReadRegText(HKEY_CURRENT_USER, RecordKey, name);
}

DWORD Count(const char *name)
{
    DWORD type, n = 0;
    std::string v = ReadRegValue(HKEY_CURRENT_USER, RecordKey, name, &type);
    memcpy(&n, v.data(), v.size() < sizeof n ? v.size() : sizeof n);
    return n;
}

std::vector<std::string> Shown;
void WatchProgress(const char *text)
{
    Shown.push_back(text ? text : "<bar>");
}

std::string ShortForm(const std::string &path)
{
    char buf[MAX_PATH];
    lstrcpynA(buf, path.c_str(), sizeof buf);
    NormalizePath(buf, sizeof buf, 0);
    return buf;
}

class SelfReg : public ::testing::Test {
protected:
    std::string dir;
    char startDir[MAX_PATH];
    void SetUp() override
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, RecordKey);
        GetCurrentDirectoryA(sizeof startDir, startDir);
        dir = ScratchDir("Self Reg Servers");
    }
    void TearDown() override
    {
        SetCurrentDirectoryA(startDir);
        RemoveTreeForTest(dir);
        RegDeleteKeyA(HKEY_CURRENT_USER, RecordKey);
    }
    std::string Place(const char *tool, const char *as)
    {
        std::string to = dir + "\\" + as;
        EXPECT_TRUE(CopyFileA((BinDir() + "\\" + tool).c_str(), to.c_str(), FALSE)) << tool;
        return to;
    }
};

TEST_F(SelfReg, DllServerGetsTheCallOfItsModeAndIsFreedAgain)
{
    struct Row { int mode; const char *called; const char *notCalled; };
    for (Row r : {Row{0, "DllUnregisterServer", "DllRegisterServer"},
                  Row{1, "DllRegisterServer", "DllUnregisterServer"}}) {
        RegDeleteKeyA(HKEY_CURRENT_USER, RecordKey);
        std::string server = Place("selfreg.dll", "Server Library.dll");
        Shown.clear();
        ProgressObserver = WatchProgress;
        SelfRegisterFile(Prefix, server.c_str(), r.mode);
        ProgressObserver = NULL;
        char want[DIALOG_TEXT_CAP];
        lstrcpynA(want, Prefix, sizeof want);
        AppendShortPath(want, sizeof want, server.c_str());
        EXPECT_EQ(std::vector<std::string>{want}, Shown) << "mode " << r.mode;
        EXPECT_EQ(server, Text(r.called)) << "mode " << r.mode;
        EXPECT_EQ("<none>", Text(r.notCalled)) << "mode " << r.mode;
        EXPECT_EQ(1u, Count("Calls")) << "mode " << r.mode;
        // The server ran in its own directory; the run's own current one is
        // back afterwards, as a current directory cannot be removed.
        EXPECT_EQ(ShortForm(dir), Text("CurrentDir")) << "mode " << r.mode;
        char cur[MAX_PATH];
        GetCurrentDirectoryA(sizeof cur, cur);
        EXPECT_STREQ(startDir, cur) << "mode " << r.mode;
        EXPECT_EQ(1u, Count("ServerAttach")) << "mode " << r.mode;
        EXPECT_EQ(1u, Count("ServerDetach")) << "mode " << r.mode;
        SetCurrentDirectoryA(startDir);
        EXPECT_TRUE(DeleteFileA(server.c_str())) << "mode " << r.mode << ": still loaded";
    }
}

TEST_F(SelfReg, LibraryWithoutTheExportIsLoadedAndFreedWithoutACall)
{
    std::string server = Place("noexport.dll", "plain.dll");
    for (int mode : {0, 1})
        SelfRegisterFile(Prefix, server.c_str(), mode);
    EXPECT_EQ(2u, Count("PlainAttach"));
    EXPECT_EQ(2u, Count("PlainDetach"));
    EXPECT_EQ(0u, Count("Calls"));
}

TEST_F(SelfReg, ExecutableServerIsRunWithItsShortPath)
{
    std::string server = Place("exe_server.exe", "Server Program.exe");
    struct Row { int mode; const char *switchText; };
    for (Row r : {Row{0, " /UNREGSERVER"}, Row{1, " /REGSERVER"}}) {
        SelfRegisterFile(Prefix, server.c_str(), r.mode);
        std::string shortPath = ShortForm(server);
        EXPECT_EQ(std::string::npos, shortPath.find(' ')) << shortPath;
        EXPECT_EQ(shortPath + r.switchText, Text("ExeCommandLine")) << "mode " << r.mode;
        EXPECT_EQ(ShortForm(dir), Text("ExeCurrentDir")) << "mode " << r.mode;
    }
    EXPECT_EQ(2u, Count("ExeRuns"));
}

TEST_F(SelfReg, OtherFilesAreLeftAlone)
{
    // A library named .EXE is never loaded, in either mode; a file that is no
    // Windows image, a short or missing file, and a name without a directory
    // get no call either.
    std::string disguised = Place("selfreg.dll", "library.EXE");
    std::string text = dir + "\\notes.dll";
    WriteFileBytes(text, "MZ but not a program");
    std::string tiny = dir + "\\m.dll";
    WriteFileBytes(tiny, "M");
    std::string bogusPe = dir + "\\far.dll";
    WriteFileBytes(bogusPe, std::string("MZ") + std::string(58, 0) + "\xff\xff\xff\x7f");
    const std::string files[] = {disguised, text, tiny, bogusPe, dir + "\\missing.dll", "EXE", "x"};
    for (const std::string &f : files) {
        for (int mode : {0, 1}) {
            SelfRegisterFile(Prefix, f.c_str(), mode);
            EXPECT_EQ(0u, Count("ServerAttach")) << f << " mode " << mode;
            EXPECT_EQ(0u, Count("Calls")) << f << " mode " << mode;
        }
    }
    EXPECT_TRUE(DeleteFileA(disguised.c_str()));
}

TEST_F(SelfReg, ServerIsCalledWhenOleIsAlreadyStartedOnTheThread)
{
    typedef HRESULT(WINAPI * InitProc)(LPVOID);
    typedef void(WINAPI * UninitProc)(void);
    HMODULE ole = LoadLibraryA("OLE32.DLL");
    ASSERT_TRUE(ole != NULL);
    InitProc init = (InitProc)(void *)GetProcAddress(ole, "OleInitialize");
    UninitProc uninit = (UninitProc)(void *)GetProcAddress(ole, "OleUninitialize");
    ASSERT_TRUE(init && uninit);
    ASSERT_EQ(S_OK, init(NULL));
    std::string server = Place("selfreg.dll", "srv.dll");
    SelfRegisterFile(Prefix, server.c_str(), 0);
    EXPECT_EQ(server, Text("DllUnregisterServer"));
    // Our own start is still in force: a second start only counts up.
    EXPECT_EQ(S_FALSE, init(NULL));
    uninit();
    uninit();
    FreeLibrary(ole);
}

// Each call reports its server with what it found; a preview, which starts
// and loads nothing, plans the row the real call then gives.
TEST_F(SelfReg, EachCallReportsItsServerAndThePreviewPlansTheSame)
{
    std::string dll = Place("selfreg.dll", "srv.dll"), exe = Place("exe_server.exe", "srv.exe");
    std::string text = dir + "\\notes.dll";
    WriteFileBytes(text, "not a program");
    struct Row { std::string path; const char *want; };
    const Row rows[] = {
        {dll, "DONE "},
        {exe, "DONE "},
        {dir + "\\missing.dll", "SKIPPED ALREADY-GONE"},
        {dir + "\\missing.exe", "SKIPPED ALREADY-GONE"},
        {text, "FAILED ERROR=193"},
    };
    RowsWanted = 1;
    for (const Row &r : rows) {
        for (int mode : {0, 1}) {
            std::vector<std::string> got;
            for (int preview : {1, 0}) {
                RegDeleteKeyA(HKEY_CURRENT_USER, RecordKey);
                FreeRows();
                Preview = preview;
                SelfRegisterFile(Prefix, r.path.c_str(), mode, 3);
                Preview = 0;
                // The real call reaches a server that is there, the preview none.
                bool reached = !preview && strcmp(r.want, "DONE ") == 0;
                EXPECT_EQ(reached ? 1u : 0u, Count("Calls") + Count("ExeRuns"))
                    << r.path << (preview ? " (preview)" : "");
                ASSERT_EQ(1, RowCount()) << r.path;
                const ReportRow *row = RowAt(0);
                EXPECT_EQ("SERVER " + r.path + " " + (mode ? "REGISTER" : "UNREGISTER") + " 3",
                          std::string(row->Kind) + " " + row->Target + " " + row->Action + " " +
                              std::to_string(row->InstallNo));
                got.push_back(std::string(row->Outcome) + " " + row->Reason);
            }
            EXPECT_EQ((std::vector<std::string>{r.want, r.want}), got)
                << r.path << " mode " << mode << " (preview, then the real call)";
        }
    }
    FreeRows();
    RowsWanted = 0;
}

} // namespace
