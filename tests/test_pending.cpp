// Files put in place now or at the next restart, deletions recorded for the
// restart, the embedded restart program.
#include <gtest/gtest.h>
#include <algorithm>
#include <string.h>
#include "kvtest.h"
#include "base/paths.h"
#include "machine/pending.h"
#include "base/state.h"
#include "base/text.h"
#include "base/refusals.h"

namespace {

class Pending : public testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        dir = ScratchDir("Pending Files");
        PlatformKind = PLATFORM_NT;
        RestartNeeded = 0;
        TempNameCounter = 0;
        DeleteFileA("C:\\windows\\WININIT.INI");
    }
    void TearDown() override
    {
        RemoveTreeForTest(dir);
        DeleteFileA("C:\\windows\\WININIT.INI");
        PlatformKind = PLATFORM_NT;
        RestartNeeded = 0;
    }
    HANDLE Hold(const std::string &path)
    {
        return CreateFileA(path.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    }
};

TEST_F(Pending, StagingNamesCountUpAndSkipTakenNames)
{
    std::string target = dir + "\\APP.DLL";
    ASSERT_TRUE(WriteFileBytes(dir + "\\~KVU0000.TMP", "taken"));
    char buf[PATH_CAP];
    MakeTempName(buf, sizeof buf, target.c_str());
    EXPECT_EQ(dir + "\\~KVU0001.TMP", buf);
    MakeTempName(buf, sizeof buf, target.c_str());
    EXPECT_EQ(dir + "\\~KVU0002.TMP", buf) << "names of one run never repeat";
    TempNameCounter = 0xFFFF;
    MakeTempName(buf, sizeof buf, target.c_str());
    EXPECT_EQ(dir + "\\~KVUffff.TMP", buf);
    MakeTempName(buf, sizeof buf, target.c_str());
    EXPECT_EQ(dir + "\\~KVU0001.TMP", buf) << "the counter wraps and skips the taken name";
    // A directory so long that the staging name cannot fit: no name at all.
    std::string longTarget = "C:\\" + std::string(240, 'd') + "\\x.dll";
    char small[PATH_CAP];
    MakeTempName(small, sizeof small, longTarget.c_str());
    EXPECT_STREQ("", small);
}

