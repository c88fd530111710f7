// See difference.h.
#include "difference.h"
#include <windows.h>
#include <algorithm>
#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include "kvtest.h"

namespace {

const char Sep = '\1';
const char SharedKey[] = "HKLM\\SOFTWARE\\MICROSOFT\\WINDOWS\\CURRENTVERSION\\SHAREDDLLS";
const char EngineKey[] = "HKLM\\SOFTWARE\\BORLAND";

bool StartsWith(const std::string &s, const std::string &prefix)
{
    return s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string &s, const std::string &suffix)
{
    return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// The path itself or anything below it.
bool AtOrBelow(const std::string &path, const std::string &top)
{
    return path == top || StartsWith(path, top + "\\");
}

std::string Hash(const std::string &bytes)
{
    unsigned long long h = 1469598103934665603ull;
    for (unsigned char c : bytes)
        h = (h ^ c) * 1099511628211ull;
    char text[48];
    snprintf(text, sizeof text, "%zu:%016llx", bytes.size(), h);
    return text;
}

bool Skipped(const StateScope &scope, const std::string &upper)
{
    for (const std::string &s : scope.skip)
        if (AtOrBelow(upper, UpperText(s)))
            return true;
    return false;
}

// Contents already read, by path, with the size and time they were read at:
// a file written since has another time, so only those are read again.
std::map<std::string, std::pair<std::string, std::string>> ReadBefore;

void TakeFile(const std::string &path, const WIN32_FIND_DATAA &fd, MachineState &state)
{
    char stamp[64];
    snprintf(stamp, sizeof stamp, "%lu:%lx%08lx:%lx", fd.nFileSizeLow, fd.ftLastWriteTime.dwHighDateTime,
             fd.ftLastWriteTime.dwLowDateTime, fd.dwFileAttributes);
    std::string id = "F|" + UpperText(path);
    auto known = ReadBefore.find(id);
    if (known != ReadBefore.end() && known->second.first == stamp) {
        state.items[id] = known->second.second;
        return;
    }
    // The system's own large libraries by size and time: reading them all
    // would cost half a minute.
    if (fd.nFileSizeHigh || fd.nFileSizeLow > 256 * 1024) {
        state.items[id] = std::string("big:") + stamp;
        return;
    }
    bool ok = false;
    std::string bytes = ReadFileBytes(path, &ok);
    // A file held without read sharing stays as it is: its size and time say so.
    std::string taken = ok ? "file:" + Hash(bytes) : std::string("held:") + stamp;
    state.items[id] = taken;
    if (ok)
        ReadBefore[id] = {stamp, taken};
}

void TakeFolder(const std::string &dir, bool recurse, const StateScope &scope, MachineState &state)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    do {
        if (!strcmp(fd.cFileName, ".") || !strcmp(fd.cFileName, ".."))
            continue;
        std::string path = dir + "\\" + fd.cFileName;
        if (Skipped(scope, UpperText(path)))
            continue;
        if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            if (!recurse)
                continue;
            state.items["D|" + UpperText(path)] = "dir";
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
                TakeFolder(path, true, scope, state);
        } else {
            TakeFile(path, fd, state);
        }
    } while (FindNextFileA(h, &fd));
    FindClose(h);
}

