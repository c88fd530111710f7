// A program that the uninstaller runs and waits for, for tests: it sends a
// message to the test's window (class "KvWaitProbeTarget") and records
// whether the waiting process answered it, and with which command line it
// was started. The record goes to the program's own path + ".txt":
//   line 1: the command line as received
//   line 2: "answer N" (the window's result) or "no answer"
// The message is sent with a time limit only so that a process that never
// answers cannot hang the test; the test checks the answer, not the time.
#include <windows.h>
#include <string>

int main()
{
    char self[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, self, sizeof self);
    if (n == 0 || n >= sizeof self)
        return 2;
    std::string out = std::string(self) + ".txt";
    std::string text = std::string(GetCommandLineA()) + "\r\n";
    HWND target = FindWindowA("KvWaitProbeTarget", NULL);
    DWORD_PTR result = 0;
    if (target && SendMessageTimeoutA(target, WM_USER + 1, 0, 0, SMTO_NORMAL, 20000, &result))
        text += "answer " + std::to_string((unsigned long)result) + "\r\n";
    else
        text += "no answer\r\n";
    HANDLE h = CreateFileA(out.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return 3;
    DWORD put;
    WriteFile(h, text.data(), (DWORD)text.size(), &put, NULL);
    CloseHandle(h);
    return 0;
}
