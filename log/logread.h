// The installation log reader: ReadInstallLog fills the inventory from the
// log (the line reader it uses is in linereader.h).
#pragma once
#include <windows.h>
#include <stddef.h>
#include "linereader.h"

// Reads the installation log into the inventory (the lists must exist).
// Result 0: the inventory is built. 1: the run must end; the reader has
// already told the user why. installRootDir (PATH_CAP bytes) is filled.
int ReadInstallLog(const char *logPath, char *installRootDir);
