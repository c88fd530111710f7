// The installation log reader: fills the inventory from the log.
#pragma once
#include <stddef.h>

// Result 0: the inventory is built. 1: the run must end; the reader has
// already told the user why. installRootDir (PATH_CAP bytes) is filled.
int ReadInstallLog(const char *logPath, char *installRootDir);
