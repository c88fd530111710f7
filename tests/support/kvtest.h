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
std::string ReadFileBytes(const std::string &path, bool *ok = nullptr);
bool PathExists(const std::string &path);
// The folder of the running test program (also holds UNINSTAL.EXE).
std::string BinDir();
std::string UninstallerPath();

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
                  std::vector<DialogAnswer> answers, DWORD timeoutMs = 30000,
                  const std::string &currentDir = "");

// In-process: answers the next modal dialogs created on this thread (message
// boxes, DialogBox) by clicking the given ids in order. Call StopAnswering
// when done; it returns how many answers were left unused.
void AnswerDialogs(std::vector<int> ids);
int StopAnswering();
// The dialogs answered since AnswerDialogs: caption and static texts.
std::vector<SeenDialog> AnsweredDialogs();

// Pumps this thread's messages for about ms milliseconds.
void PumpFor(DWORD ms);
