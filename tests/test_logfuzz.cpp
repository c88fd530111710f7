// Log fuzzer: valid logs of every kind of line, mutated by grammar (lines
// dropped, repeated, swapped, hostile values, stray markers and headers)
// and byte by byte (flips, NULs, line ends, cuts), read by the real reader.
// Every kept entry must pass the path rules, the block count must match the
// header lines, and memory must stay bounded.
// KV_FUZZ_COUNT (default 250) and KV_FUZZ_SEED choose the run; the fixed
// default seed keeps the test command repeatable. KV_FUZZ_DUMP names a file
// that receives every reading's inventory, to compare two builds of the reader.
#include "test_logread_util.h"
#include "base/refusals.h"
#include "base/paths.h"
#include <psapi.h>
#include <stdlib.h>
#include <string.h>

namespace {

using Rng = TestRng;

std::string Dir, Sys, Win;

// Hostile and ordinary spellings of the paths a log names.
std::vector<std::string> PathValues()
{
    std::string d = Dir;
    return {d + "\\App\\A.EXE", d + "\\App\\B.DLL", d + "\\App\\Sub\\C.TXT", d + "\\App\\A.BAK",
            d + "\\NEW.INI", d + "\\App", d + "\\App\\Sub", Sys + "\\KVFUZZ.DLL", Win + "\\KVFUZZ.INI",
            "A.EXE", "App\\A.EXE", ".\\A.EXE", d + "\\App\\..\\App\\A.EXE", d + "\\\\App\\A.EXE",
            d + "/App/A.EXE", "\\\\?\\" + d + "\\App\\A.EXE", d + "\\App\\A.EXE.", d + "\\App\\A.EXE ",
            "C:\\", "C:", "C:\\users", "C:\\Program Files", Win, Sys, Sys + "\\\\KVFUZZ.DLL",
            "\\\\localhost\\c$\\windows", "\\\\server", "\\\\server\\share", "\\\\.\\C:\\x",
            "C:\\windows\\system32\\..\\KVFUZZ.DLL", d + "\\App\\*.*", "*.*", Sys + "\\*.*",
            d + "\\App\\A.EXE\"", std::string(300, 'x'), "C:\\" + std::string(270, 'y') + "\\Z.EXE",
            d + "\\App\\A.EXE:stream", "", " ", "\t" + d + "\\App\\A.EXE"};
}

std::vector<std::string> KeyValues()
{
    return {"Software\\KvFuzz\\Product", "Software", "Software\\Microsoft", "SOFTWARE\\\\Microsoft",
            "\\Software", "Software\\", "", "\\", "CLSID", "*", "Software\\KvFuzz\\Product\\Sub",
            "Software\\Classes\\.txt", std::string(300, 'k'), "Software\\KvFuzz\"][DeleteGroup(x)]"};
}

// One valid log: two blocks that use every tag.
std::string ValidLog(Rng &rng)
{
    std::string d = Dir;
    std::string b1 =
        "***  Installation Log\r\nTitle: Fuzz Orders Installation\r\nUninstall MIF: FUZZ.MIF\r\n"
        "Manufacturer: Kv\r\nProduct: Fuzz\r\nVersion Number: 1.0\r\nSerial Number: 1\r\n"
        "File Copy: " + d + "\\App\\A.EXE\r\n"
        "File Overwrite: " + d + "\\App\\B.DLL\r\nBackup Copy: " + d + "\\App\\A.BAK\r\n"
        "Non-System File:\r\nShared DLL counter ignored:\r\nFile Copy: " + Sys + "\\KVFUZZ.DLL\r\n"
        "Self-Register: " + d + "\\App\\B.DLL\r\nAdd Device: " + Sys + "\\KVFUZZ.DLL\r\n"
        "File Edit: " + d + "\\App\\Sub\\C.TXT\r\nBackup Copy: " + d + "\\App\\A.BAK\r\n"
        "Made Dir: " + d + "\\App\r\nFile Tree: " + d + "\\App\\Sub\\*.*\r\n"
        "INI New: x\r\nINI File: " + d + "\\NEW.INI\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: v\r\n"
        "INI File: " + d + "\\NEW.INI\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: now\r\nINI Old: before\r\n"
        "Create Service: KvFuzzSvc\r\nExecute Path: " + d + "\\App\\A.EXE /u\r\nExecute Name: Clean\r\n"
        "Icon Group: Fuzz\r\nIcon Name: Orders\r\nIcon Cmd: " + d + "\\App\\A.EXE\r\n"
        "SubSystem: BDE\r\nRegDB Tree: Software\\KvFuzz\\Product\\Tree\r\nRegDB Root: 1\r\n"
        "RegDB Key: Software\\KvFuzz\\Product\r\nRegDB Val: v\r\nRegDB Name: Created\r\nRegDB Root: 1\r\n"
        "RegDB Key: Software\\KvFuzz\\Product\r\nRegDB Val: v\r\nRegDB Name: Changed\r\nRegDB Type: 2\r\n"
        "RegDB Root: 1\r\nRegDB Old: one\r\nRegDB Old: two\r\nUser Rights: Admin\r\n";
    // The upgrade changes the INI item and the registry value again: their
    // old values then differ from the last ones, or equal them.
    std::string b2 = "*** Upgrade\r\nFile Copy: " + d + "\\App\\A.EXE\r\nBackup Copy: " + d +
                     "\\App\\A.BAK\r\nMade Dir: " + d + "\\App\\Sub\r\n"
                     "INI File: " + d + "\\NEW.INI\r\nINI Sect: S\r\nINI Item: K\r\nINI Val: now\r\nINI Old: " +
                     (rng.Below(2) ? "before" : "between") + "\r\n"
                     "RegDB Key: Software\\KvFuzz\\Product\r\nRegDB Val: v\r\nRegDB Name: Changed\r\n"
                     "RegDB Type: 2\r\nRegDB Root: 1\r\nRegDB Old: " + (rng.Below(2) ? "one" : "three") +
                     "\r\nRegDB Old: two\r\n";
    return rng.Below(4) ? b1 + b2 : b1;
}

std::vector<std::string> SplitKeep(const std::string &log)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < log.size(); i++)
        if (log[i] == '\r') {
            lines.push_back(log.substr(start, i + 1 - start));
            start = i + 1;
        }
    if (start < log.size())
        lines.push_back(log.substr(start));
    return lines;
}

