#include "kvtest.h"
#include "log/inventory.h"
#include <gtest/gtest.h>
#include <string.h>
#include <algorithm>
#include <deque>
#include <set>
#include <shellapi.h>

std::string ScratchDir(const std::string &name)
{
    CreateDirectoryA("C:\\kvtest", NULL);
    std::string dir = "C:\\kvtest\\" + name;
    RemoveTreeForTest(dir);
    CreateDirectoryA(dir.c_str(), NULL);
    return dir;
}

void RemoveTreeForTest(const std::string &dir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string n = fd.cFileName;
            if (n == "." || n == "..")
                continue;
            std::string p = dir + "\\" + n;
            // A link is never entered (Wine would empty what it points to).
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
                continue;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTreeForTest(p);
            } else {
                SetFileAttributesA(p.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(p.c_str());
            }
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

bool WriteFileBytes(const std::string &path, const std::string &bytes)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL ok = WriteFile(h, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(h);
    return ok && written == bytes.size();
}

std::string ReadFileBytes(const std::string &path, bool *ok)
{
    std::string out;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           NULL, OPEN_EXISTING, 0, NULL);
    if (ok)
        *ok = h != INVALID_HANDLE_VALUE;
    if (h == INVALID_HANDLE_VALUE)
        return out;
    char buf[4096];
    DWORD got;
    while (ReadFile(h, buf, sizeof buf, &got, NULL) && got)
        out.append(buf, got);
    CloseHandle(h);
    return out;
}

bool PathExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string BinDir()
{
    char buf[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, buf, sizeof buf);
    std::string p(buf, n);
    return p.substr(0, p.find_last_of('\\'));
}

std::string UninstallerPath()
{
    return BinDir() + "\\UNINSTAL.EXE";
}

std::string InstallCopy(const std::string &dir)
{
    std::string exe = dir + "\\UNINSTAL.EXE";
    EXPECT_TRUE(CopyFileA(UninstallerPath().c_str(), exe.c_str(), FALSE));
    return exe;
}

std::string ShortOf(const std::string &path)
{
    char buf[MAX_PATH];
    DWORD n = GetShortPathNameA(path.c_str(), buf, sizeof buf);
    return std::string(buf, n < sizeof buf ? n : 0);
}

void StoreOldData(char **field, int *size, const std::vector<std::string> &lines)
{
    std::string data;
    for (const std::string &l : lines)
        data += l + '\0';
    data += '\0';
    ASSERT_EQ(0, StoreData(field, size, data.data(), data.size()));
}

std::vector<std::string> SplitCrLf(const std::string &text)
{
    std::vector<std::string> out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos)
            end = text.size();
        out.push_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

DWORD RunAndWait(const char *cmd)
{
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    std::vector<char> line(cmd, cmd + strlen(cmd) + 1);
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return (DWORD)-1;
    WaitForSingleObject(pi.hProcess, 60000);
    DWORD code = (DWORD)-1;
    GetExitCodeProcess(pi.hProcess, &code);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

std::string IniRead(const std::string &file, const char *section, const char *key)
{
    char buf[512];
    GetPrivateProfileStringA(section, key, "<none>", buf, sizeof buf, file.c_str());
    return buf;
}

HWND StartServerWindow()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "IB_Server";
    RegisterClassA(&wc);
    return CreateWindowExA(0, "IB_Server", "", WS_OVERLAPPED, 0, 0, 10, 10, NULL, NULL,
                           wc.hInstance, NULL);
}

void StopAndDeleteService(const std::string &name)
{
    SC_HANDLE m = OpenSCManagerA(NULL, NULL, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    SC_HANDLE s = m ? OpenServiceA(m, name.c_str(), SERVICE_ALL_ACCESS) : NULL;
    if (s) {
        SERVICE_STATUS st;
        ControlService(s, SERVICE_CONTROL_STOP, &st);
        DeleteService(s);
        CloseServiceHandle(s);
    }
    if (m)
        CloseServiceHandle(m);
}

// --- registry ---------------------------------------------------------------

void CleanKey(HKEY root, const std::string &key)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_ALL_ACCESS, &k) == ERROR_SUCCESS) {
        char name[256];
        DWORD size;
        std::vector<std::string> subs;
        for (DWORD i = 0; size = sizeof name,
                          RegEnumKeyExA(k, i, name, &size, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
             i++)
            subs.push_back(name);
        RegCloseKey(k);
        for (const std::string &s : subs)
            CleanKey(root, key + "\\" + s);
    }
    RegDeleteKeyA(root, key.c_str());
}

