// Progress display operations used by the engine, and the timed message pump.
#pragma once
#include <windows.h>
#include <stddef.h>

enum { PROGRESS_PUMP_MS = 10, SHORT_PATH_LIMIT = 48, SHORT_PATH_TARGET = 32 };

// Shows text (or only repaints the bar when text is null), then pumps
// messages for 10 ms. In a silent run only the pump happens.
void ShowProgress(const char *text);
// Dispatches messages for ms milliseconds (0: those waiting now).
void PumpMessages(DWORD ms);
// Waits without a time limit for a process to end, dispatching window
// messages meanwhile (the wizard's keys included), so that the windows paint
// and Cancel can be pressed; a Cancel sets Cancelled, the process runs on.
void WaitForProcess(HANDLE process);
// Appends path to buf, shortened for display to at most 48 characters.
void AppendShortPath(char *buf, size_t cap, const char *path);

// Called by ShowProgress with its text (null: bar only) before it pumps.
// Null in the program; tests use it to watch or cancel a run.
typedef void (*ProgressObserverFn)(const char *text);
extern ProgressObserverFn ProgressObserver;
