#include "dialogs.h"

// Not built yet: the wizard work fills it.
void ScaleDialog(HWND dialog)
{
    (void)dialog;
}
