// Helpers shared by the test programs (they run under Wine).
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include <vector>

// A fresh, empty scratch folder C:\kvtest\<name> (long names allowed).
std::string ScratchDir(const std::string &name);
void RemoveTreeForTest(const std::string &dir);
bool WriteFileBytes(const std::string &path, const std::string &bytes);
// Writes the file after making the folders above it (the test fails when it cannot).
void MakeFile(const std::string &path, const std::string &bytes);
// Every folder and file below dir, sorted, each file with its content: one
// line each, for comparing a machine before and after.
std::string TreeText(const std::string &dir);
std::string ReadFileBytes(const std::string &path, bool *ok = nullptr);
bool PathExists(const std::string &path);
// The names of the files and folders in dir, in the system's listing order.
std::vector<std::string> FolderNames(const std::string &dir);
// The folder of the running test program (also holds UNINSTAL.EXE).
std::string BinDir();
std::string UninstallerPath();
// Copies UNINSTAL.EXE into dir; the copy's path.
std::string InstallCopy(const std::string &dir);
// The short (8.3) form of an existing path; "" when there is none.
std::string ShortOf(const std::string &path);
// Sets a registry entry's old data (field and its size) as the log reader
// stores it: the strings, each NUL-ended, then the closing empty string.
void StoreOldData(char **field, int *size, const std::vector<std::string> &lines);
// The text cut at each CR LF; a last line without one counts too.
std::vector<std::string> SplitCrLf(const std::string &text);
// Runs a command line (a program of the prefix, wineboot say) and waits up
// to a minute for it; its exit code, or (DWORD)-1.
DWORD RunAndWait(const char *cmd);
// A key of an INI file; "<none>" when missing.
std::string IniRead(const std::string &file, const char *section, const char *key);
// A stand-in for the database engine's running local server: a window of
// its class, on this thread.
HWND StartServerWindow();
// Creates a service of tools/kv_service.exe (which writes to log) and
// starts it; true once it runs.
bool CreateRunningService(const std::string &name, const std::string &log);
bool ServiceExists(const std::string &name);
// Stops and deletes the service when it is there (cleaning up); does not wait.
void StopAndDeleteService(const std::string &name);

// --- registry ---------------------------------------------------------------
// Depth-first key removal for cleaning up (the NT registry refuses to delete
// a key that still has sub-keys).
void CleanKey(HKEY root, const std::string &key);
bool KeyExists(HKEY root, const std::string &key);
// Creates the key when needed (the test fails when it cannot) and sets the value.
void SetRegValue(HKEY root, const std::string &key, const char *name, DWORD type,
                 const std::string &bytes);
// A REG_SZ value: the text and its NUL.
void SetRegString(HKEY root, const std::string &key, const char *name, const std::string &text);
// The value's type and bytes; type 0 and "" when missing.
std::string ReadRegValue(HKEY root, const std::string &key, const char *name, DWORD *type);
// The value's text up to its first NUL; "<none>" when missing.
std::string ReadRegText(HKEY root, const std::string &key, const char *name);
std::string DwordBytes(DWORD v);
// HKLM's PendingFileRenameOperations with each NUL shown as '|'.
std::string PendingRenames();

// One scripted answer for a dialog of a child process: the next new visible
// dialog ("#32770") whose caption contains captionPart (any when empty) gets
// a click on buttonId. fileName, when set, is typed into an open-file dialog
// before the click.
// again: the answer may also go to a dialog that was answered before (a
// modeless dialog clicked several times). waitControl, when not 0: the click
// waits until that control's text contains waitText. observe, when set, is
// called with the dialog just before the click. buttonId 0: no click.
struct DialogAnswer {
    std::string captionPart;
    int buttonId;
    std::string fileName;
    bool again;
    int waitControl;
    std::string waitText;
    std::function<void(HWND)> observe;
    DialogAnswer(std::string caption, int id, std::string file = "", bool again_ = false,
                 int waitControl_ = 0, std::string waitText_ = "",
                 std::function<void(HWND)> observe_ = nullptr)
        : captionPart(caption), buttonId(id), fileName(file), again(again_),
          waitControl(waitControl_), waitText(waitText_), observe(observe_) {}
};

// A dialog the child showed: its caption and its static text (message boxes).
struct SeenDialog {
    std::string caption;
    std::string text;
};

struct ChildRun {
    bool started = false;
    bool timedOut = false;      // killed after the time limit
    DWORD exitCode = 0;
    std::vector<SeenDialog> dialogs;
    int unanswered = 0;         // dialogs left when the answers ran out
};

// Starts program with args (the command line after the program's name),
// answers its dialogs from the script, waits at most timeoutMs for it to end.
ChildRun RunChild(const std::string &program, const std::string &args,
                  std::vector<DialogAnswer> answers, DWORD timeoutMs = 90000,
                  const std::string &currentDir = "");

// The lines of list box id in another process's dialog dlg.
std::vector<std::string> ChildListLines(HWND dlg, int id);

// In-process: answers the next modal dialogs created on this thread (message
// boxes, DialogBox) by clicking the given ids in order. Call StopAnswering
// when done; it returns how many answers were left unused.
void AnswerDialogs(std::vector<int> ids);
int StopAnswering();
// The dialogs answered since AnswerDialogs: caption and static texts.
std::vector<SeenDialog> AnsweredDialogs();

// Pumps this thread's messages for about ms milliseconds.
void PumpFor(DWORD ms);

// A small seeded generator (xorshift) for the tests' random logs: the same
// seed gives the same logs on every machine.
struct TestRng {
    unsigned long long s;
    unsigned Next()
    {
        s ^= s << 13;
        s ^= s >> 7;
        s ^= s << 17;
        return (unsigned)(s >> 11);
    }
    unsigned Below(unsigned n) { return n ? Next() % n : 0; }
    template <class T> const T &Pick(const std::vector<T> &v) { return v[Below((unsigned)v.size())]; }
};
