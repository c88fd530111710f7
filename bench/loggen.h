// Writes a large installation log with the files it names: 20,000
// "File Copy: " lines for files that exist, 200 "Self-Register: " lines
// (half of them with short 8.3 paths) and 4,096 entries of every other kind,
// in two installation blocks; and a log of 50 lines over the same files.
// Used by bench_logread.
#pragma once
#include <windows.h>
#include <stdio.h>
#include <string>
#include <vector>

struct BenchLog {
    std::string path;            // the log
    std::vector<std::string> files;
    size_t bytes = 0;
};

namespace loggen {

enum { FILE_LINES = 20000, FILE_DIRS = 100, SELF_REGISTER = 200, OTHER = 4096, INI_FILES = 64 };

inline bool Touch(const std::string &path, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD n = 0;
    WriteFile(h, bytes.data(), (DWORD)bytes.size(), &n, NULL);
    CloseHandle(h);
    return true;
}

inline std::string Num(int n, int width)
{
    char buf[16];
    snprintf(buf, sizeof buf, "%0*d", width, n);
    return buf;
}

} // namespace loggen

// root: a directory such as C:\kvbench (made if missing).
inline bool GenerateBenchLog(const std::string &root, BenchLog *out)
{
    using namespace loggen;
    CreateDirectoryA(root.c_str(), NULL);
    std::string files = root + "\\Application Files";
    CreateDirectoryA(files.c_str(), NULL);
    out->files.clear();
    for (int d = 0; d < FILE_DIRS; d++) {
        std::string dir = files + "\\Component Directory " + Num(d, 3);
        CreateDirectoryA(dir.c_str(), NULL);
        for (int i = 0; i < FILE_LINES / FILE_DIRS; i++) {
            std::string f = dir + "\\Library Module Number " + Num(i, 4) + ".dll";
            if (!Touch(f, "x")) {
                out->path = f;
                return false;
            }
            out->files.push_back(f);
        }
    }
    std::vector<std::string> inis;
    for (int k = 0; k < INI_FILES; k++) {
        std::string ini = root + "\\SETTINGS" + Num(k, 2) + ".INI";
        std::string text = "[Options]\r\n";
        for (int i = 0; i < OTHER / INI_FILES; i++)
            text += "Key" + Num(i, 3) + "=value" + Num(i, 3) + "\r\n";
        if (!Touch(ini, text))
            return false;
        inis.push_back(ini);
    }

    std::string log;
    log.reserve(8 << 20);
    const char *crlf = "\r\n";
    auto line = [&](const std::string &l) { log += l; log += crlf; };
    for (int block = 0; block < 2; block++) {
        if (block == 0) {
            line("***  Installation Log");
            line("Title: Bench Product Installation");
            line("Uninstall MIF: BENCH.MIF");
            line("Manufacturer: Bench Maker");
            line("Product: Bench Product");
        } else {
            line("***  Upgrade");
        }
        // Each block writes half of every kind; the second block also
        // repeats the first 1,000 file lines, which merge.
        int half = FILE_LINES / 2;
        if (block == 1)
            for (int i = 0; i < 1000; i++)
                line("File Copy: " + out->files[i]);
        for (int i = block * half; i < (block + 1) * half; i++) {
            line("File Copy: " + out->files[i]);
            if (i % 10 == 0)
                line("Backup Copy: " + root + "\\BACKUP\\" + Num(i, 5) + ".BAK");
        }
        for (int i = block * SELF_REGISTER / 2; i < (block + 1) * SELF_REGISTER / 2; i++) {
            std::string f = out->files[i * (FILE_LINES / SELF_REGISTER)];
            if (i % 2) {
                char s[MAX_PATH];
                DWORD n = GetShortPathNameA(f.c_str(), s, sizeof s);
                if (n > 0 && n < sizeof s)
                    f = s;
            }
            line("Self-Register: " + f);
        }
        int lo = block * OTHER / 2, hi = (block + 1) * OTHER / 2;
        for (int i = lo; i < hi; i++) {
            std::string n = Num(i, 4);
            line("File Edit: " + out->files[i * 3]);
            line("Backup Copy: " + root + "\\EDITS\\" + n + ".BAK");
            line("Create Service: BenchService" + n);
            line("Add Device: " + out->files[i * 4]);
            line("INI New: x");
            line("INI File: " + out->files[i * 4 + 1]);
            line("INI File: " + inis[i % INI_FILES]);
            line("INI Sect: Options");
            line("INI Item: Key" + Num(i / INI_FILES, 3));
            line("INI Val: value" + Num(i / INI_FILES, 3));
            line("INI Old: old" + n);
            line("Execute Path: C:\\BENCH\\CLEANUP.EXE /x" + n);
            line("Execute Name: Clean-up step " + n);
            line("Icon Group: Bench Group " + Num(i % 32, 2));
            line("Icon Name: Bench Item " + n);
            line("Icon Cmd: C:\\BENCH\\ITEM" + n + ".EXE");
            line("Made Dir: " + root + "\\Made\\Level " + Num(i % 64, 2) + "\\Directory " + n);
            line("File Tree: " + root + "\\Trees\\Tree " + n + "\\*.*");
            line("RegDB Tree: Software\\Bench\\Tree" + n);
            line("RegDB Root: 2");
            line("RegDB Key: Software\\Bench\\Keys\\Key" + n);
            line("RegDB Val: v");
            line("RegDB Name: Name" + n);
            line("RegDB Root: 1");
            line("RegDB Key: Software\\Bench\\Values\\Key" + n);
            line("RegDB Val: v");
            line("RegDB Name: Data");
            line("RegDB Type: 2");
            line("RegDB Root: 2");
            line("RegDB Old: first string " + n);
            line("RegDB Old: second string " + n);
        }
        line("SubSystem: BDE");
    }
    // The log lies in a directory of its own, so that the made directories
    // stay separate entries instead of merging into the log's directory.
    std::string logDir = root + "\\Log";
    CreateDirectoryA(logDir.c_str(), NULL);
    out->path = logDir + "\\INSTALL.LOG";
    out->bytes = log.size();
    return Touch(out->path, log);
}

// A 50-line log of one block over files GenerateBenchLog made: the size of
// a small product, where fixed costs of a reading show.
inline bool GenerateSmallLog(const std::string &root, const BenchLog &big, std::string *path)
{
    using namespace loggen;
    std::string log = "***  Installation Log\r\nTitle: Small Product Installation\r\n";
    for (int i = 0; i < 17; i++)
        log += "File Copy: " + big.files[i * 7] + "\r\n";
    for (int i = 0; i < 4; i++)
        log += "Made Dir: " + root + "\\Made\\Small " + Num(i, 2) + "\r\n";
    for (int i = 0; i < 2; i++)
        log += "INI File: " + root + "\\SETTINGS00.INI\r\nINI Sect: Options\r\nINI Item: Key" + Num(i, 3) +
               "\r\nINI Val: value\r\n";
    for (int i = 0; i < 3; i++)
        log += "RegDB Key: Software\\Small\\Key" + Num(i, 2) + "\r\nRegDB Val: v\r\nRegDB Name: Data\r\n"
               "RegDB Root: 2\r\nRegDB Old: before\r\n";
    log += "Self-Register: " + big.files[0] + "\r\n";
    log += "Icon Group: Small\r\nIcon Name: Small Item\r\nIcon Cmd: C:\\SMALL\\ITEM.EXE\r\n";
    std::string dir = root + "\\Small";
    CreateDirectoryA(dir.c_str(), NULL);
    *path = dir + "\\INSTALL.LOG";
    return Touch(*path, log);
}
