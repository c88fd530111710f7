// The run's own effects on the machine at its end: the broadcast that
// tells running programs their settings changed, the status file, and the
// start of the clean-up copy. A preview makes none of them.
#pragma once
#include <stddef.h>

// Tells every top-level window that settings changed, waiting at most a
// second for each (a plain broadcast waits for ever on a hung window).
void BroadcastSettingsChange(void);
// Writes the status file whole (wholefile.h); result as WriteWholeFile's.
int WriteStatusText(const char *path, const void *bytes, size_t len);
// Starts the clean-up copy with command; it deletes the program once it ends.
void StartCleanupCopy(const char *command);
