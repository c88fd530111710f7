// A small debugger for kill runs (killpoints.h): int3 at the entry of each
// watched function; a hit is counted, then stepped over (the byte put back
// for one single step, then the int3 again) or, at the chosen count, the
// process is ended there.
#include "killpoints.h"
#include <map>
#include <stdio.h>
#include <string.h>
#include <vector>

namespace {

// args: what the trace shows of each argument, in order: 's' its text, 'h'
// its value (a handle), 'd' the first bytes it points at, '-' nothing.
const struct {
    const char *module, *name, *args;
} Watched[] = {
    {"kernel32.dll", "WriteFile", "hd"},        {"kernel32.dll", "FlushFileBuffers", "h"},
    {"kernel32.dll", "SetEndOfFile", "h"},      {"kernel32.dll", "CreateFileA", "s"},
    {"kernel32.dll", "MoveFileA", "ss"},        {"kernel32.dll", "MoveFileExA", "ss"},
    {"kernel32.dll", "CopyFileA", "ss"},        {"kernel32.dll", "DeleteFileA", "s"},
    {"kernel32.dll", "CreateDirectoryA", "s"},  {"kernel32.dll", "RemoveDirectoryA", "s"},
    {"kernel32.dll", "SetFileAttributesA", "s"}, {"kernel32.dll", "WritePrivateProfileStringA", "---s"},
    {"advapi32.dll", "RegSetValueExA", ""},     {"advapi32.dll", "RegDeleteValueA", ""},
    {"advapi32.dll", "RegDeleteKeyA", ""},      {"advapi32.dll", "RegCreateKeyExA", ""},
};

struct Breakpoint {
    const char *name, *args;
    BYTE original;
    bool placed;
};

// A text of the child's at address; "" when it cannot be read.
std::string ChildText(HANDLE process, DWORD_PTR address)
{
    std::string text;
    char chunk[64];
    while (address && text.size() < 1024) {
        SIZE_T n = 0;
        if (!ReadProcessMemory(process, (void *)address, chunk, sizeof chunk, &n) || !n)
            break;
        size_t len = strnlen(chunk, n);
        text.append(chunk, len);
        if (len < n)
            break;
        address += n;
    }
    return text;
}

// "Name<tab>arg<tab>arg" of a call stopped at its first instruction: the
// return address at the stack pointer, the arguments above it. A text argument
// that is null shows as "(null)"; data shows its first 8 bytes, each
// control character as '.'.
std::string TraceLine(HANDLE process, const CONTEXT &c, const Breakpoint &bp)
{
    std::string line = bp.name;
#ifndef _WIN64
    for (int i = 0; bp.args[i]; i++) {
        DWORD arg = 0;
        SIZE_T n = 0;
        if (bp.args[i] == '-' ||
            !ReadProcessMemory(process, (void *)(DWORD_PTR)(c.Esp + 4 + 4 * i), &arg, sizeof arg, &n))
            continue;
        if (bp.args[i] == 's') {
            line += "\t" + (arg ? ChildText(process, arg) : std::string("(null)"));
        } else if (bp.args[i] == 'h') {
            char hex[16];
            snprintf(hex, sizeof hex, "\th=%lx", (unsigned long)arg);
            line += hex;
        } else {
            char data[8] = {};
            ReadProcessMemory(process, (void *)(DWORD_PTR)arg, data, sizeof data, &n);
            line += "\t";
            for (size_t k = 0; k < n; k++)
                line += (unsigned char)data[k] < 0x20 ? '.' : data[k];
        }
    }
#else
    (void)process;
    (void)c;
#endif
    return line;
}

const DWORD TRAP_FLAG = 0x100;

} // namespace