std::string Join(const std::vector<std::string> &lines)
{
    std::string s;
    for (const std::string &l : lines)
        s += l;
    return s;
}

const char *const Tags[] = {"File Copy: ", "Shell Link: ", "File Overwrite: ", "Backup Copy: ", "File Edit: ",
                            "Create Service: ", "Add Device: ", "Self-Register: ", "INI New: ", "INI File: ",
                            "INI Sect: ", "INI Item: ", "INI Val: ", "INI Old: ", "Execute Path: ",
                            "Execute Program: ", "Execute Name: ", "Icon Group: ", "Icon Name: ", "Icon Cmd: ",
                            "SubSystem: B", "Made Dir: ", "File Tree: ", "RegDB Tree: ", "RegDB Key: ",
                            "RegDB Val: ", "RegDB Name: ", "RegDB Type: ", "RegDB Root: ", "RegDB Old: ",
                            "Non-System File:", "Shared DLL counter ignored:", "***  ", "*** ", "Title: X",
                            "User Rights: Admin", "Uninstall MIF: "};

std::string Mutate(Rng &rng, std::string log)
{
    static const std::vector<std::string> paths = PathValues(), keys = KeyValues();
    int rounds = 1 + (int)rng.Below(4);
    for (int r = 0; r < rounds; r++) {
        std::vector<std::string> lines = SplitKeep(log);
        if (lines.size() < 3)
            return log;
        // Mostly leave the first block's header alone, so most logs are read.
        size_t i = 2 + rng.Below((unsigned)lines.size() - 2), j = 2 + rng.Below((unsigned)lines.size() - 2);
        switch (rng.Below(12)) {
        case 0:
            lines.erase(lines.begin() + (long)i);
            break;
        case 1:
            lines.insert(lines.begin() + (long)i, lines[j]);
            break;
        case 2:
            std::swap(lines[i], lines[j]);
            break;
        case 3: {   // a tag with a hostile path
            const char *tag = Tags[rng.Below(sizeof Tags / sizeof Tags[0])];
            lines.insert(lines.begin() + (long)i, std::string(tag) + rng.Pick(paths) + "\r\n");
            break;
        }
        case 4: {   // a registry group with a hostile key
            std::string g = rng.Below(2) ? "RegDB Tree: " + rng.Pick(keys) + "\r\nRegDB Root: " +
                                               std::to_string((int)rng.Below(7) - 1) + "\r\n"
                                         : "RegDB Key: " + rng.Pick(keys) + "\r\nRegDB Val: x\r\nRegDB Name: " +
                                               rng.Pick(keys) + "\r\nRegDB Type: " +
                                               std::to_string((int)rng.Below(7) - 1) + "\r\nRegDB Old: " +
                                               rng.Pick(keys) + "\r\n";
            lines.insert(lines.begin() + (long)i, g);
            break;
        }
        case 5: {   // replace the value of a line, keeping its tag
            std::string &l = lines[i];
            size_t colon = l.find(": ");
            if (colon != std::string::npos)
                l = l.substr(0, colon + 2) + rng.Pick(paths) + "\r\n";
            break;
        }
        case 6: {   // a NUL byte somewhere in a line
            std::string &l = lines[i];
            l.insert(rng.Below((unsigned)l.size()), 1, '\0');
            break;
        }
        case 7: {   // flip, insert or delete a few bytes anywhere after the header
            size_t at = lines[0].size() + lines[1].size();
            for (int k = 0; k < 1 + (int)rng.Below(8) && at < log.size(); k++) {
                log = Join(lines);
                size_t p = at + rng.Below((unsigned)(log.size() - at));
                int what = (int)rng.Below(3);
                if (what == 0)
                    log[p] = (char)rng.Below(256);
                else if (what == 1)
                    log.insert(p, 1, "\0\r\n*\"\\ "[rng.Below(7)]);
                else
                    log.erase(p, 1 + rng.Below(16));
                lines = SplitKeep(log);
                if (lines.size() < 3)
                    return log;
            }
            break;
        }
        case 8:     // the log cut short
            lines.resize(i);
            break;
        case 9: {   // line ends: lone LF or a missing CR
            std::string &l = lines[i];
            if (!l.empty() && l.back() == '\r')
                l.back() = rng.Below(2) ? '\n' : ' ';
            break;
        }
        case 10:    // a stray marker or header
            lines.insert(lines.begin() + (long)i,
                         std::string(rng.Below(2) ? "Non-System File:" : rng.Below(2) ? "*** x" : "***  y") +
                             "\r\n");
            break;
        default: {  // an over-long line
            std::string &l = lines[i];
            size_t colon = l.find(": ");
            if (colon != std::string::npos)
                l = l.substr(0, colon + 2) + std::string(250 + rng.Below(20), 'L') + "\r\n";
            break;
        }
        }
        log = Join(lines);
    }
    return log;
}

