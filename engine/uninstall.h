// The uninstall driver: undoes the inventory phase by phase.
#pragma once
#include <stddef.h>

void RunUninstall(const char *logPath);
// The user chose Abort at the database-server question: the run stopped there.
extern int DatabaseAborted;

// The command line of a program to run, with its leading part that names an
// existing file quoted (a line that starts with a quote stays as it is; the
// arguments stay as they are). Result TEXT_FIT or TEXT_CUT.
int QuoteCommandLine(const char *command, char *out, size_t cap);
