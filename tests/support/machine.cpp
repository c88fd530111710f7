// See machine.h.
#include "machine.h"
#include <windows.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <stdio.h>
#include <string.h>
#include "kvtest.h"

namespace {

std::vector<std::string> ContentFolders;

bool ContentKept(const std::string &path)
{
    for (const std::string &top : ContentFolders)
        if (_strnicmp(path.c_str(), top.c_str(), top.size()) == 0)
            return true;
    return false;
}

void ListFiles(const std::string &dir, const std::vector<std::string> &skip, std::string &out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> names;
    do {
        if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
            names.push_back(fd.cFileName);
    } while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        std::string path = dir + "\\" + name;
        bool skipped = false;
        for (const std::string &k : skip)
            skipped |= _stricmp(path.c_str(), k.c_str()) == 0;
        if (skipped)
            continue;
        WIN32_FILE_ATTRIBUTE_DATA a;
        if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &a))
            continue;
        // A folder's own time changes with any file made and gone inside
        // (the report's temporary file); its files are listed one by one.
        char line[128];
        if (a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            snprintf(line, sizeof line, " %lx\n", a.dwFileAttributes);
        else
            snprintf(line, sizeof line, " %lx %lu %lx:%lx\n", a.dwFileAttributes, a.nFileSizeLow,
                     a.ftLastWriteTime.dwHighDateTime, a.ftLastWriteTime.dwLowDateTime);
        out += path + line;
        if ((a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(a.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            ListFiles(path, skip, out);
        else if (a.nFileSizeLow < 65536 && ContentKept(path))
            out += ReadFileBytes(path) + "\n";      // the product's files, whole
    }
}

void ListKey(HKEY root, const std::string &key, std::string &out)
{
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return;
    out += "[" + key + "]\n";
    for (DWORD i = 0;; i++) {
        char name[1024];
        BYTE data[4096];
        DWORD nameLen = sizeof name, dataLen = sizeof data, type = 0;
        LONG r = RegEnumValueA(h, i, name, &nameLen, NULL, &type, data, &dataLen);
        if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA)
            break;
        out += std::string(name) + "=" + std::to_string(type) + ":" +
               (r == ERROR_SUCCESS ? std::string((const char *)data, dataLen) : "<big>") + "\n";
    }
    std::vector<std::string> subs;
    for (DWORD i = 0;; i++) {
        char name[1024];
        DWORD len = sizeof name;
        if (RegEnumKeyExA(h, i, name, &len, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subs.push_back(name);
    }
    RegCloseKey(h);
    // The class registrations (large, and linked into the 32-bit view) are
    // not touched by this product.
    for (const std::string &s : subs)
        if (_stricmp(s.c_str(), "Classes") && _stricmp(s.c_str(), "Wow6432Node"))
            ListKey(root, key.empty() ? s : key + "\\" + s, out);
}

// Every file of drive C: (size, time, attributes; the product's with their
// content) and the registry that a run can touch: HKCU, HKLM's software and
// services (so SharedDLLs counts too). The report itself is left out.
} // namespace

std::string Machine(const std::vector<std::string> &skip, const std::vector<std::string> &contentUnder)
{
    ContentFolders = contentUnder;
    std::string out;
    ListFiles("C:", skip, out);
    ListKey(HKEY_CURRENT_USER, "Software", out);
    ListKey(HKEY_LOCAL_MACHINE, "Software", out);
    ListKey(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services", out);
    return out;
}

// The first line where two machine texts differ, for the message.
std::string FirstDifference(const std::string &a, const std::string &b)
{
    size_t pa = 0, pb = 0;
    while (pa < a.size() && pb < b.size()) {
        size_t ea = a.find('\n', pa), eb = b.find('\n', pb);
        std::string x = a.substr(pa, ea - pa), y = b.substr(pb, eb - pb);
        if (x != y)
            return "before: " + x + "\nafter:  " + y;
        if (ea == std::string::npos || eb == std::string::npos)
            break;
        pa = ea + 1;
        pb = eb + 1;
    }
    return "lengths " + std::to_string(a.size()) + " and " + std::to_string(b.size());
}

// --- the report ---------------------------------------------------------------

static std::vector<std::string> Fields(const std::string &line)
{
    std::vector<std::string> f;
    size_t p = 0;
    for (;;) {
        size_t t = line.find('\t', p);
        f.push_back(line.substr(p, t == std::string::npos ? std::string::npos : t - p));
        if (t == std::string::npos)
            return f;
        p = t + 1;
    }
}

Report ReadReport(const std::string &path)
{
    Report r;
    bool inLeft = false;
    for (const std::string &line : SplitCrLf(ReadFileBytes(path))) {
        if (line.empty())
            continue;
        if (line == "#LEFT") {
            inLeft = true;
        } else if (line.compare(0, 8, "#RESULT=") == 0) {
            r.result = line.substr(8);
        } else if (line[0] == '#') {
            size_t eq = line.find('=');
            r.head[line.substr(0, eq)] = eq == std::string::npos ? "" : line.substr(eq + 1);
        } else {
            (inLeft ? r.left : r.rows).push_back(Fields(line));
        }
    }
    return r;
}

// The row of kind and target (columns: seq, install, kind, target, action,
// outcome, reason, detail); empty when there is none.
std::vector<std::string> RowOf(const Report &r, const std::string &kind, const std::string &target)
{
    for (const auto &row : r.rows)
        if (row.size() == 8 && row[2] == kind && _stricmp(row[3].c_str(), target.c_str()) == 0)
            return row;
    return {};
}

std::string Outcome(const Report &r, const std::string &kind, const std::string &target)
{
    std::vector<std::string> row = RowOf(r, kind, target);
    return row.empty() ? "<no row>" : row[5] + " " + row[6];
}


void ExpectSamePlan(const Report &preview, const Report &real)
{
    ASSERT_EQ(preview.rows.size(), real.rows.size());
    for (size_t i = 0; i < real.rows.size(); i++) {
        ASSERT_EQ(8u, real.rows[i].size()) << "row " << i + 1;
        for (int c = 0; c < 5; c++)
            EXPECT_EQ(preview.rows[i][c], real.rows[i][c]) << "row " << i + 1 << " column " << c;
    }
}