// The block headers the reader must have counted: each line (cut at CR,
// LF dropped, up to its first NUL) that begins with "*** ", and the file
// offset of the last one's first character.
void CountHeaders(const std::string &log, unsigned *count, long *lastOffset)
{
    *count = 0;
    *lastOffset = 0;
    size_t i = 0;
    while (i < log.size()) {
        std::string text;
        long first = -1;
        bool nul = false;
        for (; i < log.size() && log[i] != '\r'; i++) {
            if (log[i] == '\n')
                continue;
            if (first < 0)
                first = (long)i;
            if (log[i] == 0)
                nul = true;
            if (!nul)
                text += log[i];
        }
        i++;    // past the CR
        if (text.compare(0, 4, "*** ") == 0) {
            (*count)++;
            *lastOffset = first;
        }
    }
}

bool Plain(const char *path, int pattern)
{
    return strlen(path) > 3 && IsPlainAbsolutePath(path, pattern) && !IsRootPath(path);
}

bool HasControl(const char *text)
{
    for (; *text; text++)
        if (*text == '\r' || *text == '\n')
            return true;
    return false;
}

// Whether every text field of every entry points at a text.
bool TextsPresent()
{
    for (const EntryList *list : {&AppFileList, &SysFileList})
        for (int i = 0; i < list->Count; i++)
            if (!ENTRY_AT(FileEntry, *list, i)->Path || !ENTRY_AT(FileEntry, *list, i)->BackupPath)
                return false;
    for (int i = 0; i < EditFileList.Count; i++)
        if (!ENTRY_AT(EditEntry, EditFileList, i)->Path || !ENTRY_AT(EditEntry, EditFileList, i)->BackupPath)
            return false;
    for (int i = 0; i < IniEntryList.Count; i++) {
        const IniEntry *e = ENTRY_AT(IniEntry, IniEntryList, i);
        if (!e->File || !e->Section || !e->Item || !e->OldValue || !e->LastOldValue)
            return false;
    }
    for (int i = 0; i < RegKeyList.Count; i++)
        if (!ENTRY_AT(RegKeyEntry, RegKeyList, i)->Key || !ENTRY_AT(RegKeyEntry, RegKeyList, i)->ValueName)
            return false;
    for (int i = 0; i < RegValueList.Count; i++) {
        const RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, i);
        if (!e->Key || !e->ValueName || !e->OldData || !e->LastOldData)
            return false;
    }
    for (int i = 0; i < IconList.Count; i++) {
        const IconEntry *e = ENTRY_AT(IconEntry, IconList, i);
        if (!e->Group || !e->Name || !e->Command)
            return false;
    }
    for (int i = 0; i < ProgramList.Count; i++)
        if (!ENTRY_AT(ProgramEntry, ProgramList, i)->CommandLine || !ENTRY_AT(ProgramEntry, ProgramList, i)->Name)
            return false;
    return true;
}