void TakeKey(HKEY root, const std::string &name, const std::string &key, MachineState &state)
{
    HKEY h;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) != ERROR_SUCCESS)
        return;
    std::string id = UpperText(name + "\\" + key);
    state.items["K|" + id] = "key";
    std::vector<char> valueName(16384 + 1);
    std::vector<BYTE> data(65536);
    for (DWORD i = 0;; i++) {
        DWORD nameLen = (DWORD)valueName.size(), dataLen = (DWORD)data.size(), type = 0;
        LONG r = RegEnumValueA(h, i, valueName.data(), &nameLen, NULL, &type, data.data(), &dataLen);
        if (r != ERROR_SUCCESS && r != ERROR_MORE_DATA)
            break;
        std::string value = std::to_string(type) + ":" +
                            (r == ERROR_SUCCESS ? std::string((const char *)data.data(), dataLen) : "<big>");
        state.items["V|" + id + Sep + UpperText(valueName.data())] = value;
    }
    std::vector<std::string> subs;
    for (DWORD i = 0;; i++) {
        char sub[1024];
        DWORD len = sizeof sub;
        if (RegEnumKeyExA(h, i, sub, &len, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        subs.push_back(sub);
    }
    RegCloseKey(h);
    // The class registrations are large and linked into the 32-bit view;
    // Wine keeps its own settings under HKCU\Software\Wine.
    for (const std::string &s : subs)
        if (_stricmp(s.c_str(), "Classes") && _stricmp(s.c_str(), "Wow6432Node") &&
            !(root == HKEY_CURRENT_USER && key == "Software" && !_stricmp(s.c_str(), "Wine")))
            TakeKey(root, name, key + "\\" + s, state);
}

// Items as the profile functions read them: the first of a name counts.
void TakeIni(const std::string &file, MachineState &state)
{
    bool ok = false;
    std::string text = ReadFileBytes(file, &ok);
    if (!ok)
        return;
    std::string section, base = "I|" + UpperText(file) + Sep;
    for (std::string line : SplitCrLf(text)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == ';')
            continue;
        line = line.substr(start);
        if (line[0] == '[') {
            size_t end = line.find(']');
            section = UpperText(line.substr(1, end == std::string::npos ? std::string::npos : end - 1));
            continue;
        }
        size_t eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        std::string name = line.substr(0, eq);
        name.erase(name.find_last_not_of(" \t") + 1);
        std::string id = base + section + Sep + UpperText(name);
        if (!state.items.count(id))
            state.items[id] = "=" + line.substr(eq + 1);
    }
}

void TakeServices(MachineState &state)
{
    SC_HANDLE manager = OpenSCManagerA(NULL, NULL, SC_MANAGER_ENUMERATE_SERVICE);
    if (!manager)
        return;
    std::vector<BYTE> buf(256 * 1024);
    DWORD needed = 0, count = 0, resume = 0;
    if (EnumServicesStatusA(manager, SERVICE_WIN32 | SERVICE_DRIVER, SERVICE_STATE_ALL,
                            (LPENUM_SERVICE_STATUSA)buf.data(), (DWORD)buf.size(), &needed, &count, &resume)) {
        const ENUM_SERVICE_STATUSA *s = (const ENUM_SERVICE_STATUSA *)buf.data();
        for (DWORD i = 0; i < count; i++)
            state.items["S|" + UpperText(s[i].lpServiceName)] = "service";
    }
    CloseServiceHandle(manager);
}

// The path part of an id ("F|", "D|", "I|" ids), upper-cased.
std::string PathOf(const std::string &id)
{
    std::string rest = id.substr(2);
    size_t sep = rest.find(Sep);
    return sep == std::string::npos ? rest : rest.substr(0, sep);
}

} // namespace

std::string UpperText(std::string s)
{
    for (char &c : s)
        if (c >= 'a' && c <= 'z')
            c = (char)(c - 'a' + 'A');
    return s;
}

std::string Unescape(const std::string &field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); i++) {
        if (field[i] == '%' && i + 2 < field.size() && isxdigit((unsigned char)field[i + 1]) &&
            isxdigit((unsigned char)field[i + 2])) {
            out += (char)strtol(field.substr(i + 1, 2).c_str(), NULL, 16);
            i += 2;
        } else {
            out += field[i];
        }
    }
    return out;
}

MachineState TakeState(const StateScope &scope)
{
    MachineState state;
    for (const std::string &t : scope.trees) {
        if (GetFileAttributesA(t.c_str()) == INVALID_FILE_ATTRIBUTES)
            continue;
        state.items["D|" + UpperText(t)] = "dir";
        TakeFolder(t, true, scope, state);
    }
    for (const std::string &f : scope.flatFolders)
        TakeFolder(f, false, scope, state);
    for (const std::string &f : scope.iniFiles)
        TakeIni(f, state);
    TakeKey(HKEY_CURRENT_USER, "HKCU", "Software", state);
    TakeKey(HKEY_LOCAL_MACHINE, "HKLM", "Software", state);
    TakeServices(state);
    return state;
}

std::vector<Change> Differences(const MachineState &before, const MachineState &after)
{
    std::vector<Change> changes;
    auto b = before.items.begin(), a = after.items.begin();
    while (b != before.items.end() || a != after.items.end()) {
        if (a == after.items.end() || (b != before.items.end() && b->first < a->first)) {
            changes.push_back({b->first, b->second, ""});
            ++b;
        } else if (b == before.items.end() || a->first < b->first) {
            changes.push_back({a->first, "", a->second});
            ++a;
        } else {
            if (a->second != b->second)
                changes.push_back({a->first, b->second, a->second});
            ++a;
            ++b;
        }
    }
    return changes;
}

