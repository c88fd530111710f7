// The "PROGMAN" DDE double (tools/progman_double.cpp) run for a test: it
// serves DIR\groups.txt and records what it was asked in DIR.
#pragma once
#include <string>
#include <vector>
#include "kvtest.h"

struct ProgmanDouble {
    PROCESS_INFORMATION pi = {};
    std::string dir;

    // Starts the double on an existing folder; true once its window is up.
    bool Start(const std::string &where, const std::string &groups, const std::string &args = "")
    {
        dir = where;
        WriteFileBytes(dir + "\\groups.txt", groups);
        std::string cmd = "\"" + BinDir() + "\\progman_double.exe\" \"" + dir + "\"";
        if (!args.empty())
            cmd += " " + args;
        std::vector<char> buf(cmd.begin(), cmd.end());
        buf.push_back(0);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        if (!CreateProcessA(NULL, buf.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
            return false;
        // Generous: under an emulated 32-bit lane with a dozen tests at once
        // a program can take many seconds to start.
        WaitForInputIdle(pi.hProcess, 10000);
        for (int i = 0; i < 1200; i++) {
            if (FindWindowA("KvProgmanDouble", NULL))
                return true;
            Sleep(50);
        }
        return false;
    }
    std::vector<std::string> Commands() const
    {
        return SplitCrLf(ReadFileBytes(dir + "\\commands.txt"));
    }
    std::vector<std::string> Requests() const
    {
        return SplitCrLf(ReadFileBytes(dir + "\\requests.txt"));
    }
    std::string Result() const { return ReadFileBytes(dir + "\\result.txt"); }
    void Stop()
    {
        if (!pi.hProcess)
            return;
        HWND w = FindWindowA("KvProgmanDouble", NULL);
        if (w)
            PostMessageA(w, WM_CLOSE, 0, 0);
        if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0)
            TerminateProcess(pi.hProcess, 1);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
        pi = {};
    }
    ~ProgmanDouble() { Stop(); }
};
