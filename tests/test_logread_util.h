// Helpers for the log reader tests: write a log, read it into a fresh
// inventory, capture the reader's message boxes, list the inventory.
#pragma once
#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>
#include "base/oscalls.h"
#include "base/state.h"
#include "log/dump.h"
#include "log/inventory.h"
#include "log/logread.h"
#include "app/runflow.h"
#include "support/kvtest.h"

struct SeenBox {
    std::string caption, text;
};

namespace logtest {

inline std::vector<SeenBox> &Boxes()
{
    static std::vector<SeenBox> boxes;
    return boxes;
}
inline HHOOK &Hook()
{
    static HHOOK hook;
    return hook;
}
inline std::set<HWND> &Fresh()
{
    static std::set<HWND> fresh;
    return fresh;
}

inline BOOL CALLBACK StaticText(HWND w, LPARAM l)
{
    char cls[32], text[1024];
    if (GetClassNameA(w, cls, sizeof cls) && lstrcmpiA(cls, "Static") == 0 &&
        GetWindowTextA(w, text, sizeof text) > 0)
        *(std::string *)l += text;
    return TRUE;
}

// Records every message box shown on this thread and answers it with OK.
inline LRESULT CALLBACK BoxProc(int code, WPARAM w, LPARAM l)
{
    HWND h = (HWND)w;
    char cls[32] = "";
    if (code == HCBT_CREATEWND) {
        CBT_CREATEWNDA *cw = (CBT_CREATEWNDA *)l;
        if (!(cw->lpcs->style & WS_CHILD) && GetClassNameA(h, cls, sizeof cls) && lstrcmpA(cls, "#32770") == 0)
            Fresh().insert(h);
    } else if (code == HCBT_ACTIVATE && Fresh().erase(h)) {
        SeenBox box;
        char caption[512] = "";
        GetWindowTextA(h, caption, sizeof caption);
        box.caption = caption;
        EnumChildWindows(h, StaticText, (LPARAM)&box.text);
        Boxes().push_back(box);
        PostMessageA(h, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(h, IDOK));
    }
    return CallNextHookEx(Hook(), code, w, l);
}

} // namespace logtest

// Empties the inventory and the run-wide values the reader looks at.
inline void ResetInventory()
{
    FreeInventory();
    ASSERT_EQ(0, CreateInventory());
    ProductTitle[0] = WindowTitle[0] = SystemDir[0] = 0;
    PlatformKind = PLATFORM_OTHER;
    Version4OrLater = 1;
    MainWindow = NULL;
    UseSystemCalls();
}

// Reads the log at path as the run does; boxes receives the message boxes it showed.
inline int ReadLogAt(const std::string &path, std::vector<SeenBox> *boxes = nullptr, char *rootDir = nullptr)
{
    logtest::Boxes().clear();
    logtest::Fresh().clear();
    logtest::Hook() = SetWindowsHookExA(WH_CBT, logtest::BoxProc, NULL, GetCurrentThreadId());
    char root[PATH_CAP];
    memset(root, '#', sizeof root);
    int result = LoadInstallLog(path.c_str(), rootDir ? rootDir : root);
    UnhookWindowsHookEx(logtest::Hook());
    logtest::Hook() = NULL;
    if (boxes)
        *boxes = logtest::Boxes();
    return result;
}

// Writes text as dir\INSTALL.LOG and reads it into a fresh inventory;
// a test that expects no message box fails when one appears.
inline int ReadLogText(const std::string &dir, const std::string &text, std::vector<SeenBox> *boxes = nullptr)
{
    std::string path = dir + "\\INSTALL.LOG";
    EXPECT_TRUE(WriteFileBytes(path, text));
    std::vector<SeenBox> seen;
    int result = ReadLogAt(path, &seen);
    if (boxes)
        *boxes = seen;
    else
        EXPECT_EQ(0u, seen.size()) << (seen.empty() ? "" : seen[0].text);
    return result;
}

inline void CollectLine(void *context, const char *line)
{
    ((std::vector<std::string> *)context)->push_back(line);
}

// The inventory's lines that start with kind ("AppFile", "Dir", ...).
inline std::vector<std::string> Entries(const std::string &kind)
{
    std::vector<std::string> all, out;
    DumpInventory(CollectLine, &all);
    for (const std::string &l : all)
        if (l.compare(0, kind.size() + 1, kind + " ") == 0)
            out.push_back(l);
    return out;
}

inline std::string Joined(const std::vector<std::string> &lines)
{
    std::string s;
    for (const std::string &l : lines)
        s += l + "\n";
    return s;
}

// A log of one ANSI block with the given title and body lines, CR LF ends.
inline std::string LogWith(const std::string &body, const std::string &title = "Orders")
{
    return "***  Installation Log\r\nTitle: " + title + "\r\n" + body;
}
