// The wizard: a modeless dialog (template 106) whose pages set the run's choices.
#pragma once
#include <windows.h>

// Creates the wizard owned by MainWindow; null when it cannot be created.
HWND CreateWizard(void);

// The page that Next (forward != 0) or Back leads to from `page`, under the
// stored UninstallMethod, HaveBackups and the inventory's list sizes.
int StepPage(int page, int forward);

extern "C" __declspec(dllexport) INT_PTR CALLBACK ItemDlg(HWND, UINT, WPARAM, LPARAM);
