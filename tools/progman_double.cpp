// A stand-in for the shell's "PROGMAN" DDE service, for tests.
//
// usage: progman_double.exe DIR [-nogroups] [-fail GROUP]... [-refuse TEXT]...
// Commands carried out: ShowGroup, DeleteItem, DeleteGroup, CreateGroup,
// AddItem (with two arguments, or all nine).
//   DIR\groups.txt   the groups: a line "=NAME" starts a group; the lines up to
//                    the next "=" line are its description, served with CR LF
//                    after each line. "GROUPS" lists the names.
//   DIR\requests.txt every item requested, one per line
//   DIR\commands.txt every execute string received, one per line; each may
//                    hold several "[Verb(args)]" commands, all carried out
//   DIR\result.txt   the groups after each command, in the format of groups.txt
// -nogroups refuses the "GROUPS" request; -fail refuses one group's request;
// -refuse answers an execute string that holds TEXT with a negative
// acknowledgement, and carries none of its commands out (it is recorded).
//
// Written with raw DDE messages: Wine's DDEML server answers back-to-back
// requests wrongly (it acknowledges data it already sent).
#include <windows.h>
#include <dde.h>
#include <string>
#include <vector>

struct Group {
    std::string name;
    std::vector<std::string> lines;   // the description, first line included
};

static std::string Dir;
static std::vector<Group> Groups;
static std::vector<std::string> Failing;
static std::vector<std::string> Refused;
static bool NoGroups;
static int Active = -1;               // group the last ShowGroup activated

static bool SameText(const std::string &a, const std::string &b)
{
    return lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

static std::string ReadAll(const std::string &path)
{
    std::string out;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return out;
    char buf[4096];
    DWORD got;
    while (ReadFile(h, buf, sizeof buf, &got, NULL) && got)
        out.append(buf, got);
    CloseHandle(h);
    return out;
}

static void WriteAll(const std::string &path, const std::string &text, bool append)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL,
                           append ? OPEN_ALWAYS : CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return;
    if (append)
        SetFilePointer(h, 0, NULL, FILE_END);
    DWORD put;
    WriteFile(h, text.data(), (DWORD)text.size(), &put, NULL);
    CloseHandle(h);
}

static void LoadGroups()
{
    std::string text = ReadAll(Dir + "\\groups.txt");
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string line = text.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        pos = end == std::string::npos ? text.size() : end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!line.empty() && line[0] == '=')
            Groups.push_back(Group{line.substr(1), {}});
        else if (!Groups.empty())
            Groups.back().lines.push_back(line);
    }
}

static void SaveResult()
{
    std::string out;
    for (const Group &g : Groups) {
        out += "=" + g.name + "\r\n";
        for (const std::string &l : g.lines)
            out += l + "\r\n";
    }
    WriteAll(Dir + "\\result.tmp", out, false);
    MoveFileExA((Dir + "\\result.tmp").c_str(), (Dir + "\\result.txt").c_str(),
                MOVEFILE_REPLACE_EXISTING);
}

static int FindGroup(const std::string &name)
{
    for (size_t i = 0; i < Groups.size(); i++)
        if (SameText(Groups[i].name, name))
            return (int)i;
    return -1;
}

static void DeleteItem(const std::string &name)
{
    if (Active < 0)
        return;
    std::vector<std::string> &lines = Groups[Active].lines;
    for (size_t i = 1; i < lines.size(); i++) {
        const std::string &l = lines[i];
        size_t close = l.find('"', 1);
        if (!l.empty() && l[0] == '"' && close != std::string::npos &&
            SameText(l.substr(1, close - 1), name)) {
            lines.erase(lines.begin() + i);
            break;
        }
    }
}