std::string Describe(const Change &c)
{
    std::string id = c.id;
    std::replace(id.begin(), id.end(), Sep, '|');
    auto shown = [](const std::string &s) {
        std::string out;
        for (unsigned char ch : s.substr(0, 60))
            out += ch < 32 || ch > 126 ? '.' : (char)ch;
        return out;
    };
    return (c.added() ? "added " : c.removed() ? "removed " : "changed ") + id + " (" + shown(c.before) + " -> " +
           shown(c.after) + ")";
}

bool RowNames(const std::vector<std::string> &row, const Change &c)
{
    if (row.size() < 8)
        return false;
    const std::string kind = row[2], action = row[4], outcome = row[5];
    const std::string target = UpperText(Unescape(row[3])), detail = Unescape(row[7]);
    const std::string &id = c.id;
    const char type = id[0];
    const std::string path = type == 'F' || type == 'D' || type == 'I' ? PathOf(id) : "";
    if (kind == "FILE" || kind == "SYSFILE") {
        if (action == "DELETE") {
            if (type == 'F' && path == target && c.removed())
                return true;
            // A help file's index companions go with it.
            return EndsWith(target, ".HLP") && type == 'F' && c.removed() &&
                   (path == target.substr(0, target.size() - 4) + ".GID" ||
                    path == target.substr(0, target.size() - 4) + ".FTS");
        }
        if (action == "RESTORE-BACKUP") {
            std::string backup = UpperText(detail), folder = target.substr(0, target.rfind('\\') + 1);
            if (type == 'F' && path == backup && c.removed())
                return true;
            if (outcome == "STAGED")     // the backup's copy waits beside the file
                return type == 'F' && c.added() && StartsWith(path, folder + "~KVU") && EndsWith(path, ".TMP") &&
                       path.find('\\', folder.size()) == std::string::npos;
            return type == 'F' && path == target && !c.added() && !c.removed();
        }
        return false;
    }
    if (kind == "DIR")       // the folder, and emptied folders inside it
        return action == "DELETE" && type == 'D' && AtOrBelow(path, target) && c.removed();
    if (kind == "TREE")
        return action == "DELETE" && (type == 'D' || type == 'F' || type == 'I') && AtOrBelow(path, target) &&
               c.removed();
    if (kind == "INIFILE")
        return action == "DELETE" && (type == 'F' || type == 'I') && path == target && c.removed();
    if (kind == "INI") {
        if (type == 'F')
            return path == target && !c.added() && !c.removed();
        size_t close = detail.find("] ");
        if (type != 'I' || detail.empty() || detail[0] != '[' || close == std::string::npos)
            return false;
        std::string section = UpperText(detail.substr(1, close - 1)), item = UpperText(detail.substr(close + 2));
        return id == "I|" + target + Sep + section + Sep + item;
    }
    if (kind == "REGVALUE")
        return id == "V|" + target + Sep + UpperText(detail);
    if (kind == "REGKEY")
        return action == "DELETE" && id == "K|" + target && c.removed();
    if (kind == "REGTREE")
        return action == "DELETE" && c.removed() &&
               (id == "K|" + target || StartsWith(id, "K|" + target + "\\") || StartsWith(id, "V|" + target + Sep) ||
                StartsWith(id, "V|" + target + "\\"));
    if (kind == "SHARED")
        return action == "DECREMENT" && id == "V|" + std::string(SharedKey) + Sep + target;
    if (kind == "SUBSYSTEM")     // the database engine's count, or its keys at the last reference
        return action == "DECREMENT" && (StartsWith(id, std::string("K|") + EngineKey) ||
                                         StartsWith(id, std::string("V|") + EngineKey));
    if (kind == "SERVICE")
        return action == "STOP-DELETE" && id == "S|" + target && c.removed();
    if (kind == "PROGRAM")       // what the program wrote, named on its command line
        return action == "RUN" && type == 'F' && !c.removed() && target.find(path) != std::string::npos;
    return false;
}