TEST_F(Pending, FreeTargetIsReplacedAtOnce)
{
    std::string target = dir + "\\APP.DLL", backup = dir + "\\APP.BAK";
    ASSERT_TRUE(WriteFileBytes(target, "new"));
    ASSERT_TRUE(WriteFileBytes(backup, "old"));
    EXPECT_EQ(REPLACE_DONE, ReplaceFileLater(backup.c_str(), target.c_str()));
    EXPECT_EQ("old", ReadFileBytes(target));
    EXPECT_FALSE(PathExists(backup));
    EXPECT_EQ(0, RestartNeeded);
    EXPECT_EQ(std::string::npos, PendingRenames().find("APP.DLL"));
    // The copy that took the file's place left nothing beside it.
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*.*").c_str(), &fd);
    int names = 0;
    if (h != INVALID_HANDLE_VALUE) {
        do
            names += fd.cFileName[0] != '.';
        while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    EXPECT_EQ(1, names);
}

// On NT a backup on the target's drive is renamed into place (no room is
// needed): the target is the backup's file, with plain attributes, and the
// backup, its help index files and nothing beside remain. A backup that is
// the target's own file under another name is left as it is.
TEST_F(Pending, ABackupOnTheSameDriveIsRenamedIntoPlace)
{
    std::string target = dir + "\\APP.HLP", backup = dir + "\\Backup Copy.HLP";
    ASSERT_TRUE(WriteFileBytes(target, "installed"));
    ASSERT_TRUE(WriteFileBytes(backup, "original"));
    ASSERT_TRUE(WriteFileBytes(dir + "\\Backup Copy.GID", "index"));
    ASSERT_TRUE(SetFileAttributesA(backup.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    FileIdentity before, after;
    ASSERT_EQ(0, GetFileIdentity(backup.c_str(), &before));
    EXPECT_EQ(REPLACE_DONE, ReplaceFileLater(backup.c_str(), target.c_str()));
    EXPECT_EQ("original", ReadFileBytes(target));
    ASSERT_EQ(0, GetFileIdentity(target.c_str(), &after));
    EXPECT_TRUE(SameIdentity(&before, &after)) << "renamed, not copied";
    EXPECT_EQ(0u, GetFileAttributesA(target.c_str()) & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(std::vector<std::string>{"APP.HLP"}, FolderNames(dir));
    EXPECT_EQ(0, RestartNeeded);
    // The target named through its short form: one file, which stays.
    std::string alias = ShortOf(target);
    ASSERT_NE("", alias);
    EXPECT_EQ(REPLACE_DONE, ReplaceFileLater(alias.c_str(), target.c_str()));
    EXPECT_EQ("original", ReadFileBytes(target));
}

// Put back before taking away: whatever fails, the target holds the
// installed file or the backup, and a backup that could not be used stays.
TEST_F(Pending, ABackupThatCannotBeCopiedLeavesBothFiles)
{
    std::string target = dir + "\\APP.DLL", backup = dir + "\\APP.BAK";
    ASSERT_TRUE(WriteFileBytes(target, "installed"));
    ASSERT_TRUE(WriteFileBytes(backup, "original"));
    HANDLE held = Hold(backup);         // another program holds the backup
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_EQ(REPLACE_KEPT, ReplaceFileLater(backup.c_str(), target.c_str()));
    CloseHandle(held);
    EXPECT_EQ("installed", ReadFileBytes(target));
    EXPECT_EQ("original", ReadFileBytes(backup));
    EXPECT_EQ(0, RestartNeeded);
    // A backup that is a folder, not a file: the same.
    std::string folder = dir + "\\FOLDER.BAK";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    EXPECT_EQ(REPLACE_KEPT, ReplaceFileLater(folder.c_str(), target.c_str()));
    EXPECT_EQ("installed", ReadFileBytes(target));
}

TEST_F(Pending, TargetInUseIsStagedForTheRestartOnNt)
{
    std::string target = dir + "\\In Use.dll", backup = dir + "\\backup.dll";
    ASSERT_TRUE(WriteFileBytes(target, "installed"));
    ASSERT_TRUE(WriteFileBytes(backup, "original"));
    HANDLE h = Hold(target);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    EXPECT_EQ(REPLACE_STAGED, ReplaceFileLater(backup.c_str(), target.c_str()));
    std::string staging = dir + "\\~KVU0000.TMP";
    EXPECT_EQ(1, RestartNeeded);
    // Until the restart the installed file stays in place, whole.
    CloseHandle(h);
    EXPECT_EQ("installed", ReadFileBytes(target));
    h = Hold(target);
    EXPECT_FALSE(PathExists(backup));
    EXPECT_EQ("original", ReadFileBytes(staging));
    std::string pending = PendingRenames();
    EXPECT_NE(std::string::npos, pending.find("\\??\\" + ShortOf(staging) + "|!\\??\\" + target))
        << pending;
    CloseHandle(h);
    // A restart of the machine puts the backup's content in place.
    EXPECT_EQ(0u, RunAndWait("wineboot.exe -r"));
    EXPECT_EQ("original", ReadFileBytes(target));
    EXPECT_FALSE(PathExists(staging));
}

TEST_F(Pending, TargetInUseIsStagedInWininitElsewhere)
{
    PlatformKind = PLATFORM_OTHER;
    std::string first = dir + "\\first.dll", second = dir + "\\second.dll";
    ASSERT_TRUE(WriteFileBytes(first, "new1"));
    ASSERT_TRUE(WriteFileBytes(second, "new2"));
    ASSERT_TRUE(WriteFileBytes(dir + "\\b1", "old1"));
    ASSERT_TRUE(WriteFileBytes(dir + "\\b2", "old2"));
    HANDLE h1 = Hold(first), h2 = Hold(second);
    ReplaceFileLater((dir + "\\b1").c_str(), first.c_str());
    ReplaceFileLater((dir + "\\b2").c_str(), second.c_str());
    CloseHandle(h1);
    CloseHandle(h2);
    EXPECT_EQ(1, RestartNeeded);
    char value[PATH_CAP];
    GetPrivateProfileStringA("rename", ShortOf(first).c_str(), "", value, sizeof value, "WININIT.INI");
    EXPECT_EQ(ShortOf(dir + "\\~KVU0000.TMP"), value);
    GetPrivateProfileStringA("rename", ShortOf(second).c_str(), "", value, sizeof value, "WININIT.INI");
    EXPECT_EQ(ShortOf(dir + "\\~KVU0001.TMP"), value);
    EXPECT_EQ(0u, RunAndWait("wineboot.exe -r"));
    EXPECT_EQ("old1", ReadFileBytes(first));
    EXPECT_EQ("old2", ReadFileBytes(second));
}

// Without its record for the restart a staged copy would never be put in
// place: when WININIT.INI cannot be written, the backup stays.
TEST_F(Pending, AStagingThatCannotBeRecordedKeepsTheBackup)
{
    PlatformKind = PLATFORM_OTHER;
    std::string target = dir + "\\held.dll", backup = dir + "\\held.bak";
    ASSERT_TRUE(WriteFileBytes(target, "installed"));
    ASSERT_TRUE(WriteFileBytes(backup, "original"));
    ASSERT_TRUE(CreateDirectoryA("C:\\windows\\WININIT.INI", NULL));   // a folder in its place
    HANDLE h = Hold(target);
    EXPECT_EQ(REPLACE_KEPT, ReplaceFileLater(backup.c_str(), target.c_str()));
    CloseHandle(h);
    RemoveDirectoryA("C:\\windows\\WININIT.INI");
    EXPECT_EQ("original", ReadFileBytes(backup));
    EXPECT_EQ("installed", ReadFileBytes(target));
    EXPECT_EQ(0, RestartNeeded);
    EXPECT_FALSE(PathExists(dir + "\\~KVU0000.TMP"));
}

TEST_F(Pending, NoRoomForAStagingNameKeepsTheBackup)
{
    // A folder so deep that "~KVU0000.TMP" no longer fits beside the file.
    std::string deep = dir + "\\" + std::string(247 - dir.size() - 1, 'd');
    ASSERT_EQ(247u, deep.size());
    ASSERT_TRUE(CreateDirectoryA(deep.c_str(), NULL));
    std::string target = deep + "\\x", backup = dir + "\\keep.bak";
    ASSERT_TRUE(WriteFileBytes(target, "installed"));
    ASSERT_TRUE(WriteFileBytes(backup, "original"));
    HANDLE h = Hold(target);
    ReplaceFileLater(backup.c_str(), target.c_str());
    CloseHandle(h);
    EXPECT_EQ("original", ReadFileBytes(backup)) << "the backup must survive";
    EXPECT_EQ(0, RestartNeeded);
    RemoveTreeForTest(deep);
}

TEST_F(Pending, DeletionsOnNtGoToTheSystemList)
{
    std::string victim = dir + "\\gone later.tmp";
    ASSERT_TRUE(WriteFileBytes(victim, "x"));
    DeleteAtRestart(victim.c_str());
    EXPECT_NE(std::string::npos, PendingRenames().find("\\??\\" + victim + "||")) << PendingRenames();
}

TEST_F(Pending, DeletionsElsewhereAreAppendedNulLines)
{
    PlatformKind = PLATFORM_OTHER;
    DeleteAtRestart("C:\\TEMP\\A.EXE");
    DeleteAtRestart("C:\\TEMP\\B.EXE");
    EXPECT_EQ("[rename]\r\nNUL=C:\\TEMP\\A.EXE\r\nNUL=C:\\TEMP\\B.EXE\r\n",
              ReadFileBytes("C:\\windows\\WININIT.INI"));
    // An existing file whose last line has no line end keeps that line whole.
    ASSERT_TRUE(WriteFileBytes("C:\\windows\\WININIT.INI", "[rename]\r\nC:\\X=C:\\Y"));
    DeleteAtRestart("C:\\TEMP\\C.EXE");
    EXPECT_EQ("[rename]\r\nC:\\X=C:\\Y\r\nNUL=C:\\TEMP\\C.EXE\r\n",
              ReadFileBytes("C:\\windows\\WININIT.INI"));
}

// An equals sign or a line break in a path would make a second record of
// WININIT.INI (a rename or deletion of another file): such a record is
// refused, nothing is written, and a backup that cannot be staged stays.
TEST_F(Pending, WininitRecordsNeverCarryEqualsOrLineBreaks)
{
    PlatformKind = PLATFORM_OTHER;
    FreeRefusals();
    const char *bad[] = {"C:\\TEMP\\A=B.EXE", "C:\\TEMP\\A.EXE\r\nC:\\WINDOWS\\WIN.COM=C:\\X",
                         "C:\\TEMP\\A.EXE\nNUL=C:\\WINDOWS\\WIN.COM"};
    for (const char *path : bad)
        DeleteAtRestart(path);
    EXPECT_FALSE(PathExists("C:\\windows\\WININIT.INI"));
    EXPECT_EQ(3, RefusalCount());

    std::string target = dir + "\\a=b.dll", backup = dir + "\\a.bak";
    ASSERT_TRUE(WriteFileBytes(target, "installed"));
    ASSERT_TRUE(WriteFileBytes(backup, "original"));
    HANDLE h = Hold(target);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    ReplaceFileLater(backup.c_str(), target.c_str());
    CloseHandle(h);
    std::string wininit = ReadFileBytes("C:\\windows\\WININIT.INI");
    if (ShortOf(target).find('=') != std::string::npos) {
        EXPECT_EQ("", wininit);
        EXPECT_EQ("original", ReadFileBytes(backup));
        EXPECT_FALSE(PathExists(dir + "\\~KVU0000.TMP"));
        EXPECT_EQ(0, RestartNeeded);
        ASSERT_EQ(4, RefusalCount());
    } else {
        // The short name the record uses has no equals sign: one record.
        std::vector<std::string> lines = SplitCrLf(wininit);
        ASSERT_EQ(2u, lines.size()) << wininit;
        EXPECT_EQ(1u, std::count(lines[1].begin(), lines[1].end(), '=')) << wininit;
        EXPECT_EQ(3, RefusalCount());
    }
    DeleteFileA("C:\\windows\\WININIT.INI");
    // A plain path is still recorded.
    DeleteAtRestart("C:\\TEMP\\PLAIN.EXE");
    EXPECT_NE(std::string::npos, ReadFileBytes("C:\\windows\\WININIT.INI").find("NUL=C:\\TEMP\\PLAIN.EXE\r\n"));
    FreeRefusals();
}

TEST_F(Pending, RestartProgramIsWrittenAndRestarts)
{
    DeleteFileA("C:\\windows\\_MSRSTRT.EXE");
    WriteRestartProgram();
    bool ok = false;
    std::string bytes = ReadFileBytes("C:\\windows\\_MSRSTRT.EXE", &ok);
    ASSERT_TRUE(ok);
    EXPECT_LE(bytes.size(), 3584u);
    EXPECT_EQ("MZ", bytes.substr(0, 2));
    // A deletion recorded before the program runs happens at its restart.
    std::string victim = dir + "\\after-restart.tmp";
    ASSERT_TRUE(WriteFileBytes(victim, "x"));
    DeleteAtRestart(victim.c_str());
    EXPECT_EQ(0u, RunAndWait("C:\\windows\\_MSRSTRT.EXE"));
    for (int i = 0; i < 100 && PathExists(victim); i++)
        Sleep(100);
    EXPECT_FALSE(PathExists(victim));
}

} // namespace