CallKill RunKilledAtCall(const std::string &program, const std::string &args, unsigned at, DWORD timeoutMs)
{
    CallKill out;
    // The system's DLLs lie at the same address in every process of the
    // prefix: this process's addresses are the child's (checked below by
    // their bytes before a breakpoint goes in).
    std::map<DWORD_PTR, Breakpoint> points;
    // Where the system's own code calls the function too (CopyFileA's
    // writes), the module exports a jump to kernelbase's copy: the
    // breakpoint goes there, where every call passes once.
    HMODULE base = LoadLibraryA("kernelbase.dll");
    for (const auto &w : Watched) {
        HMODULE m = LoadLibraryA(w.module);
        FARPROC f = base ? GetProcAddress(base, w.name) : NULL;
        if (!f && m)
            f = GetProcAddress(m, w.name);
        if (f)
            points[(DWORD_PTR)f] = {w.name, w.args, *(const BYTE *)f, false};
    }
    std::string cmd = "\"" + program + "\" " + args;
    std::vector<char> text(cmd.begin(), cmd.end());
    text.push_back(0);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(NULL, text.data(), NULL, NULL, FALSE, DEBUG_ONLY_THIS_PROCESS, NULL, NULL, &si, &pi))
        return out;
    out.started = true;
    std::map<DWORD, HANDLE> threads;
    std::map<DWORD, DWORD_PTR> stepping;     // thread -> breakpoint to place again after its step
    auto place = [&](DWORD_PTR address, Breakpoint &bp) {
        BYTE now = 0, cc = 0xCC;
        SIZE_T n = 0;
        if (!ReadProcessMemory(pi.hProcess, (void *)address, &now, 1, &n) || n != 1 || now != bp.original)
            return;
        bp.placed = WriteProcessMemory(pi.hProcess, (void *)address, &cc, 1, &n) && n == 1;
        FlushInstructionCache(pi.hProcess, (void *)address, 1);
    };
    auto placeAll = [&]() {
        bool all = true;
        for (auto &p : points) {
            if (!p.second.placed)
                place(p.first, p.second);
            all = all && p.second.placed;
        }
        out.armed = all;
    };
    DWORD start = GetTickCount();
    bool ending = false;
    for (;;) {
        DEBUG_EVENT ev;
        DWORD spent = GetTickCount() - start;
        if (!WaitForDebugEvent(&ev, spent < timeoutMs ? timeoutMs - spent : 0)) {
            if (ending)
                break;          // ended, and no more events come
            out.timedOut = ending = true;
            TerminateProcess(pi.hProcess, 9);
            start = GetTickCount() - timeoutMs + 10000;
            continue;
        }
        DWORD cont = DBG_CONTINUE;
        switch (ev.dwDebugEventCode) {
        case CREATE_PROCESS_DEBUG_EVENT:
            threads[ev.dwThreadId] = ev.u.CreateProcessInfo.hThread;
            if (ev.u.CreateProcessInfo.hFile)
                CloseHandle(ev.u.CreateProcessInfo.hFile);
            break;
        case CREATE_THREAD_DEBUG_EVENT:
            threads[ev.dwThreadId] = ev.u.CreateThread.hThread;
            break;
        case EXIT_THREAD_DEBUG_EVENT:
            threads.erase(ev.dwThreadId);
            stepping.erase(ev.dwThreadId);
            break;
        case LOAD_DLL_DEBUG_EVENT:
            if (ev.u.LoadDll.hFile)
                CloseHandle(ev.u.LoadDll.hFile);
            if (!out.armed && !ending)
                placeAll();
            break;
        case EXCEPTION_DEBUG_EVENT: {
            const EXCEPTION_RECORD &r = ev.u.Exception.ExceptionRecord;
            DWORD_PTR address = (DWORD_PTR)r.ExceptionAddress;
            auto hit = points.find(address);
            if (hit == points.end())
                hit = points.find(address - 1);     // reported after the int3
            HANDLE thread = threads.count(ev.dwThreadId) ? threads[ev.dwThreadId] : NULL;
            if (r.ExceptionCode == EXCEPTION_BREAKPOINT && hit != points.end() && hit->second.placed && thread) {
                CONTEXT c = {};
                c.ContextFlags = CONTEXT_CONTROL;
                GetThreadContext(thread, &c);
                if (!ending) {
                    out.calls++;
                    out.trace.push_back(TraceLine(pi.hProcess, c, hit->second));
                }
                if (!ending && out.calls == at) {
                    out.killed = ending = true;
                    TerminateProcess(pi.hProcess, 9);
                    break;
                }
                SIZE_T n = 0;
                WriteProcessMemory(pi.hProcess, (void *)hit->first, &hit->second.original, 1, &n);
                FlushInstructionCache(pi.hProcess, (void *)hit->first, 1);
#ifdef _WIN64
                c.Rip = hit->first;
#else
                c.Eip = (DWORD)hit->first;
#endif
                c.EFlags |= TRAP_FLAG;
                SetThreadContext(thread, &c);
                stepping[ev.dwThreadId] = hit->first;
            } else if (r.ExceptionCode == EXCEPTION_BREAKPOINT) {
                // The loader's own breakpoint: every DLL of the program is in.
                if (!out.armed && !ending)
                    placeAll();
            } else if (r.ExceptionCode == EXCEPTION_SINGLE_STEP && stepping.count(ev.dwThreadId)) {
                DWORD_PTR again = stepping[ev.dwThreadId];
                stepping.erase(ev.dwThreadId);
                BYTE cc = 0xCC;
                SIZE_T n = 0;
                WriteProcessMemory(pi.hProcess, (void *)again, &cc, 1, &n);
                FlushInstructionCache(pi.hProcess, (void *)again, 1);
            } else {
                cont = DBG_EXCEPTION_NOT_HANDLED;
            }
            break;
        }
        default:
            break;
        }
        bool exited = ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
        ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, cont);
        if (exited)
            break;
    }
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return out;
}
