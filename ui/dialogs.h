// Dialog helpers shared by the wizard and the shared-file question.
#pragma once
#include <windows.h>

// Widens a dialog and its controls by about a sixth and gives the controls
// the light dialog font; first step of both dialogs' initialisation.
void ScaleDialog(HWND dialog);
