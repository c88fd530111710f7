// The uninstall driver: undoes the inventory phase by phase.
#pragma once

void RunUninstall(const char *logPath);
