// Full disk: drive D: is a small file system of its own (wine-run.sh maps it
// when KV_SMALL_DRIVE is set). A product there, with backups and an INI file
// that holds many of the user's own items, is uninstalled and rolled back
// while the drive is full: every file keeps its old content or gets its new
// one, whole, and the log stays while work is left. Once space is freed the
// same command finishes the job, ending as a run that had room. A rollback
// that needs no room on D: (backups put back by renaming, the log cut in
// place) ends there as one with room, and the restart program is written
// whole or not at all.
#include <gtest/gtest.h>
#include <map>
#include "machine/pending.h"
#include "base/rows.h"
#include "base/state.h"
#include "base/text.h"
#include "machine/wholefile.h"
#include "report/report.h"
#include "resources/resource.h"
#include "support/kvtest.h"

namespace {

const std::string Drive = "D:\\", App = "D:\\FULLAPP", Ini = "D:\\SETTINGS\\APP.INI";
const std::string Filler = "D:\\FILL.BIN", Gap = "D:\\GAP.BIN";
const DWORD Page = 4096;      // the small drive's unit of allocation
const int UserItems = 400;    // the INI file is then well over 12 KB
const int ProductItems = 30;
std::string Win;

// Why D: cannot be used here; "" when it is a small drive of its own (never
// fill a real disk).
std::string DriveProblem()
{
    ULARGE_INTEGER freeBytes, total;
    if (!GetDiskFreeSpaceExA(Drive.c_str(), &freeBytes, &total, NULL))
        return "D: is not mapped (run through wine-run.sh with KV_SMALL_DRIVE)";
    if (total.QuadPart > 64ull << 20)
        return "D: is larger than 64 MB: not a small drive of its own";
    return "";
}

ULONGLONG FreeBytes()
{
    ULARGE_INTEGER freeBytes = {};
    GetDiskFreeSpaceExA(Drive.c_str(), &freeBytes, NULL, NULL);
    return freeBytes.QuadPart;
}

std::string Padding(size_t n, char c)
{
    return std::string(n, c);
}

// A value of 200 characters.
std::string LongValue(const char *what, int i)
{
    std::string v = std::string(what) + " value of item " + std::to_string(i) + " ";
    return v + Padding(200 - v.size(), 'x');
}

std::string UserItem(int i)
{
    return "Own" + std::to_string(i);
}

std::string Install()
{
    RemoveTreeForTest(App);
    RemoveTreeForTest("D:\\SETTINGS");
    std::string b1 = "***  Installation Log\r\nTitle: Full Disk\r\nUninstall MIF: KVFULL.MIF\r\n"
                     "Manufacturer: Kv\r\nProduct: Full\r\nVersion Number: 2\r\nMade Dir: " + App + "\r\n";
    std::string b2 = "***  Upgrade\r\n";
    for (int i = 0; i < 6; i++) {
        std::string f = App + "\\F" + std::to_string(i) + ".DAT";
        MakeFile(f, "installed " + std::to_string(i));
        (i < 5 ? b1 : b2) += "File Copy: " + f + "\r\n";
    }
    // Files the upgrade overwrote; each backup needs ten pages to put back.
    for (int i = 0; i < 3; i++) {
        std::string f = App + "\\O" + std::to_string(i) + ".DLL", bak = App + "\\BACKUP\\O" + std::to_string(i) + ".DLL";
        MakeFile(f, "version 2 of " + std::to_string(i) + Padding(40000, 'b'));
        MakeFile(bak, "version 1 of " + std::to_string(i) + Padding(40000, 'a'));
        b1 += "File Copy: " + f + "\r\n";
        b2 += "File Overwrite: " + f + "\r\nBackup Copy: " + bak + "\r\n";
    }
    // The user's own INI file: many items of theirs, a few of the product's.
    std::string ini = "[User]\r\n";
    for (int i = 0; i < UserItems; i++)
        ini += UserItem(i) + "=the user's own value " + std::to_string(i) + "\r\n";
    // The values put back are long, so that the file grows by more than a
    // page: rewritten in place on a full drive it would be cut.
    ini += "[Main]\r\n";
    for (int i = 0; i < ProductItems; i++) {
        std::string item = "Item" + std::to_string(i), v1 = LongValue("first", i);
        ini += item + "=v2\r\n";
        b1 += "INI File: " + Ini + "\r\nINI Sect: Main\r\nINI Item: " + item + "\r\nINI Val: " + v1 + "\r\n" +
              (i % 5 ? "INI Old: " + LongValue("original", i) + "\r\n" : "");
        b2 += "INI File: " + Ini + "\r\nINI Sect: Main\r\nINI Item: " + item + "\r\nINI Val: v2\r\nINI Old: " + v1 +
              "\r\n";
    }
    MakeFile(Ini, ini);
    std::string log = App + "\\INSTALL.LOG";
    MakeFile(log, b1 + b2);
    DeleteFileA((Win + "\\KVFULL.MIF").c_str());
    return log;
}

void ListFiles(const std::string &dir, std::map<std::string, std::string> *out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        std::string n = fd.cFileName, p = dir + n;
        if (n == "." || n == ".." || p == Filler || p == Gap)
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            (*out)[p + "\\"] = "<folder>";
            ListFiles(p + "\\", out);
        } else {
            (*out)[p] = ReadFileBytes(p);
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

// Every file and folder of D: (the filler left out), and the status file.
std::map<std::string, std::string> Files()
{
    std::map<std::string, std::string> files;
    ListFiles(Drive, &files);
    bool ok = false;
    std::string mif = ReadFileBytes(Win + "\\KVFULL.MIF", &ok);
    if (ok) {
        std::string kept;
        for (const std::string &line : SplitCrLf(mif))
            if (line.find("/") == std::string::npos || line.find("VALUE") == std::string::npos)
                kept += line + "\n";    // the date line differs from run to run
        files["status file"] = kept;
    }
    return files;
}

// Fills D: so that exactly freePages pages stay free: a gap of that size is
// made first, the rest filled to the last byte, then the gap deleted.
void Fill(DWORD freePages)
{
    if (freePages)
        MakeFile(Gap, Padding(freePages * Page, 'g'));
    HANDLE h = CreateFileA(Filler.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    std::string chunk = Padding(65536, 'f');
    for (DWORD size : {65536u, 4096u, 1u}) {
        DWORD written = 0;
        while (WriteFile(h, chunk.data(), size, &written, NULL) && written == size)
            ;
    }
    CloseHandle(h);
    DeleteFileA(Gap.c_str());
    ASSERT_EQ((ULONGLONG)freePages * Page, FreeBytes()) << "the drive is not filled as planned";
}

// The size and the start of a file's content, on one line.
std::string Show(const std::string &content)
{
    std::string start = content.substr(0, 40);
    for (char &c : start)
        if (c == '\r' || c == '\n')
            c = '|';
    return "(" + std::to_string(content.size()) + " bytes) " + start;
}

// Each path holds what it held before or what a run with room leaves, whole.
void ExpectOldOrNew(const std::map<std::string, std::string> &before,
                    const std::map<std::string, std::string> &after,
                    const std::map<std::string, std::string> &done, const std::string &label)
{
    std::map<std::string, int> paths;
    for (auto *m : {&before, &after, &done})
        for (auto &kv : *m)
            paths[kv.first] = 1;
    const std::string none = "<missing>";
    for (auto &p : paths) {
        auto get = [&](const std::map<std::string, std::string> &m) {
            auto it = m.find(p.first);
            return it == m.end() ? none : it->second;
        };
        std::string now = get(after);
        EXPECT_TRUE(now == get(before) || now == get(done))
            << label << ": " << p.first << " holds " << Show(now) << "\n  before: " << Show(get(before))
            << "\n  after a run with room: " << Show(get(done));
    }
}

// The files are the same; a difference names the path and shows its start.
void ExpectSameFiles(const std::map<std::string, std::string> &want, const std::map<std::string, std::string> &got,
                     const std::string &label)
{
    std::map<std::string, int> paths;
    for (auto *m : {&want, &got})
        for (auto &kv : *m)
            paths[kv.first] = 1;
    for (auto &p : paths) {
        auto w = want.find(p.first), g = got.find(p.first);
        std::string a = w == want.end() ? "<missing>" : w->second, b = g == got.end() ? "<missing>" : g->second;
        EXPECT_TRUE(a == b) << label << ": " << p.first << " holds " << Show(b) << "\n  want " << Show(a);
    }
}

struct FullCase {
    const char *options;
    DWORD freePages;    // two pages: a copy begins and cannot end
};

TEST(FullDisk, AFullDriveKeepsEveryFileWholeAndASecondRunFinishes)
{
    std::string problem = DriveProblem();
    if (!problem.empty())
        FAIL() << problem;  // wine-run.sh gave no small drive D: yet ran the program
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    Win = buf;
    std::string bin = ScratchDir("fulldisk_bin");
    std::string program = bin + "\\UNINSTAL.EXE";
    ASSERT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    std::map<std::string, std::map<std::string, std::string>> reference;
    for (const char *options : {"/S", "/S /R"}) {
        std::string log = Install();
        std::string logText = ReadFileBytes(log), iniText = ReadFileBytes(Ini);
        ChildRun run = RunChild(program, std::string(options) + " " + log, {}, 60000);
        ASSERT_FALSE(run.timedOut) << options;
        reference[options] = Files();
        // A run with room deletes the log, or cuts it to the earlier installation.
        ASSERT_NE(logText, ReadFileBytes(log)) << options;
        ASSERT_NE(iniText, ReadFileBytes(Ini)) << options;
    }
    const FullCase cases[] = {{"/S", 0}, {"/S", 2}, {"/S /R", 0}, {"/S /R", 2}};
    for (const FullCase &c : cases) {
        std::string label = std::string(c.options) + " with " + std::to_string(c.freePages) + " pages free";
        std::string log = Install();
        std::string logText = ReadFileBytes(log);
        ASSERT_GT(ReadFileBytes(Ini).size(), (size_t)(c.freePages + 1) * Page) << "the INI file must not fit";
        std::map<std::string, std::string> before = Files();
        Fill(c.freePages);
        if (HasFatalFailure())
            return;
        ChildRun run = RunChild(program, std::string(c.options) + " " + log, {}, 60000);
        ASSERT_FALSE(run.timedOut) << label;
        std::map<std::string, std::string> after = Files();
        ExpectOldOrNew(before, after, reference[c.options], label);
        // The user's items are all there, and the log keeps the work left.
        std::vector<char> items(65536);
        DWORD got = GetPrivateProfileSectionA("User", items.data(), (DWORD)items.size(), Ini.c_str());
        std::string want;
        for (int i = 0; i < UserItems; i++)
            want += UserItem(i) + "=the user's own value " + std::to_string(i) + std::string(1, '\0');
        EXPECT_EQ(want, std::string(items.data(), got)) << label;
        EXPECT_EQ(logText, ReadFileBytes(log)) << label << ": work was left, the log must stay";
        // With room again the same command finishes the job.
        ASSERT_TRUE(DeleteFileA(Filler.c_str()));
        run = RunChild(program, std::string(c.options) + " " + log, {}, 60000);
        ASSERT_FALSE(run.timedOut) << label;
        EXPECT_EQ(reference[c.options], Files()) << label << ": the second run did not finish the job";
    }
    RemoveTreeForTest(App);
    RemoveTreeForTest("D:\\SETTINGS");
    DeleteFileA((Win + "\\KVFULL.MIF").c_str());
}

// The writer of the status file and of a cut log, and the INI item writer,
// on a full drive: the old file stays as it was and nothing is left beside it.
TEST(FullDisk, WholeFileWritersLeaveTheOldFileOnAFullDrive)
{
    std::string problem = DriveProblem();
    if (!problem.empty())
        FAIL() << problem;  // wine-run.sh gave no small drive D: yet ran the program
    PlatformKind = PLATFORM_NT;
    const std::string dir = "D:\\WRITERS\\", status = dir + "KVFULL.MIF", ini = dir + "KVFULL.INI";
    const std::string report = dir + "KVFULL.RPT", settings = ScratchDir("fulldisk_settings") + "\\UNINSTAL.INI";
    RemoveTreeForTest(dir);
    // The per-item report goes to D: through the settings file; its rows
    // make it several pages long.
    ASSERT_TRUE(WritePrivateProfileStringA("Settings", "Report File", report.c_str(), settings.c_str()));
    WritePrivateProfileStringA(NULL, NULL, NULL, settings.c_str());
    CopyText(SettingsPath, sizeof SettingsPath, settings.c_str());
    RowsWanted = 1;
    for (int i = 0; i < 200; i++)
        AddRow("FILE", 1, (App + "\\a file of the product, number " + std::to_string(i)).c_str(), ACT_DELETE,
               OUT_DONE, NULL, NULL);
    std::string oldReport = "#MODE=UNINSTALL\r\n#RESULT=SUCCESS\r\n";
    RunEnd end = {1, 0, 0};
    std::string oldStatus = "old status text\r\n", oldIni = "[S]\r\n";
    for (int i = 0; i < 400; i++)
        oldIni += "K" + std::to_string(i) + "=an item of the user's, number " + std::to_string(i) + "\r\n";
    ASSERT_GT(oldIni.size(), 3 * Page);
    std::string newStatus = Padding(3 * Page, 's');
    for (DWORD freePages : {0u, 2u}) {
        MakeFile(status, oldStatus);
        MakeFile(ini, oldIni);
        MakeFile(report, oldReport);
        Fill(freePages);
        if (HasFatalFailure())
            return;
        EXPECT_EQ(WHOLE_FAILED, WriteWholeFile(status.c_str(), newStatus.data(), newStatus.size(), 1)) << freePages;
        EXPECT_EQ(WHOLE_FAILED, WriteProfileItemWhole(ini.c_str(), "S", "K7", "changed")) << freePages;
        EXPECT_EQ(WHOLE_FAILED, WriteProfileItemWhole(ini.c_str(), "S", "K8", NULL)) << freePages;
        EXPECT_EQ(1, WriteReport(&end)) << freePages;
        EXPECT_EQ(oldStatus, ReadFileBytes(status)) << freePages;
        EXPECT_EQ(oldIni, ReadFileBytes(ini)) << freePages;
        EXPECT_EQ(oldReport, ReadFileBytes(report)) << freePages;
        std::map<std::string, std::string> files;
        ListFiles(dir, &files);
        EXPECT_EQ(3u, files.size()) << freePages << ": something was left beside the files";
        ASSERT_TRUE(DeleteFileA(Filler.c_str()));
        // With room the same writes succeed.
        EXPECT_EQ(WHOLE_DONE, WriteWholeFile(status.c_str(), newStatus.data(), newStatus.size(), 1));
        EXPECT_EQ(WHOLE_DONE, WriteProfileItemWhole(ini.c_str(), "S", "K7", "changed"));
        EXPECT_EQ(newStatus, ReadFileBytes(status));
        EXPECT_EQ("changed", IniRead(ini, "S", "K7"));
        EXPECT_EQ("an item of the user's, number 399", IniRead(ini, "S", "K399"));
        EXPECT_EQ(0, WriteReport(&end));
        EXPECT_EQ(0u, ReadFileBytes(report).find("#MODE=UNINSTALL\r\n"));
        EXPECT_NE(std::string::npos, ReadFileBytes(report).find("number 199\tDELETE\tDONE"));
    }
    FreeRows();
    RowsWanted = 0;
    SettingsPath[0] = 0;
    RemoveTreeForTest(dir);
}

// A backup to put in place of a file held by another program: on a full
// drive neither the copy beside the file nor a staged copy can be made, so
// both files stay as they were and no part of a copy is left.
TEST(FullDisk, ABackupStagedOnAFullDriveLeavesNothingBehind)
{
    std::string problem = DriveProblem();
    if (!problem.empty())
        FAIL() << problem;  // wine-run.sh gave no small drive D: yet ran the program
    PlatformKind = PLATFORM_NT;
    const std::string dir = "D:\\STAGED\\", target = dir + "A.DLL", backup = dir + "BACKUP\\A.DLL";
    RemoveTreeForTest(dir);
    std::string installed = "version 2" + Padding(20000, 'b'), earlier = "version 1" + Padding(20000, 'a');
    for (DWORD freePages : {0u, 2u}) {
        MakeFile(target, installed);
        MakeFile(backup, earlier);
        HANDLE held = CreateFileA(target.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, held);
        Fill(freePages);
        EXPECT_EQ(REPLACE_KEPT, ReplaceFileLater(backup.c_str(), target.c_str())) << freePages;
        CloseHandle(held);
        std::map<std::string, std::string> files;
        ListFiles(dir, &files);
        std::map<std::string, std::string> want = {
            {dir + "A.DLL", installed}, {dir + "BACKUP\\", "<folder>"}, {backup, earlier}};
        EXPECT_EQ(want, files) << freePages << " pages free";
        ASSERT_TRUE(DeleteFileA(Filler.c_str()));
    }
    RemoveTreeForTest(dir);
}

// A product on D: of two installations, with its log beside it: the upgrade
// added files on C: and, with backups, replaced files on D:, keeping the
// earlier copies on D:. It has no INI items, and its rollback frees no room
// on D: before the log is cut: it needs no room there at all.
std::string InstallWithoutIni(bool backups, std::string *firstBlock)
{
    RemoveTreeForTest(App);
    std::string added = ScratchDir("fulldisk_added");
    std::string b1 = "***  Installation Log\r\nTitle: Full Disk\r\nUninstall MIF: KVFULL.MIF\r\n"
                     "Manufacturer: Kv\r\nProduct: Full\r\nVersion Number: 2\r\nMade Dir: " + App + "\r\n";
    std::string b2 = "***  Upgrade\r\n";
    for (int i = 0; i < 4; i++) {
        std::string f = (i < 2 ? App : added) + "\\F" + std::to_string(i) + ".DAT";
        MakeFile(f, "installed " + std::to_string(i));
        (i < 2 ? b1 : b2) += "File Copy: " + f + "\r\n";
    }
    for (int i = 0; backups && i < 3; i++) {
        std::string f = App + "\\O" + std::to_string(i) + ".DLL";
        std::string bak = App + "\\BACKUP\\O" + std::to_string(i) + ".DLL";
        MakeFile(f, "version 2 of " + std::to_string(i) + Padding(40000, 'b'));
        MakeFile(bak, "version 1 of " + std::to_string(i) + Padding(40000, 'a'));
        b1 += "File Copy: " + f + "\r\n";
        b2 += "File Overwrite: " + f + "\r\nBackup Copy: " + bak + "\r\n";
    }
    std::string log = App + "\\INSTALL.LOG";
    MakeFile(log, b1 + b2);
    DeleteFileA((Win + "\\KVFULL.MIF").c_str());
    *firstBlock = b1;
    return log;
}

// The program, copied to C: (the drive with room), and the Windows directory.
std::string ProgramOnC()
{
    char buf[MAX_PATH];
    GetWindowsDirectoryA(buf, sizeof buf);
    Win = buf;
    std::string program = ScratchDir("fulldisk_bin") + "\\UNINSTAL.EXE";
    EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), program.c_str(), FALSE));
    return program;
}