static void Apply(const std::string &verb, const std::vector<std::string> &args)
{
    std::string first = args.empty() ? std::string() : args[0];
    if (SameText(verb, "ShowGroup")) {
        Active = FindGroup(first);
    } else if (SameText(verb, "DeleteItem")) {
        DeleteItem(first);
    } else if (SameText(verb, "CreateGroup")) {
        // Made when missing (its description a quoted name), and made active.
        Active = FindGroup(first);
        if (Active < 0 && !first.empty()) {
            Groups.push_back(Group{first, {"\"" + first + "\""}});
            Active = (int)Groups.size() - 1;
        }
    } else if (SameText(verb, "AddItem")) {
        // AddItem(command, name[, icon, index, x, y, folder, hot key,
        // minimised]) as a description line: name, command[, folder,
        // icon, x, y, index, hot key, minimised].
        if (Active >= 0 && args.size() >= 2) {
            std::string line = "\"" + args[1] + "\",\"" + args[0] + "\"";
            if (args.size() == 9)
                line += ",\"" + args[6] + "\",\"" + args[2] + "\"," + args[4] + "," + args[5] + "," + args[3] + "," +
                        args[7] + "," + args[8];
            Groups[Active].lines.push_back(line);
        }
    } else if (SameText(verb, "DeleteGroup")) {
        int g = FindGroup(first);
        if (g >= 0) {
            Groups.erase(Groups.begin() + g);
            Active = -1;
        }
    }
}

// Carries out every command of an execute string as the shell reads it:
// "[Verb(arg,arg)]" commands one after another; arguments are separated by
// commas, and a quoted argument runs to its closing quote, so that brackets,
// parentheses and commas inside it are plain text. Reading stops at the
// first malformed command.
static void ApplyAll(const std::string &text)
{
    size_t i = 0, n = text.size();
    while (i < n) {
        while (i < n && text[i] == ' ')
            i++;
        if (i >= n || text[i] != '[')
            return;
        size_t v = ++i;
        while (i < n && text[i] != '(' && text[i] != ']')
            i++;
        std::string verb = text.substr(v, i - v);
        std::vector<std::string> args;
        if (i < n && text[i] == '(') {
            i++;
            for (;;) {
                while (i < n && text[i] == ' ')
                    i++;
                std::string arg;
                if (i < n && text[i] == '"') {
                    size_t close = text.find('"', i + 1);
                    if (close == std::string::npos)
                        return;
                    arg = text.substr(i + 1, close - i - 1);
                    i = close + 1;
                } else {
                    size_t s = i;
                    while (i < n && text[i] != ',' && text[i] != ')')
                        i++;
                    arg = text.substr(s, i - s);
                }
                args.push_back(arg);
                while (i < n && text[i] == ' ')
                    i++;
                if (i < n && text[i] == ',') {
                    i++;
                    continue;
                }
                if (i < n && text[i] == ')') {
                    i++;
                    break;
                }
                return;
            }
        }
        if (i >= n || text[i] != ']')
            return;
        i++;
        Apply(verb, args);
    }
}

static std::string AtomText(ATOM atom)
{
    char buf[256] = "";
    if (atom)
        GlobalGetAtomNameA(atom, buf, sizeof buf);
    return buf;
}

static void Refuse(HWND self, HWND client, ATOM item)
{
    LPARAM lp = PackDDElParam(WM_DDE_ACK, 0, item);
    if (!PostMessageA(client, WM_DDE_ACK, (WPARAM)self, lp)) {
        FreeDDElParam(WM_DDE_ACK, lp);
        GlobalDeleteAtom(item);
    }
}

static void Reply(HWND self, HWND client, ATOM item, const std::string &text)
{
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(DDEDATA) + text.size() + 1);
    DDEDATA *data = mem ? (DDEDATA *)GlobalLock(mem) : NULL;
    if (!data) {
        Refuse(self, client, item);
        return;
    }
    ZeroMemory(data, sizeof(DDEDATA));
    data->fResponse = 1;
    data->fRelease = 1;
    data->cfFormat = CF_TEXT;
    memcpy(data->Value, text.c_str(), text.size() + 1);
    GlobalUnlock(mem);
    LPARAM lp = PackDDElParam(WM_DDE_DATA, (UINT_PTR)mem, item);
    if (!PostMessageA(client, WM_DDE_DATA, (WPARAM)self, lp)) {
        FreeDDElParam(WM_DDE_DATA, lp);
        GlobalFree(mem);
        GlobalDeleteAtom(item);
    }
}

