// Command-line options, default log and platform detection.
#include <gtest/gtest.h>
#include "kvtest.h"
#include "base/paths.h"
#include "app/runflow.h"
#include "base/state.h"
#include "base/text.h"

namespace {

void ResetOptions()
{
    Automatic = Silent = Rollback = CleanupMode = 0;
    WindowTitle[0] = 0;
}

TEST(ParseOptions, CommandLinesToFlagsPathAndTitle)
{
    struct Row {
        const char *line;
        int automatic, silent, rollback, cleanup;
        const char *rest, *title;
    };
    const Row rows[] = {
        {"", 0, 0, 0, 0, "", ""},
        {"C:\\APP\\INSTALL.LOG", 0, 0, 0, 0, "C:\\APP\\INSTALL.LOG", ""},
        {"/A C:\\L", 1, 0, 0, 0, "C:\\L", ""},
        {"/s C:\\L", 1, 1, 0, 0, "C:\\L", ""},
        {"/a /r C:\\L", 1, 0, 1, 0, "C:\\L", ""},
        {"/S/R C:\\L", 1, 1, 1, 0, "C:\\L", ""},
        {"/S   /R    C:\\L", 1, 1, 1, 0, "C:\\L", ""},
        // An option is two characters: a letter glued to it starts the log path.
        {"/SA C:\\L", 1, 1, 0, 0, "A", "C:\\L"},
        // Unknown letter: parsing ends on its slash, which starts the path.
        {"/X C:\\L", 0, 0, 0, 0, "/X", "C:\\L"},
        {"/A /Q C:\\L", 1, 0, 0, 0, "/Q", "C:\\L"},
        {"/", 0, 0, 0, 0, "/", ""},
        // Upper-case Z has no effect here; lower-case z is the clean-up run,
        // whose remaining text is kept whole.
        {"/Z C:\\L", 0, 0, 0, 0, "C:\\L", ""},
        {"/z C:\\UNINST~1.EXE C:\\APP\\", 0, 0, 0, 1, "C:\\UNINST~1.EXE C:\\APP\\", ""},
        {"/z", 0, 0, 0, 1, "", ""},
        // Title after the first blank, one quote removed at each end.
        {"C:\\L \"My Product 2.0\"", 0, 0, 0, 0, "C:\\L", "My Product 2.0"},
        {"C:\\L My Product", 0, 0, 0, 0, "C:\\L", "My Product"},
        {"C:\\L \"Half", 0, 0, 0, 0, "C:\\L", "Half"},
        // Options after the path are part of the title.
        {"C:\\L /S", 0, 0, 0, 0, "C:\\L", "/S"},
        // A quoted path is not unquoted.
        {"\"C:\\L\"", 0, 0, 0, 0, "\"C:\\L\"", ""},
    };
    for (const Row &r : rows) {
        ResetOptions();
        char rest[PATH_CAP];
        ParseOptions(r.line, rest, sizeof rest);
        SCOPED_TRACE(r.line);
        EXPECT_EQ(r.automatic, Automatic);
        EXPECT_EQ(r.silent, Silent);
        EXPECT_EQ(r.rollback, Rollback);
        EXPECT_EQ(r.cleanup, CleanupMode);
        EXPECT_STREQ(r.rest, rest);
        EXPECT_STREQ(r.title, WindowTitle);
    }
    ResetOptions();
}

// /U names a store, a folder whose name holds the product's, blanks and all:
// the rest is taken whole, never cut into a path and a title.
TEST(ParseOptions, AnUndoTakesTheStoreWhole)
{
    struct Row {
        const char *line, *rest;
        int undo;
    };
    const Row rows[] = {
        {"/U", "", 1},
        {"/S /V /U C:\\WIN\\UNINSTAL.RCV\\Sample Orders.20260101-100000\\", "C:\\WIN\\UNINSTAL.RCV\\Sample Orders.20260101-100000\\", 1},
        {"/U   C:\\R\\A B C", "C:\\R\\A B C", 1},
        {"/U \"C:\\R\\Quoted Name\"", "C:\\R\\Quoted Name", 1},
        {"/U \"C:\\R\\Half", "\"C:\\R\\Half", 1},
        // Without /U the first blank still ends the log's path.
        {"/S C:\\R\\A B", "C:\\R\\A", 0},
    };
    for (const Row &r : rows) {
        ResetOptions();
        UndoWanted = 0;
        char rest[PATH_CAP];
        ParseOptions(r.line, rest, sizeof rest);
        SCOPED_TRACE(r.line);
        EXPECT_EQ(r.undo, UndoWanted);
        EXPECT_STREQ(r.rest, rest);
        EXPECT_STREQ(r.undo ? "" : "B", WindowTitle);
    }
    UndoWanted = 0;
    ResetOptions();
}

TEST(ParseOptions, LongTextNeverOverflows)
{
    std::string line = "/S " + std::string(400, 'x') + " " + std::string(400, 't');
    char rest[PATH_CAP];
    memset(rest, '#', sizeof rest);
    ResetOptions();
    ParseOptions(line.c_str(), rest, sizeof rest);
    EXPECT_EQ(PATH_CAP - 1, (int)strlen(rest));
    EXPECT_EQ(PATH_CAP - 1, (int)strlen(WindowTitle));
    ResetOptions();
}

TEST(DefaultLog, ShortPathBesideTheProgramOnlyWhenPresent)
{
    std::string dir = ScratchDir("Default Log Folder");
    std::string settings = dir + "\\UNINSTAL.INI";
    CopyText(SettingsPath, sizeof SettingsPath, settings.c_str());

    char text[PATH_CAP] = "";
    ChooseDefaultLog(text, sizeof text);
    EXPECT_STREQ("", text) << "no INSTALL.LOG yet";

    ASSERT_TRUE(WriteFileBytes(dir + "\\INSTALL.LOG", "*** x\r\n"));
    ChooseDefaultLog(text, sizeof text);
    char shortDir[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameA(dir.c_str(), shortDir, sizeof shortDir));
    EXPECT_STREQ((std::string(shortDir) + "\\INSTALL.LOG").c_str(), text);
    EXPECT_EQ(std::string::npos, std::string(text).find(' ')) << text;

    // A command text that is already there is kept.
    char given[PATH_CAP] = "/S C:\\OTHER.LOG";
    ChooseDefaultLog(given, sizeof given);
    EXPECT_STREQ("/S C:\\OTHER.LOG", given);
    SettingsPath[0] = 0;
    RemoveTreeForTest(dir);
}

TEST(ProgramPaths, SettingsPathIsOwnPathWithIni)
{
    FindProgramPaths();
    char own[MAX_PATH];
    GetModuleFileNameA(NULL, own, sizeof own);
    std::string expect(own);
    expect.replace(expect.size() - 3, 3, "INI");
    EXPECT_EQ(expect, SettingsPath);
    EXPECT_TRUE(TextEqualNoCase(ProgramPath, own)) << ProgramPath << " vs " << own;
    SettingsPath[0] = ProgramPath[0] = 0;
}

TEST(DetectPlatform, MatchesTheVersionQuery)
{
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    ASSERT_TRUE(GetVersionExA(&info));
    DetectPlatform();
    EXPECT_EQ(info.dwPlatformId == VER_PLATFORM_WIN32_NT ? 1 : 2, PlatformKind);
    EXPECT_EQ(info.dwMajorVersion >= 4 ? 1 : 0, Version4OrLater);
}

} // namespace