bool KeyExists(HKEY root, const std::string &key)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    RegCloseKey(k);
    return true;
}

void SetRegValue(HKEY root, const std::string &key, const char *name, DWORD type,
                 const std::string &bytes)
{
    HKEY k;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, key.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL,
                                             &k, NULL)) << key;
    RegSetValueExA(k, name, 0, type, (const BYTE *)bytes.data(), (DWORD)bytes.size());
    RegCloseKey(k);
}

void SetRegString(HKEY root, const std::string &key, const char *name, const std::string &text)
{
    SetRegValue(root, key, name, REG_SZ, std::string(text.c_str(), text.size() + 1));
}

static bool QueryValue(HKEY root, const std::string &key, const char *name, DWORD *type,
                       std::string *out)
{
    HKEY k;
    if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &k) != ERROR_SUCCESS)
        return false;
    char buf[8192];
    DWORD size = sizeof buf;
    LONG rc = RegQueryValueExA(k, name, NULL, type, (BYTE *)buf, &size);
    RegCloseKey(k);
    if (rc != ERROR_SUCCESS)
        return false;
    out->assign(buf, size);
    return true;
}

std::string ReadRegValue(HKEY root, const std::string &key, const char *name, DWORD *type)
{
    *type = 0;
    std::string out;
    QueryValue(root, key, name, type, &out);
    return out;
}

std::string ReadRegText(HKEY root, const std::string &key, const char *name)
{
    DWORD type;
    std::string out;
    if (!QueryValue(root, key, name, &type, &out))
        return "<none>";
    return out.substr(0, out.find('\0'));
}

std::string DwordBytes(DWORD v)
{
    return std::string((const char *)&v, sizeof v);
}

std::string PendingRenames()
{
    DWORD type;
    std::string out = ReadRegValue(HKEY_LOCAL_MACHINE,
                                   "System\\CurrentControlSet\\Control\\Session Manager",
                                   "PendingFileRenameOperations", &type);
    for (char &c : out)
        if (c == 0)
            c = '|';
    return out;
}

// --- driving a child process ---------------------------------------------

struct FindCtx {
    DWORD pid;
    std::vector<HWND> found;
};

static BOOL CALLBACK CollectDialogs(HWND w, LPARAM l)
{
    FindCtx *ctx = (FindCtx *)l;
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[64];
    if (pid == ctx->pid && IsWindowVisible(w) && GetClassNameA(w, cls, sizeof cls) &&
        lstrcmpA(cls, "#32770") == 0)
        ctx->found.push_back(w);
    return TRUE;
}

static std::string WindowText(HWND w)
{
    char buf[2048];
    int n = GetWindowTextA(w, buf, sizeof buf);
    return std::string(buf, n > 0 ? n : 0);
}

static BOOL CALLBACK CollectStaticText(HWND w, LPARAM l)
{
    char cls[64];
    if (GetClassNameA(w, cls, sizeof cls) && lstrcmpiA(cls, "Static") == 0) {
        std::string t = WindowText(w);
        if (!t.empty()) {
            std::string *out = (std::string *)l;
            if (!out->empty())
                *out += "\n";
            *out += t;
        }
    }
    return TRUE;
}

static BOOL CALLBACK FindEdit(HWND c, LPARAM l)
{
    char cls[64];
    if (GetClassNameA(c, cls, sizeof cls) && lstrcmpiA(cls, "Edit") == 0) {
        *(HWND *)l = c;
        return FALSE;
    }
    return TRUE;
}