// The checks every reading must pass; the first failure is described.
std::string CheckInventory(const std::string &log, int result, const FileIdentity *sysIds, int sysCount)
{
    if (!TextsPresent())
        return "an entry without a text";
    for (int k = 0; k < 2; k++) {
        const EntryList &list = k ? SysFileList : AppFileList;
        for (int i = 0; i < list.Count; i++) {
            const FileEntry *e = ENTRY_AT(FileEntry, list, i);
            if (!Plain(e->Path, 1) || (e->BackupPath[0] && !Plain(e->BackupPath, 0)))
                return std::string("file path not plain: ") + e->Path + " / " + e->BackupPath;
            if (k == 0) {
                std::string dir = e->Path;
                dir = dir.substr(0, dir.rfind('\\'));
                FileIdentity id;
                if (GetFileIdentity(dir.c_str(), &id) == 0)
                    for (int s = 0; s < sysCount; s++)
                        if (SameIdentity(&id, &sysIds[s]))
                            return std::string("system file kept as an application file: ") + e->Path;
            }
        }
    }
    for (int i = 0; i < EditFileList.Count; i++) {
        const EditEntry *e = ENTRY_AT(EditEntry, EditFileList, i);
        if (!Plain(e->Path, 0) || !Plain(e->BackupPath, 0))
            return std::string("edited file not plain: ") + e->Path;
    }
    for (int i = 0; i < DirList.Count; i++) {
        const DirEntry *e = ENTRY_AT(DirEntry, DirList, i);
        size_t n = strlen(e->Path);
        if (!Plain(e->Path, 0) || n == 0 || e->Path[n - 1] != '\\')
            return std::string("directory not plain: ") + e->Path;
    }
    for (int i = 0; i < NewIniList.Count; i++)
        if (!Plain(ENTRY_AT(NewIniEntry, NewIniList, i)->Path, 0))
            return std::string("new INI not plain: ") + ENTRY_AT(NewIniEntry, NewIniList, i)->Path;
    for (int i = 0; i < IniEntryList.Count; i++) {
        const IniEntry *e = ENTRY_AT(IniEntry, IniEntryList, i);
        if (!Plain(e->File, 0) || HasControl(e->Section) || HasControl(e->Item) || HasControl(e->OldValue))
            return std::string("INI entry not plain: ") + e->File;
    }
    for (int i = 0; i < RegTreeList.Count; i++) {
        const RegTreeEntry *e = ENTRY_AT(RegTreeEntry, RegTreeList, i);
        if (e->Root < 0 || e->Root > 4 || HasControl(e->Key))
            return std::string("registry tree out of range: ") + e->Key;
    }
    for (int i = 0; i < RegValueList.Count; i++) {
        const RegValueEntry *e = ENTRY_AT(RegValueEntry, RegValueList, i);
        if (e->Root < 0 || e->Root > 4 || e->Type < 0 || e->Type > 4)
            return std::string("registry value out of range: ") + e->Key;
    }
    for (int i = 0; i < ServiceList.Count; i++)
        if (strpbrk(ENTRY_AT(ServiceEntry, ServiceList, i)->Name, "\\/"))
            return "service name with a path";
    if (result == 0) {
        unsigned count;
        long last;
        CountHeaders(log, &count, &last);
        if (count != InstallCount)
            return "blocks " + std::to_string(InstallCount) + ", header lines " + std::to_string(count);
        if (count > 1 && last != LastInstallOffset)
            return "last block at " + std::to_string(LastInstallOffset) + ", header line at " + std::to_string(last);
    }
    return "";
}

