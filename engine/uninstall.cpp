#include "uninstall.h"

// The engine is not built yet: nothing is undone.
void RunUninstall(const char *logPath)
{
    (void)logPath;
}