ChildRun RunChild(const std::string &program, const std::string &args,
                  std::vector<DialogAnswer> answers, DWORD timeoutMs,
                  const std::string &currentDir)
{
    ChildRun run;
    std::string cmd = "\"" + program + "\"";
    if (!args.empty())
        cmd += " " + args;
    std::vector<char> cmdBuf(cmd.begin(), cmd.end());
    cmdBuf.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(NULL, cmdBuf.data(), NULL, NULL, FALSE, 0, NULL,
                        currentDir.empty() ? NULL : currentDir.c_str(), &si, &pi))
        return run;
    run.started = true;
    std::deque<DialogAnswer> queue(answers.begin(), answers.end());
    std::set<HWND> handled;
    DWORD start = GetTickCount();
    for (;;) {
        if (WaitForSingleObject(pi.hProcess, 50) == WAIT_OBJECT_0)
            break;
        if (GetTickCount() - start > timeoutMs) {
            run.timedOut = true;
            TerminateProcess(pi.hProcess, 99);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
        FindCtx ctx = {pi.dwProcessId, {}};
        EnumWindows(CollectDialogs, (LPARAM)&ctx);
        for (HWND dlg : ctx.found) {
            bool answeredBefore = handled.count(dlg) != 0;
            if (answeredBefore && (queue.empty() || !queue.front().again))
                continue;
            SeenDialog seen;
            seen.caption = WindowText(dlg);
            if (queue.empty()) {
                // Leave it: the time limit ends the child and the test sees why.
                handled.insert(dlg);
                run.dialogs.push_back(seen);
                run.unanswered++;
                continue;
            }
            const DialogAnswer &a = queue.front();
            if (!a.captionPart.empty() && seen.caption.find(a.captionPart) == std::string::npos)
                continue;
            if (a.waitControl) {
                HWND control = GetDlgItem(dlg, a.waitControl);
                if (!control || WindowText(control).find(a.waitText) == std::string::npos)
                    continue;
            }
            Sleep(100); // let the dialog finish its initialisation
            EnumChildWindows(dlg, CollectStaticText, (LPARAM)&seen.text);
            run.dialogs.push_back(seen);
            handled.insert(dlg);
            if (!a.fileName.empty()) {
                // The file name edit of the open-file dialog: edt1, or the
                // edit inside the cmb13 combo box (nested in Wine's).
                HWND edit = GetDlgItem(dlg, 0x480);
                HWND combo = GetDlgItem(dlg, 0x47c);
                if (!edit && combo)
                    EnumChildWindows(combo, FindEdit, (LPARAM)&edit);
                if (edit)
                    SendMessageTimeoutA(edit, WM_SETTEXT, 0, (LPARAM)a.fileName.c_str(),
                                        SMTO_ABORTIFHUNG, 2000, NULL);
            }
            if (a.observe)
                a.observe(dlg);
            if (a.buttonId)
                PostMessageA(dlg, WM_COMMAND, MAKEWPARAM(a.buttonId, BN_CLICKED),
                             (LPARAM)GetDlgItem(dlg, a.buttonId));
            queue.pop_front();
        }
    }
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

std::vector<std::string> ChildListLines(HWND dlg, int id)
{
    std::vector<std::string> lines;
    HWND list = GetDlgItem(dlg, id);
    DWORD_PTR count = 0;
    SendMessageTimeoutA(list, LB_GETCOUNT, 0, 0, SMTO_ABORTIFHUNG, 2000, &count);
    for (DWORD_PTR i = 0; i < count; i++) {
        // Wine hands an ANSI LB_GETTEXT from another process back in UTF-16.
        DWORD_PTR len = 0;
        SendMessageTimeoutW(list, LB_GETTEXTLEN, i, 0, SMTO_ABORTIFHUNG, 2000, &len);
        std::vector<WCHAR> wide(len + 1);
        SendMessageTimeoutW(list, LB_GETTEXT, i, (LPARAM)wide.data(), SMTO_ABORTIFHUNG, 2000, NULL);
        wide[len] = 0;
        std::vector<char> buf(4 * len + 1);
        WideCharToMultiByte(CP_ACP, 0, wide.data(), -1, buf.data(), (int)buf.size(), NULL, NULL);
        lines.push_back(buf.data());
    }
    return lines;
}

// --- answering this thread's own modal dialogs ----------------------------

static HHOOK AnswerHook;
static std::deque<int> AnswerIds;
static std::set<HWND> FreshDialogs;
static std::vector<SeenDialog> Answered;

static LRESULT CALLBACK AnswerProc(int code, WPARAM w, LPARAM l)
{
    HWND h = (HWND)w;
    char cls[64] = "";
    if (code == HCBT_CREATEWND) {
        CBT_CREATEWNDA *cw = (CBT_CREATEWNDA *)l;
        if (!(cw->lpcs->style & WS_CHILD) && GetClassNameA(h, cls, sizeof cls) &&
            lstrcmpA(cls, "#32770") == 0)
            FreshDialogs.insert(h);
    } else if (code == HCBT_ACTIVATE && FreshDialogs.erase(h) && !AnswerIds.empty()) {
        // Only dialogs created since the hook was set: a modeless wizard that
        // is re-activated must not swallow an answer.
        int id = AnswerIds.front();
        AnswerIds.pop_front();
        SeenDialog seen;
        seen.caption = WindowText(h);
        EnumChildWindows(h, CollectStaticText, (LPARAM)&seen.text);
        Answered.push_back(seen);
        PostMessageA(h, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(h, id));
    }
    return CallNextHookEx(AnswerHook, code, w, l);
}

void AnswerDialogs(std::vector<int> ids)
{
    AnswerIds.assign(ids.begin(), ids.end());
    FreshDialogs.clear();
    Answered.clear();
    if (!AnswerHook)
        AnswerHook = SetWindowsHookExA(WH_CBT, AnswerProc, NULL, GetCurrentThreadId());
}

int StopAnswering()
{
    if (AnswerHook)
        UnhookWindowsHookEx(AnswerHook);
    AnswerHook = NULL;
    int left = (int)AnswerIds.size();
    AnswerIds.clear();
    return left;
}

std::vector<SeenDialog> AnsweredDialogs()
{
    return Answered;
}

void PumpFor(DWORD ms)
{
    DWORD start = GetTickCount();
    MSG msg;
    while (GetTickCount() - start < ms) {
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, NULL, FALSE, 5, QS_ALLINPUT);
    }
}