std::vector<std::string> DifferenceFailures(const Report &report, const std::vector<Change> &changes,
                                            const std::set<std::string> &exempt)
{
    std::vector<std::string> failures;
    for (const Change &c : changes) {
        bool excused = false;
        if (c.id[0] == 'F' || c.id[0] == 'D')
            for (const std::string &e : exempt)
                excused |= AtOrBelow(PathOf(c.id), UpperText(e));
        if (excused)
            continue;
        bool named = false;
        for (const auto &row : report.rows)
            if (row.size() == 8 && (row[5] == "DONE" || row[5] == "STAGED") && RowNames(row, c))
                named = true;
        if (!named)
            failures.push_back("no DONE or STAGED row names the change: " + Describe(c));
    }
    for (const auto &row : report.rows) {
        if (row.size() != 8 || row[5] != "DONE")
            continue;
        bool found = false;
        for (const Change &c : changes)
            found |= RowNames(row, c);
        if (!found)
            failures.push_back("DONE row names no change: " + row[0] + " " + row[2] + " " + row[3] + " " + row[4] +
                               " " + row[7]);
    }
    return failures;
}

std::vector<std::string> ResultLineFailures(const Report &report)
{
    std::vector<std::string> failures;
    std::map<std::string, int> rows;
    for (const auto &row : report.rows)
        if (row.size() == 8)
            rows[row[5]]++;
    std::map<std::string, int> seen;
    std::vector<std::string> fields;
    size_t p = report.result.find('\t');
    while (p != std::string::npos) {
        size_t next = report.result.find('\t', p + 1);
        fields.push_back(report.result.substr(p + 1, next == std::string::npos ? std::string::npos : next - p - 1));
        p = next;
    }
    for (const std::string &f : fields) {
        size_t eq = f.find('=');
        std::string name = f.substr(0, eq);
        int n = eq == std::string::npos ? -1 : atoi(f.c_str() + eq + 1);
        if (seen[name]++)
            failures.push_back("#RESULT names " + name + " twice: " + report.result);
        int want = name == "LEFT" ? (int)report.left.size() : rows[name];
        if (n != want)
            failures.push_back("#RESULT " + f + " but " + std::to_string(want) + (name == "LEFT" ? " #LEFT lines" : " rows"));
    }
    for (const auto &r : rows)
        if (!seen.count(r.first))
            failures.push_back("#RESULT does not count " + r.first + ": " + report.result);
    if (!seen.count("LEFT"))
        failures.push_back("#RESULT has no LEFT=: " + report.result);
    return failures;
}

std::vector<std::string> PredictionFailures(const Report &preview, const Report &real)
{
    std::vector<std::string> failures;
    if (preview.rows.size() != real.rows.size()) {
        failures.push_back("the preview planned " + std::to_string(preview.rows.size()) + " rows, the run made " +
                           std::to_string(real.rows.size()));
        for (const Report *r : {&preview, &real})
            for (const auto &row : r->rows)
                if (row.size() == 8)
                    failures.push_back((r == &preview ? "  planned " : "  made ") + row[0] + " " + row[2] + " " +
                                       row[3] + " " + row[4] + " " + row[5] + " " + row[6] + " " + row[7]);
        return failures;
    }
    static const std::map<std::string, std::string> predicted = {
        {"DONE", "WOULD-DO"}, {"KEPT", "WOULD-KEEP"}, {"FAILED", "WOULD-KEEP"}, {"STAGED", "WOULD-STAGE"},
        {"SKIPPED", "SKIPPED"}, {"REFUSED", "REFUSED"},
        {"CONFLICT", "CONFLICT"}};
    for (size_t i = 0; i < preview.rows.size() && i < real.rows.size(); i++) {
        const auto &p = preview.rows[i], &r = real.rows[i];
        std::string where = "row " + std::to_string(i + 1) + " " + (r.size() > 3 ? r[2] + " " + r[3] : "");
        if (p.size() != 8 || r.size() != 8) {
            failures.push_back(where + ": not 8 columns");
            continue;
        }
        for (int c = 0; c < 5; c++)
            if (p[c] != r[c])
                failures.push_back(where + ": column " + std::to_string(c) + " planned " + p[c] + ", made " + r[c]);
        auto want = predicted.find(r[5]);
        if (want == predicted.end() || want->second != p[5])
            failures.push_back(where + ": predicted " + p[5] + ", the run says " + r[5]);
        if (p[6] != r[6] && !StartsWith(r[6], "ERROR="))
            failures.push_back(where + ": predicted reason " + p[6] + ", the run's " + r[6]);
        if (p[7] != r[7])
            failures.push_back(where + ": detail " + p[7] + " against " + r[7]);
    }
    return failures;
}