// A rollback on a full drive that holds its log: what the upgrade added
// goes, and the log is cut to the earlier installation where it lies (a cut
// needs no room), as by a run with room.
TEST(FullDisk, ARollbackOnAFullDriveCutsItsLog)
{
    std::string problem = DriveProblem();
    if (!problem.empty())
        FAIL() << problem;  // wine-run.sh gave no small drive D: yet ran the program
    std::string program = ProgramOnC(), first;
    std::string log = InstallWithoutIni(false, &first);
    ChildRun run = RunChild(program, "/S /R " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    ASSERT_EQ(first, ReadFileBytes(log)) << "a run with room cuts the log";
    std::map<std::string, std::string> reference = Files();
    log = InstallWithoutIni(false, &first);
    Fill(0);
    if (HasFatalFailure())
        return;
    run = RunChild(program, "/S /R " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(first, ReadFileBytes(log)) << "the log must be cut on a full drive";
    ExpectSameFiles(reference, Files(), "full drive");
    ASSERT_TRUE(DeleteFileA(Filler.c_str()));
    RemoveTreeForTest(App);
    DeleteFileA((Win + "\\KVFULL.MIF").c_str());
}

// A rollback on a full drive whose backups lie on that drive: each backup
// takes its file's place by a rename, which needs no room, and the run ends
// as one with room. A backup on another drive is still copied.
TEST(FullDisk, ARollbackOnAFullDrivePutsBackTheBackupsOfThatDrive)
{
    std::string problem = DriveProblem();
    if (!problem.empty())
        FAIL() << problem;  // wine-run.sh gave no small drive D: yet ran the program
    std::string program = ProgramOnC(), first;
    std::string log = InstallWithoutIni(true, &first);
    ChildRun run = RunChild(program, "/S /R " + log, {}, 60000);
    ASSERT_FALSE(run.timedOut);
    std::map<std::string, std::string> reference = Files();
    for (DWORD freePages : {0u, 2u}) {
        log = InstallWithoutIni(true, &first);
        Fill(freePages);
        if (HasFatalFailure())
            return;
        run = RunChild(program, "/S /R " + log, {}, 60000);
        ASSERT_FALSE(run.timedOut) << freePages;
        std::string label = std::to_string(freePages) + " pages free";
        for (int i = 0; i < 3; i++) {
            std::string f = App + "\\O" + std::to_string(i) + ".DLL", got = ReadFileBytes(f);
            EXPECT_TRUE(got == "version 1 of " + std::to_string(i) + Padding(40000, 'a'))
                << f << " with " << label << ": " << Show(got);
        }
        ExpectSameFiles(reference, Files(), label);
        ASSERT_TRUE(DeleteFileA(Filler.c_str()));
    }
    // A backup on C: for a file on D: cannot be renamed there: it is copied.
    PlatformKind = PLATFORM_NT;
    const std::string target = App + "\\X.DLL", backup = ScratchDir("fulldisk_backup") + "\\X.DLL";
    MakeFile(target, "installed");
    MakeFile(backup, "original");
    EXPECT_EQ(REPLACE_DONE, ReplaceFileLater(backup.c_str(), target.c_str()));
    EXPECT_EQ("original", ReadFileBytes(target));
    EXPECT_FALSE(PathExists(backup));
    RemoveTreeForTest(App);
    DeleteFileA((Win + "\\KVFULL.MIF").c_str());
}

// The restart program as this build embeds it.
std::string EmbeddedRestartProgram()
{
    HRSRC info = FindResourceA(NULL, MAKEINTRESOURCEA(IDR_RESTART_PROGRAM), MAKEINTRESOURCEA(RT_RESTART_PROGRAM));
    HGLOBAL data = info ? LoadResource(NULL, info) : NULL;
    const char *bytes = data ? (const char *)LockResource(data) : nullptr;
    return bytes ? std::string(bytes, SizeofResource(NULL, info)) : std::string();
}

// The restart program on a full drive: its place keeps nothing, or what an
// earlier run left there, never a part of it; and only the embedded program,
// whole, is ever started.
TEST(FullDisk, TheRestartProgramIsWrittenWholeOrNotAtAll)
{
    std::string problem = DriveProblem();
    if (!problem.empty())
        FAIL() << problem;  // wine-run.sh gave no small drive D: yet ran the program
    PlatformKind = PLATFORM_NT;
    const std::string dir = "D:\\RESTART\\", path = dir + "_MSRSTRT.EXE";
    RemoveTreeForTest(dir);
    ASSERT_TRUE(CreateDirectoryA(dir.c_str(), NULL));
    std::string program = EmbeddedRestartProgram();
    ASSERT_GT(program.size(), 1024u);
    const std::string cut = program.substr(0, 1024);
    for (const std::string *earlier : {(const std::string *)nullptr, &cut}) {
        const char *label = earlier ? "a cut copy there before" : "nothing there before";
        DeleteFileA(path.c_str());
        if (earlier)
            MakeFile(path, *earlier);
        Fill(0);
        if (HasFatalFailure())
            return;
        EXPECT_EQ(0, WriteRestartProgramTo(path.c_str())) << label;
        std::map<std::string, std::string> files, want;
        ListFiles(dir, &files);
        if (earlier)
            want[path] = *earlier;
        ExpectSameFiles(want, files, label);
        EXPECT_EQ(0, StartRestartProgram(path.c_str())) << label;
        ASSERT_TRUE(DeleteFileA(Filler.c_str()));
    }
    // With room it is written whole over the cut copy, and nothing is left beside it.
    EXPECT_EQ(1, WriteRestartProgramTo(path.c_str()));
    std::map<std::string, std::string> files;
    ListFiles(dir, &files);
    EXPECT_EQ(1u, files.size());
    EXPECT_TRUE(program == ReadFileBytes(path)) << Show(ReadFileBytes(path));
    // Another program under its name is not started.
    ASSERT_TRUE(CopyFileA((BinDir() + "\\wait_probe.exe").c_str(), path.c_str(), FALSE));
    EXPECT_EQ(0, StartRestartProgram(path.c_str()));
    RemoveTreeForTest(dir);
}

} // namespace