TEST(LogFuzz, MutatedLogsKeepOnlyWhatTheRulesAllow)
{
    Dir = ScratchDir("fuzz");
    char buf[MAX_PATH];
    GetSystemDirectoryA(buf, sizeof buf);
    Sys = buf;
    GetWindowsDirectoryA(buf, sizeof buf);
    Win = buf;
    CreateDirectoryA((Dir + "\\App").c_str(), NULL);
    CreateDirectoryA((Dir + "\\App\\Sub").c_str(), NULL);
    for (const char *f : {"\\App\\A.EXE", "\\App\\B.DLL", "\\App\\Sub\\C.TXT", "\\App\\A.BAK"})
        WriteFileBytes(Dir + f, "x");
    WriteFileBytes(Dir + "\\NEW.INI", "[S]\r\nK=now\r\n");
    WriteFileBytes(Sys + "\\KVFUZZ.DLL", "x");
    FileIdentity sysIds[3];
    int sysCount = 0;
    for (const std::string &d : {Win, Sys})
        if (GetFileIdentity(d.c_str(), &sysIds[sysCount]) == 0)
            sysCount++;

    const char *countText = getenv("KV_FUZZ_COUNT"), *seedText = getenv("KV_FUZZ_SEED");
    // The everyday sample; scripts/safety-long.sh runs a hundred thousand.
    int count = countText && atoi(countText) > 0 ? atoi(countText) : 250;
    Rng rng{seedText && strtoull(seedText, NULL, 10) ? strtoull(seedText, NULL, 10) : 0x9E3779B97F4A7C15ull};
    std::string logPath = Dir + "\\INSTALL.LOG";
    const char *dumpPath = getenv("KV_FUZZ_DUMP");
    FILE *dump = dumpPath && dumpPath[0] ? fopen(dumpPath, "wb") : NULL;
    int read = 0, refusals = 0, failures = 0;
    SIZE_T settled = 0;
    typedef BOOL(WINAPI * MemoryInfoProc)(HANDLE, PROCESS_MEMORY_COUNTERS *, DWORD);
    HMODULE psapi = LoadLibraryA("psapi.dll");
    MemoryInfoProc memoryInfo =
        psapi ? (MemoryInfoProc)(void *)GetProcAddress(psapi, "GetProcessMemoryInfo") : NULL;
    ASSERT_TRUE(memoryInfo != NULL);
    DWORD start = GetTickCount();
    for (int n = 0; n < count; n++) {
        std::string log = rng.Below(20) ? Mutate(rng, ValidLog(rng)) : ValidLog(rng);
        ASSERT_TRUE(WriteFileBytes(logPath, log));
        ResetInventory();
        SetCurrentDirectoryA((Dir + "\\App").c_str());   // relative names would find files here
        int result = ReadLogAt(logPath);
        read += result == 0;
        refusals += RefusalCount();
        if (dump) {
            fprintf(dump, "== log %d result %d\n", n, result);
            DumpInventoryToFile(dump);
        }
        std::string problem = CheckInventory(log, result, sysIds, sysCount);
        if (!problem.empty() && ++failures <= 5) {
            std::string shown;
            for (char c : log)
                shown += c == 0 ? std::string("<NUL>") : c == '\r' ? std::string("<CR>\n") : std::string(1, c);
            ADD_FAILURE() << "log " << n << ": " << problem << "\n" << shown;
        }
        PROCESS_MEMORY_COUNTERS pmc;
        pmc.cb = sizeof pmc;
        if (memoryInfo && memoryInfo(GetCurrentProcess(), &pmc, sizeof pmc)) {
            if (n == 200)
                settled = pmc.WorkingSetSize;
            // Readings release what they took: no growth from log to log.
            if (n > 200 && pmc.WorkingSetSize > settled + 64u * 1024 * 1024 && ++failures <= 5)
                ADD_FAILURE() << "working set grew from " << settled << " to " << pmc.WorkingSetSize << " bytes";
        }
    }
    if (dump)
        fclose(dump);
    FreeInventory();
    ASSERT_EQ(0, CreateInventory());
    DeleteFileA((Sys + "\\KVFUZZ.DLL").c_str());
    printf("fuzz: %d logs, %d read, %d refusals, %d failures, %lu ms\n", count, read, refusals, failures,
           (unsigned long)(GetTickCount() - start));
    EXPECT_EQ(0, failures);
    // The mutations must reach the reader's defences, or the run proves little.
    EXPECT_GT(read, count / 2);
    EXPECT_GT(refusals, count / 10);
}

} // namespace