void MakeFile(const std::string &path, const std::string &bytes)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(path.substr(0, at).c_str(), NULL);
    EXPECT_TRUE(WriteFileBytes(path, bytes)) << path;
}

static void ListTree(const std::string &dir, std::string *out)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return;
    std::vector<std::string> names;
    do
        if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
            names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    std::sort(names.begin(), names.end());
    for (const std::string &n : names) {
        std::string p = dir + "\\" + n;
        if (GetFileAttributesA(p.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
            *out += p + "\\\n";
            ListTree(p, out);
        } else {
            *out += p + "=" + ReadFileBytes(p) + "\n";
        }
    }
}

std::string TreeText(const std::string &dir)
{
    std::string out;
    ListTree(dir, &out);
    return out;
}

bool CreateRunningService(const std::string &name, const std::string &log)
{
    SC_HANDLE m = OpenSCManagerA(NULL, NULL, GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE);
    if (!m)
        return false;
    std::string bin = "\"" + BinDir() + "\\kv_service.exe\" \"" + log + "\"";
    SC_HANDLE s = CreateServiceA(m, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                 SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                 SERVICE_ERROR_IGNORE, bin.c_str(), NULL, NULL, NULL, NULL, NULL);
    bool ok = s && StartServiceA(s, 0, NULL);
    SERVICE_STATUS st = {};
    for (int i = 0; ok && i < 200 && st.dwCurrentState != SERVICE_RUNNING; i++) {
        QueryServiceStatus(s, &st);
        Sleep(50);
    }
    if (s)
        CloseServiceHandle(s);
    CloseServiceHandle(m);
    return ok && st.dwCurrentState == SERVICE_RUNNING;
}

bool ServiceExists(const std::string &name)
{
    SC_HANDLE m = OpenSCManagerA(NULL, NULL, SC_MANAGER_CONNECT);
    SC_HANDLE s = m ? OpenServiceA(m, name.c_str(), SERVICE_QUERY_STATUS) : NULL;
    if (s)
        CloseServiceHandle(s);
    if (m)
        CloseServiceHandle(m);
    return s != NULL;
}

std::vector<std::string> FolderNames(const std::string &dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do
        if (strcmp(fd.cFileName, ".") && strcmp(fd.cFileName, ".."))
            names.push_back(fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return names;
}
