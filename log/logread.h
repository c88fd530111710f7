// The installation log reader: ReadInstallLog fills the inventory from the
// log (the line reader it uses is in linereader.h).
#pragma once
#include <windows.h>
#include <stddef.h>
#include "linereader.h"

enum { READ_DONE = 0, READ_NO_LOG = 1, READ_INVALID = 2 };
// Reads the installation log into the inventory (the lists must exist).
// READ_DONE: the inventory is built. READ_NO_LOG: the log could not be opened
// (or the reader's indexes not made); READ_INVALID: its header is not an
// installation log's. The reader shows nothing: the run flow tells the user.
// installRootDir (PATH_CAP bytes) is filled.
int ReadInstallLog(const char *logPath, char *installRootDir);
// Set by ReadInstallLog when the log says the installation needed an
// administrator ("User Rights: Admin"). Owned here.
extern int LogWantsAdmin;
