// The wizard: a modeless dialog (template 106) whose pages set the run's choices.
#pragma once
#include <windows.h>

// Creates the wizard owned by MainWindow; null when it cannot be created.
HWND CreateWizard(void);
