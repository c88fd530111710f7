// The questions the engine asks during the run. Each shows its box or
// dialog and hands back the answer as a plain value; whether to ask at all
// (a silent run, "No to All" given) is the caller's decision.
#pragma once
#include <windows.h>

enum { SHARED_ANSWER_NO = 0, SHARED_ANSWER_YES = 1, SHARED_ANSWER_NO_TO_ALL = 2 };

// Whether the shared component at path, whose last reference is gone,
// should be deleted. A dialog that could not be shown, Esc and the close
// box answer No.
int AskRemoveShared(const char *path);
// Asks for the local database server to be stopped: IDABORT, IDRETRY or
// IDIGNORE, 0 when the box could not be shown.
int AskStopServer(void);

extern "C" __declspec(dllexport) INT_PTR CALLBACK SharedDlg(HWND, UINT, WPARAM, LPARAM);