static void Request(HWND self, HWND client, UINT format, ATOM item)
{
    std::string name = AtomText(item);
    WriteAll(Dir + "\\requests.txt", name + "\r\n", true);
    if (format != CF_TEXT) {
        Refuse(self, client, item);
        return;
    }
    if (SameText(name, "GROUPS")) {
        if (NoGroups) {
            Refuse(self, client, item);
            return;
        }
        std::string list;
        for (const Group &g : Groups)
            list += g.name + "\r\n";
        Reply(self, client, item, list);
        return;
    }
    int g = FindGroup(name);
    for (const std::string &f : Failing)
        if (SameText(f, name))
            g = -1;
    if (g < 0) {
        Refuse(self, client, item);
        return;
    }
    std::string desc;
    for (const std::string &l : Groups[g].lines)
        desc += l + "\r\n";
    Reply(self, client, item, desc);
}

static LRESULT CALLBACK ServerProc(HWND w, UINT msg, WPARAM wp, LPARAM lp)
{
    switch (msg) {
    case WM_DDE_INITIATE: {
        std::string app = AtomText(LOWORD(lp)), topic = AtomText(HIWORD(lp));
        if ((app.empty() || SameText(app, "PROGMAN")) && (topic.empty() || SameText(topic, "PROGMAN")))
            SendMessageA((HWND)wp, WM_DDE_ACK, (WPARAM)w,
                         MAKELPARAM(GlobalAddAtomA("PROGMAN"), GlobalAddAtomA("PROGMAN")));
        return 0;
    }
    case WM_DDE_REQUEST:
        Request(w, (HWND)wp, LOWORD(lp), HIWORD(lp));
        return 0;
    case WM_DDE_EXECUTE: {
        UINT_PTR lo = 0, hi = 0;
        UnpackDDElParam(WM_DDE_EXECUTE, lp, &lo, &hi);
        HGLOBAL mem = (HGLOBAL)hi;
        const char *text = (const char *)GlobalLock(mem);
        std::string cmd = text ? std::string(text, strnlen(text, GlobalSize(mem))) : std::string();
        if (text)
            GlobalUnlock(mem);
        WriteAll(Dir + "\\commands.txt", cmd + "\r\n", true);
        bool refuse = false;
        for (const std::string &r : Refused)
            refuse |= cmd.find(r) != std::string::npos;
        if (!refuse) {
            ApplyAll(cmd);
            SaveResult();
        }
        PostMessageA((HWND)wp, WM_DDE_ACK, (WPARAM)w,
                     ReuseDDElParam(lp, WM_DDE_EXECUTE, WM_DDE_ACK, refuse ? 0 : 0x8000, hi));
        return 0;
    }
    case WM_DDE_TERMINATE:
        PostMessageA((HWND)wp, WM_DDE_TERMINATE, (WPARAM)w, 0);
        return 0;
    case WM_TIMER:
    case WM_CLOSE:
        DestroyWindow(w);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(w, msg, wp, lp);
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return 2;
    Dir = argv[1];
    for (int i = 2; i < argc; i++) {
        std::string a = argv[i];
        if (a == "-nogroups")
            NoGroups = true;
        else if (a == "-fail" && i + 1 < argc)
            Failing.push_back(argv[++i]);
        else if (a == "-refuse" && i + 1 < argc)
            Refused.push_back(argv[++i]);
    }
    LoadGroups();
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ServerProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "KvProgmanDouble";
    RegisterClassA(&wc);
    HWND w = CreateWindowA("KvProgmanDouble", "PROGMAN double", WS_OVERLAPPED, 0, 0, 10, 10,
                           NULL, NULL, wc.hInstance, NULL);
    if (!w)
        return 3;
    SetTimer(w, 1, 120000, NULL);   // never outlives a forgotten test
    MSG m;
    while (GetMessageA(&m, NULL, 0, 0) > 0) {
        TranslateMessage(&m);
        DispatchMessageA(&m);
    }
    return 0;
}
