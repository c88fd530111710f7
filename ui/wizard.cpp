#include "wizard.h"

// The wizard is not built yet: no dialog, so an interactive run is cancelled.
HWND CreateWizard(void)
{
    return NULL;
}
